// calvoro-cli query --format against the test server: the files read back by Python's csv and
// json modules hold the exact values, and the SQL form restores the same rows.
#include "CliProcess.h"
#include "support/TestServer.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/resource.h>

using calvoro::test::Cli;
using calvoro::test::Server;
using Result = calvoro::test::TCliResult;

namespace {

QStringList Login(const char* command) {
    const auto& s = Server();
    return {command, "-h", QString::fromStdString(s.Host), "-P", QString::number(s.Port), "-u",
            QString::fromStdString(s.NativeUser), "-p", QString::fromStdString(s.NativePassword)};
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const char* const Select = "SELECT id, s, d, b, big, dt, f FROM t ORDER BY id";

class CliExport : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const Result r = Cli(Login("exec") << "-e" <<
            "CREATE DATABASE IF NOT EXISTS calvoro_cli_export; USE calvoro_cli_export; "
            "CREATE OR REPLACE TABLE t (id INT PRIMARY KEY, s VARCHAR(100) CHARACTER SET utf8mb4, "
            "d DECIMAL(30,10), b BLOB, big BIGINT UNSIGNED, dt DATETIME(6), f DOUBLE); "
            "INSERT INTO t VALUES "
            "(1, 'plain', 12.5, 0x000102FF00, 18446744073709551615, '2024-03-01 18:30:05.123456', 0.1), "
            "(2, '', NULL, '', NULL, NULL, NULL), "
            "(3, NULL, -0.0000000001, NULL, 9007199254740993, '1000-01-01', -1.5e-7), "
            "(4, CONCAT('say \"hi\", a,b', CHAR(13), CHAR(10), 'next', CHAR(9), 'line\\\\ ', "
            "_utf8mb4 0xF09F9880), 99999999999999999999.9999999999, 0x00, 0, '9999-12-31 23:59:59.999999', 1e300)");
        ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    }

    QStringList Query(const QString& sql = QString::fromLatin1(Select)) {
        return Login("query") << "-D" << "calvoro_cli_export" << "-e" << sql;
    }

    QTemporaryDir dir;
};

TEST_F(CliExport, CsvAndJsonReadBackByPython) {
    const QString csv = dir.filePath("t.csv"), json = dir.filePath("t.json");
    Result r = Cli(Query() << "--format" << "csv" << "--null" << "\\N" << "-o" << csv);
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(r.Out, QString());
    EXPECT_EQ(r.Err, QStringLiteral("4 rows\n"));
    r = Cli(Query() << "--format" << "json" << "--output" << json);
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();

    QProcess python;
    python.setProcessChannelMode(QProcess::MergedChannels);
    python.start("python3", {QStringLiteral(CALVORO_EXPORT_READBACK), csv, json});
    ASSERT_TRUE(python.waitForFinished(60000));
    EXPECT_EQ(python.exitCode(), 0) << python.readAll().toStdString();
}

TEST_F(CliExport, CsvToStandardOutputKeepsNullApartFromEmpty) {
    const Result r = Cli(Query("SELECT id, s, b FROM t WHERE id IN (2, 3) ORDER BY id") << "--format" << "csv");
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    EXPECT_EQ(r.OutBytes, QByteArray("id,s,b\r\n2,\"\",0x\r\n3,,\r\n"));
}

TEST_F(CliExport, SqlRestoresTheSameRows) {
    const QString sql = dir.filePath("t.sql");
    Result r = Cli(Query() << "--format" << "sql" << "--table" << "t_copy" << "-o" << sql);
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    r = Cli(Login("exec") << "-D" << "calvoro_cli_export" << "-e" << "CREATE OR REPLACE TABLE t_copy LIKE t");
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    r = Cli(Login("script") << "-D" << "calvoro_cli_export" << "--stop-on-error" << sql);
    ASSERT_EQ(r.Status, 0) << r.Err.toStdString() << ReadFile(sql).toStdString();

    const Result original = Cli(Query());
    const Result copy = Cli(Query(QString::fromLatin1(Select).replace(" t ", " t_copy ")));
    ASSERT_EQ(original.Status, 0);
    EXPECT_EQ(copy.OutBytes, original.OutBytes);
    EXPECT_EQ(original.OutBytes.count('\n'), 5);
}

TEST_F(CliExport, BadOptionsAreRefused) {
    struct Case {
        QStringList extra;
        const char* error;
    } cases[] = {
        {{"--format", "xml"}, "calvoro-cli: --format takes csv, tsv, json or sql, not 'xml'"},
        {{"--format", "sql"}, "calvoro-cli: --format sql needs --table NAME"},
        {{"--format", "json", "--null", "x"}, "calvoro-cli: --null, --no-header and --binary go with --format csv or tsv"},
        {{"--format", "csv", "--table", "t"}, "calvoro-cli: --table goes with --format sql"},
        {{"--format", "csv", "-o", "/nonexistent/dir/x.csv"}, "Cannot write /nonexistent/dir/x.csv"},
    };
    for (const Case& c : cases) {
        const Result r = Cli(Query() << c.extra);
        EXPECT_EQ(r.Status, 1) << c.error;
        EXPECT_TRUE(r.Err.startsWith(QString::fromLatin1(c.error))) << r.Err.toStdString();
    }
}

TEST_F(CliExport, LargeResultStreamsInBoundedMemory) {
    // The process's peak memory hardly grows with the result: rows pass through. Memory freed
    // stays out of use for a while under AddressSanitizer; here it is reused at once.
    const QByteArray asan = qgetenv("ASAN_OPTIONS");
    qputenv("ASAN_OPTIONS", asan + (asan.isEmpty() ? "" : ":") + "quarantine_size_mb=0");
    const auto restore = qScopeGuard([&] { qputenv("ASAN_OPTIONS", asan); });
    auto peakKiB = [&](int rows) {
        const Result r = Cli(Query(QStringLiteral("SELECT seq, REPEAT('x', 200) AS pad FROM seq_1_to_%1").arg(rows))
                             << "--format" << "json" << "-o" << dir.filePath("big.json"));
        EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
        EXPECT_EQ(QFileInfo(dir.filePath("big.json")).size() > rows * 200, true);
        rusage usage{};
        getrusage(RUSAGE_CHILDREN, &usage);
        return usage.ru_maxrss;
    };
    const long small = peakKiB(1000);
    const long large = peakKiB(300000);  // about 70 MB of output
    EXPECT_LT(large - small, 30 * 1024) << small << " KiB, then " << large << " KiB";
}

}  // namespace
