#include "MyAccess.h"

#include "MyClasses.h"
#include "MyRecordset.h"
#include "MyServiceQuery.h"
#include "MyServices.h"
#include "MyStatementScan.h"
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
void TCustomMyConnectionOptions::SetUnixSocket(const QString& value) { Change(FUnixSocket, value, prUnixSocket); }
void TCustomMyConnectionOptions::SetDirect(bool value) { Change(FDirect, value, prDirect); }
void TCustomMyConnectionOptions::SetEmbedded(bool value) { Change(FEmbedded, value, prEmbedded); }
void TCustomMyConnectionOptions::SetOptimizedBigInt(bool value) {
    Change(FOptimizedBigInt, value, prOptimizedBigInt);
}
void TCustomMyConnectionOptions::SetNullForZeroDelphiDate(bool value) {
    Change(FNullForZeroDelphiDate, value, prNullForZeroDelphiDate);
}

void TCustomMyConnectionOptions::SetMaxAllowedPacket(int64_t bytes) {
    Change(FMaxAllowedPacket, bytes, prMaxAllowedPacket);
}

void TCustomMyConnectionOptions::SetReadOnly(bool value) { Change(FReadOnly, value, prReadOnlySession); }

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
    c->SetProp(prUnixSocket, FMyOptions.FUnixSocket);
    TCustomDAConnection::AssignConnectProps(c);
    c->SetProp(prOptimizedBigInt, FMyOptions.FOptimizedBigInt);
    c->SetProp(prNullForZeroDelphiDate, FMyOptions.FNullForZeroDelphiDate);
    c->SetProp(prCheckBackslashes, FMyOptions.FCheckBackslashes);
    c->SetProp(prMaxAllowedPacket, FMyOptions.FMaxAllowedPacket);
    c->SetProp(prReadOnlySession, FMyOptions.FReadOnly);
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
// The lower-cased database name as a string literal ('mysql' without one). The name is raw, as
// the login and USE send it.
QString DatabaseLiteral(const QString& db, bool needBackslashes) {
    if (db.isEmpty()) return QStringLiteral("'mysql'");
    return QuoteString(db.toLower(), needBackslashes);
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
        TMyServiceQuery query(GetIConnection(), this, FConnectionTimeout);
        query.SetRawSQL(sql);
        if (!query.Execute()) return;
        TMySQLRecordset& rs = query.RecordSet();
        const TFieldDesc* f = column.isEmpty() ? &rs.Field(1) : &rs.FieldByName(column);
        query.ForEachRow(
            [&](const uint8_t* record) { values << rs.GetFieldAsVariant(f->FFieldNo, record).AsString(); });
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

QString TCustomMyConnection::SslCipher() const {
    const TMySQLConnection* c = MySQLConnection();
    return c ? c->SslCipher() : QString();
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
    AssignSSLProps(c);
    TCustomMyConnection::AssignConnectProps(c);
}

void TMyConnection::AssignSSLProps(TCRConnection* c) const {
    c->SetProp(prSSL_Chipher, FSSLOptions.ChipherList);
    c->SetProp(prSSL_CA, FSSLOptions.CACert);
    c->SetProp(prSSL_Key, FSSLOptions.Key);
    c->SetProp(prSSL_Cert, FSSLOptions.Cert);
    c->SetProp(prSSL_CAPath, FSSLOptions.CAPath);
    c->SetProp(prSSL_Mode, int(FSSLOptions.Mode));
    c->SetProp(prServerPublicKey, FSSLOptions.ServerPublicKey);
    c->SetProp(prGetServerPublicKey, FSSLOptions.GetServerPublicKey);
}

void TMyConnection::DoConnect() {
    if (TCRConnection* c = GetIConnection()) AssignSSLProps(c);
    TCustomMyConnection::DoConnect();
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

// --- TMyDataSetOptions ---

TMyDataSetOptions::TMyDataSetOptions(TCustomMyDataSet* owner) : TDADataSetOptions(owner) {
    FSetFieldsReadOnly = false;
    FRequiredFields = false;
}

TCustomMyDataSet& TMyDataSetOptions::MyOwner() const { return static_cast<TCustomMyDataSet&>(*FOwner); }

void TMyDataSetOptions::SetLayout(bool& field, bool value, int prop) {
    if (value == field) return;
    FOwner->CheckInactive();
    field = value;
    FOwner->RecordSetOptionChanged(prop, value);
}

void TMyDataSetOptions::SetFieldsAsString(bool value) { SetLayout(FFieldsAsString, value, prFieldsAsString); }
void TMyDataSetOptions::SetNullForZeroDate(bool value) { SetLayout(FNullForZeroDate, value, prNullForZeroDate); }
void TMyDataSetOptions::SetEnableBoolean(bool value) { SetLayout(FEnableBoolean, value, prEnableBoolean); }
void TMyDataSetOptions::SetBinaryAsString(bool value) { SetLayout(FBinaryAsString, value, prBinaryAsString); }
void TMyDataSetOptions::SetCreateConnection(bool value) { SetLayout(FCreateConnection, value, prCreateConnection); }
void TMyDataSetOptions::SetMultipleResults(bool value) { SetLayout(FMultipleResults, value, prOpenNext); }

void TMyDataSetOptions::SetAutoRefresh(bool value) {
    FAutoRefresh = value;
    MyOwner().UpdateAutoRefreshTimer();
}

void TMyDataSetOptions::SetAutoRefreshInterval(int value) {
    FAutoRefreshInterval = value;
    if (TWin32Timer* timer = MyOwner().AutoRefreshTimer()) timer->SetInterval(value * 1000);
}

// --- TCustomMyDataSet ---

TCustomMyDataSet::TCustomMyDataSet() {
    CreateComponents();
    SetFetchAll(true);
}

TCustomMyDataSet::~TCustomMyDataSet() = default;

TMySQLRecordset& TCustomMyDataSet::MyRecordSet() const { return static_cast<TMySQLRecordset&>(RecordSet()); }

TCustomMyDataSetService& TCustomMyDataSet::MyService() const { return static_cast<TCustomMyDataSetService&>(Service()); }

std::unique_ptr<TCustomDASQL> TCustomMyDataSet::CreateCommand() { return std::make_unique<TMyCommand>(); }

std::unique_ptr<TCRRecordSet> TCustomMyDataSet::CreateRecordSet() { return std::make_unique<TMySQLRecordset>(); }

std::unique_ptr<TDADataSetOptions> TCustomMyDataSet::CreateOptions() {
    return std::make_unique<TMyDataSetOptions>(this);
}

std::unique_ptr<TDADataSetService> TCustomMyDataSet::CreateService() {
    return std::make_unique<TMyDataSetService>(*this);
}

void TCustomMyDataSet::PushRecordSetOptions() {
    TCustomDADataSet::PushRecordSetOptions();
    TMySQLRecordset& rs = MyRecordSet();
    const TMyDataSetOptions& o = MyOptions();
    rs.SetProp(prFieldsAsString, o.FieldsAsString());
    rs.SetProp(prNullForZeroDate, o.NullForZeroDate());
    rs.SetProp(prEnableBoolean, o.EnableBoolean());
    rs.SetProp(prBinaryAsString, o.BinaryAsString());
    rs.SetProp(prCreateConnection, o.CreateConnection());
    // Only switched on here: OpenNext switches the record set on for itself, whatever the option.
    if (o.MultipleResults()) rs.SetProp(prOpenNext, true);
    rs.SetProp(prCommandTimeout, FCommandTimeout);
}

void TCustomMyDataSet::SetCommandTimeout(int seconds) {
    FCommandTimeout = seconds;
    static_cast<TMyCommand&>(Command()).SetCommandTimeout(seconds);
    MyRecordSet().SetProp(prCommandTimeout, seconds);
}

QString TCustomMyDataSet::QuoteName(const QString& name) const {
    return TCustomMySQLGenerator::QuoteName(name, FOptions->QuoteNames());
}

QString TCustomMyDataSet::DialectAddWhere(const QString& sql, const QString& condition) const {
    return dac::AddWhere(sql, condition);
}
QString TCustomMyDataSet::DialectDeleteWhere(const QString& sql) const { return dac::DeleteWhere(sql); }
QString TCustomMyDataSet::DialectSetOrderBy(const QString& sql, const QString& fields) const {
    return dac::SetOrderBy(sql, fields);
}
QString TCustomMyDataSet::DialectGetOrderBy(const QString& sql) const { return dac::GetOrderBy(sql); }
QString TCustomMyDataSet::DialectCountQuery(const QString& sql) const {
    // A result parameter first: a call, not a query that can be counted.
    const TDAParams& params = const_cast<TCustomMyDataSet*>(this)->Params();
    if (params.Count() && params[0].ParamType() == ptResult) return QString();
    return CountQuery(sql);
}

int64_t TCustomMyDataSet::QueryFirstValue(const QString& sql) { return MyService().Updater().QueryValue(sql); }

bool TCustomMyDataSet::OpenNext() {
    CheckActive();
    MyRecordSet().SetProp(prOpenNext, true);
    FData->SetAutoInitFields(true);
    if (!MyRecordSet().OpenNext()) return false;
    ShowNewResult();
    DataEvent(deDataSetChange);
    return true;
}

void TCustomMyDataSet::ShowNewResult() {
    // New columns: new field objects and a new updating table.
    CreateFields();
    FRowsAffected = -1;
    InternalFirst();
    const bool any = InternalNext();
    FBof = true;
    FEof = !any;
}

void TCustomMyDataSet::SetRefreshSQL(const QString& statement) {
    FRefreshSQL = statement;
    FRefreshRefusal.clear();
}

void TCustomMyDataSet::RefuseRefresh(const QString& reason) {
    FRefreshSQL.reset();
    FRefreshRefusal = reason;
}

void TCustomMyDataSet::BeforeOpenCursor() {
    FRefreshSQL.reset();
    FRefreshRefusal.clear();
    TCustomDADataSet::BeforeOpenCursor();
}

void TCustomMyDataSet::InternalRefresh() {
    if (!FRefreshRefusal.isEmpty()) throw EDatabaseError(FRefreshRefusal);
    if (FRefreshSQL) {
        // The named statement alone, sent as it stands; it gives the same columns, so the
        // field objects stay and the current row is found again as in any refresh.
        FRawText = *FRefreshSQL;
        ScopeExit plain([&] { FRawText.reset(); });
        TCustomDADataSet::InternalRefresh();
        return;
    }
    const int steps = MyRecordSet().ResultIndex();
    if (steps == 0) {
        TCustomDADataSet::InternalRefresh();
        return;
    }
    // A later result of a statement text has other columns than the first: the text runs again
    // and is stepped to the same result, with field objects of its own.
    TCustomMyConnection* connection = MyConnection();
    if (connection) connection->PushOperation(clRefresh);
    ScopeExit pop([&] {
        if (connection) connection->PopOperation();
    });
    StartConnectionUse();
    ScopeExit end([&] { EndConnectionUse(); });
    FData->SetAutoInitFields(true);
    WriteRecordSetCommand();
    FData->Close();
    FData->Open();
    while (MyRecordSet().ResultIndex() < steps && MyRecordSet().OpenNext()) {
    }
    ShowNewResult();
}

void TCustomMyDataSet::RefreshQuick(bool checkDeleted) {
    CheckActive();
    const TFieldDesc* timestamp = MyService().TimestampField();
    if (checkDeleted || !timestamp || MyService().KeyFieldNames().isEmpty()) return Refresh();
    CheckBrowseMode();
    StartConnectionUse();
    ScopeExit end([&] { EndConnectionUse(); });
    MyService().Updater().RefreshChanged();
    DataEvent(deDataSetChange);
}

void TCustomMyDataSet::LockTable(TLockType type) {
    CheckActive();
    const TCRTableInfo* table = MyService().UpdatingTable();
    if (!table) return;
    if (!FFetchAll) throw EDatabaseError(QStringLiteral("LockTable is not compatible with FetchAll = False"));
    if (!FConnection) throw EDatabaseError(QStringLiteral("Connection is not defined"));
    static const char* const modes[] = {" READ", " READ LOCAL", " WRITE", " LOW_PRIORITY WRITE"};
    // The raw name quoted (always, or where it needs it, as the options say).
    const QString name = table->Database.isEmpty() ? QuoteName(table->TableName)
                                                   : QuoteName(table->Database) + u'.' + QuoteName(table->TableName);
    FConnection->ExecSQL(QStringLiteral("LOCK TABLES ") + name + QLatin1String(modes[type]));
}

void TCustomMyDataSet::UnLockTable() {
    if (!FConnection) throw EDatabaseError(QStringLiteral("Connection is not defined"));
    FConnection->ExecSQL(QStringLiteral("UNLOCK TABLES"));
}

void TCustomMyDataSet::Lock(TLockRecordTypeI type) {
    CheckActive();
    if (IsEmpty()) throw EDatabaseError(QStringLiteral("There is no active record to lock"));
    StartConnectionUse();
    ScopeExit end([&] { EndConnectionUse(); });
    MyService().Updater().Lock(type);
}

void TCustomMyDataSet::GetFieldEnum(QStringList& list, const QString& fieldName, const QString& tableName) {
    if (fieldName.isEmpty()) throw EDatabaseError(QStringLiteral("Field name must be defined"));
    // The table as typed, or the raw name of the field's table.
    TObjectName table;
    if (!tableName.trimmed().isEmpty()) {
        table = ParseObjectName(tableName);
    } else {
        const auto* desc = dynamic_cast<const TCRFieldDesc*>(FData->FindField(fieldName));
        if (desc && desc->FTableInfo) table = {desc->FTableInfo->Database, desc->FTableInfo->TableName};
    }
    const QString quotedTable = table.Database.isEmpty() ? QuoteName(table.Name)
                                                         : QuoteName(table.Database) + u'.' + QuoteName(table.Name);
    list.clear();
    QString pattern;
    for (const QChar c : fieldName) {
        if (c == u'%' || c == u'\'' || c == u'\\') pattern += u'\\';
        pattern += c;
    }
    TMyQuery query;
    query.SetConnection(FConnection);
    query.SQL().SetText(QStringLiteral("DESCRIBE ") + quotedTable + u' ' + QuoteName(pattern));
    query.Open();
    if (query.RecordCount() == 0) throw EDatabaseError(QStringLiteral("Field %1 not found").arg(fieldName));
    if (query.RecordCount() > 1) throw EDatabaseError(QStringLiteral("More than one field found"));
    const QString type = query.FieldByName(QStringLiteral("Type")).AsString();
    qsizetype i;
    if (type.startsWith(QStringLiteral("enum"), Qt::CaseInsensitive)) i = 6;
    else if (type.startsWith(QStringLiteral("set"), Qt::CaseInsensitive)) i = 5;
    else return;
    // Quoted values, a doubled quote standing for one.
    bool inValue = true;
    QString value;
    for (; i < type.size(); ++i) {
        const QChar c = type[i];
        if (!inValue) {
            if (c == u'\'') inValue = true;
        } else if (c != u'\'') {
            value += c;
        } else if (i + 1 < type.size() && type[i + 1] == u'\'') {
            value += c;
            ++i;
        } else {
            list << value;
            value.clear();
            inValue = false;
        }
    }
}

void TCustomMyDataSet::BreakExec() {
    MyRecordSet().GetCommand().BreakExec();
    MyRecordSet().BreakFetch();
}

void TCustomMyDataSet::BreakQuery() {
    // The fetch learns of the stop first: a kill that meets rows already on their way is then
    // one it expects.
    MyRecordSet().BreakFetch();
    MyRecordSet().GetCommand().BreakExec(TMySQLCommand::bkQuery);
}

void TCustomMyDataSet::UpdateAutoRefreshTimer() {
    if (!FAutoRefreshTimer) {
        FAutoRefreshTimer = std::make_unique<TWin32Timer>();
        FAutoRefreshTimer->SetInterval(MyOptions().AutoRefreshInterval() * 1000);
        FAutoRefreshTimer->SetOnTimer([this](TWin32Timer*) { AutoRefreshTick(); });
    }
    FAutoRefreshTimer->SetEnabled(MyOptions().AutoRefresh());
}

void TCustomMyDataSet::AutoRefreshTick() {
    if (!Active() || FState != dsBrowse) return;
    {
        ScopeExit off([&] { MyOptions().SetAutoRefresh(false); });
        if (MyService().TimestampField()) RefreshQuick(true);
        else Refresh();
        off.Dismiss();
    }
    // The next tick one full interval after this refresh ended.
    FAutoRefreshTimer->SetEnabled(false);
    FAutoRefreshTimer->SetEnabled(true);
}

// --- TMyTableOptions ---

void TMyTableOptions::SetUseHandler(bool value) {
    if (value == FUseHandler) return;
    FOwner->CheckInactive();
    FUseHandler = value;
    FOwner->RecordSetOptionChanged(prUseHandler, value);
    static_cast<TCustomMyTable*>(FOwner)->ClearSQL();
}

void TMyTableOptions::SetHandlerIndex(const QString& value) {
    if (value == FHandlerIndex) return;
    FOwner->CheckInactive();
    FHandlerIndex = value;
}

// --- TCustomMyTable ---

TCustomMyTable::TCustomMyTable() {
    FOptions = CreateOptions();
    PushRecordSetOptions();
}

std::unique_ptr<TDADataSetOptions> TCustomMyTable::CreateOptions() { return std::make_unique<TMyTableOptions>(this); }

void TCustomMyTable::ClearSQL() { SQL().Clear(); }

void TCustomMyTable::SetTableName(const QString& value) {
    // Parsed once; statements quote the parts.
    const TObjectName table = value.trimmed().isEmpty() ? TObjectName() : ParseObjectName(value);
    Close();
    ClearSQL();
    FIndexDefs.clear();
    FTable = table;
    FTableName = table.Name.isEmpty() ? QString() : TypedObjectName(table);
}

void TCustomMyTable::SetOrderFields(const QString& value) {
    const QString trimmed = value.trimmed();
    if (trimmed == FOrderFields) return;
    const bool wasActive = Active();
    FOrderFields = trimmed;
    ClearSQL();
    if (wasActive) Open();
}

void TCustomMyTable::SetLimit(int value) {
    Close();
    FLimit = value;
    ClearSQL();
}

void TCustomMyTable::SetOffset(int value) {
    Close();
    FOffset = value;
    ClearSQL();
}

void TCustomMyTable::PrepareSQL() {
    if (!SQL().Text().trimmed().isEmpty()) return;
    if (FTableName.isEmpty()) throw EDatabaseError(QStringLiteral("TableName must be defined"));
    const TMyTableOptions& o = TableOptions();
    bool protocol41 = true;
    if (MyConnection() && MyConnection()->MySQLConnection()) {
        const TServerVersion v = MyConnection()->MySQLConnection()->ServerVersion();
        protocol41 = v.Primary > 4 || (v.Primary == 4 && v.Minor >= 1);
    }
    SQL().SetText(TMySQLGenerator::GenerateTableSQL(FTable, FOrderFields, FLimit, FOffset, o.UseHandler(),
                                                    o.HandlerIndex(), QString(), protocol41));
}

void TCustomMyTable::BeforeOpenCursor() {
    PrepareSQL();
    TCustomMyDataSet::BeforeOpenCursor();
    const TMyTableOptions& o = TableOptions();
    if (o.UseHandler() && !SQL().Text().contains(QStringLiteral(" OPEN;"))) {
        // An older server: the handler is opened by a statement of its own.
        FConnection->ExecSQL(QStringLiteral("HANDLER ") + QuoteObjectName(FTable, false) + QStringLiteral(" OPEN"));
        if (!FHandlerOpen) {
            FHandlerOpen = true;
            StartConnectionUse();
        }
    }
}

void TCustomMyTable::InternalClose() {
    ScopeExit handler([&] {
        if (!FHandlerOpen) return;
        FHandlerOpen = false;
        ScopeExit end([&] { EndConnectionUse(); });
        FConnection->ExecSQL(QStringLiteral("HANDLER ") + QuoteObjectName(FTable, false) + QStringLiteral(" CLOSE"));
    });
    TCustomMyDataSet::InternalClose();
}

void TCustomMyTable::EmptyTable() {
    if (FTableName.isEmpty()) throw EDatabaseError(QStringLiteral("TableName must be defined"));
    StartConnectionUse();
    ScopeExit end([&] { EndConnectionUse(); });
    FConnection->ExecSQL(QStringLiteral("TRUNCATE TABLE ") + QuoteObjectName(FTable, false));
    if (Active()) Refresh();
}

const std::vector<TMyIndexDef>& TCustomMyTable::IndexDefs() {
    if (!FConnection || !FConnection->GetConnected() || FTableName.trimmed().isEmpty()) return FIndexDefs;
    FIndexDefs.clear();
    try {
        TMyQuery query;
        query.SetConnection(FConnection);
        query.MyOptions().SetEnableBoolean(false);
        query.SQL().SetText(QStringLiteral("SHOW INDEX FROM ") + QuoteObjectName(FTable, false));
        query.Open();
        for (query.First(); !query.Eof(); query.Next()) {
            const QString key = query.FieldByName(QStringLiteral("Key_name")).AsString();
            const QString column = query.FieldByName(QStringLiteral("Column_name")).AsString();
            auto it = std::find_if(FIndexDefs.begin(), FIndexDefs.end(), [&](const TMyIndexDef& d) { return d.Name == key; });
            if (it == FIndexDefs.end()) {
                FIndexDefs.push_back({key, column, query.FieldByName(QStringLiteral("Non_unique")).AsInteger() == 0});
            } else {
                it->Fields += u';' + column;
            }
        }
    } catch (const EDAError&) {
        // The index list is informative: a table the server cannot list has none here.
        FIndexDefs.clear();
    }
    return FIndexDefs;
}

}  // namespace calvoro::dac
