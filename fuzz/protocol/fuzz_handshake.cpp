// Plays arbitrary bytes as the server's side of a login and of a few commands after it:
// whatever the server sends, the client must end with an exception of the protocol layer,
// never with a crash, a sanitizer report or a hang.
//
// The first input byte sets up the client: bit 0 asks for compression, bit 1 logs in without
// a password, bit 2 names a database, bit 3 allows asking the server for its public key (the
// RSA exchange of caching_sha2_password and sha256_password), bits 4 to 7 give the largest
// receive (2^n bytes), so that headers and payloads arrive split at every place. The rest is
// the server's stream: greetings with or without plugin names, auth switch requests, auth
// more data, public keys. The memory transport cannot switch to TLS, so the client goes on in
// clear (the ssl mode is PREFERRED) whatever the greeting offers.
#include "protocol/MySqlSession.h"
#include "support/MemoryVio.h"

#include <cstddef>
#include <cstdint>
#include <memory>

using namespace calvoro::protocol;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t setup = data[0];
    auto vio = std::make_unique<calvoro::test::TMemoryVio>(std::vector<uint8_t>(data + 1, data + size));
    vio->MaxChunk = size_t(1) << (setup >> 4);

    TMySqlSession session;
    session.net.SetVio(std::move(vio));
    session.protocolType = MYSQL_PROTOCOL_SOCKET;  // use the transport given
    session.getServerPublicKey = (setup & 8) != 0;
    try {
        const uint32_t flags = CLIENT_FOUND_ROWS | CLIENT_MULTI_STATEMENTS | ((setup & 1) ? uint32_t(CLIENT_COMPRESS) : 0u);
        session.Connect("fuzz", "user", flags, "", 0, (setup & 4) ? "db" : "", (setup & 2) ? "" : "secret");
        session.Ping();
        (void)session.Statistics();
        session.SelectDb("other");
        // The readers that result sets will use.
        std::vector<uint8_t> bytes;
        session.net.ReceiveBuffer(bytes);
        session.net.SkipBuffer(bytes, 7, true);
        session.net.SkipBuffer(bytes, 7, false);
        session.net.Receive();
        for (int i = 0; i < 64; ++i) {
            const int64_t n = session.net.ReadFieldLength();
            if (n > 0) (void)session.net.ReadString(size_t(n));
            (void)session.net.ReadString();
        }
        session.Close();
    } catch (const EProtocolError&) {
        // Every refusal of hostile input is one of these.
    }
    return 0;
}
