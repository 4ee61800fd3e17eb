#pragma once
// The MySQL driver: the driver connection (login, statements after login, database switch,
// errors of the client API as EMyError) and the driver command (statement assembly with
// client-side parameter values, execution, multi-statement texts, breaking a statement).

#include "MyTypes.h"
#include "dataaccess/common/CRAccess.h"
#include "protocol/MySqlApiDirect.h"

#include <QByteArray>
#include <QStringList>

#include <mutex>

namespace calvoro::dac {

// The process-wide client API object.
protocol::TMySQLAPI& MyAPI();

// A MySQL error: the client API's number and text, and for a syntax error (1064) the line
// number the message ends with.
class EMyError : public EDAError {
public:
    EMyError(int errorCode, const QString& message, TComponent* component = nullptr);
    int LineNumber() const { return FLineNumber; }
    // The server's SQLSTATE ("42S02"); "HY000" for client errors, empty where none was given.
    const QString& SqlState() const { return FSqlState; }
    void SetSqlState(const QString& sqlState) { FSqlState = sqlState; }
    // Server shutdown (1053), can't connect (2002, 2003), gone away (2006), lost (2013).
    bool IsFatalError() const override;
    bool IsKeyViolation() const override { return ErrorCode() == protocol::ER_DUP_ENTRY; }

private:
    int FLineNumber = 0;
    QString FSqlState;
};

struct TServerVersion {
    int Primary = 0, Minor = 0, Release = 0;
};
// "5.0.51a-community" gives 5, 0, 51; a text without those digits raises
// "'%s' is not a valid integer value".
TServerVersion ParseServerVersion(const QString& text);

class TMySQLCommand;

class TMySQLConnection : public TCRConnection {
public:
    TMySQLConnection();
    ~TMySQLConnection() override;

    // The login runs as RunConnectStep runs it (on a worker thread in the program); the
    // server may be written "host:port" or "[IPv6 address]:port", whose port wins over the
    // Port property. With a Unix socket path (prUnixSocket) the login goes through that
    // socket unless the protocol is mpTCP.
    void Connect(const QString& connectString) override;
    // During a connect (from a handler that runs while the windows' thread waits for it):
    // cancels the connect instead, which then cleans up after itself.
    void Disconnect() override;
    // Safe from any thread: a connect under way ends at once with error 2003 (2002 over a
    // Unix socket) "(125: Operation canceled)".
    void BreakConnect() override;
    QString GetServerVersion() const override { return FServerVer; }
    QString GetServerVersionFull() const override { return FServerVer; }
    QString GetClientVersion() const override;
    bool CheckIsValid() override;
    bool PeerClosed() override;
    void SetProp(int prop, const Variant& value) override;
    bool GetProp(int prop, Variant& value) const override;

    // Raise through MySQLError when the call failed: a nil handle, a non-zero status, or
    // (without argument) a non-zero mysql_errno.
    void Check(const void* handle, TComponent* component = nullptr);
    void Check(int status, TComponent* component = nullptr);
    void Check(TComponent* component = nullptr);
    // Builds EMyError from the connection's last error, runs the error hook, and raises it
    // (or a silent abort when the hook silenced it).
    [[noreturn]] void MySQLError(TComponent* component);
    // The same for a prepared statement's error (mysql_stmt_errno and mysql_stmt_error).
    void CheckStmt(protocol::PMYSQL_STMT stmt, int status, TComponent* component = nullptr);
    [[noreturn]] void MySQLStmtError(protocol::PMYSQL_STMT stmt, TComponent* component);

    // Pings with the connection time-out; raises the connection's error on failure.
    void Ping();
    int64_t GetThreadId() const;
    // "TLSv1.3, TLS_AES_256_GCM_SHA384" while connected over TLS; empty otherwise.
    QString SslCipher() const;
    // Runs a statement of the layer's own; any result is discarded.
    void ExecStatement(const QString& sql);
    // Copies the login settings of another driver connection.
    void Assign(const TMySQLConnection& source);

    protocol::PMYSQL_CON Handle() const { return FMySQL; }
    // Whether the session is inside a transaction, as the server reported it with the answer
    // to the last statement that completed; while a statement runs, and after one that failed,
    // the state before it (the session's status is reset while an answer is read).
    bool InTransaction() const override;
    // Around every statement of a command: keeps that state. answerRead: the whole answer is
    // in (no rows left to read), so the session's status holds the new state.
    void StatementStarting();
    void StatementEnded(bool succeeded, bool answerRead);
    protocol::TMySQLAPI& API() const { return *FMySQLAPI; }
    // Text exchange: UTF-8 while the driver's Unicode flag is on, else the 8-bit code page.
    bool UseUnicode() const { return FUseUnicode; }
    QByteArray Encode(const QString& text) const;
    // User name, password and database names, at login and in a database switch: UTF-8 unless
    // the connection is 8-bit (Unicode off and a character set that is not UTF-8, or none,
    // which leaves the session in the handshake's latin1); then the 8-bit code page.
    bool Utf8Names() const;
    std::string NameBytes(const QString& text) const;
    // A name as this connection's statement text carries it, so that Encode gives NameBytes:
    // the name itself, except on an 8-bit connection speaking UTF-8, whose text holds the
    // name's UTF-8 bytes as 8-bit characters (as it holds names read from the server).
    QString NameText(const QString& name) const { return Decode(NameBytes(name)); }
    QString Decode(const QByteArray& bytes) const;
    QString Decode(const std::string& bytes) const;
    bool NeedBackslashes() const { return FNeedBackslashes; }
    bool OptimizedBigInt() const { return FOptimizedBigInt; }
    bool NullForZeroDelphiDate() const { return FNullForZeroDelphiDate; }
    bool CheckPrecision() const { return FCheckPrecision; }
    bool EnableBCD() const { return FEnableBCD; }
    bool EnableFMTBCD() const { return FEnableFMTBCD; }
    // Whether text columns come in utf8mb4 (up to 4 bytes, two UTF-16 units, a character).
    bool Utf8mb4Results() const { return FUseUnicode && SupportsUtf8mb4(); }
    int ConnectionTimeout() const { return FConnectionTimeout; }
    const QString& Database() const { return FDatabase; }
    TServerVersion ServerVersion() const { return {FServerPrimaryVer, FServerMinorVer, FServerReleaseVer}; }

private:
    void ApplyCharset();
    void CheckBackslashEscapes();
    bool SupportsUtf8mb4() const;
    void SetDatabase(const QString& value);

    protocol::TMySQLAPI* FMySQLAPI;
    protocol::PMYSQL_CON FMySQL = nullptr;
    QString FDatabase;
    int FPort = 3306;
    bool FCompress = false;
    bool FUseUnicode = false;      // as the connection works now (off for servers before 4.1)
    bool FUnicodeOption = false;   // as the component asked
    QString FCharset;
    int FConnectionTimeout = 15;
    TMyProtocol FProtocol = mpDefault;
    QString FUnixSocket;
    std::mutex FConnectCS;                      // guards FConnecting against BreakConnect
    protocol::PMYSQL_CON FConnecting = nullptr;  // the handle of the login under way
    bool FInConnectStep = false;                 // the login runs (the connecting thread's view)
    bool FOptimizedBigInt = false;
    bool FNullForZeroDelphiDate = false;
    bool FEmbedded = false;
    bool FDirect = true;
    bool FCheckPrecision = false;
    bool FCheckBackslashes = false;
    bool FNeedBackslashes = true;
    QString FSSL_Chipher, FSSL_CA, FSSL_Key, FSSL_Cert, FSSL_CAPath;
    protocol::TSslMode FSSL_Mode = protocol::smPreferred;
    QString FServerPublicKey;  // PEM file
    bool FGetServerPublicKey = false;
    int64_t FMaxAllowedPacket = int64_t(protocol::TMySqlNet::DefaultMaxAllowedPacket);
    bool FReadOnlySession = false;  // SET SESSION TRANSACTION READ ONLY after every login
    bool FTransactionBefore = false;  // the state before the running (or last failed) statement
    bool FLastStatementFailed = false;
    QString FServerVer;
    int FServerPrimaryVer = 0, FServerMinorVer = 0, FServerReleaseVer = 0;
};

class TMySQLCommand : public TCRCommand {
public:
    TMySQLCommand();
    ~TMySQLCommand() override;

    void SetConnection(TCRConnection* connection) override;
    TMySQLConnection* MyConnection() const { return FConnection; }

    void Execute(int iters = 1) override;
    // Server-side prepared execution: the statement is prepared once, executed with binary
    // parameter values and its rows come as binary rows. Needs a 4.1 server.
    void Prepare() override;
    void Unprepare() override;
    bool GetPrepared() const override { return FPrepared; }
    TCursorState GetCursorState() const override { return FCursorState; }
    void SetCursorState(TCursorState value) override { FCursorState = value; }
    void SetProp(int prop, const Variant& value) override;
    bool GetProp(int prop, Variant& value) const override;

    // Stops the running statement from another thread over a second connection: "KILL
    // <thread id>" ends the session with it, "KILL QUERY <thread id>" the statement alone. The
    // execution then ends with a silent abort; nothing happens while none runs.
    enum TBreakKind { bkSession, bkQuery };
    void BreakExec(TBreakKind kind = bkSession);
    // "KILL QUERY <thread id>" whatever runs, for a result whose rows are being read: the rows
    // sent before the server stopped still arrive, followed by an "interrupted" error.
    void KillQuery();

    // The statement bytes with every parameter's SQL literal in place of its "?".
    QByteArray BuildStatement();
    int RowsAffected() const { return FRowsAffected; }
    // A statement made elsewhere (generated): the text is not parsed; each parameter's value
    // goes at its 1-based "?" position.
    void SetStatement(const QString& text, std::vector<TParamDesc> params, std::vector<int> positions);
    void SetRawSQL(const QString& sql) override { SetStatement(sql, {}, {}); }
    // Record the positions of the "?" placeholders while the next text is parsed.
    void SetFillParamPosition(bool value) { FFillParamPosition = value; }
    const std::vector<int>& ParamPositions() const { return FParamPositions; }

    // The open result of the last execution (text protocol, record sets only), and the
    // prepared statement.
    protocol::PMYSQL_RES SQLResult() const { return FSQLResult; }
    void SetSQLResult(protocol::PMYSQL_RES result) { FSQLResult = result; }
    // Frees the open result (its unread rows are drained).
    void FreeResult();
    protocol::PMYSQL_STMT Stmt() const { return Fstmt; }
    void SetRowsAffected(int value) { FRowsAffected = value; }

    // Receives the final text of every execution.
    std::function<void(const QString&)> FOnExecute;
    bool FRequestResultset = false;

protected:
    QString ParseSQL(const QString& sql) override;

private:
    void AppendParam(QByteArray& buffer, const TParamDesc& param) const;
    // Sends "KILL " + what + the thread id over a connection of its own; errors dropped.
    void SendKill(const QString& what) const;
    void DiscardResults();
    void ExecuteText();
    void ExecutePrepared();
    protocol::TParamDescs BinaryParams() const;

    TMySQLConnection* FConnection = nullptr;
    int FCommandTimeout = 0;
    TCursorState FCursorState = csInactive;
    int FRowsAffected = -1;
    int FRowsAffectedPrev = -1;
    QStringList FCachedSQL;
    std::vector<int> FParamPositions;
    bool FFillParamPosition = false;
    protocol::PMYSQL_RES FSQLResult = nullptr;
    protocol::PMYSQL_STMT Fstmt = nullptr;
    bool FPrepared = false;
    std::mutex FBreakExecCS;
    bool FWaitForBreak = false;
};

}  // namespace calvoro::dac
