#pragma once
// The mariadb command-line tools run against the test server, as peers to compare with.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace calvoro::test {

struct TToolResult {
    int Status = -1;
    QByteArray Out, Err;
};

// Runs a mariadb tool ("mariadb", "mariadb-dump") logged in to the test server with the
// native account, utf8mb4, no option files; input goes to its standard input.
TToolResult RunMariadbTool(const QString& tool, const QStringList& args, const QByteArray& input = QByteArray());

}  // namespace calvoro::test
