#include "AboutUnit.h"

#include "VorneskUtils.h"
#include "toolkit.h"
#include "common/CodePage.h"

#include <QDesktopServices>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QTextEdit>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace calvoro::app {

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutForm"));
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(592, 296);

    RichEdit1 = new QTextEdit(this);
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1->setReadOnly(true);
    RichEdit1->setAcceptRichText(false);
    RichEdit1->setAccessibleName(QStringLiteral("About"));

    Label35 = new QLabel(MakerSiteUrl(), this);
    Label35->setObjectName(QStringLiteral("Label35"));
    Label35->setToolTip(QStringLiteral("Click here to see the site of Vornesk"));
    Label35->setCursor(Qt::PointingHandCursor);
    Label35->installEventFilter(this);

    BitBtn38 = new QPushButton(QStringLiteral("Update to new Version"), this);
    BitBtn38->setObjectName(QStringLiteral("BitBtn38"));
    BitBtn38->setAutoDefault(false);
    BitBtn38->hide();
    BitBtn2 = new QPushButton(QStringLiteral("Exit"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(RichEdit1, 1);
    auto* row = new QHBoxLayout;
    row->addWidget(Label35);
    row->addStretch(1);
    row->addWidget(BitBtn38);
    row->addWidget(BitBtn2);
    layout->addLayout(row);

    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    connect(BitBtn38, &QPushButton::clicked, this, Guarded([this] { BitBtn38Click(); }));
}

void TAboutForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // After the window has painted itself, so that the waiting text shows while the fetches run.
    if (!event->spontaneous()) QTimer::singleShot(0, this, Guarded([this] { FormActivate(); }));
}

void TAboutForm::FormActivate() {
    RichEdit1->setPlainText(QStringLiteral("Retrieving Info ........."));
    BitBtn38->hide();
    Label35->setText(MakerSiteUrl());
    repaint();
    AppIdentity& id = Identity();
    if (!IsOnline()) {
        RichEdit1->setPlainText(QStringLiteral("<Could not contact %1 site>").arg(SiteHostName()));
        return;
    }
    const QString text = HttpGetText(id.InfoUrl, {}, {});
    id.RemoteVersion = UnicodeToAnsi(HttpGetText(id.VersionUrl, {}, {}));
    if (id.AppVersion != AnsiToUnicode(id.RemoteVersion)) {
        BitBtn38->setText(QStringLiteral("Update to version ") + AnsiToUnicode(id.RemoteVersion));
        BitBtn38->show();
    }
    RichEdit1->setPlainText(text);
}

void TAboutForm::BitBtn38Click() {
    if (!IsOnline()) {
        ShowOfflineError();
        return;
    }
    RunUpdater(Identity().UpdaterUrl);
    SendContactRequest(QStringLiteral("Update"), QStringLiteral("Auto Update"),
                       QStringLiteral("just updating to new version"), false);
}

void TAboutForm::Label35Click() {
    if (!MakerSiteUrl().isEmpty()) QDesktopServices::openUrl(QUrl(MakerSiteUrl()));
}

void TAboutForm::Label35MouseEnter() { Label35->setStyleSheet(QStringLiteral("color: #0000ff; text-decoration: underline;")); }

void TAboutForm::Label35MouseLeave() { Label35->setStyleSheet({}); }

bool TAboutForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Label35) {
        switch (event->type()) {
            case QEvent::Enter: Label35MouseEnter(); break;
            case QEvent::Leave: Label35MouseLeave(); break;
            case QEvent::MouseButtonRelease: Label35Click(); return true;
            default: break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace calvoro::app
