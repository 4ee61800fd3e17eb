// The peer side of recordset_bench: every row in memory through libmariadb, the MariaDB C
// connector. Text: mysql_store_result. Prepared: mysql_stmt_store_result with the result
// bound in the columns' own types (numbers and MYSQL_TIME natively, the rest as strings); the
// buffered rows are then fetched once for the checksum, outside the timing.

#include "RecordsetBench.h"
#include "support/PeerConnection.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

TBenchResult ReadText(TPeerConnection& c, const std::string& query) {
    TBenchResult r;
    const auto start = Clock::now();
    if (mysql_real_query(c.m, query.data(), query.size()) != 0) c.Fail();
    MYSQL_RES* res = mysql_store_result(c.m);
    if (!res) c.Fail();
    r.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
    r.Rows = mysql_num_rows(res);
    const unsigned columns = mysql_num_fields(res);
    while (MYSQL_ROW row = mysql_fetch_row(res)) {
        const unsigned long* lengths = mysql_fetch_lengths(res);
        for (unsigned i = 0; i < columns; ++i)
            if (row[i])
                for (unsigned long k = 0; k < lengths[i]; ++k) r.Checksum += uint8_t(row[i][k]);
    }
    mysql_free_result(res);
    return r;
}

struct TColumnBuffer {
    std::vector<uint8_t> Bytes;
    unsigned long Length = 0;
    my_bool IsNull = 0;
    my_bool Error = 0;
};

TBenchResult ReadPrepared(TPeerConnection& c, const std::string& query) {
    TBenchResult r;
    const auto start = Clock::now();
    MYSQL_STMT* st = mysql_stmt_init(c.m);
    const auto fail = [&] {
        const std::string text = std::to_string(mysql_stmt_errno(st)) + ": " + mysql_stmt_error(st);
        mysql_stmt_close(st);
        throw std::runtime_error(text);
    };
    if (mysql_stmt_prepare(st, query.data(), query.size()) != 0 || mysql_stmt_execute(st) != 0) fail();
    if (mysql_stmt_store_result(st) != 0) fail();
    r.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
    r.Rows = mysql_stmt_num_rows(st);

    MYSQL_RES* metadata = mysql_stmt_result_metadata(st);
    if (!metadata) fail();
    const unsigned columns = mysql_num_fields(metadata);
    const MYSQL_FIELD* fields = mysql_fetch_fields(metadata);
    std::vector<TColumnBuffer> buffers(columns);
    std::vector<MYSQL_BIND> binds(columns);
    for (unsigned i = 0; i < columns; ++i) {
        MYSQL_BIND& b = binds[i];
        b = MYSQL_BIND{};
        const size_t fixed = FixedSize(fields[i].type);
        b.buffer_type = fixed ? fields[i].type : MYSQL_TYPE_STRING;
        buffers[i].Bytes.resize(fixed ? fixed : std::clamp<size_t>(fields[i].length, 1, 65536));
        b.buffer = buffers[i].Bytes.data();
        b.buffer_length = buffers[i].Bytes.size();
        b.is_unsigned = (fields[i].flags & UNSIGNED_FLAG) != 0;
        b.length = &buffers[i].Length;
        b.is_null = &buffers[i].IsNull;
        b.error = &buffers[i].Error;
    }
    if (mysql_stmt_bind_result(st, binds.data()) != 0) fail();
    for (;;) {
        const int rc = mysql_stmt_fetch(st);
        if (rc == MYSQL_NO_DATA) break;
        if (rc == 1) fail();
        for (unsigned i = 0; i < columns; ++i)
            if (!buffers[i].IsNull)
                for (size_t k = 0; k < std::min<size_t>(buffers[i].Length, buffers[i].Bytes.size()); ++k)
                    r.Checksum += buffers[i].Bytes[k];
    }
    mysql_free_result(metadata);
    mysql_stmt_close(st);
    return r;
}

}  // namespace

TBenchResult RunPeer(const TBenchOptions& o) {
    TPeerConnection c(o);
    return o.Prepared ? ReadPrepared(c, o.Query) : ReadText(c, o.Query);
}
