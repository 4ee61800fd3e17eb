// Prepared statements through the client API against the real test server: binary rows of
// every column type, temporal binary forms, parameters of every encodable type with NULLs,
// the new-types flag, re-execution, and errors kept in the statement.
#include "protocol/CRVioTcp.h"
#include "protocol/MySqlApiDirect.h"
#include "support/AllTypes.h"
#include "support/ApiConnection.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

using namespace calvoro::protocol;
using namespace calvoro::protocol::datatypes;
using namespace calvoro::test;

namespace {

// A prepared statement on a connection, released with it.
struct TPrepared {
    TPrepared(TApiConnection& connection, const std::string& sql) : c(connection) {
        st = c.api.mysql_stmt_init(c.con);
        EXPECT_EQ(c.api.mysql_stmt_prepare(st, sql.data(), sql.size()), 0) << Error();
    }
    ~TPrepared() { c.api.mysql_stmt_close(st); }
    std::string Error() { return std::to_string(c.api.mysql_stmt_errno(st)) + ": " + c.api.mysql_stmt_error(st); }
    int Execute(const TParamDescs& params = {}) { return c.api._mysql_stmt_execute(st, params, false); }
    // Every row: one Bytes per column, std::nullopt for NULL.
    std::vector<std::vector<std::optional<Bytes>>> Fetch() {
        std::vector<std::vector<std::optional<Bytes>>> rows;
        for (;;) {
            EXPECT_EQ(c.api._mysql_stmt_bind_result(st), 0) << Error();
            PMYSQL_ROW row = nullptr;
            const int rc = c.api._mysql_stmt_fetch(st, row);
            if (rc == 100) break;
            if (rc != 0) {
                ADD_FAILURE() << Error();
                break;
            }
            TLenArr lengths;
            c.api._mysql_stmt_fetch_lengths(row, lengths);
            std::vector<std::optional<Bytes>> values;
            for (unsigned i = 0; i < lengths.size(); ++i) {
                if (c.api._mysql_fetch_value_is_null(row, i)) {
                    values.push_back(std::nullopt);
                    continue;
                }
                uint32_t offset = 0;
                const uint8_t* bytes = c.api._mysql_fetch_value_arr(row, i, offset);
                values.push_back(Bytes(bytes + offset, bytes + offset + lengths[i]));
            }
            rows.push_back(std::move(values));
        }
        return rows;
    }
    TApiConnection& c;
    PMYSQL_STMT st;
};

TParamDesc P(uint16_t type, TParamValue value) { return {type, pdInput, false, std::move(value)}; }
TParamDesc Null(uint16_t type) { return {type, pdInput, true, {}}; }

// A BLOB parameter handed out in pieces of 4096 bytes.
class TPatternBlob : public TParamBlob {
public:
    explicit TPatternBlob(size_t size) : FData(size) {
        for (size_t i = 0; i < size; ++i) FData[i] = uint8_t(i * 31 + i / 256);
    }
    uint64_t Size() const override { return FData.size(); }
    void ReadPieces(const std::function<void(std::span<const uint8_t>)>& piece) const override {
        for (size_t at = 0; at < FData.size(); at += 4096)
            piece(std::span(FData).subspan(at, std::min<size_t>(4096, FData.size() - at)));
    }
    std::string Text() const { return std::string(FData.begin(), FData.end()); }

private:
    Bytes FData;
};

// The TCP transport, keeping a copy of everything it sends.
class TRecordingVio : public TCRVioTcp {
public:
    using TCRVioTcp::TCRVioTcp;
    size_t Write(const uint8_t* buffer, size_t offset, size_t count) override {
        Sent.insert(Sent.end(), buffer + offset, buffer + offset + count);
        return TCRVioTcp::Write(buffer, offset, count);
    }
    Bytes Sent;
};

}  // namespace

TEST(StmtIntegration, EveryColumnTypeAsBinary) {
    TApiConnection c;
    CreateAllTypesTable(c);
    TPrepared s(c, SelectAllTypes());
    const auto& columns = AllTypeColumns();
    ASSERT_EQ(c.api.mysql_stmt_field_count(s.st), columns.size() + 1);
    EXPECT_EQ(c.api._mysql_fetch_field_direct(c.api.mysql_stmt_result_metadata(s.st), 1, false).Name, "c_utinyint");
    ASSERT_EQ(s.Execute(), 0) << s.Error();
    EXPECT_EQ(c.api.mysql_stmt_affected_rows(s.st), 0);
    PMYSQL_RES metadata = c.api.mysql_stmt_result_metadata(s.st);
    for (unsigned i = 0; i < columns.size(); ++i)
        EXPECT_EQ(int(c.api._mysql_fetch_field_direct(metadata, i, false)._type), int(columns[i].TypeCode))
            << columns[i].Name;
    const auto rows = s.Fetch();
    ASSERT_EQ(rows.size(), 2u);
    for (unsigned i = 0; i < columns.size(); ++i) {
        const TTypedColumn& col = columns[i];
        SCOPED_TRACE(col.Name);
        ASSERT_TRUE(rows[0][i].has_value());
        const Bytes& value = *rows[0][i];
        if (col.Binary.empty())
            EXPECT_EQ(value, B(col.Text));
        else if (BinaryValueWidth(col.TypeCode) > 0)
            EXPECT_EQ(value, col.Binary);
        else
            EXPECT_EQ(Cat({{uint8_t(value.size())}, value}), col.Binary);  // temporal: length and bytes
        EXPECT_FALSE(rows[1][i].has_value());
    }
    EXPECT_EQ(rows[0][columns.size()], LE(1, 4));
    EXPECT_EQ(rows[1][columns.size()], LE(2, 4));
}

// Dates and times are as long as their value needs: zero parts at the end are left out.
TEST(StmtIntegration, TemporalValuesAsBinary) {
    TApiConnection c;
    TPrepared s(c,
                "SELECT TIME'-1 02:03:04.5', TIME'12:00:00', TIME'00:00:00', CAST('2024-01-01 00:00:00' AS DATETIME),"
                " CAST('2024-01-01 10:11:12' AS DATETIME), CAST('2024-05-06' AS DATE),"
                " CAST('2024-01-01 10:11:12.000500' AS DATETIME(6)), TIME'838:59:59'");
    ASSERT_EQ(s.Execute(), 0) << s.Error();
    const auto rows = s.Fetch();
    ASSERT_EQ(rows.size(), 1u);
    const std::vector<std::optional<Bytes>> expected = {
        Hex("01 01 00 00 00 02 03 04 20 a1 07 00"),  // negative, one day, 500000 microseconds
        Hex("00 00 00 00 00 0c 00 00"),
        Bytes{},
        Hex("e8 07 01 01"),
        Hex("e8 07 01 01 0a 0b 0c"),
        Hex("e8 07 05 06"),
        Hex("e8 07 01 01 0a 0b 0c f4 01 00 00"),
        Hex("00 22 00 00 00 16 3b 3b"),  // 838 hours: 34 days and 22 hours
    };
    EXPECT_EQ(rows[0], expected);
}

// Every encodable parameter type, NULLs, and more than eight parameters: what the server
// stored, read back as text.
TEST(StmtIntegration, ParametersOfEveryEncodableType) {
    TApiConnection c;
    c.Exec("CREATE OR REPLACE TABLE params (id INT, p_int8 TINYINT, p_bool TINYINT(1), p_small SMALLINT, p_int INT,"
           " p_uint INT UNSIGNED, p_word SMALLINT UNSIGNED, p_float DOUBLE, p_large BIGINT, p_date DATE, p_time TIME(3),"
           " p_datetime DATETIME(3), p_string VARCHAR(50), p_memo TEXT, p_bytes VARBINARY(20), p_blob LONGBLOB,"
           " p_bcd DECIMAL(12,4), p_fmtbcd DECIMAL(30,10), p_varbytes VARBINARY(10), p_wide VARCHAR(20))");
    TPrepared insert(c, "INSERT INTO params VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    ASSERT_EQ(c.api.mysql_stmt_param_count(insert.st), 20u);
    const TPatternBlob blob(100000);
    const TParamDescs values = {
        P(dtInteger, int64_t(1)),
        P(dtInt8, int64_t(-100)),
        P(dtBoolean, true),
        P(dtSmallint, int64_t(-30000)),
        P(dtInteger, int64_t(-2000000000)),
        P(dtUInt32, int64_t(4000000000)),
        P(dtWord, int64_t(65535)),
        P(dtFloat, 3.25),
        P(dtLargeint, int64_t(-9000000000000000000)),
        P(dtDate, TMySqlParamTime{.Year = 2024, .Month = 2, .Day = 29}),
        P(dtTime, TMySqlParamTime{.Hour = 1, .Minute = 30, .Second = 0, .MSec = 250}),
        P(dtDateTime,
          TMySqlParamTime{.Year = 2024, .Month = 1, .Day = 31, .Hour = 23, .Minute = 59, .Second = 59, .MSec = 999}),
        P(dtString, std::string("Gr\xFC\xDF")),
        P(dtMemo, std::string("memo text")),
        P(dtBytes, std::string("\x00\x01\xFF", 3)),
        P(dtBlob, TParamBlobRef{&blob}),
        P(dtBCD, std::string("12.5")),
        P(dtFMTBCD, std::string("-12345678901234567890.0123456789")),
        P(dtVarBytes, std::string()),
        P(dtWideString, std::string("wide")),
    };
    ASSERT_EQ(insert.Execute(values), 0) << insert.Error();
    EXPECT_EQ(c.api.mysql_stmt_affected_rows(insert.st), 1);

    TParamDescs nulls = {P(dtInteger, int64_t(2))};
    for (size_t i = 1; i < values.size(); ++i) nulls.push_back(Null(values[i].DataType));
    ASSERT_EQ(insert.Execute(nulls), 0) << insert.Error();
    TParamDescs someNulls = values;  // the first and the ninth value NULL
    someNulls[0] = P(dtInteger, int64_t(3));
    someNulls[1].IsNull = someNulls[9].IsNull = true;
    ASSERT_EQ(insert.Execute(someNulls), 0) << insert.Error();

    const auto rows = c.Rows("SELECT * FROM params ORDER BY id");
    ASSERT_EQ(rows.size(), 3u);
    const TTextRow expected = {"1", "-100", "1", "-30000", "-2000000000", "4000000000", "65535", "3.25",
                               "-9000000000000000000", "2024-02-29", "01:30:00.250", "2024-01-31 23:59:59.999",
                               "Gr\xFC\xDF", "memo text", std::string("\x00\x01\xFF", 3), blob.Text(), "12.5000",
                               "-12345678901234567890.0123456789", "", "wide"};
    EXPECT_EQ(rows[0], expected);
    TTextRow allNull(expected.size(), std::nullopt);
    allNull[0] = "2";
    EXPECT_EQ(rows[1], allNull);
    TTextRow partly = expected;
    partly[0] = "3";
    partly[1] = partly[9] = std::nullopt;
    EXPECT_EQ(rows[2], partly);
}

// The new-types flag: 1 with the first execution and when a type changes, 0 otherwise; the
// server reads the values right either way.
TEST(StmtIntegration, NewTypesFlagOnlyWhenTypesChange) {
    auto vio = std::make_unique<TRecordingVio>(Server().Host, Server().Port);
    TRecordingVio* recorder = vio.get();
    TApiConnection c(ProtocolTestDatabase, std::move(vio));
    c.Exec("CREATE OR REPLACE TABLE flags (a INT, b VARCHAR(10))");
    TPrepared insert(c, "INSERT INTO flags VALUES (?, ?)");
    struct Case {
        TParamDescs params;
        uint8_t flag;
    } cases[] = {
        {{P(dtInteger, int64_t(1)), P(dtString, std::string("a"))}, 1},
        {{P(dtInteger, int64_t(2)), P(dtString, std::string("b"))}, 0},
        {{P(dtInteger, int64_t(3)), Null(dtString)}, 0},
        {{P(dtString, std::string("4")), P(dtString, std::string("c"))}, 1},
        {{P(dtString, std::string("5")), P(dtString, std::string("d"))}, 0},
        {{P(dtLargeint, int64_t(6)), P(dtString, std::string("e"))}, 1},
    };
    for (const auto& k : cases) {
        recorder->Sent.clear();
        ASSERT_EQ(insert.Execute(k.params), 0) << insert.Error();
        const auto frames = Frames(recorder->Sent);
        ASSERT_EQ(frames.size(), 1u);
        const Bytes& p = frames[0].Payload;
        ASSERT_GT(p.size(), 11u);
        EXPECT_EQ(p[0], 23);
        EXPECT_EQ(p[11], k.flag) << "after the command, id, flags, iterations and a 1-byte NULL bitmap";
    }
    EXPECT_EQ(c.Rows("SELECT a, b FROM flags ORDER BY a"),
              (std::vector<TTextRow>{{"1", "a"}, {"2", "b"}, {"3", std::nullopt}, {"4", "c"}, {"5", "d"}, {"6", "e"}}));
}

// A statement runs again once its rows are read — or freed half-read; other commands fit
// in between.
TEST(StmtIntegration, ReexecuteAfterReadingRows) {
    TApiConnection c;
    c.Exec("CREATE OR REPLACE TABLE r (a INT)");
    c.Exec("INSERT INTO r SELECT seq FROM seq_1_to_10");
    TPrepared s(c, "SELECT a, a * a FROM r WHERE a > ? ORDER BY a");
    const auto firstColumn = [&] {
        std::vector<int> values;
        for (const auto& row : s.Fetch()) values.push_back(int(row[0]->at(0)));
        return values;
    };
    ASSERT_EQ(s.Execute({P(dtInteger, int64_t(5))}), 0) << s.Error();
    EXPECT_EQ(firstColumn(), (std::vector<int>{6, 7, 8, 9, 10}));
    ASSERT_EQ(s.Execute({P(dtInteger, int64_t(8))}), 0) << s.Error();
    EXPECT_EQ(firstColumn(), (std::vector<int>{9, 10}));
    EXPECT_EQ(c.Value("SELECT COUNT(*) FROM r"), "10");

    ASSERT_EQ(s.Execute({P(dtInteger, int64_t(0))}), 0) << s.Error();
    ASSERT_EQ(c.api._mysql_stmt_bind_result(s.st), 0);
    PMYSQL_ROW row;
    ASSERT_EQ(c.api._mysql_stmt_fetch(s.st, row), 0);
    EXPECT_EQ(s.Execute({P(dtInteger, int64_t(0))}), 2014) << "rows pending";
    EXPECT_EQ(c.api.mysql_stmt_free_result(s.st), 0);
    ASSERT_EQ(s.Execute({P(dtInteger, int64_t(9))}), 0) << s.Error();
    EXPECT_EQ(firstColumn(), (std::vector<int>{10}));
}

TEST(StmtIntegration, ErrorsStayWithTheStatement) {
    TApiConnection c;
    c.Exec("CREATE OR REPLACE TABLE u (k INT PRIMARY KEY)");
    PMYSQL_STMT bad = c.api.mysql_stmt_init(c.con);
    const std::string syntax = "SELEC ?";
    EXPECT_EQ(c.api.mysql_stmt_prepare(bad, syntax.data(), syntax.size()), 1064);
    EXPECT_EQ(c.api.mysql_stmt_errno(bad), 1064u);
    EXPECT_EQ(c.api.mysql_stmt_error(bad).substr(0, 42), "\r\nYou have an error in your SQL syntax; ch");
    EXPECT_EQ(c.api.mysql_stmt_sqlstate(bad), "42000");
    EXPECT_EQ(c.api.mysql_errno(c.con), 0u);
    c.api.mysql_stmt_close(bad);

    TPrepared insert(c, "INSERT INTO u VALUES (?)");
    ASSERT_EQ(insert.Execute({P(dtInteger, int64_t(1))}), 0) << insert.Error();
    EXPECT_EQ(insert.Execute({P(dtInteger, int64_t(1))}), 1062);
    EXPECT_EQ(c.api.mysql_stmt_error(insert.st), "\r\nDuplicate entry '1' for key 'PRIMARY'");
    EXPECT_EQ(c.api.mysql_stmt_sqlstate(insert.st), "23000");
    // Too few descriptors: the request carries no parameters and the server refuses it.
    EXPECT_EQ(insert.Execute({}), 1210);
    EXPECT_EQ(c.api.mysql_stmt_error(insert.st), "\r\nIncorrect arguments to mysqld_stmt_execute");
    ASSERT_EQ(insert.Execute({P(dtInteger, int64_t(2))}), 0) << insert.Error();
    EXPECT_EQ(c.api.mysql_stmt_errno(insert.st), 0u);
    EXPECT_EQ(c.Value("SELECT COUNT(*) FROM u"), "2");
}
