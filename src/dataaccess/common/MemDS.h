#pragma once
// A data set over an in-memory record store: the current row is the store's current item,
// field values are read from it (or from the edit buffer while a row is edited or inserted),
// and edit, post, cancel and delete are the store's edit steps, whose hooks let a subclass
// write each change to the server first.

#include "DataSetBase.h"
#include "MemData.h"

#include <memory>

namespace calvoro::dac {

class TMemDataSet : public TDataSet {
public:
    TMemDataSet();
    ~TMemDataSet() override;

    // The record store (a driver record set for the data sets of a connection).
    TMemData& Data() const { return *FData; }

    int RecordCount() const override;
    int RecNo() const override;
    bool BookmarkValid(const TRecBookmark& bookmark) override;
    int CompareBookmarks(const TRecBookmark& a, const TRecBookmark& b) override;

    Variant GetFieldValue(const TField& field) const override;
    QString GetFieldText(const TField& field) const override;
    bool GetFieldIsNull(const TField& field) const override;

    // The record the fields read: the row being edited or inserted, else the current row
    // (nil without one).
    const uint8_t* ActiveBuffer() const;
    // For views, without moving the current row: the record of the 1-based row number. While a
    // row is inserted it counts as a row of its own at InsertPosition; while a row is edited its
    // edit buffer stands in for it.
    int ViewRowCount() const;
    const uint8_t* ViewRecord(int row);
    int InsertPosition() const { return FState == dsInsert ? FInsertPosition : 0; }

    // Local sort order (see TMemData::SetIndexFieldNames).
    const QString& IndexFieldNames() const { return FData->IndexFieldNames(); }
    void SetIndexFieldNames(const QString& value);
    bool CachedUpdates() const { return FData->CachedUpdates(); }
    void SetCachedUpdates(bool value);
    void ApplyUpdates();
    void CommitUpdates();
    void CancelUpdates();
    bool UpdatesPending() const { return FData->UpdatesPending(); }
    // Changes stay in memory; no hook writes them anywhere.
    bool LocalUpdate() const { return FLocalUpdate; }
    void SetLocalUpdate(bool value) { FLocalUpdate = value; }

    TFieldDesc* GetFieldDesc(const QString& name) const { return FData->FindField(name); }

protected:
    // The store this data set works on (a plain TMemData here; drivers make record sets).
    void SetData(std::unique_ptr<TMemData> data);

    void InternalOpen() override;
    void InternalClose() override;
    void InternalRefresh() override;
    void InternalFirst() override;
    void InternalLast() override;
    bool InternalNext() override;
    bool InternalPrior() override;
    void InternalSetRecNo(int value) override;
    TRecBookmark InternalGetBookmark() const override;
    void InternalGotoBookmark(const TRecBookmark& bookmark) override;
    void InternalEdit() override;
    void InternalInsert(bool append) override;
    void InternalPost() override;
    void InternalCancel() override;
    void InternalDelete() override;
    void InternalSetFieldValue(TField& field, const Variant* value) override;
    void CreateFields() override;
    // Releases the edit buffer (and what it references when it belongs to a new row).
    void FreeEditBuffer(bool newRow);

    std::unique_ptr<TMemData> FData;
    TRecBufOwner FEditBuf;
    bool FAppending = false;
    int FInsertPosition = 0;
    bool FLocalUpdate = false;
};

}  // namespace calvoro::dac
