// The main window's "  View Data  " tab and the CREATE TABLE viewer against the test server:
// selections with and without a row limit (the statement, the grid, the two counts), grid edits
// that write exactly their row (also in a keyless table with duplicate rows), Clear all table,
// AUTO_INCREMENT values up to the BIGINT UNSIGNED range, names that need quoting, a busy
// session, the grid's cells, and screenshots of the tab with Sakila's film table and of the
// viewer.
#include "app/Calvoro.h"
#include "app/CreateTableUnit.h"
#include "app/DataUnit.h"
#include "app/TessrinUnit.h"
#include "app/toolkit.h"
#include "common/ScopeGuard.h"
#include "dataaccess/gui/DBGrid.h"
#include "dataaccess/gui/DBNavigator.h"
#include "dataaccess/mysql/MyAccess.h"
#include "app/support/AppSession.h"
#include "dataaccess/support/MyTestConnection.h"
#include "support/MariadbClient.h"
#include "support/QtPrinters.h"
#include "support/TestServer.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>

using namespace calvoro;
using namespace calvoro::app;
using calvoro::test::RunUntilIdle;
using calvoro::test::FirstValue;
using calvoro::test::NewConnection;
using calvoro::test::RowsText;

namespace {

const QString Db = QStringLiteral("calvoro_viewdata");

// Plays the user's part in the modal windows that open while it lives: the next step gets each
// window that comes up and answers true when it dealt with it (a step for a message box leaves
// the viewer alone, for instance). Seen keeps the text of every window dealt with: a message
// box's text, an input box's prompt, another window's caption. A window no step takes within
// two seconds is closed and kept as "unexpected: …", so that a surprise fails the test instead
// of hanging it.
class TModalSteps {
public:
    using TStep = std::function<bool(QWidget* window)>;
    explicit TModalSteps(std::vector<TStep> steps = {}) : FSteps(std::move(steps)) {
        FTimer.setInterval(10);
        QObject::connect(&FTimer, &QTimer::timeout, [this] { Tick(); });
        FTimer.start();
    }
    QStringList Seen;
    bool Done() const { return FNext == FSteps.size(); }

    static QString TextOf(QWidget* window) {
        if (auto* box = qobject_cast<QMessageBox*>(window)) return box->text();
        if (auto* input = qobject_cast<QInputDialog*>(window)) return input->labelText();
        return window->windowTitle();
    }

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
        Seen << QStringLiteral("unexpected: ") + TextOf(window);
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

// Steps: press a message box's button; type into the input box and press OK; cancel it.
TModalSteps::TStep Press(QStringList& seen, QMessageBox::StandardButton button) {
    return [&seen, button](QWidget* window) {
        auto* box = qobject_cast<QMessageBox*>(window);
        if (!box || !box->button(button)) return false;
        seen << box->text();
        box->button(button)->click();
        return true;
    };
}
TModalSteps::TStep Enter(QStringList& seen, const QString& text) {
    return [&seen, text](QWidget* window) {
        auto* input = qobject_cast<QInputDialog*>(window);
        if (!input) return false;
        seen << input->windowTitle() + u'|' + input->labelText() + u'|' + input->textValue();
        input->setTextValue(text);
        input->accept();
        return true;
    };
}
TModalSteps::TStep CancelInput(QStringList& seen) {
    return [&seen](QWidget* window) {
        auto* input = qobject_cast<QInputDialog*>(window);
        if (!input) return false;
        seen << input->labelText();
        input->reject();
        return true;
    };
}

class ViewDataTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        auto admin = NewConnection();
        admin->Connect();
        admin->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS calvoro_viewdata"));
        admin->ExecSQL(QStringLiteral("CREATE DATABASE calvoro_viewdata CHARACTER SET utf8mb4"));
    }
    static void TearDownTestSuite() {
        auto admin = NewConnection();
        admin->Connect();
        admin->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS calvoro_viewdata"));
    }
    void SetUp() override {
        admin = NewConnection(true, Db);
        admin->Connect();
        for (const char* sql : {
                 "DROP VIEW IF EXISTS v_items, v_broken",
                 "DROP TABLE IF EXISTS items, dup, `order`, `my table`, big, gone, kinds, "
                 "```x``;DROP TABLE items;SELECT ``1```",
                 "CREATE TABLE items (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(50), note TEXT)",
                 "INSERT INTO items (id, name, note) SELECT seq, CONCAT('item ', seq), NULL FROM seq_1_to_250",
                 "CREATE TABLE dup (a INT, b VARCHAR(10))",
                 "INSERT INTO dup VALUES (1, 'x'), (1, 'x'), (2, 'y')",
                 "CREATE TABLE `order` (id INT AUTO_INCREMENT PRIMARY KEY, what VARCHAR(10))",
                 "INSERT INTO `order` (what) VALUES ('first'), ('second')",
                 "CREATE TABLE `my table` (id INT AUTO_INCREMENT PRIMARY KEY, `my column` INT)",
                 "INSERT INTO `my table` (`my column`) VALUES (7)",
                 // A name that runs a statement when it is taken as quoted already.
                 "CREATE TABLE ```x``;DROP TABLE items;SELECT ``1``` (id INT AUTO_INCREMENT PRIMARY KEY)",
                 "INSERT INTO ```x``;DROP TABLE items;SELECT ``1``` VALUES (1), (2), (3)",
                 "CREATE TABLE big (id BIGINT UNSIGNED AUTO_INCREMENT PRIMARY KEY, v INT)",
                 "CREATE TABLE gone (id INT)",
                 // Not updatable, so that DELETE and ALTER fail on it.
                 "CREATE VIEW v_items AS SELECT DISTINCT id, name FROM items WHERE id <= 5",
                 "CREATE VIEW v_broken AS SELECT id FROM gone",
                 "DROP TABLE gone",
             })
            admin->ExecSQL(QString::fromLatin1(sql));

        program = test::StartProgram();
        form = program->MainForm.get();
        data = program->Data.get();
        test::ConnectTools(*form, *data, Db);
        ASSERT_TRUE(data->ToolsConnected());
    }
    void TearDown() override { program.reset(); }

    // Chooses the table in the selector as a user does.
    void Select(const QString& table) {
        // The controls are enabled again once the window is idle after the last operation.
        RunUntilIdle();
        const int index = form->cbxTablesViews->findText(table);
        ASSERT_GE(index, 0) << table.toStdString();
        form->cbxTablesViews->setCurrentIndex(index);
        emit form->cbxTablesViews->activated(index);
    }
    dac::TDataSetModel& Grid() const { return form->TntDBGrid1->Model(); }
    QString Fetched() const { return form->lblRecordsFetched->text(); }
    QString Count() const { return form->Label2->text(); }
    QString Server(const QString& sql) { return RowsText(*admin, sql); }
    QString AutoIncrement(const QString& table) {
        return FirstValue(*admin, QStringLiteral("SELECT AUTO_INCREMENT FROM information_schema.TABLES "
                                                 "WHERE TABLE_SCHEMA = 'calvoro_viewdata' AND TABLE_NAME = '%1'")
                                      .arg(table))
            .value_or(QStringLiteral("NULL"));
    }

    std::unique_ptr<dac::TMyConnection> admin;
    std::unique_ptr<Program> program;
    TTessrinForm* form = nullptr;
    TData* data = nullptr;
};

TEST_F(ViewDataTest, SelectingShowsTheRowsUpToTheLimitAndTheTablesCount) {
    // Nothing chosen yet: the captions, and buttons that do nothing. Showing the tab with no
    // rows puts the count to 0.
    EXPECT_EQ(Fetched(), QStringLiteral("Records fetched:"));
    EXPECT_EQ(Count(), QStringLiteral("Number of records"));
    form->TntPageControl1->setCurrentWidget(form->TntTabSheet4);
    EXPECT_EQ(Count(), QStringLiteral("0"));
    EXPECT_EQ(form->spEdtRecordLimit->value(), 100);
    {
        TModalSteps none;
        for (QPushButton* b : {form->TntBitBtn6, form->TntBitBtn7, form->TntBitBtn8}) b->click();
        EXPECT_TRUE(none.Seen.isEmpty()) << none.Seen.join(u'|').toStdString();
    }
    // The limit stays within 0 and 10000.
    form->spEdtRecordLimit->setValue(20000);
    EXPECT_EQ(form->spEdtRecordLimit->value(), 10000);
    form->spEdtRecordLimit->setValue(-5);
    EXPECT_EQ(form->spEdtRecordLimit->value(), 0);

    struct Case {
        const char* table;
        int limit;
        QString sql;
        int fetched;
        QString count;
    } cases[] = {
        {"items", 100, QStringLiteral("SELECT * FROM `items`\r\nLIMIT 100\r\n"), 100, QStringLiteral("250")},
        {"items", 0, QStringLiteral("SELECT * FROM `items`\r\n"), 250, QStringLiteral("250")},
        {"items", 10000, QStringLiteral("SELECT * FROM `items`\r\nLIMIT 10000\r\n"), 250, QStringLiteral("250")},
        {"order", 1, QStringLiteral("SELECT * FROM `order`\r\nLIMIT 1\r\n"), 1, QStringLiteral("2")},
        {"my table", 0, QStringLiteral("SELECT * FROM `my table`\r\n"), 1, QStringLiteral("1")},
        {"v_items", 100, QStringLiteral("SELECT * FROM `v_items`\r\nLIMIT 100\r\n"), 5, QStringLiteral("5")},
        {"big", 100, QStringLiteral("SELECT * FROM `big`\r\nLIMIT 100\r\n"), 0, QStringLiteral("0")},
        {"`x`;DROP TABLE items;SELECT `1`", 2, QStringLiteral("SELECT * FROM ```x``;DROP TABLE items;SELECT ``1```\r\n"
                                                              "LIMIT 2\r\n"),
         2, QStringLiteral("3")},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(testing::Message() << tc.table << " limit " << tc.limit);
        form->spEdtRecordLimit->setValue(tc.limit);
        TModalSteps none;
        Select(QString::fromUtf8(tc.table));
        EXPECT_TRUE(none.Seen.isEmpty()) << none.Seen.join(u'|').toStdString();
        EXPECT_EQ(form->SelectedTable, QString::fromUtf8(tc.table));
        EXPECT_EQ(data->ToolsQuery->SQL().Text(), tc.sql);
        EXPECT_TRUE(data->ToolsQuery->FetchAll());
        EXPECT_EQ(Grid().rowCount(), tc.fetched);
        EXPECT_EQ(Fetched(), QStringLiteral("Records fetched: %1").arg(tc.fetched));
        EXPECT_EQ(Count(), tc.count);
    }

    // The refresh runs the same steps with the limit as it is now.
    Select(QStringLiteral("items"));
    form->spEdtRecordLimit->setValue(200);
    form->btnRefresh->click();
    EXPECT_EQ(Grid().rowCount(), 200);
    EXPECT_EQ(Fetched(), QStringLiteral("Records fetched: 200"));
    // Text columns are narrowed to 20 characters, numbers keep their width.
    EXPECT_EQ(data->ToolsQuery->FieldByName(QStringLiteral("name")).DisplayWidth(), 20);
    EXPECT_EQ(data->ToolsQuery->FieldByName(QStringLiteral("id")).DisplayWidth(), 11);
    // Moving in the rows keeps the fetched count in the label.
    data->ToolsQuery->Last();
    EXPECT_EQ(form->TntDBGrid1->currentIndex().row(), 199);
    EXPECT_EQ(Fetched(), QStringLiteral("Records fetched: 200"));

    // Showing the tab with no rows to show puts the count to 0.
    form->TntPageControl1->setCurrentWidget(form->TntTabSheet1);
    form->TntPageControl1->setCurrentWidget(form->TntTabSheet4);
    EXPECT_EQ(Count(), QStringLiteral("250"));
    data->ToolsQuery->Close();
    form->TntPageControl1->setCurrentWidget(form->TntTabSheet1);
    form->TntPageControl1->setCurrentWidget(form->TntTabSheet4);
    EXPECT_EQ(Count(), QStringLiteral("0"));
}

TEST_F(ViewDataTest, AFailingSelectionShowsTheErrorAndKeepsTheCount) {
    Select(QStringLiteral("items"));
    ASSERT_EQ(Count(), QStringLiteral("250"));
    QStringList seen;
    TModalSteps steps({Press(seen, QMessageBox::Ok)});
    Select(QStringLiteral("v_broken"));
    ASSERT_EQ(seen.size(), 1) << steps.Seen.join(u'|').toStdString();
    EXPECT_TRUE(seen[0].contains(QStringLiteral("v_broken"))) << seen[0].toStdString();
    EXPECT_EQ(form->SelectedTable, QStringLiteral("v_broken"));
    EXPECT_EQ(Count(), QStringLiteral("250"));
    EXPECT_TRUE(steps.Seen.isEmpty()) << steps.Seen.join(u'|').toStdString();
}

TEST_F(ViewDataTest, EditingACellWritesExactlyThatRow) {
    Select(QStringLiteral("items"));
    // Row 5 (id 5), column name.
    ASSERT_TRUE(Grid().setData(Grid().index(4, 1), QStringLiteral("renamed")));
    EXPECT_EQ(Server(QStringLiteral("SELECT id FROM items WHERE name <> CONCAT('item ', id) OR note IS NOT NULL")),
              QStringLiteral("5"));
    EXPECT_EQ(Server(QStringLiteral("SELECT name FROM items WHERE id = 5")), QStringLiteral("renamed"));
    // Set to NULL from the grid: only that cell becomes NULL.
    form->TntDBGrid1->setCurrentIndex(Grid().index(6, 1));
    form->TntDBGrid1->SetNullAction()->trigger();
    EXPECT_EQ(Server(QStringLiteral("SELECT id FROM items WHERE name IS NULL")), QStringLiteral("7"));
    EXPECT_EQ(Grid().CellText(6, 1), dac::TDataSetModel::NullText);

    // Without a key a row is matched on its values: a unique row is written alone ...
    Select(QStringLiteral("dup"));
    ASSERT_EQ(Grid().rowCount(), 3);
    EXPECT_TRUE(Grid().setData(Grid().index(2, 1), QStringLiteral("z")));
    EXPECT_EQ(Server(QStringLiteral("SELECT a, b FROM dup ORDER BY a, b")), QStringLiteral("1,x|1,x|2,z"));
    // ... and one of two equal rows is refused with the server's count, both left as they were.
    QStringList seen;
    TModalSteps steps({Press(seen, QMessageBox::Ok)});
    EXPECT_FALSE(Grid().setData(Grid().index(0, 1), QStringLiteral("w")));
    RunUntilIdle();
    ASSERT_EQ(seen.size(), 1) << steps.Seen.join(u'|').toStdString();
    EXPECT_TRUE(seen[0].contains(QStringLiteral("Found 2 records"))) << seen[0].toStdString();
    EXPECT_EQ(Server(QStringLiteral("SELECT a, b FROM dup ORDER BY a, b")), QStringLiteral("1,x|1,x|2,z"));
    // The edit stays open until cancelled; selecting again drops it.
    EXPECT_EQ(data->ToolsQuery->State(), dac::dsEdit);
    Select(QStringLiteral("dup"));
    EXPECT_EQ(Server(QStringLiteral("SELECT a, b FROM dup ORDER BY a, b")), QStringLiteral("1,x|1,x|2,z"));
    EXPECT_EQ(Grid().CellText(0, 1), QStringLiteral("x"));
    EXPECT_TRUE(steps.Seen.isEmpty()) << steps.Seen.join(u'|').toStdString();
}

TEST_F(ViewDataTest, ClearAllTableAsksThenEmptiesTheTableAndCountsAgain) {
    struct Case {
        const char* table;
        QMessageBox::StandardButton answer;
        bool emptied;
        const char* error;  // a second box with this text, or none
    } cases[] = {
        {"v_items", QMessageBox::Yes, false, "v_items"},  // the server's error for a view
        {"items", QMessageBox::No, false, nullptr},
        {"items", QMessageBox::Yes, true, nullptr},
        {"my table", QMessageBox::Yes, true, nullptr},
        {"`x`;DROP TABLE items;SELECT `1`", QMessageBox::Yes, true, nullptr},
    };
    for (const Case& tc : cases) {
        const QString table = QString::fromUtf8(tc.table);
        SCOPED_TRACE(tc.table);
        Select(table);
        const QString countBefore = Count();
        QStringList seen;
        std::vector<TModalSteps::TStep> answers = {Press(seen, tc.answer)};
        if (tc.error) answers.push_back(Press(seen, QMessageBox::Ok));
        TModalSteps steps(answers);
        RunUntilIdle();
        form->TntBitBtn6->click();
        EXPECT_TRUE(steps.Done());
        EXPECT_TRUE(steps.Seen.isEmpty()) << steps.Seen.join(u'|').toStdString();
        ASSERT_GE(seen.size(), 1);
        EXPECT_EQ(seen[0], QStringLiteral("Are you sure you want to erase all the data from %1 table?").arg(table));
        if (tc.error) {
            ASSERT_EQ(seen.size(), 2);
            EXPECT_TRUE(seen[1].contains(QString::fromUtf8(tc.error))) << seen[1].toStdString();
        }
        const QString rows = Server(QStringLiteral("SELECT COUNT(*) FROM %1").arg(QuoteIdentifier(table)));
        if (tc.emptied) {
            EXPECT_EQ(rows, QStringLiteral("0"));
            EXPECT_EQ(Grid().rowCount(), 0);
            EXPECT_EQ(Count(), QStringLiteral("0"));
            EXPECT_EQ(Fetched(), QStringLiteral("Records fetched: 0"));
        } else {
            EXPECT_EQ(rows, countBefore);
            EXPECT_EQ(Count(), countBefore);
            EXPECT_GT(Grid().rowCount(), 0);
        }
    }
    // Only the tables named were emptied.
    EXPECT_EQ(Server(QStringLiteral("SELECT COUNT(*) FROM items")), QStringLiteral("0"));
    EXPECT_EQ(Server(QStringLiteral("SELECT COUNT(*) FROM `order`")), QStringLiteral("2"));
}

TEST_F(ViewDataTest, AutoIncrementTakesUnsigned64BitValuesAndRefusesTheRest) {
    const QString invalid = QStringLiteral("'%1' is not a valid auto_increment value: enter a whole number from 0 to "
                                           "18446744073709551615.");
    struct Case {
        const char* what;
        const char* table;
        std::optional<QString> typed;  // nothing: cancelled
        QString message;               // the box after the input box, if any
        QString autoIncrement;         // on the server afterwards
    } cases[] = {
        {"cancelled", "items", std::nullopt, {}, QStringLiteral("251")},
        {"letters", "items", QStringLiteral("abc"), invalid.arg(QStringLiteral("abc")), QStringLiteral("251")},
        {"the initial text", "items", QStringLiteral("-999"), invalid.arg(QStringLiteral("-999")), QStringLiteral("251")},
        {"a negative number", "items", QStringLiteral("-5"), invalid.arg(QStringLiteral("-5")), QStringLiteral("251")},
        {"nothing", "items", QString(), invalid.arg(QString()), QStringLiteral("251")},
        {"digits and letters", "items", QStringLiteral("12ab"), invalid.arg(QStringLiteral("12ab")), QStringLiteral("251")},
        {"beyond 64 bits", "big", QStringLiteral("18446744073709551616"),
         invalid.arg(QStringLiteral("18446744073709551616")), QStringLiteral("1")},
        {"a number with blanks", "items", QStringLiteral(" 500 "), QStringLiteral("Auto_increment changed successfully"),
         QStringLiteral("500")},
        {"a reserved word for a name", "order", QStringLiteral("77"),
         QStringLiteral("Auto_increment changed successfully"), QStringLiteral("77")},
        {"beyond the signed range", "big", QStringLiteral("9223372036854775808"),
         QStringLiteral("Auto_increment changed successfully"), QStringLiteral("9223372036854775808")},
        {"the largest BIGINT UNSIGNED", "big", QStringLiteral("18446744073709551615"),
         QStringLiteral("Auto_increment changed successfully"), QStringLiteral("18446744073709551615")},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.what);
        const QString table = QString::fromUtf8(tc.table);
        Select(table);
        QStringList seen;
        std::vector<TModalSteps::TStep> answers = {tc.typed ? Enter(seen, *tc.typed) : CancelInput(seen)};
        if (!tc.message.isEmpty()) answers.push_back(Press(seen, QMessageBox::Ok));
        TModalSteps steps(answers);
        RunUntilIdle();
        form->TntBitBtn7->click();
        EXPECT_TRUE(steps.Done());
        EXPECT_TRUE(steps.Seen.isEmpty()) << steps.Seen.join(u'|').toStdString();
        ASSERT_EQ(seen.size(), tc.message.isEmpty() ? 1 : 2) << seen.join(u'|').toStdString();
        if (tc.typed) {
            EXPECT_EQ(seen[0], QStringLiteral("Tessrin|Enter new auto_increment value for %1|-999").arg(table));
        }
        if (!tc.message.isEmpty()) {
            EXPECT_EQ(seen[1], tc.message);
        }
        EXPECT_EQ(AutoIncrement(table), tc.autoIncrement);
    }
    // A view has no counter: the server's error, no success message.
    Select(QStringLiteral("v_items"));
    QStringList seen;
    TModalSteps steps({Enter(seen, QStringLiteral("10")), Press(seen, QMessageBox::Ok)});
    RunUntilIdle();
    form->TntBitBtn7->click();
    ASSERT_EQ(seen.size(), 2);
    EXPECT_NE(seen[1], QStringLiteral("Auto_increment changed successfully"));
    EXPECT_TRUE(seen[1].contains(QStringLiteral("v_items"))) << seen[1].toStdString();
}

TEST_F(ViewDataTest, TheViewerShowsTheCreateStatementOfTablesAndViews) {
    TCreateTableForm* viewer = form->CreateTableForm;
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(viewer->windowTitle(), QStringLiteral("Create table -"));
    EXPECT_EQ(viewer->size(), QSize(509, 564));
    EXPECT_TRUE(viewer->TntBitBtn1->isDefault());
    struct Case {
        const char* table;
        const char* starts;  // of the text shown
        bool escape;         // closed with Escape rather than Ok
    } cases[] = {
        {"items", "CREATE TABLE `items` (", false},
        {"order", "CREATE TABLE `order` (", true},
        {"my table", "CREATE TABLE `my table` (", false},
        {"v_items", "CREATE ALGORITHM=UNDEFINED DEFINER=", true},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.table);
        Select(QString::fromUtf8(tc.table));
        QString caption, text;
        TModalSteps steps({[&](QWidget* window) {
            auto* shown = qobject_cast<TCreateTableForm*>(window);
            if (!shown) return false;
            caption = shown->windowTitle();
            text = shown->TntMemo1->toPlainText();
            // The window sees the key before the text box does.
            if (tc.escape) QTest::keyRelease(shown->TntMemo1, Qt::Key_Escape);
            else shown->TntBitBtn1->click();
            return true;
        }});
        RunUntilIdle();
        form->TntBitBtn8->click();
        EXPECT_TRUE(steps.Done());
        EXPECT_TRUE(steps.Seen.isEmpty()) << steps.Seen.join(u'|').toStdString();
        EXPECT_EQ(caption, QStringLiteral("Create table - %1").arg(QString::fromUtf8(tc.table)));
        EXPECT_TRUE(text.startsWith(QString::fromUtf8(tc.starts))) << text.toStdString();
        EXPECT_FALSE(viewer->isVisible());
    }
    EXPECT_TRUE(viewer->findChild<QPlainTextEdit*>(QStringLiteral("TntMemo1"))->toPlainText().contains(
        QStringLiteral("VIEW `v_items`")));

    // A table gone meanwhile: the server's error, and the viewer closes by itself.
    Select(QStringLiteral("dup"));
    admin->ExecSQL(QStringLiteral("DROP TABLE dup"));
    QStringList seen;
    TModalSteps steps({Press(seen, QMessageBox::Ok)});
    RunUntilIdle();
    form->TntBitBtn8->click();
    RunUntilIdle();
    ASSERT_EQ(seen.size(), 1) << steps.Seen.join(u'|').toStdString();
    EXPECT_TRUE(seen[0].contains(QStringLiteral("dup"))) << seen[0].toStdString();
    EXPECT_FALSE(viewer->isVisible());
    EXPECT_EQ(viewer->TntMemo1->toPlainText(), QString());
    EXPECT_TRUE(steps.Seen.isEmpty()) << steps.Seen.join(u'|').toStdString();
}

TEST_F(ViewDataTest, ABusySessionRefusesTheTabsOperations) {
    Select(QStringLiteral("items"));
    form->spEdtRecordLimit->setValue(5);
    {
        TData::TBusy busy(*data);
        RunUntilIdle();
        for (QWidget* w : std::initializer_list<QWidget*>{form->cbxTablesViews, form->btnRefresh, form->TntBitBtn6,
                                                          form->TntBitBtn7, form->TntBitBtn8, form->DBNavigator1})
            EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
        // Handlers reached anyway (a key, a queued click) do nothing.
        TModalSteps none;
        form->cbxTablesViews->setCurrentIndex(form->cbxTablesViews->findText(QStringLiteral("order")));
        form->cbxTablesViewsChange();
        form->btnRefreshClick();
        form->TntBitBtn6Click();
        form->TntBitBtn7Click();
        form->TntBitBtn8Click();
        EXPECT_TRUE(none.Seen.isEmpty()) << none.Seen.join(u'|').toStdString();
        EXPECT_EQ(form->SelectedTable, QStringLiteral("items"));
        EXPECT_EQ(Grid().rowCount(), 100);
        // Nor are grid edits and navigator actions run on the busy connection.
        EXPECT_FALSE(Grid().setData(Grid().index(0, 1), QStringLiteral("busy")));
        form->DBNavigator1->BtnClick(dac::nbDelete);
        EXPECT_EQ(Server(QStringLiteral("SELECT COUNT(*), MIN(name) FROM items")), QStringLiteral("250,item 1"));
    }
    RunUntilIdle();
    EXPECT_TRUE(form->TntBitBtn6->isEnabled());
    EXPECT_TRUE(Grid().setData(Grid().index(0, 1), QStringLiteral("idle")));
    EXPECT_EQ(Server(QStringLiteral("SELECT name FROM items WHERE id = 1")), QStringLiteral("idle"));
}

TEST_F(ViewDataTest, TheGridShowsNullEmptyBytesAndLongTextApart) {
    admin->ExecSQL(QStringLiteral("CREATE TABLE kinds (id INT PRIMARY KEY, s VARCHAR(200), e VARCHAR(10), "
                                  "b VARBINARY(8), t TEXT)"));
    admin->ExecSQL(QStringLiteral("INSERT INTO kinds VALUES (1, REPEAT('abcde', 10), '', 0xCAFE, 'two\\nlines'), "
                                  "(2, NULL, NULL, NULL, NULL)"));
    form->GetDBDetails();
    Select(QStringLiteral("kinds"));
    // The long text is cut at the tab's 20 characters and comes whole as the tip and to the editor.
    const QString longText = QStringLiteral("abcde").repeated(10);
    EXPECT_EQ(Grid().CellText(0, 1), longText.left(20) + u'…');
    EXPECT_EQ(Grid().data(Grid().index(0, 1), Qt::ToolTipRole).toString(), longText);
    EXPECT_EQ(Grid().data(Grid().index(0, 1), Qt::EditRole).toString(), longText);
    EXPECT_EQ(Grid().CellText(0, 2), QString());
    EXPECT_EQ(Grid().CellText(0, 3), QStringLiteral("0xCAFE"));
    EXPECT_EQ(Grid().CellText(0, 4), QStringLiteral("two↵lines"));
    for (int column = 1; column < 5; ++column) {
        EXPECT_EQ(Grid().CellText(1, column), dac::TDataSetModel::NullText) << column;
        EXPECT_TRUE(Grid().data(Grid().index(1, column), dac::TDataSetModel::IsNullRole).toBool()) << column;
    }
    EXPECT_FALSE(Grid().data(Grid().index(0, 2), dac::TDataSetModel::IsNullRole).toBool());
    // '' and NULL reach the server apart; bytes can be set to NULL too.
    form->TntDBGrid1->setCurrentIndex(Grid().index(0, 3));
    EXPECT_TRUE(form->TntDBGrid1->SetCurrentCellNull());
    EXPECT_TRUE(Grid().setData(Grid().index(1, 2), QString()));
    EXPECT_EQ(Server(QStringLiteral("SELECT id, e IS NULL, b IS NULL FROM kinds ORDER BY id")),
              QStringLiteral("1,0,1|2,0,1"));
}

// Loads Sakila into a database of this test's own (the script and dump tests load and drop
// "sakila" itself); true when its film table is there.
bool LoadSakila(dac::TMyConnection& admin, const QString& database) {
    if (FirstValue(admin, QStringLiteral("SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_SCHEMA = '%1' "
                                         "AND TABLE_NAME = 'film'")
                              .arg(database)) == QStringLiteral("1") &&
        FirstValue(admin, QStringLiteral("SELECT COUNT(*) FROM %1.film").arg(database)) == QStringLiteral("1000"))
        return true;
    const QString fixtures = qEnvironmentVariable("CALVORO_FIXTURES", QStringLiteral("/work/shared/fixtures"));
    QByteArray script;
    for (const char* name : {"sakila-schema.sql", "sakila-data.sql"}) {
        QFile f(fixtures + QStringLiteral("/sakila/") + QString::fromLatin1(name));
        if (!f.open(QIODevice::ReadOnly)) return false;
        script += f.readAll() + '\n';
    }
    // The schema's own name, as a word: "MySakila" and "sakilacustomer" in the data stay.
    script = QString::fromUtf8(script)
                 .replace(QRegularExpression(QStringLiteral("\\bsakila\\b")), database)
                 .toUtf8();
    const test::TToolResult r = test::RunMariadbTool(QStringLiteral("mariadb"), {}, script);
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    return r.Status == 0;
}

TEST_F(ViewDataTest, ScreenshotsOfTheTabWithSakilasFilmsAndOfTheViewer) {
    const QString sakila = QStringLiteral("calvoro_vd_sakila");
    if (!LoadSakila(*admin, sakila)) GTEST_SKIP() << "Sakila fixture not found (CALVORO_FIXTURES)";
    // Switched to as a user does: chosen in the database selector, then Connect. The selector
    // lists the databases of the last connect, which may predate the one just loaded.
    data->ToolsConnection->SetLoginPrompt(false);
    form->btnConnectToServerClick();
    form->cbxDataBases->setCurrentIndex(form->cbxDataBases->findText(sakila));
    form->spbtnConnect->click();
    ASSERT_EQ(data->ToolsConnection->Database(), sakila);
    form->TntPageControl1->setCurrentWidget(form->TntTabSheet4);
    form->showNormal();
    form->resize(950, 755);
    form->spEdtRecordLimit->setValue(100);
    Select(QStringLiteral("film"));
    RunUntilIdle();
    EXPECT_EQ(Fetched(), QStringLiteral("Records fetched: 100"));
    EXPECT_EQ(Count(), QStringLiteral("1000"));
    // At the smallest size every control of the tab is whole on the page.
    for (QWidget* w : std::initializer_list<QWidget*>{form->TntBitBtn6, form->TntBitBtn7, form->TntBitBtn8,
                                                      form->btnRefresh, form->Label2, form->lblRecordsFetched}) {
        const QRect r(w->mapTo(form->TntTabSheet4, QPoint(0, 0)), w->size());
        EXPECT_TRUE(form->TntTabSheet4->rect().contains(r)) << w->objectName().toStdString();
        EXPECT_GE(w->width(), w->sizeHint().width()) << w->objectName().toStdString();
    }
    const QImage window = form->grab().toImage();
    EXPECT_EQ(window.size(), QSize(950, 755));
    QImage viewer;
    TModalSteps steps({[&](QWidget* shown) {
        if (!qobject_cast<TCreateTableForm*>(shown)) return false;
        viewer = shown->grab().toImage();
        static_cast<TCreateTableForm*>(shown)->TntBitBtn1->click();
        return true;
    }});
    RunUntilIdle();
    form->TntBitBtn8->click();
    EXPECT_EQ(viewer.size(), QSize(509, 564));
    const QString dir = qEnvironmentVariable("CALVORO_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
        EXPECT_TRUE(window.save(dir + QStringLiteral("/viewdata.png")));
        EXPECT_TRUE(viewer.save(dir + QStringLiteral("/createtable.png")));
    }
}

// Counts the paint events of a widget while it lives.
class TPaintCounter : public QObject {
public:
    explicit TPaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int Paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++Paints;
        return false;
    }
};

TEST_F(ViewDataTest, AStopWhileTheRowsComeKeepsThoseReadAndTheWindowGoesOn) {
    admin->ExecSQL(QStringLiteral("DROP TABLE IF EXISTS many"));
    admin->ExecSQL(QStringLiteral("CREATE TABLE many (id INT PRIMARY KEY, label VARCHAR(120))"));
    admin->ExecSQL(QStringLiteral("INSERT INTO many SELECT seq, CONCAT('row ', seq, ' ', REPEAT('-', 100)) "
                                  "FROM seq_1_to_300000"));
    ScopeExit drop([&] { admin->ExecSQL(QStringLiteral("DROP TABLE IF EXISTS many")); });
    form->spbtnReloadDBobjectsClick();
    form->TntPageControl1->setCurrentWidget(form->TntTabSheet4);
    form->spEdtRecordLimit->setValue(0);
    const QString session = FirstValue(*data->ToolsConnection, QStringLiteral("SELECT CONNECTION_ID()")).value_or(QString());

    // Seen from a timer while the rows come: the count of rows read so far moving, and the
    // Stop pressed once some are in.
    static const QRegularExpression progress(QStringLiteral("^Reading rows: (\\d+) so far$"));
    QList<int> shown;
    bool stopVisible = false;
    TPaintCounter paints(form->lblRecordsFetched);
    QTimer watcher;
    watcher.setInterval(20);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        const QRegularExpressionMatch m = progress.match(form->lblRecordsFetched->text());
        if (!m.hasMatch()) return;
        const int rows = m.captured(1).toInt();
        if (shown.isEmpty() || shown.back() != rows) shown << rows;
        if (rows > 0 && !stopVisible) {
            stopVisible = form->btnStopViewData->isVisible();
            form->btnStopViewData->click();
        }
    });
    watcher.start();
    Select(QStringLiteral("many"));
    watcher.stop();

    ASSERT_TRUE(stopVisible) << "the count of rows read never moved: " << form->lblRecordsFetched->text().toStdString();
    EXPECT_GT(paints.Paints, 1);
    const int rows = Grid().rowCount();
    EXPECT_GT(rows, 0);
    EXPECT_LT(rows, 300000);
    EXPECT_GE(rows, shown.back());
    EXPECT_TRUE(data->ToolsQuery->FetchStopped());
    EXPECT_EQ(data->ToolsQuery->RecordCount(), rows);
    EXPECT_EQ(Fetched(), QStringLiteral("Records fetched: %1 (stopped)").arg(rows));
    // The stop ends the whole open, the count of the table's rows too.
    EXPECT_EQ(Count(), QStringLiteral("not counted"));
    EXPECT_TRUE(form->btnStopViewData->isHidden());
    // The rows read are the table's first ones, whole.
    data->ToolsQuery->Last();
    EXPECT_EQ(data->ToolsQuery->FieldByName(QStringLiteral("id")).AsString(), QString::number(rows));
    EXPECT_EQ(Fetched(), QStringLiteral("Records fetched: %1 (stopped)").arg(rows));

    // At the smallest size of the window the figures are whole on the page.
    form->showNormal();
    form->resize(950, 755);
    RunUntilIdle();
    for (QLabel* label : {form->lblRecordsFetched, form->Label2})
        EXPECT_GE(label->width(), label->sizeHint().width()) << label->objectName().toStdString();
    const QString dir = qEnvironmentVariable("CALVORO_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
        EXPECT_TRUE(form->grab().save(dir + QStringLiteral("/viewdata-stopped.png")));
    }

    // The session goes on: the same one (only the statement was stopped), and the next table
    // opens whole.
    EXPECT_EQ(FirstValue(*data->ToolsConnection, QStringLiteral("SELECT CONNECTION_ID()")).value_or(QString()), session);
    form->spEdtRecordLimit->setValue(100);
    Select(QStringLiteral("items"));
    EXPECT_EQ(Grid().rowCount(), 100);
    EXPECT_EQ(Fetched(), QStringLiteral("Records fetched: 100"));
    EXPECT_EQ(Count(), QStringLiteral("250"));
}

TEST_F(ViewDataTest, AStopBeforeTheFirstRowEndsTheStatementAndKeepsTheSession) {
    admin->ExecSQL(QStringLiteral("CREATE OR REPLACE VIEW v_slow AS SELECT s FROM (SELECT SLEEP(20) AS s) AS d ORDER BY s"));
    ScopeExit drop([&] { admin->ExecSQL(QStringLiteral("DROP VIEW IF EXISTS v_slow")); });
    form->spbtnReloadDBobjectsClick();
    const QString session = FirstValue(*data->ToolsConnection, QStringLiteral("SELECT CONNECTION_ID()")).value_or(QString());
    Select(QStringLiteral("items"));
    ASSERT_EQ(Count(), QStringLiteral("250"));
    QTimer::singleShot(300, form->btnStopViewData, &QPushButton::click);
    QElapsedTimer clock;
    clock.start();
    {
        TModalSteps none;
        Select(QStringLiteral("v_slow"));
        EXPECT_TRUE(none.Seen.isEmpty()) << none.Seen.join(u'|').toStdString();
    }
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(Grid().rowCount(), 0);
    EXPECT_EQ(Fetched(), QStringLiteral("Records fetched: 0 (stopped)"));
    EXPECT_EQ(Count(), QStringLiteral("not counted"));
    EXPECT_EQ(FirstValue(*data->ToolsConnection, QStringLiteral("SELECT CONNECTION_ID()")).value_or(QString()), session);
    Select(QStringLiteral("items"));
    EXPECT_EQ(Count(), QStringLiteral("250"));
}

TEST_F(ViewDataTest, AnotherDatabaseClearsTheFiguresAndTheCountIsReadAsANumber) {
    Select(QStringLiteral("items"));
    ASSERT_EQ(Fetched(), QStringLiteral("Records fetched: 100"));
    ASSERT_EQ(Count(), QStringLiteral("250"));
    // A screen reader says the number, with the caption as what it is.
    QAccessibleInterface* count = QAccessible::queryAccessibleInterface(form->Label2);
    ASSERT_NE(count, nullptr);
    EXPECT_EQ(count->text(QAccessible::Name), QStringLiteral("250"));
    EXPECT_EQ(count->text(QAccessible::Description), QStringLiteral("Records in table:"));
    // Switched as a user does: chosen in the selector, then the check-mark button.
    data->ToolsConnection->SetLoginPrompt(false);
    form->cbxDataBases->setCurrentIndex(form->cbxDataBases->findText(QStringLiteral("mysql")));
    form->spbtnConnect->click();
    ASSERT_EQ(data->ToolsConnection->Database(), QStringLiteral("mysql"));
    EXPECT_EQ(Grid().rowCount(), 0);
    EXPECT_EQ(Fetched(), QStringLiteral("Records fetched:"));
    EXPECT_EQ(Count(), QStringLiteral("Number of records"));
}

}  // namespace
