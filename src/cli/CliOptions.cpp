#include "CliOptions.h"

#include "common/Exceptions.h"
#include "dataaccess/mysql/MySqlIdentifier.h"
#include "protocol/CRVioTcp.h"
#include "protocol/CRVioTcpSSL.h"
#include "protocol/MySqlApiDirect.h"

#include <functional>

namespace calvoro::cli {

QString UsageText() {
    return QStringLiteral(
        "Usage: calvoro-cli exec [CONNECTION] [--param NAME=VALUE]... -e SQL\n"
        "       calvoro-cli query [CONNECTION] [--prepared] [--param NAME=VALUE]... -e SQL\n"
        "                         [--format csv|tsv|json|sql [EXPORT OPTIONS]] [-o FILE]\n"
        "       calvoro-cli script [CONNECTION] [--stop-on-error] FILE|-\n"
        "       calvoro-cli backup [CONNECTION] -D DATABASE [BACKUP OPTIONS] [-o FILE]\n"
        "       calvoro-cli restore [CONNECTION] [-D DATABASE] [--stop-on-error] [--parallel N]\n"
        "                           [--check] [MENDS] FILE|-\n"
        "       calvoro-cli processlist [CONNECTION] [--full]\n"
        "       calvoro-cli kill [CONNECTION] [--query] ID...\n"
        "       calvoro-cli import [CONNECTION] -D DATABASE --table T [IMPORT OPTIONS] FILE|-\n"
        "       calvoro-cli --help\n"
        "\n"
        "exec   Runs SQL (one statement, or several separated by ';'). Prints \"Rows affected:\n"
        "       <n>\" (the count of the first statement).\n"
        "query  Runs SQL and prints its rows like mariadb --batch: a line of column names, then\n"
        "       one line per row, values separated by tabs, NULL as NULL, tab, newline,\n"
        "       backslash and NUL written as \\t, \\n, \\\\ and \\0. Several results follow one\n"
        "       another, separated by an empty line; the row count goes to standard error.\n"
        "       Values are the server's exact text; floats are the shortest text that reads\n"
        "       back to the same value and BIT columns are numbers. --format writes the rows\n"
        "       as CSV, TSV, JSON or SQL INSERT statements instead, each result in turn.\n"
        "script Runs a SQL script statement by statement (DELIMITER commands, routine bodies,\n"
        "       dump files; - reads standard input). The file's bytes reach the server as they\n"
        "       are. Each failing statement is reported on standard error as \"line N: <its\n"
        "       first line>\" and the server's error, and the script goes on (with\n"
        "       --stop-on-error it stops there); at the end \"N statements, K failed\". The exit\n"
        "       status is 1 when a statement failed or the script could not be read.\n"
        "backup Writes the database's objects and rows as a SQL script, to standard output or\n"
        "       to FILE (which appears only when the script is complete; an existing file stays\n"
        "       as it was after a failure). The script restores every value byte for byte.\n"
        "restore Runs a script written by backup (or any script, as script does) on a\n"
        "       connection like the one backup uses; failures are reported as script does.\n"
        "       The rows of a dump's tables run on N more connections of the same login and\n"
        "       session settings (--parallel N; default: the number of processor cores, at\n"
        "       most 4); everything else runs in order on the first one. --parallel 1 runs\n"
        "       the whole script on one connection.\n"
        "       --check only reads the script against the server and prints what would fail\n"
        "       (unknown collations and character sets, missing DEFINER accounts, engines,\n"
        "       executable comments the server skips, privileges the account lacks), with\n"
        "       the first line of each; exit status 0 when nothing would fail, 2 otherwise.\n"
        "       MENDS rewrite statements on their way to the server (the file stays as it\n"
        "       is) and are counted at the end: --map-collation FROM=TO (repeatable),\n"
        "       --definer keep|current|drop, --engine-fallback ENGINE.\n"
        "processlist Prints the server's processes like query does: Id, User, Host, db,\n"
        "       Command, Time, State, Info (the statement, its first 100 characters without\n"
        "       --full).\n"
        "kill   Ends the connections with these ids (with --query only their running\n"
        "       statements). Each failure is reported on standard error and the others go on;\n"
        "       the exit status is 1 when one failed.\n"
        "import Loads a CSV file (- reads standard input) into a table in batched INSERTs, each\n"
        "       batch in a transaction. Rows the server refuses, and records that are malformed\n"
        "       or have another field count, are reported on standard error as \"line N: reason\"\n"
        "       and the others are loaded; at the end \"N rows loaded, K refused.\" The exit\n"
        "       status is 1 when a row was refused or the load ended early (the report says\n"
        "       which lines are committed).\n"
        "On failure the error goes to standard error and the exit status is 1.\n"
        "\n"
        "CONNECTION:\n"
        "  -h, --host HOST          server host name or address (default: localhost); an IPv6\n"
        "                           address as ::1 or [::1]; HOST:PORT and [ADDRESS]:PORT name\n"
        "                           the port too. localhost is reached over TCP, as any host,\n"
        "                           unless a socket is given.\n"
        "  -P, --port PORT          TCP port (default: 3306)\n"
        "  -S, --socket PATH        the server's Unix socket: connect through it instead of TCP\n"
        "  --protocol tcp|socket    tcp ignores --socket; socket without --socket uses\n"
        "                           /run/mysqld/mysqld.sock\n"
        "  --connect-timeout SEC    give up when the connect and login take longer (default:\n"
        "                           15; 0: no limit)\n"
        "  -u, --user USER          user name (default: the login name)\n"
        "  -p, --password PASSWORD  password; without it, MYSQL_PWD from the environment\n"
        "  -D, --database DATABASE  database to use\n"
        "  --max-allowed-packet N   the largest packet accepted from the server, in bytes or\n"
        "                           with K, M or G (4096 to 2G; default: 1G)\n"
        "  --ssl-mode MODE          DISABLED, PREFERRED (default: TLS when the server offers it),\n"
        "                           REQUIRED, VERIFY_CA or VERIFY_IDENTITY; over a Unix socket\n"
        "                           no TLS is used and the socket counts as secure\n"
        "  --ssl-ca FILE            CA certificates (PEM) that the server's certificate must\n"
        "                           chain to (VERIFY_CA, VERIFY_IDENTITY)\n"
        "  --ssl-capath DIR         a folder of CA certificates\n"
        "  --ssl-cert FILE          client certificate (PEM)\n"
        "  --ssl-key FILE           the client certificate's key (PEM)\n"
        "  --ssl-cipher LIST        OpenSSL cipher list for TLS 1.2\n"
        "  --server-public-key FILE the server's RSA public key, for caching_sha2_password and\n"
        "                           sha256_password without TLS\n"
        "  --get-server-public-key  allow asking the server for that key (trusted networks only)\n"
        "  --session NAME           a session saved in the program: its server, port, socket,\n"
        "                           user, database, TLS, read-only flag and kept password fill\n"
        "                           what the options here leave out\n"
        "  --read-only              a read-only session: statements that would change data or\n"
        "                           structure, script, restore and kill are refused before they are\n"
        "                           sent, and the server refuses changes on every connection\n"
        "Long options also take the form --name=VALUE.\n"
        "\n"
        "  --param NAME=VALUE       value of every parameter :NAME in SQL, as a string\n"
        "  --prepared               query: run as a server-side prepared statement\n"
        "  -e SQL                   the SQL to run\n"
        "\n"
        "EXPORT OPTIONS (query --format):\n"
        "  csv: RFC 4180, UTF-8, CR LF line ends; quoted where needed, an empty string as \"\",\n"
        "       NULL as an empty field. tsv: tab, newline, CR, backslash and NUL as \\t, \\n,\n"
        "       \\r, \\\\ and \\0, NULL as \\N. Binary strings as 0x and hexadecimal digits.\n"
        "  json: an array of objects; numbers as numbers, DECIMAL and integers beyond 2^53 as\n"
        "       strings, binary strings in base64, NULL as null.\n"
        "  sql: INSERT INTO TABLE (columns) VALUES (...); of 100 rows each.\n"
        "  --null TEXT              csv, tsv: write NULL as TEXT\n"
        "  --no-header              csv, tsv: no line of column names\n"
        "  --binary hex|raw         csv, tsv: binary strings in hexadecimal (default) or as bytes\n"
        "  --table NAME             sql: the table the statements insert into (needed)\n"
        "  -o, --output FILE        write to FILE (it appears when complete) instead of\n"
        "                           standard output\n"
        "\n"
        "BACKUP OPTIONS:\n"
        "  --tables A,B             these tables and views only (default: all of them)\n"
        "  --objects K,...          what to write, of database, tables, data, views, routines,\n"
        "                           triggers, users (default: tables,data)\n"
        "  --no-quote-names         backquote only the names that need it\n"
        "  --hex-blob               binary strings, BLOBs and TEXTs in hexadecimal\n"
        "  --complete-insert        INSERT statements name their columns\n"
        "  --no-extended-insert     one INSERT statement per row\n"
        "  --insert-type T          insert, ignore (INSERT IGNORE) or replace (REPLACE)\n"
        "  --no-add-drop            no DROP ... IF EXISTS before each CREATE\n"
        "  --no-add-lock            no LOCK TABLES around each table's rows\n"
        "  --disable-keys           ALTER TABLE ... DISABLE KEYS around each table's rows\n"
        "  --commit-batch N         BEGIN/COMMIT around every N rows\n"
        "  --statement-size BYTES   the longest INSERT of several rows, with K, M or G (4K to\n"
        "                           1G; default: 1M; never more than the server's\n"
        "                           max_allowed_packet takes)\n"
        "  --transaction-size BYTES rows of a transactional table commit after about this\n"
        "                           many bytes (default: 16M; 0: every statement commits)\n"
        "  --query SQL              the rows of this query instead of whole tables\n"
        "  --single-transaction     read every table in one consistent snapshot (InnoDB)\n"
        "  --skip-definer           views and routines without their DEFINER clause\n"
        "  --parallel N             read the rows on N more connections, all in one\n"
        "                           consistent snapshot (a brief global read lock: the\n"
        "                           account needs RELOAD, else one connection reads, with a\n"
        "                           note); the script is the same as with one (default: 1)\n"
        "  -o, --output FILE        write the script to FILE\n"
        "\n"
        "IMPORT OPTIONS:\n"
        "  --table T                the table to load\n"
        "  --columns A,B,C          the columns the fields go to (default: all, in order)\n"
        "  --delimiter C            the field delimiter, one character or \\t (default: ,)\n"
        "  --null-marker X          an unquoted field X is NULL (default: none)\n"
        "  --skip-lines N           drop the first N records (a header)\n"
        "  --character-set CS       utf8 (default; a byte-order mark is dropped) or cp1252\n"
        "Fields may be quoted with \" (\"\" for one \"); a quoted field may hold delimiters and\n"
        "line breaks. Records end at LF or CR LF; empty lines are skipped.\n"
        "\n"
        "Text travels as UTF-8 (utf8mb4 on servers that have it).\n");
}

namespace {

[[noreturn]] void Usage(const QString& what) {
    throw Exception(what + QStringLiteral("\nTry 'calvoro-cli --help'."));
}

// A byte count as the mariadb client takes it: digits, then K, M or G (either case) for
// KiB, MiB or GiB; -1 for anything else or for more than fits.
int64_t ParseByteSize(const QString& text) {
    int shift = 0;
    QString digits = text;
    if (!digits.isEmpty()) {
        switch (digits.back().toUpper().unicode()) {
            case u'K': shift = 10; break;
            case u'M': shift = 20; break;
            case u'G': shift = 30; break;
            default: break;
        }
        if (shift) digits.chop(1);
    }
    if (digits.isEmpty() || digits.size() > 12) return -1;
    for (const QChar c : digits)
        if (c < u'0' || c > u'9') return -1;
    return digits.toLongLong() << shift;  // at most 12 digits and 30 bits: fits
}

QStringList SplitList(const QString& text) {
    QStringList items;
    for (const QString& item : text.split(u',')) {
        const QString trimmed = item.trimmed();
        if (!trimmed.isEmpty()) items << trimmed;
    }
    return items;
}

// The options of backup; false for an argument that is none of them.
bool ParseBackupOption(TCliOptions& o, const QString& a, bool hasInline, const std::function<QString()>& value) {
    // Switches take no value.
    const auto flag = [&](const char* name, bool& target, bool setTo) {
        if (a != QLatin1StringView(name)) return false;
        if (hasInline) Usage(QStringLiteral("calvoro-cli: option '%1' takes no value").arg(a));
        target = setTo;
        return true;
    };
    if (flag("--no-quote-names", o.QuoteNames, false) || flag("--hex-blob", o.HexBlob, true) ||
        flag("--complete-insert", o.CompleteInsert, true) || flag("--no-extended-insert", o.ExtendedInsert, false) ||
        flag("--no-add-drop", o.AddDrop, false) || flag("--no-add-lock", o.AddLock, false) ||
        flag("--disable-keys", o.DisableKeys, true) || flag("--single-transaction", o.SingleTransaction, true) ||
        flag("--skip-definer", o.SkipDefiner, true))
        return true;
    if (a == u"--tables") {
        // Names are cut where the identifier rules cut them: a comma inside backticks is part
        // of a name. Each is kept in its typed form, which the backup parses back to the same parts.
        try {
            o.Tables.clear();
            for (const dac::TObjectName& name : dac::ParseObjectNameList(value())) o.Tables << dac::TypedObjectName(name);
        } catch (const EDatabaseError& e) {
            Usage(QStringLiteral("calvoro-cli: --tables: %1").arg(e.Message()));
        }
    } else if (a == u"--objects") {
        static const QStringList kinds{QStringLiteral("database"), QStringLiteral("users"),
                                       QStringLiteral("routines"), QStringLiteral("tables"),
                                       QStringLiteral("data"), QStringLiteral("views"), QStringLiteral("triggers")};
        o.Objects = SplitList(value());
        for (const QString& kind : o.Objects)
            if (!kinds.contains(kind))
                Usage(QStringLiteral("calvoro-cli: '%1' is not an object kind (%2)").arg(kind, kinds.join(u',')));
    } else if (a == u"--insert-type") {
        o.InsertType = value();
        if (o.InsertType != u"insert" && o.InsertType != u"ignore" && o.InsertType != u"replace")
            Usage(QStringLiteral("calvoro-cli: --insert-type takes insert, ignore or replace, not '%1'").arg(o.InsertType));
    } else if (a == u"--commit-batch") {
        bool ok = false;
        const QString text = value();
        o.CommitBatch = text.toInt(&ok);
        if (!ok || o.CommitBatch < 0) Usage(QStringLiteral("calvoro-cli: '%1' is not a row count").arg(text));
    } else if (a == u"--statement-size") {
        const QString text = value();
        o.StatementSize = ParseByteSize(text);
        if (o.StatementSize < 4096 || o.StatementSize > (int64_t(1) << 30))
            Usage(QStringLiteral("calvoro-cli: --statement-size takes a size from 4K to 1G (a number, with K, M or G "
                                 "for KiB, MiB, GiB), not '%1'")
                      .arg(text));
    } else if (a == u"--transaction-size") {
        const QString text = value();
        o.TransactionSize = ParseByteSize(text);
        if (o.TransactionSize < 0)
            Usage(QStringLiteral("calvoro-cli: --transaction-size takes a size (a number, with K, M or G for KiB, "
                                 "MiB, GiB; 0 for none), not '%1'")
                      .arg(text));
    } else if (a == u"--query") {
        o.Query = value();
        if (o.Query.trimmed().isEmpty()) Usage(QStringLiteral("calvoro-cli: --query needs a statement"));
    } else if (a == u"-o" || a == u"--output") {
        o.Output = value();
    } else {
        return false;
    }
    return true;
}

// The options of query's export; false for an argument that is none of them.
bool ParseQueryOption(TCliOptions& o, const QString& a, bool hasInline, const std::function<QString()>& value) {
    if (a == u"--format") {
        o.Format = value().toLower();
        static const QStringList formats{QStringLiteral("csv"), QStringLiteral("tsv"), QStringLiteral("json"),
                                         QStringLiteral("sql")};
        if (!formats.contains(o.Format))
            Usage(QStringLiteral("calvoro-cli: --format takes csv, tsv, json or sql, not '%1'").arg(o.Format));
    } else if (a == u"--null") {
        o.NullMarker = value();
    } else if (a == u"--no-header" && !hasInline) {
        o.Header = false;
    } else if (a == u"--binary") {
        const QString form = value().toLower();
        if (form != u"hex" && form != u"raw")
            Usage(QStringLiteral("calvoro-cli: --binary takes hex or raw, not '%1'").arg(form));
        o.RawBinary = form == u"raw";
    } else if (a == u"--table") {
        o.Table = value();
        try {
            dac::ParseObjectName(o.Table);
        } catch (const EDatabaseError& e) {
            Usage(QStringLiteral("calvoro-cli: --table: %1").arg(e.Message()));
        }
    } else if (a == u"-o" || a == u"--output") {
        o.Output = value();
    } else {
        return false;
    }
    return true;
}

// The options of import; false for an argument that is none of them.
bool ParseImportOption(TCliOptions& o, const QString& a, const std::function<QString()>& value) {
    if (a == u"--table") {
        o.Table = value();
        if (o.Table.isEmpty()) Usage(QStringLiteral("calvoro-cli: --table needs a table name"));
    } else if (a == u"--columns") {
        try {
            o.Columns.clear();
            for (const dac::TObjectName& name : dac::ParseObjectNameList(value())) {
                if (!name.Database.isEmpty())
                    Usage(QStringLiteral("calvoro-cli: --columns takes column names, not '%1'").arg(dac::TypedObjectName(name)));
                o.Columns << name.Name;
            }
        } catch (const EDatabaseError& e) {
            Usage(QStringLiteral("calvoro-cli: --columns: %1").arg(e.Message()));
        }
    } else if (a == u"--delimiter") {
        const QString text = value();
        const QString d = text == u"\\t" || text == u"tab" ? QStringLiteral("\t") : text;
        if (d.size() != 1 || d[0].unicode() >= 128 || d[0] == u'"' || d[0] == u'\r' || d[0] == u'\n')
            Usage(QStringLiteral("calvoro-cli: --delimiter takes one ASCII character other than a quote or a line "
                                 "break, or \\t, not '%1'").arg(text));
        o.Delimiter = char(d[0].unicode());
    } else if (a == u"--null-marker") {
        o.NullMarker = value();
        if (o.NullMarker->isNull()) o.NullMarker = QStringLiteral("");
    } else if (a == u"--skip-lines") {
        bool ok = false;
        const QString text = value();
        o.SkipLines = text.toInt(&ok);
        if (!ok || o.SkipLines < 0) Usage(QStringLiteral("calvoro-cli: '%1' is not a line count").arg(text));
    } else if (a == u"--character-set") {
        o.Charset = value().toLower();
        if (o.Charset != u"utf8" && o.Charset != u"cp1252")
            Usage(QStringLiteral("calvoro-cli: --character-set takes utf8 or cp1252, not '%1'").arg(o.Charset));
    } else {
        return false;
    }
    return true;
}

}  // namespace

TCliOptions ParseArguments(const QStringList& args) {
    TCliOptions o;
    if (args.isEmpty()) Usage(QStringLiteral("calvoro-cli: no command given"));
    if (args[0] == u"--help" || args[0] == u"-?" || args[0] == u"help") {
        o.Command = QStringLiteral("help");
        return o;
    }
    static const QStringList commands{QStringLiteral("exec"), QStringLiteral("query"), QStringLiteral("script"),
                                      QStringLiteral("backup"), QStringLiteral("restore"),
                                      QStringLiteral("processlist"), QStringLiteral("kill"),
                                      QStringLiteral("import")};
    if (!commands.contains(args[0]))
        Usage(QStringLiteral("calvoro-cli: unknown command '%1'").arg(args[0]));
    o.Command = args[0];
    const bool import = o.Command == u"import";
    const bool runsScript = o.Command == u"script" || o.Command == u"restore" || import;
    const bool backup = o.Command == u"backup";
    const bool kill = o.Command == u"kill";
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
            std::string host;
            int port = 0;
            if (!protocol::SplitHostPort(o.Host.toStdString(), host, port))
                Usage(QStringLiteral("calvoro-cli: '%1' is no host, HOST:PORT or [ADDRESS]:PORT").arg(o.Host));
        } else if (a == u"-S" || a == u"--socket") {
            o.Socket = value();
            if (o.Socket.isEmpty()) Usage(QStringLiteral("calvoro-cli: --socket needs the path of the server's socket"));
        } else if (a == u"--protocol") {
            o.Protocol = value().toLower();
            if (o.Protocol != u"tcp" && o.Protocol != u"socket")
                Usage(QStringLiteral("calvoro-cli: --protocol takes tcp or socket, not '%1'").arg(o.Protocol));
        } else if (a == u"--connect-timeout") {
            bool ok = false;
            const QString text = value();
            o.ConnectTimeout = text.toInt(&ok);
            if (!ok || o.ConnectTimeout < 0)
                Usage(QStringLiteral("calvoro-cli: '%1' is not a number of seconds").arg(text));
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
        } else if (a == u"--ssl-mode") {
            o.SslMode = value().toUpper();
            protocol::TSslMode mode;
            if (!protocol::ParseSslMode(o.SslMode.toStdString(), mode))
                Usage(QStringLiteral("calvoro-cli: --ssl-mode takes DISABLED, PREFERRED, REQUIRED, VERIFY_CA or "
                                     "VERIFY_IDENTITY, not '%1'")
                          .arg(o.SslMode));
        } else if (a == u"--max-allowed-packet") {
            const QString text = value();
            o.MaxAllowedPacket = ParseByteSize(text);
            using API = protocol::TMySQLAPIDirect;
            if (o.MaxAllowedPacket < int64_t(API::MinMaxAllowedPacket) || o.MaxAllowedPacket > int64_t(API::MaxMaxAllowedPacket))
                Usage(QStringLiteral("calvoro-cli: --max-allowed-packet takes a size from 4096 bytes to 2G (a "
                                     "number, with K, M or G for KiB, MiB, GiB), not '%1'")
                          .arg(text));
        } else if (a == u"--ssl-ca") {
            o.SslCa = value();
        } else if (a == u"--ssl-capath") {
            o.SslCapath = value();
        } else if (a == u"--ssl-cert") {
            o.SslCert = value();
        } else if (a == u"--ssl-key") {
            o.SslKey = value();
        } else if (a == u"--ssl-cipher") {
            o.SslCipher = value();
        } else if (a == u"--server-public-key") {
            o.ServerPublicKey = value();
        } else if (a == u"--get-server-public-key" && !hasInline) {
            o.GetServerPublicKey = true;
        } else if (a == u"--read-only" && !hasInline) {
            o.ReadOnly = true;
        } else if (a == u"--session") {
            o.Session = value();
            if (o.Session.isEmpty()) Usage(QStringLiteral("calvoro-cli: --session needs the name of a saved session"));
        } else if (a == u"--param") {
            const QString text = value();
            const qsizetype eq = text.indexOf(u'=');
            if (eq <= 0) Usage(QStringLiteral("calvoro-cli: --param needs NAME=VALUE, not '%1'").arg(text));
            o.Params.emplace_back(text.left(eq), text.mid(eq + 1));
        } else if (a == u"--prepared" && o.Command == u"query" && !hasInline) {
            o.Prepared = true;
        } else if (a == u"-e" && (o.Command == u"exec" || o.Command == u"query")) {
            o.Sql = value();
            o.SqlGiven = true;
        } else if (a == u"--parallel" && (o.Command == u"restore" || backup)) {
            const QString text = value();
            bool ok = false;
            o.Parallel = text.toInt(&ok);
            if (!ok || o.Parallel < 1 || o.Parallel > 64)
                Usage(QStringLiteral("calvoro-cli: --parallel takes a number of connections from 1 to 64, not '%1'")
                          .arg(text));
        } else if (import && ParseImportOption(o, a, value)) {
        } else if (a == u"--check" && o.Command == u"restore" && !hasInline) {
            o.Check = true;
        } else if (a == u"--map-collation" && o.Command == u"restore") {
            const QString text = value();
            const qsizetype eq = text.indexOf(u'=');
            if (eq <= 0 || eq == text.size() - 1)
                Usage(QStringLiteral("calvoro-cli: --map-collation needs FROM=TO, not '%1'").arg(text));
            o.MapCollations.emplace_back(text.left(eq).trimmed().toLower(), text.mid(eq + 1).trimmed().toLower());
        } else if (a == u"--definer" && o.Command == u"restore") {
            o.Definer = value().toLower();
            if (o.Definer != u"keep" && o.Definer != u"current" && o.Definer != u"drop")
                Usage(QStringLiteral("calvoro-cli: --definer takes keep, current or drop, not '%1'").arg(o.Definer));
        } else if (a == u"--engine-fallback" && o.Command == u"restore") {
            o.EngineFallback = value().trimmed();
            if (o.EngineFallback.isEmpty()) Usage(QStringLiteral("calvoro-cli: --engine-fallback needs an engine"));
        } else if (a == u"--stop-on-error" && runsScript && !import && !hasInline) {
            o.StopOnError = true;
        } else if (runsScript && (a == u"-" || !a.startsWith(u'-')) && !hasInline) {
            if (!o.File.isEmpty())
                Usage(QStringLiteral("calvoro-cli: %1 takes one file, not also '%2'").arg(o.Command, a));
            o.File = a;
        } else if (backup && ParseBackupOption(o, a, hasInline, value)) {
        } else if (o.Command == u"query" && ParseQueryOption(o, a, hasInline, value)) {
        } else if (a == u"--full" && o.Command == u"processlist" && !hasInline) {
            o.Full = true;
        } else if (a == u"--query" && kill && !hasInline) {
            o.KillQuery = true;
        } else if (kill && !a.startsWith(u'-')) {
            bool ok = false;
            const qint64 id = a.toLongLong(&ok);
            if (!ok || id <= 0) Usage(QStringLiteral("calvoro-cli: '%1' is not a process id").arg(a));
            o.ProcessIds.push_back(id);
        } else {
            Usage(QStringLiteral("calvoro-cli: unknown option '%1'").arg(args[i]));
        }
        if (a.startsWith(u'-')) o.Given << a;
    }
    if (import) {
        if (o.Database.isEmpty() || o.Table.isEmpty())
            Usage(QStringLiteral("calvoro-cli: import needs -D DATABASE and --table TABLE"));
    }
    if (runsScript) {
        if (o.File.isEmpty())
            Usage(QStringLiteral("calvoro-cli: %1 needs a file (or - for standard input)").arg(o.Command));
        if (!o.Params.empty()) Usage(QStringLiteral("calvoro-cli: %1 takes no --param").arg(o.Command));
    } else if (backup) {
        if (o.Database.isEmpty() && o.Session.isEmpty()) Usage(QStringLiteral("calvoro-cli: backup needs -D DATABASE"));
        if (!o.Params.empty()) Usage(QStringLiteral("calvoro-cli: backup takes no --param"));
        if (!o.Query.isNull() && o.Tables.size() > 1)
            Usage(QStringLiteral("calvoro-cli: --query goes with at most one name in --tables"));
    } else if (kill || o.Command == u"processlist") {
        if (!o.Params.empty()) Usage(QStringLiteral("calvoro-cli: %1 takes no --param").arg(o.Command));
        if (kill && o.ProcessIds.empty()) Usage(QStringLiteral("calvoro-cli: kill needs a process id"));
    } else if (!o.SqlGiven) {
        Usage(QStringLiteral("calvoro-cli: %1 needs -e SQL").arg(o.Command));
    }
    if (o.Command == u"query") {
        const bool csvTsv = o.Format == u"csv" || o.Format == u"tsv";
        if ((o.NullMarker || !o.Header || o.RawBinary) && !csvTsv)
            Usage(QStringLiteral("calvoro-cli: --null, --no-header and --binary go with --format csv or tsv"));
        if (!o.Table.isEmpty() && o.Format != u"sql")
            Usage(QStringLiteral("calvoro-cli: --table goes with --format sql"));
        if (o.Format == u"sql" && o.Table.isEmpty())
            Usage(QStringLiteral("calvoro-cli: --format sql needs --table NAME, the table the rows go into"));
    }
    return o;
}

}  // namespace calvoro::cli
