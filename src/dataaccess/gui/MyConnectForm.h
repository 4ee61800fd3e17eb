#pragma once
// The login form of TMyConnectDialog: user name, password, server, port, Unix socket and
// database of a MySQL connection, its TLS mode and CA file (with a browse button), and the
// Connect and Cancel buttons. Connect tries to log in with the values; each failure of the
// data-access layer uses up one of the dialog's attempts, and the form closes with Cancel
// after the last one.
//
// The login runs off the windows' thread (BackgroundConnect.h): the form keeps repainting,
// its fields and Connect are disabled meanwhile, and Cancel (or Escape, or closing the form)
// ends the login at once. A cancelled login is no failure: no message, no attempt used up, and
// the form stays open with its values; the next Cancel closes it.
//
// Errors are shown in a QMessageBox whose parent is the form and whose objectName is
// "ErrorBox" (captioned with the application title, error icon): tests find it as the active
// modal widget and accept it.

#include "MyConnectDialog.h"

#include <QDialog>

#include <functional>

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
    // Ends a login under way; without one, closes the form with Cancel.
    void btCancelClick();
    // Whether a login (or the database list's) runs now.
    bool Connecting() const { return FConnecting; }

    // Closing the form (Escape, the title bar) while a login runs cancels the login instead.
    void reject() override;

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
    QLabel* lbSocket;
    QLineEdit* edSocket;  // the path of the server's Unix socket; empty: TCP
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
    // Runs a connect of the connection (work) with the fields and Connect disabled and Cancel
    // live; true when it failed because it was cancelled (its error is then nobody's business).
    bool RunConnect(const std::function<void()>& work);

    TMyConnectDialog* FConnectDialog = nullptr;
    int FRetries = 0;
    bool FRetry = false;
    bool FListGot = false;
    bool FApplying = false;  // ApplyFields runs
    bool FConnecting = false;
    bool FCancelled = false;  // the login under way was cancelled
};

}  // namespace calvoro::dac
