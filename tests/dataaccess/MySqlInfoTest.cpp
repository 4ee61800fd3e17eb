#include "dataaccess/mysql/MySqlInfo.h"

#include "common/Exceptions.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using calvoro::dac::TMySQLInfo;

TEST(MySqlInfo, QuoteUnquoteAndNeeds) {
    struct Case {
        const char* name;
        bool quoted, needed;
        const char* quote;
        const char* unquote;
    } cases[] = {
        {"city", false, false, "`city`", "city"},
        {"City_2$", false, false, "`City_2$`", "City_2$"},
        {"2city", false, true, "`2city`", "2city"},
        {"my table", false, true, "`my table`", "my table"},
        {"table", false, true, "`table`", "table"},
        {"a`b", false, true, "`a``b`", "a`b"},
        // Quote takes every name as raw: one that looks quoted is quoted as a whole.
        {"`a``b`", true, true, "```a````b```", "a`b"},
        {"\"x\"", true, true, "`\"x\"`", "x"},
        {"'x''y'", true, true, "`'x''y'`", "x'y"},
        {"`", false, true, "````", "`"},
        {"`x\"", false, true, "```x\"`", "`x\""},
        {"\u00e9t\u00e9", false, true, "`\u00e9t\u00e9`", "\u00e9t\u00e9"},
        {"", false, true, "``", ""},
    };
    for (const auto& c : cases) {
        const QString name = QString::fromUtf8(c.name);
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TMySQLInfo::IsQuoted(name), c.quoted);
        EXPECT_EQ(TMySQLInfo::QuotesNeeded(name), c.needed);
        EXPECT_EQ(TMySQLInfo::Quote(name), QString::fromUtf8(c.quote));
        EXPECT_EQ(TMySQLInfo::UnQuote(name), QString::fromUtf8(c.unquote));
        EXPECT_EQ(TMySQLInfo::QuoteIfNeed(name), c.needed ? QString::fromUtf8(c.quote) : name);
    }
}

TEST(MySqlInfo, NormalizeName) {
    struct Case {
        const char* name;
        bool quoteNames, unQuoteNames;
        const char* result;
    } cases[] = {
        {"city", false, false, "city"},
        {"city", true, false, "`city`"},
        {"`city`", false, true, "city"},
        {"`city`", false, false, "city"},  // typed text: parsed, then quoted where needed
        {"my table", false, false, "`my table`"},
        {"shop.city", false, false, "shop.city"},
        {"shop.city", true, false, "`shop`.`city`"},
        {"`my.db`.`a b`", false, false, "`my.db`.`a b`"},
        {"`my.db`.`a b`", false, true, "my.db.a b"},
        {"db.`a.b`", false, false, "db.`a.b`"},
        {"`a``b`", false, false, "`a``b`"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TMySQLInfo::NormalizeName(QString::fromUtf8(c.name), c.quoteNames, c.unQuoteNames),
                  QString::fromUtf8(c.result))
            << c.name << " " << c.quoteNames << c.unQuoteNames;
    // Malformed typed text is refused, never cut somewhere.
    EXPECT_THROW(TMySQLInfo::NormalizeName(QStringLiteral("db.a.b"), false, false), calvoro::EDatabaseError);
    EXPECT_THROW(TMySQLInfo::NormalizeName(QStringLiteral("`open"), false, false), calvoro::EDatabaseError);
}
