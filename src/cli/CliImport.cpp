#include "CliImport.h"

#include "CliConnection.h"
#include "CliReport.h"
#include "import/CsvLoader.h"

#include <QFile>

namespace calvoro::cli {

int RunImport(const TCliOptions& o, FILE* err) {
    QFile file;
    OpenScriptInput(file, o.File);
    auto connection = NewConnection(o);
    connection->Connect();

    import::TCsvFormat format;
    format.Delimiter = o.Delimiter;
    if (o.NullMarker) format.NullMarker = *o.NullMarker;
    format.SkipRecords = o.SkipLines;
    format.Encoding = o.Charset == u"cp1252" ? import::ceWindows1252 : import::ceUtf8;
    import::TCsvLoader loader(*connection, {o.Database, o.Table}, o.Columns, format);

    TProgressLine progress(err);
    const qint64 total = file.isSequential() ? 0 : file.size();
    const import::TImportReport report = loader.Load(file, [&](const import::TImportProgress& p) {
        if (progress.Active()) progress.Show(BytesProgress(p.BytesRead, total));
    });
    progress.Clear();
    for (const import::TRefusedRow& row : report.Refused)
        Put(err, QStringLiteral("line %1: %2\n").arg(row.Line).arg(row.Reason));
    Put(err, report.Summary() + u'\n');
    return report.Refused.empty() && report.Failure.isEmpty() && !report.Stopped ? 0 : 1;
}

}  // namespace calvoro::cli
