// The session on canned bytes: greeting decoding, hostile or truncated packets during the
// login, the command state, the transports that are not available here, and connects that
// fail before any server answers.
#include "protocol/MySqlSession.h"
#include "support/Raised.h"
#include "support/SessionOverMemory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

using namespace calvoro::protocol;
using namespace calvoro::test;
using namespace std::chrono_literals;

namespace {

// The filler's offset in a greeting built with the default version text.
const size_t P = 1 + TGreetingFields().Version.size() + 1 + 4 + 8;

}  // namespace

TEST(MySqlGreeting, OptionalFieldsByLength) {
    struct Case {
        size_t length;
        uint16_t capabilities;
        bool hasStatus;
        bool hasScramble41;
    } cases[] = {
        {P + 1, 0, false, false},        // ends right after the filler
        {P + 2, 0, false, false},        // half a capability field is not one
        {P + 3, 0xA20F, false, false},
        {P + 17, 0xA20F, false, false},
        {P + 18, 0xA20F, true, false},
        {P + 29, 0xA20F, true, false},
        {P + 31, 0xA20F, true, true},    // the second part without the NUL real servers add
        {SIZE_MAX, 0xA20F, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        TGreetingFields fields;
        fields.Length = c.length;
        fields.Status = 0x4002;
        fields.Charset = 33;
        const Bytes g = Greeting(fields);
        TPacketReader r(g);
        const TMySqlGreeting greeting = ReadGreeting(r);
        EXPECT_EQ(greeting.serverVersion, fields.Version);
        EXPECT_EQ(greeting.threadId, fields.ThreadId);
        EXPECT_EQ(greeting.serverCapabilities, c.capabilities);
        EXPECT_EQ(greeting.hasStatus, c.hasStatus);
        EXPECT_EQ(greeting.serverLanguage, c.hasStatus ? 33 : 0);
        EXPECT_EQ(greeting.serverStatus, c.hasStatus ? 0x4002 : 0);
        EXPECT_EQ(greeting.hasScramble41, c.hasScramble41);
        EXPECT_TRUE(std::equal(greeting.scramble.begin(), greeting.scramble.begin() + (c.hasScramble41 ? 20 : 8),
                               fields.Scramble.begin()));
    }
}

// Servers that name plugins: the upper capability bits, and the plugin after the scramble's
// NUL, also when the greeting ends without the name's NUL or right after the scramble.
TEST(MySqlGreeting, PluginName) {
    TGreetingFields named;
    named.CapabilitiesExt = CLIENT_PLUGIN_AUTH >> 16;
    named.Plugin = "caching_sha2_password";
    const Bytes full = Greeting(named);
    Bytes noLength = full;
    noLength[P + 8] = 0;  // the scramble length: the second part is still 13 bytes
    struct Case {
        const char* name;
        Bytes greeting;
        uint16_t ext;
        std::string plugin;
    } cases[] = {
        {"named", full, 0x0008, "caching_sha2_password"},
        {"scramble length 0", noLength, 0x0008, "caching_sha2_password"},
        {"name without its NUL", Bytes(full.begin(), full.end() - 1), 0x0008, "caching_sha2_password"},
        {"ends after the scramble's NUL", Bytes(full.begin(), full.end() - 22), 0x0008, ""},
        {"ends right after the scramble", Bytes(full.begin(), full.end() - 23), 0x0008, ""},
        {"no plugin bit: the rest is not read", Greeting(), 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TPacketReader r(c.greeting);
        const TMySqlGreeting g = ReadGreeting(r);
        EXPECT_EQ(g.serverCapabilitiesExt, c.ext);
        EXPECT_EQ(g.authPluginName, c.plugin);
        EXPECT_TRUE(g.hasScramble41);
    }
}

// The packets of the plugin exchange, decoded apart from I/O; what is cut short or of another
// kind is a malformed packet.
TEST(MySqlAuthPackets, SwitchRequestAndMoreData) {
    struct Case {
        const char* name;
        Bytes packet;
        std::string plugin, data;  // plugin empty: malformed
    } switches[] = {
        {"name and nonce with its NUL", Cat({{0xFE}, B("client_ed25519"), {0}, B("nonce"), {0}}), "client_ed25519", "nonce"},
        {"nonce without NUL", Cat({{0xFE}, B("x"), {0}, B("ab")}), "x", "ab"},
        {"no data", Cat({{0xFE}, B("mysql_clear_password"), {0}}), "mysql_clear_password", ""},
        {"name without NUL", Cat({{0xFE}, B("dialog")}), "", ""},
        {"empty name", Bytes{0xFE, 0, 'a'}, "", ""},
        {"another kind", Cat({{0x01}, B("x"), {0}}), "", ""},
        {"empty", {}, "", ""},
    };
    for (const auto& c : switches) {
        SCOPED_TRACE(c.name);
        TPacketReader r(c.packet);
        if (c.plugin.empty()) {
            EXPECT_EQ(Raised([&] { ReadAuthSwitchRequest(r); }).ErrorCode(), CR_MALFORMED_PACKET);
            continue;
        }
        const TAuthSwitchRequest request = ReadAuthSwitchRequest(r);
        EXPECT_EQ(request.PluginName, c.plugin);
        EXPECT_EQ(request.PluginData, c.data);
    }
    const Bytes morePacket{0x01, 0x04}, wrongPacket{0x02, 0x04};
    TPacketReader more(morePacket);
    EXPECT_EQ(ReadAuthMoreData(more), std::string(1, '\x04'));
    TPacketReader wrong(wrongPacket);
    EXPECT_EQ(Raised([&] { ReadAuthMoreData(wrong); }).ErrorCode(), CR_MALFORMED_PACKET);
}

TEST(MySqlGreeting, MalformedAndForeignGreetings) {
    TGreetingFields v9;
    v9.Protocol = 9;
    const Bytes full = Greeting();
    struct Case {
        const char* name;
        Bytes greeting;
        int code;
        std::string message;
    } cases[] = {
        {"protocol 9", Greeting(v9), 2007, "Protocol mismatch. Server Version = 9 Client Version = 10"},
        {"protocol 11, nothing else", {11}, 2007, "Protocol mismatch. Server Version = 11 Client Version = 10"},
        {"empty", {}, 2027, "Malformed packet"},
        {"version without NUL", Cat({{10}, B("5.0.1")}), 2027, "Malformed packet"},
        {"inside the thread id", Bytes(full.begin(), full.begin() + 22), 2027, "Malformed packet"},
        {"inside the scramble", Bytes(full.begin(), full.begin() + long(P) - 1), 2027, "Malformed packet"},
        {"no filler", Bytes(full.begin(), full.begin() + long(P)), 2027, "Malformed packet"},
        {"second scramble part announced but cut", Bytes(full.begin(), full.begin() + long(P) + 30), 2027,
         "Malformed packet"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TPacketReader r(c.greeting);
        const auto e = Raised([&] { ReadGreeting(r); });
        EXPECT_EQ(e.ErrorCode(), c.code);
        EXPECT_EQ(e.Message(), c.message);
    }
}

// Whatever the server sends during the login, the session raises an EMySqlException and
// reads nothing past a payload.
TEST(MySqlSession, HostileServerDuringLogin) {
    TGreetingFields old;
    old.Capabilities = 0x000F;  // before 4.1
    const Bytes g = Frame(0, Greeting());
    struct Case {
        const char* name;
        Bytes server;
        int code;
    } cases[] = {
        {"nothing", {}, 2013},
        {"half a header", Hex("4a 00"), 2013},
        {"greeting cut off", Bytes(g.begin(), g.begin() + 30), 2013},
        {"empty greeting", Frame(0, {}), 2027},
        {"error packet cut short", Frame(0, Hex("ff 69")), 2027},
        {"error packet instead of the greeting", Frame(0, ErrorPacket(1130, "", "Host 'h' is not allowed to connect")), 1130},
        {"no answer to the login", g, 2013},
        {"error packet cut short after the login", Cat({g, Frame(2, Hex("ff"))}), 2027},
        {"login refused", Cat({g, Frame(2, ErrorPacket(1045, "28000", "Access denied"))}), 1045},
        {"answer out of order", Cat({g, Frame(3, OkPacket())}), 1156},
        {"pre-4.1 request without an answer to it", Cat({g, Frame(2, {0xFE})}), 2013},
        {"24-byte exchange without an end", Cat({g, Frame(2, Cat({{1, 2, 3, 4}, Bytes(20, 9)}))}), 2013},
        {"refused after the pre-4.1 answer", Cat({g, Frame(2, {0xFE}), Frame(4, ErrorPacket(1045, "28000", "no"))}), 1045},
        {"old server, error cut short", Cat({Frame(0, Greeting(old)), Frame(2, Hex("ff 15"))}), 2027},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TSessionOverMemory t(c.server);
        EXPECT_EQ(Raised([&] { t.Login(); }).ErrorCode(), c.code);
    }
}

TEST(MySqlSession, StateAfterLogin) {
    TGreetingFields fields;
    fields.Capabilities = 0xA22F;  // with CLIENT_COMPRESS
    fields.Status = 0x0003;
    fields.Charset = 33;
    TSessionOverMemory t(Cat({Frame(0, Greeting(fields)), Frame(2, OkPacket())}));
    t.session.Connect("", "u", CLIENT_FOUND_ROWS | CLIENT_COMPRESS | CLIENT_MULTI_STATEMENTS, "", 0, "shop", "pw");
    EXPECT_EQ(t.session.host, "localhost");
    EXPECT_EQ(t.session.port, 3306);
    EXPECT_EQ(t.session.serverVersion, fields.Version);
    EXPECT_EQ(t.session.threadId, 42);
    EXPECT_EQ(t.session.serverCapabilities, 0xA22F);
    EXPECT_EQ(t.session.serverStatus, 3);
    EXPECT_EQ(t.session.serverLanguage, 33);
    EXPECT_EQ(t.session.database, "shop");
    EXPECT_EQ(t.session.clientFlag, 0x3A2AFu);
    EXPECT_TRUE(t.session.IsProtocol41());
    EXPECT_TRUE(t.session.net.Compress());
    EXPECT_EQ(t.vio->Timeout, 15) << "the connect time-out of a new session";

    // Without the server's CLIENT_COMPRESS the caller's wish is dropped.
    TSessionOverMemory plain(Cat({Frame(0, Greeting()), Frame(2, OkPacket())}));
    plain.session.Connect("h", "u", CLIENT_COMPRESS, "", 1, "", "");
    EXPECT_FALSE(plain.session.net.Compress());
    EXPECT_EQ(plain.session.clientFlag & CLIENT_COMPRESS, 0u);
}

TEST(MySqlSession, Commands) {
    TSessionOverMemory t(Cat({Frame(0, Greeting()), Frame(2, OkPacket()), Frame(1, OkPacket()),
                              Frame(1, B("Uptime: 5  Threads: 1")), Frame(1, OkPacket()),
                              Frame(1, ErrorPacket(1049, "42000", "Unknown database 'nope'"))}));
    t.Login();
    t.vio->Output.clear();
    t.session.commandTimeout = 17;
    t.session.Ping();
    EXPECT_EQ(t.vio->Timeout, 17) << "commands run with the command time-out";
    EXPECT_EQ(t.session.Statistics(), "Uptime: 5  Threads: 1");
    t.session.SelectDb("shop");
    EXPECT_EQ(t.session.database, "shop");
    const auto e = Raised([&] { t.session.SelectDb("nope"); });
    EXPECT_EQ(e.ErrorCode(), 1049);
    EXPECT_EQ(t.session.database, "shop");
    EXPECT_EQ(t.vio->Output, Cat({Frame(0, {14}), Frame(0, {9}), Frame(0, Cat({{2}, B("shop")})),
                                  Frame(0, Cat({{2}, B("nope")}))}));
    t.session.Close();
    EXPECT_EQ(t.session.net.Vio(), nullptr);
    t.session.Close();  // once only
}

TEST(MySqlSession, CommandsOutOfSync) {
    TSessionOverMemory t(Cat({Frame(0, Greeting()), Frame(2, OkPacket())}));
    t.Login();
    t.vio->Output.clear();
    t.session.status = msUseResult;
    const auto e = Raised([&] { t.session.SimpleCommand(scQuery, "SELECT 1"); });
    EXPECT_EQ(e.ErrorCode(), 2014);
    EXPECT_EQ(e.Message(), "Commands out of sync;  You can't run this command now");
    EXPECT_TRUE(t.vio->Output.empty()) << "nothing is sent";
}

TEST(MySqlSession, WithoutTransport) {
    TMySqlSession s;
    EXPECT_NO_THROW(s.SimpleCommand(scPing));
    EXPECT_NO_THROW(s.Close());
    TMySqlSession memory;
    memory.protocolType = MYSQL_PROTOCOL_MEMORY;
    auto e = Raised([&] { memory.Connect("h", "u", 0, "", 1, "", ""); });
    EXPECT_EQ(e.ErrorCode(), 2046);
    EXPECT_EQ(e.Message(), "Wrong or unknown protocol");

    TMySqlSession pipe;
    pipe.protocolType = MYSQL_PROTOCOL_PIPE;
    e = Raised([&] { pipe.Connect("", "u", 0, "", 0, "", ""); });
    EXPECT_EQ(e.ErrorCode(), 2003);
    EXPECT_EQ(e.Message(),
              "Can't connect to MySQL server on 'localhost' (10061)\r\n"
              "Can't open named pipe to host: .  pipe: MySQL (named pipes are not available on this system)");

    // The SSL protocol opens TCP like the default (then switches to TLS in the handshake).
    TMySqlSession ssl;
    ssl.protocolType = MYSQL_PROTOCOL_SSL;
    ssl._connectTimeout = 5;
    EXPECT_EQ(Raised([&] { ssl.Connect("127.0.0.1", "u", 0, "", 1, "", ""); }).ErrorCode(), 2003);
    EXPECT_EQ(ssl.hostInfo, "127.0.0.1 via SSL");
}

TEST(MySqlSession, CloseOnABrokenConnectionFreesTheTransport) {
    class TBrokenVio : public TMemoryVio {
    public:
        size_t WriteNoWait(const uint8_t*, size_t, size_t) override { return 0; }
    };
    TMySqlSession s;
    auto v = std::make_unique<TBrokenVio>();
    bool closed = false;
    v->ClosedFlag = &closed;
    s.net.SetVio(std::move(v));
    EXPECT_EQ(Raised([&] { s.Close(); }).ErrorCode(), 2013);
    EXPECT_TRUE(closed);
    EXPECT_EQ(s.net.Vio(), nullptr);
}

// Connects that end before any server answers: 2003 with the system's reason in the
// parentheses, said once.
TEST(MySqlSession, ConnectFailures) {
    // A port on the loopback address where nothing listens.
    TMySqlSession refused;
    auto e = Raised([&] { refused.Connect("127.0.0.1", "u", CLIENT_FOUND_ROWS, "", 1, "", "p"); });
    EXPECT_EQ(e.ErrorCode(), 2003);
    EXPECT_EQ(e.Message(), "Can't connect to MySQL server on '127.0.0.1' (111: Connection refused)");

    // A name that cannot be resolved fails within the connect time-out (3 s, with room for a
    // loaded machine), in the resolver's words, which depend on the system. Its first label is
    // longer than a name may have, so the resolver refuses it without asking any name server.
    TMySqlSession unknown;
    unknown._connectTimeout = 3;
    const std::string host = "no-such-host-" + std::string(60, 'x') + ".invalid";
    const auto start = std::chrono::steady_clock::now();
    e = Raised([&] { unknown.Connect(host, "u", CLIENT_FOUND_ROWS, "", 1, "", "p"); });
    EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);
    EXPECT_EQ(e.ErrorCode(), 2003);
    const std::string message = e.Message();
    const std::string head = "Can't connect to MySQL server on '" + host + "' (";
    EXPECT_EQ(message.substr(0, head.size()), head);
    ASSERT_EQ(message.back(), ')') << "one line: " << message;
    EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    const std::string system = message.substr(head.size(), message.size() - head.size() - 1);
    EXPECT_NE(system.find(": "), std::string::npos) << system;
}
