#include "MySqlSession.h"

#include "CRVioTcpSSL.h"
#include "CRVioUnix.h"
#include "LocalInfile.h"
#include "MySqlScramble.h"
#include "common/ScopeGuard.h"

#include <cerrno>
#include <cstring>

namespace calvoro::protocol {

TMySqlSession::TMySqlSession(uint32_t maxPacketLength) : net(maxPacketLength) {}
TMySqlSession::~TMySqlSession() = default;

bool TMySqlSession::IsProtocol41() const {
    return (serverCapabilities & CLIENT_PROTOCOL_41) && (clientFlag & CLIENT_PROTOCOL_41);
}

TSslMode TMySqlSession::EffectiveSslMode() const {
    return protocolType == MYSQL_PROTOCOL_SSL ? std::max(SSL_mode, smPreferred) : SSL_mode;
}

bool TMySqlSession::IsSecure() const {
    const auto* vio = dynamic_cast<const TCRVioTcpSSL*>(net.Vio());
    return vio && vio->IsSecure();
}

std::string TMySqlSession::SecureConnectionInfo() const {
    const auto* vio = dynamic_cast<const TCRVioTcpSSL*>(net.Vio());
    return vio && vio->IsSecure() ? vio->ProtocolVersion() + ", " + vio->CipherName() : std::string();
}

bool TMySqlSession::IsUnixSocket() const { return dynamic_cast<const TCRVioUnix*>(net.Vio()) != nullptr; }

void TMySqlSession::OpenTransport(const std::string& h, int p, const std::string& unix_socket) {
    FSocketPath.clear();
    const bool local = h.empty() || h == "localhost";
    const bool viaSocket = protocolType == MYSQL_PROTOCOL_SOCKET ||
                           (protocolType == MYSQL_PROTOCOL_DEFAULT && !unix_socket.empty() && local);
    switch (viaSocket ? MYSQL_PROTOCOL_SOCKET : protocolType) {
        case MYSQL_PROTOCOL_DEFAULT:
        case MYSQL_PROTOCOL_TCP:
        case MYSQL_PROTOCOL_SSL:
            // TCP that can switch to TLS during the handshake, unless TLS is off.
            if (EffectiveSslMode() == smDisabled)
                net.SetVio(std::make_unique<TCRVioTcp>(h, p));
            else
                net.SetVio(std::make_unique<TCRVioTcpSSL>(
                    h, p, TSslOptions{EffectiveSslMode(), SSL_key, SSL_cert, SSL_ca, SSL_capath, SSL_cipher}));
            hostInfo = h + (protocolType == MYSQL_PROTOCOL_SSL ? " via SSL" : " via TCP/IP");
            break;
        case MYSQL_PROTOCOL_SOCKET:
            if (net.Vio() && !dynamic_cast<TCRVioUnix*>(net.Vio())) {
                hostInfo = h;  // a transport the caller gave (a test's, a fuzzer's) stands for the socket
                break;
            }
            FSocketPath = unix_socket.empty() ? std::string(DefaultUnixSocket) : unix_socket;
            net.SetVio(std::make_unique<TCRVioUnix>(FSocketPath));
            hostInfo = ClientErrorText(CR_LOCALHOST_CONNECTION);
            break;
        case MYSQL_PROTOCOL_PIPE: {
            // Windows named pipes do not exist here: fail as a pipe that cannot be opened.
            const std::string pipeHost = local ? "." : h;
            const std::string pipe = unix_socket.empty() ? "MySQL" : unix_socket;
            throw EMySqlException(
                CR_CONN_HOST_ERROR,
                FormatText(ClientErrorText(CR_NAMEDPIPEOPEN_ERROR),
                           {pipeHost, pipe, "named pipes are not available on this system"}),
                {h, WSAECONNREFUSED});
        }
        default:
            if (!net.Vio()) throw EMySqlException(CR_CONN_UNKNOW_PROTOCOL);
            hostInfo = h;
            break;
    }
    TCRVio& vio = *net.Vio();
    vio.SetTimeout(_connectTimeout);
    // One deadline for the connect and the whole login after it.
    vio.SetCancelSignal(FCancel);
    vio.BeginLogin(_connectTimeout > 0 ? std::optional(std::chrono::steady_clock::now() +
                                                       std::chrono::seconds(_connectTimeout))
                                       : std::nullopt);
    try {
        vio.Connect();
    } catch (const EProtocolError&) {
        RaiseConnectError(std::string());
    }
}

void TMySqlSession::RaiseConnectError(const std::string& detail) {
    // Whatever the cause, the user sees 2003 (2002 for a Unix socket) with the system's reason
    // in the parentheses, said once; the transport's own words only when the system gave none.
    const TCRVio& vio = *net.Vio();
    const bool hasReason = !vio.SystemError().empty();
    const TFormatArg reason = hasReason ? TFormatArg(vio.SystemError()) : TFormatArg(WSAECONNREFUSED);
    const std::string more = !detail.empty() ? detail : hasReason ? std::string() : vio.LastError();
    if (!FSocketPath.empty()) throw EMySqlException(CR_CONNECTION_ERROR, more, {FSocketPath, reason});
    throw EMySqlException(CR_CONN_HOST_ERROR, more, {host, reason});
}

void TMySqlSession::Connect(const std::string& h, const std::string& u, uint32_t clientflag,
                            const std::string& unix_socket, int p, const std::string& db,
                            const std::string& passwd) {
    const std::string theHost = h.empty() ? "localhost" : h;
    const int thePort = p != 0 ? p : (port != 0 ? port : DefaultPort);
    serverStatus = SERVER_STATUS_AUTOCOMMIT;
    host = theHost;
    OpenTransport(theHost, thePort, unix_socket);
    try {
        Login(u, clientflag, thePort, db, passwd);
    } catch (const EProtocolError&) {
        // A login that ran out of time or was cancelled says so; any other failure is the
        // server's or the stream's and passes as it is.
        if (const int interruption = net.Vio() ? net.Vio()->Interruption() : 0)
            RaiseConnectError(interruption == ETIMEDOUT ? FormatText("The server took the connection but did not "
                                                                     "complete the login within the connect "
                                                                     "time-out (%d s).",
                                                                     {_connectTimeout})
                                                        : std::string());
        throw;
    }
    net.Vio()->EndLogin();
}

void TMySqlSession::Login(const std::string& u, uint32_t clientflag, int thePort, const std::string& db,
                          const std::string& passwd) {
    net.Receive();  // the greeting; an error packet (host not allowed …) raises
    TPacketReader reader = net.Reader();
    const TMySqlGreeting greeting = ReadGreeting(reader);
    serverVersion = greeting.serverVersion;
    threadId = int(greeting.threadId);
    scrambleBuff = greeting.scramble;
    scramble41Available = greeting.hasScramble41;
    serverCapabilities = greeting.serverCapabilities;
    if (greeting.hasStatus) {
        serverLanguage = greeting.serverLanguage;
        serverStatus = greeting.serverStatus;
    }
    serverCapabilitiesExt = greeting.serverCapabilitiesExt;
    authPluginName = greeting.authPluginName;
    port = thePort;
    user = u;
    password = passwd;
    net.Clear();  // the response continues the greeting's sequence

    const uint32_t flags = NegotiateFlags(clientflag);
    clientFlag = flags;
    if (flags & CLIENT_SSL) StartTLS(flags);
    WriteHandshakeResponse(flags, u, db, passwd);
    Authenticate(passwd);
    net.SetCompress(flags & CLIENT_COMPRESS);
}

// The capability flags of the response. CLIENT_SSL goes out when the ssl mode (or the caller)
// asks for TLS and the server offers it; a mode that requires TLS fails when it cannot have it.
// Plugin names are used when the server has them and the 4.1 scramble.
uint32_t TMySqlSession::NegotiateFlags(uint32_t clientflag) {
    if (clientflag & CLIENT_MULTI_STATEMENTS) clientflag |= CLIENT_MULTI_RESULTS;
    uint32_t flags = clientFlag | clientflag | CLIENT_ALWAYS | CLIENT_CONNECT_WITH_DB;
    TSslMode mode = EffectiveSslMode();
    if ((flags & CLIENT_SSL) && mode == smDisabled) mode = smPreferred;  // the caller asked for it
    if (mode != smDisabled) flags |= CLIENT_SSL;
    if ((serverCapabilities & CLIENT_SECURE_CONNECTION) && scramble41Available) flags |= CLIENT_PLUGIN_AUTH;
    // These stay only where the server has them; the rest go out whatever it announces.
    constexpr uint32_t negotiated = CLIENT_COMPRESS | CLIENT_PROTOCOL_41 | CLIENT_SSL | CLIENT_PLUGIN_AUTH;
    flags &= ~negotiated | ServerFlags();
    if (IsUnixSocket()) {
        // A local socket needs no encryption and counts as secure, as MySQL's own clients
        // count it; but it has no certificate to check.
        if (mode >= smVerifyCa)
            throw EMySqlException(CR_SSL_CONNECTION_ERROR,
                                  "A Unix socket has no server certificate to check, and ssl-mode " +
                                      std::string(SslModeName(mode)) +
                                      " asks for that. Connect over TCP to check the server's certificate, or "
                                      "choose ssl-mode REQUIRED or PREFERRED.");
        return flags & ~uint32_t(CLIENT_SSL);
    }
    if (mode >= smRequired && !(flags & CLIENT_SSL))
        throw EMySqlException(CR_SSL_CONNECTION_ERROR,
                              "The server does not offer TLS, and ssl-mode " + std::string(SslModeName(mode)) +
                                  " requires it. Enable TLS on the server, or connect with --ssl-mode PREFERRED "
                                  "or DISABLED to log in without encryption.");
    if ((flags & CLIENT_SSL) && !dynamic_cast<TCRVioTcpSSL*>(net.Vio())) {
        // A transport given by the caller that cannot switch to TLS.
        if (mode >= smRequired)
            throw EMySqlException(CR_SSL_CONNECTION_ERROR, "This transport cannot switch to TLS.");
        flags &= ~uint32_t(CLIENT_SSL);
    }
    return flags;
}

// The SSL request: the start of the handshake response alone, in clear; then the TLS
// handshake, after which the whole response follows over the secure channel (its sequence
// number continues: request 1, response 2).
void TMySqlSession::StartTLS(uint32_t flags) {
    WriteResponseHeader(flags);
    net.Send();
    static_cast<TCRVioTcpSSL*>(net.Vio())->SwitchToSSL();
}

// Handshake response, protocol 4.1:
//   capability flags     [4]
//   maximum packet size  [4]   1 GiB
//   character set        [1]   handshakeCharset: 8 (latin1) or 33 (utf8)
//   filler               [23]  zero
// before 4.1:
//   capability flags     [2]
//   maximum packet size  [3]   the low 16 bits only (0 for 1 GiB)
// then:
//   user name            [NUL-terminated]
//   password answer      server with CLIENT_SECURE_CONNECTION: 0 for no password; 20 and
//                        the 4.1 answer; without the 4.1 scramble "xxxxxxxx" NUL.
//                        Otherwise the pre-4.1 answer and a NUL (a NUL alone for none).
//   database             [NUL-terminated]  when the server has CLIENT_CONNECT_WITH_DB
void TMySqlSession::WriteResponseHeader(uint32_t flags) {
    if (flags & CLIENT_PROTOCOL_41) {
        net.WriteInt32(int32_t(flags));
        net.WriteInt32(int32_t(MaxPacketSize));
        net.WriteByte(handshakeCharset);
        net.Fill(0, 23);
    } else {
        net.WriteInt16(int32_t(flags));
        net.WriteInt24(int32_t(MaxPacketSize & 0xFFFF));
    }
}

// With CLIENT_PLUGIN_AUTH the password answer is the first answer of the greeting's plugin
// (mysql_native_password or caching_sha2_password; for any other the native answer, and the
// server switches), length-prefixed, and the plugin's name follows the database:
//   user name            [NUL-terminated]
//   answer length        [1]
//   answer               [length]
//   database             [NUL-terminated]  when the server has CLIENT_CONNECT_WITH_DB
//   plugin name          [NUL-terminated]
void TMySqlSession::WriteHandshakeResponse(uint32_t flags, const std::string& u,
                                           const std::string& db, const std::string& passwd) {
    WriteResponseHeader(flags);
    net.WriteString(u);
    if (flags & CLIENT_PLUGIN_AUTH) {
        const bool firstPacket = authPluginName == NativePasswordPlugin || authPluginName == CachingSha2Plugin;
        FAuthPlugin = TAuthPlugin::Create(firstPacket ? authPluginName : NativePasswordPlugin);
        const std::string answer = FAuthPlugin->FirstAnswer(
            AuthContext(), std::string_view(reinterpret_cast<const char*>(scrambleBuff.data()), scrambleBuff.size()));
        net.WriteByte(uint8_t(answer.size()));
        net.WriteBytes(answer);
        if (serverCapabilities & CLIENT_CONNECT_WITH_DB) {
            net.WriteString(db);
            database = db;
        }
        net.WriteString(FAuthPlugin->Name());
        net.Send();
        return;
    }
    bool endsWithTerminator;  // the last byte written is a NUL that ends the password field
    if (serverCapabilities & CLIENT_SECURE_CONNECTION) {
        if (passwd.empty()) {
            net.WriteByte(0);
            endsWithTerminator = false;
        } else if (scramble41Available) {
            net.WriteByte(20);
            scramble41(passwd);
            endsWithTerminator = false;
        } else {
            // The server is expected to ask for the pre-4.1 answer next.
            net.Fill('x', 8);
            net.WriteByte(0);
            endsWithTerminator = true;
        }
    } else {
        scramble(passwd);
        endsWithTerminator = true;
    }
    if (serverCapabilities & CLIENT_CONNECT_WITH_DB) {
        // The database's NUL stays, with or without a name: a response cut off after the
        // password answer is refused with 1043 "Bad handshake".
        net.WriteString(db);
        database = db;
    } else if (endsWithTerminator) {
        // A NUL-terminated password answer ends the packet without its NUL.
        TByteStream& b = net.Buffer();
        b.SetLength(b.Length() - 1);
    }
    net.Send();
}

// Reads the answer to the handshake response. With CLIENT_SECURE_CONNECTION the server may
// ask for more:
//   0xFE alone                       send the pre-4.1 answer
//   24 bytes, first not 0 (4.1.0):   "*" + 3 bytes + new scramble[20]: pre-4.1 answer for it;
//                                    otherwise salt[4] + encrypted scramble[20]: the scramble
//                                    is recovered with the password and answered 4.1.0-style.
// Anything else is success; an error packet raises the server's error.
void TMySqlSession::Authenticate(const std::string& passwd) {
    if (clientFlag & CLIENT_PLUGIN_AUTH) {
        AuthenticateWithPlugins();
        return;
    }
    net.Receive();
    if (!(serverCapabilities & CLIENT_SECURE_CONNECTION)) return;
    const size_t length = net.Buffer().Length();
    const uint8_t* reply = net.Buffer().Data();
    if (length == 1 && reply[0] == 0xFE) {
        net.Clear();
        scramble(passwd);
        net.Send();
        net.Receive();
    } else if (length == 24 && reply[0] != 0) {
        uint8_t r[24];
        std::memcpy(r, reply, sizeof r);
        net.Clear();
        if (r[0] == '*') {
            std::memcpy(scrambleBuff.data(), r + 4, 20);
            scramble(passwd);
        } else {
            const TSHA1Digest s1 = PasswordHashStage1(passwd);
            const TSHA1Digest s2 = PasswordHashStage2(std::span<const uint8_t, 4>(r, 4), s1);
            PasswordCrypt(r + 4, s2.data(), scrambleBuff.data());
            uint8_t answer[20];
            PasswordCrypt(scrambleBuff.data(), s1.data(), answer);
            net.WriteBytes(answer, 0, sizeof answer);
        }
        net.Send();
        net.Receive();
    }
}

// With plugin names the server may answer any number of times before OK or error: a switch
// request starts another plugin with a new scramble, more data goes to the current plugin,
// and 0xFE alone asks for the pre-4.1 answer over the greeting's scramble. Anything else is
// success, as without plugins.
void TMySqlSession::AuthenticateWithPlugins() {
    const TAuthContext context = AuthContext();
    for (;;) {
        net.Receive();  // an error packet raises the server's error
        TPacketReader reader = net.Reader();
        if (reader.AtEnd()) return;
        switch (reader.Data()[reader.Position()]) {
            case apSwitchRequest: {
                if (reader.Remaining() == 1) {
                    // The pre-4.1 answer over the greeting's scramble, as a packet of its own:
                    // empty for an empty password (a lone NUL is a malformed answer to the server).
                    authPluginName = OldPasswordPlugin;
                    FAuthPlugin = TAuthPlugin::Create(OldPasswordPlugin);
                    SendAuthAnswer(FAuthPlugin->FirstAnswer(
                        context, std::string_view(reinterpret_cast<const char*>(scrambleBuff.data()), 8)));
                    break;
                }
                const TAuthSwitchRequest request = ReadAuthSwitchRequest(reader);
                FAuthPlugin = TAuthPlugin::Create(request.PluginName);
                if (!FAuthPlugin)
                    throw EMySqlException(CR_AUTH_PLUGIN_CANNOT_LOAD,
                                          "The server asks for this authentication plugin, which this client does "
                                          "not have. Ask the administrator for an account with "
                                          "mysql_native_password, caching_sha2_password or client_ed25519.",
                                          {request.PluginName});
                authPluginName = request.PluginName;
                // The new scramble replaces the greeting's for the pre-4.1 request.
                std::memcpy(scrambleBuff.data(), request.PluginData.data(), std::min(request.PluginData.size(), scrambleBuff.size()));
                SendAuthAnswer(FAuthPlugin->FirstAnswer(context, request.PluginData));
                break;
            }
            case apMoreData: {
                const std::string data = ReadAuthMoreData(reader);
                if (const auto answer = FAuthPlugin->MoreData(context, data)) SendAuthAnswer(*answer);
                break;
            }
            default: return;
        }
    }
}

// One answer of a plugin as a packet of its own (an empty one is sent too).
void TMySqlSession::SendAuthAnswer(const std::string& answer) {
    net.Clear();
    if (answer.empty()) {
        net.SendEmpty();
    } else {
        net.WriteBytes(answer);
        net.Send();
    }
}

TAuthContext TMySqlSession::AuthContext() const {
    TAuthContext c;
    c.Password = password;
    c.UnixSocket = IsUnixSocket();
    c.Secure = IsSecure() || c.UnixSocket;
    c.GetServerPublicKey = getServerPublicKey;
    c.ServerPublicKeyFile = serverPublicKeyFile;
    return c;
}

void TMySqlSession::scramble(const std::string& passwd) {
    if (!passwd.empty()) {
        const auto answer = ScrambleOld(std::span<const uint8_t, 8>(scrambleBuff.data(), 8), passwd);
        net.WriteBytes(answer);
    }
    net.WriteByte(0);
}

void TMySqlSession::scramble41(const std::string& passwd) {
    const TSHA1Digest answer = Scramble41(scrambleBuff, passwd);
    net.WriteBytes(answer);
}

void TMySqlSession::WriteCommand(TServerCommand command) {
    if (status != msReady) throw EMySqlException(CR_COMMANDS_OUT_OF_SYNC);
    info.clear();
    affectedRows = 0;
    FLocalInfileNames.clear();
    net.NewCommand();
    net.WriteByte(command);
}

void TMySqlSession::SimpleCommand(TServerCommand command, std::string_view args, bool skipReceive) {
    if (!net.Vio()) return;
    net.Vio()->SetTimeout(commandTimeout);
    WriteCommand(command);
    if (command == scQuery) FLocalInfileNames = LocalInfileNames(args);
    if (!args.empty()) net.WriteBytes(args);
    net.Send();
    if (!skipReceive) net.Receive();
}

void TMySqlSession::SelectDb(const std::string& db) {
    SimpleCommand(scInitDb, db);
    database = db;
}

void TMySqlSession::Ping() { SimpleCommand(scPing); }

std::string TMySqlSession::Statistics() {
    SimpleCommand(scStatistics);
    const TByteStream& b = net.Buffer();
    return std::string(reinterpret_cast<const char*>(b.Data()), b.Length());
}

void TMySqlSession::Close() {
    if (isClosed) return;
    isClosed = true;
    status = msReady;
    ScopeExit close([&] { net.Close(); });
    SimpleCommand(scQuit, {}, true);
}

}  // namespace calvoro::protocol
