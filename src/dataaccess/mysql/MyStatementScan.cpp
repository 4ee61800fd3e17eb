#include "MyStatementScan.h"

#include "MySqlInfo.h"
#include "sqltext/MyParser.h"

namespace calvoro::dac {

using namespace sqltext;

TStatementScan::TStatementScan(const QString& sql) : FText(sql) {
    // Blanks and comments come as lexemes of their own (and are dropped here), so that a
    // lexeme's position is where its own text starts.
    TMyParser parser(sql);
    parser.FOmitBlank = false;
    parser.FOmitComment = false;
    parser.FUppered = false;
    QString lexeme;
    int depth = 0;
    for (int code; (code = parser.GetNext(lexeme)) != lexEnd;) {
        if (code == lexBlank) continue;  // comments stay: AddWhere looks at them
        if (lexeme == u")") --depth;
        const qsizetype pos = parser.PrevPos();
        // The lexer ends a quoted name at a doubled backtick and begins the next lexeme there:
        // a quoted lexeme right after another is the same name.
        if (code == lexIdent && lexeme.startsWith(u'`') && !FTokens.empty()) {
            Token& last = FTokens.back();
            if (last.Code == lexIdent && last.Text.startsWith(u'`') && last.Pos + last.Length == pos) {
                last.Text += lexeme;
                last.Upper = last.Text.toUpper();
                last.Length = parser.CurrPos() - last.Pos;
                continue;
            }
        }
        FTokens.push_back({code, lexeme.toUpper(), lexeme, pos, qsizetype(parser.CurrPos() - pos), depth});
        if (lexeme == u"(") ++depth;
    }
}

bool TStatementScan::Has(std::initializer_list<const char*> words) const {
    auto word = words.begin();
    for (const Token& t : FTokens) {
        if (word == words.end()) break;
        if (t.Code != lexString && t.Upper == QLatin1String(*word)) ++word;
    }
    return word == words.end();
}

bool TStatementScan::IsProcCall() const { return !FTokens.empty() && FTokens.front().Upper == u"CALL"; }

QString TStatementScan::WithLimit0() const {
    // The first SELECT that is not part of a SET.
    size_t select = FTokens.size();
    for (size_t i = 0; i < FTokens.size(); ++i) {
        if (FTokens[i].Code == lexString || FTokens[i].Upper != u"SELECT") continue;
        bool afterSet = false;
        for (size_t j = 0; j < i; ++j)
            if (FTokens[j].Upper == u"SET" && FTokens[j].Code != lexString) afterSet = true;
        if (!afterSet) select = i;
        break;
    }
    if (IsProcCall() || select == FTokens.size()) return FText;
    const int depth = FTokens[select].Depth;
    auto outer = [&](const Token& t) { return t.Depth == depth && t.Code != lexString; };

    // LIMIT count | LIMIT offset, count | LIMIT count OFFSET offset: the count becomes 0.
    for (size_t i = select + 1; i < FTokens.size(); ++i) {
        if (!outer(FTokens[i]) || FTokens[i].Upper != u"LIMIT" || i + 1 >= FTokens.size()) continue;
        size_t count = i + 1;
        if (FTokens[count].Code != lexNumber) return FText;  // LIMIT ? or a variable: left alone
        if (count + 2 < FTokens.size() && FTokens[count + 1].Text == u"," && FTokens[count + 2].Code == lexNumber)
            count += 2;
        const Token& n = FTokens[count];
        QString text = FText;
        return text.replace(n.Pos, n.Length, QStringLiteral("0"));
    }
    for (size_t i = select + 1; i < FTokens.size(); ++i) {
        const Token& t = FTokens[i];
        if (!outer(t)) continue;
        if (t.Upper == u"PROCEDURE" || t.Upper == u"FOR" || t.Upper == u"LOCK")
            return QString(FText).insert(t.Pos, QStringLiteral("LIMIT 0 "));
        if (t.Text == u";") return QString(FText).insert(t.Pos, QStringLiteral(" LIMIT 0 "));
    }
    return FText + QStringLiteral(" LIMIT 0");
}

std::vector<TStatementScan::TTableRef> TStatementScan::FromTables() const {
    std::vector<TTableRef> tables;
    // Identifiers, quoted identifiers and keywords (symbol codes are below 100).
    auto isWord = [](const Token& t) { return t.Code == lexIdent || t.Code >= 100; };
    size_t i = 0;
    while (i < FTokens.size() && !(isWord(FTokens[i]) && (FTokens[i].Upper == u"FROM" || FTokens[i].Upper == u"HANDLER")))
        ++i;
    if (i == FTokens.size()) return tables;
    const int depth = FTokens[i++].Depth;
    static const QStringList ends = {u"WHERE"_qs, u"GROUP"_qs, u"HAVING"_qs, u"ORDER"_qs, u"LIMIT"_qs,
                                     u"UNION"_qs, u"FOR"_qs, u"LOCK"_qs, u"PROCEDURE"_qs, u"INTO"_qs,
                                     u"WINDOW"_qs, u"READ"_qs, u"OPEN"_qs, u"CLOSE"_qs};
    static const QStringList joins = {u"JOIN"_qs, u"INNER"_qs, u"LEFT"_qs, u"RIGHT"_qs, u"OUTER"_qs,
                                      u"CROSS"_qs, u"NATURAL"_qs, u"STRAIGHT_JOIN"_qs, u"FULL"_qs};
    static const QStringList notAliases = {u"ON"_qs, u"USING"_qs, u"USE"_qs, u"FORCE"_qs, u"IGNORE"_qs,
                                           u"PARTITION"_qs};
    auto here = [&](size_t k) { return k < FTokens.size() && FTokens[k].Depth == depth; };
    bool expectTable = true;
    while (i < FTokens.size()) {
        const Token& t = FTokens[i];
        if (t.Depth < depth || t.Text == u";") break;
        if (t.Depth > depth || t.Text == u"(") {  // a derived table or a join condition
            if (t.Text == u"(") expectTable = false;
            ++i;
            continue;
        }
        if (isWord(t) && ends.contains(t.Upper)) break;
        if (t.Text == u"," || (isWord(t) && joins.contains(t.Upper))) {
            expectTable = true;
            ++i;
            continue;
        }
        if (!expectTable || !isWord(t) || notAliases.contains(t.Upper)) {
            if (isWord(t) && (t.Upper == u"ON" || t.Upper == u"USING")) expectTable = false;
            ++i;
            continue;
        }
        // [database .] name [[AS] alias]
        QString database, name = TMySQLInfo::UnQuote(t.Text);
        ++i;
        if (here(i + 1) && FTokens[i].Text == u"." && isWord(FTokens[i + 1])) {
            database = name;
            name = TMySQLInfo::UnQuote(FTokens[i + 1].Text);
            i += 2;
        }
        QString alias;
        if (here(i) && isWord(FTokens[i]) && FTokens[i].Upper == u"AS") ++i;
        if (here(i) && isWord(FTokens[i]) && !ends.contains(FTokens[i].Upper) &&
            !joins.contains(FTokens[i].Upper) && !notAliases.contains(FTokens[i].Upper)) {
            alias = TMySQLInfo::UnQuote(FTokens[i].Text);
            ++i;
        }
        tables.push_back({database, name, alias});
        expectTable = false;
    }
    return tables;
}

QString AddLimit0(const QString& sql) { return TStatementScan(sql).WithLimit0(); }

size_t TStatementScan::FirstSelect() const {
    for (size_t i = 0; i < FTokens.size(); ++i)
        if (FTokens[i].Code != lexString && FTokens[i].Code != lexComment && FTokens[i].Upper == u"SELECT") return i;
    return FTokens.size();
}

size_t TStatementScan::FindClause(size_t from, std::initializer_list<const char*> words) const {
    if (from >= FTokens.size()) return FTokens.size();
    const int depth = FTokens[from].Depth;
    for (size_t i = from + 1; i < FTokens.size(); ++i) {
        const Token& t = FTokens[i];
        if (t.Depth < depth) break;
        if (t.Depth != depth || t.Code == lexString || t.Code == lexComment) continue;
        for (const char* w : words)
            if (t.Upper == QLatin1String(w)) return i;
    }
    return FTokens.size();
}

namespace {

// Clauses that end a WHERE clause, and those that follow ORDER BY.
constexpr std::initializer_list<const char*> AfterWhere = {"GROUP", "HAVING", "ORDER", "LIMIT", "PROCEDURE", "FOR", "LOCK"};
constexpr std::initializer_list<const char*> AfterOrder = {"LIMIT", "PROCEDURE", "FOR", "LOCK"};

// The index just after the last character before `at` that is not a blank.
qsizetype EndOfContent(const QString& text, qsizetype at) {
    while (at > 0 && text[at - 1].isSpace()) --at;
    return at;
}

// Where an addition at the end of the statement goes: before a final ";", else at the end.
qsizetype EndOfStatement(const TStatementScan& scan) {
    const auto& tokens = scan.Tokens();
    if (!tokens.empty() && tokens.back().Text == u";" && tokens.back().Depth == 0) return tokens.back().Pos;
    return scan.Text().size();
}

// The WHERE of the query that starts at select, unless it directly follows the macro "&".
size_t FindWhere(const TStatementScan& scan, size_t select, size_t stop) {
    const auto& tokens = scan.Tokens();
    for (size_t i = select + 1; i < stop; ++i) {
        const auto& t = tokens[i];
        if (t.Depth != tokens[select].Depth || t.Code == lexString || t.Code == lexComment || t.Upper != u"WHERE") continue;
        if (i > 0 && tokens[i - 1].Text == u"&" && tokens[i - 1].Pos + tokens[i - 1].Length == t.Pos) continue;
        return i;
    }
    return tokens.size();
}

// Removes a clause from the blanks before it (or from the clause itself when none precede it)
// up to the last non-blank before stopAt.
QString RemoveClause(const QString& text, qsizetype clausePos, qsizetype stopAt) {
    return text.left(EndOfContent(text, clausePos)) + text.mid(EndOfContent(text, stopAt));
}

}  // namespace

QString AddWhere(const QString& sql, const QString& condition) {
    if (condition.trimmed().isEmpty()) return sql;
    const QString text = sql.trimmed();
    const TStatementScan scan(text);
    const auto& tokens = scan.Tokens();
    const size_t select = scan.FirstSelect();
    if (select == tokens.size()) return sql;
    if (scan.FindClause(select, {"UNION"}) < tokens.size()) {
        // A WHERE at the end would restrict the last SELECT only: the condition goes around the
        // whole union, which keeps its order.
        const qsizetype end = EndOfStatement(scan);
        const QString order = GetOrderBy(text);
        return QStringLiteral("SELECT * FROM (") + text.left(end).trimmed() + QStringLiteral(") q\rWHERE ") + condition +
               u' ' + (order.isEmpty() ? QString() : QStringLiteral("ORDER BY ") + order) + text.mid(end);
    }
    const size_t stop = scan.FindClause(select, AfterWhere);
    const size_t where = FindWhere(scan, select, stop);
    const qsizetype at = stop < tokens.size() ? tokens[stop].Pos : EndOfStatement(scan);
    if (where == tokens.size()) return text.left(at) + QStringLiteral("\rWHERE ") + condition + u' ' + text.mid(at);
    // The existing condition goes in parentheses: "(" after WHERE and the character after it.
    const qsizetype open = std::min(tokens[where].Pos + tokens[where].Length + 1, at);
    size_t last = where;
    for (size_t i = where + 1; i < tokens.size() && tokens[i].Pos < at; ++i) last = i;
    const QString close = (tokens[last].Code == lexComment ? QStringLiteral("\r") : QString()) +
                          QStringLiteral(") AND ") + condition + u' ';
    return text.left(open) + u'(' + text.mid(open, at - open) + close + text.mid(at);
}

QString DeleteWhere(const QString& sql) {
    const QString text = sql.trimmed();
    const TStatementScan scan(text);
    const auto& tokens = scan.Tokens();
    const size_t select = scan.FirstSelect();
    if (select == tokens.size()) return text;
    const size_t stop = scan.FindClause(select, AfterWhere);
    const size_t where = FindWhere(scan, select, stop);
    if (where == tokens.size()) return text;
    return RemoveClause(text, tokens[where].Pos, stop < tokens.size() ? tokens[stop].Pos : EndOfStatement(scan));
}

namespace {

// The ORDER of "ORDER BY" in the query that starts at select.
size_t FindOrder(const TStatementScan& scan, size_t select) {
    const auto& tokens = scan.Tokens();
    for (size_t i = scan.FindClause(select, {"ORDER"}); i + 1 < tokens.size();
         i = scan.FindClause(i, {"ORDER"})) {
        if (tokens[i + 1].Upper == u"BY") return i;
    }
    return tokens.size();
}

}  // namespace

QString SetOrderBy(const QString& sql, const QString& fields) {
    const QString text = sql.trimmed();
    const TStatementScan scan(text);
    const auto& tokens = scan.Tokens();
    const size_t select = scan.FirstSelect();
    if (select == tokens.size()) return text;
    const size_t order = FindOrder(scan, select);
    if (order < tokens.size()) {
        const size_t stop = scan.FindClause(order, AfterOrder);
        const qsizetype end = EndOfContent(text, stop < tokens.size() ? tokens[stop].Pos : EndOfStatement(scan));
        if (fields.trimmed().isEmpty()) return RemoveClause(text, tokens[order].Pos, end);
        const qsizetype list = order + 2 < tokens.size() ? tokens[order + 2].Pos : end;
        return text.left(list) + fields.trimmed() + text.mid(end);
    }
    if (fields.trimmed().isEmpty()) return text;
    const size_t stop = scan.FindClause(select, AfterOrder);
    const qsizetype at = EndOfContent(text, stop < tokens.size() ? tokens[stop].Pos : EndOfStatement(scan));
    const QString before = text.left(at);
    return before + (before.contains(u'\r') ? QStringLiteral("\r ") : QStringLiteral(" ")) + QStringLiteral("ORDER BY ") +
           fields.trimmed() + text.mid(at);
}

QString GetOrderBy(const QString& sql) {
    const QString text = sql.trimmed();
    const TStatementScan scan(text);
    const auto& tokens = scan.Tokens();
    const size_t select = scan.FirstSelect();
    if (select == tokens.size()) return QString();
    const size_t order = FindOrder(scan, select);
    if (order + 2 >= tokens.size()) return QString();
    const size_t stop = scan.FindClause(order, AfterOrder);
    const qsizetype end = EndOfContent(text, stop < tokens.size() ? tokens[stop].Pos : EndOfStatement(scan));
    return text.mid(tokens[order + 2].Pos, end - tokens[order + 2].Pos).trimmed();
}

QString CountQuery(const QString& sql) {
    const QString text = SetOrderBy(sql, QString());
    const TStatementScan scan(text);
    const auto& tokens = scan.Tokens();
    const size_t select = scan.FirstSelect();
    if (select == tokens.size()) return QString();
    const size_t from = scan.FindClause(select, {"FROM"});
    if (from == tokens.size()) return QString();
    const qsizetype selectEnd = tokens[select].Pos + tokens[select].Length;
    // Rows of the result are not rows of the table: count the SELECT as a derived table.
    const bool distinct = select + 1 < tokens.size() &&
                          (tokens[select + 1].Upper == u"DISTINCT" || tokens[select + 1].Upper == u"DISTINCTROW");
    const bool derived = distinct || scan.FindClause(from, {"LIMIT", "GROUP", "HAVING", "UNION"}) < tokens.size();
    if (derived) {
        qsizetype end = text.size();
        for (size_t i = select + 1; i < tokens.size(); ++i)
            if (tokens[i].Text == u";" && tokens[i].Depth == 0) {
                end = tokens[i].Pos;
                break;
            }
        return text.left(selectEnd) + QStringLiteral(" COUNT(*) FROM (SELECT ") + text.mid(selectEnd, end - selectEnd) +
               QStringLiteral(") q") + text.mid(end);
    }
    return text.left(selectEnd) + QStringLiteral(" COUNT(*)") + text.mid(tokens[from].Pos - 1);
}

}  // namespace calvoro::dac
