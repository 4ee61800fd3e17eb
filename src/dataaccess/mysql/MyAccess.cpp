#include "MyAccess.h"

#include "MyClasses.h"
#include "MyRecordset.h"
#include "MySqlFormat.h"
#include "MySqlInfo.h"
#include "common/ScopeGuard.h"
#include "sqltext/MyParser.h"

namespace calvoro::dac {

// --- TCustomMyConnectionOptions ---

void TCustomMyConnectionOptions::Changing() const { FOwner->CheckConnectionInactive(); }

void TCustomMyConnectionOptions::Push(int prop, const Variant& value) const {
    if (TCRConnection* c = FOwner->GetIConnection()) c->SetProp(prop, value);
}

template <typename T>
void TCustomMyConnectionOptions::Change(T& field, const T& value, int prop) {
    Changing();
    field = value;
    if constexpr (std::is_enum_v<T>)
        Push(prop, int(value));
    else
        Push(prop, value);
}

void TCustomMyConnectionOptions::SetUseUnicode(bool value) { Change(FUseUnicode, value, prUseUnicode); }
void TCustomMyConnectionOptions::SetCharset(const QString& value) { Change(FCharset, value, prCharset); }
void TCustomMyConnectionOptions::SetCompress(bool value) { Change(FCompress, value, prCompress); }
void TCustomMyConnectionOptions::SetProtocol(TMyProtocol value) { Change(FProtocol, value, prProtocol); }
void TCustomMyConnectionOptions::SetDirect(bool value) { Change(FDirect, value, prDirect); }
void TCustomMyConnectionOptions::SetEmbedded(bool value) { Change(FEmbedded, value, prEmbedded); }
void TCustomMyConnectionOptions::SetOptimizedBigInt(bool value) {
    Change(FOptimizedBigInt, value, prOptimizedBigInt);
}
void TCustomMyConnectionOptions::SetNullForZeroDelphiDate(bool value) {
    Change(FNullForZeroDelphiDate, value, prNullForZeroDelphiDate);
}

void TCustomMyConnectionOptions::SetCheckBackslashes(bool value) {
    FCheckBackslashes = value;  // allowed while open: the check runs again at once
    Push(prCheckBackslashes, value);
}

// --- TCustomMyConnection ---

TCustomMyConnection::TConnectDialogClass& TCustomMyConnection::ConnectDialogClass() {
    static TConnectDialogClass dialogClass;
    return dialogClass;
}

TCustomMyConnection::TCustomMyConnection() = default;

TCustomMyConnection::~TCustomMyConnection() {
    FCommand.reset();
    try {
        Disconnect();
    } catch (const std::exception&) {
        // Closing for good: a failing close leaves nothing to report to.
    }
}

std::unique_ptr<TCRConnection> TCustomMyConnection::CreateIConnectionObject() {
    return std::make_unique<TMySQLConnection>();
}

std::unique_ptr<TCustomConnectDialog> TCustomMyConnection::CreateConnectDialog() {
    const TConnectDialogClass& dialogClass = ConnectDialogClass();
    return dialogClass ? dialogClass() : nullptr;
}

void TCustomMyConnection::AssignConnectProps(TCRConnection* c) {
    c->SetProp(prDatabase, FDatabase);
    c->SetProp(prConnectionTimeout, FConnectionTimeout);
    c->SetProp(prUseUnicode, FMyOptions.FUseUnicode);
    c->SetProp(prCharset, FMyOptions.FCharset);
    c->SetProp(prEmbedded, FMyOptions.FEmbedded);
    c->SetProp(prDirect, FMyOptions.FDirect);
    c->SetProp(prCompress, FMyOptions.FCompress);
    c->SetProp(prProtocol, int(FMyOptions.FProtocol));
    TCustomDAConnection::AssignConnectProps(c);
    c->SetProp(prOptimizedBigInt, FMyOptions.FOptimizedBigInt);
    c->SetProp(prNullForZeroDelphiDate, FMyOptions.FNullForZeroDelphiDate);
    c->SetProp(prCheckBackslashes, FMyOptions.FCheckBackslashes);
}

TMySQLConnection* TCustomMyConnection::MySQLConnection() const {
    return static_cast<TMySQLConnection*>(GetIConnection());
}

void TCustomMyConnection::SetDatabase(const QString& value) {
    if (value == FDatabase) return;
    FDatabase = value;
    if (TCRConnection* c = GetIConnection()) c->SetProp(prDatabase, value);
}

void TCustomMyConnection::SetConnectionTimeout(int seconds) {
    FConnectionTimeout = seconds;
    if (TCRConnection* c = GetIConnection()) c->SetProp(prConnectionTimeout, seconds);
}

void TCustomMyConnection::ExecSQL(const QString& text, const std::vector<Variant>& params) {
    if (params.empty()) {
        // Sent unchanged: no marker is taken for a parameter.
        WhileConnected([&] { MySQLConnection()->ExecStatement(text); });
        return;
    }
    if (!FCommand) {
        FCommand = std::make_unique<TMyCommand>();
        FCommand->SetConnection(this);
    }
    FCommand->SetCommandTimeout(FConnectionTimeout);
    FCommand->SQL().SetText(text);
    const int count = std::min<int>(FCommand->Params().Count(), int(params.size()));
    for (int i = 0; i < count; ++i) FCommand->Params()[i].SetValue(params[size_t(i)]);
    FCommand->Execute();
}

// --- Object lists ---

QString TableNamesStatement(bool allTables) {
    return QStringLiteral("SELECT cast('' as char(1)) TABLE_CATALOG, TABLE_SCHEMA, TABLE_NAME, TABLE_TYPE "
                          "FROM information_schema.TABLES %1 ORDER BY TABLE_SCHEMA, TABLE_NAME ")
        .arg(allTables ? QString() : QStringLiteral("WHERE TABLE_SCHEMA = DATABASE()"));
}

namespace {
// The lower-cased, unquoted database name as a string literal ('mysql' without one). The name
// is escaped: a quote in it must not end the literal.
QString DatabaseLiteral(const QString& db, bool needBackslashes) {
    if (db.isEmpty()) return QStringLiteral("'mysql'");
    return EscapeWideString(TMySQLInfo::NormalizeName(db, false, true).toLower(), needBackslashes);
}
}  // namespace

QString StoredProcNamesStatement(const TServerVersion& server, const QString& db, bool needBackslashes) {
    const bool v50 = server.Primary == 5 && server.Minor == 0;
    if (v50 && server.Release == 0) return QStringLiteral("SELECT name FROM mysql.proc ORDER BY name");
    if (v50 && server.Release <= 3)
        return QStringLiteral("SELECT name FROM mysql.proc WHERE LOWER(db) = %1 ORDER BY name")
            .arg(DatabaseLiteral(db, needBackslashes));
    return QStringLiteral(
               "SELECT ROUTINE_NAME FROM information_schema.routines WHERE LOWER(routine_schema) = %1 ORDER BY "
               "ROUTINE_NAME")
        .arg(DatabaseLiteral(db, needBackslashes));
}

QString TriggerNamesStatement(const QString& db, bool needBackslashes) {
    return QStringLiteral("SELECT TRIGGER_SCHEMA, TRIGGER_NAME FROM information_schema.TRIGGERS %1 ORDER BY "
                          "TRIGGER_SCHEMA, TRIGGER_NAME ")
        .arg(db.isNull() ? QString()
                         : QStringLiteral("WHERE LOWER(TRIGGER_SCHEMA) = ") + DatabaseLiteral(db, needBackslashes));
}

QStringList TCustomMyConnection::ColumnValues(const QString& sql, const QString& column) {
    QStringList values;
    WhileConnected([&] {
        TMySQLRecordset rs;
        rs.FComponent = this;
        rs.SetConnection(GetIConnection());
        rs.GetCommand().FComponent = this;
        rs.GetCommand().SetProp(prCommandTimeout, FConnectionTimeout);
        rs.GetCommand().SetProp(prDisableParamScan, true);
        rs.SetSQL(sql);
        rs.FFetchAll = true;
        rs.Open();
        const TFieldDesc* f = column.isEmpty() ? &rs.Field(1) : &rs.FieldByName(column);
        TRecBuf buf = rs.AllocRecBuf();
        ScopeExit free([&] { TData::FreeRecBuf(buf); });
        rs.SetToBegin();
        for (rs.GetNextRecord(buf); !rs.Eof(); rs.GetNextRecord(buf))
            values << rs.GetFieldAsVariant(f->FFieldNo, buf).AsString();
    });
    return values;
}

void TCustomMyConnection::GetDatabaseNames(QStringList& list) {
    list.clear();
    list = ColumnValues(QStringLiteral("SHOW DATABASES"));
}

void TCustomMyConnection::GetTableNames(QStringList& list, bool allTables) {
    list.clear();
    WhileConnected([&] {
        TMySQLConnection* c = MySQLConnection();
        if (c->ServerVersion().Primary >= 5) {
            if (!allTables) {
                list = ColumnValues(TableNamesStatement(false), QStringLiteral("TABLE_NAME"));
                return;
            }
            list = ColumnValues(QStringLiteral("SELECT CONCAT(TABLE_SCHEMA, '.', TABLE_NAME) FROM "
                                               "information_schema.TABLES ORDER BY TABLE_SCHEMA, TABLE_NAME"));
        } else if (!FDatabase.isEmpty()) {
            list = ColumnValues(QStringLiteral("SHOW TABLES"));
        }
    });
}

void TCustomMyConnection::ListNames(QStringList& list, const std::function<QString(const TServerVersion&)>& statement,
                                    const QString& column) {
    list.clear();
    const bool wasConnected = GetConnected();
    const QString database = FDatabase;
    // Put back whatever happens: a connection opened here is closed again, the database is
    // the one it was.
    ScopeExit restore([&] {
        if (!wasConnected) Disconnect();
        SetDatabase(database);
    });
    if (!wasConnected) {
        SetDatabase(QString());  // the login must not depend on the database
        Connect();
    }
    const TServerVersion server = MySQLConnection()->ServerVersion();
    if (server.Primary < 5) return;
    list = ColumnValues(statement(server), column);
}

void TCustomMyConnection::GetStoredProcNames(QStringList& list, bool allProcs) {
    const QString database = FDatabase;
    if (allProcs) {
        list.clear();
        const QString sql = QStringLiteral(
            "SELECT CONCAT(ROUTINE_SCHEMA, '.', ROUTINE_NAME) FROM information_schema.routines ORDER BY "
            "ROUTINE_SCHEMA, ROUTINE_NAME");
        ListNames(list, [&](const TServerVersion&) { return sql; }, QString());
        return;
    }
    ListNames(list, [&](const TServerVersion& server) {
        return StoredProcNamesStatement(server, database, NeedBackslashes());
    }, QString());
}

void TCustomMyConnection::GetTriggerNames(QStringList& list, bool allTriggers) {
    const QString database = FDatabase;
    ListNames(list, [&](const TServerVersion&) {
        return TriggerNamesStatement(allTriggers ? QString() : database.isNull() ? QStringLiteral("") : database,
                                     NeedBackslashes());
    }, QStringLiteral("TRIGGER_NAME"));
}

void TCustomMyConnection::Ping() {
    WhileConnected([&] { MySQLConnection()->Ping(); });
}

QString TCustomMyConnection::GetServerVersion() {
    QString version;
    WhileConnected([&] { version = MySQLConnection()->GetServerVersionFull(); });
    return version;
}

QString TCustomMyConnection::GetClientVersion() const {
    return FMyOptions.Direct() && !FMyOptions.Embedded()
               ? QString::fromLatin1(protocol::TMySQLAPIDirect::ClientInfo)
               : QString();
}

int64_t TCustomMyConnection::GetThreadId() {
    return GetConnected() ? MySQLConnection()->GetThreadId() : 0;
}

bool TCustomMyConnection::NeedBackslashes() const {
    Variant value = true;
    if (TCRConnection* c = GetIConnection()) c->GetProp(prNeedBackslashes, value);
    return value.AsBoolean();
}

// --- TMyConnection ---

void TMyConnection::SetPort(int value) {
    if (value == FPort) return;
    Disconnect();
    FPort = value;
    if (TCRConnection* c = GetIConnection()) c->SetProp(prPort, value);
}

void TMyConnection::AssignConnectProps(TCRConnection* c) {
    c->SetProp(prPort, FPort);
    c->SetProp(prSSL_Chipher, FSSLOptions.ChipherList);
    c->SetProp(prSSL_CA, FSSLOptions.CACert);
    c->SetProp(prSSL_Key, FSSLOptions.Key);
    c->SetProp(prSSL_Cert, FSSLOptions.Cert);
    TCustomMyConnection::AssignConnectProps(c);
}

// --- TMyCommand ---

TMyCommand::TMyCommand() {
    FMacros.SetParserClass([](const QString& text) { return std::make_unique<sqltext::TMyParser>(text); });
}

std::unique_ptr<TCRCommand> TMyCommand::CreateICommandObject() {
    auto command = std::make_unique<TMySQLCommand>();
    command->SetProp(prCommandTimeout, FCommandTimeout);
    return command;
}

void TMyCommand::SetCommandTimeout(int seconds) {
    FCommandTimeout = seconds;
    if (FICommand) FICommand->SetProp(prCommandTimeout, seconds);
}

void TMyCommand::AssembleSQL() {
    CheckICommand();
    auto* command = static_cast<TMySQLCommand*>(FICommand.get());
    command->SetFillParamPosition(FParamCheck);
    ScopeExit reset([&] { command->SetFillParamPosition(false); });
    TCustomDASQL::AssembleSQL();
}

int TMyCommand::RowsAffected() const {
    if (!FICommand) return 0;
    const int rows = static_cast<const TMySQLCommand*>(FICommand.get())->RowsAffected();
    return rows < 0 ? 0 : rows;
}

void TMyCommand::BreakExec() {
    if (FICommand) static_cast<TMySQLCommand*>(FICommand.get())->BreakExec();
}

}  // namespace calvoro::dac
