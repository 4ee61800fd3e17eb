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
};

class TMyDump;

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
    class TRows;
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
    void BackupTable(const TObject& object, int index, int count, const QString& query);
    void BackupView(const TObject& object, int index, int count, const QByteArray& createText);
    QByteArray CreateText(const dac::TObjectName& name);
    // The rows of the table `name` (or of the query), written to `x` as the section names it.
    void BackupRows(const QString& x, const dac::TObjectName& name, int index, int count, const QString& query);
    // The head of each INSERT statement.
    QByteArray InsertHead(const QString& x, const QString& columns) const;

    // Per database read so far: table name -> engine (empty for a view).
    QHash<QString, QHash<QString, QString>> FTableStatus;
    // The longest statement of several rows this backup writes.
    qint64 FStatementLimit = 16384;
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

    // The library version the header names.
    static QString LibraryVersion() { return QStringLiteral("5.90.0.55"); }

protected:
    std::unique_ptr<TDADumpProcessor> CreateProcessor() override;
    std::unique_ptr<script::TDAScript> CreateScript() override;
    std::unique_ptr<dac::TCustomDASQL> CreateCommand() override;
    std::unique_ptr<TParallelRestore> CreateParallelRestore(script::TDAScript& script) override;

private:
    int FRestoreConnections = 1;
    bool FRestoreStopsAtFailure = false;
    TParallelRestore::TConnectionFactory FConnectionFactory;
    TMyDumpOptions FOptions;
    TMyDumpObjects FObjects{doTables, doData, doViews};
    std::vector<dac::TObjectName> FStoredProcs;
    std::vector<dac::TObjectName> FTriggers;
};

}  // namespace calvoro::dump
