// Identifiers: raw names quoted so that they always read as the one name, string literals of
// server values, and typed text parsed into raw parts with clear errors.

#include "dataaccess/mysql/MySqlIdentifier.h"
#include "dataaccess/mysql/MySqlInfo.h"

#include "common/Exceptions.h"
#include "sqltext/MyParser.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace calvoro;
using namespace calvoro::dac;

namespace {


// Names a server may hold that read as something else when they are taken as quoted already,
// cut at a dot, or written bare.
const char* const CraftedNames[] = {
    "`x`;DROP TABLE inj.victim;SELECT `1`",  // backticks at both ends
    "```x``;DROP TABLE inj.victim;SELECT ``1```",
    "`x`",
    "`",
    "a`b",
    "a.b",
    "db.`t`",
    "it's",
    "x'; DROP TABLE victim; -- ",
    "x;DROP TABLE victim",
    "line\nDROP TABLE victim;\n-- ",
    "cr\rlf",
    "\"quoted\"",
    "back\\slash",
    "$$",
    " lead and trail ",
    "\xC3\xA9t\xC3\xA9 \xE5\x8A\xA8\xE7\x89\xA9",
    "",
};

// The tokens of a text as the program's own lexer reads it, blanks and comments included.
std::vector<std::pair<int, QString>> Tokens(const QString& text) {
    sqltext::TMyParser parser(text);
    parser.FUppered = false;
    parser.FOmitBlank = false;
    std::vector<std::pair<int, QString>> tokens;
    QString lexeme;
    int code;
    while ((code = parser.GetNext(lexeme)) != sqltext::lexEnd) tokens.emplace_back(code, lexeme);
    return tokens;
}

TEST(MySqlIdentifier, AQuotedRawNameIsAlwaysOneIdentifier) {
    const QString head = QStringLiteral("SELECT * FROM "), tail = QStringLiteral(" WHERE 1");
    const auto headTokens = Tokens(head), tailTokens = Tokens(tail);
    for (const char* crafted : CraftedNames) {
        const QString raw = QString::fromUtf8(crafted);
        SCOPED_TRACE(crafted);
        for (const bool always : {true, false}) {
            const QString quoted = QuoteIdentifier(raw, always);
            // Between other tokens, the name is identifier lexemes only (a doubled backtick
            // inside ends one and begins the next), nothing outside the quotes, and the
            // statement goes on after it as it would after any name.
            const auto tokens = Tokens(head + quoted + tail);
            ASSERT_GT(tokens.size(), headTokens.size() + tailTokens.size()) << quoted.toStdString();
            const size_t end = tokens.size() - tailTokens.size();
            QString name;
            for (size_t i = headTokens.size(); i < end; ++i) {
                EXPECT_EQ(tokens[i].first, sqltext::lexIdent) << tokens[i].second.toStdString();
                name += tokens[i].second;
            }
            EXPECT_EQ(name, quoted);
            EXPECT_TRUE(std::equal(tailTokens.begin(), tailTokens.end(), tokens.begin() + qsizetype(end)));
            EXPECT_EQ(TMySQLInfo::UnQuote(quoted), raw);
        }
        // Read back as typed text, the quoted form is the raw name again.
        if (!raw.isEmpty()) {
            EXPECT_EQ(ParseIdentifier(QuoteIdentifier(raw)), raw);
        }
    }
}

TEST(MySqlIdentifier, QuotedAlwaysOrWhereNeeded) {
    struct {
        const char* raw;
        const char* always;
        const char* ifNeeded;
    } cases[] = {
        {"city", "`city`", "city"},
        {"City_2$", "`City_2$`", "City_2$"},
        {"order", "`order`", "`order`"},  // reserved, in any case
        {"Select", "`Select`", "`Select`"},
        {"status", "`status`", "status"},  // a keyword, not reserved
        {"2city", "`2city`", "`2city`"},
        {"my table", "`my table`", "`my table`"},
        {"a`b", "`a``b`", "`a``b`"},
        {"`a`", "```a```", "```a```"},
        {"``", "``````", "``````"},
        {"a.b", "`a.b`", "`a.b`"},
        {"it's", "`it's`", "`it's`"},
        {"x\ny", "`x\ny`", "`x\ny`"},
        {"", "``", "``"},
    };
    for (const auto& c : cases) {
        const QString raw = QString::fromUtf8(c.raw);
        EXPECT_EQ(QuoteIdentifier(raw), QString::fromUtf8(c.always)) << c.raw;
        EXPECT_EQ(QuoteIdentifier(raw, true), QString::fromUtf8(c.always)) << c.raw;
        EXPECT_EQ(QuoteIdentifier(raw, false), QString::fromUtf8(c.ifNeeded)) << c.raw;
        EXPECT_EQ(IdentifierNeedsQuotes(raw), QString::fromUtf8(c.ifNeeded) != raw) << c.raw;
    }
    EXPECT_EQ(QuoteObjectName({QStringLiteral("shop"), QStringLiteral("items")}), QStringLiteral("`shop`.`items`"));
    EXPECT_EQ(QuoteObjectName({QStringLiteral("shop"), QStringLiteral("order")}, false), QStringLiteral("shop.`order`"));
    EXPECT_EQ(QuoteObjectName({QString(), QStringLiteral("a.b")}, false), QStringLiteral("`a.b`"));
    EXPECT_EQ(QuoteObjectName({QStringLiteral("my.db"), QStringLiteral("t")}), QStringLiteral("`my.db`.`t`"));
}

TEST(MySqlIdentifier, StringLiteralsOfServerValues) {
    struct {
        const char* value;
        bool backslashes;
        const char* literal;
    } cases[] = {
        {"calvoro", true, "'calvoro'"},
        {"o'k", true, "'o\\'k'"},
        {"o'k", false, "'o''k'"},
        {"back\\", true, "'back\\\\'"},    // a trailing backslash must not escape the closing quote
        {"back\\", false, "'back\\'"},     // no escapes in this mode: the backslash is itself
        {"x'; DROP USER y; -- ", true, "'x\\'; DROP USER y; -- '"},
        {"line\nbreak\r", true, "'line\\nbreak\\r'"},
        {"\"q\"", true, "'\\\"q\\\"'"},
        {"", true, "''"},
        {"%", true, "'%'"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QuoteString(QString::fromUtf8(c.value), c.backslashes), QString::fromUtf8(c.literal)) << c.value;
}

TEST(MySqlIdentifier, TypedNamesAreParsedIntoRawParts) {
    struct {
        const char* typed;
        TObjectName parts;
    } cases[] = {
        {"t", {"", "t"}},
        {"db.t", {"db", "t"}},
        {" db . t ", {"db", "t"}},
        {"`a.b`", {"", "a.b"}},
        {"`a`.`b`", {"a", "b"}},
        {"`a` . b", {"a", "b"}},
        {"`a``b`", {"", "a`b"}},
        {"`my table`", {"", "my table"}},
        {"my table", {"", "my table"}},
        {"`db.x`.`t.y`", {"db.x", "t.y"}},
        {"a`b", {"", "a`b"}},  // a backtick inside a plain name is part of it
        {"`x;y`", {"", "x;y"}},
        {"x;y", {"", "x;y"}},  // one name: no list here
    };
    for (const auto& c : cases) EXPECT_EQ(ParseObjectName(QString::fromUtf8(c.typed)), c.parts) << c.typed;

    const std::pair<const char*, const char*> identifiers[] = {
        {"shop", "shop"},
        {"`my db`", "my db"},
        {"a.b", "a.b"},  // no database part in one name
        {"`a``b`", "a`b"},
        {"x`; DROP DATABASE y; `", "x`; DROP DATABASE y; `"},
        {"  padded  ", "padded"},
    };
    for (auto [typed, raw] : identifiers) EXPECT_EQ(ParseIdentifier(QString::fromUtf8(typed)), QString::fromUtf8(raw)) << typed;
}

TEST(MySqlIdentifier, MalformedTypedNamesSayWhatIsWrong) {
    struct {
        const char* typed;
        bool list;
        const char* message;
    } cases[] = {
        {"`abc", false, "The name `abc has no closing backtick"},
        {"db.`abc", false, "The name `abc has no closing backtick"},
        {"`a``", false, "The name `a`` has no closing backtick"},
        {"`a`b", false, "Unexpected text after the quoted name `a`: b"},
        {"`a`.`b`.`c`", false, "The name `a`.`b`.`c` has more parts than database.name"},
        {"a.b.c", false, "The name a.b.c has more parts than database.name"},
        {".t", false, "The name .t has an empty part"},
        {"db.", false, "The name db. has an empty part"},
        {"``.t", false, "The name ``.t has an empty part"},
        {"", false, "The name is empty"},
        {"``", false, "The name is empty"},
        {"  ", false, "The name is empty"},
        {"a, `b", true, "The name `b has no closing backtick"},
        {"a, `b` c, d", true, "Unexpected text after the quoted name `b`: c, d"},
        {"a.b.c; d", true, "The name a.b.c; d has more parts than database.name"},
    };
    for (const auto& c : cases) {
        const QString typed = QString::fromUtf8(c.typed);
        try {
            if (c.list)
                ParseObjectNameList(typed);
            else
                ParseObjectName(typed);
            ADD_FAILURE() << "no error for " << c.typed;
        } catch (const EDatabaseError& e) {
            EXPECT_TRUE(e.Message().startsWith(QString::fromUtf8(c.message))) << e.Message().toStdString();
        }
    }
    EXPECT_THROW(ParseIdentifier(QStringLiteral("`a`.`b`")), EDatabaseError);
    EXPECT_THROW(ParseIdentifier(QStringLiteral("`open")), EDatabaseError);
    EXPECT_THROW(ParseIdentifier(QString()), EDatabaseError);
}

TEST(MySqlIdentifier, ListsSplitOutsideBackticksOnly) {
    struct {
        const char* typed;
        std::vector<TObjectName> names;
    } cases[] = {
        {"a, b;c", {{"", "a"}, {"", "b"}, {"", "c"}}},
        {"`a,b`, `c;d`", {{"", "a,b"}, {"", "c;d"}}},
        {" , a,, ;", {{"", "a"}}},
        {"`my table`, db.t", {{"", "my table"}, {"db", "t"}}},
        {"`x`.`y,z`;w", {{"x", "y,z"}, {"", "w"}}},
        {"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseObjectNameList(QString::fromUtf8(c.typed)), c.names) << c.typed;

    // The typed form of any raw names reads back to the same names.
    std::vector<TObjectName> raw;
    for (const char* crafted : CraftedNames)
        if (*crafted) raw.push_back({QString(), QString::fromUtf8(crafted)});
    raw.push_back({QStringLiteral("d.b"), QStringLiteral("x,y")});
    raw.push_back({QStringLiteral("shop"), QStringLiteral("items")});
    QStringList typed;
    for (const TObjectName& name : raw) typed << TypedObjectName(name);
    EXPECT_EQ(ParseObjectNameList(typed.join(QStringLiteral(", "))), raw);
    EXPECT_EQ(TypedObjectName({QStringLiteral("shop"), QStringLiteral("items")}), QStringLiteral("shop.items"));
}

}  // namespace
