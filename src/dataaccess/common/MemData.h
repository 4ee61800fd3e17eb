#pragma once
// The in-memory record store under every data set: field descriptors and a fixed binary
// layout for one record, the rows in a doubly-linked list of items allocated in blocks,
// navigation by current item, record number and bookmark, field access with NULL flags,
// editing with BLOB rollback, a local sort order, a filter, cached updates, and hooks that
// let the data set write each change to the server before memory changes.
//
// Record layout (InitFields): the values of the data and cached fields in order, each at its
// FOffset (UTF-16 values at an even offset), then the NULL indicators, one bit per field (set
// means NULL); the record size is made odd. Calculated fields follow in an area of their own.
// Every value keeps its exact length, so bytes and text holding NUL survive:
//   dtString       length [2] + FLength bytes + NUL
//   dtWideString   length [2] + FLength UTF-16 units + NUL unit
//   dtBytes        FLength bytes + 1 (fixed length: a shorter value is padded with zeros)
//   dtVarBytes     length [2] + FLength bytes
//   dtFMTBCD       the exact decimal text ("-123.45"), NUL-terminated, in FSize bytes
//   dtInt8, dtSmallint, dtBoolean (-1/0) 16-bit; dtWord 16-bit unsigned; dtInteger 32-bit;
//   dtUInt32 32-bit unsigned; dtLargeint 64-bit; dtBCD 64-bit currency (value × 10000);
//   dtFloat, dtCurrency, dtDate, dtTime, dtDateTime a double (dates as days since 1899-12-30)
//   out of line, a pointer: dtExtString, dtExtWideString and dtExtVarBytes to a string-heap
//   buffer (length [4], the bytes or UTF-16 units, a NUL); BLOB types to a TBlob;
//   dtVariant to a TVariantObject
// Records are plain byte buffers without alignment: values are read and written with memcpy.

#include "BlockManager.h"
#include "DataTypes.h"
#include "MemBlob.h"
#include "StringHeap.h"
#include "common/Variant.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace calvoro::dac {

// A value as text the way fields show it (dates as YYYY-MM-DD, durations as [-]h:mm:ss[.zzz]);
// empty for NULL.
QString FieldValueText(TDataType dataType, const Variant& value);

enum TFieldDescKind { fdkData, fdkCached, fdkCalculated };
enum TSortType { stCaseSensitive, stCaseInsensitive, stBinary };

class TFieldDesc {
public:
    virtual ~TFieldDesc() = default;

    QString FName;         // the name the data set shows (made unique)
    QString FActualName;   // the column's own name
    TDataType FDataType = dtUnknown;
    uint16_t FSubDataType = 0;
    uint16_t FLength = 0;  // characters or bytes, as the type says; precision of decimals
    uint16_t FScale = 0;
    uint16_t FFieldNo = 0;        // 1-based
    uint16_t FActualFieldNo = 0;  // 0-based position in the result
    uint32_t FSize = 0;           // bytes of the value in the record
    uint32_t FOffset = 0;         // byte offset of the value in the record
    uint32_t FNullBit = 0;        // bit of the NULL indicator, counted from the record's start
    bool FRequired = false;
    bool FReadOnly = false;
    bool FIsKey = false;
    bool FFixed = false;          // fixed-length CHAR
    bool FHidden = false;
    bool FHiddenObject = false;
    // The values are bytes, not text (a binary character set): never trimmed, never decoded,
    // handed out as byte arrays.
    bool FBinaryData = false;
    TFieldDesc* FParentField = nullptr;
    bool FReserved = false;       // used while names are made unique
    TFieldDescKind FFieldDescKind = fdkData;
};

// The descriptors of a store, owned.
class TFieldDescs {
public:
    int Count() const { return int(FItems.size()); }
    TFieldDesc& operator[](int index) const { return *FItems.at(size_t(index)); }
    TFieldDesc& Add(std::unique_ptr<TFieldDesc> desc);
    void Clear() { FItems.clear(); }
    // By name, letter case ignored: the top-level names first, then actual names when the
    // name contains "." or "[".
    TFieldDesc* FindField(const QString& name) const;
    // "Field %s not found" when there is none.
    TFieldDesc& FieldByName(const QString& name) const;

    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

private:
    std::vector<std::unique_ptr<TFieldDesc>> FItems;
};

// A position that survives changes of the store: by item while the store has not been
// reset since, else by record number.
struct TRecBookmark {
    int32_t RefreshIteration = 0;
    TItemHeader* Item = nullptr;
    int32_t Order = -1;  // record number; -1 without a current item
};

struct TSortColumn {
    TFieldDesc* FieldDesc = nullptr;
    bool DescendingOrder = false;
    TSortType SortType = stCaseSensitive;
};
using TSortColumns = std::vector<TSortColumn>;

// Item statuses a filter lets through with cached updates.
enum TItemTypes : uint8_t {
    itUnmodified = 1 << isUnmodified,
    itUpdated = 1 << isUpdated,
    itAppended = 1 << isAppended,
    itDeleted = 1 << isDeleted,
};

using TRecBuf = uint8_t*;

// Frees a record buffer made by TData::AllocRecBuf.
struct TRecBufFree {
    void operator()(uint8_t* recBuf) const;
};
// The one owner of a record buffer: what AllocRecBuf hands out.
using TRecBufOwner = std::unique_ptr<uint8_t[], TRecBufFree>;

// The abstract store: descriptors, record layout, field access, NULL flags, complex fields,
// filter, hooks. Navigation and editing are implemented by TMemData.
class TData {
public:
    using TRecordHook = std::function<void(TRecBuf recBuf)>;
    using TApplyRecordHook = std::function<void(TItemStatus updateKind, TUpdateRecAction& action)>;
    using TFilterFunc = std::function<bool(TRecBuf recBuf)>;

    TData();
    virtual ~TData();
    TData(const TData&) = delete;
    TData& operator=(const TData&) = delete;

    // --- Life ---
    virtual void Open();
    virtual void Close();
    void Reopen();
    virtual void Prepare();
    virtual void UnPrepare();
    // Rebuilds the descriptors (with AutoInitFields) and computes the record layout.
    virtual void InitFields();
    // Builds descriptors without opening (the driver may run the statement for no rows).
    virtual void ExplicitInitFields() { InitFields(); }
    void ClearFields();
    // Bytes a value of the data type takes in the record (see the layout above).
    static uint32_t ValueSize(TDataType dataType, uint16_t length);
    int FieldCount() const { return FFields.Count(); }
    TFieldDesc* FindField(const QString& name) const { return FFields.FindField(name); }
    TFieldDesc& FieldByName(const QString& name) const { return FFields.FieldByName(name); }
    TFieldDescs& Fields() { return FFields; }
    const TFieldDescs& Fields() const { return FFields; }
    // The descriptor of a 1-based field number.
    TFieldDesc& Field(int fieldNo) const { return FFields[fieldNo - 1]; }

    bool Active() const { return FActive; }
    bool Prepared() const { return FPrepared; }

    // --- Records ---
    // A zeroed buffer of the current record layout (data, NULL flags and calculated area).
    TRecBufOwner AllocRecBuf() const;
    // Zeroes the buffer when complex fields exist, then sets every field NULL.
    void InitRecord(TRecBuf recBuf) const;
    virtual void GetRecord(TRecBuf recBuf) = 0;
    virtual void GetNextRecord(TRecBuf recBuf) = 0;
    virtual void GetPriorRecord(TRecBuf recBuf) = 0;
    virtual void PutRecord(TRecBuf recBuf) = 0;
    virtual void AppendRecord(TRecBuf recBuf) = 0;
    virtual void InsertRecord(TRecBuf recBuf) = 0;
    virtual void UpdateRecord(TRecBuf recBuf) = 0;
    virtual void DeleteRecord() = 0;
    virtual void RemoveRecord() = 0;
    // An edit of the current row: EditRecord fills recBuf with the row and gives it references
    // of its own; PutField and the BLOB operations change it; PostRecord (through
    // UpdateRecord) stores it in the row, CancelRecord drops its changes. A new row's buffer
    // (InitRecord, CreateComplexFields) goes to InsertRecord or, abandoned, to
    // FreeComplexFields(recBuf, true).
    virtual void EditRecord(TRecBuf recBuf) = 0;
    virtual void PostRecord(TRecBuf recBuf) = 0;
    virtual void CancelRecord(TRecBuf recBuf) = 0;
    void AppendBlankRecord();

    // --- Position ---
    virtual void SetToBegin() = 0;
    virtual void SetToEnd() = 0;
    bool Bof() const { return FBOF; }
    bool Eof() const { return FEOF; }
    int RecordCount() const { return FRecordCount; }
    virtual int RecordNo() const = 0;
    virtual void SetRecordNo(int value) = 0;
    virtual void GetBookmark(TRecBookmark& bookmark) const = 0;
    virtual void SetToBookmark(const TRecBookmark& bookmark) = 0;
    virtual bool BookmarkValid(const TRecBookmark* bookmark) = 0;
    virtual int CompareBookmarks(const TRecBookmark* a, const TRecBookmark* b) const = 0;

    // --- Fields (fieldNo is 1-based) ---
    // The value as a variant; isBlank := the NULL flag (a BLOB with content is not NULL).
    // Text of 8-bit fields is decoded from the 8-bit code page; binary data comes as bytes.
    Variant GetField(int fieldNo, const uint8_t* recBuf, bool& isBlank) const;
    Variant GetFieldAsVariant(int fieldNo, const uint8_t* recBuf) const;
    // The value as text, as FieldValueText writes it (empty for NULL); numbers, dates and
    // times are written straight from the record.
    QString GetFieldText(int fieldNo, const uint8_t* recBuf) const;
    // Stores a value (nil or an empty string: NULL, unless EnableEmptyStrings).
    void PutField(int fieldNo, TRecBuf recBuf, const Variant* value);
    void PutFieldAsVariant(int fieldNo, TRecBuf recBuf, const Variant& value);
    virtual bool GetNull(int fieldNo, const uint8_t* recBuf) const;
    virtual void SetNull(int fieldNo, TRecBuf recBuf, bool value);

    // Raw access for readers that want no variant: the bytes of an 8-bit or byte-valued
    // field (dtString, dtExtString, dtBytes, dtVarBytes, dtExtVarBytes, dtFMTBCD, dtGuid),
    // the UTF-16 units of a wide one; empty for NULL.
    QByteArrayView GetFieldBytes(const TFieldDesc& field, const uint8_t* recBuf) const;
    QStringView GetFieldWide(const TFieldDesc& field, const uint8_t* recBuf) const;
    // Typed access to numbers and dates (no NULL check).
    int64_t GetFieldInt(const TFieldDesc& field, const uint8_t* recBuf) const;
    double GetFieldFloat(const TFieldDesc& field, const uint8_t* recBuf) const;

    // Writers used while rows are read, without releasing what the record held before.
    void PutStringValue(const TFieldDesc& field, TRecBuf recBuf, const char* data, int64_t len);
    void PutWideValue(const TFieldDesc& field, TRecBuf recBuf, const char16_t* data, int64_t len);
    void PutIntValue(const TFieldDesc& field, TRecBuf recBuf, int64_t value);
    void PutFloatValue(const TFieldDesc& field, TRecBuf recBuf, double value);
    // Sets the NULL indicator only.
    static void SetNullFlag(const TFieldDesc& field, TRecBuf recBuf, bool isNull) {
        const uint8_t mask = uint8_t(1u << (field.FNullBit % 8));
        uint8_t& byte = recBuf[field.FNullBit / 8];
        byte = isNull ? uint8_t(byte | mask) : uint8_t(byte & ~mask);
    }
    static bool NullFlag(const TFieldDesc& field, const uint8_t* recBuf) {
        return recBuf[field.FNullBit / 8] & (1u << (field.FNullBit % 8));
    }

    // Objects of BLOB and variant fields.
    TSharedObject* GetObject(int fieldNo, const uint8_t* recBuf) const;
    void SetObject(int fieldNo, TRecBuf recBuf, TSharedObject* object);
    // The BLOB object of a field; nil for a NULL value read from the server, which gets its
    // object when it is written (BlobForWrite).
    TBlob* GetBlob(const TFieldDesc& field, const uint8_t* recBuf) const;
    TBlob* BlobForWrite(const TFieldDesc& field, TRecBuf recBuf);
    int64_t ReadBlob(int fieldNo, const uint8_t* recBuf, int64_t position, int64_t count, void* dest) const;
    void WriteBlob(int fieldNo, TRecBuf recBuf, int64_t position, int64_t count, const void* source);
    void TruncateBlob(int fieldNo, TRecBuf recBuf, int64_t size);
    int64_t GetBlobSize(int fieldNo, const uint8_t* recBuf) const;
    void SetBlobSize(int fieldNo, TRecBuf recBuf, int64_t size);
    static bool IsBlobFieldType(TDataType dataType) { return IsBlobDataType(dataType); }
    static bool IsComplexFieldType(TDataType dataType);
    bool HasBlobFields() const;
    bool HasComplexFields() const { return FHasComplexFields; }

    // Complex fields: BLOB, variant and out-of-line string values are referenced.
    virtual void CreateComplexFields(TRecBuf recBuf, bool withBlob);
    void CreateComplexField(TRecBuf recBuf, const TFieldDesc& field);
    void AddRefComplexFields(TRecBuf recBuf);
    void FreeComplexFields(TRecBuf recBuf, bool withBlob);
    // Dest gets its own references to the heap strings and copies of the variant values of
    // source; BLOB objects stay shared.
    void CopyComplexFields(const uint8_t* source, TRecBuf dest, bool withBlob);

    // --- Cached updates ---
    bool CachedUpdates() const { return FCachedUpdates; }
    virtual void SetCachedUpdates(bool value);
    virtual void ApplyUpdates() = 0;
    virtual void CommitUpdates() = 0;
    virtual void CancelUpdates() = 0;
    virtual void RestoreUpdates() = 0;
    virtual void RevertRecord() = 0;
    virtual TItemStatus GetUpdateStatus() const = 0;
    virtual TUpdateRecAction GetUpdateResult() const = 0;
    virtual bool UpdatesPending() const = 0;
    // The current row as it was before its first cached change.
    virtual void GetOldRecord(TRecBuf recBuf) = 0;

    // --- Filter and order ---
    void SetFilterFunc(TFilterFunc func);
    void SetFilterMDFunc(TFilterFunc func);
    uint8_t FilterItemTypes() const { return FFilterItemTypes; }
    void SetFilterItemTypes(uint8_t value);
    // Forget every filter decision and count the rows anew.
    virtual void FilterUpdated() = 0;

    // --- Settings ---
    bool AutoInitFields() const { return FAutoInitFields; }
    void SetAutoInitFields(bool value) { FAutoInitFields = value; }
    bool TrimFixedChar() const { return FTrimFixedChar; }
    void SetTrimFixedChar(bool value) { FTrimFixedChar = value; }
    bool TrimVarChar() const { return FTrimVarChar; }
    void SetTrimVarChar(bool value) { FTrimVarChar = value; }
    bool EnableEmptyStrings() const { return FEnableEmptyStrings; }
    void SetEnableEmptyStrings(bool value) { FEnableEmptyStrings = value; }
    // Lone LF becomes CR LF when 8-bit strings are read.
    void SetConvertEOL(bool value) { FConvertEOL = value; }
    // BLOB objects that compress their content (and read content starting with the
    // compressed form's marker as compressed) only when a compression mode is set: a value
    // that merely starts with those bytes is never taken for compressed otherwise.
    TCompressBlobMode CompressBlobMode() const { return FCompressBlobMode; }
    void SetCompressBlobMode(TCompressBlobMode value) { FCompressBlobMode = value; }
    // A new BLOB object of the kind the mode asks for, rollback enabled.
    TBlob* NewBlob(bool isUnicode) const;
    uint32_t RecordSize() const { return FRecordSize; }
    uint32_t CalcRecordSize() const { return FCalcRecordSize; }
    uint32_t DataSize() const { return FDataSize; }
    TStringHeap& StringHeap() { return FStringHeap; }

    // Hooks: called with the record buffer before the store changes a row (the data set
    // writes the change to the server; an exception leaves the store unchanged).
    TRecordHook FOnAppend, FOnDelete, FOnUpdate;
    TApplyRecordHook FOnApplyRecord;
    std::function<void()> FOnFieldsChanged;
    // The data set adds descriptors of calculated fields; fills calculated values.
    std::function<void()> FOnGetCachedFields;
    TRecordHook FOnGetCachedBuffer;

protected:
    // The driver's part of the life cycle (the MySQL record set runs its statement here).
    virtual void InternalPrepare() {}
    virtual void InternalUnPrepare() {}
    virtual void InternalOpen();
    virtual void InternalClose() {}
    // Lets the driver build the descriptors.
    virtual void CreateFieldDescs() {}
    virtual std::unique_ptr<TFieldDesc> CreateFieldDesc() const { return std::make_unique<TFieldDesc>(); }
    // Empties the row list (the store is inactive or about to be refilled).
    virtual void ClearData() = 0;

    // Whether the filter omits the record of an item (decided now).
    bool OmitRecord(TItemHeader* item);
    bool Filtered() const;

    void MakeNamesUnique();
    void ComputeLayout();

    uint8_t* FieldPtr(const TFieldDesc& field, uint8_t* recBuf) const { return recBuf + field.FOffset; }
    const uint8_t* FieldPtr(const TFieldDesc& field, const uint8_t* recBuf) const { return recBuf + field.FOffset; }
    // The heap buffer, blob or variant object a record refers to.
    static void* GetRef(const uint8_t* p);
    static void SetRef(uint8_t* p, const void* ref);

    uint32_t FRecordSize = 0;
    uint32_t FCalcRecordSize = 0;
    bool FCachedUpdates = false;
    bool FAutoInitFields = true;
    bool FTrimFixedChar = false;
    bool FTrimVarChar = false;
    bool FConvertEOL = false;
    TCompressBlobMode FCompressBlobMode = cbNone;
    TFilterFunc FFilterFunc;
    TFilterFunc FFilterMDFunc;
    uint8_t FFilterItemTypes = itUnmodified | itUpdated | itAppended;
    bool FEnableEmptyStrings = false;
    bool FHasComplexFields = false;
    int32_t FRecordNoOffset = 0;
    int32_t FRecordCount = 0;
    bool FBOF = true;
    bool FEOF = true;
    uint32_t FDataSize = 0;
    uint32_t FCalcDataSize = 0;
    TFieldDescs FFields;
    TStringHeap FStringHeap;
    bool FActive = false;
    bool FPrepared = false;

    Variant ReadValue(const TFieldDesc& field, const uint8_t* recBuf) const;

private:
    void WriteValue(const TFieldDesc& field, TRecBuf recBuf, const Variant& value);
    QString TrimmedText(const TFieldDesc& field, QString text) const;
    // The text of a (non-binary) string field, trimmed and with line ends as set.
    QString ReadText(const TFieldDesc& field, const uint8_t* recBuf) const;
    void ReleaseHeapRef(uint8_t* p);
};

// The store with its rows in memory.
class TMemData : public TData {
public:
    TMemData();
    ~TMemData() override;

    void Close() override;
    void InitFields() override;

    void GetRecord(TRecBuf recBuf) override;
    void GetNextRecord(TRecBuf recBuf) override;
    void GetPriorRecord(TRecBuf recBuf) override;
    void PutRecord(TRecBuf recBuf) override;
    void AppendRecord(TRecBuf recBuf) override;
    void InsertRecord(TRecBuf recBuf) override;
    void UpdateRecord(TRecBuf recBuf) override;
    void DeleteRecord() override;
    void RemoveRecord() override;
    void EditRecord(TRecBuf recBuf) override;
    void PostRecord(TRecBuf recBuf) override;
    void CancelRecord(TRecBuf recBuf) override;

    void SetToBegin() override;
    void SetToEnd() override;
    int RecordNo() const override;
    void SetRecordNo(int value) override;
    void GetBookmark(TRecBookmark& bookmark) const override;
    void SetToBookmark(const TRecBookmark& bookmark) override;
    bool BookmarkValid(const TRecBookmark* bookmark) override;
    int CompareBookmarks(const TRecBookmark* a, const TRecBookmark* b) const override;

    void ApplyUpdates() override;
    void CommitUpdates() override;
    void CancelUpdates() override;
    void RestoreUpdates() override;
    void RevertRecord() override;
    TItemStatus GetUpdateStatus() const override;
    TUpdateRecAction GetUpdateResult() const override;
    bool UpdatesPending() const override;
    void GetOldRecord(TRecBuf recBuf) override;
    void SetCachedUpdates(bool value) override;

    void FilterUpdated() override;

    // Local sort order: field names separated by ";" or ",", each optionally in brackets and
    // followed by ASC or DESC and by CIS, CS or BIN. "Field %s not found" for an unknown field,
    // "Invalid IndexFieldNames format!" for anything else that is wrong. Sorts at once when
    // active.
    void SetIndexFieldNames(const QString& value);
    const QString& IndexFieldNames() const { return FIndexFieldNames; }
    const TSortColumns& IndexFields() const { return FIndexFields; }
    void SortItems();
    // Negative, 0 or positive as record a sorts before, with or after record b.
    int CompareRecords(const uint8_t* a, const uint8_t* b) const;
    int CompareFields(const uint8_t* a, const uint8_t* b, const TSortColumn& column) const;
    int CompareFieldValue(const TFieldDesc& field, const uint8_t* a, const uint8_t* b, TSortType sortType) const;
    TSortType DefaultSortType() const { return FDefaultSortType; }
    void SetDefaultSortType(TSortType value) { FDefaultSortType = value; }

    // The record of a 1-based record number among the rows in memory, without moving the
    // current row; nil out of range. Constant time once the record-number cache is built.
    const uint8_t* RecordAt(int recNo);

    // The items (for drivers and tests).
    TItemHeader* FirstItem() const { return FFirstItem; }
    TItemHeader* LastItem() const { return FLastItem; }
    TItemHeader* CurrentItem() const { return FCurrentItem; }
    const TBlockManager& BlockMan() const { return FBlockMan; }
    int32_t RefreshIteration() const { return FRefreshIteration; }

protected:
    void InternalOpen() override;
    void InternalClose() override;
    void ClearData() override;
    // Reads the next rows when not all are in memory: the first item added, or nil when
    // none was.
    virtual TItemHeader* Fetch() { return nullptr; }
    // Whether every row of the result is in memory.
    virtual bool AllFetched() const { return true; }

    // Links items after the last one (a fetched block) and counts them.
    void AppendItems(TItemHeader* first, TItemHeader* last, int count);
    // Item bookkeeping.
    void LinkBefore(TItemHeader* item, TItemHeader* before);
    void Unlink(TItemHeader* item);
    void FreeItemWithFields(TItemHeader* item);
    // Renumbers after an insert (inserted) or delete around item on the shorter side.
    void ReorderItems(TItemHeader* item, TItemHeader* neighbour, bool inserted);
    void RenumberAll();
    void DropRecordNoCache() { FRecordNoCache.clear(); }
    bool ItemOmitted(TItemHeader* item);
    // Whether an item (checked by the filter) has a record number.
    static bool Counted(const TItemHeader* item) { return item->FilterResult != fsOmitted; }
    // Whether a bookmark's item is still a row of this filling of the store.
    bool LiveItem(const TRecBookmark& bookmark) const;
    TItemHeader* NextCounted(TItemHeader* item) const;
    TItemHeader* PrevCounted(TItemHeader* item) const;
    void AddToCache(TItemHeader* item);
    void RemoveFromCache(TItemHeader* item);
    void MoveToSortedPlace(TItemHeader* item);

    TBlockManager FBlockMan;
    TItemHeader* FFirstItem = nullptr;
    TItemHeader* FLastItem = nullptr;
    TItemHeader* FCurrentItem = nullptr;
    int32_t FRefreshIteration = 0;
    QString FIndexFieldNames;
    TSortColumns FIndexFields;
    TSortType FDefaultSortType = stCaseSensitive;
    std::vector<TItemHeader*> FRecordNoCache;
    std::vector<TItemHeader*> FCache;  // items with cached changes, in order of change

private:
    void ReleaseRollback(TItemHeader* item);
    // Links a new row holding recBuf's values before the current one (at the end when past it).
    void InsertItem(TRecBuf recBuf);
    static void MarkUnmodified(TItemHeader* item);
    void TakeRollback(TItemHeader* item, const uint8_t* recBuf);
    void ReleaseAll();
};

}  // namespace calvoro::dac
