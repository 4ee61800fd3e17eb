#include "ExportDialog.h"

#include "ExportJob.h"
#include "app/DataUnit.h"
#include "common/Exceptions.h"
#include "dataaccess/common/MemDS.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace calvoro::app {

using exporting::TExportFormat;

struct TExportDialog::TBusyHold {
    explicit TBusyHold(TData& data) : Busy(data) {}
    TData::TBusy Busy;
};

namespace {

template <class W>
W* Named(W* widget, const char* name) {
    widget->setObjectName(QLatin1StringView(name));
    return widget;
}

}  // namespace

TExportDialog::TExportDialog(dac::TMemDataSet& dataSet, TData* data, QWidget* parent)
    : QDialog(parent), FDataSet(dataSet), FData(data), FTimer(new QTimer(this)) {
    setObjectName(QStringLiteral("ExportDialog"));
    setWindowTitle(QStringLiteral("Export"));

    cbxExportFormat = Named(new QComboBox(this), "cbxExportFormat");
    cbxExportFormat->addItem(QStringLiteral("CSV (comma-separated values)"), int(TExportFormat::Csv));
    cbxExportFormat->addItem(QStringLiteral("TSV (tab-separated values)"), int(TExportFormat::Tsv));
    cbxExportFormat->addItem(QStringLiteral("JSON (an array of objects)"), int(TExportFormat::Json));
    cbxExportFormat->addItem(QStringLiteral("SQL INSERT statements"), int(TExportFormat::Sql));
    edtExportFile = Named(new QLineEdit(this), "edtExportFile");
    btnExportBrowse = Named(new QPushButton(QStringLiteral("..."), this), "btnExportBrowse");
    btnExportBrowse->setAccessibleName(QStringLiteral("Browse for the file"));
    edtExportNull = Named(new QLineEdit(this), "edtExportNull");
    cbExportHeader = Named(new QCheckBox(QStringLiteral("&Header row with the column names"), this), "cbExportHeader");
    cbExportHeader->setChecked(true);
    edtExportTable = Named(new QLineEdit(this), "edtExportTable");
    edtExportTable->setText(dac::TypedObjectName(DefaultExportTable(dataSet)));
    pbExport = Named(new QProgressBar(this), "pbExport");
    pbExport->setAccessibleName(QStringLiteral("Export progress"));
    pbExport->setValue(0);
    lblExportStatus = Named(new QLabel(this), "lblExportStatus");
    lblExportStatus->setWordWrap(true);
    btnExportStart = Named(new QPushButton(QStringLiteral("&Export"), this), "btnExportStart");
    btnExportStart->setDefault(true);
    btnExportStop = Named(new QPushButton(QStringLiteral("&Stop"), this), "btnExportStop");
    btnExportStop->setEnabled(false);
    btnExportClose = Named(new QPushButton(QStringLiteral("&Close"), this), "btnExportClose");

    auto* form = new QFormLayout;
    auto label = [&](const QString& text, QWidget* buddy) {
        auto* l = new QLabel(text, this);
        l->setBuddy(buddy);
        return l;
    };
    form->addRow(label(QStringLiteral("&Format:"), cbxExportFormat), cbxExportFormat);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(edtExportFile, 1);
    fileRow->addWidget(btnExportBrowse);
    form->addRow(label(QStringLiteral("F&ile:"), edtExportFile), fileRow);
    form->addRow(label(QStringLiteral("&NULL as:"), edtExportNull), edtExportNull);
    form->addRow(QString(), cbExportHeader);
    form->addRow(label(QStringLiteral("&Table:"), edtExportTable), edtExportTable);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnExportStart);
    buttons->addWidget(btnExportStop);
    buttons->addWidget(btnExportClose);
    auto* page = new QVBoxLayout(this);
    page->addLayout(form);
    page->addWidget(pbExport);
    page->addWidget(lblExportStatus);
    page->addLayout(buttons);
    resize(520, sizeHint().height());

    connect(cbxExportFormat, &QComboBox::currentIndexChanged, this, [this] { FormatChanged(); });
    connect(btnExportBrowse, &QPushButton::clicked, this, [this] { btnExportBrowseClick(); });
    connect(btnExportStart, &QPushButton::clicked, this, [this] { btnExportStartClick(); });
    connect(btnExportStop, &QPushButton::clicked, this, [this] { btnExportStopClick(); });
    connect(btnExportClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(FTimer, &QTimer::timeout, this, [this] { Tick(); });
    FTimer->setInterval(100);
    FormatChanged();
}

TExportDialog::~TExportDialog() {
    FJob.reset();  // stops and waits
}

TExportFormat TExportDialog::Format() const { return TExportFormat(cbxExportFormat->currentData().toInt()); }

void TExportDialog::FormatChanged() {
    const TExportFormat format = Format();
    const bool text = format == TExportFormat::Csv || format == TExportFormat::Tsv;
    edtExportNull->setEnabled(text);
    edtExportNull->setPlaceholderText(format == TExportFormat::Tsv ? QStringLiteral("\\N") : QStringLiteral("an empty field"));
    cbExportHeader->setEnabled(text);
    edtExportTable->setEnabled(format == TExportFormat::Sql);
    // A file name with another format's suffix takes this one's.
    const QString path = edtExportFile->text();
    const QFileInfo info(path);
    if (!path.isEmpty() && exporting::ExportFormatByName(info.suffix()))
        edtExportFile->setText(path.left(path.size() - info.suffix().size()) + exporting::ExportFormatSuffix(format));
}

exporting::TExportOptions TExportDialog::Options() const {
    exporting::TExportOptions o;
    o.Format = Format();
    o.Header = cbExportHeader->isChecked();
    if (!edtExportNull->text().isEmpty()) o.NullMarker = edtExportNull->text();
    if (o.Format == TExportFormat::Sql && !edtExportTable->text().trimmed().isEmpty())
        o.Table = dac::ParseObjectName(edtExportTable->text());
    o.RowsPerStatement = 100;
    return o;
}

void TExportDialog::btnExportBrowseClick() {
    const QString suffix = exporting::ExportFormatSuffix(Format());
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Export to"), edtExportFile->text(),
        QStringLiteral("%1 files (*.%2);;All files (*)").arg(suffix.toUpper(), suffix));
    if (!path.isEmpty()) edtExportFile->setText(path);
}

void TExportDialog::btnExportStartClick() {
    if (FJob) return;
    const QString path = edtExportFile->text().trimmed();
    auto refuse = [&](const QString& why) { lblExportStatus->setText(why); };
    if (path.isEmpty()) return refuse(QStringLiteral("Choose the file to write the rows to."));
    if (FData && FData->Busy())
        return refuse(QStringLiteral("The connection is busy: export when the work under way has ended."));
    if (!FDataSet.Active()) return refuse(QStringLiteral("The grid holds no rows to export."));
    if (FDataSet.State() != dac::dsBrowse)
        return refuse(QStringLiteral("Save or cancel the row being edited, then export."));
    exporting::TExportOptions options;
    try {
        options = Options();
    } catch (const Exception& e) {
        return refuse(QStringLiteral("Table: %1").arg(e.Message()));
    }
    if (options.Format == TExportFormat::Sql && options.Table.Name.isEmpty())
        return refuse(QStringLiteral("Give the table the INSERT statements write into."));

    if (FData) FBusy = std::make_unique<TBusyHold>(*FData);
    FJob = std::make_unique<TExportJob>(FDataSet, options, path);
    pbExport->setRange(0, int(std::min<qint64>(FJob->RowCount(), INT_MAX)));
    pbExport->setValue(0);
    lblExportStatus->setText(QStringLiteral("Exporting %1 rows…").arg(FJob->RowCount()));
    for (QWidget* w : std::initializer_list<QWidget*>{cbxExportFormat, edtExportFile, btnExportBrowse, edtExportNull,
                                                     cbExportHeader, edtExportTable, btnExportStart, btnExportClose})
        w->setEnabled(false);
    btnExportStop->setEnabled(true);
    FJob->Start();
    FTimer->start();
}

void TExportDialog::btnExportStopClick() {
    if (FJob) FJob->Stop();
}

void TExportDialog::Tick() {
    if (!FJob) return;
    pbExport->setValue(int(std::min<qint64>(FJob->RowsWritten(), INT_MAX)));
    if (FJob->Finished()) Finish();
}

void TExportDialog::Finish() {
    FTimer->stop();
    FJob->Wait();
    const std::unique_ptr<TExportJob> job = std::move(FJob);
    FBusy.reset();
    if (!job->Error().isEmpty())
        lblExportStatus->setText(QStringLiteral("The export failed: %1").arg(job->Error()));
    else if (job->Stopped())
        lblExportStatus->setText(QStringLiteral("Stopped after %1 of %2 rows; no file was written.")
                                     .arg(job->RowsWritten())
                                     .arg(job->RowCount()));
    else
        lblExportStatus->setText(QStringLiteral("%1 rows written to %2.").arg(job->RowsWritten()).arg(edtExportFile->text()));
    btnExportStop->setEnabled(false);
    for (QWidget* w : std::initializer_list<QWidget*>{cbxExportFormat, edtExportFile, btnExportBrowse, btnExportStart,
                                                     btnExportClose})
        w->setEnabled(true);
    FormatChanged();
}

void TExportDialog::reject() {
    // Closing while rows are written stops the writing first.
    if (FJob) {
        FJob->Stop();
        FJob->Wait();
        Finish();
    }
    QDialog::reject();
}

}  // namespace calvoro::app
