#include "MariadbClient.h"

#include "TestServer.h"

#include <QProcess>

namespace calvoro::test {

TToolResult RunMariadbTool(const QString& tool, const QStringList& args, const QByteArray& input) {
    const ServerConfig& s = Server();
    QProcess p;
    QStringList all = {"--no-defaults", "--default-character-set=utf8mb4", "-h", QString::fromStdString(s.Host),
                       "-P", QString::number(s.Port), "-u", QString::fromStdString(s.NativeUser),
                       "-p" + QString::fromStdString(s.NativePassword)};
    all += args;
    p.start(tool, all);
    TToolResult r;
    if (!p.waitForStarted(30000)) return r;
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(300000);
    r.Status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.Out = p.readAllStandardOutput();
    r.Err = p.readAllStandardError();
    return r;
}

}  // namespace calvoro::test
