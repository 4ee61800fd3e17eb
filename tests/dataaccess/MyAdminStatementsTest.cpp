// The statements of server administration, exactly, for MariaDB and MySQL: server versions
// read from their texts, KILL, SET with each kind of value, CREATE/ALTER/DROP USER with
// passwords, plugins, TLS, limits, lock and expiry, GRANT/REVOKE at every level, roles; names
// quoted whole whatever they hold, passwords listed and masked, and the refusals.

#include "dataaccess/mysql/MyAdminStatements.h"

#include "common/Exceptions.h"
#include "dataaccess/support/Raised.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace calvoro;
using namespace calvoro::dac;
using calvoro::test::Raised;

namespace {

const TAdminDialect MariaDB{{sfMariaDB, 10, 11, 6}, true};
const TAdminDialect MariaDBNoBackslash{{sfMariaDB, 10, 11, 6}, false};
const TAdminDialect MariaDB103{{sfMariaDB, 10, 3, 39}, true};
const TAdminDialect MySQL8{{sfMySQL, 8, 0, 36}, true};
const TAdminDialect MySQL57{{sfMySQL, 5, 7, 44}, true};

QString Q(const char* text) { return QString::fromUtf8(text); }

TAccountChange Change(const TAccountName& account, std::optional<QString> password = std::nullopt,
                      const QString& plugin = {}, TTlsRequirement tls = trUnchanged, TResourceLimits limits = {},
                      std::optional<bool> locked = std::nullopt, bool expire = false) {
    TAccountChange c;
    c.Account = account;
    c.Password = std::move(password);
    c.Plugin = plugin;
    c.Tls = tls;
    c.Limits = limits;
    c.Locked = locked;
    c.ExpirePassword = expire;
    return c;
}

TResourceLimits Limits(std::optional<qint64> queries, std::optional<qint64> updates = std::nullopt,
                       std::optional<qint64> connections = std::nullopt, std::optional<qint64> user = std::nullopt) {
    TResourceLimits l;
    l.MaxQueriesPerHour = queries;
    l.MaxUpdatesPerHour = updates;
    l.MaxConnectionsPerHour = connections;
    l.MaxUserConnections = user;
    return l;
}

TEST(MyAdminStatements, ServerKindFromVersionText) {
    struct {
        const char* text;
        TServerKind kind;
    } cases[] = {
        {"10.11.6-MariaDB-0+deb12u1", {sfMariaDB, 10, 11, 6}},
        {"5.5.5-10.4.8-MariaDB-log", {sfMariaDB, 10, 4, 8}},
        {"11.4.2-MariaDB", {sfMariaDB, 11, 4, 2}},
        {"8.0.36", {sfMySQL, 8, 0, 36}},
        {"8.0.36-0ubuntu0.22.04.1", {sfMySQL, 8, 0, 36}},
        {"5.7.44-log", {sfMySQL, 5, 7, 44}},
        {"5.5.5-standard", {sfMySQL, 5, 5, 5}},
        {"9.1", {sfMySQL, 9, 1, 0}},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseServerKind(Q(c.text)), c.kind) << c.text;
    EXPECT_EQ(Raised<EDatabaseError>([] { ParseServerKind(QStringLiteral("MariaDB")); }).Message(),
              QStringLiteral("'MariaDB' is not a server version"));

    struct {
        TServerKind kind;
        int major, minor, patch;
        bool atLeast;
    } versions[] = {
        {{sfMariaDB, 10, 4, 2}, 10, 4, 2, true},  {{sfMariaDB, 10, 4, 1}, 10, 4, 2, false},
        {{sfMariaDB, 10, 3, 9}, 10, 4, 0, false}, {{sfMariaDB, 11, 0, 0}, 10, 4, 2, true},
        {{sfMySQL, 8, 0, 0}, 8, 0, 0, true},      {{sfMySQL, 5, 7, 44}, 8, 0, 0, false},
    };
    for (const auto& v : versions) EXPECT_EQ(v.kind.AtLeast(v.major, v.minor, v.patch), v.atLeast);
}

TEST(MyAdminStatements, Kill) {
    EXPECT_EQ(KillStatement(12, kkConnection), QStringLiteral("KILL CONNECTION 12"));
    EXPECT_EQ(KillStatement(4294967296, kkQuery), QStringLiteral("KILL QUERY 4294967296"));
}

TEST(MyAdminStatements, SetVariable) {
    struct {
        TVariableKind kind;
        const char* typed;
        const TAdminDialect* dialect;
        const char* literal;
    } cases[] = {
        {vkNumber, "262144", &MariaDB, "262144"},
        {vkNumber, " -1.5e3 ", &MariaDB, "-1.5e3"},
        {vkNumber, ".25", &MariaDB, ".25"},
        {vkBoolean, "on", &MariaDB, "ON"},
        {vkBoolean, "1", &MariaDB, "ON"},
        {vkBoolean, "False", &MariaDB, "OFF"},
        {vkBoolean, "0", &MySQL8, "OFF"},
        {vkEnum, "ROW", &MariaDB, "'ROW'"},
        {vkEnum, " 1 ", &MariaDB, "'1'"},
        {vkSet, "ANSI_QUOTES,STRICT_ALL_TABLES", &MariaDB, "'ANSI_QUOTES,STRICT_ALL_TABLES'"},
        {vkText, "it's \\ here ", &MariaDB, "'it\\'s \\\\ here '"},
        {vkText, "it's \\ here", &MariaDBNoBackslash, "'it''s \\ here'"},
        {vkText, "", &MariaDB, "''"},
        {vkUnknown, "100", &MySQL8, "100"},
        {vkUnknown, "off", &MySQL8, "OFF"},
        {vkUnknown, "utf8mb4", &MySQL8, "'utf8mb4'"},
        {vkUnknown, "1; DROP TABLE t", &MySQL8, "'1; DROP TABLE t'"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VariableValueLiteral(c.kind, Q(c.typed), *c.dialect), Q(c.literal)) << c.typed;

    struct {
        TVariableKind kind;
        const char* typed;
        const char* message;
    } refused[] = {
        {vkNumber, "1M", "'1M' is not a number; this variable takes a number"},
        {vkNumber, "1; DROP TABLE t", "'1; DROP TABLE t' is not a number; this variable takes a number"},
        {vkNumber, "", "'' is not a number; this variable takes a number"},
        {vkBoolean, "yes", "'yes' is not ON or OFF; this variable takes ON or OFF"},
    };
    for (const auto& r : refused)
        EXPECT_EQ(Raised<EDatabaseError>([&] { VariableValueLiteral(r.kind, Q(r.typed), MariaDB); }).Message(),
                  Q(r.message));

    EXPECT_EQ(SetVariableStatement(vsSession, QStringLiteral("sort_buffer_size"), QStringLiteral("262144")),
              QStringLiteral("SET SESSION `sort_buffer_size` = 262144"));
    EXPECT_EQ(SetVariableStatement(vsGlobal, QStringLiteral("a`b = 1; --"), QStringLiteral("'x'")),
              QStringLiteral("SET GLOBAL `a``b = 1; --` = 'x'"));
    EXPECT_EQ(SetVariableToDefaultStatement(vsGlobal, QStringLiteral("max_connections")),
              QStringLiteral("SET GLOBAL `max_connections` = DEFAULT"));
}

TEST(MyAdminStatements, CreateAndAlterUser) {
    const TAccountName shop{QStringLiteral("shop"), QStringLiteral("%")};
    const TAccountName odd{Q("o'brien\\"), QStringLiteral("10.0.%")};
    struct Case {
        const char* name;
        TAccountChange change;
        const TAdminDialect* dialect;
        const char* create;
        const char* alter;  // null: ALTER refuses (nothing changes)
    } cases[] = {
        {"account alone", Change(shop), &MariaDB, "CREATE USER 'shop'@'%'", nullptr},
        {"password", Change(shop, QStringLiteral("s3cret")), &MariaDB, "CREATE USER 'shop'@'%' IDENTIFIED BY 's3cret'",
         "ALTER USER 'shop'@'%' IDENTIFIED BY 's3cret'"},
        {"empty password", Change(shop, QString()), &MySQL8, "CREATE USER 'shop'@'%' IDENTIFIED BY ''",
         "ALTER USER 'shop'@'%' IDENTIFIED BY ''"},
        {"MariaDB plugin with password",
         Change(shop, QStringLiteral("pw"), QStringLiteral("ed25519")),
         &MariaDB,
         "CREATE USER 'shop'@'%' IDENTIFIED VIA ed25519 USING PASSWORD('pw')",
         "ALTER USER 'shop'@'%' IDENTIFIED VIA ed25519 USING PASSWORD('pw')"},
        {"MariaDB plugin alone",
         Change(shop, std::nullopt, QStringLiteral("unix_socket")),
         &MariaDB,
         "CREATE USER 'shop'@'%' IDENTIFIED VIA unix_socket",
         "ALTER USER 'shop'@'%' IDENTIFIED VIA unix_socket"},
        {"MySQL plugin with password",
         Change(shop, QStringLiteral("pw"), QStringLiteral("caching_sha2_password")),
         &MySQL8,
         "CREATE USER 'shop'@'%' IDENTIFIED WITH caching_sha2_password BY 'pw'",
         "ALTER USER 'shop'@'%' IDENTIFIED WITH caching_sha2_password BY 'pw'"},
        {"MySQL plugin alone",
         Change(shop, std::nullopt, QStringLiteral("auth_socket")),
         &MySQL8,
         "CREATE USER 'shop'@'%' IDENTIFIED WITH auth_socket",
         "ALTER USER 'shop'@'%' IDENTIFIED WITH auth_socket"},
        {"quotes and backslashes",
         Change(odd, Q("p'w\\")),
         &MariaDB,
         "CREATE USER 'o\\'brien\\\\'@'10.0.%' IDENTIFIED BY 'p\\'w\\\\'",
         "ALTER USER 'o\\'brien\\\\'@'10.0.%' IDENTIFIED BY 'p\\'w\\\\'"},
        {"quotes without backslash escapes",
         Change(odd, Q("p'w\\")),
         &MariaDBNoBackslash,
         "CREATE USER 'o''brien\\'@'10.0.%' IDENTIFIED BY 'p''w\\'",
         "ALTER USER 'o''brien\\'@'10.0.%' IDENTIFIED BY 'p''w\\'"},
        {"TLS required", Change(shop, QStringLiteral("pw"), {}, trSsl), &MariaDB,
         "CREATE USER 'shop'@'%' IDENTIFIED BY 'pw' REQUIRE SSL", "ALTER USER 'shop'@'%' IDENTIFIED BY 'pw' REQUIRE SSL"},
        {"X509", Change(shop, std::nullopt, {}, trX509), &MySQL8, "CREATE USER 'shop'@'%' REQUIRE X509",
         "ALTER USER 'shop'@'%' REQUIRE X509"},
        {"no TLS", Change(shop, std::nullopt, {}, trNone), &MariaDB, "CREATE USER 'shop'@'%' REQUIRE NONE",
         "ALTER USER 'shop'@'%' REQUIRE NONE"},
        {"limits",
         Change(shop, std::nullopt, {}, trUnchanged, Limits(10, 0, std::nullopt, 3)),
         &MariaDB,
         "CREATE USER 'shop'@'%' WITH MAX_QUERIES_PER_HOUR 10 MAX_UPDATES_PER_HOUR 0 MAX_USER_CONNECTIONS 3",
         "ALTER USER 'shop'@'%' WITH MAX_QUERIES_PER_HOUR 10 MAX_UPDATES_PER_HOUR 0 MAX_USER_CONNECTIONS 3"},
        {"every limit",
         Change(shop, std::nullopt, {}, trUnchanged, Limits(1, 2, 3, 4)),
         &MySQL8,
         "CREATE USER 'shop'@'%' WITH MAX_QUERIES_PER_HOUR 1 MAX_UPDATES_PER_HOUR 2 MAX_CONNECTIONS_PER_HOUR 3 "
         "MAX_USER_CONNECTIONS 4",
         "ALTER USER 'shop'@'%' WITH MAX_QUERIES_PER_HOUR 1 MAX_UPDATES_PER_HOUR 2 MAX_CONNECTIONS_PER_HOUR 3 "
         "MAX_USER_CONNECTIONS 4"},
        {"locked and expired",
         Change(shop, QStringLiteral("pw"), {}, trSsl, Limits(5), true, true),
         &MariaDB,
         "CREATE USER 'shop'@'%' IDENTIFIED BY 'pw' REQUIRE SSL WITH MAX_QUERIES_PER_HOUR 5 ACCOUNT LOCK PASSWORD "
         "EXPIRE",
         "ALTER USER 'shop'@'%' IDENTIFIED BY 'pw' REQUIRE SSL WITH MAX_QUERIES_PER_HOUR 5 ACCOUNT LOCK PASSWORD "
         "EXPIRE"},
        {"unlocked", Change(shop, std::nullopt, {}, trUnchanged, {}, false), &MySQL57, "CREATE USER 'shop'@'%' ACCOUNT UNLOCK",
         "ALTER USER 'shop'@'%' ACCOUNT UNLOCK"},
        {"expired only", Change(shop, std::nullopt, {}, trUnchanged, {}, std::nullopt, true), &MySQL8,
         "CREATE USER 'shop'@'%' PASSWORD EXPIRE", "ALTER USER 'shop'@'%' PASSWORD EXPIRE"},
    };
    for (const Case& c : cases) {
        const TAdminStatement create = CreateUserStatement(c.change, *c.dialect);
        EXPECT_EQ(create.Text, Q(c.create)) << c.name;
        if (c.alter)
            EXPECT_EQ(AlterUserStatement(c.change, *c.dialect).Text, Q(c.alter)) << c.name;
        else
            EXPECT_EQ(Raised<EDatabaseError>([&] { AlterUserStatement(c.change, *c.dialect); }).Message(),
                      QStringLiteral("Nothing to change for 'shop'@'%'"))
                << c.name;
    }
}

// A password is listed as typed and as written; masked, no form of it is left, and the rest of
// the statement or message stays as it was.
TEST(MyAdminStatements, PasswordsAreListedAndMasked) {
    const TAccountName shop{QStringLiteral("shop"), QStringLiteral("%")};
    TAdminStatement s = CreateUserStatement(Change(shop, Q("p'w\\x"), {}, trSsl), MariaDB);
    EXPECT_EQ(s.Passwords, QStringList{Q("p'w\\x")});
    EXPECT_EQ(s.Literals, QStringList{Q("'p\\'w\\\\x'")});
    EXPECT_EQ(s.Masked(), QStringLiteral("CREATE USER 'shop'@'%' IDENTIFIED BY '********' REQUIRE SSL"));
    struct {
        const char* message;
        const char* masked;
    } messages[] = {
        {"near 'IDENTIFIED BY 'p\\'w\\\\x' REQUIRE SSL' at line 1", "near 'IDENTIFIED BY ******** REQUIRE SSL' at line 1"},
        {"near 'p\\'w\\\\x' REQUIRE' at line 1", "near ******** REQUIRE' at line 1"},
        {"Password p'w\\x refused", "Password ******** refused"},
        {"Access denied for user 'shop'@'%'", "Access denied for user 'shop'@'%'"},
    };
    for (const auto& m : messages) EXPECT_EQ(s.MaskIn(Q(m.message)), Q(m.masked)) << m.message;

    const TAdminStatement plugin = AlterUserStatement(Change(shop, QStringLiteral("secret"), QStringLiteral("ed25519")), MariaDB);
    EXPECT_EQ(plugin.Masked(), QStringLiteral("ALTER USER 'shop'@'%' IDENTIFIED VIA ed25519 USING PASSWORD('********')"));
    // Without a password nothing is masked; an empty one has nothing to hide.
    EXPECT_TRUE(CreateUserStatement(Change(shop), MariaDB).Passwords.isEmpty());
    const TAdminStatement empty = CreateUserStatement(Change(shop, QString()), MariaDB);
    EXPECT_TRUE(empty.Literals.isEmpty());
    EXPECT_EQ(empty.Masked(), empty.Text);
}

TEST(MyAdminStatements, AccountsRefused) {
    const TAccountName shop{QStringLiteral("shop"), QStringLiteral("%")};
    struct {
        const char* name;
        std::function<void()> call;
        const char* message;
    } cases[] = {
        {"no user", [] { CreateUserStatement(Change({QString(), QStringLiteral("%")}), MariaDB); },
         "The account needs a user name"},
        {"plugin with a blank",
         [&] { CreateUserStatement(Change(shop, std::nullopt, QStringLiteral("ed25519 OR x")), MariaDB); },
         "'ed25519 OR x' is not an authentication plugin name: a plugin name is one word of letters, digits and '_'"},
        {"plugin with a quote",
         [&] { AlterUserStatement(Change(shop, QStringLiteral("x"), QStringLiteral("a'b")), MySQL8); },
         "'a'b' is not an authentication plugin name: a plugin name is one word of letters, digits and '_'"},
        {"negative limit", [&] { CreateUserStatement(Change(shop, std::nullopt, {}, trUnchanged, Limits(-1)), MySQL8); },
         "MAX_QUERIES_PER_HOUR cannot be negative"},
        {"lock on MariaDB 10.3", [&] { CreateUserStatement(Change(shop, std::nullopt, {}, trUnchanged, {}, true), MariaDB103); },
         "Locking an account and expiring its password need MariaDB 10.4.2 or MySQL 5.7.6 or later; the server is "
         "MariaDB 10.3.39"},
        {"drop nothing", [] { DropUserStatement({}, MariaDB); }, "No account to drop"},
    };
    for (const auto& c : cases) EXPECT_EQ(Raised<EDatabaseError>(c.call).Message(), Q(c.message)) << c.name;
}

TEST(MyAdminStatements, DropUser) {
    EXPECT_EQ(DropUserStatement({{QStringLiteral("a"), QStringLiteral("%")}}, MySQL8), QStringLiteral("DROP USER 'a'@'%'"));
    EXPECT_EQ(DropUserStatement({{QStringLiteral("a"), QStringLiteral("%")}, {Q("b'c"), QStringLiteral("localhost")}},
                                MariaDB),
              Q("DROP USER 'a'@'%', 'b\\'c'@'localhost'"));
}

TEST(MyAdminStatements, GrantAndRevoke) {
    const TAccountName shop{QStringLiteral("shop"), QStringLiteral("%")};
    const TAccountName role{QStringLiteral("reader"), QString()};
    struct Case {
        const char* name;
        TGrant grant;
        TAccountName grantee;
        const TAdminDialect* dialect;
        const char* grantText;
        const char* revokeText;
    } cases[] = {
        {"global", {{{QStringLiteral("select")}, {QStringLiteral("PROCESS")}}, {glGlobal}}, shop, &MariaDB,
         "GRANT SELECT, PROCESS ON *.* TO 'shop'@'%'", "REVOKE SELECT, PROCESS ON *.* FROM 'shop'@'%'"},
        {"all with grant option", {{{QStringLiteral("ALL PRIVILEGES")}}, {glGlobal}, true}, shop, &MySQL8,
         "GRANT ALL PRIVILEGES ON *.* TO 'shop'@'%' WITH GRANT OPTION",
         "REVOKE ALL PRIVILEGES, GRANT OPTION ON *.* FROM 'shop'@'%'"},
        {"dynamic privilege", {{{QStringLiteral("BINLOG_ADMIN")}}, {glGlobal}}, shop, &MySQL8,
         "GRANT BINLOG_ADMIN ON *.* TO 'shop'@'%'", "REVOKE BINLOG_ADMIN ON *.* FROM 'shop'@'%'"},
        {"database", {{{QStringLiteral("Create  temporary tables")}}, {glDatabase, QStringLiteral("shop")}}, shop,
         &MariaDB, "GRANT CREATE TEMPORARY TABLES ON `shop`.* TO 'shop'@'%'",
         "REVOKE CREATE TEMPORARY TABLES ON `shop`.* FROM 'shop'@'%'"},
        {"database pattern", {{{QStringLiteral("SELECT")}}, {glDatabase, Q("shop\\_%")}}, shop, &MariaDB,
         "GRANT SELECT ON `shop\\_%`.* TO 'shop'@'%'", "REVOKE SELECT ON `shop\\_%`.* FROM 'shop'@'%'"},
        {"table", {{{QStringLiteral("SELECT")}, {QStringLiteral("UPDATE")}}, {glTable, QStringLiteral("db.x"), Q("t`1")}},
         shop, &MariaDB, "GRANT SELECT, UPDATE ON `db.x`.`t``1` TO 'shop'@'%'",
         "REVOKE SELECT, UPDATE ON `db.x`.`t``1` FROM 'shop'@'%'"},
        {"columns",
         {{{QStringLiteral("SELECT"), {QStringLiteral("id"), QStringLiteral("my col")}},
           {QStringLiteral("UPDATE"), {QStringLiteral("a`b")}}},
          {glTable, QStringLiteral("shop"), QStringLiteral("product")}},
         shop, &MySQL8, "GRANT SELECT (`id`, `my col`), UPDATE (`a``b`) ON `shop`.`product` TO 'shop'@'%'",
         "REVOKE SELECT (`id`, `my col`), UPDATE (`a``b`) ON `shop`.`product` FROM 'shop'@'%'"},
        {"procedure", {{{QStringLiteral("EXECUTE")}}, {glProcedure, QStringLiteral("shop"), QStringLiteral("restock")}},
         shop, &MariaDB, "GRANT EXECUTE ON PROCEDURE `shop`.`restock` TO 'shop'@'%'",
         "REVOKE EXECUTE ON PROCEDURE `shop`.`restock` FROM 'shop'@'%'"},
        {"function", {{{QStringLiteral("ALTER ROUTINE")}}, {glFunction, QStringLiteral("shop"), QStringLiteral("price")}},
         shop, &MySQL8, "GRANT ALTER ROUTINE ON FUNCTION `shop`.`price` TO 'shop'@'%'",
         "REVOKE ALTER ROUTINE ON FUNCTION `shop`.`price` FROM 'shop'@'%'"},
        {"to a MariaDB role", {{{QStringLiteral("SELECT")}}, {glDatabase, QStringLiteral("shop")}}, role, &MariaDB,
         "GRANT SELECT ON `shop`.* TO 'reader'", "REVOKE SELECT ON `shop`.* FROM 'reader'"},
        {"to a MySQL role", {{{QStringLiteral("SELECT")}}, {glDatabase, QStringLiteral("shop")}}, role, &MySQL8,
         "GRANT SELECT ON `shop`.* TO 'reader'@''", "REVOKE SELECT ON `shop`.* FROM 'reader'@''"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GrantStatement(c.grant, c.grantee, *c.dialect), Q(c.grantText)) << c.name;
        EXPECT_EQ(RevokeStatement(c.grant, c.grantee, *c.dialect), Q(c.revokeText)) << c.name;
    }
    // Revoking the grant option alone.
    EXPECT_EQ(RevokeStatement({{}, {glDatabase, QStringLiteral("shop")}, true}, shop, MariaDB),
              QStringLiteral("REVOKE GRANT OPTION ON `shop`.* FROM 'shop'@'%'"));

    struct {
        const char* name;
        TGrant grant;
        const char* message;
    } refused[] = {
        {"no privilege", {{}, {glGlobal}}, "No privilege chosen"},
        {"injected privilege", {{{QStringLiteral("SELECT ON *.* TO x; --")}}, {glGlobal}},
         "'SELECT ON *.* TO x; --' is not a privilege name: a privilege is one or more words of letters and '_'"},
        {"columns on a database", {{{QStringLiteral("SELECT"), {QStringLiteral("a")}}}, {glDatabase, QStringLiteral("d")}},
         "Column privileges (SELECT) apply to a table only"},
        {"database without name", {{{QStringLiteral("SELECT")}}, {glDatabase}}, "A database-level grant needs a database"},
        {"table without database", {{{QStringLiteral("SELECT")}}, {glTable, QString(), QStringLiteral("t")}},
         "A grant on a table or routine needs its database and its name"},
    };
    for (const auto& r : refused)
        EXPECT_EQ(Raised<EDatabaseError>([&] { GrantStatement(r.grant, shop, MariaDB); }).Message(), Q(r.message))
            << r.name;
}

TEST(MyAdminStatements, Roles) {
    const TAccountName role{QStringLiteral("reader"), QString()};
    const TAccountName hostRole{QStringLiteral("reader"), QStringLiteral("localhost")};
    const TAccountName shop{QStringLiteral("shop"), QStringLiteral("%")};
    struct {
        const char* name;
        QString text;
        const char* expected;
    } cases[] = {
        {"MariaDB create", CreateRoleStatement(role, MariaDB), "CREATE ROLE 'reader'"},
        {"MySQL create", CreateRoleStatement(role, MySQL8), "CREATE ROLE 'reader'@'%'"},
        {"MySQL create with host", CreateRoleStatement(hostRole, MySQL8), "CREATE ROLE 'reader'@'localhost'"},
        {"MariaDB drop", DropRoleStatement({Q("it's"), {}}, MariaDB), "DROP ROLE 'it\\'s'"},
        {"MySQL drop", DropRoleStatement(role, MySQL8), "DROP ROLE 'reader'@'%'"},
        {"MariaDB grant", GrantRoleStatement(role, shop, false, MariaDB), "GRANT 'reader' TO 'shop'@'%'"},
        {"MariaDB grant to a role", GrantRoleStatement(role, {QStringLiteral("writer"), {}}, true, MariaDB),
         "GRANT 'reader' TO 'writer' WITH ADMIN OPTION"},
        {"MySQL grant", GrantRoleStatement(role, shop, true, MySQL8), "GRANT 'reader'@'%' TO 'shop'@'%' WITH ADMIN OPTION"},
        {"MariaDB revoke", RevokeRoleStatement(role, shop, MariaDB), "REVOKE 'reader' FROM 'shop'@'%'"},
        {"MySQL revoke", RevokeRoleStatement(role, shop, MySQL8), "REVOKE 'reader'@'%' FROM 'shop'@'%'"},
        {"MariaDB default", SetDefaultRoleStatement(role, shop, MariaDB), "SET DEFAULT ROLE 'reader' FOR 'shop'@'%'"},
        {"MariaDB no default", SetDefaultRoleStatement(std::nullopt, shop, MariaDB),
         "SET DEFAULT ROLE NONE FOR 'shop'@'%'"},
        {"MySQL default", SetDefaultRoleStatement(role, shop, MySQL8), "SET DEFAULT ROLE 'reader'@'%' TO 'shop'@'%'"},
        {"MySQL no default", SetDefaultRoleStatement(std::nullopt, shop, MySQL8), "SET DEFAULT ROLE NONE TO 'shop'@'%'"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.text, Q(c.expected)) << c.name;

    EXPECT_EQ(Raised<EDatabaseError>([&] { CreateRoleStatement(role, MySQL57); }).Message(),
              QStringLiteral("Roles need MariaDB 10.0.5 or MySQL 8.0 or later; the server is MySQL 5.7.44"));
    EXPECT_EQ(Raised<EDatabaseError>([&] { CreateRoleStatement({}, MariaDB); }).Message(),
              QStringLiteral("The role needs a name"));
}

}  // namespace
