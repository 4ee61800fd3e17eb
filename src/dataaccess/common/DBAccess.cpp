#include "DBAccess.h"

#include "common/ScopeGuard.h"
#include "sqltext/CRParser.h"

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

QString TMacros::Expand(const QString& text) const {
    if (FItems.empty()) return text;
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
        result += QStringView(text).mid(copied, ampersand - copied);
        for (const TMacro& m : FItems)
            if (m.FName.compare(name, Qt::CaseInsensitive) == 0) {
                if (m.FActive) result += m.FValue;
                break;
            }
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
    for (TDAConnectionClient* c : FSQLs) c->SetIConnection(nullptr);
    for (TDAConnectionClient* c : FClients) c->SetIConnection(nullptr);
}

bool TCustomDAConnection::GetConnected() const { return FIConnection && FIConnection->GetConnected(); }

void TCustomDAConnection::SetConnected(bool value) {
    if (value) {
        if (GetConnected()) return;
        ++FConnectCount;
        if (NeedPrompt()) {
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
        DoConnect();
    }
    ++FConnectCount;
    NotifyClients(true);
    if (AfterConnect) AfterConnect(this);
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

void TCustomDASQL::WriteParams() {
    std::vector<TParamDesc>& descs = FICommand->Params();
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
    WriteParams();
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

}  // namespace calvoro::dac
