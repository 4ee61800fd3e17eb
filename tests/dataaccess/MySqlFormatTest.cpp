#include "dataaccess/mysql/MySqlFormat.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace calvoro;
using namespace calvoro::dac;

namespace {

QByteArray Append(TDataType type, const Variant& value, bool useUnicode = true,
                  bool needBackslashes = true) {
    QByteArray out;
    AppendValue(out, type, value, false, {useUnicode, needBackslashes});
    return out;
}

}  // namespace

TEST(MySqlFormat, EscapeStringBothModes) {
    struct Case {
        QByteArray in, backslashes, doubling;
    } cases[] = {
        {"O'Hara", "'O\\'Hara'", "'O''Hara'"},
        {"a\\b", "'a\\\\b'", "'a\\b'"},
        {QByteArray("n\0l", 3), "'n\\0l'", QByteArray("'n\0l'", 5)},
        {"line\nfeed\rret", "'line\\nfeed\\rret'", "'line\nfeed\rret'"},
        {"\x1a", "'\\Z'", "'\x1a'"},
        {"say \"hi\"", "'say \\\"hi\\\"'", "'say \"hi\"'"},
        {"''", "'\\'\\''", "''''''"},
        {"", "''", "''"},
        {"caf\xe9", "'caf\xe9'", "'caf\xe9'"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeString(c.in, true), c.backslashes);
        EXPECT_EQ(EscapeString(c.in, false), c.doubling);
        // The wide form follows the same rules unit by unit.
        EXPECT_EQ(EscapeWideString(QString::fromLatin1(c.in), true), QString::fromLatin1(c.backslashes));
        EXPECT_EQ(EscapeWideString(QString::fromLatin1(c.in), false), QString::fromLatin1(c.doubling));
    }
}

TEST(MySqlFormat, ValuesByType) {
    const TDateTime march1 = EncodeDate(2024, 3, 1);
    struct Case {
        TDataType type;
        Variant value;
        QByteArray sql;
    } cases[] = {
        {dtInteger, Variant(42), "42"},
        {dtLargeint, Variant(int64_t(-9007199254740993)), "-9007199254740993"},
        {dtLargeint, Variant(QStringLiteral("18446744073709551615")), "18446744073709551615"},
        {dtSmallint, Variant(QStringLiteral(" 12 ")), "12"},
        {dtBoolean, Variant(true), "1"},
        {dtBoolean, Variant(0), "0"},
        {dtFloat, Variant(1.5), "1.5"},
        {dtFloat, Variant(0.1 + 0.2), "0.30000000000000004"},  // reads back to the same double
        {dtFloat, Variant(1e-300), "1e-300"},
        {dtFloat, Variant(QStringLiteral("2.25")), "2.25"},
        {dtCurrency, Variant::FromCurrency(12.3456), "12.3456"},
        {dtBCD, Variant(3.14159), "3.1416"},
        {dtFMTBCD, Variant(QStringLiteral("12345678901234567890.123456789")),
         "12345678901234567890.123456789"},
        {dtDate, Variant::FromDateTime(march1 + 0.5), "'2024-03-01'"},
        {dtDateTime, Variant::FromDateTime(EncodeDateTime(2024, 3, 1, 18, 30, 5, 0)),
         "'2024-03-01 18:30:05'"},
        {dtDateTime, Variant::FromDateTime(EncodeDateTime(2024, 3, 1, 18, 30, 5, 250)),
         "'2024-03-01 18:30:05.250'"},
        {dtDateTime, Variant::FromDateTime(EncodeDateTime(987, 1, 2, 3, 4, 5, 0)),
         "'0987-01-02 03:04:05'"},
        {dtTime, Variant::FromDateTime(-1.5 / 24), "'-1:30:00'"},
        {dtTime, Variant::FromDateTime(EncodeDuration(false, 838, 59, 59, 0)), "'838:59:59'"},
        {dtTime, Variant::FromDateTime(EncodeDuration(true, 0, 0, 1, 500)), "'-0:00:01.500'"},
        {dtDate, Variant::FromDateTime(0), "'0000-00-00 00:00:00'"},
        {dtTime, Variant::FromDateTime(0), "'0000-00-00 00:00:00'"},
        {dtDateTime, Variant::FromDateTime(0), "'0000-00-00 00:00:00'"},
        {dtString, Variant(QStringLiteral("O'Hara")), "'O\\'Hara'"},
        {dtWideString, Variant(QString::fromUtf8("\xF0\x9F\x98\x80 \xC3\xA9")),
         "'\xF0\x9F\x98\x80 \xC3\xA9'"},  // UTF-8, four-byte characters intact
        {dtWideString, Variant(), "''"},
        {dtMemo, Variant(QStringLiteral("a\nb")), "'a\\nb'"},
        {dtBlob, Variant(QByteArray("\x00\xff'", 3)), "'\\0\xff\\''"},
        {dtVarBytes, Variant(QByteArray("\xc3\xa9")), "'\xc3\xa9'"},  // bytes never converted
        {dtBytes, Variant(QStringLiteral("\u00e9")), "'\xe9'"},         // text as 8-bit bytes
        {dtGuid, Variant(QStringLiteral("{6F9619FF-8B86-D011-B42D-00C04FC964FF}")),
         "'{6F9619FF-8B86-D011-B42D-00C04FC964FF}'"},
        {dtVariant, Variant(7), "7"},
        {dtVariant, Variant(QStringLiteral("1 OR 1=1")), "'1 OR 1=1'"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Append(c.type, c.value), c.sql) << "type " << c.type << " " << c.sql.toStdString();
}

TEST(MySqlFormat, NullsAndTheEightBitCodePage) {
    QByteArray out;
    AppendValue(out, dtInteger, Variant(5), true, {});
    AppendValue(out, dtString, Variant::Null(), false, {});
    EXPECT_EQ(out, "NULLNULL");

    // Without Unicode, text goes out in the 8-bit code page; what it lacks becomes '?'.
    EXPECT_EQ(Append(dtWideString, Variant(QStringLiteral("\u20ac \u0416")), false), "'\x80 ?'");
    EXPECT_EQ(ValueToSQL(dtWideString, Variant(QStringLiteral("\u20ac'")), false, {false, false}),
              QStringLiteral("'\u20ac'''"));
    EXPECT_EQ(ValueToSQL(dtWideString, Variant(QStringLiteral("\u0416")), false, {true, true}),
              QStringLiteral("'\u0416'"));
}

TEST(MySqlFormat, RefusesValuesThatWouldReachTheStatementUnquoted) {
    const std::pair<TDataType, Variant> cases[] = {
        {dtInteger, Variant(QStringLiteral("1 OR 1=1"))},
        {dtLargeint, Variant(QStringLiteral("1; DROP TABLE t"))},
        {dtFloat, Variant(QStringLiteral("1e1 UNION SELECT"))},
        {dtFMTBCD, Variant(QStringLiteral("1.5) OR (1"))},
        {dtFloat, Variant(std::nan(""))},
        {dtFloat, Variant(INFINITY)},
    };
    for (const auto& [type, value] : cases) {
        QByteArray out;
        EXPECT_THROW(AppendValue(out, type, value, false, {}), EConvertError) << type;
    }
}
