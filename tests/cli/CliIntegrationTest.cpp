// calvoro-cli exec against the test server, run as a process.
#include "CliProcess.h"
#include "support/LocalListeners.h"
#include "support/MariadbClient.h"
#include "support/QtPrinters.h"
#include "support/TestServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <gtest/gtest.h>

using calvoro::test::Cli;
using calvoro::test::RunMariadbTool;
using calvoro::test::Server;
using calvoro::test::TToolResult;
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
         "Can't connect to MySQL server on '127.0.0.1' (111: Connection refused)\n"},
        {QStringList{"exec", "-S", "/nonexistent/calvoro.sock", "-u", "x", "-e", "SELECT 1"},
         "Can't connect to local MySQL server through socket '/nonexistent/calvoro.sock' (2: No such file or "
         "directory)\n"},
        {QStringList{"exec"}, "calvoro-cli: exec needs -e SQL"},
    };
    for (const auto& c : cases) {
        const Result r = Cli(c.args);
        EXPECT_EQ(r.Status, 1) << c.error;
        EXPECT_EQ(r.Out, QString()) << c.error;
        // Connect errors are one line: the system's words, said once.
        if (QByteArray(c.error).endsWith('\n'))
            EXPECT_EQ(r.Err, QString::fromLatin1(c.error));
        else
            EXPECT_TRUE(r.Err.startsWith(QString::fromLatin1(c.error))) << r.Err.toStdString();
    }
    const Result wrong = Cli(Login(false) << "-e" << "SELECT 1", QStringLiteral("wrong"));
    EXPECT_EQ(wrong.Status, 1);
    EXPECT_TRUE(wrong.Err.startsWith(QStringLiteral("Access denied"))) << wrong.Err.toStdString();
}

// TLS options and the plugins through the program: the session's own status shows the TLS
// version; a CA that did not sign the server's certificate, and an account that requires TLS
// with TLS off, fail with messages that say what to do.
TEST(CliExec, TlsOptionsAndPlugins) {
    const auto& s = Server();
    const auto as = [&](const std::string& user, const std::string& password) {
        return QStringList{"query", "-h", QString::fromStdString(s.Host), "-P", QString::number(s.Port), "-u",
                           QString::fromStdString(user), "-p", QString::fromStdString(password)};
    };
    const QString sslVersion = QStringLiteral(
        "SELECT VARIABLE_VALUE LIKE 'TLSv1._' FROM information_schema.SESSION_STATUS WHERE VARIABLE_NAME = 'SSL_VERSION'");
    struct Case {
        const char* name;
        QStringList args;
        int status;
        QString out, err;  // err: a part of standard error
    } cases[] = {
        {"default PREFERRED", as(s.NativeUser, s.NativePassword) << "-e" << sslVersion, 0, "1\n", ""},
        {"VERIFY_IDENTITY with the CA",
         as(s.TlsUser, s.TlsPassword) << "--ssl-mode" << "VERIFY_IDENTITY" << "--ssl-ca" << QString::fromStdString(s.TlsCA)
                                      << "-e" << sslVersion,
         0, "1\n", ""},
        {"ed25519 account", as(s.Ed25519User, s.Ed25519Password) << "--ssl-mode=DISABLED" << "-e" << sslVersion, 0, "0\n", ""},
        {"VERIFY_CA with another CA",
         as(s.NativeUser, s.NativePassword) << "--ssl-mode" << "VERIFY_CA" << "--ssl-ca"
                                            << QString::fromStdString(s.TlsOtherCA) << "-e" << sslVersion,
         1, "", "The server's certificate did not verify: self-signed certificate in certificate chain (ssl-mode VERIFY_CA)."},
        {"REQUIRE SSL account without TLS", as(s.TlsUser, s.TlsPassword) << "--ssl-mode" << "DISABLED" << "-e" << sslVersion,
         1, "", "Access denied for user '" + QString::fromStdString(s.TlsUser) + "'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = Cli(c.args);
        EXPECT_EQ(r.Status, c.status) << r.Err.toStdString();
        if (c.status == 0) {
            EXPECT_TRUE(r.Out.endsWith(c.out)) << r.Out.toStdString();
        } else {
            EXPECT_TRUE(r.Err.contains(c.err)) << r.Err.toStdString();
        }
    }
}

namespace {

QStringList QueryLogin(const QString& database) {
    const auto& s = Server();
    return {"query", "--host", QString::fromStdString(s.Host), "--port=" + QString::number(s.Port), "--user",
            QString::fromStdString(s.NativeUser), "--password", QString::fromStdString(s.NativePassword),
            "--database", database};
}

// The same statement through the mariadb client in batch mode.
QByteArray MariadbBatch(const QString& database, const QString& sql) {
    const TToolResult r = RunMariadbTool(QStringLiteral("mariadb"), {"--batch", "-D", database, "-e", sql});
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    return r.Out;
}

}  // namespace

TEST(CliQuery, PrintsWhatMariadbBatchPrints) {
    Result r = Cli(Login() << "-e"
                           << "CREATE DATABASE IF NOT EXISTS calvoro_cli; "
                              "CREATE OR REPLACE TABLE calvoro_cli.every (id INT PRIMARY KEY, ti TINYINT(1), "
                              "tu TINYINT UNSIGNED, si SMALLINT, mi MEDIUMINT UNSIGNED, i INT, iu INT UNSIGNED, "
                              "bi BIGINT, bu BIGINT UNSIGNED, d1 DECIMAL(20,2), d2 DECIMAL(65,30), d3 DECIMAL(5,0) "
                              "UNSIGNED, da DATE, dt DATETIME, dt6 DATETIME(6), ts TIMESTAMP(3) NULL, tm TIME, "
                              "tm6 TIME(6), y YEAR, c CHAR(5), v VARCHAR(100), vl VARCHAR(5) CHARACTER SET latin1, "
                              "b BINARY(4), vb VARBINARY(20), tt TEXT, bl MEDIUMBLOB, e ENUM('a','b'), s SET('x','y'), "
                              "j JSON, g GEOMETRY) CHARACTER SET utf8mb4; "
                              "INSERT INTO calvoro_cli.every VALUES "
                              "(1, 1, 255, -32768, 16777215, -2147483648, 4294967295, -9223372036854775808, "
                              "18446744073709551615, 123456789012345678.99, "
                              "-99999999999999999999999999999999999.999999999999999999999999999999, 99999, "
                              "'2024-02-29', '0000-00-00 00:00:00', '2024-03-01 18:30:05.000120', "
                              "'2024-03-01 18:30:05.5', '-838:59:59', '-00:00:01.500000', 2155, 'ab', "
                              "'tab\\there\\nnew line \\\\ and \\0 and \\r \xF0\x9F\x98\x80', 'caf\xC3\xA9', 'ab', "
                              "0x00FF5C090A, REPEAT('long text ', 5000), UNHEX(REPEAT('00FF7F80', 30000)), 'b', "
                              "'x,y', '{\"k\": [1, \"\xC3\xA9\"]}', ST_GeomFromText('POINT(1 2)')), "
                              "(2, -5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, '0000-00-00', '1000-01-01', NULL, NULL, "
                              "'00:00:00', NULL, 0, '', '', '', '', '', '', '', NULL, '', NULL, NULL), "
                              "(3, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
                              "NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
                              "NULL, NULL)");
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();

    const QString sql = QStringLiteral("SELECT * FROM every ORDER BY id");
    const QByteArray expected = MariadbBatch(QStringLiteral("calvoro_cli"), sql);
    ASSERT_GT(expected.size(), 100000);
    for (bool prepared : {false, true}) {
        SCOPED_TRACE(prepared ? "prepared" : "text");
        QStringList args = QueryLogin(QStringLiteral("calvoro_cli"));
        if (prepared) args << "--prepared";
        r = Cli(args << "-e" << sql);
        EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
        EXPECT_EQ(r.Err, QStringLiteral("3 rows\n"));
        if (r.OutBytes != expected) {
            // The first line that differs, for the failure message.
            const QList<QByteArray> ours = r.OutBytes.split('\n'), theirs = expected.split('\n');
            for (qsizetype i = 0; i < std::max(ours.size(), theirs.size()); ++i) {
                const QByteArray a = ours.value(i), b = theirs.value(i);
                if (a == b) continue;
                qsizetype at = 0;
                while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
                ADD_FAILURE() << "line " << i << " differs at byte " << at << ": ours "
                              << a.mid(std::max<qsizetype>(at - 40, 0), 80).toStdString() << " | mariadb "
                              << b.mid(std::max<qsizetype>(at - 40, 0), 80).toStdString();
                break;
            }
        }
    }
}

TEST(CliQuery, FloatsBitsAndSeveralResults) {
    // Floats are their shortest round-trip text and BIT columns numbers, in both protocols;
    // results follow one another after an empty line.
    Result r = Cli(Login() << "-e"
                           << "CREATE DATABASE IF NOT EXISTS calvoro_cli; "
                              "CREATE OR REPLACE TABLE calvoro_cli.nums (f FLOAT, g DOUBLE, b BIT(64), s BIT(3)); "
                              "INSERT INTO calvoro_cli.nums VALUES (1.1, 0.30000000000000004, "
                              "0xFFFFFFFFFFFFFFFF, b'101'), (-3.25, 1e-300, 0, 0)");
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    for (bool prepared : {false, true}) {
        QStringList args = QueryLogin(QStringLiteral("calvoro_cli"));
        if (prepared) args << "--prepared";
        r = Cli(args << "-e" << "SELECT * FROM nums");
        EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
        EXPECT_EQ(r.Out, QStringLiteral("f\tg\tb\ts\n1.1\t0.30000000000000004\t18446744073709551615\t5\n"
                                        "-3.25\t1e-300\t0\t0\n"));
    }
    r = Cli(QueryLogin(QStringLiteral("calvoro_cli")) << "-e" << "SELECT 1 AS a; DO 0; SELECT 2 AS b, NULL AS c");
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(r.Out, QStringLiteral("a\n1\n\nb\tc\n2\tNULL\n"));
    EXPECT_EQ(r.Err, QStringLiteral("1 row\n1 row\n"));

    r = Cli(QueryLogin(QStringLiteral("calvoro_cli")) << "-e" << "DELETE FROM nums WHERE f < 0");
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(r.Out, QString());
    EXPECT_EQ(r.Err, QStringLiteral("Rows affected: 1\n"));

    r = Cli(QueryLogin(QStringLiteral("calvoro_cli")) << "--prepared" << "-e" << "SELECT * FROM no_such_table");
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(r.Err.startsWith(QStringLiteral("Table 'calvoro_cli.no_such_table' doesn't exist"))) << r.Err.toStdString();
}

namespace {

QStringList ScriptLogin() {
    QStringList args = Login();
    args[0] = QStringLiteral("script");
    return args << "-D" << "calvoro_cli";
}

}  // namespace

// A result without rows prints nothing, as mariadb --batch does; one with rows its header
// and rows. Each statement is compared with the mariadb client's output.
TEST(CliQuery, AResultWithoutRowsPrintsNothing) {
    Result r = Cli(Login() << "-e"
                           << "CREATE DATABASE IF NOT EXISTS calvoro_cli; "
                              "CREATE OR REPLACE TABLE calvoro_cli.empty_one (id INT, name VARCHAR(10))");
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    for (const QString& sql : {QStringLiteral("SELECT * FROM empty_one"), QStringLiteral("SELECT 1 AS a FROM DUAL WHERE 0"),
                              QStringLiteral("SELECT 1 AS a, 'x' AS b")}) {
        SCOPED_TRACE(sql.toStdString());
        const QByteArray expected = MariadbBatch(QStringLiteral("calvoro_cli"), sql);
        for (bool prepared : {false, true}) {
            QStringList args = QueryLogin(QStringLiteral("calvoro_cli"));
            if (prepared) args << "--prepared";
            r = Cli(args << "-e" << sql);
            EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
            EXPECT_EQ(r.OutBytes, expected);
        }
    }
    // Among several results, an empty one leaves no trace between the others.
    r = Cli(QueryLogin(QStringLiteral("calvoro_cli")) << "-e"
                                                      << "SELECT 1 AS a; SELECT * FROM empty_one; SELECT 2 AS b");
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(r.Out, QStringLiteral("a\n1\n\nb\n2\n"));
    EXPECT_EQ(r.Err, QStringLiteral("1 row\n0 rows\n1 row\n"));
}

// The transports: the Unix socket (a password account, and the account of the user the tests
// run as, which logs in by the socket's peer alone), --protocol tcp beside a socket, IPv6.
TEST(CliConnect, SocketTcpAndIPv6) {
    const auto& s = Server();
    const QString socket = QString::fromStdString(s.Socket);
    // How the server sees the connection: "localhost" for the socket, "<address>:<port>" for TCP.
    const QString peer = QStringLiteral("SELECT CURRENT_USER(), IF(HOST = 'localhost', 'socket', SUBSTRING_INDEX(HOST, ':', "
                                        "IF(HOST LIKE '::1:%', 3, 1))) FROM information_schema.PROCESSLIST "
                                        "WHERE ID = CONNECTION_ID()");
    const QString native = QString::fromStdString(s.NativeUser), password = QString::fromStdString(s.NativePassword);
    const QString port = QString::number(s.Port);
    struct Case {
        const char* name;
        QStringList args;
        QString out;
    } cases[] = {
        {"-S with a password", {"-S", socket, "-u", native, "-p", password}, native + "@%\tsocket\n"},
        {"--socket as the user the tests run as, no password",
         {"--socket=" + socket, "-u", QString::fromStdString(s.SocketUser), "-p", ""},
         QString::fromStdString(s.SocketUser) + "@localhost\tsocket\n"},
        {"--protocol tcp leaves the socket aside",
         {"-S", socket, "--protocol", "tcp", "-h", "127.0.0.1", "-P", port, "-u", native, "-p", password},
         native + "@%\t127.0.0.1\n"},
        {"the port written with the host", {"-h", "127.0.0.1:" + port, "-P", "1", "-u", native, "-p", password},
         native + "@%\t127.0.0.1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = Cli(QStringList{"query"} << c.args << "-e" << peer);
        EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
        EXPECT_EQ(r.Out.section(u'\n', 1), c.out) << r.Out.toStdString();
    }
    if (s.IPv6Host.empty()) {
        GTEST_SKIP() << "the test server does not listen on ::1: this machine has no IPv6 loopback";
    }
    for (const QStringList& host : {QStringList{"-h", "::1", "-P", port}, QStringList{"-h", "[::1]:" + port}}) {
        SCOPED_TRACE(host.join(u' ').toStdString());
        const Result r = Cli(QStringList{"query"} << host << "-u" << native << "-p" << password << "-e" << peer);
        EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
        EXPECT_EQ(r.Out.section(u'\n', 1), native + "@%\t::1\n") << r.Out.toStdString();
    }
}

// A server that takes the connection and never answers: --connect-timeout ends the wait.
TEST(CliConnect, ConnectTimeout) {
    const calvoro::test::TLocalListener silent(false);
    QElapsedTimer timer;
    timer.start();
    const Result r = Cli({"exec", "-h", "127.0.0.1", "-P", QString::number(silent.Port()), "--connect-timeout", "2",
                          "-u", "x", "-p", "y", "-e", "SELECT 1"});
    const qint64 elapsed = timer.elapsed();
    EXPECT_EQ(r.Status, 1);
    EXPECT_GE(elapsed, 1900);
    EXPECT_LT(elapsed, 8000);  // the program's start and end too, under sanitizers
    EXPECT_EQ(r.Err, QStringLiteral("Can't connect to MySQL server on '127.0.0.1' (110: Connection timed out)\r\n"
                                    "The server took the connection but did not complete the login within the "
                                    "connect time-out (2 s).\n"));
}

TEST(CliScript, ReportsFailuresByLineAndGoesOn) {
    ASSERT_EQ(Cli(Login() << "-e" << "CREATE DATABASE IF NOT EXISTS calvoro_cli").Status, 0);
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    file.write("CREATE OR REPLACE TABLE steps (n INT);\n"
               "-- a comment line\n"
               "\n"
               "  INSERT INTO no_such_table VALUES (1),\n"
               "    (2);\n"
               "DELIMITER $$\n"
               "INSERT INTO steps VALUES (3)$$\n"
               "SELEC 4$$\n"
               "DELIMITER ;\n"
               "INSERT INTO steps VALUES (5);\n");
    file.close();

    Result r = Cli(ScriptLogin() << file.fileName());
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Out, QString());
    const QStringList lines = r.Err.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5) << r.Err.toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("line 4: INSERT INTO no_such_table VALUES (1),"));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("ERROR 1146 (42S02): Table 'calvoro_cli.no_such_table' doesn't exist")))
        << lines[1].toStdString();
    EXPECT_EQ(lines[2], QStringLiteral("line 8: SELEC 4"));
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("ERROR 1064 (42000): You have an error in your SQL syntax")));
    EXPECT_EQ(lines[4], QStringLiteral("5 statements, 2 failed"));
    EXPECT_EQ(MariadbBatch(QStringLiteral("calvoro_cli"), QStringLiteral("SELECT n FROM steps")), QByteArray("n\n3\n5\n"));

    // Stopping at the first failure.
    r = Cli(ScriptLogin() << "--stop-on-error" << file.fileName());
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(r.Err.endsWith(QStringLiteral("2 statements, 1 failed\n"))) << r.Err.toStdString();
    EXPECT_EQ(MariadbBatch(QStringLiteral("calvoro_cli"), QStringLiteral("SELECT COUNT(*) FROM steps")), QByteArray("COUNT(*)\n0\n"));
}

TEST(CliScript, StandardInputAndBytesAsTheyAre) {
    ASSERT_EQ(Cli(Login() << "-e" << "CREATE DATABASE IF NOT EXISTS calvoro_cli").Status, 0);
    const QByteArray script = "CREATE OR REPLACE TABLE raw (t TEXT CHARACTER SET utf8mb4, b BLOB);\n"
                              "INSERT INTO raw VALUES ('\xF0\x9F\x98\x80 :x &y', 'a\xFF\x80\nb');";
    const Result r = Cli(ScriptLogin() << "-", QString(), script);
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(r.Err, QStringLiteral("2 statements, 0 failed\n"));
    EXPECT_EQ(MariadbBatch(QStringLiteral("calvoro_cli"), QStringLiteral("SELECT HEX(t), HEX(b) FROM raw")),
              QByteArray("HEX(t)\tHEX(b)\nF09F9880203A78202679\t61FF800A62\n"));
}

TEST(CliScript, WhatCannotBeReadEndsWithStatusOne) {
    struct Case {
        const char* name;
        QByteArray input;
        const char* file;
        const char* err;  // the start of standard error
    };
    const Case cases[] = {
        {"no such file", {}, "/no/such/file.sql", "Cannot open file \"/no/such/file.sql\""},
        {"binary garbage", QByteArray("SELECT 1;\nSELECT \x01;\n"), "-", "line 2: Parser: The unknown symbol"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = Cli(ScriptLogin() << QString::fromLatin1(c.file), QString(), c.input);
        EXPECT_EQ(r.Status, 1);
        EXPECT_TRUE(r.Err.startsWith(QString::fromLatin1(c.err))) << r.Err.toStdString();
    }
}

namespace {

QStringList DumpLogin(const char* command) {
    QStringList args = Login();
    args[0] = QString::fromLatin1(command);
    return args;
}

QByteArray ReadFile(const QString& name) {
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

}  // namespace

TEST(CliDump, BackupThenRestoreIntoAnotherDatabase) {
    ASSERT_EQ(Cli(Login() << "-e"
                          << "DROP DATABASE IF EXISTS calvoro_cli_copy; CREATE DATABASE calvoro_cli_copy; "
                             "CREATE DATABASE IF NOT EXISTS calvoro_cli; "
                             "CREATE OR REPLACE TABLE calvoro_cli.kept (id INT PRIMARY KEY, t VARCHAR(20) CHARACTER SET "
                             "utf8mb4, b VARBINARY(8)); "
                             "INSERT INTO calvoro_cli.kept VALUES (1, 'caf\xC3\xA9 \xF0\x9F\x90\xAC', 0x00FF), (2, NULL, '')")
                  .Status,
              0);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("kept.sql"));
    Result r = Cli(DumpLogin("backup") << "-D" << "calvoro_cli" << "--tables" << "kept" << "-o" << file);
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(r.Out, QString());
    EXPECT_EQ(r.Err, QString());  // no terminal: no progress bar
    // Without -o the same script goes to standard output.
    r = Cli(DumpLogin("backup") << "-D" << "calvoro_cli" << "--tables" << "kept");
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    const QByteArray written = ReadFile(file);
    EXPECT_TRUE(written.contains("INSERT INTO `kept` VALUES")) << written.constData();
    // The header's date line is the only one that may differ.
    const auto withoutDate = [](QByteArray text) {
        const qsizetype at = text.indexOf("-- Script date");
        return text.remove(at, text.indexOf('\n', at) - at);
    };
    EXPECT_EQ(withoutDate(r.OutBytes), withoutDate(written));

    // Restored from standard input into another database, with one statement of our own
    // that fails: reported by line, counted, status 1.
    r = Cli(DumpLogin("restore") << "-D" << "calvoro_cli_copy" << "-", QString(),
            written + "INSERT INTO `kept` VALUES (1, 'twice', NULL);\n");
    EXPECT_EQ(r.Status, 1);
    const QStringList lines = r.Err.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << r.Err.toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("line %1: INSERT INTO `kept` VALUES (1, 'twice', NULL)").arg(written.count('\n') + 1));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("ERROR 1062 (23000): Duplicate entry '1'"))) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].endsWith(QStringLiteral(" statements, 1 failed"))) << lines[2].toStdString();
    EXPECT_EQ(MariadbBatch(QStringLiteral("calvoro_cli_copy"), QStringLiteral("SELECT id, HEX(t), HEX(b) FROM kept")),
              QByteArray("id\tHEX(t)\tHEX(b)\n1\t636166C3A920F09F90AC\t00FF\n2\tNULL\t\n"));

    // The file itself restores without a failure.
    r = Cli(DumpLogin("restore") << "-D" << "calvoro_cli_copy" << file);
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_TRUE(r.Err.endsWith(QStringLiteral(" statements, 0 failed\n"))) << r.Err.toStdString();
    ASSERT_EQ(Cli(Login() << "-e" << "DROP DATABASE calvoro_cli_copy").Status, 0);
}

// A backup whose rows are read on three more connections writes the file of one connection;
// an account that may not take the global read lock gets the same file on one connection and
// a note saying why.
TEST(CliDump, ABackupOnSeveralConnectionsWritesTheFileOfOne) {
    ASSERT_EQ(Cli(Login() << "-e"
                          << "CREATE DATABASE IF NOT EXISTS calvoro_cli; "
                             "CREATE OR REPLACE TABLE calvoro_cli.spread (id INT PRIMARY KEY, v VARCHAR(30)) ENGINE=InnoDB; "
                             "INSERT INTO calvoro_cli.spread SELECT seq, CONCAT('row ', seq) FROM calvoro_cli.seq_1_to_5000; "
                             "DROP USER IF EXISTS 'calvoro_cli_nolock'@'%'; "
                             "CREATE USER 'calvoro_cli_nolock'@'%' IDENTIFIED BY 'No-lock-2'; "
                             "GRANT SELECT, SHOW VIEW, LOCK TABLES ON calvoro_cli.* TO 'calvoro_cli_nolock'@'%'")
                  .Status,
              0);
    const auto withoutDate = [](QByteArray text) {
        const qsizetype at = text.indexOf("-- Script date");
        return text.remove(at, text.indexOf('\n', at) - at);
    };
    const QStringList backup = DumpLogin("backup") << "-D" << "calvoro_cli" << "--tables" << "spread";
    const Result one = Cli(backup);
    ASSERT_EQ(one.Status, 0) << one.Err.toStdString();
    ASSERT_TRUE(one.OutBytes.contains("(5000, 'row 5000');"));
    const Result four = Cli(QStringList(backup) << "--parallel" << "3");
    EXPECT_EQ(four.Status, 0);
    EXPECT_EQ(four.Err, QString());
    EXPECT_EQ(withoutDate(four.OutBytes), withoutDate(one.OutBytes));

    QStringList limited = backup;
    limited[limited.indexOf(QStringLiteral("-u")) + 1] = QStringLiteral("calvoro_cli_nolock");
    limited[limited.indexOf(QStringLiteral("-p")) + 1] = QStringLiteral("No-lock-2");
    const Result fallback = Cli(limited << "--parallel" << "3");
    EXPECT_EQ(fallback.Status, 0);
    EXPECT_TRUE(fallback.Err.startsWith(QStringLiteral("calvoro-cli: The backup runs on one connection")))
        << fallback.Err.toStdString();
    EXPECT_TRUE(fallback.Err.contains(QStringLiteral("RELOAD"))) << fallback.Err.toStdString();
    EXPECT_EQ(withoutDate(fallback.OutBytes), withoutDate(one.OutBytes));
    ASSERT_EQ(Cli(Login() << "-e" << "DROP USER 'calvoro_cli_nolock'@'%'; DROP TABLE calvoro_cli.spread").Status, 0);
}

// The report's reproduction: a table whose name is backticks around SQL. The backup runs
// nothing of it, and its script restores the three tables into another database.
TEST(CliDump, ATableNameRunsNoSqlInABackup) {
    ASSERT_EQ(Cli(Login() << "-e"
                          << "DROP DATABASE IF EXISTS calvoro_cli_inj; DROP DATABASE IF EXISTS calvoro_cli_inj_copy; "
                             "CREATE DATABASE calvoro_cli_inj; CREATE DATABASE calvoro_cli_inj_copy; "
                             "CREATE TABLE calvoro_cli_inj.victim (id INT); CREATE TABLE calvoro_cli_inj.x (id INT); "
                             "CREATE TABLE calvoro_cli_inj.```x``;DROP TABLE calvoro_cli_inj.victim;SELECT ``1``` (id INT)")
                  .Status,
              0);
    const auto tablesOf = [](const char* db) {
        return MariadbBatch(QStringLiteral("information_schema"),
                            QStringLiteral("SELECT TABLE_NAME FROM TABLES WHERE TABLE_SCHEMA = '%1' ORDER BY "
                                           "CAST(TABLE_NAME AS BINARY)")
                                .arg(QLatin1String(db)));
    };
    const QByteArray all("TABLE_NAME\n`x`;DROP TABLE calvoro_cli_inj.victim;SELECT `1`\nvictim\nx\n");
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("inj.sql"));
    // Every table; the same named as typed (the crafted one in backticks); names quoted only
    // where needed.
    const QStringList options[] = {
        {},
        {"--tables", "```x``;DROP TABLE calvoro_cli_inj.victim;SELECT ``1```,x, victim"},
        {"--no-quote-names"},
    };
    for (const QStringList& more : options) {
        SCOPED_TRACE(more.join(u' ').toStdString());
        Result r = Cli(DumpLogin("backup") << "-D" << "calvoro_cli_inj" << more << "-o" << file);
        ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
        EXPECT_EQ(tablesOf("calvoro_cli_inj"), all);
        r = Cli(DumpLogin("restore") << "-D" << "calvoro_cli_inj_copy" << file);
        EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
        EXPECT_EQ(tablesOf("calvoro_cli_inj"), all);
        EXPECT_EQ(tablesOf("calvoro_cli_inj_copy"), all);
    }
    ASSERT_EQ(Cli(Login() << "-e" << "DROP DATABASE calvoro_cli_inj; DROP DATABASE calvoro_cli_inj_copy").Status, 0);
}

TEST(CliDump, AFailedBackupKeepsTheOldFile) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("old.sql"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("-- the old backup\n");
    }
    ASSERT_EQ(Cli(Login() << "-e" << "CREATE DATABASE IF NOT EXISTS calvoro_cli").Status, 0);
    struct Case {
        QStringList args;
        const char* err;
    } cases[] = {
        {DumpLogin("backup") << "-D" << "calvoro_cli" << "--tables" << "no_such_table" << "-o" << file,
         "Table 'calvoro_cli.no_such_table' doesn't exist"},
        {DumpLogin("backup") << "-D" << "calvoro_cli" << "--objects" << "tables,everything" << "-o" << file,
         "calvoro-cli: 'everything' is not an object kind"},
        {DumpLogin("backup") << "-o" << file, "calvoro-cli: backup needs -D DATABASE"},
        {DumpLogin("backup") << "-D" << "calvoro_cli" << "--tables" << "`kept" << "-o" << file,
         "calvoro-cli: --tables: The name `kept has no closing backtick"},
        {DumpLogin("restore") << "/no/such/file.sql", "Cannot open file \"/no/such/file.sql\""},
    };
    for (const Case& c : cases) {
        const Result r = Cli(c.args);
        EXPECT_EQ(r.Status, 1);
        EXPECT_TRUE(r.Err.startsWith(QString::fromLatin1(c.err))) << r.Err.toStdString();
    }
    EXPECT_EQ(ReadFile(file), QByteArray("-- the old backup\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("old.sql")});
}

// --max-allowed-packet reaches the client: a row larger than it fails with the packet error,
// the same row fits under a larger one.
TEST(CliQuery, MaxAllowedPacketBoundsWhatIsRead) {
    QStringList query = Login();
    query[0] = QStringLiteral("query");
    const QString sql = QStringLiteral("SELECT REPEAT('x', 10000) AS x");
    Result r = Cli(QStringList(query) << "--max-allowed-packet" << "8K" << "-e" << sql);
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(r.Err.contains(QStringLiteral("Got packet bigger than 'max_allowed_packet'"))) << r.Err.toStdString();
    r = Cli(QStringList(query) << "--max-allowed-packet=16k" << "-e" << sql);
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(r.Out, QStringLiteral("x\n") + QString(10000, u'x') + QStringLiteral("\n"));
}

// An account and a database whose names and password lie outside the 8-bit code page: the
// query, the backup (on a connection of its own) and the restore log in and pick the database.
TEST(CliLogin, NonLatinUserPasswordAndDatabase) {
    const auto& s = Server();
    const QString user = QStringLiteral("calvoro_cli_J\u00fcrgen_\u7528\u6237");
    const QString password = QStringLiteral("\u043f\u0430\u0440\u043e\u043b\u044c\u2713");
    const QString db = QStringLiteral("\u00c4rger_\u52a8\u7269");
    const QString copy = QStringLiteral("\u00c4rger_\u52a8\u7269_copy");
    const TToolResult setup = RunMariadbTool(
        QStringLiteral("mariadb"),
        {"-e", QStringLiteral("DROP USER IF EXISTS '%1'@'%'; CREATE USER '%1'@'%' IDENTIFIED BY '%2'; "
                              "DROP DATABASE IF EXISTS `%3`; CREATE DATABASE `%3`; "
                              "DROP DATABASE IF EXISTS `%4`; CREATE DATABASE `%4`; "
                              "CREATE TABLE `%3`.`Tier` (id INT PRIMARY KEY, name VARCHAR(20) CHARACTER SET utf8mb4); "
                              "INSERT INTO `%3`.`Tier` VALUES (1, '\u72d7'); "
                              "GRANT ALL ON `%3`.* TO '%1'@'%'; GRANT ALL ON `%4`.* TO '%1'@'%'")
                   .arg(user, password, db, copy)});
    ASSERT_EQ(setup.Status, 0) << setup.Err.toStdString();
    const auto as = [&](const char* command) {
        return QStringList{QString::fromLatin1(command), "-h", QString::fromStdString(s.Host), "-P",
                           QString::number(s.Port), "-u", user, "-p", password};
    };
    const auto hex = [](const QString& text) { return QString::fromLatin1(text.toUtf8().toHex().toUpper()); };

    Result r = Cli(as("query") << "-D" << db << "-e" << "SELECT HEX(DATABASE()), HEX(CURRENT_USER()), name FROM Tier");
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(r.Out, QStringLiteral("HEX(DATABASE())\tHEX(CURRENT_USER())\tname\n%1\t%2\t\u72d7\n")
                         .arg(hex(db), hex(user + QStringLiteral("@%"))));

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("tier.sql"));
    r = Cli(as("backup") << "-D" << db << "-o" << file);
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_TRUE(ReadFile(file).contains("INSERT INTO `Tier`")) << ReadFile(file).constData();
    EXPECT_TRUE(ReadFile(file).contains("-- Database: " + db.toUtf8() + "\r\n")) << ReadFile(file).constData();
    r = Cli(as("restore") << "-D" << copy << file);
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(MariadbBatch(copy, QStringLiteral("SELECT id, HEX(name) FROM Tier")),
              QByteArray("id\tHEX(name)\n1\tE78B97\n"));
}

// A backup of statements of a chosen size, committed in bounded transactions, restored on
// three connections: a failure among the rows is reported once by its line and the rest goes
// on; with --stop-on-error nothing after that table's rows starts.
TEST(CliDump, StatementSizeAndARestoreOnSeveralConnections) {
    ASSERT_EQ(Cli(Login() << "-e"
                          << "CREATE DATABASE IF NOT EXISTS calvoro_cli; "
                             "CREATE OR REPLACE TABLE calvoro_cli.numbered (id INT PRIMARY KEY, t VARCHAR(40)) ENGINE=InnoDB; "
                             "INSERT INTO calvoro_cli.numbered SELECT seq, CONCAT('row ', seq) FROM calvoro_cli.seq_1_to_3000; "
                             "CREATE OR REPLACE TABLE calvoro_cli.later (id INT); "
                             "INSERT INTO calvoro_cli.later VALUES (1)")
                  .Status,
              0);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("rows.sql"));
    Result r = Cli(DumpLogin("backup") << "-D" << "calvoro_cli" << "--tables" << "numbered,later" << "--statement-size"
                                       << "4K" << "--transaction-size" << "16K" << "-o" << file);
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    QList<QByteArray> lines = ReadFile(file).split('\n');
    // Statements of at most 4 KiB, at least half of it; a COMMIT after every 16 KiB or so.
    int statements = 0, commits = 0;
    qsizetype length = 0;
    for (const QByteArray& line : lines) {
        if (line.startsWith("INSERT INTO")) length = 0;
        length += line.size() + 1;
        if (line.startsWith("  (") && line.endsWith(");\r")) {
            ++statements;
            EXPECT_LE(length, 4096);
            if (statements < 10) {
                EXPECT_GT(length, 2048);
            }
        }
        commits += line == "COMMIT;\r";
    }
    EXPECT_GT(statements, 10);
    EXPECT_GE(commits, statements / 5);
    EXPECT_LE(commits, statements / 3 + 2);  // and one at the end of each table
    EXPECT_TRUE(lines.contains("SET autocommit=0;\r"));

    // A statement of our own among the rows, after the tenth INSERT, that fails whatever ran
    // before it (a duplicate key would fail whichever of the two came second).
    int inserts = 0, at = -1;
    for (int i = 0; i < lines.size() && at < 0; ++i)
        if (lines[i].startsWith("INSERT INTO `numbered`") && ++inserts == 10) at = i;
    ASSERT_GT(at, 0);
    lines.insert(at, "INSERT INTO `numbered` VALUES (NULL, 'no id');\r");
    const QByteArray script = lines.join('\n');
    struct Case {
        bool stopOnError;
        const char* laterRows;  // of the table after the failing one
    } cases[] = {{false, "COUNT(*)\n1\n"}, {true, ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stopOnError ? "--stop-on-error" : "going on");
        ASSERT_EQ(Cli(Login() << "-e" << "DROP DATABASE IF EXISTS calvoro_cli_copy; CREATE DATABASE calvoro_cli_copy")
                      .Status,
                  0);
        QStringList args = DumpLogin("restore") << "-D" << "calvoro_cli_copy" << "--parallel" << "3";
        if (c.stopOnError) args << "--stop-on-error";
        r = Cli(args << "-", QString(), script);
        EXPECT_EQ(r.Status, 1);
        const QStringList err = r.Err.split(u'\n', Qt::SkipEmptyParts);
        ASSERT_EQ(err.size(), 3) << r.Err.toStdString();
        EXPECT_EQ(err[0], QStringLiteral("line %1: INSERT INTO `numbered` VALUES (NULL, 'no id')").arg(at + 1));
        EXPECT_TRUE(err[1].startsWith(QStringLiteral("ERROR 1048 (23000): Column 'id' cannot be null"))) << err[1].toStdString();
        EXPECT_TRUE(err[2].endsWith(QStringLiteral(" statements, 1 failed"))) << err[2].toStdString();
        if (!c.stopOnError) {
            EXPECT_EQ(MariadbBatch(QStringLiteral("calvoro_cli_copy"),
                                   QStringLiteral("SELECT COUNT(*), SUM(t = CONCAT('row ', id)) FROM `numbered`")),
                      QByteArray("COUNT(*)\tSUM(t = CONCAT('row ', id))\n3000\t3000\n"));
        }
        const TToolResult later = RunMariadbTool(QStringLiteral("mariadb"),
                                                 {QStringLiteral("--batch"), QStringLiteral("-e"),
                                                  QStringLiteral("SELECT COUNT(*) FROM calvoro_cli_copy.later")});
        EXPECT_EQ(later.Out, QByteArray(c.laterRows)) << later.Err.toStdString();
    }
    ASSERT_EQ(Cli(Login() << "-e" << "DROP DATABASE calvoro_cli_copy").Status, 0);
}
