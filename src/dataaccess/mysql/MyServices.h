#pragma once
// Writing edited rows back to MySQL: the data-set service finds the table a result updates,
// the fields that identify a row and those that carry data; the SQL generator builds the
// INSERT, UPDATE, DELETE, refresh and lock statements of one row; the updater runs them with
// the row's old and new values and checks how many rows they hit.
//
// A row is identified by the table's PRIMARY KEY, else by one UNIQUE index whose columns are
// all NOT NULL (read from the server's index list), when the result holds all of that key's
// columns. Without such a key the row is matched on all its values, and a statement runs only
// when exactly one row matches, with LIMIT 1, so it never changes more than that row.

#include "dataaccess/common/DBAccess.h"

#include <QString>

#include <optional>
#include <vector>

namespace calvoro::dac {

class TMySQLRecordset;
class TMySQLCommand;

enum TStatementType {
    stQuery, stInsert, stUpdate, stDelete, stLock, stRefresh, stCustom, stRefreshQuick, stRefreshCheckDeleted,
    stBatchUpdate,
};

// What fills one marker of a generated statement.
struct TDAParamInfo {
    const TFieldDesc* Field = nullptr;
    bool Old = false;   // the value before the edit (else the new value)
    QString Name;       // "Old_" and the field name for old values, the field name otherwise
};

// A generated statement: the text with "?" markers, their 1-based positions, and what fills
// each. An empty text: nothing to send.
struct TGeneratedSQL {
    QString Text;
    std::vector<TDAParamInfo> Params;
    std::vector<int> Positions;
};

// What the generator needs to know: the updating table and the fields (from the service), the
// options, and the row's old and new values.
struct TGeneratorInput {
    QString TableName;       // the full name, quoted as the options say
    QString TableAlias;      // quoted; empty without an alias
    std::vector<const TFieldDesc*> KeyFields;
    std::vector<const TFieldDesc*> DataFields;  // the writable fields of the updating table
    const TFieldDesc* IdentityField = nullptr;
    const TFieldDesc* TimestampField = nullptr;
    bool QuoteNames = false;
    bool CheckRowVersion = false;
    bool FullRefresh = false;
    bool OwnParams = false;  // the data set's query has parameters of its own
    QString OwnSQL;          // the data set's final text (full and quick refresh)
    TLockRecordTypeI LockType = ilrImmediately;
    const TData* Store = nullptr;
    const uint8_t* OldRecord = nullptr;
    const uint8_t* NewRecord = nullptr;
};

class TMySQLGenerator {
public:
    // modifiedOnly: INSERT leaves out NULL values, UPDATE writes only changed fields. Raises
    // "Key fields not found", "Timestamp field required", "Bad statement type", "TableInfo name
    // must be provided".
    static TGeneratedSQL Generate(TStatementType type, const TGeneratorInput& input, bool modifiedOnly);
    // The conditions of the WHERE part on the fields; empty when there are none.
    static bool FieldChanged(const TGeneratorInput& input, const TFieldDesc& field);
    // The SELECT of a table component.
    static QString GenerateTableSQL(const QString& tableName, const QString& orderFields, int limit, int offset,
                                    bool useHandler, const QString& handlerIndex, const QString& filter,
                                    bool protocol41);
    // An identifier as generated statements write it.
    static QString QuoteName(const QString& name, bool quoteNames);
};

class TCustomMyDataSet;

class TMyDataSetService : public TDADataSetService {
public:
    explicit TMyDataSetService(TCustomMyDataSet& dataSet);
    ~TMyDataSetService() override;

    void AfterOpen() override;
    void ClearFieldsInfo() override;
    bool CanWrite() const override;
    void PerformInsert(TRecBuf record) override;
    void PerformUpdate(TRecBuf record) override;
    void PerformDelete() override;
    bool PerformRefreshRecord() override;
    void BeforeEdit() override;
    void AfterEditEnded(bool posted) override;
    QString KeyFieldNames() override;

    // The quick refresh: rows whose TIMESTAMP is at least the newest one read are read again;
    // those found by their key replace the rows in memory, the others are added.
    void RefreshChanged();
    // The row lock of Lock(), for the current row.
    void Lock(TLockRecordTypeI type);
    const TCRTableInfo* UpdatingTable() const { return FUpdatingTable; }
    const TFieldDesc* IdentityField() const { return FIdentityField; }
    const TFieldDesc* TimestampField() const { return FTimestampField; }
    // The key fields (empty: the row is matched on its values) and the writable data fields.
    const std::vector<const TFieldDesc*>& KeyFieldDescs();
    const std::vector<const TFieldDesc*>& DataFieldDescs();
    // Runs a statement with the data set's parameters; the first value of its first row (0
    // without one).
    int64_t QueryValue(const QString& sql);
    // The generator's input for the current row and the given new values.
    TGeneratorInput Input(const uint8_t* newRecord);

private:
    TCustomMyDataSet& MyDataSet() const;
    bool Writable(const TFieldDesc& field) const;
    // The key of the updating table from the server's index list (empty when none fits).
    std::vector<const TFieldDesc*> ServerKey();
    // The values of a statement's markers.
    std::vector<TParamDesc> ParamValues(const TGeneratedSQL& sql, const TGeneratorInput& in) const;
    // Runs a generated statement; rows affected.
    int Execute(const TGeneratedSQL& sql, const TGeneratorInput& input);
    // Runs a SELECT (markers at known positions, or named ones) and hands each row to `row`;
    // the count of rows.
    int Query(const TGeneratedSQL& sql, const TGeneratorInput& input,
              const std::function<void(TMySQLRecordset&, const uint8_t*)>& row);
    // Without a key: how many rows the conditions of a statement match.
    int CountMatches(const TGeneratedSQL& where, const TGeneratorInput& input);
    void Write(TStatementType type, TRecBuf record);
    // Re-reads the row into record (the current row when nil); false when it is gone.
    bool RefreshInto(TRecBuf record, const uint8_t* current);
    // The data set's own statement of that kind, its markers tied to fields or parameters.
    std::optional<TGeneratedSQL> CustomStatement(TStatementType type);

    const TCRTableInfo* FUpdatingTable = nullptr;
    const TFieldDesc* FIdentityField = nullptr;
    const TFieldDesc* FTimestampField = nullptr;
    std::optional<std::vector<const TFieldDesc*>> FKeyFields;
    std::optional<std::vector<const TFieldDesc*>> FDataFields;
    bool FLockTransaction = false;
    bool FRefreshing = false;
};

}  // namespace calvoro::dac
