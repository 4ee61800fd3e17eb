#pragma once
// The form of an account: a new one (user, host, password typed twice, plugin, TLS, limits,
// locked, password expired) or the changes to one (only what is changed is written). The form
// only asks; the statement comes from the data layer's generator.

#include "dataaccess/mysql/MyAdminReaders.h"

#include <QDialog>

#include <optional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace calvoro::app {

class TAccountDialog : public QDialog {
    Q_OBJECT
public:
    // A new account without `account`, else the changes to it; `plugins` the server's
    // authentication plugins.
    TAccountDialog(const std::optional<dac::TAccountInfo>& account, const QStringList& plugins, QWidget* parent);
    ~TAccountDialog() override;

    QLineEdit* edtAccountUser;
    QLineEdit* edtAccountHost;
    QCheckBox* cbChangePassword;
    QLineEdit* edtAccountPassword;
    QLineEdit* edtAccountPassword2;
    QComboBox* cbxAccountPlugin;
    QComboBox* cbxAccountTls;
    QSpinBox* spnMaxQueries;
    QSpinBox* spnMaxUpdates;
    QSpinBox* spnMaxConnections;
    QSpinBox* spnMaxUserConnections;
    QCheckBox* cbAccountLocked;
    QCheckBox* cbExpirePassword;
    QPushButton* btnAccountOk;
    QPushButton* btnAccountCancel;

    // What the form says; raises for what it cannot be (no user name, passwords that differ).
    dac::TAccountChange Change() const;
    bool Creating() const { return !FAccount.has_value(); }

private:
    void OkClick();
    std::optional<dac::TAccountInfo> FAccount;
};

}  // namespace calvoro::app
