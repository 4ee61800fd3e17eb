// The bounds-checked reader: every value encoding, and no read past the payload.
#include "protocol/PacketReader.h"
#include "support/Packets.h"
#include "support/Raised.h"

#include <gtest/gtest.h>

#include <functional>

using namespace calvoro::protocol;
using namespace calvoro::test;

namespace {

// Runs read and expects EMySqlException 2027.
void ExpectMalformed(const std::function<void()>& read, const std::string& what) {
    const EMySqlException e = Raised(read);
    EXPECT_EQ(e.ErrorCode(), 2027) << what;
    EXPECT_EQ(e.Message(), "Malformed packet") << what;
}

}  // namespace

TEST(PacketReader, FieldLength) {
    struct Case {
        std::string bytes;
        int64_t value;
        size_t consumed;
    } cases[] = {
        {"00", 0, 1},
        {"fa", 250, 1},
        {"fb", -1, 1},  // NULL
        {"fc 34 12", 4660, 3},
        {"fc ff ff", 65535, 3},
        {"fd 01 02 03", 0x030201, 4},
        {"fe 01 02 03 04 05 06 07 08", 0x0807060504030201, 9},
        {"fe ff ff ff ff ff ff ff ff", -1, 9},
        {"05 ff", 5, 1},
    };
    for (const auto& c : cases) {
        const Bytes b = Hex(c.bytes);
        TPacketReader r(b);
        EXPECT_EQ(r.ReadFieldLength(), c.value) << c.bytes;
        EXPECT_EQ(r.Position(), c.consumed) << c.bytes;
    }
}

TEST(PacketReader, MalformedFieldLengths) {
    for (const std::string bytes : {"", "ff", "fc", "fc 34", "fd 01 02", "fe 01 02 03 04 05 06 07"}) {
        const Bytes b = Hex(bytes);
        ExpectMalformed([&] { TPacketReader(b).ReadFieldLength(); }, bytes);
    }
}

TEST(PacketReader, Integers) {
    const Bytes b = Hex("fe ff 01 02 03 04 05 06 07 80 ff ff 7f");
    TPacketReader r(b);
    EXPECT_EQ(r.ReadByte(), 0xFE);
    EXPECT_EQ(r.ReadInt16(), int16_t(0x01FF));
    EXPECT_EQ(r.ReadInt24(), 0x040302u);
    EXPECT_EQ(r.ReadInt32(), int32_t(0x80070605));
    EXPECT_EQ(r.ReadUInt16(), 0xFFFF);
    EXPECT_EQ(r.ReadByte(), 0x7F);
    EXPECT_TRUE(r.AtEnd());

    const Bytes s = Hex("ff 80");
    EXPECT_EQ(TPacketReader(s).ReadInt16(), -32513);  // signed
    EXPECT_EQ(TPacketReader(s).ReadUInt16(), 0x80FF);
    const Bytes q = Hex("01 00 00 00 00 00 00 80");
    EXPECT_EQ(TPacketReader(q).ReadInt64(), INT64_MIN + 1);
}

TEST(PacketReader, NulTerminatedStrings) {
    struct Case {
        Bytes bytes;
        std::vector<std::string> strings;  // read one after the other
        size_t end;
    } cases[] = {
        {B(std::string("abc\0def\0", 8)), {"abc", "def"}, 8},
        {B("no terminator"), {"no terminator"}, 13},                   // the rest of the payload
        {B(std::string("x\0", 2)), {"x", ""}, 2},                      // at the end: empty
        {B(std::string("\0\0", 2)), {"", "", ""}, 2},
        {{}, {"", ""}, 0},
        {B(std::string("\xe9t\xe9\0", 4)), {"\xe9t\xe9"}, 4},          // 8-bit bytes as they are
    };
    for (const auto& c : cases) {
        TPacketReader r(c.bytes);
        for (const auto& s : c.strings) EXPECT_EQ(r.ReadString(), s);
        EXPECT_EQ(r.Position(), c.end);
    }
}

TEST(PacketReader, FixedLengthStringsAndBytes) {
    const Bytes b = B("abcdef");
    TPacketReader r(b);
    EXPECT_EQ(r.ReadString(2), "ab");
    EXPECT_EQ(r.ReadString(0), "");
    uint8_t two[2];
    r.ReadBytes(two, 2);
    EXPECT_EQ(two[0], 'c');
    EXPECT_EQ(r.ReadSpan(2).size(), 2u);
    EXPECT_TRUE(r.AtEnd());
}

TEST(PacketReader, NoReadPastThePayload) {
    // The payload is a window of a larger array: the byte after it must never be read.
    const Bytes memory = Hex("01 02 03 aa");
    struct Case {
        const char* name;
        std::function<void(TPacketReader&)> read;
    } cases[] = {
        {"ReadInt32", [](TPacketReader& r) { r.ReadInt32(); }},
        {"ReadInt64", [](TPacketReader& r) { r.ReadInt64(); }},
        {"ReadString(4)", [](TPacketReader& r) { r.ReadString(4); }},
        {"Skip(4)", [](TPacketReader& r) { r.Skip(4); }},
        {"SetPosition(4)", [](TPacketReader& r) { r.SetPosition(4); }},
        {"ReadInt16 twice", [](TPacketReader& r) { r.ReadInt16(); r.ReadInt16(); }},
        {"ReadBytes", [](TPacketReader& r) { uint8_t x[4]; r.ReadBytes(x, 4); }},
        {"huge count", [](TPacketReader& r) { r.ReadByte(); r.Skip(SIZE_MAX); }},
    };
    for (const auto& c : cases) {
        ExpectMalformed([&] {
            TPacketReader r(memory.data(), 3);
            c.read(r);
        }, c.name);
    }
    // A NUL-terminated string stops at the payload's end, before the byte after it.
    TPacketReader r(memory.data(), 3);
    EXPECT_EQ(r.ReadString(), "\x01\x02\x03");
}
