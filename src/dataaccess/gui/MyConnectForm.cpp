#include "MyConnectForm.h"

#include "BackgroundConnect.h"
#include "common/ScopeGuard.h"
#include "dataaccess/mysql/MyAccess.h"
#include "protocol/MySqlErrors.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>

#include <algorithm>
#include <array>
#include <functional>

namespace calvoro::dac {

namespace {

constexpr int ER_ACCESS_DENIED_ERROR = 1045;

// Geometry of the form, in pixels.
constexpr int Margin = 12;
constexpr int RowPitch = 34;
constexpr int LabelGap = 8;
constexpr int FieldWidth = 200;
constexpr int ButtonGap = 6;
constexpr int ButtonWidth = 88;
constexpr int BrowseGap = 4;

// An editable combo box that says when its list is about to drop down.
class TDropDownComboBox : public QComboBox {
public:
    using QComboBox::QComboBox;
    std::function<void()> OnDropDown;

    void showPopup() override {
        if (OnDropDown) OnDropDown();
        QComboBox::showPopup();
    }
};

// The message of an exception of ours, or what() of any other.
QString MessageOf(const std::exception& e) {
    if (const auto* ours = dynamic_cast<const Exception*>(&e)) return ours->Message();
    return QString::fromUtf8(e.what());
}

// The list of a combo box replaced, its text kept.
void SetItems(QComboBox* combo, const QStringList& items, const QString& text) {
    combo->clear();
    combo->addItems(items);
    combo->setCurrentIndex(int(items.indexOf(text)));
    combo->setEditText(text);
}

// The cursor shown while a list is read.
class TWaitCursor {
public:
    TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};

}  // namespace

TMyConnectForm::TMyConnectForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("MyConnectForm"));
    auto label = [this](const char* name, QWidget* buddy) {
        auto* l = new QLabel(this);
        l->setObjectName(QString::fromLatin1(name));
        l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        l->setBuddy(buddy);
        return l;
    };
    auto combo = [this](const char* name, void (TMyConnectForm::*dropDown)()) {
        auto* c = new TDropDownComboBox(this);
        c->setObjectName(QString::fromLatin1(name));
        c->setEditable(true);
        c->setMaxVisibleItems(10);
        c->setInsertPolicy(QComboBox::NoInsert);
        c->OnDropDown = [this, dropDown] { (this->*dropDown)(); };
        return c;
    };
    edUsername = new QLineEdit(this);
    edUsername->setObjectName(QStringLiteral("edUsername"));
    edPassword = new QLineEdit(this);
    edPassword->setObjectName(QStringLiteral("edPassword"));
    edPassword->setEchoMode(QLineEdit::Password);
    edServer = combo("edServer", &TMyConnectForm::edServerDropDown);
    edPort = new QLineEdit(this);
    edPort->setObjectName(QStringLiteral("edPort"));
    edSocket = new QLineEdit(this);
    edSocket->setObjectName(QStringLiteral("edSocket"));
    edSocket->setToolTip(QStringLiteral("The path of the server's Unix socket (for example /run/mysqld/mysqld.sock). "
                                        "When given, the connection goes through it instead of the server and port."));
    edDatabase = combo("edDatabase", &TMyConnectForm::edDatabaseDropDown);
    lbUsername = label("lbUsername", edUsername);
    lbPassword = label("lbPassword", edPassword);
    lbServer = label("lbServer", edServer);
    lbPort = label("lbPort", edPort);
    lbSocket = label("lbSocket", edSocket);
    lbDatabase = label("lbDatabase", edDatabase);
    edTLS = new QComboBox(this);
    edTLS->setObjectName(QStringLiteral("edTLS"));
    for (int mode = protocol::smDisabled; mode <= protocol::smVerifyIdentity; ++mode)
        edTLS->addItem(QString::fromLatin1(protocol::SslModeName(protocol::TSslMode(mode))), mode);
    lbTLS = label("lbTLS", edTLS);
    edCAFile = new QLineEdit(this);
    edCAFile->setObjectName(QStringLiteral("edCAFile"));
    lbCAFile = label("lbCAFile", edCAFile);
    btCAFile = new QToolButton(this);
    btCAFile->setObjectName(QStringLiteral("btCAFile"));
    btCAFile->setText(QStringLiteral("..."));
    btCAFile->setAccessibleName(QStringLiteral("Browse for the CA file"));
    connect(btCAFile, &QToolButton::clicked, this, &TMyConnectForm::btCAFileClick);

    btConnect = new QPushButton(this);
    btConnect->setObjectName(QStringLiteral("btConnect"));
    btConnect->setDefault(true);
    connect(btConnect, &QPushButton::clicked, this, &TMyConnectForm::btConnectClick);
    btCancel = new QPushButton(this);
    btCancel->setObjectName(QStringLiteral("btCancel"));
    connect(btCancel, &QPushButton::clicked, this, &TMyConnectForm::btCancelClick);

    const std::array<QWidget*, 11> order{edUsername, edPassword, edServer, edPort,   edSocket, edDatabase,
                                         edTLS,      edCAFile,   btCAFile, btConnect, btCancel};
    for (size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
    for (QWidget* field : {static_cast<QWidget*>(edUsername), static_cast<QWidget*>(edPassword),
                           static_cast<QWidget*>(edServer), static_cast<QWidget*>(edPort),
                           static_cast<QWidget*>(edSocket), static_cast<QWidget*>(edDatabase),
                           static_cast<QWidget*>(edCAFile)})
        field->installEventFilter(this);
}

TMyConnectForm::~TMyConnectForm() = default;

void TMyConnectForm::SetConnectDialog(TMyConnectDialog* dialog) {
    FConnectDialog = dialog;
    FRetry = false;
    FRetries = dialog->Retries();
    FListGot = false;

    setWindowTitle(dialog->Caption());
    lbUsername->setText(dialog->UsernameLabel());
    lbPassword->setText(dialog->PasswordLabel());
    lbServer->setText(dialog->ServerLabel());
    lbPort->setText(dialog->PortLabel());
    lbSocket->setText(dialog->SocketLabel());
    lbDatabase->setText(dialog->DatabaseLabel());
    lbTLS->setText(dialog->TLSLabel());
    lbCAFile->setText(dialog->CAFileLabel());
    btConnect->setText(dialog->ConnectButton());
    btCancel->setText(dialog->CancelButton());

    const TMyConnection& c = dialog->MyConnection();
    edUsername->setText(c.Username());
    edPassword->setText(c.Password());
    edServer->setEditText(c.Server());
    edPort->setText(QString::number(c.Port()));
    edSocket->setText(c.MyOptions().UnixSocket());
    edDatabase->setEditText(c.Database());
    edTLS->setCurrentIndex(edTLS->findData(int(c.SSLOptions().Mode)));
    edCAFile->setText(c.SSLOptions().CACert);
    if (!c.Username().isEmpty() && c.Password().isEmpty())
        edPassword->setFocus();
    else
        edUsername->setFocus();

    lbPort->setHidden(!dialog->ShowPort());
    edPort->setHidden(!dialog->ShowPort());
    lbSocket->setHidden(!dialog->ShowSocket());
    edSocket->setHidden(!dialog->ShowSocket());
    lbDatabase->setHidden(!dialog->ShowDatabase());
    edDatabase->setHidden(!dialog->ShowDatabase());
    for (QWidget* w : std::initializer_list<QWidget*>{lbTLS, edTLS, lbCAFile, edCAFile, btCAFile})
        w->setHidden(!dialog->ShowTLS());
    PlaceRows();
}

void TMyConnectForm::PlaceRows() {
    std::vector<std::pair<QLabel*, QWidget*>> rows{{lbUsername, edUsername}, {lbPassword, edPassword},
                                                   {lbServer, edServer}};
    if (!edPort->isHidden()) rows.emplace_back(lbPort, edPort);
    if (!edSocket->isHidden()) rows.emplace_back(lbSocket, edSocket);
    if (!edDatabase->isHidden()) rows.emplace_back(lbDatabase, edDatabase);
    if (!edTLS->isHidden()) {
        rows.emplace_back(lbTLS, edTLS);
        rows.emplace_back(lbCAFile, edCAFile);
    }

    int labelWidth = 0;
    int fieldHeight = 0;
    for (const auto& [label, field] : rows) {
        labelWidth = std::max(labelWidth, label->sizeHint().width());
        fieldHeight = std::max(fieldHeight, field->sizeHint().height());
    }
    fieldHeight = std::min(fieldHeight, RowPitch - 4);
    const int fieldLeft = Margin + labelWidth + LabelGap;
    for (size_t i = 0; i < rows.size(); ++i) {
        const int top = Margin + int(i) * RowPitch;
        rows[i].first->setGeometry(Margin, top, labelWidth, RowPitch);
        rows[i].second->setGeometry(fieldLeft, top + (RowPitch - fieldHeight) / 2, FieldWidth, fieldHeight);
    }
    if (!edCAFile->isHidden()) {
        // The browse button sits at the end of the CA file's field, which makes room for it.
        const QRect field = edCAFile->geometry();
        const int side = std::max(field.height(), btCAFile->minimumSizeHint().width());
        edCAFile->setGeometry(field.adjusted(0, 0, -(side + BrowseGap), 0));
        btCAFile->setGeometry(field.right() + 1 - side, field.top(), side, field.height());
    }

    const int width = fieldLeft + FieldWidth + Margin;
    const int buttonWidth = std::max({ButtonWidth, btConnect->sizeHint().width(), btCancel->sizeHint().width()});
    const int buttonHeight = btConnect->sizeHint().height();
    const int buttonTop = Margin + int(rows.size()) * RowPitch + ButtonGap;
    btCancel->setGeometry(width - Margin - buttonWidth, buttonTop, buttonWidth, buttonHeight);
    btConnect->setGeometry(width - Margin - 2 * buttonWidth - ButtonGap, buttonTop, buttonWidth, buttonHeight);
    setFixedSize(width, buttonTop + buttonHeight + Margin);
}

bool TMyConnectForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        // A list dropping down or another window taking over is no leaving; moving to a
        // button is not either, since both buttons handle the fields themselves.
        const QWidget* next = QApplication::focusWidget();
        // While fields are applied, focus moves are the form's own (a field taking the focus
        // back, the error box): leaving again then would start over without end.
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason && next != btConnect &&
            next != btCancel && FConnectDialog && !FApplying && !FConnecting)
            edExit(static_cast<QWidget*>(watched));
    }
    return QDialog::eventFilter(watched, event);
}

bool TMyConnectForm::ApplyFields(QWidget* focus) {
    FApplying = true;
    ScopeExit applied([this] { FApplying = false; });
    try {
        TMyConnection& c = FConnectDialog->MyConnection();
        c.SetPassword(edPassword->text());
        c.SetServer(edServer->currentText());
        c.SetUsername(edUsername->text());
        c.SetDatabase(edDatabase->currentText());
        bool ok = false;
        const int port = edPort->text().trimmed().toInt(&ok);
        if (!ok) throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(edPort->text()));
        c.SetPort(port);
        SetSocketOf(c, edSocket->text().trimmed());
        c.SSLOptions().Mode = protocol::TSslMode(edTLS->currentData().toInt());
        c.SSLOptions().CACert = edCAFile->text().trimmed();
        return true;
    } catch (const EAbort&) {
        // A silent abort was raised to end the step without a message; the field stays.
        focus->setFocus();
        return false;
    } catch (const std::exception& e) {
        focus->setFocus();
        ShowError(MessageOf(e));
        return false;
    }
}

void TMyConnectForm::edExit(QWidget* sender) { ApplyFields(sender); }

bool TMyConnectForm::RunConnect(const std::function<void()>& work) {
    FConnecting = true;
    FCancelled = false;
    // The fields stay as they are while the login reads them; Cancel is the one way out.
    const std::array<QWidget*, 10> locked{edUsername, edPassword, edServer, edPort,   edSocket,
                                          edDatabase, edTLS,      edCAFile, btCAFile, btConnect};
    // Disabling the focused field moves the focus on; it comes back afterwards.
    const QPointer<QWidget> focus = focusWidget();
    for (QWidget* w : locked) w->setEnabled(false);
    ScopeExit unlock([&] {
        FConnecting = false;
        for (QWidget* w : locked) w->setEnabled(true);
        if (focus) focus->setFocus();
    });
    const TConnectInteraction interaction;  // Cancel gets its clicks while the login runs
    try {
        work();
    } catch (const std::exception&) {
        if (!FCancelled) throw;
        return true;  // a login that ended because Cancel asked it to
    }
    return false;  // done, even when Cancel came too late to stop it
}

void TMyConnectForm::btConnectClick() {
    if (FConnecting || !ApplyFields(edPort)) return;
    QWidget* focus = nullptr;
    try {
        TMyConnection& c = FConnectDialog->MyConnection();
        if (FConnectDialog->NeedConnect() && RunConnect([&] { c.PerformConnect(FRetry); }))
            return;  // cancelled: nothing to say, the values stay for another try
    } catch (const EDAError& e) {
        --FRetries;
        FRetry = true;
        if (FRetries <= 0) reject();
        if (e.ErrorCode() == ER_ACCESS_DENIED_ERROR)
            focus = edUsername;
        else if (e.ErrorCode() == protocol::CR_UNKNOWN_HOST)
            focus = edServer;
        if (focus) focus->setFocus();
        ShowError(e.Message());
        return;
    } catch (const EAbort&) {
        return;  // silent by design: whoever aborted the connect has said why
    } catch (const std::exception& e) {
        ShowError(MessageOf(e));
        return;
    }
    accept();
}

void TMyConnectForm::btCancelClick() {
    if (FConnecting) {
        FCancelled = true;
        FConnectDialog->MyConnection().BreakConnect();
        return;
    }
    QDialog::reject();
}

void TMyConnectForm::reject() {
    if (FConnecting) {
        btCancelClick();
        return;
    }
    QDialog::reject();
}

void TMyConnectForm::edServerDropDown() {
    if (FListGot || !FConnectDialog) return;
    FListGot = true;
    QStringList list;
    {
        TWaitCursor wait;
        if (FConnectDialog->UseServerHistory()) FConnectDialog->GetServerList(list);
    }
    SetItems(edServer, list, edServer->currentText());
}

void TMyConnectForm::edDatabaseDropDown() {
    if (!FConnectDialog) return;
    const QString text = edDatabase->currentText();
    edDatabase->clear();
    QStringList list;
    QString error;
    try {
        TWaitCursor wait;
        TMyConnection& c = FConnectDialog->MyConnection();
        RunConnect([&] {
            const bool loginPrompt = c.LoginPrompt();
            c.SetLoginPrompt(false);
            ScopeExit restorePrompt([&] { c.SetLoginPrompt(loginPrompt); });
            // The login for the list must not depend on the database being chosen; a connection
            // opened for it closes again and gets its database back.
            const bool wasConnected = c.GetConnected();
            const QString database = c.Database();
            ScopeExit restore([&] {
                if (wasConnected) return;
                c.Disconnect();
                c.SetDatabase(database);
            });
            if (!wasConnected) c.SetDatabase(QString());
            c.GetDatabaseNames(list);
        });
    } catch (const EAbort&) {
        // Silent by design: whoever aborted the connect has said why.
    } catch (const std::exception& e) {
        error = MessageOf(e);
    }
    SetItems(edDatabase, list, text);
    if (!error.isEmpty()) ShowError(error);
}

void TMyConnectForm::btCAFileClick() {
    const QString current = edCAFile->text().trimmed();
    const QString file = QFileDialog::getOpenFileName(this, lbCAFile->text().remove(u'&'),
                                                      current.isEmpty() ? QString() : QFileInfo(current).path(),
                                                      QStringLiteral("PEM certificates (*.pem *.crt);;All files (*)"));
    if (file.isEmpty()) return;
    edCAFile->setText(file);
    ApplyFields(edCAFile);
}

void TMyConnectForm::ShowError(const QString& message) {
    // Server errors begin with a line break of their own; a box shows no empty first line.
    QString text = message;
    while (text.startsWith(u'\r') || text.startsWith(u'\n')) text.remove(0, 1);
    if (!text.isEmpty() && text.back() > u'.') text += u'.';
    QMessageBox box(QMessageBox::Critical, DAApplicationTitle(), text, QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.exec();
}

}  // namespace calvoro::dac
