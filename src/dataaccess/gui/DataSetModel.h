#pragma once
// A table model over a data set: rows are the data set's rows (a row being inserted counts as
// one at its place), columns its fields. Cells are read straight from the record store, row by
// row number, so a view of a million rows costs only the cells it shows. Edits go through the
// data set's Edit and Post.
//
// What a cell shows: NULL as NullText (grey, italic), apart from the empty string; bytes as
// hex ("0x…"), never as text; text and hex cut to the field's DisplayWidth characters with "…"
// after them, line breaks as "↵". A cut value comes whole (up to a limit) as the tool tip; the
// editor always gets the whole text.

#include "dataaccess/common/MemDS.h"

#include <QAbstractTableModel>
#include <QString>

#include <functional>

namespace calvoro::dac {

class TDataSetModel : public QAbstractTableModel {
    Q_OBJECT

public:
    // True for a NULL cell (its display text is NullText).
    static constexpr int IsNullRole = Qt::UserRole + 1;
    static const QString NullText;
    // Longest tool tips: characters of text, bytes of binary values.
    static constexpr int MaxTipChars = 4000;
    static constexpr int MaxTipBytes = 1000;

    explicit TDataSetModel(QObject* parent = nullptr);
    ~TDataSetModel() override;

    TMemDataSet* DataSet() const { return FDataSet; }
    // Follows the data set's changes until another one (or none) is set.
    void SetDataSet(TMemDataSet* dataSet);
    // An edit of a row in browse state is posted at once (on); off leaves it for Post.
    bool AutoPost() const { return FAutoPost; }
    void SetAutoPost(bool value) { FAutoPost = value; }
    // Asked before the model edits, posts or leaves a row being edited, all of which may run
    // statements on the data set's connection; false refuses quietly (the data set stays as it
    // is). For a connection that is busy with something else.
    std::function<bool()> OnAllowChange;

    // The view row of the data set's current row (-1 without one).
    int CurrentRow() const;
    // Makes the row current; a pending edit of another row is posted first (false, with the
    // error reported, when that fails).
    bool MoveTo(int row);
    // Whether the cell's field can be written (also a binary one, which is not edited as text
    // but can be set to NULL).
    bool CanWriteCell(const QModelIndex& index) const;
    // Sets the cell to NULL (as setData with an invalid value).
    bool SetNull(const QModelIndex& index) { return setData(index, QVariant(), Qt::EditRole); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Writes the cell: an invalid value sets NULL, any other its text ('' stays '').
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // The text a cell shows (also without a view).
    QString CellText(int row, int column) const;
    // The field of a column (nil outside the columns).
    const TField* FieldAt(int column) const;

signals:
    // An edit, post or move failed; the data set keeps its state (an edit stays open).
    void errorOccurred(const QString& message);

private:
    void DataSetChanged(TDataEvent event);
    void Reset();
    bool Allowed() const { return !OnAllowChange || OnAllowChange(); }
    // Display text and tool tip of a non-NULL value (the tip empty when the text shows it all).
    void Describe(const TField& field, const uint8_t* record, QString& text, QString& tip) const;

    TMemDataSet* FDataSet = nullptr;
    int FListener = 0;
    int FRows = 0;
    int FColumns = 0;
    bool FAutoPost = true;
};

}  // namespace calvoro::dac
