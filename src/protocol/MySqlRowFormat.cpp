#include "MySqlRowFormat.h"

#include "PacketReader.h"

#include <array>

namespace calvoro::protocol {
namespace {

uint32_t LE(const uint8_t* p, size_t size) {
    uint32_t v = 0;
    for (size_t i = size; i-- > 0;) v = (v << 8) | p[i];
    return v;
}

// Offsets and lengths are 32-bit; no server sends a row of 4 GiB.
void CheckRowLength(size_t length) {
    if (length > UINT32_MAX) RaiseMalformedPacket();
}

// Describes the length-coded string at pos into bind and returns the position after it.
//   0xFB NULL; 0xFC, 0xFD, 0xFE: length in the next 2, 3, 8 bytes; 0-250 the length itself
// The 1-byte lengths of most values are decoded inline, the others here.
size_t DescribeLongValue(const uint8_t* row, size_t length, size_t pos, TMySqlBind& bind) {
    size_t size;
    switch (row[pos]) {
        case 0xFB:
            bind.IsNull = true;
            bind.Offset = 0;
            bind.Length = 0;
            return pos + 1;
        case 0xFC: size = 2; break;
        case 0xFD: size = 3; break;
        case 0xFE: size = 8; break;
        default: RaiseMalformedPacket();  // 0xFF is not a length
    }
    if (size > length - pos - 1) RaiseMalformedPacket();
    const uint64_t n = size == 8 ? uint64_t(LE(row + pos + 1, 4)) | uint64_t(LE(row + pos + 5, 4)) << 32
                                 : LE(row + pos + 1, size);
    const size_t start = pos + 1 + size;
    if (n > length - start) RaiseMalformedPacket();
    bind.IsNull = false;
    bind.Offset = uint32_t(start);
    bind.Length = uint32_t(n);
    return start + size_t(n);
}

inline size_t DescribeValue(const uint8_t* row, size_t length, size_t pos, TMySqlBind& bind) {
    if (pos >= length) RaiseMalformedPacket();
    const size_t first = row[pos];
    if (first >= 0xFB) return DescribeLongValue(row, length, pos, bind);
    const size_t start = pos + 1;
    if (first > length - start) RaiseMalformedPacket();
    bind.IsNull = false;
    bind.Offset = uint32_t(start);
    bind.Length = uint32_t(first);
    return start + first;
}

std::string ValueText(const uint8_t* packet, const TMySqlBind& b) {
    if (b.IsNull) return {};
    return std::string(reinterpret_cast<const char*>(packet + b.Offset), b.Length);
}

// The bytes of a numeric part of a definition; it must be at least size bytes long.
const uint8_t* Part(const uint8_t* packet, const TMySqlBind& b, size_t size) {
    if (b.IsNull || b.Length < size) RaiseMalformedPacket();
    return packet + b.Offset;
}

}  // namespace

TEndOfData DecodeEndOfData(const uint8_t* packet, size_t length) {
    TEndOfData eod;
    if (length <= 1) return eod;
    if (length < 5) RaiseMalformedPacket();
    eod.HasStatus = true;
    eod.WarningCount = int(LE(packet + 1, 2));
    eod.ServerStatus = int(LE(packet + 3, 2));
    return eod;
}

void DecodeTextRow(const uint8_t* row, size_t length, TMySqlBind* binds, size_t count) {
    CheckRowLength(length);
    size_t pos = 0;
    for (size_t j = 0; j < count; ++j) pos = DescribeValue(row, length, pos, binds[j]);
}

size_t BinaryValueWidth(TMySqlFieldType type) {
    switch (type) {
        case FIELD_TYPE_TINY: return 1;
        case FIELD_TYPE_SHORT:
        case FIELD_TYPE_YEAR: return 2;
        case FIELD_TYPE_LONG:
        case FIELD_TYPE_FLOAT:
        case FIELD_TYPE_INT24: return 4;
        case FIELD_TYPE_DOUBLE:
        case FIELD_TYPE_LONGLONG: return 8;
        default: return 0;
    }
}

void DecodeBinaryRow(const uint8_t* row, size_t length, const TMySqlFieldInfo* fields,
                     TMySqlBind* binds, size_t count) {
    CheckRowLength(length);
    const size_t bitmapSize = (count + 9) / 8;
    if (length < 1 + bitmapSize) RaiseMalformedPacket();
    const uint8_t* bitmap = row + 1;
    size_t pos = 1 + bitmapSize;
    for (size_t i = 0; i < count; ++i) {
        TMySqlBind& b = binds[i];
        b._Type = fields[i]._Type;
        const size_t bit = i + 2;
        if (bitmap[bit >> 3] & (1u << (bit & 7))) {
            b.IsNull = true;
            continue;
        }
        const size_t width = BinaryValueWidth(b._Type);
        if (width == 0) {
            pos = DescribeValue(row, length, pos, b);
            continue;
        }
        if (width > length - pos) RaiseMalformedPacket();
        b.IsNull = false;
        b.Offset = uint32_t(pos);
        b.Length = uint32_t(width);
        pos += width;
    }
}

void ApplyNumericFlag(TMySqlFieldInfo& f) {
    const bool numeric = (f._Type <= FIELD_TYPE_INT24 && f._Type != FIELD_TYPE_TIMESTAMP) ||
                         (f._Type == FIELD_TYPE_TIMESTAMP && (f.Length == 14 || f.Length == 8)) ||
                         f._Type == FIELD_TYPE_YEAR;
    if (numeric) f.Flags |= NUM_FLAG;
}

TMySqlFieldInfo DecodeFieldInfo(const uint8_t* packet, size_t length, bool protocol41, bool longFlag) {
    std::array<TMySqlBind, 7> v;
    TMySqlFieldInfo f;
    if (protocol41) {
        DecodeTextRow(packet, length, v.data(), 7);
        // v[0] is the catalog, not kept
        f.Database = ValueText(packet, v[1]);
        f.Table = ValueText(packet, v[2]);
        f.OrgTable = ValueText(packet, v[3]);
        f.Name = ValueText(packet, v[4]);
        f.OrgName = ValueText(packet, v[5]);
        const uint8_t* fixed = Part(packet, v[6], 11);
        f.CharsetNr = int16_t(LE(fixed, 2));
        f.Length = LE(fixed + 2, 4);
        f._Type = fixed[6];
        f.Flags = int16_t(LE(fixed + 7, 2));
        f.Scale = int32_t(LE(fixed + 9, 2));
    } else {
        DecodeTextRow(packet, length, v.data(), 5);
        f.Table = ValueText(packet, v[0]);
        f.OrgTable = f.Table;
        f.Name = ValueText(packet, v[1]);
        f.Length = LE(Part(packet, v[2], 3), 3);
        f._Type = *Part(packet, v[3], 1);
        if (longFlag) {
            const uint8_t* p = Part(packet, v[4], 3);
            f.Flags = int16_t(LE(p, 2));
            f.Scale = p[2];
        } else {
            const uint8_t* p = Part(packet, v[4], 2);
            f.Flags = p[0];
            f.Scale = p[1];
        }
    }
    ApplyNumericFlag(f);
    return f;
}

}  // namespace calvoro::protocol
