#include "CliSession.h"

#include "app/sessions/SavedSessions.h"
#include "app/sessions/SecretStore.h"
#include "common/Exceptions.h"

namespace calvoro::cli {

void ApplySavedSession(TCliOptions& o, const sessions::TSessionStore& store) {
    if (o.Session.isEmpty()) return;
    const std::optional<sessions::TSavedSession> s = store.Find(o.Session);
    if (!s) {
        const QStringList names = store.Names();
        throw Exception(QStringLiteral("calvoro-cli: there is no saved session '%1' (%2)")
                            .arg(o.Session, names.isEmpty() ? QStringLiteral("none is saved")
                                                            : QStringLiteral("saved: ") + names.join(QStringLiteral(", "))));
    }
    if (!s->SshTarget.isEmpty())
        throw Exception(QStringLiteral("calvoro-cli: the saved session '%1' goes through the SSH host %2; SSH tunnels "
                                       "are not available in this version")
                            .arg(s->Name, s->SshTarget));
    const auto given = [&o](std::initializer_list<const char*> names) {
        for (const char* name : names)
            if (o.Given.contains(QLatin1String(name))) return true;
        return false;
    };
    if (!given({"-h", "--host"})) o.Host = s->Host;
    if (!given({"-P", "--port"})) o.Port = s->Port;
    if (!given({"-S", "--socket"})) o.Socket = s->Socket;
    if (!given({"-u", "--user"})) o.User = s->User;
    if (!given({"-D", "--database"})) o.Database = s->Database;
    if (!given({"--ssl-mode"})) o.SslMode = s->TlsMode;
    if (!given({"--ssl-ca"})) o.SslCa = s->CAFile;
    // A read-only session stays read-only: no option takes that back.
    o.ReadOnly = o.ReadOnly || s->ReadOnly;
    if (!o.PasswordGiven && qEnvironmentVariableIsEmpty("MYSQL_PWD") && s->KeepPassword) {
        const std::optional<QString> password = sessions::LookupSessionPassword(s->Name);
        if (!password)
            throw Exception(QStringLiteral("calvoro-cli: the secret store keeps no password for the session '%1'; "
                                           "give it with -p or MYSQL_PWD")
                                .arg(s->Name));
        o.Password = *password;
        o.PasswordGiven = true;
    }
    if (o.Command == u"backup" && o.Database.isEmpty())
        throw Exception(QStringLiteral("calvoro-cli: backup needs -D DATABASE (the session '%1' names none)").arg(s->Name));
}

}  // namespace calvoro::cli
