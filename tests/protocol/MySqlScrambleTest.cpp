// The password scrambles against vectors from real peers: the old hash against MariaDB's
// OLD_PASSWORD(), the answers against what the mariadb command-line client sends for the
// same scramble (captured once from a scripted greeting).
#include "protocol/MySqlScramble.h"
#include "support/Packets.h"

#include <gtest/gtest.h>

using namespace calvoro::protocol;
using namespace calvoro::test;

namespace {

// The scramble the captures were made with: the 20 bytes 0x21 to 0x34.
const Bytes CaptureScramble = B("!\"#$%&'()*+,-./01234");

std::string HexOf(std::span<const uint8_t> bytes) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (const uint8_t b : bytes) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

}  // namespace

TEST(MySqlScramble, OldHashMatchesTheServer) {
    // SELECT OLD_PASSWORD(...) on MariaDB 10.11: the two 31-bit halves in hex.
    struct Case {
        std::string password;
        std::string hash;
    } cases[] = {
        {"0ld-pass", "5298506a632cfdcf"},
        {"N4tive-pass", "37a0e62864b19811"},
        {"abc", "7cd2b5942be28759"},
        {"a b\tc", "7cd2b5942be28759"},       // blanks and tabs do not count
        {"\xe9t\xe9", "5d4c6c7408632e8b"},   // 8-bit bytes (UNHEX('E974E9'))
    };
    for (const auto& c : cases) {
        const auto h = hashPassword(c.password);
        char text[17];
        std::snprintf(text, sizeof text, "%08x%08x", h[0], h[1]);
        EXPECT_EQ(text, c.hash) << c.password;
    }
}

TEST(MySqlScramble, AnswersMatchTheMariadbClient) {
    struct Case {
        std::string password;
        std::string answer41;   // what the client sent for the native password
        std::string answerOld;  // what it sent when asked for the pre-4.1 answer
    } cases[] = {
        {"N4tive-pass", "5acab6b3584a5278781f46eb1a3c977503c75934", ""},
        {"0ld-pass", "8c5bff3fe44ef34a91431aa9d6ef678a59b43bd6", "4940445359454d54"},
        {"a b", "ea2dafbaaf3c05878f75ca9b2c1ef0a2128e0a46", "5c51464d4c4b5245"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.password);
        EXPECT_EQ(HexOf(Scramble41(std::span<const uint8_t, 20>(CaptureScramble.data(), 20), c.password)),
                  c.answer41);
        if (!c.answerOld.empty()) {
            EXPECT_EQ(HexOf(ScrambleOld(std::span<const uint8_t, 8>(CaptureScramble.data(), 8), c.password)),
                      c.answerOld);
        }
    }
}

TEST(MySqlScramble, Sha1AndStages) {
    // FIPS 180-1 vectors.
    EXPECT_EQ(HexOf(TSHA1Managed::ComputeHash(std::string_view("abc"))),
              "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(HexOf(TSHA1Managed::ComputeHash(std::string_view(""))),
              "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    // The server keeps SHA1(SHA1(password)): PASSWORD('N4tive-pass') without its '*'.
    const TSHA1Digest s1 = PasswordHashStage1("N4tive-pass");
    EXPECT_EQ(HexOf(TSHA1Managed::ComputeHash(s1)), "928f67924bab2040415acb49a6993d4b50c91668");
    EXPECT_EQ(PasswordHashStage1("N4 tive-\tpass"), s1) << "blanks and tabs are removed";

    const uint8_t salt[4] = {1, 2, 3, 4};
    Bytes salted(salt, salt + 4);
    salted.insert(salted.end(), s1.begin(), s1.end());
    EXPECT_EQ(PasswordHashStage2(std::span<const uint8_t, 4>(salt), s1), TSHA1Managed::ComputeHash(salted));

    uint8_t a[20], b[20], x[20];
    for (int i = 0; i < 20; ++i) a[i] = uint8_t(i), b[i] = uint8_t(0xF0 + i);
    PasswordCrypt(a, b, x);
    MyCrypt(x, b, 20);
    EXPECT_TRUE(std::equal(x, x + 20, a));
}

TEST(MySqlScramble, RandomGenerator) {
    TrandStruct r;
    randominit(r, 0x40000000 + 5, 7);  // taken modulo 0x3FFFFFFF
    EXPECT_EQ(r.seed1, 6);
    EXPECT_EQ(r.seed2, 7);
    EXPECT_DOUBLE_EQ(MyRandom(r), 25.0 / 1073741823.0);  // 6 * 3 + 7
    EXPECT_EQ(r.seed2, 25 + 7 + 33);
}
