#pragma once
// The component level of the data-access layer: the generic connection and command
// components, parameters and macros, and the data set of a connection: an SQL text with
// parameters and macros (held by an internal command), options, opening, executing,
// refreshing and fetching through a driver record set, the rows-affected bookkeeping, the SQL
// text helpers, and the link to the update machinery (the data-set service) that writes edited
// rows back.

#include "CRAccess.h"
#include "FieldTypes.h"
#include "MemDS.h"
#include "common/Strings.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace calvoro::sqltext {
class TParser;
}

namespace calvoro::dac {

class TCustomDAConnection;

// --- Parameters ---

class TDAParam {
public:
    explicit TDAParam(const QString& name = QString(), TFieldType dataType = ftUnknown,
                      TParamType paramType = ptUnknown)
        : FName(name), FDataType(dataType), FParamType(paramType) {}

    const QString& Name() const { return FName; }
    void SetName(const QString& value) { FName = value; }
    TFieldType DataType() const { return FDataType; }
    void SetDataType(TFieldType value) { FDataType = value; }
    TParamType ParamType() const { return FParamType; }
    void SetParamType(TParamType value) { FParamType = value; }
    bool Bound() const { return FBound; }
    void SetBound(bool value) { FBound = value; }
    int32_t Size() const { return FSize; }
    void SetSize(int32_t value) { FSize = value; }
    uint16_t SubDataType() const { return FSubDataType; }
    void SetSubDataType(uint16_t value) { FSubDataType = value; }
    bool National() const { return FNational; }
    void SetNational(bool value) { FNational = value; }

    const Variant& Value() const { return FValue; }
    // Stores a value; a parameter without a type takes the type of the value.
    void SetValue(const Variant& value);
    bool IsNull() const { return FValue.IsNullOrEmpty(); }
    // Makes the value NULL, keeping the type.
    void Clear();

    // Typed setters: each sets the field type and the value, and marks the parameter bound.
    void SetAsString(const QString& value);  // always a wide string (ftWideString)
    void SetAsInteger(int32_t value);
    void SetAsLargeInt(int64_t value);
    void SetAsFloat(double value);
    void SetAsCurrency(double value);
    void SetAsBoolean(bool value);
    void SetAsDate(TDateTime value);
    void SetAsTime(TDateTime value);
    void SetAsDateTime(TDateTime value);
    void SetAsBytes(const QByteArray& value);  // ftVarBytes
    void SetAsBlob(const QByteArray& value);   // ftBlob
    void SetAsMemo(const QString& value);      // ftMemo
    void SetAsWideMemo(const QString& value);  // ftWideMemo

    QString AsString() const { return FValue.IsNull() ? QString() : FValue.AsString(); }

    // Copies name, type, kind, size and value.
    void Assign(const TDAParam& source);

private:
    void Set(TFieldType type, const Variant& value);

    QString FName;
    TFieldType FDataType;
    TParamType FParamType;
    bool FBound = false;
    Variant FValue;
    int32_t FSize = 0;
    uint16_t FSubDataType = 0;
    bool FNational = false;
};

class TDAParams {
public:
    int Count() const { return int(FItems.size()); }
    TDAParam& operator[](int index) { return *FItems.at(size_t(index)); }
    const TDAParam& operator[](int index) const { return *FItems.at(size_t(index)); }
    TDAParam& Add(const QString& name, TFieldType dataType = ftUnknown, TParamType paramType = ptUnknown);
    void Clear() { FItems.clear(); }

    // The first parameter of that name (letter case ignored); raises "Parameter '%s' not found".
    TDAParam& ParamByName(const QString& name);
    TDAParam* FindParam(const QString& name);
    // Gives every parameter whose name is in `source` the value and type it had there.
    void AssignValues(const TDAParams& source);

    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

private:
    std::vector<std::unique_ptr<TDAParam>> FItems;
};

// --- Macros: "&name" in SQL text, replaced by the macro's value ---

class TMacros;

class TMacro {
public:
    TMacro(TMacros* owner, const QString& name) : FOwner(owner), FName(name) {}
    const QString& Name() const { return FName; }
    const QString& Value() const { return FValue; }
    bool Active() const { return FActive; }
    // A change re-assembles the owning command's text.
    void SetValue(const QString& value);
    void SetActive(bool value);

private:
    friend class TMacros;
    TMacros* FOwner;
    QString FName;
    QString FValue;
    bool FActive = true;
    bool FAssigned = false;  // given a value, not only found in a text
};

class TMacros {
public:
    using TParserFactory = std::function<std::unique_ptr<sqltext::TParser>(const QString&)>;
    explicit TMacros(TParserFactory parserClass) : FParserClass(std::move(parserClass)) {}
    TMacros(const TMacros&) = delete;
    TMacros& operator=(const TMacros&) = delete;

    int Count() const { return int(FItems.size()); }
    TMacro& operator[](int index) { return FItems.at(size_t(index)); }
    // Letter case ignored; raises "Macro %s not found".
    TMacro& MacroByName(const QString& name);
    TMacro* FindMacro(const QString& name);

    // Finds the "&name" references of text: known names keep their macro, new ones get an
    // empty active macro; the list changes only when the names or their order do.
    void Scan(const QString& text);
    // Replaces every "&name" by the macro's value (nothing for an inactive or missing macro).
    // With definedOnly, a reference is replaced only by a macro that was given a value
    // (SetValue); any other "&name" stays as written.
    QString Expand(const QString& text, bool definedOnly = false) const;

    void SetParserClass(TParserFactory parserClass) { FParserClass = std::move(parserClass); }

    // Called when a macro's value or active flag changes.
    std::function<void()> OnChange;

private:
    friend class TMacro;
    TParserFactory FParserClass;
    std::vector<TMacro> FItems;
};

// --- Connection ---

// What a command or data set bound to a connection learns from it.
class TDAConnectionClient {
public:
    virtual ~TDAConnectionClient() = default;
    // The connection opened (true) or is closing (false); data sets close then.
    virtual void ConnectChange(bool connecting) { (void)connecting; }
    // A new driver connection replaced the old one.
    virtual void SetIConnection(TCRConnection* connection) { (void)connection; }
    // The connection is being destroyed: a client that outlives it forgets it.
    virtual void ConnectionFreed() { SetIConnection(nullptr); }
    // Whether this client keeps the connection from reconnecting silently after it was lost
    // while `failing` ran an operation for `cause`.
    virtual bool PreventsReconnect(const TComponent* failing, TConnLostCause cause) const {
        (void)failing;
        (void)cause;
        return false;
    }
};

// The login dialog: edits the connection's login values and connects through PerformConnect,
// retrying as it sees fit. Execute answers whether the connection is open.
class TCustomConnectDialog {
public:
    virtual ~TCustomConnectDialog() = default;
    virtual bool Execute() = 0;
    TCustomDAConnection* Connection() const { return FConnection; }
    void SetConnection(TCustomDAConnection* connection) { FConnection = connection; }

protected:
    TCustomDAConnection* FConnection = nullptr;
};

class TDAConnectionOptions {
public:
    bool KeepDesignConnected = true;
    bool DisconnectedMode = false;
    bool LocalFailover = false;
    int DefaultSortType = 0;
};

class TCustomDAConnection : public TComponent {
public:
    using TNotifyEvent = std::function<void(TCustomDAConnection* sender)>;
    using TErrorEvent = std::function<void(TCustomDAConnection* sender, EDAError& e, bool& fail)>;
    using TConnectionLostEvent = std::function<void(TCustomDAConnection* sender, TComponent* component,
                                                    TConnLostCause cause, TRetryMode& retryMode)>;

    TCustomDAConnection();
    ~TCustomDAConnection() override;
    TCustomDAConnection(const TCustomDAConnection&) = delete;
    TCustomDAConnection& operator=(const TCustomDAConnection&) = delete;

    // Opening and closing.
    bool GetConnected() const;
    void SetConnected(bool value);
    void Connect() { SetConnected(true); }
    void Disconnect() { SetConnected(false); }
    // Whether the server ended the session while it was idle (see TCRConnection::PeerClosed).
    bool PeerClosed() const;
    // The open itself, without a prompt (the login dialog calls it once per attempt).
    void PerformConnect(bool retry = false);
    // Ends a connect of this connection that is under way, at once; safe from another thread
    // (and from the windows' thread while it waits for the connect). The connect fails with
    // the driver's error for a cancelled connect.
    void BreakConnect();
    // The pair around every command execution and data-set open: connects on demand.
    void InternalConnect();
    void InternalDisconnect();
    // Runs work between InternalConnect and InternalDisconnect, also when it raises.
    void WhileConnected(const std::function<void()>& work);

    const QString& Username() const { return FUsername; }
    const QString& Password() const { return FPassword; }
    const QString& Server() const { return FServer; }
    // A changed value closes the connection first.
    void SetUsername(const QString& value);
    void SetPassword(const QString& value);
    void SetServer(const QString& value);

    bool LoginPrompt() const { return FLoginPrompt; }
    void SetLoginPrompt(bool value) { FLoginPrompt = value; }
    TCustomConnectDialog* ConnectDialog() const { return FConnectDialog; }
    void SetConnectDialog(TCustomConnectDialog* dialog) { FConnectDialog = dialog; }
    bool ConvertEOL() const { return FConvertEOL; }
    void SetConvertEOL(bool value);
    TDAConnectionOptions& Options() { return FOptions; }

    // Runs one statement; with parameter values through the internal command.
    virtual void ExecSQL(const QString& text, const std::vector<Variant>& params = {}) = 0;

    // An explicit transaction: StartTransaction, then Commit or Rollback. The connection is
    // held open in between. Inside one, a lost connection is never restored silently: the
    // statements after the loss would run on a new session, outside the transaction the
    // server rolled back with the old one.
    // Raises "A transaction is already open" inside one.
    void StartTransaction();
    // Ends the transaction also when the statement fails (the server has ended it then).
    void Commit();
    // Without a connection (it was lost) there is nothing left to roll back: nothing is sent.
    void Rollback();
    // Inside a transaction this connection started, or one the server reported open after
    // the last statement (a START TRANSACTION or autocommit off in the statements run).
    bool InTransaction() const;

    // Raises "Cannot perform this operation on an open connection" when connected.
    void CheckConnectionInactive() const;

    TCRConnection* GetIConnection() const { return FIConnection.get(); }
    // Creates and configures the driver connection when there is none.
    void CreateIConnection();

    void RegisterClient(TDAConnectionClient* client);
    void UnregisterClient(TDAConnectionClient* client);
    void RegisterSQL(TDAConnectionClient* command);
    void UnregisterSQL(TDAConnectionClient* command);

    int ConnectCount() const { return FConnectCount; }

    TNotifyEvent BeforeConnect, AfterConnect, BeforeDisconnect, AfterDisconnect;
    TErrorEvent OnError;
    TConnectionLostEvent OnConnectionLost;

    // Operations that may be re-run after a silent reconnect (kept with LocalFailover only).
    void PushOperation(TConnLostCause operation, bool allowFailOver = true);
    void PopOperation();

protected:
    // The driver connection of this component's kind, not yet configured.
    virtual std::unique_ptr<TCRConnection> CreateIConnectionObject() = 0;
    // Pushes every setting into a new driver connection.
    virtual void AssignConnectProps(TCRConnection* connection);
    // The connect step: driver created, login values passed, driver Connect.
    virtual void DoConnect();
    virtual bool NeedPrompt() const { return FLoginPrompt; }
    // The registered login dialog kind, or none.
    virtual std::unique_ptr<TCustomConnectDialog> CreateConnectDialog() { return nullptr; }

    void DoError(EDAError& e, bool& fail, bool& reconnect, bool& reexecute, int retryCount,
                 TConnLostCause& connLostCause);
    TConnLostCause DetectConnLostCause(const TComponent* component) const;
    // A silent reconnect is allowed outside transactions only.
    bool IsFailOverAllowed() const { return !InTransaction(); }

private:
    void SetIConnection(std::unique_ptr<TCRConnection> connection);
    void NotifyClients(bool connecting);
    void DisconnectStep();

    QString FUsername, FPassword, FServer;
    bool FLoginPrompt = true;
    bool FConvertEOL = false;
    bool FInProcessError = false;
    bool FShouldShowPrompt = true;
    bool FDestroying = false;
    bool FInTransaction = false;  // between StartTransaction and Commit or Rollback
    int FConnectCount = 0;
    TCustomConnectDialog* FConnectDialog = nullptr;
    TDAConnectionOptions FOptions;
    std::unique_ptr<TCRConnection> FIConnection;
    mutable std::mutex hRegisterClient;
    std::vector<TDAConnectionClient*> FClients;  // data sets
    std::vector<TDAConnectionClient*> FSQLs;     // commands
    std::vector<std::pair<TConnLostCause, bool>> FOperationsStack;
};

// --- Command ---

class TCustomDASQL : public TComponent, public TDAConnectionClient {
public:
    using TAfterExecuteEvent = std::function<void(TCustomDASQL* sender, bool result)>;

    TCustomDASQL();
    ~TCustomDASQL() override;
    TCustomDASQL(const TCustomDASQL&) = delete;
    TCustomDASQL& operator=(const TCustomDASQL&) = delete;

    TCustomDAConnection* Connection() const { return FConnection; }
    void SetConnection(TCustomDAConnection* connection);

    // The statement text; every change re-assembles it (markers, macros).
    TStrings& SQL() { return FSQL; }
    TDAParams& Params() { return FParams; }
    TMacros& Macros() { return FMacros; }
    bool ParamCheck() const { return FParamCheck; }
    void SetParamCheck(bool value);

    TDAParam& ParamByName(const QString& name) { return FParams.ParamByName(name); }
    TDAParam* FindParam(const QString& name) { return FParams.FindParam(name); }
    TMacro& MacroByName(const QString& name) { return FMacros.MacroByName(name); }
    TMacro* FindMacro(const QString& name) { return FMacros.FindMacro(name); }

    // Runs the statement; a command still executing ignores it.
    void Execute(int iters = 1);
    // Runs text exactly as given, byte for byte in the connection's encoding: neither macros
    // nor parameter markers are looked for, and the SQL lines stay as they are.
    void ExecuteText(const QString& text);
    bool Executing() const;
    // The text sent: lines joined with CR LF, trailing blanks and control characters cut
    // off, macros expanded.
    QString FinalSQL() const;
    // Affected rows of the last execution as the server reported them (0 when none).
    virtual int RowsAffected() const = 0;
    int64_t LastInsertId() const { return FLastInsertId; }

    // Stops a running statement; meant for a second thread.
    virtual void BreakExec() = 0;
    void Prepare();
    void UnPrepare();
    bool Prepared() const;

    TAfterExecuteEvent AfterExecute;
    // The data set that owns this command learns of every change of the text here (it closes).
    std::function<void()> FOnSQLChanged;

    // The parameters as the driver takes them (the copy every execution makes).
    void WriteParamsTo(std::vector<TParamDesc>& descs) const;

    TCRCommand* GetICommand() const { return FICommand.get(); }

    // TDAConnectionClient
    void ConnectionFreed() override;
    void SetIConnection(TCRConnection* connection) override;
    bool PreventsReconnect(const TComponent* failing, TConnLostCause cause) const override;

protected:
    virtual std::unique_ptr<TCRCommand> CreateICommandObject() = 0;
    // Creates the driver command when a connection is set and there is none.
    void CheckICommand();
    // Re-assembles the statement after a change of the text.
    virtual void SQLChanged();
    // Copies the parameters into the driver command's descriptions.
    void WriteParams();
    virtual void AssembleSQL();
    // Runs the driver command once load() has given it its text, again after a lost and
    // restored connection; with the connection use and the after-execute event around it.
    void Run(const std::function<void()>& load, int iters);

    TCustomDAConnection* FConnection = nullptr;
    std::unique_ptr<TCRCommand> FICommand;
    TStrings FSQL;
    TDAParams FParams;
    TMacros FMacros;
    bool FParamCheck = true;
    bool FLockMacros = false;
    bool FLockAssembleSQL = false;
    bool FRawText = false;  // the driver command holds a text of ExecuteText
    int64_t FLastInsertId = 0;
};

// --- Data sets ---
class TCustomDADataSet;

enum TRefreshOption : uint8_t { roAfterInsert = 1, roAfterUpdate = 2, roBeforeEdit = 4 };
enum TLockMode { lmNone, lmPessimistic, lmOptimistic };
enum TLockRecordTypeI { ilrImmediately, ilrDelayed };

// The options of a data set. Those that change the record layout may only change while the
// data set is closed; each goes to the record set at once.
class TDADataSetOptions {
public:
    explicit TDADataSetOptions(TCustomDADataSet* owner) : FOwner(owner) {}
    virtual ~TDADataSetOptions() = default;

#define CALVORO_OPTION(Type, Name, Default)                   \
public:                                                        \
    Type Name() const { return F##Name; }                      \
    void Set##Name(Type value);                                \
                                                               \
protected:                                                     \
    Type F##Name = Default;

    CALVORO_OPTION(bool, AutoPrepare, false)
    CALVORO_OPTION(bool, QuoteNames, false)
    CALVORO_OPTION(bool, StrictUpdate, true)
    CALVORO_OPTION(bool, QueryRecCount, false)
    CALVORO_OPTION(bool, LongStrings, true)
    CALVORO_OPTION(bool, FlatBuffers, false)
    CALVORO_OPTION(bool, TrimFixedChar, true)
    CALVORO_OPTION(bool, TrimVarChar, false)
    CALVORO_OPTION(bool, RemoveOnRefresh, true)
    CALVORO_OPTION(bool, RequiredFields, true)
    CALVORO_OPTION(bool, SetFieldsReadOnly, true)
    CALVORO_OPTION(bool, FieldsOrigin, true)
    CALVORO_OPTION(bool, DefaultValues, false)
    CALVORO_OPTION(bool, UpdateAllFields, false)
    CALVORO_OPTION(bool, FullRefresh, false)
    CALVORO_OPTION(bool, LocalMasterDetail, false)
    CALVORO_OPTION(bool, NumberRange, false)
    CALVORO_OPTION(TCompressBlobMode, CompressBlobMode, cbNone)
    CALVORO_OPTION(int, UpdateBatchSize, 1)
    CALVORO_OPTION(int, DetailDelay, 0)
#undef CALVORO_OPTION

protected:
    TCustomDADataSet* FOwner;
};

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

// Builds the statements that write one row back.
class TDASQLGenerator {
public:
    virtual ~TDASQLGenerator() = default;
    // modifiedOnly: INSERT leaves out NULL values, UPDATE writes only changed fields.
    virtual TGeneratedSQL Generate(TStatementType type, const TGeneratorInput& input, bool modifiedOnly) const = 0;
};

// Writes edited rows back: chooses each statement's text, runs it, checks how many rows it hit
// and copies values back into the row.
class TDADataSetUpdater {
public:
    explicit TDADataSetUpdater(TCustomDADataSet& dataSet) : FDataSet(dataSet) {}
    virtual ~TDADataSetUpdater() = default;

    // The writes, called before the record store changes memory; an exception leaves it as it
    // was. record is the new values (the row being posted); the old ones are the store's
    // current row.
    virtual void PerformInsert(TRecBuf record) = 0;
    virtual void PerformUpdate(TRecBuf record) = 0;
    virtual void PerformDelete() = 0;
    // Re-reads the current row; false when the server no longer has it.
    virtual bool PerformRefreshRecord() = 0;
    // Before an edit (re-read, pessimistic lock) and after it ends.
    virtual void BeforeEdit() = 0;
    virtual void AfterEditEnded(bool posted) = 0;
    // Applies the cached change of the store's current row.
    virtual void PerformApplyRecord(TItemStatus kind) = 0;

protected:
    TCustomDADataSet& FDataSet;
};

// Decides which table a result updates and which of its fields identify a row and carry data;
// owns the generator and the updater that write edited rows back.
class TDADataSetService {
public:
    explicit TDADataSetService(TCustomDADataSet& dataSet) : FDataSet(dataSet) {}
    virtual ~TDADataSetService() = default;

    // After the result's fields were made: the updating table, the identity and timestamp
    // fields, which fields may be written.
    virtual void AfterOpen() = 0;
    // The fields changed or went: cached lists are dropped.
    virtual void ClearFieldsInfo() = 0;
    // Whether a change of any field can be written to the updating table.
    virtual bool CanWrite() const = 0;
    // The key fields' names (for finding the row again after a refresh).
    virtual QStringList KeyFieldNames() = 0;
    virtual TDADataSetUpdater& Updater() = 0;
    virtual const TDASQLGenerator& SQLGenerator() const = 0;

protected:
    TCustomDADataSet& FDataSet;
};

class TCustomDADataSet : public TMemDataSet, public TDAConnectionClient {
public:
    using TFetchEvent = std::function<void(TCustomDADataSet* sender, bool& cancel)>;
    using TAfterExecuteEvent = std::function<void(TCustomDADataSet* sender, bool result)>;

    TCustomDADataSet();
    ~TCustomDADataSet() override;

    TCustomDAConnection* Connection() const { return FConnection; }
    void SetConnection(TCustomDAConnection* connection);

    // The SQL text: a change closes and unprepares the data set.
    TStrings& SQL() { return Command().SQL(); }
    TDAParams& Params() { return Command().Params(); }
    TMacros& Macros() { return Command().Macros(); }
    TDAParam& ParamByName(const QString& name) { return Command().ParamByName(name); }
    TDAParam* FindParam(const QString& name) { return Command().FindParam(name); }
    TMacro& MacroByName(const QString& name) { return Command().MacroByName(name); }
    bool ParamCheck() const { return FCommand->ParamCheck(); }
    void SetParamCheck(bool value) { FCommand->SetParamCheck(value); }
    TDADataSetOptions& Options() { return *FOptions; }

    int FetchRows() const { return FFetchRows; }
    // 1..10000 ("FetchRows must be 1..10000"), closed data sets only.
    void SetFetchRows(int value);
    bool FetchAll() const { return FFetchAll; }
    // True turns UniDirectional off and, on an open data set, reads the remaining rows.
    void SetFetchAll(bool value);
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool value);
    bool UniDirectional() const { return FUniDirectional; }
    // Closed data sets only; true turns FetchAll off.
    void SetUniDirectional(bool value);
    uint8_t RefreshOptions() const { return FRefreshOptions; }
    void SetRefreshOptions(uint8_t value) { FRefreshOptions = value; }
    TLockMode LockMode() const { return FLockMode; }
    void SetLockMode(TLockMode value) { FLockMode = value; }
    // Field names (";"-separated) that identify a row instead of the table's key.
    const QString& KeyFields() const { return FKeyFields; }
    void SetKeyFields(const QString& value);
    // The table edits are written to (name or alias); empty: the first table of the query.
    const QString& UpdatingTable() const { return FUpdatingTable; }
    void SetUpdatingTable(const QString& value);
    // Statement texts used instead of the generated ones.
    TStrings& SQLInsert() { return FSQLInsert; }
    TStrings& SQLUpdate() { return FSQLUpdate; }
    TStrings& SQLDelete() { return FSQLDelete; }
    TStrings& SQLRefresh() { return FSQLRefresh; }
    TStrings& SQLLock() { return FSQLLock; }

    // Runs the text: rows leave the data set open on them, anything else leaves it closed.
    void Execute();
    // Runs text exactly as given instead of the SQL text (no macros, no parameter markers).
    void ExecuteText(const QString& text);
    void ExecSQL() { Execute(); }
    bool Executing() const;
    bool Fetched() const;
    // A server-side prepared statement, holding the connection until unprepared.
    void Prepare();
    void UnPrepare();
    bool Prepared() const;
    // Re-reads the current row; with RemoveOnRefresh a row the server no longer has goes.
    void RefreshRecord();
    // -1 after rows were opened; the count of the statement, or of the last generated
    // INSERT, UPDATE or DELETE.
    int RowsAffected() const { return FRowsAffected; }
    bool IsQuery();
    int64_t LastInsertId() const { return FLastInsertId; }
    int RecordCount() const override;
    bool CanModify() const override;

    // SQL text helpers.
    void SaveSQL();
    void RestoreSQL();
    bool SQLSaved() const { return !FBaseSQL.isEmpty(); }
    QString BaseSQL() const;
    // The text sent: macros expanded, FilterSQL added.
    QString FinalSQL() const;
    void AddWhere(const QString& condition);
    void DeleteWhere();
    void SetOrderBy(const QString& fields);
    QString GetOrderBy() const;
    const QString& FilterSQL() const { return FFilterSQL; }
    // Stored trimmed; an open data set opens again with it (the old value comes back when that
    // fails).
    void SetFilterSQL(const QString& value);

    // The rows-affected count of a write the updater ran.
    void SetRowsAffected(int value) { FRowsAffected = value; }
    void SetLastInsertId(int64_t value) { FLastInsertId = value; }
    TCRRecordSet& RecordSet() const { return static_cast<TCRRecordSet&>(*FData); }
    TDADataSetService& Service() const { return *FService; }
    TCustomDASQL& Command() { return *FCommand; }
    const TCustomDASQL& Command() const { return *FCommand; }
    // Quotes an identifier as generated statements do (always with QuoteNames, else when
    // needed).
    virtual QString QuoteName(const QString& name) const = 0;

    // Takes and gives back one use of the connection around server work.
    void StartConnectionUse();
    void EndConnectionUse();

    // TDAConnectionClient
    void ConnectChange(bool connecting) override;
    void ConnectionFreed() override;
    void SetIConnection(TCRConnection* connection) override;
    bool PreventsReconnect(const TComponent* failing, TConnLostCause cause) const override;

    TFetchEvent BeforeFetch;
    std::function<void(TCustomDADataSet* sender)> AfterFetch;
    TAfterExecuteEvent AfterExecute;

protected:
    // The MySQL flavour supplies the command, the record set, the options and the service.
    virtual std::unique_ptr<TCustomDASQL> CreateCommand() = 0;
    virtual std::unique_ptr<TCRRecordSet> CreateRecordSet() = 0;
    virtual std::unique_ptr<TDADataSetOptions> CreateOptions() = 0;
    virtual std::unique_ptr<TDADataSetService> CreateService() = 0;
    // SQL text rules of the dialect.
    virtual QString DialectAddWhere(const QString& sql, const QString& condition) const = 0;
    virtual QString DialectDeleteWhere(const QString& sql) const = 0;
    virtual QString DialectSetOrderBy(const QString& sql, const QString& fields) const = 0;
    virtual QString DialectGetOrderBy(const QString& sql) const = 0;
    virtual QString DialectCountQuery(const QString& sql) const = 0;
    // Runs a statement on this data set's connection and returns the first value of its
    // first row (a count).
    virtual int64_t QueryFirstValue(const QString& sql) = 0;
    // Makes the objects; the constructor of the most derived class calls it.
    void CreateComponents();

    // Before open and execute: checks and the text; a table builds its SELECT here.
    virtual void BeforeOpenCursor();
    // Passes every setting to the record set.
    virtual void PushRecordSetOptions();
    // Hands the final text and the parameter values to the record set's command.
    void WriteRecordSetCommand();

    void InternalOpen() override;
    void InternalClose() override;
    void InternalRefresh() override;
    void InternalEdit() override;
    void InternalPost() override;
    void InternalCancel() override;
    void CreateFields() override;

public:
    // Called by the options: a layout option may change only while closed.
    void CheckInactive() const;
    void RecordSetOptionChanged(int prop, const Variant& value);

protected:
    void SetSQLText(const QString& text);
    // The text was changed: forgets the base text, closes and unprepares.
    void SQLChanged();
    int64_t CountRecords();
    void InstallHooks();
    // A fetch that read rows may end the use of the connection taken for them.
    void FetchEnded();
    // Runs work; when the connection was lost during it and came back (an EFailOver for
    // cause), once more.
    void RunAgainAfterReconnect(TConnLostCause cause, const std::function<void()>& work);

    TCustomDAConnection* FConnection = nullptr;
    std::unique_ptr<TCustomDASQL> FCommand;
    std::unique_ptr<TDADataSetOptions> FOptions;
    std::unique_ptr<TDADataSetService> FService;
    int FFetchRows = 25;
    bool FFetchAll = false;
    bool FReadOnly = false;
    bool FUniDirectional = false;
    uint8_t FRefreshOptions = 0;
    TLockMode FLockMode = lmNone;
    QString FKeyFields;
    QString FUpdatingTable;
    TStrings FSQLInsert, FSQLUpdate, FSQLDelete, FSQLRefresh, FSQLLock;
    int FRowsAffected = -1;
    int64_t FRecordCount = 0;
    int64_t FLastInsertId = 0;
    QString FBaseSQL;
    QString FFilterSQL;
    bool FRestoringSQL = false;
    bool FPreparedUse = false;   // a connection use held while prepared
    bool FRowsUse = false;       // a connection use held while rows are unread
    std::atomic<bool> FExecuting = false;  // may be asked from another thread than the one executing
    std::optional<QString> FRawText;  // the text of ExecuteText while it runs
};

}  // namespace calvoro::dac
