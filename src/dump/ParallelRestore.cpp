#include "ParallelRestore.h"

#include "DumpStatement.h"

#include "common/Exceptions.h"
#include "common/ScopeGuard.h"

#include <QStringList>

#include <algorithm>
#include <chrono>

namespace calvoro::dump {

namespace {

// One key per table as the script names it: an unqualified name and one with its database
// are different keys, so that neither waits for the other's rows wrongly assumed apart.
QString TableKey(const dac::TObjectName& name) { return name.Database + QChar(1) + name.Name; }

}  // namespace

int DefaultRestoreConnections() { return int(std::clamp(std::thread::hardware_concurrency(), 1u, 4u)); }

TParallelRestore::TParallelRestore(script::TDAScript& script, dac::TCustomMyConnection& main, int workers,
                                   const TConnectionFactory& connect, qsizetype queueBytes)
    : FScript(script), FQueueLimit(queueBytes) {
    FMainCommand.SetConnection(&main);
    ScopeExit end([&] { EndWorkers(); });  // the workers started so far, when one cannot connect
    for (int i = 0; i < workers; ++i) {
        auto worker = std::make_unique<TWorker>();
        try {
            worker->Connection = connect();
            if (!worker->Connection->GetConnected()) worker->Connection->Connect();
        } catch (const std::exception& e) {
            throw Exception(QStringLiteral("Cannot open restore connection %1 of %2: %3 (a restore on one connection "
                                           "needs no more)")
                                .arg(i + 1)
                                .arg(workers)
                                .arg(QString::fromUtf8(e.what())));
        }
        worker->ThreadId = worker->Connection->MySQLConnection()->GetThreadId();
        worker->Command = std::make_unique<dac::TMyCommand>();
        worker->Command->SetConnection(worker->Connection.get());
        TWorker& w = *worker;
        FWorkers.push_back(std::move(worker));
        w.Thread = std::thread([this, &w] { WorkerLoop(w); });
    }
    end.Dismiss();
}

TParallelRestore::~TParallelRestore() {
    RequestStop();
    EndWorkers();
}

void TParallelRestore::EndWorkers() {
    {
        std::lock_guard lock(FLock);
        FClosing = true;
    }
    FWork.notify_all();
    for (auto& worker : FWorkers)
        if (worker->Thread.joinable()) worker->Thread.join();
}

bool TParallelRestore::Serial() const {
    return FMainLocks || FMainBegun || FMainAutocommitOff || FAborted || FStop || FWorkers.empty();
}

void TParallelRestore::Take(QString& sql, bool& omit) {
    FPendingSession.clear();
    if (omit) return;  // a DELIMITER command
    ReportFailures();
    if (!FAborted && !FStop) Route(sql, omit);
    // A failure reported while the statement waited ended the restore: it does not run.
    if (FAborted || FStop) {
        omit = true;
        FPendingSession.clear();
        FScript.RequestStop();
    }
}

void TParallelRestore::Route(const QString& sql, bool& omit) {
    ++FSeq;
    using K = TDumpStatementKind;
    const TDumpStatement st = ClassifyDumpStatement(sql);
    const QString table = TableKey(st.Table);
    bool inSection = FInSection && table == FSection;
    if (SectionBarriers && !inSection &&
        (st.Kind == K::CreateTable || st.Kind == K::DropTable || st.Kind == K::TruncateTable ||
         st.Kind == K::LockTable || st.Kind == K::DisableKeys)) {
        Barrier();
        if (FAborted || FStop) return;
        inSection = false;
    }
    switch (st.Kind) {
        case K::Data:
            if (!Serial() && inSection) {
                Dispatch(FScript.TextToSend(sql), table);
                omit = true;
                return;
            }
            break;
        case K::LockTable:
            if (!Serial()) {
                FInSection = true;
                FSection = table;
                FLockSkipped = true;
                Skip(omit);
                return;
            }
            Barrier();
            FMainLocks = true;
            return;
        case K::UnlockTables:
            if (FLockSkipped) {
                // The dump's section ends with its lock: rows of the table after it are the
                // script's own and run in order, after the section's.
                FLockSkipped = false;
                FInSection = false;
                Skip(omit);
                return;
            }
            Barrier();
            FMainLocks = false;
            return;
        case K::Begin:
        case K::Commit:
        case K::Rollback:
        case K::Autocommit:
            if (FInSection && !Serial()) {
                Skip(omit);
                return;
            }
            Barrier();
            if (st.Kind == K::Begin) FMainBegun = true;
            if (st.Kind == K::Commit || st.Kind == K::Rollback) FMainBegun = false;
            if (st.Kind == K::Autocommit) {
                FMainAutocommitOff = !st.AutocommitOn;
                if (st.AutocommitOn) FMainBegun = false;
            }
            return;
        case K::DisableKeys:
            SettleTable(table);
            return;
        case K::EnableKeys:
            if (!Serial()) {
                FHeld.push_back({FScript.TextToSend(sql), FScript.Place(), table});
                omit = true;
                return;
            }
            break;
        case K::CreateTable:
        case K::TruncateTable:
            SettleTable(table);
            FInSection = true;
            FSection = table;
            return;
        case K::DropTable:
            SettleTable(table);
            if (inSection) FInSection = false;
            return;
        case K::SessionSet:
            // Reads nothing: runs now, and on each worker before its next statement.
            FPendingSession = FScript.TextToSend(sql);
            return;
        case K::Use:
            // Names after it mean other tables: the section ends, the held statements run.
            Barrier();
            FPendingSession = FScript.TextToSend(sql);
            return;
        case K::OtherSet:
            Barrier();
            FPendingSession = FScript.TextToSend(sql);
            return;
        case K::LockOther:
            Barrier();
            FMainLocks = true;
            return;
        case K::Other:
            Barrier();
            // A transaction the main connection may have opened keeps what follows there.
            if (st.MayOpenTransaction) FMainAutocommitOff = true;
            return;
    }
    Barrier();
}

void TParallelRestore::Succeeded() {
    if (FPendingSession.isNull()) return;
    std::lock_guard lock(FLock);
    FSession.push_back(FPendingSession);
    FPendingSession.clear();
}

void TParallelRestore::Skip(bool& omit) {
    omit = true;
    if (!FAborted && !FStop) ++FTaken;
}

void TParallelRestore::Dispatch(const QString& sql, const QString& table) {
    const qsizetype bytes = sql.size() * qsizetype(sizeof(QChar));
    std::unique_lock lock(FLock);
    FChanged.wait(lock, [&] { return FStop || FQueue.empty() || FQueueBytes + bytes <= FQueueLimit; });
    if (FStop) return;
    FQueue.push_back({sql, FScript.Place(), table, FSession.size(), FSeq});
    FQueueBytes += bytes;
    ++FPendingByTable[table];
    lock.unlock();
    FWork.notify_one();
}

void TParallelRestore::WorkerLoop(TWorker& worker) {
    for (;;) {
        TTask task;
        {
            std::unique_lock lock(FLock);
            FWork.wait(lock, [&] { return FClosing || !FQueue.empty(); });
            if (FQueue.empty()) return;  // closing, nothing left
            task = std::move(FQueue.front());
            FQueue.pop_front();
            FQueueBytes -= task.Sql.size() * qsizetype(sizeof(QChar));
            ++FRunning;
        }
        FChanged.notify_all();
        RunTask(worker, task);
        {
            std::lock_guard lock(FLock);
            --FRunning;
            if (--FPendingByTable[task.Table] == 0) FPendingByTable.remove(task.Table);
        }
        FChanged.notify_all();
    }
}

void TParallelRestore::RunTask(TWorker& worker, const TTask& task) {
    std::vector<QString> replay;
    {
        std::lock_guard lock(FLock);
        replay.assign(FSession.begin() + qsizetype(worker.SessionVersion),
                      FSession.begin() + qsizetype(task.SessionVersion));
    }
    try {
        // The settings first: the statement was written under them. A setting that ran on the
        // main connection but fails here fails the statement with that error.
        for (const QString& setting : replay) {
            ++worker.SessionVersion;
            worker.Command->ExecuteText(setting);
        }
        worker.SessionVersion = task.SessionVersion;
        if (FStop) return;
        worker.Command->ExecuteText(task.Sql);
        ++FTaken;
    } catch (const std::exception&) {
        worker.SessionVersion = task.SessionVersion;
        if (FStop) return;  // stopped: not a failure of the statement
        ++FTaken;
        ++FFailed;
        std::lock_guard lock(FLock);
        FFailures.push_back({task.Seq, task.Place, task.Sql, std::current_exception()});
    }
}

void TParallelRestore::Barrier() {
    {
        std::unique_lock lock(FLock);
        FChanged.wait(lock, [&] { return FStop || (FQueue.empty() && FRunning == 0); });
    }
    ReportFailures();
    RunHeld([](const THeld&) { return true; });
    FInSection = false;
    FLockSkipped = false;
}

void TParallelRestore::SettleTable(const QString& table) {
    {
        std::unique_lock lock(FLock);
        FChanged.wait(lock, [&] { return FStop || !FPendingByTable.contains(table); });
    }
    ReportFailures();
    RunHeld([&](const THeld& held) { return held.Table == table; });
}

void TParallelRestore::RunHeld(const std::function<bool(const THeld&)>& which) {
    std::vector<THeld> run, keep;
    for (THeld& held : FHeld) (which(held) ? run : keep).push_back(std::move(held));
    FHeld = std::move(keep);
    for (const THeld& held : run) {
        if (FAborted || FStop) return;
        ++FTaken;
        try {
            FMainCommand.ExecuteText(held.Sql);
        } catch (const std::exception&) {
            ++FFailed;
            Report({0, held.Place, held.Sql, std::current_exception()});
        }
    }
}

void TParallelRestore::ReportFailures() {
    std::vector<TFailure> failures;
    {
        std::lock_guard lock(FLock);
        failures.swap(FFailures);
    }
    std::sort(failures.begin(), failures.end(), [](const TFailure& a, const TFailure& b) { return a.Seq < b.Seq; });
    for (const TFailure& failure : failures) {
        if (FAborted) return;  // the rest ran meanwhile; the first failure ended the restore
        Report(failure);
    }
}

void TParallelRestore::Report(const TFailure& failure) {
    try {
        std::rethrow_exception(failure.Error);
    } catch (const std::exception& e) {
        script::TErrorAction action = script::eaException;
        if (OnFailure) OnFailure(failure.Place, e, failure.Sql.trimmed(), action);
        switch (action) {
            case script::eaAbort: Abort(); break;
            case script::eaFail:
                FRaise = failure.Error;
                Abort();
                break;
            case script::eaException: ShowApplicationException(e); break;
            case script::eaContinue: break;
        }
    }
}

void TParallelRestore::Abort() {
    FAborted = true;
    {
        std::lock_guard lock(FLock);
        DropQueue();
    }
    FChanged.notify_all();
    FScript.RequestStop();
}

void TParallelRestore::DropQueue() {
    for (const TTask& task : FQueue)
        if (--FPendingByTable[task.Table] == 0) FPendingByTable.remove(task.Table);
    FQueue.clear();
    FQueueBytes = 0;
}

void TParallelRestore::Finish() {
    if (!FAborted && !FStop) Barrier();
    {
        // Whatever still runs ends before the workers do.
        std::unique_lock lock(FLock);
        FChanged.wait(lock, [&] { return FQueue.empty() && FRunning == 0; });
    }
    EndWorkers();
    if (FBroken) {
        for (auto& worker : FWorkers) {
            try {
                worker->Connection->Disconnect();
            } catch (const std::exception&) {
                // Its session was killed: there is nothing to close any more.
            }
        }
        AwaitBrokenSessions();
    }
    ReportFailures();
    if (FRaise) std::rethrow_exception(std::exchange(FRaise, nullptr));
}

void TParallelRestore::RequestStop() {
    FStop = true;
    {
        std::lock_guard lock(FLock);
        DropQueue();
    }
    FChanged.notify_all();
}

void TParallelRestore::BreakExec() {
    FBroken = true;
    RequestStop();
    for (auto& worker : FWorkers) worker->Command->BreakExec();
}

void TParallelRestore::AwaitBrokenSessions() {
    QStringList ids;
    for (const auto& worker : FWorkers) ids << QString::number(worker->ThreadId);
    const QString sql = QStringLiteral("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID IN (%1)")
                            .arg(ids.join(u','));
    dac::TMyQuery query;
    query.SetConnection(FMainCommand.MyConnection());
    try {
        // A killed statement ends at the server's next check; ten seconds is far beyond it.
        for (int i = 0; i < 500; ++i) {
            query.Close();
            query.SQL().SetText(sql);
            query.Open();
            if (query.Fields()[0].AsLargeInt() == 0) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    } catch (const std::exception&) {
        // The break ended the main connection's session too: nothing is left to ask, and the
        // stop itself is what the caller asked for.
    }
}

}  // namespace calvoro::dump
