// The MySQL record set's rules without a server: type mapping, column descriptions, value
// conversions, the statement rewrites, and a scripted server for what MariaDB never sends.

#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/mysql/MyRecordset.h"
#include "dataaccess/mysql/MySqlValues.h"
#include "dataaccess/mysql/MyStatementScan.h"
#include "support/MyColumns.h"
#include "support/Raised.h"
#include "support/ScriptedServer.h"
#include "support/VariantPrinter.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>

using namespace calvoro;
using namespace calvoro::dac;
using namespace calvoro::protocol;
using calvoro::test::Raised;
namespace t = calvoro::test;

namespace {

constexpr int32_t Utf8mb4 = 45, Utf8mb3 = 33, Binary = 63;

TMYSQL_FIELD Column(TMySqlFieldType type, uint32_t length, uint32_t flags = 0, int32_t charset = Utf8mb4,
                    uint32_t decimals = 0, std::string name = "c", std::string table = "t") {
    return t::MyColumn(type, length, flags, charset, decimals, std::move(name), std::move(table));
}

// A record set whose result has the given columns, described and laid out the way an open
// does it, without a connection.
class ColumnsRecordset : public TMySQLRecordset {
public:
    ColumnsRecordset(std::vector<TMYSQL_FIELD> columns, QString sql) : FColumns(std::move(columns)), FSql(std::move(sql)) {}

protected:
    void CreateFieldDescs() override { DescribeColumns(FColumns, FSql); }

private:
    std::vector<TMYSQL_FIELD> FColumns;
    QString FSql;
};

struct Described {
    explicit Described(const std::vector<TMYSQL_FIELD>& columns, const QString& sql = QStringLiteral("SELECT 1"),
                       TMySQLRecordset::TConnectionValues values = {true, true},
                       std::function<void(TMySQLRecordset&)> options = {})
        : rs(columns, sql) {
        rs.SetConnectionValues(values);
        if (options) options(rs);
        rs.InitFields();
    }
    ColumnsRecordset rs;
};

}  // namespace

TEST(MySqlTypeMapping, ColumnTypesBecomeDataTypes) {
    struct Case {
        const char* name;
        TMYSQL_FIELD column;
        TMySQLMapOptions options;
        TDataType type;
        bool fixed = false;
    } cases[] = {
        {"TINYINT(1)", Column(FIELD_TYPE_TINY, 1), {}, dtBoolean},
        {"TINYINT(1) without EnableBoolean", Column(FIELD_TYPE_TINY, 1), {.EnableBoolean = false}, dtInt8},
        {"TINYINT(1) UNSIGNED without EnableBoolean", Column(FIELD_TYPE_TINY, 1, UNSIGNED_FLAG),
         {.EnableBoolean = false}, dtWord},
        {"SMALLINT UNSIGNED", Column(FIELD_TYPE_SHORT, 5, UNSIGNED_FLAG), {}, dtWord},
        {"INT UNSIGNED", Column(FIELD_TYPE_LONG, 10, UNSIGNED_FLAG), {}, dtUInt32},
        {"BIGINT(11) optimized", Column(FIELD_TYPE_LONGLONG, 11), {.OptimizedBigInt = true}, dtInteger},
        {"BIGINT(20) optimized", Column(FIELD_TYPE_LONGLONG, 20), {.OptimizedBigInt = true}, dtLargeint},
        {"BIGINT UNSIGNED", Column(FIELD_TYPE_LONGLONG, 20, UNSIGNED_FLAG), {}, dtFMTBCD},
        {"BIT(64)", Column(FIELD_TYPE_BIT, 64, UNSIGNED_FLAG, Binary), {}, dtFMTBCD},
        {"BIT(8)", Column(FIELD_TYPE_BIT, 8, UNSIGNED_FLAG, Binary), {}, dtLargeint},
        {"DECIMAL(20,2)", Column(FIELD_TYPE_NEWDECIMAL, 22, 0, Binary, 2), {}, dtFMTBCD},
        {"DECIMAL(10,2) with BCD", Column(FIELD_TYPE_NEWDECIMAL, 12, 0, Binary, 2), {.EnableBCD = true}, dtBCD},
        {"DECIMAL(20,2) with BCD does not fit", Column(FIELD_TYPE_NEWDECIMAL, 22, 0, Binary, 2),
         {.EnableBCD = true}, dtFMTBCD},
        {"DECIMAL(10,6) with BCD does not fit", Column(FIELD_TYPE_NEWDECIMAL, 12, 0, Binary, 6),
         {.EnableBCD = true}, dtFMTBCD},
        {"DOUBLE", Column(FIELD_TYPE_DOUBLE, 22, 0, Binary, 31), {}, dtFloat},
        {"YEAR", Column(FIELD_TYPE_YEAR, 4, UNSIGNED_FLAG, Binary), {}, dtWord},
        {"TIMESTAMP", Column(FIELD_TYPE_TIMESTAMP, 19, 0, Binary), {}, dtDateTime},
        {"VARCHAR", Column(FIELD_TYPE_VAR_STRING, 40), {}, dtString},
        {"VARCHAR in Unicode", Column(FIELD_TYPE_VAR_STRING, 40), {.UseUnicode = true}, dtWideString},
        {"VARBINARY as string", Column(FIELD_TYPE_VAR_STRING, 40, BINARY_FLAG, Binary), {}, dtString},
        {"VARBINARY in Unicode stays 8-bit", Column(FIELD_TYPE_VAR_STRING, 40, BINARY_FLAG, Binary),
         {.UseUnicode = true}, dtString},
        {"VARBINARY as bytes", Column(FIELD_TYPE_VAR_STRING, 40, BINARY_FLAG, Binary), {.BinaryAsString = false},
         dtVarBytes},
        {"VARCHAR _bin is text", Column(FIELD_TYPE_VAR_STRING, 40, BINARY_FLAG), {.BinaryAsString = false}, dtString},
        {"BINARY as bytes", Column(FIELD_TYPE_STRING, 4, BINARY_FLAG, Binary), {.BinaryAsString = false}, dtBytes, true},
        {"CHAR", Column(FIELD_TYPE_STRING, 4), {}, dtString, true},
        {"BLOB", Column(FIELD_TYPE_BLOB, 65535, BINARY_FLAG | BLOB_FLAG, Binary), {.UseUnicode = true}, dtBlob},
        {"TEXT", Column(FIELD_TYPE_BLOB, 65535, BLOB_FLAG), {}, dtMemo},
        {"TEXT _bin in Unicode", Column(FIELD_TYPE_BLOB, 65535, BINARY_FLAG | BLOB_FLAG), {.UseUnicode = true},
         dtWideMemo},
        {"JSON", Column(FIELD_TYPE_JSON, 65535, BLOB_FLAG | BINARY_FLAG, Binary), {.UseUnicode = true}, dtWideMemo},
        {"GEOMETRY", Column(FIELD_TYPE_GEOMETRY, 65535, BINARY_FLAG, Binary), {.UseUnicode = true}, dtBlob},
        {"NULL", Column(FIELD_TYPE_NULL, 0, 0, Binary), {}, dtString},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TMySQLMappedType m = MapFieldType(c.column, c.options);
        EXPECT_EQ(m.DataType, c.type);
        EXPECT_EQ(m.Fixed, c.fixed);
    }
    EXPECT_EQ(Raised<EDatabaseError>([] { MapFieldType(Column(200, 1), {}); }).Message(),
              QStringLiteral("Unknown MySQL datatype (200)"));
}

TEST(MySqlColumnDescription, LengthsAndKindsFollowTheColumnAndTheStatement) {
    struct Case {
        const char* name;
        TMYSQL_FIELD column;
        const char* sql;
        bool utf8mb4;
        TDataType type;
        uint16_t length;
        std::function<void(TMySQLRecordset&)> options = {};
    } cases[] = {
        // utf8: three bytes and one UTF-16 unit a character.
        {"VARCHAR(10) utf8", Column(FIELD_TYPE_VAR_STRING, 30, 0, Utf8mb3), "SELECT 1", false, dtWideString, 10},
        {"VARCHAR(40) utf8", Column(FIELD_TYPE_VAR_STRING, 120, 0, Utf8mb3), "SELECT 1", false, dtExtWideString, 40},
        {"VARCHAR(10) utf8 in SHOW", Column(FIELD_TYPE_VAR_STRING, 30, 0, Utf8mb3), "SHOW TABLES", false,
         dtWideString, 30},
        {"VARCHAR(40) utf8 in SHOW", Column(FIELD_TYPE_VAR_STRING, 120, 0, Utf8mb3), "SHOW TABLES", false,
         dtExtWideString, 120},
        // utf8mb4: four bytes and up to two units.
        {"VARCHAR(10) utf8mb4", Column(FIELD_TYPE_VAR_STRING, 40), "SELECT 1", true, dtWideString, 20},
        {"VARCHAR(16) utf8mb4", Column(FIELD_TYPE_VAR_STRING, 64), "SELECT 1", true, dtExtWideString, 32},
        {"VARCHAR(5) utf8mb4", Column(FIELD_TYPE_VAR_STRING, 20), "SELECT 1", true, dtWideString, 10},
        {"VARBINARY(10)", Column(FIELD_TYPE_VAR_STRING, 10, BINARY_FLAG, Binary), "SELECT 1", true, dtString, 10},
        {"VARBINARY(40) as bytes", Column(FIELD_TYPE_VAR_STRING, 40, BINARY_FLAG, Binary), "SELECT 1", true,
         dtExtVarBytes, 40, [](TMySQLRecordset& rs) { rs.FBinaryAsString = false; }},
        {"GROUP_CONCAT", Column(FIELD_TYPE_VAR_STRING, 65535, 0, Utf8mb4, 0, "g", ""), "SELECT 1", true, dtWideMemo, 0},
        {"long VARCHAR without LongStrings", Column(FIELD_TYPE_VAR_STRING, 2000), "SELECT 1", true, dtWideMemo, 0,
         [](TMySQLRecordset& rs) { rs.FLongStrings = false; }},
        {"flat buffers keep it inline", Column(FIELD_TYPE_VAR_STRING, 120), "SELECT 1", true, dtWideString, 60,
         [](TMySQLRecordset& rs) { rs.FFlatBuffers = true; }},
        {"zero length", Column(FIELD_TYPE_NULL, 0, 0, Binary), "SELECT NULL", true, dtExtString, 0},
        {"SHOW COLUMNS Type", Column(FIELD_TYPE_BLOB, 196605, BLOB_FLAG, Utf8mb4, 0, "Type"), "SHOW COLUMNS FROM t",
         true, dtWideMemo, 0},
        {"DESC Type", Column(FIELD_TYPE_VAR_STRING, 120, 0, Utf8mb4, 0, "Type"), "DESC t", true, dtExtWideString, 256},
        {"FieldsAsString TINYINT(1)", Column(FIELD_TYPE_TINY, 1), "SELECT 1", true, dtString, 4,
         [](TMySQLRecordset& rs) { rs.FFieldsAsString = true; }},
        {"DECIMAL(65,30)", Column(FIELD_TYPE_NEWDECIMAL, 67, 0, Binary, 30), "SELECT 1", true, dtFMTBCD, 65},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Described d({c.column}, QString::fromLatin1(c.sql), {true, c.utf8mb4}, c.options);
        const TFieldDesc& f = d.rs.Field(1);
        EXPECT_EQ(f.FDataType, c.type);
        EXPECT_EQ(f.FLength, c.length);
    }

    // Keys, flags and names: duplicate names are made unique.
    auto key = Column(FIELD_TYPE_LONG, 11, NOT_NULL_FLAG | PRI_KEY_FLAG | AUTO_INCREMENT_FLAG, Binary, 0, "id");
    auto name = Column(FIELD_TYPE_VAR_STRING, 40, NOT_NULL_FLAG | MULTIPLE_KEY_FLAG, Utf8mb4, 0, "name");
    auto other = Column(FIELD_TYPE_LONG, 11, NOT_NULL_FLAG, Binary, 0, "id", "u");
    other.OrgTable = "users";
    other.OrgName = "user_id";
    auto stamp = Column(FIELD_TYPE_TIMESTAMP, 19, NOT_NULL_FLAG, Binary, 0, "ts");
    Described d({key, name, other, stamp}, QStringLiteral("SELECT * FROM t JOIN users u ON u.user_id = t.id"));
    const auto& f1 = static_cast<const TMySQLFieldDesc&>(d.rs.Field(1));
    EXPECT_TRUE(f1.FIsKey && f1.FIsPrimaryKey && f1.FIsAutoIncrement);
    EXPECT_FALSE(f1.FRequired) << "the server fills an auto-increment column";
    EXPECT_TRUE(d.rs.Field(2).FRequired && d.rs.Field(2).FIsKey);
    EXPECT_EQ(d.rs.Field(3).FName, QStringLiteral("id_1"));
    EXPECT_EQ(d.rs.Field(3).FActualName, QStringLiteral("user_id")) << "the column's own name";
    EXPECT_FALSE(d.rs.Field(4).FRequired) << "the server fills a TIMESTAMP";
    const auto& tables = d.rs.TablesInfo();
    ASSERT_EQ(tables.Count(), 2);
    EXPECT_EQ(tables[0].TableName, QStringLiteral("t"));
    EXPECT_EQ(tables[1].TableName, QStringLiteral("users"));
    EXPECT_EQ(tables[1].TableAlias, QStringLiteral("u"));
    EXPECT_EQ(static_cast<const TCRFieldDesc&>(d.rs.Field(3)).FTableInfo, &tables[1]);
}

namespace {

// Converts one text row of the described columns; the values as variants.
std::vector<Variant> ConvertText(TMySQLRecordset& rs, const t::TTextRow& row) {
    const t::Bytes bytes = t::TextRow(row);
    TMySqlBinds binds(row.size());
    binds.Buffer = bytes.data();
    DecodeTextRow(bytes.data(), bytes.size(), binds.Binds.data(), row.size());
    const TRecBufOwner rec = rs.AllocRecBuf();
    std::vector<Variant> values;
    try {
        rs.ConvertRow(binds, false, rec.get());
        for (int i = 1; i <= rs.FieldCount(); ++i) values.push_back(rs.GetFieldAsVariant(i, rec.get()));
    } catch (...) {
        rs.FreeComplexFields(rec.get(), true);
        throw;
    }
    rs.FreeComplexFields(rec.get(), true);
    return values;
}

}  // namespace

TEST(MySqlRowConversion, TextValues) {
    struct Case {
        const char* name;
        TMYSQL_FIELD column;
        std::optional<std::string> text;
        Variant value;
        std::function<void(TMySQLRecordset&)> options = {};
        TMySQLRecordset::TConnectionValues connection = {true, true};
    } cases[] = {
        {"TIMESTAMP(14) without separators", Column(FIELD_TYPE_TIMESTAMP, 14, 0, Binary), "20240131235959",
         Variant::FromDateTime(EncodeDateTime(2024, 1, 31, 23, 59, 59, 0))},
        {"TIMESTAMP(6) two-digit year", Column(FIELD_TYPE_TIMESTAMP, 6, 0, Binary), "691231",
         Variant::FromDateTime(EncodeDate(2069, 12, 31))},
        {"TIMESTAMP(26) with fraction", Column(FIELD_TYPE_TIMESTAMP, 26, 0, Binary), "2024-03-01 18:30:05.123456",
         Variant::FromDateTime(EncodeDateTime(2024, 3, 1, 18, 30, 5, 123))},
        {"TIME minus an hour and a half", Column(FIELD_TYPE_TIME, 10, 0, Binary), "-01:30:00", Variant::FromDateTime(-0.0625)},
        {"zero date without NullForZeroDate", Column(FIELD_TYPE_DATE, 10, 0, Binary), "0000-00-00",
         Variant::FromDateTime(EncodeDate(100, 1, 1)), [](TMySQLRecordset& rs) { rs.FNullForZeroDate = false; }},
        {"1899-12-30 with NullForZeroDelphiDate", Column(FIELD_TYPE_DATETIME, 19, 0, Binary), "1899-12-30 00:00:00",
         Variant::Null(), {}, {true, true, false, true}},
        {"1899-12-30 without it", Column(FIELD_TYPE_DATETIME, 19, 0, Binary), "1899-12-30 00:00:00",
         Variant::FromDateTime(0)},
        {"BIT as a number", Column(FIELD_TYPE_BIT, 12, UNSIGNED_FLAG, Binary), std::string("\x0A\x05", 2), 0x0A05},
        {"BIT(64) as decimal", Column(FIELD_TYPE_BIT, 64, UNSIGNED_FLAG, Binary), std::string(8, '\xFF'),
         QStringLiteral("18446744073709551615")},
        {"TINYINT(1) -5 is true", Column(FIELD_TYPE_TINY, 1), "-5", true},
        {"BCD", Column(FIELD_TYPE_NEWDECIMAL, 8, 0, Binary, 2), "-12.5", Variant::FromCurrencyScaled(-125000),
         [](TMySQLRecordset& rs) { rs.FEnableBCD = true; }},
        {"shortest double", Column(FIELD_TYPE_DOUBLE, 22, 0, Binary, 31), "0.30000000000000004", 0.30000000000000004},
        {"8-bit text keeps NUL", Column(FIELD_TYPE_VAR_STRING, 10, 0, 8), std::string("a\0b", 3),
         QString::fromLatin1("a\0b", 3), {}, {false, false}},
        {"NULL", Column(FIELD_TYPE_LONG, 11), std::nullopt, Variant::Null()},
        // A value that starts like a compressed BLOB is only that: its bytes.
        {"BLOB with the compression marker", Column(FIELD_TYPE_BLOB, 65535, BINARY_FLAG | BLOB_FLAG, Binary),
         std::string("\x39\x8C\x9D\xF1\x58\x55\x49\x38\xA6\x52\x87\xCE\xE0\xC6\xDA\x7E", 16) +
             std::string("\x20\x00\x00\x00no deflated data here at all", 31),
         QByteArray("\x39\x8C\x9D\xF1\x58\x55\x49\x38\xA6\x52\x87\xCE\xE0\xC6\xDA\x7E", 16) +
             QByteArray("\x20\x00\x00\x00no deflated data here at all", 31)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Described d({c.column}, QStringLiteral("SELECT 1"), c.connection, c.options);
        EXPECT_EQ(ConvertText(d.rs, {c.text}).at(0), c.value);
    }
}

TEST(MySqlRowConversion, MalformedTextIsAnErrorNamingWhatIsWrong) {
    struct Case {
        const char* name;
        TMYSQL_FIELD column;
        std::string text;
        QString error;
    } cases[] = {
        {"continuation byte first", Column(FIELD_TYPE_VAR_STRING, 40), "a\x80", "malformed trail byte or out of range char"},
        {"lead byte without its tail", Column(FIELD_TYPE_VAR_STRING, 40), "\xE2\x82", "incomplete multibyte char"},
        {"bad tail", Column(FIELD_TYPE_VAR_STRING, 40), "\xE2\x28\xA1", "malformed trail byte"},
        {"surrogate", Column(FIELD_TYPE_VAR_STRING, 40), "\xED\xA0\x80", "malformed trail byte or out of range char"},
        {"overlong", Column(FIELD_TYPE_VAR_STRING, 40), "\xC0\xAF", "malformed trail byte or out of range char"},
        {"above U+10FFFF", Column(FIELD_TYPE_VAR_STRING, 40), "\xF4\x90\x80\x80",
         "malformed trail byte or out of range char"},
        {"memo too", Column(FIELD_TYPE_BLOB, 65535, BLOB_FLAG), "ok \xF0\x9F\x98", "incomplete multibyte char"},
        {"TIME with five hour digits", Column(FIELD_TYPE_TIME, 10, 0, Binary), "12345:00:00",
         "Wrong time format. Field c, value 12345:00:00"},
        {"TIMESTAMP of an odd length", Column(FIELD_TYPE_TIMESTAMP, 5, 0, Binary), "12345",
         "Invalid FIELD_TYPE_TIMESTAMP Field.Length (5)"},
        {"float with letters", Column(FIELD_TYPE_DOUBLE, 22, 0, Binary), "1.5x", "'1.5x' is not a valid floating point value"},
        {"integer with letters", Column(FIELD_TYPE_LONG, 11, 0, Binary), "12a", "'12a' is not a valid integer value"},
        {"integer out of range", Column(FIELD_TYPE_LONG, 11, 0, Binary), "4294967296",
         "4294967296 is not a valid value for field 'c'. The allowed range is -2147483648 to 2147483647"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Described d({c.column});
        EXPECT_EQ(Raised<EConvertError>([&] { ConvertText(d.rs, {c.text}); }).Message(), c.error);
    }
}

TEST(MySqlValues, DatesTimesAndNumbersFromTheirForms) {
    // Binary temporal values: the text the server would send, and the day count.
    struct Case {
        TMySqlFieldType type;
        unsigned decimals;
        t::Bytes value;
        const char* text;
    } cases[] = {
        {FIELD_TYPE_DATE, 0, {}, "0000-00-00"},
        {FIELD_TYPE_DATE, 0, t::Hex("e8 07 02 1d"), "2024-02-29"},
        {FIELD_TYPE_DATETIME, 0, {}, "0000-00-00 00:00:00"},
        {FIELD_TYPE_DATETIME, 6, t::Hex("e8 07 03 01 12 1e 05 78 00 00 00"), "2024-03-01 18:30:05.000120"},
        {FIELD_TYPE_DATETIME, 3, t::Hex("e8 07 03 01 12 1e 05"), "2024-03-01 18:30:05.000"},
        {FIELD_TYPE_TIME, 0, {}, "00:00:00"},
        {FIELD_TYPE_TIME, 0, t::Hex("01 22 00 00 00 16 3b 3b"), "-838:59:59"},
        {FIELD_TYPE_TIME, 2, t::Hex("00 00 00 00 00 01 02 03 40 e2 01 00"), "01:02:03.12"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(MySqlBinaryTemporalToText(c.type, c.decimals, c.value.data(), c.value.size()), c.text);
    }
    EXPECT_EQ(MySqlBinaryToTime(t::Hex("01 22 00 00 00 16 3b 3b").data(), 8), EncodeDuration(true, 838, 59, 59, 0));
    EXPECT_EQ(MySqlBinaryToTime(nullptr, 0), 0.0);
    EXPECT_FALSE(MySqlBinaryToDate(nullptr, 0).Valid);
    const t::Bytes feb30 = t::Hex("e8 07 02 1e");
    EXPECT_FALSE(MySqlBinaryToDate(feb30.data(), 4).Valid);
    const t::Bytes tooManyMicroseconds = t::Hex("e8 07 03 01 12 1e 05 40 42 0f 00");  // 1000000
    EXPECT_EQ(Raised<EConvertError>([&] { MySqlBinaryToDate(tooManyMicroseconds.data(), 11); }).Message(),
              QStringLiteral("Invalid microseconds (1000000)"));
    EXPECT_THROW(MySqlBinaryTemporalToText(FIELD_TYPE_DATETIME, 6, tooManyMicroseconds.data(), 11), EConvertError);
    const t::Bytes five(5, 1);
    EXPECT_EQ(Raised<EConvertError>([&] { MySqlBinaryToDate(five.data(), 5); }).Message(),
              QStringLiteral("FIELD_TYPE_DATETIME Len = 5"));
    EXPECT_EQ(Raised<EConvertError>([&] { MySqlBinaryToTime(five.data(), 5); }).Message(),
              QStringLiteral("Error DateTimeFromStrPrep function Len = 5"));

    EXPECT_EQ(MySqlTextToInt("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(MySqlTextToUInt("18446744073709551615"), UINT64_MAX);
    EXPECT_THROW(MySqlTextToInt("9223372036854775808"), EConvertError);
    EXPECT_THROW(MySqlTextToInt("+1"), EConvertError);
    EXPECT_THROW(MySqlTextToInt(""), EConvertError);
    for (double v : {0.1, 1e-300, -2.2250738585072014e-308, 1.7976931348623157e308, 5e-324}) {
        char text[32];
        const auto r = std::to_chars(text, text + sizeof text, v);
        EXPECT_EQ(MySqlTextToFloat(std::string_view(text, size_t(r.ptr - text))), v) << text;
    }
    for (const char* bad : {"inf", "nan", "0x1p3", "", "-", "1e", "1..2"})
        EXPECT_THROW(MySqlTextToFloat(bad), EConvertError) << bad;
}

TEST(MySqlStatementText, Limit0ReturnsNoRowsAndKeepsTheRest) {
    const std::pair<const char*, const char*> cases[] = {
        {"SELECT * FROM t LIMIT 10", "SELECT * FROM t LIMIT 0"},
        {"SELECT * FROM t LIMIT 5, 10", "SELECT * FROM t LIMIT 5, 0"},
        {"SELECT * FROM t LIMIT 10 OFFSET 5", "SELECT * FROM t LIMIT 0 OFFSET 5"},
        {"select * from t limit\n  7", "select * from t limit\n  0"},
        {"SELECT * FROM t", "SELECT * FROM t LIMIT 0"},
        {"SELECT * FROM t;", "SELECT * FROM t LIMIT 0 ;"},
        {"SELECT * FROM t FOR UPDATE", "SELECT * FROM t LIMIT 0 FOR UPDATE"},
        {"SELECT * FROM t LOCK IN SHARE MODE", "SELECT * FROM t LIMIT 0 LOCK IN SHARE MODE"},
        {"SELECT * FROM (SELECT a FROM u LIMIT 3) x", "SELECT * FROM (SELECT a FROM u LIMIT 3) x LIMIT 0"},
        {"SELECT 'LIMIT 5' AS s /* LIMIT 6 */ FROM t", "SELECT 'LIMIT 5' AS s /* LIMIT 6 */ FROM t LIMIT 0"},
        {"SELECT a FROM t UNION SELECT b FROM u", "SELECT a FROM t UNION SELECT b FROM u LIMIT 0"},
        {"SELECT * FROM t LIMIT ?", "SELECT * FROM t LIMIT ?"},
        {"SET @a = (SELECT 1)", "SET @a = (SELECT 1)"},
        {"CALL p(1)", "CALL p(1)"},
        {"SHOW TABLES", "SHOW TABLES"},
    };
    for (auto [in, out] : cases) EXPECT_EQ(AddLimit0(QString::fromLatin1(in)), QString::fromLatin1(out)) << in;
}

TEST(MySqlStatementText, TablesOfTheFromClause) {
    using Tables = std::vector<TStatementScan::TTableRef>;
    const std::pair<const char*, Tables> cases[] = {
        {"SELECT * FROM t", {{"", "t", ""}}},
        {"SELECT * FROM `my db`.`odd name` AS o WHERE 1", {{"my db", "odd name", "o"}}},
        {"SELECT * FROM a x, b AS y JOIN c ON c.id = x.id LEFT OUTER JOIN d USING (id) ORDER BY 1",
         {{"", "a", "x"}, {"", "b", "y"}, {"", "c", ""}, {"", "d", ""}}},
        {"SELECT * FROM (SELECT 1) AS derived, t FORCE INDEX (k)", {{"", "t", ""}}},
        {"SELECT 1", {}},
        {"HANDLER shop.items READ FIRST", {{"shop", "items", ""}}},
        // A doubled backtick is part of the one name, whatever follows it.
        {"SELECT * FROM ```t``;DROP TABLE v;SELECT ``1``` ```a``` WHERE 1",
         {{"", "`t`;DROP TABLE v;SELECT `1`", "`a`"}}},
        {"SELECT * FROM `d``b`.`x``` ORDER BY 1", {{"d`b", "x`", ""}}},
    };
    for (const auto& [sql, tables] : cases) EXPECT_EQ(TStatementScan(QString::fromLatin1(sql)).FromTables(), tables) << sql;
    EXPECT_TRUE(TStatementScan(QStringLiteral("show full processlist")).Has({"SHOW", "PROCESSLIST"}));
    EXPECT_FALSE(TStatementScan(QStringLiteral("SELECT 'SHOW PROCESSLIST'")).Has({"SHOW"}));
    EXPECT_FALSE(TStatementScan(QStringLiteral("SELECT PROCESSLIST SHOW")).Has({"SHOW", "PROCESSLIST"}));
}

// MySQL 5.7 sends JSON columns with a type of their own, which MariaDB never does.
TEST(MySqlRecordsetScripted, JsonColumnsAreTextMemos) {
    t::TScriptedServer server([](t::TScriptedPeer& p) {
        t::TGreetingFields greeting;
        greeting.Version = "5.7.44-scripted";
        p.SendPacket(0, t::Greeting(greeting));
        p.ReadPacket();
        p.SendPacket(2, t::OkPacket());
        EXPECT_EQ(p.ReadPacket(), t::Cat({{3}, t::B("SET NAMES utf8mb4")}));
        p.SendPacket(1, t::OkPacket());
        EXPECT_EQ(p.ReadPacket(), t::Cat({{3}, t::B("SELECT doc FROM t")}));
        t::TColumnSpec doc;
        doc.Name = doc.OrgName = "doc";
        doc.Type = FIELD_TYPE_JSON;
        doc.Flags = BLOB_FLAG | BINARY_FLAG;
        doc.Length = 4294967295u;
        doc.Charset = Binary;
        p.Send(t::Packets(1, {t::LenEncInt(1), t::ColumnDef(doc), t::Eof(),
                              t::TextRow({std::string("{\"k\": \"\xC3\xA9\"}")}), t::Eof()}));
        EXPECT_EQ(p.ReadPacket(), t::Bytes{1});  // quit
    });
    {
        TMyConnection c;
        c.SetLoginPrompt(false);
        c.SetServer(QStringLiteral("127.0.0.1"));
        c.SetPort(server.Port());
        c.SetUsername(QStringLiteral("u"));
        c.MyOptions().SetUseUnicode(true);
        c.Connect();
        TMySQLRecordset rs;
        rs.SetConnection(c.GetIConnection());
        rs.SetSQL(QStringLiteral("SELECT doc FROM t"));
        rs.FFetchAll = true;
        rs.Open();
        EXPECT_EQ(rs.Field(1).FDataType, dtWideMemo);
        const TRecBufOwner buf = rs.AllocRecBuf();
        rs.SetToBegin();
        rs.GetNextRecord(buf.get());
        EXPECT_EQ(rs.GetFieldAsVariant(1, buf.get()), Variant(QStringLiteral("{\"k\": \"\u00e9\"}")));
    }
    EXPECT_EQ(server.Join(), "");
}

TEST(MySqlStatementText, AddWhereJoinsOrStartsTheWhereClause) {
    const struct {
        const char* sql;
        const char* result;
    } cases[] = {
        {"SELECT * FROM t ORDER BY b", "SELECT * FROM t \rWHERE id = 5 ORDER BY b"},
        {"SELECT * FROM t WHERE a = 1", "SELECT * FROM t WHERE (a = 1) AND id = 5 "},
        {"SELECT * FROM t WHERE a = 1 ORDER BY b", "SELECT * FROM t WHERE (a = 1 ) AND id = 5 ORDER BY b"},
        {"  SELECT * FROM t;  ", "SELECT * FROM t\rWHERE id = 5 ;"},
        {"SELECT * FROM t WHERE a = 1;", "SELECT * FROM t WHERE (a = 1) AND id = 5 ;"},
        {"SELECT * FROM t WHERE a IN (SELECT b FROM u WHERE c = 2) GROUP BY a",
         "SELECT * FROM t WHERE (a IN (SELECT b FROM u WHERE c = 2) ) AND id = 5 GROUP BY a"},
        {"SELECT * FROM (SELECT * FROM u WHERE x = 1) s", "SELECT * FROM (SELECT * FROM u WHERE x = 1) s\rWHERE id = 5 "},
        {"SELECT 'WHERE' AS w FROM t LIMIT 3", "SELECT 'WHERE' AS w FROM t \rWHERE id = 5 LIMIT 3"},
        {"SELECT * FROM t WHERE a = 1 /* note */ LIMIT 3",
         "SELECT * FROM t WHERE (a = 1 /* note */ \r) AND id = 5 LIMIT 3"},
        {"UPDATE t SET a = 1", "UPDATE t SET a = 1"},
        // Around a union as a whole, its order kept.
        {"SELECT a FROM t UNION SELECT b FROM u", "SELECT * FROM (SELECT a FROM t UNION SELECT b FROM u) q\rWHERE id = 5 "},
        {"SELECT a FROM t UNION ALL (SELECT b FROM u WHERE c = 1) ORDER BY a DESC;",
         "SELECT * FROM (SELECT a FROM t UNION ALL (SELECT b FROM u WHERE c = 1) ORDER BY a DESC) q\rWHERE id = 5 ORDER BY "
         "a DESC;"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AddWhere(QString::fromLatin1(c.sql), QStringLiteral("id = 5")), QString::fromLatin1(c.result)) << c.sql;
    EXPECT_EQ(AddWhere(QStringLiteral("SELECT 1 "), QString()), QStringLiteral("SELECT 1 "));
}

TEST(MySqlStatementText, WhereAndOrderByRemovedAndReplaced) {
    const struct {
        const char* sql;
        const char* withoutWhere;
        const char* orderedByB;
        const char* withoutOrder;
        const char* orderBy;
    } cases[] = {
        {"SELECT * FROM t WHERE a = 1 ORDER BY b, c LIMIT 3", "SELECT * FROM t ORDER BY b, c LIMIT 3",
         "SELECT * FROM t WHERE a = 1 ORDER BY b LIMIT 3", "SELECT * FROM t WHERE a = 1 LIMIT 3", "b, c"},
        {"SELECT * FROM t", "SELECT * FROM t", "SELECT * FROM t ORDER BY b", "SELECT * FROM t", ""},
        {"SELECT * FROM t WHERE a = 1 LIMIT 3", "SELECT * FROM t LIMIT 3", "SELECT * FROM t WHERE a = 1 ORDER BY b LIMIT 3",
         "SELECT * FROM t WHERE a = 1 LIMIT 3", ""},
        {"SELECT *\r\nFROM t\r\nWHERE a = 1", "SELECT *\r\nFROM t", "SELECT *\r\nFROM t\r\nWHERE a = 1\r ORDER BY b",
         "SELECT *\r\nFROM t\r\nWHERE a = 1", ""},
        {"SELECT * FROM (SELECT a FROM u ORDER BY a) s", "SELECT * FROM (SELECT a FROM u ORDER BY a) s",
         "SELECT * FROM (SELECT a FROM u ORDER BY a) s ORDER BY b", "SELECT * FROM (SELECT a FROM u ORDER BY a) s", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        const QString sql = QString::fromLatin1(c.sql);
        EXPECT_EQ(DeleteWhere(sql), QString::fromLatin1(c.withoutWhere));
        EXPECT_EQ(SetOrderBy(sql, QStringLiteral("b")), QString::fromLatin1(c.orderedByB));
        EXPECT_EQ(SetOrderBy(sql, QString()), QString::fromLatin1(c.withoutOrder));
        EXPECT_EQ(GetOrderBy(sql), QString::fromLatin1(c.orderBy));
    }
}

TEST(MySqlStatementText, CountQueries) {
    const std::pair<const char*, const char*> cases[] = {
        {"SELECT a FROM t", "SELECT COUNT(*) FROM t"},
        {"SELECT a, b FROM t WHERE a > 1 ORDER BY a", "SELECT COUNT(*) FROM t WHERE a > 1"},
        {"SELECT a FROM t ORDER BY a LIMIT 10", "SELECT COUNT(*) FROM (SELECT  a FROM t LIMIT 10) q"},
        {"SELECT DISTINCT a FROM t", "SELECT COUNT(*) FROM (SELECT  DISTINCT a FROM t) q"},
        {"SELECT a, COUNT(*) FROM t GROUP BY a", "SELECT COUNT(*) FROM (SELECT  a, COUNT(*) FROM t GROUP BY a) q"},
        {"SELECT a FROM t UNION SELECT b FROM u;", "SELECT COUNT(*) FROM (SELECT  a FROM t UNION SELECT b FROM u) q;"},
        {"SELECT (SELECT MAX(x) FROM u) m FROM t", "SELECT COUNT(*) FROM t"},
        {"SHOW TABLES", ""},
        {"SELECT 1", ""},
    };
    for (auto [sql, count] : cases) EXPECT_EQ(CountQuery(QString::fromLatin1(sql)), QString::fromLatin1(count)) << sql;
}
