#pragma once
// A restore on several connections. The script runs as ever on the main connection, and the
// dispatcher sees each statement before it runs (the script's BeforeExecute): the data
// statements of a dump's table section (DumpStatement.h) go to a bounded queue that worker
// connections empty; everything else runs on the main connection once what it depends on is
// done.
//
//  - Structure statements of one table (CREATE, DROP, TRUNCATE, DISABLE KEYS) wait only for
//    that table's rows; ENABLE KEYS waits until the next statement that depends on everything.
//  - LOCK TABLES of the section's table, UNLOCK TABLES after it, and BEGIN, COMMIT and
//    autocommit inside a section are taken without running: each worker statement commits.
//  - SETs of session variables and USE run on the main connection and, in the same order,
//    on every worker before its next statement (a worker sees the settings its statement
//    was written under).
//  - Anything else waits until every statement before it is done (a barrier). While the main
//    connection holds table locks or a transaction of its own, everything runs there.
//
// Failures of the workers' statements come back to the main thread with their place in the
// script, in the order of the script as far as they are known together. Memory stays bounded
// by the queue's bytes and one statement per worker.

#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/mysql/MySqlIdentifier.h"
#include "script/DAScript.h"

#include <QString>

#include <atomic>
#include <QHash>

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace calvoro::dump {

// The number of connections a restore uses for data by default: one per processor core, at
// most four.
int DefaultRestoreConnections();

class TParallelRestore {
public:
    using TConnectionFactory = std::function<std::unique_ptr<dac::TCustomMyConnection>()>;
    // A failed statement: its place in the script, the error and its text; the action decides
    // whether the restore goes on.
    using TFailureEvent = std::function<void(const script::TStatementPlace& place, const std::exception& e,
                                             const QString& sql, script::TErrorAction& action)>;

    // Opens `workers` connections (connected) from the factory; the script runs on `main`.
    // queueBytes bounds the statements waiting for a worker (one is always let in).
    TParallelRestore(script::TDAScript& script, dac::TCustomMyConnection& main, int workers,
                     const TConnectionFactory& connect, qsizetype queueBytes);
    ~TParallelRestore();
    TParallelRestore(const TParallelRestore&) = delete;
    TParallelRestore& operator=(const TParallelRestore&) = delete;

    // The script's BeforeExecute: decides where the statement runs. omit is set when it does
    // not run on the main connection now.
    void Take(QString& sql, bool& omit);
    // The script's AfterExecute: the statement taken last ran on the main connection.
    void Succeeded();
    // After the script's last statement: waits for every statement, runs the ones held back,
    // reports the failures left, and ends the workers.
    void Finish();
    // No statement starts any more; BreakExec also stops the running ones on the server.
    // Safe from another thread.
    void RequestStop();
    void BreakExec();

    // Statements taken here (run on a worker or held back and run, or taken without running),
    // those of them that failed, and whether a failure's action ended the restore.
    int Taken() const { return FTaken; }
    int Failed() const { return FFailed; }
    bool Aborted() const { return FAborted; }

    TFailureEvent OnFailure;
    // Each table's section starts only when everything before it is done: a failure that
    // ends the restore leaves nothing started after its section.
    bool SectionBarriers = false;

private:
    struct TTask {
        QString Sql;  // as it goes to the connection
        script::TStatementPlace Place;
        QString Table;  // the key of its table
        size_t SessionVersion = 0;
        qint64 Seq = 0;
    };
    struct TFailure {
        qint64 Seq = 0;
        script::TStatementPlace Place;
        QString Sql;
        std::exception_ptr Error;
    };
    struct TWorker {
        std::unique_ptr<dac::TCustomMyConnection> Connection;
        std::unique_ptr<dac::TMyCommand> Command;
        std::thread Thread;
        size_t SessionVersion = 0;  // statements of the session log run so far
        int64_t ThreadId = 0;       // the server's id of its session
    };
    struct THeld {
        QString Sql;
        script::TStatementPlace Place;
        QString Table;
    };

    void Route(const QString& sql, bool& omit);
    void WorkerLoop(TWorker& worker);
    void RunTask(TWorker& worker, const TTask& task);
    bool Serial() const;
    void Dispatch(const QString& sql, const QString& table);
    void Skip(bool& omit);
    // Waits for every statement given to the workers, then runs the held-back ones.
    void Barrier();
    // Waits for the table's statements, then runs its held-back ones.
    void SettleTable(const QString& table);
    void RunHeld(const std::function<bool(const THeld&)>& which);
    void ReportFailures();
    void Report(const TFailure& failure);
    void Abort();
    // Drops the waiting statements; the lock is held.
    void DropQueue();
    void EndWorkers();
    // After a break: waits until the server has ended the workers' sessions, so that none of
    // their statements still runs when the restore returns.
    void AwaitBrokenSessions();

    script::TDAScript& FScript;
    dac::TMyCommand FMainCommand;
    std::vector<std::unique_ptr<TWorker>> FWorkers;
    const qsizetype FQueueLimit;

    // Shared with the workers, under FLock.
    std::mutex FLock;
    std::condition_variable FWork;     // a task or the end for the workers
    std::condition_variable FChanged;  // a task taken or done, for the main thread
    std::deque<TTask> FQueue;
    qsizetype FQueueBytes = 0;
    int FRunning = 0;
    QHash<QString, int> FPendingByTable;
    std::vector<QString> FSession;  // SETs and USEs run so far, as sent
    std::vector<TFailure> FFailures;
    bool FClosing = false;
    std::atomic<int> FTaken = 0;
    std::atomic<int> FFailed = 0;
    std::atomic<bool> FStop = false;
    std::atomic<bool> FBroken = false;

    // The main thread's view of the script.
    qint64 FSeq = 0;
    bool FInSection = false;
    QString FSection;
    bool FLockSkipped = false;
    bool FMainLocks = false;
    bool FMainBegun = false;
    bool FMainAutocommitOff = false;
    bool FAborted = false;
    std::exception_ptr FRaise;  // an eaFail's error, raised by Finish
    QString FPendingSession;    // a SET or USE running on the main connection
    std::vector<THeld> FHeld;
};

}  // namespace calvoro::dump
