#include "CliProcess.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

namespace calvoro::test {

TCliResult Cli(const QStringList& args, const QString& mysqlPwd, const QByteArray& input) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("MYSQL_PWD"));
    if (!mysqlPwd.isNull()) env.insert(QStringLiteral("MYSQL_PWD"), mysqlPwd);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(CALVORO_CLI), args);
    EXPECT_TRUE(p.waitForStarted(30000));
    p.write(input);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(120000));
    const QByteArray out = p.readAllStandardOutput();
    return {p.exitCode(), QString::fromUtf8(out), QString::fromUtf8(p.readAllStandardError()), out};
}

std::unique_ptr<QProcess> StartCli(const QStringList& args) {
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("MYSQL_PWD"));
    p->setProcessEnvironment(env);
    p->start(QStringLiteral(CALVORO_CLI), args);
    EXPECT_TRUE(p->waitForStarted(30000));
    return p;
}

}  // namespace calvoro::test
