// calvoro-cli import against the test server: a CSV file from standard input loaded into a
// table, the refused rows reported by line, the rows checked with the mariadb client.
#include "CliProcess.h"
#include "support/MariadbClient.h"
#include "support/QtPrinters.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

using calvoro::test::Cli;
using calvoro::test::RunMariadbTool;
using calvoro::test::Server;

namespace {

QStringList Login() {
    const auto& s = Server();
    return {"import", "-h", QString::fromStdString(s.Host), "-P", QString::number(s.Port), "-u",
            QString::fromStdString(s.NativeUser), "-p", QString::fromStdString(s.NativePassword)};
}

QByteArray Mariadb(const QString& sql) {
    const auto r = RunMariadbTool(QStringLiteral("mariadb"), {"-N", "-B", "-e", sql});
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    return r.Out;
}

TEST(CliImport, LoadsStandardInputAndReportsRefusedLines) {
    Mariadb(QStringLiteral("DROP DATABASE IF EXISTS cli_import; CREATE DATABASE cli_import; "
                           "CREATE TABLE cli_import.`t x` (id INT PRIMARY KEY, v TEXT, n INT)"));
    const QByteArray csv = "\xEF\xBB\xBFn;id;v\r\n1;1;\"a;b\"\r\nNULL;2;\"two\r\nlines\"\r\n3;1;dup\r\n4;4\r\n5;5;NULL\r\n";
    const auto r = Cli(Login() << "-D" << "cli_import" << "--table" << "t x" << "--columns" << "n,id,v"
                               << "--delimiter" << ";" << "--null-marker" << "NULL" << "--skip-lines" << "1" << "-",
                       QString(), csv);
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Out, QString());
    EXPECT_EQ(r.Err, QStringLiteral("line 5: Duplicate entry '1' for key 'PRIMARY'\n"
                                    "line 6: 2 fields where 3 columns are loaded\n"
                                    "3 rows loaded, 2 refused.\n"));
    EXPECT_EQ(Mariadb(QStringLiteral("SELECT id, HEX(v), IFNULL(n, 'NULL') FROM cli_import.`t x` ORDER BY id")),
              QByteArray("1\t613B62\t1\n2\t74776F0D0A6C696E6573\tNULL\n5\tNULL\t5\n"));

    const auto clean = Cli(Login() << "-D" << "cli_import" << "--table" << "t x" << "-", QString(), "9,nine,9\n");
    EXPECT_EQ(clean.Status, 0) << clean.Err.toStdString();
    EXPECT_EQ(clean.Err, QStringLiteral("1 rows loaded, 0 refused.\n"));
    EXPECT_EQ(Mariadb(QStringLiteral("SELECT v FROM cli_import.`t x` WHERE id = 9")), QByteArray("nine\n"));

    const auto missing = Cli(Login() << "-D" << "cli_import" << "--table" << "nope" << "-", QString(), "1\n");
    EXPECT_EQ(missing.Status, 1);
    EXPECT_TRUE(missing.Err.contains(QStringLiteral("doesn't exist"))) << missing.Err.toStdString();
    Mariadb(QStringLiteral("DROP DATABASE cli_import"));
}

}  // namespace
