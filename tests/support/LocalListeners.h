#pragma once
// Peers on 127.0.0.1 for connects that must not hang: a port that takes the connection and
// never answers, and a port whose connects hang in the TCP handshake (as with a host that
// drops packets). Both are sockets of the test process itself.

#include <vector>

namespace calvoro::test {

class TLocalListener {
public:
    // Listens on 127.0.0.1 (a free port) and never accepts. With blackHole the queue is
    // filled at once (backlog 0 and a few pending connects), so that the system drops the
    // handshake of every further connect; without it the system completes the handshake of
    // a connect alone, and nothing ever answers.
    explicit TLocalListener(bool blackHole);
    ~TLocalListener();
    TLocalListener(const TLocalListener&) = delete;
    TLocalListener& operator=(const TLocalListener&) = delete;
    int Port() const { return FPort; }

private:
    int FListener = -1;
    int FPort = 0;
    std::vector<int> FFill;
};

}  // namespace calvoro::test
