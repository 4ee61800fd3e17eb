#pragma once
// A session whose transport is a memory transport holding the server's side of a
// conversation; the client's bytes collect in vio->Output.

#include "MemoryVio.h"
#include "Packets.h"
#include "protocol/MySqlSession.h"

#include <memory>

namespace calvoro::test {

struct TSessionOverMemory {
    explicit TSessionOverMemory(Bytes server, uint32_t maxPacket = protocol::TMySqlNet::MaxPacketLength)
        : session(maxPacket) {
        auto v = std::make_unique<TMemoryVio>(std::move(server));
        vio = v.get();
        session.net.SetVio(std::move(v));
        session.protocolType = protocol::MYSQL_PROTOCOL_SOCKET;  // no transport of its own: use the given one
    }
    void Login(const std::string& password = "pw", const std::string& db = "") {
        session.Connect("127.0.0.1", "u", protocol::CLIENT_FOUND_ROWS, "", 3306, db, password);
    }
    // As after a login with a MariaDB-like 4.1 server (or an old one), without the bytes.
    void LoggedIn(bool protocol41 = true) {
        session.serverCapabilities = protocol41 ? 0xA20F : 0x200D;  // old: LONG_FLAG, TRANSACTIONS
        session.clientFlag = protocol::CLIENT_ALWAYS | protocol::CLIENT_FOUND_ROWS;
        session.serverStatus = 2;
    }
    TMemoryVio* vio;
    protocol::TMySqlSession session;
};

}  // namespace calvoro::test
