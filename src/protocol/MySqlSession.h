#pragma once
// One session with a MySQL server: opens the transport, reads the greeting, negotiates
// capabilities, switches to TLS as the ssl mode asks, authenticates (the 4.1 or the pre-4.1
// password scramble, or with servers that name plugins, the plugin they ask for, switching
// when they ask), and runs the simple commands. Query results (ReadQueryResult, FreeQuery; MySqlResultSet.cpp) build on
// WriteCommand and the packet layer `net`.

#include "CRVioTcpSSL.h"
#include "CancelSignal.h"
#include "MySqlAuth.h"
#include "MySqlGreeting.h"
#include "MySqlNet.h"
#include "MySqlRowFormat.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace calvoro::protocol {

class TMySqlResultSet;

// Command codes: the first payload byte of every command packet.
enum TServerCommand : uint8_t {
    scSleep = 0,
    scQuit = 1,
    scInitDb = 2,
    scQuery = 3,
    scFieldList = 4,
    scCreateDb = 5,
    scDropDb = 6,
    scRefresh = 7,
    scShutdown = 8,
    scStatistics = 9,
    scProcessInfo = 10,
    scConnect = 11,
    scProcessKill = 12,
    scDebug = 13,
    scPing = 14,
    scTime = 15,
    scDelayedInsert = 16,
    scChangeUser = 17,
    scBunLogDump = 18,
    scTableDump = 19,
    scConnectOut = 20,
    scRegisterSlave = 21,
    scPrepare = 22,
    scExecute = 23,
    scLongData = 24,
    scCloseStmt = 25,
};

// Server status bits.
enum : int {
    SERVER_STATUS_IN_TRANS = 0x1,
    SERVER_STATUS_AUTOCOMMIT = 0x2,
    SERVER_MORE_RESULTS_EXISTS = 0x8,
};

enum MYSQL_PROTOCOL_TYPE {
    MYSQL_PROTOCOL_DEFAULT,
    MYSQL_PROTOCOL_TCP,
    MYSQL_PROTOCOL_SOCKET,
    MYSQL_PROTOCOL_PIPE,
    MYSQL_PROTOCOL_MEMORY,
    MYSQL_PROTOCOL_SSL,
};

enum TMySqlStatus { msReady, msGetResult, msUseResult };

class TMySqlSession {
public:
    static constexpr int DefaultPort = 3306;
    static constexpr uint32_t MaxPacketSize = 0x40000000;  // announced in the handshake
    // Character sets of the handshake response: the server reads the login's user name and
    // database in it, and the session keeps it until a SET NAMES.
    enum THandshakeCharset : uint8_t { hcLatin1 = 8, hcUtf8 = 33 /* utf8_general_ci */ };
    THandshakeCharset handshakeCharset = hcLatin1;
    // The connect time-out a session has until MYSQL_OPT_CONNECT_TIMEOUT says otherwise.
    static constexpr int DefaultConnectTimeout = 15;
    // Where the socket protocol looks when no socket path is given (Debian's MariaDB).
    static constexpr const char* DefaultUnixSocket = "/run/mysqld/mysqld.sock";

    // maxPacketLength: see TMySqlNet; tests use small values to cover continuation cheaply.
    explicit TMySqlSession(uint32_t maxPacketLength = TMySqlNet::MaxPacketLength);
    ~TMySqlSession();
    TMySqlSession(const TMySqlSession&) = delete;
    TMySqlSession& operator=(const TMySqlSession&) = delete;

    // Opens the transport chosen by protocolType (an unsupported type uses a transport
    // already given to `net`), reads the greeting and logs in. The socket protocol, and the
    // default one with a socket path for an empty host or "localhost", connect to the Unix
    // socket unix_socket; the others to host and port over TCP. The texts travel as the
    // bytes given. The whole of it, connect and login, ends within _connectTimeout seconds
    // (0: no limit) and at once on CancelConnect. Errors: 2003 (2002 for a Unix socket) when
    // the transport cannot be opened, the login does not end in time or is cancelled, with the
    // system's reason in the parentheses; 2007 for a protocol other than 10, the server's error
    // for a refused login, 2013 for a lost connection, 2027 for a malformed greeting.
    void Connect(const std::string& host, const std::string& user, uint32_t clientflag,
                 const std::string& unix_socket, int port, const std::string& db,
                 const std::string& passwd);

    // Starts a command packet; 2014 unless the session is msReady.
    void WriteCommand(TServerCommand command);
    // The common command path: command time-out, command byte and args, send, and unless
    // skipReceive read the reply (an error packet raises). Does nothing without a transport.
    // A query (scQuery) also notes the local files its text names, the only ones the
    // answer may ask to upload.
    void SimpleCommand(TServerCommand command, std::string_view args = {}, bool skipReceive = false);

    // Reads the answer to the query or execution just sent. Afterwards either the OK
    // packet's values are in affectedRows, insertId, serverStatus, warningCount and info and
    // fieldCount is 0, or fieldCount and fields describe a result set whose rows follow and
    // status is msGetResult. A request to upload a local file is served only for a file the
    // query names (LocalInfile.h); any other request is answered with no data, and after the
    // server's answer error 2068 names the refused file.
    void ReadQueryResult();
    // Drains whatever is left of the current result (rows skipped in 64 KiB pieces, never
    // kept) and puts the session back to msReady; nothing happens when it is msReady.
    void FreeQuery();
    // Reads the packet that follows the end of a stored procedure's result when FSkipPacket
    // is set (an error packet raises); an OK packet's server status is taken, so that "more
    // results" no longer shows when none follow.
    void SkipTrailingPacket();
    void SelectDb(const std::string& db);
    void Ping();
    // The server's statistics line.
    std::string Statistics();
    // Once per session: sends the quit command without waiting and closes the transport,
    // which is freed even when sending fails (the error then propagates).
    void Close();

    // Ends a Connect running on another thread at once (or the next one, before it starts):
    // safe from any thread. A cancelled session stays so; connect with a new one.
    void CancelConnect() { FCancel->Cancel(); }
    // Whether the session runs over a Unix socket.
    bool IsUnixSocket() const;

    // Whether both sides speak protocol 4.1.
    bool IsProtocol41() const;
    // All 32 capability bits of the greeting.
    uint32_t ServerFlags() const { return uint32_t(serverCapabilities) | uint32_t(serverCapabilitiesExt) << 16; }
    // The ssl mode in force: the SSL protocol type asks for at least PREFERRED.
    TSslMode EffectiveSslMode() const;
    // Whether the connection runs over TLS, and then "TLSv1.3, TLS_AES_256_GCM_SHA384".
    bool IsSecure() const;
    std::string SecureConnectionInfo() const;

    // Writes the pre-4.1 answer for scrambleBuff[0..7]: 8 bytes and a NUL; a NUL alone for
    // an empty password.
    void scramble(const std::string& password);
    // Writes the 20-byte 4.1 answer for scrambleBuff.
    void scramble41(const std::string& password);

    uint32_t Ferrno = 0;
    std::string Ferror;
    std::string FSqlState;  // of the last error; empty without one
    bool isClosed = false;
    TMySqlResultSet* FResultSet = nullptr;
    TMySqlNet net;

    std::string host, user, password, database;
    std::string serverVersion;
    std::string hostInfo;
    std::string info;
    uint32_t clientFlag = 0;
    int port = 0;
    int _connectTimeout = DefaultConnectTimeout;
    int commandTimeout = 0;
    int threadId = 0;
    int serverCapabilities = 0;
    int serverStatus = 0;
    int serverLanguage = 0;
    int warningCount = 0;
    TMySqlStatus status = msReady;
    std::array<uint8_t, 20> scrambleBuff{};
    bool scramble41Available = false;  // the greeting carried all 20 scramble bytes
    MYSQL_PROTOCOL_TYPE protocolType = MYSQL_PROTOCOL_DEFAULT;
    int64_t affectedRows = 0, insertId = 0, extraInfo = 0;
    int fieldCount = 0;
    TMySqlFieldInfos fields;  // columns of the result whose header was just read
    std::string SSL_key, SSL_cert, SSL_ca, SSL_capath, SSL_cipher;
    TSslMode SSL_mode = smPreferred;
    // caching_sha2_password and sha256_password without TLS: the server's public key from
    // this PEM file, or (when allowed) asked from the server.
    std::string serverPublicKeyFile;
    bool getServerPublicKey = false;
    int serverCapabilitiesExt = 0;  // the upper 16 capability bits from the greeting
    std::string authPluginName;     // the plugin the greeting names; later the one that logged in
    bool FSkipPacket = false;

private:
    void OpenTransport(const std::string& host, int port, const std::string& unix_socket);
    // After a failed wait of the connect or login: 2003 (2002) with the system's reason, and
    // for a time-out what took too long.
    [[noreturn]] void RaiseConnectError(const std::string& detail);
    // The greeting, the handshake response and the authentication.
    void Login(const std::string& user, uint32_t clientflag, int port, const std::string& db,
               const std::string& passwd);
    uint32_t NegotiateFlags(uint32_t clientflag);
    void StartTLS(uint32_t flags);
    void WriteResponseHeader(uint32_t flags);
    void WriteHandshakeResponse(uint32_t flags, const std::string& user, const std::string& db,
                                const std::string& passwd);
    void Authenticate(const std::string& passwd);
    void AuthenticateWithPlugins();
    void SendAuthAnswer(const std::string& answer);
    TAuthContext AuthContext() const;
    void ReadOkPacket(TPacketReader& reader);
    void ReadResultSetHeader(TPacketReader& reader);
    void SendLocalFile(const std::string& name);
    void SkipRows();

    std::shared_ptr<TCancelSignal> FCancel = std::make_shared<TCancelSignal>();
    std::string FSocketPath;                     // of a session over a Unix socket
    std::unique_ptr<TAuthPlugin> FAuthPlugin;    // the plugin of the login in progress
    std::vector<std::string> FLocalInfileNames;  // files the last query names
    std::vector<uint8_t> FSkipBuffer;            // pieces of skipped rows
};

}  // namespace calvoro::protocol
