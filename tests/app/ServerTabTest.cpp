// The "  Server  " tab against the test server, driven by object name: a second connection
// sleeping in a statement is listed with it and ended by Kill Query (it stays connected) and
// then by Kill Connection; Calvoro's own connections are marked and are ended only after a
// second yes; the automatic refresh holds still while processes are selected; status rates
// over a known workload; variables set for the session and globally, read back on the
// server, a read-only one offering no change and a refused value reporting the server's
// reason; an account created with a password and TLS required, granted a database, logged in
// with over TLS, revoked, dropped, with the statements shown equal to those the server ran and
// the password nowhere else; a role created, granted as the default role, revoked and dropped;
// the privilege tree by level; and screenshots of every page.
#include "app/Calvoro.h"
#include "app/DataUnit.h"
#include "app/TessrinUnit.h"
#include "app/admin/AccountDialog.h"
#include "app/admin/AdminSession.h"
#include "app/admin/GrantDialog.h"
#include "app/admin/ProcessesPage.h"
#include "app/admin/ServerTab.h"
#include "app/admin/StatementsDialog.h"
#include "app/admin/StatusPage.h"
#include "app/admin/UsersPage.h"
#include "app/admin/VariablesPage.h"
#include "common/ScopeGuard.h"
#include "dataaccess/mysql/MyAccess.h"
#include "app/support/AppSession.h"
#include "dataaccess/support/MyTestConnection.h"
#include "support/QtPrinters.h"
#include "support/TestServer.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>
#include <thread>

using namespace calvoro;
using namespace calvoro::app;
using calvoro::test::FirstValue;
using calvoro::test::NewConnection;
using calvoro::test::RowsText;
using calvoro::test::TSleeper;

namespace {

const QString Db = QStringLiteral("calvoro_servertab");
const QString User = QStringLiteral("calvoro_tab_user");
// A quote and a backslash, which the statement must escape.
const QString Password = QStringLiteral("Tab-pw'1\\x");

QString ShotDir() { return qEnvironmentVariable("CALVORO_SCREENSHOT_DIR", QDir::tempPath()); }

// Plays the user's part in the modal windows that open while it lives: each step gets the
// window that came up and answers true when it dealt with it. A window no step takes within
// two seconds is closed and kept in Unexpected, so that a surprise fails the test instead of
// hanging it.
class TModalSteps {
public:
    using TStep = std::function<bool(QWidget* window)>;
    explicit TModalSteps(std::vector<TStep> steps = {}) : FSteps(std::move(steps)) {
        FTimer.setInterval(10);
        QObject::connect(&FTimer, &QTimer::timeout, [this] { Tick(); });
        FTimer.start();
    }
    QStringList Unexpected;
    bool Done() const { return FNext == FSteps.size(); }

private:
    void Tick() {
        QWidget* window = QApplication::activeModalWidget();
        if (!window || !window->isVisible()) return;
        if (window != FWindow) {
            FWindow = window;
            FSince.start();
        }
        if (FNext < FSteps.size() && FSteps[FNext](window)) {
            ++FNext;
            FWindow = nullptr;
            return;
        }
        if (FSince.elapsed() < 2000) return;
        auto* box = qobject_cast<QMessageBox*>(window);
        Unexpected << (box ? box->text() : window->objectName());
        if (auto* dialog = qobject_cast<QDialog*>(window)) dialog->reject();
        else window->close();
        FWindow = nullptr;
    }
    std::vector<TStep> FSteps;
    size_t FNext = 0;
    QPointer<QWidget> FWindow;
    QElapsedTimer FSince;
    QTimer FTimer;
};

// A step for a window of type D: act on it (and close it there).
template <typename D>
TModalSteps::TStep On(std::function<void(D&)> act) {
    return [act](QWidget* window) {
        auto* d = qobject_cast<D*>(window);
        if (!d) return false;
        act(*d);
        return true;
    };
}

// The statements dialog: keeps what it showed (and the exact text), then runs or cancels.
struct TShown {
    QString Question, Text, Exact;
    bool PasswordBox = false;
};
TModalSteps::TStep Statements(TShown& shown, bool run = true) {
    return On<TStatementsDialog>([&shown, run](TStatementsDialog& d) {
        shown.Question = d.lblStatementsQuestion->text();
        shown.Text = d.mmoStatements->toPlainText();
        shown.Exact = d.ExactText();
        shown.PasswordBox = d.cbShowPasswords->isVisibleTo(&d);
        (run ? d.btnRunStatements : d.btnCancelStatements)->click();
    });
}
// A message box: keeps its text and presses the button.
TModalSteps::TStep Box(QString& text, QMessageBox::StandardButton button) {
    return On<QMessageBox>([&text, button](QMessageBox& box) {
        text = box.text();
        box.button(button)->click();
    });
}

enum TProcessColumn { pcId, pcUser, pcHost, pcDatabase, pcCommand, pcTime, pcState, pcOurs, pcStatement };

class ServerTabTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        auto admin = NewConnection();
        admin->Connect();
        for (const char* sql : {"DROP DATABASE IF EXISTS calvoro_servertab", "CREATE DATABASE calvoro_servertab",
                                "CREATE TABLE calvoro_servertab.t (id INT)", "INSERT INTO calvoro_servertab.t VALUES (7)"})
            admin->ExecSQL(QString::fromLatin1(sql));
    }
    static void TearDownTestSuite() {
        auto admin = NewConnection();
        admin->Connect();
        admin->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS calvoro_servertab"));
    }
    void SetUp() override {
        admin = NewConnection();
        admin->Connect();
        admin->ExecSQL(QStringLiteral("DROP USER IF EXISTS '%1'@'%'").arg(User));
        program = test::StartProgram();
        form = program->MainForm.get();
        data = program->Data.get();
        test::ConnectTools(*form, *data, Db);
        ASSERT_TRUE(data->ToolsConnected());
        tab = form->ServerTab;
        // The tests refresh by hand, unless they test the timer.
        tab->spnRefreshSeconds->setValue(0);
        form->TntPageControl1->setCurrentWidget(tab);
        ASSERT_TRUE(tab->isVisible());
        WaitIdle();
    }
    void TearDown() override {
        program.reset();
        admin->ExecSQL(QStringLiteral("DROP USER IF EXISTS '%1'@'%'").arg(User));
    }

    void WaitIdle() { ASSERT_TRUE(QTest::qWaitFor([&] { return !tab->Session().Busy(); }, 20000)); }
    // Shows the page and reads it anew, as the Refresh button does once the session is free.
    void Refresh(TServerPage* page) {
        tab->pgcServer->setCurrentWidget(page);
        WaitIdle();
        ASSERT_TRUE(page->Refresh());
        WaitIdle();
    }
    int ProcessRow(qint64 id) const {
        QTableWidget* t = tab->ProcessesPage->tblProcesses;
        for (int row = 0; row < t->rowCount(); ++row)
            if (t->item(row, pcId)->text() == QString::number(id)) return row;
        return -1;
    }
    QString ProcessCell(qint64 id, TProcessColumn column) const {
        const int row = ProcessRow(id);
        return row < 0 ? QStringLiteral("(not listed)") : tab->ProcessesPage->tblProcesses->item(row, column)->text();
    }
    const dac::TStatusRate* Rate(const QString& name) const {
        for (const auto& r : tab->StatusPage->Rates())
            if (r.Name == name) return &r;
        return nullptr;
    }
    QString Server(const QString& sql) { return RowsText(*admin, sql); }

    std::unique_ptr<dac::TMyConnection> admin;
    std::unique_ptr<Program> program;
    TTessrinForm* form = nullptr;
    TData* data = nullptr;
    TServerTab* tab = nullptr;
};

TEST_F(ServerTabTest, SleepingStatementIsListedThenKilledByQueryAndByConnection) {
    TProcessesPage* page = tab->ProcessesPage;
    TSleeper sleeper(QStringLiteral("SELECT SLEEP(30)"));
    // The statement arrives at the server a moment after it is sent.
    QElapsedTimer arrival;
    arrival.start();
    do Refresh(page);
    while (ProcessCell(sleeper.Id(), pcStatement) != QStringLiteral("SELECT SLEEP(30)") && arrival.elapsed() < 10000);
    EXPECT_EQ(ProcessCell(sleeper.Id(), pcStatement), QStringLiteral("SELECT SLEEP(30)"));
    EXPECT_EQ(ProcessCell(sleeper.Id(), pcCommand), QStringLiteral("Query"));
    EXPECT_EQ(ProcessCell(sleeper.Id(), pcState), QStringLiteral("User sleep"));
    EXPECT_EQ(ProcessCell(sleeper.Id(), pcUser), QString::fromStdString(test::Server().NativeUser));
    EXPECT_EQ(ProcessCell(sleeper.Id(), pcOurs), QString());
    // Our own connections are marked as such.
    EXPECT_EQ(ProcessCell(tab->Session().ConnectionId(), pcOurs), QStringLiteral("this Server tab"));
    EXPECT_EQ(ProcessCell(data->ToolsConnection->GetThreadId(), pcOurs),
              QStringLiteral("the tools session of the other tabs"));
    EXPECT_EQ(ProcessCell(data->ToolsConnection->GetThreadId(), pcDatabase), Db);
    EXPECT_TRUE(page->lblProcessesState->text().contains(QStringLiteral("information_schema.PROCESSLIST")))
        << page->lblProcessesState->text().toStdString();

    // The filters: sleeping connections hidden (the tools session sleeps, the sleeper runs),
    // one database.
    page->cbHideSleeping->setChecked(true);
    EXPECT_GE(ProcessRow(sleeper.Id()), 0);
    EXPECT_EQ(ProcessRow(data->ToolsConnection->GetThreadId()), -1);
    page->cbHideSleeping->setChecked(false);
    page->cbxProcessDatabase->setCurrentText(Db);
    EXPECT_EQ(page->ShownIds(), std::vector<qint64>{qint64(data->ToolsConnection->GetThreadId())});
    page->cbxProcessDatabase->setCurrentIndex(0);
    EXPECT_GE(ProcessRow(sleeper.Id()), 0);

    // Kill Query, after the statement is shown: the sleep ends, the connection stays.
    page->SelectIds({sleeper.Id()});
    EXPECT_EQ(page->mmoProcessInfo->toPlainText(), QStringLiteral("SELECT SLEEP(30)"));
    ASSERT_TRUE(page->btnKillQuery->isEnabled());
    TShown shown;
    {
        TModalSteps steps({Statements(shown)});
        QElapsedTimer timer;
        timer.start();
        page->btnKillQuery->click();
        EXPECT_TRUE(steps.Done());
        EXPECT_EQ(steps.Unexpected, QStringList());
        sleeper.Finish();
        EXPECT_LT(timer.elapsed(), 10000) << "Kill Query ended the sleep";
    }
    EXPECT_EQ(shown.Text, QStringLiteral("KILL QUERY %1;").arg(sleeper.Id()));
    EXPECT_TRUE(shown.Question.contains(QStringLiteral("%1 %2@").arg(sleeper.Id()).arg(QString::fromStdString(test::Server().NativeUser))))
        << shown.Question.toStdString();
    EXPECT_TRUE(shown.Question.contains(QStringLiteral("running SELECT SLEEP(30)"))) << shown.Question.toStdString();
    EXPECT_FALSE(shown.PasswordBox);
    EXPECT_EQ(FirstValue(sleeper.Connection(), QStringLiteral("SELECT 41 + 1")), QStringLiteral("42"));
    WaitIdle();
    Refresh(page);
    EXPECT_EQ(ProcessCell(sleeper.Id(), pcCommand), QStringLiteral("Sleep"));

    // Kill Connection: it is gone from the server and from the list.
    page->SelectIds({sleeper.Id()});
    {
        TModalSteps steps({Statements(shown)});
        page->btnKillConnection->click();
        EXPECT_TRUE(steps.Done());
        EXPECT_EQ(steps.Unexpected, QStringList());
    }
    EXPECT_EQ(shown.Text, QStringLiteral("KILL CONNECTION %1;").arg(sleeper.Id()));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return Server(QStringLiteral("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = %1")
                              .arg(sleeper.Id())) == QStringLiteral("0");
        },
        10000));
    EXPECT_THROW(FirstValue(sleeper.Connection(), QStringLiteral("SELECT 1")), std::exception);
    WaitIdle();
    Refresh(page);
    EXPECT_EQ(ProcessRow(sleeper.Id()), -1);

    // Cancelled: nothing runs.
    TSleeper other(QStringLiteral("SELECT SLEEP(0)"));
    other.Finish();
    Refresh(page);
    page->SelectIds({other.Id()});
    {
        TModalSteps steps({Statements(shown, false)});
        page->btnKillConnection->click();
        EXPECT_TRUE(steps.Done());
    }
    EXPECT_EQ(FirstValue(other.Connection(), QStringLiteral("SELECT 1")), QStringLiteral("1"));
}

TEST_F(ServerTabTest, OwnConnectionsAreEndedOnlyAfterASecondYes) {
    TProcessesPage* page = tab->ProcessesPage;
    Refresh(page);
    const qint64 tools = data->ToolsConnection->GetThreadId();
    const qint64 own = tab->Session().ConnectionId();
    ASSERT_NE(own, 0);
    ASSERT_GE(ProcessRow(tools), 0);

    // The tools session: the statement is confirmed, the second question answered No.
    page->SelectIds({tools});
    TShown shown;
    QString second;
    {
        TModalSteps steps({Statements(shown), Box(second, QMessageBox::No)});
        page->btnKillConnection->click();
        EXPECT_TRUE(steps.Done());
        EXPECT_EQ(steps.Unexpected, QStringList());
    }
    EXPECT_EQ(shown.Text, QStringLiteral("KILL CONNECTION %1;").arg(tools));
    EXPECT_TRUE(second.contains(QStringLiteral("%1 (the tools session of the other tabs)").arg(tools))) << second.toStdString();
    // Asked of the server: the tools session would log in anew (with a prompt) if it were gone.
    EXPECT_EQ(Server(QStringLiteral("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = %1").arg(tools)),
              QStringLiteral("1"));

    // The tab's own connection, answered Yes: it ends, and the next reading logs in anew.
    WaitIdle();
    Refresh(page);
    page->SelectIds({own});
    {
        TModalSteps steps({Statements(shown), Box(second, QMessageBox::Yes)});
        page->btnKillConnection->click();
        EXPECT_TRUE(steps.Done());
        EXPECT_EQ(steps.Unexpected, QStringList());
    }
    EXPECT_TRUE(second.contains(QStringLiteral("%1 (this Server tab)").arg(own))) << second.toStdString();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return Server(QStringLiteral("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = %1").arg(own)) ==
                   QStringLiteral("0");
        },
        10000));
    WaitIdle();
    Refresh(page);
    EXPECT_NE(tab->Session().ConnectionId(), own);
    EXPECT_EQ(ProcessCell(tab->Session().ConnectionId(), pcOurs), QStringLiteral("this Server tab"));
}

TEST_F(ServerTabTest, AutoRefreshHoldsStillWhileProcessesAreSelected) {
    TProcessesPage* page = tab->ProcessesPage;
    Refresh(page);
    int readings = 0;
    QObject::connect(&tab->Session(), &TAdminSession::Idle, [&] { ++readings; });
    tab->spnRefreshSeconds->setValue(1);
    QTest::qWait(2600);
    EXPECT_GE(readings, 2) << "refreshed every second";

    page->SelectIds({tab->Session().ConnectionId()});
    EXPECT_EQ(tab->PausedBecause(), QStringLiteral("processes are selected"));
    EXPECT_TRUE(tab->lblServerState->text().contains(QStringLiteral("Auto-refresh paused: processes are selected")))
        << tab->lblServerState->text().toStdString();
    WaitIdle();
    readings = 0;
    QTest::qWait(2600);
    EXPECT_EQ(readings, 0) << "held still while selected";

    page->tblProcesses->clearSelection();
    QTest::qWait(2600);
    EXPECT_GE(readings, 1) << "refreshing again";
    tab->spnRefreshSeconds->setValue(0);
}

TEST_F(ServerTabTest, StatusRatesOverAKnownWorkload) {
    TStatusPage* page = tab->StatusPage;
    QElapsedTimer span;
    span.start();
    // Shown for the first time, the page reads the status once.
    tab->pgcServer->setCurrentWidget(page);
    WaitIdle();
    EXPECT_TRUE(page->lblStatusState->text().startsWith(QStringLiteral("Rates appear from the second reading on")))
        << page->lblStatusState->text().toStdString();
    const dac::TStatusRate* before = Rate(QStringLiteral("Com_select"));
    ASSERT_NE(before, nullptr);
    EXPECT_FALSE(before->PerSecond.has_value()) << "no rate from one reading";
    const qint64 first = before->Value.toLongLong();

    auto worker = NewConnection();
    worker->Connect();
    for (int i = 0; i < 50; ++i) FirstValue(*worker, QStringLiteral("SELECT %1").arg(i));
    QTest::qWait(200);
    Refresh(page);
    const double seconds = double(span.elapsed()) / 1000.0;
    const dac::TStatusRate* after = Rate(QStringLiteral("Com_select"));
    ASSERT_NE(after, nullptr);
    EXPECT_GE(after->Value.toLongLong() - first, 50);
    ASSERT_TRUE(after->PerSecond.has_value());
    // The rate is over a span no longer than the test's own.
    EXPECT_GE(*after->PerSecond, 50.0 / seconds);
    for (const char* counter : {"Questions", "Connections", "Bytes_sent", "Bytes_received", "Innodb_data_reads",
                                "Innodb_data_writes"}) {
        const dac::TStatusRate* r = Rate(QString::fromLatin1(counter));
        ASSERT_NE(r, nullptr) << counter;
        EXPECT_TRUE(r->PerSecond.has_value()) << counter;
    }
    EXPECT_GT(*Rate(QStringLiteral("Questions"))->PerSecond, 0.0);
    for (const char* level : {"Uptime", "Max_used_connections", "Threads_connected"}) {
        const dac::TStatusRate* r = Rate(QString::fromLatin1(level));
        ASSERT_NE(r, nullptr) << level;
        EXPECT_FALSE(r->PerSecond.has_value()) << level << " is a level, not a counter";
    }
    EXPECT_TRUE(page->lblStatusState->text().startsWith(QStringLiteral("Rates per second over the last")))
        << page->lblStatusState->text().toStdString();

    // Search narrows the table to the names that contain the text.
    page->edtStatusFilter->setText(QStringLiteral("com_select"));
    ASSERT_EQ(page->tblStatus->rowCount(), 1);
    EXPECT_EQ(page->tblStatus->item(0, 0)->text(), QStringLiteral("Com_select"));
    EXPECT_FALSE(page->tblStatus->item(0, 2)->text().isEmpty());
    page->edtStatusFilter->setText(QStringLiteral("no such counter"));
    EXPECT_EQ(page->tblStatus->rowCount(), 0);
}

TEST_F(ServerTabTest, VariablesSetForTheSessionAndGloballyAndReadOnlyOnesNot) {
    TVariablesPage* page = tab->VariablesPage;
    Refresh(page);
    ASSERT_GT(page->Variables().size(), 100u);

    // Session: on the tools session the other tabs use.
    page->edtVariableFilter->setText(QStringLiteral("sort_buffer"));
    for (int row = 0; row < page->tblVariables->rowCount(); ++row)
        EXPECT_TRUE(page->tblVariables->item(row, 0)->text().contains(QStringLiteral("sort_buffer")));
    ASSERT_TRUE(page->SelectVariable(QStringLiteral("sort_buffer_size")));
    ASSERT_TRUE(page->btnSetSessionVariable->isEnabled());
    TShown shown;
    {
        TModalSteps steps({On<TVariableDialog>([](TVariableDialog& d) {
                               d.cbxVariableValue->setCurrentText(QStringLiteral("262144"));
                               d.btnVariableOk->click();
                           }),
                           Statements(shown)});
        page->btnSetSessionVariable->click();
        EXPECT_TRUE(steps.Done());
        EXPECT_EQ(steps.Unexpected, QStringList());
    }
    EXPECT_EQ(shown.Text, QStringLiteral("SET SESSION `sort_buffer_size` = 262144;"));
    EXPECT_EQ(FirstValue(*data->ToolsConnection, QStringLiteral("SELECT @@SESSION.sort_buffer_size")),
              QStringLiteral("262144"));
    WaitIdle();
    ASSERT_TRUE(page->SelectVariable(QStringLiteral("sort_buffer_size")));
    int row = page->tblVariables->currentRow();
    EXPECT_EQ(page->tblVariables->item(row, 1)->text(), QStringLiteral("262144")) << "the session value read back";

    // Global, restored afterwards.
    const QString was = FirstValue(*admin, QStringLiteral("SELECT @@GLOBAL.max_connect_errors")).value_or(QString());
    ScopeExit restore([&] { admin->ExecSQL(QStringLiteral("SET GLOBAL max_connect_errors = %1").arg(was)); });
    const QString now = QString::number(was.toLongLong() + 7);
    page->edtVariableFilter->setText(QStringLiteral("max_connect_errors"));
    ASSERT_TRUE(page->SelectVariable(QStringLiteral("max_connect_errors")));
    EXPECT_FALSE(page->btnSetSessionVariable->isEnabled()) << "global only";
    ASSERT_TRUE(page->btnSetGlobalVariable->isEnabled());
    {
        TModalSteps steps({On<TVariableDialog>([&](TVariableDialog& d) {
                               d.cbxVariableValue->setCurrentText(now);
                               d.btnVariableOk->click();
                           }),
                           Statements(shown)});
        page->btnSetGlobalVariable->click();
        EXPECT_TRUE(steps.Done());
    }
    EXPECT_EQ(shown.Text, QStringLiteral("SET GLOBAL `max_connect_errors` = %1;").arg(now));
    EXPECT_EQ(FirstValue(*admin, QStringLiteral("SELECT @@GLOBAL.max_connect_errors")), now);
    WaitIdle();
    ASSERT_TRUE(page->SelectVariable(QStringLiteral("max_connect_errors")));
    row = page->tblVariables->currentRow();
    EXPECT_EQ(page->tblVariables->item(row, 2)->text(), now) << "the global value read back";

    // Read-only: no change offered, and the page says why.
    page->edtVariableFilter->setText(QStringLiteral("datadir"));
    ASSERT_TRUE(page->SelectVariable(QStringLiteral("datadir")));
    EXPECT_FALSE(page->btnSetSessionVariable->isEnabled());
    EXPECT_FALSE(page->btnSetGlobalVariable->isEnabled());
    EXPECT_EQ(page->tblVariables->item(page->tblVariables->currentRow(), 4)->text(), QStringLiteral("read-only"));
    EXPECT_EQ(page->lblVariablesState->text(), QStringLiteral("datadir is read-only: it is set when the server starts."));

    // A value the server refuses: its reason and the statement are shown; nothing changed.
    page->edtVariableFilter->setText(QStringLiteral("time_zone"));
    ASSERT_TRUE(page->SelectVariable(QStringLiteral("time_zone")));
    const auto zone = FirstValue(*data->ToolsConnection, QStringLiteral("SELECT @@SESSION.time_zone"));
    QString error;
    {
        TModalSteps steps({On<TVariableDialog>([](TVariableDialog& d) {
                               d.cbxVariableValue->setCurrentText(QStringLiteral("Nowhere/Never"));
                               d.btnVariableOk->click();
                           }),
                           Statements(shown), Box(error, QMessageBox::Ok)});
        page->btnSetSessionVariable->click();
        EXPECT_TRUE(steps.Done());
    }
    EXPECT_TRUE(error.contains(QStringLiteral("Unknown or incorrect time zone: 'Nowhere/Never'"))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("The statement was: SET SESSION `time_zone` = 'Nowhere/Never'"))) << error.toStdString();
    EXPECT_EQ(FirstValue(*data->ToolsConnection, QStringLiteral("SELECT @@SESSION.time_zone")), zone);
}

TEST_F(ServerTabTest, AccountCreatedGrantedLoggedInWithRevokedAndDropped) {
    TUsersPage* page = tab->UsersPage;
    // The server's own record of what the tab ran, to hold against what it showed.
    const QString logOutput = FirstValue(*admin, QStringLiteral("SELECT @@GLOBAL.log_output")).value_or(QString());
    const QString generalLog = FirstValue(*admin, QStringLiteral("SELECT @@GLOBAL.general_log")).value_or(QString());
    admin->ExecSQL(QStringLiteral("SET GLOBAL log_output = 'TABLE', general_log = ON"));
    ScopeExit restoreLog([&] {
        admin->ExecSQL(QStringLiteral("SET GLOBAL general_log = %1, log_output = '%2'").arg(generalLog, logOutput));
    });
    const auto ran = [&](const QString& start) {
        return Server(QStringLiteral("SELECT CONVERT(argument USING utf8mb4) FROM mysql.general_log WHERE thread_id = %1 "
                                     "AND command_type = 'Query' AND argument LIKE '%2%' ORDER BY event_time")
                          .arg(tab->Session().ConnectionId())
                          .arg(start));
    };
    Refresh(page);
    const QString account = QStringLiteral("'%1'@'%'").arg(User);

    // Created with a password and TLS required; the password shows masked until asked for.
    TShown created;
    {
        TModalSteps steps({On<TAccountDialog>([](TAccountDialog& d) {
                               d.edtAccountUser->setText(User);
                               d.edtAccountHost->setText(QStringLiteral("%"));
                               d.edtAccountPassword->setText(Password);
                               d.edtAccountPassword2->setText(Password);
                               d.cbxAccountTls->setCurrentIndex(1);
                               d.btnAccountOk->click();
                           }),
                           Statements(created)});
        page->btnNewAccount->click();
        EXPECT_TRUE(steps.Done());
        EXPECT_EQ(steps.Unexpected, QStringList());
    }
    EXPECT_EQ(created.Text, QStringLiteral("CREATE USER %1 IDENTIFIED BY '********' REQUIRE SSL;").arg(account));
    EXPECT_EQ(created.Exact, QStringLiteral("CREATE USER %1 IDENTIFIED BY 'Tab-pw\\'1\\\\x' REQUIRE SSL;").arg(account));
    EXPECT_TRUE(created.PasswordBox);
    WaitIdle();
    ASSERT_TRUE(page->SelectAccount({User, QStringLiteral("%")}));
    {
        const auto& accounts = page->Accounts();
        const auto a = std::find_if(accounts.begin(), accounts.end(), [](const dac::TAccountInfo& i) { return i.Name.User == User; });
        ASSERT_NE(a, accounts.end());
        EXPECT_EQ(a->Tls, dac::tkSsl);
        EXPECT_EQ(a->Plugin, QStringLiteral("mysql_native_password"));
    }

    // A database granted.
    TShown granted;
    {
        TModalSteps steps({On<TGrantDialog>([](TGrantDialog& d) {
                               d.cbxGrantLevel->setCurrentIndex(TGrantDialog::lvDatabase);
                               d.cbxGrantDatabase->setCurrentText(Db);
                               const auto items = d.lbxGrantPrivileges->findItems(QStringLiteral("SELECT"), Qt::MatchExactly);
                               if (!items.isEmpty()) items.front()->setCheckState(Qt::Checked);
                               d.btnGrantOk->click();
                           }),
                           Statements(granted)});
        page->btnGrant->click();
        EXPECT_TRUE(steps.Done());
        EXPECT_EQ(steps.Unexpected, QStringList());
    }
    EXPECT_EQ(granted.Text, QStringLiteral("GRANT SELECT ON `calvoro_servertab`.* TO %1;").arg(account));
    WaitIdle();

    // Logged in with over TLS (and refused without), the grant at work.
    const auto login = [&](protocol::TSslMode mode) {
        auto c = NewConnection();
        c->SetUsername(User);
        c->SetPassword(Password);
        c->SSLOptions().Mode = mode;
        c->Connect();
        return c;
    };
    auto user = login(protocol::smRequired);
    EXPECT_FALSE(user->SslCipher().isEmpty());
    EXPECT_EQ(FirstValue(*user, QStringLiteral("SELECT id FROM %1.t").arg(Db)), QStringLiteral("7"));
    try {
        login(protocol::smDisabled);
        ADD_FAILURE() << "logged in without TLS";
    } catch (const dac::EMyError& e) {
        EXPECT_EQ(e.ErrorCode(), 1045);
    }

    // The privilege in the tree, revoked from there: the next statement is refused.
    QTreeWidgetItem* leaf = nullptr;
    for (QTreeWidgetItemIterator it(page->tvPrivileges); *it; ++it)
        if ((*it)->text(0) == QStringLiteral("SELECT") && (*it)->parent() &&
            (*it)->parent()->text(0) == QStringLiteral("`calvoro_servertab`.*") && (*it)->parent()->parent() &&
            (*it)->parent()->parent()->text(0) == QStringLiteral("Databases"))
            leaf = *it;
    QStringList tree;
    for (QTreeWidgetItemIterator it(page->tvPrivileges); *it; ++it) tree << (*it)->text(0);
    ASSERT_NE(leaf, nullptr) << tree.join(QStringLiteral(" | ")).toStdString();
    leaf->setSelected(true);
    ASSERT_TRUE(page->btnRevoke->isEnabled());
    TShown revoked;
    {
        TModalSteps steps({Statements(revoked)});
        page->btnRevoke->click();
        EXPECT_TRUE(steps.Done());
    }
    EXPECT_EQ(revoked.Text, QStringLiteral("REVOKE SELECT ON `calvoro_servertab`.* FROM %1;").arg(account));
    try {
        FirstValue(*user, QStringLiteral("SELECT id FROM %1.t").arg(Db));
        ADD_FAILURE() << "selected after the revoke";
    } catch (const dac::EMyError& e) {
        EXPECT_EQ(e.ErrorCode(), 1142) << e.Message().toStdString();
    }
    WaitIdle();

    // Created again: the server refuses, and its error shows no password.
    TShown again;
    QString error;
    {
        TModalSteps steps({On<TAccountDialog>([](TAccountDialog& d) {
                               d.edtAccountUser->setText(User);
                               d.edtAccountPassword->setText(Password);
                               d.edtAccountPassword2->setText(Password);
                               d.btnAccountOk->click();
                           }),
                           Statements(again), Box(error, QMessageBox::Ok)});
        page->btnNewAccount->click();
        EXPECT_TRUE(steps.Done());
    }
    EXPECT_TRUE(error.contains(QStringLiteral("Operation CREATE USER failed for %1").arg(account))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("The statement was: CREATE USER %1 IDENTIFIED BY '********'").arg(account)))
        << error.toStdString();
    EXPECT_FALSE(error.contains(QStringLiteral("Tab-pw"))) << error.toStdString();
    WaitIdle();

    // Dropped.
    ASSERT_TRUE(page->SelectAccount({User, QStringLiteral("%")}));
    TShown dropped;
    {
        TModalSteps steps({Statements(dropped)});
        page->btnDropAccount->click();
        EXPECT_TRUE(steps.Done());
    }
    EXPECT_EQ(dropped.Text, QStringLiteral("DROP USER %1;").arg(account));
    EXPECT_EQ(Server(QStringLiteral("SELECT COUNT(*) FROM mysql.user WHERE User = '%1'").arg(User)), QStringLiteral("0"));
    WaitIdle();
    EXPECT_FALSE(page->SelectAccount({User, QStringLiteral("%")}));

    // The server ran exactly what was shown, password and all; the window kept it nowhere.
    EXPECT_EQ(again.Exact, QStringLiteral("CREATE USER %1 IDENTIFIED BY 'Tab-pw\\'1\\\\x';").arg(account));
    EXPECT_EQ(ran(QStringLiteral("CREATE USER")), created.Exact.chopped(1) + u'|' + again.Exact.chopped(1));
    EXPECT_EQ(ran(QStringLiteral("GRANT")), granted.Exact.chopped(1));
    EXPECT_EQ(ran(QStringLiteral("REVOKE")), revoked.Exact.chopped(1));
    EXPECT_EQ(ran(QStringLiteral("DROP USER")), dropped.Exact.chopped(1));
    EXPECT_FALSE(form->QueryLogList.join(u'\n').contains(QStringLiteral("Tab-pw")));
    EXPECT_FALSE(page->lblUsersState->text().contains(QStringLiteral("Tab-pw"))) << page->lblUsersState->text().toStdString();
}

TEST_F(ServerTabTest, RoleCreatedGrantedAsDefaultRevokedAndDropped) {
    TUsersPage* page = tab->UsersPage;
    const QString role = QStringLiteral("calvoro_tab_role");
    admin->ExecSQL(QStringLiteral("DROP ROLE IF EXISTS %1").arg(role));
    ScopeExit dropRole([&] { admin->ExecSQL(QStringLiteral("DROP ROLE IF EXISTS %1").arg(role)); });
    admin->ExecSQL(QStringLiteral("CREATE USER '%1'@'%' IDENTIFIED BY 'x'").arg(User));
    Refresh(page);

    TShown created;
    {
        TModalSteps steps({On<QInputDialog>([&](QInputDialog& d) {
                               d.setTextValue(role);
                               d.accept();
                           }),
                           Statements(created)});
        page->btnNewRole->click();
        EXPECT_TRUE(steps.Done());
        EXPECT_EQ(steps.Unexpected, QStringList());
    }
    EXPECT_EQ(created.Text, QStringLiteral("CREATE ROLE 'calvoro_tab_role';"));
    EXPECT_EQ(Server(QStringLiteral("SELECT is_role FROM mysql.user WHERE User = '%1'").arg(role)), QStringLiteral("Y"));
    WaitIdle();

    // Granted to the account as its default role.
    ASSERT_TRUE(page->SelectAccount({User, QStringLiteral("%")}));
    TShown granted;
    {
        TModalSteps steps({On<TGrantDialog>([&](TGrantDialog& d) {
                               d.cbxGrantLevel->setCurrentIndex(TGrantDialog::lvRole);
                               d.cbxGrantRole->setCurrentText(role);
                               d.cbDefaultRole->setChecked(true);
                               d.btnGrantOk->click();
                           }),
                           Statements(granted)});
        page->btnGrant->click();
        EXPECT_TRUE(steps.Done());
        EXPECT_EQ(steps.Unexpected, QStringList());
    }
    EXPECT_EQ(granted.Text, QStringLiteral("GRANT 'calvoro_tab_role' TO '%1'@'%';\n"
                                           "SET DEFAULT ROLE 'calvoro_tab_role' FOR '%1'@'%';")
                                .arg(User));
    EXPECT_EQ(Server(QStringLiteral("SELECT Role FROM mysql.roles_mapping WHERE User = '%1'").arg(User)), role);
    EXPECT_EQ(Server(QStringLiteral("SELECT default_role FROM mysql.user WHERE User = '%1'").arg(User)), role);
    WaitIdle();
    ASSERT_TRUE(page->SelectAccount({User, QStringLiteral("%")}));
    WaitIdle();
    QStringList roles;
    QTreeWidgetItem* leaf = nullptr;
    for (QTreeWidgetItemIterator it(page->tvPrivileges); *it; ++it)
        if ((*it)->parent() && (*it)->parent()->text(0) == QStringLiteral("Roles")) {
            roles << (*it)->text(0);
            if ((*it)->text(0) == role) leaf = *it;
        }
    EXPECT_EQ(roles, (QStringList{role, QStringLiteral("default role: ") + role}));

    // Revoked from the tree.
    ASSERT_NE(leaf, nullptr);
    leaf->setSelected(true);
    TShown revoked;
    {
        TModalSteps steps({Statements(revoked)});
        page->btnRevoke->click();
        EXPECT_TRUE(steps.Done());
    }
    EXPECT_EQ(revoked.Text, QStringLiteral("REVOKE 'calvoro_tab_role' FROM '%1'@'%';").arg(User));
    EXPECT_EQ(Server(QStringLiteral("SELECT COUNT(*) FROM mysql.roles_mapping WHERE User = '%1'").arg(User)),
              QStringLiteral("0"));
    WaitIdle();

    // Dropped: the role's row, as a role.
    ASSERT_TRUE(page->SelectAccount({role, QString()}));
    TShown dropped;
    {
        TModalSteps steps({Statements(dropped)});
        page->btnDropAccount->click();
        EXPECT_TRUE(steps.Done());
    }
    EXPECT_EQ(dropped.Text, QStringLiteral("DROP ROLE 'calvoro_tab_role';"));
    EXPECT_EQ(Server(QStringLiteral("SELECT COUNT(*) FROM mysql.user WHERE User = '%1'").arg(role)), QStringLiteral("0"));
}

// Each page with what it read, and the forms, saved for a look; the privilege tree of an
// account with grants at three levels.
TEST_F(ServerTabTest, PagesAndFormsWithWhatTheyRead) {
    form->resize(1180, 760);
    TSleeper sleeper(QStringLiteral("SELECT SLEEP(3)"));
    QTest::qWait(300);
    Refresh(tab->ProcessesPage);
    const QString dir = ShotDir();
    EXPECT_TRUE(form->grab().save(dir + QStringLiteral("/server-processes.png")));
    Refresh(tab->StatusPage);
    QTest::qWait(1100);
    Refresh(tab->StatusPage);
    tab->StatusPage->cbCountersOnly->setChecked(true);
    EXPECT_TRUE(form->grab().save(dir + QStringLiteral("/server-status.png")));
    Refresh(tab->VariablesPage);
    tab->VariablesPage->edtVariableFilter->setText(QStringLiteral("buffer"));
    tab->VariablesPage->SelectVariable(QStringLiteral("sort_buffer_size"));
    EXPECT_TRUE(form->grab().save(dir + QStringLiteral("/server-variables.png")));

    admin->ExecSQL(QStringLiteral("CREATE USER '%1'@'%' IDENTIFIED BY 'x' REQUIRE SSL WITH MAX_USER_CONNECTIONS 3").arg(User));
    admin->ExecSQL(QStringLiteral("GRANT SELECT, INSERT ON calvoro_servertab.* TO '%1'@'%'").arg(User));
    admin->ExecSQL(QStringLiteral("GRANT UPDATE (id) ON calvoro_servertab.t TO '%1'@'%'").arg(User));
    Refresh(tab->UsersPage);
    ASSERT_TRUE(tab->UsersPage->SelectAccount({User, QStringLiteral("%")}));
    WaitIdle();
    // The tree by level; the table of a column grant is listed under Columns only.
    QStringList tree;
    for (QTreeWidgetItemIterator it(tab->UsersPage->tvPrivileges); *it; ++it)
        tree << QString((*it)->parent() ? ((*it)->parent()->parent() ? 2 : 1) : 0, u'-') + (*it)->text(0);
    EXPECT_EQ(tree.join(u'|'), QStringLiteral("Global (*.*)|-USAGE (no privileges)|Databases|-`calvoro_servertab`.*|--SELECT|"
                                              "--INSERT|Columns|-`calvoro_servertab`.`t`.`id`|--UPDATE"));
    EXPECT_TRUE(form->grab().save(dir + QStringLiteral("/server-users.png")));

    TModalSteps steps({On<TAccountDialog>([&](TAccountDialog& d) {
                           QTest::qWait(50);
                           EXPECT_TRUE(d.grab().save(dir + QStringLiteral("/server-account.png")));
                           d.reject();
                       }),
                       On<TGrantDialog>([&](TGrantDialog& d) {
                           d.cbxGrantLevel->setCurrentIndex(TGrantDialog::lvColumns);
                           d.cbxGrantDatabase->setCurrentText(Db);
                           d.cbxGrantObject->setCurrentText(QStringLiteral("t"));
                           QTest::qWait(50);
                           EXPECT_TRUE(d.grab().save(dir + QStringLiteral("/server-grant.png")));
                           d.reject();
                       })});
    tab->UsersPage->btnChangeAccount->click();
    tab->UsersPage->btnGrant->click();
    EXPECT_TRUE(steps.Done());
    sleeper.Finish();
}

}  // namespace
