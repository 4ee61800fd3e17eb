#include "contactform.h"

#include "Pictures.h"
#include "VorneskUtils.h"
#include "toolkit.h"
#include "common/AppTitle.h"
#include "common/ScopeGuard.h"

#include <QApplication>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

namespace calvoro::app {

Tcontactmessage::Tcontactmessage(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("contactmessage"));
    setWindowTitle(QStringLiteral("Contact Vornesk"));
    setFixedSize(505, 354);

    Image1 = new QLabel(this);
    Image1->setPixmap(MakerLogo());
    Image1->setAlignment(Qt::AlignTop);
    RichEdit1 = new QTextEdit(this);
    RichEdit1->setReadOnly(true);
    RichEdit1->setAcceptRichText(false);
    RichEdit1->setFrameShape(QFrame::NoFrame);
    RichEdit1->setFocusPolicy(Qt::NoFocus);
    RichEdit1->viewport()->setAutoFillBackground(false);
    RichEdit1->setStyleSheet(QStringLiteral("QTextEdit { background: palette(button); }"));
    RichEdit1->setFixedHeight(70);
    RichEdit1->setAccessibleName(QStringLiteral("Contact Vornesk"));

    Label1 = new QLabel(QStringLiteral("email:"), this);
    Edit1 = new QLineEdit(QString::fromLatin1(EmailPlaceholder), this);
    Edit1->installEventFilter(this);
    Label1->setBuddy(Edit1);
    Label3 = new QLabel(QStringLiteral("Optional if you want to receive a reply"), this);
    Label2 = new QLabel(QStringLiteral("Your Message"), this);
    Memo1 = new QPlainTextEdit(this);
    Label2->setBuddy(Memo1);
    Memo1->setAccessibleName(Label2->text());

    BitBtn1 = new QPushButton(QStringLiteral("Send"), this);
    BitBtn1->setDefault(true);
    BitBtn2 = new QPushButton(QStringLiteral("Exit"), this);
    BitBtn2->setAutoDefault(false);
    const std::pair<QWidget*, const char*> names[] = {
        {Image1, "Image1"}, {RichEdit1, "RichEdit1"}, {Label1, "Label1"}, {Edit1, "Edit1"}, {Label3, "Label3"},
        {Label2, "Label2"}, {Memo1, "Memo1"},         {BitBtn1, "BitBtn1"}, {BitBtn2, "BitBtn2"},
    };
    for (auto [widget, name] : names) widget->setObjectName(QLatin1String(name));

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    top->addWidget(Image1);
    top->addWidget(RichEdit1, 1);
    layout->addLayout(top);
    auto* email = new QGridLayout;
    email->addWidget(Label1, 0, 0);
    email->addWidget(Edit1, 0, 1);
    email->addWidget(Label3, 1, 1);
    layout->addLayout(email);
    layout->addWidget(Label2);
    layout->addWidget(Memo1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    layout->addLayout(buttons);

    connect(BitBtn1, &QPushButton::clicked, this, Guarded([this] { BitBtn1Click(); }));
    connect(BitBtn2, &QPushButton::clicked, this, &Tcontactmessage::BitBtn2Click);
}

void Tcontactmessage::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    if (const QScreen* screen = this->screen()) move(screen->availableGeometry().center() - rect().center());
    // The message first: in the e-mail field the placeholder would vanish before it is read.
    Memo1->setFocus();
    // After the window has painted itself, as the About window does.
    QTimer::singleShot(0, this, Guarded([this] { FormActivate(); }));
}

void Tcontactmessage::FormActivate() {
    Memo1->clear();
    if (IsOnline())
        RichEdit1->setPlainText(HttpGetText(Identity().ContactInfoUrl, {}, {}));
    else
        RichEdit1->setPlainText(QStringLiteral("<Could not contact %1 site>").arg(ContactHostName()));
}

void Tcontactmessage::BitBtn1Click() {
    ScopeExit closeWindow([this] { accept(); });
    const QString message = Memo1->toPlainText();
    if (message.isEmpty()) {
        QMessageBox box(QMessageBox::Information, ApplicationTitle(), QStringLiteral("You should enter a message to send"),
                        QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("MessageBox"));
        box.exec();
    } else if (IsOnline()) {
        SendContactRequest(QStringLiteral("Comment"), message, Edit1->text(), true);
    } else {
        ShowOfflineError();
    }
}

void Tcontactmessage::BitBtn2Click() { reject(); }

void Tcontactmessage::Edit1Enter() {
    if (Edit1->text() == QLatin1String(EmailPlaceholder)) Edit1->clear();
}

void Tcontactmessage::Edit1Exit() {
    if (Edit1->text().isEmpty()) Edit1->setText(QString::fromLatin1(EmailPlaceholder));
}

bool Tcontactmessage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Edit1 && event->type() == QEvent::FocusIn) Edit1Enter();
    if (watched == Edit1 && event->type() == QEvent::FocusOut) Edit1Exit();
    return QDialog::eventFilter(watched, event);
}

}  // namespace calvoro::app
