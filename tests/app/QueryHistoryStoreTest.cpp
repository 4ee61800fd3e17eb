// The lasting query history: passwords masked before anything is kept, the entries found by
// text, database and failure, the cap, and what a second opening of the same file finds.
#include "app/editor/QueryHistoryStore.h"
#include "support/QtPrinters.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace calvoro;
using namespace calvoro::app;

namespace {

TEST(QueryHistory, PasswordLiteralsAreMasked) {
    struct Case {
        const char* sql;
        const char* kept;
    } cases[] = {
        {"SET PASSWORD = 'secret'", "SET PASSWORD = '***'"},
        {"SET PASSWORD = PASSWORD('secret')", "SET PASSWORD = PASSWORD('***')"},
        {"set password for 'bob'@'%' = 'secret'", "set password for 'bob'@'%' = '***'"},
        {"SET PASSWORD FOR bob@localhost = OLD_PASSWORD(\"secret\")",
         "SET PASSWORD FOR bob@localhost = OLD_PASSWORD('***')"},
        {"CREATE USER 'bob'@'%' IDENTIFIED BY 'it''s \\' secret'", "CREATE USER 'bob'@'%' IDENTIFIED BY '***'"},
        {"CREATE USER IF NOT EXISTS bob IDENTIFIED BY PASSWORD '*A4B6157319038724E3560894F7F932C8886EBFCF'",
         "CREATE USER IF NOT EXISTS bob IDENTIFIED BY PASSWORD '***'"},
        {"ALTER USER bob@'h' IDENTIFIED /* how */ BY\n  'secret', 'x'@'y' IDENTIFIED BY 'other'",
         "ALTER USER bob@'h' IDENTIFIED /* how */ BY\n  '***', 'x'@'y' IDENTIFIED BY '***'"},
        {"ALTER USER bob IDENTIFIED VIA ed25519 USING PASSWORD('secret')",
         "ALTER USER bob IDENTIFIED VIA ed25519 USING PASSWORD('***')"},
        {"CREATE USER bob IDENTIFIED WITH mysql_native_password AS 'hash' OR unix_socket",
         "CREATE USER bob IDENTIFIED WITH mysql_native_password AS '***' OR unix_socket"},
        {"GRANT SELECT ON db.* TO 'bob'@'%' IDENTIFIED BY 'secret' WITH GRANT OPTION",
         "GRANT SELECT ON db.* TO 'bob'@'%' IDENTIFIED BY '***' WITH GRANT OPTION"},
        {"CHANGE MASTER TO MASTER_HOST = 'h', MASTER_PASSWORD = 'secret'",
         "CHANGE MASTER TO MASTER_HOST = 'h', MASTER_PASSWORD = '***'"},
        {"SELECT 1; CREATE USER u IDENTIFIED BY 'p1';\nSELECT 'by', 'p2' AS x",
         "SELECT 1; CREATE USER u IDENTIFIED BY '***';\nSELECT 'by', 'p2' AS x"},
        // A column named password is masked too: better a literal lost than a password kept.
        {"UPDATE users SET password = 'not a server password'", "UPDATE users SET password = '***'"},
        // Nothing to mask: literals that set no password stay.
        {"SELECT * FROM t WHERE name = 'IDENTIFIED BY x' ORDER BY 'a'", "SELECT * FROM t WHERE name = 'IDENTIFIED BY x' ORDER BY 'a'"},
        {"-- IDENTIFIED BY 'note'\nSELECT 'kept'", "-- IDENTIFIED BY 'note'\nSELECT 'kept'"},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.sql);
        EXPECT_EQ(MaskPasswords(QString::fromUtf8(tc.sql)), QString::fromUtf8(tc.kept));
    }
}

THistoryEntry Entry(const char* text, const char* db, bool success, qint64 ms = 5) {
    THistoryEntry e;
    e.Text = QString::fromUtf8(text);
    e.Server = QStringLiteral("127.0.0.1:3306");
    e.User = QStringLiteral("tester");
    e.Database = QString::fromUtf8(db);
    e.Started = QDateTime(QDate(2026, 12, 11), QTime(8, 30, 0, 125), Qt::UTC);
    e.DurationMs = ms;
    e.RowCounts = QStringLiteral("3, 1");
    e.Success = success;
    return e;
}

QStringList Texts(const QList<THistoryEntry>& entries) {
    QStringList texts;
    for (const THistoryEntry& e : entries) texts << e.Text;
    return texts;
}

TEST(QueryHistory, EntriesAreFoundByTextDatabaseAndFailure) {
    QTemporaryDir dir;
    {
        TQueryHistoryStore store(dir.path());
        ASSERT_TRUE(store.IsOpen()) << store.ErrorText().toStdString();
        store.Add(Entry("SELECT * FROM orders", "shop", true, 42));
        store.Add(Entry("SELECT nope FROM orders", "shop", false));
        store.Add(Entry("UPDATE stock SET n = 1", "depot", true));
        store.Add(Entry("SELECT 100% _x", "depot", true));
        store.Add(Entry("CREATE USER u IDENTIFIED BY 'pw-secret'", "", true));
        store.Add(Entry("SELECT * FROM orders", "shop", true));
    }
    // A second opening of the file finds what the first kept.
    TQueryHistoryStore store(dir.path());
    ASSERT_TRUE(store.IsOpen());
    // The filter with its defaults but for what a case names.
    const auto filter = [](QString text, QString database = {}, bool failedOnly = false, int limit = 1000) {
        THistoryFilter f;
        f.Text = std::move(text);
        f.Database = std::move(database);
        f.FailedOnly = failedOnly;
        f.Limit = limit;
        return f;
    };
    struct Case {
        const char* what;
        THistoryFilter filter;
        QStringList texts;  // newest first
    } cases[] = {
        {"all", {}, {"SELECT * FROM orders", "CREATE USER u IDENTIFIED BY '***'", "SELECT 100% _x",
                     "UPDATE stock SET n = 1", "SELECT nope FROM orders", "SELECT * FROM orders"}},
        {"by text, any case", filter(QStringLiteral("from ORDERS")), {"SELECT * FROM orders", "SELECT nope FROM orders", "SELECT * FROM orders"}},
        {"% and _ are plain characters", filter(QStringLiteral("% _")), {"SELECT 100% _x"}},
        {"by database", filter({}, QStringLiteral("depot")), {"SELECT 100% _x", "UPDATE stock SET n = 1"}},
        {"failed only", filter({}, {}, true), {"SELECT nope FROM orders"}},
        {"text and database", filter(QStringLiteral("select"), QStringLiteral("shop")),
         {"SELECT * FROM orders", "SELECT nope FROM orders", "SELECT * FROM orders"}},
        {"the newest two", filter({}, {}, false, 2), {"SELECT * FROM orders", "CREATE USER u IDENTIFIED BY '***'"}},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.what);
        EXPECT_EQ(Texts(store.Find(tc.filter)), tc.texts);
    }
    const QList<THistoryEntry> first = store.Find(filter(QStringLiteral("UPDATE")));
    ASSERT_EQ(first.size(), 1);
    const THistoryEntry expected = Entry("UPDATE stock SET n = 1", "depot", true);
    EXPECT_EQ(first[0].Server, expected.Server);
    EXPECT_EQ(first[0].User, expected.User);
    EXPECT_EQ(first[0].Started, expected.Started);
    EXPECT_EQ(first[0].DurationMs, 5);
    EXPECT_EQ(first[0].RowCounts, expected.RowCounts);
    EXPECT_TRUE(first[0].Success);
    EXPECT_EQ(store.Databases(), QStringList({QStringLiteral("depot"), QStringLiteral("shop")}));
    // Previous and Next: successful texts once each, newest last.
    EXPECT_EQ(store.SuccessfulTexts(), QStringList({QStringLiteral("UPDATE stock SET n = 1"), QStringLiteral("SELECT 100% _x"),
                                                    QStringLiteral("CREATE USER u IDENTIFIED BY '***'"),
                                                    QStringLiteral("SELECT * FROM orders")}));
    // The password is nowhere in the file.
    QFile file(store.FileName());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_FALSE(file.readAll().contains("pw-secret"));
}

TEST(QueryHistory, TheOldestGoBeyondTheCap) {
    QTemporaryDir dir;
    TQueryHistoryStore byCount(dir.filePath(QStringLiteral("a")), 3);
    for (const char* text : {"SELECT 1", "SELECT 2", "SELECT 3", "SELECT 4", "SELECT 5"}) byCount.Add(Entry(text, "", true));
    EXPECT_EQ(Texts(byCount.Find({})), QStringList({QStringLiteral("SELECT 5"), QStringLiteral("SELECT 4"), QStringLiteral("SELECT 3")}));
    // 20 characters: two texts of 8 fit, a third does not; a text longer than the cap is not kept.
    TQueryHistoryStore bySize(dir.filePath(QStringLiteral("b")), 100, 20);
    for (const char* text : {"SELECT 1", "SELECT 2", "SELECT 3", "SELECT 'far too long a text'"}) bySize.Add(Entry(text, "", true));
    EXPECT_EQ(Texts(bySize.Find({})), QStringList({QStringLiteral("SELECT 3"), QStringLiteral("SELECT 2")}));
}

TEST(QueryHistory, TheEditorTextIsKeptAndAnUnusableFolderIsSaid) {
    QTemporaryDir dir;
    {
        TQueryHistoryStore store(dir.path());
        EXPECT_EQ(store.KeptEditorText(), QString());
        store.KeepEditorText(QStringLiteral("SELECT 1;\nSELECT 'caf\u00e9'"));
        store.KeepEditorText(QStringLiteral("SELECT 2;\nALTER USER x IDENTIFIED BY 'pw'"));
    }
    EXPECT_EQ(TQueryHistoryStore(dir.path()).KeptEditorText(), QStringLiteral("SELECT 2;\nALTER USER x IDENTIFIED BY '***'"));
    // A file where the folder should be: no history, a reason, and nothing raised.
    QFile blocker(dir.filePath(QStringLiteral("file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    TQueryHistoryStore unusable(dir.filePath(QStringLiteral("file/sub")));
    EXPECT_FALSE(unusable.IsOpen());
    EXPECT_TRUE(unusable.ErrorText().contains(QStringLiteral("file/sub"))) << unusable.ErrorText().toStdString();
    unusable.Add(Entry("SELECT 1", "", true));
    EXPECT_TRUE(unusable.Find({}).isEmpty());
}

}  // namespace
