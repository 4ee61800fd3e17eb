#include "CRVio.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace calvoro::protocol {

void TCRVio::Connect() {
    FBufferLen = 0;
    FBufferPos = 0;
    FBuffer.assign(ReadAheadSize, 0);
}

size_t TCRVio::HandOutBuffered(uint8_t* buffer, size_t offset, size_t count) {
    const size_t n = std::min(FBufferLen - FBufferPos, count);
    if (n > 0) std::memcpy(buffer + offset, FBuffer.data() + FBufferPos, n);
    FBufferPos += n;
    if (FBufferPos == FBufferLen) FBufferPos = FBufferLen = 0;
    return n;
}

size_t TCRVio::Read(uint8_t* buffer, size_t offset, size_t count) {
    size_t result = HandOutBuffered(buffer, offset, count);
    offset += result;
    count -= result;
    if (count == 0) return result;

    // Small reads: one receive of up to 16 KiB into the read-ahead buffer, so that a header
    // and the packet after it usually cost one system call.
    if (count < SmallReadLimit && !FBuffer.empty()) {
        FBufferLen = ReadNoWait(FBuffer.data(), 0, FBuffer.size());
        FBufferPos = 0;
        if (FBufferLen == 0) {
            // Closed, failed or timed out: a second receive would only wait once more.
            std::this_thread::sleep_for(FRetryPause);
            return result;
        }
        const size_t n = HandOutBuffered(buffer, offset, count);
        result += n;
        offset += n;
        count -= n;
    }
    // Large reads go straight into the caller's memory.
    while (count > 0) {
        const size_t n = ReadNoWait(buffer, offset, count);
        if (n == 0) {
            std::this_thread::sleep_for(FRetryPause);
            break;
        }
        result += n;
        offset += n;
        count -= n;
    }
    return result;
}

size_t TCRVio::Write(const uint8_t* buffer, size_t offset, size_t count) {
    size_t result = 0;
    int failures = 0;  // over the whole call, not reset by a successful send
    while (count > 0) {
        const size_t n = WriteNoWait(buffer, offset, count);
        if (n > 0) {
            result += n;
            offset += n;
            count -= n;
            continue;
        }
        if (++failures == 3) break;
        std::this_thread::sleep_for(FRetryPause);
    }
    return result;
}

bool TCRVio::WaitForData(int) {
    throw EInternalError("CRVio: WaitForData is not implemented by this transport");
}

}  // namespace calvoro::protocol
