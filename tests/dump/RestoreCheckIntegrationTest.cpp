// The check before a restore against the test server (MariaDB 10.11): what it reads of the
// server, what it predicts for dumps of MySQL 8 and MariaDB 11 (fixtures/*_cross_family.sql),
// and the restores themselves: without mends exactly the predicted statements fail, with the
// mends the tables, views and routines are there and work. calvoro-cli restore --check prints
// the report and tells by its exit status; a clean mariadb-dump file gives an empty report.

#include "dump/MyDump.h"
#include "dump/RestoreCheck.h"

#include "CliProcess.h"
#include "common/ScopeGuard.h"
#include "dataaccess/mysql/MyClasses.h"
#include "dataaccess/support/MyTestConnection.h"
#include "support/MariadbClient.h"
#include "support/QtPrinters.h"
#include "support/TestServer.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace calvoro;
using calvoro::test::ByteConnection;
using calvoro::test::Cli;
using calvoro::test::RowsText;
using calvoro::test::RunMariadbTool;
using calvoro::test::Server;
using K = dump::TCheckKind;

namespace {

const QString MySql8Dump = QStringLiteral(CALVORO_DUMP_FIXTURES "/mysql8_dump_cross_family.sql");
const QString MariaDb11Dump = QStringLiteral(CALVORO_DUMP_FIXTURES "/mariadb11_dump_cross_family.sql");
const QString CleanDump = QStringLiteral(CALVORO_DUMP_FIXTURES "/mariadb_dump_executable_comments.sql");

void Recreate(dac::TCustomMyConnection& c, const QString& db) {
    c.ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(db));
    c.ExecSQL(QStringLiteral("CREATE DATABASE `%1` CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci").arg(db));
}

QStringList CliLogin(const QString& db) {
    const auto& s = Server();
    return {"restore", "-h", QString::fromStdString(s.Host), "-P", QString::number(s.Port),
            "-u", QString::fromStdString(s.NativeUser), "-p", QString::fromStdString(s.NativePassword), "-D", db};
}

dump::TCheckReport Check(dac::TCustomMyConnection& c, const QString& path, const dump::TRestoreMends& mends = {}) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return dump::CheckScript(&file, dump::ReadServerFacts(c), mends);
}

// Restores the file into db on one connection, with the mends; the lines of the statements
// that failed.
std::vector<qint64> Restore(const QString& path, const QString& db, const dump::TRestoreMends& mends,
                            dump::TMendCounts* counts = nullptr) {
    auto to = ByteConnection(db);
    dump::TMyDump d;
    d.SetConnection(to.get());
    std::vector<qint64> failed;
    d.OnError = [&](script::TDAScript* s, const std::exception&, const QString&, script::TErrorAction& a) {
        failed.push_back(s->Place().WordLine + 1);
        a = script::eaContinue;
    };
    dump::TMendCounts mended;
    if (mends.Any()) d.RestoreRewrite = [&](QString& sql) { sql = dump::MendStatement(sql, mends, mended); };
    d.RestoreFromFile(path);
    if (counts) *counts = mended;
    return failed;
}

// The error code of a statement, 0 when it ran.
int ErrorOf(dac::TCustomMyConnection& c, const QString& sql) {
    try {
        RowsText(c, sql);
    } catch (const dac::EMyError& e) {
        return e.ErrorCode();
    }
    return 0;
}

TEST(RestoreCheckServer, TheFactsOfTheTestServer) {
    auto c = ByteConnection();
    const dump::TServerFacts f = dump::ReadServerFacts(*c);
    EXPECT_TRUE(f.MariaDB);
    EXPECT_GE(f.Version, 101100);
    // MariaDB 10.10 and later: UCA 14 collations by their full names; no MySQL 8 ones.
    EXPECT_TRUE(f.Collations.contains(QStringLiteral("utf8mb4_uca1400_ai_ci")));
    EXPECT_TRUE(f.Collations.contains(QStringLiteral("utf8mb4_unicode_ci")));
    EXPECT_FALSE(f.Collations.contains(QStringLiteral("utf8mb4_0900_ai_ci")));
    EXPECT_TRUE(f.Charsets.contains(QStringLiteral("utf8mb4")));
    EXPECT_TRUE(f.Engines.contains(QStringLiteral("innodb")));
    EXPECT_FALSE(f.Engines.contains(QStringLiteral("ndbcluster")));
    EXPECT_EQ(f.DefaultEngine, QStringLiteral("InnoDB"));
    EXPECT_TRUE(f.AccountsKnown);
    EXPECT_EQ(f.CurrentAccount, QStringLiteral("'%1'@'%'").arg(QString::fromStdString(Server().NativeUser)));
    EXPECT_TRUE(f.Accounts.contains(f.CurrentAccount));
    EXPECT_TRUE(f.MaySetDefiner);
    EXPECT_TRUE(f.SqlMode.contains(QStringLiteral("NO_ENGINE_SUBSTITUTION")));
}

TEST(RestoreCheckServer, AMySql8DumpFailsAsPredictedAndRestoresWithTheMends) {
    auto c = ByteConnection();
    const QString plain = QStringLiteral("calvoro_pf_mysql8"), mended = QStringLiteral("calvoro_pf_mysql8_mended");
    ScopeExit drop([&] {
        for (const QString& db : {plain, mended}) c->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(db));
    });
    // The dump makes its own database (mysqldump --databases); it exists here, as it does where
    // a user restores into one made beforehand.
    Recreate(*c, plain);

    const dump::TCheckReport report = Check(*c, MySql8Dump);
    ASSERT_TRUE(report.WouldFail());
    ASSERT_FALSE(report.FailingLines.empty());
    EXPECT_NE(report.Find(K::UnknownCollation, QStringLiteral("utf8mb4_0900_ai_ci")), nullptr);
    EXPECT_EQ(Restore(MySql8Dump, plain, {}), report.FailingLines);
    // The view and the routine whose DEFINER is missing are there, and fail when used.
    EXPECT_EQ(ErrorOf(*c, QStringLiteral("CALL `%1`.item_count(@n)").arg(plain)), 1449);
    // The table on an engine the server lacks was made with its default engine.
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT ENGINE FROM information_schema.TABLES WHERE TABLE_SCHEMA = '%1' "
                                          "AND TABLE_NAME = 'archive'").arg(plain)),
              QStringLiteral("InnoDB"));

    // The mends the report offers, into a database the dump does not name: its CREATE DATABASE
    // and USE make the database of the dump, as mysqldump's file asks.
    dump::TRestoreMends mends;
    mends.Collations = {{QStringLiteral("utf8mb4_0900_ai_ci"), QStringLiteral("utf8mb4_uca1400_nopad_ai_ci")}};
    mends.Definer = dump::TDefinerMend::Current;
    mends.EngineFallback = QStringLiteral("InnoDB");
    mends.KnownEngines = dump::ReadServerFacts(*c).Engines;
    EXPECT_FALSE(Check(*c, MySql8Dump, mends).WouldFail());
    c->ExecSQL(QStringLiteral("DROP DATABASE `%1`").arg(plain));
    Recreate(*c, mended);
    dump::TMendCounts counts;
    EXPECT_EQ(Restore(MySql8Dump, mended, mends, &counts), std::vector<qint64>());
    EXPECT_EQ(counts.Collations, 5);
    EXPECT_EQ(counts.Definers, 2);
    EXPECT_EQ(counts.Engines, 1);
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT TABLE_NAME, ENGINE, TABLE_COLLATION FROM information_schema.TABLES "
                                          "WHERE TABLE_SCHEMA = '%1' ORDER BY BINARY TABLE_NAME").arg(plain)),
              QStringLiteral("archive,InnoDB,utf8mb4_unicode_ci|item_names,NULL,NULL|items,InnoDB,utf8mb4_uca1400_nopad_ai_ci"));
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT id, name FROM `%1`.item_names ORDER BY id").arg(plain)),
              QStringLiteral("1,lamp|2,desk; oak /* top */"));
    c->ExecSQL(QStringLiteral("CALL `%1`.item_count(@n)").arg(plain));
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT @n")), QStringLiteral("2"));
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT * FROM `%1`.archive").arg(plain)), QStringLiteral("7,kept"));
}

TEST(RestoreCheckServer, AMariaDb11DumpMakesBrokenObjectsUnlessMended) {
    auto c = ByteConnection();
    const QString plain = QStringLiteral("calvoro_pf_mariadb11"), mended = QStringLiteral("calvoro_pf_mariadb11_mended");
    ScopeExit drop([&] {
        for (const QString& db : {plain, mended}) c->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(db));
    });
    Recreate(*c, plain);
    Recreate(*c, mended);

    // Nothing is refused on this server (it has the UCA 14 collations), but the DEFINER is
    // missing and ColumnStore is replaced.
    const dump::TCheckReport report = Check(*c, MariaDb11Dump);
    EXPECT_TRUE(report.WouldFail());
    EXPECT_EQ(report.FailingLines, std::vector<qint64>());
    EXPECT_NE(report.Find(K::MissingDefiner, QStringLiteral("`report_owner`@`localhost`")), nullptr);
    EXPECT_NE(report.Find(K::UnavailableEngine, QStringLiteral("Columnstore")), nullptr);
    EXPECT_EQ(Restore(MariaDb11Dump, plain, {}), report.FailingLines);
    EXPECT_EQ(ErrorOf(*c, QStringLiteral("SELECT `%1`.note_count()").arg(plain)), 1449);
    EXPECT_EQ(ErrorOf(*c, QStringLiteral("SELECT * FROM `%1`.note_heads").arg(plain)), 1449);

    dump::TRestoreMends mends;
    mends.Definer = dump::TDefinerMend::Drop;
    mends.EngineFallback = QStringLiteral("Aria");
    mends.KnownEngines = dump::ReadServerFacts(*c).Engines;
    EXPECT_EQ(Restore(MariaDb11Dump, mended, mends), std::vector<qint64>());
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT `%1`.note_count()").arg(mended)), QStringLiteral("2"));
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT id, head FROM `%1`.note_heads ORDER BY id").arg(mended)),
              QStringLiteral("1,first note|2,second"));
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT ENGINE, TABLE_COLLATION FROM information_schema.TABLES WHERE "
                                          "TABLE_SCHEMA = '%1' AND TABLE_NAME = 'facts'").arg(mended)),
              QStringLiteral("Aria,utf8mb4_uca1400_ai_ci"));
}

TEST(RestoreCheckServer, WhatALimitedAccountMayNotDo) {
    auto c = ByteConnection();
    const QString db = QStringLiteral("calvoro_pf_limited");
    const QString user = QStringLiteral("calvoro_pf_limited"), password = QStringLiteral("Limited-9");
    ScopeExit drop([&] {
        c->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(db));
        c->ExecSQL(QStringLiteral("DROP USER IF EXISTS '%1'@'%'").arg(user));
    });
    Recreate(*c, db);
    c->ExecSQL(QStringLiteral("DROP USER IF EXISTS '%1'@'%'").arg(user));
    c->ExecSQL(QStringLiteral("CREATE USER '%1'@'%' IDENTIFIED BY '%2'").arg(user, password));
    c->ExecSQL(QStringLiteral("GRANT ALL ON `%1`.* TO '%2'@'%'").arg(db, user));

    auto limited = test::NewConnection(false, db);
    limited->SetUsername(user);
    limited->SetPassword(password);
    limited->MyOptions().SetCharset(QStringLiteral("utf8mb4"));
    limited->Connect();
    const dump::TServerFacts f = dump::ReadServerFacts(*limited);
    EXPECT_FALSE(f.AccountsKnown);
    EXPECT_FALSE(f.MaySetDefiner);
    EXPECT_FALSE(f.MaySetGlobal);

    const QString script = QStringLiteral(
        "CREATE TABLE t (a int);\n"
        "CREATE DEFINER=`root`@`localhost` VIEW v AS SELECT a FROM t;\n"
        "CREATE DEFINER=CURRENT_USER VIEW w AS SELECT a FROM t;\n"
        "SET GLOBAL max_connections = 151;\n"
        "SET @global = 1;\n");
    const dump::TCheckReport report = dump::CheckScript(script, f);
    EXPECT_EQ(report.FailingLines, (std::vector<qint64>{2, 4}));
    EXPECT_NE(report.Find(K::DefinerPrivilege, QStringLiteral("`root`@`localhost`")), nullptr);
    EXPECT_NE(report.Find(K::SetGlobal, QStringLiteral("max_connections")), nullptr);

    std::vector<qint64> failed;
    for (const QString& sql : script.split(u'\n', Qt::SkipEmptyParts)) {
        try {
            limited->ExecSQL(sql);
        } catch (const dac::EMyError&) {
            failed.push_back(script.left(script.indexOf(sql)).count(u'\n') + 1);
        }
    }
    EXPECT_EQ(failed, report.FailingLines);
}

TEST(RestoreCheckServer, TheCommandLineCheck) {
    auto c = ByteConnection();
    const QString db = QStringLiteral("calvoro_pf_cli");
    ScopeExit drop([&] { c->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(db)); });
    Recreate(*c, db);

    auto check = [&](const QString& file, const QStringList& mends = {}) {
        return Cli(CliLogin(db) << "--check" << mends << file);
    };
    const auto mysql8 = check(MySql8Dump);
    EXPECT_EQ(mysql8.Status, 2) << mysql8.Err.toStdString();
    for (const char* line : {
             "fails: unknown collation utf8mb4_0900_ai_ci: 4 statements, first at line 22; mend with "
             "--map-collation utf8mb4_0900_ai_ci=utf8mb4_uca1400_nopad_ai_ci\n",
             "note: executable comment the server skips /*!80016: 1 comment, first at line 22\n",
             "broken: engine not available ndbcluster: 1 statement, first at line 58; mend with --engine-fallback InnoDB\n",
             "broken: DEFINER account does not exist `app_owner`@`%`: 2 statements, first at line 101; mend with "
             "--definer current\n",
             "fails: table whose CREATE TABLE fails items: 5 statements, first at line 45\n",
             "72 statements checked, 9 would fail\n"})
        EXPECT_TRUE(mysql8.Out.contains(QString::fromUtf8(line))) << line << "\n" << mysql8.Out.toStdString();
    // Nothing ran: the database is as empty as before.
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_SCHEMA = '%1'").arg(db)),
              QStringLiteral("0"));

    const auto mended = check(MySql8Dump, {"--map-collation", "utf8mb4_0900_ai_ci=utf8mb4_uca1400_nopad_ai_ci",
                                           "--definer=current", "--engine-fallback", "InnoDB"});
    EXPECT_EQ(mended.Status, 0) << mended.Out.toStdString() << mended.Err.toStdString();
    EXPECT_TRUE(mended.Out.endsWith(QStringLiteral("72 statements checked, 0 would fail\n"))) << mended.Out.toStdString();

    EXPECT_EQ(check(MariaDb11Dump).Status, 2);

    // A file mariadb-dump wrote, on the server it came from: nothing to say.
    const auto clean = check(CleanDump);
    EXPECT_EQ(clean.Status, 0) << clean.Out.toStdString() << clean.Err.toStdString();
    EXPECT_TRUE(clean.Out.endsWith(QStringLiteral(" statements checked, 0 would fail\n")));
    EXPECT_EQ(clean.Out.count(u'\n'), 1) << clean.Out.toStdString();

    // And one it writes now, of a database with a view and a routine of the current account.
    c->ExecSQL(QStringLiteral("CREATE TABLE `%1`.t (a varchar(10) COLLATE utf8mb4_uca1400_ai_ci) ENGINE=Aria").arg(db));
    c->ExecSQL(QStringLiteral("CREATE VIEW `%1`.v AS SELECT a FROM `%1`.t").arg(db));
    c->ExecSQL(QStringLiteral("CREATE PROCEDURE `%1`.p() SELECT COUNT(*) FROM `%1`.t").arg(db));
    const auto dumped = RunMariadbTool(QStringLiteral("mariadb-dump"), {"--routines", db});
    ASSERT_EQ(dumped.Status, 0) << dumped.Err.toStdString();
    QTemporaryDir dir;
    const QString fresh = dir.filePath(QStringLiteral("fresh.sql"));
    QFile out(fresh);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(dumped.Out);
    out.close();
    const auto freshCheck = check(fresh);
    EXPECT_EQ(freshCheck.Status, 0) << freshCheck.Out.toStdString() << freshCheck.Err.toStdString();
    EXPECT_EQ(freshCheck.Out.count(u'\n'), 1) << freshCheck.Out.toStdString();

    // The restore with mends says what it mended.
    const auto restore = Cli(CliLogin(db) << "--parallel" << "1" << "--definer" << "current" << MariaDb11Dump);
    EXPECT_EQ(restore.Status, 0) << restore.Err.toStdString();
    EXPECT_TRUE(restore.Err.endsWith(QStringLiteral("mended: 0 collations, 2 definers, 0 engines\n69 statements, 0 failed\n")))
        << restore.Err.toStdString();

    const auto bad = Cli(CliLogin(db) << "--definer" << "someone" << MariaDb11Dump);
    EXPECT_EQ(bad.Status, 1);
    EXPECT_TRUE(bad.Err.contains(QStringLiteral("--definer takes keep, current or drop"))) << bad.Err.toStdString();
}

}  // namespace

namespace {

TEST(RestoreCheckServer, OurBackupSaysWhoWroteItAndChecksClean) {
    auto c = ByteConnection();
    const QString db = QStringLiteral("calvoro_pf_ours");
    ScopeExit drop([&] { c->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(db)); });
    Recreate(*c, db);
    c->ExecSQL(QStringLiteral("CREATE TABLE `%1`.t (a varchar(10) COLLATE utf8mb4_uca1400_ai_ci, b int) ENGINE=Aria").arg(db));
    c->ExecSQL(QStringLiteral("INSERT INTO `%1`.t VALUES ('x', 1)").arg(db));
    c->ExecSQL(QStringLiteral("CREATE VIEW `%1`.v AS SELECT a FROM `%1`.t").arg(db));
    auto from = ByteConnection(db);
    dump::TMyDump d;
    d.SetConnection(from.get());
    dump::TMyDumpObjects objects;
    for (auto kind : {dump::doTables, dump::doData, dump::doViews}) objects.Include(kind);
    d.SetObjects(objects);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("ours.sql"));
    d.BackupToFile(file);
    QFile in(file);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(in.readAll()).split(QStringLiteral("\r\n"));
    ASSERT_GT(lines.size(), 8);
    const QString version = RowsText(*c, QStringLiteral("SELECT VERSION()"));
    // The server's text as it sent it (MariaDB's greeting may put "5.5.5-" before it).
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("-- MySQL server version: ")) && lines[1].endsWith(version))
        << lines[1].toStdString();
    EXPECT_EQ(lines[2], QStringLiteral("-- Server family: MariaDB %1").arg(version.section(u'-', 0, 0)));
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("-- MySQL client version: "))) << lines[3].toStdString();
    in.seek(0);
    const dump::TCheckReport report = dump::CheckScript(&in, dump::ReadServerFacts(*c));
    EXPECT_TRUE(report.Empty()) << dump::FormatCheckReport(report).toStdString();
    EXPECT_GT(report.Statements, 5);
}

}  // namespace
