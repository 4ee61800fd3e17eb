#pragma once
// A growable byte buffer with a read/write position: the packet layer's packet buffer and
// its buffer of decompressed input.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace calvoro::protocol {

class TByteStream {
public:
    explicit TByteStream(size_t initialCapacity);

    uint8_t* Data() { return FData.data(); }
    const uint8_t* Data() const { return FData.data(); }
    size_t Length() const { return FLength; }
    size_t Position() const { return FPosition; }
    size_t Capacity() const { return FData.size(); }

    // Growing keeps the bytes; shrinking below the position moves the position back.
    void SetLength(size_t length) {
        if (length > FData.size()) Reserve(length);
        FLength = length;
        if (FPosition > FLength) FPosition = FLength;
    }
    // A position beyond the length extends the length.
    void SetPosition(size_t position) {
        if (position > FLength) SetLength(position);
        FPosition = position;
    }
    // Writes at the position and moves it past the bytes written.
    void Write(const void* bytes, size_t count);
    void WriteByte(uint8_t value) { Write(&value, 1); }
    // Position and length 0.
    void Clear() { FPosition = FLength = 0; }

private:
    // Capacity grows to the larger of the need and 1.5 times the old capacity.
    void Reserve(size_t needed);

    std::vector<uint8_t> FData;  // size() is the capacity
    size_t FLength = 0;
    size_t FPosition = 0;
};

}  // namespace calvoro::protocol
