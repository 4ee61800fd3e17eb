// calvoro-cli processlist and kill against the test server, run as processes: a statement
// sleeping in another calvoro-cli is listed (cut short without --full, whole with it), loses its
// statement to kill --query and its connection to kill; ids that are not there fail one by one.
#include "CliProcess.h"
#include "support/QtPrinters.h"
#include "support/TestServer.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

using calvoro::test::Cli;
using calvoro::test::Server;
using calvoro::test::StartCli;
using Result = calvoro::test::TCliResult;

namespace {

QStringList Login(const char* command) {
    const auto& s = Server();
    return {QString::fromLatin1(command), "-h", QString::fromStdString(s.Host), "-P", QString::number(s.Port), "-u",
            QString::fromStdString(s.NativeUser), "-p", QString::fromStdString(s.NativePassword)};
}

// The rows of processlist as fields, the header first.
QList<QStringList> Rows(const QString& out) {
    QList<QStringList> rows;
    for (const QString& line : out.split(u'\n', Qt::SkipEmptyParts)) rows << line.split(u'\t');
    return rows;
}

// The row whose Info begins with `statement`, once it is there.
QStringList WaitForRow(const QString& statement, const QStringList& extra = {}) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 15000) {
        const Result r = Cli(Login("processlist") << extra);
        EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
        for (const QStringList& row : Rows(r.Out))
            if (row.size() == 8 && row[7].startsWith(statement)) return row;
        QThread::msleep(100);
    }
    ADD_FAILURE() << "no process runs " << statement.toStdString();
    return {};
}

TEST(CliAdmin, ProcessListShowsTheStatement) {
    // A statement longer than 100 characters, sleeping.
    const QString statement = QStringLiteral("SELECT SLEEP(30) /* %1 */").arg(QString(120, u'x'));
    auto sleeper = StartCli(Login("query") << "-e" << statement);

    const Result list = Cli(Login("processlist"));
    ASSERT_EQ(list.Status, 0) << list.Err.toStdString();
    const QList<QStringList> rows = Rows(list.Out);
    ASSERT_FALSE(rows.isEmpty());
    EXPECT_EQ(rows[0].join(u'|'), QStringLiteral("Id|User|Host|db|Command|Time|State|Info"));
    EXPECT_EQ(list.Err, QStringLiteral("%1 rows\n").arg(rows.size() - 1));

    const QStringList cut = WaitForRow(QStringLiteral("SELECT SLEEP(30)"));
    ASSERT_EQ(cut.size(), 8);
    EXPECT_EQ(cut[1], QString::fromStdString(Server().NativeUser));
    EXPECT_EQ(cut[3], QStringLiteral("NULL"));
    EXPECT_EQ(cut[4], QStringLiteral("Query"));
    EXPECT_EQ(cut[6], QStringLiteral("User sleep"));
    EXPECT_EQ(cut[7], statement.left(100));
    const QStringList full = WaitForRow(QStringLiteral("SELECT SLEEP(30)"), {"--full"});
    EXPECT_EQ(full[7], statement);
    EXPECT_EQ(full[0], cut[0]);

    // kill --query ends the statement: the sleeping program prints its row and ends.
    QElapsedTimer timer;
    timer.start();
    const Result killed = Cli(Login("kill") << "--query" << cut[0]);
    EXPECT_EQ(killed.Status, 0) << killed.Err.toStdString();
    EXPECT_EQ(killed.Out, QString());
    EXPECT_EQ(killed.Err, QString());
    ASSERT_TRUE(sleeper->waitForFinished(20000));
    EXPECT_LT(timer.elapsed(), 15000);
}

TEST(CliAdmin, KillEndsTheConnectionAndReportsEachFailure) {
    auto sleeper = StartCli(Login("query") << "-e" << "SELECT SLEEP(30) /* kill me */");
    const QStringList row = WaitForRow(QStringLiteral("SELECT SLEEP(30) /* kill me */"));
    ASSERT_EQ(row.size(), 8);
    // One id that is not there, then the sleeping one: the first fails, the second still ends.
    const Result r = Cli(Login("kill") << "999999999" << row[0]);
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Out, QString());
    EXPECT_EQ(r.Err, QStringLiteral("ERROR 1094 (HY000): Unknown thread id: 999999999\n"));
    ASSERT_TRUE(sleeper->waitForFinished(20000));
    EXPECT_EQ(sleeper->exitCode(), 1) << "its connection was ended under it";
    const Result after = Cli(Login("processlist"));
    for (const QStringList& line : Rows(after.Out)) EXPECT_NE(line[0], row[0]);
}

}  // namespace
