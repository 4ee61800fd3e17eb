#pragma once
// The login form of TMyConnectDialog: user name, password, server, port and database of a
// MySQL connection, its TLS mode and CA file (with a browse button), and the Connect and
// Cancel buttons. Connect tries to log in with the
// values; each failure of the data-access layer uses up one of the dialog's attempts, and the
// form closes with Cancel after the last one.
//
// Errors are shown in a QMessageBox whose parent is the form and whose objectName is
// "ErrorBox" (captioned with the application title, error icon): tests find it as the active
// modal widget and accept it.

#include "MyConnectDialog.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace calvoro::dac {

class TMyConnectForm : public QDialog {
    Q_OBJECT

public:
    explicit TMyConnectForm(QWidget* parent = nullptr);
    ~TMyConnectForm() override;

    TMyConnectDialog* ConnectDialog() const { return FConnectDialog; }
    // Takes the dialog's attempts, texts and visible rows and the connection's values.
    virtual void SetConnectDialog(TMyConnectDialog* dialog);

    // Attempts left, whether one failed already, whether the server list was read.
    int Retries() const { return FRetries; }
    bool Retry() const { return FRetry; }
    bool ListGot() const { return FListGot; }

    // Applies the fields and logs in (see the file comment).
    void btConnectClick();
    // Leaving a field: the fields go into the connection; a port that is no integer is shown
    // and the field keeps the focus.
    void edExit(QWidget* sender);
    // The server list from the history, on the first drop-down only.
    void edServerDropDown();
    // The server's databases, read with the values applied so far, on every drop-down.
    void edDatabaseDropDown();
    // Chooses the CA file in a file dialog.
    void btCAFileClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The message box described above.
    virtual void ShowError(const QString& message);

    QLabel* lbUsername;
    QLineEdit* edUsername;
    QLabel* lbPassword;
    QLineEdit* edPassword;
    QLabel* lbServer;
    QComboBox* edServer;
    QLabel* lbPort;
    QLineEdit* edPort;
    QLabel* lbDatabase;
    QComboBox* edDatabase;
    QLabel* lbTLS;
    QComboBox* edTLS;  // the ssl modes, DISABLED … VERIFY_IDENTITY
    QLabel* lbCAFile;
    QLineEdit* edCAFile;
    QToolButton* btCAFile;
    QPushButton* btConnect;
    QPushButton* btCancel;

private:
    // Copies password, server, user name, database, port, TLS mode and CA file into the connection. On a
    // failure `focus` gets the focus back and the error is shown; false then.
    bool ApplyFields(QWidget* focus);
    // Places the shown rows one under the other and sizes the form to them.
    void PlaceRows();

    TMyConnectDialog* FConnectDialog = nullptr;
    int FRetries = 0;
    bool FRetry = false;
    bool FListGot = false;
    bool FApplying = false;  // ApplyFields runs
};

}  // namespace calvoro::dac
