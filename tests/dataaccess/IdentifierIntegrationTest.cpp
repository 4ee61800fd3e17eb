// Names the server holds that look quoted, hold dots, quotes or line breaks, against the test
// server: edits through a query, the table component and a table lock reach exactly the object
// named; the check for an existing database compares names as the server does.

#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/mysql/MyObjectStatements.h"
#include "dataaccess/mysql/MySqlIdentifier.h"
#include "support/MyTestConnection.h"
#include "support/Raised.h"

#include <gtest/gtest.h>

using namespace calvoro;
using namespace calvoro::dac;
using calvoro::test::FirstValue;
using calvoro::test::NewConnection;
using calvoro::test::RowsText;

namespace {

const QString Db = QStringLiteral("calvoro_ident");

class IdentifierTest : public ::testing::Test {
protected:
    void SetUp() override {
        c = NewConnection();
        c->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(Db));
        c->ExecSQL(QStringLiteral("CREATE DATABASE %1").arg(Db));
        c->SetDatabase(Db);
        c->Connect();
        c->ExecSQL(QStringLiteral("CREATE TABLE victim (id INT)"));
    }
    void TearDown() override { c->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(Db)); }

    bool VictimThere() { return FirstValue(*c, QStringLiteral("SHOW TABLES LIKE 'victim'")).has_value(); }

    std::unique_ptr<TMyConnection> c;
};

// Table and key column names that read as something else when taken as quoted already: a
// key named 'k' written bare compares a string with the key (no row, or every row).
const std::pair<const char*, const char*> Crafted[] = {
    {"`t`;DROP TABLE victim;SELECT `1`", "`k`"},
    {"calvoro_ident.victim", "'k'"},
    {"it's", "\"k\""},
    {"x;DROP TABLE victim", "k`k"},
};

TEST_F(IdentifierTest, EditsReachTheRowOfTheNamedTable) {
    for (const auto& [tableName, keyName] : Crafted) {
        const QString table = QString::fromUtf8(tableName), key = QString::fromUtf8(keyName);
        SCOPED_TRACE(tableName);
        c->ExecSQL(QStringLiteral("CREATE TABLE %1 (%2 INT PRIMARY KEY, v VARCHAR(10))")
                       .arg(QuoteIdentifier(table), QuoteIdentifier(key)));
        c->ExecSQL(QStringLiteral("INSERT INTO %1 VALUES (1, 'a'), (2, 'b'), (3, 'c')").arg(QuoteIdentifier(table)));
        const QString rows = QStringLiteral("SELECT * FROM %1 ORDER BY 1").arg(QuoteIdentifier(table));
        for (const bool quoteNames : {false, true}) {
            SCOPED_TRACE(quoteNames ? "names quoted" : "names quoted where needed");
            TMyQuery q;
            q.SetConnection(c.get());
            q.Options().SetQuoteNames(quoteNames);
            q.SQL().SetText(rows);
            q.Open();
            q.First();
            q.Next();  // the row of key 2
            q.Edit();
            q.FieldByName(QStringLiteral("v")).SetAsString(quoteNames ? QStringLiteral("q") : QStringLiteral("n"));
            q.Post();
            q.LockTable(ltWrite);
            q.UnLockTable();
        }
        EXPECT_EQ(RowsText(*c, rows), QStringLiteral("1,a|2,q|3,c"));

        // The table component, given the name as a user types it.
        TMyTable t;
        t.SetConnection(c.get());
        t.SetTableName(TypedObjectName({Db, table}));
        EXPECT_EQ(t.Table(), (TObjectName{Db, table}));
        t.SetOrderFields(QuoteIdentifier(key) + QStringLiteral(" DESC"));
        t.Open();
        EXPECT_EQ(t.RecordCount(), 3);
        EXPECT_EQ(t.FieldByName(QStringLiteral("v")).AsString(), QStringLiteral("c"));
        EXPECT_EQ(t.IndexDefs().size(), 1u);
        t.EmptyTable();
        EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT COUNT(*) FROM %1").arg(QuoteIdentifier(table))), QStringLiteral("0"));
        EXPECT_TRUE(VictimThere());
    }
    // A typed name that cannot be read changes nothing.
    TMyTable t;
    t.SetTableName(QStringLiteral("victim"));
    EXPECT_EQ(calvoro::test::Raised<EDatabaseError>([&] { t.SetTableName(QStringLiteral("`victim")); }).Message(),
              QStringLiteral("The name `victim has no closing backtick: a backtick inside a quoted name is written "
                             "twice (``)"));
    EXPECT_EQ(t.TableName(), QStringLiteral("victim"));
}

TEST_F(IdentifierTest, ExistingDatabasesAreFoundAsTheServerComparesNames) {
    const QString mixed = QStringLiteral("calvoro_Ident_Case"), quoted = QStringLiteral("calvoro_ident_o'q");
    const bool foldsCase = FirstValue(*c, QStringLiteral("SELECT @@lower_case_table_names")).value_or(QString()) != u"0";
    for (const QString& db : {mixed, quoted}) {
        c->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(QuoteIdentifier(db)));
        c->ExecSQL(QStringLiteral("CREATE DATABASE %1").arg(QuoteIdentifier(db)));
    }
    const QString stored = foldsCase ? mixed.toLower() : mixed;
    struct {
        QString asked;
        QStringList found;
    } cases[] = {
        {mixed, {stored}},
        // With lower_case_table_names 0 the server keeps the two apart: DROP DATABASE of the
        // other spelling would drop nothing.
        {QStringLiteral("calvoro_ident_case"), foldsCase ? QStringList{stored} : QStringList{}},
        {QStringLiteral("CALVORO_IDENT_CASE"), foldsCase ? QStringList{stored} : QStringList{}},
        {quoted, {quoted}},
        {QStringLiteral("calvoro_ident_o_q"), {}},  // no pattern: '_' is itself
        {QStringLiteral("calvoro_ident_%"), {}},
    };
    for (const auto& k : cases) EXPECT_EQ(ExistingDatabases(*c, k.asked), k.found) << k.asked.toStdString();

    // The statement of a server that folds letter case, run on this one, finds what such a
    // server would; the exact one finds only the exact name.
    const auto run = [&](const QString& asked, bool caseInsensitive) {
        return RowsText(*c, ExistingDatabasesStatement(asked, caseInsensitive, c->NeedBackslashes()));
    };
    EXPECT_EQ(run(QStringLiteral("CALVORO_ident_case"), true), stored);
    EXPECT_EQ(run(stored, false), stored);
    EXPECT_EQ(run(QStringLiteral("CALVORO_ident_case"), false), QString());
    for (const QString& db : {mixed, quoted}) c->ExecSQL(QStringLiteral("DROP DATABASE %1").arg(QuoteIdentifier(db)));
}

}  // namespace
