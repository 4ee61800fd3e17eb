#include "DADump.h"

#include "ByteOutput.h"
#include "ParallelRestore.h"

#include "common/Exceptions.h"
#include "common/ScopeGuard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>

namespace calvoro::dump {

namespace {
// Output is handed to the stream in pieces of about this size.
constexpr qsizetype FlushSize = 1 << 20;
}  // namespace

// --- TDADumpProcessor ---

TDADumpProcessor::TDADumpProcessor(TDADump& owner) : FOwner(owner) {}

TDADumpProcessor::~TDADumpProcessor() = default;

void TDADumpProcessor::Backup(QIODevice* stream, const QString& query) {
    FStream = stream;
    FBuffer.clear();
    FBuffer.reserve(FlushSize + FlushSize / 4);
    ScopeExit detach([&] {
        FStream = nullptr;
        FBuffer.clear();
    });
    BackupObjects(query);
    Flush();
}

void TDADumpProcessor::Add(QByteArrayView line) {
    if (!FStream) {
        FOwner.SQL().Add(Decode(line.toByteArray()));
        return;
    }
    AppendBytes(FBuffer, line);
    AppendBytes(FBuffer, "\r\n", 2);
    if (FBuffer.size() >= FlushSize) Flush();
}

void TDADumpProcessor::AddText(QByteArrayView text, QByteArrayView suffix) {
    if (!FStream) {
        // In SQL the text becomes lines; a trailing line break gives no extra empty line.
        QString whole = Decode(text.toByteArray() + suffix.toByteArray());
        static const QRegularExpression lineEnd(QStringLiteral("\r\n|\r|\n"));
        QStringList lines = whole.split(lineEnd);
        if (lines.size() > 1 && lines.back().isEmpty()) lines.removeLast();
        for (const QString& line : lines) FOwner.SQL().Add(line);
        return;
    }
    AppendBytes(FBuffer, text);
    AppendBytes(FBuffer, suffix);
    AppendBytes(FBuffer, "\r\n", 2);
    if (FBuffer.size() >= FlushSize) Flush();
}

void TDADumpProcessor::AddComment(const QString& text) {
    if (!FOwner.Options().GenerateHeader) return;
    Add(QByteArrayView("-- "));
    AddCommentLine(text);
    Add(QByteArrayView("-- "));
    Add(QByteArrayView(""));
}

void TDADumpProcessor::AddCommentLine(const QString& text) {
    // CR ends a line comment for the script processor, LF for it and for the server.
    static const QRegularExpression lineEnd(QStringLiteral("\r\n|\r|\n"));
    for (const QString& line : text.split(lineEnd)) Add(QStringLiteral("-- ") + line);
}

void TDADumpProcessor::Flush() {
    if (!FStream || FBuffer.isEmpty()) return;
    const qint64 written = FStream->write(FBuffer);
    if (written != FBuffer.size())
        throw Exception(QStringLiteral("Cannot write the backup: %1").arg(FStream->errorString()));
    FBuffer.resize(0);  // the capacity stays for the next piece
}

void TDADumpProcessor::Progress(const QString& objectName, int objectNum, int objectCount, int percent) {
    if (FOwner.OnBackupProgress) FOwner.OnBackupProgress(&FOwner, objectName, objectNum, objectCount, percent);
}

void TDADumpProcessor::CheckStop() const {
    if (FOwner.StopRequested()) throw EAbort();
}

// --- TDADump ---

TDADump::TDADump() = default;

TDADump::~TDADump() = default;

void TDADump::CreateComponents() { FConnectionHolder = CreateCommand(); }

std::vector<dac::TObjectName> TDADump::SplitNames(const QString& value) { return dac::ParseObjectNameList(value); }

QString TDADump::JoinNames(const std::vector<dac::TObjectName>& names) {
    QStringList typed;
    for (const dac::TObjectName& name : names) typed << dac::TypedObjectName(name);
    return typed.join(QStringLiteral(", "));
}

void TDADump::CheckConnection() const {
    if (!Connection()) throw EDatabaseError(QStringLiteral("Connection is not defined"));
}

void TDADump::RequestStop() {
    FStop = true;
    std::lock_guard lock(FScriptLock);
    if (FParallel) FParallel->RequestStop();
    if (FScript) FScript->RequestStop();
}

void TDADump::BreakExec() {
    FStop = true;
    // The restore may be ending on its own thread: the script is not let go meanwhile.
    std::lock_guard lock(FScriptLock);
    if (FParallel) FParallel->BreakExec();
    if (FScript) FScript->BreakExec();
}

void TDADump::WriteBackup(QIODevice* stream, const QString& query) {
    CheckConnection();
    if (!query.isNull() && FTables.size() > 1)
        throw EDatabaseError(QStringLiteral("To execute BackupQuery TableNames must have not more than one table"));
    FStop = false;
    if (!FProcessor) FProcessor = CreateProcessor();
    Connection()->WhileConnected([&] { FProcessor->Backup(stream, query); });
}

void TDADump::Backup() {
    FSQL.BeginUpdate();
    ScopeExit end([&] { FSQL.EndUpdate(); });
    FSQL.Clear();
    WriteBackup(nullptr, QString());
}

void TDADump::BackupToStream(QIODevice* stream, const QString& query) { WriteBackup(stream, query); }

void TDADump::BackupToFile(const QString& fileName, const QString& query) {
    CheckConnection();
    // Written under a temporary name beside the file; renamed over it only when complete, so
    // that a failed backup neither destroys nor imitates a good one.
    QSaveFile file(fileName);
    FOutputFolder = QFileInfo(fileName).absolutePath();
    ScopeExit folder([&] { FOutputFolder.clear(); });
    if (!file.open(QIODevice::WriteOnly))
        throw Exception(QStringLiteral("Cannot create file \"%1\". %2").arg(fileName, file.errorString()));
    WriteBackup(&file, query);
    if (!file.commit())
        throw Exception(QStringLiteral("Cannot write file \"%1\". %2").arg(fileName, file.errorString()));
}

QString TDADump::SpoolFolder() const { return FOutputFolder.isEmpty() ? QDir::tempPath() : FOutputFolder; }

void TDADump::BackupQuery(const QString& query) {
    if (query.trimmed().isEmpty()) throw EDatabaseError(QStringLiteral("No SQL statement provided"));
    const std::vector<dac::TObjectName> tables = FTables;
    ScopeExit restore([&] { FTables = tables; });
    FTables.clear();
    FSQL.BeginUpdate();
    ScopeExit end([&] { FSQL.EndUpdate(); });
    FSQL.Clear();
    WriteBackup(nullptr, query);
}

void TDADump::RunRestore(script::TDAScript& script, qint64 total, const std::function<qint64()>& position) {
    if (!FStopPrepared.exchange(false)) FStop = false;
    FRestoredStatements = 0;
    FFailedStatements = 0;
    script.SetConnection(Connection());
    script.SetDebug(FDebug);
    script.SetReadAhead(true);
    std::unique_ptr<TParallelRestore> parallel = CreateParallelRestore(script);
    script.AfterExecute = [this, &parallel](script::TDAScript*, const QString&) {
        ++FRestoredStatements;
        if (parallel) parallel->Succeeded();
    };
    bool aborted = false;
    script.OnError = [this, &aborted](script::TDAScript* sender, const std::exception& e, const QString& sql,
                                      script::TErrorAction& action) {
        ++FRestoredStatements;
        ++FFailedStatements;
        if (OnRestoreError)
            OnRestoreError(this, sender->Place(), e, sql, action);
        else if (OnError)
            OnError(sender, e, sql, action);
        aborted = action == script::eaAbort;
    };
    if (parallel || RestoreRewrite) {
        script.BeforeExecute = [this, &parallel](script::TDAScript*, QString& sql, bool& omit) {
            if (RestoreRewrite && !omit) RestoreRewrite(sql);
            if (parallel) parallel->Take(sql, omit);
        };
    }
    if (parallel) {
        parallel->OnFailure = [this](const script::TStatementPlace& place, const std::exception& e, const QString& sql,
                                     script::TErrorAction& action) {
            if (OnRestoreError) OnRestoreError(this, place, e, sql, action);
        };
    }
    {
        std::lock_guard lock(FScriptLock);
        FScript = &script;
        FParallel = parallel.get();
    }
    ScopeExit release([&] {
        FParserLine = script.ParserLine();
        std::lock_guard lock(FScriptLock);
        FScript = nullptr;
        FParallel = nullptr;
    });
    int reported = -1;
    auto report = [&](qint64 done) {
        if (!OnRestoreProgress || total <= 0) return;
        const int percent = int(std::min<qint64>(100, done * 100 / total));
        if (percent == reported) return;
        reported = percent;
        OnRestoreProgress(this, percent);
    };
    bool any = false;
    // A stop between two statements ends the loop too (ExecuteNext returns false).
    while (script.ExecuteNext()) {
        any = true;
        report(position());
    }
    if (parallel) {
        // The statements still running elsewhere, and those held back, before the 100.
        ScopeExit count([&] {
            FRestoredStatements += parallel->Taken();
            FFailedStatements += parallel->Failed();
            aborted = aborted || parallel->Aborted();
        });
        parallel->Finish();
    }
    // The whole source was read when the script is exhausted (not when a statement stopped it).
    if (any && !FStop && !aborted) report(total);
}

void TDADump::RestoreFromStream(QIODevice* stream) {
    auto script = CreateScript();
    if (!stream->isSequential()) stream->seek(0);
    const qint64 total = stream->isSequential() ? 0 : stream->size();
    script->SetStream(stream);
    ScopeExit detach([&] { script->SetStream(nullptr); });
    RunRestore(*script, total, [&] { return script->StreamPosition(); });
}

void TDADump::RestoreFromFile(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, file.errorString()));
    RestoreFromStream(&file);
}

void TDADump::Restore() {
    auto script = CreateScript();
    script->SQL().Assign(FSQL.Lines());
    const qint64 total = FSQL.Text().size();
    RunRestore(*script, total, [&] { return script->EndPos() + 1; });
}

}  // namespace calvoro::dump
