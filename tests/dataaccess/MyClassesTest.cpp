// The MySQL driver's pieces that need no server: the server version text, and what an error
// number and text say (syntax-error line, fatal errors, key violations).
#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/mysql/MyClasses.h"
#include "support/QtPrinters.h"
#include "support/Raised.h"

#include <gtest/gtest.h>

using namespace calvoro;
using namespace calvoro::dac;
using calvoro::test::Raised;

TEST(ServerVersion, Parse) {
    struct Case {
        const char* text;
        int primary, minor, release;
    } cases[] = {
        {"5.0.51a-community", 5, 0, 51},
        {"10.11.19-MariaDB-0+deb12u1", 10, 11, 19},
        {"4.1.22", 4, 1, 22},
        {"8.0.36-0ubuntu0.22.04.1", 8, 0, 36},
    };
    for (const auto& c : cases) {
        const TServerVersion v = ParseServerVersion(QString::fromLatin1(c.text));
        EXPECT_EQ(v.Primary, c.primary) << c.text;
        EXPECT_EQ(v.Minor, c.minor) << c.text;
        EXPECT_EQ(v.Release, c.release) << c.text;
    }
    EXPECT_EQ(Raised<EConvertError>([] { ParseServerVersion(QStringLiteral("abc")); }).Message(),
              QStringLiteral("'abc' is not a valid integer value"));
}

TEST(MyError, LineNumberAndKinds) {
    const std::pair<const char*, int> lines[] = {
        {"You have an error in your SQL syntax; check the manual ... near 'x' at line 3", 3},
        {"... near 'SELEC 12' at line 17", 17},
        {"syntax error without digits", 0},
    };
    for (auto [message, line] : lines) EXPECT_EQ(EMyError(1064, QString::fromLatin1(message)).LineNumber(), line);
    EXPECT_EQ(EMyError(1146, QStringLiteral("at line 3")).LineNumber(), 0);  // only for 1064
    for (int code : {1053, 2003, 2006, 2013}) EXPECT_TRUE(EMyError(code, QString()).IsFatalError()) << code;
    for (int code : {1045, 1062, 2014}) EXPECT_FALSE(EMyError(code, QString()).IsFatalError()) << code;
    EXPECT_TRUE(EMyError(1062, QString()).IsKeyViolation());
}

TEST(ObjectListStatements, TextsAsSent) {
    EXPECT_EQ(TableNamesStatement(false),
              QStringLiteral("SELECT cast('' as char(1)) TABLE_CATALOG, TABLE_SCHEMA, TABLE_NAME, TABLE_TYPE FROM "
                             "information_schema.TABLES WHERE TABLE_SCHEMA = DATABASE() ORDER BY TABLE_SCHEMA, "
                             "TABLE_NAME "));
    const struct {
        TServerVersion server;
        const char* db;
        bool backslashes;
        const char* sql;
    } procs[] = {
        {{5, 0, 0}, "Shop", true, "SELECT name FROM mysql.proc ORDER BY name"},
        {{5, 0, 3}, "Shop", true, "SELECT name FROM mysql.proc WHERE LOWER(db) = 'shop' ORDER BY name"},
        // The connection's database is raw, as the login sends it: backticks are part of it.
        {{5, 0, 3}, "`Shop`", true, "SELECT name FROM mysql.proc WHERE LOWER(db) = '`shop`' ORDER BY name"},
        {{10, 11, 6}, "", true,
         "SELECT ROUTINE_NAME FROM information_schema.routines WHERE LOWER(routine_schema) = 'mysql' ORDER BY "
         "ROUTINE_NAME"},
        {{8, 0, 36}, "o'db", true,
         "SELECT ROUTINE_NAME FROM information_schema.routines WHERE LOWER(routine_schema) = 'o\\'db' ORDER BY "
         "ROUTINE_NAME"},
        {{8, 0, 36}, "o'db", false,
         "SELECT ROUTINE_NAME FROM information_schema.routines WHERE LOWER(routine_schema) = 'o''db' ORDER BY "
         "ROUTINE_NAME"},
    };
    for (const auto& p : procs)
        EXPECT_EQ(StoredProcNamesStatement(p.server, QString::fromLatin1(p.db), p.backslashes), QString::fromLatin1(p.sql));
    EXPECT_EQ(TriggerNamesStatement(QStringLiteral("Shop"), true),
              QStringLiteral("SELECT TRIGGER_SCHEMA, TRIGGER_NAME FROM information_schema.TRIGGERS WHERE "
                             "LOWER(TRIGGER_SCHEMA) = 'shop' ORDER BY TRIGGER_SCHEMA, TRIGGER_NAME "));
    EXPECT_EQ(TriggerNamesStatement(QString(), true),
              QStringLiteral("SELECT TRIGGER_SCHEMA, TRIGGER_NAME FROM information_schema.TRIGGERS  ORDER BY "
                             "TRIGGER_SCHEMA, TRIGGER_NAME "));
}
