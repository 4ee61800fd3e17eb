#pragma once
// Authentication plugins: the packets of the plugin exchange after the handshake response,
// and one small class per plugin that computes the client's answers. The session does the
// I/O; the plugins only turn what the server sent into what the client sends.
//
// After the handshake response the server answers with
//   OK                  0x00 …                         logged in
//   error               0xFF …                         refused
//   auth switch request 0xFE, plugin name [NUL-terminated], plugin data [rest]
//                                                       start again with that plugin
//   old auth request    0xFE alone                      the pre-4.1 answer (mysql_old_password)
//   auth more data      0x01, data [rest]               the current plugin goes on

#include "PacketReader.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace calvoro::protocol {

// First byte of the packets the server sends during authentication.
enum TAuthPacket : uint8_t {
    apOk = 0x00,
    apMoreData = 0x01,
    apSwitchRequest = 0xFE,
    apError = 0xFF,
};

// caching_sha2_password: the byte after apMoreData, and the client's request for the key.
enum TCachingSha2Status : uint8_t {
    csRequestPublicKey = 0x02,
    csFastAuthSuccess = 0x03,
    csPerformFullAuthentication = 0x04,
};
// sha256_password: the client's request for the server's public key.
constexpr uint8_t Sha256RequestPublicKey = 0x01;

inline constexpr std::string_view NativePasswordPlugin = "mysql_native_password";
inline constexpr std::string_view OldPasswordPlugin = "mysql_old_password";
inline constexpr std::string_view CachingSha2Plugin = "caching_sha2_password";
inline constexpr std::string_view Sha256PasswordPlugin = "sha256_password";
inline constexpr std::string_view Ed25519Plugin = "client_ed25519";
inline constexpr std::string_view ClearPasswordPlugin = "mysql_clear_password";
inline constexpr std::string_view UnixSocketPlugin = "unix_socket";

struct TAuthSwitchRequest {
    std::string PluginName;
    std::string PluginData;  // the nonce, without the NUL servers put after it
};

// Auth switch request (the reader at its first byte, 0xFE):
//   0xFE         [1]
//   plugin name  [NUL-terminated]
//   plugin data  [rest]  one trailing NUL is not part of it
// Malformed packet (2027) for a packet of another kind or without a plugin name.
TAuthSwitchRequest ReadAuthSwitchRequest(TPacketReader& reader);

// Auth more data: 0x01 [1], data [rest]. Malformed packet for another kind.
std::string ReadAuthMoreData(TPacketReader& reader);

// What the plugins know of the connection.
struct TAuthContext {
    std::string Password;
    bool Secure = false;            // the connection runs over TLS or a Unix socket
    bool UnixSocket = false;        // the connection runs over a Unix socket
    std::string ServerPublicKeyFile;  // PEM file of the server's public key; empty: none
    bool GetServerPublicKey = false;  // the server may be asked for its key
};

class TAuthPlugin {
public:
    // The plugin of that name; nullptr when this client does not have it.
    static std::unique_ptr<TAuthPlugin> Create(std::string_view name);
    virtual ~TAuthPlugin() = default;

    virtual std::string_view Name() const = 0;
    // The first answer, to the scramble of the greeting or of a switch request. Raises
    // CR_AUTH_PLUGIN_ERR when the plugin cannot answer on this connection.
    virtual std::string FirstAnswer(const TAuthContext& context, std::string_view nonce) = 0;
    // The answer to auth more data; nothing when the client only reads on. The base refuses
    // more data as a malformed packet.
    virtual std::optional<std::string> MoreData(const TAuthContext& context, std::string_view data);

protected:
    [[noreturn]] void Fail(const std::string& reason) const;
    std::string FNonce;  // of the first answer
};

// The text of the error for a server that needs the password sent securely.
std::string SecureConnectionAdvice();

}  // namespace calvoro::protocol
