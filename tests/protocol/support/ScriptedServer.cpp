#include "ScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace calvoro::test {

void TScriptedPeer::Send(const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(FFd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) throw std::runtime_error(std::string("send: ") + std::strerror(errno));
        done += size_t(n);
    }
}

Bytes TScriptedPeer::ReadExact(size_t count) {
    Bytes out(count);
    size_t done = 0;
    while (done < count) {
        pollfd p{FFd, POLLIN, 0};
        if (::poll(&p, 1, int(ReadTimeout.count())) <= 0)
            throw std::runtime_error("the client sent nothing within the read time-out");
        const ssize_t n = ::recv(FFd, out.data() + done, count - done, 0);
        if (n <= 0) throw std::runtime_error("the client closed the connection");
        done += size_t(n);
    }
    return out;
}

Bytes TScriptedPeer::ReadPacket(uint8_t* seq) {
    const Bytes header = ReadExact(4);
    if (seq) *seq = header[3];
    return ReadExact(header[0] | header[1] << 8 | header[2] << 16);
}

bool TScriptedPeer::WaitForClose(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{FFd, POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0) return false;
        uint8_t b[256];
        if (::recv(FFd, b, sizeof b, 0) <= 0) return true;
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
}

}  // namespace calvoro::test
