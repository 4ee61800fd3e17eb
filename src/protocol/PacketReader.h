#pragma once
// The one bounds-checked decoder of received payloads. Every read checks what is left and
// raises EMySqlException 2027 "Malformed packet" instead of reading past the payload; the
// packet layer's typed readers, the greeting and every later packet decoder go through it.

#include "MySqlErrors.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace calvoro::protocol {

// The length-coded integer's NULL marker (first byte 0xFB).
constexpr int64_t NullLength = -1;

class TPacketReader {
public:
    TPacketReader(const uint8_t* data, size_t length, size_t position = 0);
    explicit TPacketReader(std::span<const uint8_t> payload, size_t position = 0)
        : TPacketReader(payload.data(), payload.size(), position) {}

    size_t Position() const { return FPosition; }
    void SetPosition(size_t position);  // at most the length
    size_t Length() const { return FLength; }
    size_t Remaining() const { return FLength - FPosition; }
    bool AtEnd() const { return FPosition == FLength; }
    const uint8_t* Data() const { return FData; }

    // Little-endian integers.
    uint8_t ReadByte();
    int16_t ReadInt16();
    uint16_t ReadUInt16();
    uint32_t ReadInt24();
    int32_t ReadInt32();
    uint32_t ReadUInt32();
    int64_t ReadInt64();
    // Length-coded integer: 0-250 the byte itself; 0xFB NULL (NullLength); 0xFC, 0xFD, 0xFE
    // followed by 2, 3 and 8 bytes. 0xFF is not a length: Malformed packet.
    int64_t ReadFieldLength();
    // Exactly length bytes.
    std::string ReadString(size_t length);
    // Up to the next NUL, which is consumed; without one the rest of the payload; at the end
    // of the payload the empty string.
    std::string ReadString();
    void ReadBytes(uint8_t* bytes, size_t count);
    std::span<const uint8_t> ReadSpan(size_t count);
    void Skip(size_t count);

private:
    const uint8_t* Take(size_t count);  // raises when fewer than count bytes are left
    uint64_t ReadUnsigned(size_t size);

    const uint8_t* FData;
    size_t FLength;
    size_t FPosition;
};

// Raises EMySqlException 2027 "Malformed packet".
[[noreturn]] void RaiseMalformedPacket();

}  // namespace calvoro::protocol
