// The MySQL record set against the test server: every column type through the text and the
// prepared protocol, fields before execution, several results, partial fetching, errors while
// rows are read.

#include "dataaccess/mysql/MyRecordset.h"
#include "support/MyTestConnection.h"
#include "support/Raised.h"
#include "support/VariantPrinter.h"

#include <gtest/gtest.h>

#include <cmath>

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
    TRecBuf buf = rs.AllocRecBuf();
    rs.SetToBegin();
    for (rs.GetNextRecord(buf); !rs.Eof(); rs.GetNextRecord(buf)) {
        std::vector<Variant>& row = rows.emplace_back();
        for (int i = 1; i <= rs.FieldCount(); ++i) row.push_back(rs.GetFieldAsVariant(i, buf));
    }
    TData::FreeRecBuf(buf);
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
