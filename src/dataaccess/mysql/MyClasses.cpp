#include "MyClasses.h"

#include "MyParams.h"
#include "MyRecordset.h"
#include "MyServiceQuery.h"
#include "MySqlFormat.h"
#include "common/CodePage.h"
#include "common/ScopeGuard.h"

#include <QDateTime>

namespace calvoro::dac {

using namespace protocol;

protocol::TMySQLAPI& MyAPI() {
    static TMySQLAPIDirect api;
    static const bool checked = (api.CheckMySQLLib(), true);
    (void)checked;
    return api;
}

namespace {

std::string AnsiString(const QString& text) { return UnicodeToAnsi(text).toStdString(); }

int ParseInt(const QString& text) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok) throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return value;
}

// The component's transports pass to the client API by number.
static_assert(int(mpTCP) == MYSQL_PROTOCOL_TCP && int(mpSocket) == MYSQL_PROTOCOL_SOCKET &&
              int(mpPipe) == MYSQL_PROTOCOL_PIPE && int(mpMemory) == MYSQL_PROTOCOL_MEMORY);

qsizetype DigitRun(const QString& text, qsizetype from) {
    qsizetype i = from;
    while (i < text.size() && text[i].isDigit()) ++i;
    return i - from;
}

}  // namespace

// --- EMyError ---

EMyError::EMyError(int errorCode, const QString& message, TComponent* component)
    : EDAError(errorCode, message, component) {
    if (errorCode != ER_PARSE_ERROR) return;
    // The line of a syntax error: the last run of digits in the message.
    qsizetype end = message.size();
    while (end > 0 && !message[end - 1].isDigit()) --end;
    qsizetype begin = end;
    while (begin > 0 && message[begin - 1].isDigit()) --begin;
    bool ok = false;
    const int line = message.mid(begin, end - begin).toInt(&ok);
    if (ok) FLineNumber = line;
}

bool EMyError::IsFatalError() const {
    const int code = ErrorCode();
    return code == ER_SERVER_SHUTDOWN || code == CR_CONNECTION_ERROR || code == CR_CONN_HOST_ERROR ||
           code == CR_SERVER_GONE_ERROR || code == CR_SERVER_LOST ||
           code == CR_NET_PACKET_TOO_LARGE;  // the client drops the stream after a packet over its limit
}

TServerVersion ParseServerVersion(const QString& text) {
    TServerVersion v;
    const qsizetype dot = text.indexOf(u'.');
    v.Primary = ParseInt(dot < 0 ? text : text.left(dot));
    const qsizetype minorStart = dot + 1;
    const qsizetype minorLength = DigitRun(text, minorStart);
    v.Minor = ParseInt(text.mid(minorStart, minorLength));
    const qsizetype releaseStart = minorStart + minorLength + 1;
    v.Release = ParseInt(text.mid(releaseStart, DigitRun(text, releaseStart)));
    return v;
}

// --- TMySQLConnection ---

TMySQLConnection::TMySQLConnection() : FMySQLAPI(&MyAPI()) {}

TMySQLConnection::~TMySQLConnection() {
    try {
        Disconnect();
    } catch (const std::exception&) {
        // A destructor cannot raise; the handle is freed either way.
    }
}

QString TMySQLConnection::GetClientVersion() const {
    return QString::fromStdString(FMySQLAPI->mysql_get_client_info());
}

QByteArray TMySQLConnection::Encode(const QString& text) const {
    return FUseUnicode ? text.toUtf8() : UnicodeToAnsi(text);
}

bool TMySQLConnection::Utf8Names() const {
    if (FUnicodeOption) return true;
    for (const char* utf8 : {"utf8", "utf8mb3", "utf8mb4"})
        if (FCharset.compare(QLatin1String(utf8), Qt::CaseInsensitive) == 0) return true;
    return false;
}

std::string TMySQLConnection::NameBytes(const QString& text) const {
    return Utf8Names() ? text.toUtf8().toStdString() : AnsiString(text);
}

QString TMySQLConnection::Decode(const QByteArray& bytes) const {
    return FUseUnicode ? QString::fromUtf8(bytes) : AnsiToUnicode(bytes);
}

QString TMySQLConnection::Decode(const std::string& bytes) const {
    return FUseUnicode ? QString::fromUtf8(bytes.data(), qsizetype(bytes.size())) : AnsiToUnicode(bytes);
}

void TMySQLConnection::Connect(const QString&) {
    if (FConnected) return;
    // Something that runs while the windows' thread waits for this connect asks for the
    // connection: it has to wait too.
    if (FInConnectStep)
        throw EDatabaseError(QStringLiteral("The connection is being opened; wait for the connect to end, or cancel it."));
    FServerVer.clear();
    FServerPrimaryVer = FServerMinorVer = FServerReleaseVer = 0;
    try {
        if (FMySQL) Disconnect();
        FMySQL = FMySQLAPI->mysql_init(nullptr);
        if (!FMySQL) throw EMyError(CR_OUT_OF_MEMORY, QStringLiteral("MySQL client run out of memory"), FComponent);
        const int timeout = FConnectionTimeout;
        Check(FMySQLAPI->mysql_options(FMySQL, MYSQL_OPT_CONNECT_TIMEOUT, &timeout), FComponent);
        switch (FProtocol) {
            case mpDefault:
                if (!FUnixSocket.isEmpty()) {
                    const int protocol = MYSQL_PROTOCOL_SOCKET;
                    Check(FMySQLAPI->mysql_options(FMySQL, MYSQL_OPT_PROTOCOL, &protocol), FComponent);
                }
                break;
            case mpSSL: {
                auto slashes = [](QString s) { return AnsiString(s.replace(u'\\', u'/')); };
                Check(FMySQLAPI->mysql_ssl_set(FMySQL, slashes(FSSL_Key), slashes(FSSL_Cert),
                                               slashes(FSSL_CA), std::string(), AnsiString(FSSL_Chipher)),
                      FComponent);
                break;
            }
            case mpHttp: throw EDatabaseError(QStringLiteral("Wrong protocol"));
            case mpTCP:
            case mpSocket:
            case mpPipe:
            case mpMemory:
            default: {  // a number outside the list: the client API refuses it
                const int protocol = FProtocol;
                Check(FMySQLAPI->mysql_options(FMySQL, MYSQL_OPT_PROTOCOL, &protocol), FComponent);
                break;
            }
        }
        // TLS and the server's public key, whatever the protocol (mpSSL asks for at least
        // PREFERRED); the files given through mysql_ssl_set stay as that converted them.
        const int mode = FSSL_Mode;
        Check(FMySQLAPI->mysql_options(FMySQL, MYSQL_OPT_SSL_MODE, &mode), FComponent);
        const auto option = [&](TMySqlOption o, const QString& value) {
            if (value.isEmpty()) return;
            const std::string text = AnsiString(value);
            Check(FMySQLAPI->mysql_options(FMySQL, o, text.c_str()), FComponent);
        };
        if (FProtocol != mpSSL) {
            option(MYSQL_OPT_SSL_KEY, FSSL_Key);
            option(MYSQL_OPT_SSL_CERT, FSSL_Cert);
            option(MYSQL_OPT_SSL_CA, FSSL_CA);
            option(MYSQL_OPT_SSL_CIPHER, FSSL_Chipher);
        }
        option(MYSQL_OPT_SSL_CAPATH, FSSL_CAPath);
        option(MYSQL_SERVER_PUBLIC_KEY, FServerPublicKey);
        const int getKey = FGetServerPublicKey ? 1 : 0;
        Check(FMySQLAPI->mysql_options(FMySQL, MYSQL_OPT_GET_SERVER_PUBLIC_KEY, &getKey), FComponent);
        const unsigned long maxPacket = FMaxAllowedPacket > 0 ? static_cast<unsigned long>(FMaxAllowedPacket) : 0;
        Check(FMySQLAPI->mysql_options(FMySQL, MYSQL_OPT_MAX_ALLOWED_PACKET, &maxPacket), FComponent);
        // The server reads the user name and database in the handshake's character set.
        const char* namesCharset = Utf8Names() ? "utf8" : "latin1";
        Check(FMySQLAPI->mysql_options(FMySQL, MYSQL_SET_CHARSET_NAME, namesCharset), FComponent);
        uint32_t flags = CLIENT_FOUND_ROWS | CLIENT_MULTI_STATEMENTS;
        if (FCompress) flags |= CLIENT_COMPRESS;
        // A server written with its port ("db:3307", "[::1]:3307") names the port itself.
        std::string host = AnsiString(FServer);
        int port = FPort;
        std::string splitHost;
        int splitPort = 0;
        if (SplitHostPort(host, splitHost, splitPort)) {
            host = splitHost;
            if (splitPort != 0) port = splitPort;
        }
        if (host.empty()) host = "localhost";
        // The login may take until the connect time-out: it runs as RunConnectStep runs it,
        // and BreakConnect can end it meanwhile.
        const PMYSQL_CON handle = FMySQL;
        const std::string user = NameBytes(FUsername), password = NameBytes(FPassword),
                          database = NameBytes(FDatabase), socket = AnsiString(FUnixSocket);
        PMYSQL_CON connected = nullptr;
        {
            std::lock_guard lock(FConnectCS);
            FConnecting = handle;
        }
        {
            FInConnectStep = true;
            ScopeExit stepDone([&] {
                FInConnectStep = false;
                std::lock_guard lock(FConnectCS);
                FConnecting = nullptr;
            });
            RunConnectStep([&] {
                connected =
                    FMySQLAPI->mysql_real_connect(handle, host, user, password, database, unsigned(port), socket, flags);
            });
        }
        Check(connected, FComponent);
        FConnected = true;
        FNativeConnection = true;
        FConnectionTime = QDateTime::currentMSecsSinceEpoch();
        FIsValid = true;
        FServerVer = AnsiToUnicode(FMySQLAPI->mysql_get_server_info(FMySQL));
        const TServerVersion v = ParseServerVersion(FServerVer);
        FServerPrimaryVer = v.Primary;
        FServerMinorVer = v.Minor;
        FServerReleaseVer = v.Release;
        ApplyCharset();
        CheckBackslashEscapes();
        if (FReadOnlySession) ExecStatement(QStringLiteral("SET SESSION TRANSACTION READ ONLY"));
    } catch (const EFailOver&) {
        throw;
    } catch (...) {
        try {
            Disconnect();
        } catch (const std::exception&) {
            // The connect's own error, raised next, says what went wrong.
        }
        throw;
    }
}

void TMySQLConnection::Disconnect() {
    if (FInConnectStep) {
        // The handle is in use by the login; the connect frees it when it has ended.
        BreakConnect();
        return;
    }
    PMYSQL_CON handle = FMySQL;
    FMySQL = nullptr;
    FConnected = false;
    FTransactionBefore = FLastStatementFailed = false;  // a new session starts outside one
    if (handle && FNativeConnection) FMySQLAPI->mysql_close(handle);
}

void TMySQLConnection::BreakConnect() {
    std::lock_guard lock(FConnectCS);
    if (FConnecting) FConnecting->CancelConnect();
}

bool TMySQLConnection::SupportsUtf8mb4() const {
    // MySQL 5.5.3 and later, and every MariaDB from 5.5 on.
    return FServerPrimaryVer > 5 ||
           (FServerPrimaryVer == 5 && (FServerMinorVer > 5 || (FServerMinorVer == 5 && FServerReleaseVer >= 3)));
}

void TMySQLConnection::ApplyCharset() {
    if (FServerPrimaryVer < 4 || (FServerPrimaryVer == 4 && FServerMinorVer == 0)) {
        FUseUnicode = false;  // servers before 4.1 know no character sets: 8-bit text only
        return;
    }
    FUseUnicode = FUnicodeOption;
    // "utf8" is the three-byte utf8mb3 on these servers: it would turn every four-byte
    // character into "?", so utf8mb4 is asked for wherever the server has it.
    if (FUseUnicode) {
        ExecStatement(SupportsUtf8mb4() ? QStringLiteral("SET NAMES utf8mb4") : QStringLiteral("SET NAMES utf8"));
    } else if (!FCharset.isEmpty()) {
        QString charset = FCharset;
        if (charset.compare(QLatin1String("utf8"), Qt::CaseInsensitive) == 0 && SupportsUtf8mb4())
            charset = QStringLiteral("utf8mb4");
        for (QChar c : charset)
            if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'_')
                throw EDatabaseError(QStringLiteral("Invalid character set name: %1").arg(FCharset));
        ExecStatement(QStringLiteral("SET NAMES ") + charset);
    }
}

void TMySQLConnection::CheckBackslashEscapes() {
    FNeedBackslashes = true;
    if (!FCheckBackslashes) return;
    QString mode;
    ForEachServiceRow(this, FComponent, FConnectionTimeout, QStringLiteral("SELECT @@session.sql_mode"),
                      [&](TMySQLRecordset& rs, const uint8_t* record) {
                          if (!rs.GetNull(1, record)) mode = rs.GetFieldAsVariant(1, record).AsString().toUpper();
                      });
    FNeedBackslashes = !mode.contains(QLatin1String("NO_BACKSLASH_ESCAPES"));
}

void TMySQLConnection::ExecStatement(const QString& sql) {
    TMySQLCommand command;
    command.SetConnection(this);
    command.FComponent = FComponent;
    command.SetProp(prCommandTimeout, FConnectionTimeout);
    command.SetProp(prDisableParamScan, true);
    command.SetSQL(sql);
    command.Execute();
}

void TMySQLConnection::SetDatabase(const QString& value) {
    FDatabase = value;
    if (FConnected && FMySQL && !value.isEmpty())
        Check(FMySQLAPI->mysql_select_db(FMySQL, NameBytes(value)), FComponent);
}

void TMySQLConnection::Check(const void* handle, TComponent* component) {
    if (!handle) MySQLError(component);
}

void TMySQLConnection::Check(int status, TComponent* component) {
    if (status != 0) MySQLError(component);
}

void TMySQLConnection::Check(TComponent* component) {
    if (FMySQL && FMySQLAPI->mysql_errno(FMySQL) != 0) MySQLError(component);
}

void TMySQLConnection::MySQLError(TComponent* component) {
    int code = CR_UNKNOWN_ERROR;
    QString text, sqlState = QString::fromLatin1(SqlStateUnknown);
    if (FMySQL) {
        code = int(FMySQLAPI->mysql_errno(FMySQL));
        text = Decode(FMySQLAPI->mysql_error(FMySQL));
        sqlState = QString::fromStdString(FMySQLAPI->mysql_sqlstate(FMySQL));
    }
    EMyError e(code, text, component);
    e.SetSqlState(sqlState);
    bool fail = true;
    if (FOnError) ProcessError(e, fail);
    if (fail) throw e;
    Abort();
}

void TMySQLConnection::CheckStmt(protocol::PMYSQL_STMT stmt, int status, TComponent* component) {
    if (status != 0) MySQLStmtError(stmt, component);
}

void TMySQLConnection::MySQLStmtError(protocol::PMYSQL_STMT stmt, TComponent* component) {
    const int code = stmt ? int(FMySQLAPI->mysql_stmt_errno(stmt)) : int(CR_UNKNOWN_ERROR);
    const QString text = stmt ? Decode(FMySQLAPI->mysql_stmt_error(stmt)) : QString();
    if (code == 0) MySQLError(component);  // the error was stored on the connection
    EMyError e(code, text, component);
    if (stmt) e.SetSqlState(QString::fromStdString(FMySQLAPI->mysql_stmt_sqlstate(stmt)));
    bool fail = true;
    if (FOnError) ProcessError(e, fail);
    if (fail) throw e;
    Abort();
}

void TMySQLConnection::Ping() {
    FMySQLAPI->SetTimeout(FMySQL, FConnectionTimeout);
    Check(FMySQLAPI->mysql_ping(FMySQL), FComponent);
}

bool TMySQLConnection::CheckIsValid() {
    FIsValid = FMySQL && FMySQLAPI->mysql_ping(FMySQL) == 0 && FMySQLAPI->mysql_ping(FMySQL) == 0;
    return FIsValid;
}

bool TMySQLConnection::PeerClosed() {
    protocol::TCRVio* vio = FMySQL ? FMySQL->net.Vio() : nullptr;
    if (!vio) return false;
    try {
        // An idle session has nothing to read: anything there, or the end of the stream, comes
        // from a server that is ending it.
        return vio->Buffered() > 0 || vio->WaitForData(0);
    } catch (const std::exception&) {
        // A socket that cannot even be polled is as good as closed.
        return true;
    }
}

int64_t TMySQLConnection::GetThreadId() const {
    return FMySQL ? int64_t(FMySQLAPI->mysql_thread_id(FMySQL)) : 0;
}

QString TMySQLConnection::SslCipher() const {
    return FMySQL && FConnected ? QString::fromStdString(FMySQLAPI->mysql_get_ssl_cipher(FMySQL)) : QString();
}

void TMySQLConnection::Assign(const TMySQLConnection& source) {
    FServer = source.FServer;
    FUsername = source.FUsername;
    FPassword = source.FPassword;
    FDatabase = source.FDatabase;
    FPort = source.FPort;
    FCompress = source.FCompress;
    FUnicodeOption = source.FUnicodeOption;
    FCharset = source.FCharset;
    FConnectionTimeout = source.FConnectionTimeout;
    FProtocol = source.FProtocol;
    FUnixSocket = source.FUnixSocket;
    FCheckBackslashes = source.FCheckBackslashes;
    FSSL_Chipher = source.FSSL_Chipher;
    FSSL_CA = source.FSSL_CA;
    FSSL_Key = source.FSSL_Key;
    FSSL_Cert = source.FSSL_Cert;
    FSSL_CAPath = source.FSSL_CAPath;
    FSSL_Mode = source.FSSL_Mode;
    FServerPublicKey = source.FServerPublicKey;
    FGetServerPublicKey = source.FGetServerPublicKey;
    FMaxAllowedPacket = source.FMaxAllowedPacket;
    FReadOnlySession = source.FReadOnlySession;
}

void TMySQLConnection::SetProp(int prop, const Variant& value) {
    switch (prop) {
        case prDatabase: SetDatabase(value.AsString()); break;
        case prPort: FPort = value.AsInteger(); break;
        case prConnectionTimeout: FConnectionTimeout = value.AsInteger(); break;
        case prCompress: FCompress = value.AsBoolean(); break;
        case prCharset:
            FCharset = value.AsString();
            if (FConnected && !FUnicodeOption) ApplyCharset();
            break;
        case prProtocol: FProtocol = TMyProtocol(value.AsInteger()); break;
        case prUnixSocket: FUnixSocket = value.AsString(); break;
        case prUseUnicode:
            FUnicodeOption = value.AsBoolean();
            FUseUnicode = FUnicodeOption;
            if (FConnected) ApplyCharset();
            break;
        case prEmbParams: break;  // the embedded server is not part of this client
        case prSSL_Chipher: FSSL_Chipher = value.AsString(); break;
        case prSSL_CA: FSSL_CA = value.AsString(); break;
        case prSSL_Key: FSSL_Key = value.AsString(); break;
        case prSSL_Cert: FSSL_Cert = value.AsString(); break;
        case prSSL_CAPath: FSSL_CAPath = value.AsString(); break;
        case prSSL_Mode: FSSL_Mode = protocol::TSslMode(value.AsInteger()); break;
        case prServerPublicKey: FServerPublicKey = value.AsString(); break;
        case prGetServerPublicKey: FGetServerPublicKey = value.AsBoolean(); break;
        case prMaxAllowedPacket: FMaxAllowedPacket = value.AsInt64(); break;
        case prReadOnlySession: FReadOnlySession = value.AsBoolean(); break;
        case prEmbedded: FEmbedded = value.AsBoolean(); break;
        case prDirect: FDirect = value.AsBoolean(); break;
        case prCheckPrecision: FCheckPrecision = value.AsBoolean(); break;
        case prOptimizedBigInt: FOptimizedBigInt = value.AsBoolean(); break;
        case prNullForZeroDelphiDate: FNullForZeroDelphiDate = value.AsBoolean(); break;
        case prCheckBackslashes:
            FCheckBackslashes = value.AsBoolean();
            if (FConnected) CheckBackslashEscapes();
            break;
        default: TCRConnection::SetProp(prop, value);
    }
}

bool TMySQLConnection::GetProp(int prop, Variant& value) const {
    switch (prop) {
        case prDatabase: value = FDatabase; return true;
        case prPort: value = FPort; return true;
        case prConnectionTimeout: value = FConnectionTimeout; return true;
        case prCompress: value = FCompress; return true;
        case prMaxAllowedPacket: value = Variant(FMaxAllowedPacket); return true;
        case prReadOnlySession: value = FReadOnlySession; return true;
        case prCharset: value = FCharset; return true;
        case prUnixSocket: value = FUnixSocket; return true;
        case prUseUnicode: value = FUseUnicode; return true;
        case prCheckBackslashes: value = FCheckBackslashes; return true;
        case prNeedBackslashes: value = FNeedBackslashes; return true;
        case prLastInsertId:
            value = Variant(FMySQL ? FMySQLAPI->mysql_insert_id(FMySQL) : int64_t(0));
            return true;
        default: return TCRConnection::GetProp(prop, value);
    }
}

// --- TMySQLCommand ---

TMySQLCommand::TMySQLCommand() = default;

TMySQLCommand::~TMySQLCommand() {
    try {
        FreeResult();
        Unprepare();
    } catch (const std::exception&) {
        // The command goes away with its connection's results; nobody is left to tell.
    }
}

void TMySQLCommand::FreeResult() {
    if (!FSQLResult) return;
    protocol::PMYSQL_RES result = FSQLResult;
    FSQLResult = nullptr;
    MyAPI().mysql_free_result(result);
}

void TMySQLCommand::SetConnection(TCRConnection* connection) {
    // BreakExec reads the connection from another thread, under the same lock.
    std::lock_guard lock(FBreakExecCS);
    TCRCommand::SetConnection(connection);
    FConnection = dynamic_cast<TMySQLConnection*>(connection);
}

QString TMySQLCommand::ParseSQL(const QString& sql) {
    TParsedSQL parsed = ParseParamMarkers(sql);
    FParams = std::move(parsed.Params);
    if (FFillParamPosition)
        FParamPositions = std::move(parsed.Positions);
    else
        FParamPositions.clear();
    FCachedSQL.clear();
    return parsed.Text;
}

bool TMySQLConnection::InTransaction() const {
    return FMySQL && (FTransactionBefore || (FMySQL->serverStatus & protocol::SERVER_STATUS_IN_TRANS) != 0);
}

void TMySQLConnection::StatementStarting() {
    if (!FLastStatementFailed)
        FTransactionBefore = FMySQL && (FMySQL->serverStatus & protocol::SERVER_STATUS_IN_TRANS) != 0;
}

void TMySQLConnection::StatementEnded(bool succeeded, bool answerRead) {
    FLastStatementFailed = !succeeded;
    if (succeeded && answerRead) FTransactionBefore = false;
}

void TMySQLCommand::SetStatement(const QString& text, std::vector<TParamDesc> params, std::vector<int> positions) {
    FUserSQL = FSQL = text;
    FParams = std::move(params);
    FParamPositions = std::move(positions);
    FCachedSQL.clear();
}

void TMySQLCommand::SetProp(int prop, const Variant& value) {
    switch (prop) {
        case prCommandTimeout: FCommandTimeout = value.AsInteger(); break;
        default: TCRCommand::SetProp(prop, value);
    }
}

bool TMySQLCommand::GetProp(int prop, Variant& value) const {
    switch (prop) {
        case prCommandTimeout: value = FCommandTimeout; return true;
        case prRowsAffected: value = FRowsAffected; return true;
        default: return TCRCommand::GetProp(prop, value);
    }
}

void TMySQLCommand::AppendParam(QByteArray& buffer, const TParamDesc& param) const {
    AppendValue(buffer, param.FDataType, param.FData, param.FIsNull,
                {FConnection->UseUnicode(), FConnection->NeedBackslashes()});
}

QByteArray TMySQLCommand::BuildStatement() {
    QByteArray buffer;
    qsizetype size = FSQL.size();
    for (const TParamDesc& p : FParams) size += p.FSize;
    buffer.reserve(size);

    if (!FParamPositions.empty()) {
        qsizetype previous = 0;
        for (size_t i = 0; i < FParamPositions.size(); ++i) {
            const qsizetype placeholder = FParamPositions[i] - 1;
            buffer += FConnection->Encode(FSQL.mid(previous, placeholder - previous));
            if (i < FParams.size()) AppendParam(buffer, FParams[i]);
            previous = placeholder + 1;
        }
        buffer += FConnection->Encode(FSQL.mid(previous));
        return buffer;
    }

    // Without recorded positions the text is cut at every "?" outside strings and comments;
    // the cut pieces are kept until the text changes.
    if (FCachedSQL.isEmpty()) FCachedSQL = CutAtPlaceholders(FSQL);
    size_t next = 0;
    for (qsizetype i = 0; i < FCachedSQL.size(); ++i) {
        buffer += FConnection->Encode(FCachedSQL[i]);
        if (i + 1 == FCachedSQL.size()) break;
        while (next < FParams.size() && FParams[next].FParamType == ptResult) ++next;
        if (next < FParams.size()) AppendParam(buffer, FParams[next++]);
    }
    return buffer;
}

void TMySQLCommand::DiscardResults() {
    TMySQLAPI& api = FConnection->API();
    PMYSQL_CON handle = FConnection->Handle();
    if (PMYSQL_RES result = api.mysql_use_result(handle)) api.mysql_free_result(result);
    for (;;) {
        const int next = api.mysql_next_result(handle);
        if (next == -1) break;
        if (next > 0) FConnection->Check(FComponent);
        if (PMYSQL_RES result = api.mysql_use_result(handle)) api.mysql_free_result(result);
    }
}

void TMySQLCommand::Execute(int) {
    if (FCursorState != csInactive && FCursorState != csPrepared) return;
    if (!FConnection || !FConnection->Handle())
        throw EDatabaseError(QStringLiteral("Connection is not defined"));
    const TCursorState oldState = FCursorState;
    TMySQLAPI& api = FConnection->API();
    PMYSQL_CON handle = FConnection->Handle();
    // Every statement of every component passes here: the wait indication goes on for it.
    StartWait();
    ScopeExit stopWait([] { StopWait(); });
    try {
        api.SetTimeout(handle, FCommandTimeout);
        {
            std::lock_guard lock(FBreakExecCS);
            FExecuting = true;
            FWaitForBreak = false;
        }
        FCursorState = csExecuting;
        FConnection->StatementStarting();
        if (FPrepared) {
            ExecutePrepared();
        } else {
            ExecuteText();
        }
        {
            std::lock_guard lock(FBreakExecCS);
            FExecuting = false;
        }
    } catch (...) {
        FCursorState = oldState;
        FConnection->StatementEnded(false, false);
        bool broken;
        {
            std::lock_guard lock(FBreakExecCS);
            FExecuting = false;
            broken = FWaitForBreak;
        }
        if (FAfterExecute) FAfterExecute(false);
        if (broken) Abort();
        throw;
    }
    FConnection->StatementEnded(true, FCursorState == csInactive);
    if (FAfterExecute) FAfterExecute(true);
}

void TMySQLCommand::ExecuteText() {
    TMySQLAPI& api = FConnection->API();
    PMYSQL_CON handle = FConnection->Handle();
    {
        QByteArray statement;
        if (!FParams.empty() && FSQL.contains(u'?')) {
            statement = BuildStatement();
            if (FOnExecute) FOnExecute(FConnection->Decode(statement));
        } else {
            if (FOnExecute) FOnExecute(FSQL);
            statement = FConnection->Encode(FSQL);
        }
        FConnection->Check(api.mysql_real_query(handle, statement.constData(), size_t(statement.size())),
                           FComponent);
        FRowsAffectedPrev = FRowsAffected;
        FRowsAffected = int(api.mysql_affected_rows(handle));
        const bool hasResult = api.mysql_field_count(handle) != 0;
        FCursorState = hasResult ? csExecuted : csInactive;
        if (!FRequestResultset) {
            DiscardResults();
        } else if (hasResult) {
            // A record set reads the rows; further results are its business too.
            FSQLResult = api.mysql_use_result(handle);
            FConnection->Check(FSQLResult, FComponent);
        }
        if (!FSQLResult) FCursorState = csInactive;
    }
}

void TMySQLCommand::ExecutePrepared() {
    TMySQLAPI& api = FConnection->API();
    const protocol::TParamDescs params = BinaryParams();
    if (FOnExecute) FOnExecute(FSQL);
    FConnection->CheckStmt(Fstmt, api._mysql_stmt_execute(Fstmt, params, FConnection->UseUnicode()), FComponent);
    FRowsAffectedPrev = FRowsAffected;
    FRowsAffected = int(api.mysql_stmt_affected_rows(Fstmt));
    const bool hasResult = api.mysql_stmt_field_count(Fstmt) != 0;
    FCursorState = hasResult ? csExecuted : csInactive;
    if (hasResult && !FRequestResultset) {
        FConnection->CheckStmt(Fstmt, api.mysql_stmt_free_result(Fstmt), FComponent);
        FCursorState = csInactive;
    }
}

protocol::TParamDescs TMySQLCommand::BinaryParams() const {
    protocol::TParamDescs out;
    out.reserve(FParams.size());
    for (const TParamDesc& d : FParams) {
        protocol::TParamDesc p;
        switch (d.FParamType) {
            case ptOutput: p.Direction = protocol::pdOutput; break;
            case ptInputOutput: p.Direction = protocol::pdInputOutput; break;
            case ptResult: p.Direction = protocol::pdResult; break;
            default: p.Direction = protocol::pdInput; break;
        }
        p.IsNull = d.FIsNull || d.FData.IsNullOrEmpty();
        TDataType type = d.FDataType;
        const Variant& v = d.FData;
        if (type == dtUnknown) {
            switch (v.Type()) {
                case VarType::Integer: type = dtLargeint; break;
                case VarType::Boolean: type = dtBoolean; break;
                case VarType::Float: type = dtFloat; break;
                case VarType::Currency: type = dtBCD; break;
                case VarType::DateTime: type = dtDateTime; break;
                case VarType::Bytes: type = dtVarBytes; break;
                default: type = dtString; break;
            }
        }
        auto text = [&](const QString& t) { p.DataType = dtString; p.Value = FConnection->Encode(t).toStdString(); };
        switch (type) {
            case dtInt8: case dtSmallint: case dtInteger: case dtWord: case dtLargeint: case dtUInt32:
                p.DataType = type;
                if (!p.IsNull) p.Value = int64_t(v.AsInt64());
                break;
            case dtBoolean:
                p.DataType = dtBoolean;
                if (!p.IsNull) p.Value = int64_t(v.AsBoolean() ? 1 : 0);
                break;
            case dtFloat: case dtCurrency:
                p.DataType = dtFloat;
                if (!p.IsNull) p.Value = v.AsFloat();
                break;
            case dtBCD: case dtFMTBCD:
                p.DataType = dtFMTBCD;
                if (!p.IsNull) p.Value = ValueToSQL(type, v, false, {}).toStdString();
                break;
            case dtDate: case dtDateTime:
                if (p.IsNull) {
                    p.DataType = type;
                } else if (v.AsDateTime() == 0) {
                    text(QStringLiteral("0000-00-00 00:00:00"));
                } else {
                    CalendarDate date;
                    TimeOfDay time;
                    DecodeDateTime(v.AsDateTime(), date, time);
                    p.DataType = type;
                    p.Value = protocol::TMySqlParamTime{date.Year, date.Month, date.Day,
                                                        type == dtDate ? 0 : time.Hour, type == dtDate ? 0 : time.Minute,
                                                        type == dtDate ? 0 : time.Second, type == dtDate ? 0 : time.MSec};
                }
                break;
            case dtTime:
                // As text: the binary form has no room for negative times or whole days.
                if (p.IsNull) p.DataType = dtString;
                else text(TimeToSQLText(v.AsDateTime()));
                break;
            case dtBytes: case dtVarBytes: case dtExtVarBytes: case dtBlob:
                p.DataType = dtVarBytes;
                if (!p.IsNull) p.Value = v.AsBytes().toStdString();
                break;
            default:  // text of every kind
                if (p.IsNull) p.DataType = dtString;
                else if (v.Type() == VarType::Bytes) p.DataType = dtString, p.Value = v.AsBytes().toStdString();
                else text(v.AsString());
                break;
        }
        out.push_back(std::move(p));
    }
    return out;
}

void TMySQLCommand::Prepare() {
    if (FPrepared) return;
    if (!FConnection || !FConnection->Handle()) throw EDatabaseError(QStringLiteral("Connection is not defined"));
    const TServerVersion v = FConnection->ServerVersion();
    if (v.Primary < 4 || (v.Primary == 4 && v.Minor < 1))
        throw EDatabaseError(QStringLiteral("Prepare/UnPrepare is not supported by this MySQL server version"));
    TMySQLAPI& api = FConnection->API();
    api.SetTimeout(FConnection->Handle(), FCommandTimeout);
    Fstmt = api.mysql_stmt_init(FConnection->Handle());
    FConnection->Check(Fstmt, FComponent);
    const QByteArray text = FConnection->Encode(FSQL);
    const int status = api.mysql_stmt_prepare(Fstmt, text.constData(), size_t(text.size()));
    if (status != 0) {
        // The statement's error is read before the statement goes.
        const unsigned code = api.mysql_stmt_errno(Fstmt);
        const QString message = FConnection->Decode(api.mysql_stmt_error(Fstmt));
        const QString sqlState = QString::fromStdString(api.mysql_stmt_sqlstate(Fstmt));
        api.mysql_stmt_close(Fstmt);
        Fstmt = nullptr;
        EMyError e(int(code), message, FComponent);
        e.SetSqlState(sqlState);
        bool fail = true;
        if (FConnection->FOnError) FConnection->ProcessError(e, fail);
        if (fail) throw e;
        Abort();
    }
    FPrepared = true;
    FCursorState = csPrepared;
}

void TMySQLCommand::Unprepare() {
    if (!FPrepared) return;
    FPrepared = false;
    FCursorState = csInactive;
    protocol::PMYSQL_STMT stmt = Fstmt;
    Fstmt = nullptr;
    if (stmt) MyAPI().mysql_stmt_close(stmt);
}

void TMySQLCommand::BreakExec(TBreakKind kind) {
    std::lock_guard lock(FBreakExecCS);
    if (!FExecuting || !FConnection) return;
    FWaitForBreak = true;
    SendKill(kind == bkQuery ? QStringLiteral("QUERY ") : QString());
}

void TMySQLCommand::KillQuery() {
    if (FConnection) SendKill(QStringLiteral("QUERY "));
}

void TMySQLCommand::SendKill(const QString& what) const {
    TMySQLConnection killer;
    killer.Assign(*FConnection);
    try {
        killer.Connect(QString());
        killer.ExecStatement(QStringLiteral("KILL %1%2").arg(what).arg(FConnection->GetThreadId()));
    } catch (const std::exception&) {
        // The statement may have ended meanwhile; nothing to report either way.
    }
    try {
        killer.Disconnect();
    } catch (const std::exception&) {
        // The helper connection has done its one job; a failing close affects nothing else.
    }
}

}  // namespace calvoro::dac
