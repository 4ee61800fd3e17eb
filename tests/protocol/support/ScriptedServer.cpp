#include "ScriptedServer.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace calvoro::test {

TScriptedPeer::~TScriptedPeer() {
    if (FSsl) SSL_free(FSsl);
    if (FContext) SSL_CTX_free(FContext);
}

void TScriptedPeer::StartTls(const std::string& certFile, const std::string& keyFile) {
    FContext = SSL_CTX_new(TLS_server_method());
    if (!FContext || SSL_CTX_use_certificate_file(FContext, certFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_use_PrivateKey_file(FContext, keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
        throw std::runtime_error("scripted server: TLS set-up failed");
    FSsl = SSL_new(FContext);
    SSL_set_fd(FSsl, FFd);
    if (SSL_accept(FSsl) != 1) {
        ERR_clear_error();
        throw std::runtime_error("the TLS handshake failed");
    }
}

bool TScriptedPeer::WaitReadable(int milliseconds) {
    if (FSsl && SSL_pending(FSsl) > 0) return true;
    pollfd p{FFd, POLLIN, 0};
    return ::poll(&p, 1, milliseconds) > 0;
}

void TScriptedPeer::Send(const uint8_t* bytes, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = FSsl ? SSL_write(FSsl, bytes + done, int(size - done))
                               : ::send(FFd, bytes + done, size - done, MSG_NOSIGNAL);
        if (n <= 0) throw std::runtime_error(std::string("send: ") + std::strerror(errno));
        done += size_t(n);
    }
}

Bytes TScriptedPeer::ReadExact(size_t count) {
    Bytes out(count);
    size_t done = 0;
    while (done < count) {
        if (!WaitReadable(int(ReadTimeout.count())))
            throw std::runtime_error("the client sent nothing within the read time-out");
        const ssize_t n = FSsl ? SSL_read(FSsl, out.data() + done, int(count - done))
                               : ::recv(FFd, out.data() + done, count - done, 0);
        if (n <= 0) throw std::runtime_error("the client closed the connection");
        done += size_t(n);
    }
    return out;
}

Bytes TScriptedPeer::ReadPacket(uint8_t* seq) {
    const Bytes header = ReadExact(4);
    LastSeq = header[3];
    if (seq) *seq = header[3];
    return ReadExact(header[0] | header[1] << 8 | header[2] << 16);
}

Bytes TScriptedPeer::ReadCompressedPacket() {
    const Bytes header = ReadExact(7);
    LastSeq = header[3];
    const Bytes data = ReadExact(header[0] | header[1] << 8 | header[2] << 16);
    const size_t before = header[4] | header[5] << 8 | header[6] << 16;
    if (before == 0) return data;
    Bytes plain(before);
    uLongf n = before;
    if (uncompress(plain.data(), &n, data.data(), uLong(data.size())) != Z_OK || n != before)
        throw std::runtime_error("the client's compressed packet does not inflate");
    return plain;
}

bool TScriptedPeer::WaitForClose(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        if (!WaitReadable(int(left.count()))) return false;
        uint8_t b[256];
        if ((FSsl ? SSL_read(FSsl, b, sizeof b) : ::recv(FFd, b, sizeof b, 0)) <= 0) return true;
    }
}

TScriptedServer::TScriptedServer(Script script) {
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (FListen < 0 || ::bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(FListen, 1) != 0 || ::getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error(std::string("scripted server: ") + std::strerror(errno));
    FPort = ntohs(a.sin_port);
    Serve(std::move(script));
}

TScriptedServer::TScriptedServer(Script script, const std::string& unixSocketPath) : FUnixPath(unixSocketPath) {
    FListen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    if (unixSocketPath.size() >= sizeof a.sun_path) throw std::runtime_error("scripted server: socket path too long");
    std::memcpy(a.sun_path, unixSocketPath.data(), unixSocketPath.size());
    ::unlink(unixSocketPath.c_str());
    if (FListen < 0 || ::bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(FListen, 1) != 0)
        throw std::runtime_error(std::string("scripted server: ") + std::strerror(errno));
    Serve(std::move(script));
}

void TScriptedServer::Serve(Script script) {
    FThread = std::thread([this, script = std::move(script)] {
        try {
            pollfd p{FListen, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0) throw std::runtime_error("no client connected");
            const int fd = ::accept(FListen, nullptr, nullptr);
            if (fd < 0) throw std::runtime_error("accept failed");
            TScriptedPeer peer(fd);
            try {
                script(peer);
            } catch (...) {
                ::close(fd);
                throw;
            }
            ::close(fd);
        } catch (const std::exception& e) {
            FFailure = e.what();
        }
    });
}

std::string TScriptedServer::Join() {
    if (FThread.joinable()) FThread.join();
    return FFailure;
}

TScriptedServer::~TScriptedServer() {
    Join();
    if (FListen >= 0) ::close(FListen);
    if (!FUnixPath.empty()) ::unlink(FUnixPath.c_str());
}

}  // namespace calvoro::test
