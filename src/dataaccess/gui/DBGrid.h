#pragma once
// A table view bound to a data set through a TDataSetModel: the view's current row and the data
// set's current row follow each other; leaving a row that is being edited posts it first (a
// failed post keeps the row and its edit).
//
// Cells are edited in place with the whole text (several lines in a taller editor); an editor
// left without a change writes nothing, so a NULL stays NULL. "Set to NULL" (context menu,
// Ctrl+0) writes NULL into the current cell; Escape outside an editor cancels the row's edit.
// Columns are as wide as their fields' DisplayWidth; a cut value shows whole as a tool tip.

#include "DataSetModel.h"

#include <QTableView>

class QAction;

namespace calvoro::dac {

class TDBGrid : public QTableView {
    Q_OBJECT

public:
    // Widest column, in characters.
    static constexpr int MaxColumnChars = 40;

    explicit TDBGrid(QWidget* parent = nullptr);
    ~TDBGrid() override;

    TDataSetModel& Model() const { return *FModel; }
    TMemDataSet* DataSet() const { return FModel->DataSet(); }
    void SetDataSet(TMemDataSet* dataSet);

    // The "Set to NULL" action (objectName actSetNull, shortcut Ctrl+0), in the context menu
    // with every other action added to the grid.
    QAction* SetNullAction() const { return FSetNull; }
    // Sets the current cell to NULL, dropping an editor open on it; false when the cell cannot
    // be written or the write failed (reported through errorOccurred).
    bool SetCurrentCellNull();
    // Sizes the columns after their fields' DisplayWidth (the grid does so whenever the fields
    // change; again after the widths were changed).
    void SizeColumns();

signals:
    void errorOccurred(const QString& message);

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Puts the view's current cell on the data set's current row.
    void FollowDataSet();

    TDataSetModel* FModel;
    QAction* FSetNull;
    QStringList FSizedFields;  // the fields the columns were last sized for
    int FListener = 0;
    bool FFollowing = false;
};

}  // namespace calvoro::dac
