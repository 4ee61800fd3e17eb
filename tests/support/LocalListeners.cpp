#include "LocalListeners.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

namespace calvoro::test {

TLocalListener::TLocalListener(bool blackHole) {
    FListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (FListener < 0 || ::bind(FListener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(FListener, blackHole ? 0 : 16) != 0 ||
        ::getsockname(FListener, reinterpret_cast<sockaddr*>(&a), &length) != 0)
        throw std::runtime_error(std::string("local listener: ") + std::strerror(errno));
    FPort = ntohs(a.sin_port);
    if (!blackHole) return;
    for (int i = 0; i < 4; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);  // pending: fills the queue
        FFill.push_back(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

TLocalListener::~TLocalListener() {
    for (const int fd : FFill) ::close(fd);
    if (FListener >= 0) ::close(FListener);
}

}  // namespace calvoro::test
