#pragma once
// Where the private test server listens and which accounts it has (scripts/test-server.sh).
// Values come from the environment (CALVORO_TEST_*) or from the file that
// CALVORO_TEST_SERVER_ENV names, which CTest sets for every integration test.

#include <string>

namespace calvoro::test {

struct ServerConfig {
    std::string Host;
    int Port = 0;
    std::string Socket;
    std::string IPv6Host;    // "::1" when the server listens there too; empty without IPv6 loopback
    std::string SocketUser;  // IDENTIFIED VIA unix_socket: the operating-system user the tests run as
    std::string NativeUser, NativePassword;
    std::string OldUser, OldPassword;
    std::string EmptyUser;
    std::string Ed25519User, Ed25519Password;  // IDENTIFIED VIA ed25519
    std::string TlsUser, TlsPassword;          // REQUIRE SSL
    std::string X509User;                      // no password; the client certificate below
    // VIA ed25519 … OR mysql_native_password …: either password logs in.
    std::string EitherUser, EitherEd25519Password, EitherNativePassword;
    // PEM files: the CA of the server's certificate, a CA that signed nothing of the server's,
    // and a client certificate with its key.
    std::string TlsCA, TlsOtherCA, TlsClientCert, TlsClientKey;
};

// The configuration; throws std::runtime_error saying how to start the server when there is
// none, so that an integration test fails instead of skipping.
const ServerConfig& Server();

}  // namespace calvoro::test
