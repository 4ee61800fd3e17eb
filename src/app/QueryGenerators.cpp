#include "QueryGenerators.h"

#include "DataUnit.h"
#include "toolkit.h"
#include "common/Exceptions.h"
#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/mysql/MySqlIdentifier.h"
#include "dataaccess/mysql/MySqlInfo.h"
#include "sqltext/CRParser.h"
#include "sqltext/MyParser.h"

#include <QRegularExpression>
#include <QStringList>

#include <exception>

namespace calvoro::app {

const QString InvalidDBObjectText = QStringLiteral("Invalid database object!");

namespace {

const QString CRLF = QStringLiteral("\r\n");

// Trimmed of blanks and control characters at both ends.
QString TrimControls(const QString& s) {
    qsizetype begin = 0, end = s.size();
    while (begin < end && s[begin].unicode() <= u' ') ++begin;
    while (end > begin && s[end - 1].unicode() <= u' ') --end;
    return s.mid(begin, end - begin);
}

// The lines, each followed by CR LF.
QString TextOf(const QStringList& lines) {
    QString text;
    for (const QString& line : lines) text += line + CRLF;
    return text;
}

QString Packed(const QStringList& lines, bool eachFieldOnNewRow) {
    return eachFieldOnNewRow ? TextOf(lines) : PackLines(TextOf(lines));
}

// "," after every line but the last of those from `first` on.
void SeparateLines(QStringList& lines, qsizetype first, const QString& separator) {
    for (qsizetype i = first; i + 1 < lines.size(); ++i) lines[i] += separator;
}

// Q(alias) + "." when there is an alias.
QString Qualifier(const QString& alias, bool quote) {
    return alias.isEmpty() ? QString() : QuoteName(alias, quote) + u'.';
}

// The parameter name of a column: the bare name. A name the data access layer would not read
// as one parameter name is made runnable, with quoting on or off: backticks dropped (a quoted
// parameter name cannot hold one), then in backticks when a blank or the like remains.
QString ParamName(const QString& field) {
    const QString name = QString(field).remove(u'`');
    bool plain = !name.isEmpty() && !name.front().isDigit();
    for (QChar c : name) plain = plain && (c.isLetterOrNumber() || c == u'_' || c == u'$');
    return plain ? name : QuoteName(name, true);
}

bool IsKey(const TDescribeRow& row) { return row.Key.toUpper() == u"PRI"; }

// "WHERE " and one "  Q(key) = :key" line per key column, joined by " AND ".
QStringList WhereList(const TDescribeRows& fields, const QString& alias, bool quote) {
    QStringList lines{QStringLiteral("WHERE ")};
    for (const TDescribeRow& row : fields)
        if (IsKey(row))
            lines << QStringLiteral("  ") + Qualifier(alias, quote) + QuoteName(row.Field, quote) +
                         QStringLiteral(" = :") + ParamName(row.Field);
    SeparateLines(lines, 1, QStringLiteral(" AND "));
    return lines;
}

// A text of the server without quoting off: every backquoted identifier that reads the same
// bare loses its backticks; names that need them, strings and comments stay as they are.
QString WithoutBackticks(const QString& s, bool quote) {
    if (quote) return s;
    QString out;
    out.reserve(s.size());
    try {
        sqltext::TMyParser parser(s);
        parser.FOmitBlank = false;
        parser.FOmitComment = false;
        parser.FUppered = false;
        parser.FQuotedString = true;
        // The lexer ends a quoted name at a doubled backtick and begins the next lexeme there:
        // adjacent quoted lexemes are one name.
        QString lexeme, quoted;
        const auto flush = [&] {
            if (!quoted.isEmpty()) out += dac::QuoteIdentifier(dac::TMySQLInfo::UnQuote(quoted), false);
            quoted.clear();
        };
        int code;
        while ((code = parser.GetNext(lexeme)) != sqltext::lexEnd) {
            if (code == sqltext::lexIdent && lexeme.startsWith(u'`')) {
                quoted += lexeme;
                continue;
            }
            flush();
            out += lexeme;
        }
        flush();
    } catch (const sqltext::EParserError&) {
        // A character the lexer refuses: the text is shown as the server sent it, which is
        // right SQL, only quoted more than asked.
        return s;
    }
    return out;
}

QString FieldLines(const TDescribeRows& fields, const QString& alias, bool quote, bool eachFieldOnNewRow,
                   bool withType) {
    QStringList lines;
    for (const TDescribeRow& row : fields)
        lines << Qualifier(alias, quote) + QuoteName(row.Field, quote) + (withType ? u' ' + row.Type : QString());
    SeparateLines(lines, 0, QStringLiteral(","));
    return Packed(lines, eachFieldOnNewRow);
}

}  // namespace

bool ActionReadsFields(int action) {
    switch (action) {
        case gaSelect: case gaInsert: case gaUpdate: case gaDelete: case gaFieldList: case gaFieldTypeList:
            return true;
        default:
            return false;
    }
}

bool ActionReadsCreate(int action) { return action == gaCreate; }

QString GenerateStatement(const TDBObjectInfo& info, const QString& name, bool isView, int action,
                          const QString& alias, bool quote, bool eachFieldOnNewRow) {
    switch (action) {
        case gaName: return Qualifier(alias, quote) + QuoteName(name, quote);
        case gaSelect: return GenerateSelect(info.Fields, name, alias, quote, eachFieldOnNewRow);
        case gaInsert: return GenerateInsert(info.Fields, name, quote, eachFieldOnNewRow);
        case gaUpdate: return GenerateUpdate(info.Fields, name, alias, quote, eachFieldOnNewRow);
        case gaDelete: return GenerateDelete(info.Fields, name, quote, eachFieldOnNewRow);
        case gaCreate: return GenerateCreate(info.CreateText, isView, quote);
        case gaAlter: return GenerateAlter(name, isView, quote);
        case gaDrop: return GenerateDrop(name, isView, quote);
        case gaFieldList: return GenerateFieldList(info.Fields, alias, quote, eachFieldOnNewRow);
        case gaFieldTypeList: return GenerateFieldTypeList(info.Fields, alias, quote, eachFieldOnNewRow);
        default: return QString();
    }
}

QString GenerateSelect(const TDescribeRows& fields, const QString& name, const QString& alias, bool quote,
                       bool eachFieldOnNewRow) {
    QStringList lines{QStringLiteral("SELECT ")};
    for (const TDescribeRow& row : fields) lines << QStringLiteral("  ") + Qualifier(alias, quote) + QuoteName(row.Field, quote);
    SeparateLines(lines, 1, QStringLiteral(","));
    QString from = QStringLiteral("FROM ") + QuoteName(name, quote);
    if (!alias.isEmpty()) from += u' ' + QuoteName(alias, quote);
    return Packed(lines, eachFieldOnNewRow) + from + CRLF;
}

QString GenerateInsert(const TDescribeRows& fields, const QString& name, bool quote, bool eachFieldOnNewRow) {
    QStringList columns{QStringLiteral("INSERT INTO ") + QuoteName(name, quote), QStringLiteral(" (")};
    // The server takes VALUE like VALUES.
    QStringList values{QStringLiteral("VALUE"), QStringLiteral(" (")};
    for (const TDescribeRow& row : fields) {
        columns << QStringLiteral("  ") + QuoteName(row.Field, quote);
        values << QStringLiteral("  :") + ParamName(row.Field);
    }
    SeparateLines(columns, 2, QStringLiteral(","));
    SeparateLines(values, 2, QStringLiteral(","));
    columns << QStringLiteral(" )");
    values << QStringLiteral(" )");
    return Packed(columns, eachFieldOnNewRow) + Packed(values, eachFieldOnNewRow);
}

QString GenerateUpdate(const TDescribeRows& fields, const QString& name, const QString& alias, bool quote,
                       bool eachFieldOnNewRow) {
    QString head = QStringLiteral("UPDATE ") + QuoteName(name, quote);
    if (!alias.isEmpty()) head += u' ' + QuoteName(alias, quote);
    QStringList lines{head, QStringLiteral("SET ")};
    for (const TDescribeRow& row : fields)
        if (!IsKey(row))
            lines << QStringLiteral("  ") + Qualifier(alias, quote) + QuoteName(row.Field, quote) +
                         QStringLiteral(" = :") + ParamName(row.Field);
    SeparateLines(lines, 2, QStringLiteral(","));
    return Packed(lines, eachFieldOnNewRow) + Packed(WhereList(fields, alias, quote), eachFieldOnNewRow);
}

QString GenerateDelete(const TDescribeRows& fields, const QString& name, bool quote, bool eachFieldOnNewRow) {
    return QStringLiteral("DELETE FROM ") + QuoteName(name, quote) + CRLF +
           Packed(WhereList(fields, QString(), quote), eachFieldOnNewRow);
}

QString GenerateCreate(const std::optional<QString>& createText, bool isView, bool quote) {
    if (!createText) return InvalidDBObjectText;
    return WithoutBackticks(isView ? FormatViewDefinition(*createText) : *createText, quote);
}

QString GenerateAlter(const QString& name, bool isView, bool quote) {
    return (isView ? QStringLiteral("ALTER VIEW ") : QStringLiteral("ALTER TABLE ")) + QuoteName(name, quote);
}

QString GenerateDrop(const QString& name, bool isView, bool quote) {
    return (isView ? QStringLiteral("DROP VIEW IF EXISTS ") : QStringLiteral("DROP TABLE IF EXISTS ")) +
           QuoteName(name, quote);
}

QString GenerateFieldList(const TDescribeRows& fields, const QString& alias, bool quote, bool eachFieldOnNewRow) {
    return FieldLines(fields, alias, quote, eachFieldOnNewRow, false);
}

QString GenerateFieldTypeList(const TDescribeRows& fields, const QString& alias, bool quote,
                              bool eachFieldOnNewRow) {
    return FieldLines(fields, alias, quote, eachFieldOnNewRow, true);
}

QString PackLines(const QString& text) {
    QStringList lines = text.split(QRegularExpression(QStringLiteral("\r\n|\n|\r")));
    // A final line break ends the last line; it does not begin another.
    if (lines.size() > 1 && lines.back().isEmpty()) lines.removeLast();
    QStringList out{QString()};
    for (const QString& line : lines) {
        const QString l = TrimControls(line);
        const QString joined = TrimControls(out.back() + u' ' + l);
        if (joined.size() > 79)
            out << l;
        else
            out.back() = joined;
    }
    return TextOf(out);
}

QString FormatViewDefinition(const QString& s) {
    const QString asSelect = QStringLiteral(" AS SELECT ");
    const qsizetype a = s.indexOf(asSelect, 0, Qt::CaseInsensitive);
    // " FROM " after the select keyword: a view's own name may hold the word too.
    const qsizetype b = a < 0 ? -1 : s.indexOf(QStringLiteral(" FROM "), a + asSelect.size(), Qt::CaseInsensitive);
    if (a < 0 || b < 0) return s;
    // The head keeps the select list's first character, so that a list that starts with a
    // backtick keeps it at the start of its line.
    const qsizetype listStart = a + asSelect.size() + 1;
    // Trimmed at its end only: a blank at its start separates it from that first character
    // (as in "select 1 AS `x`").
    QString list = s.mid(listStart, b + 1 - listStart);
    while (!list.isEmpty() && list.back().isSpace()) list.chop(1);
    list.replace(QStringLiteral("`,`"), QStringLiteral("`,\r\n  `"));
    QString head = s.left(listStart).trimmed();
    const qsizetype h = head.indexOf(asSelect, 0, Qt::CaseInsensitive);
    head.replace(h, asSelect.size(), QStringLiteral("\r\n  AS\r\nSELECT\r\n"));
    QString tail = s.mid(b);
    tail.replace(0, 6, QStringLiteral("\r\nFROM\r\n  "));
    return head + list + tail;
}

TDescribeRows ReadDescribe(TData& data, const QString& name) {
    if (data.Busy()) Abort();
    TData::TBusy busy(data);
    dac::TMyQuery& query = *data.CustomQuery;
    const QString statement = QStringLiteral("DESCRIBE ") + QuoteIdentifier(name);
    if (!query.Active() || query.SQL().Text().trimmed() != statement) {
        query.Close();
        query.SQL().SetText(statement);
        query.Open();
    }
    TDescribeRows rows;
    for (query.First(); !query.Eof(); query.Next())
        rows.push_back({query.FieldByName(QStringLiteral("Field")).AsString(),
                        query.FieldByName(QStringLiteral("Type")).AsString(),
                        query.FieldByName(QStringLiteral("Key")).AsString()});
    return rows;
}

std::optional<QString> ReadShowCreate(TData& data, const QString& name) {
    if (data.Busy()) Abort();
    TData::TBusy busy(data);
    dac::TMyQuery& query = *data.CustomQuery;
    try {
        // Compared whole, not by its start: other tabs use CustomQuery too.
        const QString statement = QStringLiteral("SHOW CREATE TABLE ") + QuoteIdentifier(name);
        if (!query.Active() || query.SQL().Text().trimmed() != statement) {
            query.Close();
            query.SQL().SetText(statement);
            query.Open();
        }
        if (query.Eof() || query.FieldCount() < 2) return std::nullopt;
        return query.Fields()[1].AsString();
    } catch (const std::exception&) {
        // Every failure (a dropped object, a lost connection) shows as InvalidDBObjectText.
        return std::nullopt;
    }
}

TDBObjectInfo ReadDBObjectInfo(TData& data, const QString& name, int action) {
    TDBObjectInfo info;
    if (ActionReadsFields(action)) info.Fields = ReadDescribe(data, name);
    if (ActionReadsCreate(action)) info.CreateText = ReadShowCreate(data, name);
    return info;
}

}  // namespace calvoro::app
