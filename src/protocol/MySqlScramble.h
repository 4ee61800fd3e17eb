#pragma once
// The password scrambles: the 4.1 answer (SHA-1 based), the pre-4.1 answer (the old
// 31-bit hash and its random generator) and the steps of the 4.1.0 24-byte exchange.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace calvoro::protocol {

using TSHA1Digest = std::array<uint8_t, 20>;

// SHA-1 (FIPS 180-1) through OpenSSL.
class TSHA1Managed {
public:
    static TSHA1Digest ComputeHash(std::span<const uint8_t> bytes);
    static TSHA1Digest ComputeHash(std::string_view bytes) {
        return ComputeHash({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
    }
};

// The pre-4.1 generator's state.
struct TrandStruct {
    int64_t seed1 = 0, seed2 = 0, maxValue = 0;
    double maxValueDbl = 0;
};

// Pre-4.1 password hash over every byte but blanks and tabs; 32-bit arithmetic:
//   nr ^= (((nr & 63) + add) * c) + (nr << 8);  nr2 += (nr2 << 8) ^ nr;  add += c
// from nr = 1345345333, add = 7, nr2 = 305419889; result (nr, nr2) & 0x7FFFFFFF.
std::array<uint32_t, 2> hashPassword(std::span<const uint8_t> bytes);
std::array<uint32_t, 2> hashPassword(std::string_view bytes);
// maxValue 0x3FFFFFFF; seeds taken modulo maxValue.
void randominit(TrandStruct& state, uint64_t seed1, uint64_t seed2);
// seed1 = (seed1 * 3 + seed2) % max; seed2 = (seed1 + seed2 + 33) % max; seed1 / max.
double MyRandom(TrandStruct& state);

// The pre-4.1 answer for an 8-byte message (the first 8 scramble bytes) and a non-empty
// password, without its terminating NUL: 8 bytes floor(rnd * 31) + 64, each XOR-ed with one
// further floor(rnd * 31); the generator seeded from both hashes XOR-ed.
std::array<uint8_t, 8> ScrambleOld(std::span<const uint8_t, 8> message, std::string_view password);

// The 4.1 answer: SHA1(password) XOR SHA1(scramble + SHA1(SHA1(password))).
TSHA1Digest Scramble41(std::span<const uint8_t, 20> scramble, std::string_view password);

// Steps of the 24-byte exchange of 4.1.0 servers.
// SHA-1 of the password with every blank and tab removed.
TSHA1Digest PasswordHashStage1(std::string_view password);
// SHA-1 of a 4-byte salt followed by a 20-byte digest.
TSHA1Digest PasswordHashStage2(std::span<const uint8_t, 4> salt, const TSHA1Digest& digest);
// to[i] = a[i] XOR b[i] over 20 bytes.
void PasswordCrypt(const uint8_t* a, const uint8_t* b, uint8_t* to);
// to[i] ^= from[i] over length bytes.
void MyCrypt(uint8_t* to, const uint8_t* from, size_t length);

}  // namespace calvoro::protocol
