// A mariadb-dump file whose triggers and view stand in executable comments ("/*!50003 … */")
// that hold "*/" and ";" in strings, in a quoted name and in a nested comment, beside routines
// that hold them too (fixtures/mariadb_dump_executable_comments.sql, in mariadb-dump's own
// form). Our restore, calvoro-cli restore and script, and the mariadb client restore it into
// databases that must then hold the same tables, rows, views, routines and triggers.

#include "dump/MyDump.h"

#include "CliProcess.h"
#include "common/ScopeGuard.h"
#include "dataaccess/support/DatabaseFingerprint.h"
#include "dataaccess/support/MyTestConnection.h"
#include "support/MariadbClient.h"
#include "support/QtPrinters.h"
#include "support/TestServer.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace calvoro;
using calvoro::test::ByteConnection;
using calvoro::test::Cli;
using calvoro::test::Fingerprint;
using calvoro::test::RowsText;
using calvoro::test::RunMariadbTool;
using calvoro::test::Server;

namespace {

const QString Fixture = QStringLiteral(CALVORO_DUMP_FIXTURES "/mariadb_dump_executable_comments.sql");

void Recreate(dac::TCustomMyConnection& c, const QString& db) {
    c.ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(db));
    c.ExecSQL(QStringLiteral("CREATE DATABASE `%1` CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci").arg(db));
}

QStringList CliLogin(const char* command, const QString& db) {
    const auto& s = Server();
    return {QString::fromLatin1(command), "-h", QString::fromStdString(s.Host), "-P", QString::number(s.Port),
            "-u", QString::fromStdString(s.NativeUser), "-p", QString::fromStdString(s.NativePassword), "-D", db};
}

// Our restore of the fixture into db: the statements that failed, by line.
QStringList RestoreWithTMyDump(const QString& db) {
    auto to = ByteConnection(db);
    dump::TMyDump dump;
    dump.SetConnection(to.get());
    QStringList failures;
    dump.OnError = [&](script::TDAScript* s, const std::exception& e, const QString&, script::TErrorAction& a) {
        failures << QStringLiteral("line %1: %2").arg(s->Place().WordLine + 1).arg(QString::fromUtf8(e.what()));
        a = script::eaContinue;
    };
    dump.RestoreFromFile(Fixture);
    EXPECT_EQ(dump.FailedStatements(), failures.size());
    return failures;
}

TEST(RestoreExecutableComments, OursTheCommandLineAndTheMariadbClientRestoreAlike) {
    auto c = ByteConnection();
    const QString peer = QStringLiteral("calvoro_xc_peer"), ours = QStringLiteral("calvoro_xc_ours"),
                  cliRestore = QStringLiteral("calvoro_xc_cli_restore"),
                  cliScript = QStringLiteral("calvoro_xc_cli_script");
    const QStringList all{peer, ours, cliRestore, cliScript};
    ScopeExit drop([&] {
        for (const QString& db : all) c->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(db));
    });
    for (const QString& db : all) Recreate(*c, db);

    QFile file(Fixture);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << Fixture.toStdString();
    // --comments: the client keeps the comments in the bodies, as ours does.
    const auto client = RunMariadbTool(QStringLiteral("mariadb"), {"--comments", peer}, file.readAll());
    ASSERT_EQ(client.Status, 0) << client.Err.toStdString();

    EXPECT_EQ(RestoreWithTMyDump(ours), QStringList());
    for (const auto& [command, db] : {std::pair{"restore", cliRestore}, std::pair{"script", cliScript}}) {
        const auto r = Cli(CliLogin(command, db) << Fixture);
        EXPECT_EQ(r.Status, 0) << command << ": " << r.Err.toStdString();
        EXPECT_TRUE(r.Err.endsWith(QStringLiteral(" statements, 0 failed\n"))) << command << ": " << r.Err.toStdString();
    }

    // One more row and a change in each fire the triggers; what they wrote is in the checksums.
    for (const QString& db : all) {
        c->ExecSQL(QStringLiteral("INSERT INTO `%1`.t (name) VALUES ('x */;')").arg(db));
        c->ExecSQL(QStringLiteral("UPDATE `%1`.t SET name = CONCAT(name, '*/') WHERE id = 2").arg(db));
    }
    // What the peer made is what the file holds, so that equal databases are not equally empty.
    const auto count = [&](const char* view, const char* column) {
        return RowsText(*c, QStringLiteral("SELECT COUNT(*) FROM information_schema.%1 WHERE %2 = '%3'")
                                .arg(QLatin1String(view), QLatin1String(column), peer));
    };
    EXPECT_EQ(count("TRIGGERS", "TRIGGER_SCHEMA"), QStringLiteral("2"));
    EXPECT_EQ(count("ROUTINES", "ROUTINE_SCHEMA"), QStringLiteral("2"));
    EXPECT_EQ(count("VIEWS", "TABLE_SCHEMA"), QStringLiteral("1"));
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT what FROM `%1`.log ORDER BY n DESC LIMIT 1").arg(peer)),
              QStringLiteral("id=4 /* not a comment */; name=x */;"));
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT name FROM `%1`.t WHERE id = 2").arg(peer)),
              QStringLiteral("desk /* oak "));
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT label FROM `%1`.v WHERE id = 1").arg(peer)),
              QStringLiteral("lamp */; */ ;"));

    const QString expected = Fingerprint(*c, peer);
    for (const QString& db : {ours, cliRestore, cliScript}) EXPECT_EQ(Fingerprint(*c, db), expected) << db.toStdString();
}

}  // namespace
