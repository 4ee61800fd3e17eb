// Plays arbitrary bytes as the server's packet stream into the packet layer's receive paths
// (a joined logical packet, a buffered packet, a skipped packet and its continuations), plain
// or compressed, with a small maximum packet length so that continuation is common, and a
// small max_allowed_packet. Whatever arrives, nothing the client keeps may grow past the
// limit, a refusal must close the transport, and nothing may crash or read out of bounds.
//
// The first input byte sets up the layer: bit 0 turns compression on, bits 1 to 3 give the
// maximum packet length (2^(n+2) bytes), bits 4 to 7 max_allowed_packet (2^(n+1) bytes). The
// second byte picks the reads, two bits each in turn: 0 Receive, 1 ReceiveBuffer, 2 and 3
// SkipBuffer of a first packet or of a continuation. The rest is the server's stream.
#include "FuzzCheck.h"
#include "protocol/MySqlNet.h"
#include "support/MemoryVio.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

using namespace calvoro::protocol;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t setup = data[0];
    const uint8_t reads = data[1];
    const size_t limit = size_t(2) << (setup >> 4);
    TMySqlNet net(uint32_t(4) << ((setup >> 1) & 7));
    auto vio = std::make_unique<calvoro::test::TMemoryVio>(std::vector<uint8_t>(data + 2, data + size));
    bool closed = false;
    vio->ClosedFlag = &closed;
    vio->Connect();
    calvoro::test::TMemoryVio* stream = vio.get();
    net.SetVio(std::move(vio));
    net.SetMaxAllowedPacket(limit);
    net.NewCommand();
    net.SetCompress(setup & 1);
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 256 && stream->InputPos < stream->Input.size(); ++i) {
        try {
            switch ((reads >> (2 * (i % 4))) & 3) {
                case 0:
                    net.Receive();
                    calvoro::fuzz::Check(net.Buffer().Length() <= limit);
                    break;
                case 1:
                    net.ReceiveBuffer(bytes);
                    calvoro::fuzz::Check(bytes.size() <= limit);
                    break;
                default: {
                    const size_t length = net.SkipBuffer(bytes, 3, ((reads >> (2 * (i % 4))) & 3) == 2);
                    calvoro::fuzz::Check(length <= limit && bytes.size() <= 3);
                    break;
                }
            }
        } catch (const EMySqlException& e) {
            if (e.ErrorCode() == CR_NET_PACKET_TOO_LARGE) calvoro::fuzz::Check(closed);
            break;
        } catch (const EProtocolError&) {
            break;  // "Cannot retrieve huge data in FetchAll mode"
        }
    }
    calvoro::fuzz::Check(net.Buffer().Capacity() <= limit + limit / 2 + TMySqlNet::CollectSize);
    return 0;
}
