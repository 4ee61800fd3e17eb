#include "MySqlApiDirect.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace calvoro::protocol {
namespace {

constexpr int OneYear = 31536000;  // seconds; the command time-out that stands for none

// Out of line, so that the value accessors called for every value need no stack frame.
[[noreturn, gnu::noinline, gnu::cold]] void RaiseInternal(const char* what) {
    throw EInternalError(std::string("MySqlApiDirect: ") + what);
}

template <typename T>
T* Require(T* handle) {
    if (!handle) [[unlikely]]
        RaiseInternal("nil handle");
    return handle;
}

[[noreturn]] void Refused(const char* operation) {
    throw EInternalError(std::string("MySqlApiDirect: ") + operation + " is not available in the direct client");
}

// The error of a connection or statement handle: number, text and SQLSTATE.
template <typename Handle>
void ClearError(Handle* h) {
    h->Ferrno = 0;
    h->Ferror.clear();
    h->FSqlState.clear();
}

template <typename Handle>
void StoreError(Handle* h, const EMySqlException& e) {
    h->Ferrno = uint32_t(e.ErrorCode());
    h->Ferror = e.Message();
    h->FSqlState = e.SqlState();
}

template <typename Handle>
std::string SqlStateOf(const Handle* h) {
    return std::string(h->Ferrno == 0 ? SqlStateNone : std::string_view(h->FSqlState));
}

// Runs work with the error convention: the handle's error is cleared first, and an
// EMySqlException is stored in it and answered with onError(its number).
template <typename Handle, typename Work, typename OnError>
auto Guarded(Handle* h, Work&& work, OnError&& onError) -> decltype(work()) {
    ClearError(h);
    try {
        return work();
    } catch (const EMySqlException& e) {
        StoreError(h, e);
        return onError(e.ErrorCode());
    }
}

// For operations that answer 0 or the error number.
template <typename Handle, typename Work>
int Status(Handle* h, Work&& work) {
    return Guarded(
        h,
        [&] {
            work();
            return 0;
        },
        [](int code) { return code; });
}

EMySqlException OutOfSync(const TMySqlSession* s) {
    return EMySqlException(CR_COMMANDS_OUT_OF_SYNC, "mysql.status = " + std::to_string(int(s->status)));
}

const TMySqlBind& BindAt(PMYSQL_ROW row, unsigned index) {
    Require(row);
    if (index >= row->Binds.size()) [[unlikely]]
        RaiseInternal("column index out of range");
    return row->Binds[index];
}

// The binds describing the result's current row: binary rows in its result binds, text
// rows in its own.
const TMySqlBinds& CurrentBinds(PMYSQL_RES res) { return res->fresultBind ? *res->fresultBind : res->FBind; }

[[gnu::noinline]] void Resize(TLenArr& lengths, size_t n) { lengths.resize(n); }

void Lengths(const TMySqlBinds& binds, TLenArr& lengths) {
    const size_t n = binds.Binds.size();
    if (lengths.size() != n) [[unlikely]]
        Resize(lengths, n);
    const TMySqlBind* b = binds.Binds.data();
    uint32_t* out = lengths.data();
    for (size_t i = 0; i < n; ++i) out[i] = b[i].Length * uint32_t(!b[i].IsNull);  // 0 for NULL, without a branch
}

// The value's bytes to copy: at most length, never more than the value has; nothing for NULL.
uint32_t CopyValue(PMYSQL_ROW row, unsigned index, uint32_t length, uint8_t* target) {
    const TMySqlBind& b = BindAt(row, index);
    if (b.IsNull || b.Offset == 0 || length == 0 || !row->Buffer) return 0;
    const uint32_t n = std::min(length, b.Length);
    std::memcpy(target, row->Buffer + b.Offset, n);
    return n;
}

}  // namespace

// --- The base: implementations over an external library only -------------------------------

unsigned TMySQLAPI::mysql_num_fields(PMYSQL_RES) { throw EAbstractError(); }
TMYSQL_FIELD TMySQLAPI::mysql_fetch_field_direct(PMYSQL_RES, unsigned) { throw EAbstractError(); }
unsigned TMySQLAPI::mysql_field_count(PMYSQL_CON) { throw EAbstractError(); }
int64_t TMySQLAPI::mysql_affected_rows(PMYSQL_CON) { throw EAbstractError(); }
int64_t TMySQLAPI::mysql_insert_id(PMYSQL_CON) { throw EAbstractError(); }
unsigned TMySQLAPI::mysql_errno(PMYSQL_CON) { throw EAbstractError(); }
std::string TMySQLAPI::mysql_error(PMYSQL_CON) { throw EAbstractError(); }
std::string TMySQLAPI::mysql_sqlstate(PMYSQL_CON) { throw EAbstractError(); }
std::string TMySQLAPI::mysql_info(PMYSQL_CON) { throw EAbstractError(); }
unsigned long TMySQLAPI::mysql_thread_id(PMYSQL_CON) { throw EAbstractError(); }
std::string TMySQLAPI::mysql_character_set_name(PMYSQL_CON) { throw EAbstractError(); }
PMYSQL_CON TMySQLAPI::mysql_init(PMYSQL_CON) { throw EAbstractError(); }
int TMySQLAPI::mysql_ssl_set(PMYSQL_CON, const std::string&, const std::string&, const std::string&,
                             const std::string&, const std::string&) {
    throw EAbstractError();
}
PMYSQL_CON TMySQLAPI::mysql_real_connect(PMYSQL_CON, const std::string&, const std::string&, const std::string&,
                                         const std::string&, unsigned, const std::string&, uint32_t) {
    throw EAbstractError();
}
void TMySQLAPI::mysql_close(PMYSQL_CON) { throw EAbstractError(); }
int TMySQLAPI::mysql_select_db(PMYSQL_CON, const std::string&) { throw EAbstractError(); }
int TMySQLAPI::mysql_real_query(PMYSQL_CON, const char*, size_t) { throw EAbstractError(); }
int TMySQLAPI::mysql_kill(PMYSQL_CON, uint32_t) { throw EAbstractError(); }
int TMySQLAPI::mysql_ping(PMYSQL_CON) { throw EAbstractError(); }
std::string TMySQLAPI::mysql_get_server_info(PMYSQL_CON) { throw EAbstractError(); }
std::string TMySQLAPI::mysql_get_client_info() { throw EAbstractError(); }
std::string TMySQLAPI::mysql_get_host_info(PMYSQL_CON) { throw EAbstractError(); }
std::string TMySQLAPI::mysql_get_ssl_cipher(PMYSQL_CON) { throw EAbstractError(); }
PMYSQL_RES TMySQLAPI::mysql_use_result(PMYSQL_CON) { throw EAbstractError(); }
int TMySQLAPI::mysql_options(PMYSQL_CON, TMySqlOption, const void*) { throw EAbstractError(); }
void TMySQLAPI::mysql_free_result(PMYSQL_RES) { throw EAbstractError(); }
PMYSQL_ROW TMySQLAPI::mysql_fetch_row(PMYSQL_RES) { throw EAbstractError(); }
const uint32_t* TMySQLAPI::mysql_fetch_lengths(PMYSQL_RES) { throw EAbstractError(); }
int TMySQLAPI::mysql_server_init(int, char**, char**) { throw EAbstractError(); }
void TMySQLAPI::mysql_server_end() { throw EAbstractError(); }
PMYSQL_STMT TMySQLAPI::mysql_stmt_init(PMYSQL_CON) { throw EAbstractError(); }
int TMySQLAPI::mysql_stmt_prepare(PMYSQL_STMT, const char*, size_t) { throw EAbstractError(); }
int TMySQLAPI::mysql_stmt_execute(PMYSQL_STMT) { throw EAbstractError(); }
unsigned TMySQLAPI::mysql_stmt_param_count(PMYSQL_STMT) { throw EAbstractError(); }
int TMySQLAPI::mysql_stmt_bind_param(PMYSQL_STMT, void*) { throw EAbstractError(); }
int TMySQLAPI::mysql_stmt_bind_result(PMYSQL_STMT, void*) { throw EAbstractError(); }
unsigned TMySQLAPI::mysql_stmt_field_count(PMYSQL_STMT) { throw EAbstractError(); }
int TMySQLAPI::mysql_stmt_close(PMYSQL_STMT) { throw EAbstractError(); }
int TMySQLAPI::mysql_stmt_free_result(PMYSQL_STMT) { throw EAbstractError(); }
unsigned TMySQLAPI::mysql_stmt_errno(PMYSQL_STMT) { throw EAbstractError(); }
std::string TMySQLAPI::mysql_stmt_error(PMYSQL_STMT) { throw EAbstractError(); }
std::string TMySQLAPI::mysql_stmt_sqlstate(PMYSQL_STMT) { throw EAbstractError(); }
int TMySQLAPI::mysql_stmt_fetch(PMYSQL_STMT) { throw EAbstractError(); }
int TMySQLAPI::mysql_stmt_fetch_column(PMYSQL_STMT, void*, unsigned, unsigned long) { throw EAbstractError(); }
int TMySQLAPI::mysql_stmt_send_long_data(PMYSQL_STMT, unsigned, const char*, size_t) { throw EAbstractError(); }
PMYSQL_RES TMySQLAPI::mysql_stmt_result_metadata(PMYSQL_STMT) { throw EAbstractError(); }
PMYSQL_RES TMySQLAPI::mysql_stmt_param_metadata(PMYSQL_STMT) { throw EAbstractError(); }
int64_t TMySQLAPI::mysql_stmt_affected_rows(PMYSQL_STMT) { throw EAbstractError(); }
bool TMySQLAPI::mysql_more_results(PMYSQL_CON) { throw EAbstractError(); }
int TMySQLAPI::mysql_next_result(PMYSQL_CON) { throw EAbstractError(); }
bool TMySQLAPI::LoadedMySQLLib() { return true; }
void TMySQLAPI::LoadMySQLLib() {}
void TMySQLAPI::FreeMySQLLib() {}
void TMySQLAPI::CheckMySQLLib() { throw EAbstractError(); }
TMYSQL_FIELD TMySQLAPI::_mysql_fetch_field_direct(PMYSQL_RES, unsigned, bool) { throw EAbstractError(); }
PMYSQL_ROW TMySQLAPI::_mysql_fetch_row(PMYSQL_RES res) { return mysql_fetch_row(res); }
int TMySQLAPI::_mysql_stmt_fetch(PMYSQL_STMT, PMYSQL_ROW&) { throw EAbstractError(); }
void TMySQLAPI::_mysql_fetch_lengths(PMYSQL_RES, TLenArr&) { throw EAbstractError(); }
bool TMySQLAPI::_mysql_fetch_value_is_null(PMYSQL_ROW, unsigned) { throw EAbstractError(); }
const uint8_t* TMySQLAPI::_mysql_fetch_value_ptr(PMYSQL_RES, PMYSQL_ROW, unsigned) { throw EAbstractError(); }
void TMySQLAPI::_mysql_fetch_value_to_buff(PMYSQL_ROW, unsigned, uint32_t, uint32_t, uint8_t*) {
    throw EAbstractError();
}
void TMySQLAPI::_mysql_fetch_value_to_buff(PMYSQL_ROW, unsigned, uint32_t, uint8_t*) { throw EAbstractError(); }
void TMySQLAPI::_mysql_fetch_value_to_str(PMYSQL_ROW, unsigned, uint32_t, uint32_t, char*) { throw EAbstractError(); }
void TMySQLAPI::_mysql_fetch_value_to_str(PMYSQL_ROW, unsigned, uint32_t, char*) { throw EAbstractError(); }
const uint8_t* TMySQLAPI::_mysql_fetch_value_arr(PMYSQL_ROW, unsigned, uint32_t&) { throw EAbstractError(); }
std::string TMySQLAPI::_mysql_fetch_value_str(PMYSQL_ROW, unsigned) { throw EAbstractError(); }
int TMySQLAPI::_mysql_stmt_execute(PMYSQL_STMT, const TParamDescs&, bool) { throw EAbstractError(); }
int TMySQLAPI::_mysql_stmt_bind_param(PMYSQL_STMT stmt, const TParamDescs&) { return mysql_stmt_bind_param(stmt, nullptr); }
int TMySQLAPI::_mysql_stmt_bind_result(PMYSQL_STMT, void*) { throw EAbstractError(); }
int TMySQLAPI::_mysql_stmt_fetch_column(PMYSQL_STMT, unsigned, void*) { throw EAbstractError(); }
void TMySQLAPI::_mysql_stmt_fetch_lengths(PMYSQL_ROW, TLenArr&) { throw EAbstractError(); }
const uint8_t* TMySQLAPI::_mysql_stmt_fetch_value_ptr(PMYSQL_STMT, unsigned) { throw EAbstractError(); }

void TMySQLAPI::SetTimeout(PMYSQL_CON con, int seconds) {
    if (FClientStructVer != cvDirect && FClientStructVer != cv410 && FClientStructVer != cv411) return;
    const int value = seconds == 0 ? OneYear : seconds;
    mysql_options(con, MYSQL_OPT_READ_TIMEOUT, &value);
    mysql_options(con, MYSQL_OPT_WRITE_TIMEOUT, &value);
}

// --- Connection and information ---------------------------------------------------------------

unsigned TMySQLAPIDirect::mysql_num_fields(PMYSQL_RES res) { return unsigned(Require(res)->ffieldCount); }
TMYSQL_FIELD TMySQLAPIDirect::mysql_fetch_field_direct(PMYSQL_RES, unsigned) { Refused("mysql_fetch_field_direct"); }
unsigned TMySQLAPIDirect::mysql_field_count(PMYSQL_CON con) { return unsigned(Require(con)->fieldCount); }
int64_t TMySQLAPIDirect::mysql_affected_rows(PMYSQL_CON con) { return Require(con)->affectedRows; }
int64_t TMySQLAPIDirect::mysql_insert_id(PMYSQL_CON con) { return Require(con)->insertId; }
unsigned TMySQLAPIDirect::mysql_errno(PMYSQL_CON con) { return Require(con)->Ferrno; }
std::string TMySQLAPIDirect::mysql_error(PMYSQL_CON con) { return Require(con)->Ferror; }
std::string TMySQLAPIDirect::mysql_sqlstate(PMYSQL_CON con) { return SqlStateOf(Require(con)); }
std::string TMySQLAPIDirect::mysql_info(PMYSQL_CON con) { return Require(con)->info; }
unsigned long TMySQLAPIDirect::mysql_thread_id(PMYSQL_CON con) { return static_cast<unsigned long>(Require(con)->threadId); }
std::string TMySQLAPIDirect::mysql_character_set_name(PMYSQL_CON) {
    throw EProtocolError("mysql_character_set_name is not supported by the direct client");
}
PMYSQL_CON TMySQLAPIDirect::mysql_init(PMYSQL_CON) { return new TMySqlSession(); }

int TMySQLAPIDirect::mysql_ssl_set(PMYSQL_CON con, const std::string& key, const std::string& cert,
                                   const std::string& ca, const std::string& capath, const std::string& cipher) {
    Require(con);
    con->protocolType = MYSQL_PROTOCOL_SSL;
    con->SSL_key = key;
    con->SSL_cert = cert;
    con->SSL_ca = ca;
    con->SSL_capath = capath;
    con->SSL_cipher = cipher;
    return 0;
}

PMYSQL_CON TMySQLAPIDirect::mysql_real_connect(PMYSQL_CON con, const std::string& host, const std::string& user,
                                               const std::string& passwd, const std::string& db, unsigned port,
                                               const std::string& unix_socket, uint32_t clientflag) {
    Require(con);
    return Guarded(
        con,
        [&] {
            con->Connect(host, user, clientflag, unix_socket, int(port), db, passwd);
            return con;
        },
        [](int) -> PMYSQL_CON { return nullptr; });
}

void TMySQLAPIDirect::mysql_close(PMYSQL_CON con) {
    if (!con) return;
    std::unique_ptr<TMySqlSession> session(con);
    try {
        con->Close();
    } catch (const EMySqlException&) {
        // The handle is freed here: no one is left to read an error stored in it.
    }
    if (TMySqlResultSet* res = con->FResultSet) {
        // Detached: it can still be freed, and reads nothing more.
        res->fsession = nullptr;
        res->feof = true;
        res->frowBuffer = nullptr;
        con->FResultSet = nullptr;
    }
}

int TMySQLAPIDirect::mysql_select_db(PMYSQL_CON con, const std::string& db) {
    return Status(Require(con), [&] { con->SelectDb(db); });
}

int TMySQLAPIDirect::mysql_real_query(PMYSQL_CON con, const char* text, size_t length) {
    return Status(Require(con), [&] {
        {
            std::lock_guard lock(FQueryBufferCS);
            if (FQueryBuffer.size() < length) FQueryBuffer.resize(length);
            if (length) std::memcpy(FQueryBuffer.data(), text, length);
            con->SimpleCommand(scQuery,
                               std::string_view(reinterpret_cast<const char*>(FQueryBuffer.data()), length), true);
        }
        con->ReadQueryResult();
    });
}

int TMySQLAPIDirect::mysql_kill(PMYSQL_CON con, uint32_t id) {
    // Process-kill request: 12 [1], connection id [4].
    const char bytes[4] = {char(id), char(id >> 8), char(id >> 16), char(id >> 24)};
    return Status(Require(con), [&] { con->SimpleCommand(scProcessKill, std::string_view(bytes, 4)); });
}

int TMySQLAPIDirect::mysql_ping(PMYSQL_CON con) {
    return Status(Require(con), [&] { con->Ping(); });
}

std::string TMySQLAPIDirect::mysql_get_server_info(PMYSQL_CON con) { return Require(con)->serverVersion; }
std::string TMySQLAPIDirect::mysql_get_client_info() { return ClientInfo; }
std::string TMySQLAPIDirect::mysql_get_host_info(PMYSQL_CON con) { return Require(con)->hostInfo; }
std::string TMySQLAPIDirect::mysql_get_ssl_cipher(PMYSQL_CON con) { return Require(con)->SecureConnectionInfo(); }

int TMySQLAPIDirect::mysql_options(PMYSQL_CON con, TMySqlOption option, const void* value) {
    Require(con);
    const auto number = [&] { return *static_cast<const int*>(Require(value)); };
    const auto text = [&] { return std::string(static_cast<const char*>(Require(value))); };
    switch (option) {
        case MYSQL_OPT_CONNECT_TIMEOUT: con->_connectTimeout = number(); break;
        case MYSQL_SET_CHARSET_NAME: {
            // The character set of the login's names: "latin1" or "utf8".
            const std::string name = text();
            if (name == "latin1") con->handshakeCharset = TMySqlSession::hcLatin1;
            else if (name == "utf8") con->handshakeCharset = TMySqlSession::hcUtf8;
            else return 1;
            break;
        }
        case MYSQL_OPT_NAMED_PIPE: con->protocolType = MYSQL_PROTOCOL_PIPE; break;
        case MYSQL_OPT_PROTOCOL: con->protocolType = MYSQL_PROTOCOL_TYPE(number()); break;
        case MYSQL_OPT_READ_TIMEOUT:
        case MYSQL_OPT_WRITE_TIMEOUT: con->commandTimeout = number(); break;
        case MYSQL_OPT_SSL_MODE:
            if (number() < smDisabled || number() > smVerifyIdentity) return 1;
            con->SSL_mode = TSslMode(number());
            break;
        case MYSQL_OPT_SSL_KEY: con->SSL_key = text(); break;
        case MYSQL_OPT_SSL_CERT: con->SSL_cert = text(); break;
        case MYSQL_OPT_SSL_CA: con->SSL_ca = text(); break;
        case MYSQL_OPT_SSL_CAPATH: con->SSL_capath = text(); break;
        case MYSQL_OPT_SSL_CIPHER: con->SSL_cipher = text(); break;
        case MYSQL_SERVER_PUBLIC_KEY: con->serverPublicKeyFile = text(); break;
        case MYSQL_OPT_GET_SERVER_PUBLIC_KEY: con->getServerPublicKey = number() != 0; break;
        case MYSQL_OPT_MAX_ALLOWED_PACKET: {
            const unsigned long bytes = *static_cast<const unsigned long*>(Require(value));
            if (bytes < MinMaxAllowedPacket || bytes > MaxMaxAllowedPacket) {
                StoreError(con, EMySqlException(CR_UNKNOWN_ERROR,
                                                FormatText("max_allowed_packet must be from %d to %d bytes, not %d.",
                                                           {int64_t(MinMaxAllowedPacket),
                                                            int64_t(MaxMaxAllowedPacket), int64_t(bytes)})));
                return 1;
            }
            con->net.SetMaxAllowedPacket(bytes);
            break;
        }
        default: break;  // compression is asked for through the client flags
    }
    return 0;
}

// --- Results ---------------------------------------------------------------------------------

PMYSQL_RES TMySQLAPIDirect::mysql_use_result(PMYSQL_CON con) {
    Require(con);
    if (con->fields.empty()) return nullptr;
    try {
        if (con->status != msGetResult) throw OutOfSync(con);
        auto res = std::make_unique<TMySqlResultSet>(con);
        con->fields.clear();
        con->FResultSet = res.get();
        con->status = msUseResult;
        return res.release();
    } catch (const EMySqlException& e) {
        StoreError(con, e);
        return nullptr;
    }
}

void TMySQLAPIDirect::mysql_free_result(PMYSQL_RES res) {
    if (!res) return;
    std::unique_ptr<TMySqlResultSet> owner(res);
    TMySqlSession* con = res->fsession;  // nil once mysql_close detached the result
    try {
        res->Clear();  // the current result of its session drains its unread rows
    } catch (const EMySqlException& e) {
        if (con) StoreError(con, e);
    }
}

PMYSQL_ROW TMySQLAPIDirect::mysql_fetch_row(PMYSQL_RES res) {
    TMySqlSession* s = Require(Require(res)->fsession);
    ClearError(s);
    try {
        if (!res->Read(&res->FBind)) return nullptr;
        return res->fresultBind ? res->fresultBind.get() : &res->FBind;
    } catch (const EMySqlException& e) {
        StoreError(s, e);
        if (!(s->serverStatus & SERVER_MORE_RESULTS_EXISTS)) s->status = msReady;
        return nullptr;
    }
}

const uint32_t* TMySQLAPIDirect::mysql_fetch_lengths(PMYSQL_RES) { Refused("mysql_fetch_lengths"); }
int TMySQLAPIDirect::mysql_server_init(int, char**, char**) { Refused("mysql_server_init"); }
void TMySQLAPIDirect::mysql_server_end() { Refused("mysql_server_end"); }

bool TMySQLAPIDirect::mysql_more_results(PMYSQL_CON con) {
    return Require(con)->serverStatus & SERVER_MORE_RESULTS_EXISTS;
}

int TMySQLAPIDirect::mysql_next_result(PMYSQL_CON con) {
    Require(con);
    return Guarded(
        con,
        [&] {
            if (con->status != msReady) throw OutOfSync(con);
            con->affectedRows = -1;
            if (!(con->serverStatus & SERVER_MORE_RESULTS_EXISTS)) return -1;
            con->ReadQueryResult();
            return 0;
        },
        [](int code) { return code; });
}

void TMySQLAPIDirect::CheckMySQLLib() {
    FClientStructVer = cvDirect;
    FClientVer = mysql_get_client_info();
}

TMYSQL_FIELD TMySQLAPIDirect::_mysql_fetch_field_direct(PMYSQL_RES res, unsigned index, bool unicode) {
    Require(res);
    if (index >= unsigned(std::max(res->ffieldCount, 0)) || index >= res->ffields.size())
        RaiseInternal("field index out of range");
    const TMySqlFieldInfo& f = res->ffields[index];
    TMYSQL_FIELD field;
    field.Name = f.Name;
    field.OrgName = f.OrgName.empty() ? f.Name : f.OrgName;
    field.Table = f.Table;
    field.OrgTable = f.OrgTable;
    field.Database = f.Database;
    field.Flags = uint32_t(f.Flags);
    field._type = f._Type;
    field.Decimals = uint32_t(f.Scale);
    field.CharsetNr = f.CharsetNr;
    field.LengthInBytes = CorrectFieldLen(f.Length);
    // Servers before 4.1 announce characters; UTF-8 needs up to three bytes for each.
    const bool characters = f._Type == FIELD_TYPE_VARCHAR || f._Type == FIELD_TYPE_ENUM || f._Type == FIELD_TYPE_SET ||
                            f._Type == FIELD_TYPE_VAR_STRING || f._Type == FIELD_TYPE_STRING;
    if (unicode && !f.Table.empty() && res->fsession && !res->fsession->IsProtocol41() && characters)
        field.LengthInBytes *= 3;
    return field;
}

void TMySQLAPIDirect::_mysql_fetch_lengths(PMYSQL_RES res, TLenArr& lengths) { Lengths(CurrentBinds(Require(res)), lengths); }

bool TMySQLAPIDirect::_mysql_fetch_value_is_null(PMYSQL_ROW row, unsigned index) { return BindAt(row, index).IsNull; }

const uint8_t* TMySQLAPIDirect::_mysql_fetch_value_ptr(PMYSQL_RES res, PMYSQL_ROW row, unsigned index) {
    const TMySqlBind& b = BindAt(row, index);
    if (b.Offset == 0 || b.IsNull) return nullptr;
    const uint8_t* bytes = Require(res)->frowBuffer;
    if (!bytes) [[unlikely]]
        RaiseInternal("no current row");
    return bytes + b.Offset;
}

void TMySQLAPIDirect::_mysql_fetch_value_to_buff(PMYSQL_ROW row, unsigned index, uint32_t length, uint32_t offset,
                                                 uint8_t* buffer) {
    CopyValue(row, index, length, buffer + offset);
}

void TMySQLAPIDirect::_mysql_fetch_value_to_buff(PMYSQL_ROW row, unsigned index, uint32_t length, uint8_t* buffer) {
    CopyValue(row, index, length, buffer);
}

void TMySQLAPIDirect::_mysql_fetch_value_to_str(PMYSQL_ROW row, unsigned index, uint32_t length, uint32_t offset,
                                                char* buffer) {
    CopyValue(row, index, length, reinterpret_cast<uint8_t*>(buffer + offset));
    buffer[offset + length] = '\0';
}

void TMySQLAPIDirect::_mysql_fetch_value_to_str(PMYSQL_ROW row, unsigned index, uint32_t length, char* buffer) {
    const uint32_t n = CopyValue(row, index, length, reinterpret_cast<uint8_t*>(buffer));
    if (n) buffer[n] = '\0';
}

const uint8_t* TMySQLAPIDirect::_mysql_fetch_value_arr(PMYSQL_ROW row, unsigned index, uint32_t& offset) {
    offset = BindAt(row, index).Offset;
    return row->Buffer;
}

std::string TMySQLAPIDirect::_mysql_fetch_value_str(PMYSQL_ROW row, unsigned index) {
    const TMySqlBind& b = BindAt(row, index);
    if (b.IsNull || b.Offset == 0 || !row->Buffer) return {};
    return std::string(reinterpret_cast<const char*>(row->Buffer + b.Offset), b.Length);
}

// --- Prepared statements ---------------------------------------------------------------------

PMYSQL_STMT TMySQLAPIDirect::mysql_stmt_init(PMYSQL_CON con) { return new TMySqlStmt(Require(con)); }

int TMySQLAPIDirect::mysql_stmt_prepare(PMYSQL_STMT stmt, const char* text, size_t length) {
    return Status(Require(stmt), [&] {
        std::lock_guard lock(FQueryBufferCS);
        if (FQueryBuffer.size() < length) FQueryBuffer.resize(length);
        if (length) std::memcpy(FQueryBuffer.data(), text, length);
        stmt->Prepare(std::string_view(reinterpret_cast<const char*>(FQueryBuffer.data()), length));
    });
}

unsigned TMySQLAPIDirect::mysql_stmt_param_count(PMYSQL_STMT stmt) { return unsigned(Require(stmt)->ParamCount()); }
unsigned TMySQLAPIDirect::mysql_stmt_field_count(PMYSQL_STMT stmt) { return unsigned(Require(stmt)->FieldCount()); }

int TMySQLAPIDirect::mysql_stmt_close(PMYSQL_STMT stmt) {
    delete stmt;  // closes it on the server; errors are ignored
    return 0;
}

int TMySQLAPIDirect::mysql_stmt_free_result(PMYSQL_STMT stmt) {
    Status(Require(stmt), [&] { stmt->FreeResult(); });
    return 0;
}

unsigned TMySQLAPIDirect::mysql_stmt_errno(PMYSQL_STMT stmt) { return Require(stmt)->Ferrno; }
std::string TMySQLAPIDirect::mysql_stmt_error(PMYSQL_STMT stmt) { return Require(stmt)->Ferror; }
std::string TMySQLAPIDirect::mysql_stmt_sqlstate(PMYSQL_STMT stmt) { return SqlStateOf(Require(stmt)); }
int TMySQLAPIDirect::mysql_stmt_fetch(PMYSQL_STMT) { Refused("mysql_stmt_fetch"); }
int TMySQLAPIDirect::mysql_stmt_send_long_data(PMYSQL_STMT, unsigned, const char*, size_t) {
    Refused("mysql_stmt_send_long_data");
}
PMYSQL_RES TMySQLAPIDirect::mysql_stmt_result_metadata(PMYSQL_STMT stmt) { return Require(stmt)->Result(); }
PMYSQL_RES TMySQLAPIDirect::mysql_stmt_param_metadata(PMYSQL_STMT) { Refused("mysql_stmt_param_metadata"); }
int64_t TMySQLAPIDirect::mysql_stmt_affected_rows(PMYSQL_STMT stmt) { return Require(stmt)->AffectedRows(); }

int TMySQLAPIDirect::_mysql_stmt_execute(PMYSQL_STMT stmt, const TParamDescs& params, bool unicode) {
    return Status(Require(stmt), [&] { stmt->Execute(params, unicode); });
}

int TMySQLAPIDirect::_mysql_stmt_bind_result(PMYSQL_STMT stmt, void*) {
    return Status(Require(stmt), [&] {
        TMySqlResultSet* res = stmt->Result();
        if (res && res->fresultBind && res->fresultBind->Binds.size() == size_t(res->ffieldCount) &&
            stmt->State() == psPrepare) {
            // Fresh binds for the next row, without allocating them again.
            for (TMySqlBind& b : res->fresultBind->Binds) b = TMySqlBind{};
            return;
        }
        stmt->BindResult(std::make_unique<TMySqlBinds>(size_t(std::max(stmt->FieldCount(), 0))));
    });
}

int TMySQLAPIDirect::_mysql_stmt_fetch(PMYSQL_STMT stmt, PMYSQL_ROW& row) {
    Require(stmt);
    row = nullptr;
    return Guarded(
        stmt, [&] { return stmt->Fetch(row); },
        [&](int code) {
            TMySqlSession* s = stmt->Session();
            if (!(s->serverStatus & SERVER_MORE_RESULTS_EXISTS)) s->status = msReady;
            return code;
        });
}

int TMySQLAPIDirect::_mysql_stmt_fetch_column(PMYSQL_STMT, unsigned, void*) { Refused("_mysql_stmt_fetch_column"); }

void TMySQLAPIDirect::_mysql_stmt_fetch_lengths(PMYSQL_ROW row, TLenArr& lengths) { Lengths(*Require(row), lengths); }

const uint8_t* TMySQLAPIDirect::_mysql_stmt_fetch_value_ptr(PMYSQL_STMT stmt, unsigned index) {
    TMySqlResultSet* res = Require(stmt)->Result();
    if (!res || !res->fresultBind) RaiseInternal("statement without a current row");
    return _mysql_fetch_value_ptr(res, res->fresultBind.get(), index);
}

}  // namespace calvoro::protocol
