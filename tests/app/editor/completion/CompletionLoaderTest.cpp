// The completion's names read from the test server on the loader's own connection.
#include "app/editor/completion/CompletionLoader.h"
#include "dataaccess/support/MyTestConnection.h"
#include "support/QtPrinters.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

using namespace calvoro;
using namespace calvoro::app;
using calvoro::test::NewConnection;

namespace {

// Lets the loader's results arrive until nothing of `databases` is loading any more.
bool WaitLoaded(TCompletionLoader& loader, const QStringList& databases) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        const bool busy = std::any_of(databases.begin(), databases.end(),
                                      [&](const QString& d) { return loader.Loading(d); }) ||
                          loader.Loading(QString());
        if (!busy) return true;
        if (clock.elapsed() > 30000) return false;
    }
}

QString Describe(const TDatabaseCatalog& d) {
    QStringList tables;
    for (const TCatalogTable& t : d.Tables()) {
        QStringList columns;
        for (const TCatalogColumn& c : t.Columns) columns << c.Name + u' ' + c.Type;
        tables << (t.View ? QStringLiteral("view ") : QString()) + t.Name + u'(' + columns.join(QStringLiteral(", ")) + u')';
    }
    return tables.join(u'\n');
}

TEST(CompletionStatements, NameTheDatabaseAsAStringLiteral) {
    EXPECT_EQ(CatalogTablesStatement(QStringLiteral("it's\\"), true),
              QStringLiteral("SELECT TABLE_NAME, TABLE_TYPE FROM information_schema.TABLES WHERE TABLE_SCHEMA = 'it\\'s\\\\'"));
    EXPECT_EQ(CatalogColumnsStatement(QStringLiteral("it's\\"), false),
              QStringLiteral("SELECT TABLE_NAME, COLUMN_NAME, COLUMN_TYPE FROM information_schema.COLUMNS WHERE "
                             "TABLE_SCHEMA = 'it''s\\' ORDER BY TABLE_NAME, ORDINAL_POSITION"));
}

class CompletionLoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        admin = NewConnection();
        admin->Connect();
        for (const char* sql : {"DROP DATABASE IF EXISTS calvoro_cl", "DROP DATABASE IF EXISTS `calvoro_cl'2`",
                                "CREATE DATABASE calvoro_cl", "CREATE DATABASE `calvoro_cl'2`",
                                "CREATE TABLE calvoro_cl.orders (id INT PRIMARY KEY, customer_id INT, `order date` DATE)",
                                "CREATE TABLE calvoro_cl.`we``ird.name` (`ä` VARCHAR(5))",
                                "CREATE VIEW calvoro_cl.recent AS SELECT id FROM calvoro_cl.orders",
                                "CREATE TABLE `calvoro_cl'2`.daily (d DATE, n BIGINT)"})
            admin->ExecSQL(QString::fromUtf8(sql));
        tools = NewConnection(true, QStringLiteral("calvoro_cl"));
        tools->Connect();
    }
    void TearDown() override {
        admin->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS calvoro_cl"));
        admin->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS `calvoro_cl'2`"));
    }
    std::unique_ptr<dac::TMyConnection> admin, tools;
};

TEST_F(CompletionLoaderTest, ReadsDatabasesTablesViewsAndColumns) {
    TCompletionLoader loader;
    loader.Reload(*tools);
    ASSERT_TRUE(WaitLoaded(loader, {QStringLiteral("calvoro_cl")}));
    const TCompletionCatalog& catalog = loader.Catalog();
    EXPECT_EQ(catalog.CurrentDatabase(), QStringLiteral("calvoro_cl"));
    EXPECT_TRUE(catalog.Databases().contains(QStringLiteral("calvoro_cl")));
    EXPECT_TRUE(catalog.Databases().contains(QStringLiteral("calvoro_cl'2")));
    const TDatabaseCatalog* d = catalog.Database({});
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->ColumnsLoaded());
    EXPECT_EQ(Describe(*d), QStringLiteral("orders(id int(11), customer_id int(11), order date date)\n"
                                           "view recent(id int(11))\n"
                                           "we`ird.name(ä varchar(5))"));
    EXPECT_EQ(loader.Failure(QStringLiteral("calvoro_cl")), QString());

    // Another database when asked for, its name quoted in the statement.
    EXPECT_EQ(catalog.Database(QStringLiteral("calvoro_cl'2")), nullptr);
    loader.Request(QStringLiteral("calvoro_cl'2"));
    EXPECT_TRUE(loader.Loading(QStringLiteral("calvoro_cl'2")));
    ASSERT_TRUE(WaitLoaded(loader, {QStringLiteral("calvoro_cl'2")}));
    ASSERT_NE(catalog.Database(QStringLiteral("calvoro_cl'2")), nullptr);
    EXPECT_EQ(Describe(*catalog.Database(QStringLiteral("calvoro_cl'2"))), QStringLiteral("daily(d date, n bigint(20))"));

    // A reload reads what changed meanwhile.
    admin->ExecSQL(QStringLiteral("CREATE TABLE calvoro_cl.added (x INT)"));
    loader.Reload(*tools);
    EXPECT_EQ(catalog.Database({}), nullptr);
    ASSERT_TRUE(WaitLoaded(loader, {QStringLiteral("calvoro_cl")}));
    ASSERT_NE(catalog.Database({}), nullptr);
    EXPECT_NE(catalog.Database({})->Find(QStringLiteral("added")), nullptr);
    EXPECT_EQ(catalog.Database(QStringLiteral("calvoro_cl'2")), nullptr);  // forgotten until asked again
}

TEST_F(CompletionLoaderTest, AFailedLoginIsReportedPerDatabase) {
    auto wrong = NewConnection(true, QStringLiteral("calvoro_cl"));
    wrong->SetPassword(QStringLiteral("not the password"));
    TCompletionLoader loader;
    loader.Reload(*wrong);
    ASSERT_TRUE(WaitLoaded(loader, {QStringLiteral("calvoro_cl")}));
    EXPECT_EQ(loader.Catalog().Database({}), nullptr);
    EXPECT_TRUE(loader.Failure(QStringLiteral("calvoro_cl")).contains(QStringLiteral("Access denied")))
        << loader.Failure(QStringLiteral("calvoro_cl")).toStdString();
    // Not asked again until a reload; the reload with the right login reads the names.
    loader.Request(QStringLiteral("calvoro_cl"));
    EXPECT_FALSE(loader.Loading(QStringLiteral("calvoro_cl")));
    loader.Reload(*tools);
    ASSERT_TRUE(WaitLoaded(loader, {QStringLiteral("calvoro_cl")}));
    EXPECT_EQ(loader.Failure(QStringLiteral("calvoro_cl")), QString());
    ASSERT_NE(loader.Catalog().Database({}), nullptr);
}

}  // namespace
