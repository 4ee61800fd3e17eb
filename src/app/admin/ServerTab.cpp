#include "ServerTab.h"

#include "AdminSession.h"
#include "ProcessesPage.h"
#include "StatusPage.h"
#include "UsersPage.h"
#include "VariablesPage.h"
#include "app/DataUnit.h"
#include "app/toolkit.h"
#include "dataaccess/mysql/MyAccess.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace calvoro::app {

TServerTab::TServerTab(QWidget* parent) : QWidget(parent), FSession(std::make_unique<TAdminSession>()) {
    setObjectName(QStringLiteral("ServerTab"));
    auto* page = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* everyLabel = new QLabel(QStringLiteral("&Refresh every:"), this);
    spnRefreshSeconds = new QSpinBox(this);
    spnRefreshSeconds->setObjectName(QStringLiteral("spnRefreshSeconds"));
    spnRefreshSeconds->setRange(0, 3600);
    spnRefreshSeconds->setValue(5);
    spnRefreshSeconds->setSuffix(QStringLiteral(" s"));
    spnRefreshSeconds->setSpecialValueText(QStringLiteral("never"));
    spnRefreshSeconds->setToolTip(QStringLiteral("Processes and status are read again this often while the tab shows"));
    everyLabel->setBuddy(spnRefreshSeconds);
    btnRefreshServer = new QPushButton(QStringLiteral("Refresh"), this);
    btnRefreshServer->setObjectName(QStringLiteral("btnRefreshServer"));
    btnRefreshServer->setToolTip(QStringLiteral("Reads the page again now (F5)"));
    btnRefreshServer->setShortcut(QKeySequence(Qt::Key_F5));
    lblServerState = new QLabel(this);
    lblServerState->setObjectName(QStringLiteral("lblServerState"));
    top->addWidget(everyLabel);
    top->addWidget(spnRefreshSeconds);
    top->addWidget(btnRefreshServer);
    top->addSpacing(12);
    top->addWidget(lblServerState, 1);
    page->addLayout(top);

    pgcServer = new QTabWidget(this);
    pgcServer->setObjectName(QStringLiteral("pgcServer"));
    ProcessesPage = new TProcessesPage(*FSession, pgcServer);
    StatusPage = new TStatusPage(*FSession, pgcServer);
    VariablesPage = new TVariablesPage(*FSession, pgcServer);
    UsersPage = new TUsersPage(*FSession, pgcServer);
    pgcServer->addTab(ProcessesPage, QStringLiteral("Processes"));
    pgcServer->addTab(StatusPage, QStringLiteral("Status"));
    pgcServer->addTab(VariablesPage, QStringLiteral("Variables"));
    pgcServer->addTab(UsersPage, QStringLiteral("Users and Privileges"));
    page->addWidget(pgcServer, 1);

    RefreshTimer = new QTimer(this);
    RefreshTimer->setObjectName(QStringLiteral("RefreshTimer"));
    RefreshTimer->setInterval(spnRefreshSeconds->value() * 1000);
    connect(RefreshTimer, &QTimer::timeout, this, [this] { Tick(); });
    connect(spnRefreshSeconds, &QSpinBox::valueChanged, this, [this](int seconds) {
        RefreshTimer->setInterval(seconds * 1000);
        if (seconds == 0) RefreshTimer->stop();
        else if (FActive) RefreshTimer->start();
        ShowState();
    });
    connect(btnRefreshServer, &QPushButton::clicked, this, [this] { btnRefreshServerClick(); });
    connect(pgcServer, &QTabWidget::currentChanged, this, [this] { PageShown(); });
    for (TServerPage* p : std::initializer_list<TServerPage*>{ProcessesPage, StatusPage, VariablesPage, UsersPage})
        connect(p, &TServerPage::Refreshed, this, [this] { ShowState(); });
    connect(FSession.get(), &TAdminSession::Idle, this, [this] { ShowState(); });
}

TServerTab::~TServerTab() = default;

void TServerTab::SetData(TData* data) {
    FData = data;
    for (TServerPage* p : std::initializer_list<TServerPage*>{ProcessesPage, StatusPage, VariablesPage, UsersPage})
        p->SetData(data);
}

void TServerTab::SessionStarted() {
    if (!FData) return;
    FSession->SetLogin(*FData->ToolsConnection);
    FActive = true;
    for (TServerPage* p : std::initializer_list<TServerPage*>{ProcessesPage, StatusPage, VariablesPage, UsersPage})
        p->Clear();
    if (spnRefreshSeconds->value() > 0) RefreshTimer->start();
    if (isVisible()) CurrentPage()->RefreshSoon();
    ShowState();
}

void TServerTab::SessionEnded() {
    if (!FActive) return;
    FActive = false;
    RefreshTimer->stop();
    for (TServerPage* p : std::initializer_list<TServerPage*>{ProcessesPage, StatusPage, VariablesPage, UsersPage})
        p->Clear();
    // Closed once running work has ended; the idle check that calls this must not wait.
    if (!FSession->Busy()) {
        FSession->Close();
    } else {
        auto once = std::make_shared<QMetaObject::Connection>();
        *once = connect(FSession.get(), &TAdminSession::Idle, this, [this, once] {
            disconnect(*once);
            if (!FActive) FSession->Close();
        });
    }
    ShowState();
}

TServerPage* TServerTab::CurrentPage() const { return static_cast<TServerPage*>(pgcServer->currentWidget()); }

QString TServerTab::PausedBecause() const {
    if (QApplication::activeModalWidget()) return QStringLiteral("a dialog is open");
    return CurrentPage()->PausedBecause();
}

void TServerTab::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    PageShown();
}

void TServerTab::PageShown() {
    // A page shows what it read; one never read is read now.
    if (FActive && isVisible() && CurrentPage()->LastState().isEmpty()) CurrentPage()->RefreshSoon();
    ShowState();
}

void TServerTab::btnRefreshServerClick() {
    if (FActive) CurrentPage()->RefreshSoon();
}

void TServerTab::Tick() {
    TServerPage* page = CurrentPage();
    if (!FActive || !isVisible() || !page->AutoRefreshed() || FSession->Busy()) return;
    if (PausedBecause().isEmpty()) page->Refresh();
    ShowState();
}

void TServerTab::ShowState() {
    if (!FActive) {
        lblServerState->setText(QStringLiteral("Not connected."));
        return;
    }
    QString text;
    if (FSession->Connected())
        text = QStringLiteral("Own connection %1 to %2 %3.%4.%5.")
                   .arg(FSession->ConnectionId())
                   .arg(FSession->Dialect().Server.Family == dac::sfMariaDB ? QStringLiteral("MariaDB")
                                                                            : QStringLiteral("MySQL"))
                   .arg(FSession->Dialect().Server.Major)
                   .arg(FSession->Dialect().Server.Minor)
                   .arg(FSession->Dialect().Server.Patch);
    if (CurrentPage()->AutoRefreshed() && spnRefreshSeconds->value() > 0) {
        const QString paused = PausedBecause();
        if (!paused.isEmpty()) text += QStringLiteral(" Auto-refresh paused: %1.").arg(paused);
    }
    lblServerState->setText(text.trimmed());
}

}  // namespace calvoro::app
