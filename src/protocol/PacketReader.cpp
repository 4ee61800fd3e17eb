#include "PacketReader.h"

#include <cstring>

namespace calvoro::protocol {

void RaiseMalformedPacket() { throw EMySqlException(CR_MALFORMED_PACKET); }

TPacketReader::TPacketReader(const uint8_t* data, size_t length, size_t position)
    : FData(data), FLength(length), FPosition(position) {
    if (position > length) RaiseMalformedPacket();
}

void TPacketReader::SetPosition(size_t position) {
    if (position > FLength) RaiseMalformedPacket();
    FPosition = position;
}

const uint8_t* TPacketReader::Take(size_t count) {
    if (count > Remaining()) RaiseMalformedPacket();
    const uint8_t* p = FData + FPosition;
    FPosition += count;
    return p;
}

uint64_t TPacketReader::ReadUnsigned(size_t size) {
    const uint8_t* p = Take(size);
    uint64_t v = 0;
    for (size_t i = size; i-- > 0;) v = (v << 8) | p[i];
    return v;
}

uint8_t TPacketReader::ReadByte() { return *Take(1); }
int16_t TPacketReader::ReadInt16() { return int16_t(ReadUnsigned(2)); }
uint16_t TPacketReader::ReadUInt16() { return uint16_t(ReadUnsigned(2)); }
uint32_t TPacketReader::ReadInt24() { return uint32_t(ReadUnsigned(3)); }
int32_t TPacketReader::ReadInt32() { return int32_t(uint32_t(ReadUnsigned(4))); }
uint32_t TPacketReader::ReadUInt32() { return uint32_t(ReadUnsigned(4)); }
int64_t TPacketReader::ReadInt64() { return int64_t(ReadUnsigned(8)); }

int64_t TPacketReader::ReadFieldLength() {
    const uint8_t first = ReadByte();
    if (first <= 250) return first;
    switch (first) {
        case 0xFB: return NullLength;
        case 0xFC: return int64_t(ReadUnsigned(2));
        case 0xFD: return int64_t(ReadUnsigned(3));
        case 0xFE: return int64_t(ReadUnsigned(8));
        default: RaiseMalformedPacket();
    }
}

std::string TPacketReader::ReadString(size_t length) {
    const uint8_t* p = Take(length);
    return std::string(reinterpret_cast<const char*>(p), length);
}

std::string TPacketReader::ReadString() {
    const uint8_t* start = FData + FPosition;
    const size_t left = Remaining();
    const void* nul = left ? std::memchr(start, 0, left) : nullptr;
    const size_t n = nul ? size_t(static_cast<const uint8_t*>(nul) - start) : left;
    FPosition += nul ? n + 1 : n;
    return std::string(reinterpret_cast<const char*>(start), n);
}

void TPacketReader::ReadBytes(uint8_t* bytes, size_t count) {
    const uint8_t* p = Take(count);
    if (count) std::memcpy(bytes, p, count);
}

std::span<const uint8_t> TPacketReader::ReadSpan(size_t count) {
    const uint8_t* p = Take(count);
    return {p, count};
}

void TPacketReader::Skip(size_t count) { Take(count); }

}  // namespace calvoro::protocol
