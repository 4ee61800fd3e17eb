#pragma once
// Decoding of the server's greeting (the first packet of a connection), apart from I/O, and
// the capability flags that the greeting announces and the handshake response answers.

#include "PacketReader.h"

#include <array>
#include <cstdint>
#include <string>

namespace calvoro::protocol {

constexpr uint8_t ClientProtocolVersion = 10;

// Capability flags, as sent on the wire.
enum : uint32_t {
    CLIENT_LONG_PASSWORD = 0x1,
    CLIENT_FOUND_ROWS = 0x2,
    CLIENT_LONG_FLAG = 0x4,
    CLIENT_CONNECT_WITH_DB = 0x8,
    CLIENT_COMPRESS = 0x20,
    CLIENT_LOCAL_FILES = 0x80,
    CLIENT_PROTOCOL_41 = 0x200,
    CLIENT_SSL = 0x800,
    CLIENT_TRANSACTIONS = 0x2000,
    CLIENT_SECURE_CONNECTION = 0x8000,
    CLIENT_MULTI_STATEMENTS = 0x10000,
    CLIENT_MULTI_RESULTS = 0x20000,
    CLIENT_PLUGIN_AUTH = 0x80000,  // the response names the authentication plugin
    // Sent on every handshake.
    CLIENT_ALWAYS = CLIENT_LONG_PASSWORD | CLIENT_LONG_FLAG | CLIENT_LOCAL_FILES | CLIENT_PROTOCOL_41 |
                    CLIENT_TRANSACTIONS | CLIENT_SECURE_CONNECTION | CLIENT_MULTI_STATEMENTS |
                    CLIENT_MULTI_RESULTS,
};

struct TMySqlGreeting {
    uint8_t protocolVersion = 0;
    std::string serverVersion;
    uint32_t threadId = 0;
    std::array<uint8_t, 20> scramble{};  // [0..7] always; [8..19] when hasScramble41
    bool hasScramble41 = false;
    uint16_t serverCapabilities = 0;  // 0 when the greeting ends before them
    bool hasStatus = false;           // serverLanguage and serverStatus present
    uint8_t serverLanguage = 0;
    int16_t serverStatus = 0;
    uint16_t serverCapabilitiesExt = 0;  // the upper 16 capability bits, with the status
    std::string authPluginName;          // with CLIENT_PLUGIN_AUTH after the scramble
};

// Reads a greeting from the reader's position. A protocol version other than 10 raises 2007
// "Protocol mismatch. Server Version = %d Client Version = %d"; a greeting cut short inside a
// field raises 2027 "Malformed packet".
TMySqlGreeting ReadGreeting(TPacketReader& reader);

}  // namespace calvoro::protocol
