// A read-only tools session in the main window against the test server: every action that
// would change the server is refused with the one read-only message before anything is sent,
// the grid refuses edits, backups and queries work, and the window says what kind of session it
// is in its caption and band.
#include "app/Calvoro.h"
#include "app/DataUnit.h"
#include "app/SynEdit.h"
#include "app/TessrinUnit.h"
#include "app/toolkit.h"
#include "dataaccess/gui/DBGrid.h"
#include "dataaccess/mysql/MyAccess.h"
#include "app/support/AppSession.h"
#include "dataaccess/support/MyTestConnection.h"
#include "support/QtPrinters.h"

#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

using namespace calvoro;
using namespace calvoro::app;
using calvoro::test::RowsText;
using calvoro::test::RunUntilIdle;

namespace {

const QString Db = QStringLiteral("calvoro_ro_window");

class ReadOnlyWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        admin = test::NewConnection();
        admin->Connect();
        for (const QString& sql : {QStringLiteral("DROP DATABASE IF EXISTS calvoro_ro_created"),
                                   QStringLiteral("CREATE OR REPLACE DATABASE ") + Db,
                                   QStringLiteral("CREATE TABLE %1.items (id INT AUTO_INCREMENT PRIMARY KEY, "
                                                  "name VARCHAR(20))").arg(Db),
                                   QStringLiteral("INSERT INTO %1.items (name) VALUES ('a'), ('b')").arg(Db)})
            admin->ExecSQL(sql);
        program = test::StartProgram();
        form = program->MainForm.get();
        data = program->Data.get();
        data->ToolsConnection->MyOptions().SetReadOnly(true);
        test::ConnectTools(*form, *data, Db);
        ASSERT_TRUE(data->ToolsConnected());
    }
    void TearDown() override {
        program.reset();
        admin->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS ") + Db);
    }
    // What the server holds, as the refusals must leave it.
    QString Items() {
        return RowsText(*admin, QStringLiteral("SELECT id, name FROM %1.items ORDER BY id").arg(Db)) + u'|' +
               RowsText(*admin, QStringLiteral("SELECT AUTO_INCREMENT FROM information_schema.TABLES WHERE "
                                               "TABLE_SCHEMA = '%1' AND TABLE_NAME = 'items'").arg(Db)) + u'|' +
               RowsText(*admin, QStringLiteral("SHOW DATABASES LIKE 'calvoro_ro_created'"));
    }
    void SelectItems() {
        RunUntilIdle();
        const int index = form->cbxTablesViews->findText(QStringLiteral("items"));
        ASSERT_GE(index, 0);
        form->cbxTablesViews->setCurrentIndex(index);
        emit form->cbxTablesViews->activated(index);
    }
    template <typename T>
    T* Child(const char* name) {
        T* child = form->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    std::unique_ptr<dac::TMyConnection> admin;
    std::unique_ptr<Program> program;
    TTessrinForm* form = nullptr;
    TData* data = nullptr;
    QTemporaryDir dir;
};

}  // namespace

TEST_F(ReadOnlyWindowTest, ChangesAreRefusedWithOneMessageAndNothingIsSent) {
    const QString before = Items();
    const QString script = dir.filePath(QStringLiteral("change.sql"));
    {
        QFile f(script);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("DELETE FROM items;\n");
    }
    form->ChooseFile = [script](bool, const QString&, const QString&) { return script; };

    struct Case {
        const char* action;  // named in the refusal
        std::function<void()> prepare;
        const char* button;  // objectName of what the user presses
    } cases[] = {
        {"this statement", [&] { form->mmoCustomQuery->SetText(QStringLiteral("DELETE FROM items")); }, "btnExecute"},
        {"this statement",
         [&] { form->mmoCustomQuery->SetText(QStringLiteral("SELECT 1; /*!40101 UPDATE items SET name = 'x' */")); },
         "btnExecute"},
        {"Clear all table", [&] { SelectItems(); }, "TntBitBtn6"},
        {"Set auto_increment", [&] { SelectItems(); }, "TntBitBtn7"},
        {"Create Database", [&] { form->TntEdit1->setText(QStringLiteral("calvoro_ro_created")); }, "TntBitBtn2"},
        {"Restore", [] {}, "TntSpeedButton2"},
        {"Execute a script", [&] { form->mmoExecScript->SetText(QStringLiteral("DELETE FROM items;")); },
         "btnExecuteScript"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        c.prepare();
        RunUntilIdle();
        test::TMessageBoxes boxes;
        Child<QPushButton>(c.button)->click();
        RunUntilIdle();
        ASSERT_EQ(boxes.Texts.size(), 1) << boxes.Texts.join(u'|').toStdString();
        EXPECT_TRUE(boxes.Texts[0].contains(QStringLiteral("This session is read-only: %1 would change")
                                                .arg(QString::fromLatin1(c.action))))
            << boxes.Texts[0].toStdString();
        EXPECT_EQ(Items(), before);
    }

    // Grid edits, in the View Data grid: refused at the edit, the row left as it was.
    SelectItems();
    test::TMessageBoxes boxes;
    EXPECT_FALSE(form->TntDBGrid1->Model().setData(form->TntDBGrid1->Model().index(0, 1), QStringLiteral("z")));
    RunUntilIdle();
    ASSERT_EQ(boxes.Texts.size(), 1);
    EXPECT_TRUE(boxes.Texts[0].contains(QStringLiteral("read-only: editing a row"))) << boxes.Texts[0].toStdString();
    EXPECT_EQ(Items(), before);
}

TEST_F(ReadOnlyWindowTest, QueriesAndBackupsWorkAndTheWindowSaysReadOnly) {
    EXPECT_TRUE(form->windowTitle().endsWith(QStringLiteral(" - read-only"))) << form->windowTitle().toStdString();
    auto* band = Child<QLabel>("SessionBand");
    ASSERT_NE(band, nullptr);
    EXPECT_TRUE(band->isVisible());
    EXPECT_TRUE(band->text().contains(QStringLiteral("read-only")));
    // The band is painted in its warning colour across the window.
    RunUntilIdle();
    const QImage shot = form->grab().toImage();
    EXPECT_EQ(shot.pixelColor(band->mapTo(form, QPoint(2, band->height() / 2))), QColor(0xE0, 0xA0, 0x20));
    EXPECT_EQ(band->width(), form->centralWidget()->width() - 2 * form->centralWidget()->layout()->contentsMargins().left());
    const QString shots = qEnvironmentVariable("CALVORO_SCREENSHOT_DIR");
    if (!shots.isEmpty()) {
        EXPECT_TRUE(shot.save(shots + QStringLiteral("/readonly-session.png")));
    }

    test::TMessageBoxes boxes;
    form->mmoCustomQuery->SetText(QStringLiteral("SELECT name FROM items ORDER BY id"));
    Guarded([this] { form->btnExecuteClick(); })();
    RunUntilIdle();
    EXPECT_TRUE(boxes.Texts.isEmpty()) << boxes.Texts.join(u'|').toStdString();
    EXPECT_EQ(form->DBGridCustomQueryResults->Model().rowCount(), 2);

    const QString file = dir.filePath(QStringLiteral("backup.sql"));
    form->ChooseFile = [file](bool, const QString&, const QString&) { return file; };
    form->TntSpeedButton1->click();
    RunUntilIdle();
    ASSERT_EQ(boxes.Texts.size(), 1);
    EXPECT_EQ(boxes.Texts[0], QStringLiteral("Backup to %1 file completed successfully").arg(file));
    QFile written(file);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_TRUE(written.readAll().contains("INSERT INTO `items`"));

    // Disconnected and connected again without the option: no band, the usual caption.
    data->ToolsConnection->Disconnect();
    data->ToolsConnection->MyOptions().SetReadOnly(false);
    test::ConnectTools(*form, *data, Db);
    EXPECT_FALSE(form->windowTitle().contains(QStringLiteral("read-only")));
    EXPECT_FALSE(band->isVisible());
}
