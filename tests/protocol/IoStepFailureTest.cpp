// Every I/O step of a conversation fails in turn. Each conversation (logins, queries whose
// rows are read or skipped, a prepared statement, the compressed protocol) runs once through
// the client API over a memory transport that counts its reads and writes; then it runs again
// with step 1, 2, … n failing: the transport reset, cut off halfway through the step, or
// closed by the server. Every run must end in the client's "lost connection" error stored
// where the caller looks for it, never in a success, another exception, a hang or a crash
// (AddressSanitizer watches the rest), and the connection must stay failed afterwards.
#include "protocol/MySqlApiDirect.h"
#include "support/MemoryVio.h"
#include "support/Packets.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace calvoro::protocol;
using namespace calvoro::test;

namespace {

constexpr uint32_t SmallPacket = 96;  // rows longer than this continue in further packets (requests do not)

const TColumnSpec Id{.Name = "id", .Type = FIELD_TYPE_LONGLONG, .Length = 20};
const TColumnSpec Note{.Name = "note", .Type = FIELD_TYPE_VAR_STRING, .Length = 1000};
const std::string LongNote(250, 'n');  // three packets at SmallPacket

struct TConnection;
using TRun = std::function<int(TConnection&)>;

struct TConversation {
    const char* name;
    std::vector<Bytes> turns;  // the server's answers: the greeting, then one per request
    uint32_t flags = CLIENT_FOUND_ROWS | CLIENT_MULTI_STATEMENTS;
    TRun run;                  // after the login; 0 when all went well, else the error number
};

// A connection handle whose transport plays the server's turns and fails as asked.
struct TConnection {
    TConnection(const TConversation& c, size_t maxChunk, size_t failAt, TMemoryVio::TFault fault)
        : con(new TMySqlSession(SmallPacket)) {
        auto v = std::make_unique<TMemoryVio>(c.turns.front());
        v->Turns.assign(c.turns.begin() + 1, c.turns.end());
        v->MaxChunk = maxChunk;
        v->FailAt = failAt;
        v->Fault = fault;
        vio = v.get();
        con->net.SetVio(std::move(v));
        con->protocolType = MYSQL_PROTOCOL_SOCKET;  // no transport of its own: the one given
    }
    ~TConnection() {
        if (stmt) api.mysql_stmt_close(stmt);
        api.mysql_close(con);
    }
    int Login(uint32_t flags) {
        return api.mysql_real_connect(con, "127.0.0.1", "u", "pw", "", 3306, "", flags) ? 0 : int(api.mysql_errno(con));
    }
    int Error() { return int(api.mysql_errno(con)); }

    TMySQLAPIDirect api;
    PMYSQL_CON con;
    PMYSQL_STMT stmt = nullptr;
    TMemoryVio* vio;
    std::vector<std::string> values;  // what the run read, for the run without failures
};

Bytes Switch(const std::string& plugin, const Bytes& data) { return Cat({{0xFE}, B(plugin), {0}, data, {0}}); }

// The text result of "SELECT id, note FROM t": three rows, the second longer than a packet.
Bytes TextResult() {
    return Packets(1, {{2}, ColumnDef(Id), ColumnDef(Note), Eof(), TextRow({"1", "one"}), TextRow({"2", LongNote}),
                       TextRow({"3", std::nullopt}), Eof()},
                   SmallPacket);
}

// Reads every row of the pending text result, or only the first and frees the rest unread.
int ReadText(TConnection& c, bool everyRow) {
    const std::string sql = "SELECT id, note FROM t";
    if (const int e = c.api.mysql_real_query(c.con, sql.data(), sql.size())) return e;
    PMYSQL_RES res = c.api.mysql_use_result(c.con);
    if (!res) return c.Error() ? c.Error() : -1;
    while (PMYSQL_ROW row = c.api.mysql_fetch_row(res)) {
        for (unsigned i = 0; i < 2; ++i) c.values.push_back(c.api._mysql_fetch_value_str(row, i));
        if (!everyRow) break;
    }
    int error = c.Error();
    c.api.mysql_free_result(res);  // drains what is left; a failure is stored in the connection
    return error ? error : c.Error();
}

const TColumnSpec Param{.Name = "?", .Type = FIELD_TYPE_VAR_STRING, .Length = 0};

// "SELECT id, note FROM t WHERE id > ?" prepared, executed with 0, its binary rows read.
int RunPrepared(TConnection& c) {
    c.stmt = c.api.mysql_stmt_init(c.con);
    const std::string sql = "SELECT id, note FROM t WHERE id > ?";
    if (c.api.mysql_stmt_prepare(c.stmt, sql.data(), sql.size())) return int(c.api.mysql_stmt_errno(c.stmt));
    const TParamDescs params{{datatypes::dtInteger, pdInput, false, int64_t(0)}};
    if (c.api._mysql_stmt_execute(c.stmt, params, false)) return int(c.api.mysql_stmt_errno(c.stmt));
    for (;;) {
        if (c.api._mysql_stmt_bind_result(c.stmt)) return int(c.api.mysql_stmt_errno(c.stmt));
        PMYSQL_ROW row = nullptr;
        const int status = c.api._mysql_stmt_fetch(c.stmt, row);
        if (status == 100) return 0;
        if (status) return status;
        c.values.push_back(std::to_string(*c.api._mysql_stmt_fetch_value_ptr(c.stmt, 0)));
        c.values.push_back(c.api._mysql_fetch_value_str(row, 1));
    }
}

Bytes PreparedAnswer() {
    return Packets(1, {Cat({{0}, LE(7, 4), LE(2, 2), LE(1, 2), {0}, LE(0, 2)}), ColumnDef(Param), Eof(), ColumnDef(Id),
                       ColumnDef(Note), Eof()});
}

Bytes ExecuteAnswer() {
    return Packets(1, {{2}, ColumnDef(Id), ColumnDef(Note), Eof(), Cat({{0, 0}, LE(1, 8), LenEnc("one")}),
                       Cat({{0, 0}, LE(2, 8), LenEnc(LongNote)}), Eof()},
                   SmallPacket);
}

// The plain stream in two compressed packets, the first deflated, the second stored.
Bytes Compressed(const Bytes& plain) {
    const size_t half = plain.size() / 2;
    return Cat({CompressedFrame(1, Bytes(plain.begin(), plain.begin() + long(half)), true),
                CompressedFrame(2, Bytes(plain.begin() + long(half), plain.end()), false)});
}

TGreetingFields PluginGreeting() {
    TGreetingFields g;
    g.CapabilitiesExt = CLIENT_PLUGIN_AUTH >> 16;
    g.Plugin = "mysql_native_password";
    return g;
}

TGreetingFields CompressGreeting() {
    TGreetingFields g;
    g.Capabilities |= CLIENT_COMPRESS;
    return g;
}

const std::vector<std::string> TextValues{"1", "one", "2", LongNote, "3", ""};

const TConversation Conversations[] = {
    {"login", {Frame(0, Greeting()), Frame(2, OkPacket())}, CLIENT_FOUND_ROWS, [](TConnection&) { return 0; }},
    {"login with an authentication switch",
     {Frame(0, Greeting(PluginGreeting())), Frame(2, Switch("mysql_native_password", B("ABCDEFGHIJKLMNOPQRST"))),
      Frame(4, OkPacket())},
     CLIENT_FOUND_ROWS,
     [](TConnection&) { return 0; }},
    {"query, every row read",
     {Frame(0, Greeting()), Frame(2, OkPacket()), TextResult()},
     CLIENT_FOUND_ROWS,
     [](TConnection& c) { return ReadText(c, true); }},
    {"query, rows skipped",
     {Frame(0, Greeting()), Frame(2, OkPacket()), TextResult()},
     CLIENT_FOUND_ROWS,
     [](TConnection& c) { return ReadText(c, false); }},
    {"prepared statement",
     {Frame(0, Greeting()), Frame(2, OkPacket()), PreparedAnswer(), ExecuteAnswer()},
     CLIENT_FOUND_ROWS,
     RunPrepared},
    {"compressed query",
     {Frame(0, Greeting(CompressGreeting())), Frame(2, OkPacket()), Compressed(TextResult())},
     CLIENT_FOUND_ROWS | CLIENT_COMPRESS,
     [](TConnection& c) { return ReadText(c, true); }},
};

int Converse(TConnection& c, const TConversation& conversation) {
    if (const int e = c.Login(conversation.flags)) return e;
    return conversation.run(c);
}

const char* FaultName(TMemoryVio::TFault f) {
    switch (f) {
        case TMemoryVio::fkFail: return "reset";
        case TMemoryVio::fkShort: return "cut off";
        case TMemoryVio::fkClose: return "closed";
    }
    return "?";
}

}  // namespace

TEST(IoStepFailure, EveryStepOfEveryConversation) {
    for (const TConversation& conversation : Conversations) {
        // Whole turns at once, and receives of a few bytes that cut every packet apart.
        for (const size_t maxChunk : {SIZE_MAX, size_t(5)}) {
            SCOPED_TRACE(testing::Message() << conversation.name << ", receives of at most " << maxChunk << " bytes");
            size_t steps;
            {
                TConnection c(conversation, maxChunk, 0, TMemoryVio::fkFail);
                ASSERT_EQ(Converse(c, conversation), 0) << c.api.mysql_error(c.con);
                if (std::string(conversation.name).starts_with("query, every") ||
                    std::string(conversation.name).starts_with("compressed")) {
                    EXPECT_EQ(c.values, TextValues);
                }
                if (std::string(conversation.name).starts_with("prepared")) {
                    EXPECT_EQ(c.values, (std::vector<std::string>{"1", "one", "2", LongNote}));
                }
                EXPECT_TRUE(c.vio->Turns.empty()) << "every answer was read";
                steps = c.vio->Steps;
            }
            ASSERT_GE(steps, 3u);
            for (const auto fault : {TMemoryVio::fkFail, TMemoryVio::fkShort, TMemoryVio::fkClose}) {
                for (size_t step = 1; step <= steps; ++step) {
                    SCOPED_TRACE(testing::Message() << FaultName(fault) << " at step " << step << " of " << steps);
                    TConnection c(conversation, maxChunk, step, fault);
                    int error = 0;
                    try {
                        error = Converse(c, conversation);
                    } catch (const std::exception& e) {
                        ADD_FAILURE() << "raised instead of storing the error: " << e.what();
                        continue;
                    }
                    EXPECT_EQ(error, CR_SERVER_LOST);
                    EXPECT_NE(c.api.mysql_ping(c.con), 0) << "the failed connection answered";
                }
            }
        }
    }
}
