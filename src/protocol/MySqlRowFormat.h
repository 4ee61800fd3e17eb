#pragma once
// The wire formats of query results, decoded apart from I/O: column definitions, text rows,
// binary rows and the end-of-data packet. Rows are described, not copied: a TMySqlBind holds
// the offset and length of a value inside the packet that carries the row.
//
// Every decoder checks what is left of the packet; a value that would reach past its end, a
// 0xFF length prefix or a definition cut short raises EMySqlException 2027 "Malformed packet".

#include "MySqlErrors.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace calvoro::protocol {

// MySQL column type codes (the type byte of a column definition).
using TMySqlFieldType = uint8_t;
enum : TMySqlFieldType {
    FIELD_TYPE_DECIMAL = 0,
    FIELD_TYPE_TINY = 1,
    FIELD_TYPE_SHORT = 2,
    FIELD_TYPE_LONG = 3,
    FIELD_TYPE_FLOAT = 4,
    FIELD_TYPE_DOUBLE = 5,
    FIELD_TYPE_NULL = 6,
    FIELD_TYPE_TIMESTAMP = 7,
    FIELD_TYPE_LONGLONG = 8,
    FIELD_TYPE_INT24 = 9,
    FIELD_TYPE_DATE = 10,
    FIELD_TYPE_TIME = 11,
    FIELD_TYPE_DATETIME = 12,
    FIELD_TYPE_YEAR = 13,
    FIELD_TYPE_NEWDATE = 14,
    FIELD_TYPE_VARCHAR = 15,
    FIELD_TYPE_BIT = 16,
    FIELD_TYPE_NEWDECIMAL = 246,
    FIELD_TYPE_ENUM = 247,
    FIELD_TYPE_SET = 248,
    FIELD_TYPE_TINY_BLOB = 249,
    FIELD_TYPE_MEDIUM_BLOB = 250,
    FIELD_TYPE_LONG_BLOB = 251,
    FIELD_TYPE_BLOB = 252,
    FIELD_TYPE_VAR_STRING = 253,
    FIELD_TYPE_STRING = 254,
    FIELD_TYPE_GEOMETRY = 255,
};
using TMySqlFieldTypes = std::vector<TMySqlFieldType>;

// Column flags.
enum : int32_t {
    NOT_NULL_FLAG = 0x1,
    PRI_KEY_FLAG = 0x2,
    UNIQUE_KEY_FLAG = 0x4,
    MULTIPLE_KEY_FLAG = 0x8,
    BLOB_FLAG = 0x10,
    UNSIGNED_FLAG = 0x20,
    ZEROFILL_FLAG = 0x40,
    BINARY_FLAG = 0x80,
    ENUM_FLAG = 0x100,
    AUTO_INCREMENT_FLAG = 0x200,
    TIMESTAMP_FLAG = 0x400,
    SET_FLAG = 0x800,
    PART_KEY_FLAG = 0x4000,
    NUM_FLAG = 0x8000,
};

enum TMySqlType : uint8_t {
    mtBigInt, mtBlob, mtChar, mtDate, mtDateTime, mtDouble, mtFloat, mtInt, mtSmallInt, mtText,
    mtTime, mtTinyInt, mtVarChar, mtYear,
};

// One result column.
struct TMySqlFieldInfo {
    std::string Name{};          // column name or alias
    std::string OrgName{};       // column name in its table (empty from pre-4.1 servers)
    std::string Table{};         // table name or alias
    std::string OrgTable{};      // table name (pre-4.1: the same as Table)
    std::string Database{};      // empty from pre-4.1 servers
    std::string DefaultValue{};  // always empty
    uint32_t Length = 0;       // display length announced by the server (LONGTEXT: 0xFFFFFFFF)
    int32_t Scale = 0;         // decimals
    int32_t MaxLength = 0;     // always 0
    int32_t Flags = 0;         // 16 flag bits, sign-extended; NUM_FLAG set for numeric types
    int32_t CharsetNr = 0;     // 0 from pre-4.1 servers
    TMySqlFieldType _Type = 0;
};
using TMySqlFieldInfos = std::vector<TMySqlFieldInfo>;

// Where one column's value lies in the current row. Offset and Length mean nothing for a
// NULL value; a non-NULL value never has Offset 0 (the first byte of a row is a length prefix
// or a header). 16 bytes, so that indexing and counting binds need no multiplication.
struct alignas(16) TMySqlBind {
    uint32_t Offset = 0;
    uint32_t Length = 0;
    bool IsNull = false;
    TMySqlFieldType _Type = 0;
    TMySqlType DbType = mtBigInt;
    bool Unicode = false;
};

// The current row: one bind per column and the bytes of the packet holding the row, which
// stay valid only until the next read from the connection.
struct TMySqlBinds {
    explicit TMySqlBinds(size_t count = 0) : Binds(count) {}
    std::vector<TMySqlBind> Binds;
    const uint8_t* Buffer = nullptr;
};

// End-of-data packet: 0xFE and at most 8 bytes in all.
//   0xFE           [1]
//   warning count  [2]  when longer than 1 byte
//   server status  [2]
inline bool IsEndOfData(const uint8_t* packet, size_t length) { return length > 0 && length < 9 && packet[0] == 0xFE; }
struct TEndOfData {
    bool HasStatus = false;  // false for the 1-byte form, which carries nothing
    int WarningCount = 0;
    int ServerStatus = 0;
};
// A packet of 2 to 4 bytes is malformed.
TEndOfData DecodeEndOfData(const uint8_t* packet, size_t length);

// Text row: one length-coded string per column; 0xFB is NULL. Describes count columns into
// binds. Bytes after the last column are ignored.
void DecodeTextRow(const uint8_t* row, size_t length, TMySqlBind* binds, size_t count);

// Binary row of a prepared statement:
//   header       [1]  0, not examined
//   NULL bitmap  [(n + 9) / 8]  column i is NULL when bit (i + 2) % 8 of byte (i + 2) / 8 is set
//   values       the non-NULL columns in order: TINY 1 byte; SHORT, YEAR 2; LONG, FLOAT,
//                INT24 4; DOUBLE, LONGLONG 8; every other type a length-coded string
// A NULL column keeps the Offset and Length its bind held; each bind's _Type is its column's.
void DecodeBinaryRow(const uint8_t* row, size_t length, const TMySqlFieldInfo* fields,
                     TMySqlBind* binds, size_t count);
// The size of a fixed-width binary value; 0 for length-prefixed types.
size_t BinaryValueWidth(TMySqlFieldType type);

// Column definition, protocol 4.1: seven length-coded strings
//   catalog, database, table (alias), underlying table, column (alias), underlying column,
//   fixed block [12]: character set [2, signed], column length [4], type [1],
//                     flags [2, signed], decimals [1] and filler [1] read as 2 bytes, filler [1]
// before 4.1: five length-coded strings
//   table, column, column length [3], type [1],
//   flags [2, signed] and decimals [1] with CLIENT_LONG_FLAG, else flags [1] and decimals [1]
// The numeric flag rule is applied.
TMySqlFieldInfo DecodeFieldInfo(const uint8_t* packet, size_t length, bool protocol41, bool longFlag);
// Sets NUM_FLAG for numeric columns: type codes 0 to 9 except TIMESTAMP, TIMESTAMP with a
// display length of 14 or 8, and YEAR.
void ApplyNumericFlag(TMySqlFieldInfo& field);

}  // namespace calvoro::protocol
