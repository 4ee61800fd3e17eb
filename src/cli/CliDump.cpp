#include "CliDump.h"

#include "CliConnection.h"
#include "CliReport.h"
#include "CliRestoreCheck.h"
#include "dump/MyDump.h"
#include "sqltext/CRParser.h"

#include <QFile>

#include <malloc.h>

namespace calvoro::cli {

namespace {

// The dump connection: the script's bytes are the server's bytes, in utf8mb4.
std::unique_ptr<dac::TMyConnection> DumpConnection(const TCliOptions& o) {
    auto connection = NewConnection(o);
    connection->MyOptions().SetUseUnicode(false);
    connection->MyOptions().SetCharset(QStringLiteral("utf8mb4"));
    connection->Connect();
    return connection;
}

}  // namespace

int RunBackup(const TCliOptions& o, FILE* out, FILE* err) {
    auto connection = DumpConnection(o);
    dump::TMyDump dump;
    dump.SetConnection(connection.get());
    dump.SetTableNames(o.Tables.join(u','));
    static const std::pair<const char*, dump::TMyDumpObject> kinds[] = {
        {"database", dump::doDatabase}, {"users", dump::doUsers}, {"routines", dump::doStoredProcs},
        {"tables", dump::doTables},     {"data", dump::doData},   {"views", dump::doViews},
        {"triggers", dump::doTriggers},
    };
    dump::TMyDumpObjects objects;
    for (const auto& [name, kind] : kinds)
        if (o.Objects.contains(QLatin1StringView(name))) objects.Include(kind);
    dump.SetObjects(objects);
    dump::TMyDumpOptions& options = dump.Options();
    options.QuoteNames = o.QuoteNames;
    options.HexBlob = o.HexBlob;
    options.CompleteInsert = o.CompleteInsert;
    options.UseExtSyntax = o.ExtendedInsert;
    options.InsertType = o.InsertType == u"ignore"    ? dump::itInsertIgnore
                         : o.InsertType == u"replace" ? dump::itReplaceInto
                                                      : dump::itInsert;
    options.AddDrop = o.AddDrop;
    options.AddLock = o.AddLock;
    options.DisableKeys = o.DisableKeys;
    options.CommitBatchSize = o.CommitBatch;
    options.StatementSize = o.StatementSize;
    options.TransactionSize = o.TransactionSize;
    options.SingleTransaction = o.SingleTransaction;
    options.SkipDefiner = o.SkipDefiner;
    if (o.Parallel > 1)
        dump.SetBackupConnections(o.Parallel, [&o]() -> std::unique_ptr<dac::TCustomMyConnection> { return DumpConnection(o); });

    TProgressLine progress(err);
    dump.OnNotice = [&](dump::TMyDump*, const QString& text) {
        progress.Clear();
        Put(err, QStringLiteral("calvoro-cli: %1\n").arg(text));
    };

    if (!o.Output.isEmpty() && progress.Active()) {
        dump.OnBackupProgress = [&](dump::TDADump*, const QString& name, int num, int count, int percent) {
            progress.Show(QStringLiteral("%1/%2 %3 %4%").arg(num + 1).arg(count).arg(name).arg(percent));
        };
    }
    if (o.Output.isEmpty()) {
        QFile file;
        if (!file.open(out, QIODevice::WriteOnly))
            throw Exception(QStringLiteral("Cannot write to standard output: %1").arg(file.errorString()));
        dump.BackupToStream(&file, o.Query);
    } else {
        dump.BackupToFile(o.Output, o.Query);
    }
    progress.Clear();
    return 0;
}

int RunRestore(const TCliOptions& o, FILE* err) {
    // Statements of a megabyte pass through several threads: with a fixed threshold their
    // buffers are mapped and given back when freed, instead of staying in each thread's heap
    // (glibc raises the threshold after the first such free).
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    if (o.Check) {
        auto connection = DumpConnection(o);
        return RunRestoreCheck(o, *connection, stdout);
    }
    QFile file;
    OpenScriptInput(file, o.File);

    auto connection = DumpConnection(o);
    dump::TRestoreMends mends;
    if (!o.MapCollations.empty() || o.Definer != u"keep" || !o.EngineFallback.isEmpty())
        mends = MendsOf(o, dump::ReadServerFacts(*connection));
    dump::TMendCounts mended;
    dump::TMyDump dump;
    dump.SetConnection(connection.get());
    dump.SetRestoreConnections(o.Parallel > 0 ? o.Parallel : dump::DefaultRestoreConnections(),
                               [&o]() -> std::unique_ptr<dac::TCustomMyConnection> { return DumpConnection(o); });
    dump.SetRestoreStopsAtFailure(o.StopOnError);
    if (mends.Any()) dump.RestoreRewrite = [&](QString& sql) { sql = dump::MendStatement(sql, mends, mended); };
    TProgressLine progress(err);
    if (progress.Active()) {
        dump.OnRestoreProgress = [&](dump::TDADump*, int percent) {
            progress.Show(BytesProgress(percent, 100));
        };
    }
    dump.OnRestoreError = [&](dump::TDADump*, const script::TStatementPlace& place, const std::exception& e,
                              const QString& sql, script::TErrorAction& action) {
        progress.Clear();
        ReportFailure(err, place, e, sql);
        action = o.StopOnError ? script::eaAbort : script::eaContinue;
    };
    int status = 0;
    try {
        dump.RestoreFromStream(&file);
    } catch (const sqltext::EParserError& e) {
        // Text the lexer cannot read: the restore ends on that line.
        progress.Clear();
        Put(err, QStringLiteral("line %1: %2\n").arg(dump.ParserLine() + 1).arg(e.Message()));
        status = 1;
    }
    progress.Clear();
    if (mends.Any()) Put(err, dump::MendSummary(mended) + u'\n');
    Put(err, QStringLiteral("%1 statements, %2 failed\n").arg(dump.RestoredStatements()).arg(dump.FailedStatements()));
    return dump.FailedStatements() > 0 ? 1 : status;
}

}  // namespace calvoro::cli
