#include "GridExport.h"

#include "ExportDialog.h"
#include "app/DataUnit.h"
#include "dataaccess/common/MemDS.h"
#include "dataaccess/gui/DBGrid.h"
#include "export/RecordRows.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>

#include <set>

namespace calvoro::app {

QByteArray SelectedCellsAsTsv(const dac::TDBGrid& grid) {
    dac::TMemDataSet* dataSet = grid.DataSet();
    if (!dataSet || !dataSet->Active()) return {};
    std::set<int> rows, columns;
    QModelIndexList cells = grid.selectionModel()->selectedIndexes();
    if (cells.isEmpty() && grid.currentIndex().isValid()) cells << grid.currentIndex();
    for (const QModelIndex& cell : cells) {
        rows.insert(cell.row());
        columns.insert(cell.column());
    }
    exporting::TRecordRowReader reader(*dataSet);
    std::vector<exporting::TExportColumn> chosen;
    for (const int c : columns) chosen.push_back(reader.Columns().at(size_t(c)));
    exporting::TExportOptions options;
    options.Format = exporting::TExportFormat::Tsv;
    options.Header = false;
    options.NullMarker = QString();
    QByteArray out;
    auto writer = exporting::NewExportWriter(options, [&](QByteArrayView bytes) { out += bytes; });
    writer->Begin(chosen);
    std::vector<exporting::TExportCell> cellsOfRow(chosen.size());
    for (const int r : rows) {
        const uint8_t* record = dataSet->ViewRecord(r + 1);
        if (!record) continue;
        const exporting::TExportRow all = reader.Read(record);
        size_t i = 0;
        for (const int c : columns) cellsOfRow[i++] = all[size_t(c)];
        writer->Row(cellsOfRow);
    }
    writer->End();
    return out;
}

void InstallGridExport(dac::TDBGrid* grid, std::function<TData*()> data) {
    grid->setSelectionBehavior(QAbstractItemView::SelectItems);
    grid->setSelectionMode(QAbstractItemView::ExtendedSelection);

    auto* exportAction = new QAction(QStringLiteral("Export..."), grid);
    exportAction->setObjectName(QStringLiteral("actExport"));
    grid->addAction(exportAction);
    QObject::connect(exportAction, &QAction::triggered, grid, [grid, data] {
        dac::TMemDataSet* dataSet = grid->DataSet();
        if (!dataSet || !dataSet->Active()) return;
        auto* dialog = new TExportDialog(*dataSet, data ? data() : nullptr, grid->window());
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        // The rows stay as they are while the dialog is open: the window waits for it.
        dialog->setWindowModality(Qt::WindowModal);
        dialog->show();
    });

    auto* copyAction = new QAction(QStringLiteral("Copy"), grid);
    copyAction->setObjectName(QStringLiteral("actCopyCells"));
    copyAction->setShortcut(QKeySequence::Copy);
    // Only the grid's own: an open cell editor copies its text.
    copyAction->setShortcutContext(Qt::WidgetShortcut);
    grid->addAction(copyAction);
    QObject::connect(copyAction, &QAction::triggered, grid, [grid] {
        QGuiApplication::clipboard()->setText(QString::fromUtf8(SelectedCellsAsTsv(*grid)));
    });
}

}  // namespace calvoro::app
