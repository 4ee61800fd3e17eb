// The client API on canned bytes: the error convention, options and time-outs, column
// descriptions (including what only servers before 4.1 send), the value accessors, and the
// operations that the direct client refuses.
#include "protocol/MySqlApiDirect.h"
#include "support/MemoryVio.h"
#include "support/Packets.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace calvoro::protocol;
using namespace calvoro::test;

namespace {

// A connection handle made by mysql_init whose transport holds canned server bytes, as
// after a login.
struct TCannedConnection {
    explicit TCannedConnection(const Bytes& server, bool protocol41 = true) {
        con = api.mysql_init(nullptr);
        auto v = std::make_unique<TMemoryVio>(server);
        vio = v.get();
        con->net.SetVio(std::move(v));
        con->serverCapabilities = protocol41 ? 0xA20F : 0x200D;
        con->clientFlag = CLIENT_ALWAYS | CLIENT_FOUND_ROWS;
    }
    ~TCannedConnection() { api.mysql_close(con); }
    int Query(std::string_view sql) { return api.mysql_real_query(con, sql.data(), sql.size()); }
    TMySQLAPIDirect api;
    PMYSQL_CON con;
    TMemoryVio* vio;
};

const TColumnSpec Text{.Name = "txt", .Type = FIELD_TYPE_BLOB, .Flags = 0x10, .Length = 0xFFFFFFFF, .Charset = 33,
                       .OrgName = ""};
const TColumnSpec Name{.Name = "name", .Type = FIELD_TYPE_VAR_STRING, .Length = 40, .Decimals = 0, .Table = "t"};
const TColumnSpec Price{.Name = "price", .Type = FIELD_TYPE_NEWDECIMAL, .Flags = 0x1, .Length = 10, .Decimals = 2};

}  // namespace

TEST(MySqlApiDirect, LibraryAndOptions) {
    TMySQLAPIDirect api;
    EXPECT_EQ(api.mysql_get_client_info(), "4.1.3 Direct");
    api.CheckMySQLLib();
    EXPECT_EQ(api.FClientStructVer, cvDirect);
    EXPECT_EQ(api.FClientVer, "4.1.3 Direct");
    EXPECT_TRUE(api.LoadedMySQLLib());
    EXPECT_EQ(TMySQLAPI::CorrectFieldLen(65535), 65535u);
    EXPECT_EQ(TMySQLAPI::CorrectFieldLen(65536), 65535u);
    EXPECT_EQ(TMySQLAPI::CorrectFieldLen(0xFFFFFFFF), 65535u);
    EXPECT_EQ(TMySQLAPI::CorrectFieldLen(11), 11u);

    PMYSQL_CON con = api.mysql_init(nullptr);
    const int fifteen = 15, seven = 7, tcp = MYSQL_PROTOCOL_TCP, one = 1;
    EXPECT_EQ(api.mysql_options(con, MYSQL_OPT_CONNECT_TIMEOUT, &fifteen), 0);
    EXPECT_EQ(con->_connectTimeout, 15);
    EXPECT_EQ(api.mysql_options(con, MYSQL_OPT_WRITE_TIMEOUT, &seven), 0);
    EXPECT_EQ(con->commandTimeout, 7);
    EXPECT_EQ(api.mysql_options(con, MYSQL_OPT_NAMED_PIPE, nullptr), 0);
    EXPECT_EQ(con->protocolType, MYSQL_PROTOCOL_PIPE);
    EXPECT_EQ(api.mysql_options(con, MYSQL_OPT_PROTOCOL, &tcp), 0);
    EXPECT_EQ(con->protocolType, MYSQL_PROTOCOL_TCP);
    EXPECT_EQ(api.mysql_options(con, MYSQL_OPT_COMPRESS, &one), 0);
    EXPECT_EQ(api.mysql_options(con, MYSQL_SET_CHARSET_NAME, "utf8"), 0);
    EXPECT_EQ(con->clientFlag, 0u) << "compression is asked for through the client flags";
    EXPECT_EQ(api.mysql_ssl_set(con, "k", "c", "ca", "cp", "ci"), 0);
    EXPECT_EQ(con->protocolType, MYSQL_PROTOCOL_SSL);
    EXPECT_EQ(con->SSL_capath, "cp");

    api.SetTimeout(con, 0);
    EXPECT_EQ(con->commandTimeout, 31536000);
    api.SetTimeout(con, 30);
    EXPECT_EQ(con->commandTimeout, 30);
    api.FClientStructVer = cv4;
    api.SetTimeout(con, 5);
    EXPECT_EQ(con->commandTimeout, 30) << "only for the direct and 4.1 clients";
    api.mysql_close(con);
}

// max_allowed_packet on the handle: 1 GiB until set; a value outside the mariadb client's
// range is refused with the reason stored, and the limit in force stays.
TEST(MySqlApiDirect, MaxAllowedPacketOption) {
    TMySQLAPIDirect api;
    PMYSQL_CON con = api.mysql_init(nullptr);
    EXPECT_EQ(con->net.MaxAllowedPacket(), size_t(1) << 30);
    const struct {
        unsigned long bytes;
        size_t inForce;  // 0: refused
    } cases[] = {{4096, 4096}, {4095, 0}, {0, 0}, {1ul << 31, size_t(1) << 31}, {(1ul << 31) + 1, 0}, {65536, 65536}};
    size_t previous = con->net.MaxAllowedPacket();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        const int status = api.mysql_options(con, MYSQL_OPT_MAX_ALLOWED_PACKET, &c.bytes);
        if (c.inForce) {
            EXPECT_EQ(status, 0);
            EXPECT_EQ(con->net.MaxAllowedPacket(), c.inForce);
            previous = c.inForce;
            continue;
        }
        EXPECT_EQ(status, 1);
        EXPECT_EQ(api.mysql_errno(con), 2000u);
        EXPECT_EQ(api.mysql_error(con), "Unknown MySQL error\r\nmax_allowed_packet must be from 4096 to 2147483648 "
                                        "bytes, not " + std::to_string(c.bytes) + ".");
        EXPECT_EQ(con->net.MaxAllowedPacket(), previous);
    }
    api.mysql_close(con);
}

TEST(MySqlApiDirect, RefusedOperations) {
    TMySQLAPIDirect api;
    TMySQLAPI& base = api;
    TMySQLAPI abstract;
    const auto abstractError = [](const std::function<void()>& f) {
        try {
            f();
        } catch (const EAbstractError& e) {
            return e.Message();
        }
        return std::string("no exception");
    };
    EXPECT_EQ(abstractError([&] { base.mysql_stmt_execute(nullptr); }), "Abstract Error");
    EXPECT_EQ(abstractError([&] { base.mysql_stmt_bind_param(nullptr, nullptr); }), "Abstract Error");
    EXPECT_EQ(abstractError([&] { base.mysql_stmt_bind_result(nullptr, nullptr); }), "Abstract Error");
    EXPECT_EQ(abstractError([&] { base.mysql_stmt_fetch_column(nullptr, nullptr, 0, 0); }), "Abstract Error");
    EXPECT_EQ(abstractError([&] { base._mysql_stmt_bind_param(nullptr, {}); }), "Abstract Error");
    EXPECT_EQ(abstractError([&] { abstract.mysql_init(nullptr); }), "Abstract Error");
    EXPECT_EQ(abstractError([&] { abstract._mysql_fetch_row(nullptr); }), "Abstract Error") << "through mysql_fetch_row";
    EXPECT_TRUE(abstract.LoadedMySQLLib());

    EXPECT_THROW(api.mysql_fetch_field_direct(nullptr, 0), EInternalError);
    EXPECT_THROW(api.mysql_fetch_lengths(nullptr), EInternalError);
    EXPECT_THROW(api.mysql_server_init(0, nullptr, nullptr), EInternalError);
    EXPECT_THROW(api.mysql_server_end(), EInternalError);
    EXPECT_THROW(api.mysql_stmt_fetch(nullptr), EInternalError);
    EXPECT_THROW(api._mysql_stmt_fetch_column(nullptr, 0, nullptr), EInternalError);
    EXPECT_THROW(api.mysql_stmt_send_long_data(nullptr, 0, "", 0), EInternalError);
    EXPECT_THROW(api.mysql_stmt_param_metadata(nullptr), EInternalError);

    // Nil handles are internal errors, not stored errors; only the two calls that release a
    // handle take nil, as the C client's do, so that cleanup code may call them unchecked.
    const struct {
        const char* name;
        std::function<void()> call;
        bool raises;
    } nilHandles[] = {
        {"mysql_real_query", [&] { api.mysql_real_query(nullptr, "x", 1); }, true},
        {"mysql_errno", [&] { api.mysql_errno(nullptr); }, true},
        {"mysql_fetch_row", [&] { api.mysql_fetch_row(nullptr); }, true},
        {"mysql_stmt_init", [&] { api.mysql_stmt_init(nullptr); }, true},
        {"_mysql_fetch_value_is_null", [&] { api._mysql_fetch_value_is_null(nullptr, 0); }, true},
        {"mysql_options", [&] { api.mysql_options(nullptr, MYSQL_OPT_CONNECT_TIMEOUT, nullptr); }, true},
        {"mysql_close", [&] { api.mysql_close(nullptr); }, false},
        {"mysql_free_result", [&] { api.mysql_free_result(nullptr); }, false},
    };
    for (const auto& h : nilHandles) {
        bool raised = false;
        try {
            h.call();
        } catch (const EInternalError&) {
            raised = true;
        }
        EXPECT_EQ(raised, h.raises) << h.name;
    }

    PMYSQL_CON con = api.mysql_init(nullptr);
    EXPECT_THROW(api.mysql_character_set_name(con), EProtocolError);
    api.mysql_close(con);
}

// A result's columns as the data-access layer sees them: OrgName falls back to Name, the
// display length is capped at 65535.
TEST(MySqlApiDirect, FieldDescriptions) {
    TCannedConnection c(Packets(1, {{3}, ColumnDef(Text), ColumnDef(Name), ColumnDef(Price), Eof(), Eof()}));
    EXPECT_EQ(c.Query("SELECT txt, name, price FROM t"), 0);
    EXPECT_EQ(c.api.mysql_field_count(c.con), 3u);
    PMYSQL_RES res = c.api.mysql_use_result(c.con);
    ASSERT_NE(res, nullptr);
    EXPECT_EQ(c.api.mysql_num_fields(res), 3u);
    const TMYSQL_FIELD txt = c.api._mysql_fetch_field_direct(res, 0, true);
    EXPECT_EQ(txt.Name, "txt");
    EXPECT_EQ(txt.OrgName, "txt");
    EXPECT_EQ(txt.Table, "t");
    EXPECT_EQ(txt._type, FIELD_TYPE_BLOB);
    EXPECT_EQ(txt.LengthInBytes, 65535u);
    EXPECT_EQ(txt.CharsetNr, 33);
    EXPECT_EQ(txt.Flags, 0x10u);
    const TMYSQL_FIELD name = c.api._mysql_fetch_field_direct(res, 1, true);
    EXPECT_EQ(name.OrgName, "c");
    EXPECT_EQ(name.LengthInBytes, 40u) << "4.1 servers announce bytes";
    const TMYSQL_FIELD price = c.api._mysql_fetch_field_direct(res, 2, false);
    EXPECT_EQ(price.Decimals, 2u);
    EXPECT_EQ(price.Flags, 0x1u);
    EXPECT_THROW(c.api._mysql_fetch_field_direct(res, 3, false), EInternalError);
    EXPECT_EQ(c.api.mysql_fetch_row(res), nullptr);
    EXPECT_EQ(c.api.mysql_errno(c.con), 0u);
    c.api.mysql_free_result(res);
}

// Servers before 4.1 announce characters: with Unicode, character columns of a table take
// three bytes per character; computed columns and other types do not.
TEST(MySqlApiDirect, FieldLengthsOfOldServersInUnicode) {
    const TColumnSpec computed{.Name = "x", .Length = 10, .Table = ""};
    const TColumnSpec number{.Name = "n", .Type = FIELD_TYPE_LONG, .Length = 10};
    const TColumnSpec fixed{.Name = "f", .Type = FIELD_TYPE_STRING, .Length = 10};
    TCannedConnection c(Packets(1, {{4}, ColumnDefOld(Name, true), ColumnDefOld(computed, true),
                                    ColumnDefOld(number, true), ColumnDefOld(fixed, true), Eof()}),
                        false);
    ASSERT_EQ(c.Query("SELECT ..."), 0);
    PMYSQL_RES res = c.api.mysql_use_result(c.con);
    ASSERT_NE(res, nullptr);
    EXPECT_EQ(c.api._mysql_fetch_field_direct(res, 0, true).LengthInBytes, 120u);
    EXPECT_EQ(c.api._mysql_fetch_field_direct(res, 0, false).LengthInBytes, 40u);
    EXPECT_EQ(c.api._mysql_fetch_field_direct(res, 1, true).LengthInBytes, 10u);
    EXPECT_EQ(c.api._mysql_fetch_field_direct(res, 2, true).LengthInBytes, 10u);
    EXPECT_EQ(c.api._mysql_fetch_field_direct(res, 3, true).LengthInBytes, 30u);
    c.api.mysql_close(c.con);  // the current result is detached and can still be freed
    c.con = nullptr;
    c.api.mysql_free_result(res);
}

TEST(MySqlApiDirect, ValueAccessors) {
    TCannedConnection c(Packets(1, {{3}, ColumnDef(Name), ColumnDef(Name), ColumnDef(Name), Eof(),
                                    TextRow({std::nullopt, "hello", ""}), Eof()}));
    ASSERT_EQ(c.Query("SELECT"), 0);
    PMYSQL_RES res = c.api.mysql_use_result(c.con);
    PMYSQL_ROW row = c.api._mysql_fetch_row(res);
    ASSERT_NE(row, nullptr);
    TLenArr lengths;
    c.api._mysql_fetch_lengths(res, lengths);
    EXPECT_EQ(lengths, (TLenArr{0, 5, 0}));
    EXPECT_TRUE(c.api._mysql_fetch_value_is_null(row, 0));
    EXPECT_FALSE(c.api._mysql_fetch_value_is_null(row, 2));
    EXPECT_EQ(c.api._mysql_fetch_value_ptr(res, row, 0), nullptr);
    const uint8_t* p = c.api._mysql_fetch_value_ptr(res, row, 1);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), 5), "hello");
    EXPECT_NE(c.api._mysql_fetch_value_ptr(res, row, 2), nullptr) << "empty is not NULL";
    uint32_t offset = 0;
    const uint8_t* bytes = c.api._mysql_fetch_value_arr(row, 1, offset);
    EXPECT_EQ(bytes + offset, p);
    EXPECT_EQ(c.api._mysql_fetch_value_str(row, 1), "hello");
    EXPECT_EQ(c.api._mysql_fetch_value_str(row, 0), "");

    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    c.api._mysql_fetch_value_to_str(row, 1, 5, 2, buffer);
    EXPECT_EQ(std::string(buffer), "##hello");
    std::memset(buffer, '#', sizeof buffer);
    c.api._mysql_fetch_value_to_str(row, 1, 5, buffer);
    EXPECT_EQ(std::string(buffer), "hello");
    std::memset(buffer, '#', sizeof buffer);
    c.api._mysql_fetch_value_to_str(row, 0, 0, buffer);
    EXPECT_EQ(buffer[0], '#') << "nothing for NULL";
    c.api._mysql_fetch_value_to_str(row, 0, 0, 3, buffer);
    EXPECT_EQ(buffer[3], '\0') << "with an offset the NUL is always written";
    uint8_t raw[16];
    std::memset(raw, 0, sizeof raw);
    c.api._mysql_fetch_value_to_buff(row, 1, 3, raw);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(raw)), "hel");
    c.api._mysql_fetch_value_to_buff(row, 1, 99, 4, raw);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(raw + 4)), "hello") << "never more than the value";
    EXPECT_THROW(c.api._mysql_fetch_value_is_null(row, 3), EInternalError);

    EXPECT_EQ(c.api.mysql_fetch_row(res), nullptr);
    EXPECT_THROW(c.api._mysql_fetch_value_ptr(res, row, 1), EInternalError) << "no current row";
    c.api.mysql_free_result(res);
}

// Errors are stored in the handle and the next operation clears them; an error packet
// instead of a row ends the result.
TEST(MySqlApiDirect, ErrorConvention) {
    TCannedConnection c(Cat({Frame(1, ErrorPacket(1146, "42S02", "Table 'd.x' doesn't exist")), Frame(1, OkPacket()),
                             Packets(1, {{1}, ColumnDef(Name), Eof(), TextRow({"a"}),
                                         ErrorPacket(1317, "70100", "Query execution was interrupted")}),
                             Frame(1, Hex("00 00 00 02 00 00 00"))}));
    EXPECT_EQ(c.Query("SELECT * FROM x"), 1146);
    EXPECT_EQ(c.api.mysql_errno(c.con), 1146u);
    EXPECT_EQ(c.api.mysql_error(c.con), "\r\nTable 'd.x' doesn't exist");
    EXPECT_EQ(c.api.mysql_sqlstate(c.con), "42S02");
    EXPECT_EQ(c.api.mysql_use_result(c.con), nullptr);
    EXPECT_EQ(c.api.mysql_errno(c.con), 1146u) << "mysql_use_result leaves the error as it is";
    EXPECT_EQ(c.api.mysql_ping(c.con), 0);
    EXPECT_EQ(c.api.mysql_errno(c.con), 0u);
    EXPECT_EQ(c.api.mysql_error(c.con), "");
    EXPECT_EQ(c.api.mysql_sqlstate(c.con), "00000");

    ASSERT_EQ(c.Query("SELECT"), 0);
    PMYSQL_RES res = c.api.mysql_use_result(c.con);
    EXPECT_EQ(c.api.mysql_use_result(c.con), nullptr) << "the field list was taken";
    EXPECT_EQ(c.api.mysql_errno(c.con), 0u);
    EXPECT_NE(c.api.mysql_fetch_row(res), nullptr);
    EXPECT_EQ(c.api.mysql_next_result(c.con), 2014);
    EXPECT_EQ(c.api.mysql_error(c.con), "Commands out of sync;  You can't run this command now\r\nmysql.status = 2");
    EXPECT_EQ(c.api.mysql_sqlstate(c.con), "HY000") << "a client error";
    EXPECT_EQ(c.api.mysql_fetch_row(res), nullptr);
    EXPECT_EQ(c.api.mysql_errno(c.con), 1317u);
    EXPECT_EQ(c.con->status, msReady) << "no more results announced";
    EXPECT_EQ(c.api.mysql_fetch_row(res), nullptr) << "the result is over";
    c.api.mysql_free_result(res);
    EXPECT_EQ(c.api.mysql_next_result(c.con), -1);
    EXPECT_EQ(c.api.mysql_affected_rows(c.con), -1);
    EXPECT_EQ(c.Query("DO 1"), 0);
    EXPECT_EQ(c.api.mysql_use_result(c.con), nullptr) << "no result set";
    EXPECT_EQ(c.api.mysql_errno(c.con), 0u);
}

TEST(MySqlApiDirect, KillSendsTheId) {
    TCannedConnection c(Frame(1, OkPacket()));
    EXPECT_EQ(c.api.mysql_kill(c.con, 0x01020304), 0);
    EXPECT_EQ(Frames(c.vio->Output)[0].Payload, Hex("0c 04 03 02 01"));
}

// Freeing a result drains its unread rows; a drain that fails leaves its error in the
// connection handle, where the caller looks for it.
TEST(MySqlApiDirect, FailedDrainIsStored) {
    const Bytes head = Packets(1, {{1}, ColumnDef(Name), Eof(), TextRow({"a"})});
    struct Case {
        const char* name;
        Bytes rest;  // what follows the first row
        unsigned code;
        std::string message, sqlState;
    } cases[] = {
        {"error packet instead of a row", Frame(5, ErrorPacket(1317, "70100", "interrupted")), 1317,
         "\r\ninterrupted", "70100"},
        {"connection lost", Hex("05 00 00"), 2013, "Lost connection to MySQL server during query", "HY000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TCannedConnection t(Cat({head, c.rest}));
        ASSERT_EQ(t.Query("SELECT name FROM t"), 0);
        PMYSQL_RES res = t.api.mysql_use_result(t.con);
        ASSERT_NE(res, nullptr);
        t.api.mysql_free_result(res);
        EXPECT_EQ(t.api.mysql_errno(t.con), c.code);
        EXPECT_EQ(t.api.mysql_error(t.con).substr(0, c.message.size()), c.message);
        EXPECT_EQ(t.api.mysql_sqlstate(t.con), c.sqlState);
    }

    // A drain that works leaves the connection without an error.
    TCannedConnection fine(Cat({head, Frame(5, Eof())}));
    ASSERT_EQ(fine.Query("SELECT name FROM t"), 0);
    fine.api.mysql_free_result(fine.api.mysql_use_result(fine.con));
    EXPECT_EQ(fine.api.mysql_errno(fine.con), 0u);
}

// A connect that fails leaves the handle alive with the error stored.
TEST(MySqlApiDirect, FailedConnect) {
    TMySQLAPIDirect api;
    PMYSQL_CON con = api.mysql_init(nullptr);
    EXPECT_EQ(api.mysql_real_connect(con, "127.0.0.1", "u", "p", "", 1, "", 0), nullptr);
    EXPECT_EQ(api.mysql_errno(con), 2003u);
    EXPECT_EQ(api.mysql_error(con), "Can't connect to MySQL server on '127.0.0.1' (111: Connection refused)");
    EXPECT_EQ(api.mysql_sqlstate(con), "HY000");
    api.mysql_close(con);
}

// Binary rows through the statement operations: binds are renewed per row without being
// allocated again; an error instead of a row is stored in the statement.
TEST(MySqlApiDirect, StatementRows) {
    const TColumnSpec number{.Name = "n", .Type = FIELD_TYPE_LONGLONG, .Length = 20};
    TCannedConnection c(Cat({Packets(1, {Cat({{0}, LE(1, 4), LE(2, 2), LE(0, 2), {0}, LE(0, 2)}), ColumnDef(number),
                                         ColumnDef(Name), Eof()}),
                             Packets(1, {{2}, ColumnDef(number), ColumnDef(Name), Eof(),
                                         Cat({{0, 0}, LE(42, 8), LenEnc("x")}), Cat({{0, 0x08}, LE(43, 8)}),
                                         ErrorPacket(1317, "70100", "interrupted")})}));
    PMYSQL_STMT st = c.api.mysql_stmt_init(c.con);
    const std::string sql = "SELECT n, name FROM t";
    ASSERT_EQ(c.api.mysql_stmt_prepare(st, sql.data(), sql.size()), 0);
    EXPECT_EQ(c.api.mysql_stmt_field_count(st), 2u);
    EXPECT_EQ(c.api.mysql_stmt_param_count(st), 0u);
    EXPECT_EQ(c.api._mysql_fetch_field_direct(c.api.mysql_stmt_result_metadata(st), 1, false).Name, "name");
    ASSERT_EQ(c.api._mysql_stmt_execute(st, {}, false), 0);
    EXPECT_EQ(c.api.mysql_stmt_affected_rows(st), 0);

    PMYSQL_ROW row = nullptr;
    ASSERT_EQ(c.api._mysql_stmt_bind_result(st), 0);
    ASSERT_EQ(c.api._mysql_stmt_fetch(st, row), 0);
    const PMYSQL_ROW first = row;
    TLenArr lengths;
    c.api._mysql_stmt_fetch_lengths(row, lengths);
    EXPECT_EQ(lengths, (TLenArr{8, 1}));
    EXPECT_EQ(*c.api._mysql_stmt_fetch_value_ptr(st, 0), 42);
    uint32_t offset;
    EXPECT_EQ(c.api._mysql_fetch_value_arr(row, 1, offset)[offset], 'x');

    ASSERT_EQ(c.api._mysql_stmt_bind_result(st), 0);
    ASSERT_EQ(c.api._mysql_stmt_fetch(st, row), 0);
    EXPECT_EQ(row, first) << "the binds were reused";
    EXPECT_TRUE(c.api._mysql_fetch_value_is_null(row, 1));
    EXPECT_EQ(c.api._mysql_stmt_fetch_value_ptr(st, 1), nullptr) << "fresh binds: NULL has no value";

    EXPECT_EQ(c.api._mysql_stmt_fetch(st, row), 1317);
    EXPECT_EQ(c.api.mysql_stmt_errno(st), 1317u);
    EXPECT_EQ(c.api.mysql_stmt_error(st), "\r\ninterrupted");
    EXPECT_EQ(c.api.mysql_stmt_sqlstate(st), "70100");
    EXPECT_EQ(c.api.mysql_errno(c.con), 0u) << "statement errors stay with the statement";
    EXPECT_EQ(c.con->status, msReady);
    EXPECT_EQ(c.api.mysql_stmt_close(st), 0);
}
