#include "DataSetModel.h"

#include "common/Exceptions.h"

#include <QBrush>
#include <QFont>
#include <QPalette>

namespace calvoro::dac {

namespace {

bool IsNumeric(TDataType t) {
    switch (t) {
        case dtInt8: case dtSmallint: case dtWord: case dtInteger: case dtUInt32: case dtLargeint: case dtFloat:
        case dtCurrency: case dtBCD: case dtFMTBCD:
            return true;
        default:
            return false;
    }
}

// Kinds whose text is never cut: a number or a date cut short would read as another value.
bool ShowsWhole(TDataType t) {
    return IsNumeric(t) || t == dtBoolean || t == dtDate || t == dtTime || t == dtDateTime;
}

// Line breaks as one visible mark each, so that a row keeps one line.
QString OneLine(QString text) {
    if (!text.contains(u'\n') && !text.contains(u'\r')) return text;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("↵"));
    text.replace(u'\n', u'↵');
    text.replace(u'\r', u'↵');
    return text;
}

QString ExceptionText(const std::exception& e) {
    if (auto* ours = dynamic_cast<const Exception*>(&e)) return ours->Message();
    return QString::fromUtf8(e.what());
}

}  // namespace

const QString TDataSetModel::NullText = QStringLiteral("(NULL)");

TDataSetModel::TDataSetModel(QObject* parent) : QAbstractTableModel(parent) {}

TDataSetModel::~TDataSetModel() { SetDataSet(nullptr); }

void TDataSetModel::SetDataSet(TMemDataSet* dataSet) {
    if (dataSet == FDataSet) return;
    if (FDataSet) FDataSet->RemoveDataListener(FListener);
    FDataSet = dataSet;
    if (FDataSet) FListener = FDataSet->AddDataListener([this](TDataEvent event) { DataSetChanged(event); });
    Reset();
}

void TDataSetModel::Reset() {
    beginResetModel();
    FRows = FDataSet ? FDataSet->ViewRowCount() : 0;
    FColumns = FDataSet && FDataSet->Active() ? FDataSet->FieldCount() : 0;
    endResetModel();
}

void TDataSetModel::DataSetChanged(TDataEvent event) {
    if (event == deDataSetScroll) return;
    if (event == deDestroying) {
        FDataSet = nullptr;
        return Reset();
    }
    const int rows = FDataSet->ViewRowCount();
    const int columns = FDataSet->Active() ? FDataSet->FieldCount() : 0;
    if (event == deLayoutChange || rows != FRows || columns != FColumns) return Reset();
    if (FRows == 0 || FColumns == 0) return;
    if (event == deRecordChange) {
        const int row = CurrentRow();
        if (row >= 0) emit dataChanged(index(row, 0), index(row, FColumns - 1));
        return;
    }
    // Values may have changed anywhere; the view asks only for the cells it shows.
    emit dataChanged(index(0, 0), index(FRows - 1, FColumns - 1));
    emit headerDataChanged(Qt::Vertical, 0, FRows - 1);
}

int TDataSetModel::CurrentRow() const {
    if (!FDataSet || !FDataSet->Active()) return -1;
    if (FDataSet->State() == dsInsert) return FDataSet->InsertPosition() - 1;
    return FDataSet->RecNo() - 1;
}

bool TDataSetModel::MoveTo(int row) {
    if (!FDataSet || !FDataSet->Active() || row == CurrentRow()) return true;
    // Leaving a row being edited posts it.
    if (FDataSet->State() != dsBrowse && !Allowed()) return false;
    try {
        FDataSet->CheckBrowseMode();
        // A posted or cancelled insert changed the row numbers of the rows after it.
        if (row >= 0 && row < FDataSet->RecordCount()) FDataSet->SetRecNo(row + 1);
        return true;
    } catch (const std::exception& e) {
        emit errorOccurred(ExceptionText(e));
        return false;
    }
}

int TDataSetModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : FRows; }

int TDataSetModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : FColumns; }

const TField* TDataSetModel::FieldAt(int column) const {
    if (!FDataSet || column < 0 || column >= FDataSet->FieldCount()) return nullptr;
    return &FDataSet->Fields()[column];
}

QString TDataSetModel::CellText(int row, int column) const {
    const QVariant v = data(index(row, column), Qt::DisplayRole);
    return v.toString();
}

void TDataSetModel::Describe(const TField& field, const uint8_t* record, QString& text, QString& tip) const {
    const TFieldDesc& desc = field.Desc();
    const TMemData& store = FDataSet->Data();
    const int width = std::max(field.DisplayWidth(), 1);
    if (field.IsBinary()) {
        // Only the bytes a tip can show are read, however large the BLOB.
        QByteArray bytes;
        int64_t size = 0;
        if (IsBlobDataType(desc.FDataType)) {
            size = store.GetBlobSize(desc.FFieldNo, record);
            bytes.resize(qsizetype(std::min<int64_t>(size, MaxTipBytes)));
            store.ReadBlob(desc.FFieldNo, record, 0, bytes.size(), bytes.data());
        } else {
            bytes = store.GetFieldAsVariant(desc.FFieldNo, record).AsBytes();
            size = bytes.size();
            bytes.truncate(MaxTipBytes);
        }
        const QString hex = QString::fromLatin1(bytes.toHex().toUpper());
        const int digits = std::max(width & ~1, 2);  // whole bytes
        if (hex.size() <= digits && size == bytes.size()) {
            text = QStringLiteral("0x") + hex;
            return;
        }
        text = QStringLiteral("0x") + hex.left(digits) + u'…';
        tip = QStringLiteral("0x%1%2 (%3 bytes)").arg(hex, size > bytes.size() ? QStringLiteral("…") : QString()).arg(size);
        return;
    }
    const QString whole = store.GetFieldText(desc.FFieldNo, record);
    if (ShowsWhole(desc.FDataType)) {
        text = whole;
        return;
    }
    qsizetype shown = whole.size();
    if (shown > width) {
        shown = width;
        if (whole[shown - 1].isHighSurrogate()) --shown;  // never half a character
    }
    text = OneLine(whole.left(shown));
    if (shown < whole.size()) text += u'…';
    if (text == whole) return;
    tip = whole.size() <= MaxTipChars
              ? whole
              : whole.left(MaxTipChars) + QStringLiteral("… (%1 characters)").arg(whole.size());
}

QVariant TDataSetModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !FDataSet) return {};
    const TField* field = FieldAt(index.column());
    const uint8_t* record = FDataSet->ViewRecord(index.row() + 1);
    if (!field || !record) return {};
    const TFieldDesc& desc = field->Desc();
    const TMemData& store = FDataSet->Data();
    const bool isNull = store.GetNull(desc.FFieldNo, record);
    switch (role) {
        case IsNullRole: return isNull;
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(Qt::AlignVCenter | (IsNumeric(desc.FDataType) ? Qt::AlignRight : Qt::AlignLeft));
        case Qt::ForegroundRole:
            if (isNull) return QBrush(QPalette().color(QPalette::Disabled, QPalette::Text));
            return {};
        case Qt::FontRole:
            if (isNull) {
                QFont font;
                font.setItalic(true);
                return font;
            }
            return {};
        case Qt::DisplayRole: {
            if (isNull) return NullText;
            QString text, tip;
            Describe(*field, record, text, tip);
            return text;
        }
        case Qt::ToolTipRole: {
            if (isNull) return {};
            QString text, tip;
            Describe(*field, record, text, tip);
            return tip.isEmpty() ? QVariant() : QVariant(tip);
        }
        case Qt::EditRole:
            // The whole text; bytes are not edited as text.
            if (isNull || field->IsBinary()) return {};
            return store.GetFieldText(desc.FFieldNo, record);
        default:
            return {};
    }
}

QVariant TDataSetModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || !FDataSet) return {};
    if (orientation == Qt::Horizontal) {
        const TField* field = FieldAt(section);
        return field ? QVariant(field->DisplayName()) : QVariant();
    }
    // The row being edited or inserted is marked, as grids do.
    if (section == CurrentRow()) {
        if (FDataSet->State() == dsInsert) return QStringLiteral("*");
        if (FDataSet->State() == dsEdit) return QStringLiteral("✎");
    }
    return section + 1;
}

bool TDataSetModel::CanWriteCell(const QModelIndex& index) const {
    const TField* field = index.isValid() ? FieldAt(index.column()) : nullptr;
    return field && !field->ReadOnly() && FDataSet->CanModify();
}

Qt::ItemFlags TDataSetModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (CanWriteCell(index) && !FieldAt(index.column())->IsBinary()) flags |= Qt::ItemIsEditable;
    return flags;
}

bool TDataSetModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !index.isValid() || !FDataSet || !FDataSet->Active() || !Allowed()) return false;
    TField* field = const_cast<TField*>(FieldAt(index.column()));
    if (!field || !MoveTo(index.row())) return false;
    try {
        const bool postNow = FAutoPost && FDataSet->State() == dsBrowse;
        FDataSet->Edit();
        if (!value.isValid()) field->Clear();
        else field->SetAsString(value.toString());
        if (postNow) FDataSet->Post();
        return true;
    } catch (const std::exception& e) {
        // The value stays in the open edit, to be corrected or cancelled.
        emit errorOccurred(ExceptionText(e));
        return false;
    }
}

}  // namespace calvoro::dac
