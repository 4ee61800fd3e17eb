// calvoro-cli exec against the test server, run as a process.
#include "CliProcess.h"
#include "support/QtPrinters.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

using calvoro::test::Cli;
using calvoro::test::Server;
using Result = calvoro::test::TCliResult;

namespace {

QStringList Login(bool withPassword = true) {
    const auto& s = Server();
    QStringList args{"exec", "-h", QString::fromStdString(s.Host), "-P", QString::number(s.Port), "-u",
                     QString::fromStdString(s.NativeUser)};
    if (withPassword) args << "-p" << QString::fromStdString(s.NativePassword);
    return args;
}

}  // namespace

TEST(CliExec, RunsStatementsWithParameters) {
    Result r = Cli(Login() << "-e"
                           << "CREATE DATABASE IF NOT EXISTS calvoro_cli; "
                              "CREATE OR REPLACE TABLE calvoro_cli.t (id INT, s VARCHAR(50)) CHARACTER SET utf8mb4");
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();

    r = Cli(Login() << "-D" << "calvoro_cli" << "--param" << QString::fromUtf8("s=it's \xF0\x9F\x98\x80")
                    << "--param" << "id=7" << "-e" << "INSERT INTO t VALUES (:id, :s), (8, :s)");
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(r.Out, QStringLiteral("Rows affected: 2\n"));

    // The password from the environment; the stored text came back unchanged.
    r = Cli(Login(false) << "-D" << "calvoro_cli" << "--param" << QString::fromUtf8("s=it's \xF0\x9F\x98\x80")
                         << "-e" << "UPDATE t SET id = id WHERE s = :s",
            QString::fromStdString(Server().NativePassword));
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(r.Out, QStringLiteral("Rows affected: 2\n"));
}

TEST(CliExec, FailuresGoToStandardErrorWithStatusOne) {
    struct Case {
        QStringList args;
        const char* error;
    } cases[] = {
        {Login() << "-e" << "SELEC 1", "You have an error in your SQL syntax"},
        {Login() << "-D" << "calvoro_no_such_db" << "-e" << "SELECT 1", "Unknown database 'calvoro_no_such_db'"},
        {Login() << "--param" << "x=1" << "-e" << "SELECT 1", "Parameter 'x' not found"},
        {QStringList{"exec", "-h", "127.0.0.1", "-P", "1", "-u", "x", "-e", "SELECT 1"},
         "Can't connect to MySQL server on '127.0.0.1' (111: Connection refused)"},
        {QStringList{"exec"}, "calvoro-cli: exec needs -e SQL"},
    };
    for (const auto& c : cases) {
        const Result r = Cli(c.args);
        EXPECT_EQ(r.Status, 1) << c.error;
        EXPECT_EQ(r.Out, QString()) << c.error;
        EXPECT_TRUE(r.Err.startsWith(QString::fromLatin1(c.error))) << r.Err.toStdString();
    }
    const Result wrong = Cli(Login(false) << "-e" << "SELECT 1", QStringLiteral("wrong"));
    EXPECT_EQ(wrong.Status, 1);
    EXPECT_TRUE(wrong.Err.startsWith(QStringLiteral("Access denied"))) << wrong.Err.toStdString();
}
