#pragma once
// The MySQL record set under every query: runs its command, describes the result's columns
// as field descriptors of the record store (the MySQL type mapping), reads the rows block by
// block and converts each value into the record layout, and steps through the results of a
// multi-statement text. Text rows come from mysql_use_result, binary rows from a server-side
// prepared statement.
//
// Where values would not survive the plain type mapping, they are kept exactly: DECIMAL and
// BIGINT UNSIGNED are decimal text (dtFMTBCD), binary strings (character set 63) stay bytes,
// and text columns get room for every UTF-16 unit their characters may need.

#include "MyClasses.h"
#include "dataaccess/common/CRAccess.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace calvoro::dac {

class TMySQLFieldDesc : public TCRFieldDesc {
public:
    protocol::TMySqlFieldType FMySQLType = 0;
    bool FIsUnsigned = false;
    bool FIsPrimaryKey = false;
    bool FIsBinary = false;  // the column's BINARY flag
    int32_t FCharsetNr = 0;
    uint16_t FDecimals = 0;  // the column's decimals (fraction digits of temporal values)
};

// What the data type of a column depends on besides the column itself.
struct TMySQLMapOptions {
    bool EnableBoolean = true;
    bool OptimizedBigInt = false;
    bool BinaryAsString = true;
    bool UseUnicode = false;
    bool EnableBCD = false;
    bool EnableFMTBCD = false;
    bool CheckPrecision = false;
};

struct TMySQLMappedType {
    TDataType DataType = dtUnknown;
    bool Fixed = false;  // CHAR and BINARY
};

// The data type of a column: the MySQL type mapping. "Unknown MySQL datatype (n)" for a type
// code this client does not know.
TMySQLMappedType MapFieldType(const protocol::TMYSQL_FIELD& field, const TMySQLMapOptions& options);

// The JSON column type of MySQL 5.7 and later (MariaDB sends JSON as LONGTEXT).
inline constexpr protocol::TMySqlFieldType FIELD_TYPE_JSON = 245;

enum TMySQLFetchState { fsBOF, fsMiddle, fsEof };
enum TMyOpenNextState { osNotChecked, osMoreResults, osNoMoreResults, osError };

// What one statement of an executed text gave back: rows, or the count of rows it affected.
struct TMyStatementResult {
    bool Rows = false;
    int RowsAffected = -1;  // -1 for rows
    bool operator==(const TMyStatementResult&) const = default;
};

class TMySQLRecordset : public TCRRecordSet {
public:
    TMySQLRecordset();
    ~TMySQLRecordset() override;

    void SetConnection(TCRConnection* connection) override;
    TMySQLCommand& GetCommand() override { return *FCommand; }
    const TMySQLCommand& GetCommand() const { return *FCommand; }
    void ExecCommand() override;
    bool RowsReturn() const override;
    void BreakFetch() override;
    void Disconnect() override;
    bool IsCaseSensitive() const override { return true; }
    // Fields before the statement has run: it runs once rewritten to return no rows.
    void ExplicitInitFields() override;
    void SetProp(int prop, const Variant& value) override;
    bool GetProp(int prop, Variant& value) const override;

    // The statement text (sets the driver command's text).
    void SetSQL(const QString& sql);

    // With the open-next mode on, the results after the current one wait on the connection
    // and OpenNext steps to the next: its rows replace the current ones. False when no result
    // with columns follows. Without it, the remaining results are read and dropped as soon as
    // the current one is.
    bool OpenNext();
    TMyOpenNextState OpenNextState() const { return FOpenNextState; }
    // How many results OpenNext has stepped past since the statement ran.
    int ResultIndex() const { return FResultIndex; }
    // Every statement result of the text so far, in the server's order (one per statement,
    // a CALL gives one per result set and one for the call), as far as they have been read;
    // and the index of the one whose rows are current (-1 when none).
    const std::vector<TMyStatementResult>& Results() const { return FResults; }
    int CurrentResult() const { return FCurrentResult; }
    // Whether BreakFetch ended the reading of the rows before their end: the rows read until
    // then stay, the rest of the result (and of the text) was dropped.
    bool FetchBroken() const { return FFetchBroken; }
    // Affected rows of the statement that produced the current result (or of the last one).
    int RowsAffected() const { return FCommand->RowsAffected(); }

    // Options set by the data set.
    bool FNullForZeroDate = true;
    bool FFieldsAsString = false;
    bool FEnableBoolean = true;
    bool FBinaryAsString = true;
    bool FCreateConnection = true;
    bool FUseHandler = false;
    bool FOpenNextMode = false;

    // The connection's values the record set works with, copied whenever a connection is
    // attached (set directly where there is none: tests and fuzzing).
    struct TConnectionValues {
        bool UseUnicode = false;
        bool Utf8mb4 = false;
        bool OptimizedBigInt = false;
        bool NullForZeroDelphiDate = false;
        bool EnableBCD = false;
        bool EnableFMTBCD = false;
        bool CheckPrecision = false;
        TServerVersion Server{10, 11, 0};
    };
    const TConnectionValues& ConnectionValues() const;
    void SetConnectionValues(const TConnectionValues& values) { FValues = values; }

    // Column description and row conversion, also for tests and fuzzing: descriptors for the
    // given columns of a statement, as BuildFieldDescs makes them (then InitFields lays them
    // out), and one row converted into a record.
    void DescribeColumns(const std::vector<protocol::TMYSQL_FIELD>& columns, const QString& sql);
    void ConvertRow(const protocol::TMySqlBinds& row, bool binary, TRecBuf record);

protected:
    void CreateFieldDescs() override;
    std::unique_ptr<TFieldDesc> CreateFieldDesc() const override { return std::make_unique<TMySQLFieldDesc>(); }
    void PrepareCursor() override;
    void UnprepareCursor() override;
    void CloseCursor() override;
    bool FetchNextBlock() override;

private:
    enum class TConv : uint8_t { Null, Bytes, Wide, Blob, WideMemo, Int, Float, Decimal, BCD, Date, Time, Text };

    TMySQLConnection& Connection() const;
    TMySQLMapOptions MapOptions() const;
    std::unique_ptr<TMySQLFieldDesc> DescribeField(const protocol::TMYSQL_FIELD& column, int index, bool show,
                                                   bool describe, const class TStatementScan& scan);
    void ConvertValue(const TMySQLFieldDesc& f, TConv conv, const uint8_t* v, uint32_t len, bool binary,
                      TRecBuf record);
    void PutDate(const TMySQLFieldDesc& f, TRecBuf record, bool valid, TDateTime value);
    void PutText(const TMySQLFieldDesc& f, TRecBuf record, const char* data, size_t len);
    void PutBlobValue(const TMySQLFieldDesc& f, TRecBuf record, const void* data, size_t size);
    // Ends the current result; with checkNext looks for a following result with columns.
    void CloseResult(bool checkNext, bool breakFetch);
    // Reads and drops every remaining result.
    void SkipAllResults();
    // The end of a fetch BreakFetch asked for: the server stops sending (KILL QUERY), what it
    // sent already is read and dropped, with the results of any statements after it.
    void EndBrokenFetch();
    void CopyOutParams();
    void UseAdditionalConnection();
    void ReleaseAdditionalConnection();
    protocol::PMYSQL_RES ResultMetadata() const;

    std::unique_ptr<TMySQLCommand> FCommand;
    TMySQLFetchState FFetchState = fsBOF;
    TMyOpenNextState FOpenNextState = osNotChecked;
    int FResultIndex = 0;
    protocol::PMYSQL_RES FSQLResultNext = nullptr;
    int FRowsAffectedNext = -1;
    bool FIsCanFastClose = false;
    std::atomic<bool> FWaitForBreak = false;  // set by BreakFetch from another thread
    bool FFetchBroken = false;
    std::vector<TMyStatementResult> FResults;
    int FCurrentResult = -1;
    int FNextResult = -1;  // the index in FResults of FSQLResultNext
    std::unique_ptr<TMySQLConnection> FAdditional;  // runs the query while rows are pending
    TMySQLConnection* FConnectionSwap = nullptr;     // the own connection meanwhile
    std::vector<TConv> FConv;                         // per descriptor
    mutable TConnectionValues FValues;
    std::u16string FWide;                             // scratch for UTF-16 text
};

}  // namespace calvoro::dac
