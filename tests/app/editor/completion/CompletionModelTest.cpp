// The candidates for a context over a small catalog, exactly and in order.
#include "app/editor/completion/CompletionModel.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

namespace calvoro::app {
void PrintTo(const TCandidate& c, std::ostream* os) {
    *os << '{' << c.Name.toStdString() << ' ' << CandidateKindName(c.Kind).toStdString() << ' '
        << c.Insert.toStdString() << " (" << c.Detail.toStdString() << ")}";
}
}  // namespace calvoro::app

using namespace calvoro::app;

namespace {

using K = TCandidateKind;

TCompletionCatalog Catalog() {
    TCompletionCatalog catalog;
    catalog.Reset(QStringLiteral("shop"));
    catalog.SetDatabases({QStringLiteral("shop"), QStringLiteral("stats"), QStringLiteral("Sales Data")});
    catalog.SetDatabase(std::make_shared<TDatabaseCatalog>(
        QStringLiteral("shop"),
        std::vector<TCatalogTable>{
            {QStringLiteral("orders"), false,
             {{QStringLiteral("id"), QStringLiteral("int(11)")},
              {QStringLiteral("customer_id"), QStringLiteral("int(11)")},
              {QStringLiteral("order date"), QStringLiteral("date")}}},
            {QStringLiteral("customers"), false,
             {{QStringLiteral("id"), QStringLiteral("int(11)")}, {QStringLiteral("Name"), QStringLiteral("text")}}},
            {QStringLiteral("order_totals"), true, {{QStringLiteral("total"), QStringLiteral("decimal(10,2)")}}},
            {QStringLiteral("select"), false, {}},
        },
        true));
    return catalog;
}

struct Expected {
    const char* name;
    K kind;
    const char* insert;
};


TCompletionResult For(const TCompletionCatalog& catalog, const QString& marked) {
    const qsizetype cursor = marked.indexOf(u'|');
    QString text = marked;
    text.remove(cursor, 1);
    return CompletionCandidates(AnalyzeCompletion(text, cursor), catalog);
}

TEST(CompletionModel, CandidatesInOrder) {
    const TCompletionCatalog catalog = Catalog();
    struct Case {
        const char* text;
        std::vector<Expected> candidates;
    } cases[] = {
        // The columns of an aliased table, as the table has them; names that need it quoted.
        {"SELECT a.| FROM orders a JOIN customers c ON c.id = a.customer_id",
         {{"id", K::Column, "id"}, {"customer_id", K::Column, "customer_id"}, {"order date", K::Column, "`order date`"}}},
        {"SELECT c.| FROM orders a JOIN customers c", {{"id", K::Column, "id"}, {"Name", K::Column, "Name"}}},
        // An alias in another letter case, and a table named without alias.
        {"SELECT C.n| FROM customers c", {{"Name", K::Column, "Name"}}},
        {"SELECT customers.| FROM customers", {{"id", K::Column, "id"}, {"Name", K::Column, "Name"}}},
        // A database before the dot: its tables and views.
        {"SELECT * FROM shop.ord|", {{"orders", K::Table, "orders"}, {"order_totals", K::View, "order_totals"}}},
        {"SELECT shop.orders.c|", {{"customer_id", K::Column, "customer_id"}}},
        // After FROM: tables, views, then databases; a reserved word as a name is quoted.
        {"SELECT * FROM s|", {{"select", K::Table, "`select`"}, {"shop", K::Database, "shop"}, {"stats", K::Database, "stats"},
                              {"Sales Data", K::Database, "`Sales Data`"}}},
        // Typed in backticks: quoted always.
        {"SELECT * FROM `ord|", {{"orders", K::Table, "`orders`"}, {"order_totals", K::View, "`order_totals`"}}},
        // In an expression: the statement's columns first, then functions, keywords, tables.
        {"SELECT CU| FROM orders", {{"customer_id", K::Column, "customer_id"}, {"CUME_DIST", K::Function, "CUME_DIST"},
                                    {"CURDATE", K::Function, "CURDATE"},
                                    {"CURRENT_DATE", K::Function, "CURRENT_DATE"},
                                    {"CURRENT_TIME", K::Function, "CURRENT_TIME"},
                                    {"CURRENT_TIMESTAMP", K::Function, "CURRENT_TIMESTAMP"},
                                    {"CURRENT_USER", K::Function, "CURRENT_USER"}, {"CURTIME", K::Function, "CURTIME"},
                                    {"CUBE", K::Keyword, "CUBE"},
                                    {"CURRENT", K::Keyword, "CURRENT"}, {"CURRENT_ROLE", K::Keyword, "CURRENT_ROLE"},
                                    {"CURSOR", K::Keyword, "CURSOR"}, {"customers", K::Table, "customers"}}},
        // A column two tables have is offered once; keywords and functions take the typed
        // letter case.
        {"SELECT id| FROM orders o JOIN customers c", {{"id", K::Column, "id"}, {"IDENTIFIED", K::Keyword, "identified"}}},
        {"SELECT Na| FROM customers", {{"Name", K::Column, "Name"}, {"NATURAL", K::Keyword, "NATURAL"}}},
        // INSERT's column list: columns only; a name in the exact letter case first.
        {"INSERT INTO customers (n|", {{"Name", K::Column, "Name"}}},
        {"INSERT INTO orders (|) VALUES (1)",
         {{"id", K::Column, "id"}, {"customer_id", K::Column, "customer_id"}, {"order date", K::Column, "`order date`"}}},
        {"USE s|", {{"shop", K::Database, "shop"}, {"stats", K::Database, "stats"}, {"Sales Data", K::Database, "`Sales Data`"}}},
        {"USE S|", {{"Sales Data", K::Database, "`Sales Data`"}, {"shop", K::Database, "shop"}, {"stats", K::Database, "stats"}}},
        // Nothing inside a string; an unknown alias has no members.
        {"SELECT 'a.|'", {}},
        {"SELECT zz.| FROM orders", {}},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.text);
        const TCompletionResult r = For(catalog, QString::fromUtf8(tc.text));
        std::vector<TCandidate> expected;
        for (const Expected& e : tc.candidates) {
            const auto found = std::find_if(r.Candidates.begin(), r.Candidates.end(), [&](const TCandidate& c) {
                return c.Name == QString::fromUtf8(e.name) && c.Kind == e.kind;
            });
            expected.push_back({QString::fromUtf8(e.name), e.kind, QString::fromUtf8(e.insert),
                                found == r.Candidates.end() ? QString() : found->Detail});
        }
        EXPECT_EQ(r.Candidates, expected);
        EXPECT_EQ(r.Missing, QStringList());
    }
}

TEST(CompletionModel, ColumnsNameTheirTypeAndTables) {
    const TCompletionResult r = For(Catalog(), QStringLiteral("SELECT i| FROM orders o JOIN customers c"));
    ASSERT_FALSE(r.Candidates.empty());
    EXPECT_EQ(r.Candidates.front().Detail, QStringLiteral("int(11) orders, customers"));
}

TEST(CompletionModel, DatabasesNotLoadedAreAskedFor) {
    const TCompletionCatalog catalog = Catalog();
    struct Case {
        const char* text;
        QStringList missing;
    } cases[] = {
        {"SELECT * FROM stats.|", {"stats"}},
        {"SELECT * FROM STATS.|", {"stats"}},
        {"SELECT x.| FROM stats.daily x", {"stats"}},
        {"SELECT | FROM stats.daily x, shop.orders", {"stats"}},
        {"SELECT * FROM orders.|", {}},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.text);
        EXPECT_EQ(For(catalog, QString::fromUtf8(tc.text)).Missing, tc.missing);
    }
    // Before anything is loaded the current database is wanted.
    TCompletionCatalog empty;
    empty.Reset(QStringLiteral("shop"));
    EXPECT_EQ(For(empty, QStringLiteral("SELECT * FROM o|")).Missing, QStringList{QStringLiteral("shop")});
}

}  // namespace
