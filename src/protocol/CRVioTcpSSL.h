#pragma once
// The TLS transport: a TCP connection that the session switches to TLS during the handshake
// (after the SSL request). OpenSSL 3, TLS 1.2 and 1.3 only. Until the switch it is plain TCP.

#include "CRVioTcp.h"

#include <string>
#include <string_view>

struct ssl_ctx_st;
struct ssl_st;

namespace calvoro::protocol {

// How much TLS a connection asks for, named as MySQL's own clients name the modes.
enum TSslMode {
    smDisabled,        // never
    smPreferred,       // when the server offers it; the certificate is not checked
    smRequired,        // fail when the server does not offer it; the certificate is not checked
    smVerifyCa,        // and the server's certificate must chain to the CA
    smVerifyIdentity,  // and its name (or address) must match the host connected to
};

// "DISABLED", "PREFERRED" … as the options write them.
std::string_view SslModeName(TSslMode mode);
// Reads a mode name in any case; false for a name that is none.
bool ParseSslMode(std::string_view name, TSslMode& mode);

// What the TLS switch uses; empty texts are not used.
struct TSslOptions {
    TSslMode Mode = smPreferred;
    std::string Key;     // client key, PEM file
    std::string Cert;    // client certificate (chain), PEM file
    std::string CA;      // trusted CA certificates, PEM file
    std::string CAPath;  // folder of trusted CA certificates (hashed names)
    std::string Cipher;  // OpenSSL cipher list for TLS 1.2
};

class TCRVioTcpSSL : public TCRVioTcp {
public:
    TCRVioTcpSSL(const std::string& hostname, int port, TSslOptions options);
    ~TCRVioTcpSSL() override;

    // Runs the TLS handshake on the open socket. Raises EMySqlException 2026 "SSL connection
    // error" with the reason: options that cannot be used (a file that cannot be read, a key
    // that does not match, no usable cipher), a certificate that does not verify (the reason,
    // the mode asked for and what to do), or a failed handshake.
    void SwitchToSSL();
    bool IsSecure() const { return FisSecure; }
    // After the switch: "TLSv1.3" and the cipher, for the user to see.
    std::string ProtocolVersion() const;
    std::string CipherName() const;

    void Close() override;
    size_t ReadNoWait(uint8_t* buffer, size_t offset, size_t count) override;
    size_t WriteNoWait(const uint8_t* buffer, size_t offset, size_t count) override;
    bool WaitForData(int seconds) override;

private:
    void CreateContext();
    [[noreturn]] void RaiseHandshakeError(int result);

    TSslOptions FOptions;
    bool FisSecure = false;
    ssl_ctx_st* ssl_context_ = nullptr;
    ssl_st* Fssl = nullptr;
};

}  // namespace calvoro::protocol
