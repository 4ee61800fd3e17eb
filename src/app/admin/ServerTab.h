#pragma once
// The "  Server  " tab: the server's processes, status, variables, and accounts with their
// privileges, on pages of their own. Everything is read on the tab's own connection (made
// from the tools connection's login), off the window's thread; the processes and the status
// refresh every N seconds while the tab shows, holding still while the user selects processes
// or answers a dialog.

#include <QWidget>

#include <memory>

class QLabel;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTimer;

namespace calvoro::app {

class TAdminSession;
class TData;
class TProcessesPage;
class TServerPage;
class TStatusPage;
class TUsersPage;
class TVariablesPage;

class TServerTab : public QWidget {
    Q_OBJECT
public:
    explicit TServerTab(QWidget* parent = nullptr);
    ~TServerTab() override;

    void SetData(TData* data);
    // The tools session logged in (again): the tab takes its login and reads anew.
    void SessionStarted();
    // The tools session is closed: so is the tab's connection. Cheap when repeated.
    void SessionEnded();

    QSpinBox* spnRefreshSeconds;
    QPushButton* btnRefreshServer;
    QLabel* lblServerState;
    QTabWidget* pgcServer;
    TProcessesPage* ProcessesPage;
    TStatusPage* StatusPage;
    TVariablesPage* VariablesPage;
    TUsersPage* UsersPage;
    QTimer* RefreshTimer;

    TAdminSession& Session() { return *FSession; }
    TServerPage* CurrentPage() const;
    // Why the timer holds still now; empty while it refreshes.
    QString PausedBecause() const;

    void btnRefreshServerClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Tick();
    void PageShown();
    void ShowState();

    std::unique_ptr<TAdminSession> FSession;
    TData* FData = nullptr;
    bool FActive = false;
};

}  // namespace calvoro::app
