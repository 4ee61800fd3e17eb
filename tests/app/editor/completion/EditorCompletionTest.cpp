// The completion list of the Custom query editor, driven by keys against the test server.
#include "app/Calvoro.h"
#include "app/DataUnit.h"
#include "app/SynEdit.h"
#include "app/TessrinUnit.h"
#include "app/editor/completion/CompletionLoader.h"
#include "app/editor/completion/EditorCompletion.h"
#include "app/support/AppSession.h"
#include "common/ScopeGuard.h"
#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/support/MyTestConnection.h"
#include "support/QtPrinters.h"

#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QListView>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <future>

using namespace calvoro;
using namespace calvoro::app;
using calvoro::test::NewConnection;

namespace {

class EditorCompletionTest : public ::testing::Test {
protected:
    void SetUp() override {
        admin = NewConnection();
        admin->Connect();
        for (const char* sql : {"DROP DATABASE IF EXISTS calvoro_ce", "CREATE DATABASE calvoro_ce",
                                "CREATE TABLE calvoro_ce.orders (id INT PRIMARY KEY, customer_id INT, `order date` DATE)",
                                "CREATE TABLE calvoro_ce.customers (id INT PRIMARY KEY, name VARCHAR(20))",
                                "INSERT INTO calvoro_ce.orders VALUES (1, 1, '2024-01-02')"})
            admin->ExecSQL(QString::fromUtf8(sql));
        program = test::StartProgram();
        form = program->MainForm.get();
        test::ConnectTools(*form, *program->Data, QStringLiteral("calvoro_ce"));
        ASSERT_TRUE(program->Data->ToolsConnected());
        form->TntPageControl1->setCurrentWidget(form->TntTabSheet5);
        editor = form->mmoCustomQuery;
        editor->setFocus();
        ASSERT_TRUE(WaitLoaded());
        popup = form->findChild<QFrame*>(QStringLiteral("CompletionPopup"));
        ASSERT_NE(popup, nullptr);
        list = popup->findChild<QListView*>(QStringLiteral("CompletionList"));
        status = popup->findChild<QLabel*>(QStringLiteral("CompletionStatus"));
        ASSERT_NE(list, nullptr);
        ASSERT_NE(status, nullptr);
    }
    void TearDown() override {
        program.reset();
        admin->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS calvoro_ce"));
    }
    bool WaitLoaded() {
        QElapsedTimer clock;
        clock.start();
        while (form->CompletionLoader->Loading(QStringLiteral("calvoro_ce")) || form->CompletionLoader->Loading({})) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            if (clock.elapsed() > 30000) return false;
        }
        QCoreApplication::processEvents();
        return true;
    }
    // The rows the list shows.
    QStringList Shown() const {
        QStringList rows;
        if (!popup->isVisible()) return rows;
        for (int i = 0; i < list->model()->rowCount(); ++i) rows << list->model()->index(i, 0).data().toString();
        return rows;
    }
    QString Current() const { return list->currentIndex().data().toString(); }
    // Puts the text in and the cursor where "|" stands.
    void Edit(const QString& marked) {
        const qsizetype at = marked.indexOf(u'|');
        QString text = marked;
        text.remove(at, 1);
        editor->SetText(text);
        editor->SendScintilla(QsciScintillaBase::SCI_GOTOPOS, long(text.left(at).toUtf8().size()));
        QCoreApplication::processEvents();
    }

    std::unique_ptr<dac::TMyConnection> admin;
    std::unique_ptr<Program> program;
    TTessrinForm* form = nullptr;
    TSynEdit* editor = nullptr;
    QFrame* popup = nullptr;
    QListView* list = nullptr;
    QLabel* status = nullptr;
};

TEST_F(EditorCompletionTest, OffersTheColumnsOfAnAliasedTableAndInsertsTheChoice) {
    Edit(QStringLiteral("SELECT | FROM orders a JOIN customers c ON c.id = a.customer_id"));
    QTest::keyClicks(editor, QStringLiteral("a."));
    EXPECT_EQ(Shown(), (QStringList{QStringLiteral("id"), QStringLiteral("customer_id"), QStringLiteral("order date")}));
    EXPECT_EQ(Current(), QStringLiteral("id"));
    QTest::keyClick(editor, Qt::Key_Down);
    EXPECT_EQ(Current(), QStringLiteral("customer_id"));
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_FALSE(popup->isVisible());
    EXPECT_EQ(editor->Text(), QStringLiteral("SELECT a.customer_id FROM orders a JOIN customers c ON c.id = a.customer_id"));

    // Typing narrows the list; Tab puts in the name quoted, as it needs.
    QTest::keyClicks(editor, QStringLiteral(", a.ord"));
    EXPECT_EQ(Shown(), QStringList{QStringLiteral("order date")});
    QTest::keyClick(editor, Qt::Key_Tab);
    EXPECT_EQ(editor->Text(),
              QStringLiteral("SELECT a.customer_id, a.`order date` FROM orders a JOIN customers c ON c.id = a.customer_id"));
    // The other alias, and one undo takes an insertion back whole.
    QTest::keyClicks(editor, QStringLiteral(", c."));
    EXPECT_EQ(Shown(), (QStringList{QStringLiteral("id"), QStringLiteral("name")}));
    QTest::keyClick(editor, Qt::Key_Down);
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_TRUE(editor->Text().startsWith(QStringLiteral("SELECT a.customer_id, a.`order date`, c.name FROM")));
    editor->Undo();
    EXPECT_TRUE(editor->Text().startsWith(QStringLiteral("SELECT a.customer_id, a.`order date`, c. FROM")));
}

TEST_F(EditorCompletionTest, OpensOnLettersAndCtrlSpaceClosesOnEscAndLeavesTheEditorKeys) {
    Edit(QStringLiteral("|"));
    QTest::keyClicks(editor, QStringLiteral("S"));
    EXPECT_FALSE(popup->isVisible());  // one letter is not enough
    QTest::keyClicks(editor, QStringLiteral("EL"));
    EXPECT_TRUE(Shown().contains(QStringLiteral("SELECT")));
    QTest::keyClick(editor, Qt::Key_Escape);
    EXPECT_FALSE(popup->isVisible());
    EXPECT_EQ(editor->Text(), QStringLiteral("SEL"));

    // Ctrl+Space opens it before the first letter; a table name after FROM.
    Edit(QStringLiteral("SELECT * FROM |"));
    QTest::keyClick(editor, Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(Shown().mid(0, 2), (QStringList{QStringLiteral("customers"), QStringLiteral("orders")}));
    EXPECT_EQ(editor->Text(), QStringLiteral("SELECT * FROM "));
    QTest::keyClicks(editor, QStringLiteral("or"));
    EXPECT_EQ(Shown(), QStringList{QStringLiteral("orders")});

    // Ctrl+Enter still runs the text, without a line break, and the list goes.
    editor->SetText(QStringLiteral("SELECT * FROM orders"));
    editor->SendScintilla(QsciScintillaBase::SCI_GOTOPOS, 15l);
    QTest::keyClick(editor, Qt::Key_Space, Qt::ControlModifier);
    ASSERT_TRUE(popup->isVisible());
    QTest::keyClick(editor, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_FALSE(popup->isVisible());
    EXPECT_EQ(editor->Text(), QStringLiteral("SELECT * FROM orders"));
    EXPECT_TRUE(form->TntMemo4->toPlainText().contains(QStringLiteral("Rows matched: 1;")))
        << form->TntMemo4->toPlainText().toStdString();
    // F9 as well.
    form->TntMemo4->clear();
    QTest::keyClick(editor, Qt::Key_Space, Qt::ControlModifier);
    QTest::keyClick(editor, Qt::Key_F9);
    EXPECT_FALSE(popup->isVisible());
    EXPECT_TRUE(form->TntMemo4->toPlainText().contains(QStringLiteral("Rows matched: 1;")));
    // Nothing inside a string.
    Edit(QStringLiteral("SELECT 'or|'"));
    QTest::keyClick(editor, Qt::Key_Space, Qt::ControlModifier);
    EXPECT_FALSE(popup->isVisible());
}

TEST_F(EditorCompletionTest, TypingGoesOnWhileTheReloadButtonReloadsTheNames) {
    admin->ExecSQL(QStringLiteral("CREATE TABLE calvoro_ce.late_table (x INT)"));
    std::promise<void> gate;
    std::shared_future<void> open = gate.get_future().share();
    form->CompletionLoader->BeforeLoad = [open] { open.wait(); };
    bool released = false;
    ScopeExit release([&] {
        if (!released) gate.set_value();
    });
    form->spbtnReloadDBobjects->click();
    ASSERT_TRUE(form->CompletionLoader->Loading(QStringLiteral("calvoro_ce")));

    Edit(QStringLiteral("|"));
    QTest::keyClicks(editor, QStringLiteral("SELECT * FROM la"));
    EXPECT_EQ(editor->Text(), QStringLiteral("SELECT * FROM la"));
    EXPECT_TRUE(popup->isVisible());
    EXPECT_FALSE(Shown().contains(QStringLiteral("late_table")));
    EXPECT_TRUE(status->isVisible());
    EXPECT_EQ(status->text(), QStringLiteral("Loading the names of calvoro_ce…"));

    released = true;
    gate.set_value();
    ASSERT_TRUE(WaitLoaded());
    EXPECT_EQ(Shown(), QStringList{QStringLiteral("late_table")});
    EXPECT_FALSE(status->isVisible());
    form->CompletionLoader->BeforeLoad = nullptr;
}

}  // namespace
