// The look at a script before a restore from the Backup/Restore tab, against the test server:
// what it finds is shown with Restore anyway / Mend and restore / Cancel, and each does what it
// says; a script with nothing to say restores without a question.
#include "app/Calvoro.h"
#include "app/DataUnit.h"
#include "app/RestoreCheckDialog.h"
#include "app/TessrinUnit.h"
#include "app/support/AppSession.h"
#include "dataaccess/support/MyTestConnection.h"
#include "support/QtPrinters.h"

#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace calvoro;
using namespace calvoro::app;
using calvoro::test::NewConnection;
using calvoro::test::RowsText;

namespace {

const char* const CrossFamilyScript =
    "CREATE TABLE r (id INT PRIMARY KEY, name VARCHAR(20) COLLATE utf8mb4_0900_ai_ci);\n"
    "INSERT INTO r VALUES (1, 'lamp');\n"
    "CREATE DEFINER=`calvoro_ghost`@`%` VIEW rv AS SELECT name FROM r;\n";

class RestoreCheckTabTest : public ::testing::Test {
protected:
    void SetUp() override {
        admin = NewConnection();
        admin->Connect();
        admin->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS calvoro_tab_check"));
        admin->ExecSQL(QStringLiteral("CREATE DATABASE calvoro_tab_check CHARACTER SET utf8mb4"));
        program = test::StartProgram();
        form = program->MainForm.get();
        test::ConnectTools(*form, *program->Data, QStringLiteral("calvoro_tab_check"));
        file = dir.filePath(QStringLiteral("cross.sql"));
        Write(CrossFamilyScript);
    }
    void TearDown() override {
        program.reset();
        admin->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS calvoro_tab_check"));
    }
    void Write(const char* text) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }
    QStringList Restore() {
        form->ChooseFile = [this](bool, const QString&, const QString&) { return file; };
        test::TMessageBoxes boxes;
        form->TntSpeedButton2->click();
        return boxes.Texts;
    }
    QString Tables() {
        return RowsText(*admin, QStringLiteral("SELECT TABLE_NAME FROM information_schema.TABLES WHERE "
                                               "TABLE_SCHEMA = 'calvoro_tab_check' ORDER BY TABLE_NAME"));
    }

    std::unique_ptr<dac::TMyConnection> admin;
    std::unique_ptr<Program> program;
    TTessrinForm* form = nullptr;
    QTemporaryDir dir;
    QString file;
};

TEST_F(RestoreCheckTabTest, MendAndRestoreInTheDialog) {
    // The dialog itself, found by its name while it waits, and answered with its button.
    QString report, mends;
    bool found = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<TRestoreCheckDialog*>(w);
            if (!dialog || !dialog->isVisible()) continue;
            found = true;
            report = dialog->findChild<QPlainTextEdit*>(QStringLiteral("mmoRestoreCheck"))->toPlainText();
            mends = dialog->findChild<QPlainTextEdit*>(QStringLiteral("mmoRestoreMends"))->toPlainText();
            dialog->findChild<QPushButton*>(QStringLiteral("btnMendAndRestore"))->click();
        }
    });
    poll.start(50);
    const QStringList messages = Restore();
    poll.stop();
    ASSERT_TRUE(found);
    EXPECT_TRUE(report.contains(QStringLiteral("fails: unknown collation utf8mb4_0900_ai_ci: 1 statement, first at line 1")))
        << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("`calvoro_ghost`@`%`"))) << report.toStdString();
    EXPECT_EQ(mends, QStringLiteral("Collation utf8mb4_0900_ai_ci becomes utf8mb4_uca1400_nopad_ai_ci\n"
                                    "DEFINER becomes CURRENT_USER"));
    EXPECT_EQ(messages, QStringList{QStringLiteral("Restore from %1 file completed successfully (mended: 1 "
                                                   "collation, 1 definer, 0 engines)")
                                        .arg(file)});
    EXPECT_EQ(RowsText(*admin, QStringLiteral("SELECT name FROM calvoro_tab_check.rv")), QStringLiteral("lamp"));
    EXPECT_EQ(RowsText(*admin, QStringLiteral("SELECT COLLATION_NAME FROM information_schema.COLUMNS WHERE "
                                              "TABLE_SCHEMA = 'calvoro_tab_check' AND TABLE_NAME = 'r' AND COLUMN_NAME = 'name'")),
              QStringLiteral("utf8mb4_uca1400_nopad_ai_ci"));
}

TEST_F(RestoreCheckTabTest, RestoreAnywayAndCancel) {
    struct TCase {
        const char* what;
        TRestoreCheckChoice choice;
        QString messages, tables;
    } cases[] = {
        {"cancel", TRestoreCheckChoice::Cancel, QString(), QString()},
        // The table is refused, so are its row and the view that reads it.
        {"anyway", TRestoreCheckChoice::RestoreAnyway,
         QStringLiteral("Restore from %1 file completed: 3 of 3 statements failed"), QString()},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        int asked = 0;
        form->AskRestoreCheck = [&](const QString& f, const dump::TCheckReport& r, const dump::TRestoreMends& offered) {
            ++asked;
            EXPECT_EQ(f, file);
            EXPECT_EQ(r.FailingLines, (std::vector<qint64>{1, 2, 3}));
            EXPECT_TRUE(offered.Any());
            return c.choice;
        };
        form->AskRestoreError = [](const QString&) { return TTessrinForm::reContinueAll; };
        const QStringList messages = Restore();
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(messages.join(u'\n'), c.messages.isEmpty() ? QString() : c.messages.arg(file));
        EXPECT_EQ(Tables(), c.tables);
    }
}

TEST_F(RestoreCheckTabTest, NothingToSayNoQuestion) {
    Write("CREATE TABLE r (id INT PRIMARY KEY, name VARCHAR(20) COLLATE utf8mb4_unicode_ci);\n"
          "INSERT INTO r VALUES (1, 'lamp');\n");
    form->AskRestoreCheck = [](const QString&, const dump::TCheckReport& r, const dump::TRestoreMends&) {
        ADD_FAILURE() << dump::FormatCheckReport(r).toStdString();
        return TRestoreCheckChoice::Cancel;
    };
    EXPECT_EQ(Restore(), QStringList{QStringLiteral("Restore from %1 file completed successfully").arg(file)});
    EXPECT_EQ(Tables(), QStringLiteral("r"));
}

}  // namespace
