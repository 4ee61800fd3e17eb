// Export and copy from the result grids against the test server, offscreen by objectName: the
// custom query's grid and View Data's write the exact values to a file on a worker, Stop
// leaves no file, and Copy puts the selected cells on the clipboard as TSV.
#include "app/Calvoro.h"
#include "app/DataUnit.h"
#include "app/SynEdit.h"
#include "app/TessrinUnit.h"
#include "app/export/ExportDialog.h"
#include "app/support/AppSession.h"
#include "app/toolkit.h"
#include "dataaccess/gui/DBGrid.h"
#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/support/MyTestConnection.h"
#include "support/QtPrinters.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace calvoro;
using namespace calvoro::app;
using calvoro::test::NewConnection;
using calvoro::test::RunUntilIdle;

namespace {

const QString Db = QStringLiteral("calvoro_export_gui");

class GridExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        admin = NewConnection();
        admin->Connect();
        admin->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS calvoro_export_gui"));
        admin->ExecSQL(QStringLiteral("CREATE DATABASE calvoro_export_gui"));
        for (const char* sql : {
                 "CREATE TABLE calvoro_export_gui.t (id INT PRIMARY KEY, s VARCHAR(100) CHARACTER SET utf8mb4, "
                 "d DECIMAL(30,10), b BLOB, big BIGINT UNSIGNED, dt DATETIME(3), f DOUBLE, tm TIME)",
                 "INSERT INTO calvoro_export_gui.t VALUES "
                 "(1, 'plain', 12.5, 0x000102FF00, 18446744073709551615, '2024-03-01 18:30:05.120', 0.1, '-838:59:59'), "
                 "(2, '', NULL, '', NULL, NULL, NULL, NULL), "
                 "(3, NULL, -0.0000000001, NULL, 9007199254740993, '2024-03-01', -1.5e-7, '12:00:00'), "
                 "(4, CONCAT('say \"hi\", a,b', CHAR(13), CHAR(10), 'next', CHAR(9), 'line\\\\ ', _utf8mb4 0xF09F9880), "
                 "99999999999999999999.9999999999, 0x00, 0, '9999-12-31 23:59:59.999', 1e300, '00:00:00')",
                 "CREATE TABLE calvoro_export_gui.many (id INT PRIMARY KEY, pad VARCHAR(50))",
                 "INSERT INTO calvoro_export_gui.many SELECT seq, REPEAT('x', 50) FROM calvoro_export_gui.seq_1_to_200000"})
            admin->ExecSQL(QString::fromUtf8(sql));
        program = test::StartProgram();
        form = program->MainForm.get();
        data = program->Data.get();
        test::ConnectTools(*form, *data, Db);
        ASSERT_TRUE(data->ToolsConnected());
    }
    void TearDown() override {
        program.reset();
        admin->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS calvoro_export_gui"));
    }

    void Query(const QString& sql) {
        form->TntPageControl1->setCurrentWidget(form->TntTabSheet5);
        form->mmoCustomQuery->SetText(sql);
        test::TMessageBoxes boxes;
        Guarded([this] { form->btnExecuteClick(); })();
        ASSERT_TRUE(boxes.Texts.isEmpty()) << boxes.Texts.join(u'\n').toStdString();
    }

    // Opens the grid's Export dialog through its action.
    TExportDialog* OpenExport(dac::TDBGrid* grid) {
        auto* action = grid->findChild<QAction*>(QStringLiteral("actExport"));
        EXPECT_NE(action, nullptr);
        if (!action) return nullptr;
        EXPECT_TRUE(grid->actions().contains(action));  // in the grid's context menu
        action->trigger();
        return form->findChild<TExportDialog*>(QStringLiteral("ExportDialog"));
    }

    // Chooses the format by its entry's text and writes the file; the status line after.
    QString Export(TExportDialog* dialog, const QString& format, const QString& path) {
        auto* formats = dialog->findChild<QComboBox*>(QStringLiteral("cbxExportFormat"));
        formats->setCurrentIndex(formats->findText(format, Qt::MatchStartsWith));
        dialog->findChild<QLineEdit*>(QStringLiteral("edtExportFile"))->setText(path);
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("btnExportStart")), Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog->Running(); }, 60000));
        return dialog->findChild<QLabel*>(QStringLiteral("lblExportStatus"))->text();
    }

    static QByteArray Read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(no file)");
    }

    std::unique_ptr<dac::TMyConnection> admin;
    std::unique_ptr<Program> program;
    TTessrinForm* form = nullptr;
    TData* data = nullptr;
    QTemporaryDir dir;
};

TEST_F(GridExportTest, CustomQueryResultToJsonCsvAndSql) {
    Query(QStringLiteral("SELECT * FROM t ORDER BY id"));
    TExportDialog* dialog = OpenExport(form->DBGridCustomQueryResults);
    ASSERT_NE(dialog, nullptr);

    const QString json = dir.filePath("t.json");
    EXPECT_EQ(Export(dialog, "JSON", json), QStringLiteral("4 rows written to %1.").arg(json));
    EXPECT_EQ(Read(json).toStdString(),
              "[\n"
              "{\"id\":1,\"s\":\"plain\",\"d\":\"12.5000000000\",\"b\":\"AAEC/wA=\",\"big\":\"18446744073709551615\","
              "\"dt\":\"2024-03-01 18:30:05.120\",\"f\":0.1,\"tm\":\"-838:59:59\"},\n"
              "{\"id\":2,\"s\":\"\",\"d\":null,\"b\":\"\",\"big\":null,\"dt\":null,\"f\":null,\"tm\":null},\n"
              "{\"id\":3,\"s\":null,\"d\":\"-0.0000000001\",\"b\":null,\"big\":\"9007199254740993\","
              "\"dt\":\"2024-03-01 00:00:00.000\",\"f\":-1.5e-7,\"tm\":\"12:00:00\"},\n"
              "{\"id\":4,\"s\":\"say \\\"hi\\\", a,b\\r\\nnext\\tline\\\\ 😀\",\"d\":\"99999999999999999999.9999999999\","
              "\"b\":\"AA==\",\"big\":0,\"dt\":\"9999-12-31 23:59:59.999\",\"f\":1e300,\"tm\":\"00:00:00\"}\n"
              "]\n");

    // The suffix follows the format; NULL marker and header row as chosen.
    dialog->findChild<QLineEdit*>(QStringLiteral("edtExportFile"))->setText(json);
    auto* formats = dialog->findChild<QComboBox*>(QStringLiteral("cbxExportFormat"));
    formats->setCurrentIndex(formats->findText("CSV", Qt::MatchStartsWith));
    EXPECT_EQ(dialog->findChild<QLineEdit*>(QStringLiteral("edtExportFile"))->text(), dir.filePath("t.csv"));
    dialog->findChild<QLineEdit*>(QStringLiteral("edtExportNull"))->setText(QStringLiteral("NULL"));
    dialog->findChild<QCheckBox*>(QStringLiteral("cbExportHeader"))->setChecked(false);
    const QString csv = dir.filePath("t.csv");
    EXPECT_EQ(Export(dialog, "CSV", csv), QStringLiteral("4 rows written to %1.").arg(csv));
    EXPECT_EQ(Read(csv).toStdString(),
              "1,plain,12.5000000000,0x000102FF00,18446744073709551615,2024-03-01 18:30:05.120,0.1,-838:59:59\r\n"
              "2,\"\",NULL,0x,NULL,NULL,NULL,NULL\r\n"
              "3,NULL,-0.0000000001,NULL,9007199254740993,2024-03-01 00:00:00.000,-1.5e-7,12:00:00\r\n"
              "4,\"say \"\"hi\"\", a,b\r\nnext\tline\\ 😀\",99999999999999999999.9999999999,0x00,0,"
              "9999-12-31 23:59:59.999,1e300,00:00:00\r\n");

    // INSERT statements into the result's table by default; they restore the same rows.
    EXPECT_EQ(dialog->findChild<QLineEdit*>(QStringLiteral("edtExportTable"))->text(), QStringLiteral("calvoro_export_gui.t"));
    dialog->findChild<QLineEdit*>(QStringLiteral("edtExportTable"))->setText(QStringLiteral("calvoro_export_gui.t2"));
    const QString sql = dir.filePath("t.sql");
    EXPECT_EQ(Export(dialog, "SQL", sql), QStringLiteral("4 rows written to %1.").arg(sql));
    admin->ExecSQL(QStringLiteral("CREATE TABLE calvoro_export_gui.t2 LIKE calvoro_export_gui.t"));
    admin->ExecSQL(QString::fromUtf8(Read(sql)));
    const QString columns = QStringLiteral("id, s, d, HEX(b), big, dt, f, tm");
    EXPECT_EQ(test::RowsText(*admin, QStringLiteral("SELECT %1 FROM calvoro_export_gui.t2 ORDER BY id").arg(columns)),
              test::RowsText(*admin, QStringLiteral("SELECT %1 FROM calvoro_export_gui.t ORDER BY id").arg(columns)));
    dialog->reject();
}

TEST_F(GridExportTest, ViewDataGridToCsvWithItsHeader) {
    RunUntilIdle();
    form->TntPageControl1->setCurrentWidget(form->TntTabSheet4);
    const int index = form->cbxTablesViews->findText(QStringLiteral("t"));
    ASSERT_GE(index, 0);
    form->cbxTablesViews->setCurrentIndex(index);
    emit form->cbxTablesViews->activated(index);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->TntDBGrid1->Model().rowCount() == 4; }, 30000));

    TExportDialog* dialog = OpenExport(form->TntDBGrid1);
    ASSERT_NE(dialog, nullptr);
    const QString csv = dir.filePath("view.csv");
    EXPECT_EQ(Export(dialog, "CSV", csv), QStringLiteral("4 rows written to %1.").arg(csv));
    const QByteArray text = Read(csv);
    EXPECT_TRUE(text.startsWith("id,s,d,b,big,dt,f,tm\r\n1,plain,12.5000000000,0x000102FF00,")) << text.toStdString();
    EXPECT_TRUE(text.contains("\r\n2,\"\",,0x,,,,\r\n")) << text.toStdString();
    dialog->reject();
}

TEST_F(GridExportTest, StopLeavesNoFileAndTheSessionIsBusyMeanwhile) {
    Query(QStringLiteral("SELECT * FROM many ORDER BY id"));
    ASSERT_EQ(form->DBGridCustomQueryResults->Model().rowCount(), 200000);
    TExportDialog* dialog = OpenExport(form->DBGridCustomQueryResults);
    ASSERT_NE(dialog, nullptr);
    const QString path = dir.filePath("many.csv");
    dialog->findChild<QLineEdit*>(QStringLiteral("edtExportFile"))->setText(path);
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("btnExportStart")), Qt::LeftButton);
    EXPECT_TRUE(dialog->Running());
    EXPECT_TRUE(data->Busy());  // nothing else starts on the connection
    auto* stop = dialog->findChild<QPushButton*>(QStringLiteral("btnExportStop"));
    EXPECT_TRUE(stop->isEnabled());
    QTest::mouseClick(stop, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->Running(); }, 60000));
    EXPECT_TRUE(dialog->findChild<QLabel*>(QStringLiteral("lblExportStatus"))->text().startsWith(QStringLiteral("Stopped after ")));
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(data->Busy());
    RunUntilIdle();
    EXPECT_TRUE(form->btnExecute->isEnabled());  // the window is free again

    // Run to the end, the progress bar at the last row.
    EXPECT_EQ(Export(dialog, "CSV", path), QStringLiteral("200000 rows written to %1.").arg(path));
    EXPECT_EQ(dialog->findChild<QProgressBar*>(QStringLiteral("pbExport"))->value(), 200000);
    EXPECT_EQ(Read(path).count('\n'), 200001);
    dialog->reject();
}

TEST_F(GridExportTest, CopyPutsTheSelectedCellsOnTheClipboardAsTsv) {
    Query(QStringLiteral("SELECT * FROM t ORDER BY id"));
    dac::TDBGrid* grid = form->DBGridCustomQueryResults;
    auto& model = grid->Model();
    grid->selectionModel()->select(QItemSelection(model.index(1, 1), model.index(3, 3)), QItemSelectionModel::ClearAndSelect);
    auto* copy = grid->findChild<QAction*>(QStringLiteral("actCopyCells"));
    ASSERT_NE(copy, nullptr);
    copy->trigger();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(),
              "\t\t0x\n"
              "\t-0.0000000001\t\n"
              "say \"hi\", a,b\\r\\nnext\\tline\\\\ 😀\t99999999999999999999.9999999999\t0x00\n");

    // Ctrl+C in the grid does the same; a single cell is its value alone.
    QApplication::clipboard()->clear();
    form->TntPageControl2->setCurrentWidget(form->TntTabSheetResult);
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    grid->setFocus();
    grid->selectionModel()->select(model.index(0, 4), QItemSelectionModel::ClearAndSelect);
    QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("18446744073709551615\n"));
}

}  // namespace
