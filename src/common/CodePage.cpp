#include "CodePage.h"

#include <array>

namespace calvoro {
namespace {

// Windows-1252 0x80..0x9F; the undefined positions hold their own C1 code point.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

char16_t AnsiCharOf(unsigned char byte) {
    return (byte >= 0x80 && byte < 0xA0) ? kHigh[byte - 0x80] : char16_t(byte);
}

int AnsiByteOf(char16_t ch) {
    if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) return ch;
    for (size_t i = 0; i < kHigh.size(); ++i)
        if (kHigh[i] == ch) return int(0x80 + i);
    return -1;
}

QString AnsiToUnicode(std::string_view bytes) {
    // Latin-1 everywhere but 0x80..0x9F: widened in one go, then those bytes put right.
    QString result = QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
    QChar* out = nullptr;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80 || b >= 0xA0) continue;
        if (!out) out = result.data();
        out[i] = QChar(kHigh[b - 0x80]);
    }
    return result;
}

QByteArray UnicodeToAnsi(QStringView text) {
    QByteArray result(text.size(), Qt::Uninitialized);
    char* out = result.data();
    const QChar* p = text.data();
    const QChar* end = p + text.size();
    constexpr qsizetype kBlock = 16;
    while (p < end) {
        // Mostly ASCII: a block of it is narrowed in one go.
        if (end - p >= kBlock) {
            char16_t all = 0;
            for (qsizetype i = 0; i < kBlock; ++i) all |= p[i].unicode();
            if (all < 0x80) {
                for (qsizetype i = 0; i < kBlock; ++i) out[i] = char(p[i].unicode());
                p += kBlock;
                out += kBlock;
                continue;
            }
        }
        char16_t ch = p->unicode();
        int b = AnsiByteOf(ch);
        if (b < 0) {
            b = '?';
            // A surrogate pair is one character and becomes one '?'.
            if (QChar::isHighSurrogate(ch) && p + 1 < end && p[1].isLowSurrogate()) ++p;
        }
        *out++ = char(b);
        ++p;
    }
    result.truncate(out - result.data());
    return result;
}

}  // namespace calvoro
