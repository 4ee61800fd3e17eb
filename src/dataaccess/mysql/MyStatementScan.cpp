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
        if (code == lexBlank || code == lexComment) continue;
        if (lexeme == u")") --depth;
        const qsizetype pos = parser.PrevPos();
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

std::vector<std::pair<QString, QString>> TStatementScan::FromTables() const {
    std::vector<std::pair<QString, QString>> tables;
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
        // name [. name] [[AS] alias]
        QString name = TMySQLInfo::UnQuote(t.Text);
        ++i;
        if (here(i + 1) && FTokens[i].Text == u"." && isWord(FTokens[i + 1])) {
            name += u'.' + TMySQLInfo::UnQuote(FTokens[i + 1].Text);
            i += 2;
        }
        QString alias;
        if (here(i) && isWord(FTokens[i]) && FTokens[i].Upper == u"AS") ++i;
        if (here(i) && isWord(FTokens[i]) && !ends.contains(FTokens[i].Upper) &&
            !joins.contains(FTokens[i].Upper) && !notAliases.contains(FTokens[i].Upper)) {
            alias = TMySQLInfo::UnQuote(FTokens[i].Text);
            ++i;
        }
        tables.emplace_back(name, alias);
        expectTable = false;
    }
    return tables;
}

QString AddLimit0(const QString& sql) { return TStatementScan(sql).WithLimit0(); }

}  // namespace calvoro::dac
