// The peer side of fetch_bench: the same reading through libmariadb, the MariaDB C
// connector. Text: mysql_use_result, mysql_fetch_row, mysql_fetch_lengths. Prepared: the
// result bound once in the columns' own types (numbers and MYSQL_TIME natively, the rest
// as strings in buffers of the announced length, up to 64 KiB; longer values fetched
// again by column).

#include "FetchBench.h"
#include "support/PeerConnection.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

TBenchResult ReadText(TPeerConnection& c, const std::string& query) {
    TBenchResult r;
    const auto start = Clock::now();
    if (mysql_real_query(c.m, query.data(), query.size()) != 0) c.Fail();
    MYSQL_RES* res = mysql_use_result(c.m);
    if (!res) c.Fail();
    const unsigned columns = mysql_num_fields(res);
    while (MYSQL_ROW row = mysql_fetch_row(res)) {
        ++r.Rows;
        const unsigned long* lengths = mysql_fetch_lengths(res);
        for (unsigned i = 0; i < columns; ++i) {
            if (!row[i]) continue;
            r.Bytes += lengths[i];
            r.Checksum += Touch(reinterpret_cast<const uint8_t*>(row[i]), lengths[i]);
        }
    }
    if (mysql_errno(c.m) != 0) c.Fail();
    mysql_free_result(res);
    r.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return r;
}

// One result column bound in its own type.
struct TColumnBuffer {
    std::vector<uint8_t> Bytes;
    unsigned long Length = 0;
    my_bool IsNull = 0;
    my_bool Error = 0;
    bool Variable = false;  // a string: Length says how much of Bytes holds the value
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
    MYSQL_RES* metadata = mysql_stmt_result_metadata(st);
    if (!metadata) fail();
    const unsigned columns = mysql_num_fields(metadata);
    const MYSQL_FIELD* fields = mysql_fetch_fields(metadata);
    std::vector<TColumnBuffer> buffers(columns);
    std::vector<MYSQL_BIND> binds(columns);
    for (unsigned i = 0; i < columns; ++i) {
        MYSQL_BIND& b = binds[i];
        TColumnBuffer& col = buffers[i];
        b = MYSQL_BIND{};
        const size_t fixed = FixedSize(fields[i].type);
        col.Variable = fixed == 0;
        b.buffer_type = col.Variable ? MYSQL_TYPE_STRING : fields[i].type;
        col.Bytes.resize(col.Variable ? std::clamp<size_t>(fields[i].length, 1, 65536) : fixed);
        b.buffer = col.Bytes.data();
        b.buffer_length = col.Bytes.size();
        b.is_unsigned = (fields[i].flags & UNSIGNED_FLAG) != 0;
        b.length = &col.Length;
        b.is_null = &col.IsNull;
        b.error = &col.Error;
    }
    if (mysql_stmt_bind_result(st, binds.data()) != 0) fail();
    std::vector<uint8_t> large;
    for (;;) {
        const int rc = mysql_stmt_fetch(st);
        if (rc == MYSQL_NO_DATA) break;
        if (rc == 1) fail();
        ++r.Rows;
        for (unsigned i = 0; i < columns; ++i) {
            TColumnBuffer& col = buffers[i];
            if (col.IsNull) continue;
            const uint8_t* value = col.Bytes.data();
            uint64_t length = col.Variable ? col.Length : col.Bytes.size();
            if (col.Variable && col.Length > col.Bytes.size()) {
                // Truncated: the whole value by column.
                large.resize(col.Length);
                MYSQL_BIND whole{};
                whole.buffer_type = MYSQL_TYPE_STRING;
                whole.buffer = large.data();
                whole.buffer_length = large.size();
                if (mysql_stmt_fetch_column(st, &whole, i, 0) != 0) fail();
                value = large.data();
            }
            r.Bytes += length;
            r.Checksum += Touch(value, length);
        }
    }
    mysql_free_result(metadata);
    mysql_stmt_close(st);
    r.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return r;
}

}  // namespace

TBenchResult RunPeer(const TBenchOptions& o) {
    TPeerConnection c(o);
    return o.Prepared ? ReadPrepared(c, o.Query) : ReadText(c, o.Query);
}
