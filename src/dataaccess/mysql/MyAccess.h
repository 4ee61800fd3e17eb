#pragma once
// The MySQL components: the connection (TCustomMyConnection, TMyConnection), the command
// (TMyCommand), and the data sets (TCustomMyDataSet: TMyQuery over any text, TMyTable over one
// table) that the application and the other components use.

#include "MyTypes.h"
#include "MyClasses.h"
#include "MySqlIdentifier.h"
#include "MyRecordset.h"
#include "dataaccess/common/DBAccess.h"
#include "dataaccess/common/Win32Timer.h"

#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace calvoro::dac {

class TMySQLConnection;
class TMyCommand;

enum TDANumericType { ntFloat, ntBCD, ntFmtBCD };

class TCustomMyConnection;

// The MySQL options of a connection. Most may change only while the connection is closed
// ("Cannot perform this operation on an open connection"); CheckBackslashes also while open.
class TCustomMyConnectionOptions {
public:
    explicit TCustomMyConnectionOptions(TCustomMyConnection* owner) : FOwner(owner) {}

    bool UseUnicode() const { return FUseUnicode; }
    void SetUseUnicode(bool value);
    const QString& Charset() const { return FCharset; }
    void SetCharset(const QString& value);
    bool Compress() const { return FCompress; }
    void SetCompress(bool value);
    TMyProtocol Protocol() const { return FProtocol; }
    void SetProtocol(TMyProtocol value);
    // The path of the server's Unix socket. When given the connection goes through it (the
    // server and port are not used), unless Protocol is mpTCP; empty: TCP, also to localhost.
    const QString& UnixSocket() const { return FUnixSocket; }
    void SetUnixSocket(const QString& value);
    bool Direct() const { return FDirect; }
    void SetDirect(bool value);
    bool Embedded() const { return FEmbedded; }
    void SetEmbedded(bool value);
    bool OptimizedBigInt() const { return FOptimizedBigInt; }
    void SetOptimizedBigInt(bool value);
    bool NullForZeroDelphiDate() const { return FNullForZeroDelphiDate; }
    void SetNullForZeroDelphiDate(bool value);
    bool CheckBackslashes() const { return FCheckBackslashes; }
    void SetCheckBackslashes(bool value);
    TDANumericType NumericType() const { return FNumericType; }
    void SetNumericType(TDANumericType value) { FNumericType = value; }
    // The largest packet the client accepts from the server, in bytes (1 GiB by default); a
    // larger one ends the read with error 2020 and closes the connection.
    int64_t MaxAllowedPacket() const { return FMaxAllowedPacket; }
    void SetMaxAllowedPacket(int64_t bytes);
    // A read-only session: every login sends SET SESSION TRANSACTION READ ONLY, so that the
    // server refuses changes; the windows and the command line refuse them before sending.
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool value);

private:
    friend class TCustomMyConnection;
    void Changing() const;  // the open-connection check
    template <typename T>
    void Change(T& field, const T& value, int prop);
    void Push(int prop, const Variant& value) const;

    TCustomMyConnection* FOwner;
    bool FUseUnicode = false;
    QString FCharset;
    bool FCompress = false;
    TMyProtocol FProtocol = mpDefault;
    QString FUnixSocket;
    bool FDirect = true;
    bool FEmbedded = false;
    bool FOptimizedBigInt = false;
    bool FNullForZeroDelphiDate = false;
    bool FCheckBackslashes = false;
    TDANumericType FNumericType = ntFloat;
    int64_t FMaxAllowedPacket = int64_t(protocol::TMySqlNet::DefaultMaxAllowedPacket);
    bool FReadOnly = false;
};

class TCustomMyConnection : public TCustomDAConnection {
public:
    // The login dialog kind, registered by the dialog's unit; none by default.
    using TConnectDialogClass = std::function<std::unique_ptr<TCustomConnectDialog>()>;
    static TConnectDialogClass& ConnectDialogClass();

    TCustomMyConnection();
    ~TCustomMyConnection() override;

    const QString& Database() const { return FDatabase; }
    // Selects the database at once on an open connection (nothing for the same or an empty
    // name); on a closed one it is used at the next login.
    void SetDatabase(const QString& value);
    int ConnectionTimeout() const { return FConnectionTimeout; }
    void SetConnectionTimeout(int seconds);
    TCustomMyConnectionOptions& MyOptions() { return FMyOptions; }
    const TCustomMyConnectionOptions& MyOptions() const { return FMyOptions; }

    void ExecSQL(const QString& text, const std::vector<Variant>& params = {}) override;

    // Lists of the server's objects, each cleared first and filled in the server's order. With
    // the second argument false only the current database counts; true lists every database's
    // objects as schema.name.
    void GetDatabaseNames(QStringList& list);
    void GetTableNames(QStringList& list, bool allTables = false);
    void GetStoredProcNames(QStringList& list, bool allProcs = false);
    void GetTriggerNames(QStringList& list, bool allTriggers = false);
    void Ping();
    QString GetServerVersion();
    QString GetClientVersion() const;
    int64_t GetThreadId();
    // "TLSv1.3, TLS_AES_256_GCM_SHA384" while connected over TLS; empty otherwise.
    QString SslCipher() const;
    // Whether strings may carry backslash escapes (see Options.CheckBackslashes).
    bool NeedBackslashes() const;

    TMySQLConnection* MySQLConnection() const;

protected:
    std::unique_ptr<TCRConnection> CreateIConnectionObject() override;
    void AssignConnectProps(TCRConnection* connection) override;
    std::unique_ptr<TCustomConnectDialog> CreateConnectDialog() override;

private:
    friend class TCustomMyConnectionOptions;
    // Runs a statement through a record set reading every row; the values of one column (by
    // name, or the first) of each row.
    QStringList ColumnValues(const QString& sql, const QString& column = QString());
    // The routine and trigger lists: connect when closed (without a database), run, put back.
    void ListNames(QStringList& list, const std::function<QString(const TServerVersion&)>& statement,
                   const QString& column);
    QString FDatabase;
    int FConnectionTimeout = 15;
    TCustomMyConnectionOptions FMyOptions{this};
    std::unique_ptr<TMyCommand> FCommand;  // runs ExecSQL with parameters
};

// The statements behind the object lists. db is the database the names are wanted for
// (empty: all databases); it is written as a string literal with the given escaping.
QString TableNamesStatement(bool allTables);
QString StoredProcNamesStatement(const TServerVersion& server, const QString& db, bool needBackslashes);
QString TriggerNamesStatement(const QString& db, bool needBackslashes);

// TLS of a connection (Mode PREFERRED: TLS when the server offers it) and, for logins with
// caching_sha2_password or sha256_password without TLS, the server's public key: a PEM file,
// or asked from the server when GetServerPublicKey allows it.
struct TMyConnectionSSLOptions {
    QString ChipherList, CACert, Key, Cert;
    protocol::TSslMode Mode = protocol::smPreferred;
    QString CAPath;
    QString ServerPublicKey;
    bool GetServerPublicKey = false;
};

class TMyConnection : public TCustomMyConnection {
public:
    int Port() const { return FPort; }
    // A changed port closes the connection first.
    void SetPort(int value);
    TMyConnectionSSLOptions& SSLOptions() { return FSSLOptions; }
    const TMyConnectionSSLOptions& SSLOptions() const { return FSSLOptions; }

protected:
    void AssignConnectProps(TCRConnection* connection) override;
    // The SSL options, a plain structure, go to the driver again before every login.
    void DoConnect() override;

private:
    void AssignSSLProps(TCRConnection* connection) const;
    int FPort = 3306;
    TMyConnectionSSLOptions FSSLOptions;
};

class TMyCommand : public TCustomDASQL {
public:
    TMyCommand();

    TCustomMyConnection* MyConnection() const { return static_cast<TCustomMyConnection*>(FConnection); }
    void SetConnection(TCustomMyConnection* connection) { TCustomDASQL::SetConnection(connection); }

    // Seconds of network read time-out per execution; 0 means no limit.
    int CommandTimeout() const { return FCommandTimeout; }
    void SetCommandTimeout(int seconds);

    int RowsAffected() const override;
    int64_t InsertId() const { return FLastInsertId; }
    void BreakExec() override;

protected:
    std::unique_ptr<TCRCommand> CreateICommandObject() override;
    void AssembleSQL() override;

private:
    int FCommandTimeout = 0;
};

// --- Data sets ---

class TCustomMyDataSet;
class TCustomMyDataSetService;

// The MySQL options of a data set. The layout options (FieldsAsString, NullForZeroDate,
// EnableBoolean, BinaryAsString, CreateConnection) may change only while the data set is
// closed and go to the record set at once.
class TMyDataSetOptions : public TDADataSetOptions {
public:
    explicit TMyDataSetOptions(TCustomMyDataSet* owner);

    bool FieldsAsString() const { return FFieldsAsString; }
    void SetFieldsAsString(bool value);
    bool NullForZeroDate() const { return FNullForZeroDate; }
    void SetNullForZeroDate(bool value);
    bool EnableBoolean() const { return FEnableBoolean; }
    void SetEnableBoolean(bool value);
    bool BinaryAsString() const { return FBinaryAsString; }
    void SetBinaryAsString(bool value);
    bool CreateConnection() const { return FCreateConnection; }
    void SetCreateConnection(bool value);
    // The results after the first of a multi-statement text wait on the connection for
    // OpenNext; off, they are read and dropped with the first one's rows.
    bool MultipleResults() const { return FMultipleResults; }
    void SetMultipleResults(bool value);
    bool CheckRowVersion() const { return FCheckRowVersion; }
    void SetCheckRowVersion(bool value) { FCheckRowVersion = value; }
    bool AutoRefresh() const { return FAutoRefresh; }
    void SetAutoRefresh(bool value);
    // Seconds.
    int AutoRefreshInterval() const { return FAutoRefreshInterval; }
    void SetAutoRefreshInterval(int value);

private:
    void SetLayout(bool& field, bool value, int prop);
    TCustomMyDataSet& MyOwner() const;

    bool FFieldsAsString = false;
    bool FNullForZeroDate = true;
    bool FEnableBoolean = true;
    bool FBinaryAsString = true;
    bool FCreateConnection = true;
    bool FMultipleResults = false;
    bool FCheckRowVersion = false;
    bool FAutoRefresh = false;
    int FAutoRefreshInterval = 60;
};

enum TLockType { ltRead, ltReadLocal, ltWrite, ltWriteLowPriority };

class TCustomMyDataSet : public TCustomDADataSet {
public:
    TCustomMyDataSet();
    ~TCustomMyDataSet() override;

    TCustomMyConnection* MyConnection() const { return static_cast<TCustomMyConnection*>(FConnection); }
    TMyDataSetOptions& MyOptions() const { return static_cast<TMyDataSetOptions&>(*FOptions); }
    TMySQLRecordset& MyRecordSet() const;
    TCustomMyDataSetService& MyService() const;

    // Seconds of network read time-out of each statement; 0: none.
    int CommandTimeout() const { return FCommandTimeout; }
    void SetCommandTimeout(int seconds);
    // The connection's last insert id after an Execute or an inserted row.
    int64_t InsertId() const { return LastInsertId(); }

    QString QuoteName(const QString& name) const override;

    // The next result of a multi-statement text replaces the current rows; false when none
    // with rows follows.
    bool OpenNext();
    // Each statement's result of the text last run, as far as read (see
    // TMySQLRecordset::Results), and the index of the one whose rows are shown (-1: none).
    const std::vector<TMyStatementResult>& StatementResults() const { return MyRecordSet().Results(); }
    int ShownResult() const { return MyRecordSet().CurrentResult(); }
    // Whether a stop (BreakExec, BreakQuery) ended the fetch early: the data set holds the rows
    // read until then.
    bool FetchStopped() const { return MyRecordSet().FetchBroken(); }

    // What Refresh runs: by default the text again (stepped to the same result). The owner of
    // a text whose other statements must not run a second time names the statement of the
    // rows shown, which Refresh then runs alone, or gives the reason why none may run, which
    // Refresh raises. Both are forgotten when the data set's own text runs again.
    void SetRefreshSQL(const QString& statement);
    void RefuseRefresh(const QString& reason);
    // The reason given, empty when Refresh may run.
    const QString& RefreshRefusal() const { return FRefreshRefusal; }
    // Re-reads the rows changed since the newest TIMESTAMP value read (a full refresh without
    // such a column or key, and with checkDeleted, which must see every row anyway).
    void RefreshQuick(bool checkDeleted);

    // LOCK TABLES of the updating table, and UNLOCK TABLES.
    void LockTable(TLockType type);
    void UnLockTable();
    // Locks the current row on the server (SELECT … FOR UPDATE or LOCK IN SHARE MODE).
    void Lock(TLockRecordTypeI type = ilrImmediately);
    // The values of an ENUM or SET column; tableName empty: the table of the field.
    void GetFieldEnum(QStringList& list, const QString& fieldName, const QString& tableName = QString());
    // Stops the running statement (KILL over a second connection) and the fetch.
    void BreakExec();
    // Stops the running statement or the reading of its rows and nothing more: the session
    // stays (KILL QUERY) and so do the rows read so far (FetchStopped). Safe from another thread.
    void BreakQuery();
    // The auto-refresh timer (nil until AutoRefresh was first switched).
    TWin32Timer* AutoRefreshTimer() const { return FAutoRefreshTimer.get(); }

protected:
    friend class TMyDataSetOptions;
    std::unique_ptr<TCustomDASQL> CreateCommand() override;
    std::unique_ptr<TCRRecordSet> CreateRecordSet() override;
    std::unique_ptr<TDADataSetOptions> CreateOptions() override;
    std::unique_ptr<TDADataSetService> CreateService() override;
    void PushRecordSetOptions() override;
    void BeforeOpenCursor() override;
    void InternalRefresh() override;
    QString DialectAddWhere(const QString& sql, const QString& condition) const override;
    QString DialectDeleteWhere(const QString& sql) const override;
    QString DialectSetOrderBy(const QString& sql, const QString& fields) const override;
    QString DialectGetOrderBy(const QString& sql) const override;
    QString DialectCountQuery(const QString& sql) const override;
    int64_t QueryFirstValue(const QString& sql) override;

    // Field objects and the first row of a result that replaced the one before.
    void ShowNewResult();
    void UpdateAutoRefreshTimer();
    void AutoRefreshTick();

    int FCommandTimeout = 0;
    std::unique_ptr<TWin32Timer> FAutoRefreshTimer;
    std::optional<QString> FRefreshSQL;
    QString FRefreshRefusal;
};

class TMyQuery : public TCustomMyDataSet {};

// The options of a table: HANDLER reading, optionally along one index.
class TMyTableOptions : public TMyDataSetOptions {
public:
    using TMyDataSetOptions::TMyDataSetOptions;
    bool UseHandler() const { return FUseHandler; }
    void SetUseHandler(bool value);
    const QString& HandlerIndex() const { return FHandlerIndex; }
    void SetHandlerIndex(const QString& value);

private:
    bool FUseHandler = false;
    QString FHandlerIndex;
};

// An index of a table: its columns, ";"-separated.
struct TMyIndexDef {
    QString Name;
    QString Fields;
    bool Unique = false;
};

// A data set over one table: its SELECT is built from the table name, the order, the limit
// and the offset whenever the SQL text is empty.
class TCustomMyTable : public TCustomMyDataSet {
public:
    TCustomMyTable();

    // Typed text ([db.]name, backquoted forms); read back with each part quoted where it needs
    // it. Malformed text raises EDatabaseError and changes nothing.
    const QString& TableName() const { return FTableName; }
    void SetTableName(const QString& value);
    // The table by its raw parts.
    const TObjectName& Table() const { return FTable; }
    const QString& OrderFields() const { return FOrderFields; }
    void SetOrderFields(const QString& value);
    // -1: no limit.
    int Limit() const { return FLimit; }
    void SetLimit(int value);
    int Offset() const { return FOffset; }
    void SetOffset(int value);
    TMyTableOptions& TableOptions() const { return static_cast<TMyTableOptions&>(*FOptions); }

    // Builds the SELECT when the SQL text is empty ("TableName must be defined" without a
    // table).
    void PrepareSQL();
    // TRUNCATE TABLE, then an open table is refreshed.
    void EmptyTable();
    // The table's indexes as the server lists them (read again on each call while connected).
    const std::vector<TMyIndexDef>& IndexDefs();

protected:
    friend class TMyTableOptions;
    std::unique_ptr<TDADataSetOptions> CreateOptions() override;
    void BeforeOpenCursor() override;
    void InternalClose() override;
    void ClearSQL();

    QString FTableName;
    TObjectName FTable;
    QString FOrderFields;
    int FLimit = -1;
    int FOffset = 0;
    std::vector<TMyIndexDef> FIndexDefs;
    bool FHandlerOpen = false;  // a HANDLER … OPEN sent separately (servers before 4.1)
};

class TMyTable : public TCustomMyTable {};

}  // namespace calvoro::dac
