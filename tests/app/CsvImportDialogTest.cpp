// The CSV import dialog against the test server: the preview follows the delimiter, NULL
// marker and header choices; the fields are mapped to columns in another order; the load's
// rows are checked on the server and the refused lines are in the report.
#include "app/import/CsvImportDialog.h"
#include "dataaccess/support/MyTestConnection.h"
#include "support/QtPrinters.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryFile>

#include <gtest/gtest.h>

using namespace calvoro;

namespace {

const QString Db = QStringLiteral("calvoro_csv_dialog");

TEST(CsvImportDialog, PreviewMappingAndLoad) {
    auto c = test::NewConnection();
    c->Connect();
    c->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(Db));
    c->ExecSQL(QStringLiteral("CREATE DATABASE %1 CHARACTER SET utf8mb4").arg(Db));
    c->ExecSQL(QStringLiteral("CREATE TABLE %1.people (id INT PRIMARY KEY, name VARCHAR(30), note TEXT)").arg(Db));
    c->SetDatabase(Db);

    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    file.write("name;id;note\r\n\"Ann; the first\";1;\\N\r\n\"Bo\r\nb\";2;\"x\"\"y\"\r\nCy;1;dup\r\nDee;4\r\n");
    file.close();

    app::TCsvImportDialog dialog(*c, {QString(), QStringLiteral("people")});
    EXPECT_FALSE(dialog.btnImportStart->isEnabled());
    dialog.edtImportFile->setText(file.fileName());
    dialog.RefreshPreview();
    // With the default comma every line is one field.
    EXPECT_EQ(dialog.tblImportPreview->columnCount(), 1);
    dialog.cbxImportDelimiter->setCurrentIndex(dialog.cbxImportDelimiter->findText(QStringLiteral(";")));
    dialog.spnImportSkip->setValue(1);
    ASSERT_EQ(dialog.tblImportPreview->columnCount(), 3);
    EXPECT_EQ(dialog.tblImportPreview->rowCount(), 5);  // the mapping row and four records
    EXPECT_EQ(dialog.tblImportPreview->item(1, 0)->text(), QStringLiteral("Ann; the first"));
    EXPECT_EQ(dialog.tblImportPreview->item(1, 2)->text(), QStringLiteral("NULL"));
    EXPECT_EQ(dialog.tblImportPreview->item(2, 0)->text(), QStringLiteral("Bo\r\nb"));
    EXPECT_EQ(dialog.tblImportPreview->verticalHeaderItem(3)->text(), QStringLiteral("Line 5"));
    EXPECT_EQ(dialog.MappedColumns(), (QStringList{"id", "name", "note"}));

    // Two fields on one column are refused before anything is sent.
    // The mapping row's boxes (those of earlier previews may still wait for their deletion).
    auto* first = qobject_cast<QComboBox*>(dialog.tblImportPreview->cellWidget(0, 0));
    auto* second = qobject_cast<QComboBox*>(dialog.tblImportPreview->cellWidget(0, 1));
    ASSERT_TRUE(first && second);
    first->setCurrentText(QStringLiteral("name"));
    dialog.btnImportStart->click();
    EXPECT_TRUE(dialog.lblImportStatus->text().startsWith(QStringLiteral("Two fields go to the same column")));
    EXPECT_EQ(*test::FirstValue(*c, QStringLiteral("SELECT COUNT(*) FROM people")), QStringLiteral("0"));

    second->setCurrentText(QStringLiteral("id"));
    dialog.btnImportStart->click();
    EXPECT_TRUE(dialog.RowsLoaded());
    EXPECT_EQ(dialog.lblImportStatus->text(), QStringLiteral("2 rows loaded, 2 refused."));
    EXPECT_EQ(dialog.memImportReport->toPlainText(),
              QStringLiteral("2 rows loaded, 2 refused.\nline 5: Duplicate entry '1' for key 'PRIMARY'\n"
                             "line 6: 2 fields where 3 columns are loaded\n"));
    EXPECT_EQ(test::RowsText(*c, QStringLiteral("SELECT id, name, IFNULL(note, 'NULL'), HEX(name) FROM people ORDER BY id")),
              QStringLiteral("1,Ann; the first,NULL,416E6E3B20746865206669727374|2,Bo\r\nb,x\"y,426F0D0A62"));
    EXPECT_TRUE(dialog.btnImportStart->isEnabled());
    EXPECT_FALSE(dialog.btnImportStop->isEnabled());
    if (const QString dir = qEnvironmentVariable("CALVORO_SCREENSHOT_DIR"); !dir.isEmpty()) {
        dialog.show();
        EXPECT_TRUE(dialog.grab().save(dir + QStringLiteral("/csv-import-dialog.png")));
    }
    c->ExecSQL(QStringLiteral("DROP DATABASE %1").arg(Db));
}

}  // namespace
