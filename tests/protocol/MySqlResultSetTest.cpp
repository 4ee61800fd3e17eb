// Reading the answer to a query on canned bytes: OK packets, result-set headers with their
// column definitions, unbuffered rows joined across continuation packets, draining without
// keeping rows, local-file uploads, and malformed answers.
#include "protocol/MySqlResultSet.h"
#include "protocol/MySqlSession.h"
#include "support/Raised.h"
#include "support/SessionOverMemory.h"
#include "support/TempFile.h"

#include <gtest/gtest.h>


using namespace calvoro::protocol;
using namespace calvoro::test;

namespace {

// A logged-in session that has just sent a query; the canned answer starts at sequence 1.
struct TQuery : TSessionOverMemory {
    explicit TQuery(const Bytes& answer, uint32_t maxPacket = TMySqlNet::MaxPacketLength, bool protocol41 = true,
                    std::string_view sql = "SELECT")
        : TSessionOverMemory(answer, maxPacket) {
        LoggedIn(protocol41);
        session.SimpleCommand(scQuery, sql, true);
    }
    // Reads the answer and opens its rows for unbuffered reading, as mysql_use_result does.
    std::unique_ptr<TMySqlResultSet> Use() {
        session.ReadQueryResult();
        auto r = std::make_unique<TMySqlResultSet>(&session);
        session.fields.clear();
        session.FResultSet = r.get();
        session.status = msUseResult;
        return r;
    }
};

std::string Value(const TMySqlBinds& row, size_t i) {
    const TMySqlBind& b = row.Binds[i];
    return b.IsNull ? "NULL" : std::string(reinterpret_cast<const char*>(row.Buffer + b.Offset), b.Length);
}

// Reads every row of r as text ("NULL" for NULL, values joined with "|").
std::vector<std::string> Rows(TMySqlResultSet& r) {
    std::vector<std::string> rows;
    while (r.Read(&r.FBind)) {
        std::string line;
        for (size_t i = 0; i < r.FBind.Binds.size(); ++i) line += (i ? "|" : "") + Value(r.FBind, i);
        rows.push_back(line);
    }
    return rows;
}

const TColumnSpec ColA{.Name = "a", .Type = FIELD_TYPE_LONG, .Length = 11};
const TColumnSpec ColB{.Name = "b", .Type = FIELD_TYPE_VAR_STRING, .Length = 60};

}  // namespace

TEST(MySqlResultSet, OkPackets) {
    struct Case {
        const char* name;
        bool protocol41;
        Bytes ok;
        int64_t affected, insertId;
        int status, warnings;
        std::string info;
    } cases[] = {
        {"UPDATE with a warning", true,
         Cat({Hex("00 03 00 02 00 01 00"), LenEnc("Rows matched: 3  Changed: 3  Warnings: 1")}), 3, 0, 2, 1,
         "Rows matched: 3  Changed: 3  Warnings: 1"},
        {"large counts", true, Cat({{0}, LenEncInt(70000), LenEncInt(0x123456789ull), Hex("0a 00 00 00")}),
         70000, 0x123456789ll, 0x0A, 0, ""},
        {"information of 300 bytes; bytes after it ignored", true,
         Cat({Hex("00 01 05 03 00 00 00"), LenEnc(std::string(300, 'i')), B("def")}), 1, 5, 3, 0, std::string(300, 'i')},
        {"pre-4.1 with CLIENT_TRANSACTIONS: status, no warnings", false, Cat({Hex("00 02 00 01 00"), LenEnc("x")}), 2, 0,
         1, 7, "x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TQuery q(Packets(1, {c.ok}), TMySqlNet::MaxPacketLength, c.protocol41);
        q.session.warningCount = 7;
        q.session.ReadQueryResult();
        EXPECT_EQ(q.session.fieldCount, 0);
        EXPECT_EQ(q.session.affectedRows, c.affected);
        EXPECT_EQ(q.session.insertId, c.insertId);
        EXPECT_EQ(q.session.serverStatus, c.status);
        EXPECT_EQ(q.session.warningCount, c.warnings);
        EXPECT_EQ(q.session.info, c.info);
        EXPECT_EQ(q.session.status, msReady);
        EXPECT_TRUE(q.session.fields.empty());
    }
}

TEST(MySqlResultSet, ResultSetHeaderAndColumns) {
    struct Case {
        const char* name;
        bool protocol41;
        Bytes answer;
    } cases[] = {
        {"4.1, with the extra value", true,
         Packets(1, {Hex("02 05"), ColumnDef(ColA), ColumnDef(ColB), Eof(4, 0x22)})},
        {"pre-4.1", false, Packets(1, {Hex("02 05"), ColumnDefOld(ColA, true), ColumnDefOld(ColB, true), Eof(4, 0x22)})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TQuery q(c.answer, TMySqlNet::MaxPacketLength, c.protocol41);
        q.session.ReadQueryResult();
        EXPECT_EQ(q.session.fieldCount, 2);
        EXPECT_EQ(q.session.extraInfo, 5);
        EXPECT_EQ(q.session.status, msGetResult);
        EXPECT_EQ(q.session.serverStatus, 0x22) << "from the definitions' end-of-data packet";
        EXPECT_EQ(q.session.warningCount, 0);
        ASSERT_EQ(q.session.fields.size(), 2u);
        EXPECT_EQ(q.session.fields[0].Name, "a");
        EXPECT_EQ(q.session.fields[0]._Type, FIELD_TYPE_LONG);
        EXPECT_EQ(q.session.fields[0].Flags, NUM_FLAG);
        EXPECT_EQ(q.session.fields[1].Name, "b");
        EXPECT_EQ(q.session.fields[1].Length, 60u);
        EXPECT_EQ(q.session.fields[1].OrgTable, "t");
        EXPECT_EQ(q.session.fields[1].Database, c.protocol41 ? "d" : "");
    }
}

TEST(MySqlResultSet, UnbufferedRows) {
    TQuery q(Packets(1, {{2}, ColumnDef(ColA), ColumnDef(ColB), Eof(), TextRow({std::nullopt, "abc"}),
                         TextRow({"7", ""}), Eof(1, 0x0A), OkPacket()}));
    auto r = q.Use();
    ASSERT_TRUE(r->Read(&r->FBind));
    EXPECT_TRUE(r->FBind.Binds[0].IsNull);
    EXPECT_EQ(r->FBind.Binds[1].Offset, 2u) << "after a NULL, the next value starts at 2";
    EXPECT_EQ(r->FBind.Buffer, q.session.net.Buffer().Data()) << "rows are described in the packet buffer";
    EXPECT_EQ(r->frowBuffer, r->FBind.Buffer);
    EXPECT_EQ(Value(r->FBind, 1), "abc");
    ASSERT_TRUE(r->Read(&r->FBind));
    EXPECT_EQ(Value(r->FBind, 0), "7");
    EXPECT_FALSE(r->FBind.Binds[1].IsNull);
    EXPECT_EQ(r->FBind.Binds[1].Length, 0u);
    EXPECT_EQ(r->frowCount, 2);
    EXPECT_FALSE(r->Read(&r->FBind));
    EXPECT_TRUE(r->Eof());
    EXPECT_EQ(q.session.status, msReady);
    EXPECT_EQ(q.session.warningCount, 1);
    EXPECT_EQ(q.session.serverStatus, 0x0A);
    EXPECT_FALSE(r->Read(&r->FBind)) << "reads nothing more";
    EXPECT_EQ(q.vio->InputPos, q.vio->Input.size() - Frame(0, OkPacket()).size());
}

TEST(MySqlResultSet, OneByteEndOfDataLeavesStatusAlone) {
    TQuery q(Packets(1, {{1}, ColumnDef(ColA), Eof(0, 0x0002), TextRow({"1"}), {0xFE}}));
    auto r = q.Use();
    q.session.warningCount = 9;
    q.session.serverStatus = 0x4003;
    EXPECT_EQ(Rows(*r), std::vector<std::string>{"1"});
    EXPECT_EQ(q.session.warningCount, 9);
    EXPECT_EQ(q.session.serverStatus, 0x4003);
    EXPECT_EQ(q.session.status, msReady);
}

// With packets of at most 16 bytes: a row of a full packet and a further one is one row,
// for Read and for FreeQuery; a continuation that starts like an end-of-data or an error
// packet is neither.
TEST(MySqlResultSet, RowsAcrossContinuationPackets) {
    const uint32_t max = 16;
    // Logical row payloads: 21 bytes (16 + 5), 16 bytes (16 + 0), 19 bytes with 0xFE at 16,
    // 19 bytes with 0xFF at 16.
    std::string v20(20, 'a'), v15(15, 'b'), vFE(18, 'c'), vFF(18, 'd');
    vFE[15] = char(0xFE);
    vFF[15] = char(0xFF);
    const Bytes r1 = LenEnc(v20), r2 = LenEnc(v15), r3 = LenEnc(vFE), r4 = LenEnc(vFF);
    auto split = [&](const Bytes& row, uint8_t seq) {
        return Cat({Frame(seq, Bytes(row.begin(), row.begin() + max)), Frame(seq + 1, Bytes(row.begin() + max, row.end()))});
    };
    const Bytes head = Packets(1, {{1}, ColumnDef(ColB), Eof()});
    const Bytes rows = Cat({split(r1, 4), split(r2, 6), split(r3, 8), split(r4, 10), Frame(12, Eof())});

    TQuery read(Cat({head, rows}), max);
    auto r = read.Use();
    EXPECT_EQ(Rows(*r), (std::vector<std::string>{v20, v15, vFE, vFF}));
    EXPECT_EQ(read.session.status, msReady);

    // Drained after the first row; the next answer is then read in step.
    TQuery drain(Cat({head, rows, Frame(1, OkPacket(0x0022))}), max);
    auto d = drain.Use();
    ASSERT_TRUE(d->Read(&d->FBind));
    drain.session.FreeQuery();
    EXPECT_EQ(drain.session.status, msReady);
    EXPECT_TRUE(d->Eof()) << "the drained result reads nothing more";
    EXPECT_FALSE(d->Read(&d->FBind));
    drain.session.SimpleCommand(scQuery, "DO 1", true);
    drain.session.ReadQueryResult();
    EXPECT_EQ(drain.session.serverStatus, 0x22);
    EXPECT_EQ(drain.vio->InputPos, drain.vio->Input.size());
}

// Unread rows are skipped in pieces of 64 KiB and never kept; the end-of-data packet's
// status is taken, as when the rows are read.
TEST(MySqlResultSet, FreeQuerySkipsWithoutKeeping) {
    const std::string big(1 << 20, 'z');
    TQuery q(Packets(1, {{1}, ColumnDef(ColB), Eof(), TextRow({big}), TextRow({"x"}), Eof(2, 0x0A), OkPacket()}));
    auto r = q.Use();
    q.vio->ReceiveSizes.clear();
    q.session.FreeQuery();
    EXPECT_EQ(q.session.status, msReady);
    EXPECT_LT(q.session.net.Buffer().Capacity(), size_t(64 * 1024)) << "the row was not kept";
    for (const size_t n : q.vio->ReceiveSizes) EXPECT_LE(n, size_t(65536));
    EXPECT_EQ(q.session.warningCount, 2);
    EXPECT_EQ(q.session.serverStatus, 0x0A);
    EXPECT_NO_THROW(q.session.FreeQuery()) << "nothing to do when ready";
    // A result freed by the client API drains through FreeQuery as well.
    TQuery f(Cat({Packets(1, {{1}, ColumnDef(ColB), Eof(), TextRow({"a"}), TextRow({"b"}), Eof()}),
                  Frame(1, OkPacket(0x0022))}));
    auto res = f.Use();
    ASSERT_TRUE(res->Read(&res->FBind));
    res.reset();
    EXPECT_EQ(f.session.status, msReady);
    EXPECT_EQ(f.session.FResultSet, nullptr);
    f.session.SimpleCommand(scQuery, "DO 1", true);
    f.session.ReadQueryResult();
    EXPECT_EQ(f.session.serverStatus, 0x22);
}

// FSkipPacket: the packet that follows a stored procedure's result is consumed by the
// draining, and its status taken.
TEST(MySqlResultSet, FreeQueryReadsTheTrailingPacket) {
    TQuery q(Cat({Packets(1, {{1}, ColumnDef(ColB), Eof(), TextRow({"a"}), Eof(0, 0x0A), OkPacket(0x0002)}),
                  Frame(1, OkPacket(0x0022))}));
    auto r = q.Use();
    q.session.FSkipPacket = true;
    q.session.FreeQuery();
    EXPECT_FALSE(q.session.FSkipPacket);
    EXPECT_EQ(q.session.serverStatus, 0x0002) << "more results no longer announced";
    q.session.SimpleCommand(scQuery, "DO 1", true);
    q.session.ReadQueryResult();
    EXPECT_EQ(q.session.serverStatus, 0x22);
}

TEST(MySqlResultSet, ErrorPacketInsteadOfARow) {
    TQuery q(Packets(1, {{1}, ColumnDef(ColB), Eof(), TextRow({"a"}), ErrorPacket(1317, "70100", "Query execution was interrupted")}));
    auto r = q.Use();
    ASSERT_TRUE(r->Read(&r->FBind));
    const auto e = Raised([&] { r->Read(&r->FBind); });
    EXPECT_EQ(e.ErrorCode(), 1317);
    EXPECT_EQ(e.Message(), "\r\nQuery execution was interrupted");
    EXPECT_TRUE(r->Eof()) << "an error ends the result";
    EXPECT_FALSE(r->Read(&r->FBind));
}

TEST(MySqlResultSet, ErrorAnswer) {
    TQuery q(Packets(1, {ErrorPacket(1064, "42000", "You have an error in your SQL syntax")}));
    const auto e = Raised([&] { q.session.ReadQueryResult(); });
    EXPECT_EQ(e.ErrorCode(), 1064);
    EXPECT_EQ(e.Message(), "\r\nYou have an error in your SQL syntax");
    EXPECT_EQ(e.SqlState(), "42000");
    EXPECT_EQ(q.session.status, msReady);
}

TEST(MySqlResultSet, MalformedAnswers) {
    struct Case {
        const char* name;
        Bytes answer;
        bool whileReading;  // raised by Read rather than by ReadQueryResult
    } cases[] = {
        {"empty answer", Packets(1, {{}}), false},
        {"OK packet cut short", Packets(1, {Hex("00 01")}), false},
        {"OK packet without status", Packets(1, {Hex("00 01 00")}), false},
        {"OK packet's information cut short", Packets(1, {Hex("00 01 00 02 00 00 00 05 61 62")}), false},
        {"column count beyond 32 bits", Packets(1, {Cat({{0xFE}, LE(0x100000000ull, 8)})}), false},
        {"fewer definitions than columns", Packets(1, {{2}, ColumnDef(ColA), Eof()}), false},
        {"more definitions than columns", Packets(1, {{1}, ColumnDef(ColA), ColumnDef(ColB), Eof()}), false},
        {"definition cut short", Packets(1, {{1}, Bytes{3, 'd', 'e'}, Eof()}), false},
        {"end of definitions of 3 bytes", Packets(1, {{1}, ColumnDef(ColA), Hex("fe 00 00")}), false},
        {"row with a missing column", Packets(1, {{2}, ColumnDef(ColA), ColumnDef(ColB), Eof(), TextRow({"1"})}), true},
        {"row with a 0xFF prefix", Packets(1, {{2}, ColumnDef(ColA), ColumnDef(ColB), Eof(), Cat({LenEnc("1"), {0xFF}})}), true},
        {"end of rows of 4 bytes", Packets(1, {{1}, ColumnDef(ColA), Eof(), Hex("fe 00 00 02")}), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TQuery q(c.answer);
        if (!c.whileReading) {
            EXPECT_EQ(Raised([&] { q.session.ReadQueryResult(); }).ErrorCode(), 2027);
            continue;
        }
        auto r = q.Use();
        EXPECT_EQ(Raised([&] { Rows(*r); }).ErrorCode(), 2027);
    }
}

TEST(MySqlResultSet, BufferedReading) {
    // Buffered: every packet kept; a full-length packet is refused.
    TQuery q(Packets(1, {TextRow({"a", "b"}), TextRow({std::nullopt, "c"}), Eof(3, 0x0A)}));
    TMySqlResultSet r(&q.session, {}, 2, nullptr);
    r.ReadRows();
    EXPECT_EQ(q.session.warningCount, 3);
    EXPECT_EQ(r.frows->Count(), 2u);
    EXPECT_FALSE(r.Eof());
    EXPECT_EQ(Rows(r), (std::vector<std::string>{"a|b", "NULL|c"}));
    EXPECT_TRUE(r.Eof());

    TQuery empty(Packets(1, {Eof()}));
    TMySqlResultSet e(&empty.session, {}, 1, nullptr);
    e.ReadRows();
    EXPECT_TRUE(e.Eof());

    TQuery huge(Packets(1, {Bytes(16, 1)}), 16);
    TMySqlResultSet h(&huge.session, {}, 1, nullptr);
    try {
        h.ReadRows();
        ADD_FAILURE() << "read";
    } catch (const EMySqlException&) {
        ADD_FAILURE() << "not a client error";
    } catch (const EProtocolError& x) {
        EXPECT_EQ(x.Message(), "Cannot retrieve huge data in FetchAll mode");
    }
}

TEST(MySqlResultSet, MisuseIsRefused) {
    TQuery q(Packets(1, {{1}, ColumnDef(ColA), Eof(), TextRow({"1"}), Eof()}));
    auto r = q.Use();
    const size_t before = q.vio->InputPos;
    EXPECT_EQ(Raised([&] { r->Read(nullptr); }).ErrorCode(), 2028) << "text rows need binds";
    EXPECT_EQ(q.vio->InputPos, before) << "nothing was read";
    EXPECT_THROW(TMySqlResultSet(nullptr), EInternalError);
    EXPECT_THROW(TMySqlResultSet(nullptr, {}, 1, nullptr), EInternalError);
}

// --- Local files --------------------------------------------------------------------------

namespace {

Bytes LocalFileRequest(const std::string& name) { return Cat({{0xFB}, B(name)}); }

}  // namespace

// A file the statement names goes out in packets of at most 8192 bytes that continue the
// request's sequence, then an empty packet; the server's answer is the query's answer.
TEST(MySqlResultSet, LocalFileUpload) {
    std::string contents(20000, 'r');
    contents[8191] = '\n';
    TTempFile file(contents);
    const std::string sql = "LOAD DATA LOCAL INFILE '" + file.Path + "' INTO TABLE t";
    TQuery q(Cat({Frame(1, LocalFileRequest(file.Path)), Frame(6, Hex("00 02 00 02 00 00 00"))}),
             TMySqlNet::MaxPacketLength, true, sql);
    q.session.ReadQueryResult();
    EXPECT_EQ(q.session.affectedRows, 2);
    const auto frames = Frames(q.vio->Output);
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[0].Payload, Cat({{3}, B(sql)}));
    EXPECT_EQ(frames[1].Seq, 2);
    EXPECT_EQ(frames[1].Payload, B(contents.substr(0, 8192)));
    EXPECT_EQ(frames[2].Payload, B(contents.substr(8192, 8192)));
    EXPECT_EQ(frames[3].Payload, B(contents.substr(16384)));
    EXPECT_EQ(frames[4].Seq, 5);
    EXPECT_TRUE(frames[4].Payload.empty());
}

// A named file that cannot be read: the empty packet still goes out and the server's answer
// is read before the file error surfaces — unless the answer is an error, which wins.
TEST(MySqlResultSet, LocalFileThatCannotBeRead) {
    const std::string missing = "/nonexistent/calvoro/data.csv";
    const std::string sql = "LOAD DATA LOCAL INFILE '" + missing + "' INTO TABLE t";
    {
        TQuery q(Cat({Frame(1, LocalFileRequest(missing)), Frame(3, OkPacket())}), TMySqlNet::MaxPacketLength, true, sql);
        try {
            q.session.ReadQueryResult();
            ADD_FAILURE() << "no error";
        } catch (const EMySqlException& e) {
            ADD_FAILURE() << e.Message();
        } catch (const EProtocolError& e) {
            EXPECT_EQ(e.Message(), "Cannot open file \"" + missing + "\". No such file or directory");
        }
        EXPECT_EQ(q.vio->InputPos, q.vio->Input.size()) << "the answer was read";
        const auto frames = Frames(q.vio->Output);
        ASSERT_EQ(frames.size(), 2u);
        EXPECT_EQ(frames[1].Seq, 2);
        EXPECT_TRUE(frames[1].Payload.empty());
    }
    TQuery q(Cat({Frame(1, LocalFileRequest(missing)), Frame(3, ErrorPacket(1290, "HY000", "no data"))}),
             TMySqlNet::MaxPacketLength, true, sql);
    EXPECT_EQ(Raised([&] { q.session.ReadQueryResult(); }).ErrorCode(), 1290);
}
