#include "MySqlFormat.h"

#include <cstring>

#include "common/CodePage.h"

#include <cmath>

namespace calvoro::dac {
namespace {

// The escape for one unit with backslash escapes on, or 0 when it is written unchanged.
inline char BackslashEscape(char16_t unit) {
    switch (unit) {
        case 0: return '0';
        case 10: return 'n';
        case 13: return 'r';
        case 26: return 'Z';
        case '"': return '"';
        case '\'': return '\'';
        case '\\': return '\\';
        default: return 0;
    }
}

bool IsPlainInteger(QStringView s) {
    qsizetype i = (!s.isEmpty() && s[0] == u'-') ? 1 : 0;
    if (i == s.size()) return false;
    for (; i < s.size(); ++i)
        if (s[i] < u'0' || s[i] > u'9') return false;
    return true;
}

bool IsPlainDecimal(QStringView s) {
    qsizetype i = (!s.isEmpty() && (s[0] == u'-' || s[0] == u'+')) ? 1 : 0;
    bool digits = false, point = false;
    for (; i < s.size(); ++i) {
        if (s[i] >= u'0' && s[i] <= u'9') digits = true;
        else if (s[i] == u'.' && !point) point = true;
        else return false;
    }
    return digits;
}

QString Pad(int64_t value, int width) { return QString::number(value).rightJustified(width, u'0'); }

QString MSecSuffix(int msec) { return msec ? u'.' + Pad(msec, 3) : QString(); }

void AppendLatin1(QByteArray& buffer, const QString& text) { buffer += text.toLatin1(); }

QString FloatLiteral(double value) {
    if (!std::isfinite(value))
        throw EConvertError(QStringLiteral("Cannot write the float value %1 as SQL")
                                .arg(FloatToText(value)));
    return FloatToText(value);
}

// Text and binary values go out as quoted strings.
void AppendQuoted(QByteArray& buffer, const Variant& value, bool useUnicode, bool needBackslashes) {
    if (value.Type() == VarType::Bytes) {
        AppendEscapedString(buffer, value.AsBytes(), needBackslashes);
    } else if (useUnicode) {
        AppendEscapedString(buffer, value.AsString().toUtf8(), needBackslashes);
    } else {
        AppendEscapedString(buffer, UnicodeToAnsi(value.AsString()), needBackslashes);
    }
}

// Integers of every width: digits only. A text value must be an integer literal (so that a
// BIGINT UNSIGNED above the signed range passes unchanged); anything else is refused.
void AppendInteger(QByteArray& buffer, const Variant& value) {
    if (value.Type() == VarType::String && IsPlainInteger(value.AsString()))
        AppendLatin1(buffer, value.AsString());
    else
        AppendLatin1(buffer, QString::number(value.AsInt64()));
}

}  // namespace

void AppendEscapedString(QByteArray& buffer, QByteArrayView bytes, bool needBackslashes) {
    // Room for the worst case (every unit escaped), written through a pointer, cut to what
    // was written: long values are copied run by run without growing the buffer.
    const qsizetype start = buffer.size();
    buffer.resize(start + 2 * bytes.size() + 2);
    char* out = buffer.data() + start;
    *out++ = '\'';
    const char* p = bytes.data();
    const char* end = p + bytes.size();
    while (p < end) {
        // Copy the run of units that need no escape in one piece.
        const char* run = p;
        if (needBackslashes) {
            while (p < end && !BackslashEscape(static_cast<unsigned char>(*p))) ++p;
        } else {
            while (p < end && *p != '\'') ++p;
        }
        std::memcpy(out, run, size_t(p - run));
        out += p - run;
        if (p == end) break;
        if (needBackslashes) {
            *out++ = '\\';
            *out++ = BackslashEscape(static_cast<unsigned char>(*p));
        } else {
            *out++ = '\'';
            *out++ = '\'';
        }
        ++p;
    }
    *out++ = '\'';
    buffer.resize(out - buffer.data());
}

QByteArray EscapeString(QByteArrayView bytes, bool needBackslashes) {
    QByteArray result;
    AppendEscapedString(result, bytes, needBackslashes);
    return result;
}

QString EscapeWideString(QStringView text, bool needBackslashes) {
    QString result;
    result.reserve(text.size() + 2);
    result += u'\'';
    for (QChar c : text) {
        const char16_t unit = c.unicode();
        if (needBackslashes) {
            if (const char e = BackslashEscape(unit)) {
                result += u'\\';
                result += QLatin1Char(e);
                continue;
            }
        } else if (unit == u'\'') {
            result += u'\'';
        }
        result += c;
    }
    result += u'\'';
    return result;
}

QString DateToSQLText(TDateTime value) {
    const CalendarDate d = DecodeDate(value);
    return Pad(d.Year, 4) + u'-' + Pad(d.Month, 2) + u'-' + Pad(d.Day, 2);
}

QString DateTimeToSQLText(TDateTime value) {
    const TimeOfDay t = DecodeTime(value);
    return DateToSQLText(value) + u' ' + Pad(t.Hour, 2) + u':' + Pad(t.Minute, 2) + u':' +
           Pad(t.Second, 2) + MSecSuffix(t.MSec);
}

QString TimeToSQLText(TDateTime value) {
    const Duration d = DecodeDuration(value);
    return (d.Negative ? QStringLiteral("-") : QString()) + QString::number(d.Hours) + u':' +
           Pad(d.Minutes, 2) + u':' + Pad(d.Seconds, 2) + MSecSuffix(d.MSecs);
}

void AppendValue(QByteArray& buffer, TDataType dataType, const Variant& value, bool isNull,
                 const TSqlValueOptions& options) {
    if (isNull || value.IsNull()) {
        buffer += "NULL";
        return;
    }
    switch (dataType) {
        case dtDate:
        case dtTime:
        case dtDateTime: {
            const TDateTime v = value.AsDateTime();
            if (v == 0) {
                buffer += "'0000-00-00 00:00:00'";
                return;
            }
            const QString text = dataType == dtDate ? DateToSQLText(v)
                                 : dataType == dtTime ? TimeToSQLText(v)
                                                      : DateTimeToSQLText(v);
            buffer += '\'';
            AppendLatin1(buffer, text);
            buffer += '\'';
            return;
        }
        case dtFloat:
            AppendLatin1(buffer, FloatLiteral(value.AsFloat()));
            return;
        case dtCurrency:
            AppendLatin1(buffer, value.Type() == VarType::Currency
                                     ? value.AsString()
                                     : FloatLiteral(value.AsFloat()));
            return;
        case dtBCD:
            AppendLatin1(buffer, Variant::FromCurrencyScaled(value.AsCurrencyScaled()).AsString());
            return;
        case dtFMTBCD:
            if (value.Type() == VarType::String) {
                const QString text = value.AsString().trimmed();
                if (!IsPlainDecimal(text))
                    throw EConvertError(QStringLiteral("'%1' is not a valid BCD value").arg(text));
                AppendLatin1(buffer, text);
            } else {
                AppendLatin1(buffer, value.Type() == VarType::Currency
                                         ? value.AsString()
                                         : FloatLiteral(value.AsFloat()));
            }
            return;
        case dtBoolean:
            buffer += value.AsBoolean() ? '1' : '0';
            return;
        case dtString:
        case dtExtString:
        case dtWideString:
        case dtExtWideString:
        case dtMemo:
        case dtWideMemo:
            if (value.IsEmpty()) {
                buffer += "''";
                return;
            }
            AppendQuoted(buffer, value, options.UseUnicode, options.NeedBackslashes);
            return;
        case dtUnknown:
        case dtBlob:
        case dtBytes:
        case dtVarBytes:
        case dtExtVarBytes:
        case dtGuid:  // GUID text is a string literal to the server
            AppendQuoted(buffer, value, false, options.NeedBackslashes);
            return;
        case dtInt8:
        case dtSmallint:
        case dtInteger:
        case dtWord:
        case dtLargeint:
        case dtUInt32:
            AppendInteger(buffer, value);
            return;
        default:
            // Other kinds carry whatever the variant holds: numbers as numbers, anything
            // else as a quoted string, so that no text reaches the statement unquoted.
            switch (value.Type()) {
                case VarType::Integer: AppendInteger(buffer, value); return;
                case VarType::Boolean: buffer += value.AsBoolean() ? '1' : '0'; return;
                case VarType::Float: AppendLatin1(buffer, FloatLiteral(value.AsFloat())); return;
                case VarType::Currency: AppendLatin1(buffer, value.AsString()); return;
                case VarType::DateTime:
                    AppendValue(buffer, dtDateTime, value, false, options);
                    return;
                default:
                    AppendQuoted(buffer, value, options.UseUnicode, options.NeedBackslashes);
                    return;
            }
    }
}

QString ValueToSQL(TDataType dataType, const Variant& value, bool isNull,
                   const TSqlValueOptions& options) {
    QByteArray buffer;
    AppendValue(buffer, dataType, value, isNull, options);
    return options.UseUnicode ? QString::fromUtf8(buffer) : AnsiToUnicode(buffer);
}

}  // namespace calvoro::dac
