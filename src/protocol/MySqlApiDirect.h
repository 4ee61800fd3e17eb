#pragma once
// The client API through which the data-access layer reaches the protocol client. The
// operations carry the names of the MySQL C client API and work on handles:
//
//   connection  PMYSQL_CON   mysql_init … mysql_close          (a TMySqlSession)
//   result      PMYSQL_RES   mysql_use_result … mysql_free_result (a TMySqlResultSet)
//   row         PMYSQL_ROW   from mysql_fetch_row / _mysql_stmt_fetch; valid until the next
//                            fetch or any other command on the connection (a TMySqlBinds)
//   statement   PMYSQL_STMT  mysql_stmt_init … mysql_stmt_close  (a TMySqlStmt)
//
// Error convention: an operation that talks to the server first clears the handle's error
// (mysql_errno 0, mysql_error empty, mysql_sqlstate "00000"), then runs; an EMySqlException
// is caught, its number, text and SQLSTATE are stored in the handle (the connection's, or the statement's for the
// mysql_stmt_* operations), and the operation returns the error number (integer results),
// nil (handle results) or an empty string. Any other exception (an internal error, a
// transport failure of the operating system, a local file that cannot be read) passes
// through. A nil handle is an internal error (EInternalError).
//
// Text query, in the order the data-access layer calls it:
//   con = mysql_init(nullptr); mysql_options(con, MYSQL_OPT_CONNECT_TIMEOUT, &seconds);
//   mysql_real_connect(con, host, user, password, db, port, "", CLIENT_FOUND_ROWS | CLIENT_MULTI_STATEMENTS)
//   SetTimeout(con, commandSeconds); mysql_real_query(con, sql, length)
//   mysql_field_count(con) == 0: mysql_affected_rows(con); otherwise
//     res = mysql_use_result(con); mysql_num_fields(res); _mysql_fetch_field_direct(res, i, unicode)
//     while (row = mysql_fetch_row(res)): _mysql_fetch_lengths(res, lengths),
//       _mysql_fetch_value_is_null(row, i), _mysql_fetch_value_ptr(res, row, i) …
//     mysql_free_result(res)   (drains unread rows)
//   while (mysql_more_results(con) && mysql_next_result(con) == 0): the next result as above
//   mysql_close(con)           (results and statements must be freed before)
// A NULL from mysql_fetch_row with mysql_errno(con) == 0 is the end of the rows.
//
// Prepared statement:
//   st = mysql_stmt_init(con); mysql_stmt_prepare(st, sql, length)
//   mysql_stmt_field_count(st); _mysql_fetch_field_direct(mysql_stmt_result_metadata(st), i, unicode)
//   _mysql_stmt_execute(st, params, unicode); mysql_stmt_affected_rows(st)
//   per row: _mysql_stmt_bind_result(st); _mysql_stmt_fetch(st, row) until 100;
//     _mysql_stmt_fetch_lengths(row, lengths), _mysql_fetch_value_is_null(row, i),
//     _mysql_fetch_value_arr(row, i, offset) or _mysql_stmt_fetch_value_ptr(st, i)
//   or mysql_stmt_free_result(st) to skip the rows; execute again …; mysql_stmt_close(st)
// Binary values are little-endian integers of their column's width, IEEE doubles and floats,
// length-prefixed dates and times, and text for decimals (see MySqlRowFormat.h).

#include "MySqlResultSet.h"
#include "MySqlSession.h"
#include "MySqlStmt.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace calvoro::protocol {

using PMYSQL_CON = TMySqlSession*;
using PMYSQL_RES = TMySqlResultSet*;
using PMYSQL_ROW = TMySqlBinds*;
using PMYSQL_STMT = TMySqlStmt*;

enum TClientStructVer { cvDirect, cv3, cv4, cv410, cv411 };

// Option numbers of mysql_options.
enum TMySqlOption {
    MYSQL_OPT_CONNECT_TIMEOUT, MYSQL_OPT_COMPRESS, MYSQL_OPT_NAMED_PIPE, MYSQL_INIT_COMMAND,
    MYSQL_READ_DEFAULT_FILE, MYSQL_READ_DEFAULT_GROUP, MYSQL_SET_CHARSET_DIR, MYSQL_SET_CHARSET_NAME,
    MYSQL_OPT_LOCAL_INFILE, MYSQL_OPT_PROTOCOL, MYSQL_SHARED_MEMORY_BASE_NAME, MYSQL_OPT_READ_TIMEOUT,
    MYSQL_OPT_WRITE_TIMEOUT, MYSQL_OPT_USE_RESULT, MYSQL_OPT_USE_REMOTE_CONNECTION,
    MYSQL_OPT_USE_EMBEDDED_CONNECTION, MYSQL_OPT_GUESS_CONNECTION, MYSQL_SET_CLIENT_IP, MYSQL_SECURE_AUTH,
    // TLS and the server's public key (value: an int TSslMode; texts; an int 0 or 1).
    MYSQL_OPT_SSL_MODE, MYSQL_OPT_SSL_KEY, MYSQL_OPT_SSL_CERT, MYSQL_OPT_SSL_CA, MYSQL_OPT_SSL_CAPATH,
    MYSQL_OPT_SSL_CIPHER, MYSQL_SERVER_PUBLIC_KEY, MYSQL_OPT_GET_SERVER_PUBLIC_KEY,
    // The largest packet the client accepts (value: an unsigned long, as in the C client).
    MYSQL_OPT_MAX_ALLOWED_PACKET,
};

// A result column as the data-access layer sees it.
struct TMYSQL_FIELD {
    std::string Name;
    std::string OrgName;   // the column name when the server sent none
    std::string Table;
    std::string OrgTable;
    std::string Database;  // the table's database (empty before 4.1)
    uint32_t Flags = 0;
    TMySqlFieldType _type = 0;
    uint32_t LengthInBytes = 0;  // at most 65535 (CorrectFieldLen)
    int32_t CharsetNr = 0;
    uint32_t Decimals = 0;
};

using TLenArr = std::vector<uint32_t>;

// What the operations of the base class raise: they exist for implementations over an
// external client library, which this program does not have.
class EAbstractError : public EProtocolError {
public:
    EAbstractError() : EProtocolError("Abstract Error") {}
};

// The interface. Every operation of the base raises EAbstractError, except LoadedMySQLLib
// (true), LoadMySQLLib and FreeMySQLLib (nothing), _mysql_fetch_row (mysql_fetch_row) and
// _mysql_stmt_bind_param (mysql_stmt_bind_param).
class TMySQLAPI {
public:
    virtual ~TMySQLAPI() = default;

    // Connection and information.
    virtual unsigned mysql_num_fields(PMYSQL_RES res);
    virtual TMYSQL_FIELD mysql_fetch_field_direct(PMYSQL_RES res, unsigned index);
    virtual unsigned mysql_field_count(PMYSQL_CON con);
    virtual int64_t mysql_affected_rows(PMYSQL_CON con);
    virtual int64_t mysql_insert_id(PMYSQL_CON con);
    virtual unsigned mysql_errno(PMYSQL_CON con);
    virtual std::string mysql_error(PMYSQL_CON con);
    // The SQLSTATE of the last error: the server's, "HY000" for a client error, "00000"
    // without an error.
    virtual std::string mysql_sqlstate(PMYSQL_CON con);
    virtual std::string mysql_info(PMYSQL_CON con);
    virtual unsigned long mysql_thread_id(PMYSQL_CON con);
    virtual std::string mysql_character_set_name(PMYSQL_CON con);
    virtual PMYSQL_CON mysql_init(PMYSQL_CON ignored);
    virtual int mysql_ssl_set(PMYSQL_CON con, const std::string& key, const std::string& cert, const std::string& ca,
                              const std::string& capath, const std::string& cipher);
    virtual PMYSQL_CON mysql_real_connect(PMYSQL_CON con, const std::string& host, const std::string& user,
                                          const std::string& passwd, const std::string& db, unsigned port,
                                          const std::string& unix_socket, uint32_t clientflag);
    virtual void mysql_close(PMYSQL_CON con);
    virtual int mysql_select_db(PMYSQL_CON con, const std::string& db);
    virtual int mysql_real_query(PMYSQL_CON con, const char* text, size_t length);
    virtual int mysql_kill(PMYSQL_CON con, uint32_t id);
    virtual int mysql_ping(PMYSQL_CON con);
    virtual std::string mysql_get_server_info(PMYSQL_CON con);
    virtual std::string mysql_get_client_info();
    virtual std::string mysql_get_host_info(PMYSQL_CON con);
    // The cipher of a connection that runs over TLS; empty otherwise.
    virtual std::string mysql_get_ssl_cipher(PMYSQL_CON con);
    virtual PMYSQL_RES mysql_use_result(PMYSQL_CON con);
    // value points at an int for the numeric options, at a NUL-terminated text otherwise.
    virtual int mysql_options(PMYSQL_CON con, TMySqlOption option, const void* value);
    virtual void mysql_free_result(PMYSQL_RES res);
    virtual PMYSQL_ROW mysql_fetch_row(PMYSQL_RES res);
    virtual const uint32_t* mysql_fetch_lengths(PMYSQL_RES res);
    virtual int mysql_server_init(int argc, char** argv, char** groups);
    virtual void mysql_server_end();

    // Prepared statements.
    virtual PMYSQL_STMT mysql_stmt_init(PMYSQL_CON con);
    virtual int mysql_stmt_prepare(PMYSQL_STMT stmt, const char* text, size_t length);
    virtual int mysql_stmt_execute(PMYSQL_STMT stmt);
    virtual unsigned mysql_stmt_param_count(PMYSQL_STMT stmt);
    virtual int mysql_stmt_bind_param(PMYSQL_STMT stmt, void* bind);
    virtual int mysql_stmt_bind_result(PMYSQL_STMT stmt, void* bind);
    virtual unsigned mysql_stmt_field_count(PMYSQL_STMT stmt);
    virtual int mysql_stmt_close(PMYSQL_STMT stmt);
    virtual int mysql_stmt_free_result(PMYSQL_STMT stmt);
    virtual unsigned mysql_stmt_errno(PMYSQL_STMT stmt);
    virtual std::string mysql_stmt_error(PMYSQL_STMT stmt);
    virtual std::string mysql_stmt_sqlstate(PMYSQL_STMT stmt);
    virtual int mysql_stmt_fetch(PMYSQL_STMT stmt);
    virtual int mysql_stmt_fetch_column(PMYSQL_STMT stmt, void* bind, unsigned column, unsigned long offset);
    virtual int mysql_stmt_send_long_data(PMYSQL_STMT stmt, unsigned param, const char* data, size_t length);
    virtual PMYSQL_RES mysql_stmt_result_metadata(PMYSQL_STMT stmt);
    virtual PMYSQL_RES mysql_stmt_param_metadata(PMYSQL_STMT stmt);
    virtual int64_t mysql_stmt_affected_rows(PMYSQL_STMT stmt);

    // Multiple results.
    virtual bool mysql_more_results(PMYSQL_CON con);
    virtual int mysql_next_result(PMYSQL_CON con);

    // The client library.
    virtual bool LoadedMySQLLib();
    virtual void LoadMySQLLib();
    virtual void FreeMySQLLib();
    virtual void CheckMySQLLib();

    // Rows and values without copying.
    virtual TMYSQL_FIELD _mysql_fetch_field_direct(PMYSQL_RES res, unsigned index, bool unicode);
    virtual PMYSQL_ROW _mysql_fetch_row(PMYSQL_RES res);
    virtual int _mysql_stmt_fetch(PMYSQL_STMT stmt, PMYSQL_ROW& row);
    virtual void _mysql_fetch_lengths(PMYSQL_RES res, TLenArr& lengths);
    virtual bool _mysql_fetch_value_is_null(PMYSQL_ROW row, unsigned index);
    virtual const uint8_t* _mysql_fetch_value_ptr(PMYSQL_RES res, PMYSQL_ROW row, unsigned index);
    virtual void _mysql_fetch_value_to_buff(PMYSQL_ROW row, unsigned index, uint32_t length, uint32_t offset,
                                            uint8_t* buffer);
    virtual void _mysql_fetch_value_to_buff(PMYSQL_ROW row, unsigned index, uint32_t length, uint8_t* buffer);
    virtual void _mysql_fetch_value_to_str(PMYSQL_ROW row, unsigned index, uint32_t length, uint32_t offset,
                                           char* buffer);
    virtual void _mysql_fetch_value_to_str(PMYSQL_ROW row, unsigned index, uint32_t length, char* buffer);
    virtual const uint8_t* _mysql_fetch_value_arr(PMYSQL_ROW row, unsigned index, uint32_t& offset);
    virtual std::string _mysql_fetch_value_str(PMYSQL_ROW row, unsigned index);
    virtual int _mysql_stmt_execute(PMYSQL_STMT stmt, const TParamDescs& params, bool unicode);
    virtual int _mysql_stmt_bind_param(PMYSQL_STMT stmt, const TParamDescs& params);
    virtual int _mysql_stmt_bind_result(PMYSQL_STMT stmt, void* ignored = nullptr);
    virtual int _mysql_stmt_fetch_column(PMYSQL_STMT stmt, unsigned column, void* bind);
    virtual void _mysql_stmt_fetch_lengths(PMYSQL_ROW row, TLenArr& lengths);
    virtual const uint8_t* _mysql_stmt_fetch_value_ptr(PMYSQL_STMT stmt, unsigned index);

    // The command time-out (seconds; 0: one year) as read and write time-out of con.
    void SetTimeout(PMYSQL_CON con, int seconds);
    // A display length as a field length: n below 65536, else 65535.
    static uint32_t CorrectFieldLen(uint32_t n) { return n < 65536 ? n : 65535; }

    std::string FClientVer;
    TClientStructVer FClientStructVer = cvDirect;
};

// The API over the built-in protocol client; one object serves every connection.
class TMySQLAPIDirect : public TMySQLAPI {
public:
    static constexpr const char* ClientInfo = "4.1.3 Direct";

    unsigned mysql_num_fields(PMYSQL_RES res) override;
    TMYSQL_FIELD mysql_fetch_field_direct(PMYSQL_RES res, unsigned index) override;  // refused
    unsigned mysql_field_count(PMYSQL_CON con) override;
    int64_t mysql_affected_rows(PMYSQL_CON con) override;
    int64_t mysql_insert_id(PMYSQL_CON con) override;
    unsigned mysql_errno(PMYSQL_CON con) override;
    std::string mysql_error(PMYSQL_CON con) override;
    std::string mysql_sqlstate(PMYSQL_CON con) override;
    std::string mysql_info(PMYSQL_CON con) override;
    unsigned long mysql_thread_id(PMYSQL_CON con) override;
    std::string mysql_character_set_name(PMYSQL_CON con) override;  // not supported
    // A new connection handle; free it with mysql_close, also after a failed connect.
    PMYSQL_CON mysql_init(PMYSQL_CON ignored) override;
    int mysql_ssl_set(PMYSQL_CON con, const std::string& key, const std::string& cert, const std::string& ca,
                      const std::string& capath, const std::string& cipher) override;
    // con on success; nil with the error stored in con.
    PMYSQL_CON mysql_real_connect(PMYSQL_CON con, const std::string& host, const std::string& user,
                                  const std::string& passwd, const std::string& db, unsigned port,
                                  const std::string& unix_socket, uint32_t clientflag) override;
    // Sends quit, closes and frees con; the current unbuffered result is detached.
    void mysql_close(PMYSQL_CON con) override;
    int mysql_select_db(PMYSQL_CON con, const std::string& db) override;
    // Sends the first length bytes of text as they are and reads the answer.
    int mysql_real_query(PMYSQL_CON con, const char* text, size_t length) override;
    int mysql_kill(PMYSQL_CON con, uint32_t id) override;
    int mysql_ping(PMYSQL_CON con) override;
    std::string mysql_get_server_info(PMYSQL_CON con) override;
    std::string mysql_get_client_info() override;
    std::string mysql_get_host_info(PMYSQL_CON con) override;
    // "TLSv1.3, TLS_AES_256_GCM_SHA384" on a connection that runs over TLS; empty otherwise.
    std::string mysql_get_ssl_cipher(PMYSQL_CON con) override;
    // The pending result as an unbuffered result handle (free it with mysql_free_result);
    // nil without error when the last answer had no result set or it was taken already.
    // Error 2014 (with "mysql.status = " and the status) when rows are still being read.
    PMYSQL_RES mysql_use_result(PMYSQL_CON con) override;
    // Connect time-out, read/write time-out (the same command time-out), protocol, named
    // pipe, the TLS options, the server's public key and max_allowed_packet; every other
    // option is accepted and ignored. An unknown ssl mode is refused with 1; so is a
    // max_allowed_packet out of range, with the error stored in con.
    int mysql_options(PMYSQL_CON con, TMySqlOption option, const void* value) override;
    // The range of max_allowed_packet (bytes), as the mariadb client allows it.
    static constexpr unsigned long MinMaxAllowedPacket = 4096;
    static constexpr unsigned long MaxMaxAllowedPacket = 1ul << 31;
    // Drains the result's unread rows and frees it. A failed drain is stored in the
    // result's connection (mysql_errno), which is then out of step: close it. Do not free
    // mysql_stmt_result_metadata.
    void mysql_free_result(PMYSQL_RES res) override;
    // The next row or nil at the end (or on an error, stored in the connection).
    PMYSQL_ROW mysql_fetch_row(PMYSQL_RES res) override;
    const uint32_t* mysql_fetch_lengths(PMYSQL_RES res) override;  // refused
    int mysql_server_init(int argc, char** argv, char** groups) override;  // refused
    void mysql_server_end() override;  // refused

    PMYSQL_STMT mysql_stmt_init(PMYSQL_CON con) override;
    int mysql_stmt_prepare(PMYSQL_STMT stmt, const char* text, size_t length) override;
    unsigned mysql_stmt_param_count(PMYSQL_STMT stmt) override;
    unsigned mysql_stmt_field_count(PMYSQL_STMT stmt) override;
    // Frees the statement, which closes it on the server; returns 0.
    int mysql_stmt_close(PMYSQL_STMT stmt) override;
    int mysql_stmt_free_result(PMYSQL_STMT stmt) override;
    unsigned mysql_stmt_errno(PMYSQL_STMT stmt) override;
    std::string mysql_stmt_error(PMYSQL_STMT stmt) override;
    std::string mysql_stmt_sqlstate(PMYSQL_STMT stmt) override;
    int mysql_stmt_fetch(PMYSQL_STMT stmt) override;  // refused
    int mysql_stmt_send_long_data(PMYSQL_STMT stmt, unsigned param, const char* data, size_t length) override;  // refused
    // The statement's result set (owned by the statement): column descriptions through
    // _mysql_fetch_field_direct; nil without result columns.
    PMYSQL_RES mysql_stmt_result_metadata(PMYSQL_STMT stmt) override;
    PMYSQL_RES mysql_stmt_param_metadata(PMYSQL_STMT stmt) override;  // refused
    int64_t mysql_stmt_affected_rows(PMYSQL_STMT stmt) override;

    bool mysql_more_results(PMYSQL_CON con) override;
    // 0: the next result's answer has been read; -1: no more results; otherwise an error
    // number (2014 while rows of the current result are unread).
    int mysql_next_result(PMYSQL_CON con) override;

    void CheckMySQLLib() override;

    TMYSQL_FIELD _mysql_fetch_field_direct(PMYSQL_RES res, unsigned index, bool unicode) override;
    // 0 with row describing the next binary row, 100 at the end, or an error number.
    int _mysql_stmt_fetch(PMYSQL_STMT stmt, PMYSQL_ROW& row) override;
    // The length of every value of the current row (0 for NULL).
    void _mysql_fetch_lengths(PMYSQL_RES res, TLenArr& lengths) override;
    bool _mysql_fetch_value_is_null(PMYSQL_ROW row, unsigned index) override;
    // The value's first byte inside the current row; nil for NULL.
    const uint8_t* _mysql_fetch_value_ptr(PMYSQL_RES res, PMYSQL_ROW row, unsigned index) override;
    // Copies at most length bytes of the value (never more than it has) to buffer [+ offset].
    void _mysql_fetch_value_to_buff(PMYSQL_ROW row, unsigned index, uint32_t length, uint32_t offset,
                                    uint8_t* buffer) override;
    void _mysql_fetch_value_to_buff(PMYSQL_ROW row, unsigned index, uint32_t length, uint8_t* buffer) override;
    // The same, with a NUL after the length bytes (with an offset: always, else only when a
    // value was copied).
    void _mysql_fetch_value_to_str(PMYSQL_ROW row, unsigned index, uint32_t length, uint32_t offset,
                                   char* buffer) override;
    void _mysql_fetch_value_to_str(PMYSQL_ROW row, unsigned index, uint32_t length, char* buffer) override;
    // The row's bytes, and offset := where the value starts in them.
    const uint8_t* _mysql_fetch_value_arr(PMYSQL_ROW row, unsigned index, uint32_t& offset) override;
    // The value's bytes as an 8-bit string; empty for NULL.
    std::string _mysql_fetch_value_str(PMYSQL_ROW row, unsigned index) override;
    int _mysql_stmt_execute(PMYSQL_STMT stmt, const TParamDescs& params, bool unicode) override;
    // Binds for the next binary row (those of the previous row are reused); non-zero with
    // the error stored when the statement is not prepared (2029) or has no columns (2000).
    int _mysql_stmt_bind_result(PMYSQL_STMT stmt, void* ignored = nullptr) override;
    int _mysql_stmt_fetch_column(PMYSQL_STMT stmt, unsigned column, void* bind) override;  // refused
    void _mysql_stmt_fetch_lengths(PMYSQL_ROW row, TLenArr& lengths) override;
    // The value's first byte in the statement's current row; nil for NULL.
    const uint8_t* _mysql_stmt_fetch_value_ptr(PMYSQL_STMT stmt, unsigned index) override;

private:
    std::vector<uint8_t> FQueryBuffer;  // the statement text being sent, shared by all connections
    std::mutex FQueryBufferCS;
};

}  // namespace calvoro::protocol
