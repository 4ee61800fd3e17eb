// fetch_bench --host H --port P --user U --password W --query SQL [--prepared] [--peer]
// fetch_bench --host H --port P --user U --password W --setup ROWS
//
// Reads every row of the query unbuffered and touches every byte of every value, through
// our client API (mysql_real_query, mysql_use_result, mysql_fetch_row and the value
// accessors; with --prepared: prepare, execute, bind result, fetch) or, with --peer, the
// same way through libmariadb. Prints "rows=<n> bytes=<sum of value lengths> seconds=<s>";
// exits non-zero with the error text on any error. --setup creates the benchmark table
// calvoro_bench.fetch_rows of mixed types; run_fetch_bench.sh alternates the clients.

#include "FetchBench.h"

#include "protocol/MySqlApiDirect.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>

using namespace calvoro::protocol;

namespace {

using Clock = std::chrono::steady_clock;

struct TConnection {
    explicit TConnection(const TBenchOptions& o) {
        con = api.mysql_init(nullptr);
        const int timeout = 30;
        api.mysql_options(con, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
        const int plain = smDisabled;  // without TLS, as the peer connects
        api.mysql_options(con, MYSQL_OPT_SSL_MODE, &plain);
        api.SetTimeout(con, 0);
        if (!api.mysql_real_connect(con, o.Host, o.User, o.Password, "", o.Port, "", CLIENT_FOUND_ROWS))
            Fail();
    }
    ~TConnection() { api.mysql_close(con); }
    [[noreturn]] void Fail() { throw std::runtime_error(std::to_string(api.mysql_errno(con)) + ": " + api.mysql_error(con)); }
    void Exec(const std::string& sql) {
        if (api.mysql_real_query(con, sql.data(), sql.size()) != 0) Fail();
        if (PMYSQL_RES res = api.mysql_use_result(con)) api.mysql_free_result(res);
    }
    TMySQLAPIDirect api;
    PMYSQL_CON con;
};

TBenchResult ReadText(TConnection& c, const std::string& query) {
    TMySQLAPIDirect& api = c.api;
    TBenchResult r;
    const auto start = Clock::now();
    if (api.mysql_real_query(c.con, query.data(), query.size()) != 0) c.Fail();
    PMYSQL_RES res = api.mysql_use_result(c.con);
    if (!res) throw std::runtime_error("the query returned no result set");
    const unsigned columns = api.mysql_num_fields(res);
    TLenArr lengths;
    while (PMYSQL_ROW row = api.mysql_fetch_row(res)) {
        ++r.Rows;
        api._mysql_fetch_lengths(res, lengths);
        for (unsigned i = 0; i < columns; ++i) {
            if (const uint8_t* p = api._mysql_fetch_value_ptr(res, row, i)) {
                r.Bytes += lengths[i];
                r.Checksum += Touch(p, lengths[i]);
            }
        }
    }
    if (api.mysql_errno(c.con) != 0) c.Fail();
    api.mysql_free_result(res);
    r.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return r;
}

TBenchResult ReadPrepared(TConnection& c, const std::string& query) {
    TMySQLAPIDirect& api = c.api;
    TBenchResult r;
    const auto start = Clock::now();
    PMYSQL_STMT st = api.mysql_stmt_init(c.con);
    const auto fail = [&] {
        const std::string text = std::to_string(api.mysql_stmt_errno(st)) + ": " + api.mysql_stmt_error(st);
        api.mysql_stmt_close(st);
        throw std::runtime_error(text);
    };
    if (api.mysql_stmt_prepare(st, query.data(), query.size()) != 0 || api._mysql_stmt_execute(st, {}, false) != 0)
        fail();
    TLenArr lengths;
    for (;;) {
        // As the data-access layer does: binds for every row.
        if (api._mysql_stmt_bind_result(st) != 0) fail();
        PMYSQL_ROW row = nullptr;
        const int rc = api._mysql_stmt_fetch(st, row);
        if (rc == 100) break;
        if (rc != 0) fail();
        ++r.Rows;
        api._mysql_stmt_fetch_lengths(row, lengths);
        for (unsigned i = 0; i < lengths.size(); ++i) {
            if (api._mysql_fetch_value_is_null(row, i)) continue;
            uint32_t offset;
            const uint8_t* bytes = api._mysql_fetch_value_arr(row, i, offset);
            r.Bytes += lengths[i];
            r.Checksum += Touch(bytes + offset, lengths[i]);
        }
    }
    api.mysql_stmt_close(st);
    r.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return r;
}

}  // namespace

TBenchResult RunOurs(const TBenchOptions& o) {
    TConnection c(o);
    return o.Prepared ? ReadPrepared(c, o.Query) : ReadText(c, o.Query);
}

// Mixed types, latin1 so that neither client makes the server convert text.
void SetupTable(const TBenchOptions& o) {
    TConnection c(o);
    c.Exec("CREATE DATABASE IF NOT EXISTS calvoro_bench");
    c.Exec("CREATE OR REPLACE TABLE calvoro_bench.fetch_rows (id INT NOT NULL PRIMARY KEY, small SMALLINT,"
           " big BIGINT, price DECIMAL(12,2), ratio DOUBLE, name VARCHAR(40), note TEXT, created DATE,"
           " updated DATETIME(6), span TIME, flag TINYINT, code CHAR(8)) CHARACTER SET latin1");
    for (long from = 1; from <= o.SetupRows; from += 100000) {
        const long to = std::min(o.SetupRows, from + 99999);
        c.Exec("INSERT INTO calvoro_bench.fetch_rows SELECT seq, CAST(seq % 30000 AS SIGNED) - 15000, seq * 1000003,"
               " (seq % 100000) / 100, seq / 7, CONCAT('name-', seq),"
               " IF(seq % 10 = 0, NULL, REPEAT(CHAR(97 + seq % 26), seq % 60)),"
               " DATE'2000-01-01' + INTERVAL (seq % 9000) DAY,"
               " TIMESTAMP'2020-01-01 00:00:00' + INTERVAL seq SECOND + INTERVAL (seq % 1000000) MICROSECOND,"
               " SEC_TO_TIME(seq % 86400), seq % 2, LPAD(HEX(seq), 8, '0') FROM calvoro_bench.seq_" +
               std::to_string(from) + "_to_" + std::to_string(to));
    }
}

int main(int argc, char** argv) {
    try {
        const TBenchOptions o = ParseBenchOptions(argc, argv);
        if (o.User.empty() || (o.SetupRows <= 0 && o.Query.empty())) {
            std::fprintf(stderr,
                         "usage: fetch_bench --host H --port P --user U --password W --query SQL [--prepared] [--peer]\n"
                         "       fetch_bench --host H --port P --user U --password W --setup ROWS\n");
            return 2;
        }
        if (o.SetupRows > 0) {
            SetupTable(o);
            std::printf("rows=%ld in calvoro_bench.fetch_rows\n", o.SetupRows);
            return 0;
        }
        const TBenchResult r = o.Peer ? RunPeer(o) : RunOurs(o);
        std::printf("rows=%llu bytes=%llu seconds=%.3f\n", static_cast<unsigned long long>(r.Rows),
                    static_cast<unsigned long long>(r.Bytes), r.Seconds);
        std::fprintf(stderr, "checksum=%llu\n", static_cast<unsigned long long>(r.Checksum));
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fetch_bench: %s\n", e.what());
        return 1;
    }
}
