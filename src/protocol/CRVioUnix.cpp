#include "CRVioUnix.h"

#include "common/ScopeGuard.h"

#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace calvoro::protocol {

TCRVioUnix::TCRVioUnix(const std::string& path) : TCRVioTcp("localhost", 0), FPath(path) {}

void TCRVioUnix::Connect() {
    if (FSd != -1) throw EInternalError("CRVioUnix: Connect on an open socket");
    TCRVio::Connect();
    FLastError.clear();
    FSystemError.clear();
    FInterruption = 0;
    const auto fail = [&](int error) {
        SetConnectError(error);
        throw SocketException(CR_CONNECTION_ERROR, FLastError);
    };
    if (FCancel && FCancel->Cancelled()) fail(ECANCELED);
    TSocketAddress address;
    auto* un = reinterpret_cast<sockaddr_un*>(&address.Storage);
    un->sun_family = AF_UNIX;
    // The path and its NUL must fit the address.
    if (FPath.empty() || FPath.size() >= sizeof un->sun_path) fail(FPath.empty() ? ENOENT : ENAMETOOLONG);
    std::memcpy(un->sun_path, FPath.data(), FPath.size());
    address.Length = socklen_t(offsetof(sockaddr_un, sun_path) + FPath.size() + 1);
    if (const int error = ConnectTo(address, ConnectDeadline())) fail(error);
    ScopeExit closeSocket([&] {
        ::close(FSd);
        FSd = -1;
    });
    FinishConnect(false);
    closeSocket.Dismiss();
}

}  // namespace calvoro::protocol
