#include "Packets.h"

#include <gtest/gtest.h>

namespace calvoro::test {

Bytes B(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes Hex(std::string_view hex) {
    Bytes out;
    int nibble = -1;
    for (const char c : hex) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else continue;
        if (nibble < 0) {
            nibble = v;
        } else {
            out.push_back(uint8_t(nibble << 4 | v));
            nibble = -1;
        }
    }
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Frame(uint8_t seq, const Bytes& payload) {
    const size_t n = payload.size();
    Bytes out{uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), seq};
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

std::vector<TFrame> Frames(const Bytes& stream) {
    std::vector<TFrame> frames;
    size_t pos = 0;
    while (pos < stream.size()) {
        if (stream.size() - pos < 4) {
            ADD_FAILURE() << "cut-off header at " << pos;
            break;
        }
        const size_t n = stream[pos] | stream[pos + 1] << 8 | stream[pos + 2] << 16;
        if (stream.size() - pos - 4 < n) {
            ADD_FAILURE() << "cut-off packet at " << pos;
            break;
        }
        frames.push_back({stream[pos + 3], Bytes(stream.begin() + long(pos) + 4, stream.begin() + long(pos + 4 + n))});
        pos += 4 + n;
    }
    return frames;
}

Bytes Greeting(const TGreetingSpec& s) {
    Bytes g{s.Protocol};
    g.insert(g.end(), s.Version.begin(), s.Version.end());
    g.push_back(0);
    for (int i = 0; i < 4; ++i) g.push_back(uint8_t(s.ThreadId >> (8 * i)));
    g.insert(g.end(), s.Scramble.begin(), s.Scramble.begin() + 8);
    g.push_back(0);  // filler
    g.push_back(uint8_t(s.Capabilities));
    g.push_back(uint8_t(s.Capabilities >> 8));
    g.push_back(s.Charset);
    g.push_back(uint8_t(s.Status));
    g.push_back(uint8_t(s.Status >> 8));
    g.insert(g.end(), 13, 0);  // reserved
    g.insert(g.end(), s.Scramble.begin() + 8, s.Scramble.end());
    g.push_back(0);
    if (s.Length < g.size()) g.resize(s.Length);
    return g;
}

Bytes OkPacket(uint16_t status) { return {0, 0, 0, uint8_t(status), uint8_t(status >> 8), 0, 0}; }

Bytes ErrorPacket(uint16_t code, std::string_view sqlState, std::string_view message) {
    Bytes p{0xFF, uint8_t(code), uint8_t(code >> 8)};
    if (!sqlState.empty()) {
        p.push_back('#');
        p.insert(p.end(), sqlState.begin(), sqlState.end());
    }
    p.insert(p.end(), message.begin(), message.end());
    return p;
}

}  // namespace calvoro::test
