#include "SynHighlighterMySQL.h"

#include <Qsci/qsciscintilla.h>

#include <QFontDatabase>

namespace calvoro::app {

namespace {

// The reserved words of MySQL and MariaDB (the type names are in the data-type list) and the
// words that begin or shape common statements. Words that often name tables or columns (status,
// user, comment, data) are left out: Scintilla's lexer tries this list before the table names.
const char* const Keywords =
    "accessible action add after against aggregate algorithm all alter always analyze and any as "
    "asc asensitive auto_increment avg_row_length before begin between both by call cascade "
    "cascaded case change character charset check checksum close coalesce collate collation "
    "column columns commit committed compact compressed concurrent condition constraint contains "
    "continue convert create cross cube cume_dist current current_date current_role current_time "
    "current_timestamp current_user cursor database databases day_hour day_microsecond "
    "day_minute day_second deallocate declare default definer delay_key_write delayed delete "
    "delete_domain_id delimiter dense_rank desc describe deterministic disable discard distinct "
    "distinctrow div do do_domain_ids drop dual duplicate dynamic each else elseif empty enable "
    "enclosed end engine engines escape escaped event events except exists exit explain extended "
    "false fetch fields first first_value flush following for force foreign format from full "
    "fulltext function general generated get global grant grants group grouping groups handler "
    "having high_priority hour_microsecond hour_minute hour_second identified if ignore "
    "ignore_domain_ids ignore_server_ids in index indexes infile inner inout insensitive insert "
    "install intersect interval into invoker io_after_gtids io_before_gtids is isolation iterate "
    "join json_table key keys kill lag last last_value lateral lead leading leave left level like "
    "limit linear lines load local localtime localtimestamp lock logs loop low_priority "
    "master_bind master_heartbeat_period master_ssl_verify_server_cert match maxvalue merge "
    "minute_microsecond minute_second mod modifies modify natural next no no_write_to_binlog not "
    "nth_value ntile null of offset on only open optimize optimizer_costs option optionally or "
    "order out outer outfile over page_checksum parse_vcol_expr partition partitions "
    "percent_rank plugin position preceding precision prepare primary privileges procedure "
    "processlist purge range rank read read_write reads recursive redundant ref_system_id "
    "references regexp release rename repair repeat repeatable replace require resignal restrict "
    "return returning returns revoke right rlike rollback routine row row_format row_number rows "
    "savepoint schema schemas second_microsecond security select sensitive separator serializable "
    "session set share show signal signed slow spatial specific sql sql_big_result "
    "sql_calc_found_rows sql_small_result sqlexception sqlstate sqlwarning ssl start starting "
    "stats_auto_recalc stats_persistent stats_sample_pages stored straight_join system table "
    "tables temporary temptable terminated then to trailing transaction trigger triggers true "
    "truncate unbounded uncommitted undefined undo union unique unlock unsigned update usage use "
    "using utc_date utc_time utc_timestamp values variables view virtual warnings when where "
    "while window with work write xor year_month zerofill";

// The type names, with their synonyms.
const char* const DataTypes =
    "bigint binary bit blob bool boolean char date datetime dec decimal double enum fixed float "
    "float4 float8 geometry geometrycollection inet4 inet6 int int1 int2 int3 int4 int8 integer "
    "json linestring long longblob longtext mediumblob mediumint mediumtext middleint "
    "multilinestring multipoint multipolygon nchar numeric nvarchar point polygon real serial "
    "smallint text time timestamp tinyblob tinyint tinytext uuid varbinary varchar varcharacter "
    "year";

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
// A byte of an unquoted identifier: ASCII letters, digits, '_', '$' and the bytes of non-ASCII
// characters.
bool IsWordByte(char c) { return IsAsciiLetter(c) || IsDigit(c) || c == '_' || c == '$' || uchar(c) >= 0x80; }
// A byte Scintilla's SQL lexer takes into a word.
bool IsLexerWordByte(char c) { return IsAsciiLetter(c) || IsDigit(c) || c == '_'; }

bool IsLexerWord(QByteArrayView word) {
    if (word.isEmpty() || IsDigit(word[0])) return false;
    for (char c : word)
        if (!IsLexerWordByte(c)) return false;
    return true;
}

// Lower case as the lookups compare: Unicode lowering, which for ASCII is the lexer's own.
QByteArray Lowered(QByteArrayView utf8) { return QString::fromUtf8(utf8).toLower().toUtf8(); }

// The position after the quote that closes the one at `open`, or -1 when the line does not
// close it. A doubled quote stands for itself; in strings a backslash escapes the next byte.
qsizetype QuoteEnd(const QByteArray& text, qsizetype open) {
    const char quote = text[open];
    const qsizetype n = text.size();
    for (qsizetype i = open + 1; i < n; ++i) {
        const char c = text[i];
        if (c == '\\' && quote != '`') {
            ++i;
        } else if (c == quote) {
            if (i + 1 < n && text[i + 1] == quote) ++i;
            else return i + 1;
        } else if (c == '\n' || c == '\r') {
            return -1;
        }
    }
    return -1;
}

// The end of the variable whose '@' is at `at`, or `at` when none starts there: @name, @@name,
// @@session.name, @`name`, @'name', @"name".
qsizetype VariableEnd(const QByteArray& text, qsizetype at) {
    const qsizetype n = text.size();
    qsizetype k = at + 1;
    if (k < n && text[k] == '@') ++k;
    if (k < n && (text[k] == '`' || text[k] == '\'' || text[k] == '"')) {
        const qsizetype end = QuoteEnd(text, k);
        return end < 0 ? at : end;
    }
    qsizetype end = k;
    while (end < n && (IsWordByte(text[end]) || text[end] == '.')) ++end;
    return end > k ? end : at;
}

// A byte after which '@' joins an account name (user@host, 'user'@'host') instead of starting a
// variable.
bool JoinsAccount(char c) { return IsWordByte(c) || c == '.' || c == '`' || c == '\'' || c == '"' || c == '@'; }

// Styles the lexer gives to the bytes of an unquoted word outside comments and strings.
bool IsWordStyle(int style) {
    return style == QsciLexerSQL::Default || style == QsciLexerSQL::Identifier ||
           style == QsciLexerSQL::Keyword || style == TSynMySQLLexer::StyleDataType ||
           style == TSynMySQLLexer::StyleTableName;
}

void Fill(QByteArray& styles, qsizetype from, qsizetype to, int style) {
    for (qsizetype i = from; i < to; ++i) styles[i] = char(style);
}

// Every style the lexer and the restyling produce, to be set up in the editor.
constexpr int UsedStyles[] = {
    QsciLexerSQL::Default,
    QsciLexerSQL::Comment,
    QsciLexerSQL::CommentLine,
    QsciLexerSQL::CommentDoc,
    QsciLexerSQL::Number,
    QsciLexerSQL::Keyword,
    QsciLexerSQL::DoubleQuotedString,
    QsciLexerSQL::SingleQuotedString,
    QsciLexerSQL::Operator,
    QsciLexerSQL::Identifier,
    TSynMySQLLexer::StyleVariable,
    TSynMySQLLexer::StyleQuotedTableName,
    QsciLexerSQL::CommentLineHash,
    TSynMySQLLexer::StyleDataType,
    QsciLexerSQL::CommentDocKeyword,
    QsciLexerSQL::CommentDocKeywordError,
    TSynMySQLLexer::StyleTableName,
    QsciLexerSQL::QuotedIdentifier,
    QsciLexerSQL::QuotedOperator,
};

}  // namespace

const char* SynTokenKindName(TSynTokenKind kind) {
    switch (kind) {
    case TSynTokenKind::Comment: return "comment";
    case TSynTokenKind::DataType: return "datatype";
    case TSynTokenKind::Keyword: return "keyword";
    case TSynTokenKind::Number: return "number";
    case TSynTokenKind::String: return "string";
    case TSynTokenKind::Symbol: return "symbol";
    case TSynTokenKind::TableName: return "tablename";
    case TSynTokenKind::Variable: return "variable";
    case TSynTokenKind::Identifier: return "identifier";
    case TSynTokenKind::Other: return "other";
    }
    return "other";
}

// ---- TSynMySQL

TSynMySQL::TSynMySQL(QObject* parent) : QObject(parent), FFont(QFontDatabase::systemFont(QFontDatabase::FixedFont)) {
    setObjectName(QStringLiteral("SynMySQL"));
    const QColor black(Qt::black);
    auto set = [this](TSynTokenKind kind, QColor color, bool bold = false, bool underline = false) {
        FAttributes[size_t(kind)] = TSynAttributes{color, bold, false, underline};
    };
    set(TSynTokenKind::Comment, QColor(Qt::darkGray));
    set(TSynTokenKind::DataType, black, true, true);
    set(TSynTokenKind::Keyword, black);
    set(TSynTokenKind::Number, QColor(Qt::blue), true);
    set(TSynTokenKind::String, QColor(0x00, 0x5A, 0xE1));
    set(TSynTokenKind::Symbol, QColor(0x80, 0x00, 0x00));
    set(TSynTokenKind::TableName, QColor(0x00, 0x80, 0x80), false, true);
    set(TSynTokenKind::Variable, QColor(0x80, 0x00, 0x80), true);
    set(TSynTokenKind::Identifier, black);
    set(TSynTokenKind::Other, black);
}

TSynMySQL::~TSynMySQL() = default;

void TSynMySQL::SetAttributes(TSynTokenKind kind, const TSynAttributes& attributes) {
    if (FAttributes[size_t(kind)] == attributes) return;
    FAttributes[size_t(kind)] = attributes;
    emit StylesChanged();
}

void TSynMySQL::SetFont(const QFont& font) {
    if (FFont == font) return;
    FFont = font;
    emit StylesChanged();
}

QFont TSynMySQL::FontOf(TSynTokenKind kind) const {
    const TSynAttributes& a = Attributes(kind);
    QFont font = FFont;
    font.setBold(a.Bold);
    font.setItalic(a.Italic);
    font.setUnderline(a.Underline);
    return font;
}

void TSynMySQL::ClearTableNames() {
    if (FTableNames.isEmpty()) return;
    FTableNames.clear();
    FQuotedNames.clear();
    FBareNames.clear();
    FTableNameListValid = false;
    emit TableNamesChanged();
}

void TSynMySQL::AddTableName(const QString& name) {
    if (name.isEmpty()) return;
    FTableNames.append(name);
    const QByteArray utf8 = name.toUtf8();
    if (utf8.size() >= 2 && utf8.startsWith('`') && utf8.endsWith('`')) FQuotedNames.insert(utf8);
    else FBareNames.insert(Lowered(utf8));
    FTableNameListValid = false;
    emit TableNamesChanged();
}

bool TSynMySQL::IsQuotedTableName(QByteArrayView quoted) const {
    return FQuotedNames.contains(quoted.toByteArray());
}

bool TSynMySQL::IsBareTableName(QByteArrayView word) const { return FBareNames.contains(Lowered(word)); }

const char* TSynMySQL::KeywordList() { return Keywords; }
const char* TSynMySQL::DataTypeList() { return DataTypes; }

const QByteArray& TSynMySQL::TableNameList() const {
    if (!FTableNameListValid) {
        FTableNameList.clear();
        for (const QByteArray& name : FBareNames) {
            if (!IsLexerWord(name)) continue;
            if (!FTableNameList.isEmpty()) FTableNameList += ' ';
            FTableNameList += name;
        }
        FTableNameListValid = true;
    }
    return FTableNameList;
}

// ---- TSynMySQLLexer

TSynMySQLLexer::TSynMySQLLexer(TSynMySQL* highlighter, QObject* parent)
    : QsciLexerSQL(parent), FHighlighter(highlighter) {
    setHashComments(true);
    setQuotedIdentifiers(true);
    setBackslashEscapes(true);
    setDottedWords(false);
    setFoldComments(false);
    ApplyStyles();
    if (highlighter) {
        connect(highlighter, &TSynMySQL::StylesChanged, this, &TSynMySQLLexer::ApplyStyles);
        connect(highlighter, &TSynMySQL::TableNamesChanged, this, &TSynMySQLLexer::TableNamesChanged);
    }
}

TSynMySQLLexer::~TSynMySQLLexer() = default;

TSynTokenKind TSynMySQLLexer::KindOfStyle(int style) {
    switch (style) {
    case Comment:
    case CommentLine:
    case CommentDoc:
    case CommentLineHash:
    case CommentDocKeyword:
    case CommentDocKeywordError: return TSynTokenKind::Comment;
    case Number: return TSynTokenKind::Number;
    case Keyword: return TSynTokenKind::Keyword;
    case DoubleQuotedString:
    case SingleQuotedString:
    case QuotedOperator: return TSynTokenKind::String;
    case Operator: return TSynTokenKind::Symbol;
    case Identifier:
    case QuotedIdentifier: return TSynTokenKind::Identifier;
    case StyleVariable: return TSynTokenKind::Variable;
    case StyleQuotedTableName:
    case StyleTableName: return TSynTokenKind::TableName;
    case StyleDataType: return TSynTokenKind::DataType;
    default: return TSynTokenKind::Other;
    }
}

const char* TSynMySQLLexer::language() const { return "MySQL"; }

const char* TSynMySQLLexer::keywords(int set) const {
    switch (set) {
    case 1: return TSynMySQL::KeywordList();
    case 2: return TSynMySQL::DataTypeList();
    case 5: return FHighlighter ? FHighlighter->TableNameList().constData() : "";
    default: return "";  // no PL/SQL doc words, no SQL*Plus commands
    }
}

QColor TSynMySQLLexer::defaultColor(int style) const {
    if (!FHighlighter) return QColor(Qt::black);
    return FHighlighter->Attributes(KindOfStyle(style)).Foreground;
}

QFont TSynMySQLLexer::defaultFont(int style) const {
    if (!FHighlighter) return QFontDatabase::systemFont(QFontDatabase::FixedFont);
    return FHighlighter->FontOf(KindOfStyle(style));
}

QColor TSynMySQLLexer::defaultPaper(int) const { return QColor(Qt::white); }

QString TSynMySQLLexer::description(int style) const {
    switch (style) {
    case StyleVariable: return QStringLiteral("Variable");
    case StyleQuotedTableName: return QStringLiteral("Quoted table name");
    case StyleDataType: return QStringLiteral("Data type");
    case StyleTableName: return QStringLiteral("Table name");
    default: return QsciLexerSQL::description(style);
    }
}

void TSynMySQLLexer::ApplyStyles() {
    // The editor takes each change as it comes (QsciLexer signals each one).
    const QFont plain = defaultFont(Default);
    setDefaultFont(plain);
    setDefaultColor(defaultColor(Default));
    setDefaultPaper(defaultPaper(Default));
    for (int style : UsedStyles) {
        setFont(defaultFont(style), style);
        setColor(defaultColor(style), style);
        setPaper(defaultPaper(style), style);
    }
}

void TSynMySQLLexer::TableNamesChanged() {
    // Adding a whole schema's names one by one sends one change each: the word list goes to
    // the editor once, when it next styles.
    FTableNamesStale = true;
    if (QsciScintilla* e = editor()) e->viewport()->update();
}

void TSynMySQLLexer::StyleLines(int first, int last) {
    QsciScintilla* const e = editor();
    if (!e) return;
    using Sci = QsciScintillaBase;
    if (FTableNamesStale) {
        FTableNamesStale = false;
        // Scintilla lexes again from the start when the list differs from the one it has.
        e->SendScintilla(Sci::SCI_SETKEYWORDS, 4ul, keywords(5));
    }
    const long lineCount = e->SendScintilla(Sci::SCI_GETLINECOUNT);
    first = std::max(first, 0);
    last = std::min<long>(last, lineCount - 1);
    if (first > last) return;
    const long start = e->SendScintilla(Sci::SCI_POSITIONFROMLINE, first);
    const long end = last + 1 < lineCount ? e->SendScintilla(Sci::SCI_POSITIONFROMLINE, last + 1)
                                          : e->SendScintilla(Sci::SCI_GETLENGTH);
    long endStyled = e->SendScintilla(Sci::SCI_GETENDSTYLED);
    if (endStyled < end) {
        const long line = e->SendScintilla(Sci::SCI_LINEFROMPOSITION, endStyled);
        const long from = e->SendScintilla(Sci::SCI_POSITIONFROMLINE, line);
        e->SendScintilla(Sci::SCI_COLOURISE, from, end);
        endStyled = e->SendScintilla(Sci::SCI_GETENDSTYLED);
    }
    if (end <= start) return;

    // Scintilla hands out the range as pairs of text byte and style byte.
    QByteArray pairs(2 * (end - start) + 2, '\0');
    e->SendScintilla(Sci::SCI_GETSTYLEDTEXT, start, end, pairs.data());
    QByteArray text(end - start, '\0'), styles(end - start, '\0');
    for (qsizetype i = 0; i < end - start; ++i) {
        text[i] = pairs[2 * i];
        styles[i] = pairs[2 * i + 1];
    }
    const QByteArray stored = styles;
    for (int line = first; line <= last; ++line) {
        const long from = e->SendScintilla(Sci::SCI_POSITIONFROMLINE, line) - start;
        const long to =
            line + 1 < lineCount ? e->SendScintilla(Sci::SCI_POSITIONFROMLINE, line + 1) - start : end - start;
        QByteArray lineStyles = styles.mid(from, to - from);
        RestyleLine(text.mid(from, to - from), lineStyles);
        styles.replace(from, to - from, lineStyles);
    }

    // Only the spans that changed are written; each write makes Scintilla repaint them.
    for (qsizetype i = 0; i < end - start;) {
        if (styles[i] == stored[i]) {
            ++i;
            continue;
        }
        qsizetype j = i;
        while (j < end - start && styles[j] != stored[j]) ++j;
        e->SendScintilla(Sci::SCI_STARTSTYLING, start + i, 0l);
        e->SendScintilla(Sci::SCI_SETSTYLINGEX, uintptr_t(j - i), styles.constData() + i);
        i = j;
    }
    // Writing styles moves Scintilla's "styled up to" mark; put it back so that the lexer does
    // not run again over what it has done.
    e->SendScintilla(Sci::SCI_STARTSTYLING, endStyled, 0l);
}

void TSynMySQLLexer::RestyleLine(const QByteArray& text, QByteArray& styles) const {
    const qsizetype n = text.size();
    auto styleAt = [&](qsizetype i) { return int(uchar(styles[i])); };
    auto isQuoted = [&](qsizetype i) {
        return styleAt(i) == QuotedIdentifier || styleAt(i) == StyleQuotedTableName;
    };
    qsizetype i = 0;
    while (i < n) {
        const char c = text[i];
        if (isQuoted(i)) {
            // A backquoted identifier: one run of the quoted-identifier style, as no other
            // identifier can follow it without a byte between. The run is a name when it opens
            // and closes in this line; the end of an identifier begun on an earlier line never
            // reads so (its first backquote closes or doubles one).
            qsizetype end = i;
            while (end < n && isQuoted(end)) ++end;
            const bool table = c == '`' && QuoteEnd(text, i) == end && FHighlighter &&
                               FHighlighter->IsQuotedTableName(QByteArrayView(text).sliced(i, end - i));
            Fill(styles, i, end, table ? int(StyleQuotedTableName) : int(QuotedIdentifier));
            i = end;
            continue;
        }
        if (c == '@' && (styleAt(i) == Default || styleAt(i) == StyleVariable) &&
            (i == 0 || !JoinsAccount(text[i - 1]))) {
            const qsizetype end = VariableEnd(text, i);
            if (end > i) {
                Fill(styles, i, end, StyleVariable);
                i = end;
                continue;
            }
        }
        if (IsWordByte(c)) {
            qsizetype end = i;
            bool lexerSplits = false, code = true;
            for (; end < n && IsWordByte(text[end]); ++end) {
                lexerSplits = lexerSplits || !IsLexerWordByte(text[end]);
                code = code && (IsWordStyle(styleAt(end)) || styleAt(end) == Number);
            }
            const QByteArrayView word = QByteArrayView(text).sliced(i, end - i);
            if (code && c == '0' && word.size() > 2) {
                // 0x1F, 0b101: the lexer ends the number at the letter.
                const char radix = word[1];
                bool digits = radix == 'x' || radix == 'X' || radix == 'b' || radix == 'B';
                for (qsizetype k = 2; digits && k < word.size(); ++k)
                    digits = (radix == 'x' || radix == 'X') ? IsHexDigit(word[k]) : (word[k] == '0' || word[k] == '1');
                if (digits) Fill(styles, i, end, Number);
            } else if (code && lexerSplits && !IsDigit(c)) {
                const bool table = FHighlighter && FHighlighter->IsBareTableName(word);
                Fill(styles, i, end, table ? int(StyleTableName) : int(Identifier));
            }
            i = end;
            continue;
        }
        ++i;
    }
}

}  // namespace calvoro::app
