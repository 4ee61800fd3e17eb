#include "MemDS.h"

#include "common/ScopeGuard.h"

namespace calvoro::dac {

TMemDataSet::TMemDataSet() : FData(std::make_unique<TMemData>()) {}

TMemDataSet::~TMemDataSet() {
    FreeEditBuffer(FState == dsInsert);
}

void TMemDataSet::SetData(std::unique_ptr<TMemData> data) { FData = std::move(data); }

int TMemDataSet::RecordCount() const { return Active() ? FData->RecordCount() : 0; }

int TMemDataSet::RecNo() const {
    if (FState == dsInsert) return FInsertPosition;
    return Active() ? FData->RecordNo() : 0;
}

bool TMemDataSet::BookmarkValid(const TRecBookmark& bookmark) { return Active() && FData->BookmarkValid(&bookmark); }

int TMemDataSet::CompareBookmarks(const TRecBookmark& a, const TRecBookmark& b) {
    return FData->CompareBookmarks(&a, &b);
}

const uint8_t* TMemDataSet::ActiveBuffer() const {
    if (FState == dsEdit || FState == dsInsert) return FEditBuf.get();
    const TItemHeader* item = Active() ? FData->CurrentItem() : nullptr;
    return item ? item->Record() : nullptr;
}

Variant TMemDataSet::GetFieldValue(const TField& field) const {
    const uint8_t* record = ActiveBuffer();
    return record ? FData->GetFieldAsVariant(field.FieldNo(), record) : Variant::Null();
}

QString TMemDataSet::GetFieldText(const TField& field) const {
    const uint8_t* record = ActiveBuffer();
    return record ? FData->GetFieldText(field.FieldNo(), record) : QString();
}

bool TMemDataSet::GetFieldIsNull(const TField& field) const {
    const uint8_t* record = ActiveBuffer();
    return !record || FData->GetNull(field.FieldNo(), record);
}

int TMemDataSet::ViewRowCount() const {
    if (!Active()) return 0;
    return FData->RecordCount() + (FState == dsInsert ? 1 : 0);
}

const uint8_t* TMemDataSet::ViewRecord(int row) {
    if (!Active()) return nullptr;
    if (FState == dsInsert) {
        if (row == FInsertPosition) return FEditBuf.get();
        if (row > FInsertPosition) --row;
    } else if (FState == dsEdit && row == FData->RecordNo()) {
        return FEditBuf.get();
    }
    return FData->RecordAt(row);
}

void TMemDataSet::SetIndexFieldNames(const QString& value) {
    if (Active()) CheckBrowseMode();
    FData->SetIndexFieldNames(value);
    if (Active()) DataEvent(deDataSetChange);
}

void TMemDataSet::SetCachedUpdates(bool value) {
    if (Active()) CheckBrowseMode();
    FData->SetCachedUpdates(value);
}

void TMemDataSet::ApplyUpdates() {
    CheckBrowseMode();
    FData->ApplyUpdates();
}

void TMemDataSet::CommitUpdates() {
    FData->CommitUpdates();
    DataEvent(deDataSetChange);
}

void TMemDataSet::CancelUpdates() {
    if (Active()) Cancel();
    FData->CancelUpdates();
    DataEvent(deDataSetChange);
}

void TMemDataSet::InternalOpen() { FData->Open(); }

void TMemDataSet::InternalClose() {
    FreeEditBuffer(FState == dsInsert);
    FData->Close();
}

void TMemDataSet::InternalRefresh() {
    FData->Reopen();
    InternalFirst();
    const bool any = InternalNext();
    FBof = true;
    FEof = !any;
}

void TMemDataSet::InternalFirst() { FData->SetToBegin(); }

void TMemDataSet::InternalLast() { FData->SetToEnd(); }

bool TMemDataSet::InternalNext() {
    TRecBookmark here;
    FData->GetBookmark(here);
    const bool onRow = FData->CurrentItem() != nullptr;
    FData->GetNextRecord(nullptr);
    if (FData->CurrentItem()) return true;
    if (onRow) FData->SetToBookmark(here);  // the last row stays current
    return false;
}

bool TMemDataSet::InternalPrior() {
    TRecBookmark here;
    FData->GetBookmark(here);
    const bool onRow = FData->CurrentItem() != nullptr;
    FData->GetPriorRecord(nullptr);
    if (FData->CurrentItem()) return true;
    if (onRow) FData->SetToBookmark(here);
    return false;
}

void TMemDataSet::InternalSetRecNo(int value) { FData->SetRecordNo(value); }

TRecBookmark TMemDataSet::InternalGetBookmark() const {
    TRecBookmark bookmark;
    FData->GetBookmark(bookmark);
    return bookmark;
}

void TMemDataSet::InternalGotoBookmark(const TRecBookmark& bookmark) { FData->SetToBookmark(bookmark); }

void TMemDataSet::FreeEditBuffer(bool newRow) {
    if (!FEditBuf) return;
    if (newRow) FData->FreeComplexFields(FEditBuf.get(), true);
    FEditBuf.reset();
}

void TMemDataSet::InternalEdit() {
    if (!FData->CurrentItem()) throw EDatabaseError(QStringLiteral("Cannot perform this operation on an empty dataset"));
    TRecBufOwner buf = FData->AllocRecBuf();
    FData->EditRecord(buf.get());
    FEditBuf = std::move(buf);
}

void TMemDataSet::InternalInsert(bool append) {
    TRecBufOwner buf = FData->AllocRecBuf();
    FData->InitRecord(buf.get());
    FData->CreateComplexFields(buf.get(), true);
    FEditBuf = std::move(buf);
    FAppending = append || !FData->CurrentItem();
    FInsertPosition = FAppending ? FData->RecordCount() + 1 : std::max(FData->RecordNo(), 1);
}

void TMemDataSet::InternalPost() {
    if (FState == dsEdit) {
        FData->PostRecord(FEditBuf.get());  // the hook writes the change first; a failure keeps the edit
        FEditBuf.reset();                    // its references are the row's now
        return;
    }
    if (FAppending) FData->AppendRecord(FEditBuf.get());
    else FData->InsertRecord(FEditBuf.get());
    FEditBuf.reset();
}

void TMemDataSet::InternalCancel() {
    if (FState == dsEdit && FEditBuf) {
        FData->CancelRecord(FEditBuf.get());
        FreeEditBuffer(false);
    } else {
        FreeEditBuffer(true);
    }
}

void TMemDataSet::InternalDelete() {
    FData->DeleteRecord();
    if (!FData->CurrentItem() && FData->RecordCount() > 0) {
        // The last row went: the one before it is current now.
        FData->SetToEnd();
        FData->GetPriorRecord(nullptr);
    }
    FBof = FData->RecordCount() == 0 || FData->RecordNo() == 1;
    FEof = FData->RecordCount() == 0;
}

void TMemDataSet::InternalSetFieldValue(TField& field, const Variant* value) {
    FData->PutField(field.FieldNo(), FEditBuf.get(), value);
}

void TMemDataSet::CreateFields() {
    FFields.Clear();
    for (const auto& desc : FData->Fields()) {
        if (desc->FHidden || desc->FHiddenObject || desc->FFieldDescKind != fdkData || desc->FParentField) continue;
        FFields.Add(std::make_unique<TField>(this, desc.get()));
    }
}

}  // namespace calvoro::dac
