#include "CliConnection.h"

#include "dataaccess/mysql/ReadOnlySession.h"
#include "dataaccess/mysql/StatementEffect.h"

namespace calvoro::cli {

namespace {

QString LoginName() {
    for (const char* name : {"USER", "LOGNAME"})
        if (!qEnvironmentVariableIsEmpty(name)) return qEnvironmentVariable(name);
    return QString();
}

}  // namespace

std::unique_ptr<dac::TMyConnection> NewConnection(const TCliOptions& o) {
    auto connection = std::make_unique<dac::TMyConnection>();
    connection->SetLoginPrompt(false);
    connection->MyOptions().SetUseUnicode(true);
    connection->SetServer(o.Host);
    connection->SetPort(o.Port);
    connection->SetConnectionTimeout(o.ConnectTimeout);
    if (o.Protocol == u"tcp") connection->MyOptions().SetProtocol(dac::mpTCP);
    if (o.Protocol == u"socket") connection->MyOptions().SetProtocol(dac::mpSocket);
    connection->MyOptions().SetUnixSocket(o.Socket);
    connection->SetUsername(o.User.isEmpty() ? LoginName() : o.User);
    connection->SetPassword(o.PasswordGiven ? o.Password : qEnvironmentVariable("MYSQL_PWD"));
    connection->SetDatabase(o.Database);
    connection->MyOptions().SetMaxAllowedPacket(o.MaxAllowedPacket);
    connection->MyOptions().SetReadOnly(o.ReadOnly);
    dac::TMyConnectionSSLOptions& ssl = connection->SSLOptions();
    protocol::ParseSslMode(o.SslMode.toStdString(), ssl.Mode);  // checked by ParseArguments
    ssl.CACert = o.SslCa;
    ssl.CAPath = o.SslCapath;
    ssl.Cert = o.SslCert;
    ssl.Key = o.SslKey;
    ssl.ChipherList = o.SslCipher;
    ssl.ServerPublicKey = o.ServerPublicKey;
    ssl.GetServerPublicKey = o.GetServerPublicKey;
    return connection;
}

void CheckReadOnly(const TCliOptions& o) {
    if (!o.ReadOnly) return;
    if (o.Command == u"exec" || o.Command == u"query") {
        if (dac::StatementChangesData(o.Sql)) throw dac::EReadOnlySession(QStringLiteral("this statement"));
    } else if (o.Command == u"script" || o.Command == u"restore" || o.Command == u"kill") {
        throw dac::EReadOnlySession(o.Command);
    }
}

}  // namespace calvoro::cli
