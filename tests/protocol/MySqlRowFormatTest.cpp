// The result decoders on byte arrays: text rows, binary rows with their shifted NULL bitmap,
// column definitions of both protocol versions with the numeric-flag rule, and end-of-data
// packets. Malformed input raises 2027 and never reads past the packet.
#include "protocol/MySqlRowFormat.h"
#include "support/Packets.h"
#include "support/Raised.h"

#include <gtest/gtest.h>

#include <optional>

using namespace calvoro::protocol;
using namespace calvoro::test;

namespace {

// A bind as a test expects it: NULL, or offset and length.
struct TExpect {
    bool null;
    uint32_t offset, length;
};
TExpect Null() { return {true, 0, 0}; }
TExpect At(uint32_t offset, uint32_t length) { return {false, offset, length}; }

void ExpectBinds(const std::vector<TMySqlBind>& binds, const std::vector<TExpect>& expected) {
    ASSERT_EQ(binds.size(), expected.size());
    for (size_t i = 0; i < binds.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(binds[i].IsNull, expected[i].null);
        if (!expected[i].null) {
            EXPECT_EQ(binds[i].Offset, expected[i].offset);
            EXPECT_EQ(binds[i].Length, expected[i].length);
        }
    }
}

// Decodes in a heap copy of exactly the packet's size (none for an empty packet), so that
// AddressSanitizer sees any read past its end.
template <typename Decode>
void OnExactCopy(const Bytes& packet, Decode decode) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[packet.size()]);
    std::copy(packet.begin(), packet.end(), copy.get());
    decode(copy.get(), packet.size());
}

// Reads every byte the binds describe, so that AddressSanitizer sees a value reaching past
// the packet even where the decoder itself only measured it.
void TouchValues(const uint8_t* packet, const std::vector<TMySqlBind>& binds) {
    volatile uint8_t sink = 0;
    for (const TMySqlBind& b : binds)
        if (!b.IsNull)
            for (uint32_t i = 0; i < b.Length; ++i) sink = uint8_t(sink + packet[b.Offset + i]);
}

std::vector<TMySqlFieldInfo> Columns(std::initializer_list<TMySqlFieldType> types) {
    std::vector<TMySqlFieldInfo> f;
    for (auto t : types) f.push_back(TMySqlFieldInfo{.Name = {}, ._Type = t});
    return f;
}

}  // namespace

TEST(MySqlRowFormat, TextRows) {
    const std::string s300(300, 'x'), s70000(70000, 'y');
    struct Case {
        const char* name;
        Bytes row;
        std::vector<TExpect> binds;
    } cases[] = {
        {"first column NULL; the next starts at 2", TextRow({std::nullopt, "abc"}), {Null(), At(2, 3)}},
        {"empty value is not NULL", TextRow({"", "z"}), {At(1, 0), At(2, 1)}},
        {"250 bytes keep a 1-byte prefix", TextRow({std::string(250, 'a')}), {At(1, 250)}},
        {"0xFC prefix", TextRow({s300, std::nullopt}), {At(3, 300), Null()}},
        {"0xFD prefix", TextRow({s70000}), {At(4, 70000)}},
        {"0xFE prefix", Cat({{0xFE}, LE(5, 8), B("hello")}), {At(9, 5)}},
        {"bytes after the last column are ignored", Cat({TextRow({"a"}), B("junk")}), {At(1, 1)}},
        {"all NULL", Bytes{0xFB, 0xFB, 0xFB}, {Null(), Null(), Null()}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TMySqlBind> binds(c.binds.size());
        OnExactCopy(c.row, [&](const uint8_t* p, size_t n) {
            DecodeTextRow(p, n, binds.data(), binds.size());
            TouchValues(p, binds);
        });
        ExpectBinds(binds, c.binds);
    }
}

TEST(MySqlRowFormat, MalformedTextRows) {
    struct Case {
        const char* name;
        Bytes row;
        size_t columns;
    } cases[] = {
        {"empty packet", {}, 1},
        {"0xFF is not a length", Hex("ff 01 02"), 1},
        {"value cut short", Hex("05 61 62"), 1},
        {"value one byte short", Hex("03 61 62"), 1},
        {"0xFC value one byte short", Cat({{0xFC}, LE(3, 2), B("ab")}), 1},
        {"a column missing", TextRow({"a"}), 2},
        {"0xFC without its 2 bytes", Hex("fc 01"), 1},
        {"0xFD without its 3 bytes", Hex("fd 01 00"), 1},
        {"0xFE without its 8 bytes", Hex("fe 01 00 00 00 00 00 00"), 1},
        {"0xFE length of 4 GiB", Cat({{0xFE}, LE(0x100000001ull, 8), B("a")}), 1},
        {"0xFE length far beyond", Cat({{0xFE}, LE(~0ull, 8)}), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TMySqlBind> binds(c.columns);
        OnExactCopy(c.row, [&](const uint8_t* p, size_t n) {
            EXPECT_EQ(Raised([&] { DecodeTextRow(p, n, binds.data(), c.columns); }).ErrorCode(), 2027);
            TouchValues(p, binds);
        });
    }
}

TEST(MySqlRowFormat, BinaryRows) {
    const auto ten = Columns({FIELD_TYPE_TINY, FIELD_TYPE_SHORT, FIELD_TYPE_YEAR, FIELD_TYPE_LONG, FIELD_TYPE_FLOAT,
                              FIELD_TYPE_INT24, FIELD_TYPE_DOUBLE, FIELD_TYPE_LONGLONG, FIELD_TYPE_DATETIME,
                              FIELD_TYPE_NEWDECIMAL});
    struct Case {
        const char* name;
        std::vector<TMySqlFieldInfo> fields;
        Bytes row;
        std::vector<TExpect> binds;
    } cases[] = {
        // header, bitmap ((3 + 9) / 8 = 1 byte), values
        {"three columns", Columns({FIELD_TYPE_LONG, FIELD_TYPE_VAR_STRING, FIELD_TYPE_DOUBLE}),
         Cat({{0, 0}, LE(7, 4), LenEnc("ab"), LE(1, 8)}), {At(2, 4), At(7, 2), At(9, 8)}},
        {"first column NULL: bit 0x04", Columns({FIELD_TYPE_LONG, FIELD_TYPE_TINY}), Cat({{0, 0x04}, {9}}),
         {Null(), At(2, 1)}},
        {"6 columns: one bitmap byte, last column bit 0x80",
         Columns({1, 1, 1, 1, 1, 1}), Cat({{0, 0x80}, {1, 2, 3, 4, 5}}),
         {At(2, 1), At(3, 1), At(4, 1), At(5, 1), At(6, 1), Null()}},
        {"7 columns: two bitmap bytes, the seventh at bit 0x01 of the second",
         Columns({1, 1, 1, 1, 1, 1, 1}), Cat({{0, 0x00, 0x01}, {1, 2, 3, 4, 5, 6}}),
         {At(3, 1), At(4, 1), At(5, 1), At(6, 1), At(7, 1), At(8, 1), Null()}},
        {"every fixed width, and NULLs across the bitmap's bytes", ten,
         Cat({{0, 0x00, 0x01 | 0x08}, {1}, LE(2, 2), LE(2024, 2), LE(4, 4), LE(5, 4), LE(6, 4), LE(8, 8),
              LenEnc("1.50")}),
         {At(3, 1), At(4, 2), At(6, 2), At(8, 4), At(12, 4), At(16, 4), Null(), At(20, 8), At(29, 4), Null()}},
        {"length-prefixed types; 0xFB marks NULL",
         Columns({FIELD_TYPE_DATE, FIELD_TYPE_TIME, FIELD_TYPE_BLOB, FIELD_TYPE_BIT}),
         Cat({{0, 0}, {4}, LE(2024, 2), {1, 31}, {0}, {0xFB}, LenEnc("\x01")}), {At(3, 4), At(8, 0), Null(), At(10, 1)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TMySqlBind> binds(c.fields.size());
        OnExactCopy(c.row, [&](const uint8_t* p, size_t n) {
            DecodeBinaryRow(p, n, c.fields.data(), binds.data(), binds.size());
            TouchValues(p, binds);
        });
        ExpectBinds(binds, c.binds);
        for (size_t i = 0; i < binds.size(); ++i) EXPECT_EQ(binds[i]._Type, c.fields[i]._Type);
    }
}

// A NULL column keeps what its bind held: binds made for the row (offset 0) stay "no value".
TEST(MySqlRowFormat, BinaryNullKeepsTheBind) {
    const auto fields = Columns({FIELD_TYPE_LONG, FIELD_TYPE_LONG});
    std::vector<TMySqlBind> binds(2);
    binds[0].Offset = 77;
    binds[0].Length = 5;
    const Bytes row = Cat({{0, 0x04}, LE(1, 4)});
    DecodeBinaryRow(row.data(), row.size(), fields.data(), binds.data(), 2);
    EXPECT_TRUE(binds[0].IsNull);
    EXPECT_EQ(binds[0].Offset, 77u);
    EXPECT_EQ(binds[0].Length, 5u);
    EXPECT_EQ(binds[1].Offset, 2u);
}

TEST(MySqlRowFormat, MalformedBinaryRows) {
    struct Case {
        const char* name;
        std::vector<TMySqlFieldInfo> fields;
        Bytes row;
    } cases[] = {
        {"empty packet", Columns({1}), {}},
        {"bitmap cut short", Columns({1, 1, 1, 1, 1, 1, 1}), {0, 0}},
        {"fixed width cut short", Columns({FIELD_TYPE_LONGLONG}), Cat({{0, 0}, LE(1, 7)})},
        {"prefix 0xFF", Columns({FIELD_TYPE_VAR_STRING}), Hex("00 00 ff")},
        {"value beyond the packet", Columns({FIELD_TYPE_VAR_STRING}), Hex("00 00 09 41")},
        {"value one byte short", Columns({FIELD_TYPE_VAR_STRING}), Hex("00 00 02 41")},
        {"a column missing", Columns({FIELD_TYPE_TINY, FIELD_TYPE_TINY}), Hex("00 00 01")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TMySqlBind> binds(c.fields.size());
        OnExactCopy(c.row, [&](const uint8_t* p, size_t n) {
            EXPECT_EQ(Raised([&] { DecodeBinaryRow(p, n, c.fields.data(), binds.data(), binds.size()); }).ErrorCode(),
                      2027);
            TouchValues(p, binds);
        });
    }
}

TEST(MySqlRowFormat, ColumnDefinitions) {
    TColumnSpec id{.Name = "id", .Type = FIELD_TYPE_LONGLONG, .Flags = 0x4203, .Length = 20, .Charset = 63,
                   .Table = "o", .OrgTable = "orders", .OrgName = "order_id", .Database = "shop"};
    TColumnSpec signBit{.Name = "s", .Type = FIELD_TYPE_STRING, .Flags = 0x8001, .Length = 0xFFFFFFFF,
                        .Decimals = 0x0102, .Charset = 0xFFFE};
    struct Case {
        const char* name;
        Bytes packet;
        bool protocol41, longFlag;
        TMySqlFieldInfo expected;
    } cases[] = {
        {"4.1", ColumnDef(id), true, true,
         {.Name = "id", .OrgName = "order_id", .Table = "o", .OrgTable = "orders", .Database = "shop", .Length = 20,
          .Scale = 0, .Flags = 0x4203 | NUM_FLAG, .CharsetNr = 63, ._Type = FIELD_TYPE_LONGLONG}},
        // Flags and character set are signed 16-bit; decimals are read with the filler after them.
        {"4.1, bit 15 of the flags", ColumnDef(signBit), true, true,
         {.Name = "s", .OrgName = "c", .Table = "t", .OrgTable = "t", .Database = "d", .Length = 0xFFFFFFFF,
          .Scale = 0x0102, .Flags = int32_t(0xFFFF8001), .CharsetNr = -2, ._Type = FIELD_TYPE_STRING}},
        {"pre-4.1 with CLIENT_LONG_FLAG", ColumnDefOld(id, true), false, true,
         {.Name = "id", .Table = "o", .OrgTable = "o", .Length = 20, .Flags = 0x4203 | NUM_FLAG,
          ._Type = FIELD_TYPE_LONGLONG}},
        {"pre-4.1 with a 1-byte flag field", ColumnDefOld(TColumnSpec{.Name = "v", .Flags = 0x21, .Length = 40,
                                                                      .Decimals = 2}, false),
         false, false, {.Name = "v", .Table = "t", .OrgTable = "t", .Length = 40, .Scale = 2, .Flags = 0x21,
                        ._Type = FIELD_TYPE_VAR_STRING}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TMySqlFieldInfo f;
        OnExactCopy(c.packet, [&](const uint8_t* p, size_t n) { f = DecodeFieldInfo(p, n, c.protocol41, c.longFlag); });
        const TMySqlFieldInfo& e = c.expected;
        EXPECT_EQ(f.Name, e.Name);
        EXPECT_EQ(f.OrgName, e.OrgName);
        EXPECT_EQ(f.Table, e.Table);
        EXPECT_EQ(f.OrgTable, e.OrgTable);
        EXPECT_EQ(f.Database, e.Database);
        EXPECT_EQ(f.DefaultValue, "");
        EXPECT_EQ(f.Length, e.Length);
        EXPECT_EQ(f.Scale, e.Scale);
        EXPECT_EQ(f.MaxLength, 0);
        EXPECT_EQ(f.Flags, e.Flags);
        EXPECT_EQ(f.CharsetNr, e.CharsetNr);
        EXPECT_EQ(f._Type, e._Type);
    }
}

TEST(MySqlRowFormat, NumericFlag) {
    struct Case {
        TMySqlFieldType type;
        uint32_t length;
        bool numeric;
    } cases[] = {
        {FIELD_TYPE_DECIMAL, 10, true},    {FIELD_TYPE_TINY, 4, true},        {FIELD_TYPE_LONGLONG, 20, true},
        {FIELD_TYPE_DOUBLE, 22, true},     {FIELD_TYPE_INT24, 9, true},       {FIELD_TYPE_YEAR, 4, true},
        {FIELD_TYPE_TIMESTAMP, 14, true},  {FIELD_TYPE_TIMESTAMP, 8, true},   {FIELD_TYPE_TIMESTAMP, 19, false},
        {FIELD_TYPE_DATE, 10, false},      {FIELD_TYPE_VAR_STRING, 20, false}, {FIELD_TYPE_NEWDECIMAL, 10, false},
        {FIELD_TYPE_NULL, 0, true},        {FIELD_TYPE_BLOB, 65535, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.type));
        SCOPED_TRACE(c.length);
        TMySqlFieldInfo f{.Length = c.length, .Flags = 1, ._Type = c.type};
        ApplyNumericFlag(f);
        EXPECT_EQ(f.Flags, c.numeric ? 1 | NUM_FLAG : 1);
    }
}

TEST(MySqlRowFormat, MalformedColumnDefinitions) {
    const Bytes good = ColumnDef({});
    Bytes shortBlock = good;
    shortBlock.resize(good.size() - 13);
    shortBlock.push_back(10);  // a fixed block of 10 bytes: decimals cut off
    shortBlock.insert(shortBlock.end(), 10, 0);
    struct Case {
        const char* name;
        Bytes packet;
        bool protocol41, longFlag;
    } cases[] = {
        {"empty", {}, true, true},
        {"cut inside the names", Bytes(good.begin(), good.begin() + 10), true, true},
        {"fixed block missing", Bytes(good.begin(), good.end() - 13), true, true},
        {"fixed block too short", shortBlock, true, true},
        {"fixed block NULL", Cat({Bytes(good.begin(), good.end() - 13), {0xFB}}), true, true},
        {"pre-4.1 length of 2 bytes", Cat({LenEnc("t"), LenEnc("c"), LenEnc("ab"), LenEnc("x"), LenEnc("abc")}), false, true},
        {"pre-4.1 flags too short for CLIENT_LONG_FLAG", ColumnDefOld({}, false), false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OnExactCopy(c.packet, [&](const uint8_t* p, size_t n) {
            EXPECT_EQ(Raised([&] { DecodeFieldInfo(p, n, c.protocol41, c.longFlag); }).ErrorCode(), 2027);
        });
    }
}

TEST(MySqlRowFormat, EndOfData) {
    EXPECT_TRUE(IsEndOfData(Eof().data(), 5));
    EXPECT_TRUE(IsEndOfData(Hex("fe").data(), 1));
    EXPECT_FALSE(IsEndOfData(Hex("fe 00 00 00 00 00 00 00 00").data(), 9)) << "a row with an 8-byte length";
    EXPECT_FALSE(IsEndOfData(Hex("fb").data(), 1));
    EXPECT_FALSE(IsEndOfData(nullptr, 0));

    const Bytes five = Eof(3, 0x000A);
    const TEndOfData e = DecodeEndOfData(five.data(), five.size());
    EXPECT_TRUE(e.HasStatus);
    EXPECT_EQ(e.WarningCount, 3);
    EXPECT_EQ(e.ServerStatus, 0x000A);
    EXPECT_FALSE(DecodeEndOfData(Hex("fe").data(), 1).HasStatus);
    const Bytes unsignedStatus = Eof(0xFFFF, 0x8002);
    EXPECT_EQ(DecodeEndOfData(unsignedStatus.data(), 5).WarningCount, 0xFFFF);
    EXPECT_EQ(DecodeEndOfData(unsignedStatus.data(), 5).ServerStatus, 0x8002);
    for (const size_t n : {2, 3, 4}) {
        const Bytes cut(five.begin(), five.begin() + long(n));
        OnExactCopy(cut, [&](const uint8_t* p, size_t len) {
            EXPECT_EQ(Raised([&] { DecodeEndOfData(p, len); }).ErrorCode(), 2027) << n;
        });
    }
}
