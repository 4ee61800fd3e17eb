#include "CRVioTcpSSL.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <limits>

namespace calvoro::protocol {
namespace {

constexpr std::array<std::string_view, 5> SslModeNames = {"DISABLED", "PREFERRED", "REQUIRED", "VERIFY_CA",
                                                          "VERIFY_IDENTITY"};

// OpenSSL's queued errors as one line (the queue is emptied); empty when there are none.
std::string OpenSslErrors() {
    std::string text;
    while (const unsigned long e = ERR_get_error()) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        if (!text.empty()) text += "; ";
        text += buf;
    }
    return text;
}

// The transport a BIO belongs to (its app data), for the waits of the login.
TCRVioTcp* VioOf(BIO* bio) { return static_cast<TCRVioTcp*>(BIO_get_app_data(bio)); }

// During the login every receive and send of the handshake waits within the login's deadline
// and beside the cancel signal first (TCRVioTcp::WaitReady); false when that wait failed,
// with errno telling why.
bool WaitForBio(BIO* bio, short events) {
    TCRVioTcp* vio = VioOf(bio);
    if (!vio || vio->WaitReady(events)) return true;
    BIO_clear_retry_flags(bio);
    errno = vio->Interruption() != 0 ? vio->Interruption() : ETIMEDOUT;
    return false;
}

int (*SocketRead)(BIO*, char*, int) = nullptr;

int ReadWaiting(BIO* bio, char* data, int length) {
    if (!WaitForBio(bio, POLLIN)) return -1;
    return SocketRead(bio, data, length);
}

// OpenSSL's socket BIO writes without MSG_NOSIGNAL (also inside SSL_read, for an alert), and
// a peer that has gone away would end the process with SIGPIPE. This BIO is the socket BIO
// with a write that gives EPIPE instead.
int WriteNoSigPipe(BIO* bio, const char* data, int length) {
    if (!WaitForBio(bio, POLLOUT)) return -1;
    int fd = -1;
    BIO_get_fd(bio, &fd);
    BIO_clear_retry_flags(bio);
    ssize_t n;
    do {
        n = ::send(fd, data, size_t(length), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) BIO_set_retry_write(bio);
    return int(n);
}

const BIO_METHOD* SocketWithoutSigPipe() {
    static BIO_METHOD* method = [] {
        const BIO_METHOD* socket = BIO_s_socket();
        BIO_METHOD* m = BIO_meth_new(BIO_TYPE_SOCKET, "socket without SIGPIPE");
        if (!m) return m;
        SocketRead = BIO_meth_get_read(socket);
        BIO_meth_set_write(m, WriteNoSigPipe);
        BIO_meth_set_read(m, ReadWaiting);
        BIO_meth_set_puts(m, BIO_meth_get_puts(socket));
        BIO_meth_set_ctrl(m, BIO_meth_get_ctrl(socket));
        BIO_meth_set_create(m, BIO_meth_get_create(socket));
        BIO_meth_set_destroy(m, BIO_meth_get_destroy(socket));
        return m;
    }();
    return method;
}

// A failed SSL_read or SSL_write: OpenSSL's reason, or the socket's as the TCP transport words it.
std::string IoErrorText(const char* call, int sysError) {
    const std::string queued = OpenSslErrors();
    return queued.empty() ? FormatText("Socket error on %s. WSAGetLastError return %d($%X)", {call, sysError, sysError})
                          : std::string("SSL error on ") + call + ": " + queued;
}

[[noreturn]] void RaiseSsl(const std::string& what) { throw EMySqlException(CR_SSL_CONNECTION_ERROR, what); }

// What the user can do about a certificate that did not verify.
std::string VerifyAdvice(long code, TSslMode mode) {
    switch (code) {
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return "Connect with a host name or address that the certificate names, or choose ssl-mode "
                   "VERIFY_CA to check the CA alone.";
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return "The server's certificate has to be renewed (or the clock of this computer is wrong).";
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_CERT_SIGNATURE_FAILURE:
            return "Give the CA certificate that issued the server's certificate (--ssl-ca, or the CA file of "
                   "the connect dialog)" +
                   std::string(mode == smVerifyIdentity || mode == smVerifyCa
                                   ? ", or choose ssl-mode REQUIRED to encrypt without checking the certificate."
                                   : ".");
        default:
            return "Check the server's certificate and the CA given, or choose ssl-mode REQUIRED to encrypt "
                   "without checking the certificate.";
    }
}

}  // namespace

std::string_view SslModeName(TSslMode mode) {
    return size_t(mode) < SslModeNames.size() ? SslModeNames[size_t(mode)] : std::string_view("?");
}

bool ParseSslMode(std::string_view name, TSslMode& mode) {
    for (size_t i = 0; i < SslModeNames.size(); ++i) {
        const std::string_view n = SslModeNames[i];
        if (n.size() == name.size() &&
            std::equal(n.begin(), n.end(), name.begin(), [](char a, char b) { return a == std::toupper(uint8_t(b)); })) {
            mode = TSslMode(i);
            return true;
        }
    }
    return false;
}

TCRVioTcpSSL::TCRVioTcpSSL(const std::string& hostname, int port, TSslOptions options)
    : TCRVioTcp(hostname, port), FOptions(std::move(options)) {}

TCRVioTcpSSL::~TCRVioTcpSSL() { Close(); }

// The context: TLS 1.2 or 1.3, the client certificate and key, the trusted CAs and, for the
// verifying modes, the check of the server's certificate during the handshake.
void TCRVioTcpSSL::CreateContext() {
    ERR_clear_error();
    ssl_context_ = SSL_CTX_new(TLS_client_method());
    if (!ssl_context_) RaiseSsl("TLS cannot be set up: " + OpenSslErrors());
    SSL_CTX_set_min_proto_version(ssl_context_, TLS1_2_VERSION);
    if (!FOptions.Cipher.empty() && SSL_CTX_set_cipher_list(ssl_context_, FOptions.Cipher.c_str()) != 1)
        RaiseSsl("No cipher of the list '" + FOptions.Cipher + "' can be used (--ssl-cipher): " + OpenSslErrors());
    if (!FOptions.Cert.empty()) {
        if (SSL_CTX_use_certificate_chain_file(ssl_context_, FOptions.Cert.c_str()) != 1)
            RaiseSsl("The client certificate '" + FOptions.Cert + "' cannot be read (--ssl-cert): " + OpenSslErrors());
        const std::string& key = FOptions.Key.empty() ? FOptions.Cert : FOptions.Key;
        if (SSL_CTX_use_PrivateKey_file(ssl_context_, key.c_str(), SSL_FILETYPE_PEM) != 1)
            RaiseSsl("The client key '" + key + "' cannot be read (--ssl-key): " + OpenSslErrors());
        if (SSL_CTX_check_private_key(ssl_context_) != 1)
            RaiseSsl("The client key '" + key + "' does not belong to the certificate '" + FOptions.Cert +
                     "': " + OpenSslErrors());
    } else if (!FOptions.Key.empty()) {
        RaiseSsl("A client key (--ssl-key) needs its certificate (--ssl-cert).");
    }
    if (!FOptions.CA.empty() || !FOptions.CAPath.empty()) {
        if (SSL_CTX_load_verify_locations(ssl_context_, FOptions.CA.empty() ? nullptr : FOptions.CA.c_str(),
                                          FOptions.CAPath.empty() ? nullptr : FOptions.CAPath.c_str()) != 1)
            RaiseSsl("The CA certificates '" + (FOptions.CA.empty() ? FOptions.CAPath : FOptions.CA) +
                     "' cannot be read (--ssl-ca, --ssl-capath): " + OpenSslErrors());
    } else if (FOptions.Mode >= smVerifyCa) {
        SSL_CTX_set_default_verify_paths(ssl_context_);  // the system's CAs
    }
    SSL_CTX_set_verify(ssl_context_, FOptions.Mode >= smVerifyCa ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
}

void TCRVioTcpSSL::SwitchToSSL() {
    if (FSd == -1) throw EInternalError("CRVioTcpSSL: SwitchToSSL on a closed socket");
    if (Buffered() != 0) throw EInternalError("CRVioTcpSSL: plain bytes left before the TLS handshake");
    CreateContext();
    Fssl = SSL_new(ssl_context_);
    BIO* bio = SocketWithoutSigPipe() ? BIO_new(SocketWithoutSigPipe()) : nullptr;
    if (!Fssl || !bio) {
        BIO_free(bio);
        RaiseSsl("TLS cannot be set up: " + OpenSslErrors());
    }
    BIO_set_fd(bio, FSd, BIO_NOCLOSE);
    BIO_set_app_data(bio, static_cast<TCRVioTcp*>(this));
    SSL_set_bio(Fssl, bio, bio);  // owned by Fssl from here
    in6_addr ip{};
    const bool isAddress = inet_pton(AF_INET, Fhostname.c_str(), &ip) == 1 || inet_pton(AF_INET6, Fhostname.c_str(), &ip) == 1;
    if (!isAddress) SSL_set_tlsext_host_name(Fssl, Fhostname.c_str());  // SNI takes names only
    if (FOptions.Mode == smVerifyIdentity) {
        X509_VERIFY_PARAM* param = SSL_get0_param(Fssl);
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        const int set = isAddress ? X509_VERIFY_PARAM_set1_ip_asc(param, Fhostname.c_str())
                                  : X509_VERIFY_PARAM_set1_host(param, Fhostname.c_str(), 0);
        if (set != 1) RaiseSsl("The host name '" + Fhostname + "' cannot be checked: " + OpenSslErrors());
    }
    SSL_set_connect_state(Fssl);
    ERR_clear_error();
    int r;
    do {
        r = SSL_do_handshake(Fssl);
    } while (r <= 0 && SSL_get_error(Fssl, r) == SSL_ERROR_SYSCALL && errno == EINTR);
    if (r != 1) RaiseHandshakeError(r);
    FisSecure = true;
}

void TCRVioTcpSSL::RaiseHandshakeError(int result) {
    const int error = SSL_get_error(Fssl, result);
    const int sysError = errno;
    const long verify = SSL_get_verify_result(Fssl);
    const std::string queued = OpenSslErrors();
    if (FOptions.Mode >= smVerifyCa && verify != X509_V_OK) {
        RaiseSsl("The server's certificate did not verify: " + std::string(X509_verify_cert_error_string(verify)) +
                 " (ssl-mode " + std::string(SslModeName(FOptions.Mode)) + "). " + VerifyAdvice(verify, FOptions.Mode));
    }
    std::string reason = !queued.empty() ? queued
                         : error == SSL_ERROR_SYSCALL && sysError != 0
                             ? FormatText("Socket error. WSAGetLastError return %d($%X)", {sysError, sysError})
                             : "the server closed the connection";
    RaiseSsl("The TLS handshake failed: " + reason);
}

std::string TCRVioTcpSSL::ProtocolVersion() const { return Fssl && FisSecure ? SSL_get_version(Fssl) : ""; }

std::string TCRVioTcpSSL::CipherName() const {
    return Fssl && FisSecure ? SSL_CIPHER_get_name(SSL_get_current_cipher(Fssl)) : "";
}

void TCRVioTcpSSL::Close() {
    if (Fssl) {
        // A polite close_notify; a peer that has gone already makes it fail, which changes nothing.
        if (FisSecure && FSd != -1) SSL_shutdown(Fssl);
        SSL_free(Fssl);
        Fssl = nullptr;
    }
    if (ssl_context_) {
        SSL_CTX_free(ssl_context_);
        ssl_context_ = nullptr;
    }
    FisSecure = false;
    ERR_clear_error();
    TCRVioTcp::Close();
}

size_t TCRVioTcpSSL::ReadNoWait(uint8_t* buffer, size_t offset, size_t count) {
    if (!FisSecure) return TCRVioTcp::ReadNoWait(buffer, offset, count);
    FLastError.clear();
    const int n = int(std::min(count, size_t(std::numeric_limits<int>::max())));
    for (;;) {
        ERR_clear_error();
        const int r = SSL_read(Fssl, buffer + offset, n);
        if (r > 0) return size_t(r);
        const int error = SSL_get_error(Fssl, r);
        if (error == SSL_ERROR_ZERO_RETURN) return 0;  // the server closed the connection
        const int sysError = errno;
        if (error == SSL_ERROR_SYSCALL && sysError == EINTR) continue;
        // A receive time-out arrives as "want read" with EAGAIN.
        FLastError = IoErrorText("read", sysError);
        return 0;
    }
}

size_t TCRVioTcpSSL::WriteNoWait(const uint8_t* buffer, size_t offset, size_t count) {
    if (!FisSecure) return TCRVioTcp::WriteNoWait(buffer, offset, count);
    FLastError.clear();
    const int n = int(std::min(count, size_t(std::numeric_limits<int>::max())));
    for (;;) {
        ERR_clear_error();
        const int r = SSL_write(Fssl, buffer + offset, n);
        if (r > 0) return size_t(r);
        const int error = SSL_get_error(Fssl, r);
        const int sysError = errno;
        if (error == SSL_ERROR_SYSCALL && sysError == EINTR) continue;
        FLastError = IoErrorText("write", sysError);
        return 0;
    }
}

bool TCRVioTcpSSL::WaitForData(int seconds) {
    if (FisSecure && SSL_pending(Fssl) > 0) return true;
    return TCRVioTcp::WaitForData(seconds);
}

}  // namespace calvoro::protocol
