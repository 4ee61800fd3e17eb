// Connecting that never hangs: the TCP connect and the whole login end within the connect
// time-out and at once when cancelled, host names give every address and each is tried in
// turn, IPv6 literals and host:port texts, and the Unix-socket transport with the unix_socket
// plugin. Peers are local: sockets of the test on loopback, a scripted server, and a
// listening socket whose queue is full, so that a connect to it hangs as one to a host that
// drops packets does.
#include "protocol/CRVioUnix.h"
#include "protocol/MySqlAuth.h"
#include "protocol/MySqlSession.h"
#include "support/ScriptedServer.h"

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

using namespace calvoro::protocol;
using namespace calvoro::test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

TSocketAddress Address(const std::string& text) {
    TSocketAddress a;
    EXPECT_TRUE(ParseAddressLiteral(text, a)) << text;
    return a;
}

// A listening socket on a loopback address (a free port), never accepting; -1 when the
// address cannot be had (no IPv6 loopback).
class TListener {
public:
    TListener(const std::string& address, int backlog) {
        TSocketAddress a = Address(address);
        FFd = ::socket(a.Family(), SOCK_STREAM | SOCK_CLOEXEC, 0);
        socklen_t length = a.Length;
        if (FFd < 0 || ::bind(FFd, reinterpret_cast<sockaddr*>(&a.Storage), a.Length) != 0 ||
            ::listen(FFd, backlog) != 0 || ::getsockname(FFd, reinterpret_cast<sockaddr*>(&a.Storage), &length) != 0) {
            if (FFd >= 0) ::close(FFd);
            FFd = -1;
            return;
        }
        FPort = ntohs(a.Family() == AF_INET ? reinterpret_cast<sockaddr_in*>(&a.Storage)->sin_port
                                            : reinterpret_cast<sockaddr_in6*>(&a.Storage)->sin6_port);
    }
    ~TListener() {
        for (const int fd : FFill) ::close(fd);
        if (FFd >= 0) ::close(FFd);
    }
    bool Ok() const { return FFd >= 0; }
    int Port() const { return FPort; }
    // Fills the queue of a listener with backlog 0, so that the system drops the handshake of
    // every further connect: such a connect hangs until its own time-out.
    void Fill() {
        for (int i = 0; i < 4; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            TSocketAddress a = Address("127.0.0.1");
            a.SetPort(FPort);
            ::connect(fd, reinterpret_cast<sockaddr*>(&a.Storage), a.Length);
            FFill.push_back(fd);
            std::this_thread::sleep_for(20ms);
        }
    }

private:
    int FFd = -1;
    int FPort = 0;
    std::vector<int> FFill;
};

// A port on 127.0.0.1 whose connects hang in the TCP handshake.
struct TBlackHole : TListener {
    TBlackHole() : TListener("127.0.0.1", 0) { Fill(); }
};

// Raises the signal after the pause, on a thread of its own.
std::thread CancelLater(const std::function<void()>& cancel, std::chrono::milliseconds pause) {
    return std::thread([cancel, pause] {
        std::this_thread::sleep_for(pause);
        cancel();
    });
}

template <typename F>
Clock::duration Timed(F&& f) {
    const auto start = Clock::now();
    f();
    return Clock::now() - start;
}

// A connect of the session that must fail: its error.
std::pair<int, std::string> Failed(TMySqlSession& s, const std::string& host, int port, const std::string& socket = {}) {
    try {
        s.Connect(host, "u", CLIENT_FOUND_ROWS, socket, port, "", "pw");
    } catch (const EMySqlException& e) {
        return {e.ErrorCode(), e.Message()};
    }
    ADD_FAILURE() << "connected";
    return {0, ""};
}

std::string TempSocketPath(const char* name) {
    return (std::filesystem::temp_directory_path() / (std::string(name) + "-" + std::to_string(::getpid()) + ".sock"))
        .string();
}

}  // namespace

TEST(SplitHostPort, WhatAUserTypesAsAServer) {
    struct Case {
        std::string text;
        bool ok;
        std::string host;
        int port;
    } cases[] = {
        {"db.example.com", true, "db.example.com", 0},
        {"db.example.com:3307", true, "db.example.com", 3307},
        {"127.0.0.1:3307", true, "127.0.0.1", 3307},
        {"::1", true, "::1", 0},
        {"fe80::1:2", true, "fe80::1:2", 0},  // an IPv6 address is never cut at a colon
        {"[::1]", true, "::1", 0},
        {"[::1]:3307", true, "::1", 3307},
        {"[::1]:65535", true, "::1", 65535},
        {"", true, "", 0},
        {"host:", false, "", 0},
        {"host:0", false, "", 0},
        {"host:65536", false, "", 0},
        {"host:33o6", false, "", 0},
        {"[::1]3307", false, "", 0},
        {"[::1", false, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string host = "untouched";
        int port = -1;
        EXPECT_EQ(SplitHostPort(c.text, host, port), c.ok);
        EXPECT_EQ(host, c.ok ? c.host : "untouched");
        EXPECT_EQ(port, c.ok ? c.port : -1);
    }
}

TEST(ParseAddressLiteral, LiteralsAndNames) {
    struct Case {
        std::string text;
        int family;  // 0: not a literal
        std::string address;
    } cases[] = {
        {"127.0.0.1", AF_INET, "127.0.0.1"}, {"127.1", AF_INET, "127.0.0.1"},  // inet_aton's short form
        {"::1", AF_INET6, "::1"},           {"[::1]", AF_INET6, "::1"},
        {"[::ffff:1.2.3.4]", AF_INET6, "::ffff:1.2.3.4"},
        {"localhost", 0, ""},               {"db.example.com", 0, ""},
        {"[127.0.0.1]", 0, ""},             {"::1::2", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        TSocketAddress a;
        EXPECT_EQ(ParseAddressLiteral(c.text, a), c.family != 0);
        if (c.family == 0) continue;
        EXPECT_EQ(a.Family(), c.family);
        EXPECT_EQ(a.Text(), c.address);
    }
}

// A connect that the network never answers ends at the time-out, in the system's words.
TEST(ConnectBounds, AHangingTcpConnectEndsAtTheTimeout) {
    TBlackHole hole;
    ASSERT_TRUE(hole.Ok());
    TCRVioTcp vio("127.0.0.1", hole.Port());
    vio.SetTimeout(2);
    const auto elapsed = Timed([&] { EXPECT_THROW(vio.Connect(), SocketException); });
    EXPECT_GE(elapsed, 1900ms);
    EXPECT_LT(elapsed, 6s);  // room for a loaded machine under sanitizers
    EXPECT_EQ(vio.LastError(), "Connection timed out");
    EXPECT_EQ(vio.SystemError(), "110: Connection timed out");
    EXPECT_EQ(vio.Interruption(), ETIMEDOUT);
    EXPECT_EQ(vio.GetSocket(), -1);
}

// The cancel signal ends a connect at once, wherever it waits: in the TCP handshake, for the
// name lookup, or before it began.
TEST(ConnectBounds, TheCancelSignalEndsAConnectAtOnce) {
    TBlackHole hole;
    ASSERT_TRUE(hole.Ok());
    struct Case {
        const char* name;
        std::string host;
        THostResolveFunc resolver;
        std::chrono::milliseconds pause;  // before the cancel; negative: cancelled before the connect
    } cases[] = {
        {"in the TCP handshake", "127.0.0.1", nullptr, 300ms},
        {"during the name lookup", "slow.test",
         [](const std::string&, std::vector<TSocketAddress>&) {
             std::this_thread::sleep_for(3s);
             return EAI_NONAME;
         },
         300ms},
        {"before the connect", "127.0.0.1", nullptr, -1ms},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TCRVioTcp vio(c.host, hole.Port());
        if (c.resolver) vio.SetResolver(c.resolver);
        vio.SetTimeout(30);
        auto signal = std::make_shared<TCancelSignal>();
        vio.SetCancelSignal(signal);
        std::thread canceller;
        if (c.pause < 0ms)
            signal->Cancel();
        else
            canceller = CancelLater([signal] { signal->Cancel(); }, c.pause);
        const auto elapsed = Timed([&] { EXPECT_THROW(vio.Connect(), SocketException); });
        if (canceller.joinable()) canceller.join();
        EXPECT_GE(elapsed, std::max(c.pause, 0ms));
        EXPECT_LT(elapsed, c.pause + 1500ms) << "not at once";
        EXPECT_EQ(vio.SystemError(), "125: Operation canceled");
        EXPECT_EQ(vio.Interruption(), ECANCELED);
        EXPECT_EQ(vio.GetSocket(), -1);
    }
}

// A name with several addresses: each is tried in turn until one takes the connect; when
// none does, the last one's reason is told.
TEST(ConnectBounds, EveryAddressOfANameIsTriedInTurn) {
    TScriptedServer dummy([](TScriptedPeer&) {});  // its port, free on the other addresses
    const int port = dummy.Port();
    {
        // Let the dummy's one connection happen so that its thread ends.
        TCRVioTcp vio("127.0.0.1", port);
        vio.Connect();
    }
    EXPECT_EQ(dummy.Join(), "");
    struct Case {
        const char* name;
        std::vector<std::string> addresses;
        std::string connected;  // empty: none takes it
        std::string systemError;
    } cases[] = {
        {"IPv6 loopback refuses, IPv4 takes it", {"::1", "127.0.0.1"}, "127.0.0.1", ""},
        {"another loopback address refuses first", {"127.0.0.2", "127.0.0.1"}, "127.0.0.1", ""},
        {"the first one takes it", {"127.0.0.1", "127.0.0.2"}, "127.0.0.1", ""},
        {"every one refuses", {"127.0.0.3", "127.0.0.2"}, "", "111: Connection refused"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TListener listener("127.0.0.1", 5);
        ASSERT_TRUE(listener.Ok());
        TCRVioTcp vio("localhost", listener.Port());
        vio.SetTimeout(5);
        int lookups = 0;
        vio.SetResolver([&](const std::string& name, std::vector<TSocketAddress>& list) {
            EXPECT_EQ(name, "localhost");
            ++lookups;
            for (const auto& a : c.addresses) list.push_back(Address(a));
            return 0;
        });
        if (c.connected.empty()) {
            try {
                vio.Connect();
                ADD_FAILURE() << "connected";
            } catch (const SocketException& e) {
                EXPECT_EQ(e.ErrorCode(), 2003);
            }
            EXPECT_EQ(vio.SystemError(), c.systemError);
        } else {
            vio.Connect();
            EXPECT_EQ(vio.PeerAddress().Text(), c.connected);
        }
        EXPECT_EQ(lookups, 1);
    }
    // A lookup that finds no address at all.
    TCRVioTcp none("nowhere.test", port);
    none.SetResolver([](const std::string&, std::vector<TSocketAddress>&) { return 0; });
    try {
        none.Connect();
        ADD_FAILURE() << "connected";
    } catch (const SocketException& e) {
        EXPECT_EQ(e.ErrorCode(), 2005);
    }
}

// The system resolver gives "localhost" an IPv4 loopback address, whatever else it has.
TEST(ConnectBounds, TheSystemResolverListsLocalhost) {
    std::vector<TSocketAddress> list;
    ASSERT_EQ(ResolveHostName("localhost", list), 0);
    bool v4 = false;
    for (const auto& a : list) {
        EXPECT_TRUE(a.Family() == AF_INET || a.Family() == AF_INET6);
        v4 = v4 || a.Text() == "127.0.0.1";
    }
    EXPECT_TRUE(v4);
}

// IPv6 literals, with and without brackets, reach a listener on ::1 without a lookup.
TEST(ConnectBounds, IPv6Literals) {
    TListener listener("::1", 5);
    if (!listener.Ok()) GTEST_SKIP() << "this machine has no IPv6 loopback address (::1)";
    for (const std::string host : {"::1", "[::1]"}) {
        SCOPED_TRACE(host);
        TCRVioTcp vio(host, listener.Port());
        vio.SetResolver([](const std::string&, std::vector<TSocketAddress>&) {
            ADD_FAILURE() << "a literal is never looked up";
            return EAI_NONAME;
        });
        vio.Connect();
        EXPECT_EQ(vio.PeerAddress().Family(), AF_INET6);
        EXPECT_EQ(vio.PeerAddress().Text(), "::1");
    }
}

// The login is bounded as a whole: a server that takes the connection and then says nothing,
// or stops half-way, or never answers the TLS handshake, ends the connect at the time-out with
// 2003 and the system's reason, said once.
TEST(ConnectBounds, TheWholeLoginEndsAtTheTimeout) {
    struct Case {
        const char* name;
        TSslMode mode;
        std::function<void(TScriptedPeer&)> script;
    } cases[] = {
        {"no greeting", smDisabled, [](TScriptedPeer& p) { p.WaitForClose(20s); }},
        {"no answer to the login", smDisabled,
         [](TScriptedPeer& p) {
             p.SendPacket(0, Greeting());
             p.ReadPacket();
             p.WaitForClose(20s);
         }},
        {"no TLS handshake", smRequired,
         [](TScriptedPeer& p) {
             TGreetingFields g;
             g.Capabilities |= CLIENT_SSL;
             p.SendPacket(0, Greeting(g));
             p.ReadPacket();  // the SSL request; the ClientHello that follows is never answered
             p.WaitForClose(20s);
         }},
        {"a greeting sent a byte at a time", smDisabled,
         [](TScriptedPeer& p) {
             const Bytes greeting = Frame(0, Greeting());
             for (const uint8_t b : greeting) {
                 try {
                     p.Send({b});
                 } catch (const std::runtime_error&) {
                     return;  // the client gave up between two bytes: what it should do
                 }
                 if (p.WaitForClose(300ms)) return;
             }
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TScriptedServer server(c.script);
        TMySqlSession s;
        s._connectTimeout = 2;
        s.SSL_mode = c.mode;
        std::pair<int, std::string> error;
        const auto elapsed = Timed([&] { error = Failed(s, "127.0.0.1", server.Port()); });
        EXPECT_GE(elapsed, 1900ms);
        EXPECT_LT(elapsed, 6s);
        EXPECT_EQ(error.first, 2003);
        EXPECT_EQ(error.second, "Can't connect to MySQL server on '127.0.0.1' (110: Connection timed out)\r\n"
                                "The server took the connection but did not complete the login within the connect time-out (2 s).");
        s.net.Close();
        EXPECT_EQ(server.Join(), "");
    }
}

// CancelConnect, from another thread, ends a running connect at once: in the TCP handshake
// and while the login waits for the server.
TEST(ConnectBounds, CancelConnectEndsTheSessionsConnectAtOnce) {
    TBlackHole hole;
    ASSERT_TRUE(hole.Ok());
    TScriptedServer silent([](TScriptedPeer& p) { p.WaitForClose(20s); });
    for (const int port : {hole.Port(), silent.Port()}) {
        TMySqlSession s;
        s._connectTimeout = 30;
        std::thread canceller = CancelLater([&s] { s.CancelConnect(); }, 300ms);
        std::pair<int, std::string> error;
        const auto elapsed = Timed([&] { error = Failed(s, "127.0.0.1", port); });
        canceller.join();
        EXPECT_LT(elapsed, 1800ms) << "not at once";
        EXPECT_EQ(error, std::make_pair(2003, std::string("Can't connect to MySQL server on '127.0.0.1' "
                                                          "(125: Operation canceled)")));
        s.net.Close();
    }
    EXPECT_EQ(silent.Join(), "");
}

// A refused connect says its reason once, in the system's words.
TEST(ConnectBounds, ARefusedConnectSaysItOnce) {
    int port = 0;
    {
        // A port that was free a moment ago; nothing listens on it once the listener is gone.
        TListener taken("127.0.0.1", 1);
        ASSERT_TRUE(taken.Ok());
        port = taken.Port();
    }
    TMySqlSession s;
    EXPECT_EQ(Failed(s, "127.0.0.1", port),
              std::make_pair(2003, std::string("Can't connect to MySQL server on '127.0.0.1' (111: Connection refused)")));
}

// The Unix-socket transport: a session over a socket of the test, and the failures a socket
// path can have, each in the system's words under 2002.
TEST(UnixSocket, SessionAndFailures) {
    const std::string path = TempSocketPath("calvoro-scripted");
    {
        TScriptedServer server(
            [](TScriptedPeer& p) {
                p.SendPacket(0, Greeting());
                p.ReadPacket();
                p.Reply(OkPacket());
                EXPECT_EQ(p.ReadPacket(), Bytes{1});  // quit
            },
            path);
        TMySqlSession s;
        s.protocolType = MYSQL_PROTOCOL_SOCKET;
        s.SSL_mode = smRequired;  // a local socket counts as secure: no TLS asked for, none needed
        s.Connect("", "u", CLIENT_FOUND_ROWS, path, 0, "", "pw");
        EXPECT_TRUE(s.IsUnixSocket());
        EXPECT_EQ(s.hostInfo, "Localhost via UNIX socket");
        EXPECT_FALSE(s.clientFlag & CLIENT_SSL);
        s.Close();
        EXPECT_EQ(server.Join(), "");
    }
    // A socket file that no one listens on any more.
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
        ::unlink(path.c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ::close(fd);
    }
    const std::string tooLong = "/tmp/" + std::string(120, 's');
    struct Case {
        const char* name;
        MYSQL_PROTOCOL_TYPE protocol;
        std::string host, socket;
        std::string message;
    } cases[] = {
        {"no such file", MYSQL_PROTOCOL_SOCKET, "", "/nonexistent/calvoro.sock",
         "Can't connect to local MySQL server through socket '/nonexistent/calvoro.sock' (2: No such file or directory)"},
        {"nobody listens", MYSQL_PROTOCOL_SOCKET, "", path,
         "Can't connect to local MySQL server through socket '" + path + "' (111: Connection refused)"},
        {"a path too long for a socket", MYSQL_PROTOCOL_SOCKET, "", tooLong,
         "Can't connect to local MySQL server through socket '" + tooLong.substr(0, 64) + "' (36: File name too long)"},
        {"the default protocol takes the socket for localhost", MYSQL_PROTOCOL_DEFAULT, "localhost",
         "/nonexistent/calvoro.sock",
         "Can't connect to local MySQL server through socket '/nonexistent/calvoro.sock' (2: No such file or directory)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TMySqlSession s;
        s.protocolType = c.protocol;
        EXPECT_EQ(Failed(s, c.host, 0, c.socket), std::make_pair(2002, c.message));
    }
    ::unlink(path.c_str());

    // Without a socket path, localhost stays TCP.
    TMySqlSession tcp;
    tcp._connectTimeout = 2;
    TListener listener("127.0.0.1", 5);
    const auto [code, message] = Failed(tcp, "localhost", 1);
    EXPECT_EQ(code, 2003) << message;
    EXPECT_EQ(tcp.hostInfo, "localhost via TCP/IP");
}

// unix_socket: an empty answer over a Unix socket, where the server knows the peer's user;
// refused over TCP, before anything is sent, with what to do.
TEST(UnixSocket, TheUnixSocketPlugin) {
    auto plugin = TAuthPlugin::Create("unix_socket");
    ASSERT_NE(plugin, nullptr);
    TAuthContext local;
    local.UnixSocket = true;
    local.Password = "ignored";
    EXPECT_EQ(plugin->FirstAnswer(local, "nonce"), "");

    const Bytes request = Cat({{0xFE}, B("unix_socket"), {0}});
    const auto script = [&](bool answered) {
        return [&request, answered](TScriptedPeer& p) {
            TGreetingFields g;
            g.CapabilitiesExt = CLIENT_PLUGIN_AUTH >> 16;
            g.Plugin = "mysql_native_password";
            p.SendPacket(0, Greeting(g));
            p.ReadPacket();
            p.Reply(request);
            if (!answered) {
                EXPECT_TRUE(p.WaitForClose(5s));
                return;
            }
            EXPECT_EQ(p.ReadPacket(), Bytes{}) << "an empty answer";
            p.Reply(OkPacket());
            EXPECT_EQ(p.ReadPacket(), Bytes{1});
        };
    };
    const std::string path = TempSocketPath("calvoro-unix-plugin");
    {
        TScriptedServer server(script(true), path);
        TMySqlSession s;
        s.protocolType = MYSQL_PROTOCOL_SOCKET;
        s.Connect("", "root", CLIENT_FOUND_ROWS, path, 0, "", "");
        EXPECT_EQ(s.authPluginName, "unix_socket");
        s.Close();
        EXPECT_EQ(server.Join(), "");
    }
    TScriptedServer server(script(false));
    TMySqlSession s;
    s.SSL_mode = smDisabled;
    EXPECT_EQ(Failed(s, "127.0.0.1", server.Port()),
              std::make_pair(2061, std::string("Authentication plugin 'unix_socket' reported error\r\nthe account logs in "
                                               "as the operating-system user of a local connection, which only a Unix "
                                               "socket has. Connect through the server's socket (--socket PATH, or the "
                                               "Socket field of the connect dialog) as that user.")));
    s.net.Close();
    EXPECT_EQ(server.Join(), "");
}
