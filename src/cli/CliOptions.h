#pragma once
// Command-line options of calvoro-cli.

#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

namespace calvoro::cli {

struct TCliOptions {
    QString Command;  // "exec", "query", "script", or "help"
    QString Host;
    int Port = 3306;
    QString User;
    QString Password;
    bool PasswordGiven = false;
    QString Database;
    std::vector<std::pair<QString, QString>> Params;  // NAME=VALUE, in order
    QString Sql;
    bool SqlGiven = false;
    bool Prepared = false;  // query: a server-side prepared statement
    QString File;             // script: the file, "-" for standard input
    bool StopOnError = false;  // script: stop at the first failing statement
};

// Parses the arguments after the program name; raises calvoro::Exception with a usage message
// for what it cannot take.
TCliOptions ParseArguments(const QStringList& args);

QString UsageText();

}  // namespace calvoro::cli
