// Backups and restores against the test server: a database of edge cases and the Sakila
// sample restore to the same tables, rows, views, routines and triggers; the files are valid
// for the mariadb client too, and ours restores what mariadb-dump writes as the client does;
// the script's shape for the options; failures of a backup and of a restore.

#include "dump/MyDump.h"

#include "common/ScopeGuard.h"
#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/support/DatabaseFingerprint.h"
#include "dataaccess/support/MyTestConnection.h"
#include "support/MariadbClient.h"
#include "support/QtPrinters.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QStringConverter>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace calvoro;
using namespace calvoro::dump;
using calvoro::test::AllRows;
using calvoro::test::Fingerprint;
using calvoro::test::FirstValue;
using calvoro::test::ByteConnection;
using calvoro::test::NewConnection;
using calvoro::test::RowsText;
using calvoro::test::RunMariadbTool;

namespace {

const QString Fixtures = QStringLiteral(CALVORO_FIXTURES);
const QString Source = QStringLiteral("calvoro_dump_src");
const QString Target = QStringLiteral("calvoro_dump_dst");

void Recreate(dac::TCustomMyConnection& c, const QString& db) {
    c.ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(db));
    c.ExecSQL(QStringLiteral("CREATE DATABASE `%1` CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci").arg(db));
}

// Every statement of a script, run on the connection's session.
void RunAll(dac::TCustomMyConnection& c, const QStringList& statements) {
    for (const QString& sql : statements) c.ExecSQL(sql);
}

// Builds the database of edge cases: every column type with edge values, names that need
// quotes and reserved words, generated and invisible columns, a MyISAM table, views over views
// listed before what they read, routines (one ending in a comment, one written under
// NO_BACKSLASH_ESCAPES, a procedure and a function of one name), triggers with odd names, a
// 20 MB BLOB, an empty table, an AUTO_INCREMENT id 0 and two TIMESTAMPs of a daylight-saving
// change-back hour.
void BuildEdgeDatabase(dac::TCustomMyConnection& c) {
    Recreate(c, Source);
    c.SetDatabase(Source);
    QByteArray allBytes;
    for (int i = 0; i < 256; ++i) allBytes += char(i);
    RunAll(c, {
        QStringLiteral("SET SESSION sql_mode = 'NO_AUTO_VALUE_ON_ZERO', time_zone = '+00:00'"),
        QStringLiteral(
            "CREATE TABLE types (id INT AUTO_INCREMENT PRIMARY KEY, dec65 DECIMAL(65,30), d DATE, dt DATETIME(6), "
            "ts TIMESTAMP(6) NULL DEFAULT NULL, tm TIME(6), y YEAR, bu BIGINT UNSIGNED, bi BIGINT, f FLOAT, "
            "db DOUBLE, b4 BINARY(4), vb VARBINARY(32), bl BLOB, tx TEXT, bt BIT(10), e ENUM('a','b c'), "
            "s SET('x','y'), js JSON, l1 VARCHAR(20) CHARACTER SET latin1, flag TINYINT(1), z INT(5) ZEROFILL)"),
        QStringLiteral(
            "INSERT INTO types VALUES (0, -12345678901234567890123456789012345.123456789012345678901234567890, "
            "'0000-00-00', '0000-00-00 00:00:00', '1970-01-01 00:00:01.000001', '-838:59:59', 1901, "
            "18446744073709551615, -9223372036854775808, 0.1, 0.30000000000000004e0, 'ab', 0x00FF275C0D0A1A22, "
            "NULL, 'it''s a \\\\ \"test\"\\n\xF0\x9F\x90\xAC', b'1010101010', 'b c', 'x,y', '{\"k\": [1, 2.5]}', "
            "'caf\xC3\xA9', 1, 42)"),
        QStringLiteral(
            "INSERT INTO types (d, dt, ts, tm, y, bu, f, db, b4, vb, bt, e, s, flag) VALUES ('2024-00-15', "
            "'2024-02-30 23:59:59.999999', '2038-01-19 03:14:07.999999', '838:59:59.999999', 2155, 0, "
            "3.4028235e38, 1.7976931348623157e308, '', '', b'0', 'a', '', 0), ('1000-01-01', '9999-12-31 "
            "23:59:59', NULL, '-00:00:01.5', 0, 1, 1.17549435e-38, 5e-324, 'abcd', 'x', b'1111111111', NULL, "
            "NULL, NULL), (NULL, NULL, NULL, '100:00:00', NULL, NULL, -0.0, -2.2250738585072014e-308, NULL, "
            "NULL, NULL, NULL, NULL, NULL)"),
        QStringLiteral("CREATE TABLE `order` (id INT PRIMARY KEY, `select` VARCHAR(10), `my col` INT)"),
        QStringLiteral("INSERT INTO `order` VALUES (1, 'one', 10), (2, 'two', 20)"),
        QStringLiteral("CREATE TABLE `my table` (`key` INT, `odd``name` VARCHAR(5))"),
        QStringLiteral("INSERT INTO `my table` VALUES (1, 'a'), (2, NULL)"),
        QStringLiteral("CREATE TABLE gen (a INT, b INT AS (a * 2) VIRTUAL, c INT AS (a + 1) STORED, h INT INVISIBLE "
                       "DEFAULT 7)"),
        QStringLiteral("INSERT INTO gen (a, h) VALUES (1, 100), (2, 200)"),
        QStringLiteral("CREATE TABLE legacy (id INT PRIMARY KEY, note VARCHAR(20)) ENGINE=MyISAM"),
        QStringLiteral("INSERT INTO legacy VALUES (1, 'old'), (2, 'older')"),
        QStringLiteral("CREATE TABLE empty_one (id INT)"),
        // Two moments that read alike in Berlin: 02:30 summer time and, an hour later, 02:30
        // winter time.
        QStringLiteral("CREATE TABLE dst (id INT PRIMARY KEY, ts TIMESTAMP NULL)"),
        QStringLiteral("INSERT INTO dst VALUES (1, FROM_UNIXTIME(1729989000)), (2, FROM_UNIXTIME(1729992600))"),
        QStringLiteral("CREATE TABLE big (id INT PRIMARY KEY, data LONGBLOB)"),
        // Views listed before the views they read (names in alphabetical order).
        QStringLiteral("CREATE VIEW c_base AS SELECT id, `select` FROM `order`"),
        QStringLiteral("CREATE VIEW b_mid AS SELECT id FROM c_base WHERE id > 0"),
        QStringLiteral("CREATE VIEW a_top AS SELECT COUNT(*) AS n FROM b_mid"),
        QStringLiteral("CREATE PROCEDURE p_comment(OUT n INT)\nBEGIN\n  SELECT COUNT(*) INTO n FROM `order`;\nEND -- "
                       "the closing note"),
        QStringLiteral("CREATE PROCEDURE twin() SELECT 'procedure'"),
        QStringLiteral("CREATE FUNCTION twin() RETURNS VARCHAR(10) DETERMINISTIC RETURN 'function'"),
        QStringLiteral("CREATE TRIGGER `tr_odd%'` BEFORE INSERT ON `my table` FOR EACH ROW SET NEW.`key` = "
                       "NEW.`key` + 1 # a comment at the end"),
        QStringLiteral("CREATE TRIGGER order_ai AFTER INSERT ON `order` FOR EACH ROW BEGIN\n  UPDATE legacy SET "
                       "note = NEW.`select` WHERE id = NEW.id;\nEND"),
        QStringLiteral("SET SESSION sql_mode = 'NO_BACKSLASH_ESCAPES'"),
        QStringLiteral("CREATE FUNCTION raw_text() RETURNS VARCHAR(10) DETERMINISTIC RETURN 'a\\b'"),
        QStringLiteral("SET SESSION sql_mode = DEFAULT"),
    });
    // Every byte value in a VARBINARY and a BLOB, and a 20 MB BLOB.
    dac::TMyCommand bytes;
    bytes.SetConnection(&c);
    bytes.SQL().SetText(QStringLiteral("UPDATE types SET bl = :bl WHERE id = 0"));
    bytes.ParamByName(QStringLiteral("bl")).SetAsBytes(allBytes);
    bytes.Execute();
    c.ExecSQL(QStringLiteral("INSERT INTO big VALUES (1, REPEAT(CONCAT(CHAR(0), 'x''\\\\', CHAR(255)), 4 * 1024 * 1024))"));
}

class DumpTest : public ::testing::Test {
protected:
    void SetUp() override { c = ByteConnection(); }
    void TearDown() override {
        for (const QString& db : {Source, Target}) c->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(db));
    }

    // Our backup of the source with every kind of object, read by a session whose sql_mode
    // would change how texts are read (the dump session must not depend on it).
    QString BackupSource(const std::function<void(TMyDump&)>& configure = {}) {
        auto from = ByteConnection(Source);
        from->ExecSQL(QStringLiteral("SET SESSION sql_mode = 'ANSI_QUOTES,NO_BACKSLASH_ESCAPES', time_zone = '-05:00'"));
        TMyDump dump;
        dump.SetConnection(from.get());
        dump.SetObjects({doStoredProcs, doTables, doData, doViews, doTriggers});
        dump.Options().QuoteNames = true;
        if (configure) configure(dump);
        const QString file = Dir.filePath(QStringLiteral("ours.sql"));
        dump.BackupToFile(file);
        // The session is as it was.
        EXPECT_EQ(RowsText(*from, QStringLiteral("SELECT @@SESSION.sql_mode, @@SESSION.time_zone")),
                  QStringLiteral("ANSI_QUOTES,NO_BACKSLASH_ESCAPES,-05:00"));
        return file;
    }

    // Our restore of a file into the target database, by a session whose sql_mode and time
    // zone would change what the script means (the script must set its own); the failed
    // statements.
    QStringList RestoreTarget(const QString& file) {
        Recreate(*c, Target);
        auto to = ByteConnection(Target);
        to->ExecSQL(QStringLiteral(
            "SET SESSION sql_mode = 'STRICT_ALL_TABLES,NO_BACKSLASH_ESCAPES', time_zone = 'Europe/Berlin'"));
        TMyDump dump;
        dump.SetConnection(to.get());
        QStringList failures;
        dump.OnError = [&](script::TDAScript* s, const std::exception& e, const QString&, script::TErrorAction& a) {
            failures << QStringLiteral("line %1: %2").arg(s->Place().WordLine + 1).arg(QString::fromUtf8(e.what()));
            a = script::eaContinue;
        };
        dump.RestoreFromFile(file);
        EXPECT_EQ(dump.FailedStatements(), failures.size());
        return failures;
    }

    std::unique_ptr<dac::TMyConnection> c;
    QTemporaryDir TempDir;
    QDir Dir{TempDir.path()};
};

TEST_F(DumpTest, EdgeCasesRestoreExactly) {
    BuildEdgeDatabase(*c);
    const QString expected = Fingerprint(*c, Source);
    ASSERT_EQ(FirstValue(*c, QStringLiteral("SELECT ROUTINE_DEFINITION FROM information_schema.ROUTINES WHERE "
                                            "ROUTINE_SCHEMA = '%1' AND ROUTINE_NAME = 'p_comment'")
                                 .arg(Source))
                  .value_or(QString())
                  .right(16),
              QStringLiteral("the closing note"));

    const QString file = BackupSource();
    EXPECT_EQ(RestoreTarget(file), QStringList());
    EXPECT_EQ(Fingerprint(*c, Target), expected);
    // Values the checksum would not name, read back as text.
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT id, d, dt, tm, HEX(b4), HEX(f), f = 0.1e0, db FROM `%1`.types "
                                          "ORDER BY id LIMIT 2")
                               .arg(Target)),
              RowsText(*c, QStringLiteral("SELECT id, d, dt, tm, HEX(b4), HEX(f), f = 0.1e0, db FROM `%1`.types "
                                          "ORDER BY id LIMIT 2")
                               .arg(Source)));
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT HEX(b4), CAST(f AS DOUBLE) FROM `%1`.types WHERE id = 0").arg(Target)),
              QStringLiteral("61620000,0.10000000149011612"));
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT a, b, c, h FROM `%1`.gen ORDER BY a").arg(Target)),
              QStringLiteral("1,2,2,100|2,4,3,200"));
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT %1.twin(), %1.raw_text()").arg(Target)),
              QStringLiteral("function,a\\b"));

    // The same file through the mariadb client: it is valid for peers too.
    Recreate(*c, Target);
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    // --comments: the client keeps comments in routine bodies, as ours does.
    const auto client =
        RunMariadbTool(QStringLiteral("mariadb"), {"--comments", "--max-allowed-packet=1G", Target}, f.readAll());
    EXPECT_EQ(client.Status, 0) << client.Err.toStdString();
    EXPECT_EQ(Fingerprint(*c, Target), expected);
}

TEST_F(DumpTest, AMariadbDumpFileRestoresAsWithTheMariadbClient) {
    BuildEdgeDatabase(*c);
    const auto peer = RunMariadbTool(QStringLiteral("mariadb-dump"),
                                     {"--routines", "--triggers", "--max-allowed-packet=1G", Source});
    ASSERT_EQ(peer.Status, 0) << peer.Err.toStdString();
    const QString file = Dir.filePath(QStringLiteral("peer.sql"));
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(peer.Out);
    out.close();

    const auto client = [&] {
        Recreate(*c, Target);
        return RunMariadbTool(QStringLiteral("mariadb"), {"--comments", "--max-allowed-packet=1G", Target}, peer.Out);
    }();
    ASSERT_EQ(client.Status, 0) << client.Err.toStdString();
    const QString expected = Fingerprint(*c, Target);
    EXPECT_EQ(RestoreTarget(file), QStringList());
    EXPECT_EQ(Fingerprint(*c, Target), expected);
}

#ifndef CALVORO_NO_SAKILA
TEST_F(DumpTest, SakilaRestoresExactly) {
    for (const char* name : {"sakila-schema.sql", "sakila-data.sql"}) {
        QFile f(Fixtures + QStringLiteral("/sakila/") + QString::fromLatin1(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const auto r = RunMariadbTool(QStringLiteral("mariadb"), {"--comments"}, f.readAll());
        ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    }
    ScopeExit drop([&] { c->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS sakila")); });
    const QString expected = Fingerprint(*c, QStringLiteral("sakila"));

    auto from = ByteConnection(QStringLiteral("sakila"));
    TMyDump dump;
    dump.SetConnection(from.get());
    dump.SetObjects({doStoredProcs, doTables, doData, doViews, doTriggers});
    dump.Options().QuoteNames = true;
    const QString file = Dir.filePath(QStringLiteral("sakila.sql"));
    dump.BackupToFile(file);
    EXPECT_EQ(RestoreTarget(file), QStringList());
    EXPECT_EQ(Fingerprint(*c, Target), expected);
}
#endif

// The lines of a backup of one small database into SQL, from the first line starting with
// `from` to the first one starting with `to` after it.
QStringList Section(const QStringList& lines, const QString& from, const QString& to) {
    qsizetype begin = -1;
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (lines[i].startsWith(from)) {
            begin = i;
            break;
        }
    if (begin < 0) return {QStringLiteral("<no line ") + from + u'>'};
    for (qsizetype i = begin + 1; i < lines.size(); ++i)
        if (lines[i].startsWith(to)) return lines.mid(begin, i - begin + 1);
    return lines.mid(begin);
}

TEST_F(DumpTest, TheScriptTakesTheShapeTheOptionsGive) {
    Recreate(*c, Source);
    c->SetDatabase(Source);
    RunAll(*c, {
        QStringLiteral("CREATE TABLE t (id INT, name VARCHAR(10))"),
        QStringLiteral("INSERT INTO t VALUES (1, 'a'), (2, 'b'), (3, 'c'), (4, NULL), (5, 'e')"),
        QStringLiteral("CREATE TABLE `order` (id INT)"),
        QStringLiteral("CREATE VIEW v AS SELECT id FROM t"),
    });
    Recreate(*c, Target);
    c->ExecSQL(QStringLiteral("CREATE TABLE `%1`.o (id INT)").arg(Target));
    struct {
        const char* what;
        std::function<void(TMyDump&)> configure;
        const char* from;
        const char* to;
        QStringList expected;
    } cases[] = {
        {"defaults", {}, "LOCK TABLES", "UNLOCK", {
            "LOCK TABLES t WRITE;", "INSERT INTO t VALUES", "  (1, 'a'),", "  (2, 'b'),", "  (3, 'c'),",
            "  (4, NULL),", "  (5, 'e');", "UNLOCK TABLES;"}},
        {"one statement per row, commits every 2 rows",
         [](TMyDump& d) {
             d.Options().UseExtSyntax = false;
             d.Options().CommitBatchSize = 2;
             d.Options().AddLock = false;
         },
         "BEGIN", "-- ", {
            "BEGIN;", "INSERT INTO t VALUES (1, 'a');", "INSERT INTO t VALUES (2, 'b');", "COMMIT;", "BEGIN;",
            "INSERT INTO t VALUES (3, 'c');", "INSERT INTO t VALUES (4, NULL);", "COMMIT;", "BEGIN;",
            "INSERT INTO t VALUES (5, 'e');", "COMMIT;", "", "-- "}},
        {"complete, ignore, keys, quoted",
         [](TMyDump& d) {
             d.Options().CompleteInsert = true;
             d.Options().InsertType = itInsertIgnore;
             d.Options().DisableKeys = true;
             d.Options().QuoteNames = true;
             d.SetTableNames(QStringLiteral("t"));
         },
         "LOCK TABLES", "  (2", {
            "LOCK TABLES `t` WRITE;", "/*!40000 ALTER TABLE `t` DISABLE KEYS */;",
            "INSERT IGNORE INTO `t`(id, name) VALUES", "  (1, 'a'),", "  (2, 'b'),"}},
        {"replace, delayed: no locks",
         [](TMyDump& d) {
             d.Options().InsertType = itReplaceInto;
             d.Options().UseDelayedIns = true;
         },
         "-- Dumping data for table t", "  (1", {
            "-- Dumping data for table t", "-- ", "", "REPLACE DELAYED INTO t VALUES", "  (1, 'a'),"}},
        {"an empty table: its comment block and two empty lines",
         {}, "-- Dumping data for table `order`", "-- Table structure for table  t", {
            "-- Dumping data for table `order`", "-- ", "", "", "-- ", "-- Table structure for table  t"}},
        {"a view: structure only, DROP VIEW",
         [](TMyDump& d) { d.SetTableNames(QStringLiteral("v")); }, "-- Table structure for table  v", "CREATE", {
            "-- Table structure for table  v", "-- ", "", "DROP VIEW IF EXISTS v;",
            "CREATE ALGORITHM=UNDEFINED DEFINER=`calvoro_native`@`%` SQL SECURITY DEFINER VIEW `v` AS select `t`.`id` "
            "AS `id` from `t`;"}},
        {"a view without its definer, in one snapshot",
         [](TMyDump& d) {
             d.SetTableNames(QStringLiteral("v"));
             d.Options().SkipDefiner = true;
             d.Options().SingleTransaction = true;
         },
         "DROP VIEW", "CREATE", {
            "DROP VIEW IF EXISTS v;",
            "CREATE ALGORITHM=UNDEFINED SQL SECURITY DEFINER VIEW `v` AS select `t`.`id` AS `id` from `t`;"}},
        {"the database with its character set and collation",
         [](TMyDump& d) { d.SetObjects({doDatabase}); }, "USE mysql", "USE", {
            "USE mysql;", "DROP DATABASE IF EXISTS calvoro_dump_src;",
            "CREATE DATABASE `calvoro_dump_src` /*!40100 DEFAULT CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci */;",
            "USE calvoro_dump_src;"}},
        {"a table of another database carries its database in its section",
         [](TMyDump& d) {
             d.SetObjects({doTables});
             d.SetTableNames(QStringLiteral("calvoro_dump_dst.o"));
         },
         "-- Table structure", "CREATE", {
            "-- Table structure for table  `calvoro_dump_dst`.`o`", "-- ", "",
            "DROP TABLE IF EXISTS `calvoro_dump_dst`.`o`;", "CREATE TABLE `calvoro_dump_dst`.`o` ("}},
        {"data only: TRUNCATE before the rows",
         [](TMyDump& d) {
             d.SetObjects({doData});
             d.SetTableNames(QStringLiteral("t"));
         },
         "-- Dumping data", "LOCK", {"-- Dumping data for table t", "-- ", "", "TRUNCATE TABLE t;", "LOCK TABLES t WRITE;"}},
    };
    for (auto& k : cases) {
        auto from = ByteConnection(Source);
        TMyDump dump;
        dump.SetConnection(from.get());
        if (k.configure) k.configure(dump);
        dump.Backup();
        EXPECT_EQ(Section(dump.SQL().Lines(), QString::fromUtf8(k.from), QString::fromUtf8(k.to)), k.expected)
            << k.what;
    }
}

TEST_F(DumpTest, ExtendedInsertsStayNearSixteenKilobytes) {
    Recreate(*c, Source);
    c->SetDatabase(Source);
    RunAll(*c, {QStringLiteral("CREATE TABLE wide (id INT, pad TEXT)"),
                QStringLiteral("INSERT INTO wide SELECT seq, REPEAT('x', 6000) FROM seq_1_to_4"),
                QStringLiteral("CREATE TABLE narrow (id INT)"),
                QStringLiteral("INSERT INTO narrow SELECT seq FROM seq_1_to_3000")});
    auto from = ByteConnection(Source);
    TMyDump dump;
    dump.SetConnection(from.get());
    dump.Backup();
    int wideStatements = 0, narrowStatements = 0, longest = 0;
    for (const QString& line : dump.SQL().Lines()) {
        wideStatements += line == u"INSERT INTO wide VALUES";
        narrowStatements += line == u"INSERT INTO narrow VALUES";
    }
    QString statement;
    for (const QString& line : dump.SQL().Lines()) {
        if (line.startsWith(QStringLiteral("INSERT"))) statement.clear();
        statement += line;
        if (line.endsWith(u';')) longest = std::max(longest, int(statement.size()));
    }
    EXPECT_EQ(wideStatements, 4);  // rows of 6000 characters: one per statement
    EXPECT_GT(narrowStatements, 1);
    EXPECT_LE(longest, 16384);
    EXPECT_GT(longest, 8000);
}

TEST_F(DumpTest, AFailedBackupLeavesTheOldFileAsItWas) {
    Recreate(*c, Source);
    auto from = ByteConnection(Source);
    const QString file = Dir.filePath(QStringLiteral("keep.sql"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("-- the good backup\r\n");
    }
    TMyDump dump;
    dump.SetConnection(from.get());
    dump.SetTableNames(QStringLiteral("no_such_table"));
    EXPECT_THROW(dump.BackupToFile(file), dac::EMyError);
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("-- the good backup\r\n"));
    EXPECT_EQ(Dir.entryList(QDir::Files), QStringList{QStringLiteral("keep.sql")});

    TMyDump unconnected;
    EXPECT_THROW(unconnected.BackupToFile(file), EDatabaseError);
    EXPECT_THROW(dump.BackupQuery(QStringLiteral("  ")), EDatabaseError);
}

TEST_F(DumpTest, RestoreCountsFailuresAndReportsProgressByBytes) {
    Recreate(*c, Target);
    const QString script = QStringLiteral(
        "CREATE TABLE r (id INT PRIMARY KEY, name VARCHAR(10));\n"
        "INSERT INTO r VALUES (1, 'caf\u00e9');\n"
        "INSERT INTO r VALUES (1, 'again');\n"
        "DELIMITER $$\n"
        "CREATE PROCEDURE rp() SELECT 1 $$\n"
        "DELIMITER ;\n"
        "INSERT INTO r VALUES (2, 'two');\n");
    struct {
        const char* what;
        QByteArray bytes;
    } files[] = {
        {"UTF-8", script.toUtf8()},
        {"UTF-16 with a byte-order mark", [&] {
             QStringEncoder utf16(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom);
             return QByteArray(utf16(script));
         }()},
    };
    for (const auto& f : files) {
        c->ExecSQL(QStringLiteral("DROP TABLE IF EXISTS `%1`.r").arg(Target));
        c->ExecSQL(QStringLiteral("DROP PROCEDURE IF EXISTS `%1`.rp").arg(Target));
        auto to = ByteConnection(Target);
        TMyDump dump;
        dump.SetConnection(to.get());
        std::vector<int> progress;
        dump.OnRestoreProgress = [&](TDADump*, int percent) { progress.push_back(percent); };
        dump.OnError = [](script::TDAScript*, const std::exception&, const QString&, script::TErrorAction& a) {
            a = script::eaContinue;
        };
        QBuffer buffer;
        buffer.setData(f.bytes);
        buffer.open(QIODevice::ReadOnly);
        dump.RestoreFromStream(&buffer);
        EXPECT_EQ(dump.FailedStatements(), 1) << f.what;
        EXPECT_EQ(dump.RestoredStatements(), 5) << f.what;  // DELIMITER lines are not statements
        ASSERT_FALSE(progress.empty()) << f.what;
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end())) << f.what;
        EXPECT_EQ(progress.back(), 100) << f.what;
        EXPECT_LT(progress.front(), 50) << f.what;
        EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT id, HEX(name) FROM `%1`.r ORDER BY id").arg(Target)),
                  QStringLiteral("1,636166C3A9|2,74776F"))
            << f.what;
    }
}

TEST_F(DumpTest, AStopBetweenStatementsEndsTheRestore) {
    QByteArray bytes = "CREATE TABLE s (id INT);\n";
    for (int i = 1; i <= 5; ++i) bytes += "INSERT INTO s VALUES (" + QByteArray::number(i) + ");\n";
    for (const bool stream : {true, false}) {
        SCOPED_TRACE(stream ? "from a stream" : "from the script text");
        Recreate(*c, Target);
        auto to = ByteConnection(Target);
        TMyDump dump;
        dump.SetConnection(to.get());
        int reports = 0;
        // Stopped from the progress report after the first statement: nothing runs after it,
        // and the text is not read again from its beginning.
        dump.OnRestoreProgress = [&](TDADump*, int) {
            if (++reports == 1) dump.BreakExec();
        };
        dump.OnError = [](script::TDAScript*, const std::exception&, const QString&, script::TErrorAction& a) {
            a = script::eaContinue;
        };
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        if (stream) {
            dump.RestoreFromStream(&buffer);
        } else {
            dump.SQL().SetText(QString::fromLatin1(bytes));
            dump.Restore();
        }
        EXPECT_EQ(dump.RestoredStatements(), 1);
        EXPECT_EQ(dump.FailedStatements(), 0);
        EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT COUNT(*) FROM `%1`.s").arg(Target)), QStringLiteral("0"));
    }
}

TEST_F(DumpTest, AQueryBackupWritesThatQuerysRows) {
    Recreate(*c, Source);
    c->SetDatabase(Source);
    RunAll(*c, {QStringLiteral("CREATE TABLE q (id INT, name VARCHAR(10))"),
                QStringLiteral("INSERT INTO q VALUES (1, 'a'), (2, 'b'), (3, 'c')")});
    auto from = ByteConnection(Source);
    TMyDump dump;
    dump.SetConnection(from.get());
    dump.SetObjects({doData});
    dump.Options().AddLock = false;
    dump.Options().AddDrop = false;
    dump.BackupQuery(QStringLiteral("SELECT * FROM q WHERE id > 1 ORDER BY id DESC"));
    EXPECT_EQ(Section(dump.SQL().Lines(), QStringLiteral("INSERT"), QStringLiteral("  (2")),
              (QStringList{QStringLiteral("INSERT INTO q VALUES"), QStringLiteral("  (3, 'c'),"),
                           QStringLiteral("  (2, 'b');")}));
    dump.SetTableNames(QStringLiteral("q, t2"));
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    EXPECT_THROW(dump.BackupToStream(&sink, QStringLiteral("SELECT 1")), EDatabaseError);
    EXPECT_EQ(sink.size(), 0);
}

}  // namespace
