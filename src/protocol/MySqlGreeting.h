#pragma once
// Decoding of the server's greeting (the first packet of a connection), apart from I/O.

#include "PacketReader.h"

#include <array>
#include <cstdint>
#include <string>

namespace calvoro::protocol {

constexpr uint8_t ClientProtocolVersion = 10;

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
