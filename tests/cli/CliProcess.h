#pragma once
// Runs calvoro-cli as a process and collects what it said.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

class QProcess;

namespace calvoro::test {

struct TCliResult {
    int Status;
    QString Out, Err;
    QByteArray OutBytes;  // standard output as written
};

// The program with args; MYSQL_PWD set to mysqlPwd when it is not null, removed otherwise;
// input on its standard input.
TCliResult Cli(const QStringList& args, const QString& mysqlPwd = QString(), const QByteArray& input = QByteArray());
// The program with args, started and left running (MYSQL_PWD removed); the caller waits for it.
std::unique_ptr<QProcess> StartCli(const QStringList& args);

}  // namespace calvoro::test
