#include "TestCertificates.h"

#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <filesystem>
#include <memory>
#include <stdexcept>

namespace calvoro::test {
namespace {

// The one RSA key of every certificate (2048 bits take a moment to make).
EVP_PKEY* SharedKey() {
    static EVP_PKEY* key = [] {
        EVP_PKEY* k = EVP_RSA_gen(2048);
        if (!k) throw std::runtime_error("RSA key generation failed");
        return k;
    }();
    return key;
}

void WritePem(const std::string& path, const std::function<int(BIO*)>& write) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_file(path.c_str(), "w"), BIO_free);
    if (!bio || write(bio.get()) != 1) throw std::runtime_error("cannot write " + path);
}

}  // namespace

TTestCertificate::TTestCertificate(int validFromDays, int validToDays) {
    static std::atomic<int> counter{0};
    FDir = (std::filesystem::temp_directory_path() /
            ("calvoro-tls-" + std::to_string(::getpid()) + "-" + std::to_string(counter++)))
               .string();
    std::filesystem::create_directories(FDir);
    CertFile = FDir + "/cert.pem";
    KeyFile = FDir + "/key.pem";
    PublicKeyFile = FDir + "/public.pem";

    EVP_PKEY* key = SharedKey();
    std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), X509_free);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), counter);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), long(validFromDays) * 86400);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), long(validToDays) * 86400);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert.get(), cert.get(), nullptr, nullptr, 0);
    for (const char* ext : {"subjectAltName=IP:127.0.0.1", "basicConstraints=critical,CA:TRUE"}) {
        const std::string text = ext;
        const auto eq = text.find('=');
        X509_EXTENSION* e = X509V3_EXT_conf(nullptr, &ctx, text.substr(0, eq).c_str(), text.substr(eq + 1).c_str());
        if (!e) throw std::runtime_error("bad extension");
        X509_add_ext(cert.get(), e, -1);
        X509_EXTENSION_free(e);
    }
    if (X509_sign(cert.get(), key, EVP_sha256()) == 0) throw std::runtime_error("signing failed");
    WritePem(CertFile, [&](BIO* b) { return PEM_write_bio_X509(b, cert.get()); });
    WritePem(KeyFile, [&](BIO* b) { return PEM_write_bio_PrivateKey(b, key, nullptr, nullptr, 0, nullptr, nullptr); });
    WritePem(PublicKeyFile, [&](BIO* b) { return PEM_write_bio_PUBKEY(b, key); });
    std::unique_ptr<BIO, decltype(&BIO_free)> mem(BIO_new(BIO_s_mem()), BIO_free);
    PEM_write_bio_PUBKEY(mem.get(), key);
    char* data = nullptr;
    const long length = BIO_get_mem_data(mem.get(), &data);
    PublicKeyPem.assign(data, size_t(length));
}

TTestCertificate::~TTestCertificate() {
    std::error_code ignored;  // a temporary folder left behind harms nothing
    std::filesystem::remove_all(FDir, ignored);
}

std::string RsaDecryptPassword(const std::string& encrypted, const std::string& nonce) {
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(SharedKey(), nullptr),
                                                                    EVP_PKEY_CTX_free);
    size_t length = 0;
    const auto* in = reinterpret_cast<const unsigned char*>(encrypted.data());
    if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_OAEP_PADDING) != 1 ||
        EVP_PKEY_decrypt(ctx.get(), nullptr, &length, in, encrypted.size()) != 1)
        throw std::runtime_error("RSA decryption cannot start");
    std::string out(length, '\0');
    if (EVP_PKEY_decrypt(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &length, in, encrypted.size()) != 1)
        throw std::runtime_error("RSA decryption failed");
    out.resize(length);
    for (size_t i = 0; i < out.size(); ++i) out[i] = char(out[i] ^ nonce[i % nonce.size()]);
    return out;
}

}  // namespace calvoro::test
