#include "Variant.h"

#include "CodePage.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace calvoro {

QString VarTypeName(VarType type) {
    switch (type) {
        case VarType::Empty: return QStringLiteral("Empty");
        case VarType::Null: return QStringLiteral("Null");
        case VarType::Integer: return QStringLiteral("Int64");
        case VarType::Float: return QStringLiteral("Double");
        case VarType::Currency: return QStringLiteral("Currency");
        case VarType::DateTime: return QStringLiteral("Date");
        case VarType::Boolean: return QStringLiteral("Boolean");
        case VarType::String: return QStringLiteral("UnicodeString");
        case VarType::Bytes: return QStringLiteral("Array Byte");
    }
    return QStringLiteral("Unknown");
}

EVariantTypeCastError::EVariantTypeCastError(VarType from, VarType to)
    : EConvertError(QStringLiteral("Could not convert variant of type (%1) into type (%2)")
                        .arg(VarTypeName(from), VarTypeName(to))) {}

namespace {

// Round half to even, as float-to-integer conversion of variants does.
bool RoundToInt64(double value, int64_t& out) {
    if (!std::isfinite(value)) return false;
    const double r = std::nearbyint(value);  // default rounding mode: to nearest, ties to even
    if (r < -9223372036854775808.0 || r >= 9223372036854775808.0) return false;
    out = int64_t(r);
    return true;
}

bool ParseInt64(QStringView text, int64_t& out) {
    const QByteArray latin = text.trimmed().toLatin1();
    const char* b = latin.constData();
    const char* e = b + latin.size();
    if (b != e && *b == '+') ++b;
    auto [ptr, ec] = std::from_chars(b, e, out);
    return ec == std::errc() && ptr == e && b != e;
}

bool ParseDouble(QStringView text, double& out) {
    const QByteArray latin = text.trimmed().toLatin1();
    const char* b = latin.constData();
    const char* e = b + latin.size();
    if (b != e && *b == '+') ++b;
    auto [ptr, ec] = std::from_chars(b, e, out);
    return ec == std::errc() && ptr == e && b != e;
}

}  // namespace

Variant Variant::Null() {
    Variant v;
    v.FValue.emplace<NullTag>();
    return v;
}

Variant Variant::FromCurrency(double value) {
    int64_t scaled;
    if (!RoundToInt64(value * 10000.0, scaled))
        throw EVariantTypeCastError(VarType::Float, VarType::Currency);
    return FromCurrencyScaled(scaled);
}

Variant Variant::FromCurrencyScaled(int64_t scaled) {
    Variant v;
    v.FValue.emplace<Currency>(Currency{scaled});
    return v;
}

Variant Variant::FromDateTime(TDateTime value) {
    Variant v;
    v.FValue.emplace<Date>(Date{value});
    return v;
}

Variant Variant::FromLatin1(const char* text) { return Variant(QString::fromLatin1(text)); }

VarType Variant::Type() const {
    static constexpr VarType kTypes[] = {VarType::Empty,    VarType::Null,     VarType::Integer,
                                         VarType::Float,    VarType::Currency, VarType::DateTime,
                                         VarType::Boolean,  VarType::String,   VarType::Bytes};
    return kTypes[FValue.index()];
}

void Variant::CastError(VarType to) const { throw EVariantTypeCastError(Type(), to); }

int64_t Variant::AsInt64() const {
    int64_t result = 0;
    switch (Type()) {
        case VarType::Empty: return 0;
        case VarType::Integer: return std::get<int64_t>(FValue);
        case VarType::Boolean: return std::get<bool>(FValue) ? -1 : 0;
        case VarType::Float:
            if (RoundToInt64(std::get<double>(FValue), result)) return result;
            break;
        case VarType::DateTime:
            if (RoundToInt64(std::get<Date>(FValue).Days, result)) return result;
            break;
        case VarType::Currency: {
            // Scaled by 10^4: round half to even on the exact integer.
            const int64_t s = std::get<Currency>(FValue).Scaled;
            int64_t q = s / 10000, r = s % 10000;
            if (r > 5000 || (r == 5000 && (q & 1))) ++q;
            else if (r < -5000 || (r == -5000 && (q & 1))) --q;
            return q;
        }
        case VarType::String: {
            const QString& s = std::get<QString>(FValue);
            if (ParseInt64(s, result)) return result;
            double d;
            if (ParseDouble(s, d) && RoundToInt64(d, result)) return result;
            break;
        }
        case VarType::Null:
        case VarType::Bytes: break;
    }
    CastError(VarType::Integer);
}

int32_t Variant::AsInteger() const {
    const int64_t v = AsInt64();
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(v));
    return int32_t(v);
}

double Variant::AsFloat() const {
    switch (Type()) {
        case VarType::Empty: return 0;
        case VarType::Integer: return double(std::get<int64_t>(FValue));
        case VarType::Boolean: return std::get<bool>(FValue) ? -1 : 0;
        case VarType::Float: return std::get<double>(FValue);
        case VarType::DateTime: return std::get<Date>(FValue).Days;
        case VarType::Currency: return double(std::get<Currency>(FValue).Scaled) / 10000.0;
        case VarType::String: {
            double d;
            if (ParseDouble(std::get<QString>(FValue), d)) return d;
            break;
        }
        case VarType::Null:
        case VarType::Bytes: break;
    }
    CastError(VarType::Float);
}

int64_t Variant::AsCurrencyScaled() const {
    switch (Type()) {
        case VarType::Currency: return std::get<Currency>(FValue).Scaled;
        case VarType::Integer: {
            const int64_t v = std::get<int64_t>(FValue);
            if (v > INT64_MAX / 10000 || v < INT64_MIN / 10000) break;
            return v * 10000;
        }
        case VarType::Null:
        case VarType::Bytes: break;
        default: {
            int64_t scaled;
            if (RoundToInt64(AsFloat() * 10000.0, scaled)) return scaled;
            break;
        }
    }
    CastError(VarType::Currency);
}

TDateTime Variant::AsDateTime() const {
    switch (Type()) {
        case VarType::DateTime: return std::get<Date>(FValue).Days;
        case VarType::String: {
            TDateTime d;
            if (TextToDateTime(std::get<QString>(FValue), d)) return d;
            break;
        }
        case VarType::Null:
        case VarType::Bytes: break;
        default: return AsFloat();
    }
    CastError(VarType::DateTime);
}

bool Variant::AsBoolean() const {
    switch (Type()) {
        case VarType::Empty: return false;
        case VarType::Boolean: return std::get<bool>(FValue);
        case VarType::Integer: return std::get<int64_t>(FValue) != 0;
        case VarType::Float: return std::get<double>(FValue) != 0;
        case VarType::DateTime: return std::get<Date>(FValue).Days != 0;
        case VarType::Currency: return std::get<Currency>(FValue).Scaled != 0;
        case VarType::String: {
            const QString s = std::get<QString>(FValue).trimmed();
            if (s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) return true;
            if (s.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) return false;
            double d;
            if (ParseDouble(s, d)) return d != 0;
            break;
        }
        case VarType::Null:
        case VarType::Bytes: break;
    }
    CastError(VarType::Boolean);
}

QString Variant::AsString() const {
    switch (Type()) {
        case VarType::Empty: return QString();
        case VarType::String: return std::get<QString>(FValue);
        case VarType::Integer: return IntToText(std::get<int64_t>(FValue));
        case VarType::Boolean:
            return std::get<bool>(FValue) ? QStringLiteral("True") : QStringLiteral("False");
        case VarType::Float: return FloatToText(std::get<double>(FValue));
        case VarType::DateTime: return DateTimeToText(std::get<Date>(FValue).Days);
        case VarType::Currency: {
            const int64_t s = std::get<Currency>(FValue).Scaled;
            const uint64_t mag = s < 0 ? uint64_t(0) - uint64_t(s) : uint64_t(s);
            QString text = QString::number(mag / 10000);
            if (const uint64_t frac = mag % 10000) {
                QString f = QString::number(frac).rightJustified(4, u'0');
                while (f.endsWith(u'0')) f.chop(1);
                text += u'.' + f;
            }
            return s < 0 ? u'-' + text : text;
        }
        case VarType::Bytes: return AnsiToUnicode(std::get<QByteArray>(FValue));
        case VarType::Null: break;
    }
    CastError(VarType::String);
}

QByteArray Variant::AsBytes() const {
    switch (Type()) {
        case VarType::Empty: return QByteArray();
        case VarType::Bytes: return std::get<QByteArray>(FValue);
        case VarType::String: return UnicodeToAnsi(std::get<QString>(FValue));
        default: break;
    }
    CastError(VarType::Bytes);
}

bool Variant::operator==(const Variant& other) const { return FValue == other.FValue; }

QString FloatToText(double value) {
    if (std::isnan(value)) return QStringLiteral("NAN");
    if (std::isinf(value)) return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    char buf[32];
    auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value);
    return QString::fromLatin1(buf, ptr - buf);
}

namespace {

// Appends value as at least `width` digits, zero-padded. Texts of dates and times are made for
// every value of a result shown or written: digits are put directly, not through a format.
void PutNumber(char16_t*& p, int64_t value, int width) {
    if (value < 0) *p++ = u'-';
    uint64_t v = value < 0 ? uint64_t(0) - uint64_t(value) : uint64_t(value);
    char16_t digits[20];
    int n = 0;
    do {
        digits[n++] = char16_t(u'0' + v % 10);
        v /= 10;
    } while (v);
    for (int i = n; i < width; ++i) *p++ = u'0';
    while (n) *p++ = digits[--n];
}

void PutDate(char16_t*& p, const CalendarDate& d) {
    PutNumber(p, d.Year, 4);
    *p++ = u'-';
    PutNumber(p, d.Month, 2);
    *p++ = u'-';
    PutNumber(p, d.Day, 2);
}

void PutTime(char16_t*& p, int64_t hours, int hourDigits, int minutes, int seconds, int msecs) {
    PutNumber(p, hours, hourDigits);
    *p++ = u':';
    PutNumber(p, minutes, 2);
    *p++ = u':';
    PutNumber(p, seconds, 2);
    if (msecs) {
        *p++ = u'.';
        PutNumber(p, msecs, 3);
    }
}

}  // namespace

QString IntToText(int64_t value) {
    char16_t buffer[24];
    char16_t* p = buffer;
    PutNumber(p, value, 1);
    return QString(reinterpret_cast<const QChar*>(buffer), p - buffer);
}

QString DateToText(TDateTime value) {
    char16_t buffer[32];
    char16_t* p = buffer;
    PutDate(p, DecodeDate(value));
    return QString(reinterpret_cast<const QChar*>(buffer), p - buffer);
}

QString DateTimeToText(TDateTime value) {
    const TimeOfDay t = DecodeTime(value);
    const bool hasDate = DateOf(value) != 0;
    const bool hasTime = t != TimeOfDay{};
    char16_t buffer[64];
    char16_t* p = buffer;
    if (hasDate || !hasTime) PutDate(p, DecodeDate(value));
    if (hasTime) {
        if (p != buffer) *p++ = u' ';
        PutTime(p, t.Hour, 2, t.Minute, t.Second, t.MSec);
    }
    return QString(reinterpret_cast<const QChar*>(buffer), p - buffer);
}

QString DurationToText(TDateTime value) {
    const Duration d = DecodeDuration(value);
    char16_t buffer[48];
    char16_t* p = buffer;
    if (d.Negative) *p++ = u'-';
    PutTime(p, d.Hours, 1, d.Minutes, d.Seconds, d.MSecs);
    return QString(reinterpret_cast<const QChar*>(buffer), p - buffer);
}

namespace {

// Reads exactly `count` digits at `pos`.
bool Digits(QStringView s, qsizetype& pos, int count, int& out) {
    if (pos + count > s.size()) return false;
    out = 0;
    for (int i = 0; i < count; ++i) {
        const QChar c = s[pos + i];
        if (!c.isDigit()) return false;
        out = out * 10 + c.digitValue();
    }
    pos += count;
    return true;
}

bool Expect(QStringView s, qsizetype& pos, char16_t c) {
    if (pos >= s.size() || s[pos] != c) return false;
    ++pos;
    return true;
}

bool ParseTimePart(QStringView s, qsizetype& pos, TDateTime& out) {
    int h, n, sec, ms = 0;
    if (!Digits(s, pos, 2, h) || !Expect(s, pos, u':') || !Digits(s, pos, 2, n) ||
        !Expect(s, pos, u':') || !Digits(s, pos, 2, sec))
        return false;
    if (pos < s.size() && s[pos] == u'.' && !(++pos, Digits(s, pos, 3, ms))) return false;
    return TryEncodeTime(h, n, sec, ms, out);
}

}  // namespace

bool TextToDateTime(QStringView text, TDateTime& out) {
    const QStringView s = text.trimmed();
    qsizetype pos = 0;
    TDateTime date = 0, time = 0;
    int y, m, d;
    if (s.size() >= 10 && s[4] == u'-') {
        if (!Digits(s, pos, 4, y) || !Expect(s, pos, u'-') || !Digits(s, pos, 2, m) ||
            !Expect(s, pos, u'-') || !Digits(s, pos, 2, d) || !TryEncodeDate(y, m, d, date))
            return false;
        if (pos < s.size() && !(Expect(s, pos, u' ') && ParseTimePart(s, pos, time)))
            return false;
    } else if (!ParseTimePart(s, pos, time)) {
        return false;
    }
    if (pos != s.size()) return false;
    out = ComposeDateTime(date, time);
    return true;
}

}  // namespace calvoro
