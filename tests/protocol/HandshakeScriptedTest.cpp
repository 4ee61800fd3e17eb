// Logins against a scripted server on loopback, for what MariaDB cannot be made to send:
// greetings of old servers, the 4.1.0 24-byte exchange, sequence and protocol errors, and a
// server that never greets. Each script checks the client's packets byte by byte.
#include "protocol/MySqlScramble.h"
#include "protocol/MySqlSession.h"
#include "support/ScriptedServer.h"

#include <gtest/gtest.h>

using namespace calvoro::protocol;
using namespace calvoro::test;
using namespace std::chrono_literals;

namespace {

const Bytes Scramble = TGreetingFields().Scramble;
constexpr uint32_t Flags41 = 0x3A28F;  // FOUND_ROWS, the always-sent flags, CONNECT_WITH_DB
const size_t P = 1 + TGreetingFields().Version.size() + 1 + 4 + 8;  // the filler's offset

Bytes Answer41(const std::string& password, const Bytes& scramble = Scramble) {
    const auto a = Scramble41(std::span<const uint8_t, 20>(scramble.data(), 20), password);
    return Bytes(a.begin(), a.end());
}

Bytes AnswerOld(const std::string& password, const Bytes& scramble = Scramble) {
    const auto a = ScrambleOld(std::span<const uint8_t, 8>(scramble.data(), 8), password);
    return Bytes(a.begin(), a.end());
}

// The start of a 4.1 handshake response: flags, 1 GiB, latin1, 23 zero bytes.
Bytes Response41(uint32_t flags) { return Cat({LE(flags, 4), LE(0x40000000, 4), {8}, Bytes(23, 0)}); }

// Logs in to the scripted server; returns the error (code 0 when the login succeeded).
std::pair<int, std::string> Login(TScriptedServer& server, const std::string& password, const std::string& db = "",
                                  int connectTimeout = 5) {
    TMySqlSession s;
    s._connectTimeout = connectTimeout;
    try {
        s.Connect("127.0.0.1", "u", CLIENT_FOUND_ROWS, "", server.Port(), db, password);
        s.Close();
    } catch (const EMySqlException& e) {
        return {e.ErrorCode(), e.Message()};
    }
    return {0, ""};
}

}  // namespace

// A 4.1 server: the response carries the length-prefixed 4.1 answer, and the database field
// keeps its NUL with or without a name (a response cut off after the password answer is
// refused by MariaDB with 1043 "Bad handshake").
TEST(ScriptedHandshake, Server41) {
    struct Case {
        std::string password, db;
        Bytes tail;  // after the user name
    } cases[] = {
        {"pw", "shop", Cat({{20}, Answer41("pw"), B("shop"), {0}})},
        {"pw", "", Cat({{20}, Answer41("pw"), {0}})},
        {"", "", {0, 0}},  // empty password: a single 0; then the empty database's NUL
        {"", "db", Cat({{0}, B("db"), {0}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.password + "/" + c.db);
        Bytes response;
        uint8_t seq = 0;
        TScriptedServer server([&](TScriptedPeer& p) {
            p.SendPacket(0, Greeting());
            response = p.ReadPacket(&seq);
            p.SendPacket(2, OkPacket());
            EXPECT_EQ(p.ReadPacket(), Bytes{1});  // quit
        });
        EXPECT_EQ(Login(server, c.password, c.db).first, 0);
        EXPECT_EQ(server.Join(), "");
        EXPECT_EQ(seq, 1);
        EXPECT_EQ(response, Cat({Response41(Flags41), B("u"), {0}, c.tail}));
    }
}

// Servers before 4.1: 2-byte flags, the maximum packet size as 3 bytes holding its low 16
// bits, the pre-4.1 answer and a NUL. Without CLIENT_CONNECT_WITH_DB the packet ends with the
// answer, without its NUL.
TEST(ScriptedHandshake, OldServers) {
    TGreetingFields withDb;
    withDb.Capabilities = 0x000F;
    TGreetingFields withoutDb;
    withoutDb.Capabilities = 0x0005;
    TGreetingFields shortest;
    shortest.Length = P + 1;  // ends right after the filler: capabilities 0
    const uint16_t oldFlags = uint16_t(Flags41 & ~0x200);
    struct Case {
        const char* name;
        TGreetingFields greeting;
        std::string password;
        Bytes response;
    } cases[] = {
        {"with CONNECT_WITH_DB", withDb, "pw", Cat({LE(oldFlags, 2), {0, 0, 0}, B("u"), {0}, AnswerOld("pw"), {0}, B("db"), {0}})},
        {"without CONNECT_WITH_DB", withoutDb, "pw", Cat({LE(oldFlags, 2), {0, 0, 0}, B("u"), {0}, AnswerOld("pw")})},
        {"greeting ends after the filler", shortest, "pw", Cat({LE(oldFlags, 2), {0, 0, 0}, B("u"), {0}, AnswerOld("pw")})},
        {"empty password", withDb, "", Cat({LE(oldFlags, 2), {0, 0, 0}, B("u"), {0}, {0}, B("db"), {0}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes response;
        TScriptedServer server([&](TScriptedPeer& p) {
            p.SendPacket(0, Greeting(c.greeting));
            response = p.ReadPacket();
            p.SendPacket(2, Hex("00 00 00"));  // a pre-4.1 OK packet
            EXPECT_EQ(p.ReadPacket(), Bytes{1});
        });
        EXPECT_EQ(Login(server, c.password, "db").first, 0);
        EXPECT_EQ(server.Join(), "");
        EXPECT_EQ(response, c.response);
    }
}

// A 4.1 greeting without the second scramble part: the client sends eight letters x and a
// NUL, and answers the server's single 0xFE byte with the pre-4.1 answer.
TEST(ScriptedHandshake, GreetingWithoutTheSecondScramblePart) {
    TGreetingFields fields;
    fields.Length = P + 19;
    Bytes response, second;
    uint8_t seq = 0;
    TScriptedServer server([&](TScriptedPeer& p) {
        p.SendPacket(0, Greeting(fields));
        response = p.ReadPacket();
        p.SendPacket(2, {0xFE});
        second = p.ReadPacket(&seq);
        p.SendPacket(4, OkPacket());
        p.ReadPacket();
    });
    EXPECT_EQ(Login(server, "pw").first, 0);
    EXPECT_EQ(server.Join(), "");
    EXPECT_EQ(response, Cat({Response41(Flags41), B("u"), {0}, B("xxxxxxxx"), {0}, {0}}));
    EXPECT_EQ(second, Cat({AnswerOld("pw"), {0}}));
    EXPECT_EQ(seq, 3);
}

// The 4.1.0 exchange: a 24-byte reply either asks for the pre-4.1 answer over a new
// scramble ("*" form) or carries a salt and the encrypted new scramble.
TEST(ScriptedHandshake, Exchange410) {
    const Bytes newScramble = B("ABCDEFGHIJKLMNOPQRST");
    const std::string password = "p w\tx";  // blanks and tabs do not count here
    const TSHA1Digest s1 = PasswordHashStage1(password);
    const uint8_t salt[4] = {0x11, 0x22, 0x33, 0x44};
    const TSHA1Digest s2 = PasswordHashStage2(std::span<const uint8_t, 4>(salt), s1);
    Bytes encrypted(20), expected(20);
    for (int i = 0; i < 20; ++i) {
        encrypted[i] = newScramble[i] ^ s2[i];
        expected[i] = newScramble[i] ^ s1[i];
    }
    struct Case {
        const char* name;
        Bytes reply;
        Bytes answer;
    } cases[] = {
        {"star form", Cat({B("*"), {0, 0, 0}, newScramble}), Cat({AnswerOld(password, newScramble), {0}})},
        {"salted form", Cat({Bytes(salt, salt + 4), encrypted}), expected},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes answer;
        TScriptedServer server([&](TScriptedPeer& p) {
            p.SendPacket(0, Greeting());
            p.ReadPacket();
            p.SendPacket(2, c.reply);
            answer = p.ReadPacket();
            p.SendPacket(4, OkPacket());
            p.ReadPacket();
        });
        EXPECT_EQ(Login(server, password).first, 0);
        EXPECT_EQ(server.Join(), "");
        EXPECT_EQ(answer, c.answer);
    }
}

TEST(ScriptedHandshake, Refusals) {
    TGreetingFields v9;
    v9.Protocol = 9;
    struct Case {
        const char* name;
        std::function<void(TScriptedPeer&)> script;
        int code;
        std::string message;
    } cases[] = {
        {"protocol 9", [&](TScriptedPeer& p) { p.SendPacket(0, Greeting(v9)); }, 2007,
         "Protocol mismatch. Server Version = 9 Client Version = 10"},
        {"greeting out of order", [](TScriptedPeer& p) { p.SendPacket(1, Greeting()); }, 1156,
         "\r\nReceiveHeader: Net packets out of order: received[1], expected[0]"},
        {"answer out of order",
         [](TScriptedPeer& p) {
             p.SendPacket(0, Greeting());
             p.ReadPacket();
             p.SendPacket(5, OkPacket());
         },
         1156, "\r\nReceiveHeader: Net packets out of order: received[5], expected[2]"},
        {"host not allowed", [](TScriptedPeer& p) { p.SendPacket(0, ErrorPacket(1130, "", "Host 'x' is not allowed")); },
         1130, "\r\nHost 'x' is not allowed"},
        {"closed after the greeting",
         [](TScriptedPeer& p) {
             p.SendPacket(0, Greeting());
             p.ReadPacket();
         },
         2013, "Lost connection to MySQL server during query"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TScriptedServer server(c.script);
        EXPECT_EQ(Login(server, "pw"), std::make_pair(c.code, c.message));
        EXPECT_EQ(server.Join(), "");
    }
}

// A server that accepts the connection and never greets: the connect time-out (which bounds
// the whole login) ends the wait, and the message says so in the system's words.
TEST(ScriptedHandshake, ServerThatNeverGreets) {
    TScriptedServer server([](TScriptedPeer& p) { p.WaitForClose(10s); });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Login(server, "pw", "", 1),
              std::make_pair(2003, std::string("Can't connect to MySQL server on '127.0.0.1' (110: Connection timed out)\r\n"
                                               "The server took the connection but did not complete the login within the connect time-out (1 s).")));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 900ms);
    EXPECT_LT(elapsed, 3s);
    EXPECT_EQ(server.Join(), "");
}
