#include "CsvImportDialog.h"

#include "app/toolkit.h"
#include "import/CsvLoader.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace calvoro::app {

namespace {

const char* const kDelimiters[][2] = {{",", ","}, {";", ";"}, {"Tab", "\t"}, {"|", "|"}};

}  // namespace

TCsvImportDialog::TCsvImportDialog(dac::TCustomMyConnection& connection, dac::TObjectName table, QWidget* parent)
    : QDialog(parent), FConnection(connection), FTable(std::move(table)) {
    setObjectName(QStringLiteral("CsvImportDialog"));
    setWindowTitle(QStringLiteral("Import CSV into %1").arg(dac::TypedObjectName(FTable)));
    resize(820, 600);

    edtImportFile = Make<QLineEdit>("edtImportFile", this);
    btnImportBrowse = Make<QPushButton>("btnImportBrowse", QStringLiteral("&Browse..."), this);
    cbxImportCharset = Make<QComboBox>("cbxImportCharset", this);
    cbxImportCharset->addItem(QStringLiteral("UTF-8 (byte-order mark dropped)"), int(import::ceUtf8));
    cbxImportCharset->addItem(QStringLiteral("Windows-1252"), int(import::ceWindows1252));
    cbxImportDelimiter = Make<QComboBox>("cbxImportDelimiter", this);
    for (const auto& [label, value] : kDelimiters) cbxImportDelimiter->addItem(QLatin1String(label), QLatin1String(value));
    chkImportNullMarker = Make<QCheckBox>("chkImportNullMarker", QStringLiteral("Unquoted &NULL marker:"), this);
    chkImportNullMarker->setChecked(true);
    edtImportNullMarker = Make<QLineEdit>("edtImportNullMarker", QStringLiteral("\\N"), this);
    edtImportNullMarker->setAccessibleName(QStringLiteral("NULL marker"));
    spnImportSkip = Make<QSpinBox>("spnImportSkip", this);
    spnImportSkip->setRange(0, 1000);
    tblImportPreview = Make<QTableWidget>("tblImportPreview", this);
    tblImportPreview->setAccessibleName(QStringLiteral("Preview and column mapping"));
    tblImportPreview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lblImportStatus = Make<QLabel>("lblImportStatus", this);
    lblImportStatus->setWordWrap(true);
    prgImport = Make<QProgressBar>("prgImport", this);
    prgImport->setAccessibleName(QStringLiteral("Import progress"));
    btnImportStart = Make<QPushButton>("btnImportStart", QStringLiteral("&Import"), this);
    btnImportStop = Make<QPushButton>("btnImportStop", QStringLiteral("&Stop"), this);
    btnImportClose = Make<QPushButton>("btnImportClose", QStringLiteral("Close"), this);
    memImportReport = Make<QPlainTextEdit>("memImportReport", this);
    memImportReport->setReadOnly(true);
    memImportReport->setAccessibleName(QStringLiteral("Import report"));
    memImportReport->setMaximumBlockCount(100000);

    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(edtImportFile, 1);
    fileRow->addWidget(btnImportBrowse);
    auto* nullRow = new QHBoxLayout;
    nullRow->addWidget(chkImportNullMarker);
    nullRow->addWidget(edtImportNullMarker, 1);
    auto* form = new QFormLayout;
    auto* fileLabel = new QLabel(QStringLiteral("&File:"), this);
    fileLabel->setBuddy(edtImportFile);
    form->addRow(fileLabel, fileRow);
    auto* charsetLabel = new QLabel(QStringLiteral("&Character set:"), this);
    charsetLabel->setBuddy(cbxImportCharset);
    form->addRow(charsetLabel, cbxImportCharset);
    auto* delimiterLabel = new QLabel(QStringLiteral("&Delimiter:"), this);
    delimiterLabel->setBuddy(cbxImportDelimiter);
    form->addRow(delimiterLabel, cbxImportDelimiter);
    form->addRow(nullRow);
    auto* skipLabel = new QLabel(QStringLiteral("&Header lines to skip:"), this);
    skipLabel->setBuddy(spnImportSkip);
    form->addRow(skipLabel, spnImportSkip);
    auto* previewLabel = new QLabel(QStringLiteral("&Preview (first row: the column each field goes to):"), this);
    previewLabel->setBuddy(tblImportPreview);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(prgImport, 1);
    buttons->addWidget(btnImportStart);
    buttons->addWidget(btnImportStop);
    buttons->addWidget(btnImportClose);
    auto* page = new QVBoxLayout(this);
    page->addLayout(form);
    page->addWidget(previewLabel);
    page->addWidget(tblImportPreview, 2);
    page->addWidget(lblImportStatus);
    page->addLayout(buttons);
    page->addWidget(memImportReport, 1);
    btnImportStop->setEnabled(false);

    connect(btnImportBrowse, &QPushButton::clicked, this, [this] {
        const QString name = QFileDialog::getOpenFileName(this, QStringLiteral("CSV file"), edtImportFile->text(),
                                                          QStringLiteral("CSV files (*.csv *.txt);;All files (*)"));
        if (!name.isEmpty()) edtImportFile->setText(name);
        RefreshPreview();
    });
    connect(edtImportFile, &QLineEdit::editingFinished, this, &TCsvImportDialog::RefreshPreview);
    connect(cbxImportCharset, &QComboBox::currentIndexChanged, this, &TCsvImportDialog::RefreshPreview);
    connect(cbxImportDelimiter, &QComboBox::currentIndexChanged, this, &TCsvImportDialog::RefreshPreview);
    connect(chkImportNullMarker, &QCheckBox::toggled, this, &TCsvImportDialog::RefreshPreview);
    connect(chkImportNullMarker, &QCheckBox::toggled, edtImportNullMarker, &QLineEdit::setEnabled);
    connect(edtImportNullMarker, &QLineEdit::editingFinished, this, &TCsvImportDialog::RefreshPreview);
    connect(spnImportSkip, &QSpinBox::valueChanged, this, &TCsvImportDialog::RefreshPreview);
    connect(btnImportStart, &QPushButton::clicked, this, &TCsvImportDialog::btnImportStartClick);
    connect(btnImportStop, &QPushButton::clicked, this, &TCsvImportDialog::btnImportStopClick);
    connect(btnImportClose, &QPushButton::clicked, this, &TCsvImportDialog::reject);

    try {
        FTableColumns = import::TCsvLoader(FConnection, FTable, {}, {}).Columns();
    } catch (const std::exception& e) {
        lblImportStatus->setText(QStringLiteral("The table's columns cannot be read: %1")
                                     .arg(QString::fromUtf8(e.what()).trimmed()));
    }
    RefreshPreview();
}

TCsvImportDialog::~TCsvImportDialog() {
    if (FWorker.joinable()) {
        if (FLoader) FLoader->Stop();
        FWorker.join();
    }
}

import::TCsvFormat TCsvImportDialog::Format() const {
    import::TCsvFormat format;
    format.Encoding = import::TCsvEncoding(cbxImportCharset->currentData().toInt());
    format.Delimiter = cbxImportDelimiter->currentData().toString().toLatin1().at(0);
    if (chkImportNullMarker->isChecked()) format.NullMarker = edtImportNullMarker->text().isNull() ? QStringLiteral("") : edtImportNullMarker->text();
    format.SkipRecords = spnImportSkip->value();
    return format;
}

QStringList TCsvImportDialog::MappedColumns() const {
    QStringList columns;
    for (int c = 0; c < tblImportPreview->columnCount(); ++c)
        if (auto* box = qobject_cast<QComboBox*>(tblImportPreview->cellWidget(0, c))) columns << box->currentText();
    return columns;
}

// The first records as the load will read them; the first row holds a choice of column per
// field, the table's columns in order at first.
void TCsvImportDialog::RefreshPreview() {
    tblImportPreview->clear();
    tblImportPreview->setRowCount(0);
    tblImportPreview->setColumnCount(0);
    btnImportStart->setEnabled(false);
    if (edtImportFile->text().isEmpty()) {
        lblImportStatus->setText(QStringLiteral("Choose the CSV file to load."));
        return;
    }
    QFile file(edtImportFile->text());
    if (!file.open(QIODevice::ReadOnly)) {
        lblImportStatus->setText(QStringLiteral("Cannot open %1: %2").arg(file.fileName(), file.errorString()));
        return;
    }
    import::TCsvReader reader(Format());
    std::vector<import::TCsvRecord> records;
    import::TCsvRecord record;
    while (int(records.size()) < PreviewRecords) {
        const QByteArray block = file.read(64 * 1024);
        if (block.isEmpty()) reader.Finish();
        else reader.Feed(block);
        while (int(records.size()) < PreviewRecords && reader.Next(record)) records.push_back(record);
        if (block.isEmpty()) break;
    }
    size_t fields = 0;
    for (const auto& r : records) fields = std::max(fields, r.Fields.size());
    tblImportPreview->setColumnCount(int(fields));
    tblImportPreview->setRowCount(int(records.size()) + 1);
    QStringList lines{QStringLiteral("Column")};
    for (int c = 0; c < int(fields); ++c) {
        auto* box = new QComboBox(tblImportPreview);
        box->setObjectName(QStringLiteral("cbxImportColumn%1").arg(c + 1));
        box->setAccessibleName(QStringLiteral("Column for field %1").arg(c + 1));
        box->addItems(FTableColumns);
        if (c < FTableColumns.size()) box->setCurrentIndex(c);
        tblImportPreview->setCellWidget(0, c, box);
        tblImportPreview->setHorizontalHeaderItem(c, new QTableWidgetItem(QStringLiteral("Field %1").arg(c + 1)));
    }
    for (int r = 0; r < int(records.size()); ++r) {
        lines << QStringLiteral("Line %1").arg(records[size_t(r)].Line);
        if (!records[size_t(r)].Error.isEmpty()) {
            auto* item = new QTableWidgetItem(records[size_t(r)].Error);
            item->setForeground(Qt::red);
            tblImportPreview->setItem(r + 1, 0, item);
            continue;
        }
        for (int c = 0; c < int(records[size_t(r)].Fields.size()); ++c) {
            const auto& value = records[size_t(r)].Fields[size_t(c)];
            auto* item = new QTableWidgetItem(value ? *value : QStringLiteral("NULL"));
            if (!value) item->setForeground(Qt::gray);
            tblImportPreview->setItem(r + 1, c, item);
        }
    }
    tblImportPreview->setVerticalHeaderLabels(lines);
    tblImportPreview->resizeColumnsToContents();
    if (fields == 0) {
        lblImportStatus->setText(QStringLiteral("The file holds no records."));
        return;
    }
    lblImportStatus->setText(QStringLiteral("%1 fields per record in the preview; the table has %2 columns.")
                                 .arg(fields)
                                 .arg(FTableColumns.size()));
    btnImportStart->setEnabled(!FTableColumns.isEmpty());
}

void TCsvImportDialog::SetRunning(bool running) {
    FRunning = running;
    for (QWidget* w : std::initializer_list<QWidget*>{edtImportFile, btnImportBrowse, cbxImportCharset, cbxImportDelimiter,
                                                      chkImportNullMarker, edtImportNullMarker, spnImportSkip,
                                                      tblImportPreview, btnImportStart, btnImportClose})
        w->setEnabled(!running);
    btnImportStop->setEnabled(running);
}

// The load runs on a worker thread while this dialog goes on; it reports progress and, at the
// end, the report back to the window's thread.
void TCsvImportDialog::btnImportStartClick() {
    const QStringList columns = MappedColumns();
    if (QStringList distinct = columns; distinct.removeDuplicates() > 0) {
        lblImportStatus->setText(QStringLiteral("Two fields go to the same column: choose another column for one."));
        return;
    }
    auto file = std::make_shared<QFile>(edtImportFile->text());
    if (!file->open(QIODevice::ReadOnly)) {
        lblImportStatus->setText(QStringLiteral("Cannot open %1: %2").arg(file->fileName(), file->errorString()));
        return;
    }
    const qint64 total = file->size();
    memImportReport->clear();
    prgImport->setRange(0, 1000);
    prgImport->setValue(0);
    FLoader = std::make_unique<import::TCsvLoader>(FConnection, FTable, columns, Format());
    SetRunning(true);
    lblImportStatus->setText(QStringLiteral("Loading..."));
    QPointer<TCsvImportDialog> self(this);
    QEventLoop wait;
    import::TImportReport report;
    QString error;
    FWorker = std::thread([&, file, total] {
        try {
            report = FLoader->Load(*file, [&](const import::TImportProgress& p) {
                QMetaObject::invokeMethod(this, [this, p, total] {
                    prgImport->setValue(total > 0 ? int(p.BytesRead * 1000 / total) : 0);
                    lblImportStatus->setText(QStringLiteral("%1 rows loaded, %2 refused...").arg(p.RowsLoaded).arg(p.RowsRefused));
                });
            });
        } catch (const std::exception& e) {
            error = QString::fromUtf8(e.what()).trimmed();
        }
        QMetaObject::invokeMethod(&wait, "quit", Qt::QueuedConnection);
    });
    wait.exec();
    FWorker.join();
    SetRunning(false);
    if (!error.isEmpty()) {
        lblImportStatus->setText(QStringLiteral("Nothing was loaded: %1").arg(error));
        return;
    }
    FRowsLoaded += report.RowsLoaded;
    prgImport->setValue(report.Failure.isEmpty() && !report.Stopped ? 1000 : prgImport->value());
    lblImportStatus->setText(report.Summary());
    QString text;
    for (const import::TRefusedRow& row : report.Refused)
        text += QStringLiteral("line %1: %2\n").arg(row.Line).arg(row.Reason);
    memImportReport->setPlainText(report.Summary() + QStringLiteral("\n") + text);
}

void TCsvImportDialog::btnImportStopClick() {
    if (FLoader) FLoader->Stop();
    btnImportStop->setEnabled(false);
}

void TCsvImportDialog::reject() {
    if (FRunning) return;  // Stop first: the load must say what it committed
    QDialog::reject();
}

}  // namespace calvoro::app
