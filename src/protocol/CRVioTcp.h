#pragma once
// The TCP transport: an IPv4 stream socket with TCP_NODELAY, keep-alive and a receive
// time-out. Host names are resolved on a helper thread bounded by the time-out.

#include "CRVio.h"

#include <functional>
#include <memory>
#include <string>

namespace calvoro::protocol {

// Resolves a host name to an IPv4 address in network byte order. Returns 0, or the
// error number that the connect message shows (getaddrinfo's code; errno for EAI_SYSTEM).
using THostResolveFunc = std::function<int(const std::string& hostname, uint32_t& address)>;

// The system resolver (getaddrinfo, IPv4), the default of every TCRVioTcp.
int ResolveHostName(const std::string& hostname, uint32_t& address);

// One host-name lookup on a worker thread, started at construction. The thread owns its
// result through a shared state, so a transport that stopped waiting can go away while a
// late lookup finishes on its own; its answer is then ignored.
class THostNameResolver {
public:
    THostNameResolver(const std::string& hostname, THostResolveFunc resolve);
    // Waits at most timeout for the lookup; false when it has not finished.
    bool WaitFor(std::chrono::milliseconds timeout);
    // After a successful WaitFor: the address (network byte order) or -1, and the error.
    int64_t FIPAddr() const;
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

protected:
    std::string Fhostname;  // host name or dotted IPv4 address
    int Fport;
    int Ftimeout = 30;  // seconds; 0: no receive time-out, and names resolve in this thread
    int FSd = -1;
    int ffcntl_mode = 0;

private:
    uint32_t ResolveAddress();
    THostResolveFunc FResolve = ResolveHostName;
};

}  // namespace calvoro::protocol
