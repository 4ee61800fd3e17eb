#pragma once
// The driver level of the data-access layer: the abstract driver connection and command that
// the components drive, the parameter descriptions they exchange, the property identifiers of
// SetProp/GetProp, and the layer's error classes.

#include "DataTypes.h"
#include "MemData.h"
#include "common/Exceptions.h"
#include "common/Variant.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace calvoro::dac {

// Anything an error can name as the failing party: connections, commands, data sets.
class TComponent {
public:
    virtual ~TComponent() = default;
    QString Name;
};

// An error of the data-access layer: the server's or client's error code and the component
// whose operation failed.
class EDAError : public EDatabaseError {
public:
    EDAError(int errorCode, const QString& message, TComponent* component = nullptr)
        : EDatabaseError(message), FErrorCode(errorCode), FComponent(component) {}
    int ErrorCode() const { return FErrorCode; }
    TComponent* Component() const { return FComponent; }
    void SetComponent(TComponent* component) { FComponent = component; }
    virtual bool IsFatalError() const { return false; }
    virtual bool IsKeyViolation() const { return false; }

private:
    int FErrorCode;
    TComponent* FComponent;
};

// What an operation was doing when the connection was lost.
enum TConnLostCause {
    clUnknown, clExecute, clOpen, clRefresh, clApply, clServiceQuery, clTransStart,
    clConnectionApply, clConnect,
};

enum TRetryMode { rmRaise, rmReconnect, rmReconnectExecute };

// Raised after a silent reconnect to make the interrupted operation run again; it never
// reaches the application.
class EFailOver : public Exception {
public:
    explicit EFailOver(TConnLostCause cause)
        : Exception(QStringLiteral("Connection lost")), FConnLostCause(cause) {}
    TConnLostCause FConnLostCause;
};

// Property identifiers of SetProp/GetProp.
enum TPropId : int {
    // Connections.
    prAutoCommit = 1, prConvertEOL, prDisconnectedMode, prEnableBCD, prEnableFMTBCD,
    prDefaultSortType, prDatabase, prPort, prConnectionTimeout, prCompress, prCharset,
    prProtocol, prUseUnicode, prEmbParams, prSSL_Chipher, prSSL_CA, prSSL_Key, prSSL_Cert,
    prEmbedded, prDirect, prCheckPrecision, prOptimizedBigInt, prCheckBackslashes,
    prNullForZeroDelphiDate, prNeedBackslashes, prLastInsertId,
    prSSL_Mode, prSSL_CAPath, prServerPublicKey, prGetServerPublicKey, prMaxAllowedPacket,
    prUnixSocket, prReadOnlySession,
    // Commands.
    prCommandTimeout = 100, prRowsAffected, prCompressBlobMode, prQuoteNames, prDisableParamScan,
    // Record sets.
    prFetchRows = 200, prFetchAll, prLongStrings, prFlatBuffers, prUniDirectional, prReadOnly,
    prFieldsAsString, prNullForZeroDate, prEnableBoolean, prBinaryAsString, prCreateConnection,
    prUseHandler, prOpenNext,
};

enum TParamType { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

// The driver's copy of a parameter.
struct TParamDesc {
    QString FName;
    TDataType FDataType = dtUnknown;
    uint16_t FSubDataType = 0;
    TParamType FParamType = ptUnknown;
    int32_t FSize = 0;
    Variant FData;
    bool FIsNull = true;
    bool FIsBound = true;
    bool FConvertEOL = false;
    bool FNational = false;

    // Stores a value; an empty or NULL value makes the parameter NULL.
    void SetValue(const Variant& value) {
        FData = value;
        FIsNull = value.IsNullOrEmpty();
    }
};

enum TCursorState {
    csInactive, csOpen, csParsed, csPrepared, csBound, csExecuteFetchAll, csExecuting,
    csExecuted, csFetching, csFetchingAll, csFetched,
};

// Hooks the GUI layer installs at start-up, so that this layer needs no widgets: a wait
// indication around every statement and connect (StartWait before, StopWait after, also when
// the work fails; any thread may call them), and the application title that per-application
// settings are named after. Empty until set.
std::function<void()>& StartWaitProc();
std::function<void()>& StopWaitProc();
std::function<QString()>& ApplicationTitleProc();
void StartWait();
void StopWait();
// The hook that runs the blocking step of a connect (the login itself): the GUI layer runs it
// on a worker thread while the windows go on; empty: in the calling thread. RunConnectStep
// calls it; the work raises what it raises, on the caller's thread.
std::function<void(const std::function<void()>& work)>& ConnectRunnerProc();
void RunConnectStep(const std::function<void()>& work);
// The title ApplicationTitleProc gives, or the program's own without one.
QString DAApplicationTitle();

class TCRConnection {
public:
    // The component's error hook: may silence the error (fail := false), ask for a reconnect
    // and for re-running the interrupted operation.
    using TErrorProc = std::function<void(EDAError& e, bool& fail, bool& reconnect, bool& reexecute,
                                          int retryCount, TConnLostCause& connLostCause)>;

    virtual ~TCRConnection() = default;

    virtual void Connect(const QString& connectString) = 0;
    virtual void Disconnect() = 0;
    virtual QString GetServerVersion() const = 0;
    virtual QString GetServerVersionFull() const = 0;
    virtual QString GetClientVersion() const = 0;
    // Ends a connect under way at once, from any thread: it then fails with its driver's
    // error for a cancelled connect. Nothing happens when no connect runs.
    virtual void BreakConnect() {}
    // Two pings in a row must succeed; the result is also kept as IsValid.
    virtual bool CheckIsValid() = 0;
    // Without a round trip: whether the server ended this idle session (closed it, or sent
    // what it sends only when it does, such as the notice of a KILL). Only for a session that
    // runs nothing.
    virtual bool PeerClosed() { return false; }
    virtual bool CanChangeDatabase() const { return true; }
    // Whether the server reported the session inside a transaction after the last statement.
    virtual bool InTransaction() const { return false; }
    // Settings by identifier; an identifier no class in the chain knows is an internal error.
    virtual void SetProp(int prop, const Variant& value);
    virtual bool GetProp(int prop, Variant& value) const;

    void SetUsername(const QString& value) { FUsername = value; }
    void SetPassword(const QString& value) { FPassword = value; }
    void SetServer(const QString& value) { FServer = value; }
    const QString& Username() const { return FUsername; }
    const QString& Password() const { return FPassword; }
    const QString& Server() const { return FServer; }

    bool GetConnected() const { return FConnected; }
    bool IsValid() const { return FIsValid; }
    void SetIsValid(bool value) { FIsValid = value; }
    bool Reconnected() const { return FReconnected; }
    bool InProcessError() const { return FInProcessError; }
    int64_t ConnectionTime() const { return FConnectionTime; }

    // Runs the error hook and the reconnect loop for an error about to be raised.
    void ProcessError(EDAError& e, bool& fail);

    TErrorProc FOnError;
    std::function<void()> FOnReconnectError;    // the reconnect failed: close the component
    std::function<void()> FOnReconnectSuccess;  // the reconnect worked: AfterConnect
    TComponent* FComponent = nullptr;           // the owning component, named in errors

protected:
    int64_t FConnectionTime = 0;
    // Written by whichever thread runs the connection's work, read by the window's idle check.
    std::atomic<bool> FConnected = false;
    bool FNativeConnection = true;
    QString FUsername, FPassword, FServer;
    bool FAutoCommit = true;
    bool FConvertEOL = false;
    bool FIsValid = false;
    bool FDisconnectedMode = false;
    bool FEnableBCD = false;
    bool FEnableFMTBCD = false;
    bool FInProcessError = false;
    bool FReconnected = false;
    int FDefaultSortType = 0;
};

class TCRCommand {
public:
    virtual ~TCRCommand() = default;

    virtual void SetConnection(TCRConnection* connection) { FConnection = connection; }
    TCRConnection* Connection() const { return FConnection; }

    // Takes the component's text: nothing happens when it equals the last one; otherwise the
    // markers are parsed (unless parameter scanning is disabled) and the parameter list is
    // rebuilt.
    virtual void SetSQL(const QString& sql);
    // Takes a text to be sent exactly as it is: no markers are looked for, no parameters kept.
    virtual void SetRawSQL(const QString& sql);
    const QString& SQL() const { return FSQL; }
    const QString& UserSQL() const { return FUserSQL; }

    // Server-side prepared execution; drivers that have it override both.
    virtual void Prepare();
    virtual void Unprepare() {}
    virtual bool GetPrepared() const { return false; }
    virtual void Execute(int iters = 1) = 0;
    virtual TCursorState GetCursorState() const = 0;
    virtual void SetCursorState(TCursorState value) = 0;

    virtual void SetProp(int prop, const Variant& value);
    virtual bool GetProp(int prop, Variant& value) const;

    bool Executing() const { return FExecuting.load(); }
    std::vector<TParamDesc>& Params() { return FParams; }
    const std::vector<TParamDesc>& Params() const { return FParams; }

    TComponent* FComponent = nullptr;
    // Called after every execution with its success.
    std::function<void(bool)> FAfterExecute;
    bool FAutoCommit = true;
    bool FScanParams = true;

protected:
    // Replaces markers by "?" and fills FParams; the base keeps the text as it is.
    virtual QString ParseSQL(const QString& sql);

    TCRConnection* FConnection = nullptr;
    QString FSQL;       // the parsed text
    QString FUserSQL;   // the text as the component passed it
    std::vector<TParamDesc> FParams;
    std::atomic<bool> FExecuting = false;  // read by Stop from another thread
    bool FDisableParamScan = false;
    bool FQuoteNames = false;
    TCompressBlobMode FCompressBlob = cbNone;
};

// A table a result's columns come from: its name and the alias the statement gave it.
class TCRTableInfo {
public:
    QString TableName;   // unquoted, without its database
    QString TableAlias;  // empty without an alias
    QString Database;    // empty when the statement did not say
    int Index = 0;
    // The largest TIMESTAMP value read for the table (used by quick refreshes).
    TDateTime MaxTimestamp = 0;
};

class TCRTablesInfo {
public:
    int Count() const { return int(FItems.size()); }
    TCRTableInfo& operator[](int index) const { return *FItems.at(size_t(index)); }
    // The entry of that alias (or, without one, that name); a new entry when there is none.
    // A database given completes an entry that had none.
    TCRTableInfo& Add(const QString& tableName, const QString& alias, const QString& database = QString());
    TCRTableInfo* FindByName(const QString& tableName) const;
    TCRTableInfo* FindByAlias(const QString& alias) const;
    void Clear() { FItems.clear(); }

private:
    std::vector<std::unique_ptr<TCRTableInfo>> FItems;
};

// A field descriptor of a driver record set: where the column comes from.
class TCRFieldDesc : public TFieldDesc {
public:
    TCRTableInfo* FTableInfo = nullptr;
    QString FActualNameQuoted;
    QString FDefaultExpr;
    bool FIsAutoIncrement = false;
};

enum TCRCommandType { ctUnknown, ctStatement, ctCursor };

// The driver record set: a record store filled by running a command and reading its result
// block by block.
class TCRRecordSet : public TMemData {
public:
    TCRRecordSet();
    ~TCRRecordSet() override;

    virtual void SetConnection(TCRConnection* connection) = 0;
    virtual TCRCommand& GetCommand() = 0;
    // Runs the statement: a result makes the command type ctCursor, none ctStatement.
    virtual void ExecCommand() = 0;
    // Whether the statement returns rows.
    virtual bool RowsReturn() const { return FCommandType == ctCursor; }
    // Stops reading rows; the rest are drained.
    virtual void BreakFetch() {}
    // The connection is closing.
    virtual void Disconnect() {}
    virtual bool CanDisconnect() const { return !FActive || AllFetched(); }
    virtual bool IsCaseSensitive() const { return false; }
    virtual void SetProp(int prop, const Variant& value);
    virtual bool GetProp(int prop, Variant& value) const;

    // Reads every remaining row.
    void FetchAll();
    TCRCommandType CommandType() const { return FCommandType; }
    void SetCommandType(TCRCommandType value) { FCommandType = value; }
    TCRTablesInfo& TablesInfo() { return FTablesInfo; }
    bool Fetched() const { return AllFetched(); }
    // Reads the remaining rows first.
    void SetToEnd() override;

    // Rows per fetch block; read everything at open; keep only the current block.
    int FFetchRows = 25;
    bool FFetchAll = false;
    bool FLongStrings = true;
    bool FFlatBuffers = false;
    bool FUniDirectional = false;
    bool FReadOnly = false;
    bool FEnableBCD = false;
    bool FEnableFMTBCD = false;
    // The data set's hooks around each fetch block; before may cancel the fetch.
    std::function<void(bool& cancel)> FOnBeforeFetch;
    std::function<void()> FOnAfterFetch;
    // Named in errors (the data set).
    TComponent* FComponent = nullptr;

protected:
    void InternalOpen() override;
    void InternalClose() override;
    void InternalPrepare() override { PrepareCursor(); }
    void InternalUnPrepare() override { UnprepareCursor(); }
    TItemHeader* Fetch() override;
    bool AllFetched() const override { return FAllFetched; }

    // Execute (unless a prepared statement ran already), describe, read the first block or,
    // with FetchAll, every row.
    virtual void OpenCursor();
    virtual void CloseCursor() {}
    virtual void PrepareCursor() {}
    virtual void UnprepareCursor() {}
    // Reads up to FFetchRows rows into one block; true when rows were read. Sets FAllFetched
    // at the end of the rows.
    virtual bool FetchNextBlock() = 0;

    TCRCommandType FCommandType = ctUnknown;
    TCRTablesInfo FTablesInfo;
    bool FAllFetched = true;
    TItemHeader* FFirstFetched = nullptr;  // the first item of the last block read
};

}  // namespace calvoro::dac
