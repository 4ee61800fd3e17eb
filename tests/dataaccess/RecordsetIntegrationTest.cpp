// The MySQL record set against the test server: every column type through the text and the
// prepared protocol, fields before execution, several results, partial fetching, errors while
// rows are read.

#include "dataaccess/mysql/MyRecordset.h"
#include "support/MyTestConnection.h"
#include "support/Raised.h"
#include "support/VariantPrinter.h"
#include "common/ScopeGuard.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

using namespace calvoro;
using namespace calvoro::dac;
using calvoro::test::FirstValue;
using calvoro::test::NewConnection;
using calvoro::test::Raised;

namespace {

class RecordsetTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        auto admin = NewConnection();
        admin->ExecSQL(QStringLiteral("CREATE DATABASE IF NOT EXISTS calvoro_rs"));
    }
    void SetUp() override {
        c = NewConnection(true, QStringLiteral("calvoro_rs"));
        c->Connect();
    }

    // A record set on the test connection, all rows read at open.
    std::unique_ptr<TMySQLRecordset> Query(const QString& sql, bool prepared = false) {
        auto rs = std::make_unique<TMySQLRecordset>();
        rs->SetConnection(c->GetIConnection());
        rs->SetSQL(sql);
        rs->FFetchAll = true;
        if (prepared) rs->Prepare();
        rs->Open();
        return rs;
    }

    std::unique_ptr<TMyConnection> c;
};

// Every row of an open record set, each value as a variant.
std::vector<std::vector<Variant>> Rows(TMySQLRecordset& rs) {
    std::vector<std::vector<Variant>> rows;
    const TRecBufOwner bufOwner = rs.AllocRecBuf();
    TRecBuf buf = bufOwner.get();
    rs.SetToBegin();
    for (rs.GetNextRecord(buf); !rs.Eof(); rs.GetNextRecord(buf)) {
        std::vector<Variant>& row = rows.emplace_back();
        for (int i = 1; i <= rs.FieldCount(); ++i) row.push_back(rs.GetFieldAsVariant(i, buf));
    }
    return rows;
}

Variant Time(bool negative, int h, int m, int s, int ms) { return Variant::FromDateTime(EncodeDuration(negative, h, m, s, ms)); }
Variant Stamp(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return Variant::FromDateTime(EncodeDateTime(y, mo, d, h, mi, s, ms));
}
Variant Text(const char16_t* s) { return QString::fromUtf16(s); }
Variant Bytes(const char* s, qsizetype n) { return QByteArray(s, n); }

struct TypeCase {
    const char* column;   // its definition
    QByteArray literal;   // the value inserted (UTF-8)
    TDataType type;       // the field's data type
    Variant value;        // as read back
};

QByteArray AllBytes() {
    QByteArray b;
    for (int i = 0; i < 256; ++i) b += char(i);
    return b;
}

const QByteArray Large = QByteArray(20 * 1024 * 1024, 'L') + "end";

std::vector<TypeCase> TypeCases() {
    QByteArray point;  // SRID 0, then WKB: little-endian point (1 2)
    point += QByteArray(4, '\0');
    point += QByteArray::fromHex("0101000000");
    const double x = 1, y = 2;
    point += QByteArray(reinterpret_cast<const char*>(&x), 8) + QByteArray(reinterpret_cast<const char*>(&y), 8);
    return {
        {"TINYINT(1)", "1", dtBoolean, true},
        {"TINYINT", "-128", dtInt8, -128},
        {"TINYINT UNSIGNED", "255", dtWord, 255},
        {"SMALLINT", "-32768", dtSmallint, -32768},
        {"SMALLINT UNSIGNED", "65535", dtWord, 65535},
        {"MEDIUMINT", "-8388608", dtInteger, -8388608},
        {"MEDIUMINT UNSIGNED", "16777215", dtInteger, 16777215},
        {"INT", "-2147483648", dtInteger, INT32_MIN},
        {"INT UNSIGNED", "4294967295", dtUInt32, 4294967295LL},
        {"BIGINT", "-9223372036854775808", dtLargeint, INT64_MIN},
        {"BIGINT UNSIGNED", "18446744073709551615", dtFMTBCD, Text(u"18446744073709551615")},
        {"FLOAT", "-1.5", dtFloat, -1.5},
        {"DOUBLE", "0.30000000000000004", dtFloat, 0.30000000000000004},
        {"DOUBLE", "-1.7976931348623157e308", dtFloat, -1.7976931348623157e308},
        {"DECIMAL(20,2)", "123456789012345678.99", dtFMTBCD, Text(u"123456789012345678.99")},
        {"DECIMAL(65,30)", "-99999999999999999999999999999999999.999999999999999999999999999999", dtFMTBCD,
         Text(u"-99999999999999999999999999999999999.999999999999999999999999999999")},
        {"DECIMAL(5,0) UNSIGNED", "99999", dtFMTBCD, Text(u"99999")},
        {"DECIMAL(4,4)", "-0.0001", dtFMTBCD, Text(u"-0.0001")},
        {"DATE", "'2024-02-29'", dtDate, Stamp(2024, 2, 29)},
        {"DATE", "'0000-00-00'", dtDate, Variant::Null()},
        {"DATETIME", "'9999-12-31 23:59:59'", dtDateTime, Stamp(9999, 12, 31, 23, 59, 59)},
        {"DATETIME(6)", "'2024-03-01 18:30:05.123456'", dtDateTime, Stamp(2024, 3, 1, 18, 30, 5, 123)},
        {"DATETIME", "'0000-00-00 00:00:00'", dtDateTime, Variant::Null()},
        {"TIMESTAMP(3) NULL", "'2024-03-01 18:30:05.999'", dtDateTime, Stamp(2024, 3, 1, 18, 30, 5, 999)},
        {"TIME", "'-838:59:59'", dtTime, Time(true, 838, 59, 59, 0)},
        {"TIME(6)", "'-00:00:01.500000'", dtTime, Time(true, 0, 0, 1, 500)},
        {"TIME", "'00:00:00'", dtTime, Time(false, 0, 0, 0, 0)},
        {"YEAR", "2155", dtWord, 2155},
        {"CHAR(5)", "'ab'", dtWideString, Text(u"ab")},
        {"VARCHAR(10)", "'\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600'",
         dtWideString, Text(u"\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600")},
        {"VARCHAR(20)", "REPEAT('\U0001F600', 20)", dtExtWideString, QString(QStringLiteral("\U0001F600")).repeated(20)},
        {"VARCHAR(300)", "REPEAT('x', 300)", dtExtWideString, QString(300, u'x')},
        {"VARCHAR(5)", "'a\\0b'", dtWideString, QString::fromUtf16(u"a\0b", 3)},
        {"VARCHAR(5) CHARACTER SET latin1", "'caf\u00e9'", dtWideString, Text(u"caf\u00e9")},
        {"BINARY(4)", "'ab'", dtString, Bytes("ab\0\0", 4)},
        {"VARBINARY(10)", "0x610062", dtString, Bytes("a\0b", 3)},
        {"VARBINARY(100)", "'ab  '", dtExtString, Bytes("ab  ", 4)},
        {"TINYTEXT", "'\u00e9'", dtWideMemo, Text(u"\u00e9")},
        {"TEXT COLLATE utf8mb4_bin", "'\u20ac'", dtWideMemo, Text(u"\u20ac")},
        {"BLOB", "0x" + AllBytes().toHex(), dtBlob, AllBytes()},
        {"LONGBLOB", "CONCAT(REPEAT('L', 20 * 1024 * 1024), 'end')", dtBlob, Large},
        {"ENUM('a','b')", "'b'", dtWideString, Text(u"b")},
        {"SET('x','y')", "'x,y'", dtWideString, Text(u"x,y")},
        {"BIT(1)", "b'1'", dtLargeint, 1},
        {"BIT(64)", "0xFFFFFFFFFFFFFFFF", dtFMTBCD, Text(u"18446744073709551615")},
        {"JSON", "'{\"a\": [1, \"\u00e9\"]}'", dtWideMemo, Text(u"{\"a\": [1, \"\u00e9\"]}")},
        {"GEOMETRY", "ST_GeomFromText('POINT(1 2)')", dtBlob, point},
    };
}

}  // namespace

TEST_F(RecordsetTest, EveryColumnTypeKeepsItsValueThroughBothProtocols) {
    const std::vector<TypeCase> cases = TypeCases();
    QStringList columns, values, nulls;
    for (size_t i = 0; i < cases.size(); ++i) {
        columns << QStringLiteral("c%1 %2").arg(i).arg(QString::fromUtf8(cases[i].column));
        values << QString::fromUtf8(cases[i].literal);
        nulls << QStringLiteral("NULL");
    }
    c->ExecSQL(QStringLiteral("CREATE OR REPLACE TABLE types (id INT PRIMARY KEY, %1) CHARACTER SET utf8mb4")
                   .arg(columns.join(u", ")));
    c->ExecSQL(QStringLiteral("INSERT INTO types VALUES (1, %1), (2, %2)").arg(values.join(u", "), nulls.join(u", ")));

    for (bool prepared : {false, true}) {
        SCOPED_TRACE(prepared ? "prepared" : "text");
        auto rs = Query(QStringLiteral("SELECT * FROM types ORDER BY id"), prepared);
        ASSERT_EQ(rs->FieldCount(), int(cases.size()) + 1);
        const auto rows = Rows(*rs);
        ASSERT_EQ(rows.size(), 2u);
        for (size_t i = 0; i < cases.size(); ++i) {
            SCOPED_TRACE(cases[i].column);
            EXPECT_EQ(rs->Field(int(i) + 2).FDataType, cases[i].type);
            const Variant& got = rows[0][i + 1];
            EXPECT_EQ(got.Type(), cases[i].value.Type());
            if (got.Type() == VarType::Bytes && got.AsBytes().size() > 1000)
                EXPECT_TRUE(got.AsBytes() == cases[i].value.AsBytes()) << "large value differs";
            else
                EXPECT_EQ(got, cases[i].value);
            EXPECT_TRUE(rows[1][i + 1].IsNull());
        }
    }
}

TEST_F(RecordsetTest, ServerTextOfEveryValueWithFieldsAsString) {
    c->ExecSQL(QStringLiteral(
        "CREATE OR REPLACE TABLE texts (d DATE, dt DATETIME(6), dt0 DATETIME, ts TIMESTAMP(2) NULL, t TIME(3), "
        "t0 TIME, y YEAR, n DECIMAL(30,10), f FLOAT, g DOUBLE, i TINYINT(1), u BIGINT UNSIGNED, s VARCHAR(10))"));
    c->ExecSQL(QStringLiteral(
        "INSERT INTO texts VALUES ('0000-00-00', '2024-03-01 18:30:05.000120', '0000-00-00 00:00:00', "
        "'2024-03-01 18:30:05.5', '-838:59:58.999', '00:00:00', 0, -12.5000000001, 3.25, 1e-300, -7, "
        "18446744073709551615, 'x'), "
        "('2024-02-29', '1000-01-01 00:00:00', '9999-12-31 23:59:59', NULL, '12:00:00', '-00:00:01', 2155, 0, "
        "-0.5, 0.1, 1, 0, '')"));
    const std::vector<std::vector<Variant>> expected = {
        {Text(u"0000-00-00"), Text(u"2024-03-01 18:30:05.000120"), Text(u"0000-00-00 00:00:00"),
         Text(u"2024-03-01 18:30:05.50"), Text(u"-838:59:58.999"), Text(u"00:00:00"), Text(u"0000"),
         Text(u"-12.5000000001"), Text(u"3.25"), Text(u"1e-300"), Text(u"-7"), Text(u"18446744073709551615"),
         Text(u"x")},
        {Text(u"2024-02-29"), Text(u"1000-01-01 00:00:00.000000"), Text(u"9999-12-31 23:59:59"), Variant::Null(),
         Text(u"12:00:00.000"), Text(u"-00:00:01"), Text(u"2155"), Text(u"0.0000000000"), Text(u"-0.5"),
         Text(u"0.1"), Text(u"1"), Text(u"0"), Text(u"")},
    };
    for (bool prepared : {false, true}) {
        SCOPED_TRACE(prepared ? "prepared" : "text");
        auto rs = std::make_unique<TMySQLRecordset>();
        rs->SetConnection(c->GetIConnection());
        rs->SetSQL(QStringLiteral("SELECT * FROM texts"));
        rs->FFetchAll = true;
        rs->FFieldsAsString = true;
        if (prepared) rs->Prepare();
        rs->Open();
        const auto rows = Rows(*rs);
        ASSERT_EQ(rows.size(), 2u);
        for (size_t r = 0; r < 2; ++r)
            for (size_t i = 0; i < expected[r].size(); ++i) {
                SCOPED_TRACE(rs->Field(int(i) + 1).FName.toStdString());
                // Text as 8-bit characters: compare through the same code page.
                EXPECT_EQ(rows[r][i].IsNull() ? Variant::Null() : Variant(rows[r][i].AsString()), expected[r][i]);
            }
    }
}

TEST_F(RecordsetTest, FieldsBeforeExecutionComeFromTheStatementForNoRows) {
    c->ExecSQL(QStringLiteral("CREATE OR REPLACE TABLE few (id INT PRIMARY KEY, name VARCHAR(20))"));
    c->ExecSQL(QStringLiteral("INSERT INTO few VALUES (1, 'a'), (2, 'b')"));
    TMySQLRecordset rs;
    rs.SetConnection(c->GetIConnection());
    const QString sql = QStringLiteral("SELECT name AS n, id FROM few WHERE id > 0 ORDER BY id LIMIT 10");
    rs.SetSQL(sql);
    QStringList sent;
    rs.GetCommand().FOnExecute = [&](const QString& s) { sent << s; };
    rs.ExplicitInitFields();
    ASSERT_EQ(rs.FieldCount(), 2);
    EXPECT_EQ(rs.Field(1).FName, QStringLiteral("n"));
    EXPECT_EQ(rs.Field(1).FActualName, QStringLiteral("name"));
    EXPECT_EQ(rs.Field(2).FDataType, dtInteger);
    EXPECT_EQ(sent, QStringList{QStringLiteral("SELECT name AS n, id FROM few WHERE id > 0 ORDER BY id LIMIT 0")});
    EXPECT_EQ(rs.GetCommand().UserSQL(), sql) << "the text is put back";
    // The connection is free again and the record set opens with its own text.
    rs.FFetchAll = true;
    rs.Open();
    EXPECT_EQ(rs.RecordCount(), 2);
    EXPECT_EQ(sent.last(), sql);
}

TEST_F(RecordsetTest, SeveralResults) {
    c->ExecSQL(QStringLiteral("CREATE OR REPLACE TABLE log (id INT AUTO_INCREMENT PRIMARY KEY, v INT)"));
    // A statement without rows followed by a SELECT opens the SELECT's rows.
    auto rs = Query(QStringLiteral("INSERT INTO log (v) VALUES (7); SELECT v FROM log"));
    EXPECT_EQ(Rows(*rs), (std::vector<std::vector<Variant>>{{7}}));
    rs.reset();

    // Without the open-next mode the later results are read and dropped: the connection is
    // free at once.
    rs = Query(QStringLiteral("SELECT 1 AS a; SELECT 2 AS b"));
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT 'free'")), QStringLiteral("free"));
    EXPECT_FALSE(rs->OpenNext());
    rs.reset();

    // With it, each result in turn; statements without rows are stepped over.
    TMySQLRecordset next;
    next.SetConnection(c->GetIConnection());
    next.SetSQL(QStringLiteral("SELECT 1 AS a; SELECT 2 AS b, 'x' AS c; INSERT INTO log (v) VALUES (8), (9); "
                               "SELECT COUNT(*) AS n FROM log"));
    next.FFetchAll = true;
    next.FOpenNextMode = true;
    next.Open();
    EXPECT_EQ(Rows(next), (std::vector<std::vector<Variant>>{{1}}));
    ASSERT_TRUE(next.OpenNext());
    EXPECT_EQ(next.Field(2).FName, QStringLiteral("c"));
    EXPECT_EQ(Rows(next), (std::vector<std::vector<Variant>>{{2, QStringLiteral("x")}}));
    ASSERT_TRUE(next.OpenNext());
    EXPECT_EQ(next.RowsAffected(), 2) << "the INSERT's count comes with the result after it";
    EXPECT_EQ(Rows(next), (std::vector<std::vector<Variant>>{{3}}));
    EXPECT_FALSE(next.OpenNext());
    next.Close();
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT 'free'")), QStringLiteral("free"));

    // An error in a later statement is raised when the results are stepped through.
    TMySQLRecordset failing;
    failing.SetConnection(c->GetIConnection());
    failing.SetSQL(QStringLiteral("SELECT 1; SELECT * FROM no_such_table"));
    failing.FFetchAll = true;
    EXPECT_EQ(Raised<EMyError>([&] { failing.Open(); }).ErrorCode(), 1146);
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT 'free'")), QStringLiteral("free"));
}

TEST_F(RecordsetTest, AnErrorWhileRowsAreReadEndsTheFetch) {
    const QString sql = QStringLiteral(
        "SELECT IF(seq = 60, (SELECT 1 UNION SELECT 2), seq) AS v FROM seq_1_to_100");
    EXPECT_EQ(Raised<EMyError>([&] { Query(sql); }).ErrorCode(), 1242);
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT 'free'")), QStringLiteral("free"));

    TMySQLRecordset partial;
    partial.SetConnection(c->GetIConnection());
    partial.SetSQL(sql);
    partial.FFetchRows = 50;
    partial.FCreateConnection = false;
    partial.Open();
    EXPECT_EQ(partial.RecordCount(), 50);
    const TRecBufOwner bufOwner = partial.AllocRecBuf();
    TRecBuf buf = bufOwner.get();
    int read = 0;
    try {
        for (partial.GetNextRecord(buf); !partial.Eof(); partial.GetNextRecord(buf)) ++read;
        ADD_FAILURE() << "the failing row was not reported";
    } catch (const EMyError& e) {
        EXPECT_EQ(e.ErrorCode(), 1242);
    }
    EXPECT_EQ(read, 50);
    EXPECT_TRUE(partial.Fetched()) << "the record set is at its end";
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT 'free'")), QStringLiteral("free"));

    c->ExecSQL(QStringLiteral("DO 1"));
    TMySQLRecordset statement;
    statement.SetConnection(c->GetIConnection());
    statement.SetSQL(QStringLiteral("DO 1"));
    EXPECT_EQ(Raised<EDatabaseError>([&] { statement.Open(); }).Message(),
              QStringLiteral("Query must return exactly result set - use Execute"));
}

TEST_F(RecordsetTest, PartialFetchingKeepsTheConnectionFree) {
    // An account of this test's own, so that its connections can be counted on the server.
    c->ExecSQL(QStringLiteral("CREATE USER IF NOT EXISTS 'calvoro_partial'@'%' IDENTIFIED BY 'partial-pw'"));
    c->ExecSQL(QStringLiteral("GRANT ALL ON calvoro_rs.* TO 'calvoro_partial'@'%'"));
    auto own = NewConnection(true, QStringLiteral("calvoro_rs"));
    own->SetUsername(QStringLiteral("calvoro_partial"));
    own->SetPassword(QStringLiteral("partial-pw"));
    own->Connect();
    const QString count =
        QStringLiteral("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE USER = 'calvoro_partial'");

    TMySQLRecordset rs;
    rs.SetConnection(own->GetIConnection());
    rs.SetSQL(QStringLiteral("SELECT seq FROM seq_1_to_1000"));
    rs.FFetchRows = 10;  // FetchAll off: the pending rows are read on an additional connection
    rs.Open();
    EXPECT_EQ(rs.RecordCount(), 10);
    // The own connection answers while 990 rows wait on the other one.
    EXPECT_EQ(FirstValue(*own, QStringLiteral("SELECT 'free'")), QStringLiteral("free"));
    EXPECT_EQ(FirstValue(*c, count), QStringLiteral("2"));
    const TRecBufOwner bufOwner = rs.AllocRecBuf();
    TRecBuf buf = bufOwner.get();
    int64_t sum = 0;
    rs.SetToBegin();
    for (rs.GetNextRecord(buf); !rs.Eof(); rs.GetNextRecord(buf)) sum += rs.GetFieldAsVariant(1, buf).AsInt64();
    EXPECT_EQ(sum, 500500);
    EXPECT_EQ(rs.RecordCount(), 1000);
    rs.Close();
    // The additional connection is closed (the server notices within moments).
    for (int i = 0; i < 100 && FirstValue(*c, count) != QStringLiteral("1"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(FirstValue(*c, count), QStringLiteral("1"));
}

TEST_F(RecordsetTest, UnidirectionalReadingKeepsOneBlock) {
    TMySQLRecordset rs;
    rs.SetConnection(c->GetIConnection());
    rs.SetSQL(QStringLiteral("SELECT seq, REPEAT('v', seq % 100) AS s FROM seq_1_to_100000"));
    rs.FUniDirectional = true;
    rs.FCreateConnection = false;
    rs.FFetchRows = 100;
    rs.Open();
    const TRecBufOwner bufOwner = rs.AllocRecBuf();
    TRecBuf buf = bufOwner.get();
    int64_t sum = 0, length = 0;
    int maxBlocks = 0;
    size_t maxHeap = 0;
    rs.SetToBegin();
    for (rs.GetNextRecord(buf); !rs.Eof(); rs.GetNextRecord(buf)) {
        sum += rs.GetFieldAsVariant(1, buf).AsInt64();
        length += rs.GetFieldAsVariant(2, buf).AsString().size();
        maxBlocks = std::max(maxBlocks, rs.BlockMan().BlockCount());
        maxHeap = std::max(maxHeap, rs.StringHeap().AllocatedBytes());
    }
    EXPECT_EQ(sum, int64_t(100000) * 100001 / 2);
    EXPECT_EQ(length, 1000 * (99 * 100 / 2));
    EXPECT_EQ(maxBlocks, 1);
    EXPECT_LE(maxHeap, size_t(8 * TStringHeap::BlockSize)) << "values of earlier blocks are released";
    EXPECT_EQ(rs.RecordNo(), 0);
}

TEST_F(RecordsetTest, EightBitConnectionKeepsBytes) {
    auto latin = NewConnection(false, QStringLiteral("calvoro_rs"));
    latin->MyOptions().SetCharset(QStringLiteral("latin1"));
    latin->Connect();
    latin->ExecSQL(QStringLiteral("CREATE OR REPLACE TABLE latin (s VARCHAR(10), t TEXT) CHARACTER SET latin1"));
    latin->ExecSQL(QStringLiteral("INSERT INTO latin VALUES ('caf\u00e9 \u20ac', 'line\nnext')"));
    TMySQLRecordset rs;
    rs.SetConnection(latin->GetIConnection());
    rs.SetSQL(QStringLiteral("SELECT s, t FROM latin"));
    rs.FFetchAll = true;
    rs.Open();
    EXPECT_EQ(rs.Field(1).FDataType, dtString);
    EXPECT_EQ(rs.Field(1).FLength, 10) << "8-bit lengths are bytes";
    EXPECT_EQ(rs.Field(2).FDataType, dtMemo);
    EXPECT_EQ(Rows(rs), (std::vector<std::vector<Variant>>{{Text(u"caf\u00e9 \u20ac"), Text(u"line\nnext")}}));
}

TEST_F(RecordsetTest, PreparedFieldsComeWithoutRunningTheStatement) {
    c->ExecSQL(QStringLiteral("CREATE OR REPLACE TABLE counted (id INT PRIMARY KEY, label VARCHAR(10))"));
    c->ExecSQL(QStringLiteral("INSERT INTO counted VALUES (1, 'one'), (2, 'two')"));
    const QString executions = QStringLiteral("SELECT VARIABLE_VALUE FROM information_schema.SESSION_STATUS "
                                              "WHERE VARIABLE_NAME = 'COM_STMT_EXECUTE'");
    const QString before = *FirstValue(*c, executions);
    TMySQLRecordset rs;
    rs.SetConnection(c->GetIConnection());
    rs.SetSQL(QStringLiteral("SELECT label, id FROM counted WHERE id > :min ORDER BY id"));
    rs.Prepare();
    rs.ExplicitInitFields();
    ASSERT_EQ(rs.FieldCount(), 2);
    EXPECT_EQ(rs.Field(1).FName, QStringLiteral("label"));
    EXPECT_EQ(*FirstValue(*c, executions), before) << "the prepared statement's metadata sufficed";
    // Executed with its parameter in its binary form, twice.
    for (int min : {0, 1}) {
        rs.GetCommand().Params()[0].FDataType = dtInteger;
        rs.GetCommand().Params()[0].SetValue(min);
        rs.FFetchAll = true;
        rs.Open();
        EXPECT_EQ(rs.RecordCount(), 2 - min);
        rs.Close();
    }
    rs.UnPrepare();
    EXPECT_EQ(rs.CommandType(), ctUnknown);
}

TEST_F(RecordsetTest, ProcedureCallHandsItsOneRowToOutParameters) {
    c->ExecSQL(QStringLiteral("DROP PROCEDURE IF EXISTS answer"));
    c->ExecSQL(QStringLiteral("CREATE PROCEDURE answer(IN q INT) SELECT q * 2 AS `@doubled`, 'x' AS other"));
    TMySQLRecordset rs;
    rs.SetConnection(c->GetIConnection());
    rs.SetSQL(QStringLiteral("CALL answer(21)"));
    TParamDesc& out = rs.GetCommand().Params().emplace_back();
    out.FName = QStringLiteral("doubled");
    out.FParamType = ptOutput;
    rs.FFetchAll = true;
    rs.Open();
    EXPECT_EQ(rs.GetCommand().Params()[0].FData, Variant(int64_t(42)));
    rs.Close();
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT 'free'")), QStringLiteral("free")) << "CALL's status result was read";
}

TEST_F(RecordsetTest, BlobValuesReadFromTheServerCanBeEditedAndCancelled) {
    c->ExecSQL(QStringLiteral("CREATE OR REPLACE TABLE docs (id INT PRIMARY KEY, body BLOB, note TEXT)"));
    c->ExecSQL(QStringLiteral("INSERT INTO docs VALUES (1, NULL, NULL), (2, 'stored', 'caf\u00e9')"));
    auto rs = Query(QStringLiteral("SELECT * FROM docs ORDER BY id"));
    const TRecBufOwner bufOwner = rs->AllocRecBuf();
    TRecBuf buf = bufOwner.get();
    for (bool post : {false, true}) {
        SCOPED_TRACE(post ? "post" : "cancel");
        for (int row = 1; row <= 2; ++row) {
            rs->SetRecordNo(row);
            rs->GetRecord(buf);
            rs->EditRecord(buf);
            rs->WriteBlob(2, buf, 0, 3, "new");
            const Variant note = QStringLiteral("\u4e2d");
            rs->PutField(3, buf, &note);
            if (post) rs->PostRecord(buf);
            else rs->CancelRecord(buf);
        }
        const auto rows = Rows(*rs);
        if (post) {
            EXPECT_EQ(rows[0], (std::vector<Variant>{1, QByteArray("new"), Text(u"\u4e2d")}));
            EXPECT_EQ(rows[1], (std::vector<Variant>{2, QByteArray("newred"), Text(u"\u4e2d")}));
        } else {
            EXPECT_EQ(rows[0], (std::vector<Variant>{1, Variant::Null(), Variant::Null()}));
            EXPECT_EQ(rows[1], (std::vector<Variant>{2, QByteArray("stored"), Text(u"caf\u00e9")}));
        }
    }
}
