#include "MyDumpText.h"

#include "dataaccess/mysql/MySqlFormat.h"
#include "dataaccess/mysql/MySqlInfo.h"
#include "protocol/MySqlRowFormat.h"
#include "sqltext/MyParser.h"

#include <QRegularExpression>
#include <QSet>

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

// The reserved words of MySQL 8 and MariaDB 10/11 together.
const QSet<QString>& ReservedWords() {
    static const QSet<QString> words = [] {
        static const char* const list[] = {
            "ACCESSIBLE", "ADD", "ALL", "ALTER", "ANALYZE", "AND", "AS", "ASC", "ASENSITIVE", "BEFORE",
            "BETWEEN", "BIGINT", "BINARY", "BLOB", "BOTH", "BY", "CALL", "CASCADE", "CASE", "CHANGE", "CHAR",
            "CHARACTER", "CHECK", "COLLATE", "COLUMN", "CONDITION", "CONSTRAINT", "CONTINUE", "CONVERT",
            "CREATE", "CROSS", "CUBE", "CUME_DIST", "CURRENT_DATE", "CURRENT_ROLE", "CURRENT_TIME",
            "CURRENT_TIMESTAMP", "CURRENT_USER", "CURSOR", "DATABASE", "DATABASES", "DAY_HOUR",
            "DAY_MICROSECOND", "DAY_MINUTE", "DAY_SECOND", "DEC", "DECIMAL", "DECLARE", "DEFAULT", "DELAYED",
            "DELETE", "DELETE_DOMAIN_ID", "DENSE_RANK", "DESC", "DESCRIBE", "DETERMINISTIC", "DISTINCT",
            "DISTINCTROW", "DIV", "DO_DOMAIN_IDS", "DOUBLE", "DROP", "DUAL", "EACH", "ELSE", "ELSEIF", "EMPTY",
            "ENCLOSED", "ESCAPED", "EXCEPT", "EXISTS", "EXIT", "EXPLAIN", "FALSE", "FETCH", "FIRST_VALUE",
            "FLOAT", "FLOAT4", "FLOAT8", "FOR", "FORCE", "FOREIGN", "FROM", "FULLTEXT", "FUNCTION", "GENERAL",
            "GENERATED", "GET", "GRANT", "GROUP", "GROUPING", "GROUPS", "HAVING", "HIGH_PRIORITY",
            "HOUR_MICROSECOND", "HOUR_MINUTE", "HOUR_SECOND", "IF", "IGNORE", "IGNORE_DOMAIN_IDS",
            "IGNORE_SERVER_IDS", "IN", "INDEX", "INFILE", "INNER", "INOUT", "INSENSITIVE", "INSERT", "INT",
            "INT1", "INT2", "INT3", "INT4", "INT8", "INTEGER", "INTERSECT", "INTERVAL", "INTO",
            "IO_AFTER_GTIDS", "IO_BEFORE_GTIDS", "IS", "ITERATE", "JOIN", "JSON_TABLE", "KEY", "KEYS", "KILL",
            "LAG", "LAST_VALUE", "LATERAL", "LEAD", "LEADING", "LEAVE", "LEFT", "LIKE", "LIMIT", "LINEAR",
            "LINES", "LOAD", "LOCALTIME", "LOCALTIMESTAMP", "LOCK", "LONG", "LONGBLOB", "LONGTEXT", "LOOP",
            "LOW_PRIORITY", "MASTER_BIND", "MASTER_HEARTBEAT_PERIOD", "MASTER_SSL_VERIFY_SERVER_CERT",
            "MATCH", "MAXVALUE", "MEDIUMBLOB", "MEDIUMINT", "MEDIUMTEXT", "MIDDLEINT", "MINUTE_MICROSECOND",
            "MINUTE_SECOND", "MOD", "MODIFIES", "NATURAL", "NOT", "NO_WRITE_TO_BINLOG", "NTH_VALUE", "NTILE",
            "NULL", "NUMERIC", "OF", "OFFSET", "ON", "OPTIMIZE", "OPTIMIZER_COSTS", "OPTION", "OPTIONALLY",
            "OR", "ORDER", "OUT", "OUTER", "OUTFILE", "OVER", "PAGE_CHECKSUM", "PARSE_VCOL_EXPR",
            "PARTITION", "PERCENT_RANK", "POSITION", "PRECISION", "PRIMARY", "PROCEDURE", "PURGE", "RANGE",
            "RANK", "READ", "READS", "READ_WRITE", "REAL", "RECURSIVE", "REF_SYSTEM_ID", "REFERENCES",
            "REGEXP", "RELEASE", "RENAME", "REPEAT", "REPLACE", "REQUIRE", "RESIGNAL", "RESTRICT", "RETURN",
            "RETURNING", "REVOKE", "RIGHT", "RLIKE", "ROW", "ROW_NUMBER", "ROWS", "SCHEMA", "SCHEMAS",
            "SECOND_MICROSECOND", "SELECT", "SENSITIVE", "SEPARATOR", "SET", "SHOW", "SIGNAL", "SLOW",
            "SMALLINT", "SPATIAL", "SPECIFIC", "SQL", "SQL_BIG_RESULT", "SQL_CALC_FOUND_ROWS",
            "SQL_SMALL_RESULT", "SQLEXCEPTION", "SQLSTATE", "SQLWARNING", "SSL", "STARTING",
            "STATS_AUTO_RECALC", "STATS_PERSISTENT", "STATS_SAMPLE_PAGES", "STORED", "STRAIGHT_JOIN",
            "SYSTEM", "TABLE", "TERMINATED", "THEN", "TINYBLOB", "TINYINT", "TINYTEXT", "TO", "TRAILING",
            "TRIGGER", "TRUE", "UNDO", "UNION", "UNIQUE", "UNLOCK", "UNSIGNED", "UPDATE", "USAGE", "USE",
            "USING", "UTC_DATE", "UTC_TIME", "UTC_TIMESTAMP", "VALUES", "VARBINARY", "VARCHAR",
            "VARCHARACTER", "VARYING", "VIRTUAL", "WHEN", "WHERE", "WHILE", "WINDOW", "WITH", "WRITE", "XOR",
            "YEAR_MONTH", "ZEROFILL",
        };
        QSet<QString> set;
        for (const char* w : list) set.insert(QString::fromLatin1(w));
        return set;
    }();
    return words;
}

QString AsciiUpper(const QString& text) {
    QString upper = text;
    for (QChar& c : upper)
        if (c >= u'a' && c <= u'z') c = QChar(c.unicode() - 32);
    return upper;
}

QString DumpNamePart(const QString& part, bool quoteNames) {
    if (part.startsWith(u'`') && part.endsWith(u'`') && part.size() >= 2) return part;
    if (quoteNames || TMySQLInfo::QuotesNeeded(part) || IsReservedWord(part)) return TMySQLInfo::Quote(part);
    return part;
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

bool IsReservedWord(const QString& name) { return ReservedWords().contains(AsciiUpper(name)); }

std::pair<QString, QString> NameParts(const QString& name) {
    qsizetype cut;
    if (name.startsWith(u'`')) {
        cut = name.indexOf(QStringLiteral("`."));
        if (cut >= 0) ++cut;
    } else {
        cut = name.indexOf(u'.');
    }
    if (cut < 0) return {QString(), name};
    return {name.left(cut), name.mid(cut + 1)};
}

QString DumpName(const QString& name, bool quoteNames) {
    const auto [db, object] = NameParts(name);
    if (db.isNull()) return DumpNamePart(object, quoteNames);
    return DumpNamePart(db, quoteNames) + u'.' + DumpNamePart(object, quoteNames);
}

QString DumpColumnName(const QString& name) { return DumpNamePart(name, false); }

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

QString StringLiteral(const QString& text) { return dac::EscapeWideString(text, true); }

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
    for (int i = 0; i < n; ++i) byName.insert(AsciiUpper(TMySQLInfo::UnQuote(names[i])), i);
    std::vector<std::vector<int>> reads(static_cast<size_t>(n));
    for (int i = 0; i < n && i < definitions.size(); ++i) {
        sqltext::TMyParser parser(definitions[i]);
        parser.FUppered = false;
        QString lexeme;
        int code;
        while ((code = parser.GetNext(lexeme)) != sqltext::lexEnd) {
            if (code != sqltext::lexIdent && code <= 0) continue;
            const auto it = byName.constFind(AsciiUpper(TMySQLInfo::UnQuote(lexeme)));
            if (it != byName.constEnd() && *it != i) reads[size_t(i)].push_back(*it);
        }
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
