#include "CliScript.h"

#include "CliConnection.h"
#include "CliReport.h"
#include "script/MyScript.h"
#include "sqltext/CRParser.h"

#include <QFile>

namespace calvoro::cli {

int RunScript(const TCliOptions& o, FILE* err) {
    QFile file;
    OpenScriptInput(file, o.File);
    const bool standardInput = o.File == u"-";

    auto connection = NewConnection(o);
    // The script's bytes go as they are: an 8-bit connection that speaks utf8mb4.
    connection->MyOptions().SetUseUnicode(false);
    connection->MyOptions().SetCharset(QStringLiteral("utf8mb4"));
    connection->Connect();

    script::TMyScript script;
    script.SetConnection(connection.get());
    script.SetReadAhead(true);
    TProgressLine progress(err);
    const qint64 total = standardInput ? -1 : file.size();
    int statements = 0, failed = 0;
    script.AfterExecute = [&](script::TDAScript*, const QString&) {
        ++statements;
        if (progress.Active()) progress.Show(BytesProgress(script.StreamBytesRead(), total));
    };
    script.OnError = [&](script::TDAScript* s, const std::exception& e, const QString& sql,
                         script::TErrorAction& action) {
        ++statements;
        ++failed;
        progress.Clear();
        ReportFailure(err, *s, e, sql);
        action = o.StopOnError ? script::eaAbort : script::eaContinue;
    };
    int status = 0;
    try {
        script.ExecuteStream(&file);
    } catch (const sqltext::EParserError& e) {
        // Text the lexer cannot read: the script ends on that line.
        progress.Clear();
        Put(err, QStringLiteral("line %1: %2\n").arg(script.ParserLine() + 1).arg(e.Message()));
        status = 1;
    }
    progress.Clear();
    Put(err, QStringLiteral("%1 statements, %2 failed\n").arg(statements).arg(failed));
    return failed > 0 ? 1 : status;
}

}  // namespace calvoro::cli
