#pragma once
// Named sessions: the login settings a user saves under a name and connects with again, in the
// window and on the command line. They are kept with QSettings beside the connect dialog's
// values (organisation "Brindova", application "Ormadex", group "Sessions", one group per
// session); the password never goes there (see SecretStore.h).

#include <QSettings>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace calvoro::sessions {

struct TSavedSession {
    QString Name;
    QString Host;  // may carry its port, like the connect dialog's server
    int Port = 3306;
    QString Socket;  // the server's Unix socket; empty: TCP
    QString User;
    QString Database;
    QString TlsMode = QStringLiteral("PREFERRED");  // as protocol::SslModeName writes it
    QString CAFile;
    QString SshTarget;   // USER@HOST[:PORT] of an SSH host to tunnel through; empty: none
    QString SshKeyFile;  // empty: the agent or a password
    QString Colour;      // "#rrggbb"; empty: none
    bool ReadOnly = false;
    bool KeepPassword = false;  // the password is kept in the desktop's secret store
    bool operator==(const TSavedSession&) const = default;
};

class TSessionStore {
public:
    // The user's settings file (the connect dialog's).
    TSessionStore();
    // Another settings object, e.g. a file of a test's own.
    explicit TSessionStore(std::unique_ptr<QSettings> settings);
    ~TSessionStore();

    // The names, sorted ignoring letter case.
    QStringList Names() const;
    std::optional<TSavedSession> Find(const QString& name) const;
    // Adds the session or replaces the one of its name. Raises calvoro::Exception for an empty
    // name.
    void Save(const TSavedSession& session);
    // Raises calvoro::Exception when there is no such session or the new name is taken or empty.
    void Rename(const QString& from, const QString& to);
    void Remove(const QString& name);

private:
    std::unique_ptr<QSettings> FSettings;
};

}  // namespace calvoro::sessions
