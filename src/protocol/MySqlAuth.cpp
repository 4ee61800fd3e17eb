#include "MySqlAuth.h"

#include "AuthCrypto.h"
#include "MySqlScramble.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace calvoro::protocol {
namespace {

std::string Bytes(std::span<const uint8_t> bytes) { return std::string(bytes.begin(), bytes.end()); }

// The password and its NUL: what goes out in clear over TLS.
std::string ClearText(const TAuthContext& c) { return c.Password + '\0'; }

[[noreturn]] void Fail(const TAuthPlugin& plugin, const std::string& reason) {
    throw EMySqlException(CR_AUTH_PLUGIN_ERR, reason, {std::string(plugin.Name())});
}

// The password RSA-encrypted with a key the server sent, or with the key of the user's file
// when pem is empty.
std::string Encrypted(const TAuthContext& c, std::string_view nonce, std::string pem, const TAuthPlugin& plugin) {
    const bool fromFile = pem.empty();
    if (fromFile) {
        std::ifstream file(c.ServerPublicKeyFile, std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        pem = text.str();
        if (!file || pem.empty())
            Fail(plugin, "The server's public key file '" + c.ServerPublicKeyFile + "' cannot be read (--server-public-key).");
    }
    try {
        return RsaEncryptPassword(c.Password, nonce, pem);
    } catch (const std::runtime_error& e) {
        Fail(plugin, (fromFile ? "The public key file '" + c.ServerPublicKeyFile + "'" : std::string("The server's public key")) +
                         " cannot be used: " + e.what());
    }
}

// mysql_native_password: the 4.1 answer over the first 20 bytes of the nonce; nothing for
// an empty password.
class TNativePassword : public TAuthPlugin {
public:
    std::string_view Name() const override { return NativePasswordPlugin; }
    std::string FirstAnswer(const TAuthContext& c, std::string_view nonce) override {
        if (c.Password.empty()) return {};
        if (nonce.size() < 20) Fail("the server's scramble is shorter than 20 bytes");
        return Bytes(Scramble41(std::span<const uint8_t, 20>(reinterpret_cast<const uint8_t*>(nonce.data()), 20), c.Password));
    }
};

// mysql_old_password: the pre-4.1 answer over the first 8 bytes and a NUL; nothing for an
// empty password.
class TOldPassword : public TAuthPlugin {
public:
    std::string_view Name() const override { return OldPasswordPlugin; }
    std::string FirstAnswer(const TAuthContext& c, std::string_view nonce) override {
        if (c.Password.empty()) return {};
        if (nonce.size() < 8) Fail("the server's scramble is shorter than 8 bytes");
        return Bytes(ScrambleOld(std::span<const uint8_t, 8>(reinterpret_cast<const uint8_t*>(nonce.data()), 8), c.Password)) + '\0';
    }
};

// caching_sha2_password: the SHA-256 scramble first; when the server has no cached entry it
// asks for full authentication, which takes the password in clear over TLS, else RSA-encrypted
// with a key the user gave or (when allowed) one the server sends on request.
class TCachingSha2Password : public TAuthPlugin {
public:
    std::string_view Name() const override { return CachingSha2Plugin; }
    std::string FirstAnswer(const TAuthContext& c, std::string_view nonce) override {
        FNonce = std::string(nonce.substr(0, 20));
        FAwaitingKey = false;
        return CachingSha2Scramble(c.Password, FNonce);
    }
    std::optional<std::string> MoreData(const TAuthContext& c, std::string_view data) override {
        if (FAwaitingKey) {
            FAwaitingKey = false;
            return Encrypted(c, FNonce, std::string(data), *this);
        }
        if (data.size() != 1) Fail("unexpected data from the server");
        switch (uint8_t(data[0])) {
            case csFastAuthSuccess: return std::nullopt;  // the OK packet follows
            case csPerformFullAuthentication:
                if (c.Secure) return ClearText(c);
                if (!c.ServerPublicKeyFile.empty()) return Encrypted(c, FNonce, {}, *this);
                if (!c.GetServerPublicKey) Fail(SecureConnectionAdvice());
                FAwaitingKey = true;
                return std::string(1, char(csRequestPublicKey));
            default: Fail("unexpected data from the server");
        }
    }

private:
    bool FAwaitingKey = false;
};

// sha256_password: the password in clear over TLS, otherwise RSA-encrypted as above; the
// server's key is asked for with the first answer.
class TSha256Password : public TAuthPlugin {
public:
    std::string_view Name() const override { return Sha256PasswordPlugin; }
    std::string FirstAnswer(const TAuthContext& c, std::string_view nonce) override {
        FNonce = std::string(nonce.substr(0, 20));
        if (c.Secure || c.Password.empty()) return ClearText(c);  // an empty password is no secret
        if (!c.ServerPublicKeyFile.empty()) return Encrypted(c, FNonce, {}, *this);
        if (!c.GetServerPublicKey) Fail(SecureConnectionAdvice());
        return std::string(1, char(Sha256RequestPublicKey));
    }
    std::optional<std::string> MoreData(const TAuthContext& c, std::string_view data) override {
        return Encrypted(c, FNonce, std::string(data), *this);
    }
};

// client_ed25519 (MariaDB): the signature of the 32-byte nonce with the password's key.
class TEd25519 : public TAuthPlugin {
public:
    std::string_view Name() const override { return Ed25519Plugin; }
    std::string FirstAnswer(const TAuthContext& c, std::string_view nonce) override {
        return Ed25519SignWithPassword(c.Password, nonce);
    }
};

// mysql_clear_password: the password in clear, which this client sends only over TLS.
class TClearPassword : public TAuthPlugin {
public:
    std::string_view Name() const override { return ClearPasswordPlugin; }
    std::string FirstAnswer(const TAuthContext& c, std::string_view) override {
        if (!c.Secure)
            Fail("it would send the password in clear, which this client does only over TLS. Connect with "
                 "--ssl-mode REQUIRED (or stronger).");
        return ClearText(c);
    }
};

// unix_socket (MariaDB): the server takes the operating-system user at the other end of a
// Unix socket for the login; the client answers with nothing. Over TCP there is no such
// user, and an empty answer would only end in "access denied": it is refused here instead.
class TUnixSocket : public TAuthPlugin {
public:
    std::string_view Name() const override { return UnixSocketPlugin; }
    std::string FirstAnswer(const TAuthContext& c, std::string_view) override {
        if (!c.UnixSocket)
            Fail("the account logs in as the operating-system user of a local connection, which only a Unix "
                 "socket has. Connect through the server's socket (--socket PATH, or the Socket field of the "
                 "connect dialog) as that user.");
        return {};
    }
};

}  // namespace

std::string SecureConnectionAdvice() {
    return "The server requires a secure connection or its public key to check the password. Connect with "
           "--ssl-mode REQUIRED (TLS), give the server's public key with --server-public-key FILE, or allow "
           "asking the server for it with --get-server-public-key.";
}

TAuthSwitchRequest ReadAuthSwitchRequest(TPacketReader& reader) {
    if (reader.ReadByte() != apSwitchRequest) RaiseMalformedPacket();
    TAuthSwitchRequest request;
    const size_t start = reader.Position();
    request.PluginName = reader.ReadString();
    if (request.PluginName.empty() || reader.Position() == start + request.PluginName.size())
        RaiseMalformedPacket();  // no name, or a name without its NUL
    request.PluginData = reader.ReadString(reader.Remaining());
    if (!request.PluginData.empty() && request.PluginData.back() == '\0') request.PluginData.pop_back();
    return request;
}

std::string ReadAuthMoreData(TPacketReader& reader) {
    if (reader.ReadByte() != apMoreData) RaiseMalformedPacket();
    return reader.ReadString(reader.Remaining());
}

std::unique_ptr<TAuthPlugin> TAuthPlugin::Create(std::string_view name) {
    if (name == NativePasswordPlugin) return std::make_unique<TNativePassword>();
    if (name == OldPasswordPlugin) return std::make_unique<TOldPassword>();
    if (name == CachingSha2Plugin) return std::make_unique<TCachingSha2Password>();
    if (name == Sha256PasswordPlugin) return std::make_unique<TSha256Password>();
    if (name == Ed25519Plugin) return std::make_unique<TEd25519>();
    if (name == ClearPasswordPlugin) return std::make_unique<TClearPassword>();
    if (name == UnixSocketPlugin) return std::make_unique<TUnixSocket>();
    return nullptr;
}

std::optional<std::string> TAuthPlugin::MoreData(const TAuthContext&, std::string_view) { RaiseMalformedPacket(); }

void TAuthPlugin::Fail(const std::string& reason) const { calvoro::protocol::Fail(*this, reason); }

}  // namespace calvoro::protocol
