#pragma once
// Data-type codes of the record store, shared by parameters, field descriptors and the SQL
// value formatting.

#include <cstdint>

namespace calvoro::dac {

using TDataType = uint16_t;

enum : TDataType {
    dtUnknown = 0,
    dtString = 1,      // 8-bit characters
    dtInt8 = 2,
    dtSmallint = 3,
    dtInteger = 4,
    dtFloat = 5,
    dtDate = 6,        // days since 1899-12-30
    dtTime = 7,        // fraction of a day (may exceed a day or be negative)
    dtDateTime = 8,
    dtWord = 9,
    dtBoolean = 10,
    dtLargeint = 11,
    dtCurrency = 12,
    dtBlob = 13,
    dtMemo = 14,       // BLOB holding 8-bit text
    dtObject = 15,
    dtReference = 16,
    dtArray = 17,
    dtTable = 18,
    dtVariant = 19,
    dtExtString = 20,
    dtBytes = 21,
    dtVarBytes = 22,
    dtExtVarBytes = 23,
    dtUInt32 = 24,
    dtWideString = 25,
    dtExtWideString = 26,
    dtBCD = 27,
    dtFMTBCD = 28,
    dtGuid = 29,
    dtWideMemo = 30,   // BLOB holding UTF-16 text
    dtCursor = 32,
};

// Where BLOB values are kept compressed: nowhere, in memory, on the server, or both.
enum TCompressBlobMode { cbNone, cbClient, cbServer, cbClientServer };

inline bool IsBlobDataType(TDataType t) { return t == dtBlob || t == dtMemo || t == dtWideMemo; }

}  // namespace calvoro::dac
