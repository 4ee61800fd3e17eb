// calvoro-cli --read-only against the test server: changing commands are refused before they
// are sent, queries and backups work, and a change the refusal does not see (a stored function
// that writes, called from a SELECT) is refused by the server.
#include "CliProcess.h"
#include "support/QtPrinters.h"
#include "support/TestServer.h"

#include <QTemporaryFile>

#include <gtest/gtest.h>

using calvoro::test::Cli;
using calvoro::test::Server;
using Result = calvoro::test::TCliResult;

namespace {

QStringList Login(const char* command, bool readOnly = true) {
    const auto& s = Server();
    QStringList args{QString::fromLatin1(command), "-h", QString::fromStdString(s.Host), "-P", QString::number(s.Port),
                     "-u", QString::fromStdString(s.NativeUser), "-p", QString::fromStdString(s.NativePassword),
                     "-D", "calvoro_cli_ro"};
    if (readOnly) args << "--read-only";
    return args;
}

QString Rows() {
    const Result r = Cli(Login("query", false) << "-e" << "SELECT GROUP_CONCAT(a ORDER BY a) AS a FROM t");
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    return r.Out;
}

}  // namespace

TEST(CliReadOnly, RefusesChangesAndKeepsReading) {
    const auto& s = Server();
    Result r = Cli(QStringList{"exec", "-h", QString::fromStdString(s.Host), "-P", QString::number(s.Port), "-u",
                               QString::fromStdString(s.NativeUser), "-p", QString::fromStdString(s.NativePassword),
                               "-e",
                               "CREATE DATABASE IF NOT EXISTS calvoro_cli_ro; "
                               "CREATE OR REPLACE TABLE calvoro_cli_ro.t (a INT); "
                               "INSERT INTO calvoro_cli_ro.t VALUES (1); "
                               "CREATE OR REPLACE FUNCTION calvoro_cli_ro.sneak() RETURNS INT MODIFIES SQL DATA "
                               "BEGIN INSERT INTO calvoro_cli_ro.t VALUES (9); RETURN 1; END"});
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    const QString before = Rows();

    QTemporaryFile script;
    ASSERT_TRUE(script.open());
    script.write("INSERT INTO t VALUES (2);\n");
    script.close();

    struct Case {
        QStringList args;
        const char* error;  // empty: the command works
    } cases[] = {
        {Login("exec") << "-e" << "INSERT INTO t VALUES (2)", "read-only: this statement"},
        {Login("exec") << "-e" << "SELECT 1; DROP TABLE t", "read-only: this statement"},
        {Login("query") << "-e" << "WITH c AS (SELECT 1) DELETE FROM t", "read-only: this statement"},
        {Login("script") << script.fileName(), "read-only: script"},
        {Login("restore") << script.fileName(), "read-only: restore"},
        {Login("kill") << "1", "read-only: kill"},
        // What the refusal lets through the server refuses: the session is read-only.
        {Login("query") << "-e" << "SELECT sneak()", "READ ONLY transaction"},
        {Login("query") << "-e" << "SELECT COUNT(*) FROM t", ""},
        {Login("backup") << "--tables" << "t", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        r = Cli(c.args);
        if (*c.error) {
            EXPECT_EQ(r.Status, 1);
            EXPECT_TRUE(r.Err.contains(QString::fromUtf8(c.error))) << r.Err.toStdString();
        } else {
            EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
        }
    }
    EXPECT_EQ(Rows(), before);
    EXPECT_TRUE(before.contains(u'1'));
    EXPECT_FALSE(before.contains(u'9'));
}
