#pragma once
// Exceptions of the protocol client and the client error table (codes 2000 to 2047).
//
// EMySqlException carries an error number: a client error from the table below or a server
// error taken from an error packet. Everything else the layer raises (internal errors, OS
// errors of the transport, "Cannot retrieve huge data in FetchAll mode") is an
// EProtocolError without a number; the client API lets those pass through.

#include <cstdint>
#include <initializer_list>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

namespace calvoro::protocol {

// Client error numbers this layer raises itself.
enum : int {
    CR_UNKNOWN_ERROR = 2000,
    CR_CONNECTION_ERROR = 2002,
    CR_CONN_HOST_ERROR = 2003,
    CR_UNKNOWN_HOST = 2005,
    CR_SERVER_GONE_ERROR = 2006,
    CR_VERSION_ERROR = 2007,
    CR_LOCALHOST_CONNECTION = 2010,
    CR_OUT_OF_MEMORY = 2008,
    CR_SERVER_LOST = 2013,
    CR_COMMANDS_OUT_OF_SYNC = 2014,
    CR_NAMEDPIPEOPEN_ERROR = 2017,
    CR_NET_PACKET_TOO_LARGE = 2020,
    CR_SSL_CONNECTION_ERROR = 2026,
    CR_MALFORMED_PACKET = 2027,
    CR_NULL_POINTER = 2028,
    CR_NO_PREPARE_STMT = 2029,
    CR_CONN_UNKNOW_PROTOCOL = 2046,
    // Authentication plugins (MySQL's numbers and texts; the table above ends at 2047).
    CR_AUTH_PLUGIN_CANNOT_LOAD = 2059,
    CR_AUTH_PLUGIN_ERR = 2061,
    // A local-file request for a file the statement sent does not name (MySQL's number for
    // this refusal; it has no text in the table, so the message is CR LF and the reason).
    CR_LOAD_DATA_LOCAL_INFILE_REJECTED = 2068,
    // Server-side numbers the packet layer raises for the stream itself.
    ER_NET_PACKETS_OUT_OF_ORDER = 1156,
    ER_NET_UNCOMPRESS_ERROR = 1157,
    // Server errors the layers above look for.
    ER_SERVER_SHUTDOWN = 1053,
    ER_DUP_ENTRY = 1062,
    ER_PARSE_ERROR = 1064,
    ER_NONEXISTING_GRANT = 1141,
    ER_SPECIFIC_ACCESS_DENIED_ERROR = 1227,
    ER_QUERY_INTERRUPTED = 1317,
};

// The number a failed connect shows where the system gave no reason of its own: Winsock's
// "connection refused", as the client has always shown it.
constexpr int WSAECONNREFUSED = 10061;

// The SQLSTATE of an error the client raises itself, and of no error at all.
inline constexpr std::string_view SqlStateUnknown = "HY000";
inline constexpr std::string_view SqlStateNone = "00000";

// The text of a client error, placeholders unfilled; empty outside 2000..2047 except for the
// two authentication plugin errors.
std::string_view ClientErrorText(int code);

// One value for FormatText: an integer or a text.
struct TFormatArg {
    TFormatArg(int64_t v) : Value(v) {}
    TFormatArg(int v) : Value(int64_t(v)) {}
    TFormatArg(unsigned v) : Value(int64_t(v)) {}
    TFormatArg(std::string v) : Value(std::move(v)) {}
    TFormatArg(const char* v) : Value(std::string(v)) {}
    std::variant<int64_t, std::string> Value;
};

// printf-style formatting of the client error texts: %d, %X (32-bit two's complement for
// negative values), %s, %-.Ns (at most N characters) and %%. Placeholders beyond the
// arguments given stay as they are, so an unfilled text reads as in the table.
std::string FormatText(std::string_view format, std::span<const TFormatArg> args);
inline std::string FormatText(std::string_view format, std::initializer_list<TFormatArg> args) {
    return FormatText(format, std::span<const TFormatArg>(args.begin(), args.size()));
}

// Base of everything the protocol layer raises.
class EProtocolError : public std::runtime_error {
public:
    explicit EProtocolError(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

// A broken internal invariant (an assertion); the message names the unit.
class EInternalError : public EProtocolError {
public:
    using EProtocolError::EProtocolError;
};

class EMySqlException : public EProtocolError {
public:
    // Message: the client text of code, unformatted.
    explicit EMySqlException(int code);
    // Message: the client text of code formatted with args, then CR LF and msg when msg is
    // not empty. Server errors use this with the server's text as msg; their numbers have
    // no client text, so the message is CR LF and the server's text.
    EMySqlException(int code, const std::string& msg, std::initializer_list<TFormatArg> args = {});
    // An error the server sent: its number, its SQLSTATE (empty from servers before 4.1) and
    // its text, which becomes the message after CR LF.
    static EMySqlException FromServer(int code, std::string sqlState, const std::string& text);

    int ErrorCode() const { return FErrorCode; }
    // The server's SQLSTATE; "HY000" for client errors and servers that send none.
    std::string_view SqlState() const { return FSqlState.empty() ? SqlStateUnknown : std::string_view(FSqlState); }

private:
    int FErrorCode;
    std::string FSqlState;
};

}  // namespace calvoro::protocol
