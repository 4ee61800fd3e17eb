#include "MySqlNet.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace calvoro::protocol {
namespace {

uint32_t LE24(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16; }

void PutLE24(uint8_t* p, size_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
}

}  // namespace

size_t EncodeFieldLength(int64_t value, uint8_t* out) {
    size_t size;
    if (value >= 0 && value <= 250) {
        out[0] = uint8_t(value);
        return 1;
    }
    if (value >= 0 && value <= 0xFFFF) {
        out[0] = 0xFC;
        size = 2;
    } else if (value >= 0 && value <= 0xFFFFFF) {
        out[0] = 0xFD;
        size = 3;
    } else {
        out[0] = 0xFE;
        size = 8;
    }
    for (size_t i = 0; i < size; ++i) out[1 + i] = uint8_t(uint64_t(value) >> (8 * i));
    return 1 + size;
}

TMySqlNet::TMySqlNet(uint32_t maxPacketLength) : FMaxPacketLength(maxPacketLength) {
    if (maxPacketLength == 0 || maxPacketLength > MaxPacketLength)
        throw EInternalError("MySqlNet: maximum packet length out of range");
    Clear();
}

TMySqlNet::~TMySqlNet() {
    try {
        Close();
    } catch (...) {
        // A destructor cannot raise; the transport is gone either way.
    }
}

void TMySqlNet::SetVio(std::unique_ptr<TCRVio> vio) {
    if (Fvio) {
        try {
            Fvio->Close();
        } catch (...) {
            // The old transport is being replaced; nothing more is read from it.
        }
    }
    Fvio = std::move(vio);
}

void TMySqlNet::Close() {
    Clear();
    FCompressBuffer.Clear();
    std::unique_ptr<TCRVio> vio = std::move(Fvio);  // freed even when Close raises
    if (vio) vio->Close();
}

[[noreturn]] void TMySqlNet::RaiseLost() {
    const std::string reason = Fvio ? Fvio->LastError() : std::string();
    GiveUpStream();
    throw EMySqlException(CR_SERVER_LOST, reason);
}

// Bytes already received belong to answers that will never be complete: served to the next
// command, they would pass for its answer. They go, and the transport is closed (but kept,
// so that every later command fails as on a lost connection).
void TMySqlNet::GiveUpStream() {
    Clear();
    FCompressBuffer.Clear();
    if (Fvio) {
        Fvio->Consume(Fvio->Buffered());
        Fvio->Close();
    }
}

void TMySqlNet::SetMaxAllowedPacket(size_t bytes) {
    if (bytes == 0) throw EInternalError("MySqlNet: max_allowed_packet of 0 bytes");
    FMaxAllowedPacket = bytes;
}

// joined: the bytes of the logical packet before this packet of length bytes.
void TMySqlNet::CheckAllowed(size_t joined, size_t length) {
    if (joined > FMaxAllowedPacket || length > FMaxAllowedPacket - joined) RaisePacketTooLarge();
}

[[noreturn]] void TMySqlNet::RaisePacketTooLarge() {
    const size_t limit = FMaxAllowedPacket;
    // The rest of the packet is still on its way: nothing after it can be read in step.
    GiveUpStream();
    throw EMySqlException(CR_NET_PACKET_TOO_LARGE,
                          FormatText("The server sent a packet of more than %d bytes, the client's "
                                     "max_allowed_packet. Raise it to read this data; the connection was closed.",
                                     {int64_t(limit)}));
}

// --- Building and sending ----------------------------------------------------------------

void TMySqlNet::NewCommand() {
    FPacketNumber = 0;
    FComprPacketNumber = 0;
    Clear();
}

void TMySqlNet::Clear() {
    Fbuffer.SetLength(HeaderSize);
    Fbuffer.SetPosition(HeaderSize);
    FPiecesSent = false;
    FPacketClosed = false;
}

void TMySqlNet::BeginWrite() {
    if (FPacketClosed)
        throw EInternalError("MySqlNet: write after WriteBytes has sent the whole packet");
}

void TMySqlNet::WriteLE(uint64_t value, size_t size) {
    BeginWrite();
    uint8_t bytes[8];
    for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(value >> (8 * i));
    Fbuffer.Write(bytes, size);
}

void TMySqlNet::WriteByte(uint8_t value) { WriteLE(value, 1); }
void TMySqlNet::WriteInt16(int32_t value) { WriteLE(uint32_t(value), 2); }
void TMySqlNet::WriteInt24(int32_t value) { WriteLE(uint32_t(value), 3); }
void TMySqlNet::WriteInt32(int32_t value) { WriteLE(uint32_t(value), 4); }
void TMySqlNet::WriteInt64(int64_t value) { WriteLE(uint64_t(value), 8); }

void TMySqlNet::WriteString(std::string_view text) {
    BeginWrite();
    Fbuffer.Write(text.data(), text.size());
    Fbuffer.WriteByte(0);
}

void TMySqlNet::WriteFieldLength(int32_t length) {
    BeginWrite();
    uint8_t bytes[9];
    Fbuffer.Write(bytes, EncodeFieldLength(length, bytes));
}

void TMySqlNet::Fill(uint8_t value, size_t count) {
    BeginWrite();
    const size_t at = Fbuffer.Position();
    Fbuffer.SetPosition(at + count);
    std::memset(Fbuffer.Data() + at, value, count);
}

void TMySqlNet::WriteHeader(uint8_t* header, size_t length) {
    PutLE24(header, length);
    header[3] = FPacketNumber++;  // 255 wraps to 0
}

// Sends the buffer as one packet of packetLength payload bytes (the buffered ones, and, when
// packetLength is larger, bytes the caller writes out right after) and empties it.
void TMySqlNet::FlushBuffer(size_t packetLength) {
    WriteHeader(Fbuffer.Data(), packetLength);
    WriteOut(Fbuffer.Data(), Fbuffer.Length());
    Fbuffer.SetLength(HeaderSize);
    Fbuffer.SetPosition(HeaderSize);
}

// Sends every full-length packet that the buffered payload followed by count bytes at
// bytes make up; advances bytes past what went out.
void TMySqlNet::StreamFullPackets(const uint8_t*& bytes, size_t& count) {
    while (Payload() + count >= FMaxPacketLength) {
        if (Payload() >= FMaxPacketLength) {
            // Buffered writes alone filled a packet: send it and keep the rest.
            const size_t rest = Payload() - FMaxPacketLength;
            WriteHeader(Fbuffer.Data(), FMaxPacketLength);
            WriteOut(Fbuffer.Data(), HeaderSize + FMaxPacketLength);
            uint8_t* payload = Fbuffer.Data() + HeaderSize;
            std::memmove(payload, payload + FMaxPacketLength, rest);
            Fbuffer.SetLength(HeaderSize + rest);
            Fbuffer.SetPosition(HeaderSize + rest);
        } else {
            const size_t n = FMaxPacketLength - Payload();
            FlushBuffer(FMaxPacketLength);
            WriteOut(bytes, n);
            bytes += n;
            count -= n;
        }
        FPiecesSent = true;
    }
}

void TMySqlNet::WriteBytes(const uint8_t* bytes, size_t offset, size_t count) {
    BeginWrite();
    if (count == 0) return;
    const uint8_t* p = bytes + offset;
    StreamFullPackets(p, count);
    if (Fbuffer.Length() + count <= CollectSize) {
        Fbuffer.Write(p, count);
        return;
    }
    // Too large to collect: the header announces the final length and the caller's bytes
    // go out from where they are.
    FlushBuffer(Payload() + count);
    WriteOut(p, count);
    FPacketClosed = true;
}

void TMySqlNet::FinishSend() {
    Clear();
    if (FCompress) FPacketNumber = FComprPacketNumber;
}

void TMySqlNet::Send() {
    if (!FPacketClosed) {
        const uint8_t* none = nullptr;
        size_t zero = 0;
        StreamFullPackets(none, zero);
        // After full-length pieces the final packet goes out even when it is empty.
        if (Payload() > 0 || FPiecesSent) FlushBuffer(Payload());
    }
    FinishSend();
}

void TMySqlNet::SendEmpty() {
    if (Payload() != 0 || FPacketClosed) throw EInternalError("MySqlNet: SendEmpty after writes");
    FlushBuffer(0);
    FinishSend();
}

// --- Transport, plain or compressed ---------------------------------------------------------

void TMySqlNet::WriteOut(const uint8_t* bytes, size_t count) {
    if (count == 0) return;
    if (FCompress) {
        WriteCompressed(bytes, count);
        return;
    }
    if (!Fvio || Fvio->Write(bytes, 0, count) != count) RaiseLost();
}

// One compressed packet per block. Blocks stay below 0xFFFFFF bytes on the wire, since a
// packet of exactly that length tells the receiver that another one continues it.
void TMySqlNet::WriteCompressed(const uint8_t* bytes, size_t count) {
    while (count > 0) {
        const size_t block = std::min<size_t>(count, MaxPacketLength - 1);
        const size_t target = block + block / 5 + 12;
        FCompressOut.resize(CompressHeaderSize + target);
        uint8_t* data = FCompressOut.data() + CompressHeaderSize;
        size_t dataLength = block;
        size_t before = 0;  // 0: stored as it is
        if (block > CompressThreshold) {
            uLongf packed = target;
            if (compress(data, &packed, bytes, uLong(block)) == Z_OK && packed < MaxPacketLength) {
                dataLength = packed;
                before = block;
            }
        }
        if (before == 0) std::memcpy(data, bytes, block);
        uint8_t* header = FCompressOut.data();
        PutLE24(header, dataLength);
        header[3] = FComprPacketNumber++;
        PutLE24(header + 4, before);
        const size_t total = CompressHeaderSize + dataLength;
        if (!Fvio || Fvio->Write(FCompressOut.data(), 0, total) != total) RaiseLost();
        bytes += block;
        count -= block;
    }
}

void TMySqlNet::ReadRaw(uint8_t* bytes, size_t count) {
    if (count == 0) return;
    if (!Fvio || Fvio->Read(bytes, 0, count) != count) RaiseLost();
}

void TMySqlNet::ReadIn(uint8_t* bytes, size_t count) {
    if (FCompress)
        ReadCompressed(bytes, count);
    else
        ReadRaw(bytes, count);
}

// Reads the next compressed packet into FCompressBuffer. Each one is decompressed on its own,
// so one of 0xFFFFFF bytes needs nothing of the next, which is read when its bytes are
// wanted. A compressed packet carries at most a packet's worth of the plain stream (its
// header included): one that announces more is refused before anything is reserved.
void TMySqlNet::FillCompressBuffer() {
    FCompressBuffer.Clear();
    ReadRaw(FCompressHeader, CompressHeaderSize);
    CheckSequence(FCompressHeader[3], "ReceiveCompHeader");
    const size_t length = LE24(FCompressHeader);
    const size_t before = LE24(FCompressHeader + 4);
    const size_t allowed = std::min<size_t>(FMaxAllowedPacket, MaxPacketLength) + HeaderSize;
    if ((before == 0 ? length : before) > allowed || length > compressBound(uLong(allowed))) RaisePacketTooLarge();
    if (before == 0) {
        FCompressBuffer.SetLength(length);
        ReadRaw(FCompressBuffer.Data(), length);
        return;
    }
    FCompressOut.resize(length);
    ReadRaw(FCompressOut.data(), length);
    FCompressBuffer.SetLength(before);
    uLongf unpacked = before;
    if (uncompress(FCompressBuffer.Data(), &unpacked, FCompressOut.data(), uLong(length)) != Z_OK ||
        unpacked != before)
        throw EMySqlException(ER_NET_UNCOMPRESS_ERROR);
}

void TMySqlNet::ReadCompressed(uint8_t* bytes, size_t count) {
    while (count > 0) {
        const size_t held = FCompressBuffer.Length() - FCompressBuffer.Position();
        if (held == 0) {
            FillCompressBuffer();
            continue;
        }
        const size_t n = std::min(held, count);
        std::memcpy(bytes, FCompressBuffer.Data() + FCompressBuffer.Position(), n);
        FCompressBuffer.SetPosition(FCompressBuffer.Position() + n);
        if (FCompressBuffer.Position() == FCompressBuffer.Length()) FCompressBuffer.Clear();
        bytes += n;
        count -= n;
    }
}

// The next sequence number is expected; both counters move on either way.
void TMySqlNet::CheckSequence(uint8_t received, const char* reader) {
    const uint8_t expected = FPacketNumber++;
    FComprPacketNumber = FPacketNumber;
    if (received != expected)
        throw EMySqlException(ER_NET_PACKETS_OUT_OF_ORDER,
                              FormatText("%s: Net packets out of order: received[%d], expected[%d]",
                                         {reader, received, expected}));
}

// Reads a plain header and returns the payload length. Without compression the sequence
// number must be the expected one; inside the compressed stream the compressed headers
// carry the check instead.
size_t TMySqlNet::ReadHeader() {
    ReadIn(FHeader, HeaderSize);
    if (!FCompress) CheckSequence(FHeader[3], "ReceiveHeader");
    return LE24(FHeader);
}

// --- Receiving -------------------------------------------------------------------------------

void TMySqlNet::RaiseIfErrorPacket(const uint8_t* payload, size_t length) {
    if (length == 0 || payload[0] != 0xFF) return;
    if (payload != Fbuffer.Data()) {
        Fbuffer.Clear();
        Fbuffer.Write(payload, length);
    }
    Fbuffer.SetPosition(0);
    ReadError();
}

// The common case of a packet received ahead in full: taken from the transport's buffer
// at once. False (nothing taken) when the packet is not all there, is compressed, or is of
// the maximum length.
bool TMySqlNet::ReceiveBuffered() {
    if (FCompress || !Fvio) return false;
    const size_t held = Fvio->Buffered();
    if (held < HeaderSize) return false;
    const uint8_t* p = Fvio->BufferedData();
    const size_t length = LE24(p);
    if (length >= FMaxPacketLength || length > FMaxAllowedPacket || held - HeaderSize < length) return false;
    std::memcpy(FHeader, p, HeaderSize);
    Fvio->Consume(HeaderSize);
    CheckSequence(FHeader[3], "ReceiveHeader");
    Fbuffer.SetLength(length);
    if (length) std::memcpy(Fbuffer.Data(), p + HeaderSize, length);
    Fvio->Consume(length);
    return true;
}

void TMySqlNet::Receive() {
    Fbuffer.Clear();
    if (ReceiveBuffered()) {
        Fbuffer.SetPosition(0);
        RaiseIfErrorPacket(Fbuffer.Data(), Fbuffer.Length());
        return;
    }
    size_t total = 0;
    size_t length;
    do {
        length = ReadHeader();
        CheckAllowed(total, length);
        Fbuffer.SetLength(total + length);
        ReadIn(Fbuffer.Data() + total, length);
        total += length;
    } while (length == FMaxPacketLength);
    Fbuffer.SetPosition(0);
    RaiseIfErrorPacket(Fbuffer.Data(), Fbuffer.Length());
}

void TMySqlNet::ReceiveBuffer(std::vector<uint8_t>& bytes) {
    const size_t length = ReadHeader();
    // A row or definition is never empty; an empty packet here is not one.
    if (length == 0) throw EMySqlException(CR_MALFORMED_PACKET, "TMySqlNet.ReceiveBuffer l = 0");
    CheckAllowed(0, length);
    if (length == FMaxPacketLength) throw EProtocolError("Cannot retrieve huge data in FetchAll mode");
    bytes.resize(length);
    ReadIn(bytes.data(), length);
    RaiseIfErrorPacket(bytes.data(), length);
}

size_t TMySqlNet::SkipBuffer(std::vector<uint8_t>& bytes, size_t chunk, bool firstPacket) {
    if (chunk == 0) throw EInternalError("MySqlNet: SkipBuffer with chunk 0");
    const size_t length = ReadHeader();
    const size_t joined = firstPacket ? 0 : FSkipJoined;
    CheckAllowed(joined, length);
    FSkipJoined = joined + length;
    uint8_t first = 0;
    for (size_t left = length; left > 0;) {
        const size_t n = std::min(chunk, left);
        bytes.resize(n);
        ReadIn(bytes.data(), n);
        if (left == length) {
            first = bytes[0];
            if (firstPacket) RaiseIfErrorPacket(bytes.data(), n);
        }
        left -= n;
    }
    if (bytes.empty()) bytes.resize(1);
    bytes[0] = firstPacket ? first : 0;
    return length;
}

// --- Typed readers ---------------------------------------------------------------------------

uint8_t TMySqlNet::ReadByte() { return ReadAt([](TPacketReader& r) { return r.ReadByte(); }); }
int16_t TMySqlNet::ReadInt16() { return ReadAt([](TPacketReader& r) { return r.ReadInt16(); }); }
uint16_t TMySqlNet::ReadUInt16() { return ReadAt([](TPacketReader& r) { return r.ReadUInt16(); }); }
uint32_t TMySqlNet::ReadInt24() { return ReadAt([](TPacketReader& r) { return r.ReadInt24(); }); }
int32_t TMySqlNet::ReadInt32() { return ReadAt([](TPacketReader& r) { return r.ReadInt32(); }); }
int64_t TMySqlNet::ReadInt64() { return ReadAt([](TPacketReader& r) { return r.ReadInt64(); }); }
int64_t TMySqlNet::ReadFieldLength() {
    return ReadAt([](TPacketReader& r) { return r.ReadFieldLength(); });
}
std::string TMySqlNet::ReadString(size_t length) {
    return ReadAt([length](TPacketReader& r) { return r.ReadString(length); });
}
std::string TMySqlNet::ReadString() { return ReadAt([](TPacketReader& r) { return r.ReadString(); }); }

void TMySqlNet::ReadBytes(uint8_t* bytes, size_t offset, size_t count) {
    ReadAt([&](TPacketReader& r) {
        r.ReadBytes(bytes + offset, count);
        return 0;
    });
}

// Error packet:
//   0xFF          [1]
//   error number  [2, signed]
//   SQLSTATE      [6]     protocol 4.1 only: "#" and the 5-character state
//   message       [rest]
// Servers before 4.1 start the message at once; none of their texts starts with "#".
void TMySqlNet::ReadError() {
    if (ReadByte() != 0xFF) return;
    const int16_t code = ReadInt16();
    std::string message = ReadString();
    std::string sqlState;
    if (message.size() >= 6 && message[0] == '#') {
        sqlState = message.substr(1, 5);
        message.erase(0, 6);
    }
    throw EMySqlException::FromServer(code, std::move(sqlState), message);
}

}  // namespace calvoro::protocol
