#include "MySqlErrors.h"

#include <array>
#include <cstdio>

namespace calvoro::protocol {
namespace {

constexpr std::array<std::string_view, 48> ClientErrors = {
    "Unknown MySQL error",
    "Can't create UNIX socket (%d)",
    "Can't connect to local MySQL server through socket '%-.64s' (%d)",
    "Can't connect to MySQL server on '%s' (%d)",
    "Can't create TCP/IP socket (%d)",
    "Unknown MySQL Server Host '%-.64s' (%d)",
    "MySQL server has gone away",
    "Protocol mismatch. Server Version = %d Client Version = %d",
    "MySQL client run out of memory",
    "Wrong host info",
    "Localhost via UNIX socket",
    "%-.64s via TCP/IP",
    "Error in server handshake",
    "Lost connection to MySQL server during query",
    "Commands out of sync;  You can't run this command now",
    "%-.64s via named pipe",
    "Can't wait for named pipe to host: %s  pipe: %s (%s)",
    "Can't open named pipe to host: %s  pipe: %s (%s)",
    "Can't set state of named pipe to host: %s  pipe: %s (%s)",
    "Can't initialize character set %s (path: %s)",
    "Got packet bigger than 'max_allowed_packet'",
    "Embedded server",
    "Error on SHOW SLAVE STATUS:",
    "Error on SHOW SLAVE HOSTS:",
    "Error connecting to slave:",
    "Error connecting to master:",
    "SSL connection error",
    "Malformed packet",
    "Invalid use of null pointer",
    "Statement not prepared",
    "Not all parameters data supplied",
    "Data truncated",
    "No parameters exists in the statement",
    "Invalid parameter number",
    "Can't send long data for non string or binary data types (parameter: %s)",
    "Using unsupported buffer type: %s  (parameter: %s)",
    "Shared memory (%s)",
    "Can't open shared memory. Request event don't create  (%s)",
    "Can't open shared memory. Answer event don't create  (%s)",
    "Can't open shared memory. File mapping don't create  (%s)",
    "Can't open shared memory. Map of memory don't create  (%s)",
    "Can't open shared memory. File mapping don't create for client (%s)",
    "Can't open shared memory. Map of memory don't create for client (%s)",
    "Can't open shared memory. %s event don't create for client (%s)",
    "Can't open shared memory. Server abandoded and don't sent the answer event (%s)",
    "Can't open shared memory. Can't send the request event to server (%s)",
    "Wrong or unknown protocol",
    "Invalid connection handle",
};

std::string FormatInteger(int64_t v, bool hex) {
    char buf[32];
    if (hex) {
        // Integers print as 32-bit values, so -1 reads FFFFFFFF.
        const uint64_t u = (v >= INT32_MIN && v <= UINT32_MAX) ? uint32_t(v) : uint64_t(v);
        std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(u));
    } else {
        std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(v));
    }
    return buf;
}

}  // namespace

std::string_view ClientErrorText(int code) {
    if (code == CR_AUTH_PLUGIN_CANNOT_LOAD) return "Authentication plugin '%s' cannot be loaded";
    if (code == CR_AUTH_PLUGIN_ERR) return "Authentication plugin '%s' reported error";
    if (code < 2000 || code >= 2000 + int(ClientErrors.size())) return {};
    return ClientErrors[code - 2000];
}

std::string FormatText(std::string_view format, std::span<const TFormatArg> args) {
    std::string out;
    auto arg = args.begin();
    size_t i = 0;
    while (i < format.size()) {
        const char c = format[i];
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out += '%';
            i += 2;
            continue;
        }
        // %[-][.N](d|X|s)
        size_t j = i + 1;
        if (j < format.size() && format[j] == '-') ++j;
        size_t precision = std::string::npos;
        if (j < format.size() && format[j] == '.') {
            precision = 0;
            for (++j; j < format.size() && format[j] >= '0' && format[j] <= '9'; ++j)
                precision = precision * 10 + size_t(format[j] - '0');
        }
        if (j >= format.size() || arg == args.end() ||
            (format[j] != 'd' && format[j] != 'X' && format[j] != 's')) {
            out += c;  // unfilled or unknown: left as it is
            ++i;
            continue;
        }
        std::string text;
        if (const auto* n = std::get_if<int64_t>(&arg->Value))
            text = FormatInteger(*n, format[j] == 'X');
        else
            text = std::get<std::string>(arg->Value);
        if (format[j] == 's' && text.size() > precision) text.resize(precision);
        out += text;
        ++arg;
        i = j + 1;
    }
    return out;
}

EMySqlException::EMySqlException(int code)
    : EProtocolError(std::string(ClientErrorText(code))), FErrorCode(code) {}

namespace {
std::string ComposeMessage(int code, const std::string& msg, std::initializer_list<TFormatArg> args) {
    std::string text = FormatText(ClientErrorText(code), args);
    if (!msg.empty()) text += "\r\n" + msg;
    return text;
}
}  // namespace

EMySqlException::EMySqlException(int code, const std::string& msg,
                                 std::initializer_list<TFormatArg> args)
    : EProtocolError(ComposeMessage(code, msg, args)), FErrorCode(code) {}

EMySqlException EMySqlException::FromServer(int code, std::string sqlState, const std::string& text) {
    EMySqlException e(code, text);
    e.FSqlState = std::move(sqlState);
    return e;
}

}  // namespace calvoro::protocol
