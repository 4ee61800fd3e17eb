// The Custom query tab against the test server: running statements and what the memo and the
// Result tab show, the history and its log, the editor's keys, the lists, dropped files, the
// bulk changes of a result and stopping a query.
#include "app/Calvoro.h"
#include "app/DataUnit.h"
#include "app/QueriesLogUnit.h"
#include "app/QueryGeneratorUnit.h"
#include "app/SynEdit.h"
#include "app/TessrinUnit.h"
#include "app/editor/ResultTabs.h"
#include "app/support/AppSession.h"
#include "app/toolkit.h"
#include "common/ScopeGuard.h"
#include "dataaccess/gui/DBGrid.h"
#include "dataaccess/gui/DBNavigator.h"
#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/support/MyTestConnection.h"
#include "support/QtPrinters.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <atomic>

using namespace calvoro;
using namespace calvoro::app;
using calvoro::test::FirstValue;
using calvoro::test::NewConnection;
using calvoro::test::RowsText;
using calvoro::test::RunUntilIdle;

namespace {

using TBoxes = test::TMessageBoxes;

class CustomQueryTest : public ::testing::Test {
protected:
    void SetUp() override {
        admin = NewConnection();
        admin->Connect();
        admin->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS calvoro_cq"));
        admin->ExecSQL(QStringLiteral("CREATE DATABASE calvoro_cq"));
        for (const char* sql : {"CREATE TABLE calvoro_cq.k (id INT PRIMARY KEY, name VARCHAR(20), n INT UNIQUE) ENGINE=InnoDB",
                                "INSERT INTO calvoro_cq.k VALUES (1, 'a', 10), (2, 'b', 20), (3, 'c', 30)",
                                "CREATE TABLE calvoro_cq.nokey (a INT, b INT)",
                                "INSERT INTO calvoro_cq.nokey VALUES (1, 1), (2, 2)",
                                "CREATE VIEW calvoro_cq.kv AS SELECT id, name FROM calvoro_cq.k"})
            admin->ExecSQL(QString::fromLatin1(sql));
        program = test::StartProgram();
        form = program->MainForm.get();
        data = program->Data.get();
        test::ConnectTools(*form, *data, QStringLiteral("calvoro_cq"));
        ASSERT_TRUE(data->ToolsConnected());
        form->TntPageControl1->setCurrentWidget(form->TntTabSheet5);
    }
    void TearDown() override {
        program.reset();
        admin->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS calvoro_cq"));
    }
    // Runs the text as the Execute button does; the message boxes shown.
    QStringList Run(const QString& sql) {
        form->mmoCustomQuery->SetText(sql);
        TBoxes boxes;
        // As the button runs it: an error ends in the error box.
        Guarded([this] { form->btnExecuteClick(); })();
        return boxes.Texts;
    }
    QStringList Memo() const { return form->TntMemo4->toPlainText().split(u'\n'); }
    bool ResultShown() const { return form->TntPageControl2->isTabVisible(1); }

    std::unique_ptr<dac::TMyConnection> admin;
    std::unique_ptr<Program> program;
    TTessrinForm* form = nullptr;
    TData* data = nullptr;
};

TEST_F(CustomQueryTest, StatementsAndWhatTheTabShows) {
    // The statements run one by one: the memo reports each in order with its time; the Result
    // tab shows the last result with rows.
    struct Case {
        const char* sql;
        QStringList report;  // the lines between the blank ones, each going on with its time
        bool result;
        const char* header;  // the current grid's column titles
    } cases[] = {
        {"SELECT * FROM k", {QStringLiteral("Rows matched: 3;")}, true, "id,name,n"},
        {"UPDATE k SET name = 'x' WHERE id > 1", {QStringLiteral("Rows affected 2;")}, false, ""},
        {"SELECT * FROM k WHERE id > 100", {QStringLiteral("Rows matched: 0;")}, true, "id,name,n"},
        {"SELECT 1; SELECT name, n FROM k", {QStringLiteral("Rows matched: 1;"), QStringLiteral("Rows matched: 3;")},
         true, "name,n"},
        {"SELECT * FROM k;\nSELECT id FROM k WHERE id > 100;\nSELECT n FROM k WHERE id = 2",
         {QStringLiteral("Rows matched: 3;"), QStringLiteral("Rows matched: 0;"), QStringLiteral("Rows matched: 1;")},
         true, "n"},
        {"UPDATE k SET n = n + 1 WHERE id = 1; SELECT id FROM k WHERE id < 3",
         {QStringLiteral("Rows affected 1;"), QStringLiteral("Rows matched: 2;")}, true, "id"},
        {"UPDATE k SET name = 'f' WHERE id = 3; DELETE FROM k WHERE id > 100; DO 1",
         {QStringLiteral("Rows affected 1;"), QStringLiteral("Rows affected 0;"), QStringLiteral("Rows affected 0;")},
         false, ""},
        {"SELECT 1 / 0", {QStringLiteral("Rows matched: 1; Warnings: 1;")}, true, "1 / 0"},
        {"INSERT INTO k VALUES (4, 'd', 40);\nSELECT id FROM k;\nUPDATE k SET name = 'e' WHERE id >= 3",
         {QStringLiteral("Rows affected 1;"), QStringLiteral("Rows matched: 4;"), QStringLiteral("Rows affected 2;")},
         true, "id"},
    };
    const QString time = QStringLiteral(" Execution time: ");
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.sql);
        EXPECT_EQ(Run(QString::fromLatin1(tc.sql)), QStringList());
        const QStringList memo = Memo();
        const qsizetype n = tc.report.size();
        ASSERT_EQ(memo.size(), 4 + n) << form->TntMemo4->toPlainText().toStdString();
        EXPECT_EQ(memo[0], QStringLiteral("-- Query execution started --"));
        EXPECT_EQ(memo[1], QString());
        for (qsizetype i = 0; i < n; ++i) {
            EXPECT_TRUE(memo[2 + i].startsWith(tc.report[i] + time)) << memo[2 + i].toStdString();
            EXPECT_TRUE(memo[2 + i].endsWith(QStringLiteral("ms "))) << memo[2 + i].toStdString();
        }
        EXPECT_EQ(memo[2 + n], QString());
        EXPECT_EQ(memo[3 + n], QStringLiteral("-- Query execution finished --"));
        EXPECT_EQ(ResultShown(), tc.result);
        if (tc.result) {
            EXPECT_EQ(form->TntPageControl2->currentWidget(), form->TntTabSheetResult);
            const QAbstractItemModel& grid = form->DBGridCustomQueryResults->Model();
            QStringList header;
            for (int i = 0; i < grid.columnCount(); ++i) header << grid.headerData(i, Qt::Horizontal).toString();
            EXPECT_EQ(header.join(u','), QString::fromLatin1(tc.header));
        }
    }
    // The memo of the last case, INSERT, SELECT and UPDATE, as the window shows it.
    if (const QString dir = qEnvironmentVariable("CALVORO_SCREENSHOT_DIR"); !dir.isEmpty()) {
        EXPECT_TRUE(form->grab().save(dir + QStringLiteral("/customquery-memo.png")));
    }
    EXPECT_EQ(FirstValue(*admin, QStringLiteral("SELECT n FROM calvoro_cq.k WHERE id = 1")), QStringLiteral("11"));
    // A failing statement: the error shown, only the start line, history and Result tab as they were.
    const QStringList history = form->QueryLogList;
    const QStringList boxes = Run(QStringLiteral("SELECT * FROM no_such_table"));
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].contains(QStringLiteral("no_such_table"))) << boxes[0].toStdString();
    EXPECT_EQ(Memo(), QStringList{QStringLiteral("-- Query execution started --")});
    EXPECT_EQ(form->QueryLogList, history);
    EXPECT_TRUE(ResultShown());
}

TEST_F(CustomQueryTest, ASyntaxErrorMarksItsLine) {
    const QStringList boxes = Run(QStringLiteral("SELECT 1;\nSELECT\n  FROM WHERE;"));
    ASSERT_EQ(boxes.size(), 1);
    // The server counts the lines of the statement it failed on (here the second, from the
    // editor's second line): the editor marks the third line, where the quoted text is.
    int lineFrom = -1, indexFrom = -1, lineTo = -1, indexTo = -1;
    form->mmoCustomQuery->getSelection(&lineFrom, &indexFrom, &lineTo, &indexTo);
    EXPECT_EQ(lineFrom, 2);
    EXPECT_EQ(form->mmoCustomQuery->selectedText(), QStringLiteral("  FROM WHERE;"));
    // The first statement's error: its line as the server counts it.
    Run(QStringLiteral("SELECT 1\nFROM\nWHERE x;"));
    EXPECT_EQ(form->mmoCustomQuery->selectedText(), QStringLiteral("WHERE x;"));
}

TEST_F(CustomQueryTest, TheHistoryKeepsEachQueryOnceNewestLast) {
    const QString a = QStringLiteral("SELECT 1"), b = QStringLiteral("SELECT 2");
    Run(a);
    Run(b);
    Run(a);
    EXPECT_EQ(form->QueryLogList, QStringList({b, a}));
    EXPECT_EQ(form->CurrentLogQueryIndex, 1);
    form->btnPrevClick();
    EXPECT_EQ(form->mmoCustomQuery->Text(), b);
    form->btnPrevClick();  // stays at the oldest
    EXPECT_EQ(form->mmoCustomQuery->Text(), b);
    form->btnNextClick();
    EXPECT_EQ(form->mmoCustomQuery->Text(), a);
    form->btnNextClick();  // stays at the newest
    EXPECT_EQ(form->mmoCustomQuery->Text(), a);
    QString log;
    form->ShowQueriesLog = [&](const QString& text) { log = text; };
    form->btnViewAllQueriesClick();
    const QString stars36(36, u'*'), stars39(39, u'*');
    EXPECT_EQ(log, QStringLiteral("\n/%1 1 %2/\nSELECT 2\n\n\n/%1 2 %2/\nSELECT 1\n").arg(stars36, stars39));
    EXPECT_EQ(form->QueryLogList, QStringList({b, a}));  // the log changes nothing
}

TEST_F(CustomQueryTest, KeysThatRunTheQuery) {
    struct Case {
        const char* what;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        bool runs;
    } cases[] = {
        {"Ctrl+Enter", Qt::Key_Return, Qt::ControlModifier, true},
        {"Ctrl+Shift+Enter", Qt::Key_Return, Qt::ControlModifier | Qt::ShiftModifier, true},
        {"Alt+Ctrl+Enter", Qt::Key_Return, Qt::ControlModifier | Qt::AltModifier, false},
        {"F9", Qt::Key_F9, Qt::NoModifier, true},
        {"Shift+F9", Qt::Key_F9, Qt::ShiftModifier, true},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.what);
        form->TntMemo4->clear();
        form->mmoCustomQuery->SetText(QStringLiteral("SELECT 7"));
        form->mmoCustomQuery->setFocus();
        form->mmoCustomQuery->setCursorPosition(0, 8);
        QTest::keyClick(form->mmoCustomQuery, tc.key, tc.modifiers);
        EXPECT_EQ(Memo().back() == QStringLiteral("-- Query execution finished --"), tc.runs)
            << form->TntMemo4->toPlainText().toStdString();
        // Running swallows the key: no line break in the editor.
        if (tc.runs) {
            EXPECT_EQ(form->mmoCustomQuery->Text(), QStringLiteral("SELECT 7"));
        }
    }
}

TEST_F(CustomQueryTest, ListsFieldsAndDroppedFiles) {
    RunUntilIdle();
    ASSERT_EQ(form->lbxTables->count(), 2);
    form->lbxTables->setCurrentRow(0);  // k
    form->lbxTablesClick(form->lbxTables);
    QStringList fields;
    for (int i = 0; i < form->lbxFields->count(); ++i) fields << form->lbxFields->item(i)->text();
    EXPECT_EQ(fields, QStringList({QStringLiteral("id"), QStringLiteral("name"), QStringLiteral("n")}));
    form->mmoCustomQuery->SetText(QStringLiteral("SELECT"));
    form->lbxFields->setCurrentRow(1);
    form->lbxFieldsDblClick();
    EXPECT_EQ(form->mmoCustomQuery->Lines(), QStringList({QStringLiteral("SELECT"), QStringLiteral("name")}));

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("q.sql"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("FROM k\r\nWHERE name = 'caf\xC3\xA9'\r\n");
    }
    form->mmoCustomQuery->OnDropFiles({file});
    EXPECT_EQ(form->mmoCustomQuery->Lines(),
              QStringList({QStringLiteral("SELECT"), QStringLiteral("name"), QStringLiteral("FROM k"),
                           QStringLiteral("WHERE name = 'caf\u00e9'")}));
}

TEST_F(CustomQueryTest, ATableFromTheListGoesThroughTheGenerator) {
    RunUntilIdle();
    // The generator comes up; SELECT is chosen and taken.
    const auto generate = [&] {
        QTimer pick;
        pick.setInterval(10);
        QObject::connect(&pick, &QTimer::timeout, [&] {
            auto* generator = qobject_cast<TfrmQueryGenerator*>(QApplication::activeModalWidget());
            if (!generator) return;
            pick.stop();
            for (int i = 0; i < generator->lbxAction->count(); ++i)
                if (generator->lbxAction->item(i)->text().startsWith(QStringLiteral("SELECT"), Qt::CaseInsensitive))
                    generator->lbxAction->setCurrentRow(i);
            generator->lbxActionClick();
            generator->TntBitBtn1->click();
        });
        pick.start();
        form->lbxTables->setCurrentRow(0);  // k
        form->lbxTablesDblClick(form->lbxTables);
    };
    form->mmoCustomQuery->SetText(QStringLiteral("  \n "));
    generate();
    const QString select = form->mmoCustomQuery->Text();
    EXPECT_TRUE(select.startsWith(QStringLiteral("SELECT"))) << select.toStdString();
    EXPECT_TRUE(select.contains(QStringLiteral("FROM"))) << select.toStdString();
    // Below text already there.
    form->mmoCustomQuery->SetText(QStringLiteral("-- mine"));
    generate();
    EXPECT_EQ(form->mmoCustomQuery->Text(), QStringLiteral("-- mine\n") + select);
}

TEST_F(CustomQueryTest, PlaceholdersAndFocus) {
    Run(QStringLiteral("SELECT id, name FROM k"));
    form->activateWindow();
    RunUntilIdle();
    struct Case {
        QLineEdit* edit;
        QString placeholder;
    } cases[] = {{form->TntEdit2, QStringLiteral("Column")}, {form->TntEdit3, QStringLiteral("Value")}};
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.placeholder.toStdString());
        ASSERT_EQ(tc.edit->text(), tc.placeholder);
        tc.edit->setFocus();
        RunUntilIdle();
        EXPECT_EQ(tc.edit->text(), QString());  // entering empties the placeholder
        form->DBGridCustomQueryResults->setFocus();
        RunUntilIdle();
        EXPECT_EQ(tc.edit->text(), tc.placeholder);  // leaving it empty puts it back
        tc.edit->setFocus();
        RunUntilIdle();
        tc.edit->setText(QStringLiteral("typed"));
        form->DBGridCustomQueryResults->setFocus();
        RunUntilIdle();
        EXPECT_EQ(tc.edit->text(), QStringLiteral("typed"));  // a value stays
    }
    // Showing the Query tab gives the editor the focus.
    form->TntPageControl2->setCurrentWidget(form->TntTabSheetQuery);
    RunUntilIdle();
    EXPECT_TRUE(form->mmoCustomQuery->hasFocus());
}

TEST_F(CustomQueryTest, ChangeAndDeleteAllAreAllOrNothing) {
    // The last of several results is the one written to, also after a failure read it again.
    Run(QStringLiteral("SELECT 1; SELECT id, name, n FROM k ORDER BY id"));
    // A change every row takes.
    form->TntEdit2->setText(QStringLiteral("name"));
    form->TntEdit3->setText(QStringLiteral("z"));
    {
        TBoxes boxes;
        form->TntSpeedButton5->click();
        EXPECT_EQ(boxes.Texts, QStringList{QStringLiteral("Changing finished successfully")});
    }
    EXPECT_EQ(RowsText(*admin, QStringLiteral("SELECT name FROM calvoro_cq.k ORDER BY id")), QStringLiteral("z|z|z"));
    // A change the second row refuses (a unique column): nothing changes, the first row included.
    form->TntEdit2->setText(QStringLiteral("n"));
    form->TntEdit3->setText(QStringLiteral("99"));
    {
        TBoxes boxes;
        form->TntSpeedButton5->click();
        ASSERT_EQ(boxes.Texts.size(), 1);
        EXPECT_TRUE(boxes.Texts[0].contains(QStringLiteral("Duplicate entry"))) << boxes.Texts[0].toStdString();
    }
    EXPECT_EQ(RowsText(*admin, QStringLiteral("SELECT n FROM calvoro_cq.k ORDER BY id")), QStringLiteral("10|20|30"));
    EXPECT_EQ(form->CurrentResultQuery()->Fields().Count(), 3);
    EXPECT_EQ(form->CurrentResultQuery()->RecordCount(), 3);
    // The placeholders are refused.
    form->TntEdit2->setText(QStringLiteral("Column"));
    {
        TBoxes boxes;
        form->TntSpeedButton5->click();
        EXPECT_EQ(boxes.Texts, QStringList{QStringLiteral("You have to enter a valid column and value.")});
    }
    // Delete All.
    {
        TBoxes boxes;
        form->TntSpeedButton6->click();
        EXPECT_EQ(boxes.Texts, QStringList({QStringLiteral("Are you sure you want to erase all the records in the current query?"),
                                            QStringLiteral("Erasing finished successfully")}));
    }
    EXPECT_EQ(RowsText(*admin, QStringLiteral("SELECT COUNT(*) FROM calvoro_cq.k")), QStringLiteral("0"));
    // A result without a primary key is refused before anything is written.
    Run(QStringLiteral("SELECT a, b FROM nokey"));
    form->TntEdit2->setText(QStringLiteral("b"));
    form->TntEdit3->setText(QStringLiteral("5"));
    {
        TBoxes boxes;
        form->TntSpeedButton5->click();
        ASSERT_EQ(boxes.Texts.size(), 1);
        EXPECT_TRUE(boxes.Texts[0].contains(QStringLiteral("no primary key"))) << boxes.Texts[0].toStdString();
    }
    EXPECT_EQ(RowsText(*admin, QStringLiteral("SELECT b FROM calvoro_cq.nokey ORDER BY a")), QStringLiteral("1|2"));
}

TEST_F(CustomQueryTest, StopEndsAQueryAndTheConnectionGoesOn) {
    QTimer stopper;
    stopper.setInterval(50);
    QObject::connect(&stopper, &QTimer::timeout, [&] {
        if (!form->btnStopQuery->isHidden()) {
            QTimer::singleShot(200, form->btnStopQuery, &QPushButton::click);
            stopper.stop();
        }
    });
    stopper.start();
    QElapsedTimer clock;
    clock.start();
    Run(QStringLiteral("SELECT SLEEP(30)"));
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(Memo().back(), QStringLiteral("-- Query execution stopped --")) << form->TntMemo4->toPlainText().toStdString();
    EXPECT_TRUE(form->btnStopQuery->isHidden());
    EXPECT_EQ(Run(QStringLiteral("SELECT 5")), QStringList());
    EXPECT_EQ(Memo().back(), QStringLiteral("-- Query execution finished --"));
}

// The navigator's Refresh, as the user presses it; the boxes it shows.
QStringList PressRefresh(TTessrinForm& form) {
    TBoxes boxes;
    auto* refresh = form.DBNavigator2->findChild<QToolButton*>(QStringLiteral("nbRefresh"));
    EXPECT_NE(refresh, nullptr);
    if (refresh) refresh->click();
    RunUntilIdle();  // errors are shown once the click is over
    return boxes.Texts;
}

TEST_F(CustomQueryTest, ARefreshRunsOnlyTheStatementOfTheRowsShown) {
    admin->ExecSQL(QStringLiteral("CREATE TABLE calvoro_cq.log (n INT)"));
    const auto logged = [&] { return RowsText(*admin, QStringLiteral("SELECT COUNT(*) FROM calvoro_cq.log")); };
    EXPECT_EQ(Run(QStringLiteral("INSERT INTO log VALUES (1);\nSELECT id, name, n FROM k ORDER BY id")), QStringList());
    ASSERT_EQ(logged(), QStringLiteral("1"));
    admin->ExecSQL(QStringLiteral("UPDATE calvoro_cq.k SET name = 'changed' WHERE id = 2"));
    dac::TMyQuery& query = *form->CurrentResultQuery();
    const auto nameOf2 = [&] {
        EXPECT_TRUE(query.Locate(QStringLiteral("id"), {Variant(2)}));
        return query.FieldByName(QStringLiteral("name")).AsString();
    };
    // Nothing runs while the session is busy with other work.
    {
        TData::TBusy busy(*data);
        EXPECT_EQ(PressRefresh(*form), QStringList());
    }
    EXPECT_EQ(nameOf2(), QStringLiteral("b"));
    // The rows are read again: the change made meanwhile shows, and nothing else ran.
    EXPECT_EQ(PressRefresh(*form), QStringList());
    EXPECT_EQ(nameOf2(), QStringLiteral("changed"));
    EXPECT_EQ(logged(), QStringLiteral("1"));
    // A Change All the second row refuses (a unique column) reads the rows again after the
    // rollback: still the one INSERT, and the rows as the server has them.
    form->TntEdit2->setText(QStringLiteral("n"));
    form->TntEdit3->setText(QStringLiteral("99"));
    {
        TBoxes boxes;
        form->TntSpeedButton5->click();
        ASSERT_EQ(boxes.Texts.size(), 1);
        EXPECT_TRUE(boxes.Texts[0].contains(QStringLiteral("Duplicate entry"))) << boxes.Texts[0].toStdString();
    }
    EXPECT_EQ(logged(), QStringLiteral("1"));
    EXPECT_EQ(RowsText(*admin, QStringLiteral("SELECT n FROM calvoro_cq.k ORDER BY id")), QStringLiteral("10|20|30"));
    EXPECT_EQ(query.RecordCount(), 3);
    query.First();
    EXPECT_EQ(query.FieldByName(QStringLiteral("n")).AsString(), QStringLiteral("10"));
}

TEST_F(CustomQueryTest, ARefreshThatCannotTellItsStatementOrWouldChangeDataIsRefused) {
    admin->ExecSQL(QStringLiteral("CREATE TABLE calvoro_cq.log (n INT)"));
    admin->ExecSQL(QStringLiteral("CREATE PROCEDURE calvoro_cq.p() BEGIN INSERT INTO log VALUES (7); "
                                  "SELECT id, name, n FROM k ORDER BY id; END"));
    const auto logged = [&] { return RowsText(*admin, QStringLiteral("SELECT COUNT(*) FROM calvoro_cq.log")); };
    struct Case {
        const char* sql;
        const char* reason;
        bool hasKey;  // the rows have a primary key, so that Change All gets as far as the check
    } cases[] = {
        {"CALL p()", "which statement they came from is not known", true},
        {"SELECT 1; CALL p()", "which statement they came from is not known", true},
        {"INSERT INTO log VALUES (5) RETURNING n", "(INSERT) may change data", false},
        {"CREATE PROCEDURE q() BEGIN SELECT 1; END; INSERT INTO log VALUES (1); SELECT * FROM log",
         "which statement they came from is not known", false},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.sql);
        admin->ExecSQL(QStringLiteral("DELETE FROM calvoro_cq.log"));
        EXPECT_EQ(Run(QString::fromLatin1(tc.sql)), QStringList());
        ASSERT_TRUE(ResultShown());
        ASSERT_EQ(logged(), QStringLiteral("1"));
        const QStringList boxes = PressRefresh(*form);
        ASSERT_EQ(boxes.size(), 1);
        EXPECT_TRUE(boxes[0].contains(QString::fromLatin1(tc.reason))) << boxes[0].toStdString();
        EXPECT_EQ(logged(), QStringLiteral("1"));
        if (!tc.hasKey) continue;
        // Rows that cannot be read again after a failure are not written at all.
        form->TntEdit2->setText(QStringLiteral("name"));
        form->TntEdit3->setText(QStringLiteral("z"));
        {
            TBoxes change;
            form->TntSpeedButton5->click();
            ASSERT_EQ(change.Texts.size(), 1);
            EXPECT_TRUE(change.Texts[0].startsWith(QStringLiteral("Nothing was changed."))) << change.Texts[0].toStdString();
        }
        EXPECT_EQ(RowsText(*admin, QStringLiteral("SELECT name FROM calvoro_cq.k ORDER BY id")), QStringLiteral("a|b|c"));
        EXPECT_EQ(logged(), QStringLiteral("1"));
    }
}

TEST_F(CustomQueryTest, TheServerAnswersEachStatementAsTheTextIsCut) {
    // Texts of several statements whose shown rows the refresh runs alone: the server's
    // results and the statements cut from the text line up.
    const char* texts[] = {
        "SELECT 1; -- done",
        "SELECT 1;\n/* the end */\n",
        "SELECT 'a;b', `n` FROM k; SELECT 2",
        "DO 1; SELECT 2;",
        "SELECT 1 # a comment;\n; SELECT 2",
        "CREATE TEMPORARY TABLE t (a INT); INSERT INTO t VALUES (1), (2); SELECT * FROM t",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        ASSERT_EQ(Run(QString::fromUtf8(text)), QStringList());
        EXPECT_EQ(form->CurrentResultQuery()->RefreshRefusal(), QString());
        EXPECT_EQ(PressRefresh(*form), QStringList());
    }
}

TEST_F(CustomQueryTest, AStopWhileRowsAreReadKeepsThoseRead) {
    // The stop comes once some blocks of rows are in, as counted on the thread that reads them.
    std::atomic<int> blocks = 0;
    form->tabResults->OnQueryMade = [&](dac::TMyQuery& made) {
        made.BeforeFetch = [&](dac::TCustomDADataSet*, bool&) { ++blocks; };
    };
    ScopeExit unhook([&] { form->tabResults->OnQueryMade = nullptr; });
    QTimer stopper;
    stopper.setInterval(10);
    QObject::connect(&stopper, &QTimer::timeout, [&] {
        if (blocks < 20) return;
        stopper.stop();
        form->btnStopQuery->click();
    });
    stopper.start();
    Run(QStringLiteral("SELECT seq, REPEAT('x', 100) AS wide FROM seq_1_to_300000"));
    EXPECT_EQ(Memo().back(), QStringLiteral("-- Query execution stopped --")) << form->TntMemo4->toPlainText().toStdString();
    ASSERT_NE(form->CurrentResultQuery(), nullptr) << "stopped before the rows came";
    dac::TMyQuery& query = *form->CurrentResultQuery();
    query.BeforeFetch = nullptr;
    ASSERT_TRUE(query.Active()) << "stopped before the rows came";
    EXPECT_TRUE(query.FetchStopped());
    EXPECT_GT(query.RecordCount(), 0);
    EXPECT_LT(query.RecordCount(), 300000);
    EXPECT_EQ(form->DBGridCustomQueryResults->Model().rowCount(), query.RecordCount());
    EXPECT_TRUE(form->QueryLogList.isEmpty());
    EXPECT_EQ(Run(QStringLiteral("SELECT 5")), QStringList());
    EXPECT_EQ(Memo().back(), QStringLiteral("-- Query execution finished --"));
}

}  // namespace
