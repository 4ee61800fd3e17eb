#include "CliRestoreCheck.h"

#include "CliReport.h"

#include <QFile>

namespace calvoro::cli {

dump::TRestoreMends MendsOf(const TCliOptions& o, const dump::TServerFacts& facts) {
    dump::TRestoreMends mends;
    mends.Collations = o.MapCollations;
    mends.Definer = o.Definer == u"current" ? dump::TDefinerMend::Current
                    : o.Definer == u"drop"  ? dump::TDefinerMend::Drop
                                            : dump::TDefinerMend::Keep;
    mends.EngineFallback = o.EngineFallback;
    mends.KnownEngines = facts.Engines;
    return mends;
}

int RunRestoreCheck(const TCliOptions& o, dac::TCustomMyConnection& connection, FILE* out) {
    QFile file;
    OpenScriptInput(file, o.File);
    const dump::TServerFacts facts = dump::ReadServerFacts(connection);
    const dump::TCheckReport report = dump::CheckScript(&file, facts, MendsOf(o, facts));
    Put(out, dump::FormatCheckReport(report));
    return report.WouldFail() ? 2 : 0;
}

}  // namespace calvoro::cli
