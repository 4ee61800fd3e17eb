#include "CancelSignal.h"

#include "MySqlErrors.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace calvoro::protocol {

TCancelSignal::TCancelSignal() : FFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (FFd < 0) throw EProtocolError(std::string("Cannot create the connect's cancel signal: ") + std::strerror(errno));
}

TCancelSignal::~TCancelSignal() { ::close(FFd); }

void TCancelSignal::Cancel() {
    FCancelled.store(true, std::memory_order_release);
    const uint64_t one = 1;
    // The counter only has to be non-zero; a full counter (EAGAIN) is readable already.
    ssize_t n;
    do {
        n = ::write(FFd, &one, sizeof one);
    } while (n < 0 && errno == EINTR);
}

}  // namespace calvoro::protocol
