// Backups read on several connections against the test server: the same file as on one
// connection (apart from the header's date), whatever the key ranges, the statement sizes
// and the rows waiting in temporary files; one snapshot while another session writes; one
// connection, with a notice, for an account that may not take the global read lock; a stop
// that ends every connection's work and leaves no temporary file.

#include "dump/MyDump.h"
#include "dump/ParallelBackup.h"

#include "common/Exceptions.h"

#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/support/MyTestConnection.h"
#include "support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace calvoro;
using namespace calvoro::dump;
using calvoro::test::ByteConnection;
using calvoro::test::FirstValue;
using calvoro::test::NewConnection;

namespace {

const QString Source = QStringLiteral("calvoro_pbk_src");
const QString Target = QStringLiteral("calvoro_pbk_dst");
const QString LimitedUser = QStringLiteral("calvoro_pbk_nolock");
const QString LimitedPassword = QStringLiteral("No-lock-1");

void Recreate(dac::TCustomMyConnection& c, const QString& db) {
    c.ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(db));
    c.ExecSQL(QStringLiteral("CREATE DATABASE `%1` CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci").arg(db));
}

// The script without its date line.
QByteArray Undated(QByteArray text) {
    static const QRegularExpression date(QStringLiteral("^-- Script date [^\r\n]*\r?\n"),
                                         QRegularExpression::MultilineOption);
    QString s = QString::fromLatin1(text);  // byte for byte
    s.remove(date);
    return s.toLatin1();
}

QByteArray ReadFile(const QString& name) {
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct TBackupRun {
    QByteArray Text;
    int Opened = 0;  // connections the factory gave
    QStringList Notices;
};

class ParallelBackupTest : public ::testing::Test {
protected:
    void SetUp() override { c = ByteConnection(); }
    void TearDown() override {
        for (const QString& db : {Source, Target}) c->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(db));
        c->ExecSQL(QStringLiteral("DROP USER IF EXISTS '%1'@'%'").arg(LimitedUser));
    }

    // The source's backup on `connections` connections into a file of the temporary folder.
    TBackupRun Backup(int connections, const std::function<void(TMyDump&)>& configure = {},
                      const std::function<std::unique_ptr<dac::TMyConnection>()>& connect = {}) {
        const auto open = connect ? connect : [] { return ByteConnection(Source); };
        auto from = open();
        TMyDump dump;
        dump.SetConnection(from.get());
        dump.SetObjects({doStoredProcs, doTables, doData, doViews, doTriggers});
        TBackupRun run;
        dump.SetBackupConnections(connections, [&]() -> std::unique_ptr<dac::TCustomMyConnection> {
            ++run.Opened;
            return open();
        });
        dump.OnNotice = [&](TMyDump*, const QString& text) { run.Notices << text; };
        if (configure) configure(dump);
        const QString file = Dir.filePath(QStringLiteral("backup.sql"));
        dump.BackupToFile(file);
        run.Text = ReadFile(file);
        return run;
    }

    std::unique_ptr<dac::TMyConnection> c;
    QTemporaryDir TempDir;
    QDir Dir{TempDir.path()};
};

}  // namespace

// Tables whose rows are read in key ranges (signed and unsigned keys to both ends of their
// types, gaps, a single row), a table whose cheapest read is a covering secondary index,
// MyISAM, no key, a generated column, an empty table, a view, a trigger and a routine: the
// files of one and of four connections are the same, for statement sizes that end statements
// inside and across ranges, with rows held in memory and in temporary files.
TEST_F(ParallelBackupTest, FourConnectionsWriteTheFileOfOne) {
    Recreate(*c, Source);
    c->SetDatabase(Source);
    for (const char* sql : {
             "CREATE TABLE big (id INT PRIMARY KEY, t TEXT, d DECIMAL(10,2), f FLOAT, b BLOB, KEY kd (d)) ENGINE=InnoDB",
             "INSERT INTO big SELECT CAST(seq AS SIGNED) * 3 - 4000, REPEAT(CHAR(65 + seq % 26), seq % 90), seq / 3, seq / 7, "
             "IF(seq % 5 = 0, NULL, UNHEX(SHA1(seq))) FROM seq_1_to_6000",
             "CREATE TABLE wide (id BIGINT UNSIGNED PRIMARY KEY, v VARCHAR(10)) ENGINE=InnoDB",
             "INSERT INTO wide VALUES (0, 'low'), (18446744073709551615, 'high'), (9223372036854775808, 'mid')",
             "INSERT INTO wide SELECT seq * 1000003, seq FROM seq_1_to_500",
             "CREATE TABLE neg (id BIGINT PRIMARY KEY, v INT) ENGINE=InnoDB",
             "INSERT INTO neg VALUES (-9223372036854775808, 1), (9223372036854775807, 2)",
             "INSERT INTO neg SELECT CAST(seq AS SIGNED) - 300, seq FROM seq_1_to_600",
             "CREATE TABLE one_row (id TINYINT PRIMARY KEY) ENGINE=InnoDB",
             "INSERT INTO one_row VALUES (-128)",
             "CREATE TABLE covered (id INT PRIMARY KEY, n VARCHAR(32), KEY kn (n)) ENGINE=InnoDB",
             "INSERT INTO covered SELECT seq, MD5(seq) FROM seq_1_to_1500",
             "CREATE TABLE m (id INT PRIMARY KEY, v TEXT) ENGINE=MyISAM",
             "INSERT INTO m SELECT seq, REPEAT('m', seq % 40) FROM seq_1_to_900",
             "CREATE TABLE nokey (a INT, b VARCHAR(5)) ENGINE=InnoDB",
             "INSERT INTO nokey SELECT seq % 7, seq FROM seq_1_to_700",
             "CREATE TABLE gen (id INT PRIMARY KEY, a INT, g INT AS (a * 2) VIRTUAL) ENGINE=InnoDB",
             "INSERT INTO gen (id, a) SELECT seq, seq FROM seq_1_to_800",
             "CREATE TABLE empty_one (id INT PRIMARY KEY) ENGINE=InnoDB",
             "CREATE VIEW vb AS SELECT id, d FROM big WHERE id < 100",
             "CREATE TRIGGER tb BEFORE INSERT ON big FOR EACH ROW SET NEW.d = NEW.d + 1",
             "CREATE FUNCTION twice(x INT) RETURNS INT DETERMINISTIC RETURN 2 * x",
             "ANALYZE TABLE big, wide, neg, covered, m, nokey, gen",
         })
        c->ExecSQL(QString::fromUtf8(sql));

    struct TCase {
        const char* Name;
        qint64 StatementSize;
        qint64 ReadAhead;
        bool Extended;
    };
    const TCase cases[] = {
        {"1 MiB statements, rows in memory", qint64(1) << 20, qint64(16) << 20, true},
        {"small statements, rows spooled", 4096, 8192, true},
        {"a statement per row, rows spooled", 4096, 4096, false},
    };
    for (const TCase& k : cases) {
        SCOPED_TRACE(k.Name);
        const auto configure = [&](TMyDump& dump) {
            dump.Options().StatementSize = k.StatementSize;
            dump.Options().TransactionSize = 30000;
            dump.Options().UseExtSyntax = k.Extended;
            dump.Options().RangeRows = 250;
            dump.Options().ReadAheadMemory = k.ReadAhead;
        };
        const TBackupRun one = Backup(1, configure);
        const TBackupRun four = Backup(4, configure);
        EXPECT_EQ(one.Opened, 0);
        EXPECT_EQ(four.Opened, 4);
        EXPECT_TRUE(four.Notices.isEmpty()) << four.Notices.join(u'\n').toStdString();
        ASSERT_GE(one.Text.count("\nINSERT INTO"), 8);  // every table of rows
        ASSERT_TRUE(one.Text.contains("(18446744073709551615, 'high')"));
        EXPECT_TRUE(Undated(one.Text) == Undated(four.Text));
        // No temporary file stays beside the output.
        EXPECT_EQ(Dir.entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("backup.sql")});
    }
}

// The reader alone: rows of ranges and tables come in order, and past the memory limit they
// wait in temporary files of the spool folder, which go with the reader.
TEST_F(ParallelBackupTest, RowsBeyondTheMemoryLimitWaitInTemporaryFilesThatGo) {
    Recreate(*c, Source);
    c->SetDatabase(Source);
    c->ExecSQL(QStringLiteral("CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(40)) ENGINE=InnoDB"));
    c->ExecSQL(QStringLiteral("INSERT INTO t SELECT seq, REPEAT('v', seq % 40) FROM seq_1_to_4000"));

    auto main = ByteConnection(Source);
    QString refusal;
    auto connections = OpenSnapshotConnections(*main->MySQLConnection(), 2, [] { return ByteConnection(Source); }, refusal);
    ASSERT_EQ(connections.size(), 2u) << refusal.toStdString();
    TParallelRowReader::TLimits limits;
    limits.Memory = 2048;
    limits.Head = 1024;
    limits.Piece = 512;
    QStringList spooled;
    QStringList rows;
    {
        TParallelRowReader reader(std::move(connections), Dir.path(), false, {}, limits);
        const int first = reader.Add(QStringLiteral("SELECT id, v FROM t WHERE id < 2000 ORDER BY id"), {});
        reader.Add(QStringLiteral("SELECT id, v FROM t WHERE id >= 2000 ORDER BY id"), {});
        reader.Add(QStringLiteral("SELECT 'x\\'y', NULL, 1.5e0"), {false, false, false});
        reader.Start();
        // The writer lags: the later chunks are read meanwhile, beyond the memory limit.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        for (int k = first; k < first + 3; ++k)
            reader.Read(k, [&](QByteArrayView literal) { rows << QString::fromUtf8(literal.toByteArray()); });
        spooled = reader.SpoolFiles();
        ASSERT_FALSE(spooled.isEmpty());
    }
    for (const QString& file : spooled) EXPECT_FALSE(QFile::exists(file)) << file.toStdString();
    ASSERT_EQ(rows.size(), 4001);
    for (int i = 0; i < 4000; ++i)
        ASSERT_EQ(rows[i], QStringLiteral("  (%1, '%2')").arg(i + 1).arg(QString(u'v').repeated((i + 1) % 40)));
    EXPECT_EQ(rows.back(), QStringLiteral("  ('x\\'y', NULL, 1.5)"));
}

// Another session moves rows while the backup reads ranges of the table on four connections:
// each of its transactions deletes the table's lowest id, adds one above the highest and
// logs it. Restored, the table holds as many rows as ever and the log as many entries as
// ids were added: every range and table was read in the same snapshot.
TEST_F(ParallelBackupTest, ReadsOneSnapshotWhileAnotherSessionWrites) {
    Recreate(*c, Source);
    c->SetDatabase(Source);
    constexpr int kRows = 8000;
    c->ExecSQL(QStringLiteral("CREATE TABLE moving (id INT PRIMARY KEY, v VARCHAR(60)) ENGINE=InnoDB"));
    c->ExecSQL(QStringLiteral("INSERT INTO moving SELECT seq, REPEAT('w', 60) FROM seq_1_to_%1").arg(kRows));
    c->ExecSQL(QStringLiteral("CREATE TABLE zlog (n INT AUTO_INCREMENT PRIMARY KEY, added INT) ENGINE=InnoDB"));
    c->ExecSQL(QStringLiteral("ANALYZE TABLE moving"));

    std::atomic<bool> done = false;
    std::atomic<int> moved = 0;
    std::thread writer([&] {
        auto w = ByteConnection(Source);
        while (!done) {
            w->ExecSQL(QStringLiteral("START TRANSACTION"));
            w->ExecSQL(QStringLiteral("DELETE FROM moving ORDER BY id LIMIT 1"));
            w->ExecSQL(QStringLiteral("INSERT INTO moving SELECT MAX(id) + 1, 'new' FROM moving"));
            w->ExecSQL(QStringLiteral("INSERT INTO zlog (added) SELECT MAX(id) FROM moving"));
            w->ExecSQL(QStringLiteral("COMMIT"));
            ++moved;
        }
    });
    while (moved < 5) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    TBackupRun run;
    {
        struct TJoin {
            std::atomic<bool>& Done;
            std::thread& Thread;
            ~TJoin() {
                Done = true;
                Thread.join();
            }
        } join{done, writer};
        const int before = moved;
        run = Backup(4, [](TMyDump& dump) {
            dump.Options().RangeRows = 500;
            dump.Options().StatementSize = 4096;
            // Slow enough for the writer to commit between the ranges.
            dump.OnBackupProgress = [](TDADump*, const QString&, int, int, int) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            };
        });
        ASSERT_GT(moved - before, 10) << "the writer did not run during the backup";
    }
    EXPECT_EQ(run.Opened, 4);

    Recreate(*c, Target);
    auto to = ByteConnection(Target);
    TMyDump restore;
    restore.SetConnection(to.get());
    QFile file(Dir.filePath(QStringLiteral("backup.sql")));
    restore.RestoreFromFile(file.fileName());
    ASSERT_EQ(restore.FailedStatements(), 0);
    c->SetDatabase(Target);
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT COUNT(*) FROM moving")), QString::number(kRows));
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT COUNT(*) FROM zlog")),
              FirstValue(*c, QStringLiteral("SELECT MAX(id) - %1 FROM moving").arg(kRows)));
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT MIN(id) - 1 FROM moving")),
              FirstValue(*c, QStringLiteral("SELECT COUNT(*) FROM zlog")));
}

// An account without RELOAD may not take the global read lock: the backup runs on its one
// connection, says so, and writes the file one connection writes.
TEST_F(ParallelBackupTest, AnAccountWithoutTheLockPrivilegeFallsBackToOneConnection) {
    Recreate(*c, Source);
    c->SetDatabase(Source);
    c->ExecSQL(QStringLiteral("CREATE TABLE t (id INT PRIMARY KEY, v INT) ENGINE=InnoDB"));
    c->ExecSQL(QStringLiteral("INSERT INTO t SELECT seq, seq FROM seq_1_to_3000"));
    c->ExecSQL(QStringLiteral("DROP USER IF EXISTS '%1'@'%'").arg(LimitedUser));
    c->ExecSQL(QStringLiteral("CREATE USER '%1'@'%' IDENTIFIED BY '%2'").arg(LimitedUser, LimitedPassword));
    c->ExecSQL(QStringLiteral("GRANT SELECT, SHOW VIEW, LOCK TABLES, TRIGGER ON `%1`.* TO '%2'@'%'").arg(Source, LimitedUser));
    const auto limited = [] {
        auto l = ByteConnection();
        l->Disconnect();
        l->SetUsername(LimitedUser);
        l->SetPassword(LimitedPassword);
        l->SetDatabase(Source);
        l->Connect();
        return l;
    };
    const auto configure = [](TMyDump& dump) {
        dump.SetObjects({doTables, doData});
        dump.Options().RangeRows = 400;
    };
    const TBackupRun one = Backup(1, configure, limited);
    const TBackupRun four = Backup(4, configure, limited);
    ASSERT_EQ(four.Notices.size(), 1);
    EXPECT_TRUE(four.Notices[0].contains(QStringLiteral("one connection")));
    EXPECT_TRUE(four.Notices[0].contains(QStringLiteral("RELOAD")));
    EXPECT_TRUE(one.Notices.isEmpty());
    ASSERT_TRUE(one.Text.contains("(3000, 3000);"));
    EXPECT_TRUE(Undated(one.Text) == Undated(four.Text));
}

// A stop while four connections read ends the backup with EAbort: every reading connection's
// session ends, the file is not written and no temporary file stays.
TEST_F(ParallelBackupTest, StopEndsEveryConnectionsWork) {
    Recreate(*c, Source);
    c->SetDatabase(Source);
    c->ExecSQL(QStringLiteral("CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(200)) ENGINE=InnoDB"));
    c->ExecSQL(QStringLiteral("INSERT INTO t SELECT seq, REPEAT('s', 200) FROM seq_1_to_20000"));
    c->ExecSQL(QStringLiteral("ANALYZE TABLE t"));
    const QString before = FirstValue(*c, QStringLiteral("SELECT COUNT(*) FROM information_schema.PROCESSLIST")).value_or(QString());
    EXPECT_THROW(Backup(4,
                        [](TMyDump& dump) {
                            dump.Options().RangeRows = 1000;
                            dump.Options().ReadAheadMemory = 64 * 1024;
                            dump.OnBackupProgress = [&dump](TDADump*, const QString&, int, int, int percent) {
                                if (percent >= 10) dump.RequestStop();
                            };
                        }),
                 EAbort);
    EXPECT_EQ(Dir.entryList(QDir::Files | QDir::Hidden), QStringList{});
    // The readers' sessions end as their connections close.
    QString after;
    for (int i = 0; i < 100; ++i) {
        after = FirstValue(*c, QStringLiteral("SELECT COUNT(*) FROM information_schema.PROCESSLIST")).value_or(QString());
        if (after == before) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(after, before);
}
