#include "CRVioTcp.h"

#include "common/ScopeGuard.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace calvoro::protocol {
namespace {

// The Winsock-style text of a failing socket call, with errno in place of WSAGetLastError.
std::string SocketErrorText(const char* call, int code) {
    return FormatText("Socket error on %s. WSAGetLastError return %d($%X)", {call, code, code});
}

// "errno: description" of a system error, or of a resolver's code (negative, from getaddrinfo).
std::string SystemErrorText(int code) {
    return std::to_string(code) + ": " + (code < 0 ? gai_strerror(code) : std::strerror(code));
}

}  // namespace

int ResolveHostName(const std::string& hostname, uint32_t& address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int rc = getaddrinfo(hostname.c_str(), nullptr, &hints, &list);
    if (rc != 0) {
        // "localhost" is the loopback address even where the resolver has no entry for it
        // (a minimal system without /etc/hosts).
        if (strcasecmp(hostname.c_str(), "localhost") == 0 || strcasecmp(hostname.c_str(), "localhost.") == 0) {
            address = htonl(INADDR_LOOPBACK);
            return 0;
        }
        return (rc == EAI_SYSTEM && errno != 0) ? errno : rc;
    }
    address = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(list);
    return 0;
}

// ---------------------------------------------------------------------------------------

struct THostNameResolver::State {
    std::mutex Lock;
    std::condition_variable Done;
    bool Finished = false;
    int64_t IPAddr = -1;
    int Error = 0;
};

THostNameResolver::THostNameResolver(const std::string& hostname, THostResolveFunc resolve)
    : FState(std::make_shared<State>()) {
    std::thread([state = FState, hostname, resolve = std::move(resolve)] {
        uint32_t address = 0;
        const int error = resolve(hostname, address);
        std::lock_guard lock(state->Lock);
        state->Error = error;
        state->IPAddr = error == 0 ? int64_t(address) : -1;
        state->Finished = true;
        state->Done.notify_all();
    }).detach();
}

bool THostNameResolver::WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(FState->Lock);
    return FState->Done.wait_for(lock, timeout, [&] { return FState->Finished; });
}

int64_t THostNameResolver::FIPAddr() const {
    std::lock_guard lock(FState->Lock);
    return FState->IPAddr;
}

int THostNameResolver::ErrorCode() const {
    std::lock_guard lock(FState->Lock);
    return FState->Error;
}

// ---------------------------------------------------------------------------------------

TCRVioTcp::TCRVioTcp(const std::string& hostname, int port) : Fhostname(hostname), Fport(port) {}

TCRVioTcp::~TCRVioTcp() { Close(); }

// The address of Fhostname in network byte order; raises SocketException 2005 when there
// is none, with the reason in FLastError.
uint32_t TCRVioTcp::ResolveAddress() {
    in_addr dotted{};
    if (inet_aton(Fhostname.c_str(), &dotted) != 0) return dotted.s_addr;  // dotted forms as inet_addr reads them

    int64_t address = -1;
    int error = 0;
    if (Ftimeout < 1) {
        uint32_t a = 0;
        error = FResolve(Fhostname, a);
        if (error == 0) address = a;
    } else {
        THostNameResolver resolver(Fhostname, FResolve);
        if (resolver.WaitFor(std::chrono::milliseconds(int64_t(Ftimeout) * 1000))) {
            address = resolver.FIPAddr();
            error = resolver.ErrorCode();
        } else {
            FLastError = "Connection timed out";
            FSystemError = SystemErrorText(ETIMEDOUT);
        }
    }
    if (address == -1 && error != 0) {
        FLastError = SocketErrorText("connect", error);
        FSystemError = SystemErrorText(error);
    }
    if (address == -1)
        throw SocketException(CR_UNKNOWN_HOST, FormatText(ClientErrorText(CR_UNKNOWN_HOST),
                                                          {Fhostname, error}));
    return uint32_t(address);
}

void TCRVioTcp::Connect() {
    if (FSd != -1) throw EInternalError("CRVioTcp: Connect on an open socket");
    TCRVio::Connect();
    FLastError.clear();
    FSystemError.clear();
    if (Fhostname.empty()) Fhostname = "localhost";

    FSd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (FSd < 0) {
        const int error = errno;
        FSd = -1;
        FSystemError = SystemErrorText(error);
        throw SocketException(CR_UNKNOWN_HOST, SocketErrorText("socket", error));
    }
    // A connect that fails leaves no socket behind.
    ScopeExit closeSocket([&] {
        ffcntl_mode = 0;
        ::close(FSd);
        FSd = -1;
    });
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ResolveAddress();
    address.sin_port = htons(uint16_t(Fport));
    // Blocking; bounded by the system's own connect time-out, not by Ftimeout.
    int rc;
    do {
        rc = ::connect(FSd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        const int error = errno;
        FLastError = SocketErrorText("connect", error);
        FSystemError = SystemErrorText(error);
        throw SocketException(CR_CONN_HOST_ERROR, FLastError);
    }
    const int on = 1;
    if (setsockopt(FSd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0 ||
        setsockopt(FSd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0)
        throw SocketException(errno, std::strerror(errno));
    // Apply the stored time-out to the new socket; -1 defeats the unchanged-value shortcut.
    const int timeout = Ftimeout;
    Ftimeout = -1;
    SetTimeout(timeout);
    closeSocket.Dismiss();
}

void TCRVioTcp::SetTimeout(int seconds) {
    if (seconds == Ftimeout) return;
    Ftimeout = seconds;
    if (FSd == -1) return;
    // Receives only; sends have no time-out. 0 means none.
    timeval tv{};
    tv.tv_sec = seconds > 0 ? seconds : 0;
    if (setsockopt(FSd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0)
        throw SocketException(errno, std::strerror(errno));
}

void TCRVioTcp::Close() {
    if (FSd != -1) {
        ::shutdown(FSd, SHUT_RDWR);
        ::close(FSd);
        FSd = -1;
    }
    ffcntl_mode = 0;
}

size_t TCRVioTcp::ReadNoWait(uint8_t* buffer, size_t offset, size_t count) {
    FLastError.clear();
    ssize_t n;
    do {
        n = ::recv(FSd, buffer + offset, count, 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        FLastError = SocketErrorText("read", errno);
        return 0;
    }
    return size_t(n);  // 0: the server closed the connection
}

size_t TCRVioTcp::WriteNoWait(const uint8_t* buffer, size_t offset, size_t count) {
    FLastError.clear();
    ssize_t n;
    do {
        // MSG_NOSIGNAL: a peer that has gone away gives EPIPE instead of ending the process.
        n = ::send(FSd, buffer + offset, count, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        FLastError = SocketErrorText("write", errno);
        return 0;
    }
    return size_t(n);
}

size_t TCRVioTcp::Write(const uint8_t* buffer, size_t offset, size_t count) {
    if (FSd == -1) return 0;
    return TCRVio::Write(buffer, offset, count);
}

bool TCRVioTcp::WaitForData(int seconds) {
    pollfd p{FSd, POLLIN, 0};
    const int rc = ::poll(&p, 1, seconds < 0 ? -1 : seconds * 1000);
    if (rc < 0) {
        FLastError = SocketErrorText("select", errno);
        throw SocketException(CR_SERVER_GONE_ERROR, FLastError);
    }
    return rc > 0;
}

}  // namespace calvoro::protocol
