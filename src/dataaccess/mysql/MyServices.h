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

#include "MySqlIdentifier.h"
#include "dataaccess/common/DBAccess.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace calvoro::dac {

class TMySQLRecordset;
class TMySQLCommand;

// The MySQL statements of one row.
class TCustomMySQLGenerator : public TDASQLGenerator {
public:
    // Raises "Key fields not found", "Timestamp field required", "Bad statement type",
    // "TableInfo name must be provided".
    TGeneratedSQL Generate(TStatementType type, const TGeneratorInput& input, bool modifiedOnly) const override;
    // Whether the row's old and new values of a field differ (a BLOB: its content was changed).
    static bool FieldChanged(const TGeneratorInput& input, const TFieldDesc& field);
    // A raw identifier (from the server or parsed) as generated statements write it: always
    // backquoted with quoteNames, else where it needs quotes.
    static QString QuoteName(const QString& name, bool quoteNames);
};

// Adds the SELECT of a table component.
class TMySQLGenerator : public TCustomMySQLGenerator {
public:
    // The table's raw parts are quoted where they need it.
    static QString GenerateTableSQL(const TObjectName& table, const QString& orderFields, int limit, int offset,
                                    bool useHandler, const QString& handlerIndex, const QString& filter,
                                    bool protocol41);
};

class TCustomMyDataSet;
class TCustomMyDataSetService;

class TCustomMyDataSetUpdater : public TDADataSetUpdater {
public:
    TCustomMyDataSetUpdater(TCustomMyDataSet& dataSet, TCustomMyDataSetService& service);

    void PerformInsert(TRecBuf record) override;
    void PerformUpdate(TRecBuf record) override;
    void PerformDelete() override;
    bool PerformRefreshRecord() override;
    void BeforeEdit() override;
    void AfterEditEnded(bool posted) override;
    void PerformApplyRecord(TItemStatus kind) override;

    // The quick refresh: rows whose TIMESTAMP is at least the newest one read are read again;
    // those found by their key replace the rows in memory, the others are added.
    void RefreshChanged();
    // The row lock of Lock(), for the current row.
    void Lock(TLockRecordTypeI type);
    // The internal query: runs a SELECT (markers at known positions, or named ones: fields of
    // the row or the data set's parameters) and hands each row to `row`; the count of rows.
    int Query(const TGeneratedSQL& sql, const TGeneratorInput& input,
              const std::function<void(TMySQLRecordset&, const uint8_t*)>& row);
    // Runs a statement with the data set's parameters; the first value of its first row (0
    // without one).
    int64_t QueryValue(const QString& sql);

private:
    TCustomMyDataSet& MyDataSet() const;
    // The input for the current row with the key and data fields.
    TGeneratorInput RowInput(const uint8_t* newRecord);
    // The values of a statement's markers.
    std::vector<TParamDesc> ParamValues(const TGeneratedSQL& sql, const TGeneratorInput& in) const;
    // Runs a generated statement; rows affected.
    int Execute(const TGeneratedSQL& sql, const TGeneratorInput& input);
    // Without a key: how many rows the conditions of a statement match.
    int CountMatches(const TGeneratedSQL& where, const TGeneratorInput& input);
    // Writes one change: oldRecord identifies the row (nil for an insert), record holds the
    // new values (nil for a delete) and takes what the server assigned or returns.
    void Write(TStatementType type, const uint8_t* oldRecord, TRecBuf record);
    const uint8_t* CurrentRecord() const;
    // Re-reads the row into record (the current row when nil); false when it is gone.
    bool RefreshInto(TRecBuf record, const uint8_t* current);
    // The data set's own statement of that kind, its markers tied to fields or parameters.
    std::optional<TGeneratedSQL> CustomStatement(TStatementType type);

    TCustomMyDataSetService& FService;
    bool FLockTransaction = false;
    bool FRefreshing = false;
};

class TMyDataSetUpdater : public TCustomMyDataSetUpdater {
public:
    using TCustomMyDataSetUpdater::TCustomMyDataSetUpdater;
};

class TCustomMyDataSetService : public TDADataSetService {
public:
    explicit TCustomMyDataSetService(TCustomMyDataSet& dataSet);
    ~TCustomMyDataSetService() override;

    void AfterOpen() override;
    void ClearFieldsInfo() override;
    bool CanWrite() const override;
    QStringList KeyFieldNames() override;
    TCustomMyDataSetUpdater& Updater() override { return *FUpdater; }
    const TCustomMySQLGenerator& SQLGenerator() const override { return *FGenerator; }

    const TCRTableInfo* UpdatingTable() const { return FUpdatingTable; }
    const TFieldDesc* IdentityField() const { return FIdentityField; }
    const TFieldDesc* TimestampField() const { return FTimestampField; }
    // The key fields (empty: the row is matched on its values) and the writable data fields.
    const std::vector<const TFieldDesc*>& KeyFieldDescs();
    const std::vector<const TFieldDesc*>& DataFieldDescs();
    // The generator's input for the current row and the given new values (without the key and
    // data fields).
    TGeneratorInput Input(const uint8_t* newRecord);

private:
    TCustomMyDataSet& MyDataSet() const;
    bool Writable(const TFieldDesc& field) const;
    // The key of the updating table from the server's index list (empty when none fits).
    std::vector<const TFieldDesc*> ServerKey();

    std::unique_ptr<TCustomMySQLGenerator> FGenerator;
    std::unique_ptr<TCustomMyDataSetUpdater> FUpdater;
    const TCRTableInfo* FUpdatingTable = nullptr;
    const TFieldDesc* FIdentityField = nullptr;
    const TFieldDesc* FTimestampField = nullptr;
    std::optional<std::vector<const TFieldDesc*>> FKeyFields;
    std::optional<std::vector<const TFieldDesc*>> FDataFields;
};

class TMyDataSetService : public TCustomMyDataSetService {
public:
    using TCustomMyDataSetService::TCustomMyDataSetService;
};

}  // namespace calvoro::dac
