#include "DBAccess.h"

#include "common/ScopeGuard.h"
#include "sqltext/CRParser.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>

namespace calvoro::dac {

using sqltext::lexEnd;
using sqltext::lexIdent;

namespace {

// An identifier or a word of the lexer's keyword list.
bool IsWordLexeme(int code, const QString& lexeme) {
    if (code == lexIdent) return true;
    return code > 0 && !lexeme.isEmpty() && (lexeme[0].isLetter() || lexeme[0] == u'_');
}

}  // namespace

// --- TDAParam ---

void TDAParam::Set(TFieldType type, const Variant& value) {
    FDataType = type;
    FValue = value;
    FBound = true;
}

void TDAParam::SetValue(const Variant& value) {
    if (FDataType == ftUnknown) {
        switch (value.Type()) {
            case VarType::Integer: {
                const int64_t v = value.AsInt64();
                FDataType = (v >= INT32_MIN && v <= INT32_MAX) ? ftInteger : ftLargeint;
                break;
            }
            case VarType::Float: FDataType = ftFloat; break;
            case VarType::Currency: FDataType = ftCurrency; break;
            case VarType::DateTime: FDataType = ftDateTime; break;
            case VarType::Boolean: FDataType = ftBoolean; break;
            case VarType::String: FDataType = ftWideString; break;
            case VarType::Bytes: FDataType = ftBlob; break;
            default: break;
        }
    }
    FValue = value;
    FBound = true;
}

void TDAParam::Clear() { FValue = Variant::Null(); }

void TDAParam::SetAsString(const QString& value) { Set(ftWideString, value); }
void TDAParam::SetAsInteger(int32_t value) { Set(ftInteger, int(value)); }
void TDAParam::SetAsLargeInt(int64_t value) { Set(ftLargeint, Variant(value)); }
void TDAParam::SetAsFloat(double value) { Set(ftFloat, value); }
void TDAParam::SetAsCurrency(double value) { Set(ftCurrency, Variant::FromCurrency(value)); }
void TDAParam::SetAsBoolean(bool value) { Set(ftBoolean, value); }
void TDAParam::SetAsDate(TDateTime value) { Set(ftDate, Variant::FromDateTime(value)); }
void TDAParam::SetAsTime(TDateTime value) { Set(ftTime, Variant::FromDateTime(value)); }
void TDAParam::SetAsDateTime(TDateTime value) { Set(ftDateTime, Variant::FromDateTime(value)); }
void TDAParam::SetAsBytes(const QByteArray& value) { Set(ftVarBytes, value); }
void TDAParam::SetAsBlob(const QByteArray& value) { Set(ftBlob, value); }
void TDAParam::SetAsMemo(const QString& value) { Set(ftMemo, value); }
void TDAParam::SetAsWideMemo(const QString& value) { Set(ftWideMemo, value); }

void TDAParam::Assign(const TDAParam& source) { *this = source; }

// --- TDAParams ---

TDAParam& TDAParams::Add(const QString& name, TFieldType dataType, TParamType paramType) {
    FItems.push_back(std::make_unique<TDAParam>(name, dataType, paramType));
    return *FItems.back();
}

TDAParam* TDAParams::FindParam(const QString& name) {
    for (auto& p : FItems)
        if (p->Name().compare(name, Qt::CaseInsensitive) == 0) return p.get();
    return nullptr;
}

TDAParam& TDAParams::ParamByName(const QString& name) {
    if (TDAParam* p = FindParam(name)) return *p;
    throw EDatabaseError(QStringLiteral("Parameter '%1' not found").arg(name));
}

void TDAParams::AssignValues(const TDAParams& source) {
    for (auto& p : FItems) {
        for (const auto& s : source.FItems) {
            if (s->Name().compare(p->Name(), Qt::CaseInsensitive) != 0) continue;
            if (s->DataType() != ftUnknown) p->SetDataType(s->DataType());
            p->SetValue(s->Value());
            p->SetBound(s->Bound());
            break;
        }
    }
}

// --- TMacros ---

void TMacro::SetValue(const QString& value) {
    FAssigned = true;
    if (value == FValue) return;
    FValue = value;
    if (FOwner->OnChange) FOwner->OnChange();
}

void TMacro::SetActive(bool value) {
    if (value == FActive) return;
    FActive = value;
    if (FOwner->OnChange) FOwner->OnChange();
}

TMacro* TMacros::FindMacro(const QString& name) {
    for (auto& m : FItems)
        if (m.FName.compare(name, Qt::CaseInsensitive) == 0) return &m;
    return nullptr;
}

TMacro& TMacros::MacroByName(const QString& name) {
    if (TMacro* m = FindMacro(name)) return *m;
    throw EDatabaseError(QStringLiteral("Macro %1 not found").arg(name));
}

void TMacros::Scan(const QString& text) {
    if (!text.contains(u'&')) {
        FItems.clear();
        return;
    }
    std::vector<TMacro> found;
    auto parser = FParserClass(text);
    parser->FOmitBlank = false;
    parser->FUppered = false;  // macro names keep their letter case
    QString lexeme, name;
    int code;
    while ((code = parser->GetNext(lexeme)) != lexEnd) {
        if (lexeme != u"&") continue;
        const int next = parser->GetNext(name);
        if (next == lexEnd) break;
        if (!IsWordLexeme(next, name)) continue;
        if (std::any_of(found.begin(), found.end(), [&](const TMacro& m) {
                return m.FName.compare(name, Qt::CaseInsensitive) == 0;
            }))
            continue;
        const TMacro* known = FindMacro(name);
        found.push_back(known ? *known : TMacro(this, name));
    }
    const bool same = found.size() == FItems.size() &&
                      std::equal(found.begin(), found.end(), FItems.begin(),
                                 [](const TMacro& a, const TMacro& b) { return a.FName == b.FName; });
    if (!same) FItems = std::move(found);
}

QString TMacros::Expand(const QString& text, bool definedOnly) const {
    if (FItems.empty()) return text;
    if (definedOnly && std::none_of(FItems.begin(), FItems.end(), [](const TMacro& m) { return m.FAssigned; }))
        return text;
    auto parser = FParserClass(text);
    parser->FOmitBlank = false;
    parser->FOmitComment = false;
    parser->FUppered = false;
    QString result, lexeme, name;
    qint64 copied = 0;
    int code;
    while ((code = parser->GetNext(lexeme)) != lexEnd) {
        if (lexeme != u"&") continue;
        const qint64 ampersand = parser->PrevPos();
        const int next = parser->GetNext(name);
        if (next == lexEnd) break;
        if (!IsWordLexeme(next, name)) continue;  // copied as it stands, with what follows
        const TMacro* macro = nullptr;
        for (const TMacro& m : FItems)
            if (m.FName.compare(name, Qt::CaseInsensitive) == 0) {
                macro = &m;
                break;
            }
        if (definedOnly && (!macro || !macro->FAssigned)) continue;
        result += QStringView(text).mid(copied, ampersand - copied);
        if (macro && macro->FActive) result += macro->FValue;
        copied = parser->CurrPos();
    }
    result += QStringView(text).mid(copied);
    return result;
}

// --- TCustomDAConnection ---

TCustomDAConnection::TCustomDAConnection() = default;

TCustomDAConnection::~TCustomDAConnection() {
    FDestroying = true;
    try {
        Disconnect();
    } catch (const std::exception&) {
        // Closing for good: a failing close leaves nothing to report to.
    }
    std::lock_guard lock(hRegisterClient);
    for (TDAConnectionClient* c : FSQLs) c->ConnectionFreed();
    for (TDAConnectionClient* c : FClients) c->ConnectionFreed();
}

bool TCustomDAConnection::GetConnected() const { return FIConnection && FIConnection->GetConnected(); }

bool TCustomDAConnection::PeerClosed() const { return GetConnected() && FIConnection->PeerClosed(); }

void TCustomDAConnection::SetConnected(bool value) {
    if (value) {
        if (GetConnected()) return;
        ++FConnectCount;
        // The login window belongs to the windows' thread: work running on another thread
        // connects with the values the connection has.
        const QCoreApplication* application = QCoreApplication::instance();
        const bool windowsThread = !application || QThread::currentThread() == application->thread();
        if (NeedPrompt() && windowsThread) {
            std::unique_ptr<TCustomConnectDialog> temporary;
            TCustomConnectDialog* dialog = FConnectDialog;
            if (!dialog) {
                temporary = CreateConnectDialog();
                dialog = temporary.get();
            }
            if (dialog) {
                const int count = FConnectCount;
                dialog->SetConnection(this);
                bool ok = false;
                {
                    // PerformConnect added one more holder; the dialog's connect counts once,
                    // and a cancelled or failed dialog not at all.
                    ScopeExit settle([&] { FConnectCount = ok ? count : count - 1; });
                    ok = dialog->Execute();
                }
                if (!ok) Abort();
                return;
            }
        }
        // A failed connect gives back the count taken above.
        ScopeExit uncount([&] {
            if (!GetConnected()) --FConnectCount;
        });
        PerformConnect(false);
        uncount.Dismiss();
        // PerformConnect counted the open connection once more; the explicit connect holds it.
        --FConnectCount;
        return;
    }

    FInTransaction = false;  // the server rolls back what a closed session left open
    if (!GetConnected()) return;
    FConnectCount = 0;
    FShouldShowPrompt = true;
    if (BeforeDisconnect) BeforeDisconnect(this);
    std::exception_ptr pending;
    try {
        NotifyClients(false);
    } catch (const EDAError& e) {
        if (e.IsFatalError()) {
            try { NotifyClients(false); } catch (...) { pending = std::current_exception(); }
        } else {
            pending = std::current_exception();
        }
    } catch (...) {
        pending = std::current_exception();
    }
    try {
        DisconnectStep();
    } catch (const EDAError& e) {
        if (!(FDestroying && e.IsFatalError()) && !pending) pending = std::current_exception();
    }
    if (AfterDisconnect) AfterDisconnect(this);
    if (pending) std::rethrow_exception(pending);
}

void TCustomDAConnection::DisconnectStep() {
    if (FIConnection && FIConnection->GetConnected()) FIConnection->Disconnect();
}

void TCustomDAConnection::PerformConnect(bool retry) {
    if (GetConnected()) return;
    if (!retry && BeforeConnect) BeforeConnect(this);
    {
        PushOperation(clConnect);
        ScopeExit pop([&] { PopOperation(); });
        StartWait();
        ScopeExit stopWait([] { StopWait(); });
        DoConnect();
    }
    ++FConnectCount;
    NotifyClients(true);
    if (AfterConnect) AfterConnect(this);
}

void TCustomDAConnection::BreakConnect() {
    if (FIConnection) FIConnection->BreakConnect();
}

void TCustomDAConnection::DoConnect() {
    CreateIConnection();
    FIConnection->SetUsername(FUsername);
    FIConnection->SetPassword(FPassword);
    FIConnection->SetServer(FServer);
    FIConnection->Connect(QString());
}

void TCustomDAConnection::InternalConnect() {
    const bool loginPrompt = FLoginPrompt;
    FLoginPrompt = FLoginPrompt && FShouldShowPrompt;
    const int count = FConnectCount;
    ++FConnectCount;
    ScopeExit restore([&] {
        FLoginPrompt = loginPrompt;
        FShouldShowPrompt = !GetConnected();
    });
    // A failed connect holds the connection only when it was open already.
    ScopeExit uncount([&] { FConnectCount = GetConnected() ? count + 1 : count; });
    Connect();
    uncount.Dismiss();
}

void TCustomDAConnection::InternalDisconnect() {
    if (FConnectCount > 0) --FConnectCount;
    if (FConnectCount == 0 && FOptions.DisconnectedMode && GetConnected()) Disconnect();
    FShouldShowPrompt = false;
}

void TCustomDAConnection::WhileConnected(const std::function<void()>& work) {
    InternalConnect();
    ScopeExit release([&] { InternalDisconnect(); });
    work();
}

namespace {
// The statements of an explicit transaction, as MySQL and MariaDB spell them.
enum class TTransactionStep { Start, Commit, Rollback };
QString TransactionStatement(TTransactionStep step) {
    switch (step) {
        case TTransactionStep::Start: return QStringLiteral("START TRANSACTION");
        case TTransactionStep::Commit: return QStringLiteral("COMMIT");
        case TTransactionStep::Rollback: break;
    }
    return QStringLiteral("ROLLBACK");
}
}  // namespace

void TCustomDAConnection::StartTransaction() {
    if (FInTransaction) throw EDatabaseError(QStringLiteral("A transaction is already open"));
    InternalConnect();
    ScopeExit release([&] { InternalDisconnect(); });
    ExecSQL(TransactionStatement(TTransactionStep::Start));
    release.Dismiss();  // held until Commit or Rollback
    FInTransaction = true;
}

void TCustomDAConnection::Commit() {
    const bool held = FInTransaction;
    ScopeExit end([&] {
        FInTransaction = false;
        if (held) InternalDisconnect();
    });
    ExecSQL(TransactionStatement(TTransactionStep::Commit));
}

void TCustomDAConnection::Rollback() {
    const bool held = FInTransaction;
    ScopeExit end([&] {
        FInTransaction = false;
        if (held) InternalDisconnect();
    });
    if (GetConnected()) ExecSQL(TransactionStatement(TTransactionStep::Rollback));
}

bool TCustomDAConnection::InTransaction() const {
    return FInTransaction || (GetConnected() && FIConnection->InTransaction());
}

void TCustomDAConnection::SetUsername(const QString& value) {
    if (value == FUsername) return;
    Disconnect();
    FUsername = value;
}

void TCustomDAConnection::SetPassword(const QString& value) {
    if (value == FPassword) return;
    Disconnect();
    FPassword = value;
}

void TCustomDAConnection::SetServer(const QString& value) {
    if (value == FServer) return;
    Disconnect();
    FServer = value;
}

void TCustomDAConnection::SetConvertEOL(bool value) {
    FConvertEOL = value;
    if (FIConnection) FIConnection->SetProp(prConvertEOL, value);
}

void TCustomDAConnection::CheckConnectionInactive() const {
    if (GetConnected())
        throw EDatabaseError(QStringLiteral("Cannot perform this operation on an open connection"));
}

void TCustomDAConnection::CreateIConnection() {
    if (FIConnection) return;
    auto connection = CreateIConnectionObject();
    AssignConnectProps(connection.get());
    SetIConnection(std::move(connection));
}

void TCustomDAConnection::AssignConnectProps(TCRConnection* connection) {
    connection->SetProp(prAutoCommit, true);
    connection->SetProp(prConvertEOL, FConvertEOL);
    connection->SetProp(prDisconnectedMode, FOptions.DisconnectedMode);
    connection->SetProp(prDefaultSortType, FOptions.DefaultSortType);
}

void TCustomDAConnection::SetIConnection(std::unique_ptr<TCRConnection> connection) {
    FIConnection = std::move(connection);
    TCRConnection* c = FIConnection.get();
    c->FComponent = this;
    c->FOnError = [this](EDAError& e, bool& fail, bool& reconnect, bool& reexecute, int retryCount,
                         TConnLostCause& cause) {
        DoError(e, fail, reconnect, reexecute, retryCount, cause);
    };
    c->FOnReconnectError = [this] { Disconnect(); };
    c->FOnReconnectSuccess = [this] {
        if (AfterConnect) AfterConnect(this);
    };
    std::lock_guard lock(hRegisterClient);
    for (TDAConnectionClient* s : FSQLs) s->SetIConnection(c);
    for (TDAConnectionClient* d : FClients) d->SetIConnection(c);
}

void TCustomDAConnection::NotifyClients(bool connecting) {
    std::vector<TDAConnectionClient*> clients;
    {
        std::lock_guard lock(hRegisterClient);
        clients = FClients;
    }
    for (TDAConnectionClient* c : clients) c->ConnectChange(connecting);
}

void TCustomDAConnection::RegisterClient(TDAConnectionClient* client) {
    std::lock_guard lock(hRegisterClient);
    if (std::find(FClients.begin(), FClients.end(), client) == FClients.end())
        FClients.push_back(client);
}

void TCustomDAConnection::UnregisterClient(TDAConnectionClient* client) {
    std::lock_guard lock(hRegisterClient);
    FClients.erase(std::remove(FClients.begin(), FClients.end(), client), FClients.end());
}

void TCustomDAConnection::RegisterSQL(TDAConnectionClient* command) {
    std::lock_guard lock(hRegisterClient);
    if (std::find(FSQLs.begin(), FSQLs.end(), command) == FSQLs.end()) FSQLs.push_back(command);
}

void TCustomDAConnection::UnregisterSQL(TDAConnectionClient* command) {
    std::lock_guard lock(hRegisterClient);
    FSQLs.erase(std::remove(FSQLs.begin(), FSQLs.end(), command), FSQLs.end());
}

void TCustomDAConnection::PushOperation(TConnLostCause operation, bool allowFailOver) {
    if (FOptions.LocalFailover) FOperationsStack.emplace_back(operation, allowFailOver);
}

void TCustomDAConnection::PopOperation() {
    if (FOptions.LocalFailover && !FOperationsStack.empty()) FOperationsStack.pop_back();
}

TConnLostCause TCustomDAConnection::DetectConnLostCause(const TComponent*) const {
    TConnLostCause cause = clUnknown;
    bool allowed = true;
    for (const auto& [operation, allow] : FOperationsStack)
        if (operation > cause) {
            cause = operation;
            allowed = allow;
        }
    return allowed ? cause : clUnknown;
}

void TCustomDAConnection::DoError(EDAError& e, bool& fail, bool& reconnect, bool& reexecute,
                                  int retryCount, TConnLostCause& connLostCause) {
    connLostCause = clUnknown;
    const bool fatal = e.IsFatalError();
    if (fatal) {
        connLostCause = DetectConnLostCause(e.Component());
        reconnect = (GetConnected() || (retryCount > 0 && FOptions.LocalFailover) ||
                     (connLostCause == clConnect && FOptions.DisconnectedMode)) &&
                    (IsFailOverAllowed() || connLostCause == clConnectionApply);
        if (reconnect) {
            std::lock_guard lock(hRegisterClient);
            for (TDAConnectionClient* c : FClients)
                if (c->PreventsReconnect(e.Component(), connLostCause)) reconnect = false;
            for (TDAConnectionClient* c : FSQLs)
                if (c->PreventsReconnect(e.Component(), connLostCause)) reconnect = false;
        }
    }
    if (reconnect && FOptions.LocalFailover) {
        TRetryMode mode = (connLostCause == clUnknown || connLostCause == clExecute) ? rmRaise
                                                                                     : rmReconnectExecute;
        if (OnConnectionLost) OnConnectionLost(this, e.Component(), connLostCause, mode);
        reconnect = mode != rmRaise;
        reexecute = (mode == rmReconnectExecute && connLostCause != clUnknown) ||
                    (connLostCause == clConnect && mode != rmRaise);
        fail = !reexecute;
    }
    if (!reexecute && OnError) OnError(this, e, fail);
    if (fatal && FIConnection) FIConnection->SetIsValid(false);
    if (fatal && retryCount == 0 && !reconnect && !FInProcessError) {
        FInProcessError = true;
        try {
            Disconnect();
        } catch (const std::exception&) {
            // The connection is broken already; the error being processed is the one to report.
        }
        FInProcessError = false;
    }
}

// --- TCustomDASQL ---

TCustomDASQL::TCustomDASQL()
    : FMacros([](const QString& text) { return std::make_unique<sqltext::TSQLParser>(text); }) {
    FSQL.OnChange = [this] { SQLChanged(); };
    FMacros.OnChange = [this] {
        if (!FLockAssembleSQL) AssembleSQL();
    };
}

TCustomDASQL::~TCustomDASQL() {
    if (FConnection) FConnection->UnregisterSQL(this);
}

void TCustomDASQL::SetConnection(TCustomDAConnection* connection) {
    if (connection == FConnection) return;
    if (FConnection) FConnection->UnregisterSQL(this);
    FConnection = connection;
    if (FConnection) FConnection->RegisterSQL(this);
    CheckICommand();
    FICommand->SetConnection(FConnection ? FConnection->GetIConnection() : nullptr);
}

void TCustomDASQL::ConnectionFreed() {
    FConnection = nullptr;
    SetIConnection(nullptr);
}

void TCustomDASQL::SetIConnection(TCRConnection* connection) {
    if (FICommand) FICommand->SetConnection(connection);
}

void TCustomDASQL::CheckICommand() {
    if (FICommand) return;
    FICommand = CreateICommandObject();
    FICommand->FComponent = this;
    FICommand->FAutoCommit = true;
}

bool TCustomDASQL::Executing() const { return FICommand && FICommand->Executing(); }

bool TCustomDASQL::Prepared() const { return FICommand && FICommand->GetPrepared(); }

bool TCustomDASQL::PreventsReconnect(const TComponent*, TConnLostCause) const {
    return Prepared() && !Executing();
}

void TCustomDASQL::SetParamCheck(bool value) {
    if (value == FParamCheck) return;
    FParamCheck = value;
    SQLChanged();
}

void TCustomDASQL::SQLChanged() {
    if (FOnSQLChanged) FOnSQLChanged();
    if (Prepared()) UnPrepare();
    if (!FLockMacros) FMacros.Scan(FSQL.Text());
    if (!FLockAssembleSQL) AssembleSQL();
}

QString TCustomDASQL::FinalSQL() const {
    QString text = FSQL.Lines().join(QStringLiteral("\r\n"));
    qsizetype end = text.size();
    while (end > 0 && text[end - 1].unicode() < 33) --end;
    text.truncate(end);
    return FMacros.Count() > 0 ? FMacros.Expand(text) : text;
}

void TCustomDASQL::AssembleSQL() {
    CheckICommand();
    if (FRawText) {
        // Forget the text of ExecuteText, so that the component's own is parsed again.
        FICommand->SetRawSQL(QString());
        FRawText = false;
    }
    FICommand->SetSQL(FinalSQL());
    if (!FParamCheck) return;
    TDAParams old;
    for (const auto& p : FParams) old.Add(QString()).Assign(*p);
    FParams.Clear();
    for (const TParamDesc& d : FICommand->Params()) {
        TDAParam& p = FParams.Add(d.FName, DataTypeToFieldType(d.FDataType), d.FParamType);
        p.SetSize(d.FSize);
    }
    FParams.AssignValues(old);
}

void TCustomDASQL::WriteParams() { WriteParamsTo(FICommand->Params()); }

void TCustomDASQL::WriteParamsTo(std::vector<TParamDesc>& descs) const {
    const int count = FParams.Count();
    descs.resize(size_t(count));
    for (int i = 0; i < count; ++i) {
        const TDAParam& p = FParams[i];
        TParamDesc& d = descs[size_t(i)];
        d.FName = p.Name();
        d.FDataType = FieldTypeToDataType(p.DataType());
        d.FSubDataType = p.SubDataType();
        d.FNational = p.National();
        d.FParamType = p.ParamType();
        d.FIsBound = p.Bound();
        d.FSize = p.Size();
        Variant value = p.Value();
        const bool isBytes = d.FDataType == dtBytes || d.FDataType == dtVarBytes || d.FDataType == dtBlob;
        const bool isString = d.FDataType == dtString || d.FDataType == dtWideString || d.FDataType == dtMemo ||
                              d.FDataType == dtWideMemo;
        if (d.FSize == 0 && !value.IsNullOrEmpty() && (isBytes || isString))
            d.FSize = int32_t(value.AsBytes().size());
        if (IsBlobDataType(d.FDataType)) {
            // A BLOB or memo parameter: memo text loses CR with ConvertEOL; empty counts as NULL.
            if ((d.FDataType == dtMemo || d.FDataType == dtWideMemo) && FConnection &&
                FConnection->ConvertEOL() && value.Type() == VarType::String)
                value = value.AsString().remove(u'\r');
            const bool empty = value.IsNullOrEmpty() ||
                               (value.Type() == VarType::Bytes ? value.AsBytes().isEmpty()
                                                               : value.AsString().isEmpty());
            d.SetValue(empty ? Variant::Null() : value);
            continue;
        }
        if (p.ParamType() == ptOutput || p.ParamType() == ptResult) {
            d.SetValue(Variant::Null());
            continue;
        }
        if (d.FDataType == dtDate && value.Type() == VarType::DateTime)
            value = Variant::FromDateTime(DateOf(value.AsDateTime()));
        else if (isBytes && value.Type() == VarType::String)
            value = value.AsBytes();  // text of a byte parameter: its 8-bit code page bytes
        d.SetValue(value);
    }
}

void TCustomDASQL::Execute(int iters) {
    Run([&] {
        if (FRawText) AssembleSQL();  // the driver command still holds a text of ExecuteText
        WriteParams();
    }, iters);
}

void TCustomDASQL::ExecuteText(const QString& text) {
    Run([&] {
        FICommand->SetRawSQL(text);
        FRawText = true;
    }, 1);
}

void TCustomDASQL::Run(const std::function<void()>& load, int iters) {
    if (Executing()) return;
    if (!FConnection) throw EDatabaseError(QStringLiteral("Connection is not defined"));
    FConnection->InternalConnect();
    CheckICommand();
    FICommand->SetConnection(FConnection->GetIConnection());
    bool ok = false;
    ScopeExit release([&] {
        FConnection->InternalDisconnect();
        if (AfterExecute) AfterExecute(this, ok);
    });
    load();
    for (bool done = false; !done;) {
        FConnection->PushOperation(clExecute);
        ScopeExit pop([&] { FConnection->PopOperation(); });
        try {
            FICommand->Execute(iters);
            done = true;
        } catch (const EFailOver& e) {
            if (e.FConnLostCause != clExecute) throw;  // only a lost execution runs again
        }
    }
    Variant id;
    if (FConnection->GetIConnection()->GetProp(prLastInsertId, id)) FLastInsertId = id.AsInt64();
    ok = true;
}

void TCustomDASQL::Prepare() {
    if (Prepared()) return;
    if (!FConnection) throw EDatabaseError(QStringLiteral("Connection is not defined"));
    FConnection->InternalConnect();
    CheckICommand();
    FICommand->SetConnection(FConnection->GetIConnection());
    // A prepared command holds the connection until UnPrepare; a failed one lets it go.
    ScopeExit release([&] { FConnection->InternalDisconnect(); });
    WriteParams();
    FICommand->Prepare();
    release.Dismiss();
}

void TCustomDASQL::UnPrepare() {
    if (!Prepared()) return;
    FICommand->Unprepare();
    if (FConnection) FConnection->InternalDisconnect();
}

// --- TDADataSetOptions ---

// Options that only steer later statements.
#define CALVORO_PLAIN(Type, Name) \
    void TDADataSetOptions::Set##Name(Type value) { F##Name = value; }
// Options the record set takes at once (layout ones only while closed).
#define CALVORO_RECORDSET(Type, Name, Prop, Layout)           \
    void TDADataSetOptions::Set##Name(Type value) {            \
        if (value == F##Name) return;                          \
        if (Layout) FOwner->CheckInactive();                   \
        F##Name = value;                                       \
        FOwner->RecordSetOptionChanged(Prop, Variant(value));  \
    }

CALVORO_PLAIN(bool, StrictUpdate)
CALVORO_PLAIN(bool, QueryRecCount)
CALVORO_PLAIN(bool, RemoveOnRefresh)
CALVORO_PLAIN(bool, RequiredFields)
CALVORO_PLAIN(bool, SetFieldsReadOnly)
CALVORO_PLAIN(bool, FieldsOrigin)
CALVORO_PLAIN(bool, DefaultValues)
CALVORO_PLAIN(bool, UpdateAllFields)
CALVORO_PLAIN(bool, FullRefresh)
CALVORO_PLAIN(bool, LocalMasterDetail)
CALVORO_PLAIN(bool, NumberRange)
CALVORO_PLAIN(int, UpdateBatchSize)
CALVORO_PLAIN(int, DetailDelay)
CALVORO_RECORDSET(bool, LongStrings, prLongStrings, true)
CALVORO_RECORDSET(bool, FlatBuffers, prFlatBuffers, true)
#undef CALVORO_PLAIN
#undef CALVORO_RECORDSET

void TDADataSetOptions::SetTrimFixedChar(bool value) {
    FTrimFixedChar = value;
    FOwner->Data().SetTrimFixedChar(value);
}

void TDADataSetOptions::SetTrimVarChar(bool value) {
    FTrimVarChar = value;
    FOwner->Data().SetTrimVarChar(value);
}

void TDADataSetOptions::SetCompressBlobMode(TCompressBlobMode value) {
    FCompressBlobMode = value;
    FOwner->RecordSetOptionChanged(prCompressBlobMode, int(value));
}

void TDADataSetOptions::SetQuoteNames(bool value) {
    FQuoteNames = value;
    if (TCRCommand* c = FOwner->Command().GetICommand()) c->SetProp(prQuoteNames, value);
}

void TDADataSetOptions::SetAutoPrepare(bool value) {
    if (value == FAutoPrepare) return;
    FOwner->UnPrepare();
    FAutoPrepare = value;
}

// --- TCustomDADataSet ---

TCustomDADataSet::TCustomDADataSet() = default;

TCustomDADataSet::~TCustomDADataSet() {
    NotifyDestroying();
    try {
        Close();
        UnPrepare();
    } catch (const std::exception&) {
        // Going away: the connection keeps its own state for its next user.
    }
    if (FConnection) FConnection->UnregisterClient(this);
}

void TCustomDADataSet::CreateComponents() {
    FCommand = CreateCommand();
    FCommand->FOnSQLChanged = [this] { SQLChanged(); };
    FOptions = CreateOptions();
    SetData(CreateRecordSet());
    RecordSet().FComponent = this;
    RecordSet().GetCommand().FComponent = this;
    FService = CreateService();
    InstallHooks();
    PushRecordSetOptions();
}

void TCustomDADataSet::InstallHooks() {
    // Each change goes to the server before memory changes.
    FData->FOnAppend = [this](TRecBuf record) {
        if (!FLocalUpdate) FService->Updater().PerformInsert(record);
    };
    FData->FOnUpdate = [this](TRecBuf record) {
        if (!FLocalUpdate) FService->Updater().PerformUpdate(record);
    };
    FData->FOnDelete = [this](TRecBuf) {
        if (!FLocalUpdate) FService->Updater().PerformDelete();
    };
    FData->FOnApplyRecord = [this](TItemStatus kind, TUpdateRecAction&) {
        if (FLocalUpdate) return;
        StartConnectionUse();
        ScopeExit end([&] { EndConnectionUse(); });
        FService->Updater().PerformApplyRecord(kind);
    };
    RecordSet().FOnBeforeFetch = [this](bool& cancel) {
        if (BeforeFetch) BeforeFetch(this, cancel);
    };
    RecordSet().FOnAfterFetch = [this] {
        if (AfterFetch && (!FFetchAll || RecordSet().Fetched())) AfterFetch(this);
        FetchEnded();
    };
    // '' and NULL are different values: an empty string stays one.
    FData->SetEnableEmptyStrings(true);
}

void TCustomDADataSet::PushRecordSetOptions() {
    TCRRecordSet& rs = RecordSet();
    rs.SetProp(prFetchRows, FFetchRows);
    rs.SetProp(prFetchAll, FFetchAll);
    rs.SetProp(prUniDirectional, FUniDirectional);
    rs.SetProp(prReadOnly, FReadOnly);
    rs.SetProp(prLongStrings, FOptions->LongStrings());
    rs.SetProp(prFlatBuffers, FOptions->FlatBuffers());
    rs.SetProp(prCompressBlobMode, int(FOptions->CompressBlobMode()));
    rs.SetTrimFixedChar(FOptions->TrimFixedChar());
    rs.SetTrimVarChar(FOptions->TrimVarChar());
}

void TCustomDADataSet::CheckInactive() const {
    if (Active()) throw EDatabaseError(QStringLiteral("Cannot perform this operation on an open dataset"));
}

void TCustomDADataSet::RecordSetOptionChanged(int prop, const Variant& value) { RecordSet().SetProp(prop, value); }

void TCustomDADataSet::SetConnection(TCustomDAConnection* connection) {
    if (connection == FConnection) return;
    Close();
    UnPrepare();
    if (FConnection) FConnection->UnregisterClient(this);
    FConnection = connection;
    FCommand->SetConnection(connection);
    if (FConnection) FConnection->RegisterClient(this);
    RecordSet().SetConnection(FConnection ? FConnection->GetIConnection() : nullptr);
}

void TCustomDADataSet::SetFetchRows(int value) {
    if (value == FFetchRows) return;
    if (value < 1 || value > 10000) throw EDatabaseError(QStringLiteral("FetchRows must be 1..10000"));
    CheckInactive();
    FFetchRows = value;
    RecordSet().SetProp(prFetchRows, value);
}

void TCustomDADataSet::SetFetchAll(bool value) {
    if (value == FFetchAll) return;
    FFetchAll = value;
    if (value && FUniDirectional) SetUniDirectional(false);
    RecordSet().SetProp(prFetchAll, value);
    if (value && Active()) {
        RecordSet().FetchAll();
        DataEvent(deDataSetChange);
    }
}

void TCustomDADataSet::SetReadOnly(bool value) {
    FReadOnly = value;
    RecordSet().SetProp(prReadOnly, value);
}

void TCustomDADataSet::SetUniDirectional(bool value) {
    if (value == FUniDirectional) return;
    CheckInactive();
    FUniDirectional = value;
    if (value && FFetchAll) {
        FFetchAll = false;
        RecordSet().SetProp(prFetchAll, false);
    }
    RecordSet().SetProp(prUniDirectional, value);
}

void TCustomDADataSet::SetKeyFields(const QString& value) {
    FKeyFields = value;
    FService->ClearFieldsInfo();
}

void TCustomDADataSet::SetUpdatingTable(const QString& value) {
    FUpdatingTable = value;
    if (Active()) FService->AfterOpen();
}

// --- Connection use ---

void TCustomDADataSet::StartConnectionUse() {
    if (!FConnection) throw EDatabaseError(QStringLiteral("Connection is not defined"));
    FConnection->InternalConnect();
    FConnection->RegisterClient(this);
    RecordSet().SetConnection(FConnection->GetIConnection());
}

void TCustomDADataSet::EndConnectionUse() {
    if (FConnection) FConnection->InternalDisconnect();
}

void TCustomDADataSet::FetchEnded() {
    if (FRowsUse && RecordSet().Fetched()) {
        FRowsUse = false;
        EndConnectionUse();
    }
}

void TCustomDADataSet::ConnectChange(bool connecting) {
    if (connecting) return;
    // The connection is closing: so is every data set on it.
    try {
        Close();
    } catch (const EDAError& e) {
        if (!e.IsFatalError()) throw;
        // A lost connection: the data set is closed all the same.
    }
    UnPrepare();
}

void TCustomDADataSet::ConnectionFreed() {
    FConnection = nullptr;
    SetIConnection(nullptr);
}

void TCustomDADataSet::SetIConnection(TCRConnection* connection) { RecordSet().SetConnection(connection); }

bool TCustomDADataSet::PreventsReconnect(const TComponent* failing, TConnLostCause cause) const {
    if (Prepared()) return true;
    if (!Active() || FFetchAll || RecordSet().Fetched()) return false;
    return !(failing == this && cause == clRefresh);
}

// --- Opening and executing ---

void TCustomDADataSet::BeforeOpenCursor() {
    if (FRawText) return;
    if (FCommand->FinalSQL().trimmed().isEmpty()) throw EDatabaseError(QStringLiteral("No SQL statement provided"));
}

void TCustomDADataSet::ExecuteText(const QString& text) {
    FRawText = text;
    ScopeExit done([&] { FRawText.reset(); });
    Execute();
}

void TCustomDADataSet::WriteRecordSetCommand() {
    TCRCommand& command = RecordSet().GetCommand();
    if (FRawText) {
        command.SetRawSQL(*FRawText);
        return;
    }
    command.SetSQL(FinalSQL());
    FCommand->WriteParamsTo(command.Params());
}

void TCustomDADataSet::RunAgainAfterReconnect(TConnLostCause cause, const std::function<void()>& work) {
    try {
        work();
    } catch (const EFailOver& e) {
        if (e.FConnLostCause != cause) throw;
        // The connection was lost and has been restored: the work runs once more.
        RecordSet().GetCommand().SetCursorState(csInactive);
        work();
    }
}

void TCustomDADataSet::InternalOpen() {
    if (FConnection) FConnection->PushOperation(clOpen);
    ScopeExit pop([&] {
        if (FConnection) FConnection->PopOperation();
    });
    StartConnectionUse();
    ScopeExit end([&] { EndConnectionUse(); });
    RunAgainAfterReconnect(clOpen, [&] {
        BeforeOpenCursor();
        FRecordCount = FOptions->QueryRecCount() && !FFetchAll ? CountRecords() : 0;
        if (FOptions->AutoPrepare() && !Prepared()) Prepare();
        if (RecordSet().GetCommand().GetCursorState() != csExecuted) WriteRecordSetCommand();
        FData->Open();
    });
    FRowsAffected = -1;
    if (!RecordSet().Fetched()) {
        // Rows left unread keep the connection in use until they are read or the data set
        // closes.
        FRowsUse = true;
        end.Dismiss();
    }
}

void TCustomDADataSet::CreateFields() {
    TMemDataSet::CreateFields();
    if (!FOptions->RequiredFields())
        for (const auto& f : FFields) f->SetRequired(false);
    FService->AfterOpen();
}

void TCustomDADataSet::InternalClose() {
    ScopeExit after([&] {
        FService->ClearFieldsInfo();
        if (FRowsUse) {
            FRowsUse = false;
            EndConnectionUse();
        }
    });
    try {
        TMemDataSet::InternalClose();
    } catch (const EDAError& e) {
        if (!e.IsFatalError()) throw;
        // The connection was lost while the rest of the rows were read: closed all the same.
    }
}

void TCustomDADataSet::InternalRefresh() {
    if (FConnection) FConnection->PushOperation(clRefresh);
    ScopeExit pop([&] {
        if (FConnection) FConnection->PopOperation();
    });
    StartConnectionUse();
    ScopeExit end([&] { EndConnectionUse(); });
    // The same statement gives the same columns: the field objects stay.
    FData->SetAutoInitFields(false);
    ScopeExit restore([&] { FData->SetAutoInitFields(true); });
    QStringList keys;
    std::vector<Variant> values;
    bool remembered = false;
    RunAgainAfterReconnect(clRefresh, [&] {
        if (!remembered) {
            // The key values of the current row, to find it again (looking up the key may be
            // the first thing to meet a lost connection).
            keys = FService->KeyFieldNames();
            if (!keys.isEmpty() && FData->CurrentItem())
                for (const QString& name : keys) values.push_back(FieldByName(name).Value());
            remembered = true;
        }
        FRecordCount = FOptions->QueryRecCount() && !FFetchAll ? CountRecords() : 0;
        WriteRecordSetCommand();
        FData->Close();
        FData->Open();
    });
    FRowsAffected = -1;
    FService->AfterOpen();
    if (!RecordSet().Fetched() && !FRowsUse) {
        FRowsUse = true;
        end.Dismiss();
    }
    if (!values.empty() && Locate(keys, values)) return;
    InternalFirst();
    const bool any = InternalNext();
    FBof = true;
    FEof = !any;
}

void TCustomDADataSet::Execute() {
    if (FExecuting) return;
    FExecuting = true;
    ScopeExit done([&] { FExecuting = false; });
    bool ok = false;
    ScopeExit report([&] {
        if (AfterExecute) AfterExecute(this, ok);
    });
    if (FConnection) FConnection->PushOperation(clExecute);
    ScopeExit pop([&] {
        if (FConnection) FConnection->PopOperation();
    });
    StartConnectionUse();
    ScopeExit end([&] { EndConnectionUse(); });
    if (Active()) Close();
    RunAgainAfterReconnect(clExecute, [&] {
        BeforeOpenCursor();
        if (FOptions->AutoPrepare() && !Prepared()) Prepare();
        WriteRecordSetCommand();
        RecordSet().ExecCommand();
    });
    if (RecordSet().RowsReturn()) {
        Open();  // on the result just read: the statement is not sent again
    } else {
        Variant rows = -1;
        RecordSet().GetProp(prRowsAffected, rows);
        FRowsAffected = rows.AsInteger();
        Variant id = 0;
        if (FConnection->GetIConnection()->GetProp(prLastInsertId, id)) FLastInsertId = id.AsInt64();
    }
    ok = true;
}

bool TCustomDADataSet::Executing() const { return FExecuting; }

bool TCustomDADataSet::Fetched() const {
    const TCursorState state = RecordSet().GetCommand().GetCursorState();
    return state == csFetched || (Active() && (state == csInactive || RecordSet().Fetched()));
}

bool TCustomDADataSet::IsQuery() { return RecordSet().RowsReturn(); }

void TCustomDADataSet::Prepare() {
    if (Prepared()) return;
    StartConnectionUse();
    ScopeExit end([&] { EndConnectionUse(); });
    BeforeOpenCursor();
    WriteRecordSetCommand();
    FData->Prepare();
    FPreparedUse = true;
    end.Dismiss();  // held until UnPrepare
}

void TCustomDADataSet::UnPrepare() {
    if (!FData || !Prepared()) return;
    Close();
    FData->UnPrepare();
    if (FPreparedUse) {
        FPreparedUse = false;
        EndConnectionUse();
    }
}

bool TCustomDADataSet::Prepared() const { return FData && FData->Prepared(); }

int TCustomDADataSet::RecordCount() const {
    if (!Active()) return 0;
    if (!RecordSet().Fetched() && FOptions->QueryRecCount() && FRecordCount != 0) return int(FRecordCount);
    return FData->RecordCount();
}

bool TCustomDADataSet::CanModify() const {
    if (!Active() || FReadOnly || FUniDirectional) return false;
    return FLocalUpdate || FData->CachedUpdates() || FService->CanWrite() || FSQLInsert.Count() ||
           FSQLUpdate.Count() || FSQLDelete.Count();
}

// --- Editing ---

void TCustomDADataSet::InternalEdit() {
    if (!FData->CachedUpdates() && !FLocalUpdate) FService->Updater().BeforeEdit();
    ScopeExit release([&] { FService->Updater().AfterEditEnded(false); });
    TMemDataSet::InternalEdit();
    release.Dismiss();
}

void TCustomDADataSet::InternalPost() {
    TMemDataSet::InternalPost();
    FService->Updater().AfterEditEnded(true);
}

void TCustomDADataSet::InternalCancel() {
    TMemDataSet::InternalCancel();
    FService->Updater().AfterEditEnded(false);
}

void TCustomDADataSet::RefreshRecord() {
    CheckActive();
    if (FState == dsInsert) return Cancel();
    if (FState == dsEdit) Cancel();
    if (RecordCount() == 0) return;
    StartConnectionUse();
    ScopeExit end([&] { EndConnectionUse(); });
    if (!FService->Updater().PerformRefreshRecord() && FOptions->RemoveOnRefresh()) {
        FData->RemoveRecord();
        if (!FData->CurrentItem() && FData->RecordCount() > 0) {
            FData->SetToEnd();
            FData->GetPriorRecord(nullptr);
        }
    }
    DataEvent(deDataSetChange);
}

// --- SQL text ---

void TCustomDADataSet::SetSQLText(const QString& text) {
    FRestoringSQL = true;
    ScopeExit restore([&] { FRestoringSQL = false; });
    SQL().SetText(text);
}

void TCustomDADataSet::SQLChanged() {
    if (!FRestoringSQL) FBaseSQL.clear();
    Close();
    UnPrepare();
    FService->ClearFieldsInfo();
    RecordSet().GetCommand().SetCursorState(csInactive);
}

void TCustomDADataSet::SaveSQL() { FBaseSQL = SQL().Text(); }

void TCustomDADataSet::RestoreSQL() {
    if (FBaseSQL.isEmpty()) return;
    const QString base = FBaseSQL;
    SetSQLText(base);
    FBaseSQL.clear();
}

QString TCustomDADataSet::BaseSQL() const {
    const QString text = FBaseSQL.isEmpty() ? const_cast<TCustomDADataSet*>(this)->SQL().Text() : FBaseSQL;
    return FCommand->Macros().Count() ? FCommand->Macros().Expand(text) : text;
}

QString TCustomDADataSet::FinalSQL() const {
    const QString text = FCommand->FinalSQL();
    return FFilterSQL.isEmpty() ? text : DialectAddWhere(text, FFilterSQL);
}

void TCustomDADataSet::AddWhere(const QString& condition) {
    const QString text = SQL().Text().trimmed();
    const QString changed = DialectAddWhere(text, condition);
    if (changed == text) return;
    if (FBaseSQL.isEmpty()) FBaseSQL = SQL().Text();
    SetSQLText(changed);
}

void TCustomDADataSet::DeleteWhere() {
    const QString text = SQL().Text().trimmed();
    const QString changed = DialectDeleteWhere(text);
    if (changed == text) return;
    if (FBaseSQL.isEmpty()) FBaseSQL = SQL().Text();
    SetSQLText(changed);
}

void TCustomDADataSet::SetOrderBy(const QString& fields) {
    const QString text = SQL().Text().trimmed();
    const QString changed = DialectSetOrderBy(text, fields);
    if (changed == text) return;
    if (FBaseSQL.isEmpty()) FBaseSQL = SQL().Text();
    SetSQLText(changed);
}

QString TCustomDADataSet::GetOrderBy() const {
    return DialectGetOrderBy(const_cast<TCustomDADataSet*>(this)->SQL().Text().trimmed());
}

void TCustomDADataSet::SetFilterSQL(const QString& value) {
    const QString trimmed = value.trimmed();
    if (trimmed == FFilterSQL) return;
    const QString old = FFilterSQL;
    const bool wasActive = Active();
    Close();
    UnPrepare();
    FFilterSQL = trimmed;
    if (!wasActive) return;
    ScopeExit putBack([&] { FFilterSQL = old; });
    Open();
    putBack.Dismiss();
}

int64_t TCustomDADataSet::CountRecords() {
    const QString sql = DialectCountQuery(FinalSQL());
    return sql.isEmpty() ? 0 : QueryFirstValue(sql);
}

}  // namespace calvoro::dac
