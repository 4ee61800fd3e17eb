// The query generator window against the test server: its first state, the texts of the
// actions read through the tools session (also for names that need quoting, run on the server
// as generated), the alias and check boxes regenerating, a dropped object, a busy session,
// Escape, OK through Run, and a screenshot.
#include "app/Calvoro.h"
#include "app/DataUnit.h"
#include "app/QueryGeneratorUnit.h"
#include "app/QueryGenerators.h"
#include "app/SynEdit.h"
#include "app/TessrinUnit.h"
#include "dataaccess/mysql/MyAccess.h"
#include "app/support/AppSession.h"
#include "dataaccess/support/MyTestConnection.h"
#include "support/QtPrinters.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace calvoro;
using namespace calvoro::app;
using calvoro::test::NewConnection;
using calvoro::test::RowsText;

namespace {

const QString Db = QStringLiteral("calvoro_querygen");

class QueryGeneratorWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        auto admin = NewConnection();
        admin->Connect();
        admin->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS calvoro_querygen"));
        admin->ExecSQL(QStringLiteral("CREATE DATABASE calvoro_querygen CHARACTER SET utf8mb4"));
    }
    static void TearDownTestSuite() {
        auto admin = NewConnection();
        admin->Connect();
        admin->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS calvoro_querygen"));
    }
    void SetUp() override {
        admin = NewConnection(true, Db);
        admin->Connect();
        for (const char* sql : {
                 "DROP VIEW IF EXISTS `my view`",
                 "DROP TABLE IF EXISTS `my table`, gone",
                 // A blank, a reserved word and a backtick; the key is the last column.
                 "CREATE TABLE `my table` (`first name` VARCHAR(20), `order` INT, `we``ird` TEXT, id INT PRIMARY KEY)",
                 "CREATE TABLE gone (id INT)",
                 "CREATE VIEW `my view` AS SELECT id, `first name` FROM `my table`",
             })
            admin->ExecSQL(QString::fromLatin1(sql));
        program = test::StartProgram();
        data = program->Data.get();
        test::ConnectTools(*program->MainForm, *data, Db);
        ASSERT_TRUE(data->ToolsConnected());
    }
    void TearDown() override { program.reset(); }

    std::unique_ptr<TfrmQueryGenerator> Open(const QString& name, bool isView) {
        auto form = std::make_unique<TfrmQueryGenerator>(*data);
        form->DBObjectName = name;
        form->DBObjectIsView = isView;
        form->show();
        return form;
    }
    static void Choose(TfrmQueryGenerator& form, int action) { form.lbxAction->setCurrentRow(action); }
    static QString Text(TfrmQueryGenerator& form) { return form.mmoQueryGenerator->Text(); }
    // Runs a generated statement on the admin connection, each parameter given `value`.
    void RunGenerated(const QString& sql, const QString& value) {
        dac::TMyCommand command;
        command.SetConnection(admin.get());
        command.SQL().SetText(sql);
        for (int i = 0; i < command.Params().Count(); ++i) command.Params()[i].SetAsString(value);
        command.Execute();
    }

    std::unique_ptr<dac::TMyConnection> admin;
    std::unique_ptr<Program> program;
    TData* data = nullptr;
};

}  // namespace

TEST_F(QueryGeneratorWindowTest, StartsEmptyAndGeneratesTheChosenAction) {
    auto form = Open(QStringLiteral("my table"), false);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Query Generator"));
    EXPECT_EQ(Text(*form), QString());
    EXPECT_EQ(form->SelectedAction(), -1);
    EXPECT_TRUE(form->cbQuoteNames->isChecked());
    EXPECT_TRUE(form->cbEachFieldOnNewRow->isChecked());
    EXPECT_EQ(form->lbxAction->count(), 10);
    EXPECT_EQ(form->lbxAction->item(9)->text(), QStringLiteral("Fields & Type"));

    Choose(*form, gaUpdate);
    EXPECT_EQ(Text(*form), QStringLiteral("UPDATE `my table`\nSET \n  `first name` = :`first name`,\n  `order` = :order,\n"
                                          "  `we``ird` = :weird\nWHERE \n  `id` = :id\n"));
    form->cbEachFieldOnNewRow->click();
    EXPECT_EQ(Text(*form), QStringLiteral("UPDATE `my table` SET `first name` = :`first name`, `order` = :order,\n"
                                          "`we``ird` = :weird\nWHERE `id` = :id\n"));
    QTest::keyClicks(form->edtAlias, QStringLiteral("t"));
    EXPECT_EQ(Text(*form), QStringLiteral("UPDATE `my table` `t` SET `t`.`first name` = :`first name`,\n"
                                          "`t`.`order` = :order, `t`.`we``ird` = :weird\nWHERE `t`.`id` = :id\n"));
    // Without quoting, only the names that need them keep their backticks.
    form->cbQuoteNames->click();
    EXPECT_EQ(Text(*form), QStringLiteral("UPDATE `my table` t SET t.`first name` = :`first name`, t.`order` = :order,\n"
                                          "t.`we``ird` = :weird\nWHERE t.id = :id\n"));
    Choose(*form, gaFieldTypeList);
    EXPECT_EQ(Text(*form), QStringLiteral("t.`first name` varchar(20), t.`order` int(11), t.`we``ird` text, t.id int(11)\n"));
    // An alias typed in backticks is the name inside them; one that cannot be read says so.
    form->edtAlias->setText(QStringLiteral("`my alias`"));
    EXPECT_EQ(Text(*form), QStringLiteral("`my alias`.`first name` varchar(20), `my alias`.`order` int(11),\n"
                                          "`my alias`.`we``ird` text, `my alias`.id int(11)\n"));
    form->edtAlias->setText(QStringLiteral("`my alias"));
    EXPECT_EQ(Text(*form), QStringLiteral("-- The name `my alias has no closing backtick: a backtick inside a quoted "
                                          "name is written twice (``)"));
    form->edtAlias->setText(QStringLiteral("t"));
    // With no action the alias empties the editor.
    form->lbxAction->clearSelection();
    form->mmoQueryGenerator->SetText(QStringLiteral("typed"));
    QTest::keyClicks(form->edtAlias, QStringLiteral("x"));
    EXPECT_EQ(Text(*form), QString());
}

// What the window generates for names that need quotes runs as it stands.
TEST_F(QueryGeneratorWindowTest, GeneratedStatementsRunOnTheServer) {
    auto form = Open(QStringLiteral("my table"), false);
    Choose(*form, gaInsert);
    RunGenerated(Text(*form), QStringLiteral("1"));
    Choose(*form, gaUpdate);
    RunGenerated(Text(*form), QStringLiteral("1"));  // also the key: id = 1
    EXPECT_EQ(RowsText(*admin, QStringLiteral("SELECT * FROM `my table`")), QStringLiteral("1,1,1,1"));
    Choose(*form, gaSelect);
    RunGenerated(Text(*form), QString());
    Choose(*form, gaDelete);
    RunGenerated(Text(*form), QStringLiteral("1"));
    EXPECT_EQ(RowsText(*admin, QStringLiteral("SELECT COUNT(*) FROM `my table`")), QStringLiteral("0"));
    // So does what it generates without quoting, for these names too.
    form->cbQuoteNames->click();
    Choose(*form, gaInsert);
    RunGenerated(Text(*form), QStringLiteral("2"));
    Choose(*form, gaDelete);
    RunGenerated(Text(*form), QStringLiteral("2"));
    EXPECT_EQ(RowsText(*admin, QStringLiteral("SELECT COUNT(*) FROM `my table`")), QStringLiteral("0"));

    // The view's CREATE, laid out, makes the view again after its DROP.
    auto view = Open(QStringLiteral("my view"), true);
    Choose(*view, gaCreate);
    const QString create = Text(*view);
    EXPECT_TRUE(create.contains(QStringLiteral("\n  AS\nSELECT\n"))) << create.toStdString();
    Choose(*view, gaDrop);
    EXPECT_EQ(Text(*view), QStringLiteral("DROP VIEW IF EXISTS `my view`"));
    RunGenerated(Text(*view), QString());
    RunGenerated(create, QString());
    EXPECT_EQ(RowsText(*admin, QStringLiteral("SELECT COUNT(*) FROM `my view`")), QStringLiteral("0"));
}

TEST_F(QueryGeneratorWindowTest, ADroppedObjectShowsTheServersErrorAndKeepsTheText) {
    auto form = Open(QStringLiteral("gone"), false);
    Choose(*form, gaSelect);
    EXPECT_EQ(Text(*form), QStringLiteral("SELECT \n  `id`\nFROM `gone`\n"));
    form->FormClose();  // the next DESCRIBE goes to the server
    EXPECT_FALSE(data->CustomQuery->Active());
    admin->ExecSQL(QStringLiteral("DROP TABLE gone"));
    {
        test::TMessageBoxes boxes({QMessageBox::Ok}, QMessageBox::Ok);
        Choose(*form, gaFieldList);
        QTest::qWait(100);
        ASSERT_EQ(boxes.Texts.size(), 1);
        EXPECT_TRUE(boxes.Texts[0].contains(QStringLiteral("gone"))) << boxes.Texts[0].toStdString();
    }
    EXPECT_EQ(Text(*form), QStringLiteral("SELECT \n  `id`\nFROM `gone`\n"));
    Choose(*form, gaCreate);
    EXPECT_EQ(Text(*form), QStringLiteral("Invalid database object!"));
}

TEST_F(QueryGeneratorWindowTest, ABusySessionGeneratesNothing) {
    auto form = Open(QStringLiteral("my table"), false);
    {
        TData::TBusy busy(*data);
        Choose(*form, gaSelect);
        EXPECT_EQ(Text(*form), QString());
        QString text = QStringLiteral("before");
        EXPECT_FALSE(TfrmQueryGenerator::Run(nullptr, *data, QStringLiteral("my table"), false, text));
        EXPECT_EQ(text, QStringLiteral("before"));
    }
    form->lbxActionClick();
    EXPECT_TRUE(Text(*form).startsWith(QStringLiteral("SELECT")));
}

TEST_F(QueryGeneratorWindowTest, EscapeCancelsAndOkReturnsTheEditedText) {
    auto form = Open(QStringLiteral("my table"), false);
    Choose(*form, gaName);
    QTest::keyClick(form->mmoQueryGenerator, Qt::Key_Escape);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->result(), QDialog::Rejected);

    QString text;
    QTimer::singleShot(0, [] {
        auto* shown = qobject_cast<TfrmQueryGenerator*>(QApplication::activeModalWidget());
        if (!shown) return;
        shown->lbxAction->setCurrentRow(gaDrop);
        shown->mmoQueryGenerator->AppendLine(QStringLiteral("-- edited"));
        shown->TntBitBtn1->click();
    });
    ASSERT_TRUE(TfrmQueryGenerator::Run(nullptr, *data, QStringLiteral("my view"), true, text));
    EXPECT_EQ(text, QStringLiteral("DROP VIEW IF EXISTS `my view`\n-- edited"));
    EXPECT_FALSE(data->CustomQuery->Active());
}

TEST_F(QueryGeneratorWindowTest, Screenshot) {
    auto form = Open(QStringLiteral("my table"), false);
    Choose(*form, gaSelect);
    QTest::qWait(50);
    const QImage image = form->grab().toImage();
    const QString dir = qEnvironmentVariable("CALVORO_SCREENSHOT_DIR", QDir::tempPath());
    EXPECT_TRUE(image.save(dir + QStringLiteral("/querygenerator.png")));
}
