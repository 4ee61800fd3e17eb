#pragma once
// The Export dialog of a result grid: format, file, NULL marker, header row and (for INSERT
// statements) the table; Export writes the grid's rows on a worker thread with a progress bar
// and Stop, holding the tools session busy meanwhile so that nothing else runs on the
// connection or changes the rows.

#include "export/ExportWriters.h"

#include <QDialog>
#include <QPointer>

#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace calvoro::dac {
class TMemDataSet;
}

namespace calvoro::app {

class TData;
class TExportJob;

class TExportDialog : public QDialog {
    Q_OBJECT
public:
    // data: the session whose connection the rows belong to (may be null in tests of the
    // dialog alone).
    TExportDialog(dac::TMemDataSet& dataSet, TData* data, QWidget* parent = nullptr);
    ~TExportDialog() override;

    QComboBox* cbxExportFormat;
    QLineEdit* edtExportFile;
    QPushButton* btnExportBrowse;
    QLineEdit* edtExportNull;
    QCheckBox* cbExportHeader;
    QLineEdit* edtExportTable;
    QProgressBar* pbExport;
    QLabel* lblExportStatus;
    QPushButton* btnExportStart;
    QPushButton* btnExportStop;
    QPushButton* btnExportClose;

    bool Running() const { return bool(FJob); }
    // The options the controls say; raises EDatabaseError for a table name that does not parse.
    exporting::TExportOptions Options() const;

    void btnExportStartClick();
    void btnExportStopClick();
    void btnExportBrowseClick();

public slots:
    void reject() override;

private:
    exporting::TExportFormat Format() const;
    void FormatChanged();
    void Tick();
    void Finish();

    dac::TMemDataSet& FDataSet;
    QPointer<TData> FData;
    std::unique_ptr<TExportJob> FJob;
    struct TBusyHold;
    std::unique_ptr<TBusyHold> FBusy;
    QTimer* FTimer;
};

}  // namespace calvoro::app
