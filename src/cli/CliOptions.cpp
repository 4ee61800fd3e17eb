#include "CliOptions.h"

#include "common/Exceptions.h"

namespace calvoro::cli {

QString UsageText() {
    return QStringLiteral(
        "Usage: calvoro-cli exec [CONNECTION] [--param NAME=VALUE]... -e SQL\n"
        "       calvoro-cli query [CONNECTION] [--prepared] [--param NAME=VALUE]... -e SQL\n"
        "       calvoro-cli script [CONNECTION] [--stop-on-error] FILE|-\n"
        "       calvoro-cli --help\n"
        "\n"
        "exec   Runs SQL (one statement, or several separated by ';'). Prints \"Rows affected:\n"
        "       <n>\" (the count of the first statement).\n"
        "query  Runs SQL and prints its rows like mariadb --batch: a line of column names, then\n"
        "       one line per row, values separated by tabs, NULL as NULL, tab, newline,\n"
        "       backslash and NUL written as \\t, \\n, \\\\ and \\0. Several results follow one\n"
        "       another, separated by an empty line; the row count goes to standard error.\n"
        "       Values are the server's exact text; floats are the shortest text that reads\n"
        "       back to the same value and BIT columns are numbers.\n"
        "script Runs a SQL script statement by statement (DELIMITER commands, routine bodies,\n"
        "       dump files; - reads standard input). The file's bytes reach the server as they\n"
        "       are. Each failing statement is reported on standard error as \"line N: <its\n"
        "       first line>\" and the server's error, and the script goes on (with\n"
        "       --stop-on-error it stops there); at the end \"N statements, K failed\". The exit\n"
        "       status is 1 when a statement failed or the script could not be read.\n"
        "On failure the error goes to standard error and the exit status is 1.\n"
        "\n"
        "CONNECTION:\n"
        "  -h, --host HOST          server host name or address (default: localhost)\n"
        "  -P, --port PORT          TCP port (default: 3306)\n"
        "  -u, --user USER          user name (default: the login name)\n"
        "  -p, --password PASSWORD  password; without it, MYSQL_PWD from the environment\n"
        "  -D, --database DATABASE  database to use\n"
        "Long options also take the form --name=VALUE.\n"
        "\n"
        "  --param NAME=VALUE       value of every parameter :NAME in SQL, as a string\n"
        "  --prepared               query: run as a server-side prepared statement\n"
        "  -e SQL                   the SQL to run\n"
        "\n"
        "Text travels as UTF-8 (utf8mb4 on servers that have it).\n");
}

namespace {

[[noreturn]] void Usage(const QString& what) {
    throw Exception(what + QStringLiteral("\nTry 'calvoro-cli --help'."));
}

}  // namespace

TCliOptions ParseArguments(const QStringList& args) {
    TCliOptions o;
    if (args.isEmpty()) Usage(QStringLiteral("calvoro-cli: no command given"));
    if (args[0] == u"--help" || args[0] == u"-?" || args[0] == u"help") {
        o.Command = QStringLiteral("help");
        return o;
    }
    if (args[0] != u"exec" && args[0] != u"query" && args[0] != u"script")
        Usage(QStringLiteral("calvoro-cli: unknown command '%1'").arg(args[0]));
    o.Command = args[0];
    for (qsizetype i = 1; i < args.size(); ++i) {
        QString a = args[i];
        if (a == u"--help") {
            o.Command = QStringLiteral("help");
            return o;
        }
        // --name=VALUE carries its value; otherwise the next argument is it.
        QString inlineValue;
        bool hasInline = false;
        if (a.startsWith(u"--") && a.contains(u'=')) {
            const qsizetype eq = a.indexOf(u'=');
            inlineValue = a.mid(eq + 1);
            a = a.left(eq);
            hasInline = true;
        }
        auto value = [&]() -> QString {
            if (hasInline) return inlineValue;
            if (i + 1 >= args.size()) Usage(QStringLiteral("calvoro-cli: option '%1' needs a value").arg(a));
            return args[++i];
        };
        if (a == u"-h" || a == u"--host") {
            o.Host = value();
        } else if (a == u"-P" || a == u"--port") {
            bool ok = false;
            const QString text = value();
            o.Port = text.toInt(&ok);
            if (!ok || o.Port <= 0 || o.Port > 65535)
                Usage(QStringLiteral("calvoro-cli: '%1' is not a port number").arg(text));
        } else if (a == u"-u" || a == u"--user") {
            o.User = value();
        } else if (a == u"-p" || a == u"--password") {
            o.Password = value();
            o.PasswordGiven = true;
        } else if (a == u"-D" || a == u"--database") {
            o.Database = value();
        } else if (a == u"--param") {
            const QString text = value();
            const qsizetype eq = text.indexOf(u'=');
            if (eq <= 0) Usage(QStringLiteral("calvoro-cli: --param needs NAME=VALUE, not '%1'").arg(text));
            o.Params.emplace_back(text.left(eq), text.mid(eq + 1));
        } else if (a == u"--prepared" && o.Command == u"query" && !hasInline) {
            o.Prepared = true;
        } else if (a == u"-e" && o.Command != u"script") {
            o.Sql = value();
            o.SqlGiven = true;
        } else if (a == u"--stop-on-error" && o.Command == u"script" && !hasInline) {
            o.StopOnError = true;
        } else if (o.Command == u"script" && (a == u"-" || !a.startsWith(u'-')) && !hasInline) {
            if (!o.File.isEmpty()) Usage(QStringLiteral("calvoro-cli: script takes one file, not also '%1'").arg(a));
            o.File = a;
        } else {
            Usage(QStringLiteral("calvoro-cli: unknown option '%1'").arg(args[i]));
        }
    }
    if (o.Command == u"script") {
        if (o.File.isEmpty()) Usage(QStringLiteral("calvoro-cli: script needs a file (or - for standard input)"));
        if (!o.Params.empty()) Usage(QStringLiteral("calvoro-cli: script takes no --param"));
    } else if (!o.SqlGiven) {
        Usage(QStringLiteral("calvoro-cli: %1 needs -e SQL").arg(o.Command));
    }
    return o;
}

}  // namespace calvoro::cli
