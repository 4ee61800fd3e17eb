#include "CliProcess.h"
#include "cli/CliOptions.h"
#include "common/Exceptions.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace calvoro;
using calvoro::cli::ParseArguments;

TEST(CliOptions, Exec) {
    const auto o = ParseArguments({"exec", "-h", "db.local", "-P", "3307", "-u", "ann", "-p", "secret", "-D",
                                   "shop", "--param", "id=7", "--param", "note=a=b", "-e", "SELECT :id"});
    EXPECT_EQ(o.Command, QStringLiteral("exec"));
    EXPECT_EQ(o.Host, QStringLiteral("db.local"));
    EXPECT_EQ(o.Port, 3307);
    EXPECT_EQ(o.User, QStringLiteral("ann"));
    EXPECT_EQ(o.Password, QStringLiteral("secret"));
    EXPECT_TRUE(o.PasswordGiven);
    EXPECT_EQ(o.Database, QStringLiteral("shop"));
    ASSERT_EQ(o.Params.size(), 2u);
    EXPECT_EQ(o.Params[1].first, QStringLiteral("note"));
    EXPECT_EQ(o.Params[1].second, QStringLiteral("a=b"));
    EXPECT_EQ(o.Sql, QStringLiteral("SELECT :id"));

    // Long forms, also with their value after "=".
    const auto q = ParseArguments({"query", "--host", "db.local", "--port=3307", "--user=ann", "--password", "a=b",
                                   "--database=shop", "--prepared", "-e", "SELECT 1"});
    EXPECT_EQ(q.Command, QStringLiteral("query"));
    EXPECT_EQ(q.Host, QStringLiteral("db.local"));
    EXPECT_EQ(q.Port, 3307);
    EXPECT_EQ(q.User, QStringLiteral("ann"));
    EXPECT_EQ(q.Password, QStringLiteral("a=b"));
    EXPECT_EQ(q.Database, QStringLiteral("shop"));
    EXPECT_TRUE(q.Prepared);

    const auto s = ParseArguments({"script", "-u", "ann", "--stop-on-error", "dump.sql"});
    EXPECT_EQ(s.Command, QStringLiteral("script"));
    EXPECT_EQ(s.File, QStringLiteral("dump.sql"));
    EXPECT_TRUE(s.StopOnError);
    EXPECT_EQ(ParseArguments({"script", "-"}).File, QStringLiteral("-"));
    EXPECT_FALSE(ParseArguments({"script", "-"}).StopOnError);

    const auto t = ParseArguments({"exec", "--ssl-mode", "verify_identity", "--ssl-ca", "ca.pem", "--ssl-capath=certs",
                                   "--ssl-cert", "c.pem", "--ssl-key", "k.pem", "--ssl-cipher", "ECDHE-RSA-AES128-GCM-SHA256",
                                   "--server-public-key", "pub.pem", "--get-server-public-key", "-e", "SELECT 1"});
    EXPECT_EQ(t.SslMode, QStringLiteral("VERIFY_IDENTITY"));
    EXPECT_EQ(t.SslCa, QStringLiteral("ca.pem"));
    EXPECT_EQ(t.SslCapath, QStringLiteral("certs"));
    EXPECT_EQ(t.SslCert, QStringLiteral("c.pem"));
    EXPECT_EQ(t.SslKey, QStringLiteral("k.pem"));
    EXPECT_EQ(t.SslCipher, QStringLiteral("ECDHE-RSA-AES128-GCM-SHA256"));
    EXPECT_EQ(t.ServerPublicKey, QStringLiteral("pub.pem"));
    EXPECT_TRUE(t.GetServerPublicKey);

    const auto u = ParseArguments({"query", "-S", "/run/db.sock", "--protocol", "SOCKET", "--connect-timeout=2",
                                   "-e", "SELECT 1"});
    EXPECT_EQ(u.Socket, QStringLiteral("/run/db.sock"));
    EXPECT_EQ(u.Protocol, QStringLiteral("socket"));
    EXPECT_EQ(u.ConnectTimeout, 2);
    const auto v = ParseArguments({"query", "--socket=/run/db.sock", "--protocol=tcp", "-h", "[::1]:3307", "-e", "SELECT 1"});
    EXPECT_EQ(v.Socket, QStringLiteral("/run/db.sock"));
    EXPECT_EQ(v.Protocol, QStringLiteral("tcp"));
    EXPECT_EQ(v.Host, QStringLiteral("[::1]:3307")) << "the connection takes the port from it";

    // Table names are cut where identifiers are cut: a comma in backticks belongs to the name.
    const auto w = ParseArguments({"backup", "-D", "shop", "--tables", "`a,b`, c ,db.`t``x`", "-o", "f.sql"});
    EXPECT_EQ(w.Tables, (QStringList{QStringLiteral("`a,b`"), QStringLiteral("c"), QStringLiteral("db.`t``x`")}));
    EXPECT_EQ(ParseArguments({"backup", "-D", "shop", "--tables", "`a,b`", "--query", "SELECT 1", "-o", "f.sql"}).Tables.size(), 1);

    const auto defaults = ParseArguments({"exec", "-e", ""});
    EXPECT_EQ(defaults.Socket, QString());
    EXPECT_EQ(defaults.Protocol, QString());
    EXPECT_EQ(defaults.ConnectTimeout, 15);
    EXPECT_EQ(defaults.SslMode, QStringLiteral("PREFERRED"));
    EXPECT_FALSE(defaults.GetServerPublicKey);
    EXPECT_EQ(defaults.Port, 3306);
    EXPECT_FALSE(defaults.PasswordGiven);
    EXPECT_EQ(ParseArguments({"--help"}).Command, QStringLiteral("help"));

    const auto i = ParseArguments({"import", "-D", "shop", "--table", "t", "--columns", "a, `b,c`", "--delimiter",
                                   "\\t", "--null-marker=", "--skip-lines", "1", "--character-set", "CP1252", "-"});
    EXPECT_EQ(i.Table, QStringLiteral("t"));
    EXPECT_EQ(i.Columns, (QStringList{QStringLiteral("a"), QStringLiteral("b,c")}));
    EXPECT_EQ(i.Delimiter, '\t');
    ASSERT_TRUE(i.NullMarker.has_value());
    EXPECT_TRUE(i.NullMarker->isEmpty());
    EXPECT_EQ(i.SkipLines, 1);
    EXPECT_EQ(i.Charset, QStringLiteral("cp1252"));
    EXPECT_EQ(i.File, QStringLiteral("-"));
    const auto plain = ParseArguments({"import", "-D", "shop", "--table", "t", "f.csv"});
    EXPECT_EQ(plain.Delimiter, ',');
    EXPECT_FALSE(plain.NullMarker.has_value());
    EXPECT_TRUE(plain.Columns.isEmpty());
}

TEST(CliOptions, Refused) {
    const std::pair<QStringList, const char*> cases[] = {
        {{}, "calvoro-cli: no command given"},
        {{"dump"}, "calvoro-cli: unknown command 'dump'"},
        {{"query"}, "calvoro-cli: query needs -e SQL"},
        {{"exec", "--prepared", "-e", "1"}, "calvoro-cli: unknown option '--prepared'"},
        {{"query", "--port=", "-e", "1"}, "calvoro-cli: '' is not a port number"},
        {{"query", "--hostname", "x", "-e", "1"}, "calvoro-cli: unknown option '--hostname'"},
        {{"exec"}, "calvoro-cli: exec needs -e SQL"},
        {{"exec", "-e"}, "calvoro-cli: option '-e' needs a value"},
        {{"exec", "-P", "x", "-e", "1"}, "calvoro-cli: 'x' is not a port number"},
        {{"exec", "-P", "70000", "-e", "1"}, "calvoro-cli: '70000' is not a port number"},
        {{"exec", "--param", "novalue", "-e", "1"}, "calvoro-cli: --param needs NAME=VALUE, not 'novalue'"},
        {{"exec", "-x", "-e", "1"}, "calvoro-cli: unknown option '-x'"},
        {{"script"}, "calvoro-cli: script needs a file (or - for standard input)"},
        {{"script", "a.sql", "b.sql"}, "calvoro-cli: script takes one file, not also 'b.sql'"},
        {{"script", "-e", "SELECT 1", "a.sql"}, "calvoro-cli: unknown option '-e'"},
        {{"script", "--param", "a=1", "a.sql"}, "calvoro-cli: script takes no --param"},
        {{"exec", "--stop-on-error", "-e", "1"}, "calvoro-cli: unknown option '--stop-on-error'"},
        {{"exec", "file.sql", "-e", "1"}, "calvoro-cli: unknown option 'file.sql'"},
        {{"exec", "--ssl-mode", "sometimes", "-e", "1"},
         "calvoro-cli: --ssl-mode takes DISABLED, PREFERRED, REQUIRED, VERIFY_CA or VERIFY_IDENTITY, not 'SOMETIMES'"},
        {{"exec", "--ssl-mode", "-e", "1"},
         "calvoro-cli: --ssl-mode takes DISABLED, PREFERRED, REQUIRED, VERIFY_CA or VERIFY_IDENTITY, not '-E'"},
        {{"exec", "--get-server-public-key=1", "-e", "1"}, "calvoro-cli: unknown option '--get-server-public-key=1'"},
        {{"exec", "--protocol", "pipe", "-e", "1"}, "calvoro-cli: --protocol takes tcp or socket, not 'pipe'"},
        {{"exec", "-S", "", "-e", "1"}, "calvoro-cli: --socket needs the path of the server's socket"},
        {{"exec", "--connect-timeout", "soon", "-e", "1"}, "calvoro-cli: 'soon' is not a number of seconds"},
        {{"exec", "--connect-timeout=-1", "-e", "1"}, "calvoro-cli: '-1' is not a number of seconds"},
        {{"exec", "-h", "db:port", "-e", "1"}, "calvoro-cli: 'db:port' is no host, HOST:PORT or [ADDRESS]:PORT"},
        {{"exec", "-h", "[::1", "-e", "1"}, "calvoro-cli: '[::1' is no host, HOST:PORT or [ADDRESS]:PORT"},
        {{"backup", "-D", "shop", "--tables", "`open", "-o", "f.sql"},
         "calvoro-cli: --tables: The name `open has no closing backtick: a backtick inside a quoted name is written "
         "twice (``)"},
        {{"kill"}, "calvoro-cli: kill needs a process id"},
        {{"kill", "--query"}, "calvoro-cli: kill needs a process id"},
        {{"kill", "12x"}, "calvoro-cli: '12x' is not a process id"},
        {{"kill", "0"}, "calvoro-cli: '0' is not a process id"},
        {{"kill", "--", "5"}, "calvoro-cli: unknown option '--'"},
        {{"kill", "-5"}, "calvoro-cli: unknown option '-5'"},
        {{"kill", "--query=1", "5"}, "calvoro-cli: unknown option '--query=1'"},
        {{"kill", "--full", "5"}, "calvoro-cli: unknown option '--full'"},
        {{"kill", "--param", "a=1", "5"}, "calvoro-cli: kill takes no --param"},
        {{"processlist", "7"}, "calvoro-cli: unknown option '7'"},
        {{"processlist", "--query"}, "calvoro-cli: unknown option '--query'"},
        {{"processlist", "-e", "SELECT 1"}, "calvoro-cli: unknown option '-e'"},
        {{"query", "--full", "-e", "1"}, "calvoro-cli: unknown option '--full'"},
        {{"import", "-D", "d", "f.csv"}, "calvoro-cli: import needs -D DATABASE and --table TABLE"},
        {{"import", "--table", "t", "f.csv"}, "calvoro-cli: import needs -D DATABASE and --table TABLE"},
        {{"import", "-D", "d", "--table", "t"}, "calvoro-cli: import needs a file (or - for standard input)"},
        {{"import", "-D", "d", "--table", "t", "--delimiter", "ab", "-"},
         "calvoro-cli: --delimiter takes one ASCII character other than a quote or a line break, or \\t, not 'ab'"},
        {{"import", "-D", "d", "--table", "t", "--delimiter", "\"", "-"},
         "calvoro-cli: --delimiter takes one ASCII character other than a quote or a line break, or \\t, not '\"'"},
        {{"import", "-D", "d", "--table", "t", "--skip-lines", "-1", "-"}, "calvoro-cli: '-1' is not a line count"},
        {{"import", "-D", "d", "--table", "t", "--character-set", "latin2", "-"},
         "calvoro-cli: --character-set takes utf8 or cp1252, not 'latin2'"},
        {{"import", "-D", "d", "--table", "t", "--columns", "db.c", "-"}, "calvoro-cli: --columns takes column names, not 'db.c'"},
        {{"import", "-D", "d", "--table", "t", "--stop-on-error", "-"}, "calvoro-cli: unknown option '--stop-on-error'"},
        {{"exec", "--table", "t", "-e", "1"}, "calvoro-cli: unknown option '--table'"},
    };
    for (const auto& [args, message] : cases) {
        try {
            ParseArguments(args);
            ADD_FAILURE() << message;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), QString::fromLatin1(message) + QStringLiteral("\nTry 'calvoro-cli --help'."));
        }
    }
}

TEST(CliOptions, ProcessListAndKill) {
    const auto list = ParseArguments({"processlist", "-h", "db.local", "-u", "ann"});
    EXPECT_EQ(list.Command, QStringLiteral("processlist"));
    EXPECT_EQ(list.Host, QStringLiteral("db.local"));
    EXPECT_FALSE(list.Full);
    EXPECT_TRUE(ParseArguments({"processlist", "--full"}).Full);

    const auto kill = ParseArguments({"kill", "12", "-u", "ann", "4294967296", "--query"});
    EXPECT_EQ(kill.Command, QStringLiteral("kill"));
    EXPECT_EQ(kill.ProcessIds, (std::vector<qint64>{12, 4294967296}));
    EXPECT_TRUE(kill.KillQuery);
    EXPECT_FALSE(ParseArguments({"kill", "3"}).KillQuery);
}

// The program itself answers --help without a server, and lists every connection option it
// takes.
TEST(CliOptions, HelpFromTheProgram) {
    const calvoro::test::TCliResult r = calvoro::test::Cli({"--help"});
    EXPECT_EQ(r.Status, 0);
    EXPECT_TRUE(r.Out.startsWith(QStringLiteral("Usage: calvoro-cli exec"))) << r.Out.toStdString();
    for (const char* option : {"--host", "--port", "--socket", "--protocol", "--connect-timeout", "--user", "--password",
                               "--database", "--ssl-mode", "--ssl-ca", "--ssl-capath", "--ssl-cert", "--ssl-key",
                               "--ssl-cipher", "--server-public-key", "--get-server-public-key"})
        EXPECT_TRUE(r.Out.contains(QStringLiteral("  %1 ").arg(QLatin1StringView(option))) ||
                    r.Out.contains(QStringLiteral(", %1 ").arg(QLatin1StringView(option))))
            << option;
    EXPECT_TRUE(r.Out.contains(QStringLiteral("localhost is reached over TCP"))) << r.Out.toStdString();
    EXPECT_TRUE(r.Out.contains(QStringLiteral("calvoro-cli processlist [CONNECTION] [--full]\n")));
    EXPECT_TRUE(r.Out.contains(QStringLiteral("calvoro-cli kill [CONNECTION] [--query] ID...\n")));
}

// --max-allowed-packet takes bytes or K, M, G as the mariadb client does, within its range.
TEST(CliOptions, MaxAllowedPacket) {
    EXPECT_EQ(ParseArguments({"exec", "-e", "1"}).MaxAllowedPacket, int64_t(1) << 30) << "the client's default";
    const std::pair<const char*, int64_t> taken[] = {
        {"4096", 4096},       {"65536", 65536},          {"4K", 4096},
        {"64k", 65536},       {"16M", 16 << 20},         {"1m", 1 << 20},
        {"1G", int64_t(1) << 30}, {"2g", int64_t(2) << 30}, {"2147483648", int64_t(2) << 30},
    };
    for (const auto& [text, bytes] : taken) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ParseArguments({"exec", "--max-allowed-packet", text, "-e", "1"}).MaxAllowedPacket, bytes);
        EXPECT_EQ(ParseArguments({"exec", QStringLiteral("--max-allowed-packet=") + text, "-e", "1"}).MaxAllowedPacket,
                  bytes);
    }
    for (const char* text : {"", "4095", "3K", "2049M", "3G", "2147483649", "1T", "-1", "+4096", "1.5M", "16 M",
                             "M", "0x1000", "99999999999999999999"}) {
        SCOPED_TRACE(text);
        try {
            ParseArguments({"exec", "--max-allowed-packet", text, "-e", "1"});
            ADD_FAILURE() << "taken";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), QStringLiteral("calvoro-cli: --max-allowed-packet takes a size from 4096 bytes to 2G "
                                                  "(a number, with K, M or G for KiB, MiB, GiB), not '%1'\n"
                                                  "Try 'calvoro-cli --help'.")
                                       .arg(QString::fromLatin1(text)));
        }
    }
}

// The backup's statement and transaction sizes, and the restore's connections: defaults, the
// values taken, and what is refused.
TEST(CliOptions, StatementSizeTransactionSizeAndParallel) {
    const auto backup = ParseArguments({"backup", "-D", "shop"});
    EXPECT_EQ(backup.StatementSize, int64_t(1) << 20);
    EXPECT_EQ(backup.TransactionSize, int64_t(16) << 20);
    EXPECT_EQ(ParseArguments({"restore", "a.sql"}).Parallel, 0) << "0: the program's default";

    const auto sized = ParseArguments({"backup", "-D", "shop", "--statement-size", "64K", "--transaction-size=0"});
    EXPECT_EQ(sized.StatementSize, 65536);
    EXPECT_EQ(sized.TransactionSize, 0);
    EXPECT_EQ(ParseArguments({"backup", "-D", "shop", "--statement-size=1G"}).StatementSize, int64_t(1) << 30);
    EXPECT_EQ(ParseArguments({"restore", "--parallel", "3", "a.sql"}).Parallel, 3);
    EXPECT_EQ(ParseArguments({"restore", "--parallel=1", "-"}).Parallel, 1);

    const std::pair<QStringList, const char*> refused[] = {
        {{"backup", "-D", "s", "--statement-size", "4095"},
         "calvoro-cli: --statement-size takes a size from 4K to 1G (a number, with K, M or G for KiB, MiB, GiB), not "
         "'4095'"},
        {{"backup", "-D", "s", "--statement-size", "2G"},
         "calvoro-cli: --statement-size takes a size from 4K to 1G (a number, with K, M or G for KiB, MiB, GiB), not "
         "'2G'"},
        {{"backup", "-D", "s", "--transaction-size", "-1"},
         "calvoro-cli: --transaction-size takes a size (a number, with K, M or G for KiB, MiB, GiB; 0 for none), not "
         "'-1'"},
        {{"restore", "--parallel", "0", "a.sql"},
         "calvoro-cli: --parallel takes a number of connections from 1 to 64, not '0'"},
        {{"restore", "--parallel", "many", "a.sql"},
         "calvoro-cli: --parallel takes a number of connections from 1 to 64, not 'many'"},
        {{"script", "--parallel", "2", "a.sql"}, "calvoro-cli: unknown option '--parallel'"},
        {{"restore", "--statement-size", "1M", "a.sql"}, "calvoro-cli: unknown option '--statement-size'"},
    };
    for (const auto& [args, message] : refused) {
        try {
            ParseArguments(args);
            ADD_FAILURE() << message;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), QString::fromLatin1(message) + QStringLiteral("\nTry 'calvoro-cli --help'."));
        }
    }
}
