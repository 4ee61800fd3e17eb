// The text pieces of a backup script: names, value literals and the rewrites of CREATE texts.

#include "dump/MyDumpText.h"

#include "common/Exceptions.h"
#include "dump/MyDump.h"

#include "protocol/MySqlRowFormat.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace calvoro;
using namespace calvoro::dump;
namespace p = calvoro::protocol;

namespace {

TEST(DumpText, NamesAreQuotedWhenConfiguredNeededOrReserved) {
    // Names come from the server (or were parsed from what a user typed) and are raw: one
    // that looks quoted already or holds a dot is still one name.
    struct {
        const char* database;
        const char* name;
        bool quoteNames;
        const char* expected;
    } cases[] = {
        {"", "actor", false, "actor"},
        {"", "actor", true, "`actor`"},
        {"", "order", false, "`order`"},          // reserved: DROP TABLE IF EXISTS order; fails
        {"", "Select", false, "`Select`"},        // any case
        {"", "status", false, "status"},          // a keyword, not reserved
        {"", "my table", false, "`my table`"},
        {"", "odd`name", false, "`odd``name`"},
        {"", "1st", false, "`1st`"},
        {"", "`already`", false, "```already```"},
        {"", "`x`;DROP TABLE victim;SELECT `1`", true, "```x``;DROP TABLE victim;SELECT ``1```"},
        {"", "shop.order", false, "`shop.order`"},
        {"", "it's", false, "`it's`"},
        {"", "x\nDROP TABLE victim;", false, "`x\nDROP TABLE victim;`"},
        {"shop", "order", false, "shop.`order`"},
        {"shop", "items", true, "`shop`.`items`"},
        {"my.db", "t", false, "`my.db`.t"},
    };
    for (const auto& c : cases) {
        const dac::TObjectName name{QString::fromUtf8(c.database), QString::fromUtf8(c.name)};
        EXPECT_EQ(DumpName(name, c.quoteNames), QString::fromUtf8(c.expected)) << c.name;
        if (!*c.database) {
            EXPECT_EQ(DumpName(name.Name, c.quoteNames), QString::fromUtf8(c.expected)) << c.name;
        }
    }
    EXPECT_EQ(DumpColumnName(QStringLiteral("key")), QStringLiteral("`key`"));
    EXPECT_EQ(DumpColumnName(QStringLiteral("amount")), QStringLiteral("amount"));
    EXPECT_EQ(DumpColumnName(QStringLiteral("`amount`")), QStringLiteral("```amount```"));
}

TEST(DumpText, TypedListsOfNamesAreReadOnceIntoRawParts) {
    TMyDump dump;
    struct {
        const char* typed;
        std::vector<dac::TObjectName> names;
        const char* shown;
    } cases[] = {
        {"`my table`, db.t", {{"", "my table"}, {"db", "t"}}, "`my table`, db.t"},
        {" actor ;`a,b`;; `x``y`", {{"", "actor"}, {"", "a,b"}, {"", "x`y"}}, "actor, `a,b`, `x``y`"},
        {"`a.b`, `order`", {{"", "a.b"}, {"", "order"}}, "`a.b`, `order`"},
        {"", {}, ""},
    };
    for (const auto& c : cases) {
        dump.SetTableNames(QString::fromUtf8(c.typed));
        EXPECT_EQ(dump.Tables(), c.names) << c.typed;
        EXPECT_EQ(dump.TableNames(), QString::fromUtf8(c.shown)) << c.typed;
        dump.SetStoredProcNames(QString::fromUtf8(c.typed));
        EXPECT_EQ(dump.StoredProcs(), c.names) << c.typed;
        dump.SetTriggerNames(QString::fromUtf8(c.typed));
        EXPECT_EQ(dump.TriggerNames(), QString::fromUtf8(c.shown)) << c.typed;
    }
    // Raw names are taken as they are and shown so that they read back the same.
    dump.SetTables({{"", "`x`;DROP TABLE y;SELECT `1`"}, {"", "a,b"}});
    EXPECT_EQ(dump.TableNames(), QStringLiteral("```x``;DROP TABLE y;SELECT ``1```, `a,b`"));
    EXPECT_EQ(TDADump::SplitNames(dump.TableNames()), dump.Tables());
    EXPECT_THROW(dump.SetTableNames(QStringLiteral("t, `open")), EDatabaseError);
    EXPECT_EQ(dump.Tables().size(), 2u);  // unchanged
}

p::TMYSQL_FIELD Column(p::TMySqlFieldType type, int32_t charset) {
    p::TMYSQL_FIELD f;
    f._type = type;
    f.CharsetNr = charset;
    return f;
}

TEST(DumpText, ValuesAreWrittenAsLiteralsOfTheSameValue) {
    constexpr int32_t binary = 63, utf8mb4 = 45;
    struct {
        p::TMYSQL_FIELD field;
        bool isFloat;
        QByteArray value;
        bool hexBlob;
        const char* expected;
    } cases[] = {
        {Column(p::FIELD_TYPE_NEWDECIMAL, binary), false, "-12345678901234567890.123456789", false,
         "-12345678901234567890.123456789"},
        {Column(p::FIELD_TYPE_LONGLONG, binary), false, "18446744073709551615", false, "18446744073709551615"},
        {Column(p::FIELD_TYPE_DOUBLE, binary), false, "0.30000000000000004", false, "0.30000000000000004"},
        {Column(p::FIELD_TYPE_DOUBLE, binary), false, "1.7976931348623157e308", false, "1.7976931348623157e+308"},
        {Column(p::FIELD_TYPE_DOUBLE, binary), false, "1e-7", false, "1e-07"},
        // A FLOAT read as a double: the shortest text of the float itself.
        {Column(p::FIELD_TYPE_DOUBLE, binary), true, "0.10000000149011612", false, "0.1"},
        {Column(p::FIELD_TYPE_DOUBLE, binary), true, "3.4028234663852886e38", false, "3.4028235e+38"},
        {Column(p::FIELD_TYPE_DOUBLE, binary), true, "-0", false, "-0"},
        // Temporal values as the server sent them, zero dates and all.
        {Column(p::FIELD_TYPE_DATE, binary), false, "0000-00-00", false, "'0000-00-00'"},
        {Column(p::FIELD_TYPE_DATETIME, binary), false, "2024-00-15 00:00:00", false, "'2024-00-15 00:00:00'"},
        {Column(p::FIELD_TYPE_TIME, binary), false, "-838:59:59.000000", false, "'-838:59:59.000000'"},
        {Column(p::FIELD_TYPE_TIMESTAMP, binary), false, "2024-03-31 01:30:00.123456", false,
         "'2024-03-31 01:30:00.123456'"},
        {Column(p::FIELD_TYPE_BIT, binary), false, QByteArray("\x02\xAA", 2), false, "0x02AA"},
        // Binary strings byte for byte: NUL and trailing zero bytes kept.
        {Column(p::FIELD_TYPE_STRING, binary), false, QByteArray("ab\0\0", 4), false, "_binary 'ab\\0\\0'"},
        {Column(p::FIELD_TYPE_BLOB, binary), false, QByteArray("\x01\xFF", 2), true, "0x01FF"},
        {Column(p::FIELD_TYPE_BLOB, binary), false, QByteArray(), true, "''"},
        {Column(p::FIELD_TYPE_BLOB, utf8mb4), false, "it's", true, "0x69742773"},
        {Column(p::FIELD_TYPE_BLOB, utf8mb4), false, "it's", false, "'it\\'s'"},
        {Column(p::FIELD_TYPE_VAR_STRING, utf8mb4), false, "a\\b\n\"c\"\x1a", true, "'a\\\\b\\n\\\"c\\\"\\Z'"},
        {Column(p::FIELD_TYPE_VAR_STRING, utf8mb4), false, "caf\xC3\xA9 \xF0\x9F\x90\xAC", false,
         "'caf\xC3\xA9 \xF0\x9F\x90\xAC'"},
        {Column(p::FIELD_TYPE_ENUM, utf8mb4), false, "small", false, "'small'"},
    };
    for (const auto& c : cases) {
        QByteArray out;
        AppendDumpValue(out, ValueKindOf(c.field, c.isFloat), c.value, c.hexBlob);
        EXPECT_EQ(out, QByteArray(c.expected)) << c.value.toHex().constData();
    }
}

TEST(DumpText, LikePatternsAndLiteralsEscapeWhatTheServerReads) {
    EXPECT_EQ(LikePatternLiteral(QStringLiteral("order_items")), QStringLiteral("'order\\\\_items'"));
    EXPECT_EQ(LikePatternLiteral(QStringLiteral("100%")), QStringLiteral("'100\\\\%'"));
    EXPECT_EQ(LikePatternLiteral(QStringLiteral("it's\\")), QStringLiteral("'it\\'s\\\\\\\\'"));
    EXPECT_EQ(StringLiteral(QStringLiteral("o'k")), QStringLiteral("'o\\'k'"));
    EXPECT_EQ(StringLiteral(QStringLiteral("h\\")), QStringLiteral("'h\\\\'"));
}

TEST(DumpText, DefinersAreStrippedFromTheHeadOnly) {
    struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"CREATE DEFINER=`root`@`localhost` PROCEDURE `p`()\nBEGIN SELECT 'DEFINER=`x`@`y`'; END",
         "CREATE PROCEDURE `p`()\nBEGIN SELECT 'DEFINER=`x`@`y`'; END"},
        {"CREATE ALGORITHM=UNDEFINED DEFINER=`app`@`%` SQL SECURITY DEFINER VIEW `v` AS select 1 AS `1`",
         "CREATE ALGORITHM=UNDEFINED SQL SECURITY DEFINER VIEW `v` AS select 1 AS `1`"},
        {"CREATE DEFINER=`odd``user`@`10.0.0.%` FUNCTION `f`() RETURNS int(11) RETURN 1",
         "CREATE FUNCTION `f`() RETURNS int(11) RETURN 1"},
        {"CREATE DEFINER=`a_role` PROCEDURE `p`() SELECT 1", "CREATE PROCEDURE `p`() SELECT 1"},
        {"CREATE PROCEDURE `p`() SELECT 1", "CREATE PROCEDURE `p`() SELECT 1"},
    };
    for (const auto& c : cases) EXPECT_EQ(StripDefiner(QString::fromUtf8(c.text)), QString::fromUtf8(c.expected));
}

TEST(DumpText, ABodyEndingInALineCommentIsSeen) {
    struct {
        const char* text;
        bool expected;
    } cases[] = {
        {"BEGIN\n  SET x = 1;\nEND", false},
        {"BEGIN\n  SET x = 1;\nEND -- note", true},
        {"SET NEW.a = 1 # why", true},
        {"BEGIN\nEND -- note\n", false},            // the line break ends the comment
        {"SET NEW.a = '-- not a comment'", false},
        {"BEGIN /* block */ END", false},
        {"SET NEW.a = 1 /*!50000 + 1 */", false},   // the closer of an executable comment
        {"SELECT 1 --1", false},                    // "--" without a blank is an operator
    };
    for (const auto& c : cases) EXPECT_EQ(EndsInLineComment(QString::fromUtf8(c.text)), c.expected) << c.text;
}

TEST(DumpText, ViewsComeAfterTheViewsTheyRead) {
    const QStringList names{QStringLiteral("v_top"), QStringLiteral("v_base"), QStringLiteral("v_mid"),
                            QStringLiteral("v_alone")};
    const QStringList texts{
        QStringLiteral("CREATE VIEW `v_top` AS select `m`.`n` AS `n` from `db`.`v_mid` `m`"),
        QStringLiteral("CREATE VIEW `v_base` AS select `t`.`n` AS `n` from `db`.`t`"),
        QStringLiteral("CREATE VIEW `v_mid` AS select `b`.`n` AS `n` from `db`.`v_base` `b` where 'v_top' <> ''"),
        QStringLiteral("CREATE VIEW `v_alone` AS select 1 AS `1`"),
    };
    EXPECT_EQ(ViewDependencyOrder(names, texts), (std::vector<int>{1, 2, 0, 3}));
    // Raw names are compared as they are: a view named `q` (backticks part of the name) is read
    // by a text that names it quoted.
    EXPECT_EQ(ViewDependencyOrder({QStringLiteral("top"), QStringLiteral("`q`")},
                                  {QStringLiteral("CREATE VIEW `top` AS select 1 from ```q```"),
                                   QStringLiteral("CREATE VIEW ```q``` AS select 1 AS `1`")}),
              (std::vector<int>{1, 0}));
    // Names that read each other (impossible on a server, but a name in a text may mislead):
    // each is written once.
    const QStringList loop{QStringLiteral("CREATE VIEW `a` AS select 1 AS `b`"),
                           QStringLiteral("CREATE VIEW `b` AS select 1 AS `a`")};
    std::vector<int> order = ViewDependencyOrder({QStringLiteral("a"), QStringLiteral("b")}, loop);
    std::sort(order.begin(), order.end());
    EXPECT_EQ(order, (std::vector<int>{0, 1}));
}

}  // namespace
