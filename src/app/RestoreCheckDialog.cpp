#include "RestoreCheckDialog.h"

#include "common/AppTitle.h"
#include "toolkit.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace calvoro::app {

QString MendsText(const dump::TRestoreMends& mends) {
    QStringList lines;
    for (const auto& [from, to] : mends.Collations)
        lines << QStringLiteral("Collation %1 becomes %2").arg(from, to);
    if (mends.Definer == dump::TDefinerMend::Current) lines << QStringLiteral("DEFINER becomes CURRENT_USER");
    if (mends.Definer == dump::TDefinerMend::Drop) lines << QStringLiteral("DEFINER clauses are left out");
    if (!mends.EngineFallback.isEmpty())
        lines << QStringLiteral("Engines the server lacks become %1").arg(mends.EngineFallback);
    return lines.join(u'\n');
}

TRestoreCheckDialog::TRestoreCheckDialog(const QString& file, const dump::TCheckReport& report,
                                         const dump::TRestoreMends& offered, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("RestoreCheckDialog"));
    setWindowTitle(ApplicationTitle());
    auto* layout = new QVBoxLayout(this);
    const QString question = report.WouldFail()
                                 ? QStringLiteral("Restoring %1 on this server would fail in %2 statements or make "
                                                  "objects that do not work:")
                                       .arg(file)
                                       .arg(report.FailingStatements)
                                 : QStringLiteral("Restoring %1 on this server: notes on the script").arg(file);
    lblRestoreCheck = Make<QLabel>("lblRestoreCheck", question, this);
    lblRestoreCheck->setWordWrap(true);
    mmoRestoreCheck = Make<QPlainTextEdit>("mmoRestoreCheck", dump::FormatCheckReport(report), this);
    mmoRestoreCheck->setReadOnly(true);
    mmoRestoreCheck->setLineWrapMode(QPlainTextEdit::NoWrap);
    mmoRestoreCheck->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    lblRestoreCheck->setBuddy(mmoRestoreCheck);
    lblRestoreMends = Make<QLabel>("lblRestoreMends", QStringLiteral("&Mend and restore changes the statements on "
                                                                     "their way to the server (the file stays as it is):"),
                                   this);
    lblRestoreMends->setWordWrap(true);
    mmoRestoreMends = Make<QPlainTextEdit>("mmoRestoreMends", MendsText(offered), this);
    mmoRestoreMends->setReadOnly(true);
    mmoRestoreMends->setMaximumHeight(90);
    lblRestoreMends->setBuddy(mmoRestoreMends);
    lblRestoreMends->setVisible(offered.Any());
    mmoRestoreMends->setVisible(offered.Any());

    auto* buttons = Make<QDialogButtonBox>("RestoreCheckButtons", this);
    btnRestoreAnyway = Make<QPushButton>("btnRestoreAnyway", QStringLiteral("Restore &anyway"), this);
    btnMendAndRestore = Make<QPushButton>("btnMendAndRestore", QStringLiteral("Mend and &restore"), this);
    btnCancelRestore = Make<QPushButton>("btnCancelRestore", QStringLiteral("Cancel"), this);
    btnMendAndRestore->setVisible(offered.Any());
    buttons->addButton(btnMendAndRestore, QDialogButtonBox::AcceptRole);
    buttons->addButton(btnRestoreAnyway, QDialogButtonBox::AcceptRole);
    buttons->addButton(btnCancelRestore, QDialogButtonBox::RejectRole);
    (offered.Any() ? btnMendAndRestore : btnCancelRestore)->setDefault(true);
    connect(btnRestoreAnyway, &QPushButton::clicked, this, [this] {
        FChoice = TRestoreCheckChoice::RestoreAnyway;
        accept();
    });
    connect(btnMendAndRestore, &QPushButton::clicked, this, [this] {
        FChoice = TRestoreCheckChoice::MendAndRestore;
        accept();
    });
    connect(btnCancelRestore, &QPushButton::clicked, this, &QDialog::reject);

    layout->addWidget(lblRestoreCheck);
    layout->addWidget(mmoRestoreCheck, 1);
    layout->addWidget(lblRestoreMends);
    layout->addWidget(mmoRestoreMends);
    layout->addWidget(buttons);
    resize(760, 420);
}

}  // namespace calvoro::app
