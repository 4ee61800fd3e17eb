#pragma once
// The packet layer: frames outgoing data with the 4-byte packet header, splits payloads at
// the maximum packet length, checks the sequence numbers of incoming packets, wraps the
// stream in the compressed protocol when that is on, and reads and writes the protocol's
// value encodings.
//
// Plain packet:
//   payload length  [3, little-endian]
//   sequence number [1]
//   payload         [length]
// A payload of 0xFFFFFF bytes or more travels as packets of exactly 0xFFFFFF bytes and one
// shorter packet (empty when the payload is an exact multiple); the receiver joins packets
// as long as they are 0xFFFFFF bytes long.
//
// Compressed packet (carries a stretch of the plain packet stream, headers included):
//   data length                 [3]  bytes after this 7-byte header
//   compressed sequence number  [1]
//   length before compression   [3]  0 when the data is stored as it is
//   data                        [data length]  a zlib stream, or the plain bytes
//
// Use: NewCommand, the Write* calls, Send for an outgoing packet; Receive, then the Read*
// calls for an incoming one. Readers never read past the received payload: a short packet
// raises EMySqlException 2027 "Malformed packet". Reader() gives a TPacketReader over the
// payload for decoders that want to keep decoding apart from the packet layer.
//
// Incoming packets are bounded by the client's max_allowed_packet: a logical packet (its
// continuation packets joined) or a compressed packet announcing more raises 2020 "Got
// packet bigger than 'max_allowed_packet'" from its header, before memory is reserved or
// its bytes are read, so that a server (or anyone between it and a connection without TLS)
// cannot make the program grow without end. The rest of such a packet cannot be skipped
// without reading it, so the transport is closed then, as after a lost connection (2013):
// later commands fail with 2013 instead of reading what is left of the stream.

#include "ByteStream.h"
#include "CRVio.h"
#include "PacketReader.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace calvoro::protocol {

// Length-coded integer: up to 250 one byte; up to 0xFFFF 0xFC and 2 bytes; up to 0xFFFFFF
// 0xFD and 3 bytes; above (and negative values) 0xFE and 8 bytes. Writes at most 9 bytes
// to out and returns how many.
size_t EncodeFieldLength(int64_t value, uint8_t* out);

class TMySqlNet {
public:
    static constexpr size_t HeaderSize = 4;
    static constexpr size_t CompressHeaderSize = 7;
    static constexpr uint32_t MaxPacketLength = 0xFFFFFF;
    // Outgoing data is collected in the packet buffer up to this size; more is streamed.
    static constexpr size_t CollectSize = 8192;
    // Blocks up to this size go out uncompressed.
    static constexpr size_t CompressThreshold = 50;
    // The client's max_allowed_packet, as the C client has it: 1 GiB unless set.
    static constexpr size_t DefaultMaxAllowedPacket = size_t(1) << 30;

    // maxPacketLength: the length at which payloads are split and joined; the protocol's is
    // 0xFFFFFF, tests use small values to cover continuation cheaply.
    explicit TMySqlNet(uint32_t maxPacketLength = MaxPacketLength);
    ~TMySqlNet();
    TMySqlNet(const TMySqlNet&) = delete;
    TMySqlNet& operator=(const TMySqlNet&) = delete;

    // The transport, owned. Assigning another closes and frees the current one first.
    TCRVio* Vio() const { return Fvio.get(); }
    void SetVio(std::unique_ptr<TCRVio> vio);

    // The compressed protocol; set by the session after the handshake.
    bool Compress() const { return FCompress; }
    void SetCompress(bool value) { FCompress = value; }
    uint8_t PacketNumber() const { return FPacketNumber; }
    uint32_t MaxPacket() const { return FMaxPacketLength; }
    // The largest incoming logical packet (bytes, at least 1).
    size_t MaxAllowedPacket() const { return FMaxAllowedPacket; }
    void SetMaxAllowedPacket(size_t bytes);

    // --- Building and sending a packet ---

    // Start of a command exchange: both sequence numbers 0, buffer cleared.
    void NewCommand();
    // Empties the packet being built (the header stays reserved); sequence numbers are kept.
    void Clear();

    void WriteByte(uint8_t value);
    void WriteBool(bool value) { WriteByte(value ? 1 : 0); }
    void WriteInt16(int32_t value);  // low 2 bytes
    void WriteInt24(int32_t value);  // low 3 bytes
    void WriteInt32(int32_t value);
    void WriteInt64(int64_t value);
    // The 8-bit bytes followed by a NUL.
    void WriteString(std::string_view text);
    void WriteString(const char* text) { WriteString(std::string_view(text ? text : "")); }
    // Length-coded integer (EncodeFieldLength).
    void WriteFieldLength(int32_t length);
    void Fill(uint8_t value, size_t count);
    // Appends bytes; what does not fit the collect size is written from the caller's memory
    // at once, with a header that already carries the packet's final length. Such a
    // WriteBytes must then be the last write of the packet, and Send sends nothing more.
    void WriteBytes(const uint8_t* bytes, size_t offset, size_t count);
    void WriteBytes(std::span<const uint8_t> bytes) { WriteBytes(bytes.data(), 0, bytes.size()); }
    void WriteBytes(std::string_view bytes) {
        WriteBytes(reinterpret_cast<const uint8_t*>(bytes.data()), 0, bytes.size());
    }

    // Completes and sends the packet being built; a packet with an empty payload sends
    // nothing, unless WriteBytes already sent full-length pieces of it.
    void Send();
    // Sends a packet with an empty payload; nothing may have been written.
    void SendEmpty();

    // --- Receiving ---

    // Reads one logical packet (joining full-length pieces) into the buffer: payload only,
    // position 0. An error packet (first byte 0xFF) raises the server's error.
    void Receive();
    // Reads one packet into bytes, sized exactly; an error packet raises. A full-length
    // packet raises "Cannot retrieve huge data in FetchAll mode".
    void ReceiveBuffer(std::vector<uint8_t>& bytes);
    // Reads one packet and throws it away in pieces of at most chunk bytes read into bytes.
    // With firstPacket an error packet raises. Afterwards bytes[0] is the packet's first
    // byte (firstPacket) or 0, so the caller can test for the end-of-data marker. Returns
    // the packet's length. Without firstPacket the packet continues the one skipped before,
    // and their lengths together count against max_allowed_packet.
    size_t SkipBuffer(std::vector<uint8_t>& bytes, size_t chunk, bool firstPacket);

    // Typed readers at the buffer's position, which they advance.
    uint8_t ReadByte();
    int16_t ReadInt16();
    uint16_t ReadUInt16();
    uint32_t ReadInt24();
    int32_t ReadInt32();
    int64_t ReadInt64();
    std::string ReadString(size_t length);
    std::string ReadString();
    void ReadBytes(uint8_t* bytes, size_t offset, size_t count);
    int64_t ReadFieldLength();
    // When the byte at the position is 0xFF: raises EMySqlException with the error number
    // (2 bytes, signed) and the rest of the payload as message. Otherwise does nothing
    // (the byte is consumed either way).
    void ReadError();

    // The packet buffer: the received payload (or the packet being built, after its header).
    TByteStream& Buffer() { return Fbuffer; }
    // A reader over the received payload, at the buffer's position.
    TPacketReader Reader() const { return TPacketReader(Fbuffer.Data(), Fbuffer.Length(), Fbuffer.Position()); }

    // Empties both buffers, then closes and frees the transport (the reference is gone even
    // when closing raises).
    void Close();

private:
    size_t Payload() const { return Fbuffer.Length() - HeaderSize; }
    void BeginWrite();
    void WriteLE(uint64_t value, size_t size);
    void WriteHeader(uint8_t* header, size_t length);
    void FlushBuffer(size_t packetLength);
    void StreamFullPackets(const uint8_t*& bytes, size_t& count);
    void FinishSend();

    void WriteOut(const uint8_t* bytes, size_t count);
    void WriteCompressed(const uint8_t* bytes, size_t count);
    void ReadIn(uint8_t* bytes, size_t count);
    void ReadRaw(uint8_t* bytes, size_t count);
    void ReadCompressed(uint8_t* bytes, size_t count);
    void FillCompressBuffer();
    size_t ReadHeader();
    bool ReceiveBuffered();
    void CheckSequence(uint8_t received, const char* reader);
    void RaiseIfErrorPacket(const uint8_t* payload, size_t length);
    [[noreturn]] void RaiseLost();
    void GiveUpStream();
    // A packet of more than max_allowed_packet: closes the transport and raises 2020.
    void CheckAllowed(size_t joined, size_t length);
    [[noreturn]] void RaisePacketTooLarge();

    template <typename F>
    auto ReadAt(F read) {
        TPacketReader r = Reader();
        auto value = read(r);
        Fbuffer.SetPosition(r.Position());
        return value;
    }

    std::unique_ptr<TCRVio> Fvio;
    TByteStream Fbuffer{CollectSize};
    TByteStream FCompressBuffer{100};
    std::vector<uint8_t> FCompressOut;  // one compressed packet on its way out, or compressed data read
    uint8_t FPacketNumber = 0;
    uint8_t FComprPacketNumber = 0;
    uint8_t FHeader[HeaderSize] = {};
    uint8_t FCompressHeader[CompressHeaderSize] = {};
    bool FCompress = false;
    uint32_t FMaxPacketLength;
    size_t FMaxAllowedPacket = DefaultMaxAllowedPacket;
    size_t FSkipJoined = 0;  // bytes of the logical packet SkipBuffer is in, before its current packet
    bool FPiecesSent = false;    // full-length pieces of this packet have gone out
    bool FPacketClosed = false;  // WriteBytes sent the whole packet
};

}  // namespace calvoro::protocol
