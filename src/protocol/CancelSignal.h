#pragma once
// A flag that another thread raises to stop a connect at once. It is an eventfd, so that a
// transport waiting for its socket polls the flag in the same call and wakes the moment it
// is raised; nothing has to be woken up otherwise.

#include <atomic>

namespace calvoro::protocol {

class TCancelSignal {
public:
    // Raises EProtocolError when the system gives no eventfd (out of file descriptors).
    TCancelSignal();
    ~TCancelSignal();
    TCancelSignal(const TCancelSignal&) = delete;
    TCancelSignal& operator=(const TCancelSignal&) = delete;

    // Raises the flag; safe from any thread, any number of times. It stays raised.
    void Cancel();
    bool Cancelled() const { return FCancelled.load(std::memory_order_acquire); }
    // Readable (POLLIN) once the flag is raised.
    int Fd() const { return FFd; }

private:
    int FFd = -1;
    std::atomic<bool> FCancelled{false};
};

}  // namespace calvoro::protocol
