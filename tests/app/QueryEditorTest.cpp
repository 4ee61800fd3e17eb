// The query editor against the test server: what runs (the selection, the statement under the
// cursor, every statement until one fails), a tab per result, and the lasting history with its
// window and the editor's text kept from one start to the next.
#include "app/Calvoro.h"
#include "app/DataUnit.h"
#include "app/SynEdit.h"
#include "app/TessrinUnit.h"
#include "app/editor/QueryHistoryStore.h"
#include "app/editor/QueryHistoryWindow.h"
#include "app/editor/ResultTabs.h"
#include "app/support/AppSession.h"
#include "app/toolkit.h"
#include "dataaccess/gui/DBGrid.h"
#include "dataaccess/gui/DBNavigator.h"
#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/support/MyTestConnection.h"
#include "support/QtPrinters.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <Qsci/qsciscintilla.h>

#include <gtest/gtest.h>

using namespace calvoro;
using namespace calvoro::app;
using calvoro::test::NewConnection;
using calvoro::test::RowsText;
using calvoro::test::RunUntilIdle;

namespace {

using TBoxes = test::TMessageBoxes;

class QueryEditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        admin = NewConnection();
        admin->Connect();
        admin->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS calvoro_qe"));
        admin->ExecSQL(QStringLiteral("CREATE DATABASE calvoro_qe"));
        for (const char* sql : {"CREATE TABLE calvoro_qe.k (id INT PRIMARY KEY, name VARCHAR(20)) ENGINE=InnoDB",
                                "INSERT INTO calvoro_qe.k VALUES (1, 'a'), (2, 'b'), (3, 'c')",
                                "CREATE TABLE calvoro_qe.log (n INT)"})
            admin->ExecSQL(QString::fromLatin1(sql));
        Start();
    }
    void TearDown() override {
        program.reset();
        admin->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS calvoro_qe"));
    }
    void Start(const QString& dataFolder = {}) {
        program = test::StartProgram(dataFolder);
        form = program->MainForm.get();
        data = program->Data.get();
        test::ConnectTools(*form, *data, QStringLiteral("calvoro_qe"));
        ASSERT_TRUE(data->ToolsConnected());
        form->TntPageControl1->setCurrentWidget(form->TntTabSheet5);
    }
    // Runs as the button does (an error ends in the error box); the boxes shown.
    QStringList Execute() {
        TBoxes boxes;
        Guarded([this] { form->btnExecuteClick(); })();
        return boxes.Texts;
    }
    QStringList Memo() const { return form->TntMemo4->toPlainText().split(u'\n'); }
    QString Logged() const { return RowsText(*admin, QStringLiteral("SELECT n FROM calvoro_qe.log ORDER BY n")); }
    QStringList TabTitles() const {
        QStringList titles;
        for (int i = 0; i < form->tabResults->count(); ++i) titles << form->tabResults->tabText(i);
        return titles;
    }
    void Screenshot(QWidget* widget, const char* name) {
        if (const QString dir = qEnvironmentVariable("CALVORO_SCREENSHOT_DIR"); !dir.isEmpty()) {
            EXPECT_TRUE(widget->grab().save(dir + u'/' + QString::fromLatin1(name)));
        }
    }

    std::unique_ptr<dac::TMyConnection> admin;
    std::unique_ptr<Program> program;
    TTessrinForm* form = nullptr;
    TData* data = nullptr;
};

TEST_F(QueryEditorTest, ASelectionRunsAloneAndSoDoesTheStatementUnderTheCursor) {
    TSynEdit& editor = *form->mmoCustomQuery;
    editor.SetText(QStringLiteral("INSERT INTO log VALUES (1);\nINSERT INTO log VALUES (2);\nINSERT INTO log VALUES (3);"));
    // The second statement selected, without its delimiter.
    editor.setSelection(1, 0, 1, 26);
    ASSERT_EQ(editor.selectedText(), QStringLiteral("INSERT INTO log VALUES (2)"));
    EXPECT_EQ(Execute(), QStringList());
    EXPECT_EQ(Logged(), QStringLiteral("2"));
    EXPECT_EQ(Memo().size(), 5) << form->TntMemo4->toPlainText().toStdString();
    // Ctrl+Shift+Enter with the cursor in the third statement: that one alone, marked a moment.
    admin->ExecSQL(QStringLiteral("DELETE FROM calvoro_qe.log"));
    editor.setFocus();
    editor.setCursorPosition(2, 5);
    QTest::keyClick(&editor, Qt::Key_Return, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Logged(), QStringLiteral("3"));
    EXPECT_EQ(editor.Text().count(u'\n'), 2) << "the Enter went into the text";
    const long third = editor.positionFromLineIndex(2, 3);
    const long first = editor.positionFromLineIndex(0, 3);
    EXPECT_NE(editor.SendScintilla(QsciScintilla::SCI_INDICATORVALUEAT, 8, third), 0l);
    EXPECT_EQ(editor.SendScintilla(QsciScintilla::SCI_INDICATORVALUEAT, 8, first), 0l);
    QTest::qWait(900);
    EXPECT_EQ(editor.SendScintilla(QsciScintilla::SCI_INDICATORVALUEAT, 8, third), 0l) << "the mark stays";
    // Without a selection, Ctrl+Enter runs the whole text.
    admin->ExecSQL(QStringLiteral("DELETE FROM calvoro_qe.log"));
    editor.setCursorPosition(0, 0);
    QTest::keyClick(&editor, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(Logged(), QStringLiteral("1|2|3"));
}

TEST_F(QueryEditorTest, ThreeResultsGiveThreeTabsEachRefreshedAlone) {
    form->mmoCustomQuery->SetText(QStringLiteral(
        "SELECT id, name FROM k ORDER BY id;\nINSERT INTO log VALUES (1);\nSELECT 'x' AS one;\nSELECT id FROM k WHERE id < 3"));
    EXPECT_EQ(Execute(), QStringList());
    EXPECT_EQ(TabTitles(), QStringList({QStringLiteral("Result 1 (3 rows)"), QStringLiteral("Result 2 (1 row)"),
                                        QStringLiteral("Result 3 (2 rows)")}));
    EXPECT_EQ(form->tabResults->currentIndex(), 2);
    EXPECT_EQ(form->DBGridCustomQueryResults, form->tabResults->Grid(2));
    EXPECT_EQ(form->CurrentResultQuery()->Fields().Count(), 1);
    Screenshot(form, "customquery-result-tabs.png");
    // A refresh of the first result runs its statement alone: the change made meanwhile shows,
    // the INSERT does not run again.
    admin->ExecSQL(QStringLiteral("UPDATE calvoro_qe.k SET name = 'changed' WHERE id = 2"));
    form->tabResults->setCurrentIndex(0);
    ASSERT_EQ(form->DBNavigator2, form->tabResults->Navigator(0));
    {
        TBoxes boxes;
        form->DBNavigator2->findChild<QToolButton*>(QStringLiteral("nbRefresh"))->click();
        RunUntilIdle();
        EXPECT_EQ(boxes.Texts, QStringList());
    }
    dac::TMyQuery& first = *form->tabResults->Query(0);
    ASSERT_TRUE(first.Locate(QStringLiteral("id"), {Variant(2)}));
    EXPECT_EQ(first.FieldByName(QStringLiteral("name")).AsString(), QStringLiteral("changed"));
    EXPECT_EQ(Logged(), QStringLiteral("1"));
    // Delete All works on the result shown and its title follows.
    {
        TBoxes boxes;
        form->TntSpeedButton6->click();
        EXPECT_EQ(boxes.Texts.value(1), QStringLiteral("Erasing finished successfully"));
    }
    EXPECT_EQ(RowsText(*admin, QStringLiteral("SELECT COUNT(*) FROM calvoro_qe.k")), QStringLiteral("0"));
    EXPECT_EQ(TabTitles().value(0), QStringLiteral("Result 1 (0 rows)"));
    // Closing a tab drops that result; running again replaces them all.
    emit form->tabResults->tabCloseRequested(1);
    EXPECT_EQ(TabTitles(), QStringList({QStringLiteral("Result 1 (0 rows)"), QStringLiteral("Result 3 (2 rows)")}));
    form->mmoCustomQuery->SetText(QStringLiteral("SELECT * FROM log"));
    EXPECT_EQ(Execute(), QStringList());
    EXPECT_EQ(TabTitles(), QStringList{QStringLiteral("Result 1 (1 row)")});
    // A text without rows hides the Result tab.
    form->mmoCustomQuery->SetText(QStringLiteral("DO 1"));
    EXPECT_EQ(Execute(), QStringList());
    EXPECT_FALSE(form->TntPageControl2->isTabVisible(1));
    EXPECT_EQ(form->CurrentResultQuery(), nullptr);
}

TEST_F(QueryEditorTest, AFailingStatementStopsTheOnesAfterIt) {
    form->mmoCustomQuery->SetText(
        QStringLiteral("INSERT INTO log VALUES (1);\nSELECT nope\n  FROM k;\nINSERT INTO log VALUES (3);"));
    const QStringList boxes = Execute();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].contains(QStringLiteral("nope"))) << boxes[0].toStdString();
    EXPECT_EQ(Logged(), QStringLiteral("1"));
    const QStringList memo = Memo();
    ASSERT_EQ(memo.size(), 5) << form->TntMemo4->toPlainText().toStdString();
    EXPECT_TRUE(memo[2].startsWith(QStringLiteral("Rows affected 1; Execution time: ")));
    EXPECT_EQ(memo[4], QStringLiteral("-- Statement 2 of 3 failed; the statements after it did not run --"));
    // The failing statement's line is marked.
    EXPECT_EQ(form->mmoCustomQuery->selectedText(), QStringLiteral("SELECT nope"));
    // A failure enters the lasting history as one, not the history Previous walks.
    EXPECT_TRUE(form->QueryLogList.isEmpty());
    const QList<THistoryEntry> failed = form->QueryHistory->Find({.Text = {}, .Database = {}, .FailedOnly = true, .Limit = 1000});
    ASSERT_EQ(failed.size(), 1);
    EXPECT_EQ(failed[0].Text, form->mmoCustomQuery->Text());
    EXPECT_EQ(failed[0].RowCounts, QStringLiteral("1"));
    EXPECT_EQ(failed[0].Database, QStringLiteral("calvoro_qe"));
}

TEST_F(QueryEditorTest, TheHistorySurvivesARestartAndIsSearched) {
    QTemporaryDir folder;
    program.reset();
    Start(folder.path());
    const QString answer = QStringLiteral("SELECT 42 AS answer");
    form->mmoCustomQuery->SetText(answer);
    EXPECT_EQ(Execute(), QStringList());
    form->mmoCustomQuery->SetText(QStringLiteral("SET @h = PASSWORD('pw-xyz')"));
    EXPECT_EQ(Execute(), QStringList());
    form->mmoCustomQuery->SetText(QStringLiteral("SELECT nope FROM k"));
    EXPECT_EQ(Execute().size(), 1);
    form->mmoCustomQuery->SetText(QStringLiteral("SELECT 'kept'\n-- for tomorrow"));
    program.reset();  // the window closes

    Start(folder.path());
    // Previous and Next walk the successful texts of the last session; the editor has its text.
    EXPECT_EQ(form->QueryLogList, QStringList({answer, QStringLiteral("SET @h = PASSWORD('***')")}));
    EXPECT_EQ(form->mmoCustomQuery->Text(), QStringLiteral("SELECT 'kept'\n-- for tomorrow"));
    form->btnPrevClick();
    EXPECT_EQ(form->mmoCustomQuery->Text(), answer);
    // The window finds an entry by text and puts it into the editor.
    form->mmoCustomQuery->SetText(QString());
    QStringList shown;
    QTimer pick;
    pick.setInterval(10);
    QObject::connect(&pick, &QTimer::timeout, [&] {
        auto* window = qobject_cast<TQueryHistoryWindow*>(QApplication::activeModalWidget());
        if (!window) return;
        pick.stop();
        EXPECT_EQ(window->tblHistory->rowCount(), 3);
        window->chkHistoryFailedOnly->setChecked(true);
        for (int row = 0; row < window->tblHistory->rowCount(); ++row) shown << window->tblHistory->item(row, 5)->text();
        window->chkHistoryFailedOnly->setChecked(false);
        window->edtHistoryText->setText(QStringLiteral("42 as"));
        for (int row = 0; row < window->tblHistory->rowCount(); ++row) shown << window->tblHistory->item(row, 5)->text();
        window->tblHistory->setCurrentCell(0, 0);
        EXPECT_EQ(window->mmoHistoryText->toPlainText(), answer);
        Screenshot(window, "query-history.png");
        window->btnHistoryUse->click();
    });
    pick.start();
    form->btnHistory->click();
    EXPECT_EQ(shown, QStringList({QStringLiteral("SELECT nope FROM k"), answer}));
    EXPECT_EQ(form->mmoCustomQuery->Text(), answer);
    // The password went nowhere into the file.
    QFile file(form->QueryHistory->FileName());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_FALSE(file.readAll().contains("pw-xyz"));
}

}  // namespace
