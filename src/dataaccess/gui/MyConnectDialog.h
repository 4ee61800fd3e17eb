#pragma once
// The login dialog component of MySQL connections. A connection with LoginPrompt on runs its
// Execute: the form (TMyConnectForm, or a registered form class) edits the connection's login
// values and connects, and the values of a successful login are kept in the user's settings
// for the next time.
//
// Settings: QSettings, native format, organisation "Brindova", application "Ormadex"
// (~/.config/Brindova/Ormadex.conf). Group "Connect" holds the server history as "Server 1",
// "Server 2", ... (most recent first, no gaps); group "Connect/<application title>" holds the
// last login's "Username", "Server", "Port", "Database", "TLS" (the ssl mode's name) and "CAFile". Reads fall back to organisation
// "Pellumar" when "Brindova" lacks the group; writes always go to "Brindova". The password is
// never written.

#include "dataaccess/common/DBAccess.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

class QWidget;

namespace calvoro::dac {

class TMyConnection;
class TMyConnectForm;

// Sets the connection's Unix socket path; a changed one closes the connection first.
void SetSocketOf(TMyConnection& connection, const QString& path);

enum TLabelSet { lsCustom, lsEnglish, lsFrench, lsGerman, lsItalian, lsPolish, lsPortuguese, lsRussian, lsSpanish };

class TMyConnectDialog : public TCustomConnectDialog {
public:
    // Makes a form of a registered class; the dialog hands itself over and shows it modally.
    using TFormFactory = std::function<std::unique_ptr<TMyConnectForm>(QWidget* parent)>;
    // Form classes by name, for DialogClass.
    static void RegisterFormClass(const QString& name, TFormFactory factory);
    static void UnregisterFormClass(const QString& name);

    TMyConnectDialog();
    ~TMyConnectDialog() override;

    // Shows the form. True when it closed with OK and, with NeedConnect, the connection is
    // open; false puts every login value back as it was. Raises "Connection is not defined"
    // without a connection.
    bool Execute() override;

    // The connection as the MySQL connection the form edits; raises "Connection is not
    // defined" without one.
    TMyConnection& MyConnection() const;

    // The server history of "Connect" in organisation "Brindova" (no fallback): the list is
    // cleared, then "Server 1", "Server 2", ... up to the first missing one.
    void GetServerList(QStringList& list) const;

    // Failed attempts the form allows before it gives up.
    uint16_t Retries() const { return FRetries; }
    void SetRetries(uint16_t value) { FRetries = value; }
    // A registered form class shown instead of TMyConnectForm; empty: the default form.
    const QString& DialogClass() const { return FDialogClass; }
    void SetDialogClass(const QString& value) { FDialogClass = value; }
    // Keep the connection's password when the stored user name is the connection's own.
    bool SavePassword() const { return FSavePassword; }
    void SetSavePassword(bool value) { FSavePassword = value; }
    // Read the last login's values before showing the form, write them after a login.
    bool StoreLogInfo() const { return FStoreLogInfo; }
    void SetStoreLogInfo(bool value) { FStoreLogInfo = value; }
    // Offer the server history in the server list and add each login's server to it.
    bool UseServerHistory() const { return FUseServerHistory; }
    void SetUseServerHistory(bool value) { FUseServerHistory = value; }
    // The form connects; without it, OK only takes the values.
    bool NeedConnect() const { return FNeedConnect; }
    void SetNeedConnect(bool value) { FNeedConnect = value; }

    // The language of the texts. Any other than lsCustom sets the six texts below (English
    // for all: no others are kept); changing one of the texts makes it lsCustom.
    TLabelSet LabelSet() const { return FLabelSet; }
    void SetLabelSet(TLabelSet value);
    const QString& Caption() const { return FCaption; }
    void SetCaption(const QString& value) { SetText(FCaption, value); }
    const QString& UsernameLabel() const { return FUsernameLabel; }
    void SetUsernameLabel(const QString& value) { SetText(FUsernameLabel, value); }
    const QString& PasswordLabel() const { return FPasswordLabel; }
    void SetPasswordLabel(const QString& value) { SetText(FPasswordLabel, value); }
    const QString& ServerLabel() const { return FServerLabel; }
    void SetServerLabel(const QString& value) { SetText(FServerLabel, value); }
    const QString& ConnectButton() const { return FConnectButton; }
    void SetConnectButton(const QString& value) { SetText(FConnectButton, value); }
    const QString& CancelButton() const { return FCancelButton; }
    void SetCancelButton(const QString& value) { SetText(FCancelButton, value); }

    bool ShowDatabase() const { return FShowDatabase; }
    void SetShowDatabase(bool value) { FShowDatabase = value; }
    bool ShowPort() const { return FShowPort; }
    void SetShowPort(bool value) { FShowPort = value; }
    const QString& DatabaseLabel() const { return FDatabaseLabel; }
    void SetDatabaseLabel(const QString& value) { SetText(FDatabaseLabel, value); }
    const QString& PortLabel() const { return FPortLabel; }
    void SetPortLabel(const QString& value) { SetText(FPortLabel, value); }
    // The row of the Unix socket's path.
    bool ShowSocket() const { return FShowSocket; }
    void SetShowSocket(bool value) { FShowSocket = value; }
    const QString& SocketLabel() const { return FSocketLabel; }
    void SetSocketLabel(const QString& value) { SetText(FSocketLabel, value); }
    // The rows of the TLS mode and the CA file.
    bool ShowTLS() const { return FShowTLS; }
    void SetShowTLS(bool value) { FShowTLS = value; }
    const QString& TLSLabel() const { return FTLSLabel; }
    void SetTLSLabel(const QString& value) { SetText(FTLSLabel, value); }
    const QString& CAFileLabel() const { return FCAFileLabel; }
    void SetCAFileLabel(const QString& value) { SetText(FCAFileLabel, value); }

private:
    void SetText(QString& field, const QString& value);
    std::unique_ptr<TMyConnectForm> CreateForm() const;
    // "Connect/<application title>".
    static QString ApplicationGroup();
    // The stored login values into the connection, and the password rule.
    void LoadLoginInfo(const QString& oldUsername);
    void SaveLoginInfo();
    // Puts the server first in the history, without its other spellings.
    void SaveServerHistory(const QString& server);

    uint16_t FRetries = 3;
    QString FDialogClass;
    bool FSavePassword = false;
    bool FStoreLogInfo = true;
    bool FUseServerHistory = true;
    bool FNeedConnect = true;
    TLabelSet FLabelSet = lsEnglish;
    QString FCaption;
    QString FUsernameLabel;
    QString FPasswordLabel;
    QString FServerLabel;
    QString FConnectButton;
    QString FCancelButton;
    bool FShowDatabase = true;
    bool FShowPort = true;
    QString FDatabaseLabel = QStringLiteral("Database");
    QString FPortLabel = QStringLiteral("Port");
    bool FShowSocket = true;
    QString FSocketLabel = QStringLiteral("Socket");
    bool FShowTLS = true;
    QString FTLSLabel = QStringLiteral("TLS");
    QString FCAFileLabel = QStringLiteral("CA file");
};

}  // namespace calvoro::dac
