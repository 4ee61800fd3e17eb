// The kinds of a restored script's statements that decide where each runs: what this program,
// mariadb-dump and mysqldump write in a table's section, and the near forms that must not be
// taken for them (they would run out of order on another connection).

#include "dump/DumpStatement.h"

#include <gtest/gtest.h>

using namespace calvoro::dump;
using K = TDumpStatementKind;

namespace {

struct TCase {
    const char* sql;
    K kind;
    const char* database;
    const char* table;
};

const char* Name(K kind) {
    switch (kind) {
        case K::Other: return "Other";
        case K::Data: return "Data";
        case K::CreateTable: return "CreateTable";
        case K::DropTable: return "DropTable";
        case K::TruncateTable: return "TruncateTable";
        case K::LockTable: return "LockTable";
        case K::LockOther: return "LockOther";
        case K::UnlockTables: return "UnlockTables";
        case K::DisableKeys: return "DisableKeys";
        case K::EnableKeys: return "EnableKeys";
        case K::Begin: return "Begin";
        case K::Commit: return "Commit";
        case K::Rollback: return "Rollback";
        case K::Autocommit: return "Autocommit";
        case K::SessionSet: return "SessionSet";
        case K::OtherSet: return "OtherSet";
        case K::Use: return "Use";
    }
    return "?";
}

}  // namespace

TEST(DumpStatement, KindsAndTables) {
    const TCase cases[] = {
        // Rows as the dumps write them.
        {"INSERT INTO `t` VALUES (1,'a\\'b',NULL),(2,'x''y',-1.5e3)", K::Data, "", "t"},
        {"INSERT INTO t VALUES\r\n  (1, _binary 'a\\0', 0x00FF, X'AB', b'101', TRUE, FALSE)", K::Data, "", "t"},
        {"REPLACE INTO `d`.`we``ird` (`a`, b) VALUES (1,2)", K::Data, "d", "we`ird"},
        {"INSERT IGNORE INTO t VALUE ('-- not a comment', '/* nor this */')", K::Data, "", "t"},
        {"INSERT DELAYED INTO t VALUES (1)", K::Data, "", "t"},
        {"insert into t values (_utf8mb4 'caf\xC3\xA9')", K::Data, "", "t"},
        // Rows that read or depend on something: not data.
        {"INSERT INTO t VALUES (@x)", K::Other, "", ""},
        {"INSERT INTO t VALUES (NOW())", K::Other, "", ""},
        {"INSERT INTO t VALUES (1) ON DUPLICATE KEY UPDATE v = 2", K::Other, "", ""},
        {"INSERT INTO t SELECT * FROM s", K::Other, "", ""},
        {"INSERT INTO t SET a = 1", K::Other, "", ""},
        {"INSERT INTO t VALUES (\"ansi quotes name a column\")", K::Other, "", ""},
        {"INSERT INTO t VALUES (1) -- ,(@x)\n", K::Other, "", ""},
        {"INSERT INTO t VALUES ('unclosed)", K::Other, "", ""},
        {"INSERT INTO t VALUES (1 /* c */)", K::Other, "", ""},
        // Structure of one table.
        {"CREATE TABLE `t` (\n  `id` int(11) NOT NULL,\n  PRIMARY KEY (`id`)\n) ENGINE=InnoDB", K::CreateTable, "", "t"},
        {"CREATE OR REPLACE TABLE db.t (a INT COMMENT 'SELECT LIKE')", K::CreateTable, "db", "t"},
        {"CREATE TABLE IF NOT EXISTS db.t (a INT COMMENT 'a SELECT')", K::CreateTable, "db", "t"},
        {"CREATE TABLE t (a INT, `select` INT)", K::CreateTable, "", "t"},
        {"CREATE TABLE t (a INT) SELECT 1 AS a", K::Other, "", ""},
        {"CREATE TABLE t LIKE s", K::Other, "", ""},
        {"CREATE TABLE c (p INT, FOREIGN KEY (p) REFERENCES t (id))", K::Other, "", ""},
        {"CREATE TEMPORARY TABLE t (a INT)", K::Other, "", ""},
        {"DROP TABLE IF EXISTS `t`", K::DropTable, "", "t"},
        {"DROP TABLE a, b", K::Other, "", ""},
        {"DROP TEMPORARY TABLE t", K::Other, "", ""},
        {"TRUNCATE TABLE `t`", K::TruncateTable, "", "t"},
        {"/*!40000 ALTER TABLE `t` DISABLE KEYS */", K::DisableKeys, "", "t"},
        {"/*!40000 ALTER TABLE `t` ENABLE KEYS */", K::EnableKeys, "", "t"},
        {"ALTER TABLE t ADD COLUMN b INT", K::Other, "", ""},
        // Locks and transactions.
        {"LOCK TABLES `t` WRITE", K::LockTable, "", "t"},
        {"LOCK TABLES t READ", K::LockOther, "", ""},
        {"LOCK TABLES a WRITE, b WRITE", K::LockOther, "", ""},
        {"FLUSH TABLES WITH READ LOCK", K::LockOther, "", ""},
        {"FLUSH PRIVILEGES", K::Other, "", ""},
        {"UNLOCK TABLES", K::UnlockTables, "", ""},
        {"BEGIN", K::Begin, "", ""},
        {"START TRANSACTION", K::Begin, "", ""},
        {"START TRANSACTION WITH CONSISTENT SNAPSHOT", K::Other, "", ""},
        {"commit", K::Commit, "", ""},
        {"ROLLBACK WORK", K::Rollback, "", ""},
        {"ROLLBACK TO SAVEPOINT s", K::Other, "", ""},
        {"set autocommit=0", K::Autocommit, "", ""},
        {"SET SESSION autocommit = ON", K::Autocommit, "", ""},
        {"SET @@session.autocommit=1", K::Autocommit, "", ""},
        {"SET autocommit=0, unique_checks=0", K::Other, "", ""},
        // The session.
        {"/*!40101 SET @OLD_SQL_MODE=@@SQL_MODE, SQL_MODE='NO_AUTO_VALUE_ON_ZERO' */", K::SessionSet, "", ""},
        {"/*!40101 SET NAMES utf8mb4 */", K::SessionSet, "", ""},
        {"SET TIME_ZONE='+00:00'", K::SessionSet, "", ""},
        {"SET @x = @x + 1", K::SessionSet, "", ""},
        {"SET @x = (SELECT COUNT(*) FROM t)", K::OtherSet, "", ""},
        {"SET @x = CONCAT('a', 'b')", K::OtherSet, "", ""},
        {"SET sql_mode = 'A', @s = '(SELECT)'", K::SessionSet, "", ""},
        {"SET GLOBAL max_connections = 10", K::Other, "", ""},
        {"SET @@global.sql_mode = ''", K::Other, "", ""},
        {"SET SESSION TRANSACTION ISOLATION LEVEL READ COMMITTED", K::Other, "", ""},
        {"SET STATEMENT max_statement_time=1 FOR INSERT INTO t VALUES (1)", K::Other, "", ""},
        {"USE `db``x`", K::Use, "db`x", ""},
        {"USE db; SELECT 1", K::Other, "", ""},
        // Comments before a statement.
        {"-- Ormadex version: 5\r\n-- \r\n\r\n/*!40101 SET NAMES utf8mb4 */", K::SessionSet, "", ""},
        {"# header\n/* about t */ INSERT INTO t VALUES (1)", K::Data, "", "t"},
        {"-- only a comment", K::Other, "", ""},
        // Everything else.
        {"SELECT 1", K::Other, "", ""},
        {"CREATE VIEW v AS SELECT 1", K::Other, "", ""},
        {"/*!50003 CREATE TRIGGER tr BEFORE INSERT ON t FOR EACH ROW SET NEW.a = 1 */", K::Other, "", ""},
        {"/*!40101 SET a = 1 */ /*!40101 SET b = 2 */", K::Other, "", ""},
    };
    for (const TCase& c : cases) {
        const TDumpStatement st = ClassifyDumpStatement(QString::fromUtf8(c.sql));
        EXPECT_STREQ(Name(st.Kind), Name(c.kind)) << c.sql;
        if (c.kind == K::Other || st.Kind != c.kind) continue;
        EXPECT_EQ(st.Table.Database, QString::fromUtf8(c.database)) << c.sql;
        EXPECT_EQ(st.Table.Name, QString::fromUtf8(c.table)) << c.sql;
    }
}

TEST(DumpStatement, AutocommitValueAndUnknownForms) {
    EXPECT_FALSE(ClassifyDumpStatement(QStringLiteral("SET autocommit=0")).AutocommitOn);
    EXPECT_TRUE(ClassifyDumpStatement(QStringLiteral("SET autocommit=1")).AutocommitOn);
    // A form not read here may turn transactions on: the restore keeps to one connection.
    EXPECT_TRUE(ClassifyDumpStatement(QStringLiteral("SET autocommit=0, unique_checks=0")).MayOpenTransaction);
    EXPECT_TRUE(ClassifyDumpStatement(QStringLiteral("SET autocommit = @saved")).MayOpenTransaction);
    EXPECT_FALSE(ClassifyDumpStatement(QStringLiteral("SET unique_checks=0")).MayOpenTransaction);
}
