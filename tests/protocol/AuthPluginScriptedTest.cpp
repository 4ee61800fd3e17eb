// Authentication plugins and TLS against a scripted server, for what MariaDB has no server
// side for (caching_sha2_password, sha256_password, mysql_clear_password, plugins this client
// does not have) and for servers without TLS or with an expired certificate. Each script
// checks the client's packets byte by byte and answers as a MySQL 8 server would.
#include "protocol/AuthCrypto.h"
#include "protocol/MySqlScramble.h"
#include "protocol/MySqlSession.h"
#include "support/ScriptedServer.h"
#include "support/TestCertificates.h"

#include <gtest/gtest.h>

#include <functional>

using namespace calvoro::protocol;
using namespace calvoro::test;

namespace {

const Bytes Scramble = TGreetingFields().Scramble;
const std::string Nonce(Scramble.begin(), Scramble.end());
const Bytes NewScramble = B("ABCDEFGHIJKLMNOPQRST");
constexpr uint32_t Flags = 0x3A28F | CLIENT_PLUGIN_AUTH;  // FOUND_ROWS, the always-sent flags, CONNECT_WITH_DB

// A MySQL 8 greeting: plugin names, caching_sha2_password, TLS when asked for.
TGreetingFields Mysql8(bool tls, const std::string& plugin = "caching_sha2_password") {
    TGreetingFields g;
    g.Capabilities = uint16_t(0xA20F | (tls ? uint32_t(CLIENT_SSL) : 0u));
    g.CapabilitiesExt = CLIENT_PLUGIN_AUTH >> 16;
    g.Plugin = plugin;
    return g;
}

Bytes Header(uint32_t flags) { return Cat({LE(flags, 4), LE(0x40000000, 4), {8}, Bytes(23, 0)}); }

// The handshake response with plugin names: user, length-prefixed answer, database, plugin.
Bytes Response(uint32_t flags, const std::string& answer, const std::string& plugin) {
    return Cat({Header(flags), B("u"), {0}, {uint8_t(answer.size())}, B(answer), {0}, B(plugin), {0}});
}

std::string S(const Bytes& b) { return std::string(b.begin(), b.end()); }
Bytes MoreData(const Bytes& data) { return Cat({{0x01}, data}); }
Bytes Switch(const std::string& plugin, const Bytes& data) { return Cat({{0xFE}, B(plugin), {0}, data, {0}}); }

// Logs in as "u" with the password; the session is set up by configure first.
std::pair<int, std::string> Login(TScriptedServer& server, const std::string& password,
                                  const std::function<void(TMySqlSession&)>& configure = {}) {
    TMySqlSession s;
    s._connectTimeout = 5;
    if (configure) configure(s);
    try {
        s.Connect("127.0.0.1", "u", CLIENT_FOUND_ROWS, "", server.Port(), "", password);
        s.Close();
    } catch (const EMySqlException& e) {
        return {e.ErrorCode(), e.Message()};
    }
    return {0, ""};
}

// The greeting, and with TLS the SSL request and the TLS handshake; returns the response.
Bytes Greet(TScriptedPeer& p, const TGreetingFields& g, const TTestCertificate* tls) {
    p.SendPacket(0, Greeting(g));
    uint8_t seq = 0;
    if (tls) {
        EXPECT_EQ(p.ReadPacket(&seq), Header(Flags | CLIENT_SSL));  // the SSL request
        EXPECT_EQ(seq, 1);
        p.StartTls(tls->CertFile, tls->KeyFile);
    }
    Bytes response = p.ReadPacket(&seq);
    EXPECT_EQ(seq, tls ? 2 : 1);
    return response;
}

const std::string Advice =
    "Authentication plugin 'caching_sha2_password' reported error\r\nThe server requires a secure connection or "
    "its public key to check the password. Connect with --ssl-mode REQUIRED (TLS), give the server's public key "
    "with --server-public-key FILE, or allow asking the server for it with --get-server-public-key.";

}  // namespace

// caching_sha2_password as MySQL 8 offers it in the greeting: the fast path, and full
// authentication by every way the password may travel: in clear over TLS only, otherwise
// RSA-encrypted with a key from a file or, when allowed, one the server sends on request.
TEST(ScriptedAuthPlugins, CachingSha2Password) {
    const TTestCertificate tls;
    const std::string fast = CachingSha2Scramble("pw", Nonce);
    struct Case {
        const char* name;
        bool tls;
        std::function<void(TMySqlSession&)> configure;
        std::function<void(TScriptedPeer&)> afterFullAuth;  // nullptr: the fast path succeeds
        std::pair<int, std::string> result;
    } cases[] = {
        {"fast path", false, [](TMySqlSession& s) { s.SSL_mode = smDisabled; }, nullptr, {0, ""}},
        {"full authentication over TLS", true, {},
         [](TScriptedPeer& p) { EXPECT_EQ(p.ReadPacket(), B(std::string("pw") + '\0')); }, {0, ""}},
        {"RSA with the key from a file", false,
         [&](TMySqlSession& s) {
             s.SSL_mode = smDisabled;
             s.serverPublicKeyFile = tls.PublicKeyFile;
         },
         [](TScriptedPeer& p) { EXPECT_EQ(RsaDecryptPassword(S(p.ReadPacket()), Nonce), std::string("pw") + '\0'); },
         {0, ""}},
        {"RSA with the key asked from the server", false,
         [](TMySqlSession& s) {
             s.SSL_mode = smDisabled;
             s.getServerPublicKey = true;
         },
         [&](TScriptedPeer& p) {
             EXPECT_EQ(p.ReadPacket(), Bytes{csRequestPublicKey});
             p.Reply(MoreData(B(tls.PublicKeyPem)));
             EXPECT_EQ(RsaDecryptPassword(S(p.ReadPacket()), Nonce), std::string("pw") + '\0');
         },
         {0, ""}},
        {"no TLS, no key, retrieval not allowed", false, [](TMySqlSession& s) { s.SSL_mode = smDisabled; },
         [](TScriptedPeer& p) { EXPECT_TRUE(p.WaitForClose(std::chrono::seconds(5))); }, {2061, Advice}},
        {"a key file that cannot be read", false,
         [](TMySqlSession& s) {
             s.SSL_mode = smDisabled;
             s.serverPublicKeyFile = "/nonexistent/key.pem";
         },
         [](TScriptedPeer& p) { EXPECT_TRUE(p.WaitForClose(std::chrono::seconds(5))); },
         {2061, "Authentication plugin 'caching_sha2_password' reported error\r\nThe server's public key file "
                "'/nonexistent/key.pem' cannot be read (--server-public-key)."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TScriptedServer server([&](TScriptedPeer& p) {
            const Bytes response = Greet(p, Mysql8(c.tls), c.tls ? &tls : nullptr);
            EXPECT_EQ(response, Response(Flags | (c.tls ? uint32_t(CLIENT_SSL) : 0u), fast, "caching_sha2_password"));
            if (!c.afterFullAuth) {
                p.Reply(MoreData({csFastAuthSuccess}));
                p.SendPacket(uint8_t(p.LastSeq + 2), OkPacket());
            } else {
                p.Reply(MoreData({csPerformFullAuthentication}));
                c.afterFullAuth(p);
                if (c.result.first != 0) return;
                p.Reply(OkPacket());
            }
            EXPECT_EQ(p.ReadPacket(), Bytes{1});  // quit
        });
        EXPECT_EQ(Login(server, "pw", c.configure), c.result);
        EXPECT_EQ(server.Join(), "");
    }
}

// The server switches a client that started with mysql_native_password (a MariaDB-like
// greeting with plugin names) to another plugin with a new scramble; the client answers with
// that plugin, or refuses with a message that names it.
TEST(ScriptedAuthPlugins, SwitchRequests) {
    const TTestCertificate tls;
    const std::string newNonce = S(NewScramble);
    const std::string ed25519Nonce(32, 'n');
    const auto plain = [](TMySqlSession& s) { s.SSL_mode = smDisabled; };
    const auto clear = [](const std::string& pw) { return B(pw + '\0'); };
    const auto decrypts = [&](TScriptedPeer& p) {
        EXPECT_EQ(RsaDecryptPassword(S(p.ReadPacket()), newNonce), std::string("pw") + '\0');
    };
    struct Case {
        const char* name;
        bool tls;
        std::function<void(TMySqlSession&)> configure;
        Bytes request;                                // the switch request
        std::function<void(TScriptedPeer&)> answer;  // reads the client's answers
        std::pair<int, std::string> result;
    } cases[] = {
        {"to mysql_native_password, new scramble", false, plain, Switch("mysql_native_password", NewScramble),
         [](TScriptedPeer& p) {
             const auto a = Scramble41(std::span<const uint8_t, 20>(NewScramble.data(), 20), "pw");
             EXPECT_EQ(p.ReadPacket(), Bytes(a.begin(), a.end()));
         },
         {0, ""}},
        {"to client_ed25519", false, plain, Switch("client_ed25519", B(ed25519Nonce)),
         [&](TScriptedPeer& p) { EXPECT_EQ(S(p.ReadPacket()), Ed25519SignWithPassword("pw", ed25519Nonce)); }, {0, ""}},
        {"to sha256_password over TLS", true, {}, Switch("sha256_password", NewScramble),
         [&](TScriptedPeer& p) { EXPECT_EQ(p.ReadPacket(), clear("pw")); }, {0, ""}},
        {"to sha256_password, key from a file", false,
         [&](TMySqlSession& s) {
             s.SSL_mode = smDisabled;
             s.serverPublicKeyFile = tls.PublicKeyFile;
         },
         Switch("sha256_password", NewScramble), decrypts, {0, ""}},
        {"to sha256_password, key asked from the server", false,
         [](TMySqlSession& s) {
             s.SSL_mode = smDisabled;
             s.getServerPublicKey = true;
         },
         Switch("sha256_password", NewScramble),
         [&](TScriptedPeer& p) {
             EXPECT_EQ(p.ReadPacket(), Bytes{Sha256RequestPublicKey});
             p.Reply(MoreData(B(tls.PublicKeyPem)));
             decrypts(p);
         },
         {0, ""}},
        {"to sha256_password, no way to send the password", false, plain, Switch("sha256_password", NewScramble),
         nullptr,
         {2061, "Authentication plugin 'sha256_password' reported error\r\nThe server requires a secure connection "
                "or its public key"}},
        {"to mysql_clear_password over TLS", true, {}, Switch("mysql_clear_password", {}),
         [&](TScriptedPeer& p) { EXPECT_EQ(p.ReadPacket(), clear("pw")); }, {0, ""}},
        {"to mysql_clear_password without TLS", false, plain, Switch("mysql_clear_password", {}), nullptr,
         {2061, "Authentication plugin 'mysql_clear_password' reported error\r\nit would send the password in "
                "clear, which this client does only over TLS. Connect with --ssl-mode REQUIRED (or stronger)."}},
        {"to a plugin this client does not have", false, plain, Switch("dialog", NewScramble), nullptr,
         {2059, "Authentication plugin 'dialog' cannot be loaded\r\nThe server asks for this authentication plugin, "
                "which this client does not have. Ask the administrator for an account with mysql_native_password, "
                "caching_sha2_password or client_ed25519."}},
        {"a switch request without a plugin name", false, plain, Bytes{0xFE, 'x'}, nullptr, {2027, "Malformed packet"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TScriptedServer server([&](TScriptedPeer& p) {
            TGreetingFields g = Mysql8(c.tls, "mysql_native_password");
            const Bytes response = Greet(p, g, c.tls ? &tls : nullptr);
            const auto native = Scramble41(std::span<const uint8_t, 20>(Scramble.data(), 20), "pw");
            EXPECT_EQ(response, Response(Flags | (c.tls ? uint32_t(CLIENT_SSL) : 0u), std::string(native.begin(), native.end()),
                                         "mysql_native_password"));
            p.Reply(c.request);
            if (!c.answer) {
                EXPECT_TRUE(p.WaitForClose(std::chrono::seconds(5)));
                return;
            }
            c.answer(p);
            p.Reply(OkPacket());
            EXPECT_EQ(p.ReadPacket(), Bytes{1});
        });
        const auto [code, message] = Login(server, "pw", c.configure);
        EXPECT_EQ(code, c.result.first);
        EXPECT_EQ(message.substr(0, c.result.second.size()), c.result.second);
        EXPECT_EQ(server.Join(), "");
    }
}

// An empty password: caching_sha2_password sends an empty answer, the server's OK follows.
TEST(ScriptedAuthPlugins, EmptyPassword) {
    TScriptedServer server([](TScriptedPeer& p) {
        EXPECT_EQ(Greet(p, Mysql8(false), nullptr), Response(Flags, "", "caching_sha2_password"));
        p.Reply(OkPacket());
        EXPECT_EQ(p.ReadPacket(), Bytes{1});
    });
    EXPECT_EQ(Login(server, "", [](TMySqlSession& s) { s.SSL_mode = smDisabled; }), std::make_pair(0, std::string()));
    EXPECT_EQ(server.Join(), "");
}

// Every mode against a server without TLS: DISABLED and PREFERRED log in in clear, the others
// fail before the response is sent (no password leaves the client) and say what to do.
TEST(ScriptedAuthPlugins, ModesAgainstAServerWithoutTls) {
    for (const TSslMode mode : {smDisabled, smPreferred, smRequired, smVerifyCa, smVerifyIdentity}) {
        const std::string name(SslModeName(mode));
        SCOPED_TRACE(name);
        const bool refused = mode >= smRequired;
        TScriptedServer server([&](TScriptedPeer& p) {
            if (refused) {
                p.SendPacket(0, Greeting(Mysql8(false)));
                EXPECT_TRUE(p.WaitForClose(std::chrono::seconds(5)));
                return;
            }
            EXPECT_EQ(Greet(p, Mysql8(false), nullptr), Response(Flags, CachingSha2Scramble("pw", Nonce), "caching_sha2_password"));
            p.Reply(MoreData({csFastAuthSuccess}));
            p.SendPacket(uint8_t(p.LastSeq + 2), OkPacket());
            EXPECT_EQ(p.ReadPacket(), Bytes{1});
        });
        const auto result = Login(server, "pw", [&](TMySqlSession& s) { s.SSL_mode = mode; });
        if (refused)
            EXPECT_EQ(result, std::make_pair(2026, "SSL connection error\r\nThe server does not offer TLS, and ssl-mode " +
                                                       name + " requires it. Enable TLS on the server, or connect with "
                                                              "--ssl-mode PREFERRED or DISABLED to log in without encryption."));
        else
            EXPECT_EQ(result.first, 0) << result.second;
        EXPECT_EQ(server.Join(), "");
    }
}

// A certificate out of its validity: VERIFY_CA names the reason and the mode; REQUIRED, which
// does not check the certificate, logs in.
TEST(ScriptedAuthPlugins, ExpiredCertificate) {
    const TTestCertificate expired(-10, -1);
    for (const TSslMode mode : {smRequired, smVerifyCa}) {
        SCOPED_TRACE(std::string(SslModeName(mode)));
        TScriptedServer server([&](TScriptedPeer& p) {
            p.SendPacket(0, Greeting(Mysql8(true)));
            p.ReadPacket();
            try {
                p.StartTls(expired.CertFile, expired.KeyFile);
            } catch (const std::runtime_error&) {
                EXPECT_EQ(mode, smVerifyCa);  // the client refused the certificate
                return;
            }
            p.ReadPacket();
            p.Reply(MoreData({csFastAuthSuccess}));
            p.SendPacket(uint8_t(p.LastSeq + 2), OkPacket());
            EXPECT_EQ(p.ReadPacket(), Bytes{1});
        });
        const auto result = Login(server, "pw", [&](TMySqlSession& s) {
            s.SSL_mode = mode;
            s.SSL_ca = expired.CertFile;
        });
        if (mode == smVerifyCa)
            EXPECT_EQ(result, std::make_pair(2026, std::string("SSL connection error\r\nThe server's certificate did not verify: "
                                                               "certificate has expired (ssl-mode VERIFY_CA). The server's "
                                                               "certificate has to be renewed (or the clock of this computer is wrong).")));
        else
            EXPECT_EQ(result.first, 0) << result.second;
        EXPECT_EQ(server.Join(), "");
    }
}
