#include "CRAccess.h"

#include "common/AppTitle.h"
#include "common/ScopeGuard.h"

#include <algorithm>

namespace calvoro::dac {

std::function<void()>& StartWaitProc() {
    static std::function<void()> proc;
    return proc;
}

std::function<void()>& StopWaitProc() {
    static std::function<void()> proc;
    return proc;
}

std::function<QString()>& ApplicationTitleProc() {
    static std::function<QString()> proc;
    return proc;
}

std::function<void(const std::function<void()>&)>& ConnectRunnerProc() {
    static std::function<void(const std::function<void()>&)> proc;
    return proc;
}

void RunConnectStep(const std::function<void()>& work) {
    if (const auto& proc = ConnectRunnerProc())
        proc(work);
    else
        work();
}

void StartWait() {
    if (const auto& proc = StartWaitProc()) proc();
}

void StopWait() {
    if (const auto& proc = StopWaitProc()) proc();
}

QString DAApplicationTitle() {
    const auto& proc = ApplicationTitleProc();
    return proc ? proc() : ApplicationTitle();
}

void TCRConnection::SetProp(int prop, const Variant& value) {
    switch (prop) {
        case prAutoCommit: FAutoCommit = value.AsBoolean(); break;
        case prConvertEOL: FConvertEOL = value.AsBoolean(); break;
        case prDisconnectedMode: FDisconnectedMode = value.AsBoolean(); break;
        case prEnableBCD: FEnableBCD = value.AsBoolean(); break;
        case prEnableFMTBCD: FEnableFMTBCD = value.AsBoolean(); break;
        case prDefaultSortType: FDefaultSortType = value.AsInteger(); break;
        default: InternalError("CRAccess", QStringLiteral("Unknown property %1").arg(prop));
    }
}

bool TCRConnection::GetProp(int prop, Variant& value) const {
    switch (prop) {
        case prAutoCommit: value = FAutoCommit; return true;
        case prConvertEOL: value = FConvertEOL; return true;
        case prDisconnectedMode: value = FDisconnectedMode; return true;
        default: InternalError("CRAccess", QStringLiteral("Unknown property %1").arg(prop));
    }
}

void TCRConnection::ProcessError(EDAError& e, bool& fail) {
    if (FInProcessError) return;
    int retryCount = 0;
    bool reconnect = false;
    TConnLostCause cause = clUnknown;
    do {
        reconnect = retryCount > 0;
        bool reexecute = false;
        if (FOnError) {
            FInProcessError = true;
            ScopeExit processed([&] { FInProcessError = false; });
            FOnError(e, fail, reconnect, reexecute, retryCount, cause);
        }
        if (reconnect) {
            // The attempt's own errors are not processed again: they are ignored, and the
            // error that started it is the one raised.
            FReconnected = false;
            FInProcessError = true;
            if (retryCount == 0) {
                try {
                    Disconnect();
                } catch (const std::exception&) {
                    // The connection is lost already; closing it is only tidying up.
                }
            }
            try {
                Connect(QString());
                FReconnected = true;
            } catch (const std::exception&) {
                // A failed attempt shows as !FReconnected: the handler decides whether to retry.
            }
            FInProcessError = false;
            if (FReconnected && FOnReconnectSuccess) {
                try {
                    FOnReconnectSuccess();
                } catch (const std::exception&) {
                    // The connection is back; a failing after-connect handler does not undo that.
                }
            }
            if (FReconnected && reexecute) throw EFailOver(cause);
            ++retryCount;
        } else if (retryCount > 0 && !FReconnected && FOnReconnectError) {
            // Marked connected for the duration so that the component's close runs fully.
            const bool wasConnected = FConnected;
            FConnected = true;
            try {
                FOnReconnectError();
            } catch (const std::exception&) {
                // Closing the component after the lost connection; the first error is raised.
            }
            FConnected = wasConnected && FConnected;
        }
    } while (reconnect && !FReconnected);
}

void TCRCommand::SetSQL(const QString& sql) {
    if (sql == FUserSQL) return;
    FUserSQL = sql;
    FSQL = FDisableParamScan ? sql : ParseSQL(sql);
}

void TCRCommand::SetRawSQL(const QString& sql) {
    FUserSQL = FSQL = sql;
    FParams.clear();
}

void TCRCommand::Prepare() {
    throw EDatabaseError(QStringLiteral("Server-side prepared commands are not supported"));
}

QString TCRCommand::ParseSQL(const QString& sql) {
    FParams.clear();
    return sql;
}

void TCRCommand::SetProp(int prop, const Variant& value) {
    switch (prop) {
        case prQuoteNames: FQuoteNames = value.AsBoolean(); break;
        case prDisableParamScan: FDisableParamScan = value.AsBoolean(); break;
        case prCompressBlobMode: FCompressBlob = TCompressBlobMode(value.AsInteger()); break;
        default: InternalError("CRAccess", QStringLiteral("Unknown property %1").arg(prop));
    }
}

bool TCRCommand::GetProp(int prop, Variant& value) const {
    switch (prop) {
        case prQuoteNames: value = FQuoteNames; return true;
        case prDisableParamScan: value = FDisableParamScan; return true;
        case prCompressBlobMode: value = int(FCompressBlob); return true;
        default: InternalError("CRAccess", QStringLiteral("Unknown property %1").arg(prop));
    }
}

// --- TCRTablesInfo ---

TCRTableInfo& TCRTablesInfo::Add(const QString& tableName, const QString& alias, const QString& database) {
    TCRTableInfo* found = alias.isEmpty() ? FindByName(tableName) : FindByAlias(alias);
    if (found && (alias.isEmpty() ? found->TableAlias.isEmpty() : true)) {
        if (found->TableName.isEmpty()) found->TableName = tableName;
        if (found->Database.isEmpty()) found->Database = database;
        return *found;
    }
    auto info = std::make_unique<TCRTableInfo>();
    info->TableName = tableName;
    info->TableAlias = alias;
    info->Database = database;
    info->Index = Count();
    FItems.push_back(std::move(info));
    return *FItems.back();
}

TCRTableInfo* TCRTablesInfo::FindByName(const QString& tableName) const {
    for (const auto& t : FItems)
        if (t->TableName.compare(tableName, Qt::CaseInsensitive) == 0) return t.get();
    return nullptr;
}

TCRTableInfo* TCRTablesInfo::FindByAlias(const QString& alias) const {
    for (const auto& t : FItems)
        if (t->TableAlias.compare(alias, Qt::CaseInsensitive) == 0) return t.get();
    return nullptr;
}

// --- TCRRecordSet ---

TCRRecordSet::TCRRecordSet() = default;

TCRRecordSet::~TCRRecordSet() = default;

void TCRRecordSet::InternalOpen() {
    OpenCursor();
    if (!FIndexFieldNames.isEmpty()) SetIndexFieldNames(FIndexFieldNames);
}

void TCRRecordSet::InternalClose() {
    CloseCursor();
    TMemData::InternalClose();
}

void TCRRecordSet::OpenCursor() {
    if (GetCommand().GetCursorState() != csExecuted) ExecCommand();
    InitFields();
    FAllFetched = false;
    FetchNextBlock();
    if (FFetchAll) FetchAll();
}

void TCRRecordSet::FetchAll() {
    while (!FAllFetched && FetchNextBlock()) {
    }
}

TItemHeader* TCRRecordSet::Fetch() {
    if (FAllFetched || !FActive) return nullptr;
    return FetchNextBlock() ? FFirstFetched : nullptr;
}

void TCRRecordSet::SetToEnd() {
    if (FActive) FetchAll();
    TMemData::SetToEnd();
}

void TCRRecordSet::SetProp(int prop, const Variant& value) {
    switch (prop) {
        case prFetchRows: FFetchRows = std::max(1, value.AsInteger()); break;
        case prFetchAll: FFetchAll = value.AsBoolean(); break;
        case prLongStrings: FLongStrings = value.AsBoolean(); break;
        case prFlatBuffers: FFlatBuffers = value.AsBoolean(); break;
        case prUniDirectional: FUniDirectional = value.AsBoolean(); break;
        case prReadOnly: FReadOnly = value.AsBoolean(); break;
        case prEnableBCD: FEnableBCD = value.AsBoolean(); break;
        case prEnableFMTBCD: FEnableFMTBCD = value.AsBoolean(); break;
        case prCompressBlobMode: SetCompressBlobMode(TCompressBlobMode(value.AsInteger())); break;
        default: InternalError("CRAccess", QStringLiteral("Unknown property %1").arg(prop));
    }
}

bool TCRRecordSet::GetProp(int prop, Variant& value) const {
    switch (prop) {
        case prFetchRows: value = FFetchRows; return true;
        case prFetchAll: value = FFetchAll; return true;
        case prLongStrings: value = FLongStrings; return true;
        case prFlatBuffers: value = FFlatBuffers; return true;
        case prUniDirectional: value = FUniDirectional; return true;
        case prReadOnly: value = FReadOnly; return true;
        case prEnableBCD: value = FEnableBCD; return true;
        case prEnableFMTBCD: value = FEnableFMTBCD; return true;
        case prCompressBlobMode: value = int(FCompressBlobMode); return true;
        default: InternalError("CRAccess", QStringLiteral("Unknown property %1").arg(prop));
    }
}

}  // namespace calvoro::dac
