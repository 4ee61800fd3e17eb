#include "MySqlScramble.h"

#include "MySqlErrors.h"

#include <openssl/evp.h>

#include <cmath>
#include <string>

namespace calvoro::protocol {

TSHA1Digest TSHA1Managed::ComputeHash(std::span<const uint8_t> bytes) {
    TSHA1Digest digest{};
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha1(), nullptr) != 1 ||
        length != digest.size())
        throw EInternalError("MySqlScramble: SHA-1 failed");
    return digest;
}

std::array<uint32_t, 2> hashPassword(std::span<const uint8_t> bytes) {
    uint32_t nr = 1345345333, add = 7, nr2 = 305419889;
    for (const uint8_t c : bytes) {
        if (c == ' ' || c == '\t') continue;
        nr ^= (((nr & 63) + add) * c) + (nr << 8);
        nr2 += (nr2 << 8) ^ nr;
        add += c;
    }
    return {nr & 0x7FFFFFFF, nr2 & 0x7FFFFFFF};
}

std::array<uint32_t, 2> hashPassword(std::string_view bytes) {
    return hashPassword({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
}

void randominit(TrandStruct& state, uint64_t seed1, uint64_t seed2) {
    state.maxValue = 0x3FFFFFFF;
    state.maxValueDbl = double(state.maxValue);
    state.seed1 = int64_t(seed1 % uint64_t(state.maxValue));
    state.seed2 = int64_t(seed2 % uint64_t(state.maxValue));
}

double MyRandom(TrandStruct& state) {
    state.seed1 = (state.seed1 * 3 + state.seed2) % state.maxValue;
    state.seed2 = (state.seed1 + state.seed2 + 33) % state.maxValue;
    return double(state.seed1) / state.maxValueDbl;
}

std::array<uint8_t, 8> ScrambleOld(std::span<const uint8_t, 8> message, std::string_view password) {
    const auto hp = hashPassword(password);
    const auto hm = hashPassword(std::span<const uint8_t>(message));
    TrandStruct rnd;
    randominit(rnd, hp[0] ^ hm[0], hp[1] ^ hm[1]);
    std::array<uint8_t, 8> answer{};
    for (auto& b : answer) b = uint8_t(std::floor(MyRandom(rnd) * 31) + 64);
    const auto extra = uint8_t(std::floor(MyRandom(rnd) * 31));
    for (auto& b : answer) b ^= extra;
    return answer;
}

TSHA1Digest Scramble41(std::span<const uint8_t, 20> scramble, std::string_view password) {
    const TSHA1Digest s1 = TSHA1Managed::ComputeHash(password);
    const TSHA1Digest s2 = TSHA1Managed::ComputeHash(s1);
    uint8_t salted[40];
    std::copy(scramble.begin(), scramble.end(), salted);
    std::copy(s2.begin(), s2.end(), salted + 20);
    TSHA1Digest answer = TSHA1Managed::ComputeHash(std::span<const uint8_t>(salted));
    MyCrypt(answer.data(), s1.data(), answer.size());
    return answer;
}

TSHA1Digest PasswordHashStage1(std::string_view password) {
    std::string stripped;
    for (const char c : password)
        if (c != ' ' && c != '\t') stripped += c;
    return TSHA1Managed::ComputeHash(stripped);
}

TSHA1Digest PasswordHashStage2(std::span<const uint8_t, 4> salt, const TSHA1Digest& digest) {
    uint8_t bytes[24];
    std::copy(salt.begin(), salt.end(), bytes);
    std::copy(digest.begin(), digest.end(), bytes + 4);
    return TSHA1Managed::ComputeHash(std::span<const uint8_t>(bytes));
}

void PasswordCrypt(const uint8_t* a, const uint8_t* b, uint8_t* to) {
    for (size_t i = 0; i < 20; ++i) to[i] = a[i] ^ b[i];
}

void MyCrypt(uint8_t* to, const uint8_t* from, size_t length) {
    for (size_t i = 0; i < length; ++i) to[i] ^= from[i];
}

}  // namespace calvoro::protocol
