#include "MySqlGreeting.h"

#include <algorithm>

namespace calvoro::protocol {

// Greeting, protocol 10:
//   protocol version       [1]  10
//   server version         [NUL-terminated]
//   connection id          [4]
//   scramble, first part   [8]
//   filler                 [1]            p = the offset of this byte
//   capabilities           [2]            when the payload has at least p + 3 bytes
//   character set          [1]            \ when it has at least p + 18 bytes
//   status                 [2, signed]    /
//   capabilities, upper    [2]            \ (the 13 "reserved" bytes of older servers)
//   scramble length        [1]            |
//   reserved               [10]           /
//   scramble, second part  [12]           when it has at least p + 30 bytes, then its NUL
//                                         (the part is max(13, scramble length - 8) bytes)
//   plugin name            [NUL-terminated]  with CLIENT_PLUGIN_AUTH in the upper bits
TMySqlGreeting ReadGreeting(TPacketReader& reader) {
    TMySqlGreeting g;
    g.protocolVersion = reader.ReadByte();
    if (g.protocolVersion != ClientProtocolVersion)
        throw EMySqlException(CR_VERSION_ERROR, "", {g.protocolVersion, ClientProtocolVersion});
    g.serverVersion = reader.ReadString();
    g.threadId = reader.ReadUInt32();
    reader.ReadBytes(g.scramble.data(), 8);
    const size_t p = reader.Position();
    reader.Skip(1);
    const size_t length = reader.Length();
    uint8_t scrambleLength = 0;
    if (length >= p + 3) g.serverCapabilities = reader.ReadUInt16();
    if (length >= p + 18) {
        g.hasStatus = true;
        g.serverLanguage = reader.ReadByte();
        g.serverStatus = reader.ReadInt16();
        g.serverCapabilitiesExt = reader.ReadUInt16();
        scrambleLength = reader.ReadByte();
        reader.SetPosition(std::min(p + 19, length));  // 10 reserved bytes
    }
    if (length >= p + 30) {
        // From p + 30 bytes on the part is announced; a payload that ends inside it is cut short.
        reader.ReadBytes(g.scramble.data() + 8, 12);
        g.hasScramble41 = true;
        if (g.serverCapabilitiesExt & (CLIENT_PLUGIN_AUTH >> 16)) {
            const size_t rest = std::max<size_t>(13, scrambleLength > 8 ? scrambleLength - 8u : 0u) - 12;
            reader.Skip(std::min(rest, reader.Remaining()));
            g.authPluginName = reader.ReadString();
        }
    }
    return g;
}

}  // namespace calvoro::protocol
