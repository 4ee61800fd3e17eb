// What the custom query makes of an executed text without a server: the memo's lines for the
// statements' results, the statements cut from the text, and which one a refresh may run.
#include "app/QueryReport.h"
#include "app/StatementRefresh.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace calvoro;
using namespace calvoro::app;
using dac::TMyStatementResult;

namespace {

const TMyStatementResult Rows{true, -1};
TMyStatementResult Affected(int n) { return {false, n}; }

TEST(QueryReport, OneLinePerStatementWithItsWarningsAndTime) {
    struct Case {
        bool rows;
        qint64 count;
        int warnings;
        const char* line;
    } cases[] = {
        {true, 3, 0, "Rows matched: 3; Execution time: 5ms "},
        {true, 0, 0, "Rows matched: 0; Execution time: 5ms "},
        {false, 2, 0, "Rows affected 2; Execution time: 5ms "},
        {false, 1, 2, "Rows affected 1; Warnings: 2; Execution time: 5ms "},
        {true, 7, 1, "Rows matched: 7; Warnings: 1; Execution time: 5ms "},
    };
    for (const Case& tc : cases)
        EXPECT_EQ(StatementReportLine(tc.rows, tc.count, tc.warnings, QStringLiteral("5ms ")), QString::fromLatin1(tc.line));
}

TEST(StatementRefresh, StatementsAsTheScriptProcessorCutsThem) {
    struct Case {
        const char* text;
        QStringList statements;
    } cases[] = {
        {"SELECT 1", {QStringLiteral("SELECT 1")}},
        {"INSERT INTO t VALUES (1);\nSELECT * FROM t;\n",
         {QStringLiteral("INSERT INTO t VALUES (1)"), QStringLiteral("SELECT * FROM t")}},
        {"SELECT 'a;b', `c;d`; SELECT \"e;\" -- f;\n",
         {QStringLiteral("SELECT 'a;b', `c;d`"), QStringLiteral("SELECT \"e;\" -- f;")}},
        // A routine body without a DELIMITER command runs to the end of the text.
        {"CREATE PROCEDURE p() BEGIN SELECT 1; SELECT 2; END; SELECT 3",
         {QStringLiteral("CREATE PROCEDURE p() BEGIN SELECT 1; SELECT 2; END; SELECT 3")}},
        {"SELECT 1; /* nothing but a comment */", {QStringLiteral("SELECT 1")}},
    };
    for (const Case& tc : cases) EXPECT_EQ(CutStatements(QString::fromUtf8(tc.text)), tc.statements) << tc.text;
}

TEST(StatementRefresh, OnlyReadingStatementsRunAgain) {
    struct Case {
        const char* statement;
        bool reads;
    } cases[] = {
        {"SELECT * FROM t", true},
        {"  select 1", true},
        {"/* why */ -- and\n(SELECT 1) UNION (SELECT 2)", true},
        {"WITH c AS (SELECT 1) SELECT * FROM c", true},
        {"SHOW TABLES", true},
        {"DESC t", true},
        {"EXPLAIN SELECT 1", true},
        {"VALUES (1), (2)", true},
        {"INSERT INTO t VALUES (1) RETURNING id", false},
        {"DELETE FROM t RETURNING id", false},
        {"REPLACE INTO t VALUES (1) RETURNING id", false},
        {"CALL p()", false},
        {"ANALYZE SELECT 1", false},
        {"/*!50001 SELECT 1 */", false},
        {"", false},
    };
    for (const Case& tc : cases) EXPECT_EQ(StatementOnlyReads(QString::fromUtf8(tc.statement)), tc.reads) << tc.statement;
}

TEST(StatementRefresh, TheShownRowsStatementOrWhyNone) {
    struct Case {
        const char* text;
        std::vector<TMyStatementResult> results;
        int shown;
        const char* statement;  // nullptr: refused with a message holding `refusal`
        const char* refusal;
    } cases[] = {
        {"INSERT INTO t VALUES (1); SELECT * FROM t", {Affected(1), Rows}, 1, "SELECT * FROM t", nullptr},
        {"SELECT 1; SELECT 2; UPDATE t SET a = 1", {Rows, Rows, Affected(3)}, 1, "SELECT 2", nullptr},
        // The routine body is cut as running to the end, the server answers twice.
        {"CREATE PROCEDURE p() BEGIN SELECT 1; END; SELECT 3", {Affected(0), Rows}, 1, nullptr,
         "one statement with 2 results"},
        {"SELECT * FROM t", {Rows}, 0, "SELECT * FROM t", nullptr},
        // A CALL answers with its result sets and once more for itself.
        {"CALL p()", {Rows, Affected(0)}, 0, nullptr, "one statement with 2 results"},
        {"UPDATE t SET a = 1; CALL p(); SELECT 1", {Affected(1), Rows, Affected(0), Rows}, 3, nullptr,
         "3 statements with 4 results"},
        {"INSERT INTO t VALUES (1) RETURNING id", {Rows}, 0, nullptr, "(INSERT) may change data"},
        // Comments after the last statement: the server answers them once more.
        {"SELECT 1; -- done", {Rows, Affected(0)}, 0, "SELECT 1", nullptr},
        {"SELECT 1;\n/* a */ # b\n", {Rows, Affected(0)}, 0, "SELECT 1", nullptr},
        {"SELECT 1; /*!40101 SET @a = 1 */", {Rows, Affected(0)}, 0, "SELECT 1", nullptr},
        {"SELECT 1 -- done", {Rows}, 0, "SELECT 1 -- done", nullptr},
        // A CALL after the rows shown does not shift them (this one returns no rows).
        {"SELECT * FROM t; CALL p()", {Rows, Affected(0)}, 0, "SELECT * FROM t", nullptr},
        // Statements before the rows whose answers cannot be counted, though the numbers agree.
        {"IF 1 THEN SELECT 1; END IF; SELECT 2", {Rows, Affected(0), Rows}, 2, nullptr, "before them (IF)"},
        {"EXECUTE s; DO 1; SELECT 2", {Rows, Affected(0), Rows}, 2, nullptr, "before them (EXECUTE)"},
        {"BEGIN NOT ATOMIC SELECT 1; END; SELECT 2", {Rows, Affected(0), Rows}, 2, nullptr, "before them (BEGIN)"},
        {"l: LOOP SELECT 1; END LOOP; SELECT 2", {Rows, Affected(0), Rows}, 2, nullptr, "before them (L)"},
        // A transaction's BEGIN answers once.
        {"BEGIN; SELECT 2", {Affected(0), Rows}, 1, "SELECT 2", nullptr},
        {"SELECT 1", {Affected(0)}, -1, nullptr, "no rows"},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.text);
        const TRefreshPlan plan = PlanRefresh(QString::fromUtf8(tc.text), tc.results, tc.shown);
        if (tc.statement) {
            EXPECT_EQ(plan.Statement, QString::fromUtf8(tc.statement));
            EXPECT_EQ(plan.Refusal, QString());
        } else {
            EXPECT_EQ(plan.Statement, QString());
            EXPECT_TRUE(plan.Refusal.contains(QString::fromUtf8(tc.refusal))) << plan.Refusal.toStdString();
        }
    }
}

}  // namespace
