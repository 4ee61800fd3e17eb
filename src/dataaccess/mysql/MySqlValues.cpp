#include "MySqlValues.h"

#include "common/Exceptions.h"

#include <charconv>
#include <cstdio>
#include <cstring>

namespace calvoro::dac {

using namespace protocol;

namespace {

QString Latin1(std::string_view text) { return QString::fromLatin1(text.data(), qsizetype(text.size())); }

[[noreturn]] void NotAnInteger(std::string_view text) {
    throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(Latin1(text)));
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// n digits at text[at]; false when any is not a digit.
bool Digits(std::string_view text, size_t at, size_t n, int& out) {
    if (at + n > text.size()) return false;
    int v = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (!IsDigit(text[i])) return false;
        v = v * 10 + (text[i] - '0');
    }
    out = v;
    return true;
}

// ".ffffff" at text[at] (1 to 6 digits, more are ignored): the milliseconds it holds.
bool Fraction(std::string_view text, size_t at, int& msec) {
    msec = 0;
    if (at == text.size()) return true;
    if (text[at] != '.' || at + 1 == text.size()) return false;
    int micro = 0, n = 0;
    for (size_t i = at + 1; i < text.size(); ++i) {
        if (!IsDigit(text[i])) return false;
        if (n < 6) {
            micro = micro * 10 + (text[i] - '0');
            ++n;
        }
    }
    for (; n < 6; ++n) micro *= 10;
    msec = micro / 1000;
    return true;
}

TMySqlDate MakeDate(int year, int month, int day, int hour, int minute, int second, int msec) {
    TMySqlDate d;
    TDateTime date, time;
    if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, minute, second, msec, time)) return d;
    d.Valid = true;
    d.Value = ComposeDateTime(date, time);
    return d;
}

[[noreturn]] void InvalidDate(std::string_view text) {
    throw EConvertError(QStringLiteral("Invalid date value: '%1'").arg(Latin1(text)));
}

uint32_t LE(const uint8_t* p, size_t n) {
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i) v |= uint32_t(p[i]) << (8 * i);
    return v;
}

[[noreturn]] void Malformed(const char* what) { throw EConvertError(QString::fromLatin1(what)); }

// Decodes one character at p (lead byte not ASCII); advances p. The code point.
char32_t DecodeSequence(const uint8_t*& p, const uint8_t* end) {
    const uint8_t lead = *p;
    int extra;
    char32_t cp;
    if (lead >= 0xC2 && lead <= 0xDF) extra = 1, cp = lead & 0x1F;
    else if (lead >= 0xE0 && lead <= 0xEF) extra = 2, cp = lead & 0x0F;
    else if (lead >= 0xF0 && lead <= 0xF4) extra = 3, cp = lead & 0x07;
    else Malformed("malformed trail byte or out of range char");
    if (end - p <= extra) {
        // Continuation bytes that are there must still be continuation bytes.
        for (const uint8_t* q = p + 1; q < end; ++q)
            if ((*q & 0xC0) != 0x80) Malformed("malformed trail byte");
        Malformed("incomplete multibyte char");
    }
    for (int i = 1; i <= extra; ++i) {
        if ((p[i] & 0xC0) != 0x80) Malformed("malformed trail byte");
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    static constexpr char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
    if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        Malformed("malformed trail byte or out of range char");
    p += extra + 1;
    return cp;
}

}  // namespace

int64_t MySqlTextToInt(std::string_view text) {
    int64_t v = 0;
    const char* b = text.data();
    const char* e = b + text.size();
    auto [ptr, ec] = std::from_chars(b, e, v);
    if (ec != std::errc() || ptr != e || text.empty() || text[0] == '+') NotAnInteger(text);
    return v;
}

uint64_t MySqlTextToUInt(std::string_view text) {
    uint64_t v = 0;
    const char* b = text.data();
    const char* e = b + text.size();
    auto [ptr, ec] = std::from_chars(b, e, v);
    if (ec != std::errc() || ptr != e || text.empty()) NotAnInteger(text);
    return v;
}

double MySqlTextToFloat(std::string_view text) {
    // Only plain decimal forms: no "inf", "nan" or hexadecimal floats.
    bool digit = false, other = false;
    for (const char c : text) {
        if (IsDigit(c)) digit = true;
        else if (c != '-' && c != '+' && c != '.' && c != 'e' && c != 'E') other = true;
    }
    const char* b = text.data();
    const char* e = b + text.size();
    if (b != e && *b == '+') ++b;
    double v = 0;
    const auto [ptr, ec] = std::from_chars(b, e, v, std::chars_format::general);
    if (!digit || other || ec != std::errc() || ptr != e)
        throw EConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(Latin1(text)));
    return v;
}

uint64_t MySqlBitsToUInt(const uint8_t* bytes, size_t length) {
    uint64_t v = 0;
    for (size_t i = 0; i < length; ++i) v = (v << 8) | bytes[i];
    return v;
}

TMySqlDate MySqlTextToDate(TMySqlFieldType type, std::string_view text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
    const bool dashed = text.size() >= 10 && text[4] == '-' && text[7] == '-';
    if (dashed) {
        if (!Digits(text, 0, 4, year) || !Digits(text, 5, 2, month) || !Digits(text, 8, 2, day)) InvalidDate(text);
        if (text.size() > 10) {
            if (text.size() < 19 || (text[10] != ' ' && text[10] != 'T') || text[13] != ':' || text[16] != ':' ||
                !Digits(text, 11, 2, hour) || !Digits(text, 14, 2, minute) || !Digits(text, 17, 2, second) ||
                !Fraction(text, 19, msec))
                InvalidDate(text);
        }
        if (type == FIELD_TYPE_DATE || type == FIELD_TYPE_NEWDATE) hour = minute = second = msec = 0;
        return MakeDate(year, month, day, hour, minute, second, msec);
    }
    // TIMESTAMP without separators, by its length.
    for (char c : text)
        if (!IsDigit(c)) InvalidDate(text);
    auto twoDigitYear = [](int yy) { return yy < 70 ? 2000 + yy : 1900 + yy; };
    const size_t n = text.size();
    switch (n) {
        case 2: case 4: case 6: case 10: case 12: {
            Digits(text, 0, 2, year);
            year = twoDigitYear(year);
            month = day = 1;
            if (n >= 4) Digits(text, 2, 2, month);
            if (n >= 6) Digits(text, 4, 2, day);
            if (n >= 10) Digits(text, 6, 2, hour), Digits(text, 8, 2, minute);
            if (n >= 12) Digits(text, 10, 2, second);
            break;
        }
        case 8: case 14:
            Digits(text, 0, 4, year);
            Digits(text, 4, 2, month);
            Digits(text, 6, 2, day);
            if (n == 14) Digits(text, 8, 2, hour), Digits(text, 10, 2, minute), Digits(text, 12, 2, second);
            break;
        default:
            throw EConvertError(QStringLiteral("Invalid FIELD_TYPE_TIMESTAMP Field.Length (%1)").arg(n));
    }
    return MakeDate(year, month, day, hour, minute, second, 0);
}

TDateTime MySqlTextToTime(std::string_view text, const QString& fieldName) {
    auto wrong = [&]() -> TDateTime {
        throw EConvertError(QStringLiteral("Wrong time format. Field %1, value %2").arg(fieldName, Latin1(text)));
    };
    size_t at = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) ++at;
    const size_t colon = text.find(':', at);
    if (colon == std::string_view::npos || colon == at || colon - at > 4) return wrong();
    int hours = 0, minutes = 0, seconds = 0, msec = 0;
    if (!Digits(text, at, colon - at, hours)) return wrong();
    if (text.size() < colon + 6 || text[colon + 3] != ':' || !Digits(text, colon + 1, 2, minutes) ||
        !Digits(text, colon + 4, 2, seconds) || !Fraction(text, colon + 6, msec) || minutes > 59 || seconds > 59)
        return wrong();
    return EncodeDuration(negative, hours, minutes, seconds, msec);
}

// Microseconds [4] at v: more than a second's worth is a malformed value.
static uint32_t Microseconds(const uint8_t* v) {
    const uint32_t micro = LE(v, 4);
    if (micro > 999999) throw EConvertError(QStringLiteral("Invalid microseconds (%1)").arg(micro));
    return micro;
}

TMySqlDate MySqlBinaryToDate(const uint8_t* v, size_t length) {
    switch (length) {
        case 0: return {};
        case 4: return MakeDate(int(LE(v, 2)), v[2], v[3], 0, 0, 0, 0);
        case 7: return MakeDate(int(LE(v, 2)), v[2], v[3], v[4], v[5], v[6], 0);
        case 11: return MakeDate(int(LE(v, 2)), v[2], v[3], v[4], v[5], v[6], int(Microseconds(v + 7) / 1000));
        default: throw EConvertError(QStringLiteral("FIELD_TYPE_DATETIME Len = %1").arg(length));
    }
}

TDateTime MySqlBinaryToTime(const uint8_t* v, size_t length) {
    if (length == 0) return 0;
    if (length != 8 && length != 12)
        throw EConvertError(QStringLiteral("Error DateTimeFromStrPrep function Len = %1").arg(length));
    const int64_t hours = int64_t(LE(v + 1, 4)) * 24 + v[5];
    const int msec = length == 12 ? int(Microseconds(v + 8) / 1000) : 0;
    return EncodeDuration(v[0] != 0, hours, v[6], v[7], msec);
}

std::string MySqlBinaryTemporalToText(TMySqlFieldType type, unsigned decimals, const uint8_t* v, size_t length) {
    if (decimals > 6) decimals = 6;
    char text[64];
    auto fraction = [&](uint32_t micro, char* at) {
        if (!decimals) return;
        char digits[8];
        std::snprintf(digits, sizeof digits, "%06u", micro);
        *at++ = '.';
        std::memcpy(at, digits, decimals);
        at[decimals] = 0;
    };
    if (type == FIELD_TYPE_TIME) {
        if (length != 0 && length != 8 && length != 12)
            throw EConvertError(QStringLiteral("Error DateTimeFromStrPrep function Len = %1").arg(length));
        const bool negative = length && v[0];
        const uint64_t hours = length ? uint64_t(LE(v + 1, 4)) * 24 + v[5] : 0;
        const int n = std::snprintf(text, sizeof text, "%s%02llu:%02u:%02u", negative ? "-" : "",
                                    static_cast<unsigned long long>(hours), length ? v[6] : 0u, length ? v[7] : 0u);
        fraction(length == 12 ? Microseconds(v + 8) : 0, text + n);
        return text;
    }
    if (length != 0 && length != 4 && length != 7 && length != 11)
        throw EConvertError(QStringLiteral("FIELD_TYPE_DATETIME Len = %1").arg(length));
    const unsigned year = length ? LE(v, 2) : 0, month = length ? v[2] : 0, day = length ? v[3] : 0;
    int n = std::snprintf(text, sizeof text, "%04u-%02u-%02u", year, month, day);
    if (type == FIELD_TYPE_DATE || type == FIELD_TYPE_NEWDATE) return text;
    n += std::snprintf(text + n, sizeof text - size_t(n), " %02u:%02u:%02u", length >= 7 ? v[4] : 0u,
                       length >= 7 ? v[5] : 0u, length >= 7 ? v[6] : 0u);
    fraction(length == 11 ? Microseconds(v + 7) : 0, text + n);
    return text;
}

size_t MySqlUtf8ToUtf16(const uint8_t* bytes, size_t length, char16_t* out, size_t maxUnits) {
    const uint8_t* p = bytes;
    const uint8_t* end = bytes + length;
    size_t n = 0;
    while (p < end && n < maxUnits) {
        if (*p < 0x80) {
            out[n++] = *p++;
            continue;
        }
        const uint8_t* start = p;
        const char32_t cp = DecodeSequence(p, end);
        if (cp < 0x10000) {
            out[n++] = char16_t(cp);
        } else {
            if (n + 2 > maxUnits) {
                p = start;
                break;
            }
            out[n++] = char16_t(0xD800 + ((cp - 0x10000) >> 10));
            out[n++] = char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
        }
    }
    return n;
}

size_t MySqlUtf16Length(const uint8_t* bytes, size_t length) {
    const uint8_t* p = bytes;
    const uint8_t* end = bytes + length;
    size_t n = 0;
    while (p < end) {
        if (*p < 0x80) {
            ++p;
            ++n;
            continue;
        }
        n += DecodeSequence(p, end) < 0x10000 ? 1 : 2;
    }
    return n;
}

}  // namespace calvoro::dac
