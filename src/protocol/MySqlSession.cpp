#include "MySqlSession.h"

#include "CRVioTcp.h"
#include "LocalInfile.h"
#include "MySqlScramble.h"
#include "common/ScopeGuard.h"

#include <cstring>

namespace calvoro::protocol {

TMySqlSession::TMySqlSession(uint32_t maxPacketLength) : net(maxPacketLength) {}
TMySqlSession::~TMySqlSession() = default;

bool TMySqlSession::IsProtocol41() const {
    return (serverCapabilities & CLIENT_PROTOCOL_41) && (clientFlag & CLIENT_PROTOCOL_41);
}

void TMySqlSession::OpenTransport(const std::string& h, int p, const std::string& unix_socket) {
    switch (protocolType) {
        case MYSQL_PROTOCOL_DEFAULT:
        case MYSQL_PROTOCOL_TCP:
            net.SetVio(std::make_unique<TCRVioTcp>(h, p));
            hostInfo = h + " via TCP/IP";
            break;
        case MYSQL_PROTOCOL_SSL:
            // The TLS transport is not built yet; refuse rather than talk in the clear.
            throw EMySqlException(CR_SSL_CONNECTION_ERROR);
        case MYSQL_PROTOCOL_PIPE: {
            // Windows named pipes do not exist here: fail as a pipe that cannot be opened.
            const std::string pipeHost = (h.empty() || h == "localhost") ? "." : h;
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
    net.Vio()->SetTimeout(_connectTimeout);
    try {
        net.Vio()->Connect();
    } catch (...) {
        // Whatever the cause, the user sees 2003 with the system's reason in the parentheses
        // and the transport's own after it.
        const TCRVio& vio = *net.Vio();
        const TFormatArg reason = vio.SystemError().empty() ? TFormatArg(WSAECONNREFUSED) : TFormatArg(vio.SystemError());
        throw EMySqlException(CR_CONN_HOST_ERROR, vio.LastError(), {h, reason});
    }
}

void TMySqlSession::Connect(const std::string& h, const std::string& u, uint32_t clientflag,
                            const std::string& unix_socket, int p, const std::string& db,
                            const std::string& passwd) {
    const std::string theHost = h.empty() ? "localhost" : h;
    const int thePort = p != 0 ? p : (port != 0 ? port : DefaultPort);
    serverStatus = SERVER_STATUS_AUTOCOMMIT;
    OpenTransport(theHost, thePort, unix_socket);

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
    host = theHost;
    port = thePort;
    user = u;
    password = passwd;
    net.Clear();  // the response continues the greeting's sequence

    if (clientflag & CLIENT_MULTI_STATEMENTS) clientflag |= CLIENT_MULTI_RESULTS;
    uint32_t flags = clientFlag | clientflag | CLIENT_ALWAYS | CLIENT_CONNECT_WITH_DB;
    if (protocolType == MYSQL_PROTOCOL_SSL) flags |= CLIENT_SSL;
    // These stay only where the server has them; the rest go out whatever it announces.
    constexpr uint32_t negotiated = CLIENT_COMPRESS | CLIENT_PROTOCOL_41 | CLIENT_SSL;
    flags &= ~negotiated | uint32_t(serverCapabilities);
    if (flags & CLIENT_SSL) throw EMySqlException(CR_SSL_CONNECTION_ERROR);  // no TLS transport yet
    clientFlag = flags;

    WriteHandshakeResponse(flags, u, db, passwd);
    Authenticate(passwd);
    net.SetCompress(flags & CLIENT_COMPRESS);
}

// Handshake response, protocol 4.1:
//   capability flags     [4]
//   maximum packet size  [4]   1 GiB
//   character set        [1]   8 (latin1)
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
void TMySqlSession::WriteHandshakeResponse(uint32_t flags, const std::string& u,
                                           const std::string& db, const std::string& passwd) {
    if (flags & CLIENT_PROTOCOL_41) {
        net.WriteInt32(int32_t(flags));
        net.WriteInt32(int32_t(MaxPacketSize));
        net.WriteByte(HandshakeCharset);
        net.Fill(0, 23);
    } else {
        net.WriteInt16(int32_t(flags));
        net.WriteInt24(int32_t(MaxPacketSize & 0xFFFF));
    }
    net.WriteString(u);
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
