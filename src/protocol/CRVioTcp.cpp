#include "CRVioTcp.h"

#include "common/ScopeGuard.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

namespace calvoro::protocol {
namespace {

using Clock = std::chrono::steady_clock;
using TDeadline = std::optional<Clock::time_point>;

// The Winsock-style text of a failing socket call, with errno in place of WSAGetLastError.
std::string SocketErrorText(const char* call, int code) {
    return FormatText("Socket error on %s. WSAGetLastError return %d($%X)", {call, code, code});
}

// "errno: description" of a system error, or of a resolver's code (negative, from getaddrinfo).
std::string SystemErrorText(int code) {
    return std::to_string(code) + ": " + (code < 0 ? gai_strerror(code) : std::strerror(code));
}

// Milliseconds left until the deadline for poll: -1 without one, 0 once it has passed
// (rounded up, so that a wait never ends a little before the deadline).
int PollTimeout(const TDeadline& deadline) {
    if (!deadline) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
    return int(std::clamp<int64_t>(left, 0, INT32_MAX));
}

// Waits until fd is ready for events, the deadline passes or the cancel signal is raised.
// 0 when ready (an error or hang-up counts: the next call tells it), ETIMEDOUT, ECANCELED,
// or poll's own errno.
int PollUntil(int fd, short events, const TDeadline& deadline, const TCancelSignal* cancel) {
    pollfd p[2] = {{fd, events, 0}, {cancel ? cancel->Fd() : -1, POLLIN, 0}};
    for (;;) {
        if (cancel && cancel->Cancelled()) return ECANCELED;
        const int timeout = PollTimeout(deadline);
        const int rc = ::poll(p, cancel ? 2 : 1, timeout);
        if (rc < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (cancel && (p[1].revents != 0 || cancel->Cancelled())) return ECANCELED;
        if (p[0].revents != 0) return 0;
        if (rc == 0 && timeout >= 0 && PollTimeout(deadline) == 0) return ETIMEDOUT;
    }
}

bool IsLocalhost(const std::string& name) {
    return strcasecmp(name.c_str(), "localhost") == 0 || strcasecmp(name.c_str(), "localhost.") == 0;
}

TSocketAddress LoopbackV4() {
    TSocketAddress a;
    auto* in = reinterpret_cast<sockaddr_in*>(&a.Storage);
    in->sin_family = AF_INET;
    in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.Length = sizeof(sockaddr_in);
    return a;
}

}  // namespace

// --- Addresses ----------------------------------------------------------------------------

std::string TSocketAddress::Text() const {
    char text[INET6_ADDRSTRLEN] = {};
    switch (Family()) {
        case AF_INET:
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&Storage)->sin_addr, text, sizeof text);
            return text;
        case AF_INET6:
            inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&Storage)->sin6_addr, text, sizeof text);
            return text;
        case AF_UNIX: return reinterpret_cast<const sockaddr_un*>(&Storage)->sun_path;
        default: return {};
    }
}

void TSocketAddress::SetPort(int port) {
    if (Family() == AF_INET) reinterpret_cast<sockaddr_in*>(&Storage)->sin_port = htons(uint16_t(port));
    if (Family() == AF_INET6) reinterpret_cast<sockaddr_in6*>(&Storage)->sin6_port = htons(uint16_t(port));
}

bool ParseAddressLiteral(const std::string& text, TSocketAddress& address) {
    const bool bracketed = text.size() >= 2 && text.front() == '[' && text.back() == ']';
    const std::string t = bracketed ? text.substr(1, text.size() - 2) : text;
    TSocketAddress a;
    in_addr v4{};
    if (!bracketed && inet_aton(t.c_str(), &v4) != 0) {  // every dotted form inet_addr reads
        auto* in = reinterpret_cast<sockaddr_in*>(&a.Storage);
        in->sin_family = AF_INET;
        in->sin_addr = v4;
        a.Length = sizeof(sockaddr_in);
        address = a;
        return true;
    }
    if (t.find(':') == std::string::npos) return false;
    // A numeric lookup reads IPv6 addresses with a zone ("fe80::1%eth0") too; it asks no one.
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* list = nullptr;
    if (getaddrinfo(t.c_str(), nullptr, &hints, &list) != 0 || !list) return false;
    std::memcpy(&a.Storage, list->ai_addr, list->ai_addrlen);
    a.Length = socklen_t(list->ai_addrlen);
    freeaddrinfo(list);
    address = a;
    return true;
}

bool SplitHostPort(const std::string& text, std::string& host, int& port) {
    const auto readPort = [](const std::string& digits, int& value) {
        if (digits.empty() || digits.size() > 5 ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        value = std::stoi(digits);
        return value >= 1 && value <= 65535;
    };
    std::string h;
    int p = 0;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos) return false;
        h = text.substr(1, close - 1);
        const std::string rest = text.substr(close + 1);
        if (!rest.empty() && (rest.front() != ':' || !readPort(rest.substr(1), p))) return false;
    } else if (const size_t colon = text.find(':'); colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
        h = text.substr(0, colon);
        if (!readPort(text.substr(colon + 1), p)) return false;
    } else {
        h = text;  // a name, or an IPv6 address without brackets
    }
    host = h;
    port = p;
    return true;
}

int ResolveHostName(const std::string& hostname, std::vector<TSocketAddress>& addresses) {
    addresses.clear();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;  // every address, IPv6 and IPv4, in the system's order
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int rc = getaddrinfo(hostname.c_str(), nullptr, &hints, &list);
    if (rc != 0) {
        // "localhost" is the loopback address even where the resolver has no entry for it
        // (a minimal system without /etc/hosts).
        if (IsLocalhost(hostname)) {
            addresses.push_back(LoopbackV4());
            return 0;
        }
        return (rc == EAI_SYSTEM && errno != 0) ? errno : rc;
    }
    for (const addrinfo* ai = list; ai; ai = ai->ai_next) {
        if ((ai->ai_family != AF_INET && ai->ai_family != AF_INET6) || ai->ai_addrlen > sizeof(sockaddr_storage)) continue;
        TSocketAddress a;
        std::memcpy(&a.Storage, ai->ai_addr, ai->ai_addrlen);
        a.Length = socklen_t(ai->ai_addrlen);
        addresses.push_back(a);
    }
    freeaddrinfo(list);
    return 0;
}

// --- Resolver thread ------------------------------------------------------------------------

struct THostNameResolver::State {
    State() : DoneFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~State() {
        if (DoneFd >= 0) ::close(DoneFd);
    }
    std::mutex Lock;
    bool Finished = false;
    std::vector<TSocketAddress> Addresses;
    int Error = 0;
    int DoneFd;  // readable once the lookup has finished; -1 when none could be had
};

THostNameResolver::THostNameResolver(const std::string& hostname, THostResolveFunc resolve)
    : FState(std::make_shared<State>()) {
    std::thread([state = FState, hostname, resolve = std::move(resolve)] {
        std::vector<TSocketAddress> addresses;
        const int error = resolve(hostname, addresses);
        std::lock_guard lock(state->Lock);
        state->Error = error;
        if (error == 0) state->Addresses = std::move(addresses);
        state->Finished = true;
        const uint64_t one = 1;
        if (state->DoneFd >= 0 && ::write(state->DoneFd, &one, sizeof one) < 0) {
            // The counter is non-zero already (EAGAIN): the waiter wakes either way.
        }
    }).detach();
}

THostNameResolver::TWait THostNameResolver::Wait(TDeadline deadline, const TCancelSignal* cancel) {
    for (;;) {
        {
            std::lock_guard lock(FState->Lock);
            if (FState->Finished) return wDone;
        }
        // Without an event descriptor the state is looked at every 10 ms.
        const TDeadline step = FState->DoneFd >= 0 ? deadline : std::optional(Clock::now() + std::chrono::milliseconds(10));
        const int rc = PollUntil(FState->DoneFd, POLLIN, deadline && step ? std::min(*deadline, *step) : step, cancel);
        if (rc == ECANCELED) return wCancelled;
        std::lock_guard lock(FState->Lock);
        if (FState->Finished) return wDone;
        if (deadline && Clock::now() >= *deadline) return wTimedOut;
    }
}

std::vector<TSocketAddress> THostNameResolver::Addresses() const {
    std::lock_guard lock(FState->Lock);
    return FState->Addresses;
}

int THostNameResolver::ErrorCode() const {
    std::lock_guard lock(FState->Lock);
    return FState->Error;
}

// --- TCRVioTcp ------------------------------------------------------------------------------

TCRVioTcp::TCRVioTcp(const std::string& hostname, int port) : Fhostname(hostname), Fport(port) {}

TCRVioTcp::~TCRVioTcp() { Close(); }

TDeadline TCRVioTcp::ConnectDeadline() const {
    if (FLogin) return FDeadline;
    if (Ftimeout > 0) return Clock::now() + std::chrono::seconds(Ftimeout);
    return std::nullopt;
}

void TCRVioTcp::SetConnectError(int error) {
    FLastError = error == ETIMEDOUT   ? std::string("Connection timed out")
                 : error == ECANCELED ? std::string("Connect cancelled")
                                      : SocketErrorText("connect", error);
    FSystemError = SystemErrorText(error);
    if (error == ETIMEDOUT || error == ECANCELED) FInterruption = error;
}

// The addresses of Fhostname; raises SocketException 2005 when there are none, with the
// reason in FLastError (a lookup that outlives the deadline: "Connection timed out").
std::vector<TSocketAddress> TCRVioTcp::ResolveAddresses(TDeadline deadline) {
    TSocketAddress literal;
    if (ParseAddressLiteral(Fhostname, literal)) return {literal};  // never looked up by name

    std::vector<TSocketAddress> addresses;
    int error = 0;
    if (Ftimeout < 1) {
        error = FResolve(Fhostname, addresses);
    } else {
        THostNameResolver resolver(Fhostname, FResolve);
        switch (resolver.Wait(deadline, FCancel.get())) {
            case THostNameResolver::wDone:
                addresses = resolver.Addresses();
                error = resolver.ErrorCode();
                break;
            case THostNameResolver::wTimedOut:
                SetConnectError(ETIMEDOUT);
                break;
            case THostNameResolver::wCancelled:
                SetConnectError(ECANCELED);
                break;
        }
    }
    if (addresses.empty() && error != 0) {
        FLastError = SocketErrorText("connect", error);
        FSystemError = SystemErrorText(error);
    }
    if (addresses.empty())
        throw SocketException(CR_UNKNOWN_HOST, FormatText(ClientErrorText(CR_UNKNOWN_HOST), {Fhostname, error}));
    return addresses;
}

int TCRVioTcp::ConnectTo(const TSocketAddress& address, TDeadline deadline) {
    const int fd = ::socket(address.Family(), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return errno;
    ScopeExit closeSocket([&] { ::close(fd); });
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address.Storage), address.Length) != 0) {
        // EINTR leaves a non-blocking connect under way, as EINPROGRESS does.
        if (errno != EINPROGRESS && errno != EINTR) return errno;
        const int waited = PollUntil(fd, POLLOUT, deadline, FCancel.get());
        if (waited != 0) return waited;
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
        if (error != 0) return error;
    }
    // Reads and writes block from here on, bounded by the receive time-out.
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return errno;
    closeSocket.Dismiss();
    FSd = fd;
    FPeer = address;
    return 0;
}

void TCRVioTcp::FinishConnect(bool tcp) {
    const int on = 1;
    if ((tcp && setsockopt(FSd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) ||
        setsockopt(FSd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0)
        throw SocketException(errno, std::strerror(errno));
    // Apply the stored time-out to the new socket; -1 defeats the unchanged-value shortcut.
    const int timeout = Ftimeout;
    Ftimeout = -1;
    SetTimeout(timeout);
}

void TCRVioTcp::Connect() {
    if (FSd != -1) throw EInternalError("CRVioTcp: Connect on an open socket");
    TCRVio::Connect();
    FLastError.clear();
    FSystemError.clear();
    FInterruption = 0;
    if (Fhostname.empty()) Fhostname = "localhost";
    const TDeadline deadline = ConnectDeadline();
    if (FCancel && FCancel->Cancelled()) {
        SetConnectError(ECANCELED);
        throw SocketException(CR_CONN_HOST_ERROR, FLastError);
    }

    // Every address in turn, within the one deadline; the error of the last one is told.
    int error = 0;
    for (TSocketAddress address : ResolveAddresses(deadline)) {
        address.SetPort(Fport);
        error = ConnectTo(address, deadline);
        if (error == 0 || error == ETIMEDOUT || error == ECANCELED) break;
    }
    if (error != 0) {
        SetConnectError(error);
        throw SocketException(CR_CONN_HOST_ERROR, FLastError);
    }
    // A connect that fails leaves no socket behind.
    ScopeExit closeSocket([&] {
        ffcntl_mode = 0;
        ::close(FSd);
        FSd = -1;
    });
    FinishConnect(true);
    closeSocket.Dismiss();
}

bool TCRVioTcp::WaitReady(short events) {
    if (!FLogin) return true;
    const int rc = PollUntil(FSd, events, FDeadline, FCancel.get());
    if (rc == 0) return true;
    if (rc == ETIMEDOUT || rc == ECANCELED) FInterruption = rc;
    FLastError = SocketErrorText(events & POLLIN ? "read" : "write", rc);
    FSystemError = SystemErrorText(rc);
    return false;
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
    if (!WaitReady(POLLIN)) return 0;
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
    if (!WaitReady(POLLOUT)) return 0;
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
