// The session against the real test server: both password scrambles and the empty
// password, refused logins, the simple commands, compression, and payloads at the maximum
// packet length in both directions.
#include "protocol/MySqlSession.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>

using namespace calvoro::protocol;
using calvoro::test::Server;
using namespace std::chrono_literals;

namespace {

using TRow = std::vector<std::optional<std::string>>;

bool IsEndOfData(const TByteStream& b) { return b.Length() > 0 && b.Length() < 9 && b.Data()[0] == 0xFE; }

// Runs a statement and returns its rows: a minimal reader of text results, enough to let
// these tests look at what the server did.
std::vector<TRow> Query(TMySqlSession& s, std::string_view sql) {
    s.SimpleCommand(scQuery, sql);
    const int64_t columns = s.net.ReadFieldLength();
    std::vector<TRow> rows;
    if (columns == 0) return rows;  // OK packet
    do s.net.Receive();
    while (!IsEndOfData(s.net.Buffer()));  // column definitions
    for (;;) {
        s.net.Receive();
        if (IsEndOfData(s.net.Buffer())) return rows;
        TRow row;
        for (int64_t i = 0; i < columns; ++i) {
            const int64_t n = s.net.ReadFieldLength();
            row.push_back(n == NullLength ? std::nullopt : std::optional(s.net.ReadString(size_t(n))));
        }
        rows.push_back(row);
    }
}

std::string Value(TMySqlSession& s, std::string_view sql) {
    const auto rows = Query(s, sql);
    EXPECT_EQ(rows.size(), 1u) << sql;
    return rows.empty() || !rows[0][0] ? "(none)" : *rows[0][0];
}

struct TAccount {
    std::string user, password;
};

void Connect(TMySqlSession& s, const TAccount& a, const std::string& db = "", uint32_t flags = CLIENT_FOUND_ROWS) {
    s._connectTimeout = 15;
    s.commandTimeout = 60;
    s.Connect(Server().Host, a.user, flags, "", Server().Port, db, a.password);
}

TAccount Native() { return {Server().NativeUser, Server().NativePassword}; }

std::pair<int, std::string> ConnectError(TMySqlSession& s, const TAccount& a, const std::string& host = Server().Host,
                                         int port = Server().Port) {
    try {
        s.Connect(host, a.user, CLIENT_FOUND_ROWS, "", port, "", a.password);
    } catch (const EMySqlException& e) {
        return {e.ErrorCode(), e.Message()};
    }
    return {0, ""};
}

}  // namespace

// Native password (4.1 scramble), old password (the server's single 0xFE byte asks for the
// pre-4.1 answer) and no password; with and without a database named at login.
TEST(SessionIntegration, LogInWithEachScramble) {
    const auto& srv = Server();
    struct Case {
        TAccount account;
        std::string db;
    } cases[] = {
        {{srv.NativeUser, srv.NativePassword}, ""},
        {{srv.NativeUser, srv.NativePassword}, "mysql"},
        {{srv.OldUser, srv.OldPassword}, ""},
        {{srv.OldUser, srv.OldPassword}, "mysql"},
        {{srv.EmptyUser, ""}, ""},
        {{srv.EmptyUser, ""}, "information_schema"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.account.user + " / '" + c.db + "'");
        TMySqlSession s;
        ASSERT_NO_THROW(Connect(s, c.account, c.db));
        EXPECT_NE(s.serverVersion.find("MariaDB"), std::string::npos) << s.serverVersion;
        EXPECT_TRUE(s.IsProtocol41());
        EXPECT_EQ(s.hostInfo, srv.Host + " via TCP/IP");
        EXPECT_EQ(Value(s, "SELECT CURRENT_USER()"), c.account.user + "@%");
        EXPECT_EQ(Value(s, "SELECT IFNULL(DATABASE(), '')"), c.db);
        EXPECT_EQ(Value(s, "SELECT CONNECTION_ID()"), std::to_string(s.threadId));
        s.Close();
    }
}

TEST(SessionIntegration, RefusedLogins) {
    const auto& srv = Server();
    struct Case {
        TAccount account;
        std::string user, usingPassword;
    } cases[] = {
        {{srv.NativeUser, "wrong"}, srv.NativeUser, "YES"},
        {{srv.OldUser, "wrong"}, srv.OldUser, "YES"},
        {{srv.OldUser, ""}, srv.OldUser, "NO"},
        {{srv.NativeUser, ""}, srv.NativeUser, "NO"},
        {{srv.EmptyUser, "something"}, srv.EmptyUser, "YES"},
        {{"no_such_user", "x"}, "no_such_user", "YES"},
    };
    for (const auto& c : cases) {
        TMySqlSession s;
        const auto [code, message] = ConnectError(s, c.account);
        EXPECT_EQ(code, 1045);
        EXPECT_EQ(message, "\r\nAccess denied for user '" + c.user + "'@'" + srv.Host + "' (using password: " +
                               c.usingPassword + ")");
    }
}

TEST(SessionIntegration, SimpleCommands) {
    TMySqlSession s;
    Connect(s, Native());
    s.SelectDb("mysql");
    EXPECT_EQ(s.database, "mysql");
    EXPECT_EQ(Value(s, "SELECT DATABASE()"), "mysql");
    try {
        s.SelectDb("no_such_db");
        ADD_FAILURE() << "selected";
    } catch (const EMySqlException& e) {
        EXPECT_EQ(e.ErrorCode(), 1049);
        EXPECT_EQ(e.Message(), "\r\nUnknown database 'no_such_db'");
        EXPECT_EQ(e.SqlState(), "42000");
    }
    EXPECT_EQ(s.database, "mysql");
    EXPECT_NO_THROW(s.Ping());
    const std::string stats = s.Statistics();
    EXPECT_EQ(stats.rfind("Uptime: ", 0), 0u) << stats;
    EXPECT_NE(stats.find("Threads: "), std::string::npos) << stats;

    // Quit ends the server's side of the connection.
    const int id = s.threadId;
    s.Close();
    TMySqlSession observer;
    Connect(observer, Native());
    const std::string sql = "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = " + std::to_string(id);
    std::string count;
    for (int i = 0; i < 100 && (count = Value(observer, sql)) != "0"; ++i) std::this_thread::sleep_for(20ms);
    EXPECT_EQ(count, "0");
}

TEST(SessionIntegration, Compression) {
    TMySqlSession s;
    Connect(s, Native(), "", CLIENT_FOUND_ROWS | CLIENT_COMPRESS);
    ASSERT_TRUE(s.net.Compress());
    const auto rows = Query(s, "SHOW SESSION STATUS LIKE 'Compression'");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][1], "ON");
    EXPECT_EQ(Value(s, "SELECT 1"), "1");  // small packets are stored
    std::string xy;
    for (int i = 0; i < 50000; ++i) xy += "xy";
    EXPECT_EQ(Value(s, "SELECT REPEAT('xy', 50000)"), xy);  // large ones deflated
    const std::string text(30000, 'q');
    EXPECT_EQ(Value(s, "SELECT LENGTH('" + text + "')"), "30000");  // a streamed statement, compressed
    s.Ping();
    EXPECT_EQ(s.Statistics().rfind("Uptime: ", 0), 0u);
    s.Close();
}

// Payloads at the maximum packet length: statements of exactly 16777215 and 16777216 bytes
// (command byte included) and rows of exactly those lengths, plain and compressed.
TEST(SessionIntegration, MaximumPacketLengthBothWays) {
    for (const bool compress : {false, true}) {
        SCOPED_TRACE(compress ? "compressed" : "plain");
        TMySqlSession s;
        Connect(s, Native(), "", CLIENT_FOUND_ROWS | (compress ? uint32_t(CLIENT_COMPRESS) : 0u));
        for (const size_t payload : {size_t(0xFFFFFF), size_t(0x1000000)}) {
            SCOPED_TRACE(payload);
            // 1 command byte + "SELECT LENGTH('" + n letters + "')"
            const size_t n = payload - 1 - 15 - 2;
            EXPECT_EQ(Value(s, "SELECT LENGTH('" + std::string(n, 'a') + "')"), std::to_string(n));
            // A row is the value's 4-byte length prefix and the value.
            const size_t value = payload - 4;
            const auto rows = Query(s, "SELECT REPEAT('b', " + std::to_string(value) + ")");
            ASSERT_EQ(rows.size(), 1u);
            ASSERT_TRUE(rows[0][0].has_value());
            EXPECT_EQ(rows[0][0]->size(), value);
            EXPECT_EQ(rows[0][0]->find_first_not_of('b'), std::string::npos);
        }
        EXPECT_EQ(Value(s, "SELECT 2"), "2") << "the stream is still in step";
        s.Close();
    }
}

// The server's Unix socket: a password account, the account of the user the tests run as
// (unix_socket: no password, the socket's peer is the login), and what the socket cannot do.
TEST(SessionIntegration, OverTheUnixSocket) {
    const auto& server = Server();
    ASSERT_FALSE(server.Socket.empty());
    ASSERT_FALSE(server.SocketUser.empty());
    const auto viaSocket = [&](TMySqlSession& s, const std::string& user, const std::string& password) {
        s.protocolType = MYSQL_PROTOCOL_SOCKET;
        s.commandTimeout = 60;
        s.Connect("", user, CLIENT_FOUND_ROWS, server.Socket, 0, "", password);
    };
    {
        TMySqlSession s;
        viaSocket(s, server.NativeUser, server.NativePassword);
        EXPECT_EQ(s.hostInfo, "Localhost via UNIX socket");
        EXPECT_FALSE(s.IsSecure()) << "no TLS over a local socket";
        EXPECT_EQ(Value(s, "SELECT CURRENT_USER()"), server.NativeUser + "@%");
        EXPECT_EQ(Value(s, "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = CONNECTION_ID() AND HOST = 'localhost'"),
                  "1") << "the server sees a local connection";
        s.Close();
    }
    {
        TMySqlSession s;
        viaSocket(s, server.SocketUser, "");
        EXPECT_EQ(Value(s, "SELECT CURRENT_USER()"), server.SocketUser + "@localhost");
        s.Close();
    }
    {
        // Over TCP the same account has no peer to check: the server refuses it. It answers as
        // for an account it does not have, with the plugin of an account it picks by the user
        // name among all of them: "access denied" with or without "using password".
        TMySqlSession s;
        s._connectTimeout = 15;
        try {
            s.Connect(server.Host, server.SocketUser, CLIENT_FOUND_ROWS, "", server.Port, "", "");
            ADD_FAILURE() << "logged in over TCP";
        } catch (const EMySqlException& e) {
            EXPECT_TRUE(e.ErrorCode() == 1045 || e.ErrorCode() == 1698) << e.ErrorCode() << e.Message();
            EXPECT_NE(e.Message().find("Access denied for user '" + server.SocketUser + "'"), std::string::npos)
                << e.Message();
        }
    }
    {
        TMySqlSession s;
        s.SSL_mode = smVerifyCa;
        try {
            viaSocket(s, server.NativeUser, server.NativePassword);
            ADD_FAILURE() << "connected";
        } catch (const EMySqlException& e) {
            EXPECT_EQ(e.ErrorCode(), 2026);
            EXPECT_EQ(e.Message(), "SSL connection error\r\nA Unix socket has no server certificate to check, and ssl-mode "
                                   "VERIFY_CA asks for that. Connect over TCP to check the server's certificate, or choose "
                                   "ssl-mode REQUIRED or PREFERRED.");
        }
    }
}

// The IPv6 loopback address, written as users write it.
TEST(SessionIntegration, IPv6Loopback) {
    const auto& server = Server();
    if (server.IPv6Host.empty()) GTEST_SKIP() << "the test server does not listen on ::1: this machine has no IPv6 loopback";
    for (const std::string& host : {server.IPv6Host, "[" + server.IPv6Host + "]"}) {
        SCOPED_TRACE(host);
        TMySqlSession s;
        s._connectTimeout = 15;
        s.commandTimeout = 60;
        s.Connect(host, server.NativeUser, CLIENT_FOUND_ROWS, "", server.Port, "", server.NativePassword);
        // The server names the client "::1:<port>".
        EXPECT_EQ(Value(s, "SELECT HOST LIKE '::1:%' FROM information_schema.PROCESSLIST WHERE ID = CONNECTION_ID()"), "1");
        s.Close();
    }
}
