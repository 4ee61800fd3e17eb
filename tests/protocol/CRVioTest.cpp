// The transport: read-ahead and write-retry algorithms on a memory transport, and the TCP
// transport over loopback (options, time-outs, name resolution, closed peers).
#include "protocol/CRVioTcp.h"
#include "support/MemoryVio.h"
#include "support/ScriptedServer.h"

#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

using namespace calvoro::protocol;
using namespace calvoro::test;
using namespace std::chrono_literals;

namespace {

Bytes Pattern(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i);
    return b;
}

TSocketAddress Loopback() {
    TSocketAddress a;
    EXPECT_TRUE(ParseAddressLiteral("127.0.0.1", a));
    return a;
}

// A port on 127.0.0.1 where nothing listens.
int ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

int IntOption(int fd, int level, int name) {
    int v = -1;
    socklen_t len = sizeof v;
    EXPECT_EQ(getsockopt(fd, level, name, &v, &len), 0);
    return v;
}

long ReceiveTimeout(int fd) {
    timeval tv{};
    socklen_t len = sizeof tv;
    EXPECT_EQ(getsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, &len), 0);
    return tv.tv_sec;
}

// A transport whose sends accept the scripted counts, one per call (0: a failed send).
class TScriptedWriteVio : public TMemoryVio {
public:
    std::vector<size_t> Accept;
    size_t WriteNoWait(const uint8_t* buffer, size_t offset, size_t count) override {
        if (Accept.empty()) return 0;
        const size_t n = std::min(count, Accept.front());
        Accept.erase(Accept.begin());
        return TMemoryVio::WriteNoWait(buffer, offset, n);
    }
};

}  // namespace

// Small reads come from one 16 KiB receive; large ones go straight to the caller.
TEST(CRVio, ReadAhead) {
    struct Case {
        const char* name;
        std::vector<std::pair<size_t, size_t>> reads;  // {count asked, MaxChunk of the transport}
        std::vector<size_t> delivered;
        std::vector<size_t> receives;  // counts asked of the system
    } cases[] = {
        {"5 then 20 bytes sent at once: one receive", {{5, SIZE_MAX}, {20, SIZE_MAX}}, {5, 20}, {16384}},
        {"3000 after 100 buffered: the 100, then 2900 directly", {{1, 101}, {3000, SIZE_MAX}}, {1, 3000}, {16384, 2900}},
        {"a small read served in pieces", {{1000, 300}}, {1000}, {16384, 700, 400, 100}},
        {"2048 and more: no read-ahead", {{2048, SIZE_MAX}, {1, SIZE_MAX}}, {2048, 1}, {2048, 16384}},
        {"the peer closes in the middle: a short count", {{5000, SIZE_MAX}, {10, SIZE_MAX}}, {4000, 0}, {5000, 1000, 16384}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TMemoryVio vio(Pattern(4000));
        vio.Connect();
        Bytes out(8000);
        size_t at = 0;
        for (size_t i = 0; i < c.reads.size(); ++i) {
            vio.MaxChunk = c.reads[i].second;
            const size_t n = vio.Read(out.data(), at, c.reads[i].first);
            EXPECT_EQ(n, c.delivered[i]);
            at += n;
        }
        EXPECT_EQ(vio.ReceiveSizes, c.receives);
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + long(at), Pattern(4000).begin()));
    }
}

// Failed sends are counted over the whole call; the third ends it.
TEST(CRVio, WriteRetries) {
    struct Case {
        std::vector<size_t> accept;
        size_t written;
    } cases[] = {
        {{20}, 20},
        {{5, 0, 5, 0, 10}, 20},
        {{5, 0, 5, 0, 0, 10}, 10},
        {{0, 0, 0, 20}, 0},
    };
    for (const auto& c : cases) {
        const Bytes data = Pattern(20);
        TScriptedWriteVio vio;
        vio.Accept = c.accept;
        EXPECT_EQ(vio.Write(data.data(), 0, 20), c.written);
        EXPECT_EQ(vio.Output, Bytes(data.begin(), data.begin() + long(c.written)));
    }
}

TEST(CRVio, WaitForDataIsNotOnTheBase) {
    TMemoryVio vio;
    EXPECT_THROW(vio.WaitForData(0), EInternalError);
}

TEST(CRVioTcp, ConnectSetsOptionsAndTimeout) {
    TScriptedServer server([](TScriptedPeer& p) {
        p.Send(B("hello"));
        EXPECT_EQ(p.ReadPacket(), B("ping"));
        p.WaitForClose(5s);
    });
    TCRVioTcp vio("127.0.0.1", server.Port());
    int lookups = 0;
    vio.SetResolver([&](const std::string&, std::vector<TSocketAddress>&) { return ++lookups, 1; });
    vio.Connect();  // default time-out 30 s
    const int fd = vio.GetSocket();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(lookups, 0) << "a dotted address is never looked up";
    EXPECT_NE(IntOption(fd, IPPROTO_TCP, TCP_NODELAY), 0);
    EXPECT_NE(IntOption(fd, SOL_SOCKET, SO_KEEPALIVE), 0);
    EXPECT_EQ(ReceiveTimeout(fd), 30);
    vio.SetTimeout(7);
    EXPECT_EQ(ReceiveTimeout(fd), 7);
    // The same value again makes no socket call: a value set behind its back stays.
    const timeval three{3, 0};
    ASSERT_EQ(setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &three, sizeof three), 0);
    vio.SetTimeout(7);
    EXPECT_EQ(ReceiveTimeout(fd), 3);
    vio.SetTimeout(0);
    EXPECT_EQ(ReceiveTimeout(fd), 0);  // no time-out

    uint8_t buf[5];
    EXPECT_EQ(vio.Read(buf, 0, 5), 5u);
    EXPECT_EQ(Bytes(buf, buf + 5), B("hello"));
    const Bytes ping = Frame(0, B("ping"));
    EXPECT_EQ(vio.Write(ping.data(), 0, ping.size()), ping.size());
    EXPECT_THROW(vio.Connect(), EInternalError);
    vio.Close();
    EXPECT_EQ(vio.GetSocket(), -1);
    vio.Close();  // closed already: nothing
    EXPECT_EQ(vio.Write(ping.data(), 0, ping.size()), 0u);
    EXPECT_EQ(server.Join(), "");
}

TEST(CRVioTcp, ReceiveTimeoutAndClosedPeer) {
    TScriptedServer server([](TScriptedPeer& p) {
        p.WaitForClose(20s);  // silent, longer than the bound below: only the client's time-out ends its read
    });
    TCRVioTcp vio("127.0.0.1", server.Port());
    vio.SetTimeout(1);
    vio.Connect();
    uint8_t buf[4];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(vio.Read(buf, 0, 4), 0u);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // The 1 s time-out, with room for a loaded machine under sanitizers.
    EXPECT_GE(elapsed, 900ms);
    EXPECT_LT(elapsed, 10s);
    EXPECT_EQ(vio.LastError(), "Socket error on read. WSAGetLastError return 11($B)");
    vio.Close();
    EXPECT_EQ(server.Join(), "");

    TScriptedServer closing([](TScriptedPeer& p) { p.Send(B("abc")); });  // then closes
    TCRVioTcp vio2("127.0.0.1", closing.Port());
    vio2.Connect();
    uint8_t buf2[10];
    EXPECT_EQ(vio2.Read(buf2, 0, 10), 3u);
    EXPECT_EQ(vio2.LastError(), "") << "an orderly close is no error";
    EXPECT_EQ(closing.Join(), "");

    // A transport can be connected again after Close.
    TScriptedServer again([](TScriptedPeer& p) { p.Send(B("x")); });
    vio2.Close();
    TCRVioTcp vio3("127.0.0.1", again.Port());
    vio3.Connect();
    vio3.Close();
    EXPECT_EQ(again.Join(), "");
}

TEST(CRVioTcp, WaitForData) {
    TScriptedServer server([](TScriptedPeer& p) {
        std::this_thread::sleep_for(200ms);
        p.Send(B("x"));
        p.WaitForClose(5s);
    });
    TCRVioTcp vio("127.0.0.1", server.Port());
    vio.Connect();
    EXPECT_FALSE(vio.WaitForData(0));
    EXPECT_TRUE(vio.WaitForData(5));
    vio.Close();
    EXPECT_EQ(server.Join(), "");
}

TEST(CRVioTcp, ConnectFailures) {
    const int port = ClosedPort();
    struct Case {
        const char* name;
        std::string host;
        THostResolveFunc resolver;
        int code;
        std::string lastError, systemError;
    } cases[] = {
        {"nothing listens", "127.0.0.1", nullptr, 2003, "Socket error on connect. WSAGetLastError return 111($6F)",
         "111: Connection refused"},
        {"name not found", "nowhere.test",
         [](const std::string&, std::vector<TSocketAddress>&) { return EAI_NONAME; }, 2005,
         "Socket error on connect. WSAGetLastError return -2($FFFFFFFE)", "-2: Name or service not known"},
        {"name found, nothing listens", "somewhere.test",
         [](const std::string&, std::vector<TSocketAddress>& a) { a = {Loopback()}; return 0; }, 2003,
         "Socket error on connect. WSAGetLastError return 111($6F)", "111: Connection refused"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TCRVioTcp vio(c.host, port);
        if (c.resolver) vio.SetResolver(c.resolver);
        try {
            vio.Connect();
            ADD_FAILURE() << "connected";
        } catch (const SocketException& e) {
            EXPECT_EQ(e.ErrorCode(), c.code);
        }
        EXPECT_EQ(vio.LastError(), c.lastError);
        EXPECT_EQ(vio.SystemError(), c.systemError);
        EXPECT_EQ(vio.GetSocket(), -1);
    }
}

// Names resolve on a helper thread bounded by the time-out; with a time-out of 0 in the
// calling thread.
TEST(CRVioTcp, HostNameResolution) {
    TScriptedServer server([](TScriptedPeer& p) { p.WaitForClose(5s); });
    for (const int timeout : {0, 5}) {
        std::thread::id resolvedOn;
        TCRVioTcp vio("db.test", server.Port());
        vio.SetTimeout(timeout);
        vio.SetResolver([&](const std::string& name, std::vector<TSocketAddress>& a) {
            EXPECT_EQ(name, "db.test");
            resolvedOn = std::this_thread::get_id();
            a = {Loopback()};
            return 0;
        });
        if (timeout == 0) {
            vio.Connect();
            EXPECT_EQ(resolvedOn, std::this_thread::get_id());
            vio.Close();
        } else {
            vio.Connect();
            EXPECT_NE(resolvedOn, std::this_thread::get_id());
        }
    }
    EXPECT_EQ(server.Join(), "");
}

TEST(CRVioTcp, SlowResolutionTimesOut) {
    // The lookup answers only when released; the connect must give up after 1 s and ignore
    // the late answer.
    auto release = std::make_shared<std::atomic<bool>>(false);
    auto answered = std::make_shared<std::atomic<bool>>(false);
    TCRVioTcp vio("slow.test", 1);
    vio.SetTimeout(1);
    vio.SetResolver([release, answered](const std::string&, std::vector<TSocketAddress>& a) {
        while (!*release) std::this_thread::sleep_for(5ms);
        a = {Loopback()};
        *answered = true;
        return 0;
    });
    const auto start = std::chrono::steady_clock::now();
    try {
        vio.Connect();
        ADD_FAILURE() << "connected";
    } catch (const SocketException& e) {
        EXPECT_EQ(e.ErrorCode(), 2005);
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 950ms);
    EXPECT_LT(elapsed, 10s);  // generous: a loaded machine under sanitizers
    EXPECT_EQ(vio.LastError(), "Connection timed out");
    EXPECT_EQ(vio.SystemError(), "110: Connection timed out");
    EXPECT_EQ(vio.GetSocket(), -1);
    *release = true;
    for (int i = 0; i < 200 && !*answered; ++i) std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(*answered);
    EXPECT_EQ(vio.GetSocket(), -1) << "the late answer changes nothing";
}
