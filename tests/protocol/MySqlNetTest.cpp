// The packet layer on canned bytes: framing, sequence numbers, splitting and joining at the
// maximum packet length, streaming of large writes, the compressed protocol, and the errors
// of the receive path.
#include "protocol/MySqlNet.h"
#include "support/MemoryVio.h"
#include "support/Packets.h"
#include "support/Raised.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>
#include <numeric>

using namespace calvoro::protocol;
using namespace calvoro::test;

namespace {

// A packet layer over a memory transport holding the server's bytes.
struct TNetOverMemory {
    explicit TNetOverMemory(Bytes input = {}, uint32_t maxPacket = TMySqlNet::MaxPacketLength)
        : net(maxPacket) {
        auto v = std::make_unique<TMemoryVio>(std::move(input));
        vio = v.get();
        net.SetVio(std::move(v));
        vio->Connect();
    }
    TMemoryVio* vio;
    TMySqlNet net;
};

Bytes Pattern(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i * 7 + i / 251);
    return b;
}

struct TCompressedFrame {
    uint8_t Seq;
    size_t Before;  // 0: stored
    Bytes Plain;    // the data after inflating
};

std::vector<TCompressedFrame> CompressedFrames(const Bytes& stream) {
    std::vector<TCompressedFrame> frames;
    for (size_t pos = 0; pos + 7 <= stream.size();) {
        const size_t n = stream[pos] | stream[pos + 1] << 8 | stream[pos + 2] << 16;
        const size_t before = stream[pos + 4] | stream[pos + 5] << 8 | stream[pos + 6] << 16;
        Bytes data(stream.begin() + long(pos) + 7, stream.begin() + long(pos + 7 + n));
        TCompressedFrame f{stream[pos + 3], before, data};
        if (before) {
            f.Plain.resize(before);
            uLongf got = before;
            EXPECT_EQ(uncompress(f.Plain.data(), &got, data.data(), uLong(data.size())), Z_OK);
            EXPECT_EQ(got, before);
        }
        frames.push_back(f);
        pos += 7 + n;
    }
    return frames;
}

}  // namespace

TEST(MySqlNet, WritersProduceOnePacket) {
    TNetOverMemory t;
    t.net.NewCommand();
    t.net.WriteByte(0x03);
    t.net.WriteInt16(0x1234);
    t.net.WriteInt24(0x56789A);
    t.net.WriteInt32(-2);
    t.net.WriteInt64(0x0102030405060708);
    t.net.WriteBool(true);
    t.net.WriteBool(false);
    t.net.WriteString("ab");
    t.net.WriteString("");
    t.net.Fill('x', 3);
    t.net.WriteBytes(B("yz"));
    EXPECT_TRUE(t.vio->Output.empty()) << "small packets are collected until Send";
    t.net.Send();
    EXPECT_EQ(t.vio->Output, Frame(0, Hex("03 3412 9a7856 feffffff 0807060504030201 01 00 616200 00 787878 797a")));
    // An empty packet sends nothing.
    t.net.Send();
    EXPECT_EQ(t.vio->Output.size(), 4u + 29u);
}

TEST(MySqlNet, FieldLengthBothWays) {
    struct Case {
        int32_t value;
        std::string bytes;
    } cases[] = {
        {0, "00"},
        {250, "fa"},
        {251, "fc fb 00"},
        {65535, "fc ff ff"},
        {65536, "fd 00 00 01"},
        {16777215, "fd ff ff ff"},
        {16777216, "fe 00 00 00 01 00 00 00 00"},
        {INT32_MAX, "fe ff ff ff 7f 00 00 00 00"},
    };
    for (const auto& c : cases) {
        TNetOverMemory t;
        t.net.NewCommand();
        t.net.WriteFieldLength(c.value);
        t.net.Send();
        const Bytes frame = Frame(0, Hex(c.bytes));
        EXPECT_EQ(t.vio->Output, frame) << c.value;

        TNetOverMemory back(frame);
        back.net.Receive();
        EXPECT_EQ(back.net.ReadFieldLength(), c.value);
        EXPECT_EQ(back.net.Buffer().Position(), back.net.Buffer().Length());
    }
}

TEST(MySqlNet, SequenceNumbersWrapWithinAnExchange) {
    TNetOverMemory t;
    t.net.NewCommand();
    for (int i = 0; i < 258; ++i) {
        t.net.WriteByte('p');
        t.net.WriteByte(uint8_t(i));
        t.net.Send();
    }
    const auto frames = Frames(t.vio->Output);
    ASSERT_EQ(frames.size(), 258u);
    for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i].Seq, uint8_t(i)) << i;
    EXPECT_EQ(frames[256].Seq, 0);

    // The receiver expects the same run; NewCommand starts it again at 0.
    TNetOverMemory in(t.vio->Output);
    in.net.NewCommand();
    for (int i = 0; i < 258; ++i) {
        in.net.Receive();
        EXPECT_EQ(in.net.ReadByte(), 'p');
        EXPECT_EQ(in.net.ReadByte(), uint8_t(i));
    }
}

TEST(MySqlNet, OutOfOrderPacket) {
    struct Case {
        Bytes stream;
        int packetsBefore;
        std::string message;
    } cases[] = {
        {Frame(1, B("a")), 0, "\r\nReceiveHeader: Net packets out of order: received[1], expected[0]"},
        {Cat({Frame(0, B("a")), Frame(0, B("b"))}), 1,
         "\r\nReceiveHeader: Net packets out of order: received[0], expected[1]"},
    };
    for (const auto& c : cases) {
        TNetOverMemory t(c.stream);
        t.net.NewCommand();
        for (int i = 0; i < c.packetsBefore; ++i) t.net.Receive();
        const auto e = Raised([&] { t.net.Receive(); });
        EXPECT_EQ(e.ErrorCode(), 1156);
        EXPECT_EQ(e.Message(), c.message);
    }
}

// Payloads around the maximum packet length, with a small maximum so that every case is
// cheap: sent in one WriteBytes, in several, or collected by buffered writes; the packets
// must be full-length ones and one shorter (empty at exact multiples), and joining them
// must give the payload back.
TEST(MySqlNet, SplittingAndJoiningAtTheMaximumLength) {
    constexpr uint32_t max = 10;
    enum class Way { OneWriteBytes, ByteAndWriteBytes, PiecesOfThree, BufferedString };
    for (const Way way : {Way::OneWriteBytes, Way::ByteAndWriteBytes, Way::PiecesOfThree, Way::BufferedString}) {
        for (size_t n = 1; n <= 4 * max + 1; ++n) {
            SCOPED_TRACE(testing::Message() << "way " << int(way) << ", payload " << n);
            const Bytes payload = Pattern(n);
            TNetOverMemory t({}, max);
            t.net.NewCommand();
            switch (way) {
                case Way::OneWriteBytes: t.net.WriteBytes(payload); break;
                case Way::ByteAndWriteBytes:
                    t.net.WriteByte(payload[0]);
                    t.net.WriteBytes(payload.data(), 1, n - 1);
                    break;
                case Way::PiecesOfThree:
                    for (size_t i = 0; i < n; i += 3) t.net.WriteBytes(payload.data(), i, std::min<size_t>(3, n - i));
                    break;
                case Way::BufferedString:
                    // A NUL-terminated string of n - 1 bytes.
                    t.net.WriteString(std::string(payload.begin(), payload.end() - 1));
                    break;
            }
            t.net.Send();
            Bytes expected = payload;
            if (way == Way::BufferedString) expected.back() = 0;

            const auto frames = Frames(t.vio->Output);
            ASSERT_EQ(frames.size(), n / max + 1);
            Bytes joined;
            for (size_t i = 0; i < frames.size(); ++i) {
                EXPECT_EQ(frames[i].Seq, i);
                EXPECT_EQ(frames[i].Payload.size(), i + 1 < frames.size() ? max : n % max);
                joined.insert(joined.end(), frames[i].Payload.begin(), frames[i].Payload.end());
            }
            EXPECT_EQ(joined, expected);

            TNetOverMemory in(t.vio->Output, max);
            in.net.NewCommand();
            in.net.Receive();
            EXPECT_EQ(Bytes(in.net.Buffer().Data(), in.net.Buffer().Data() + in.net.Buffer().Length()), expected);
            EXPECT_EQ(in.vio->InputPos, in.vio->Input.size());
            EXPECT_EQ(in.net.PacketNumber(), frames.size());
        }
    }
}

// The real boundaries: 16777215 bytes go out as a full packet and an empty one, 16777216 as
// a full packet and a 1-byte one; both are joined back on receipt.
TEST(MySqlNet, RealMaximumPacketBoundaries) {
    struct Case {
        size_t payload;
        std::vector<size_t> packets;
    } cases[] = {
        {0xFFFFFF, {0xFFFFFF, 0}},
        {0x1000000, {0xFFFFFF, 1}},
        {0xFFFFFE, {0xFFFFFE}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.payload);
        const Bytes payload = Pattern(c.payload);
        TNetOverMemory t;
        t.net.NewCommand();
        t.net.WriteByte(payload[0]);  // a command byte, then the statement streamed
        t.net.WriteBytes(payload.data(), 1, payload.size() - 1);
        t.net.Send();
        const auto frames = Frames(t.vio->Output);
        ASSERT_EQ(frames.size(), c.packets.size());
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].Payload.size(), c.packets[i]);
            EXPECT_EQ(frames[i].Seq, i);
        }

        TNetOverMemory in(t.vio->Output);
        in.net.NewCommand();
        in.net.Receive();
        ASSERT_EQ(in.net.Buffer().Length(), c.payload);
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), in.net.Buffer().Data()));
        EXPECT_EQ(in.net.Buffer().Position(), 0u);
    }
}

// A large statement is written from the caller's memory at once, with a header that
// already carries the whole length; Send then adds nothing, and the packet is closed.
TEST(MySqlNet, LargeWriteBytesStreams) {
    const Bytes statement = Pattern(20000);
    TNetOverMemory t;
    t.net.NewCommand();
    t.net.WriteByte(3);
    t.net.WriteBytes(statement);
    ASSERT_EQ(t.vio->Output.size(), 4u + 20001u);
    EXPECT_EQ(Bytes(t.vio->Output.begin(), t.vio->Output.begin() + 5), Hex("21 4e 00 00 03"));  // 20001
    EXPECT_EQ(t.vio->WriteSizes, (std::vector<size_t>{5, 20000}));
    t.net.Send();
    EXPECT_EQ(t.vio->Output.size(), 4u + 20001u);
    EXPECT_EQ(Bytes(t.vio->Output.begin() + 5, t.vio->Output.end()), statement);

    // Collecting stops at 8192 bytes including the header.
    TNetOverMemory edge;
    edge.net.NewCommand();
    edge.net.WriteBytes(Pattern(8188));
    EXPECT_TRUE(edge.vio->Output.empty());
    edge.net.WriteByte(1);  // still open: 8189 bytes are sent by Send
    edge.net.Send();
    EXPECT_EQ(Frames(edge.vio->Output).at(0).Payload.size(), 8189u);

    TNetOverMemory closed;
    closed.net.NewCommand();
    closed.net.WriteBytes(Pattern(8189));
    EXPECT_EQ(closed.vio->Output.size(), 4u + 8189u);
    EXPECT_THROW(closed.net.WriteByte(1), EInternalError);
}

TEST(MySqlNet, SendEmpty) {
    TNetOverMemory t;
    t.net.NewCommand();
    t.net.WriteByte(1);
    t.net.Send();
    t.net.SendEmpty();
    EXPECT_EQ(t.vio->Output, Cat({Frame(0, {1}), Frame(1, {})}));
    t.net.WriteByte(1);
    EXPECT_THROW(t.net.SendEmpty(), EInternalError);
}

// The number, the SQLSTATE apart from the text, and the text after CR LF.
TEST(MySqlNet, ErrorPacketRaisesTheServersError) {
    struct Case {
        Bytes payload;
        int code;
        std::string sqlState, message;
    } cases[] = {
        {ErrorPacket(1064, "42000", "You have an error"), 1064, "42000", "\r\nYou have an error"},
        {ErrorPacket(1045, "", "Access denied"), 1045, "HY000", "\r\nAccess denied"},  // pre-4.1: no SQLSTATE
        {Cat({ErrorPacket(1146, "42S02", "gone"), {0}, B("after NUL")}), 1146, "42S02", "\r\ngone"},
        {ErrorPacket(1105, "HY000", ""), 1105, "HY000", ""},
        {Cat({Hex("ff 15 04"), B("#4200")}), 1045, "HY000", "\r\n#4200"},  // too short for a SQLSTATE
        {Hex("ff ff ff"), -1, "HY000", ""},  // the number is signed
        {Hex("ff 15 04"), 1045, "HY000", ""},
        // Cut short: Malformed packet, never a read past the payload.
        {Hex("ff"), 2027, "HY000", "Malformed packet"},
        {Hex("ff 15"), 2027, "HY000", "Malformed packet"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        TNetOverMemory t(Frame(0, c.payload));
        t.net.NewCommand();
        const auto e = Raised([&] { t.net.Receive(); });
        EXPECT_EQ(e.ErrorCode(), c.code);
        EXPECT_EQ(e.SqlState(), c.sqlState);
        EXPECT_EQ(e.Message(), c.message);
    }
    // ReadError leaves anything but an error packet alone.
    TNetOverMemory ok(Frame(0, OkPacket()));
    ok.net.NewCommand();
    ok.net.Receive();
    EXPECT_NO_THROW(ok.net.ReadError());
    EXPECT_EQ(ok.net.Buffer().Position(), 1u);
}

TEST(MySqlNet, LostConnection) {
    const Bytes full = Frame(0, B("hello"));
    for (size_t cut = 0; cut < full.size(); ++cut) {
        TNetOverMemory t(Bytes(full.begin(), full.begin() + long(cut)));
        t.net.NewCommand();
        const auto e = Raised([&] { t.net.Receive(); });
        EXPECT_EQ(e.ErrorCode(), 2013) << cut;
        EXPECT_EQ(e.Message(), "Lost connection to MySQL server during query") << cut;
    }
    // Without a transport, writing is a lost connection too.
    TMySqlNet none;
    none.NewCommand();
    none.WriteByte(1);
    EXPECT_EQ(Raised([&] { none.Send(); }).ErrorCode(), 2013);
}

TEST(MySqlNet, ReceiveBuffer) {
    TNetOverMemory t(Cat({Frame(0, B("row one")), Frame(1, ErrorPacket(1317, "70100", "interrupted")), Frame(2, {}),
                          Hex("ff ff ff 03")}));
    t.net.NewCommand();
    Bytes row;
    t.net.ReceiveBuffer(row);
    EXPECT_EQ(row, B("row one"));
    const auto e = Raised([&] { t.net.ReceiveBuffer(row); });
    EXPECT_EQ(e.ErrorCode(), 1317);
    EXPECT_EQ(e.Message(), "\r\ninterrupted");
    EXPECT_EQ(e.SqlState(), "70100");
    EXPECT_EQ(Raised([&] { t.net.ReceiveBuffer(row); }).ErrorCode(), 2027);  // empty packet
    try {
        t.net.ReceiveBuffer(row);
        ADD_FAILURE() << "a full-length packet was taken";
    } catch (const EMySqlException&) {
        ADD_FAILURE() << "wrong exception";
    } catch (const EProtocolError& e) {
        EXPECT_STREQ(e.what(), "Cannot retrieve huge data in FetchAll mode");
    }
}

TEST(MySqlNet, SkipBuffer) {
    const Bytes row = Pattern(10);
    TNetOverMemory t(Cat({Frame(0, row), Frame(1, row), Frame(2, {}), Frame(3, Hex("fe 00 00 02 00")),
                          Frame(4, ErrorPacket(1317, "70100", "interrupted")), Frame(5, ErrorPacket(1, "", "x"))}));
    t.net.NewCommand();
    Bytes piece;
    EXPECT_EQ(t.net.SkipBuffer(piece, 4, true), 10u);
    EXPECT_EQ(piece.size(), 2u);  // the last piece
    EXPECT_EQ(piece[0], row[0]);  // the packet's first byte
    EXPECT_EQ(t.vio->ReceiveSizes.size(), 1u) << "served by the read-ahead";
    EXPECT_EQ(t.net.SkipBuffer(piece, 4, false), 10u);
    EXPECT_EQ(piece[0], 0);
    EXPECT_EQ(t.net.SkipBuffer(piece, 4, true), 0u);
    EXPECT_EQ(piece[0], 0);
    EXPECT_EQ(t.net.SkipBuffer(piece, 64, true), 5u);
    EXPECT_EQ(piece[0], 0xFE);  // the end-of-data marker
    EXPECT_EQ(Raised([&] { t.net.SkipBuffer(piece, 64, true); }).ErrorCode(), 1317);
    EXPECT_NO_THROW(t.net.SkipBuffer(piece, 64, false));  // a continuation is not an error packet
}

TEST(MySqlNet, TypedReadersStayInsideThePayload) {
    // The payload is followed by more bytes in the buffer's memory: readers must stop at
    // the payload's end.
    TNetOverMemory t(Cat({Frame(0, B("0123456789")), Frame(1, Hex("01 02 03"))}));
    t.net.NewCommand();
    t.net.Receive();
    t.net.Receive();
    EXPECT_EQ(t.net.ReadInt24(), 0x030201u);
    EXPECT_EQ(t.net.ReadString(), "");
    for (auto read : std::vector<std::function<void()>>{
             [&] { t.net.ReadByte(); }, [&] { t.net.ReadInt16(); }, [&] { t.net.ReadInt32(); },
             [&] { t.net.ReadInt64(); }, [&] { t.net.ReadString(1); }, [&] { t.net.ReadFieldLength(); },
             [&] { uint8_t b; t.net.ReadBytes(&b, 0, 1); }}) {
        EXPECT_EQ(Raised(read).ErrorCode(), 2027);
    }
}

// Outgoing compressed packets: blocks up to 50 bytes are stored, larger ones deflated; the
// compressed sequence runs on, and the plain sequence follows it after Send.
TEST(MySqlNet, CompressedWrite) {
    TNetOverMemory t;
    t.net.NewCommand();
    t.net.SetCompress(true);
    struct Case {
        size_t payload;
        size_t before;  // the length-before-compression field
    } cases[] = {{40, 0}, {46, 0}, {47, 51}, {200, 204}};
    Bytes plain;
    for (const auto& c : cases) {
        const Bytes payload = Bytes(c.payload, 'a');
        t.net.WriteBytes(payload);
        t.net.Send();
    }
    const auto frames = CompressedFrames(t.vio->Output);
    ASSERT_EQ(frames.size(), std::size(cases));
    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(cases[i].payload);
        EXPECT_EQ(frames[i].Seq, i);
        EXPECT_EQ(frames[i].Before, cases[i].before);
        // Each carries one plain packet, numbered like the compressed one.
        EXPECT_EQ(frames[i].Plain, Frame(uint8_t(i), Bytes(cases[i].payload, 'a')));
    }
    EXPECT_EQ(t.net.PacketNumber(), 4);
}

TEST(MySqlNet, CompressedRead) {
    const Bytes row = Pattern(300);
    const Bytes plain = Cat({Frame(0, B("ok")), Frame(0, row), Frame(0, Hex("fe 00 00 02 00"))});
    // The stream cut into compressed packets at arbitrary places: stored and deflated.
    const Bytes stream = Cat({CompressedFrame(0, Bytes(plain.begin(), plain.begin() + 3), false),
                              CompressedFrame(1, Bytes(plain.begin() + 3, plain.begin() + 200), true),
                              CompressedFrame(2, Bytes(plain.begin() + 200, plain.end()), true)});
    TNetOverMemory t(stream);
    t.net.NewCommand();
    t.net.SetCompress(true);
    t.net.Receive();
    EXPECT_EQ(t.net.ReadString(2), "ok");
    Bytes got;
    t.net.ReceiveBuffer(got);
    EXPECT_EQ(got, row);
    t.net.Receive();
    EXPECT_EQ(t.net.ReadByte(), 0xFE);
    EXPECT_EQ(t.net.PacketNumber(), 3) << "the compressed sequence is the one checked";
}

TEST(MySqlNet, CompressedRoundTrip) {
    for (const size_t n : {0, 1, 50, 51, 8192, 70000}) {
        const Bytes payload = Pattern(n);
        TNetOverMemory out;
        out.net.NewCommand();
        out.net.SetCompress(true);
        out.net.WriteByte(3);
        out.net.WriteBytes(payload);
        out.net.Send();
        TNetOverMemory in(out.vio->Output);
        in.net.NewCommand();
        in.net.SetCompress(true);
        in.net.Receive();
        EXPECT_EQ(in.net.ReadByte(), 3);
        EXPECT_EQ(in.net.ReadString(n), std::string(payload.begin(), payload.end())) << n;
    }
}

TEST(MySqlNet, CompressedErrors) {
    Bytes wrongLength = CompressedFrame(0, Frame(0, Pattern(100)), true);
    wrongLength[4] = 99;  // not the length the data inflates to
    struct Case {
        Bytes stream;
        int code;
        std::string message;
    } cases[] = {
        {CompressedFrame(1, Frame(0, B("x")), false), 1156,
         "\r\nReceiveCompHeader: Net packets out of order: received[1], expected[0]"},
        // The plain header inside is not checked.
        {CompressedFrame(0, Frame(9, ErrorPacket(1064, "42000", "e")), false), 1064, "\r\ne"},
        // Data that does not inflate to the announced length.
        {Cat({Hex("05 00 00 00 10 00 00"), B("junk!")}), 1157, ""},
        {wrongLength, 1157, ""},
        {Hex("05 00 00 00 00 00"), 2013, "Lost connection to MySQL server during query"},
        {Hex("05 00 00 00 00 00 00 01 00"), 2013, "Lost connection to MySQL server during query"},
    };
    for (const auto& c : cases) {
        TNetOverMemory t(c.stream);
        t.net.NewCommand();
        t.net.SetCompress(true);
        const auto e = Raised([&] { t.net.Receive(); });
        EXPECT_EQ(e.ErrorCode(), c.code);
        EXPECT_EQ(e.Message(), c.message);
    }
}

// A packet past max_allowed_packet (joined continuation packets, a single buffered or skipped
// packet, a compressed packet's announced length) is refused from its header: nothing of its
// payload is read, and the transport is closed, since the stream cannot be followed after it.
TEST(MySqlNet, MaxAllowedPacket) {
    constexpr uint32_t max = 8;
    enum Op { opReceive, opReceiveBuffer, opSkip };
    const Bytes eod = Hex("fe 00 00 02 00");
    struct Case {
        const char* name;
        Op op;
        bool compress;
        size_t limit;
        Bytes stream;
        size_t refusedAt;  // bytes read when it is refused (header included); 0: taken
    } cases[] = {
        {"joined, at the limit", opReceive, false, 20, Packets(0, {Pattern(20)}, max), 0},
        {"joined, one byte over", opReceive, false, 20, Packets(0, {Pattern(21)}, max), 2 * (4 + max) + 4},
        {"exact multiple with its empty packet", opReceive, false, 16, Packets(0, {Pattern(16)}, max), 0},
        {"a single packet over", opReceive, false, 5, Frame(0, Pattern(6)), 4},
        {"buffered, at the limit", opReceiveBuffer, false, 5, Frame(0, Pattern(5)), 0},
        {"buffered, over", opReceiveBuffer, false, 5, Frame(0, Pattern(6)), 4},
        {"skipped, joined at the limit", opSkip, false, 20, Cat({Packets(0, {Pattern(20)}, max), Frame(3, eod)}), 0},
        {"skipped, joined over", opSkip, false, 19, Cat({Packets(0, {Pattern(20)}, max), Frame(3, eod)}),
         2 * (4 + max) + 4},
        {"compressed, stored at the limit and its header", opReceive, true, 20,
         CompressedFrame(0, Frame(0, Pattern(20)), false), 0},
        {"compressed, stored over", opReceive, true, 20, CompressedFrame(0, Frame(0, Pattern(21)), false), 7},
        {"compressed, announced over", opReceive, true, 20, CompressedFrame(0, Frame(0, Pattern(21)), true), 7},
        {"compressed, more compressed data than it can take", opReceive, true, 20,
         Cat({Hex("80 00 00 00 05 00 00"), Bytes(0x80, 0)}), 7},
        {"compressed, joined over across compressed packets", opReceive, true, 20,
         Cat({CompressedFrame(0, Packets(0, {Pattern(8), Pattern(8)}), false),
              CompressedFrame(1, Packets(2, {Pattern(8), {}}), false)}),
         7 + 2 * (4 + max) + 7 + (4 + max) + 4},  // both compressed packets
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TNetOverMemory t(c.stream, max);
        t.vio->MaxChunk = 4;  // no read-ahead past what was asked for, so that InputPos tells
        bool closed = false;
        size_t read = 0;
        t.vio->ClosedFlag = &closed;
        t.vio->ReadAtClose = &read;
        t.net.NewCommand();
        t.net.SetCompress(c.compress);
        t.net.SetMaxAllowedPacket(c.limit);
        Bytes bytes;
        const auto run = [&] {
            switch (c.op) {
                case opReceive: t.net.Receive(); break;
                case opReceiveBuffer: t.net.ReceiveBuffer(bytes); break;
                case opSkip:
                    for (bool continuation = false;;) {
                        const size_t length = t.net.SkipBuffer(bytes, 3, !continuation);
                        if (!continuation && length == eod.size() && bytes[0] == 0xFE) break;
                        continuation = length == max;
                    }
                    break;
            }
        };
        if (c.refusedAt == 0) {
            run();
            EXPECT_EQ(t.vio->InputPos, c.stream.size());
            EXPECT_FALSE(closed);
            continue;
        }
        const auto e = Raised(run);
        EXPECT_EQ(e.ErrorCode(), 2020);
        EXPECT_EQ(e.Message(), "Got packet bigger than 'max_allowed_packet'\r\nThe server sent a packet of more than " +
                                   std::to_string(c.limit) +
                                   " bytes, the client's max_allowed_packet. Raise it to read this data; the "
                                   "connection was closed.");
        EXPECT_EQ(read, c.refusedAt) << "read past the header";
        EXPECT_TRUE(closed);
        EXPECT_EQ(t.vio->Buffered(), 0u) << "bytes read ahead of the refused packet are dropped";
    }
}

TEST(MySqlNet, CloseFreesTheTransport) {
    TNetOverMemory t;
    bool closed = false;
    t.vio->ClosedFlag = &closed;
    t.net.Close();
    EXPECT_TRUE(closed);
    EXPECT_EQ(t.net.Vio(), nullptr);
    t.net.Close();  // twice is harmless
}

TEST(ByteStream, GrowthAndPosition) {
    TByteStream s(100);
    EXPECT_EQ(s.Capacity(), 100u);
    s.Write(Pattern(101).data(), 101);
    EXPECT_EQ(s.Capacity(), 150u);  // 1.5 times the old capacity
    s.SetLength(1000);
    EXPECT_EQ(s.Capacity(), 1000u);  // the need when larger
    s.SetPosition(1200);
    EXPECT_EQ(s.Length(), 1200u);  // a position past the end extends the length
    s.SetLength(10);
    EXPECT_EQ(s.Position(), 10u);
    EXPECT_EQ(s.Data()[100], Pattern(101)[100]);
}
