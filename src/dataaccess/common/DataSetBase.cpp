#include "DataSetBase.h"

#include "common/CodePage.h"
#include "common/ScopeGuard.h"

#include <QLocale>

#include <cmath>

namespace calvoro::dac {

TFieldType FieldTypeOf(TDataType dataType) {
    if (dataType == dtUnknown) throw EDatabaseError(QStringLiteral("Data type is not supported"));
    const TFieldType type = DataTypeToFieldType(dataType);
    if (type == ftUnknown) InternalError("DataSetBase", QStringLiteral("Unknown data type"));
    return type;
}

namespace {

// A duration as "[-]h:mm:ss[.zzz]" (hours without limit).
[[noreturn]] void NotValid(const QString& text, const char* kind) {
    throw EConvertError(QStringLiteral("'%1' is not a valid %2").arg(text, QLatin1String(kind)));
}

}  // namespace

// --- TField ---

namespace {

// Text shows its length; long values (memos, blobs) a short preview; other kinds the width of
// their usual text.
int DefaultDisplayWidth(TFieldType type, int size) {
    switch (type) {
        case ftString: case ftWideString: case ftFixedChar: case ftFixedWideChar: case ftGuid: return std::max(size, 1);
        case ftBytes: case ftVarBytes: return std::max(2 * size, 1);
        case ftBlob: case ftMemo: case ftWideMemo: case ftGraphic: case ftFmtMemo: case ftTypedBinary: return 10;
        case ftSmallint: case ftShortint: case ftByte: case ftWord: return 6;
        case ftInteger: case ftAutoInc: case ftLongWord: return 11;
        case ftLargeint: return 20;
        case ftBoolean: return 5;
        case ftDate: return 10;
        case ftTime: return 8;
        case ftDateTime: case ftTimeStamp: return 19;
        default: return 20;
    }
}

}  // namespace

TField::TField(TDataSet* dataSet, const TFieldDesc* desc)
    : FDataSet(dataSet), FDesc(desc), FDataType(FieldTypeOf(desc->FDataType)), FReadOnly(desc->FReadOnly),
      FRequired(desc->FRequired), FDisplayWidth(DefaultDisplayWidth(FDataType, Size())) {}

int TField::Size() const {
    switch (FDataType) {
        case ftString: case ftWideString: case ftGuid: return FDesc->FLength ? FDesc->FLength : 1;
        case ftBytes: case ftVarBytes: return FDesc->FLength;
        case ftBCD: case ftFMTBcd: return FDesc->FScale;
        default: return 0;
    }
}

bool TField::IsBinary() const {
    return FDesc->FBinaryData || FDesc->FDataType == dtBlob || FDesc->FDataType == dtBytes ||
           FDesc->FDataType == dtVarBytes || FDesc->FDataType == dtExtVarBytes;
}

bool TField::IsNull() const { return FDataSet->GetFieldIsNull(*this); }

Variant TField::Value() const { return FDataSet->GetFieldValue(*this); }

QString TField::AsString() const { return FDataSet->GetFieldText(*this); }

int32_t TField::AsInteger() const {
    const Variant v = Value();
    return v.IsNullOrEmpty() ? 0 : v.AsInteger();
}

int64_t TField::AsLargeInt() const {
    const Variant v = Value();
    return v.IsNullOrEmpty() ? 0 : v.AsInt64();
}

double TField::AsFloat() const {
    const Variant v = Value();
    return v.IsNullOrEmpty() ? 0 : v.AsFloat();
}

TDateTime TField::AsDateTime() const {
    const Variant v = Value();
    return v.IsNullOrEmpty() ? 0 : v.AsDateTime();
}

bool TField::AsBoolean() const {
    const Variant v = Value();
    return !v.IsNullOrEmpty() && v.AsBoolean();
}

QByteArray TField::AsBytes() const {
    const Variant v = Value();
    return v.IsNullOrEmpty() ? QByteArray() : v.AsBytes();
}

void TField::SetValue(const Variant& value) {
    if (value.IsNullOrEmpty()) return Clear();
    FDataSet->SetFieldValue(*this, &value);
}

void TField::Clear() { FDataSet->SetFieldValue(*this, nullptr); }

void TField::SetAsString(const QString& text) {
    // Text typed for a field of another kind is read in that kind.
    switch (FDesc->FDataType) {
        case dtInt8: case dtSmallint: case dtInteger: case dtWord: case dtLargeint: case dtUInt32: {
            bool ok = false;
            const qlonglong v = text.trimmed().toLongLong(&ok);
            if (!ok) NotValid(text, "integer value");
            return SetValue(Variant(v));
        }
        case dtBoolean: {
            const QString t = text.trimmed().toLower();
            if (t == u"true" || t == u"1") return SetValue(true);
            if (t == u"false" || t == u"0") return SetValue(false);
            NotValid(text, "boolean value");
        }
        case dtFloat: case dtCurrency: {
            bool ok = false;
            const double v = QLocale::c().toDouble(text.trimmed(), &ok);
            if (!ok) NotValid(text, "floating point value");
            return SetValue(v);
        }
        case dtDate: case dtDateTime: case dtTime: {
            TDateTime v;
            if (!TextToDateTime(text.trimmed(), v)) NotValid(text, "date and time");
            return SetValue(Variant::FromDateTime(v));
        }
        case dtBlob: case dtBytes: case dtVarBytes: case dtExtVarBytes:
            return SetValue(UnicodeToAnsi(text));
        default:
            if (FDesc->FBinaryData) return SetValue(UnicodeToAnsi(text));
            return SetValue(text);
    }
}

// --- TFields ---

TField* TFields::FindField(const QString& name) const {
    for (const auto& f : FItems)
        if (f->FieldName().compare(name, Qt::CaseInsensitive) == 0) return f.get();
    return nullptr;
}

TField& TFields::FieldByName(const QString& name) const {
    if (TField* f = FindField(name)) return *f;
    throw EDatabaseError(QStringLiteral("Field '%1' not found").arg(name));
}

// --- TDataSet ---

TDataSet::TDataSet() = default;

TDataSet::~TDataSet() { NotifyDestroying(); }

void TDataSet::NotifyDestroying() {
    // Views still bound let go now, whether or not their updates are held back.
    FDisableCount = 0;
    DataEvent(deDestroying);
    FListeners.clear();
}

void TDataSet::SetState(TDataSetState state) {
    if (state == FState) return;
    FState = state;
    DataEvent(deUpdateState);
}

void TDataSet::DataEvent(TDataEvent event) {
    if (FDisableCount > 0) {
        FPendingChange = true;
        return;
    }
    // A listener may remove itself while it runs: walk a copy of the ids.
    std::vector<int> ids;
    for (const auto& [id, listener] : FListeners) ids.push_back(id);
    for (int id : ids) {
        auto it = FListeners.find(id);
        if (it != FListeners.end()) it->second(event);
    }
}

int TDataSet::AddDataListener(TDataListener listener) {
    const int id = FNextListener++;
    FListeners.emplace(id, std::move(listener));
    return id;
}

void TDataSet::RemoveDataListener(int id) { FListeners.erase(id); }

void TDataSet::DisableControls() { ++FDisableCount; }

void TDataSet::EnableControls() {
    if (FDisableCount == 0) return;
    if (--FDisableCount == 0 && FPendingChange) {
        FPendingChange = false;
        DataEvent(deDataSetChange);
    }
}

void TDataSet::CheckActive() const {
    if (!Active()) throw EDatabaseError(QStringLiteral("Cannot perform this operation on a closed dataset"));
}

void TDataSet::CheckCanModify() const {
    if (!CanModify()) throw EDatabaseError(QStringLiteral("Cannot modify a read-only dataset"));
}

void TDataSet::Open() {
    if (Active()) return;
    if (BeforeOpen) BeforeOpen(this);
    InternalOpen();
    ScopeExit undo([&] {
        FFields.Clear();
        InternalClose();
    });
    CreateFields();
    InternalFirst();
    const bool any = InternalNext();
    FBof = true;
    FEof = !any;
    undo.Dismiss();
    SetState(dsBrowse);
    DataEvent(deLayoutChange);
    DataEvent(deDataSetChange);
    if (AfterOpen) AfterOpen(this);
}

void TDataSet::Close() {
    if (!Active()) return;
    if (BeforeClose) BeforeClose(this);
    {
        // Closed whatever closing the record side raises.
        ScopeExit closed([&] {
            FFields.Clear();
            FBof = FEof = true;
            FModified = false;
            SetState(dsInactive);
            DataEvent(deLayoutChange);
            DataEvent(deDataSetChange);
        });
        if (FState == dsEdit || FState == dsInsert) InternalCancel();
        InternalClose();
    }
    if (AfterClose) AfterClose(this);
}

void TDataSet::Refresh() {
    CheckActive();
    CheckBrowseMode();
    if (BeforeRefresh) BeforeRefresh(this);
    InternalRefresh();
    DataEvent(deDataSetChange);
    if (AfterRefresh) AfterRefresh(this);
}

void TDataSet::Scrolled() {
    DataEvent(deDataSetScroll);
    if (AfterScroll) AfterScroll(this);
}

void TDataSet::First() {
    CheckActive();
    CheckBrowseMode();
    if (BeforeScroll) BeforeScroll(this);
    InternalFirst();
    const bool any = InternalNext();
    FBof = true;
    FEof = !any;
    Scrolled();
}

void TDataSet::Last() {
    CheckActive();
    CheckBrowseMode();
    if (BeforeScroll) BeforeScroll(this);
    InternalLast();
    const bool any = InternalPrior();
    FEof = true;
    FBof = !any;
    Scrolled();
}

void TDataSet::Next() {
    CheckActive();
    CheckBrowseMode();
    if (FEof) return;
    if (BeforeScroll) BeforeScroll(this);
    if (InternalNext()) {
        FBof = false;
        Scrolled();
    } else {
        FEof = true;
    }
}

void TDataSet::Prior() {
    CheckActive();
    CheckBrowseMode();
    if (FBof) return;
    if (BeforeScroll) BeforeScroll(this);
    if (InternalPrior()) {
        FEof = false;
        Scrolled();
    } else {
        FBof = true;
    }
}

int TDataSet::MoveBy(int distance) {
    int moved = 0;
    for (; distance > 0 && !FEof; --distance) {
        Next();
        if (!FEof) ++moved;
    }
    for (; distance < 0 && !FBof; ++distance) {
        Prior();
        if (!FBof) --moved;
    }
    return moved;
}

void TDataSet::SetRecNo(int value) {
    CheckActive();
    CheckBrowseMode();
    if (value == RecNo() || value < 1) return;
    if (BeforeScroll) BeforeScroll(this);
    InternalSetRecNo(value);
    FBof = FEof = false;
    Scrolled();
}

bool TDataSet::IsEmpty() const { return !Active() || (RecordCount() == 0 && FState != dsInsert); }

TRecBookmark TDataSet::GetBookmark() const { return InternalGetBookmark(); }

void TDataSet::GotoBookmark(const TRecBookmark& bookmark) {
    CheckActive();
    CheckBrowseMode();
    if (BeforeScroll) BeforeScroll(this);
    InternalGotoBookmark(bookmark);
    FBof = FEof = false;
    Scrolled();
}

bool TDataSet::Locate(const QString& keyFields, const std::vector<Variant>& keyValues, int options) {
    QStringList names;
    for (const QString& name : keyFields.split(u';', Qt::SkipEmptyParts)) names << name.trimmed();
    return Locate(names, keyValues, options);
}

bool TDataSet::Locate(const QStringList& keyFields, const std::vector<Variant>& keyValues, int options) {
    CheckActive();
    CheckBrowseMode();
    std::vector<TField*> fields;
    for (const QString& name : keyFields) fields.push_back(&FieldByName(name));
    if (fields.size() != keyValues.size())
        throw EDatabaseError(QStringLiteral("Locate needs one value for each of the fields %1").arg(keyFields.join(u';')));
    auto matches = [&] {
        for (size_t i = 0; i < fields.size(); ++i) {
            const Variant& want = keyValues[i];
            const TField& f = *fields[i];
            if (want.IsNullOrEmpty()) {
                if (!f.IsNull()) return false;
                continue;
            }
            if (f.IsNull()) return false;
            switch (want.Type()) {
                case VarType::Integer: case VarType::Float: case VarType::Currency: case VarType::Boolean:
                    if (f.DataType() != ftString && f.DataType() != ftWideString && f.DataType() != ftFMTBcd) {
                        if (f.AsFloat() != want.AsFloat()) return false;
                        continue;
                    }
                    break;
                case VarType::DateTime:
                    if (f.AsDateTime() != want.AsDateTime()) return false;
                    continue;
                default:
                    break;
            }
            const QString have = f.AsString(), text = want.AsString();
            const Qt::CaseSensitivity cs = (options & loCaseInsensitive) ? Qt::CaseInsensitive : Qt::CaseSensitive;
            if ((options & loPartialKey) ? !have.startsWith(text, cs) : have.compare(text, cs) != 0) return false;
        }
        return true;
    };
    const TRecBookmark start = InternalGetBookmark();
    InternalFirst();
    while (InternalNext()) {
        if (!matches()) continue;
        FBof = FEof = false;
        Scrolled();
        return true;
    }
    InternalGotoBookmark(start);
    return false;
}

void TDataSet::Edit() {
    CheckActive();
    if (FState == dsEdit || FState == dsInsert) return;
    if (IsEmpty()) return Insert();
    CheckCanModify();
    if (BeforeEdit) BeforeEdit(this);
    InternalEdit();
    FModified = false;
    SetState(dsEdit);
    DataEvent(deRecordChange);
    if (AfterEdit) AfterEdit(this);
}

void TDataSet::Insert() {
    CheckActive();
    CheckBrowseMode();
    CheckCanModify();
    if (BeforeInsert) BeforeInsert(this);
    InternalInsert(false);
    FModified = false;
    SetState(dsInsert);
    if (OnNewRecord) OnNewRecord(this);
    DataEvent(deDataSetChange);
    if (AfterInsert) AfterInsert(this);
}

void TDataSet::Append() {
    CheckActive();
    CheckBrowseMode();
    CheckCanModify();
    if (BeforeInsert) BeforeInsert(this);
    InternalInsert(true);
    FModified = false;
    SetState(dsInsert);
    if (OnNewRecord) OnNewRecord(this);
    DataEvent(deDataSetChange);
    if (AfterInsert) AfterInsert(this);
}

void TDataSet::Post() {
    if (FState != dsEdit && FState != dsInsert) return;
    if (BeforePost) BeforePost(this);
    for (const auto& f : FFields)
        if (f->Required() && !f->ReadOnly() && f->IsNull())
            throw EDatabaseError(QStringLiteral("Field '%1' must have a value").arg(f->DisplayName()));
    InternalPost();  // on failure the state and the values entered stay
    FModified = false;
    SetState(dsBrowse);
    FBof = FEof = false;
    DataEvent(deDataSetChange);
    if (AfterPost) AfterPost(this);
}

void TDataSet::Cancel() {
    if (FState != dsEdit && FState != dsInsert) return;
    if (BeforeCancel) BeforeCancel(this);
    InternalCancel();
    FModified = false;
    SetState(dsBrowse);
    DataEvent(deDataSetChange);
    if (AfterCancel) AfterCancel(this);
}

void TDataSet::Delete() {
    CheckActive();
    if (FState == dsInsert) return Cancel();
    if (RecordCount() == 0) throw EDatabaseError(QStringLiteral("Cannot perform this operation on an empty dataset"));
    CheckCanModify();
    if (FState == dsEdit) Cancel();
    if (BeforeDelete) BeforeDelete(this);
    InternalDelete();
    DataEvent(deDataSetChange);
    if (AfterDelete) AfterDelete(this);
    Scrolled();
}

void TDataSet::CheckBrowseMode() {
    CheckActive();
    if (FState != dsEdit && FState != dsInsert) return;
    if (FModified) Post();
    else Cancel();
}

void TDataSet::SetFieldValue(TField& field, const Variant* value) {
    if (FState != dsEdit && FState != dsInsert)
        throw EDatabaseError(QStringLiteral("Dataset not in edit or insert mode"));
    if (field.ReadOnly())
        throw EDatabaseError(QStringLiteral("Field '%1' cannot be modified").arg(field.DisplayName()));
    InternalSetFieldValue(field, value);
    FModified = true;
    DataEvent(deRecordChange);
}

}  // namespace calvoro::dac
