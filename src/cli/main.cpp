// calvoro-cli: the command-line front end.
#include "CliAdmin.h"
#include "CliConnection.h"
#include "CliDump.h"
#include "CliImport.h"
#include "CliOptions.h"
#include "CliQuery.h"
#include "CliScript.h"
#include "CliSession.h"

#include "app/sessions/SavedSessions.h"
#include "dataaccess/mysql/MyAccess.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

using namespace calvoro;

namespace {

int Exec(const cli::TCliOptions& o) {
    auto connection = cli::NewConnection(o);
    dac::TMyCommand command;
    command.SetConnection(connection.get());
    command.SQL().SetText(o.Sql);
    // A name may stand at several markers: every parameter of that name takes the value.
    for (const auto& [name, value] : o.Params) {
        command.ParamByName(name);  // "Parameter '...' not found" when there is none
        for (int i = 0; i < command.Params().Count(); ++i)
            if (command.Params()[i].Name().compare(name, Qt::CaseInsensitive) == 0)
                command.Params()[i].SetAsString(value);
    }
    command.Execute();
    QTextStream(stdout) << "Rows affected: " << command.RowsAffected() << Qt::endl;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    try {
        cli::TCliOptions options = cli::ParseArguments(args);
        if (options.Command == u"help") {
            QTextStream(stdout) << cli::UsageText();
            return 0;
        }
        if (!options.Session.isEmpty()) cli::ApplySavedSession(options, sessions::TSessionStore());
        cli::CheckReadOnly(options);
        if (options.Command == u"query") {
            cli::RunQuery(options, stdout, stderr);
            return 0;
        }
        if (options.Command == u"script") return cli::RunScript(options, stderr);
        if (options.Command == u"backup") return cli::RunBackup(options, stdout, stderr);
        if (options.Command == u"restore") return cli::RunRestore(options, stderr);
        if (options.Command == u"processlist") {
            cli::RunProcessList(options, stdout, stderr);
            return 0;
        }
        if (options.Command == u"kill") return cli::RunKill(options, stderr);
        if (options.Command == u"import") return cli::RunImport(options, stderr);
        return Exec(options);
    } catch (const EAbort&) {
        return 1;
    } catch (const Exception& e) {
        // Server errors begin with a line break; the message itself follows it.
        QTextStream(stderr) << e.Message().trimmed() << Qt::endl;
        return 1;
    } catch (const std::exception& e) {
        QTextStream(stderr) << QString::fromUtf8(e.what()).trimmed() << Qt::endl;
        return 1;
    }
}
