#pragma once
// The MySQL components: the connection (TCustomMyConnection, TMyConnection) and the command
// (TMyCommand) that the application and the other components use.

#include "MyTypes.h"
#include "MyClasses.h"
#include "dataaccess/common/DBAccess.h"

#include <QStringList>

#include <functional>
#include <memory>

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
    bool FDirect = true;
    bool FEmbedded = false;
    bool FOptimizedBigInt = false;
    bool FNullForZeroDelphiDate = false;
    bool FCheckBackslashes = false;
    TDANumericType FNumericType = ntFloat;
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

struct TMyConnectionSSLOptions {
    QString ChipherList, CACert, Key, Cert;
};

class TMyConnection : public TCustomMyConnection {
public:
    int Port() const { return FPort; }
    // A changed port closes the connection first.
    void SetPort(int value);
    TMyConnectionSSLOptions& SSLOptions() { return FSSLOptions; }

protected:
    void AssignConnectProps(TCRConnection* connection) override;

private:
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

}  // namespace calvoro::dac
