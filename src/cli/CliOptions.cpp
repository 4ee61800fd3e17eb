#include "CliOptions.h"

#include "common/Exceptions.h"

namespace calvoro::cli {

QString UsageText() {
    return QStringLiteral(
        "Usage: calvoro-cli exec [-h HOST] [-P PORT] [-u USER] [-p PASSWORD] [-D DATABASE]\n"
        "                        [--param NAME=VALUE]... -e SQL\n"
        "       calvoro-cli --help\n"
        "\n"
        "exec  Connects to a MySQL or MariaDB server and runs SQL (one statement, or several\n"
        "      separated by ';'). Prints \"Rows affected: <n>\" (the count of the first\n"
        "      statement); on failure prints the error on standard error and exits with 1.\n"
        "\n"
        "  -h HOST            server host name or address (default: localhost)\n"
        "  -P PORT            TCP port (default: 3306)\n"
        "  -u USER            user name (default: the login name)\n"
        "  -p PASSWORD        password; without -p, MYSQL_PWD from the environment, else none\n"
        "  -D DATABASE        database to use\n"
        "  --param NAME=VALUE value of every parameter :NAME in SQL, as a string (repeatable)\n"
        "  -e SQL             the SQL to run\n"
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
    if (args[0] != u"exec") Usage(QStringLiteral("calvoro-cli: unknown command '%1'").arg(args[0]));
    o.Command = args[0];
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == u"--help") {
            o.Command = QStringLiteral("help");
            return o;
        }
        auto value = [&]() -> QString {
            if (i + 1 >= args.size()) Usage(QStringLiteral("calvoro-cli: option '%1' needs a value").arg(a));
            return args[++i];
        };
        if (a == u"-h") {
            o.Host = value();
        } else if (a == u"-P") {
            bool ok = false;
            const QString text = value();
            o.Port = text.toInt(&ok);
            if (!ok || o.Port <= 0 || o.Port > 65535)
                Usage(QStringLiteral("calvoro-cli: '%1' is not a port number").arg(text));
        } else if (a == u"-u") {
            o.User = value();
        } else if (a == u"-p") {
            o.Password = value();
            o.PasswordGiven = true;
        } else if (a == u"-D") {
            o.Database = value();
        } else if (a == u"--param") {
            const QString text = value();
            const qsizetype eq = text.indexOf(u'=');
            if (eq <= 0) Usage(QStringLiteral("calvoro-cli: --param needs NAME=VALUE, not '%1'").arg(text));
            o.Params.emplace_back(text.left(eq), text.mid(eq + 1));
        } else if (a == u"-e") {
            o.Sql = value();
            o.SqlGiven = true;
        } else {
            Usage(QStringLiteral("calvoro-cli: unknown option '%1'").arg(a));
        }
    }
    if (!o.SqlGiven) Usage(QStringLiteral("calvoro-cli: exec needs -e SQL"));
    return o;
}

}  // namespace calvoro::cli
