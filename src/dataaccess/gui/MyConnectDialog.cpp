#include "MyConnectDialog.h"

#include "MyConnectForm.h"
#include "common/ScopeGuard.h"
#include "dataaccess/mysql/MyAccess.h"

#include <QApplication>
#include <QSettings>

#include <map>

namespace calvoro::dac {

namespace {

const QString Organisation = QStringLiteral("Brindova");
const QString FallbackOrganisation = QStringLiteral("Pellumar");
const QString Application = QStringLiteral("Ormadex");
const QString ConnectGroup = QStringLiteral("Connect");

std::map<QString, TMyConnectDialog::TFormFactory>& FormClasses() {
    static std::map<QString, TMyConnectDialog::TFormFactory> classes;
    return classes;
}

std::unique_ptr<QSettings> OpenSettings(const QString& organisation) {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, organisation, Application);
}

// Whether the group (a "/"-separated path) exists: it has values or groups of its own.
bool HasGroup(QSettings& settings, const QString& group) {
    const QStringList parts = group.split(u'/');
    int opened = 0;
    bool found = true;
    for (const QString& part : parts) {
        if (!settings.childGroups().contains(part)) {
            found = false;
            break;
        }
        settings.beginGroup(part);
        ++opened;
    }
    for (; opened > 0; --opened) settings.endGroup();
    return found;
}

// The settings opened at the group for reading: "Brindova"'s, with fallback "Pellumar"'s when
// "Brindova" lacks the group; none when no organisation has it.
std::unique_ptr<QSettings> OpenGroupForRead(const QString& group, bool fallback) {
    for (const QString& organisation : {Organisation, FallbackOrganisation}) {
        std::unique_ptr<QSettings> settings = OpenSettings(organisation);
        if (HasGroup(*settings, group)) {
            settings->beginGroup(group);
            return settings;
        }
        if (!fallback) break;
    }
    return nullptr;
}

}  // namespace

void SetSocketOf(TMyConnection& c, const QString& path) {
    if (path == c.MyOptions().UnixSocket()) return;
    c.Disconnect();  // a changed transport closes the connection first, as a changed server does
    c.MyOptions().SetUnixSocket(path);
}

namespace {

QString ServerKey(int n) { return QStringLiteral("%1 %2").arg(QStringLiteral("Server")).arg(n); }

// "Server 1", "Server 2", ... of the open group, up to the first missing one.
QStringList ReadHistory(const QSettings* settings) {
    QStringList list;
    if (!settings) return list;
    for (int n = 1; settings->contains(ServerKey(n)); ++n) list << settings->value(ServerKey(n)).toString();
    return list;
}

}  // namespace

void TMyConnectDialog::RegisterFormClass(const QString& name, TFormFactory factory) {
    FormClasses()[name] = std::move(factory);
}

void TMyConnectDialog::UnregisterFormClass(const QString& name) { FormClasses().erase(name); }

TMyConnectDialog::TMyConnectDialog() { SetLabelSet(lsEnglish); }

TMyConnectDialog::~TMyConnectDialog() = default;

void TMyConnectDialog::SetText(QString& field, const QString& value) {
    field = value;
    FLabelSet = lsCustom;
}

void TMyConnectDialog::SetLabelSet(TLabelSet value) {
    FLabelSet = value;
    if (value == lsCustom) return;
    FCaption = QStringLiteral("Connect");
    FUsernameLabel = QStringLiteral("User Name");
    FPasswordLabel = QStringLiteral("Password");
    FServerLabel = QStringLiteral("Server");
    FConnectButton = QStringLiteral("Connect");
    FCancelButton = QStringLiteral("Cancel");
}

TMyConnection& TMyConnectDialog::MyConnection() const {
    if (!FConnection) throw EDatabaseError(QStringLiteral("Connection is not defined"));
    auto* connection = dynamic_cast<TMyConnection*>(FConnection);
    if (!connection) throw EDatabaseError(QStringLiteral("TMyConnectDialog needs a TMyConnection"));
    return *connection;
}

QString TMyConnectDialog::ApplicationGroup() { return ConnectGroup + u'/' + DAApplicationTitle(); }

bool TMyConnectDialog::Execute() {
    TMyConnection& c = MyConnection();
    const QString username = c.Username();
    const QString password = c.Password();
    const QString server = c.Server();
    const QString database = c.Database();
    const int port = c.Port();
    const TMyConnectionSSLOptions ssl = c.SSLOptions();
    const QString socket = c.MyOptions().UnixSocket();
    bool result = false;
    // Anything but a login puts back the values the stored ones and the form changed.
    ScopeExit restore([&] {
        if (result) return;
        c.SetUsername(username);
        c.SetPassword(password);
        c.SetServer(server);
        c.SetDatabase(database);
        c.SetPort(port);
        c.SSLOptions() = ssl;
        SetSocketOf(c, socket);
    });
    if (FStoreLogInfo) LoadLoginInfo(username);
    std::unique_ptr<TMyConnectForm> form = CreateForm();
    form->SetConnectDialog(this);
    result = form->exec() == QDialog::Accepted && (!FNeedConnect || c.GetConnected());
    if (result && FStoreLogInfo) SaveLoginInfo();
    return result;
}

std::unique_ptr<TMyConnectForm> TMyConnectDialog::CreateForm() const {
    QWidget* parent = QApplication::activeWindow();
    if (FDialogClass.isEmpty()) return std::make_unique<TMyConnectForm>(parent);
    const auto found = FormClasses().find(FDialogClass);
    if (found == FormClasses().end()) throw EDatabaseError(QStringLiteral("Class %1 not found").arg(FDialogClass));
    return found->second(parent);
}

void TMyConnectDialog::LoadLoginInfo(const QString& oldUsername) {
    const std::unique_ptr<QSettings> settings = OpenGroupForRead(ApplicationGroup(), true);
    if (!settings) return;
    TMyConnection& c = MyConnection();
    if (settings->contains(QStringLiteral("Username")))
        c.SetUsername(settings->value(QStringLiteral("Username")).toString());
    if (settings->contains(QStringLiteral("Server"))) c.SetServer(settings->value(QStringLiteral("Server")).toString());
    if (settings->contains(QStringLiteral("Port"))) {
        bool ok = false;
        const int port = settings->value(QStringLiteral("Port")).toInt(&ok);
        if (ok) c.SetPort(port);
    }
    if (settings->contains(QStringLiteral("Socket"))) SetSocketOf(c, settings->value(QStringLiteral("Socket")).toString());
    if (settings->contains(QStringLiteral("Database")))
        c.SetDatabase(settings->value(QStringLiteral("Database")).toString());
    protocol::TSslMode mode;
    if (protocol::ParseSslMode(settings->value(QStringLiteral("TLS")).toString().toStdString(), mode))
        c.SSLOptions().Mode = mode;
    if (settings->contains(QStringLiteral("CAFile"))) c.SSLOptions().CACert = settings->value(QStringLiteral("CAFile")).toString();
    // A password the program set belongs to its own user name, never to another one.
    if (!FSavePassword || c.Username().compare(oldUsername, Qt::CaseInsensitive) != 0) c.SetPassword(QString());
}

void TMyConnectDialog::SaveLoginInfo() {
    const TMyConnection& c = MyConnection();
    if (FUseServerHistory) SaveServerHistory(c.Server());
    const std::unique_ptr<QSettings> settings = OpenSettings(Organisation);
    settings->beginGroup(ApplicationGroup());
    settings->setValue(QStringLiteral("Username"), c.Username());
    settings->setValue(QStringLiteral("Server"), c.Server());
    settings->setValue(QStringLiteral("Port"), c.Port());
    settings->setValue(QStringLiteral("Socket"), c.MyOptions().UnixSocket());
    settings->setValue(QStringLiteral("Database"), c.Database());
    settings->setValue(QStringLiteral("TLS"), QString::fromLatin1(protocol::SslModeName(c.SSLOptions().Mode)));
    settings->setValue(QStringLiteral("CAFile"), c.SSLOptions().CACert);
}

void TMyConnectDialog::SaveServerHistory(const QString& server) {
    if (server.isEmpty()) return;
    QStringList history{server};
    for (const QString& old : ReadHistory(OpenGroupForRead(ConnectGroup, true).get()))
        if (old.compare(server, Qt::CaseInsensitive) != 0) history << old;
    const std::unique_ptr<QSettings> settings = OpenSettings(Organisation);
    settings->beginGroup(ConnectGroup);
    for (int n = 1; n <= history.size(); ++n) settings->setValue(ServerKey(n), history[n - 1]);
    // Entries dropped as other spellings of the server leave no stale ones behind the list.
    for (int n = int(history.size()) + 1; settings->contains(ServerKey(n)); ++n) settings->remove(ServerKey(n));
}

void TMyConnectDialog::GetServerList(QStringList& list) const {
    list = ReadHistory(OpenGroupForRead(ConnectGroup, false).get());
}

}  // namespace calvoro::dac
