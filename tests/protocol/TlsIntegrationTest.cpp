// TLS and the authentication plugins against the real test server, which offers TLS with a
// certificate for 127.0.0.1 and localhost from its own CA: every ssl mode, the CA and host
// checks, client certificates, ed25519 and switching between plugins, an account that
// requires TLS, and compression over TLS.
#include "protocol/MySqlSession.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

using namespace calvoro::protocol;
using calvoro::test::Server;

namespace {

struct TLogin {
    std::string user, password;
    TSslMode mode = smPreferred;
    std::string ca, cert, key;
    std::string host = Server().Host;
    uint32_t flags = CLIENT_FOUND_ROWS;
};

// Logs in; the error's number and message (0 when the login succeeded).
std::pair<int, std::string> Connect(TMySqlSession& s, const TLogin& l) {
    s._connectTimeout = 15;
    s.commandTimeout = 60;
    s.SSL_mode = l.mode;
    s.SSL_ca = l.ca;
    s.SSL_cert = l.cert;
    s.SSL_key = l.key;
    try {
        s.Connect(l.host, l.user, l.flags, "", Server().Port, "", l.password);
    } catch (const EMySqlException& e) {
        return {e.ErrorCode(), e.Message()};
    }
    return {0, ""};
}

// One value of a statement's first row, read as text.
std::string Value(TMySqlSession& s, const std::string& sql) {
    s.SimpleCommand(scQuery, sql);
    const int64_t columns = s.net.ReadFieldLength();
    if (columns <= 0) return "(no result)";
    auto isEnd = [&] { return s.net.Buffer().Length() < 9 && s.net.Buffer().Data()[0] == 0xFE; };
    do s.net.Receive();
    while (!isEnd());
    s.net.Receive();
    const int64_t n = s.net.ReadFieldLength();
    std::string value = n == NullLength ? "NULL" : s.net.ReadString(size_t(n));
    do s.net.Receive();
    while (!isEnd());
    return value;
}

std::string Status(const std::string& name) {
    return "SELECT VARIABLE_VALUE FROM information_schema.SESSION_STATUS WHERE VARIABLE_NAME = '" + name + "'";
}

TLogin Account(const std::string& user, const std::string& password, TSslMode mode) {
    TLogin l;
    l.user = user;
    l.password = password;
    l.mode = mode;
    return l;
}

TLogin Native(TSslMode mode = smPreferred) { return Account(Server().NativeUser, Server().NativePassword, mode); }

}  // namespace

// Each mode against a server that offers TLS; the server's own view (Ssl_cipher) confirms
// what the client reports. A certificate that does not verify fails with the reason, the
// mode asked for and what to do.
TEST(TlsIntegration, ModesAndCertificateChecks) {
    const auto& srv = Server();
    struct Case {
        const char* name;
        TSslMode mode;
        std::string ca, host;
        bool secure;
        std::vector<std::string> error;  // parts of the message; empty: the login succeeds
    } cases[] = {
        {"DISABLED", smDisabled, "", srv.Host, false, {}},
        {"PREFERRED", smPreferred, "", srv.Host, true, {}},
        {"REQUIRED", smRequired, "", srv.Host, true, {}},
        {"REQUIRED with another CA: not checked", smRequired, srv.TlsOtherCA, srv.Host, true, {}},
        {"VERIFY_CA", smVerifyCa, srv.TlsCA, srv.Host, true, {}},
        {"VERIFY_CA, a name the certificate lacks", smVerifyCa, srv.TlsCA, "127.1", true, {}},
        {"VERIFY_CA, another CA", smVerifyCa, srv.TlsOtherCA, srv.Host, false,
         {"SSL connection error\r\nThe server's certificate did not verify: self-signed certificate in certificate "
          "chain (ssl-mode VERIFY_CA). Give the CA certificate that issued the server's certificate (--ssl-ca",
          "or choose ssl-mode REQUIRED"}},
        {"VERIFY_CA, only the system's CAs", smVerifyCa, "", srv.Host, false, {"self-signed certificate in certificate chain"}},
        {"VERIFY_IDENTITY, 127.0.0.1", smVerifyIdentity, srv.TlsCA, "127.0.0.1", true, {}},
        {"VERIFY_IDENTITY, localhost", smVerifyIdentity, srv.TlsCA, "localhost", true, {}},
        {"VERIFY_IDENTITY, a name that does not match", smVerifyIdentity, srv.TlsCA, "127.1", false,
         {"The server's certificate did not verify: hostname mismatch (ssl-mode VERIFY_IDENTITY). Connect with a "
          "host name or address that the certificate names, or choose ssl-mode VERIFY_CA"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TMySqlSession s;
        TLogin login = Native(c.mode);
        login.ca = c.ca;
        login.host = c.host;
        const auto [code, message] = Connect(s, login);
        if (!c.error.empty()) {
            EXPECT_EQ(code, CR_SSL_CONNECTION_ERROR);
            for (const auto& part : c.error) EXPECT_NE(message.find(part), std::string::npos) << message;
            continue;
        }
        ASSERT_EQ(code, 0) << message;
        EXPECT_EQ(s.IsSecure(), c.secure);
        EXPECT_EQ(Value(s, Status("SSL_CIPHER")) != "", c.secure);
        const std::string info = s.SecureConnectionInfo();
        EXPECT_EQ(c.secure ? info.rfind("TLSv1.", 0) : 0u, 0u) << info;
        EXPECT_EQ(Value(s, "SELECT CURRENT_USER()"), srv.NativeUser + "@%");
        s.Close();
    }
}

// Client certificates: the account that requires one logs in with it, is refused without it,
// and a key that does not belong to the certificate, or a cipher list with nothing usable, is
// named before anything is sent.
TEST(TlsIntegration, ClientCertificatesAndCiphers) {
    const auto& srv = Server();
    struct Case {
        const char* name;
        std::string cert, key, cipher;
        int code;
        std::string message;
    } cases[] = {
        {"certificate and key", srv.TlsClientCert, srv.TlsClientKey, "", 0, ""},
        {"and a TLS 1.2 cipher list", srv.TlsClientCert, srv.TlsClientKey, "ECDHE-RSA-AES256-GCM-SHA384", 0, ""},
        {"none", "", "", "", 1045, "Access denied for user '" + srv.X509User + "'"},
        {"key of another certificate", srv.TlsClientCert, srv.TlsCA, "", CR_SSL_CONNECTION_ERROR,
         "SSL connection error\r\nThe client key '" + srv.TlsCA + "' cannot be read (--ssl-key)"},
        {"missing certificate file", srv.TlsClientCert + ".none", srv.TlsClientKey, "", CR_SSL_CONNECTION_ERROR,
         "The client certificate '" + srv.TlsClientCert + ".none' cannot be read (--ssl-cert)"},
        {"no usable cipher", srv.TlsClientCert, srv.TlsClientKey, "NO-SUCH-CIPHER", CR_SSL_CONNECTION_ERROR,
         "No cipher of the list 'NO-SUCH-CIPHER' can be used (--ssl-cipher)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TMySqlSession s;
        s.SSL_cipher = c.cipher;
        TLogin login = Account(srv.X509User, "", smRequired);
        login.ca = srv.TlsCA;
        login.cert = c.cert;
        login.key = c.key;
        const auto [code, message] = Connect(s, login);
        EXPECT_EQ(code, c.code);
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
        if (code == 0) {
            EXPECT_EQ(Value(s, "SELECT CURRENT_USER()"), srv.X509User + "@%");
        }
    }
}

// MariaDB's ed25519, and accounts with two plugins: the server switches the client from the
// greeting's mysql_native_password to client_ed25519 and, when that answer fails, back to
// mysql_native_password. The REQUIRE SSL account is refused without TLS. Each login runs
// with and without TLS, where the account allows.
TEST(TlsIntegration, PluginsAndSwitching) {
    const auto& srv = Server();
    struct Case {
        const char* name;
        std::string user, password;
        TSslMode mode;
        int code;
        std::string plugin;  // that logged in
    } cases[] = {
        {"ed25519", srv.Ed25519User, srv.Ed25519Password, smDisabled, 0, "client_ed25519"},
        {"ed25519 over TLS", srv.Ed25519User, srv.Ed25519Password, smRequired, 0, "client_ed25519"},
        {"ed25519, wrong password", srv.Ed25519User, "wrong", smPreferred, 1045, ""},
        {"either, ed25519 password", srv.EitherUser, srv.EitherEd25519Password, smDisabled, 0, "client_ed25519"},
        {"either, native password: ed25519 then native", srv.EitherUser, srv.EitherNativePassword, smDisabled, 0,
         "mysql_native_password"},
        {"either, wrong password", srv.EitherUser, "wrong", smPreferred, 1045, ""},
        {"old password, asked for with 0xFE alone", srv.OldUser, srv.OldPassword, smRequired, 0, "mysql_old_password"},
        {"native, no switch", srv.NativeUser, srv.NativePassword, smDisabled, 0, "mysql_native_password"},
        {"REQUIRE SSL over TLS", srv.TlsUser, srv.TlsPassword, smPreferred, 0, "mysql_native_password"},
        {"REQUIRE SSL without TLS", srv.TlsUser, srv.TlsPassword, smDisabled, 1045, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TMySqlSession s;
        const auto [code, message] = Connect(s, Account(c.user, c.password, c.mode));
        EXPECT_EQ(code, c.code) << message;
        if (code != 0) {
            EXPECT_NE(message.find("Access denied for user '" + c.user + "'"), std::string::npos) << message;
            continue;
        }
        EXPECT_EQ(s.authPluginName, c.plugin);
        EXPECT_EQ(s.IsSecure(), c.mode != smDisabled);
        EXPECT_EQ(Value(s, "SELECT CURRENT_USER()"), c.user + "@%");
        s.Close();
    }
}

// The compressed protocol inside TLS, with a packet that is deflated and one that is stored.
TEST(TlsIntegration, CompressionOverTls) {
    TMySqlSession s;
    TLogin login = Native(smVerifyIdentity);
    login.ca = Server().TlsCA;
    login.flags |= CLIENT_COMPRESS;
    const auto [code, message] = Connect(s, login);
    ASSERT_EQ(code, 0) << message;
    EXPECT_TRUE(s.IsSecure());
    EXPECT_TRUE(s.net.Compress());
    EXPECT_EQ(Value(s, Status("COMPRESSION")), "ON");
    EXPECT_EQ(Value(s, "SELECT 1"), "1");
    std::string xy;
    for (int i = 0; i < 50000; ++i) xy += "xy";
    EXPECT_EQ(Value(s, "SELECT REPEAT('xy', 50000)"), xy);
    EXPECT_EQ(Value(s, "SELECT LENGTH('" + std::string(30000, 'q') + "')"), "30000");
    s.Close();
}

// The SSL protocol type keeps its meaning: TLS when the server offers it, "via SSL".
TEST(TlsIntegration, SslProtocolType) {
    TMySqlSession s;
    s.protocolType = MYSQL_PROTOCOL_SSL;
    const auto [code, message] = Connect(s, Native(smDisabled));
    ASSERT_EQ(code, 0) << message;
    EXPECT_TRUE(s.IsSecure());
    EXPECT_EQ(s.hostInfo, Server().Host + " via SSL");
    s.Close();
}
