// Query results through the client API against the real test server: every column type in
// text form, temporal values, multi-statement texts, a procedure with two result sets, rows
// beyond the maximum packet length, draining, the command order rules, server errors and
// LOAD DATA LOCAL INFILE.
#include "protocol/MySqlApiDirect.h"
#include "support/AllTypes.h"
#include "support/ApiConnection.h"
#include "support/TempFile.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <thread>

using namespace calvoro::protocol;
using namespace calvoro::test;

namespace {

// The answers of a multi-statement text, one line each: "ok <affected>" or "rows <n>".
std::vector<std::string> Answers(TApiConnection& c, std::string_view sql) {
    std::vector<std::string> answers;
    int status = c.Query(sql);
    while (status == 0) {
        if (PMYSQL_RES res = c.api.mysql_use_result(c.con)) {
            answers.push_back("rows " + std::to_string(c.Fetch(res).size()));
            c.api.mysql_free_result(res);
        } else {
            answers.push_back("ok " + std::to_string(c.api.mysql_affected_rows(c.con)));
        }
        status = c.api.mysql_next_result(c.con);
    }
    if (status != -1) answers.push_back("error " + std::to_string(status));
    return answers;
}

}  // namespace

// Every column type, once with a value and once NULL; the first column NULL and more than
// eight columns; lengths with 1-, 3- and 4-byte prefixes.
TEST(ResultsIntegration, EveryColumnTypeAsText) {
    TApiConnection c;
    CreateAllTypesTable(c);
    ASSERT_EQ(c.Query(SelectAllTypes()), 0) << c.Error();
    PMYSQL_RES res = c.api.mysql_use_result(c.con);
    ASSERT_NE(res, nullptr);
    const auto& columns = AllTypeColumns();
    ASSERT_EQ(c.api.mysql_num_fields(res), columns.size() + 1);
    for (unsigned i = 0; i < columns.size(); ++i) {
        SCOPED_TRACE(columns[i].Name);
        const TMYSQL_FIELD f = c.api._mysql_fetch_field_direct(res, i, false);
        EXPECT_EQ(f.Name, columns[i].Name);
        EXPECT_EQ(f.Table, "all_types");
        EXPECT_EQ(int(f._type), int(columns[i].TypeCode));
        EXPECT_EQ(f.Flags & uint32_t(columns[i].Flags), uint32_t(columns[i].Flags));
    }
    EXPECT_EQ(c.api._mysql_fetch_field_direct(res, 24, false).LengthInBytes, 65535u) << "LONGTEXT";

    PMYSQL_ROW row = c.api.mysql_fetch_row(res);
    ASSERT_NE(row, nullptr) << c.Error();
    TLenArr lengths;
    c.api._mysql_fetch_lengths(res, lengths);
    for (unsigned i = 0; i < columns.size(); ++i) {
        SCOPED_TRACE(columns[i].Name);
        ASSERT_FALSE(c.api._mysql_fetch_value_is_null(row, i));
        EXPECT_EQ(c.api._mysql_fetch_value_str(row, i), columns[i].Text);
        EXPECT_EQ(lengths[i], columns[i].Text.size());
        const uint8_t* p = c.api._mysql_fetch_value_ptr(res, row, i);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), lengths[i]), columns[i].Text);
    }
    row = c.api.mysql_fetch_row(res);
    ASSERT_NE(row, nullptr) << c.Error();
    for (unsigned i = 0; i < columns.size(); ++i) {
        EXPECT_TRUE(c.api._mysql_fetch_value_is_null(row, i)) << columns[i].Name;
        EXPECT_EQ(c.api._mysql_fetch_value_ptr(res, row, i), nullptr) << columns[i].Name;
    }
    EXPECT_EQ(c.api._mysql_fetch_value_str(row, unsigned(columns.size())), "2");
    EXPECT_EQ(c.api.mysql_fetch_row(res), nullptr);
    EXPECT_EQ(c.api.mysql_errno(c.con), 0u);
    c.api.mysql_free_result(res);
}

TEST(ResultsIntegration, TemporalValuesAsText) {
    TApiConnection c;
    const auto rows = c.Rows(
        "SELECT CAST('2024-02-29 23:59:59.123456' AS DATETIME(6)), CAST('1000-01-01 00:00:00.000001' AS DATETIME(6)),"
        " TIME'-1 02:03:04.5', CAST('-838:59:59' AS TIME), TIME'838:59:59.999999', TIME'00:00:00',"
        " CAST('9999-12-31' AS DATE), CAST('2038-01-19 03:14:07.999999' AS DATETIME(6)), TIME'-00:00:01'");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (TTextRow{"2024-02-29 23:59:59.123456", "1000-01-01 00:00:00.000001", "-26:03:04.5", "-838:59:59",
                                 "838:59:59.999999", "00:00:00", "9999-12-31", "2038-01-19 03:14:07.999999",
                                 "-00:00:01"}));
}

// A multi-statement text: OK packets and result sets in turn, each announced by the one
// before; an error ends the sequence.
TEST(ResultsIntegration, MultiStatementTexts) {
    TApiConnection c;
    EXPECT_EQ(Answers(c, "CREATE TEMPORARY TABLE m (a INT); INSERT INTO m VALUES (1), (2); SELECT a FROM m;"
                         " UPDATE m SET a = a + 10; SELECT COUNT(*), SUM(a) FROM m; DO 1"),
              (std::vector<std::string>{"ok 0", "ok 2", "rows 2", "ok 2", "rows 1", "ok 0"}));
    EXPECT_EQ(c.Value("SELECT SUM(a) FROM m"), "23");
    EXPECT_EQ(Answers(c, "SELECT 1; SELECT * FROM no_such_table; SELECT 2"),
              (std::vector<std::string>{"rows 1", "error 1146"}));
    EXPECT_FALSE(c.api.mysql_more_results(c.con));
    EXPECT_EQ(c.Value("SELECT 3"), "3") << "in step after the error";

    // The information text, the insert id and the warning count of the OK packets.
    c.Exec("CREATE TEMPORARY TABLE ai (id INT AUTO_INCREMENT PRIMARY KEY, v TINYINT)");
    ASSERT_EQ(c.Query("INSERT IGNORE INTO ai (v) VALUES (1), (2), (300)"), 0) << c.Error();
    EXPECT_EQ(c.api.mysql_affected_rows(c.con), 3);
    EXPECT_EQ(c.api.mysql_insert_id(c.con), 1);
    EXPECT_EQ(c.api.mysql_info(c.con), "Records: 3  Duplicates: 0  Warnings: 1");
    EXPECT_EQ(c.con->warningCount, 1);
}

TEST(ResultsIntegration, StoredProcedureWithTwoResultSets) {
    TApiConnection c;
    c.Exec("CREATE OR REPLACE PROCEDURE two_results() BEGIN SELECT 1 AS a; SELECT 'x' AS b, 2 AS c UNION ALL SELECT 'y', 3; END");
    ASSERT_EQ(c.Query("CALL two_results()"), 0) << c.Error();
    PMYSQL_RES first = c.api.mysql_use_result(c.con);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(c.Fetch(first), (std::vector<TTextRow>{{"1"}}));
    c.api.mysql_free_result(first);
    EXPECT_TRUE(c.api.mysql_more_results(c.con));
    ASSERT_EQ(c.api.mysql_next_result(c.con), 0) << c.Error();
    PMYSQL_RES second = c.api.mysql_use_result(c.con);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(c.api._mysql_fetch_field_direct(second, 1, false).Name, "c");
    EXPECT_EQ(c.Fetch(second), (std::vector<TTextRow>{{"x", "2"}, {"y", "3"}}));
    c.api.mysql_free_result(second);
    ASSERT_TRUE(c.api.mysql_more_results(c.con));
    ASSERT_EQ(c.api.mysql_next_result(c.con), 0) << "the CALL's own OK packet";
    EXPECT_EQ(c.api.mysql_use_result(c.con), nullptr);
    EXPECT_FALSE(c.api.mysql_more_results(c.con));
    EXPECT_EQ(c.api.mysql_next_result(c.con), -1);
    EXPECT_EQ(c.Value("SELECT 'after'"), "after");
}

// Rows of more than 16 MB arrive as several packets: read joined, and skipped as whole rows
// when the result is freed half-read.
TEST(ResultsIntegration, UnbufferedRowsBeyondTheMaximumPacketLength) {
    TApiConnection c;
    const size_t big = 17 * 1024 * 1024;
    const std::string sql = "SELECT n, REPEAT(CHAR(64 + n), " + std::to_string(big) +
                            " + n), n * 10 FROM (SELECT 1 n UNION ALL SELECT 2 UNION ALL SELECT 3) s ORDER BY n";
    ASSERT_EQ(c.Query(sql), 0) << c.Error();
    PMYSQL_RES res = c.api.mysql_use_result(c.con);
    for (int n = 1; n <= 3; ++n) {
        PMYSQL_ROW row = c.api.mysql_fetch_row(res);
        ASSERT_NE(row, nullptr) << c.Error();
        TLenArr lengths;
        c.api._mysql_fetch_lengths(res, lengths);
        ASSERT_EQ(lengths[1], big + size_t(n));
        const uint8_t* p = c.api._mysql_fetch_value_ptr(res, row, 1);
        EXPECT_TRUE(std::all_of(p, p + lengths[1], [&](uint8_t b) { return b == 64 + n; }));
        EXPECT_EQ(c.api._mysql_fetch_value_str(row, 2), std::to_string(n * 10));
    }
    EXPECT_EQ(c.api.mysql_fetch_row(res), nullptr);
    c.api.mysql_free_result(res);

    // Freed after the first row: the two big rows left are skipped.
    ASSERT_EQ(c.Query(sql), 0) << c.Error();
    res = c.api.mysql_use_result(c.con);
    ASSERT_NE(c.api.mysql_fetch_row(res), nullptr);
    c.api.mysql_free_result(res);
    EXPECT_LT(c.con->net.Buffer().Capacity(), 3 * big) << "the skipped rows were not kept";
    EXPECT_EQ(c.Value("SELECT 'next'"), "next");
}

// Closing a result whose rows are half read drains the rest, so that the next query gets
// its own answer.
TEST(ResultsIntegration, ClosingAHalfReadResult) {
    TApiConnection c;
    ASSERT_EQ(c.Query("SELECT seq, REPEAT('r', 100) FROM seq_1_to_100000"), 0) << c.Error();
    PMYSQL_RES res = c.api.mysql_use_result(c.con);
    for (int i = 1; i <= 10; ++i) {
        PMYSQL_ROW row = c.api.mysql_fetch_row(res);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(c.api._mysql_fetch_value_str(row, 0), std::to_string(i));
    }
    EXPECT_NE(c.Query("SELECT 1"), 0) << "a new command while rows are pending";
    EXPECT_EQ(c.api.mysql_errno(c.con), 2014u);
    c.api.mysql_free_result(res);
    EXPECT_EQ(c.Value("SELECT 'own answer'"), "own answer");
    EXPECT_EQ(c.api.mysql_ping(c.con), 0);
}

TEST(ResultsIntegration, NextResultWhileRowsAreUnread) {
    TApiConnection c;
    ASSERT_EQ(c.Query("SELECT 1 UNION ALL SELECT 2; SELECT 3"), 0) << c.Error();
    PMYSQL_RES res = c.api.mysql_use_result(c.con);
    ASSERT_NE(res, nullptr);
    EXPECT_EQ(c.api.mysql_use_result(c.con), nullptr) << "taken already";
    EXPECT_EQ(c.api.mysql_errno(c.con), 0u);
    EXPECT_EQ(c.api.mysql_next_result(c.con), 2014);
    EXPECT_EQ(c.api.mysql_errno(c.con), 2014u);
    EXPECT_EQ(c.api.mysql_error(c.con), "Commands out of sync;  You can't run this command now\r\nmysql.status = 2");
    EXPECT_EQ(c.Fetch(res), (std::vector<TTextRow>{{"1"}, {"2"}}));
    c.api.mysql_free_result(res);
    ASSERT_EQ(c.api.mysql_next_result(c.con), 0);
    EXPECT_EQ(c.api.mysql_affected_rows(c.con), -1) << "a result header leaves the count of mysql_next_result";
    res = c.api.mysql_use_result(c.con);
    EXPECT_EQ(c.Fetch(res), (std::vector<TTextRow>{{"3"}}));
    c.api.mysql_free_result(res);
    EXPECT_EQ(c.api.mysql_next_result(c.con), -1);
}

// Server errors: the number, the SQLSTATE apart, and the server's text after CR LF.
TEST(ResultsIntegration, ServerErrors) {
    TApiConnection c;
    c.Exec("CREATE OR REPLACE TABLE dup (k INT PRIMARY KEY)");
    c.Exec("INSERT INTO dup VALUES (1)");
    struct Case {
        std::string sql;
        unsigned code;
        std::string sqlState, message;
    } cases[] = {
        {"SELECT * FROM no_such_table", 1146, "42S02", "\r\nTable 'calvoro_protocol.no_such_table' doesn't exist"},
        {"INSERT INTO dup VALUES (1)", 1062, "23000", "\r\nDuplicate entry '1' for key 'PRIMARY'"},
        {"SELEC 1", 1064, "42000",
         "\r\nYou have an error in your SQL syntax; check the manual that corresponds to your MariaDB server "
         "version for the right syntax to use near 'SELEC 1' at line 1"},
        {"SELECT no_column FROM dup", 1054, "42S22", "\r\nUnknown column 'no_column' in 'SELECT'"},
    };
    for (const auto& e : cases) {
        SCOPED_TRACE(e.sql);
        EXPECT_EQ(c.Query(e.sql), int(e.code));
        EXPECT_EQ(c.api.mysql_errno(c.con), e.code);
        EXPECT_EQ(c.api.mysql_sqlstate(c.con), e.sqlState);
        EXPECT_EQ(c.api.mysql_error(c.con), e.message);
        EXPECT_EQ(c.api.mysql_use_result(c.con), nullptr);
        EXPECT_EQ(c.Value("SELECT 'usable'"), "usable");
        EXPECT_EQ(c.api.mysql_errno(c.con), 0u);
        EXPECT_EQ(c.api.mysql_sqlstate(c.con), "00000");
    }
    EXPECT_EQ(c.api.mysql_select_db(c.con, "no_such_db"), 1049);
    EXPECT_EQ(c.api.mysql_error(c.con), "\r\nUnknown database 'no_such_db'");
    EXPECT_EQ(c.api.mysql_sqlstate(c.con), "42000");

    // An error that arrives instead of a row: the result ends, the connection stays usable.
    ASSERT_EQ(c.Query("SELECT IF(seq < 3, seq, (SELECT seq FROM seq_1_to_2)) FROM seq_1_to_5"), 0) << c.Error();
    PMYSQL_RES res = c.api.mysql_use_result(c.con);
    ASSERT_NE(res, nullptr);
    EXPECT_NE(c.api.mysql_fetch_row(res), nullptr);
    EXPECT_NE(c.api.mysql_fetch_row(res), nullptr);
    EXPECT_EQ(c.api.mysql_fetch_row(res), nullptr);
    EXPECT_EQ(c.api.mysql_errno(c.con), 1242u);
    EXPECT_EQ(c.api.mysql_error(c.con), "\r\nSubquery returns more than 1 row");
    EXPECT_EQ(c.api.mysql_sqlstate(c.con), "21000");
    c.api.mysql_free_result(res);
    EXPECT_EQ(c.Value("SELECT 'after'"), "after");
}

// One API object serves every connection: statement texts of changing lengths pass through
// its shared query buffer from two threads at once, each arriving whole.
TEST(ResultsIntegration, ConnectionsInThreadsShareTheApiObject) {
    TMySQLAPIDirect api;
    const auto worker = [&](int id, std::string& failure) {
        const auto& server = Server();
        PMYSQL_CON con = api.mysql_init(nullptr);
        if (!api.mysql_real_connect(con, server.Host, server.NativeUser, server.NativePassword, "",
                                    unsigned(server.Port), "", CLIENT_FOUND_ROWS)) {
            failure = api.mysql_error(con);
            api.mysql_close(con);
            return;
        }
        for (int i = 0; i < 200 && failure.empty(); ++i) {
            const std::string value(size_t(100 + (i * 37 + id * 1000) % 9000), char('a' + id));
            const std::string sql = "SELECT '" + value + "'";
            if (api.mysql_real_query(con, sql.data(), sql.size()) != 0) {
                failure = api.mysql_error(con);
                break;
            }
            PMYSQL_RES res = api.mysql_use_result(con);
            PMYSQL_ROW row = res ? api.mysql_fetch_row(res) : nullptr;
            if (!row || api._mysql_fetch_value_str(row, 0) != value) failure = "wrong answer to query " + std::to_string(i);
            while (res && api.mysql_fetch_row(res)) {
            }
            api.mysql_free_result(res);
        }
        api.mysql_close(con);
    };
    std::string failure0, failure1;
    std::thread t0(worker, 0, std::ref(failure0)), t1(worker, 1, std::ref(failure1));
    t0.join();
    t1.join();
    EXPECT_EQ(failure0, "");
    EXPECT_EQ(failure1, "");
}

// LOAD DATA LOCAL INFILE uploads the file the statement names (in several packets here).
TEST(ResultsIntegration, LoadDataLocalInfile) {
    TApiConnection c;
    c.Exec("CREATE OR REPLACE TABLE loaded (n INT, s VARCHAR(40))");
    std::string csv;
    for (int i = 1; i <= 2000; ++i) csv += std::to_string(i) + ",row " + std::to_string(i) + "\n";
    ASSERT_GT(csv.size(), 3u * 8192);
    TTempFile file(csv);
    const std::string sql = "LOAD DATA LOCAL INFILE '" + file.Path + "' INTO TABLE loaded FIELDS TERMINATED BY ','";
    ASSERT_EQ(c.Query(sql), 0) << c.Error();
    EXPECT_EQ(c.api.mysql_affected_rows(c.con), 2000);
    EXPECT_EQ(c.api.mysql_info(c.con), "Records: 2000  Deleted: 0  Skipped: 0  Warnings: 0");
    EXPECT_EQ(c.Rows("SELECT COUNT(*), SUM(n), MAX(s) FROM loaded"), (std::vector<TTextRow>{{"2000", "2001000", "row 999"}}));

    // A named file that cannot be opened: the server gets no data and answers; the file
    // error follows and the connection stays in step.
    const std::string missing = "LOAD DATA LOCAL INFILE '/nonexistent/calvoro.csv' INTO TABLE loaded";
    EXPECT_THROW(c.Query(missing), EProtocolError);
    EXPECT_EQ(c.Value("SELECT COUNT(*) FROM loaded"), "2000");
}
