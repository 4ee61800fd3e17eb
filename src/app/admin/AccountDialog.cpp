#include "AccountDialog.h"

#include "app/toolkit.h"
#include "common/AppTitle.h"
#include "common/Exceptions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <limits>

namespace calvoro::app {

namespace {

const QString Unchanged = QStringLiteral("(unchanged)");
const QString ServerDefault = QStringLiteral("(the server's default)");

// The TLS choices in the combo's order after "(unchanged)" when changing.
const std::pair<const char*, dac::TTlsRequirement> TlsChoices[] = {
    {"None", dac::trNone}, {"SSL (any TLS connection)", dac::trSsl}, {"X509 (a valid client certificate)", dac::trX509}};

}  // namespace

TAccountDialog::TAccountDialog(const std::optional<dac::TAccountInfo>& account, const QStringList& plugins,
                               QWidget* parent)
    : QDialog(parent), FAccount(account) {
    setObjectName(QStringLiteral("AccountDialog"));
    setWindowTitle(account ? QStringLiteral("Change account") : QStringLiteral("New account"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    edtAccountUser = Make<QLineEdit>("edtAccountUser", this);
    edtAccountHost = Make<QLineEdit>("edtAccountHost", QStringLiteral("%"), this);
    edtAccountHost->setToolTip(QStringLiteral("% stands for any host"));
    cbChangePassword = Make<QCheckBox>("cbChangePassword", QStringLiteral("Set a new password"), this);
    edtAccountPassword = Make<QLineEdit>("edtAccountPassword", this);
    edtAccountPassword->setEchoMode(QLineEdit::Password);
    edtAccountPassword2 = Make<QLineEdit>("edtAccountPassword2", this);
    edtAccountPassword2->setEchoMode(QLineEdit::Password);
    cbxAccountPlugin = Make<QComboBox>("cbxAccountPlugin", this);
    cbxAccountPlugin->setEditable(true);
    cbxAccountPlugin->addItem(account ? Unchanged : ServerDefault);
    cbxAccountPlugin->addItems(plugins);
    cbxAccountTls = Make<QComboBox>("cbxAccountTls", this);
    if (account) cbxAccountTls->addItem(Unchanged);
    for (const auto& [text, value] : TlsChoices) cbxAccountTls->addItem(QString::fromLatin1(text));
    const auto spin = [&](QSpinBox*& box, const char* name) {
        box = Make<QSpinBox>(name, this);
        box->setRange(0, std::numeric_limits<int>::max());
        box->setSpecialValueText(QStringLiteral("no limit"));
    };
    spin(spnMaxQueries, "spnMaxQueries");
    spin(spnMaxUpdates, "spnMaxUpdates");
    spin(spnMaxConnections, "spnMaxConnections");
    spin(spnMaxUserConnections, "spnMaxUserConnections");
    cbAccountLocked = Make<QCheckBox>("cbAccountLocked", QStringLiteral("Account locked (no login)"), this);
    cbExpirePassword = Make<QCheckBox>("cbExpirePassword", QStringLiteral("Password expired (must be changed at the next login)"), this);

    form->addRow(QStringLiteral("&User name:"), edtAccountUser);
    form->addRow(QStringLiteral("&Host:"), edtAccountHost);
    if (account) form->addRow(QString(), cbChangePassword);
    form->addRow(QStringLiteral("&Password:"), edtAccountPassword);
    form->addRow(QStringLiteral("Password &again:"), edtAccountPassword2);
    form->addRow(QStringLiteral("Authentication p&lugin:"), cbxAccountPlugin);
    form->addRow(QStringLiteral("&TLS required:"), cbxAccountTls);
    form->addRow(QStringLiteral("&Queries per hour:"), spnMaxQueries);
    form->addRow(QStringLiteral("U&pdates per hour:"), spnMaxUpdates);
    form->addRow(QStringLiteral("&Connections per hour:"), spnMaxConnections);
    form->addRow(QStringLiteral("&Simultaneous connections:"), spnMaxUserConnections);
    form->addRow(QString(), cbAccountLocked);
    form->addRow(QString(), cbExpirePassword);
    layout->addLayout(form);

    btnAccountOk = Make<QPushButton>("btnAccountOk", QStringLiteral("OK"), this);
    btnAccountOk->setDefault(true);
    btnAccountCancel = Make<QPushButton>("btnAccountCancel", QStringLiteral("Cancel"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnAccountOk);
    buttons->addWidget(btnAccountCancel);
    layout->addLayout(buttons);

    if (account) {
        edtAccountUser->setText(account->Name.User);
        edtAccountHost->setText(account->Name.Host);
        edtAccountUser->setReadOnly(true);
        edtAccountHost->setReadOnly(true);
        spnMaxQueries->setValue(int(account->Limits.MaxQueriesPerHour.value_or(0)));
        spnMaxUpdates->setValue(int(account->Limits.MaxUpdatesPerHour.value_or(0)));
        spnMaxConnections->setValue(int(account->Limits.MaxConnectionsPerHour.value_or(0)));
        spnMaxUserConnections->setValue(int(account->Limits.MaxUserConnections.value_or(0)));
        cbAccountLocked->setChecked(account->Locked.value_or(false));
        cbExpirePassword->setChecked(false);
        edtAccountPassword->setEnabled(false);
        edtAccountPassword2->setEnabled(false);
        connect(cbChangePassword, &QCheckBox::toggled, edtAccountPassword, &QWidget::setEnabled);
        connect(cbChangePassword, &QCheckBox::toggled, edtAccountPassword2, &QWidget::setEnabled);
    } else {
        cbChangePassword->setVisible(false);
    }
    connect(btnAccountOk, &QPushButton::clicked, this, [this] { OkClick(); });
    connect(btnAccountCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TAccountDialog::~TAccountDialog() {
    // The passwords are not kept past the form.
    edtAccountPassword->clear();
    edtAccountPassword2->clear();
}

dac::TAccountChange TAccountDialog::Change() const {
    dac::TAccountChange c;
    c.Account = {edtAccountUser->text(), edtAccountHost->text()};
    if (c.Account.User.isEmpty()) throw Exception(QStringLiteral("Type the user name of the account."));
    if (c.Account.Host.isEmpty()) throw Exception(QStringLiteral("Type the host the account logs in from (% for any)."));
    if (Creating() || cbChangePassword->isChecked()) {
        if (edtAccountPassword->text() != edtAccountPassword2->text())
            throw Exception(QStringLiteral("The two passwords differ; type the same password twice."));
        // A new account without a password typed has none; a change sets what was typed.
        if (!Creating() || !edtAccountPassword->text().isEmpty()) c.Password = edtAccountPassword->text();
    }
    const QString plugin = cbxAccountPlugin->currentText().trimmed();
    if (plugin != Unchanged && plugin != ServerDefault) c.Plugin = plugin;
    const int tls = cbxAccountTls->currentIndex() - (Creating() ? 0 : 1);
    if (tls >= 0) c.Tls = TlsChoices[tls].second;
    // A new account without TLS needs no clause.
    if (Creating() && c.Tls == dac::trNone) c.Tls = dac::trUnchanged;
    const std::pair<QSpinBox*, std::optional<qint64> dac::TResourceLimits::*> limits[] = {
        {spnMaxQueries, &dac::TResourceLimits::MaxQueriesPerHour},
        {spnMaxUpdates, &dac::TResourceLimits::MaxUpdatesPerHour},
        {spnMaxConnections, &dac::TResourceLimits::MaxConnectionsPerHour},
        {spnMaxUserConnections, &dac::TResourceLimits::MaxUserConnections},
    };
    for (const auto& [box, member] : limits) {
        const qint64 value = box->value();
        const qint64 was = FAccount ? (FAccount->Limits.*member).value_or(0) : 0;
        if (value != was) c.Limits.*member = value;
    }
    const bool locked = cbAccountLocked->isChecked();
    if (locked != (FAccount ? FAccount->Locked.value_or(false) : false)) c.Locked = locked;
    c.ExpirePassword = cbExpirePassword->isChecked();
    return c;
}

void TAccountDialog::OkClick() {
    try {
        (void)Change();
    } catch (const std::exception& e) {
        ShowErrorBox(ErrorMessageOf(e));
        return;
    }
    accept();
}

}  // namespace calvoro::app
