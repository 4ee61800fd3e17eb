#include "MySqlIdentifier.h"

#include "MySqlFormat.h"
#include "common/Exceptions.h"

#include <QSet>
#include <QStringView>

namespace calvoro::dac {

namespace {

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

bool IsAsciiLetter(QChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

[[noreturn]] void Fail(const QString& message) { throw EDatabaseError(message); }

bool IsBlank(QChar c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

// One part of typed text from `pos`, raw; it ends before any of `stops` outside backticks,
// `pos` then stands on that stop (or at the end).
QString ReadPart(const QString& text, qsizetype& pos, QStringView stops) {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    if (pos >= text.size() || text[pos] != u'`') {
        const qsizetype start = pos;
        while (pos < text.size() && !stops.contains(text[pos])) ++pos;
        return text.mid(start, pos - start).trimmed();
    }
    const qsizetype open = pos++;
    QString raw;
    for (;;) {
        if (pos >= text.size())
            Fail(QStringLiteral("The name %1 has no closing backtick: a backtick inside a quoted name is written "
                                "twice (``)")
                     .arg(text.mid(open)));
        if (text[pos] == u'`') {
            if (pos + 1 < text.size() && text[pos + 1] == u'`') {
                raw += u'`';
                pos += 2;
                continue;
            }
            ++pos;
            break;
        }
        raw += text[pos++];
    }
    const qsizetype close = pos;
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    if (pos < text.size() && !stops.contains(text[pos]))
        Fail(QStringLiteral("Unexpected text after the quoted name %1: %2")
                 .arg(text.mid(open, close - open), text.mid(pos).trimmed()));
    return raw;
}

// [database .] name from `pos`, ending before one of `separators` or at the end. `pos` then
// stands on that separator.
TObjectName ReadObjectName(const QString& text, qsizetype& pos, const QString& separators) {
    const qsizetype start = pos;
    const QString stops = separators + u'.';
    TObjectName name;
    name.Name = ReadPart(text, pos, stops);
    if (pos < text.size() && text[pos] == u'.') {
        ++pos;
        name.Database = name.Name;
        name.Name = ReadPart(text, pos, stops);
        if (pos < text.size() && text[pos] == u'.')
            Fail(QStringLiteral("The name %1 has more parts than database.name: a dot inside a name needs "
                                "backticks (`a.b`)")
                     .arg(text.mid(start).trimmed()));
        if (name.Database.isEmpty() || name.Name.isEmpty())
            Fail(QStringLiteral("The name %1 has an empty part").arg(text.mid(start, pos - start).trimmed()));
    }
    return name;
}

}  // namespace

bool IsReservedWord(const QString& word) { return ReservedWords().contains(AsciiUpper(word)); }

bool IdentifierNeedsQuotes(const QString& raw) {
    if (raw.isEmpty() || !IsAsciiLetter(raw.front())) return true;
    for (const QChar c : raw)
        if (!IsAsciiLetter(c) && !(c >= u'0' && c <= u'9') && c != u'_' && c != u'$') return true;
    return IsReservedWord(raw);
}

QString QuoteIdentifier(const QString& raw) {
    QString quoted;
    quoted.reserve(raw.size() + 2);
    quoted += u'`';
    for (const QChar c : raw) {
        if (c == u'`') quoted += u'`';
        quoted += c;
    }
    quoted += u'`';
    return quoted;
}

QString QuoteIdentifier(const QString& raw, bool always) {
    return always || IdentifierNeedsQuotes(raw) ? QuoteIdentifier(raw) : raw;
}

QString QuoteObjectName(const TObjectName& name, bool always) {
    if (name.Database.isEmpty()) return QuoteIdentifier(name.Name, always);
    return QuoteIdentifier(name.Database, always) + u'.' + QuoteIdentifier(name.Name, always);
}

QString QuoteString(const QString& value, bool backslashEscapes) { return EscapeWideString(value, backslashEscapes); }

QString ParseIdentifier(const QString& text) {
    qsizetype pos = 0;
    const QString name = ReadPart(text, pos, {});
    if (name.isEmpty()) Fail(QStringLiteral("The name is empty"));
    return name;
}

TObjectName ParseObjectName(const QString& text) {
    qsizetype pos = 0;
    const TObjectName name = ReadObjectName(text, pos, QString());
    if (name.Name.isEmpty()) Fail(QStringLiteral("The name is empty"));
    return name;
}

std::vector<TObjectName> ParseObjectNameList(const QString& text) {
    static const QString separators = QStringLiteral(",;");
    std::vector<TObjectName> names;
    qsizetype pos = 0;
    while (pos < text.size()) {
        TObjectName name = ReadObjectName(text, pos, separators);
        if (!name.Name.isEmpty()) names.push_back(std::move(name));
        ++pos;  // the separator
    }
    return names;
}

QString TypedObjectName(const TObjectName& name) { return QuoteObjectName(name, false); }

}  // namespace calvoro::dac
