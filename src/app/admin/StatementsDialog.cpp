#include "StatementsDialog.h"

#include "AdminSession.h"
#include "app/toolkit.h"
#include "common/AppTitle.h"
#include "common/Exceptions.h"
#include "dataaccess/mysql/MyAccess.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace calvoro::app {

TStatementsDialog::TStatementsDialog(const QString& question, std::vector<dac::TAdminStatement> statements,
                                     QWidget* parent)
    : QDialog(parent), FStatements(std::move(statements)) {
    setObjectName(QStringLiteral("StatementsDialog"));
    setWindowTitle(ApplicationTitle());
    setMinimumSize(560, 260);
    auto* layout = new QVBoxLayout(this);
    lblStatementsQuestion = new QLabel(question, this);
    lblStatementsQuestion->setObjectName(QStringLiteral("lblStatementsQuestion"));
    lblStatementsQuestion->setWordWrap(true);
    mmoStatements = new QPlainTextEdit(this);
    mmoStatements->setObjectName(QStringLiteral("mmoStatements"));
    mmoStatements->setReadOnly(true);
    mmoStatements->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    mmoStatements->setAccessibleName(QStringLiteral("Statements"));
    lblStatementsQuestion->setBuddy(mmoStatements);
    cbShowPasswords = new QCheckBox(QStringLiteral("Show passwords"), this);
    cbShowPasswords->setObjectName(QStringLiteral("cbShowPasswords"));
    bool passwords = false;
    for (const auto& s : FStatements) passwords |= !s.Literals.isEmpty();
    cbShowPasswords->setVisible(passwords);
    btnRunStatements = new QPushButton(QStringLiteral("Run"), this);
    btnRunStatements->setObjectName(QStringLiteral("btnRunStatements"));
    btnCancelStatements = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancelStatements->setObjectName(QStringLiteral("btnCancelStatements"));
    btnCancelStatements->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cbShowPasswords);
    buttons->addStretch(1);
    buttons->addWidget(btnRunStatements);
    buttons->addWidget(btnCancelStatements);
    layout->addWidget(lblStatementsQuestion);
    layout->addWidget(mmoStatements, 1);
    layout->addLayout(buttons);
    connect(btnRunStatements, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancelStatements, &QPushButton::clicked, this, &QDialog::reject);
    connect(cbShowPasswords, &QCheckBox::toggled, this, [this] { ShowText(); });
    ShowText();
}

QString TStatementsDialog::ExactText() const {
    QStringList lines;
    for (const auto& s : FStatements) lines << s.Text + u';';
    return lines.join(u'\n');
}

void TStatementsDialog::ShowText() {
    if (cbShowPasswords->isChecked()) {
        mmoStatements->setPlainText(ExactText());
        return;
    }
    QStringList lines;
    for (const auto& s : FStatements) lines << s.Masked() + u';';
    mmoStatements->setPlainText(lines.join(u'\n'));
}

bool ConfirmStatements(QWidget* parent, const QString& question, const std::vector<dac::TAdminStatement>& statements) {
    TStatementsDialog dialog(question, statements, parent);
    return dialog.exec() == QDialog::Accepted;
}

namespace {

[[noreturn]] void Failed(const dac::TAdminStatement& s, const std::exception& e) {
    throw Exception(QStringLiteral("%1\nThe statement was: %2").arg(s.MaskIn(ErrorMessageOf(e)), s.Masked()));
}

}  // namespace

void RunStatements(TAdminSession& session, const std::vector<dac::TAdminStatement>& statements) {
    for (const auto& s : statements) {
        try {
            session.Run([&](dac::TMyConnection& c, const dac::TAdminDialect&) { c.ExecSQL(s.Text); });
        } catch (const std::exception& e) {
            Failed(s, e);
        }
    }
}

void RunStatementsOn(dac::TCustomMyConnection& connection, const std::vector<dac::TAdminStatement>& statements) {
    for (const auto& s : statements) {
        try {
            RunInBackground([&] { connection.ExecSQL(s.Text); });
        } catch (const std::exception& e) {
            Failed(s, e);
        }
    }
}

dac::TAdminStatement Plain(const QString& text) {
    dac::TAdminStatement s;
    s.Text = text;
    return s;
}

}  // namespace calvoro::app
