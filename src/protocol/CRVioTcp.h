#pragma once
// The TCP transport: a stream socket (IPv4 or IPv6) with TCP_NODELAY, keep-alive and a
// receive time-out. Host names resolve to every address they have, on a helper thread
// bounded by the time-out, and the addresses are tried in turn. The connect itself does not
// block: it waits in poll beside the cancel signal, until the time-out.

#include "CRVio.h"

#include <sys/socket.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace calvoro::protocol {

// One address to connect to, of any family (AF_INET, AF_INET6, AF_UNIX). The port is the
// transport's: a resolver leaves it 0.
struct TSocketAddress {
    sockaddr_storage Storage{};
    socklen_t Length = 0;

    int Family() const { return Storage.ss_family; }
    // "127.0.0.1", "::1", or the path of a Unix socket.
    std::string Text() const;
    void SetPort(int port);
};

// An address written as a literal: a dotted IPv4 address in any form inet_aton reads, or
// an IPv6 address, with or without brackets ("::1", "[::1]"). False for a host name.
bool ParseAddressLiteral(const std::string& text, TSocketAddress& address);

// Splits what a user types as a server: "host", "host:port", "[v6 address]",
// "[v6 address]:port"; an IPv6 address without brackets ("::1", "fe80::1") is a host
// alone. port becomes 0 when the text names none. False (host and port untouched) for a port
// that is not a number from 1 to 65535, or a bracket that is not closed.
bool SplitHostPort(const std::string& text, std::string& host, int& port);

// Resolves a host name to its addresses, in the order to try them. Returns 0, or the error
// number that the connect message shows (getaddrinfo's code; errno for EAI_SYSTEM).
using THostResolveFunc = std::function<int(const std::string& hostname, std::vector<TSocketAddress>& addresses)>;

// The system resolver (getaddrinfo, IPv4 and IPv6), the default of every TCRVioTcp.
int ResolveHostName(const std::string& hostname, std::vector<TSocketAddress>& addresses);

// One host-name lookup on a worker thread, started at construction. The thread owns its
// result through a shared state, so a transport that stopped waiting can go away while a
// late lookup finishes on its own; its answer is then ignored.
class THostNameResolver {
public:
    THostNameResolver(const std::string& hostname, THostResolveFunc resolve);
    enum TWait { wDone, wTimedOut, wCancelled };
    // Waits for the lookup until the deadline (none: no limit) or the cancel signal.
    TWait Wait(std::optional<std::chrono::steady_clock::time_point> deadline, const TCancelSignal* cancel);
    // After wDone: the addresses (empty on failure) and the error.
    std::vector<TSocketAddress> Addresses() const;
    int ErrorCode() const;

private:
    struct State;
    std::shared_ptr<State> FState;
};

class TCRVioTcp : public TCRVio {
public:
    TCRVioTcp(const std::string& hostname, int port);
    ~TCRVioTcp() override;

    int GetTimeout() override { return Ftimeout; }
    void SetTimeout(int seconds) override;
    void Connect() override;
    void Close() override;
    size_t ReadNoWait(uint8_t* buffer, size_t offset, size_t count) override;
    size_t WriteNoWait(const uint8_t* buffer, size_t offset, size_t count) override;
    size_t Write(const uint8_t* buffer, size_t offset, size_t count) override;
    bool WaitForData(int seconds) override;
    virtual int GetSocket() { return FSd; }

    // The resolver used by Connect; tests put a slow one here.
    void SetResolver(THostResolveFunc resolve) { FResolve = resolve ? std::move(resolve) : ResolveHostName; }
    // The address the socket is connected to, after Connect.
    const TSocketAddress& PeerAddress() const { return FPeer; }

    // During the login (BeginLogin): waits until the socket is ready for events (POLLIN,
    // POLLOUT), the deadline passes or the cancel signal is raised; false then, with the
    // reason in LastError, SystemError and Interruption. Outside the login: true at once.
    bool WaitReady(short events);

protected:
    // Connects a new socket to address (port included) without blocking: the wait ends at
    // the deadline or the cancel signal. 0 with FSd open, or the errno value of the failure
    // (ETIMEDOUT, ECANCELED for those two), with no socket left open.
    int ConnectTo(const TSocketAddress& address, std::optional<std::chrono::steady_clock::time_point> deadline);
    // The deadline of the connect: the login's, else Ftimeout from now (none for 0).
    std::optional<std::chrono::steady_clock::time_point> ConnectDeadline() const;
    // After ConnectTo: the socket options (TCP_NODELAY only for TCP) and the receive time-out.
    void FinishConnect(bool tcp);
    // Records a failed connect in the system's words: FLastError, FSystemError and for
    // ETIMEDOUT / ECANCELED the interruption.
    void SetConnectError(int error);

    std::string Fhostname;  // host name, or an IPv4 or IPv6 address
    int Fport;
    int Ftimeout = 30;  // seconds; 0: no receive time-out, and names resolve in this thread
    int FSd = -1;
    int ffcntl_mode = 0;

private:
    std::vector<TSocketAddress> ResolveAddresses(std::optional<std::chrono::steady_clock::time_point> deadline);
    THostResolveFunc FResolve = ResolveHostName;
    TSocketAddress FPeer;
};

}  // namespace calvoro::protocol
