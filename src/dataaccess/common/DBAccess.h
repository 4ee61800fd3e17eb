#pragma once
// The component level of the data-access layer: the generic connection and command
// components, parameters and macros.

#include "CRAccess.h"
#include "FieldTypes.h"
#include "common/Strings.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>
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
    QString Expand(const QString& text) const;

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
    // The open itself, without a prompt (the login dialog calls it once per attempt).
    void PerformConnect(bool retry = false);
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
    bool IsFailOverAllowed() const { return true; }  // no explicit transactions are kept open

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

    TCRCommand* GetICommand() const { return FICommand.get(); }

    // TDAConnectionClient
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

    TCustomDAConnection* FConnection = nullptr;
    std::unique_ptr<TCRCommand> FICommand;
    TStrings FSQL;
    TDAParams FParams;
    TMacros FMacros;
    bool FParamCheck = true;
    bool FLockMacros = false;
    bool FLockAssembleSQL = false;
    int64_t FLastInsertId = 0;
};

}  // namespace calvoro::dac
