#pragma once
// A connection to the test server through the client API, with small helpers that fail the
// running test on any error. For the integration tests of the protocol client.

#include "Packets.h"
#include "protocol/MySqlApiDirect.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace calvoro::test {

// The database the protocol client's integration tests work in.
inline constexpr const char* ProtocolTestDatabase = "calvoro_protocol";

class TApiConnection {
public:
    // Connects as the native-password account, with multi-statements, to db (created first
    // when it does not exist; empty: none). transport, when given, replaces the TCP
    // transport the session would open itself.
    explicit TApiConnection(const std::string& db = ProtocolTestDatabase,
                            std::unique_ptr<protocol::TCRVio> transport = nullptr);
    ~TApiConnection();
    TApiConnection(const TApiConnection&) = delete;
    TApiConnection& operator=(const TApiConnection&) = delete;

    // Runs sql and reads every result to its end; an error fails the test.
    void Exec(std::string_view sql);
    // The rows of the first result of sql as text (std::nullopt for NULL).
    std::vector<TTextRow> Rows(std::string_view sql);
    // The single value of sql.
    std::string Value(std::string_view sql);
    // Reads every row of res as text.
    std::vector<TTextRow> Fetch(protocol::PMYSQL_RES res);
    // mysql_real_query of sql; returns its status.
    int Query(std::string_view sql) { return api.mysql_real_query(con, sql.data(), sql.size()); }
    // "errno: error" of the connection, for failure messages.
    std::string Error();

    protocol::TMySQLAPIDirect api;
    protocol::PMYSQL_CON con = nullptr;
};

}  // namespace calvoro::test
