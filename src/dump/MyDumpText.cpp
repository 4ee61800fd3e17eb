#include "MyDumpText.h"

#include "dataaccess/mysql/MySqlFormat.h"
#include "dataaccess/mysql/MySqlInfo.h"
#include "protocol/MySqlRowFormat.h"
#include "sqltext/MyParser.h"

#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>

namespace calvoro::dump {

using dac::TMySQLInfo;
namespace p = protocol;

namespace {

// The character set number of binary strings.
constexpr int32_t BinaryCharset = 63;

QString AsciiUpper(const QString& text) {
    QString upper = text;
    for (QChar& c : upper)
        if (c >= u'a' && c <= u'z') c = QChar(c.unicode() - 32);
    return upper;
}

constexpr char HexDigits[] = "0123456789ABCDEF";

void AppendHex(QByteArray& out, QByteArrayView bytes) {
    const qsizetype start = out.size();
    out.resize(start + 2 + 2 * bytes.size());
    char* d = out.data() + start;
    *d++ = '0';
    *d++ = 'x';
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *d++ = HexDigits[b >> 4];
        *d++ = HexDigits[b & 15];
    }
}

// Writes the shortest text that reads back to the same value; the server's text when it is
// not a finite number (it never is for a stored value).
template <typename T>
void AppendShortest(QByteArray& out, QByteArrayView text) {
    double value = 0;
    const char* begin = text.data();
    const char* end = begin + text.size();
    const auto parsed = std::from_chars(begin, end, value);
    char buffer[64];
    if (parsed.ec == std::errc() && parsed.ptr == end && std::isfinite(value)) {
        const T narrowed = static_cast<T>(value);
        if (std::isfinite(narrowed)) {
            const auto written = std::to_chars(buffer, buffer + sizeof buffer, narrowed);
            AppendBytes(out, buffer, written.ptr - buffer);
            return;
        }
    }
    out.append(text);
}

}  // namespace

QString DumpName(const QString& raw, bool quoteNames) { return dac::QuoteIdentifier(raw, quoteNames); }

QString DumpName(const dac::TObjectName& name, bool quoteNames) { return dac::QuoteObjectName(name, quoteNames); }

QString DumpColumnName(const QString& raw) { return dac::QuoteIdentifier(raw, false); }

TValueKind ValueKindOf(const p::TMYSQL_FIELD& field, bool isFloat) {
    if (isFloat) return TValueKind::Float;
    switch (field._type) {
        case p::FIELD_TYPE_DECIMAL:
        case p::FIELD_TYPE_NEWDECIMAL:
        case p::FIELD_TYPE_TINY:
        case p::FIELD_TYPE_SHORT:
        case p::FIELD_TYPE_LONG:
        case p::FIELD_TYPE_LONGLONG:
        case p::FIELD_TYPE_INT24:
        case p::FIELD_TYPE_YEAR:
        case p::FIELD_TYPE_FLOAT:  // a query's FLOAT: its text is all the row holds
            return TValueKind::Number;
        case p::FIELD_TYPE_DOUBLE: return TValueKind::Double;
        case p::FIELD_TYPE_BIT: return TValueKind::Bit;
        case p::FIELD_TYPE_TIMESTAMP:
        case p::FIELD_TYPE_DATE:
        case p::FIELD_TYPE_TIME:
        case p::FIELD_TYPE_DATETIME:
        case p::FIELD_TYPE_NEWDATE:
        case p::FIELD_TYPE_ENUM:
        case p::FIELD_TYPE_SET:
            return TValueKind::Text;
        case p::FIELD_TYPE_TINY_BLOB:
        case p::FIELD_TYPE_MEDIUM_BLOB:
        case p::FIELD_TYPE_LONG_BLOB:
        case p::FIELD_TYPE_BLOB:
            return field.CharsetNr == BinaryCharset ? TValueKind::Binary : TValueKind::LongText;
        default:
            return field.CharsetNr == BinaryCharset ? TValueKind::Binary : TValueKind::Text;
    }
}

void AppendDumpValue(QByteArray& out, TValueKind kind, QByteArrayView value, bool hexBlob) {
    switch (kind) {
        case TValueKind::Number: AppendBytes(out, value); return;
        case TValueKind::Double: AppendShortest<double>(out, value); return;
        case TValueKind::Float: AppendShortest<float>(out, value); return;
        case TValueKind::Bit: AppendHex(out, value); return;
        case TValueKind::Binary:
        case TValueKind::LongText:
            if (hexBlob) {
                if (value.isEmpty())
                    out.append("''");
                else
                    AppendHex(out, value);
                return;
            }
            // Binary bytes need not form characters of the connection's character set.
            if (kind == TValueKind::Binary) AppendBytes(out, "_binary ", 8);
            dac::AppendEscapedString(out, value, true);
            return;
        case TValueKind::Text: dac::AppendEscapedString(out, value, true); return;
    }
}

QString LikePatternLiteral(const QString& name) {
    QString pattern;
    pattern.reserve(name.size() + 2);
    for (const QChar c : name) {
        if (c == u'_' || c == u'%' || c == u'\\') pattern += u'\\';
        pattern += c;
    }
    return StringLiteral(pattern);
}

QString StringLiteral(const QString& text) { return dac::QuoteString(text, true); }

QString StripDefiner(const QString& createText) {
    // DEFINER=`user`@`host`, 'user'@'host', a role without host, or CURRENT_USER; only in the
    // head before the object's body.
    static const QRegularExpression definer(QStringLiteral(
        R"(^(\s*CREATE\b(?:\s+OR\s+REPLACE)?(?:\s+ALGORITHM\s*=\s*\w+)?\s+)DEFINER\s*=\s*)"
        R"((?:`(?:[^`]|``)*`|'(?:[^'\\]|\\.|'')*'|[^\s@]+)(?:@(?:`(?:[^`]|``)*`|'(?:[^'\\]|\\.|'')*'|[^\s]+))?\s+)"),
        QRegularExpression::CaseInsensitiveOption);
    QString result = createText;
    const QRegularExpressionMatch m = definer.match(result);
    if (m.hasMatch()) result.replace(m.capturedStart(), m.capturedLength(), m.captured(1));
    return result;
}

bool EndsInLineComment(const QString& text) {
    sqltext::TMyParser parser(text);
    parser.FOmitBlank = false;
    parser.FOmitComment = false;
    parser.FUppered = false;
    QString lexeme, last;
    int code, lastCode = sqltext::lexEnd;
    while ((code = parser.GetNext(lexeme)) != sqltext::lexEnd) {
        lastCode = code;
        last = lexeme;
    }
    if (lastCode != sqltext::lexComment || parser.CommentKind() != sqltext::cmLine) return false;
    return !last.endsWith(u'\n') && !last.endsWith(u'\r');
}

std::vector<int> ViewDependencyOrder(const QStringList& names, const QStringList& definitions) {
    const int n = int(names.size());
    // Which views each view's text names.
    QHash<QString, int> byName;
    for (int i = 0; i < n; ++i) byName.insert(AsciiUpper(names[i]), i);
    std::vector<std::vector<int>> reads(static_cast<size_t>(n));
    for (int i = 0; i < n && i < definitions.size(); ++i) {
        const auto note = [&](const QString& identifier) {
            const auto it = byName.constFind(AsciiUpper(TMySQLInfo::UnQuote(identifier)));
            if (it != byName.constEnd() && *it != i) reads[size_t(i)].push_back(*it);
        };
        sqltext::TMyParser parser(definitions[i]);
        parser.FUppered = false;
        parser.FOmitBlank = false;
        // The lexer ends a quoted name at a doubled backtick and begins the next lexeme there:
        // adjacent quoted lexemes are one name.
        QString lexeme, quoted;
        int code;
        while ((code = parser.GetNext(lexeme)) != sqltext::lexEnd) {
            if (code == sqltext::lexIdent && lexeme.startsWith(u'`')) {
                quoted += lexeme;
                continue;
            }
            if (!quoted.isEmpty()) note(quoted);
            quoted.clear();
            if (code == sqltext::lexIdent || code > 0) note(lexeme);
        }
        if (!quoted.isEmpty()) note(quoted);
    }
    // Depth-first: a view after everything it reads; a cycle is cut where it closes.
    std::vector<int> order;
    std::vector<char> state(static_cast<size_t>(n), 0);  // 0 new, 1 on the path, 2 written
    std::function<void(int)> visit = [&](int v) {
        if (state[size_t(v)] != 0) return;
        state[size_t(v)] = 1;
        for (const int w : reads[size_t(v)]) visit(w);
        state[size_t(v)] = 2;
        order.push_back(v);
    };
    for (int i = 0; i < n; ++i) visit(i);
    return order;
}

}  // namespace calvoro::dump
