#include "AuthCrypto.h"

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <array>
#include <climits>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <stdexcept>

namespace calvoro::protocol {

namespace {

using TSha256Digest = std::array<uint8_t, 32>;
using TSha512Digest = std::array<uint8_t, 64>;
using TBytes32 = std::array<uint8_t, 32>;

std::string_view AsText(std::span<const uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Digest of the parts one after another; `size` is the digest's fixed length.
template <size_t size>
std::array<uint8_t, size> Digest(const EVP_MD* md, std::initializer_list<std::string_view> parts) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    bool ok = ctx && EVP_DigestInit_ex(ctx.get(), md, nullptr) == 1;
    for (const std::string_view part : parts)
        ok = ok && EVP_DigestUpdate(ctx.get(), part.data(), part.size()) == 1;
    std::array<uint8_t, size> digest{};
    unsigned int length = 0;
    ok = ok && EVP_DigestFinal_ex(ctx.get(), digest.data(), &length) == 1 && length == size;
    if (!ok) throw std::runtime_error("AuthCrypto: the digest failed in OpenSSL");
    return digest;
}

TSha256Digest Sha256(std::initializer_list<std::string_view> parts) { return Digest<32>(EVP_sha256(), parts); }
TSha512Digest Sha512(std::initializer_list<std::string_view> parts) { return Digest<64>(EVP_sha512(), parts); }

// ---- Ed25519 (RFC 8032) -------------------------------------------------------------------
// Field elements mod p = 2^255 - 19 as 16 signed limbs of 16 bits (value = sum l[i] * 2^(16 i)).
// Limbs may leave [0, 2^16) between operations; Carry brings them back. Every operation runs the
// same steps whatever the values, and selections go through masks, not branches on secrets.

using TFe = std::array<int64_t, 16>;

TFe FeFromBytes(const TBytes32& b) {
    TFe f{};
    for (size_t i = 0; i < 16; ++i) f[i] = int64_t(b[2 * i]) | (int64_t(b[2 * i + 1]) << 8);
    f[15] &= 0x7FFF;  // bit 255 is not part of the number
    return f;
}

TFe FeFromHex(std::string_view hex) {
    TBytes32 b{};
    auto nibble = [](char c) { return uint8_t(c <= '9' ? c - '0' : c - 'a' + 10); };
    for (size_t i = 0; i < b.size(); ++i) b[i] = uint8_t(nibble(hex[2 * i]) << 4 | nibble(hex[2 * i + 1]));
    return FeFromBytes(b);
}

// Carries each limb's excess into the next; the excess of the top limb wraps to limb 0
// times 38, because 2^256 = 2 * 2^255 = 2 * 19 (mod p).
void Carry(TFe& f) {
    for (size_t i = 0; i < 16; ++i) {
        const int64_t c = f[i] >> 16;  // floor, also for negative limbs
        f[i] -= c * 65536;
        if (i < 15)
            f[i + 1] += c;
        else
            f[0] += 38 * c;
    }
}

TFe FeAdd(const TFe& a, const TFe& b) {
    TFe r;
    for (size_t i = 0; i < 16; ++i) r[i] = a[i] + b[i];
    return r;
}

TFe FeSub(const TFe& a, const TFe& b) {
    TFe r;
    for (size_t i = 0; i < 16; ++i) r[i] = a[i] - b[i];
    return r;
}

TFe FeMul(const TFe& a, const TFe& b) {
    std::array<int64_t, 31> t{};
    for (size_t i = 0; i < 16; ++i)
        for (size_t j = 0; j < 16; ++j) t[i + j] += a[i] * b[j];
    TFe r;
    for (size_t i = 0; i < 15; ++i) r[i] = t[i] + 38 * t[i + 16];  // 2^256 = 38 (mod p)
    r[15] = t[15];
    Carry(r);
    Carry(r);
    return r;
}

// a^(p-2) = 1/a. p - 2 = 2^255 - 21: every bit from 254 down to 0 is set except bits 4 and 2.
TFe FeInvert(const TFe& a) {
    TFe r = a;
    for (int bit = 253; bit >= 0; --bit) {
        r = FeMul(r, r);
        if (bit != 4 && bit != 2) r = FeMul(r, a);
    }
    return r;
}

// Swaps a and b when swap is 1, leaves them when it is 0, without a branch.
void FeSwap(TFe& a, TFe& b, int64_t swap) {
    const int64_t mask = -swap;
    for (size_t i = 0; i < 16; ++i) {
        const int64_t t = mask & (a[i] ^ b[i]);
        a[i] ^= t;
        b[i] ^= t;
    }
}

// The canonical 32 bytes of f: fully reduced into [0, p).
TBytes32 FeToBytes(const TFe& f) {
    TFe t = f;
    Carry(t);
    Carry(t);
    Carry(t);
    // Now 0 <= t < 2^256 with every limb in [0, 2^16): t - p is needed at most twice.
    for (int pass = 0; pass < 2; ++pass) {
        TFe m;
        int64_t borrow = 0;
        for (size_t i = 0; i < 16; ++i) {
            const int64_t pLimb = i == 0 ? 0xFFED : i == 15 ? 0x7FFF : 0xFFFF;
            m[i] = t[i] - pLimb - borrow;
            borrow = (m[i] >> 16) & 1;
            m[i] &= 0xFFFF;
        }
        FeSwap(t, m, 1 - borrow);  // keep t - p unless it went below zero
    }
    TBytes32 b;
    for (size_t i = 0; i < 16; ++i) {
        b[2 * i] = uint8_t(t[i] & 0xFF);
        b[2 * i + 1] = uint8_t(t[i] >> 8);
    }
    return b;
}

// Little-endian constants (RFC 8032, 5.1): d = -121665/121666, 2d, and the base point B.
const TFe D2 = FeFromHex("59f1b226949bd6eb56b183829a14e00030d1f3eef2808e19e7fcdf56dcd90624");
const TFe BaseX = FeFromHex("1ad5258f602d56c9b2a7259560c72c695cdcd6fd31e2a4c0fe536ecdd3366921");
const TFe BaseY = FeFromHex("5866666666666666666666666666666666666666666666666666666666666666");

// A point of -x^2 + y^2 = 1 + d x^2 y^2 in extended coordinates: x = X/Z, y = Y/Z, x y = T/Z.
struct TPoint {
    TFe X, Y, Z, T;
};

TPoint Neutral() { return {TFe{}, TFe{1}, TFe{1}, TFe{}}; }
TPoint Base() { return {BaseX, BaseY, TFe{1}, FeMul(BaseX, BaseY)}; }

// The unified addition (Hisil-Wong-Carter-Dawson, "add-2008-hwcd-3"); it also doubles, so the
// ladder below runs the same formula on every step.
TPoint PointAdd(const TPoint& p, const TPoint& q) {
    const TFe a = FeMul(FeSub(p.Y, p.X), FeSub(q.Y, q.X));
    const TFe b = FeMul(FeAdd(p.Y, p.X), FeAdd(q.Y, q.X));
    const TFe c = FeMul(FeMul(p.T, q.T), D2);
    const TFe zz = FeMul(p.Z, q.Z);
    const TFe d = FeAdd(zz, zz);
    const TFe e = FeSub(b, a), f = FeSub(d, c), g = FeAdd(d, c), h = FeAdd(b, a);
    return {FeMul(e, f), FeMul(g, h), FeMul(f, g), FeMul(e, h)};
}

void PointSwap(TPoint& p, TPoint& q, int64_t swap) {
    FeSwap(p.X, q.X, swap);
    FeSwap(p.Y, q.Y, swap);
    FeSwap(p.Z, q.Z, swap);
    FeSwap(p.T, q.T, swap);
}

// scalar * B (scalar little-endian), a ladder over all 256 bits: after each step
// q - p = B, and which of the two is doubled depends on the bit only through swaps.
TPoint ScalarMultBase(const TBytes32& scalar) {
    TPoint p = Neutral(), q = Base();
    for (int bit = 255; bit >= 0; --bit) {
        const int64_t b = (scalar[size_t(bit) / 8] >> (bit % 8)) & 1;
        PointSwap(p, q, b);
        q = PointAdd(q, p);
        p = PointAdd(p, p);
        PointSwap(p, q, b);
    }
    return p;
}

// The 32-byte encoding: y, with the low bit of x in bit 255.
TBytes32 EncodePoint(const TPoint& p) {
    const TFe zInverse = FeInvert(p.Z);
    TBytes32 y = FeToBytes(FeMul(p.Y, zInverse));
    const TBytes32 x = FeToBytes(FeMul(p.X, zInverse));
    y[31] |= uint8_t((x[0] & 1) << 7);
    return y;
}

// Scalars mod L = 2^252 + delta, the order of B. Numbers of up to 64 bytes come as signed
// 8-bit limbs; since 2^252 = -delta (mod L), whatever lies at bit 252 and above is folded
// down as a multiple of -delta.
constexpr std::array<int64_t, 16> LDelta = {0xED, 0xD3, 0xF5, 0x5C, 0x1A, 0x63, 0x12, 0x58,
                                            0xD6, 0x9C, 0xF7, 0xA2, 0xDE, 0xF9, 0xDE, 0x14};

// Brings limbs 0 to 30 into [0, 256), the excess ending in limb 31.
void ScalarCarry(std::array<int64_t, 64>& x) {
    for (size_t i = 0; i < 31; ++i) {
        const int64_t c = x[i] >> 8;
        x[i] -= c * 256;
        x[i + 1] += c;
    }
}

// Replaces the multiple q of 2^252 in limb 31 by -q * delta.
void ScalarFoldTop(std::array<int64_t, 64>& x) {
    const int64_t q = x[31] >> 4;
    x[31] -= q * 16;
    for (size_t j = 0; j < 16; ++j) x[j] -= q * LDelta[j];
    ScalarCarry(x);
}

TBytes32 ReduceModL(std::array<int64_t, 64>& x) {
    // Limb i >= 32 is x[i] * 2^(8 (i - 32)) * 16 * 2^252 = -16 x[i] delta 2^(8 (i - 32)).
    for (size_t i = 63; i >= 32; --i) {
        int64_t carry = 0;
        for (size_t j = 0; j < 16; ++j) {
            int64_t& limb = x[i - 32 + j];
            limb += carry - 16 * x[i] * LDelta[j];
            carry = (limb + 128) >> 8;  // keep limbs in [-128, 128) so that they stay small
            limb -= carry * 256;
        }
        x[i - 16] += carry;
        x[i] = 0;
    }
    ScalarCarry(x);
    // The first fold leaves a number in (-2^143, 2^252 + 2^143), the second one in [-delta, L).
    ScalarFoldTop(x);
    ScalarFoldTop(x);
    // Add L once when the number is negative (limb 31 is then -1).
    const int64_t negative = x[31] >> 8;  // -1 or 0
    for (size_t j = 0; j < 16; ++j) x[j] += negative & LDelta[j];
    x[31] += negative & 16;
    ScalarCarry(x);
    TBytes32 r;
    for (size_t i = 0; i < 32; ++i) r[i] = uint8_t(x[i]);
    OPENSSL_cleanse(x.data(), x.size() * sizeof x[0]);  // it held the nonce or the secret scalar's products
    return r;
}

TBytes32 ReduceModL(const TSha512Digest& number) {
    std::array<int64_t, 64> x{};
    for (size_t i = 0; i < 64; ++i) x[i] = number[i];
    return ReduceModL(x);
}

// (r + k * a) mod L.
TBytes32 MulAddModL(const TBytes32& k, const TBytes32& a, const TBytes32& r) {
    std::array<int64_t, 64> x{};
    for (size_t i = 0; i < 32; ++i) x[i] = r[i];
    for (size_t i = 0; i < 32; ++i)
        for (size_t j = 0; j < 32; ++j) x[i + j] += int64_t(k[i]) * a[j];
    return ReduceModL(x);
}

// The secret scalar a (clamped first half of SHA-512 of the password) and the prefix that
// makes the per-message nonce (second half).
struct TExpandedKey {
    TBytes32 scalar{}, prefix{};
    ~TExpandedKey() {
        OPENSSL_cleanse(scalar.data(), scalar.size());
        OPENSSL_cleanse(prefix.data(), prefix.size());
    }
};

void ExpandPassword(std::string_view password, TExpandedKey& key) {
    TSha512Digest h = Sha512({password});
    std::copy(h.begin(), h.begin() + 32, key.scalar.begin());
    std::copy(h.begin() + 32, h.end(), key.prefix.begin());
    OPENSSL_cleanse(h.data(), h.size());
    key.scalar[0] &= 248;
    key.scalar[31] &= 127;
    key.scalar[31] |= 64;
}

// ---- RSA ----------------------------------------------------------------------------------

// OpenSSL's reason for the last failure, or `fallback`; empties OpenSSL's error queue.
std::string OpenSslReason(const char* fallback) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return fallback;
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

}  // namespace

std::string CachingSha2Scramble(std::string_view password, std::string_view nonce) {
    if (password.empty()) return {};
    TSha256Digest stage1 = Sha256({password});
    const TSha256Digest stage2 = Sha256({AsText(stage1)});
    const TSha256Digest salted = Sha256({AsText(stage2), nonce});
    std::string answer(stage1.size(), '\0');
    for (size_t i = 0; i < stage1.size(); ++i) answer[i] = char(stage1[i] ^ salted[i]);
    OPENSSL_cleanse(stage1.data(), stage1.size());
    return answer;
}

std::string Ed25519PublicKeyOfPassword(std::string_view password) {
    TExpandedKey key;
    ExpandPassword(password, key);
    return std::string(AsText(EncodePoint(ScalarMultBase(key.scalar))));
}

std::string Ed25519SignWithPassword(std::string_view password, std::string_view message) {
    TExpandedKey key;
    ExpandPassword(password, key);
    const TBytes32 publicKey = EncodePoint(ScalarMultBase(key.scalar));
    TSha512Digest nonceHash = Sha512({AsText(key.prefix), message});
    TBytes32 r = ReduceModL(nonceHash);
    OPENSSL_cleanse(nonceHash.data(), nonceHash.size());
    const TBytes32 encodedR = EncodePoint(ScalarMultBase(r));
    const TBytes32 k = ReduceModL(Sha512({AsText(encodedR), AsText(publicKey), message}));
    const TBytes32 s = MulAddModL(k, key.scalar, r);
    OPENSSL_cleanse(r.data(), r.size());
    std::string signature;
    signature.reserve(64);
    signature.append(AsText(encodedR));
    signature.append(AsText(s));
    return signature;
}

std::string Ed25519ReduceScalar(std::string_view number) {
    if (number.size() != 64)
        throw std::invalid_argument("Ed25519ReduceScalar: " + std::to_string(number.size()) + " bytes, not 64");
    TSha512Digest bytes;
    std::copy(number.begin(), number.end(), bytes.begin());
    return std::string(AsText(ReduceModL(bytes)));
}

std::string RsaEncryptPassword(std::string_view password, std::string_view nonce,
                               std::string_view pemPublicKey) {
    if (nonce.empty()) throw std::runtime_error("RsaEncryptPassword: the server sent no nonce");
    if (pemPublicKey.size() > size_t(INT_MAX))
        throw std::runtime_error("RsaEncryptPassword: the server's public key is too large");
    ERR_clear_error();
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(pemPublicKey.data(), int(pemPublicKey.size())), BIO_free);
    if (!bio)
        throw std::runtime_error("RsaEncryptPassword: cannot read the server's public key");
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
    if (!key)
        throw std::runtime_error("RsaEncryptPassword: the server's public key is not a PEM public key (" +
                                 OpenSslReason("no PEM data") + ")");
    if (!EVP_PKEY_is_a(key.get(), "RSA"))
        throw std::runtime_error("RsaEncryptPassword: the server's public key is not an RSA key");

    // OAEP with SHA-1 takes at most the key's size less 2 * 20 + 2 bytes.
    const int keyBytes = EVP_PKEY_get_size(key.get());
    const size_t plainLength = password.size() + 1;
    if (keyBytes < 42 || plainLength > size_t(keyBytes) - 42)
        throw std::runtime_error("RsaEncryptPassword: the password is too long for the server's " +
                                 std::to_string(EVP_PKEY_get_bits(key.get())) + "-bit RSA key (" +
                                 std::to_string(password.size()) + " bytes, at most " +
                                 std::to_string(keyBytes < 43 ? 0 : keyBytes - 43) + ")");

    std::string plain(password);
    plain.push_back('\0');
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = char(plain[i] ^ nonce[i % nonce.size()]);

    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
        EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr), EVP_PKEY_CTX_free);
    std::string cipher(size_t(keyBytes), '\0');
    size_t cipherLength = cipher.size();
    const bool ok = ctx && EVP_PKEY_encrypt_init(ctx.get()) == 1 &&
                    EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_OAEP_PADDING) == 1 &&
                    EVP_PKEY_CTX_set_rsa_oaep_md(ctx.get(), EVP_sha1()) == 1 &&
                    EVP_PKEY_encrypt(ctx.get(), reinterpret_cast<unsigned char*>(cipher.data()), &cipherLength,
                                     reinterpret_cast<const unsigned char*>(plain.data()), plain.size()) == 1;
    OPENSSL_cleanse(plain.data(), plain.size());
    if (!ok)
        throw std::runtime_error("RsaEncryptPassword: RSA encryption failed (" +
                                 OpenSslReason("unknown OpenSSL error") + ")");
    cipher.resize(cipherLength);
    return cipher;
}

}  // namespace calvoro::protocol
