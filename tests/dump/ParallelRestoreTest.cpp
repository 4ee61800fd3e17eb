// Restores on several connections against the test server: the same database as on one
// connection, for our backups and mariadb-dump's; failures by their line, once, with the rest
// going on or stopping; the session's settings on every connection; a hand-written script in
// its order; a stop that ends every connection's work.

#include "dump/MyDump.h"

#include "common/Exceptions.h"

#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/support/DatabaseFingerprint.h"
#include "dataaccess/support/MyTestConnection.h"
#include "support/MariadbClient.h"
#include "support/QtPrinters.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <thread>

using namespace calvoro;
using namespace calvoro::dump;
using calvoro::test::ByteConnection;
using calvoro::test::Fingerprint;
using calvoro::test::RowsText;
using calvoro::test::RunMariadbTool;

namespace {

const QString Source = QStringLiteral("calvoro_par_src");
const QString Target = QStringLiteral("calvoro_par_dst");

void Recreate(dac::TCustomMyConnection& c, const QString& db) {
    c.ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(db));
    c.ExecSQL(QStringLiteral("CREATE DATABASE `%1` CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci").arg(db));
}

struct TRestored {
    QStringList Failures;  // "line N: <error>"
    int Statements = 0;
    int Failed = 0;
    std::vector<int> Progress;
};

class ParallelRestoreTest : public ::testing::Test {
protected:
    void SetUp() override { c = ByteConnection(); }
    void TearDown() override {
        for (const QString& db : {Source, Target}) c->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(db));
    }

    // The script restored into a new target database on `connections` connections, by a
    // session whose sql_mode and time zone would change what the script means.
    TRestored Restore(const QByteArray& script, int connections, bool stopOnError = false,
                      const std::function<void(TMyDump&)>& configure = {}) {
        Recreate(*c, Target);
        auto to = ByteConnection(Target);
        to->ExecSQL(QStringLiteral("SET SESSION sql_mode = 'STRICT_ALL_TABLES', time_zone = '-09:00'"));
        TMyDump dump;
        dump.SetConnection(to.get());
        dump.SetRestoreConnections(connections, [] { return std::unique_ptr<dac::TCustomMyConnection>(ByteConnection(Target)); });
        TRestored r;
        dump.OnRestoreError = [&](TDADump*, const script::TStatementPlace& place, const std::exception& e,
                                  const QString&, script::TErrorAction& a) {
            const auto* error = dynamic_cast<const Exception*>(&e);
            r.Failures << QStringLiteral("line %1: %2").arg(place.WordLine + 1).arg(error ? error->Message() : QString());
            a = stopOnError ? script::eaAbort : script::eaContinue;
        };
        dump.OnRestoreProgress = [&](TDADump*, int percent) { r.Progress.push_back(percent); };
        dump.SetRestoreStopsAtFailure(stopOnError);
        if (configure) configure(dump);
        QBuffer buffer;
        buffer.setData(script);
        buffer.open(QIODevice::ReadOnly);
        dump.RestoreFromStream(&buffer);
        r.Statements = dump.RestoredStatements();
        r.Failed = dump.FailedStatements();
        return r;
    }

    QByteArray ReadFile(const QString& name) {
        QFile f(name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    std::unique_ptr<dac::TMyConnection> c;
    QTemporaryDir TempDir;
    QDir Dir{TempDir.path()};
};

// 1-based line numbers of the lines that start with `prefix`.
std::vector<int> LinesStartingWith(const QByteArray& text, const QByteArray& prefix) {
    std::vector<int> lines;
    const QList<QByteArray> all = text.split('\n');
    for (int i = 0; i < all.size(); ++i)
        if (all[i].startsWith(prefix)) lines.push_back(i + 1);
    return lines;
}

}  // namespace

// Tables of either engine, with keys switched off around their rows, small statements and
// transactions (many of each), a view, a trigger and a routine: restored on one and on four
// connections, from our backup and from mariadb-dump's, the database is the source's.
TEST_F(ParallelRestoreTest, OneAndFourConnectionsGiveTheSameDatabase) {
    Recreate(*c, Source);
    c->SetDatabase(Source);
    for (const char* sql : {
             "CREATE TABLE a (id INT PRIMARY KEY, t TEXT, d DECIMAL(10,2), ts TIMESTAMP NULL, KEY kd (d)) ENGINE=InnoDB",
             "INSERT INTO a SELECT seq, REPEAT(CHAR(65 + seq % 26), seq % 90), seq / 3, "
             "FROM_UNIXTIME(1600000000 + seq * 3600) FROM seq_1_to_3000",
             "CREATE TABLE b (id INT AUTO_INCREMENT PRIMARY KEY, v VARBINARY(20), KEY kv (v)) ENGINE=MyISAM",
             "INSERT INTO b (v) SELECT UNHEX(SHA1(seq)) FROM seq_1_to_2000",
             "SET SESSION sql_mode = 'NO_AUTO_VALUE_ON_ZERO'",
             "INSERT INTO b VALUES (0, 'zero')",
             "CREATE TABLE empty_one (id INT)",
             "CREATE TABLE log_a (id INT AUTO_INCREMENT PRIMARY KEY, a_id INT)",
             "CREATE TRIGGER ta AFTER INSERT ON a FOR EACH ROW INSERT INTO log_a (a_id) VALUES (NEW.id)",
             "CREATE VIEW va AS SELECT a.id, b.v FROM a JOIN b ON a.id = b.id",
             "CREATE FUNCTION twice(x INT) RETURNS INT DETERMINISTIC RETURN 2 * x",
         })
        c->ExecSQL(QString::fromUtf8(sql));
    const QString expected = Fingerprint(*c, Source);

    auto from = ByteConnection(Source);
    TMyDump dump;
    dump.SetConnection(from.get());
    dump.SetObjects({doStoredProcs, doTables, doData, doViews, doTriggers});
    dump.Options().DisableKeys = true;
    dump.Options().StatementSize = 4096;
    dump.Options().TransactionSize = 20000;
    const QString ours = Dir.filePath(QStringLiteral("ours.sql"));
    dump.BackupToFile(ours);
    const QByteArray oursText = ReadFile(ours);
    ASSERT_GT(oursText.count("\nINSERT INTO"), 30);
    ASSERT_TRUE(oursText.contains("SET autocommit=0;"));

    // On a thread of its own, ended before the restores: Qt starts the process with vfork,
    // whose child leaves ThreadSanitizer blind to the starting thread's later locks.
    calvoro::test::TToolResult peer;
    std::thread dumper([&] {
        peer = RunMariadbTool(QStringLiteral("mariadb-dump"),
                              {QStringLiteral("--routines"), QStringLiteral("--net-buffer-length=8192"), Source});
    });
    dumper.join();
    ASSERT_EQ(peer.Status, 0) << peer.Err.toStdString();
    ASSERT_GT(peer.Out.count("\nINSERT INTO"), 10);

    for (const auto& [what, file] : {std::pair{"ours", oursText}, std::pair{"mariadb-dump's", peer.Out}}) {
        int statements = -1;
        for (const int connections : {1, 4}) {
            SCOPED_TRACE(QStringLiteral("%1 file on %2 connections").arg(QLatin1StringView(what)).arg(connections).toStdString());
            const TRestored r = Restore(file, connections);
            EXPECT_EQ(r.Failures, QStringList());
            EXPECT_EQ(r.Failed, 0);
            EXPECT_EQ(Fingerprint(*c, Target), expected);
            // The same statements taken, whether run here or elsewhere or only taken.
            if (statements < 0) statements = r.Statements;
            EXPECT_EQ(r.Statements, statements);
            ASSERT_FALSE(r.Progress.empty());
            EXPECT_TRUE(std::is_sorted(r.Progress.begin(), r.Progress.end()));
            EXPECT_EQ(r.Progress.back(), 100);
        }
    }
}

// A NULL id in the middle of a table's rows fails that statement alone: reported once by
// its line, the other rows and the next table restored; with a stop on errors nothing after
// the failing table's rows starts.
TEST_F(ParallelRestoreTest, AFailureInTheRowsIsReportedOnceByItsLine) {
    QByteArray script = "/*!40101 SET NAMES utf8mb4 */;\nCREATE TABLE a (id INT PRIMARY KEY);\nLOCK TABLES `a` WRITE;\n";
    for (int s = 0; s < 30; ++s) {
        script += "INSERT INTO `a` VALUES ";
        // Statement 25 holds an id NULL: it fails whatever ran before it.
        for (int i = 0; i < 50; ++i)
            script += (i ? ",(" : "(") + (s == 25 && i == 7 ? QByteArray("NULL") : QByteArray::number(s * 50 + i)) + ")";
        script += ";\n";
    }
    script += "UNLOCK TABLES;\nCREATE TABLE b (id INT);\nINSERT INTO b VALUES (1),(2);\n";
    const int failingLine = LinesStartingWith(script, "INSERT INTO `a`")[25];

    for (const int connections : {1, 4}) {
        SCOPED_TRACE(connections);
        TRestored r = Restore(script, connections);
        ASSERT_EQ(r.Failures.size(), 1) << r.Failures.join(u'\n').toStdString();
        EXPECT_TRUE(r.Failures[0].startsWith(QStringLiteral("line %1: ").arg(failingLine))) << r.Failures[0].toStdString();
        EXPECT_TRUE(r.Failures[0].contains(QStringLiteral("Column 'id' cannot be null"))) << r.Failures[0].toStdString();
        EXPECT_EQ(r.Failed, 1);
        EXPECT_EQ(r.Statements, 36);
        EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT COUNT(*) FROM `%1`.a").arg(Target)), QStringLiteral("1450"));
        EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT COUNT(*) FROM `%1`.b").arg(Target)), QStringLiteral("2"));

        r = Restore(script, connections, true);
        ASSERT_EQ(r.Failures.size(), 1) << r.Failures.join(u'\n').toStdString();
        EXPECT_TRUE(r.Failures[0].startsWith(QStringLiteral("line %1: ").arg(failingLine)));
        EXPECT_LT(r.Statements, 36);
        EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_SCHEMA = '%1' "
                                              "AND TABLE_NAME = 'b'")
                                   .arg(Target)),
                  QStringLiteral("0"));
    }
}

// A row of the script's own after the table's locked section runs after the section's rows,
// however long the last of them takes: it is the one that fails.
TEST_F(ParallelRestoreTest, ARowAfterTheSectionRunsAfterIt) {
    QByteArray script = "CREATE TABLE a (id INT PRIMARY KEY, v INT);\nLOCK TABLES `a` WRITE;\n"
                        "INSERT INTO `a` VALUES (2,0);\nINSERT INTO `a` VALUES ";
    for (int id = 20000; id > 0; id -= 2) script += "(" + QByteArray::number(id + 1) + ",0),";
    script += "(1,0);\nUNLOCK TABLES;\nINSERT INTO `a` VALUES (1,9);\n";
    const int lastLine = int(script.count('\n'));
    for (const int connections : {1, 4}) {
        SCOPED_TRACE(connections);
        const TRestored r = Restore(script, connections);
        ASSERT_EQ(r.Failures.size(), 1) << r.Failures.join(u'\n').toStdString();
        EXPECT_TRUE(r.Failures[0].startsWith(QStringLiteral("line %1: ").arg(lastLine))) << r.Failures[0].toStdString();
        EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT v FROM `%1`.a WHERE id = 1").arg(Target)), QStringLiteral("0"));
    }
}

// The script's sql_mode and time zone reach the statements the other connections run: an id
// 0 stays 0, a TIMESTAMP is read in the script's zone.
TEST_F(ParallelRestoreTest, SessionSettingsReachEveryConnection) {
    QByteArray script = "SET SQL_MODE='NO_AUTO_VALUE_ON_ZERO';\n/*!40103 SET TIME_ZONE='+05:00' */;\n"
                        "CREATE TABLE z (id INT AUTO_INCREMENT PRIMARY KEY, ts TIMESTAMP NULL, n INT);\n";
    for (int s = 0; s < 40; ++s) {
        script += "INSERT INTO z VALUES ";
        for (int i = 0; i < 5; ++i) {
            const int id = s == 25 && i == 2 ? 0 : 1000 + s * 5 + i;
            script += (i ? "," : "") + QStringLiteral("(%1,'2020-01-01 12:00:00',%2)").arg(id).arg(s).toLatin1();
        }
        script += ";\n";
    }
    for (const int connections : {1, 4}) {
        SCOPED_TRACE(connections);
        const TRestored r = Restore(script, connections);
        EXPECT_EQ(r.Failures, QStringList());
        EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT COUNT(*), SUM(id = 0), SUM(UNIX_TIMESTAMP(ts) = 1577862000) FROM "
                                              "`%1`.z")
                                   .arg(Target)),
                  QStringLiteral("200,1,200"));
    }
}

// A script of its own: user variables set and read in turn, rows of literals between them and
// statements that read the rows before them; everything in the script's order.
TEST_F(ParallelRestoreTest, AHandWrittenScriptRunsInOrder) {
    // Rows of literals that take a while, the rows the later statements read at their end.
    QByteArray many = "INSERT INTO h VALUES ";
    for (int id = 1000; id < 6000; ++id) many += "(" + QByteArray::number(id) + ", 1),";
    many += "(3, 7), (5, 1);\n";
    const QByteArray script =
        "CREATE TABLE h (id INT PRIMARY KEY, v INT);\n" + many +
        "INSERT INTO h VALUES (6, 1);\n"
        "SET @x = 10;\n"
        "INSERT INTO h VALUES (1, @x);\n"
        "SET @x = @x + 5;\n"
        "INSERT INTO h VALUES (2, @x);\n"
        "UPDATE h SET v = v * 2 WHERE id = 3;\n"
        "INSERT INTO h SELECT 4, v + 1 FROM h WHERE id = 3;\n"
        "INSERT INTO h VALUES (7, 0);\n"
        "DELETE FROM h WHERE id = 7;\n"
        "SET @n = (SELECT COUNT(*) FROM h);\n"
        "INSERT INTO h VALUES (8, @n);\n";
    for (const int connections : {1, 4}) {
        SCOPED_TRACE(connections);
        const TRestored r = Restore(script, connections);
        EXPECT_EQ(r.Failures, QStringList());
        EXPECT_EQ(r.Statements, 13);
        EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT id, v FROM `%1`.h WHERE id < 1000 ORDER BY id").arg(Target)),
                  QStringLiteral("1,10|2,15|3,14|4,15|5,1|6,1|8,5006"));
    }
}

// Stop during the rows: the restore returns, no statement after the stop starts on any
// connection, and what ran is counted.
TEST_F(ParallelRestoreTest, AStopEndsEveryConnectionsWork) {
    QByteArray script = "CREATE TABLE s (id INT PRIMARY KEY, pad TEXT);\n";
    for (int s = 0; s < 200; ++s) {
        script += "INSERT INTO s VALUES ";
        for (int i = 0; i < 20; ++i)
            script += (i ? ",(" : "(") + QByteArray::number(s * 20 + i) + ",'" + QByteArray(2000, 'p') + "')";
        script += ";\n";
    }
    script += "CREATE TABLE after_stop (id INT);\n";
    for (const bool breakExec : {false, true}) {
        SCOPED_TRACE(breakExec ? "BreakExec" : "RequestStop");
        int reports = 0;
        const TRestored r = Restore(script, 4, false, [&](TMyDump& dump) {
            dump.OnRestoreProgress = [&, d = &dump](TDADump*, int) {
                if (++reports == 20) breakExec ? d->BreakExec() : d->RequestStop();
            };
        });
        EXPECT_EQ(r.Failed, 0) << r.Failures.join(u'\n').toStdString();
        EXPECT_GE(r.Statements, 1);
        EXPECT_LT(r.Statements, 150);
        // Every statement counted ran whole; after a request to stop no other, after a break
        // also those of the four connections the server ended before their end was read.
        const int rows = RowsText(*c, QStringLiteral("SELECT COUNT(*) FROM `%1`.s").arg(Target)).toInt();
        EXPECT_GE(rows, (r.Statements - 1) * 20);
        EXPECT_LE(rows, (r.Statements - 1 + (breakExec ? 4 : 0)) * 20);
        // Nothing runs after the restore returned.
        QThread::msleep(200);
        EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT COUNT(*) FROM `%1`.s").arg(Target)).toInt(), rows);
        EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_SCHEMA = '%1' "
                                              "AND TABLE_NAME = 'after_stop'")
                                   .arg(Target)),
                  QStringLiteral("0"));
    }
}
