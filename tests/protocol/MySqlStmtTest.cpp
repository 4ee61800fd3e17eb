// Prepared statements on canned bytes: the prepare response, the execute request with its
// NULL bitmap, new-types flag and binary values, binary rows, and the statement's errors.
#include "protocol/MySqlStmt.h"
#include "protocol/MySqlSession.h"
#include "support/Raised.h"
#include "support/SessionOverMemory.h"

#include <gtest/gtest.h>

using namespace calvoro::protocol;
using namespace calvoro::protocol::datatypes;
using namespace calvoro::test;

namespace {

// Prepare response: status 0, statement id, columns, parameters, reserved 0, warnings.
Bytes PrepareOk(uint32_t id, uint16_t columns, uint16_t params) {
    return Cat({{0}, LE(id, 4), LE(columns, 2), LE(params, 2), {0}, LE(0, 2)});
}

// The prepare answer for a statement with params parameters and the given columns.
Bytes PrepareAnswer(uint32_t id, int params, const std::vector<TColumnSpec>& columns) {
    Bytes out = Frame(1, PrepareOk(id, uint16_t(columns.size()), uint16_t(params)));
    uint8_t seq = 2;
    const auto add = [&](const Bytes& p) { out = Cat({out, Frame(seq++, p)}); };
    if (params > 0) {
        for (int i = 0; i < params; ++i) add(ColumnDef({.Name = "?"}));
        add(Eof());
    }
    if (!columns.empty()) {
        for (const auto& c : columns) add(ColumnDef(c));
        add(Eof());
    }
    return out;
}

const TColumnSpec LongCol{.Name = "1", .Type = FIELD_TYPE_LONG, .Length = 1};

// A statement on a logged-in session over canned bytes.
struct TStmtOverMemory : TSessionOverMemory {
    explicit TStmtOverMemory(const Bytes& server) : TSessionOverMemory(server) {
        LoggedIn();
        stmt = std::make_unique<TMySqlStmt>(&session);
    }
    // The payloads the client sent since the last call.
    std::vector<Bytes> Sent() {
        std::vector<Bytes> out;
        for (auto& f : Frames(vio->Output)) out.push_back(f.Payload);
        vio->Output.clear();
        return out;
    }
    std::unique_ptr<TMySqlStmt> stmt;
};

TParamDesc P(uint16_t type, TParamValue value, bool null = false) { return {type, pdInput, null, std::move(value)}; }

// The execute payload's parameter part: after command, id, flags and iteration count.
Bytes ParamPart(const Bytes& executePayload) { return Bytes(executePayload.begin() + 10, executePayload.end()); }

}  // namespace

// SELECT 1: one column, no parameters; the execute request is exactly 10 bytes and the
// fetch loop sees one row.
TEST(MySqlStmt, SelectOne) {
    TStmtOverMemory t(Cat({PrepareAnswer(7, 0, {LongCol}),
                           Packets(1, {{1}, ColumnDef(LongCol), Eof(), Cat({{0, 0}, LE(1, 4)}), Eof(0, 0x22)})}));
    t.stmt->Prepare("SELECT 1");
    EXPECT_EQ(t.Sent(), std::vector<Bytes>{Cat({{22}, B("SELECT 1")})});
    EXPECT_EQ(t.stmt->State(), psPrepare);
    EXPECT_EQ(t.stmt->StmtId(), 7u);
    EXPECT_EQ(t.stmt->FieldCount(), 1);
    EXPECT_EQ(t.stmt->ParamCount(), 0);
    ASSERT_NE(t.stmt->Result(), nullptr);
    EXPECT_EQ(t.stmt->Fields()[0].Name, "1");

    t.stmt->Execute({}, false);
    EXPECT_EQ(t.Sent(), std::vector<Bytes>{Hex("17 07 00 00 00 00 01 00 00 00")});
    EXPECT_EQ(t.session.status, msUseResult);
    EXPECT_EQ(t.stmt->AffectedRows(), 0);
    TMySqlBinds* row = nullptr;
    EXPECT_EQ(Raised([&] { t.stmt->Fetch(row); }).ErrorCode(), 2028) << "no binds installed";
    t.stmt->BindResult(std::make_unique<TMySqlBinds>(1));
    ASSERT_EQ(t.stmt->Fetch(row), 0);
    ASSERT_NE(row, nullptr);
    EXPECT_FALSE(row->Binds[0].IsNull);
    EXPECT_EQ(row->Binds[0].Offset, 2u);
    EXPECT_EQ(row->Binds[0].Length, 4u);
    EXPECT_EQ(row->Binds[0]._Type, FIELD_TYPE_LONG);
    EXPECT_EQ(row->Buffer[row->Binds[0].Offset], 1);
    EXPECT_EQ(t.stmt->Fetch(row), 100);
    EXPECT_EQ(row, nullptr);
    EXPECT_EQ(t.session.status, msReady);
    EXPECT_EQ(t.session.serverStatus, 0x22);
    EXPECT_EQ(t.stmt->Fetch(row), 100);

    // Close: 25 and the id, no answer read.
    t.stmt->Close();
    EXPECT_EQ(t.Sent(), std::vector<Bytes>{Hex("19 07 00 00 00")});
    EXPECT_EQ(t.stmt->State(), psUnknown);
    EXPECT_EQ(t.stmt->FieldCount(), 0);
    EXPECT_EQ(t.stmt->Result(), nullptr);
}

TEST(MySqlStmt, ParameterWireTypes) {
    struct Case {
        uint16_t dataType;
        uint16_t wire;
    } cases[] = {
        {dtString, 253}, {dtMemo, 253},     {dtWideString, 253}, {dtWideMemo, 253},  {dtBlob, 253},
        {dtBytes, 253},  {dtVarBytes, 253}, {dtBCD, 253},        {dtFMTBCD, 253},    {dtInt8, 1},
        {dtBoolean, 1},  {dtSmallint, 2},   {dtInteger, 3},      {dtWord, 3},        {dtUInt32, 0x8003},
        {dtFloat, 5},    {dtLargeint, 8},   {dtDate, 10},        {dtTime, 11},       {dtDateTime, 12},
        {dtUnknown, 253}, {dtExtString, 253}, {dtExtVarBytes, 253}, {dtExtWideString, 253},
    };
    for (const auto& c : cases) EXPECT_EQ(ParamWireType(c.dataType), c.wire) << c.dataType;
    for (const uint16_t unsupported : {12, 15, 19, 29, 32}) {
        try {
            ParamWireType(unsupported);
            ADD_FAILURE() << unsupported;
        } catch (const EInternalError& e) {
            EXPECT_EQ(e.Message(), FormatText("Invalid internal field type $%X (%d)", {unsupported, unsupported}));
        }
    }
}

TEST(MySqlStmt, ParameterValues) {
    class TPieces : public TParamBlob {
    public:
        uint64_t Size() const override { return 5; }
        void ReadPieces(const std::function<void(std::span<const uint8_t>)>& piece) const override {
            const Bytes a = B("hel"), b = B("lo");
            piece(a);
            piece(b);
        }
    } blob;
    struct Case {
        const char* name;
        TParamDesc param;
        Bytes bytes;
    } cases[] = {
        {"int8", P(dtInt8, int64_t(-5)), Hex("fb")},
        {"boolean true", P(dtBoolean, true), Hex("01")},
        {"boolean from -1", P(dtBoolean, int64_t(-1)), Hex("01")},
        {"boolean false", P(dtBoolean, false), Hex("00")},
        {"smallint", P(dtSmallint, int64_t(-2)), Hex("fe ff")},
        {"integer", P(dtInteger, int64_t(0x01020304)), Hex("04 03 02 01")},
        {"unsigned 32-bit above 2^31", P(dtUInt32, int64_t(4000000000)), Hex("00 28 6b ee")},
        {"word zero-extended", P(dtWord, int64_t(65535)), Hex("ff ff 00 00")},
        {"largeint", P(dtLargeint, int64_t(-1)), Hex("ff ff ff ff ff ff ff ff")},
        {"integer from a float", P(dtInteger, 2.6), Hex("03 00 00 00")},
        {"float", P(dtFloat, 1.5), Hex("00 00 00 00 00 00 f8 3f")},
        {"float from an integer", P(dtFloat, int64_t(2)), Hex("00 00 00 00 00 00 00 40")},
        {"date", P(dtDate, TMySqlParamTime{.Year = 2024, .Month = 2, .Day = 29}), Hex("04 e8 07 02 1d")},
        {"time of day, milliseconds as microseconds",
         P(dtTime, TMySqlParamTime{.Hour = 1, .Minute = 30, .Second = 0, .MSec = 250}),
         Hex("0c 00 00 00 00 00 01 1e 00 90 d0 03 00")},
        {"datetime",
         P(dtDateTime, TMySqlParamTime{.Year = 2024, .Month = 1, .Day = 31, .Hour = 23, .Minute = 59, .Second = 59, .MSec = 999}),
         Hex("0b e8 07 01 1f 17 3b 3b 58 3e 0f 00")},
        {"string", P(dtString, std::string("abc")), Hex("03 61 62 63")},
        {"string with a NUL", P(dtWideString, std::string("a\0b", 3)), Hex("03 61 00 62")},
        {"300 bytes", P(dtVarBytes, std::string(300, 'x')), Cat({Hex("fc 2c 01"), Bytes(300, 'x')})},
        {"decimal text", P(dtFMTBCD, std::string("12.5")), Cat({{4}, B("12.5")})},
        {"blob in pieces", P(dtBlob, TParamBlobRef{&blob}), Cat({{5}, B("hello")})},
        {"unassigned string", P(dtMemo, {}), Hex("00")},
        {"unassigned integer", P(dtInteger, {}), Hex("00 00 00 00")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes out;
        EncodeParamValue(c.param, out);
        EXPECT_EQ(out, c.bytes);
    }
}

TEST(MySqlStmt, ParameterValuesRefused) {
    struct Case {
        const char* name;
        TParamDesc param;
        std::string message;
    } cases[] = {
        {"external string", P(dtExtString, std::string("x")), "Invalid internal field type $14 (20)"},
        {"unknown type", P(dtUnknown, int64_t(1)), "Invalid internal field type $0 (0)"},
        {"BLOB reference without BLOB", P(dtBlob, TParamBlobRef{}), "MySqlStmt: BLOB parameter without BLOB object"},
        {"text for an integer", P(dtInteger, std::string("1")),
         "MySqlStmt: parameter value of the wrong kind for data type 4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes out;
        try {
            EncodeParamValue(c.param, out);
            ADD_FAILURE() << "encoded";
        } catch (const EInternalError& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
    }
}

// The new-types flag goes with the first execution and whenever a type changes; the NULL
// bitmap has a bit per parameter, and NULL parameters have no value.
TEST(MySqlStmt, ExecuteRequests) {
    Bytes server = PrepareAnswer(3, 2, {});
    for (int i = 0; i < 4; ++i) server = Cat({server, Frame(1, OkPacket())});
    TStmtOverMemory t(server);
    t.stmt->Prepare("UPDATE t SET a = ? WHERE b = ?");
    EXPECT_EQ(t.stmt->ParamCount(), 2);
    EXPECT_EQ(t.stmt->Result(), nullptr);
    t.Sent();

    const auto execute = [&](const TParamDescs& params) {
        t.stmt->Execute(params, false);
        const auto sent = t.Sent();
        EXPECT_EQ(sent.size(), 1u);
        EXPECT_EQ(Bytes(sent[0].begin(), sent[0].begin() + 10), Hex("17 03 00 00 00 00 01 00 00 00"));
        return ParamPart(sent[0]);
    };
    // bitmap, flag, types (code, unsigned byte), values
    EXPECT_EQ(execute({P(dtInteger, int64_t(5)), P(dtString, std::string("k"))}),
              Hex("00 01 03 00 fd 00 05 00 00 00 01 6b"));
    EXPECT_EQ(execute({P(dtInteger, int64_t(6)), P(dtString, {}, true)}), Hex("02 00 06 00 00 00"))
        << "same types: flag 0 and no types";
    EXPECT_EQ(execute({P(dtString, std::string("6")), P(dtString, std::string("x"))}),
              Hex("00 01 fd 00 fd 00 01 36 01 78"))
        << "a changed type: flag 1 and all types again";
    EXPECT_EQ(execute({P(dtUInt32, int64_t(1)), P(dtString, std::string("x"))}), Hex("00 01 03 80 fd 00 01 00 00 00 01 78"));
}

TEST(MySqlStmt, NullBitmapOfTenParameters) {
    TStmtOverMemory t(Cat({PrepareAnswer(1, 10, {}), Frame(1, OkPacket())}));
    t.stmt->Prepare("INSERT INTO t VALUES (?,?,?,?,?,?,?,?,?,?)");
    t.Sent();
    TParamDescs params;
    for (int i = 0; i < 10; ++i) params.push_back(P(dtSmallint, int64_t(i), i == 0 || i == 8));
    t.stmt->Execute(params, false);
    const Bytes part = ParamPart(t.Sent()[0]);
    Bytes expected = Hex("01 01 01");
    for (int i = 0; i < 10; ++i) expected = Cat({expected, Hex("02 00")});
    for (int i = 0; i < 10; ++i)
        if (i != 0 && i != 8) expected = Cat({expected, LE(uint64_t(i), 2)});
    EXPECT_EQ(part, expected);
}

// A first descriptor of direction pdResult is skipped; any other count mismatch sends no
// parameter part; an unsupported type sends nothing at all.
TEST(MySqlStmt, ParameterDescriptorsThatDoNotFit) {
    TStmtOverMemory t(Cat({PrepareAnswer(2, 1, {}), Frame(1, OkPacket()), Frame(1, OkPacket()), Frame(1, OkPacket())}));
    t.stmt->Prepare("CALL p(?)");
    t.Sent();
    TParamDesc result = P(dtInteger, int64_t(0));
    result.Direction = pdResult;
    t.stmt->Execute({result, P(dtInt8, int64_t(9))}, false);
    EXPECT_EQ(ParamPart(t.Sent()[0]), Hex("00 01 01 00 09"));
    t.stmt->Execute({P(dtInt8, int64_t(1)), P(dtInt8, int64_t(2))}, false);
    EXPECT_EQ(t.Sent(), std::vector<Bytes>{Hex("17 02 00 00 00 00 01 00 00 00")});
    EXPECT_THROW(t.stmt->Execute({P(12, int64_t(1))}, false), EInternalError);
    EXPECT_TRUE(t.Sent().empty()) << "the packet was not sent";
    t.stmt->Execute({P(dtInt8, int64_t(3))}, false);
    EXPECT_EQ(t.Sent(), std::vector<Bytes>{Hex("17 02 00 00 00 00 01 00 00 00 00 00 03")})
        << "the next command starts afresh; the server still has the types of the first execution";
}

// A large value anywhere among the parameters: the whole block goes out as one packet.
TEST(MySqlStmt, LargeValueBeforeOthers) {
    TStmtOverMemory t(Cat({PrepareAnswer(4, 2, {}), Frame(1, OkPacket())}));
    t.stmt->Prepare("INSERT INTO t VALUES (?, ?)");
    t.Sent();
    const std::string big(20000, 'b');
    t.stmt->Execute({P(dtBlob, big), P(dtInteger, int64_t(7))}, false);
    const auto sent = t.Sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(ParamPart(sent[0]), Cat({Hex("00 01 fd 00 03 00 fc 20 4e"), B(big), LE(7, 4)}));
}

TEST(MySqlStmt, BindResultErrors) {
    TStmtOverMemory t(PrepareAnswer(5, 0, {}));
    EXPECT_EQ(Raised([&] { t.stmt->BindResult(std::make_unique<TMySqlBinds>(1)); }).ErrorCode(), 2029);
    t.stmt->Prepare("DO 1");
    const auto e = Raised([&] { t.stmt->BindResult(std::make_unique<TMySqlBinds>(1)); });
    EXPECT_EQ(e.ErrorCode(), 2000);
    EXPECT_EQ(e.Message(), "Unknown MySQL error");
    TMySqlBinds* row = reinterpret_cast<TMySqlBinds*>(1);
    EXPECT_EQ(t.stmt->Fetch(row), 100) << "nothing to fetch";
    EXPECT_EQ(row, nullptr);
}

// After the last row of a stored procedure's result, with FSkipPacket set and more results
// announced, Fetch consumes the packet that follows, so the next command is in step.
TEST(MySqlStmt, FetchReadsTheTrailingPacket) {
    TStmtOverMemory t(Cat({PrepareAnswer(6, 0, {}),
                           Packets(1, {{1}, ColumnDef(LongCol), Eof(), Cat({{0, 0}, LE(4, 4)}), Eof(0, 0x000A),
                                       OkPacket(0x0002)}),
                           Frame(1, OkPacket(0x0022))}));
    t.stmt->Prepare("CALL p()");
    t.stmt->Execute({}, false);
    t.session.FSkipPacket = true;
    t.stmt->BindResult(std::make_unique<TMySqlBinds>(1));
    TMySqlBinds* row;
    EXPECT_EQ(t.stmt->Fetch(row), 0);
    EXPECT_EQ(t.stmt->Fetch(row), 100);
    EXPECT_FALSE(t.session.FSkipPacket);
    EXPECT_EQ(t.session.serverStatus, 0x0002);
    t.session.Ping();
    EXPECT_EQ(t.vio->InputPos, t.vio->Input.size());
}

TEST(MySqlStmt, FreeResultDrainsAndStatementCanRunAgain) {
    const Bytes rows = Packets(1, {{1}, ColumnDef(LongCol), Eof(), Cat({{0, 0}, LE(1, 4)}), Cat({{0, 0}, LE(2, 4)}), Eof()});
    TStmtOverMemory t(Cat({PrepareAnswer(8, 0, {LongCol}), rows, rows}));
    t.stmt->Prepare("SELECT a FROM t");
    t.stmt->Execute({}, false);
    EXPECT_EQ(Raised([&] { t.session.Ping(); }).ErrorCode(), 2014) << "rows unread";
    t.stmt->FreeResult();
    EXPECT_EQ(t.stmt->Result(), nullptr);
    EXPECT_EQ(t.session.status, msReady);
    t.stmt->Execute({}, false);
    t.stmt->BindResult(std::make_unique<TMySqlBinds>(1));
    TMySqlBinds* row;
    std::vector<int> values;
    while (t.stmt->Fetch(row) == 0) values.push_back(row->Buffer[row->Binds[0].Offset]);
    EXPECT_EQ(values, (std::vector<int>{1, 2}));
    EXPECT_EQ(t.vio->InputPos, t.vio->Input.size());
}

TEST(MySqlStmt, PrepareErrors) {
    TStmtOverMemory t(Packets(1, {ErrorPacket(1064, "42000", "syntax")}));
    const auto e = Raised([&] { t.stmt->Prepare("SELEC"); });
    EXPECT_EQ(e.ErrorCode(), 1064);
    EXPECT_EQ(t.stmt->State(), psUnknown);
    EXPECT_THROW(TMySqlStmt(nullptr), EInternalError);

    TStmtOverMemory negative(Packets(1, {Cat({{0}, LE(1, 4), LE(0xFFFF, 2), LE(0, 2)})}));
    EXPECT_EQ(Raised([&] { negative.stmt->Prepare("SELECT 1"); }).ErrorCode(), 2027);
    TStmtOverMemory cut(Packets(1, {Hex("00 01 00")}));
    EXPECT_EQ(Raised([&] { cut.stmt->Prepare("SELECT 1"); }).ErrorCode(), 2027);
}

// Destroying a prepared statement closes it on the server.
TEST(MySqlStmt, DestructorCloses) {
    TStmtOverMemory t(PrepareAnswer(9, 0, {}));
    t.stmt->Prepare("DO 1");
    t.Sent();
    t.stmt.reset();
    EXPECT_EQ(t.Sent(), std::vector<Bytes>{Hex("19 09 00 00 00")});
}
