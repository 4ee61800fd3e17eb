#pragma once
// The MySQL dump component and its processors: header, character-set and session prologue,
// database, user grants, stored routines, tables and views, rows as INSERT statements,
// triggers, epilogue.
//
// Rows are read as the server sends them in text rows and written as literals that restore to
// the same value: dates, times, DECIMAL and BIGINT UNSIGNED as their text, binary strings byte
// for byte, DOUBLE and FLOAT as the shortest text of their value (a FLOAT is read as a
// double, since its text has too few digits). Generated columns are left out of the INSERTs
// and INVISIBLE columns named, so such tables name their columns. The dump session reads with
// sql_mode '' and time_zone '+00:00'; the script sets SQL_MODE 'NO_AUTO_VALUE_ON_ZERO' and
// TIME_ZONE '+00:00' for the restore and puts both back at the end.

#include "DADump.h"
#include "DumpRows.h"
#include "MyDumpText.h"
#include "ParallelRestore.h"
#include "dataaccess/mysql/MyAccess.h"

#include <QHash>

#include <initializer_list>
#include <optional>

namespace calvoro::dump {

enum TMyDumpObject { doDatabase, doUsers, doStoredProcs, doTables, doData, doViews, doTriggers };

// A set of object kinds.
class TMyDumpObjects {
public:
    TMyDumpObjects() = default;
    TMyDumpObjects(std::initializer_list<TMyDumpObject> kinds) {
        for (const TMyDumpObject k : kinds) Include(k);
    }
    bool Has(TMyDumpObject kind) const { return (FBits & (1u << kind)) != 0; }
    void Include(TMyDumpObject kind) { FBits |= 1u << kind; }
    void Exclude(TMyDumpObject kind) { FBits &= ~(1u << kind); }
    bool operator==(const TMyDumpObjects&) const = default;

private:
    unsigned FBits = 0;
};

enum TMyInsertType { itInsert, itInsertIgnore, itReplaceInto };

class TMyDumpOptions : public TDADumpOptions {
public:
    bool AddLock = true;
    bool DisableKeys = false;
    bool HexBlob = false;
    bool UseExtSyntax = true;
    bool UseDelayedIns = false;
    int CommitBatchSize = 0;
    // The longest INSERT statement of several rows, in bytes (a longer row goes alone); never
    // more than the server's max_allowed_packet allows.
    qint64 StatementSize = 16384;
    // Without CommitBatchSize: the rows of a transactional table are written with autocommit
    // off and a COMMIT after about this many bytes of statements; 0: every statement commits.
    qint64 TransactionSize = 0;
    TMyInsertType InsertType = itInsert;
    // All tables read in one consistent snapshot (START TRANSACTION WITH CONSISTENT SNAPSHOT).
    bool SingleTransaction = false;
    // Views and routines written without their DEFINER clause.
    bool SkipDefiner = false;
    // On several connections (TMyDump::SetBackupConnections): an InnoDB table with a single
    // integer primary key and more rows than this (the server's estimate) is read in key
    // ranges of about this many rows.
    qint64 RangeRows = 100000;
    // On several connections: bytes of rows read ahead of the file held in memory; beyond
    // them, rows wait in temporary files beside the output.
    qint64 ReadAheadMemory = qint64(16) << 20;
};

class TMyDump;
class TParallelRowReader;

// Prologue, epilogue, tables, views and rows.
class TCustomMyDumpProcessor : public TDADumpProcessor {
public:
    explicit TCustomMyDumpProcessor(TMyDump& owner);
    ~TCustomMyDumpProcessor() override;

protected:
    void BackupObjects(const QString& query) override;
    QByteArray Encode(const QString& text) const override;
    QString Decode(const QByteArray& bytes) const override;

    // The sections of the database, users and routines (before the tables) and of the
    // triggers (after the views).
    virtual void BackupDatabase() {}
    virtual void BackupUsers() {}
    virtual void BackupStoredProcs() {}
    virtual void BackupTriggers() {}

    TMyDump& MyOwner() const;
    dac::TMySQLConnection& Driver() const;
    // A name given as text (typed, or listed by a Unicode connection) in the form of the
    // connection's texts: on an 8-bit connection speaking UTF-8 each byte is one character.
    dac::TObjectName Given(const dac::TObjectName& name) const;
    // A raw name as the script writes it: quoted as configured, or when it needs quotes.
    QString Q(const QString& raw) const;
    QString Q(const dac::TObjectName& name) const;
    // Runs a statement whose rows are read through `row` (null for none); the server's error
    // is raised.
    using TRows = TDumpRows;
    // `columns` sees the result's columns before the first row.
    void Query(const QString& sql, const std::function<void(TRows&)>& row = {},
               const std::function<void(TRows&)>& columns = {});
    // The first column of the first row, or nothing.
    std::optional<QByteArray> QueryValue(const QString& sql);
    // Statements of a routine or trigger with its own sql_mode around it.
    void AddSqlModeBefore(const QByteArray& sqlMode, const char* end);
    void AddSqlModeAfter(const char* end);
    // A routine or trigger body with the delimiter after it, on a line of its own when the
    // body's last line ends in a line comment.
    void AddBody(const QByteArray& body);

    QString FCharset;
    TMyDumpOptions FOptions;
    TMyDumpObjects FObjects;
    QString FDatabase;

private:
    enum class TKind { Table, View };
    // How a table's rows are read. An InnoDB table with a single integer primary key is read
    // in the key's order (its clustered index: no sort), so that ranges of the key read apart
    // give the rows of one read.
    struct TRowPlan {
        QString From;        // SELECT <columns> FROM <table>
        QString KeyColumn;   // quoted; empty: no such key
        QString ColumnList;  // null: the INSERTs name no columns
        std::vector<bool> IsFloat;
        qint64 EstimatedRows = 0;
        int FirstChunk = -1;  // its chunks of the parallel reader
        int ChunkCount = 0;
        QString Select() const { return KeyColumn.isEmpty() ? From : From + QStringLiteral(" ORDER BY ") + KeyColumn; }
    };
    struct TObject {
        dac::TObjectName Name;
        TKind Kind = TKind::Table;
    };
    void Header();
    void Prologue();
    void Epilogue();
    std::vector<TObject> ListObjects(const QString& query);
    bool IsView(const dac::TObjectName& name);
    // The table's engine as SHOW TABLE STATUS names it; empty for a view or an unknown table.
    QString Engine(const dac::TObjectName& name);
    void BackupTable(const TObject& object, int index, int count, const QString& query, const TRowPlan* plan);
    void BackupView(const TObject& object, int index, int count, const QByteArray& createText);
    QByteArray CreateText(const dac::TObjectName& name);
    // The rows of the table `name` (or of the query), written to `x` as the section names it.
    void BackupRows(const QString& x, const dac::TObjectName& name, int index, int count, const QString& query,
                    const TRowPlan* planned);
    TRowPlan PlanRows(const dac::TObjectName& name, const QString& query);
    // Gives the plan its chunks of the parallel reader: key ranges of a large table, else one.
    void AddChunks(TRowPlan& plan);
    // The head of each INSERT statement.
    QByteArray InsertHead(const QString& x, const QString& columns) const;

    // Per database read so far: table name -> engine (empty for a view).
    QHash<QString, QHash<QString, QString>> FTableStatus;
    // The longest statement of several rows this backup writes.
    qint64 FStatementLimit = 16384;
    // The rows' readers on other connections, while a backup on several runs.
    std::unique_ptr<TParallelRowReader> FReader;
};

// Adds the database, users, stored routines and triggers.
class TMyDumpProcessor : public TCustomMyDumpProcessor {
public:
    using TCustomMyDumpProcessor::TCustomMyDumpProcessor;

protected:
    void BackupDatabase() override;
    void BackupUsers() override;
    void BackupStoredProcs() override;
    void BackupTriggers() override;

private:
    void WriteTriggers(const QString& sql);
};

class TMyDump : public TDADump {
public:
    TMyDump();
    ~TMyDump() override;

    dac::TCustomMyConnection* MyConnection() const;
    TMyDumpOptions& Options() override { return FOptions; }
    const TMyDumpOptions& MyOptions() const { return FOptions; }
    TMyDumpObjects Objects() const { return FObjects; }
    void SetObjects(TMyDumpObjects value) { FObjects = value; }
    // Typed names as for TableNames.
    QString StoredProcNames() const { return JoinNames(FStoredProcs); }
    void SetStoredProcNames(const QString& value) { FStoredProcs = SplitNames(value); }
    const std::vector<dac::TObjectName>& StoredProcs() const { return FStoredProcs; }
    QString TriggerNames() const { return JoinNames(FTriggers); }
    void SetTriggerNames(const QString& value) { FTriggers = SplitNames(value); }
    const std::vector<dac::TObjectName>& Triggers() const { return FTriggers; }

    // A restore whose data statements run on this many connections beside the connection,
    // which runs everything else (1, the default: the script alone on the connection). They
    // come from the factory, with the connection's login and settings.
    void SetRestoreConnections(int count, TParallelRestore::TConnectionFactory factory = {});
    int RestoreConnections() const { return FRestoreConnections; }
    // For a restore that stops at its first failure: on several connections, each table's
    // rows start only after the rows before them are done, so that nothing after the failing
    // statement's table starts.
    void SetRestoreStopsAtFailure(bool value) { FRestoreStopsAtFailure = value; }

    // A backup whose rows are read on this many connections beside the connection, all in
    // one consistent snapshot (1, the default: the connection alone). They come from the
    // factory, with the connection's login and settings. A backup into the SQL lines, of a
    // query, or of no rows uses the connection alone.
    void SetBackupConnections(int count, TParallelRestore::TConnectionFactory factory = {});
    int BackupConnections() const { return FBackupConnections; }
    TParallelRestore::TConnectionFactory BackupConnectionFactory() const { return FBackupFactory; }
    // What the user should know of how a backup ran, e.g. that it fell back to one connection.
    std::function<void(TMyDump* sender, const QString& text)> OnNotice;

    // The library version the header names.
    static QString LibraryVersion() { return QStringLiteral("5.90.0.55"); }

protected:
    std::unique_ptr<TDADumpProcessor> CreateProcessor() override;
    std::unique_ptr<script::TDAScript> CreateScript() override;
    std::unique_ptr<dac::TCustomDASQL> CreateCommand() override;
    std::unique_ptr<TParallelRestore> CreateParallelRestore(script::TDAScript& script) override;

private:
    int FRestoreConnections = 1;
    int FBackupConnections = 1;
    TParallelRestore::TConnectionFactory FBackupFactory;
    bool FRestoreStopsAtFailure = false;
    TParallelRestore::TConnectionFactory FConnectionFactory;
    TMyDumpOptions FOptions;
    TMyDumpObjects FObjects{doTables, doData, doViews};
    std::vector<dac::TObjectName> FStoredProcs;
    std::vector<dac::TObjectName> FTriggers;
};

}  // namespace calvoro::dump
