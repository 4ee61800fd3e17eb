// How statement text is taken apart before it is sent: parameter markers, placeholders,
// macros and the final text of a command.
#include "dataaccess/common/DBAccess.h"
#include "dataaccess/mysql/MyParams.h"
#include "sqltext/MyParser.h"

#include "support/QtPrinters.h"
#include "support/Raised.h"

#include <gtest/gtest.h>

using namespace calvoro;
using namespace calvoro::dac;
using calvoro::test::Raised;

namespace {

QStringList Names(const TParsedSQL& parsed) {
    QStringList names;
    for (const auto& p : parsed.Params) names << p.FName;
    return names;
}

std::unique_ptr<sqltext::TParser> MySqlParser(const QString& text) {
    return std::make_unique<sqltext::TMyParser>(text);
}

}  // namespace

TEST(ParamMarkers, Table) {
    struct Case {
        const char* sql;
        const char* text;
        QStringList names;
    } cases[] = {
        {"SELECT 1", "SELECT 1", {}},
        {"ALTER TABLE t AUTO_INCREMENT = :autoincrement", "ALTER TABLE t AUTO_INCREMENT = ?",
         {"autoincrement"}},
        {"SELECT * FROM t WHERE a = :a AND b = :B", "SELECT * FROM t WHERE a = ? AND b = ?", {"a", "B"}},
        {"SELECT ':x', \":y\", `c:z` FROM t WHERE d = :d", "SELECT ':x', \":y\", `c:z` FROM t WHERE d = ?",
         {"d"}},
        {"SELECT 'it''s :no' , :yes", "SELECT 'it''s :no' , ?", {"yes"}},
        {"SELECT 'a\\':no' , :yes", "SELECT 'a\\':no' , ?", {"yes"}},
        {"SELECT 1 -- :no\n, :yes", "SELECT 1 -- :no\n, ?", {"yes"}},
        {"SELECT 1 # :no\n, :yes", "SELECT 1 # :no\n, ?", {"yes"}},
        {"SELECT /* :no */ :yes", "SELECT /* :no */ ?", {"yes"}},
        // the text of an executable comment is code, its strings too
        {"SELECT 1 /*!50000 , ':no */', :yes */", "SELECT 1 /*!50000 , ':no */', ? */", {"yes"}},
        {"SET @v := 5", "SET @v := 5", {}},
        {"SELECT a::int", "SELECT a::int", {}},
        {"SELECT a : b", "SELECT a : b", {}},
        {"SELECT :'str'", "SELECT :'str'", {}},
        {"SELECT :@var", "SELECT ?", {"@var"}},
        {"SELECT :`odd name`", "SELECT ?", {"odd name"}},
        {"SELECT :select, :1", "SELECT ?, ?", {"select", "1"}},
        {"SELECT :x + :x", "SELECT ? + ?", {"x", "x"}},  // every marker its own parameter
        {"SELECT :", "SELECT :", {}},
        {"SELECT 12:30", "SELECT 12?", {"30"}},  // a number after a colon names one
    };
    for (const auto& c : cases) {
        const TParsedSQL parsed = ParseParamMarkers(QString::fromUtf8(c.sql));
        EXPECT_EQ(parsed.Text, QString::fromUtf8(c.text)) << c.sql;
        EXPECT_EQ(Names(parsed), c.names) << c.sql;
        ASSERT_EQ(parsed.Positions.size(), parsed.Params.size()) << c.sql;
        for (int pos : parsed.Positions) EXPECT_EQ(parsed.Text[pos - 1], u'?') << c.sql;
    }
}

TEST(ParamMarkers, Placeholders) {
    const std::pair<const char*, QStringList> cases[] = {
        {"a = ? AND b = ?", {"a = ", " AND b = ", ""}},
        {"'?' ? `?` /* ? */ ?", {"'?' ", " `?` /* ? */ ", ""}},
        {"no placeholder", {"no placeholder"}},
        {"?", {"", ""}},
    };
    for (const auto& [text, fragments] : cases)
        EXPECT_EQ(CutAtPlaceholders(QString::fromUtf8(text)), fragments) << text;
}

TEST(Macros, ScanAndExpand) {
    struct Case {
        const char* text;
        QStringList names;
        const char* expanded;  // with every macro's value set to "<name>"
    } cases[] = {
        {"SELECT a&b FROM t", {"b"}, "SELECT a<b> FROM t"},
        {"SELECT a & b FROM t", {}, "SELECT a & b FROM t"},
        {"SELECT a&&b FROM t", {}, "SELECT a&&b FROM t"},
        {"SELECT * FROM &tbl WHERE &cond", {"tbl", "cond"}, "SELECT * FROM <tbl> WHERE <cond>"},
        {"SELECT '&x', `&y` FROM &where", {"where"}, "SELECT '&x', `&y` FROM <where>"},
        {"SELECT &a, &a", {"a"}, "SELECT <a>, <a>"},
        {"no ampersand", {}, "no ampersand"},
    };
    for (const auto& c : cases) {
        TMacros macros(MySqlParser);
        macros.Scan(QString::fromUtf8(c.text));
        QStringList names;
        for (int i = 0; i < macros.Count(); ++i) {
            names << macros[i].Name();
            macros[i].SetValue(u'<' + macros[i].Name() + u'>');
        }
        EXPECT_EQ(names, c.names) << c.text;
        EXPECT_EQ(macros.Expand(QString::fromUtf8(c.text)), QString::fromUtf8(c.expanded)) << c.text;
    }
}

TEST(Macros, KnownNamesKeepTheirValueInactiveAndMissingExpandToNothing) {
    TMacros macros(MySqlParser);
    macros.Scan(QStringLiteral("SELECT &a, &b"));
    int changes = 0;
    macros.OnChange = [&] { ++changes; };
    macros.MacroByName(QStringLiteral("A")).SetValue(QStringLiteral("1"));
    macros.MacroByName(QStringLiteral("b")).SetValue(QStringLiteral("2"));
    macros.MacroByName(QStringLiteral("b")).SetActive(false);
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(macros.Expand(QStringLiteral("SELECT &a, &b, &c")), QStringLiteral("SELECT 1, , "));

    macros.Scan(QStringLiteral("SELECT &c, &a"));
    ASSERT_EQ(macros.Count(), 2);
    EXPECT_EQ(macros[1].Value(), QStringLiteral("1"));
    EXPECT_EQ(macros[0].Value(), QString());
    EXPECT_EQ(macros.FindMacro(QStringLiteral("b")), nullptr);
    EXPECT_EQ(Raised<EDatabaseError>([&] { macros.MacroByName(QStringLiteral("b")); }).Message(),
              QStringLiteral("Macro b not found"));
}

TEST(Params, ByNameAndValuesSurvivingANewText) {
    TDAParams params;
    params.Add(QStringLiteral("id"));
    params.Add(QStringLiteral("name"));
    params.Add(QStringLiteral("ID"));
    params.ParamByName(QStringLiteral("Id")).SetAsInteger(7);
    EXPECT_EQ(params[0].DataType(), ftInteger);
    EXPECT_TRUE(params[2].IsNull());  // the second of the name stays NULL
    params[1].SetAsString(QStringLiteral("x"));
    EXPECT_EQ(params[1].DataType(), ftWideString);
    EXPECT_EQ(Raised<EDatabaseError>([&] { params.ParamByName(QStringLiteral("missing")); }).Message(),
              QStringLiteral("Parameter 'missing' not found"));

    TDAParams rebuilt;
    rebuilt.Add(QStringLiteral("name"));
    rebuilt.Add(QStringLiteral("other"));
    rebuilt.AssignValues(params);
    EXPECT_EQ(rebuilt[0].Value(), Variant(QStringLiteral("x")));
    EXPECT_EQ(rebuilt[0].DataType(), ftWideString);
    EXPECT_TRUE(rebuilt[1].IsNull());
}

TEST(Strings, TextAndLines) {
    TStrings lines;
    int changes = 0;
    lines.OnChange = [&] { ++changes; };
    lines.SetText(QStringLiteral("a\r\nb\nc\rd\r\n"));
    EXPECT_EQ(lines.Lines(), (QStringList{"a", "b", "c", "d"}));
    EXPECT_EQ(lines.Text(), QStringLiteral("a\r\nb\r\nc\r\nd\r\n"));
    lines.BeginUpdate();
    lines.Clear();
    lines.Add(QStringLiteral("x"));
    lines.Add(QStringLiteral("y"));
    lines.EndUpdate();
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(lines.Count(), 2);
}
