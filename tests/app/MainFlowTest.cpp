// The main window's flows against the test server: connecting, switching and reloading
// databases, creating databases, a lost session, a busy session; the tools session's lists,
// enable rules, progress arithmetic and connection switches.
#include "app/Calvoro.h"
#include "app/DataUnit.h"
#include "app/SynEdit.h"
#include "app/SynHighlighterMySQL.h"
#include "app/TessrinUnit.h"
#include "app/toolkit.h"
#include "common/ScopeGuard.h"
#include "dataaccess/gui/MyConnectForm.h"
#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/support/MyTestConnection.h"
#include "script/MyScript.h"
#include "support/QtPrinters.h"
#include "app/support/AppSession.h"
#include "support/LocalListeners.h"
#include "support/TestServer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QEventLoop>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace calvoro;
using namespace calvoro::app;
using calvoro::test::FirstValue;
using calvoro::test::NewConnection;
using calvoro::test::RowsText;
using calvoro::test::RunUntilIdle;

namespace {

QStringList Items(const QListWidget* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
    return items;
}

QStringList Items(const QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
    return items;
}

// Questions answered as given, then No.
class TBoxAnswerer : public test::TMessageBoxes {
public:
    explicit TBoxAnswerer(QList<QMessageBox::StandardButton> answers)
        : TMessageBoxes(std::move(answers), QMessageBox::No) {}
};

class MainFlowTest : public ::testing::Test {
protected:
    void SetUp() override {
        admin = NewConnection();
        admin->Connect();
        for (const char* db : {"calvoro_app_a", "calvoro_app_b"})
            admin->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(QLatin1String(db)));
        admin->ExecSQL(QStringLiteral("CREATE DATABASE calvoro_app_a"));
        admin->ExecSQL(QStringLiteral("CREATE DATABASE calvoro_app_b"));
        admin->ExecSQL(QStringLiteral("CREATE TABLE calvoro_app_a.t1 (id INT PRIMARY KEY)"));
        admin->ExecSQL(QStringLiteral("CREATE TABLE calvoro_app_a.t2 (id INT)"));
        admin->ExecSQL(QStringLiteral("CREATE VIEW calvoro_app_a.v1 AS SELECT id FROM calvoro_app_a.t1"));
        admin->ExecSQL(QStringLiteral("CREATE PROCEDURE calvoro_app_a.p1() SELECT 1"));
        admin->ExecSQL(QStringLiteral("CREATE VIEW calvoro_app_b.only_view AS SELECT 1 AS one"));

        program = test::StartProgram();
        form = program->MainForm.get();
        data = program->Data.get();
        // The login values, for the tests that connect without the dialog.
        const test::ServerConfig& s = test::Server();
        dac::TMyConnection& c = *data->ToolsConnection;
        c.SetServer(QString::fromStdString(s.Host));
        c.SetPort(s.Port);
        c.SetUsername(QString::fromStdString(s.NativeUser));
        c.SetPassword(QString::fromStdString(s.NativePassword));
    }
    void TearDown() override {
        program.reset();
        for (const char* db : {"calvoro_app_a", "calvoro_app_b"})
            admin->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(QLatin1String(db)));
    }

    // Picks the database in the selector and reconnects to it, as a user does.
    void SwitchTo(const QString& database) {
        form->cbxDataBases->setCurrentIndex(form->cbxDataBases->findText(database));
        form->spbtnConnect->click();
    }
    // The connect flow without the dialog: the values are already in the connection.
    void ConnectWithoutDialog(const QString& database = {}) { test::ConnectTools(*form, *data, database); }
    bool TabsShown() const {
        for (int i = 1; i < 5; ++i)
            if (!form->TntPageControl1->isTabVisible(i)) return false;
        return true;
    }

    std::unique_ptr<dac::TMyConnection> admin;
    std::unique_ptr<Program> program;
    TTessrinForm* form = nullptr;
    TData* data = nullptr;
};

// Fills the login form when it comes up and presses Connect, or Cancel.
class TLogin {
public:
    TLogin(const QString& database, bool cancel) {
        FTimer.setInterval(10);
        QObject::connect(&FTimer, &QTimer::timeout, [this, database, cancel] {
            auto* form = qobject_cast<dac::TMyConnectForm*>(QApplication::activeModalWidget());
            if (!form) return;
            FTimer.stop();
            Shown = true;
            const test::ServerConfig& s = test::Server();
            form->findChild<QLineEdit*>(QStringLiteral("edUsername"))->setText(QString::fromStdString(s.NativeUser));
            form->findChild<QLineEdit*>(QStringLiteral("edPassword"))->setText(QString::fromStdString(s.NativePassword));
            form->findChild<QComboBox*>(QStringLiteral("edServer"))->setEditText(QString::fromStdString(s.Host));
            form->findChild<QLineEdit*>(QStringLiteral("edPort"))->setText(QString::number(s.Port));
            form->findChild<QComboBox*>(QStringLiteral("edDatabase"))->setEditText(database);
            form->findChild<QPushButton*>(QString::fromLatin1(cancel ? "btCancel" : "btConnect"))->click();
        });
        FTimer.start();
    }
    bool Shown = false;

private:
    QTimer FTimer;
};

TEST_F(MainFlowTest, ConnectingThroughTheDialog) {
    data->ToolsConnection->SetServer(QString());
    data->ToolsConnection->SetPassword(QString());
    {
        // Cancelled: no message, nothing connected, the tabs hidden at the next idle moment.
        TLogin login(QStringLiteral("calvoro_app_a"), true);
        TBoxAnswerer boxes({});
        form->btnConnectToServer->click();
        EXPECT_TRUE(login.Shown);
        EXPECT_TRUE(boxes.Texts.isEmpty()) << boxes.Texts.join(u'|').toStdString();
        RunUntilIdle();
        EXPECT_FALSE(data->ToolsConnected());
        EXPECT_FALSE(TabsShown());
    }
    {
        TLogin login(QStringLiteral("calvoro_app_a"), false);
        form->btnConnectToServer->click();
        EXPECT_TRUE(login.Shown);
        RunUntilIdle();
        ASSERT_TRUE(data->ToolsConnected());
        EXPECT_TRUE(TabsShown());
        EXPECT_EQ(data->CurrentDB, QStringLiteral("calvoro_app_a"));
        EXPECT_EQ(form->cbxDataBases->currentText(), QStringLiteral("calvoro_app_a"));
        EXPECT_EQ(Items(form->lbxTables), QStringList({QStringLiteral("t1"), QStringLiteral("t2")}));
        EXPECT_TRUE(data->ToolsConnection->LoginPrompt());
        EXPECT_EQ(form->windowTitle(),
                  QStringLiteral("MySQL Calvoro v.1.1.35 - [calvoro_app_a on 127.0.0.1 (calvoro_native)] - TLSv1.3"));
    }
    // The login values are remembered, the password nowhere.
    const QByteArray password = QByteArray::fromStdString(test::Server().NativePassword);
    int files = 0;
    for (QDirIterator it(qEnvironmentVariable("XDG_CONFIG_HOME"), QDir::Files, QDirIterator::Subdirectories);
         it.hasNext();) {
        QFile f(it.next());
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        ++files;
        EXPECT_FALSE(bytes.contains(password)) << f.fileName().toStdString();
        EXPECT_TRUE(bytes.contains(QByteArray::fromStdString(test::Server().NativeUser))) << f.fileName().toStdString();
    }
    EXPECT_GE(files, 1);
}

// The caption names the TLS version of an encrypted session (above) and nothing for a plain one.
TEST_F(MainFlowTest, TheCaptionShowsOnlyAnEncryptedSessionAsSuch) {
    data->ToolsConnection->SSLOptions().Mode = protocol::smDisabled;
    ConnectWithoutDialog(QStringLiteral("calvoro_app_a"));
    ASSERT_TRUE(data->ToolsConnected());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("MySQL Calvoro v.1.1.35 - [calvoro_app_a on 127.0.0.1 (calvoro_native)]"));
}

TEST_F(MainFlowTest, SwitchingAndReloadingFollowTheChosenDatabase) {
    form->mmoCustomQuery->SetText(QStringLiteral("SELECT 1"));
    form->TntEdit2->setText(QStringLiteral("id"));
    ConnectWithoutDialog();
    EXPECT_TRUE(data->ToolsConnected());
    EXPECT_TRUE(data->ToolsConnection->LoginPrompt());
    EXPECT_TRUE(TabsShown());
    // Without a database: every database listed, none chosen, nothing loaded.
    EXPECT_TRUE(Items(form->cbxDataBases).contains(QStringLiteral("calvoro_app_a")));
    EXPECT_EQ(form->cbxDataBases->currentIndex(), -1);
    EXPECT_EQ(data->CurrentDB, QString());
    EXPECT_EQ(form->lbxTables->count(), 0);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("MySQL Calvoro v.1.1.35 - [ on 127.0.0.1 (calvoro_native)] - TLSv1.3"));
    // A new session starts with empty editors and the placeholders back.
    EXPECT_EQ(form->mmoCustomQuery->Text(), QString());
    EXPECT_EQ(form->TntEdit2->text(), QStringLiteral("Column"));
    EXPECT_EQ(form->TntEdit3->text(), QStringLiteral("Value"));
    EXPECT_FALSE(form->TntPageControl2->isTabVisible(1));

    form->cbxDataBases->setCurrentIndex(form->cbxDataBases->findText(QStringLiteral("calvoro_app_a")));
    EXPECT_TRUE(form->spbtnConnect->isEnabled());
    EXPECT_FALSE(form->spbtnReloadDBobjects->isEnabled());
    form->spbtnConnect->click();
    EXPECT_EQ(data->ToolsConnection->Database(), QStringLiteral("calvoro_app_a"));
    EXPECT_EQ(data->CurrentDB, QStringLiteral("calvoro_app_a"));
    EXPECT_TRUE(data->ToolsConnection->LoginPrompt());
    EXPECT_FALSE(form->spbtnConnect->isEnabled());
    EXPECT_TRUE(form->spbtnReloadDBobjects->isEnabled());
    EXPECT_EQ(form->windowTitle(),
              QStringLiteral("MySQL Calvoro v.1.1.35 - [calvoro_app_a on 127.0.0.1 (calvoro_native)] - TLSv1.3"));
    const QStringList objects = {QStringLiteral("t1"), QStringLiteral("t2"), QStringLiteral("v1")};
    EXPECT_EQ(Items(form->lbxObjectsToBackup), objects);
    EXPECT_EQ(Items(form->cbxTablesViews), objects);
    EXPECT_EQ(Items(form->lbxTables), QStringList({QStringLiteral("t1"), QStringLiteral("t2")}));
    EXPECT_EQ(Items(form->lbxViews), QStringList({QStringLiteral("v1")}));
    EXPECT_EQ(data->SynMySQL->TableNames(),
              QStringList({QStringLiteral("t1"), QStringLiteral("t2"), QStringLiteral("v1"), QStringLiteral("p1"),
                           QStringLiteral("`t1`"), QStringLiteral("`t2`"), QStringLiteral("`v1`"),
                           QStringLiteral("`p1`")}));

    // Choosing the current database again: nothing to reconnect, the reload is offered.
    form->cbxDataBases->setCurrentIndex(form->cbxDataBases->findText(QStringLiteral("calvoro_app_b")));
    form->cbxDataBases->setCurrentIndex(form->cbxDataBases->findText(QStringLiteral("calvoro_app_a")));
    EXPECT_FALSE(form->spbtnConnect->isEnabled());
    EXPECT_TRUE(form->spbtnReloadDBobjects->isEnabled());

    admin->ExecSQL(QStringLiteral("CREATE TABLE calvoro_app_a.t3 (id INT)"));
    form->spbtnReloadDBobjects->click();
    EXPECT_EQ(Items(form->lbxTables), QStringList({QStringLiteral("t1"), QStringLiteral("t2"), QStringLiteral("t3")}));
}

// The reconnect of a database switch runs off the window's thread: a server that does not
// answer holds nothing up while the connect time-out runs, and the error says why once it has.
TEST_F(MainFlowTest, ADatabaseSwitchThatGetsNoAnswerKeepsTheWindowGoing) {
    ConnectWithoutDialog();
    ASSERT_TRUE(data->ToolsConnected());
    const calvoro::test::TLocalListener silent(false);
    dac::TMyConnection& c = *data->ToolsConnection;
    c.SetPort(silent.Port());  // closes the session: the next connect goes to the silent port
    c.SetConnectionTimeout(2);
    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(20);
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start();
    test::TMessageBoxes boxes;
    QElapsedTimer clock;
    clock.start();
    SwitchTo(QStringLiteral("calvoro_app_a"));
    const qint64 elapsed = clock.elapsed();
    EXPECT_GE(elapsed, 1900);
    EXPECT_LT(elapsed, 6000);
    EXPECT_GT(ticks, 20) << "the window's thread was held";
    ASSERT_EQ(boxes.Texts.size(), 1);
    EXPECT_TRUE(boxes.Texts[0].startsWith(QStringLiteral("Can't connect to MySQL server on '127.0.0.1' (110: Connection timed out)")))
        << boxes.Texts[0].toStdString();
    EXPECT_FALSE(data->ToolsConnected());
}

TEST_F(MainFlowTest, CreatingADatabase) {
    const QString tricky = QStringLiteral("x`; DROP DATABASE calvoro_app_b; `");
    struct Case {
        const char* what;
        QString name;
        QList<QMessageBox::StandardButton> answers;
        int questions;   // Yes/No boxes shown
        bool created;    // the database exists empty afterwards and the window is in it
    } cases[] = {
        {"a new name", QStringLiteral("calvoro_app_new"), {QMessageBox::Yes}, 1, true},
        {"a name that needs quotes", QStringLiteral("calvoro-app my`db"), {QMessageBox::Yes}, 1, true},
        {"text that tries a second statement", tricky, {QMessageBox::Yes}, 1, true},
        {"declined", QStringLiteral("calvoro_app_never"), {QMessageBox::No}, 1, false},
        {"an existing name, the drop declined", QStringLiteral("calvoro_app_a"), {QMessageBox::Yes, QMessageBox::No}, 2,
         false},
        {"an existing name, the drop confirmed", QStringLiteral("calvoro_app_a"),
         {QMessageBox::Yes, QMessageBox::Yes}, 2, true},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.what);
        ConnectWithoutDialog(QStringLiteral("calvoro_app_b"));
        const int tablesBefore =
            FirstValue(*admin, QStringLiteral("SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_SCHEMA = '%1'")
                                   .arg(QString(tc.name).replace(u'\'', QStringLiteral("''"))))
                .value_or(QString())
                .toInt();
        form->TntEdit1->setText(tc.name);
        {
            TBoxAnswerer answers(tc.answers);
            form->TntBitBtn2->click();
            ASSERT_GE(answers.Texts.size(), tc.questions);
            EXPECT_EQ(answers.Texts[0], QStringLiteral("Are you sure you want to create '%1' database?").arg(tc.name));
            if (tc.questions == 2) {
                EXPECT_TRUE(answers.Texts[1].contains(QStringLiteral("dropped with all its data")));
            }
            if (tc.created) {
                ASSERT_EQ(answers.Texts.size(), tc.questions + 1);
                EXPECT_EQ(answers.Texts.back(), QStringLiteral("Database created successfully"));
            } else {
                EXPECT_EQ(answers.Texts.size(), tc.questions);
            }
        }
        const std::optional<QString> exists =
            FirstValue(*admin, QStringLiteral("SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_SCHEMA = '%1'")
                                   .arg(QString(tc.name).replace(u'\'', QStringLiteral("''"))));
        if (tc.created) {
            EXPECT_EQ(RowsText(*admin, QStringLiteral("SHOW DATABASES LIKE '%1'")
                                           .arg(QString(tc.name).replace(u'_', QStringLiteral("\\_")))),
                      tc.name);
            EXPECT_EQ(exists, QStringLiteral("0"));  // created empty
            // The window shows where the session now works.
            EXPECT_EQ(data->ToolsConnection->Database(), tc.name);
            EXPECT_EQ(form->cbxDataBases->currentText(), tc.name);
            EXPECT_EQ(data->CurrentDB, tc.name);
            EXPECT_TRUE(form->windowTitle().contains(QStringLiteral("[%1 on ").arg(tc.name)));
            EXPECT_EQ(form->lbxTables->count(), 0);
        } else {
            EXPECT_EQ(exists.value_or(QString()).toInt(), tablesBefore);  // untouched
            EXPECT_EQ(data->ToolsConnection->Database(), QStringLiteral("calvoro_app_b"));
        }
        // Nothing else was run: the other database is still there.
        EXPECT_EQ(RowsText(*admin, QStringLiteral("SHOW DATABASES LIKE 'calvoro\\_app\\_b'")), QStringLiteral("calvoro_app_b"));
        if (tc.name != QStringLiteral("calvoro_app_a"))
            admin->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(QuoteIdentifier(tc.name)));
    }
    // With an empty name nothing is asked.
    form->TntEdit1->clear();
    TBoxAnswerer none({});
    form->TntBitBtn2->click();
    EXPECT_TRUE(none.Texts.isEmpty());
}

// Whether a name means an existing database is the server's to say: with
// lower_case_table_names 0 CALVORO_APP_A is a database of its own and nothing is dropped;
// otherwise it is calvoro_app_a, and the second question says so.
TEST_F(MainFlowTest, CreatingADatabaseAsksAsTheServerComparesNames) {
    const bool foldsCase = FirstValue(*admin, QStringLiteral("SELECT @@lower_case_table_names")).value_or(QString()) != u"0";
    const QString upper = QStringLiteral("CALVORO_APP_A");
    ScopeExit drop([&] {
        if (!foldsCase) admin->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(upper));
    });
    ConnectWithoutDialog(QStringLiteral("calvoro_app_b"));
    form->TntEdit1->setText(upper);
    {
        TBoxAnswerer answers({QMessageBox::Yes, QMessageBox::No});
        form->TntBitBtn2->click();
        ASSERT_EQ(answers.Texts.size(), 2);
        if (foldsCase) {
            EXPECT_EQ(answers.Texts[1], QStringLiteral("The server takes 'CALVORO_APP_A' for the existing database "
                                                       "'calvoro_app_a'. It will be dropped with all its data and "
                                                       "created empty. Do you want to drop it?"));
        } else {
            EXPECT_EQ(answers.Texts[1], QStringLiteral("Database created successfully"));
            EXPECT_EQ(RowsText(*admin, QStringLiteral("SHOW DATABASES LIKE 'CALVORO\\_APP\\_A'")), upper);
        }
    }
    // calvoro_app_a keeps its tables either way.
    EXPECT_EQ(RowsText(*admin, QStringLiteral("SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_SCHEMA = "
                                              "'calvoro_app_a'")),
              QStringLiteral("3"));
    // A name typed in backticks is the name inside them; one that cannot be read is refused.
    form->TntEdit1->setText(QStringLiteral("`calvoro_app_a`"));
    {
        TBoxAnswerer answers({QMessageBox::Yes, QMessageBox::No});
        form->TntBitBtn2->click();
        ASSERT_EQ(answers.Texts.size(), 2);
        EXPECT_EQ(answers.Texts[0], QStringLiteral("Are you sure you want to create 'calvoro_app_a' database?"));
        EXPECT_TRUE(answers.Texts[1].startsWith(QStringLiteral("The database 'calvoro_app_a' already exists.")));
    }
    form->TntEdit1->setText(QStringLiteral("`calvoro_app_a"));
    {
        TBoxAnswerer answers({});
        form->TntBitBtn2->click();
        ASSERT_EQ(answers.Texts.size(), 1);
        EXPECT_TRUE(answers.Texts[0].startsWith(QStringLiteral("The name `calvoro_app_a has no closing backtick")))
            << answers.Texts[0].toStdString();
    }
}

TEST_F(MainFlowTest, ASessionTheServerEndedHidesTheTabsAtTheNextIdleMoment) {
    ConnectWithoutDialog(QStringLiteral("calvoro_app_a"));
    RunUntilIdle();
    ASSERT_TRUE(TabsShown());
    const QString id = FirstValue(*data->ToolsConnection, QStringLiteral("SELECT CONNECTION_ID()")).value_or(QString());
    admin->ExecSQL(QStringLiteral("KILL CONNECTION %1").arg(id));
    for (int i = 0; i < 50 && data->ToolsConnected(); ++i) RunUntilIdle();
    EXPECT_FALSE(data->ToolsConnected());
    for (int i = 1; i < 5; ++i) EXPECT_FALSE(form->TntPageControl1->isTabVisible(i)) << i;
    EXPECT_FALSE(form->cbxDataBases->isEnabled());
    EXPECT_FALSE(form->TntBitBtn2->isEnabled());
}

// While work holds the session, the connection belongs to its worker thread: the idle check
// leaves it alone, and the window shows what became of it once the work has ended.
TEST_F(MainFlowTest, TheIdleCheckLeavesTheConnectionToTheWorkInProgress) {
    ConnectWithoutDialog(QStringLiteral("calvoro_app_a"));
    RunUntilIdle();
    ASSERT_TRUE(TabsShown());
    bool idleDuringWork = false;
    {
        TData::TBusy busy(*data);
        RunInBackground([&] {
            // The work loses its session (closed under the component, as a failed fail-over
            // leaves it) and goes on a while: the window's thread runs its idle check meanwhile.
            data->ToolsConnection->MySQLConnection()->Disconnect();
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        });
        idleDuringWork = TabsShown();
        RunUntilIdle();
        EXPECT_TRUE(TabsShown());
    }
    EXPECT_TRUE(idleDuringWork);
    RunUntilIdle();
    EXPECT_FALSE(data->ToolsConnected());
    for (int i = 1; i < 5; ++i) EXPECT_FALSE(form->TntPageControl1->isTabVisible(i)) << i;
    EXPECT_FALSE(form->cbxDataBases->isEnabled());
}

TEST_F(MainFlowTest, ABusySessionRefusesOtherOperations) {
    ConnectWithoutDialog(QStringLiteral("calvoro_app_a"));
    form->mmoCustomQuery->SetText(QStringLiteral("SELECT 1"));
    {
        TData::TBusy busy(*data);
        RunUntilIdle();
        EXPECT_FALSE(form->btnConnectToServer->isEnabled());
        EXPECT_FALSE(form->btnExecute->isEnabled());
        EXPECT_FALSE(form->TntBitBtn2->isEnabled());
        // Handlers reached anyway (a key, a queued click) do nothing.
        form->cbxDataBases->setCurrentIndex(form->cbxDataBases->findText(QStringLiteral("calvoro_app_b")));
        form->spbtnConnectClick();
        form->TntEdit1->setText(QStringLiteral("calvoro_app_busy"));
        TBoxAnswerer answers({QMessageBox::Yes});
        form->TntBitBtn2Click();
        EXPECT_TRUE(answers.Texts.isEmpty());
        EXPECT_EQ(data->ToolsConnection->Database(), QStringLiteral("calvoro_app_a"));
    }
    RunUntilIdle();
    EXPECT_TRUE(form->btnConnectToServer->isEnabled());
    EXPECT_TRUE(form->btnExecute->isEnabled());
    EXPECT_TRUE(form->TntBitBtn2->isEnabled());
}

TEST_F(MainFlowTest, TablesAndViewsOfADatabase) {
    struct Case {
        const char* database;
        QStringList tables, views;
    } cases[] = {
        {"calvoro_app_a", {QStringLiteral("t1"), QStringLiteral("t2")}, {QStringLiteral("v1")}},
        {"calvoro_app_b", {}, {QStringLiteral("only_view")}},
    };
    admin->ExecSQL(QStringLiteral("DROP VIEW calvoro_app_a.v1"));
    cases[0].views.clear();  // a database without views
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.database);
        ConnectWithoutDialog(QString::fromLatin1(tc.database));
        QStringList tables = {QStringLiteral("stale")}, views = {QStringLiteral("stale")};
        data->GetTables(tables);
        data->GetViews(views);
        EXPECT_EQ(tables, tc.tables);
        EXPECT_EQ(views, tc.views);
    }
}

TEST_F(MainFlowTest, ToolbarButtonsFollowTheEditorsAndTheHistory) {
    struct Case {
        const char* what;
        QString script, query;
        QStringList history;
        bool executeScript, execute, clear, historyButtons;
    } cases[] = {
        {"all empty", {}, {}, {}, false, false, false, false},
        {"a script", QStringLiteral("SELECT 1;"), {}, {}, true, false, false, false},
        {"a query", {}, QStringLiteral("SELECT 1"), {}, false, true, true, false},
        {"only blanks and line breaks", {}, QStringLiteral("  \r\n\t "), {}, false, true, false, false},
        {"a history of one", {}, {}, {QStringLiteral("SELECT 1")}, false, false, false, true},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.what);
        form->mmoExecScript->SetText(tc.script);
        form->mmoCustomQuery->Clear();
        if (!tc.query.isEmpty()) form->mmoCustomQuery->SetText(tc.query);
        form->QueryLogList = tc.history;
        RunUntilIdle();
        EXPECT_EQ(form->btnExecuteScript->isEnabled(), tc.executeScript);
        EXPECT_EQ(form->btnExecute->isEnabled(), tc.execute);
        EXPECT_EQ(form->btnClear->isEnabled(), tc.clear);
        for (QPushButton* b : {form->btnViewAllQueries, form->btnPrev, form->btnNext})
            EXPECT_EQ(b->isEnabled(), tc.historyButtons) << b->objectName().toStdString();
    }
    // Undo and Redo follow the editor's lists.
    form->mmoCustomQuery->Clear();
    RunUntilIdle();
    EXPECT_FALSE(form->btnUndo->isEnabled());
    form->mmoCustomQuery->setFocus();
    form->mmoCustomQuery->insert(QStringLiteral("SELECT 2"));
    RunUntilIdle();
    EXPECT_TRUE(form->btnUndo->isEnabled());
    EXPECT_FALSE(form->btnRedo->isEnabled());
    form->mmoCustomQuery->Undo();
    RunUntilIdle();
    EXPECT_TRUE(form->btnRedo->isEnabled());
}

TEST(ToolsSession, BackupProgressPosition) {
    struct Case {
        int num, count, percent, position;
    } cases[] = {
        {0, 4, 50, 37},    // 25 + 12.5, the half rounded to even
        {1, 4, 50, 62},    // 50 + 12.5
        {3, 4, 100, 100},  // 100 + 25, kept at the maximum
        {0, 1, 0, 100},
        {0, 3, 50, 50},    // 33.3 + 16.7
        {0, 8, 4, 12},     // 12.5 + 0.5, both halves to even
        {2, 8, 12, 40},    // 37.5 + 1.5, both halves up to even
        {0, 0, 50, 0},     // no objects
    };
    for (const Case& c : cases)
        EXPECT_EQ(BackupProgressPosition(c.num, c.count, c.percent), c.position)
            << c.num << "/" << c.count << " at " << c.percent;
}

TEST_F(MainFlowTest, ProgressHandlersMoveTheBar) {
    data->ToolsDumpRestoreProgress(nullptr, 42);
    EXPECT_EQ(form->ProgressBar1->value(), 42);
    data->ToolsDumpBackupProgress(nullptr, QStringLiteral("t"), 0, 4, 50);
    EXPECT_EQ(form->ProgressBar1->value(), 37);
    data->ToolsDumpBackupProgress(nullptr, QStringLiteral("t"), 3, 4, 100);
    EXPECT_EQ(form->ProgressBar1->value(), 100);
}

TEST_F(MainFlowTest, DisplayWidthsOfTextFieldsAreLimited) {
    ConnectWithoutDialog(QStringLiteral("calvoro_app_a"));
    admin->ExecSQL(QStringLiteral("CREATE TABLE calvoro_app_a.w (v VARCHAR(200), s CHAR(5), tx TEXT, n INT, "
                                  "d DATETIME, dec10 DECIMAL(10,2))"));
    dac::TMyQuery& q = *data->ToolsCustomQuery;
    q.SQL().SetText(QStringLiteral("SELECT * FROM w"));
    q.Open();
    std::map<QString, int> before;
    for (const auto& f : q.Fields()) before[f->FieldName()] = f->DisplayWidth();
    LimitDisplayWidths(q, 20);
    // Long text is narrowed; short text, numbers and dates keep their widths.
    const std::map<QString, int> after = {
        {QStringLiteral("v"), 20},
        {QStringLiteral("s"), before[QStringLiteral("s")]},
        {QStringLiteral("tx"), std::min(before[QStringLiteral("tx")], 20)},
        {QStringLiteral("n"), before[QStringLiteral("n")]},
        {QStringLiteral("d"), before[QStringLiteral("d")]},
        {QStringLiteral("dec10"), before[QStringLiteral("dec10")]},
    };
    EXPECT_GE(before[QStringLiteral("v")], 200);
    EXPECT_LE(before[QStringLiteral("s")], 20);
    q.Close();
    // A number wider than the limit keeps its width: the rule goes by kind, not by width.
    q.SQL().SetText(QStringLiteral("SELECT CAST(1 AS DECIMAL(40,2)) AS wide, REPEAT('x', 30) AS txt"));
    q.Open();
    const int wide = q.FieldByName(QStringLiteral("wide")).DisplayWidth();
    LimitDisplayWidths(q, 5);
    EXPECT_EQ(q.FieldByName(QStringLiteral("wide")).DisplayWidth(), wide);
    EXPECT_EQ(q.FieldByName(QStringLiteral("txt")).DisplayWidth(), 5);
    q.Close();
    q.SQL().SetText(QStringLiteral("SELECT * FROM w"));
    q.Open();
    LimitDisplayWidths(q, 20);
    for (const auto& f : q.Fields()) EXPECT_EQ(f->DisplayWidth(), after.at(f->FieldName())) << f->FieldName().toStdString();
    q.Close();
}

TEST_F(MainFlowTest, PostIfEditingStoresAPendingEditOnly) {
    ConnectWithoutDialog(QStringLiteral("calvoro_app_a"));
    admin->ExecSQL(QStringLiteral("INSERT INTO calvoro_app_a.t1 VALUES (1)"));
    dac::TMyQuery& q = *data->ToolsQuery;
    q.SQL().SetText(QStringLiteral("SELECT id FROM t1"));
    q.Open();
    PostIfEditing(q);  // browsing: nothing to store
    EXPECT_EQ(q.State(), dac::dsBrowse);
    q.Edit();
    q.FieldByName(QStringLiteral("id")).SetAsInteger(5);
    PostIfEditing(q);
    EXPECT_EQ(q.State(), dac::dsBrowse);
    EXPECT_EQ(RowsText(*admin, QStringLiteral("SELECT id FROM calvoro_app_a.t1")), QStringLiteral("5"));
    q.Append();
    q.FieldByName(QStringLiteral("id")).SetAsInteger(6);
    PostIfEditing(q);
    EXPECT_EQ(RowsText(*admin, QStringLiteral("SELECT id FROM calvoro_app_a.t1 ORDER BY id")), QStringLiteral("5|6"));
    q.Close();
}

TEST_F(MainFlowTest, UnicodeSwitchesReconnectWithoutTheDialog) {
    ConnectWithoutDialog(QStringLiteral("calvoro_app_a"));
    dac::TMyConnection& c = *data->ToolsConnection;
    DisableUnicode(c);
    EXPECT_TRUE(c.GetConnected());
    EXPECT_FALSE(c.MyOptions().UseUnicode());
    EXPECT_FALSE(c.LoginPrompt());
    EXPECT_TRUE(data->IdleHookInstalled());
    EXPECT_EQ(c.Database(), QStringLiteral("calvoro_app_a"));
    EXPECT_EQ(c.MyOptions().Charset(), QStringLiteral("utf8mb4"));
    EXPECT_EQ(FirstValue(c, QStringLiteral("SELECT @@character_set_client")), QStringLiteral("utf8mb4"));
    EnableUnicode(c);
    EXPECT_TRUE(c.GetConnected());
    EXPECT_TRUE(c.MyOptions().UseUnicode());
    EXPECT_EQ(c.MyOptions().Charset(), QString());
    EXPECT_TRUE(c.LoginPrompt());
    EXPECT_TRUE(data->IdleHookInstalled());

    // A failing reconnect: closed, the idle check still off, the error to the caller.
    c.SetPort(1);  // nothing listens there
    EXPECT_THROW(DisableUnicode(c), std::exception);
    EXPECT_FALSE(c.GetConnected());
    EXPECT_FALSE(data->IdleHookInstalled());
    data->InstallIdleHook();
}

TEST_F(MainFlowTest, AFailingScriptStatementIsListedAndTheScriptGoesOn) {
    ConnectWithoutDialog(QStringLiteral("calvoro_app_a"));
    script::TMyScript& s = *data->ToolsScript;
    s.SQL().SetText(QStringLiteral("INSERT INTO t1 VALUES (1);\nINSERT INTO no_such_table VALUES (1);\nINSERT INTO t1 VALUES (2);"));
    s.Execute();
    EXPECT_TRUE(form->TntMemo2->toPlainText().contains(QStringLiteral("no_such_table"))) << form->TntMemo2->toPlainText().toStdString();
    EXPECT_EQ(RowsText(*admin, QStringLiteral("SELECT id FROM calvoro_app_a.t1 ORDER BY id")), QStringLiteral("1|2"));
}

}  // namespace
