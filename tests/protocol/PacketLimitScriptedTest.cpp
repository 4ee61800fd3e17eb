// A hostile server announces a result row of 2 GiB in continuation packets (or, compressed,
// in packets that inflate to 16 MiB each). The client must end in error 2020 "Got packet
// bigger than 'max_allowed_packet'" with its packet buffer bounded by the limit, for text
// rows, binary rows of a prepared statement and rows skipped unread, plain and compressed;
// and at the default limit of 1 GiB the error must come from the header of the packet that
// crosses it, before any of that packet's bytes are sent.
#include "protocol/MySqlApiDirect.h"
#include "support/Packets.h"
#include "support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <stdexcept>

using namespace calvoro::protocol;
using namespace calvoro::test;

namespace {

constexpr size_t Full = TMySqlNet::MaxPacketLength;
constexpr uint64_t Announced = uint64_t(1) << 31;  // the row: 128 full packets and 128 bytes
constexpr size_t MiB = size_t(1) << 20;

const TColumnSpec Blob{.Name = "b", .Type = FIELD_TYPE_LONG_BLOB, .Length = 0xFFFFFFFF};

enum TRead { rdText, rdBinary, rdSkip };

// The first bytes of the row: a text row's length-coded value, or a binary row's header,
// NULL bitmap and length-coded value.
Bytes RowPrefix(TRead read) {
    const Bytes length = Cat({{0xFE}, LE(Announced - 10, 8)});
    return read == rdBinary ? Cat({{0, 0}, length}) : length;
}

const Bytes& Zeros() {
    static const Bytes zeros(Full, 0);
    return zeros;
}

// Writes the server's side of the stream: plain, or in compressed packets.
class THostileSender {
public:
    THostileSender(TScriptedPeer& peer, bool compress) : FPeer(peer), FCompress(compress) {}

    // The client's next request; the answer's compressed sequence starts after it.
    void ReadRequest() {
        if (FCompress)
            FPeer.ReadCompressedPacket();
        else
            FPeer.ReadPacket();
        FSeq = 1;
    }

    void Packets(const Bytes& stream) {
        if (FCompress)
            FPeer.Send(CompressedFrame(FSeq++, stream, false));
        else
            FPeer.Send(stream);
    }

    // The row's packets, full ones first, as long as the client takes them; full: how many
    // full packets to send before the last one (fewer when the client goes away). Returns the
    // payload bytes that went out.
    uint64_t Row(const Bytes& prefix, uint8_t seq, size_t full, bool last) {
        uint64_t sent = 0;
        try {
            for (size_t i = 0; i < full; ++i) {
                const Bytes head = Cat({LE(Full, 3), {seq++}, i == 0 ? prefix : Bytes{}});
                SendPlain(head, Full - (head.size() - 4));
                sent += Full;
            }
            if (last) {
                const size_t rest = size_t(Announced - uint64_t(full) * Full);
                SendPlain(Cat({LE(rest, 3), {seq++}}), rest);
                Packets(Frame(seq, Eof()));
                sent += rest;
            }
        } catch (const std::runtime_error&) {
            // The client closed the connection: what it does then is the test's to check.
        }
        return sent;
    }

private:
    // head (a plain header and the payload's first bytes), then zeros up to the packet's end.
    void SendPlain(const Bytes& head, size_t zeros) {
        if (!FCompress) {
            FPeer.Send(head);
            FPeer.Send(Zeros().data(), zeros);
            return;
        }
        // A compressed packet inflates to at most 0xFFFFFF bytes: the head and all but the
        // last few zeros deflated, the rest stored.
        const size_t first = std::min(zeros, Full - head.size());
        FPeer.Send(Deflated(head, first));
        if (zeros > first) FPeer.Send(CompressedFrame(FSeq++, Bytes(zeros - first, 0), false));
    }

    // One deflated compressed packet of head and zeros; deflating 16 MiB costs, so the frame
    // is made once per head and only its sequence number changes.
    Bytes Deflated(const Bytes& head, size_t zeros) {
        if (head != FDeflatedHead || zeros != FDeflatedZeros) {
            Bytes plain = head;
            plain.resize(head.size() + zeros, 0);
            FDeflated = CompressedFrame(0, plain, true);
            FDeflatedHead = head;
            FDeflatedZeros = zeros;
        }
        FDeflated[3] = FSeq++;
        return FDeflated;
    }

    TScriptedPeer& FPeer;
    bool FCompress;
    uint8_t FSeq = 1;  // compressed sequence: an answer follows the client's request, 0
    Bytes FDeflated, FDeflatedHead;
    size_t FDeflatedZeros = 0;
};

struct TCase {
    const char* name;
    TRead read;
    bool compress;
    unsigned long limit;  // 0: the default
};

// Login, then the statement; the server answers with the 2 GiB row (or, at the default limit,
// with its first 1 GiB and the header of the packet past it).
class THostileServer {
public:
    explicit THostileServer(const TCase& c)
        : FCase(c), FServer([this](TScriptedPeer& peer) { Script(peer); }) {}

    int Port() const { return FServer.Port(); }
    std::string Join() { return FServer.Join(); }
    std::atomic<uint64_t> Sent{0};
    std::atomic<bool> ClosedBeforePayload{false};

private:
    void Script(TScriptedPeer& peer) {
        TGreetingFields g;
        if (FCase.compress) g.Capabilities |= CLIENT_COMPRESS;
        peer.SendPacket(0, Greeting(g));
        peer.ReadPacket();
        peer.Reply(OkPacket());
        THostileSender send(peer, FCase.compress);
        send.ReadRequest();  // the query, or the prepare
        if (FCase.read == rdBinary) {
            send.Packets(::calvoro::test::Packets(1, {Cat({{0}, LE(1, 4), LE(1, 2), LE(0, 2), {0}, LE(0, 2)}),
                                                      ColumnDef(Blob), Eof()}));
            send.ReadRequest();  // the execution
        }
        send.Packets(::calvoro::test::Packets(1, {{1}, ColumnDef(Blob), Eof()}));
        if (FCase.limit != 0) {
            Sent = send.Row(RowPrefix(FCase.read), 4, Announced / Full, true);
            return;
        }
        // 64 full packets are 64 bytes short of 1 GiB; the 65th crosses it.
        Sent = send.Row(RowPrefix(FCase.read), 4, 64, false);
        peer.Send(Cat({LE(Full, 3), {68}}));
        ClosedBeforePayload = peer.WaitForClose(std::chrono::seconds(30));
    }

    TCase FCase;
    TScriptedServer FServer;
};

// Connects, runs the statement and reads (or skips) the row; the error number it ends with.
int ReadRow(TMySQLAPIDirect& api, PMYSQL_CON con, TRead read) {
    if (read == rdBinary) {
        PMYSQL_STMT st = api.mysql_stmt_init(con);
        const std::string sql = "SELECT b FROM t";
        int status = api.mysql_stmt_prepare(st, sql.data(), sql.size());
        if (status == 0) status = api._mysql_stmt_execute(st, {}, false);
        if (status == 0) status = api._mysql_stmt_bind_result(st);
        PMYSQL_ROW row = nullptr;
        if (status == 0) status = api._mysql_stmt_fetch(st, row);
        api.mysql_stmt_close(st);
        return status;
    }
    const std::string sql = "SELECT b FROM t";
    if (const int status = api.mysql_real_query(con, sql.data(), sql.size())) return status;
    PMYSQL_RES res = api.mysql_use_result(con);
    if (!res) return -1;
    if (read == rdText && api.mysql_fetch_row(res)) {
        api.mysql_free_result(res);
        return 0;  // the row was taken whole
    }
    const int fetched = int(api.mysql_errno(con));
    api.mysql_free_result(res);  // skips the rest; a failure is stored in the connection
    return fetched ? fetched : int(api.mysql_errno(con));
}

struct TClient {
    explicit TClient(const TCase& c) : con(api.mysql_init(nullptr)) {
        const int five = 5, disabled = smDisabled;
        api.mysql_options(con, MYSQL_OPT_CONNECT_TIMEOUT, &five);
        api.mysql_options(con, MYSQL_OPT_SSL_MODE, &disabled);
        if (c.limit) {
            EXPECT_EQ(api.mysql_options(con, MYSQL_OPT_MAX_ALLOWED_PACKET, &c.limit), 0);
        }
        flags = CLIENT_FOUND_ROWS | (c.compress ? CLIENT_COMPRESS : 0u);
    }
    ~TClient() { api.mysql_close(con); }
    TMySQLAPIDirect api;
    PMYSQL_CON con;
    uint32_t flags;
};

void Check(const TCase& c) {
    THostileServer server(c);
    TClient client(c);
    ASSERT_NE(client.api.mysql_real_connect(client.con, "127.0.0.1", "u", "pw", "", unsigned(server.Port()), "",
                                            client.flags),
              nullptr)
        << client.api.mysql_error(client.con);
    client.api.SetTimeout(client.con, 60);
    const int error = ReadRow(client.api, client.con, c.read);
    EXPECT_EQ(error, CR_NET_PACKET_TOO_LARGE) << client.api.mysql_error(client.con);
    const size_t limit = c.limit ? c.limit : TMySqlNet::DefaultMaxAllowedPacket;
    EXPECT_LE(client.con->net.Buffer().Capacity(), limit + limit / 2) << "the packet buffer grew past the limit";
    EXPECT_EQ(client.api.mysql_ping(client.con), CR_SERVER_LOST) << "the connection was given up";
    EXPECT_EQ(server.Join(), "");
    if (c.limit == 0) {
        EXPECT_TRUE(server.ClosedBeforePayload) << "the client waited for the bytes of the packet past the limit";
        EXPECT_EQ(server.Sent, 64 * Full);
    } else if (!c.compress) {
        // Whatever the socket buffers took beyond the limit, far from the 2 GiB announced.
        EXPECT_LT(server.Sent, c.limit + 4 * Full);
    }
}

}  // namespace

TEST(PacketLimitScripted, AnnouncedRowOfTwoGiB) {
    const TCase cases[] = {
        {"text row", rdText, false, 24 * MiB},
        {"binary row", rdBinary, false, 24 * MiB},
        {"skipped row", rdSkip, false, 24 * MiB},
        {"text row, compressed", rdText, true, 24 * MiB},
        {"binary row, compressed", rdBinary, true, 24 * MiB},
        // Compressed rows are skipped a packet at a time, refused at their first packet.
        {"skipped row, compressed", rdSkip, true, 4 * MiB},
        {"text row, compressed, limit below one packet", rdText, true, 4 * MiB},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        Check(c);
    }
}

// The default limit, 1 GiB: the first 1 GiB of the row goes by, the header of the packet that
// crosses the limit ends the read at once. The row is skipped, which reads it through a small
// piece buffer: the same limit as for a row that is kept, without 1 GiB of memory for the test.
TEST(PacketLimitScripted, DefaultLimitRefusesFromTheHeader) {
    Check({"skipped row, default limit", rdSkip, false, 0});
}
