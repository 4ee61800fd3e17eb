// Plays arbitrary bytes as the server's answers to a query or to a prepared statement, read
// through the client API as the data-access layer reads them (column descriptions, every
// value of every row, further results), and feeds the same bytes to the decoders of column
// definitions, text rows and binary rows. Whatever arrives, the client must end with an
// exception of the protocol layer or a stored error, never read past a packet, crash or hang.
//
// The first input byte sets up the client: bit 0 speaks protocol 4.1 (otherwise an old
// server), bit 1 takes the prepared-statement path (otherwise a text query), bit 2 sets
// FSkipPacket, bit 3 sends two parameters with the execution, bits 4 to 7 give the largest
// receive (2^n bytes). The rest is the server's stream.
#include "protocol/MySqlApiDirect.h"
#include "protocol/MySqlRowFormat.h"
#include "support/MemoryVio.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

using namespace calvoro::protocol;

namespace {

volatile uint8_t Sink;

// Reads every byte of a value, so that AddressSanitizer sees a value reaching past its row.
void Touch(const uint8_t* p, uint32_t length) {
    uint8_t sum = 0;
    for (uint32_t i = 0; i < length; ++i) sum = uint8_t(sum + p[i]);
    Sink = sum;
}

void Describe(TMySQLAPIDirect& api, PMYSQL_RES res) {
    if (!res) return;
    for (unsigned i = 0; i < api.mysql_num_fields(res) && i < res->ffields.size(); ++i)
        (void)api._mysql_fetch_field_direct(res, i, true);
}

void ReadText(TMySQLAPIDirect& api, PMYSQL_CON con) {
    const std::string sql = "SELECT 1";
    int status = api.mysql_real_query(con, sql.data(), sql.size());
    for (int results = 0; status == 0 && results < 16; ++results) {
        if (PMYSQL_RES handle = api.mysql_use_result(con)) {
            // Freed also when an exception passes through.
            std::unique_ptr<TMySqlResultSet, std::function<void(PMYSQL_RES)>> res(
                handle, [&](PMYSQL_RES r) { api.mysql_free_result(r); });
            Describe(api, handle);
            TLenArr lengths;
            for (int rows = 0; rows < 1000; ++rows) {
                PMYSQL_ROW row = api.mysql_fetch_row(handle);
                if (!row) break;
                api._mysql_fetch_lengths(handle, lengths);
                for (unsigned i = 0; i < lengths.size(); ++i)
                    if (const uint8_t* p = api._mysql_fetch_value_ptr(handle, row, i)) Touch(p, lengths[i]);
            }
        }
        status = api.mysql_next_result(con);
    }
}

void ReadPrepared(TMySQLAPIDirect& api, PMYSQL_CON con, bool withParams) {
    PMYSQL_STMT st = api.mysql_stmt_init(con);
    const std::unique_ptr<TMySqlStmt, std::function<void(PMYSQL_STMT)>> closer(
        st, [&](PMYSQL_STMT s) { api.mysql_stmt_close(s); });
    const std::string sql = "SELECT ?, ?";
    if (api.mysql_stmt_prepare(st, sql.data(), sql.size()) == 0) {
        Describe(api, api.mysql_stmt_result_metadata(st));
        TParamDescs params;
        if (withParams) {
            params.push_back({datatypes::dtInteger, pdInput, false, int64_t(7)});
            params.push_back({datatypes::dtString, pdInput, false, std::string("x")});
        }
        for (int executions = 0; executions < 2; ++executions) {
            if (api._mysql_stmt_execute(st, params, false) != 0) break;
            Describe(api, api.mysql_stmt_result_metadata(st));
            TLenArr lengths;
            for (int rows = 0; rows < 1000; ++rows) {
                if (api._mysql_stmt_bind_result(st) != 0) break;
                PMYSQL_ROW row = nullptr;
                if (api._mysql_stmt_fetch(st, row) != 0) break;
                api._mysql_stmt_fetch_lengths(row, lengths);
                for (unsigned i = 0; i < lengths.size(); ++i)
                    if (const uint8_t* p = api._mysql_stmt_fetch_value_ptr(st, i)) Touch(p, lengths[i]);
            }
            api.mysql_stmt_free_result(st);
        }
    }
}

// The decoders alone, on a copy of exactly the input's size.
void DecodeAlone(const uint8_t* data, size_t size) {
    if (size < 2) return;
    const size_t columns = data[0] % 40;
    std::vector<TMySqlFieldInfo> fields(columns);
    for (size_t i = 0; i < columns; ++i) fields[i]._Type = data[1 + i % (size - 1)];
    const std::vector<uint8_t> packet(data + 1, data + size);
    std::vector<TMySqlBind> binds(columns);
    const auto attempt = [](auto&& decode) {
        try {
            decode();
        } catch (const EMySqlException&) {
        }
    };
    attempt([&] { DecodeTextRow(packet.data(), packet.size(), binds.data(), columns); });
    attempt([&] { DecodeBinaryRow(packet.data(), packet.size(), fields.data(), binds.data(), columns); });
    for (const TMySqlBind& b : binds)
        if (!b.IsNull && b.Offset + b.Length <= packet.size()) Touch(packet.data() + b.Offset, b.Length);
    attempt([&] { DecodeFieldInfo(packet.data(), packet.size(), true, true); });
    attempt([&] { DecodeFieldInfo(packet.data(), packet.size(), false, data[0] & 1); });
    attempt([&] { DecodeEndOfData(packet.data(), packet.size()); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t setup = data[0];
    DecodeAlone(data + 1, size - 1);

    TMySQLAPIDirect api;
    PMYSQL_CON con = api.mysql_init(nullptr);
    auto vio = std::make_unique<calvoro::test::TMemoryVio>(std::vector<uint8_t>(data + 1, data + size));
    vio->MaxChunk = size_t(1) << (setup >> 4);
    vio->Connect();  // with a read-ahead buffer, as a real transport: whole packets come from it
    con->net.SetVio(std::move(vio));
    // As after a login with a MariaDB-like server, or one before 4.1.
    con->serverCapabilities = (setup & 1) ? 0xA20F : 0x200D;
    con->clientFlag = CLIENT_ALWAYS | CLIENT_FOUND_ROWS;
    con->FSkipPacket = setup & 4;
    try {
        if (setup & 2)
            ReadPrepared(api, con, setup & 8);
        else
            ReadText(api, con);
    } catch (const EProtocolError&) {
        // Refusals that are not client errors: internal checks, "Cannot retrieve huge data".
    }
    api.mysql_close(con);
    return 0;
}
