#pragma once
// Builders for server packets and helpers to take client output apart, so that a test
// case reads as one line of bytes.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace calvoro::test {

using Bytes = std::vector<uint8_t>;

Bytes B(std::string_view text);                      // the bytes of text
Bytes Hex(std::string_view hex);                     // "fc 34 12" → {0xFC, 0x34, 0x12}
Bytes Cat(std::initializer_list<Bytes> parts);       // concatenation
Bytes Frame(uint8_t seq, const Bytes& payload);      // plain packet: length, sequence, payload

// One plain packet taken from the front of a stream.
struct TFrame {
    uint8_t Seq;
    Bytes Payload;
};
// Splits a plain packet stream into packets; fails the test on a cut-off packet.
std::vector<TFrame> Frames(const Bytes& stream);

// Greeting of a protocol-10 server. The defaults describe a MariaDB-like 4.1 server.
struct TGreetingFields {
    uint8_t Protocol = 10;
    std::string Version = "5.5.5-10.11-scripted";
    uint32_t ThreadId = 42;
    Bytes Scramble = B("!\"#$%&'()*+,-./01234");  // 20 bytes
    uint16_t Capabilities = 0xA20F;  // LONG_PASSWORD..CONNECT_WITH_DB, PROTOCOL_41, TRANSACTIONS, SECURE_CONNECTION
    uint8_t Charset = 8;
    uint16_t Status = 2;
    // The upper capability bits (0x8: CLIENT_PLUGIN_AUTH) and the plugin named after the
    // scramble; a greeting without them is one of a server that names no plugins.
    uint16_t CapabilitiesExt = 0;
    std::string Plugin;
    // Cut the payload after this many bytes (SIZE_MAX: the whole greeting).
    size_t Length = SIZE_MAX;
};
Bytes Greeting(const TGreetingFields& fields = {});

Bytes OkPacket(uint16_t status = 2);
Bytes ErrorPacket(uint16_t code, std::string_view sqlState, std::string_view message);

// Plain packets with consecutive sequence numbers from firstSeq.
Bytes Packets(uint8_t firstSeq, std::initializer_list<Bytes> payloads);
// The same, each payload split as a sender with this maximum packet length splits it: packets
// of exactly maxPacket bytes, then a shorter one (empty after an exact multiple).
Bytes Packets(uint8_t firstSeq, std::initializer_list<Bytes> payloads, size_t maxPacket);
// zlib's compress of data.
Bytes Deflate(const Bytes& data);
// One compressed packet: data length, sequence, length before compression (0 when stored),
// data.
Bytes CompressedFrame(uint8_t seq, const Bytes& plain, bool deflate);
Bytes LE(uint64_t value, size_t size);    // little-endian
Bytes LenEncInt(uint64_t value);           // length-coded integer
Bytes LenEnc(std::string_view text);       // length-coded string

// Result sets, protocol 4.1.
struct TColumnSpec {
    std::string Name = "c";
    uint8_t Type = 253;  // VAR_STRING
    uint16_t Flags = 0;
    uint32_t Length = 255;
    uint16_t Decimals = 0;
    uint16_t Charset = 8;
    std::string Table = "t", OrgTable = "t", OrgName = "c", Database = "d";
};
Bytes ColumnDef(const TColumnSpec& c);
// Pre-4.1: table, name, length [3], type [1], flags and decimals (2 + 1 bytes with
// CLIENT_LONG_FLAG, else 1 + 1).
Bytes ColumnDefOld(const TColumnSpec& c, bool longFlag);
using TTextRow = std::vector<std::optional<std::string>>;
Bytes TextRow(const TTextRow& values);
Bytes Eof(uint16_t warnings = 0, uint16_t status = 2);

}  // namespace calvoro::test
