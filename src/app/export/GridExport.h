#pragma once
// The export actions of a result grid: "Export..." (objectName actExport) opens the Export
// dialog for the grid's rows, "Copy" (actCopyCells, Ctrl+C while the grid has the focus)
// puts the selected cells on the clipboard as TSV: the rows and columns the selection
// touches, without a header, NULL as an empty field, binary strings as 0x and hexadecimal.
// Both are in the grid's context menu; the grid lets several cells be selected.

#include <QByteArray>

#include <functional>

namespace calvoro::dac {
class TDBGrid;
}

namespace calvoro::app {

class TData;

// data: the session the grid's rows belong to, asked when an action runs.
void InstallGridExport(dac::TDBGrid* grid, std::function<TData*()> data);

// The selected cells of the grid as TSV (the current cell when none is selected).
QByteArray SelectedCellsAsTsv(const dac::TDBGrid& grid);

}  // namespace calvoro::app
