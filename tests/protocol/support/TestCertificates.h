#pragma once
// Keys and certificates made in the test process (OpenSSL), for the scripted server's TLS
// and for caching_sha2_password's RSA exchange: no files from outside the test.

#include <string>

namespace calvoro::test {

// A self-signed certificate for 127.0.0.1 with one RSA key shared by all, written as PEM
// files into a temporary folder that goes with the object.
class TTestCertificate {
public:
    // Valid from validFromDays to validToDays, counted from now (negative: in the past).
    explicit TTestCertificate(int validFromDays = -1, int validToDays = 30);
    ~TTestCertificate();
    TTestCertificate(const TTestCertificate&) = delete;
    TTestCertificate& operator=(const TTestCertificate&) = delete;

    std::string CertFile, KeyFile, PublicKeyFile;
    std::string PublicKeyPem;

private:
    std::string FDir;
};

// Decrypts what RsaEncryptPassword made with the shared key (OAEP, SHA-1) and undoes the XOR
// with the nonce: the password and its NUL.
std::string RsaDecryptPassword(const std::string& encrypted, const std::string& nonce);

}  // namespace calvoro::test
