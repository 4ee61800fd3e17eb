#pragma once
// Runs calvoro-cli as a process and collects what it said.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace calvoro::test {

struct TCliResult {
    int Status;
    QString Out, Err;
    QByteArray OutBytes;  // standard output as written
};

// The program with args; MYSQL_PWD set to mysqlPwd when it is not null, removed otherwise;
// input on its standard input.
TCliResult Cli(const QStringList& args, const QString& mysqlPwd = QString(), const QByteArray& input = QByteArray());

}  // namespace calvoro::test
