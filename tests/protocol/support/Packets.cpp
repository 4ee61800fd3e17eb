#include "Packets.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>

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

Bytes Greeting(const TGreetingFields& s) {
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
    g.push_back(uint8_t(s.CapabilitiesExt));
    g.push_back(uint8_t(s.CapabilitiesExt >> 8));
    g.push_back(s.CapabilitiesExt ? uint8_t(s.Scramble.size() + 1) : 0);  // scramble length
    g.insert(g.end(), 10, 0);  // reserved
    g.insert(g.end(), s.Scramble.begin() + 8, s.Scramble.end());
    g.push_back(0);
    if (!s.Plugin.empty()) {
        g.insert(g.end(), s.Plugin.begin(), s.Plugin.end());
        g.push_back(0);
    }
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

Bytes Packets(uint8_t firstSeq, std::initializer_list<Bytes> payloads) {
    Bytes out;
    for (const auto& p : payloads) {
        const Bytes f = Frame(firstSeq++, p);
        out.insert(out.end(), f.begin(), f.end());
    }
    return out;
}

Bytes Packets(uint8_t firstSeq, std::initializer_list<Bytes> payloads, size_t maxPacket) {
    Bytes out;
    for (const auto& p : payloads) {
        for (size_t at = 0;;) {
            const size_t n = std::min(maxPacket, p.size() - at);
            const Bytes f = Frame(firstSeq++, Bytes(p.begin() + long(at), p.begin() + long(at + n)));
            out.insert(out.end(), f.begin(), f.end());
            at += n;
            if (n < maxPacket) break;
        }
    }
    return out;
}

Bytes Deflate(const Bytes& data) {
    uLongf n = compressBound(uLong(data.size()));
    Bytes out(n);
    EXPECT_EQ(compress(out.data(), &n, data.data(), uLong(data.size())), Z_OK);
    out.resize(n);
    return out;
}

Bytes CompressedFrame(uint8_t seq, const Bytes& plain, bool deflate) {
    const Bytes data = deflate ? Deflate(plain) : plain;
    const size_t before = deflate ? plain.size() : 0;
    return Cat({LE(data.size(), 3), {seq}, LE(before, 3), data});
}

Bytes LE(uint64_t value, size_t size) {
    Bytes b;
    for (size_t i = 0; i < size; ++i) b.push_back(uint8_t(value >> (8 * i)));
    return b;
}

Bytes LenEncInt(uint64_t v) {
    if (v <= 250) return {uint8_t(v)};
    if (v <= 0xFFFF) return Cat({{0xFC}, LE(v, 2)});
    if (v <= 0xFFFFFF) return Cat({{0xFD}, LE(v, 3)});
    return Cat({{0xFE}, LE(v, 8)});
}

Bytes LenEnc(std::string_view text) { return Cat({LenEncInt(text.size()), B(text)}); }

Bytes ColumnDef(const TColumnSpec& c) {
    return Cat({LenEnc("def"), LenEnc(c.Database), LenEnc(c.Table), LenEnc(c.OrgTable), LenEnc(c.Name),
                LenEnc(c.OrgName), {0x0C}, LE(c.Charset, 2), LE(c.Length, 4), {c.Type}, LE(c.Flags, 2),
                LE(c.Decimals, 2), {0}});
}

Bytes ColumnDefOld(const TColumnSpec& c, bool longFlag) {
    const Bytes flags = longFlag ? Cat({LE(c.Flags, 2), {uint8_t(c.Decimals)}}) : Bytes{uint8_t(c.Flags), uint8_t(c.Decimals)};
    return Cat({LenEnc(c.Table), LenEnc(c.Name), {3}, LE(c.Length, 3), {1, c.Type}, LenEncInt(flags.size()), flags});
}

Bytes TextRow(const TTextRow& values) {
    Bytes out;
    for (const auto& v : values) {
        const Bytes b = v ? LenEnc(*v) : Bytes{0xFB};
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

Bytes Eof(uint16_t warnings, uint16_t status) { return Cat({{0xFE}, LE(warnings, 2), LE(status, 2)}); }

}  // namespace calvoro::test
