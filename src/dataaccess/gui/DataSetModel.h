#pragma once
// A table model over a data set: rows are the data set's rows (a row being inserted counts as
// one at its place), columns its fields. Cells are read straight from the record store, row by
// row number, so a view of a million rows costs only the cells it shows. Edits go through the
// data set's Edit and Post; NULL shows apart from the empty string; binary values show as hex
// or a size, never as text.

#include "dataaccess/common/MemDS.h"

#include <QAbstractTableModel>
#include <QString>

namespace calvoro::dac {

class TDataSetModel : public QAbstractTableModel {
    Q_OBJECT

public:
    // True for a NULL cell (its display text is NullText).
    static constexpr int IsNullRole = Qt::UserRole + 1;
    static const QString NullText;

    explicit TDataSetModel(QObject* parent = nullptr);
    ~TDataSetModel() override;

    TMemDataSet* DataSet() const { return FDataSet; }
    // Follows the data set's changes until another one (or none) is set.
    void SetDataSet(TMemDataSet* dataSet);
    // An edit of a row in browse state is posted at once (on); off leaves it for Post.
    bool AutoPost() const { return FAutoPost; }
    void SetAutoPost(bool value) { FAutoPost = value; }

    // The view row of the data set's current row (-1 without one).
    int CurrentRow() const;
    // Makes the row current; a pending edit of another row is posted first (false, with the
    // error reported, when that fails).
    bool MoveTo(int row);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Writes the cell: an invalid value sets NULL, any other its text ('' stays '').
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // The text a cell shows (also without a view).
    QString CellText(int row, int column) const;

signals:
    // An edit, post or move failed; the data set keeps its state (an edit stays open).
    void errorOccurred(const QString& message);

private:
    void DataSetChanged(TDataEvent event);
    void Reset();
    const TField* FieldAt(int column) const;

    TMemDataSet* FDataSet = nullptr;
    int FListener = 0;
    int FRows = 0;
    int FColumns = 0;
    bool FAutoPost = true;
};

}  // namespace calvoro::dac
