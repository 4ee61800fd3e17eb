#include "TestServer.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <stdexcept>

namespace calvoro::test {
namespace {

std::map<std::string, std::string> ReadEnvFile(const char* path) {
    std::map<std::string, std::string> values;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

ServerConfig Load() {
    std::map<std::string, std::string> file;
    if (const char* path = std::getenv("CALVORO_TEST_SERVER_ENV")) file = ReadEnvFile(path);
    auto get = [&](const char* name) -> std::string {
        if (const char* v = std::getenv(name)) return v;
        auto it = file.find(name);
        return it == file.end() ? std::string() : it->second;
    };
    ServerConfig c;
    c.Host = get("CALVORO_TEST_HOST");
    const std::string port = get("CALVORO_TEST_PORT");
    if (c.Host.empty() || port.empty())
        throw std::runtime_error(
            "no test server: run the tests through ctest, or start one with "
            "'scripts/test-server.sh start' and export the variables of "
            "'scripts/test-server.sh env'");
    c.Port = std::stoi(port);
    c.Socket = get("CALVORO_TEST_SOCKET");
    c.IPv6Host = get("CALVORO_TEST_IPV6_HOST");
    c.SocketUser = get("CALVORO_TEST_SOCKET_USER");
    c.NativeUser = get("CALVORO_TEST_NATIVE_USER");
    c.NativePassword = get("CALVORO_TEST_NATIVE_PASSWORD");
    c.OldUser = get("CALVORO_TEST_OLD_USER");
    c.OldPassword = get("CALVORO_TEST_OLD_PASSWORD");
    c.EmptyUser = get("CALVORO_TEST_EMPTY_USER");
    c.Ed25519User = get("CALVORO_TEST_ED25519_USER");
    c.Ed25519Password = get("CALVORO_TEST_ED25519_PASSWORD");
    c.TlsUser = get("CALVORO_TEST_TLS_USER");
    c.TlsPassword = get("CALVORO_TEST_TLS_PASSWORD");
    c.X509User = get("CALVORO_TEST_X509_USER");
    c.EitherUser = get("CALVORO_TEST_EITHER_USER");
    c.EitherEd25519Password = get("CALVORO_TEST_EITHER_ED25519_PASSWORD");
    c.EitherNativePassword = get("CALVORO_TEST_EITHER_NATIVE_PASSWORD");
    c.TlsCA = get("CALVORO_TEST_TLS_CA");
    c.TlsOtherCA = get("CALVORO_TEST_TLS_OTHER_CA");
    c.TlsClientCert = get("CALVORO_TEST_TLS_CLIENT_CERT");
    c.TlsClientKey = get("CALVORO_TEST_TLS_CLIENT_KEY");
    return c;
}

}  // namespace

const ServerConfig& Server() {
    static const ServerConfig config = Load();
    return config;
}

}  // namespace calvoro::test
