#pragma once
// The generic data-set base the data sets of this layer stand on: the states browse, edit and
// insert, field objects, the Before/After events, navigation, bookmarks, locating a row, and a
// change notification that views (grid models, navigators) listen to. The record-store side of
// every operation is left to TMemDataSet.

#include "CRAccess.h"
#include "FieldTypes.h"
#include "MemData.h"
#include "common/Variant.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace calvoro::dac {

enum TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

// What changed, for the views of a data set.
enum TDataEvent {
    deDataSetChange,  // opened, closed, refreshed, rows added or removed: everything may differ
    deRecordChange,   // the current row's values (an edit in progress or a posted one)
    deDataSetScroll,  // the current row moved
    deUpdateState,    // the state changed (browse, edit, insert)
    deLayoutChange,   // the fields changed
    deDestroying,     // the data set goes away: views let go of it
};

enum TLocateOption : int { loCaseInsensitive = 1, loPartialKey = 2 };

class TDataSet;

// The field type of a field object over a record-store data type (DataTypeToFieldType);
// raises "Data type is not supported" for dtUnknown and an internal error for a code the
// store does not have.
TFieldType FieldTypeOf(TDataType dataType);

// One column of a data set, bound to its descriptor in the record store. Values are those of
// the data set's active record: the current row, or the row being edited or inserted.
class TField {
public:
    TField(TDataSet* dataSet, const TFieldDesc* desc);

    const QString& FieldName() const { return FDesc->FName; }
    QString DisplayName() const { return FDesc->FName; }
    int FieldNo() const { return FDesc->FFieldNo; }
    TFieldType DataType() const { return FDataType; }
    int Size() const;
    const TFieldDesc& Desc() const { return *FDesc; }
    TDataSet* DataSet() const { return FDataSet; }

    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool value) { FReadOnly = value; }
    bool Required() const { return FRequired; }
    void SetRequired(bool value) { FRequired = value; }
    // Characters a view shows of the value: the length of a text field, a fixed width for
    // other kinds; views cut longer values.
    int DisplayWidth() const { return FDisplayWidth; }
    void SetDisplayWidth(int value) { FDisplayWidth = value; }
    bool IsBlob() const { return IsBlobDataType(FDesc->FDataType); }
    // Bytes rather than text (a binary column): views show them as hex.
    bool IsBinary() const;

    bool IsNull() const;
    // NULL as a null variant; text as a string, bytes as a byte array, numbers and dates as such.
    Variant Value() const;
    Variant AsVariant() const { return Value(); }
    QString AsString() const;
    int32_t AsInteger() const;
    int64_t AsLargeInt() const;
    double AsFloat() const;
    TDateTime AsDateTime() const;
    bool AsBoolean() const;
    QByteArray AsBytes() const;

    // Writing needs the edit or insert state ("Dataset not in edit or insert mode") and a
    // writable field ("Field '%s' cannot be modified").
    void SetValue(const Variant& value);
    void SetAsVariant(const Variant& value) { SetValue(value); }
    void SetAsString(const QString& value);
    void SetAsInteger(int32_t value) { SetValue(int(value)); }
    void SetAsLargeInt(int64_t value) { SetValue(static_cast<long long>(value)); }
    void SetAsFloat(double value) { SetValue(value); }
    void SetAsDateTime(TDateTime value) { SetValue(Variant::FromDateTime(value)); }
    void SetAsBoolean(bool value) { SetValue(value); }
    void SetAsBytes(const QByteArray& value) { SetValue(value); }
    // Sets NULL.
    void Clear();

private:
    TDataSet* FDataSet;
    const TFieldDesc* FDesc;
    TFieldType FDataType;
    bool FReadOnly;
    bool FRequired;
    int FDisplayWidth;
};

class TFields {
public:
    int Count() const { return int(FItems.size()); }
    TField& operator[](int index) const { return *FItems.at(size_t(index)); }
    TField* FindField(const QString& name) const;
    // "Field '%s' not found".
    TField& FieldByName(const QString& name) const;
    void Add(std::unique_ptr<TField> field) { FItems.push_back(std::move(field)); }
    void Clear() { FItems.clear(); }
    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

private:
    std::vector<std::unique_ptr<TField>> FItems;
};

class TDataSet : public TComponent {
public:
    using TNotifyEvent = std::function<void(TDataSet* dataSet)>;
    using TDataListener = std::function<void(TDataEvent event)>;

    TDataSet();
    ~TDataSet() override;
    TDataSet(const TDataSet&) = delete;
    TDataSet& operator=(const TDataSet&) = delete;

    // --- Opening ---
    void Open();
    void Close();
    bool Active() const { return FState != dsInactive; }
    void SetActive(bool value) { value ? Open() : Close(); }
    TDataSetState State() const { return FState; }
    // Re-reads the rows (a pending edit is posted first, an unchanged one cancelled).
    void Refresh();

    // --- Navigation ---
    void First();
    void Last();
    void Next();
    void Prior();
    int MoveBy(int distance);
    bool Eof() const { return FEof; }
    bool Bof() const { return FBof; }
    bool IsEmpty() const;
    virtual int RecordCount() const = 0;
    // 1-based number of the current row; 0 without one.
    virtual int RecNo() const = 0;
    void SetRecNo(int value);
    // Moves to the first row whose fields (names separated by ";") hold the values.
    bool Locate(const QString& keyFields, const std::vector<Variant>& keyValues, int options = 0);
    // The same with the field names as they are: a name may hold ";".
    bool Locate(const QStringList& keyFields, const std::vector<Variant>& keyValues, int options = 0);
    TRecBookmark GetBookmark() const;
    void GotoBookmark(const TRecBookmark& bookmark);
    virtual bool BookmarkValid(const TRecBookmark& bookmark) = 0;
    virtual int CompareBookmarks(const TRecBookmark& a, const TRecBookmark& b) = 0;

    // --- Fields ---
    TFields& Fields() { return FFields; }
    int FieldCount() const { return FFields.Count(); }
    TField& FieldByName(const QString& name) const { return FFields.FieldByName(name); }
    TField* FindField(const QString& name) const { return FFields.FindField(name); }

    // --- Editing ---
    void Edit();
    void Insert();
    void Append();
    // Writes the edit or the new row; on failure the state and the values entered stay.
    void Post();
    void Cancel();
    void Delete();
    // Posts a pending edit (cancels an unchanged one).
    void CheckBrowseMode();
    bool Modified() const { return FModified; }
    virtual bool CanModify() const { return true; }

    // --- Views ---
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return FDisableCount > 0; }
    int AddDataListener(TDataListener listener);
    void RemoveDataListener(int id);

    // --- Field values (TField calls these) ---
    virtual Variant GetFieldValue(const TField& field) const = 0;
    virtual QString GetFieldText(const TField& field) const {
        return FieldValueText(field.Desc().FDataType, GetFieldValue(field));
    }
    virtual bool GetFieldIsNull(const TField& field) const = 0;
    void SetFieldValue(TField& field, const Variant* value);

    TNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
    TNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit, BeforePost, AfterPost;
    TNotifyEvent BeforeCancel, AfterCancel, BeforeDelete, AfterDelete;
    TNotifyEvent BeforeScroll, AfterScroll, BeforeRefresh, AfterRefresh;
    // A new row was made by Insert or Append: default values go in here.
    TNotifyEvent OnNewRecord;

protected:
    // The record side, implemented over the record store.
    virtual void InternalOpen() = 0;
    virtual void InternalClose() = 0;
    virtual void InternalRefresh() = 0;
    virtual void InternalFirst() = 0;   // before the first row
    virtual void InternalLast() = 0;    // after the last row
    // Moves to the next (prior) row; false when there is none (the position stays).
    virtual bool InternalNext() = 0;
    virtual bool InternalPrior() = 0;
    virtual void InternalSetRecNo(int value) = 0;
    virtual TRecBookmark InternalGetBookmark() const = 0;
    virtual void InternalGotoBookmark(const TRecBookmark& bookmark) = 0;
    virtual void InternalEdit() = 0;
    virtual void InternalInsert(bool append) = 0;
    virtual void InternalPost() = 0;
    virtual void InternalCancel() = 0;
    virtual void InternalDelete() = 0;
    virtual void InternalSetFieldValue(TField& field, const Variant* value) = 0;
    // Makes the field objects for the record store's descriptors.
    virtual void CreateFields() = 0;

    void SetState(TDataSetState state);
    // Tells the views the data set goes away (the most derived destructor calls it first, so
    // that none of them looks at a half-destroyed data set).
    void NotifyDestroying();
    void DataEvent(TDataEvent event);
    // After the position changed: Bof/Eof from the record side, AfterScroll.
    void Scrolled();
    void CheckActive() const;
    void CheckCanModify() const;

    TDataSetState FState = dsInactive;
    bool FEof = true;
    bool FBof = true;
    bool FModified = false;
    TFields FFields;

private:
    int FDisableCount = 0;
    bool FPendingChange = false;
    int FNextListener = 1;
    std::map<int, TDataListener> FListeners;
};

}  // namespace calvoro::dac
