#pragma once
// Backup and restore: the dump component writes a database's objects and rows as a SQL script
// (through a dump processor of its dialect) and executes such a script back through a script
// component of its dialect, with progress.
//
// The script is bytes: every line goes out in the connection's own encoding, values and the
// server's CREATE texts exactly as the server sent them, so that the file restores to the same
// database. A backup to a file is written beside it under a temporary name and takes the
// file's place only when it is complete.

#include "common/Strings.h"
#include "dataaccess/common/DBAccess.h"
#include "dataaccess/mysql/MySqlIdentifier.h"
#include "script/DAScript.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace calvoro::dump {

class TDADump;
class TParallelRestore;

class TDADumpOptions {
public:
    bool GenerateHeader = true;
    bool AddDrop = true;
    bool QuoteNames = false;
    bool CompleteInsert = false;
};

// Writes one backup: line output, comment blocks, progress. The dialect writes the objects.
class TDADumpProcessor {
public:
    explicit TDADumpProcessor(TDADump& owner);
    virtual ~TDADumpProcessor();
    TDADumpProcessor(const TDADumpProcessor&) = delete;
    TDADumpProcessor& operator=(const TDADumpProcessor&) = delete;

    // Writes the script into the stream, or into the owner's SQL lines without one. A query
    // replaces the tables by that query's rows.
    void Backup(QIODevice* stream, const QString& query);

protected:
    virtual void BackupObjects(const QString& query) = 0;
    // Text in the connection's encoding, and back (for the SQL lines).
    virtual QByteArray Encode(const QString& text) const = 0;
    virtual QString Decode(const QByteArray& bytes) const = 0;

    // One line, followed by CR LF in a file.
    void Add(QByteArrayView line);
    void Add(const QByteArray& line) { Add(QByteArrayView(line)); }
    void Add(const QString& line) { Add(QByteArrayView(Encode(line))); }
    // A text of the server followed by `suffix`: its own line ends are kept in a file.
    void AddText(QByteArrayView text, QByteArrayView suffix);
    // A comment block ("-- ", "-- <text>", "-- ", "") when the header option is on.
    void AddComment(const QString& text);
    // "-- " and the text. A line break in the text (a name may hold one) begins another "-- "
    // line: nothing of the text leaves the comment.
    void AddCommentLine(const QString& text);
    // Scratch buffers for the rows' texts, kept with their capacity from row to row.
    QByteArray& RowBuffer() { return FRow; }
    QByteArray& PendingBuffer() { return FPending; }
    void Flush();
    void Progress(const QString& objectName, int objectNum, int objectCount, int percent);
    // Raises EAbort when the owner was asked to stop.
    void CheckStop() const;
    // Whether the script goes to a stream (not into the owner's SQL lines).
    bool ToStream() const { return FStream != nullptr; }

    TDADump& FOwner;

private:
    QIODevice* FStream = nullptr;
    QByteArray FBuffer;
    QByteArray FRow;
    QByteArray FPending;
};

class TDADump : public dac::TComponent {
public:
    using TBackupProgressEvent =
        std::function<void(TDADump* sender, const QString& objectName, int objectNum, int objectCount, int percent)>;
    using TRestoreProgressEvent = std::function<void(TDADump* sender, int percent)>;
    // A failed statement of a restore by its place in the script, wherever it ran.
    using TRestoreErrorEvent = std::function<void(TDADump* sender, const script::TStatementPlace& place,
                                                  const std::exception& e, const QString& sql,
                                                  script::TErrorAction& action)>;

    TDADump();
    ~TDADump() override;
    TDADump(const TDADump&) = delete;
    TDADump& operator=(const TDADump&) = delete;

    dac::TCustomDAConnection* Connection() const { return FConnectionHolder->Connection(); }
    void SetConnection(dac::TCustomDAConnection* connection) { FConnectionHolder->SetConnection(connection); }
    // Typed names ([db.]name, backquoted where they hold what a plain name cannot) separated
    // by "," or ";"; empty parts dropped; malformed text raises EDatabaseError. Reading gives
    // them in that form, joined with ", ". Empty: every table and view of the database.
    QString TableNames() const { return JoinNames(FTables); }
    void SetTableNames(const QString& value) { FTables = SplitNames(value); }
    // The same by raw parts, e.g. names the server listed.
    const std::vector<dac::TObjectName>& Tables() const { return FTables; }
    void SetTables(std::vector<dac::TObjectName> tables) { FTables = std::move(tables); }
    TStrings& SQL() { return FSQL; }
    bool Debug() const { return FDebug; }
    void SetDebug(bool value) { FDebug = value; }
    virtual TDADumpOptions& Options() = 0;

    // The script into SQL (cleared first), a stream (at its position) or a file.
    void Backup();
    void BackupToStream(QIODevice* stream, const QString& query = QString());
    // The file appears only when the script is complete; a failed backup leaves an existing
    // file as it was.
    void BackupToFile(const QString& fileName, const QString& query = QString());
    // The rows of one query instead of whole tables, into SQL.
    void BackupQuery(const QString& query);

    // Executes the script of SQL, a stream (from its beginning) or a file, statement by
    // statement; OnError decides per failing statement.
    void Restore();
    void RestoreFromStream(QIODevice* stream);
    void RestoreFromFile(const QString& fileName);
    // Of the last restore: statements taken (executed or failed) and those that failed.
    int RestoredStatements() const { return FRestoredStatements; }
    int FailedStatements() const { return FFailedStatements; }
    // The lexer's line (0-based) where the last restore ended.
    qint64 ParserLine() const { return FParserLine; }

    // Stops a running backup or restore after its current row block or statement, without
    // waiting for it and without stopping a running statement on the server; safe from another
    // thread.
    void RequestStop();
    // Stops a running backup or restore; safe from another thread.
    void BreakExec();
    bool StopRequested() const { return FStop; }
    // Clears a stop before a window shows its Stop button for the next restore, so that a stop
    // pressed before the restore's thread starts still counts.
    void PrepareStop() {
        FStop = false;
        FStopPrepared = true;
    }

    TBackupProgressEvent OnBackupProgress;
    TRestoreProgressEvent OnRestoreProgress;
    script::TDAScript::TErrorEvent OnError;
    // When set, every failure of a restore comes here instead of OnError; a restore on
    // several connections reports its failures only here (without it, as the script does
    // without OnError).
    TRestoreErrorEvent OnRestoreError;
    // When set, every statement of a restore passes through it on its way to the server (the
    // mends the user asked for); the script itself is not changed.
    std::function<void(QString& sql)> RestoreRewrite;

    // Where a backup may keep temporary files: beside the file it writes, else the system's
    // folder for them.
    QString SpoolFolder() const;

    static std::vector<dac::TObjectName> SplitNames(const QString& value);
    static QString JoinNames(const std::vector<dac::TObjectName>& names);

protected:
    virtual std::unique_ptr<TDADumpProcessor> CreateProcessor() = 0;
    virtual std::unique_ptr<script::TDAScript> CreateScript() = 0;
    virtual std::unique_ptr<dac::TCustomDASQL> CreateCommand() = 0;
    // Makes the objects; the constructor of the most derived class calls it.
    void CreateComponents();
    void CheckConnection() const;
    // The dispatcher of a restore on several connections for this script, or none: the
    // script runs alone on the connection.
    virtual std::unique_ptr<TParallelRestore> CreateParallelRestore(script::TDAScript&) { return nullptr; }

private:
    // The restore loop over a script whose source is set; total is the source's size.
    void RunRestore(script::TDAScript& script, qint64 total, const std::function<qint64()>& position);
    void WriteBackup(QIODevice* stream, const QString& query);

    // Holds the connection, which detaches its clients when it is freed.
    std::unique_ptr<dac::TCustomDASQL> FConnectionHolder;
    std::vector<dac::TObjectName> FTables;
    QString FOutputFolder;  // of the file a backup writes, while it runs
    TStrings FSQL;
    bool FDebug = false;
    std::unique_ptr<TDADumpProcessor> FProcessor;
    script::TDAScript* FScript = nullptr;  // the restore's, while it runs
    TParallelRestore* FParallel = nullptr;  // its dispatcher, while it runs
    std::mutex FScriptLock;                 // FScript against BreakExec from another thread
    std::atomic<bool> FStop = false;
    std::atomic<bool> FStopPrepared = false;
    int FRestoredStatements = 0;
    int FFailedStatements = 0;
    qint64 FParserLine = -1;
};

}  // namespace calvoro::dump
