// The statements the windows run on a table or a database, exactly: each raw name quoted as
// one identifier, whatever it holds.

#include "dataaccess/mysql/MyObjectStatements.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace calvoro::dac;

namespace {

TEST(MyObjectStatements, TableStatements) {
    struct {
        const char* table;
        int limit;
        const char* select;
        const char* count;
        const char* remove;
        const char* autoIncrement;
        const char* showCreate;
    } cases[] = {
        {"city", 100, "SELECT * FROM `city`\r\nLIMIT 100", "SELECT count(*) FROM `city`", "DELETE FROM `city`",
         "ALTER TABLE `city` AUTO_INCREMENT = :autoincrement", "SHOW CREATE TABLE `city`"},
        {"my table", 0, "SELECT * FROM `my table`", "SELECT count(*) FROM `my table`", "DELETE FROM `my table`",
         "ALTER TABLE `my table` AUTO_INCREMENT = :autoincrement", "SHOW CREATE TABLE `my table`"},
        {"`x`; DROP TABLE y; `", 1, "SELECT * FROM ```x``; DROP TABLE y; ```\r\nLIMIT 1",
         "SELECT count(*) FROM ```x``; DROP TABLE y; ```", "DELETE FROM ```x``; DROP TABLE y; ```",
         "ALTER TABLE ```x``; DROP TABLE y; ``` AUTO_INCREMENT = :autoincrement",
         "SHOW CREATE TABLE ```x``; DROP TABLE y; ```"},
        {"db.t", -5, "SELECT * FROM `db.t`", "SELECT count(*) FROM `db.t`", "DELETE FROM `db.t`",
         "ALTER TABLE `db.t` AUTO_INCREMENT = :autoincrement", "SHOW CREATE TABLE `db.t`"},
    };
    for (const auto& c : cases) {
        const QString table = QString::fromUtf8(c.table);
        EXPECT_EQ(SelectRowsStatement(table, c.limit), QString::fromUtf8(c.select));
        EXPECT_EQ(CountRowsStatement(table), QString::fromUtf8(c.count));
        EXPECT_EQ(DeleteAllRowsStatement(table), QString::fromUtf8(c.remove));
        EXPECT_EQ(SetAutoIncrementStatement(table), QString::fromUtf8(c.autoIncrement));
        EXPECT_EQ(ShowCreateTableStatement(table), QString::fromUtf8(c.showCreate));
    }
}

TEST(MyObjectStatements, DatabaseStatements) {
    EXPECT_EQ(RecreateDatabaseStatement(QStringLiteral("shop")),
              QStringLiteral("DROP DATABASE IF EXISTS `shop`;\r\nCREATE DATABASE `shop`;"));
    EXPECT_EQ(RecreateDatabaseStatement(QStringLiteral("x`; DROP DATABASE y; `")),
              QStringLiteral("DROP DATABASE IF EXISTS `x``; DROP DATABASE y; ```;\r\n"
                             "CREATE DATABASE `x``; DROP DATABASE y; ```;"));
    struct {
        const char* name;
        bool caseInsensitive, backslashes;
        const char* literal;
        const char* collation;
    } cases[] = {
        {"Shop", false, true, "'Shop'", "utf8mb4_bin"},
        {"Shop", true, true, "'Shop'", "utf8mb4_general_ci"},
        {"o'db\\", true, true, "'o\\'db\\\\'", "utf8mb4_general_ci"},
        {"o'db\\", false, false, "'o''db\\'", "utf8mb4_bin"},
        {"a_b%", false, true, "'a_b%'", "utf8mb4_bin"},  // compared with =, not LIKE
    };
    for (const auto& c : cases)
        EXPECT_EQ(ExistingDatabasesStatement(QString::fromUtf8(c.name), c.caseInsensitive, c.backslashes),
                  QStringLiteral("SELECT SCHEMA_NAME FROM information_schema.SCHEMATA WHERE SCHEMA_NAME = CONVERT(%1 "
                                 "USING utf8mb4) COLLATE %2 ORDER BY SCHEMA_NAME")
                      .arg(QString::fromUtf8(c.literal), QString::fromLatin1(c.collation)))
            << c.name;
}

}  // namespace
