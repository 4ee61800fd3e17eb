#pragma once
// The Unix-socket transport: a stream socket to a local server's socket file. Receives,
// sends, the time-outs and the waits of the login are the TCP transport's; only the connect
// differs (a path instead of a host and port, no TCP options).

#include "CRVioTcp.h"

#include <string>

namespace calvoro::protocol {

class TCRVioUnix : public TCRVioTcp {
public:
    explicit TCRVioUnix(const std::string& path);

    // Raises SocketException 2002 when the socket cannot be reached, with the system's reason
    // in SystemError ("2: No such file or directory", "111: Connection refused", a path too
    // long for a socket address).
    void Connect() override;
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};

}  // namespace calvoro::protocol
