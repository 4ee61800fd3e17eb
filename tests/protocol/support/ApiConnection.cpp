#include "ApiConnection.h"

#include "support/TestServer.h"

#include <gtest/gtest.h>

namespace calvoro::test {

using namespace protocol;

TApiConnection::TApiConnection(const std::string& db, std::unique_ptr<TCRVio> transport) {
    const auto& server = Server();
    con = api.mysql_init(nullptr);
    const int connectTimeout = 15;
    api.mysql_options(con, MYSQL_OPT_CONNECT_TIMEOUT, &connectTimeout);
    api.SetTimeout(con, 120);
    if (transport) {
        con->net.SetVio(std::move(transport));
        con->protocolType = MYSQL_PROTOCOL_SOCKET;  // use the transport given
    }
    if (!api.mysql_real_connect(con, server.Host, server.NativeUser, server.NativePassword, "", unsigned(server.Port),
                                "", CLIENT_FOUND_ROWS | CLIENT_MULTI_STATEMENTS)) {
        ADD_FAILURE() << "connect: " << Error();
        return;
    }
    if (!db.empty()) {
        Exec("CREATE DATABASE IF NOT EXISTS " + db);
        EXPECT_EQ(api.mysql_select_db(con, db), 0) << Error();
    }
}

TApiConnection::~TApiConnection() { api.mysql_close(con); }

std::string TApiConnection::Error() { return std::to_string(api.mysql_errno(con)) + ": " + api.mysql_error(con); }

std::vector<TTextRow> TApiConnection::Fetch(PMYSQL_RES res) {
    std::vector<TTextRow> rows;
    const unsigned n = api.mysql_num_fields(res);
    while (PMYSQL_ROW row = api.mysql_fetch_row(res)) {
        TTextRow r;
        for (unsigned i = 0; i < n; ++i) {
            if (api._mysql_fetch_value_is_null(row, i))
                r.push_back(std::nullopt);
            else
                r.push_back(api._mysql_fetch_value_str(row, i));
        }
        rows.push_back(std::move(r));
    }
    EXPECT_EQ(api.mysql_errno(con), 0u) << Error();
    return rows;
}

void TApiConnection::Exec(std::string_view sql) {
    ASSERT_EQ(Query(sql), 0) << sql << ": " << Error();
    int next = 0;
    while (next == 0) {
        if (PMYSQL_RES res = api.mysql_use_result(con)) {
            Fetch(res);
            api.mysql_free_result(res);
        }
        next = api.mysql_next_result(con);
    }
    EXPECT_EQ(next, -1) << sql << ": " << Error();
}

std::vector<TTextRow> TApiConnection::Rows(std::string_view sql) {
    std::vector<TTextRow> rows;
    EXPECT_EQ(Query(sql), 0) << sql << ": " << Error();
    PMYSQL_RES res = api.mysql_use_result(con);
    if (!res) {
        ADD_FAILURE() << sql << ": no result set";
        return rows;
    }
    rows = Fetch(res);
    api.mysql_free_result(res);
    while (api.mysql_next_result(con) == 0)
        if (PMYSQL_RES more = api.mysql_use_result(con)) api.mysql_free_result(more);
    return rows;
}

std::string TApiConnection::Value(std::string_view sql) {
    const auto rows = Rows(sql);
    if (rows.size() != 1 || rows[0].empty()) {
        ADD_FAILURE() << sql << ": not a single value";
        return "(none)";
    }
    return rows[0][0].value_or("NULL");
}

}  // namespace calvoro::test
