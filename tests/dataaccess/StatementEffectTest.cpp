#include "dataaccess/mysql/StatementEffect.h"

#include <gtest/gtest.h>

using calvoro::dac::StatementChangesData;

TEST(StatementEffect, ReadingAndChangingStatements) {
    struct Case {
        const char* sql;
        bool changes;
    } cases[] = {
        // Queries.
        {"SELECT * FROM t", false},
        {"  select 1", false},
        {"(SELECT a FROM t) UNION (SELECT b FROM u)", false},
        {"SELECT a INTO @x FROM t", false},
        {"SELECT * FROM t FOR UPDATE", false},
        {"SELECT * FROM t INTO OUTFILE '/tmp/t.txt'", true},
        {"SELECT a FROM t INTO DUMPFILE '/tmp/a'", true},
        {"SELECT 'INTO OUTFILE' FROM t", false},  // words in a string are text
        {"SELECT `delete` FROM `insert`", false},  // quoted names are names
        {"TABLE t", false},
        {"VALUES (1), (2)", false},
        {"SHOW TABLES", false},
        {"DESCRIBE t", false},
        {"EXPLAIN SELECT * FROM t", false},
        {"EXPLAIN DELETE FROM t", false},
        {"EXPLAIN ANALYZE DELETE FROM t", true},
        {"ANALYZE SELECT * FROM t", false},
        {"ANALYZE DELETE FROM t", true},
        {"ANALYZE TABLE t", true},
        {"HELP 'select'", false},
        {"USE shop", false},
        {"DO SLEEP(0)", false},
        {"CHECK TABLE t", false},
        {"HANDLER t READ FIRST", false},
        // Common table expressions: the statement after them decides.
        {"WITH c AS (SELECT 1 AS n) SELECT * FROM c", false},
        {"WITH RECURSIVE c (n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 5) SELECT n FROM c", false},
        {"WITH a AS (SELECT 1), b AS (SELECT 2) SELECT * FROM a, b", false},
        {"WITH c AS (SELECT id FROM t) DELETE FROM t WHERE id IN (SELECT id FROM c)", true},
        {"WITH c AS (SELECT 1) UPDATE t SET a = 1", true},
        {"WITH c AS (SELECT 1) SELECT * FROM c INTO OUTFILE '/tmp/c'", true},
        // Comments: plain ones are skipped, executable ones are code.
        {"-- DELETE FROM t\nSELECT 1", false},
        {"# DROP TABLE t\nSELECT 1", false},
        {"/* DROP TABLE t */ SELECT 1", false},
        {"SELECT 1 /*!, (DELETE) */", false},
        {"/*!40101 DELETE FROM t */", true},
        {"/*M!100100 DROP TABLE t */", true},
        {"/*!40101 SET NAMES utf8mb4 */", false},
        {"/* SELECT */ DELETE FROM t", true},
        {"", false},
        {"  -- nothing\n", false},
        {";;", false},
        // Data and structure.
        {"INSERT INTO t VALUES (1)", true},
        {"insert into t select * from u", true},
        {"REPLACE INTO t VALUES (1)", true},
        {"UPDATE t SET a = 1", true},
        {"DELETE FROM t", true},
        {"TRUNCATE TABLE t", true},
        {"LOAD DATA INFILE '/tmp/x' INTO TABLE t", true},
        {"CREATE DATABASE d", true},
        {"CREATE TEMPORARY TABLE x (a INT)", true},
        {"ALTER TABLE t AUTO_INCREMENT = 5", true},
        {"DROP TABLE t", true},
        {"RENAME TABLE a TO b", true},
        {"GRANT SELECT ON *.* TO u", true},
        {"OPTIMIZE TABLE t", true},
        {"KILL 12", true},
        {"FLUSH PRIVILEGES", true},
        {"CALL p()", true},  // a procedure may change anything
        {"EXECUTE s", true},
        {"LOCK TABLES t WRITE", true},
        {"XA START 'x'", true},
        // SET: session and user variables read; the rest changes or lifts read-only.
        {"SET @a = 1", false},
        {"SET NAMES utf8mb4", false},
        {"SET sql_mode = 'ANSI'", false},
        {"SET SESSION sql_mode = ''", false},
        {"SET @a = (SELECT COUNT(*) FROM t)", false},
        {"SET GLOBAL max_connections = 10", true},
        {"SET @@global.max_connections = 10", true},
        {"SET PERSIST max_connections = 10", true},
        {"SET PASSWORD = PASSWORD('x')", true},
        {"SET SESSION TRANSACTION READ WRITE", true},
        {"SET transaction_read_only = 0", true},
        {"SET @@session.tx_read_only = 0", true},
        {"SET DEFAULT ROLE r FOR u", true},
        // Transactions, unless they ask to write.
        {"BEGIN", false},
        {"START TRANSACTION", false},
        {"START TRANSACTION READ WRITE", true},
        {"COMMIT", false},
        {"ROLLBACK", false},
        // Several statements: one changing one is enough.
        {"SELECT 1; SELECT 2", false},
        {"SELECT 1; DELETE FROM t", true},
        {"SELECT ';DELETE' FROM t", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        EXPECT_EQ(StatementChangesData(QString::fromUtf8(c.sql)), c.changes);
    }
}
