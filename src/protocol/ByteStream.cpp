#include "ByteStream.h"

#include <algorithm>
#include <cstring>

namespace calvoro::protocol {

TByteStream::TByteStream(size_t initialCapacity) : FData(initialCapacity) {}

void TByteStream::Reserve(size_t needed) {
    if (needed <= FData.size()) return;
    FData.resize(std::max(needed, FData.size() + FData.size() / 2));
}

void TByteStream::Write(const void* bytes, size_t count) {
    if (count == 0) return;
    Reserve(FPosition + count);
    std::memcpy(FData.data() + FPosition, bytes, count);
    FPosition += count;
    FLength = std::max(FLength, FPosition);
}

}  // namespace calvoro::protocol
