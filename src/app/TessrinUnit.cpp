#include "TessrinUnit.h"

#include "DataUnit.h"
#include "VorneskUtils.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace calvoro::app {

AppIdentity& Identity() {
    static AppIdentity identity;
    return identity;
}

namespace {

template <typename T, typename... Args>
T* Make(const char* name, Args&&... args) {
    T* w = new T(std::forward<Args>(args)...);
    w->setObjectName(QLatin1String(name));
    return w;
}

// The maker's logo, drawn rather than loaded so that the executable needs no image files.
QPixmap MakerLogo() {
    QPixmap pixmap(150, 40);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x00, 0x5A, 0xE1));
    p.drawRoundedRect(QRectF(1, 1, 38, 38), 8, 8);
    p.setPen(Qt::white);
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(24);
    p.setFont(f);
    p.drawText(QRectF(1, 1, 38, 38), Qt::AlignCenter, QStringLiteral("V"));
    p.setPen(QColor(0x00, 0x5A, 0xE1));
    f.setPixelSize(18);
    p.setFont(f);
    p.drawText(QRectF(46, 0, 104, 40), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Vornesk"));
    return pixmap;
}

}  // namespace

TTessrinForm::TTessrinForm(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("TessrinForm"));
    setWindowTitle(QStringLiteral("Tessrin"));
    setMinimumSize(950, 755);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    auto* bar = new QWidget(central);
    CreateTopBar(bar);
    layout->addWidget(bar);

    TntPageControl1 = Make<QTabWidget>("TntPageControl1", central);
    TntTabSheet1 = Make<QWidget>("TntTabSheet1");
    TntTabSheet2 = Make<QWidget>("TntTabSheet2");
    TntTabSheet3 = Make<QWidget>("TntTabSheet3");
    TntTabSheet4 = Make<QWidget>("TntTabSheet4");
    TntTabSheet5 = Make<QWidget>("TntTabSheet5");
    TntPageControl1->addTab(TntTabSheet1, QStringLiteral("  Database  "));
    TntPageControl1->addTab(TntTabSheet2, QStringLiteral("  Backup/Restore  "));
    TntPageControl1->addTab(TntTabSheet3, QStringLiteral("  Execute a script  "));
    TntPageControl1->addTab(TntTabSheet4, QStringLiteral("  View Data  "));
    TntPageControl1->addTab(TntTabSheet5, QStringLiteral("  Custom query  "));
    CreateDatabaseTab();
    layout->addWidget(TntPageControl1, 1);
    setCentralWidget(central);

    FormCreate();
}

TTessrinForm::~TTessrinForm() = default;

void TTessrinForm::CreateTopBar(QWidget* bar) {
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    TntLabel2 = Make<QLabel>("TntLabel2", QStringLiteral("MySQL database:"), bar);
    cbxDataBases = Make<QComboBox>("cbxDataBases", bar);
    cbxDataBases->setMinimumWidth(220);
    cbxDataBases->setEnabled(false);

    spbtnConnect = Make<QToolButton>("spbtnConnect", bar);
    spbtnConnect->setToolTip(QStringLiteral("Connect to selected database"));
    spbtnConnect->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
    spbtnConnect->setEnabled(false);
    spbtnReloadDBobjects = Make<QToolButton>("spbtnReloadDBobjects", bar);
    spbtnReloadDBobjects->setToolTip(QStringLiteral("Reload DB objects"));
    spbtnReloadDBobjects->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    spbtnReloadDBobjects->setEnabled(false);

    spbtnAbout = Make<QPushButton>("spbtnAbout", QStringLiteral("About"), bar);
    spbtnContactUs = Make<QPushButton>("spbtnContactUs", QStringLiteral("Contact Us"), bar);
    Image1 = Make<QLabel>("Image1", bar);
    Image1->setPixmap(MakerLogo());
    Image1->setCursor(Qt::PointingHandCursor);
    Image1->installEventFilter(this);
    spbtnExit = Make<QPushButton>("spbtnExit", QStringLiteral("Exit"), bar);
    connect(spbtnExit, &QPushButton::clicked, this, &TTessrinForm::spbtnExitClick);

    row->addWidget(TntLabel2);
    row->addWidget(cbxDataBases);
    row->addWidget(spbtnConnect);
    row->addWidget(spbtnReloadDBobjects);
    row->addStretch(1);
    row->addWidget(spbtnAbout);
    row->addWidget(spbtnContactUs);
    row->addWidget(Image1);
    row->addWidget(spbtnExit);
}

void TTessrinForm::CreateDatabaseTab() {
    auto* page = new QVBoxLayout(TntTabSheet1);
    btnConnectToServer = Make<QPushButton>("btnConnectToServer",
                                           QStringLiteral("Connect to MySQL server"), TntTabSheet1);
    btnConnectToServer->setMinimumHeight(40);
    page->addWidget(btnConnectToServer);

    TntGroupBox1 = Make<QGroupBox>("TntGroupBox1", QStringLiteral("Create Database"), TntTabSheet1);
    auto* group = new QVBoxLayout(TntGroupBox1);
    auto* nameRow = new QHBoxLayout;
    TntLabel5 = Make<QLabel>("TntLabel5", QStringLiteral("Enter database name:"), TntGroupBox1);
    TntEdit1 = Make<QLineEdit>("TntEdit1", TntGroupBox1);
    TntBitBtn2 = Make<QPushButton>("TntBitBtn2", QStringLiteral("Create Database"), TntGroupBox1);
    TntBitBtn2->setEnabled(false);
    nameRow->addWidget(TntLabel5);
    nameRow->addWidget(TntEdit1, 1);
    nameRow->addWidget(TntBitBtn2);
    group->addLayout(nameRow);
    TntLabel6 = Make<QLabel>("TntLabel6", QStringLiteral("NOTE: You have to be connected to a server first"),
                             TntGroupBox1);
    TntLabel17 = Make<QLabel>("TntLabel17", QStringLiteral("Warning:"), TntGroupBox1);
    TntLabel17->setStyleSheet(QStringLiteral("color: red; font-weight: bold;"));
    TntLabel18 = Make<QLabel>("TntLabel18",
                              QStringLiteral("This operations cannot be Undone and it can cause data lost"),
                              TntGroupBox1);
    TntLabel19 = Make<QLabel>("TntLabel19", QStringLiteral("You have to know well what are you doing"),
                              TntGroupBox1);
    group->addWidget(TntLabel6);
    group->addWidget(TntLabel17);
    group->addWidget(TntLabel18);
    group->addWidget(TntLabel19);
    page->addWidget(TntGroupBox1);
    page->addStretch(1);
}

void TTessrinForm::FormCreate() {
    setWindowState(windowState() | Qt::WindowMaximized);
    TntPageControl1->setCurrentWidget(TntTabSheet1);
}

void TTessrinForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!FShown) {
        FShown = true;
        FormShow();
    }
}

void TTessrinForm::FormShow() {
    AppIdentity& id = Identity();
    const QByteArray site = MakerSiteUrl().toLatin1();
    id.AppName = "MySQL Calvoro";
    id.AppCode = "freeware";
    id.AppVersion = QStringLiteral("1.1.35");
    id.UpdaterUrl = site + "/downloads/calvoro/CalvoroUpdate.exe";
    id.InfoUrl = site + "/downloads/calvoro/calvoro.txt?ts=<timestamp>";
    id.VersionUrl = site + "/downloads/calvoro/version.txt?ts=<timestamp>";
    id.ContactInfoUrl = site + "/downloads/calvoro/contactus.txt?ts=";
    id.RemoteVersion.clear();

    // The updater of a previous update; failing to remove it does not matter.
    QFile::remove(QStringLiteral("CalvoroUpdate.exe"));

    setWindowTitle(QString::fromLatin1(id.AppName) + QStringLiteral(" v.") + id.AppVersion);
}

void TTessrinForm::ShowDisconnectedState() {
    for (QWidget* tab : {TntTabSheet2, TntTabSheet3, TntTabSheet4, TntTabSheet5})
        TntPageControl1->setTabVisible(TntPageControl1->indexOf(tab), false);
    cbxDataBases->setCurrentIndex(-1);
    cbxDataBases->setEnabled(false);
    TntBitBtn2->setEnabled(false);
}

bool TTessrinForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Image1 && event->type() == QEvent::MouseButtonRelease) {
        Image1Click();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TTessrinForm::Image1Click() { QDesktopServices::openUrl(QUrl(MakerSiteUrl())); }

void TTessrinForm::spbtnExitClick() { QApplication::closeAllWindows(); }

}  // namespace calvoro::app
