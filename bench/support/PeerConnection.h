#pragma once
// The peer side of the benchmarks: a libmariadb connection, and the buffer size of a column
// bound in its own type. Only the peer files include this (libmariadb's header defines names
// that our protocol layer defines too).

#include "BenchOptions.h"

#include <mysql.h>

#include <stdexcept>
#include <string>

struct TPeerConnection {
    explicit TPeerConnection(const TBenchOptions& o) {
        m = mysql_init(nullptr);
        const unsigned timeout = 30;
        mysql_options(m, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
        // The character set our client works in, so that the server converts the same for both.
        mysql_options(m, MYSQL_SET_CHARSET_NAME, o.Unicode ? "utf8mb4" : "latin1");
        if (!mysql_real_connect(m, o.Host.c_str(), o.User.c_str(), o.Password.c_str(), nullptr, o.Port, nullptr,
                                CLIENT_FOUND_ROWS))
            Fail();
    }
    ~TPeerConnection() { mysql_close(m); }
    TPeerConnection(const TPeerConnection&) = delete;
    TPeerConnection& operator=(const TPeerConnection&) = delete;
    [[noreturn]] void Fail() { throw std::runtime_error(std::to_string(mysql_errno(m)) + ": " + mysql_error(m)); }
    MYSQL* m;
};

// Bytes of a column bound in its own type; 0 for the types bound as strings.
inline size_t FixedSize(enum_field_types type) {
    switch (type) {
        case MYSQL_TYPE_TINY: return 1;
        case MYSQL_TYPE_SHORT:
        case MYSQL_TYPE_YEAR: return 2;
        case MYSQL_TYPE_LONG:
        case MYSQL_TYPE_INT24:
        case MYSQL_TYPE_FLOAT: return 4;
        case MYSQL_TYPE_LONGLONG:
        case MYSQL_TYPE_DOUBLE: return 8;
        case MYSQL_TYPE_DATE:
        case MYSQL_TYPE_TIME:
        case MYSQL_TYPE_DATETIME:
        case MYSQL_TYPE_TIMESTAMP: return sizeof(MYSQL_TIME);
        default: return 0;
    }
}
