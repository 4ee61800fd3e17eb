// Saved sessions: the store over a settings file, passwords in a real Secret Service (the test
// runs under scripts/secret-store-session.sh: a private D-Bus session with GNOME Keyring in a
// throw-away home folder), and calvoro-cli --session against the test server.
#include "app/sessions/SavedSessions.h"
#include "app/sessions/SecretStore.h"
#include "common/Exceptions.h"

#include "CliProcess.h"
#include "support/QtPrinters.h"
#include "support/TestServer.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace calvoro;
using namespace calvoro::sessions;

namespace {

std::unique_ptr<QSettings> IniIn(const QTemporaryDir& dir) {
    return std::make_unique<QSettings>(dir.filePath(QStringLiteral("sessions.ini")), QSettings::IniFormat);
}

TSavedSession Sample(const QString& name) {
    TSavedSession s;
    s.Name = name;
    s.Host = QStringLiteral("db.example.com:3307");
    s.Port = 3310;
    s.Socket = QStringLiteral("/run/mysqld/mysqld.sock");
    s.User = QStringLiteral("ops");
    s.Database = QStringLiteral("shop");
    s.TlsMode = QStringLiteral("VERIFY_CA");
    s.CAFile = QStringLiteral("/etc/ssl/ca.pem");
    s.SshTarget = QStringLiteral("me@jump:2222");
    s.SshKeyFile = QStringLiteral("/home/me/.ssh/id_ed25519");
    s.Colour = QStringLiteral("#c03030");
    s.ReadOnly = true;
    s.KeepPassword = true;
    return s;
}

// Whether some file under the folder holds the bytes.
QStringList FilesHolding(const QString& folder, const QByteArray& bytes) {
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (f.open(QIODevice::ReadOnly) && f.readAll().contains(bytes)) found << f.fileName();
    }
    return found;
}

}  // namespace

TEST(SessionStore, SavesFindsRenamesAndRemoves) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    {
        TSessionStore store(IniIn(dir));
        EXPECT_TRUE(store.Names().isEmpty());
        // Names may hold what settings keys may not.
        for (const char* name : {"prod / eu", "b\\x", "Alpha", "zeta", "caf\u00e9"}) store.Save(Sample(QString::fromUtf8(name)));
    }
    TSessionStore store(IniIn(dir));  // read back from the file
    EXPECT_EQ(store.Names(), (QStringList{"Alpha", "b\\x", QString::fromUtf8("caf\u00e9"), "prod / eu", "zeta"}));
    EXPECT_EQ(store.Find(QStringLiteral("prod / eu")), Sample(QStringLiteral("prod / eu")));
    EXPECT_EQ(store.Find(QStringLiteral("missing")), std::nullopt);
    EXPECT_EQ(store.Find(QStringLiteral("alpha")), std::nullopt);  // names are exact

    // Saving again replaces; fields left empty stay empty.
    TSavedSession plain;
    plain.Name = QStringLiteral("zeta");
    plain.Host = QStringLiteral("127.0.0.1");
    store.Save(plain);
    EXPECT_EQ(store.Find(QStringLiteral("zeta")), plain);

    store.Rename(QStringLiteral("zeta"), QStringLiteral("omega"));
    EXPECT_EQ(store.Find(QStringLiteral("zeta")), std::nullopt);
    plain.Name = QStringLiteral("omega");
    EXPECT_EQ(store.Find(QStringLiteral("omega")), plain);

    struct Bad {
        std::function<void()> call;
        const char* message;
    } bad[] = {
        {[&] { store.Rename(QStringLiteral("omega"), QStringLiteral("Alpha")); }, "exists already"},
        {[&] { store.Rename(QStringLiteral("nope"), QStringLiteral("x")); }, "no saved session 'nope'"},
        {[&] { store.Rename(QStringLiteral("omega"), QStringLiteral(" ")); }, "needs a name"},
        {[&] { store.Save(TSavedSession{}); }, "needs a name"},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.message);
        try {
            b.call();
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            EXPECT_TRUE(e.Message().contains(QLatin1String(b.message))) << e.Message().toStdString();
        }
    }
    EXPECT_EQ(store.Find(QStringLiteral("Alpha")), Sample(QStringLiteral("Alpha")));  // untouched by the refusal

    store.Remove(QStringLiteral("Alpha"));
    EXPECT_EQ(store.Names(), (QStringList{"b\\x", QString::fromUtf8("caf\u00e9"), "omega", "prod / eu"}));
}

TEST(SecretStore, WithoutASessionBusKeepingIsNotOffered) {
    const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    QString reason;
    const bool available = SecretStoreAvailable(&reason);
    if (!bus.isEmpty()) qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
    EXPECT_FALSE(available);
    EXPECT_TRUE(reason.contains(QLatin1String("D-Bus session bus"))) << reason.toStdString();
}

TEST(SecretStore, PasswordsGoToTheStoreAndNeverIntoAFile) {
    QString reason;
    if (!SecretStoreAvailable(&reason))
        GTEST_SKIP() << "run under scripts/secret-store-session.sh (as CTest does): " << reason.toStdString();
    const QString password = QStringLiteral("Pa55-w\u00f6rd-calvoro-7f3a");
    TSessionStore store;  // the user's settings, in the throw-away home
    TSavedSession s = Sample(QStringLiteral("kept"));
    store.Save(s);
    StoreSessionPassword(s.Name, password);
    StoreSessionPassword(QStringLiteral("other"), QStringLiteral("another one"));

    EXPECT_EQ(LookupSessionPassword(QStringLiteral("kept")), password);
    EXPECT_EQ(LookupSessionPassword(QStringLiteral("other")), QStringLiteral("another one"));
    EXPECT_EQ(LookupSessionPassword(QStringLiteral("never")), std::nullopt);
    StoreSessionPassword(s.Name, password + QStringLiteral("2"));  // replaces
    EXPECT_EQ(LookupSessionPassword(QStringLiteral("kept")), password + QStringLiteral("2"));

    // Neither the settings nor the keyring's files hold the password as text.
    const QString home = QDir::homePath();
    ASSERT_FALSE(FilesHolding(home, QByteArrayLiteral("db.example.com")).isEmpty());  // the search finds text
    EXPECT_EQ(FilesHolding(home, password.toUtf8()), QStringList());
    EXPECT_EQ(FilesHolding(home, QByteArrayLiteral("another one")), QStringList());

    ClearSessionPassword(QStringLiteral("kept"));
    EXPECT_EQ(LookupSessionPassword(QStringLiteral("kept")), std::nullopt);
    ClearSessionPassword(QStringLiteral("kept"));  // nothing kept: nothing to do
    ClearSessionPassword(QStringLiteral("other"));
}

// calvoro-cli --session takes the saved settings, the options given win, and a kept password
// comes from the secret store.
TEST(SecretStore, CommandLineUsesASavedSession) {
    QString reason;
    if (!SecretStoreAvailable(&reason))
        GTEST_SKIP() << "run under scripts/secret-store-session.sh (as CTest does): " << reason.toStdString();
    const test::ServerConfig& server = test::Server();
    TSessionStore store;
    TSavedSession s;
    s.Name = QStringLiteral("test server");
    s.Host = QString::fromStdString(server.Host);
    s.Port = server.Port;
    s.User = QString::fromStdString(server.NativeUser);
    s.Database = QStringLiteral("mysql");
    s.KeepPassword = true;
    store.Save(s);
    StoreSessionPassword(s.Name, QString::fromStdString(server.NativePassword));
    s.Name = QStringLiteral("careful");
    s.ReadOnly = true;
    store.Save(s);
    StoreSessionPassword(s.Name, QString::fromStdString(server.NativePassword));
    s.Name = QStringLiteral("tunnelled");
    s.SshTarget = QStringLiteral("me@127.0.0.1:1");
    store.Save(s);

    struct Case {
        QStringList args;
        int status;
        const char* out;  // on standard output (status 0) or standard error
    } cases[] = {
        {{"query", "--session", "test server", "-e", "SELECT DATABASE() AS d"}, 0, "d\nmysql\n"},
        {{"query", "--session", "test server", "-D", "information_schema", "-e", "SELECT DATABASE() AS d"}, 0,
         "d\ninformation_schema\n"},
        {{"query", "--session", "test server", "-p", "wrong", "-e", "SELECT 1"}, 1, "Access denied"},
        {{"query", "--session", "test server", "-P", "1", "-e", "SELECT 1"}, 1, "127.0.0.1"},
        {{"exec", "--session", "careful", "-e", "CREATE DATABASE calvoro_never"}, 1, "read-only"},
        {{"query", "--session", "careful", "-e", "SELECT 2 AS n"}, 0, "n\n2\n"},
        {{"query", "--session", "nobody", "-e", "SELECT 1"}, 1, "no saved session 'nobody'"},
        {{"query", "--session", "tunnelled", "-e", "SELECT 1"}, 1, "SSH"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        const test::TCliResult r = test::Cli(c.args);
        EXPECT_EQ(r.Status, c.status) << r.Err.toStdString();
        if (c.status == 0) EXPECT_EQ(r.Out, QString::fromUtf8(c.out));
        else EXPECT_TRUE(r.Err.contains(QString::fromUtf8(c.out))) << r.Err.toStdString();
    }
}
