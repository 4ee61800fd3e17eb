// What the completion reads from the text at the cursor: the place, the word typed, the
// qualifier before a dot and the tables the statement names. "|" in a case marks the cursor.
#include "app/editor/completion/CompletionContext.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

namespace calvoro::app {
void PrintTo(const TCompletionTableRef& r, std::ostream* os) {
    *os << '{' << r.Database.toStdString() << '.' << r.Table.toStdString() << ' ' << r.Alias.toStdString() << '}';
}
}  // namespace calvoro::app

using namespace calvoro::app;

namespace {

using P = TCompletionPlace;
using Refs = std::vector<TCompletionTableRef>;

TCompletionContext At(const QString& marked) {
    const qsizetype cursor = marked.indexOf(u'|');
    QString text = marked;
    text.remove(cursor, 1);
    return AnalyzeCompletion(text, cursor);
}

TEST(CompletionContext, PlaceWordAndQualifier) {
    struct Case {
        const char* text;
        P place;
        const char* prefix;
        QStringList qualifier;
    } cases[] = {
        {"SEL|", P::Any, "SEL", {}},
        {"|", P::Any, "", {}},
        {"SELECT na| FROM t", P::Any, "na", {}},
        {"SELECT * FROM |", P::Table, "", {}},
        {"SELECT * FROM or|", P::Table, "or", {}},
        {"SELECT * FROM a JOIN cu| ON", P::Table, "cu", {}},
        {"SELECT * FROM a, b|", P::Table, "b", {}},
        {"SELECT * FROM a WHERE x = 1 AND y|", P::Any, "y", {}},
        {"UPDATE cu| SET", P::Table, "cu", {}},
        {"INSERT INTO |", P::Table, "", {}},
        {"INSERT INTO t (a, b|) VALUES (1, 2)", P::Column, "b", {}},
        {"INSERT INTO db.t (|", P::Column, "", {}},
        {"INSERT INTO t (a) VALUES (|", P::Any, "", {}},
        {"SELECT COUNT(|", P::Any, "", {}},
        {"DESCRIBE |", P::Table, "", {}},
        {"USE |", P::Database, "", {}},
        {"SELECT a.| FROM orders a", P::Member, "", {"a"}},
        {"SELECT a.cu| FROM orders a", P::Member, "cu", {"a"}},
        {"SELECT * FROM shop.|", P::Member, "", {"shop"}},
        {"SELECT shop.orders.i|", P::Member, "i", {"shop", "orders"}},
        {"SELECT `my t`.| FROM `my t`", P::Member, "", {"my t"}},
        {"SELECT `my t|", P::Any, "my t", {}},
        {"SELECT 'abc|'", P::None, "", {}},
        {"SELECT 'ab; c|", P::None, "", {}},
        {"SELECT 'abc'|", P::Any, "", {}},
        {"SELECT 1| ", P::None, "", {}},
        {"SELECT 1 -- a comm|", P::None, "", {}},
        {"SELECT 1 /* x */|", P::Any, "", {}},
        {"SELECT 1 /* x |", P::None, "", {}},
        {"SELECT 1; SELECT * FROM |", P::Table, "", {}},
        {"SELECT * FROM t WHERE (a IN (SELECT b FROM |", P::Table, "", {}},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.text);
        const TCompletionContext c = At(QString::fromUtf8(tc.text));
        EXPECT_EQ(c.Place, tc.place);
        if (tc.place == P::None) continue;
        EXPECT_EQ(c.Prefix, QString::fromUtf8(tc.prefix));
        EXPECT_EQ(c.Qualifier, tc.qualifier);
    }
}

TEST(CompletionContext, ReplacedRangeIsTheWholeWord) {
    struct Case {
        const char* text;
        qsizetype from, to;
        bool quoted;
    } cases[] = {
        {"SELECT na|me FROM t", 7, 11, false},
        {"SELECT `my t|", 7, 12, true},
        {"SELECT `my t|` FROM t", 7, 13, true},
        {"SELECT x.|", 9, 9, false},
        {"SELECT é|", 7, 8, false},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.text);
        const TCompletionContext c = At(QString::fromUtf8(tc.text));
        EXPECT_EQ(c.ReplaceFrom, tc.from);
        EXPECT_EQ(c.ReplaceTo, tc.to);
        EXPECT_EQ(c.Quoted, tc.quoted);
    }
}

TEST(CompletionContext, TablesAndAliasesOfTheStatement) {
    struct Case {
        const char* text;
        Refs tables;
    } cases[] = {
        {"SELECT a.| FROM orders a JOIN customers c ON c.id = a.customer_id",
         {{"", "orders", "a"}, {"", "customers", "c"}}},
        {"SELECT | FROM shop.orders AS o, `my t` m, plain WHERE 1",
         {{"shop", "orders", "o"}, {"", "my t", "m"}, {"", "plain", ""}}},
        {"UPDATE orders o SET o.| = 1", {{"", "orders", "o"}}},
        {"UPDATE LOW_PRIORITY orders SET |", {{"", "orders", ""}}},
        {"DELETE FROM orders WHERE |", {{"", "orders", ""}}},
        {"INSERT INTO orders (|) VALUES (1)", {{"", "orders", ""}}},
        {"INSERT INTO orders SELECT | FROM customers c", {{"", "orders", ""}, {"", "customers", "c"}}},
        // Only the statement the cursor is in.
        {"SELECT * FROM a x; SELECT x.| FROM b y; SELECT * FROM c", {{"", "b", "y"}}},
        // The word being typed is no table yet, nor what stands before its dot.
        {"SELECT * FROM ord|", {}},
        {"SELECT * FROM shop.|", {}},
        {"SELECT * FROM shop.o|, b", {}},
        // A derived table has no name to look up.
        {"SELECT | FROM (SELECT 1) d", {}},
        {"SELECT | FROM t1 LEFT JOIN t2 USING (id) WHERE", {{"", "t1", ""}, {"", "t2", ""}}},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.text);
        EXPECT_EQ(At(QString::fromUtf8(tc.text)).Tables, tc.tables);
    }
}

TEST(CompletionContext, StatementsEndAtTheDelimiter) {
    // A routine body's semicolons do not end the statement a DELIMITER line opened.
    const char* text =
        "DELIMITER //\n"
        "CREATE PROCEDURE p() BEGIN SELECT 1 FROM a; SELECT | FROM orders o; END//\n"
        "DELIMITER ;\n"
        "SELECT * FROM b";
    EXPECT_EQ(At(QString::fromUtf8(text)).Tables, (Refs{{"", "a", ""}, {"", "orders", "o"}}));
    const char* after = "DELIMITER //\nSELECT * FROM a//\nSELECT | FROM b z//";
    EXPECT_EQ(At(QString::fromUtf8(after)).Tables, (Refs{{"", "b", "z"}}));
}

}  // namespace
