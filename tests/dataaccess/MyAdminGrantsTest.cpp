// SHOW GRANTS lines as MariaDB and MySQL write them, read back into grants, roles and default
// roles; lines of other shapes and broken ones kept as text; the grantee column of
// information_schema. Then the pure pieces of the readers: status rates between two readings,
// which status variables are counters, the process filter and the variable search.

#include "dataaccess/mysql/MyAdminGrants.h"
#include "dataaccess/mysql/MyAdminReaders.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace calvoro::dac;

namespace {

QString Q(const char* text) { return QString::fromUtf8(text); }

const TAccountName U{QStringLiteral("u"), QStringLiteral("%")};

TEST(MyAdminGrants, PrivilegeLines) {
    struct Case {
        const char* line;
        TGrantLineKind kind;
        TGrant grant;
        TAccountName grantee;
    } cases[] = {
        {"GRANT ALL PRIVILEGES ON *.* TO `calvoro_native`@`%` IDENTIFIED BY PASSWORD "
         "'*928F67924BAB2040415ACB49A6993D4B50C91668' WITH GRANT OPTION",
         lkPrivileges,
         {{{QStringLiteral("ALL PRIVILEGES")}}, {glGlobal}, true},
         {QStringLiteral("calvoro_native"), QStringLiteral("%")}},
        {"GRANT USAGE ON *.* TO `u`@`%` IDENTIFIED BY PASSWORD '*B69027' REQUIRE SSL WITH MAX_QUERIES_PER_HOUR 10",
         lkPrivileges,
         {{{QStringLiteral("USAGE")}}, {glGlobal}},
         U},
        {"GRANT SELECT, INSERT ON `x\\_y`.* TO `r1`", lkPrivileges,
         {{{QStringLiteral("SELECT")}, {QStringLiteral("INSERT")}}, {glDatabase, Q("x\\_y")}},
         {QStringLiteral("r1"), QString()}},
        {"GRANT SELECT (`Host`, `User`), INSERT (`Host`) ON `mysql`.`user` TO `a'b`@`loc\\al`", lkPrivileges,
         {{{QStringLiteral("SELECT"), {QStringLiteral("Host"), QStringLiteral("User")}},
           {QStringLiteral("INSERT"), {QStringLiteral("Host")}}},
          {glTable, QStringLiteral("mysql"), QStringLiteral("user")}},
         {Q("a'b"), Q("loc\\al")}},
        {"GRANT SELECT (`a``b`) ON `test1`.`t``x` TO `b``q`@`%`", lkPrivileges,
         {{{QStringLiteral("SELECT"), {Q("a`b")}}}, {glTable, QStringLiteral("test1"), Q("t`x")}},
         {Q("b`q"), QStringLiteral("%")}},
        {"GRANT EXECUTE ON PROCEDURE `mysql`.`addgeometrycolumn` TO `u`@`%`", lkPrivileges,
         {{{QStringLiteral("EXECUTE")}}, {glProcedure, QStringLiteral("mysql"), QStringLiteral("addgeometrycolumn")}},
         U},
        {"GRANT EXECUTE, ALTER ROUTINE ON FUNCTION `db`.`f` TO 'u'@'%' WITH GRANT OPTION", lkPrivileges,
         {{{QStringLiteral("EXECUTE")}, {QStringLiteral("ALTER ROUTINE")}},
          {glFunction, QStringLiteral("db"), QStringLiteral("f")},
          true},
         U},
        // MySQL 8: dynamic privileges without blanks; 5.7: quoted strings.
        {"GRANT BINLOG_ADMIN,CONNECTION_ADMIN ON *.* TO `root`@`localhost`", lkPrivileges,
         {{{QStringLiteral("BINLOG_ADMIN")}, {QStringLiteral("CONNECTION_ADMIN")}}, {glGlobal}},
         {QStringLiteral("root"), QStringLiteral("localhost")}},
        {"GRANT SELECT ON `shop`.`product` TO 'u'@'%'", lkPrivileges,
         {{{QStringLiteral("SELECT")}}, {glTable, QStringLiteral("shop"), QStringLiteral("product")}}, U},
        {"GRANT CREATE TEMPORARY TABLES, LOCK TABLES ON `shop`.* TO 'it''s'@'h\\'x'", lkPrivileges,
         {{{QStringLiteral("CREATE TEMPORARY TABLES")}, {QStringLiteral("LOCK TABLES")}}, {glDatabase, QStringLiteral("shop")}},
         {Q("it's"), Q("h'x")}},
        {"grant select on shop.* to u@'%'", lkPrivileges,
         {{{QStringLiteral("SELECT")}}, {glDatabase, QStringLiteral("shop")}}, U},
        {"REVOKE INSERT, GRANT OPTION ON `mysql`.* FROM `u`@`%`", lkRevoke,
         {{{QStringLiteral("INSERT")}}, {glDatabase, QStringLiteral("mysql")}, true}, U},
    };
    for (const Case& c : cases) {
        const TGrantLine g = ParseGrantLine(Q(c.line));
        EXPECT_EQ(g.Kind, c.kind) << c.line;
        EXPECT_EQ(g.Grant, c.grant) << c.line;
        EXPECT_EQ(g.Grantee, c.grantee) << c.line;
        EXPECT_EQ(g.Text, Q(c.line));
        EXPECT_TRUE(g.Roles.empty()) << c.line;
    }
}

TEST(MyAdminGrants, RoleLines) {
    struct Case {
        const char* line;
        TGrantLineKind kind;
        std::vector<TAccountName> roles;
        bool admin;
        TAccountName grantee;
    } cases[] = {
        {"GRANT `r1` TO `u`@`%`", lkRoles, {{QStringLiteral("r1"), QString()}}, false, U},
        {"GRANT `r 2` TO `r1` WITH ADMIN OPTION", lkRoles, {{QStringLiteral("r 2"), QString()}}, true,
         {QStringLiteral("r1"), QString()}},
        {"GRANT `r1`@`%`,`r2`@`localhost` TO `u`@`%`", lkRoles,
         {{QStringLiteral("r1"), QStringLiteral("%")}, {QStringLiteral("r2"), QStringLiteral("localhost")}}, false, U},
        {"SET DEFAULT ROLE `r1` FOR `u`@`%`", lkDefaultRole, {{QStringLiteral("r1"), QString()}}, false, U},
    };
    for (const Case& c : cases) {
        const TGrantLine g = ParseGrantLine(Q(c.line));
        EXPECT_EQ(g.Kind, c.kind) << c.line;
        EXPECT_EQ(g.Roles, c.roles) << c.line;
        EXPECT_EQ(g.AdminOption, c.admin) << c.line;
        EXPECT_EQ(g.Grantee, c.grantee) << c.line;
        EXPECT_TRUE(g.Grant.Privileges.empty()) << c.line;
    }
}

TEST(MyAdminGrants, OtherLinesAreKeptAsText) {
    const char* lines[] = {
        "GRANT PROXY ON ''@'%' TO 'root'@'localhost' WITH GRANT OPTION",
        "GRANT EXECUTE ON PACKAGE BODY `db`.`p` TO `u`@`%`",
        "GRANT SELECT ON `unclosed TO `u`@`%`",
        "GRANT SELECT ON 'db TO u",
        "GRANT SELECT (`a` ON `d`.`t` TO `u`@`%`",
        "GRANT SELECT ON *.`t` TO `u`@`%`",
        "GRANT SELECT ON PROCEDURE `d`.* TO `u`@`%`",
        "GRANT ON *.* TO `u`@`%`",
        "GRANT SELECT ON *.* TO",
        "GRANT SELECT ON *.* TO `u`@",
        "SET PASSWORD FOR `u`@`%` = 'x'",
        "",
        "`",
        "'\\",
    };
    for (const char* line : lines) {
        const TGrantLine g = ParseGrantLine(Q(line));
        EXPECT_EQ(g.Kind, lkOther) << line;
        EXPECT_EQ(g.Text, Q(line));
        EXPECT_TRUE(g.Grant.Privileges.empty() && g.Roles.empty() && g.Grantee == TAccountName{}) << line;
    }
}

TEST(MyAdminGrants, GranteeOfInformationSchema) {
    struct {
        const char* text;
        bool ok;
        TAccountName account;
    } cases[] = {
        {"'u1'@'%'", true, {QStringLiteral("u1"), QStringLiteral("%")}},
        {"'q'x'@'%'", true, {Q("q'x"), QStringLiteral("%")}},
        {"'a'@'b'@'localhost'", true, {Q("a'@'b"), QStringLiteral("localhost")}},
        {"''@''", true, {QString(), QString()}},
        {"u1@%", false, {}},
        {"'u1'", false, {}},
        {"", false, {}},
    };
    for (const auto& c : cases) {
        TAccountName a;
        EXPECT_EQ(ParseGrantee(Q(c.text), a), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(a, c.account) << c.text;
        }
    }
}

TEST(MyAdminReaders, StatusCounters) {
    const char* counters[] = {"Queries", "Questions", "Connections", "Bytes_sent", "Bytes_received", "Com_select",
                              "com_insert", "Handler_read_rnd_next", "Innodb_rows_read", "Innodb_data_reads",
                              "Innodb_data_written", "Innodb_data_writes", "Innodb_pages_written",
                              "Innodb_buffer_pool_read_requests", "Slow_queries", "Threads_created"};
    const char* gauges[] = {"Threads_connected", "Threads_running", "Open_tables", "Uptime_since_flush_status",
                            "Innodb_buffer_pool_pages_free", "Innodb_data_pending_reads", "Max_used_connections",
                            "Innodb_buffer_pool_bytes_data", "Ssl_version", ""};
    for (const char* c : counters) EXPECT_TRUE(IsStatusCounter(Q(c))) << c;
    for (const char* g : gauges) EXPECT_FALSE(IsStatusCounter(Q(g))) << g;
}

TEST(MyAdminReaders, StatusRatesBetweenTwoReadings) {
    const TStatusSnapshot before{{{QStringLiteral("Bytes_sent"), QStringLiteral("1000")},
                                  {QStringLiteral("Com_select"), QStringLiteral("40")},
                                  {QStringLiteral("Queries"), QStringLiteral("18446744073709551000")},
                                  {QStringLiteral("Threads_connected"), QStringLiteral("3")},
                                  {QStringLiteral("Handler_read_key"), QStringLiteral("900")},
                                  {QStringLiteral("Ssl_version"), QString()}}};
    const TStatusSnapshot after{{{QStringLiteral("Bytes_sent"), QStringLiteral("3500")},
                                 {QStringLiteral("Com_select"), QStringLiteral("90")},
                                 {QStringLiteral("Queries"), QStringLiteral("18446744073709551615")},
                                 {QStringLiteral("Threads_connected"), QStringLiteral("7")},
                                 {QStringLiteral("Handler_read_key"), QStringLiteral("100")},
                                 {QStringLiteral("Ssl_version"), QStringLiteral("TLSv1.3")},
                                 {QStringLiteral("Com_update"), QStringLiteral("5")}}};
    const std::vector<TStatusRate> expected{
        {QStringLiteral("Bytes_sent"), QStringLiteral("3500"), 1000.0},       // 2500 in 2.5 s
        {QStringLiteral("Com_select"), QStringLiteral("90"), 20.0},           // 50 in 2.5 s
        {QStringLiteral("Queries"), QStringLiteral("18446744073709551615"), 246.0},  // 615 in 2.5 s, near 2^64
        {QStringLiteral("Threads_connected"), QStringLiteral("7"), std::nullopt},   // not a counter
        {QStringLiteral("Handler_read_key"), QStringLiteral("100"), std::nullopt},  // fell: reset
        {QStringLiteral("Ssl_version"), QStringLiteral("TLSv1.3"), std::nullopt},
        {QStringLiteral("Com_update"), QStringLiteral("5"), std::nullopt},  // no earlier reading
    };
    EXPECT_EQ(StatusRates(&before, after, 2500), expected);

    // Without an earlier reading, or without time between them: values, no rates.
    for (const auto& rates : {StatusRates(nullptr, after, 2500), StatusRates(&before, after, 0)}) {
        ASSERT_EQ(rates.size(), after.Values.size());
        for (size_t i = 0; i < rates.size(); ++i) {
            EXPECT_EQ(rates[i].Name, after.Values[i].first);
            EXPECT_EQ(rates[i].Value, after.Values[i].second);
            EXPECT_EQ(rates[i].PerSecond, std::nullopt) << rates[i].Name.toStdString();
        }
    }
}

TEST(MyAdminReaders, ProcessFilter) {
    const TProcessInfo sleeping{1, QStringLiteral("shop"), QStringLiteral("h:1"), QStringLiteral("shop"),
                                QStringLiteral("Sleep"), 10, QString(), std::nullopt};
    const TProcessInfo query{2, QStringLiteral("root"), QStringLiteral("h:2"), std::nullopt, QStringLiteral("Query"), 1,
                             QStringLiteral("User sleep"), QStringLiteral("SELECT SLEEP(30)")};
    struct {
        TProcessFilter filter;
        bool sleepingShown, queryShown;
    } cases[] = {
        {{}, true, true},
        {{true}, false, true},
        {{false, QStringLiteral("shop")}, true, false},
        {{false, QStringLiteral("Shop")}, false, false},
        {{false, {}, QStringLiteral("shop")}, true, false},
        {{true, QStringLiteral("root")}, false, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProcessShown(sleeping, c.filter), c.sleepingShown);
        EXPECT_EQ(ProcessShown(query, c.filter), c.queryShown);
    }
}

TEST(MyAdminReaders, VariableSearch) {
    TVariableInfo v;
    v.Name = QStringLiteral("innodb_buffer_pool_size");
    EXPECT_TRUE(VariableMatches(v, QString()));
    EXPECT_TRUE(VariableMatches(v, QStringLiteral(" BUFFER_pool ")));
    EXPECT_FALSE(VariableMatches(v, QStringLiteral("sort")));
}

}  // namespace
