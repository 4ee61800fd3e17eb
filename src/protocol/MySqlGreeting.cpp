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
//   reserved               [13]
//   scramble, second part  [12]           when it has at least p + 30 bytes (real servers
//                                         send a NUL and more after it)
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
    if (length >= p + 3) g.serverCapabilities = reader.ReadUInt16();
    if (length >= p + 18) {
        g.hasStatus = true;
        g.serverLanguage = reader.ReadByte();
        g.serverStatus = reader.ReadInt16();
        reader.SetPosition(std::min(p + 19, length));  // 13 reserved bytes
    }
    if (length >= p + 30) {
        // From p + 30 bytes on the part is announced; a payload that ends inside it is cut short.
        reader.ReadBytes(g.scramble.data() + 8, 12);
        g.hasScramble41 = true;
    }
    return g;
}

}  // namespace calvoro::protocol
