#pragma once
// Import of a CSV file into the View Data table: the file, its character set, delimiter, NULL
// marker and header lines; a preview of the first records with the table column each field
// goes to; the load on a worker thread with progress and Stop; the report at the end.

#include "dataaccess/mysql/MySqlIdentifier.h"
#include "import/CsvReader.h"

#include <QDialog>

#include <atomic>
#include <memory>
#include <thread>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace calvoro::dac {
class TCustomMyConnection;
}
namespace calvoro::import {
class TCsvLoader;
}

namespace calvoro::app {

class TCsvImportDialog : public QDialog {
    Q_OBJECT
public:
    // The rows go to table over connection, which nothing else may use while the dialog is open.
    TCsvImportDialog(dac::TCustomMyConnection& connection, dac::TObjectName table, QWidget* parent = nullptr);
    ~TCsvImportDialog() override;

    // The format the controls describe.
    import::TCsvFormat Format() const;
    // The table columns chosen for the fields, in field order.
    QStringList MappedColumns() const;
    // Whether a load ran and committed rows (the caller refreshes its grid).
    bool RowsLoaded() const { return FRowsLoaded > 0; }

    QLineEdit* edtImportFile;
    QPushButton* btnImportBrowse;
    QComboBox* cbxImportCharset;
    QComboBox* cbxImportDelimiter;
    QCheckBox* chkImportNullMarker;
    QLineEdit* edtImportNullMarker;
    QSpinBox* spnImportSkip;
    QTableWidget* tblImportPreview;
    QLabel* lblImportStatus;
    QProgressBar* prgImport;
    QPushButton* btnImportStart;
    QPushButton* btnImportStop;
    QPushButton* btnImportClose;
    QPlainTextEdit* memImportReport;

    // Number of records the preview shows.
    static constexpr int PreviewRecords = 20;

public slots:
    void RefreshPreview();
    void btnImportStartClick();
    void btnImportStopClick();

protected:
    void reject() override;

private:
    void SetRunning(bool running);

    dac::TCustomMyConnection& FConnection;
    dac::TObjectName FTable;
    QStringList FTableColumns;
    std::unique_ptr<import::TCsvLoader> FLoader;
    std::thread FWorker;
    std::atomic<bool> FRunning{false};
    int64_t FRowsLoaded = 0;
};

}  // namespace calvoro::app
