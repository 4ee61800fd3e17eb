#include "CompletionContext.h"

#include "dataaccess/mysql/MySqlIdentifier.h"
#include "sqltext/MyParser.h"

#include <QSet>

namespace calvoro::app {

namespace {

using namespace calvoro::sqltext;

struct TToken {
    int Code = lexEnd;
    qsizetype Begin = 0;
    qsizetype End = 0;
};

// Every lexeme of the text, blanks and comments included. A character the lexer does not
// know ends the list there: what follows it cannot be read as SQL anyway.
std::vector<TToken> Tokens(const QString& text, std::vector<bool>& lineComment) {
    std::vector<TToken> tokens;
    TMyParser parser(text);
    parser.FOmitBlank = false;
    parser.FOmitComment = false;
    try {
        for (;;) {
            const int code = parser.GetNextCode();
            if (code == lexEnd) break;
            tokens.push_back({code, qsizetype(parser.PrevPos()), qsizetype(parser.CurrPos())});
            lineComment.push_back(code == lexComment && parser.CommentKind() == cmLine);
        }
    } catch (const EParserError&) {
        // Completion reads what it can; the lexer's error shows when the text is run.
    }
    return tokens;
}

class TReader {
public:
    TReader(const QString& text) : FText(text) { FTokens = Tokens(text, FLineComment); }

    const QString& FText;
    std::vector<TToken> FTokens;
    std::vector<bool> FLineComment;

    QStringView View(const TToken& t) const { return QStringView(FText).mid(t.Begin, t.End - t.Begin); }
    bool Insignificant(const TToken& t) const { return t.Code == lexBlank || t.Code == lexComment; }
    bool IsQuotedName(const TToken& t) const { return t.Code == lexIdent && FText[t.Begin] == u'`'; }
    // A bare word: an identifier or a keyword of the lexer's tables.
    bool IsWord(const TToken& t) const {
        if (t.Code != lexIdent && t.Code <= 0) return false;
        const QChar c = FText[t.Begin];
        return c.isLetter() || c == u'_' || c == u'$';
    }
    QString Upper(const TToken& t) const { return IsWord(t) ? View(t).toString().toUpper() : QString(); }
    bool IsSymbol(const TToken& t, QChar c) const { return t.End - t.Begin == 1 && FText[t.Begin] == c && !IsWord(t); }
    // A name that can stand for a table or alias: a quoted name, or a word that is not reserved.
    bool IsName(const TToken& t) const {
        return IsQuotedName(t) || (IsWord(t) && !dac::IsReservedWord(View(t).toString()));
    }
    // The raw name of a name token.
    QString Raw(const TToken& t) const {
        if (!IsQuotedName(t)) return View(t).toString();
        QStringView inner = View(t).mid(1);
        if (inner.size() > 0 && inner.back() == u'`' && QuotedClosed(t)) inner.chop(1);
        return inner.toString().replace(QStringLiteral("``"), QStringLiteral("`"));
    }
    // A quoted lexeme that has its closing quote (the lexer ends an unclosed one at the text's end).
    bool QuotedClosed(const TToken& t) const {
        const QStringView v = View(t);
        if (v.size() < 2 || v.back() != v.front()) return false;
        // "`a``" is the open name a`: the quotes after the opener pair up unless one is left.
        qsizetype run = 0;
        for (qsizetype i = v.size() - 1; i > 0 && v[i] == v.front(); --i) ++run;
        return run % 2 == 1;
    }
};

const QSet<QString>& TableKeywords() {
    static const QSet<QString> words{QStringLiteral("FROM"), QStringLiteral("JOIN"), QStringLiteral("STRAIGHT_JOIN"),
                                     QStringLiteral("UPDATE"), QStringLiteral("INTO"), QStringLiteral("TABLE"),
                                     QStringLiteral("TRUNCATE")};
    return words;
}

// The words that begin a clause: a walk back from the cursor stops at the nearest one.
const QSet<QString>& ClauseKeywords() {
    static const QSet<QString> words{
        QStringLiteral("SELECT"), QStringLiteral("FROM"),    QStringLiteral("JOIN"),  QStringLiteral("STRAIGHT_JOIN"),
        QStringLiteral("WHERE"),  QStringLiteral("ON"),      QStringLiteral("USING"), QStringLiteral("SET"),
        QStringLiteral("INTO"),   QStringLiteral("UPDATE"),  QStringLiteral("TABLE"), QStringLiteral("VALUES"),
        QStringLiteral("GROUP"),  QStringLiteral("ORDER"),   QStringLiteral("BY"),    QStringLiteral("HAVING"),
        QStringLiteral("LIMIT"),  QStringLiteral("DELETE"),  QStringLiteral("INSERT"), QStringLiteral("REPLACE"),
        QStringLiteral("UNION"),  QStringLiteral("WINDOW"),  QStringLiteral("RETURNING")};
    return words;
}

// The statement around the cursor: token indices [first, last).
void StatementAt(const TReader& r, qsizetype cursor, size_t& first, size_t& last) {
    QString delimiter = QStringLiteral(";");
    size_t begin = 0;
    bool atStart = true;  // no significant token yet in the statement
    const std::vector<TToken>& t = r.FTokens;
    for (size_t i = 0; i < t.size(); ++i) {
        if (r.Insignificant(t[i])) continue;
        if (atStart && r.Upper(t[i]) == u"DELIMITER") {
            // The rest of the line is the new delimiter; the line is a statement of its own.
            qsizetype lineEnd = r.FText.indexOf(u'\n', t[i].End);
            if (lineEnd < 0) lineEnd = r.FText.size();
            const QString d = r.FText.mid(t[i].End, lineEnd - t[i].End).trimmed().section(u' ', 0, 0);
            size_t j = i + 1;
            while (j < t.size() && t[j].Begin < lineEnd) ++j;
            if (cursor <= lineEnd && cursor >= t[begin].Begin) {
                first = begin;
                last = j;
                return;
            }
            if (!d.isEmpty()) delimiter = d;
            begin = j;
            i = j - 1;
            continue;
        }
        atStart = false;
        if (t[i].Code == lexString || t[i].Code == lexComment || r.IsQuotedName(t[i])) continue;
        if (QStringView(r.FText).mid(t[i].Begin).startsWith(delimiter)) {
            if (cursor <= t[i].Begin) {
                first = begin;
                last = i;
                return;
            }
            // The delimiter may span several lexemes ("//"): the next statement begins after it.
            const qsizetype end = t[i].Begin + delimiter.size();
            size_t j = i + 1;
            while (j < t.size() && t[j].Begin < end) ++j;
            begin = j;
            i = j - 1;
            atStart = true;
        }
    }
    first = begin;
    last = t.size();
}

// The significant tokens of [first, last), by index.
std::vector<size_t> Significant(const TReader& r, size_t first, size_t last, size_t skip) {
    std::vector<size_t> s;
    for (size_t i = first; i < last; ++i)
        if (!r.Insignificant(r.FTokens[i]) && i != skip) s.push_back(i);
    return s;
}

// The tables named after FROM, JOIN, UPDATE, INTO and the like, with their aliases.
std::vector<TCompletionTableRef> TableRefs(const TReader& r, const std::vector<size_t>& s) {
    static const QSet<QString> modifiers{QStringLiteral("LOW_PRIORITY"), QStringLiteral("IGNORE"),
                                         QStringLiteral("ONLY")};
    std::vector<TCompletionTableRef> refs;
    auto tok = [&](size_t k) -> const TToken& { return r.FTokens[s[k]]; };
    for (size_t k = 0; k < s.size(); ++k) {
        const QString word = r.Upper(tok(k));
        if (!TableKeywords().contains(word) || word == u"TABLE" || word == u"TRUNCATE") continue;
        const bool list = word == u"FROM" || word == u"UPDATE";
        size_t j = k + 1;
        while (j < s.size() && modifiers.contains(r.Upper(tok(j)))) ++j;
        for (;;) {
            if (j >= s.size() || !r.IsName(tok(j))) break;
            TCompletionTableRef ref;
            ref.Table = r.Raw(tok(j++));
            if (j < s.size() && r.IsSymbol(tok(j), u'.')) {
                // "db." with the table's name still being typed names no table yet.
                if (j + 1 >= s.size() || !r.IsName(tok(j + 1))) break;
                ref.Database = ref.Table;
                ref.Table = r.Raw(tok(j + 1));
                j += 2;
            }
            if (j + 1 < s.size() && r.Upper(tok(j)) == u"AS" && r.IsName(tok(j + 1))) {
                ref.Alias = r.Raw(tok(j + 1));
                j += 2;
            } else if (j < s.size() && r.IsName(tok(j))) {
                ref.Alias = r.Raw(tok(j++));
            }
            refs.push_back(ref);
            if (!list || j >= s.size() || !r.IsSymbol(tok(j), u',')) break;
            ++j;
        }
        k = j - 1;
    }
    return refs;
}

}  // namespace

TCompletionContext AnalyzeCompletion(const QString& text, qsizetype cursor) {
    TCompletionContext c;
    cursor = std::clamp<qsizetype>(cursor, 0, text.size());
    c.ReplaceFrom = c.ReplaceTo = cursor;
    const TReader r(text);
    const std::vector<TToken>& t = r.FTokens;

    // The lexeme the cursor stands in or at the end of.
    size_t at = t.size();
    for (size_t i = 0; i < t.size(); ++i)
        if (t[i].Begin < cursor && cursor <= t[i].End) at = i;
    size_t word = t.size();  // the word under way, when there is one
    if (at < t.size()) {
        const TToken& tk = t[at];
        if (tk.Code == lexString) {
            if (!(cursor == tk.End && r.QuotedClosed(tk))) return c;
        } else if (tk.Code == lexComment) {
            const bool closed = !r.FLineComment[at] && r.View(tk).endsWith(u"*/") && tk.End - tk.Begin >= 4;
            if (!(cursor == tk.End && closed)) return c;
        } else if (tk.Code == lexNumber) {
            return c;
        } else if (r.IsWord(tk)) {
            word = at;
            c.Prefix = text.mid(tk.Begin, cursor - tk.Begin);
            c.ReplaceFrom = tk.Begin;
            c.ReplaceTo = tk.End;
        } else if (r.IsQuotedName(tk)) {
            if (cursor == tk.End && r.QuotedClosed(tk)) return c;  // after a finished name
            word = at;
            c.Quoted = true;
            c.Prefix = text.mid(tk.Begin + 1, cursor - tk.Begin - 1).replace(QStringLiteral("``"), QStringLiteral("`"));
            c.ReplaceFrom = tk.Begin;
            c.ReplaceTo = tk.End;
        }
    }

    size_t first = 0, last = 0;
    StatementAt(r, cursor, first, last);
    const std::vector<size_t> s = Significant(r, first, last, word);
    c.Tables = TableRefs(r, s);

    // The significant tokens before the word, nearest last.
    std::vector<size_t> before;
    for (size_t i : s)
        if (t[i].End <= c.ReplaceFrom) before.push_back(i);

    // "qualifier." right before the word, with nothing between.
    qsizetype edge = c.ReplaceFrom;
    for (size_t k = before.size(); k >= 2 && c.Qualifier.size() < 2;) {
        const TToken& dot = t[before[k - 1]];
        const TToken& name = t[before[k - 2]];
        if (dot.End != edge || !r.IsSymbol(dot, u'.') || name.End != dot.Begin ||
            !(r.IsQuotedName(name) || r.IsWord(name)))
            break;
        c.Qualifier.prepend(r.Raw(name));
        edge = name.Begin;
        k -= 2;
    }
    if (!c.Qualifier.isEmpty()) {
        c.Place = TCompletionPlace::Member;
        return c;
    }

    c.Place = TCompletionPlace::Any;
    if (before.empty()) return c;
    const TToken& prev = t[before.back()];
    const QString prevWord = r.Upper(prev);
    const bool prevFirst = before.size() == 1;
    if (TableKeywords().contains(prevWord) ||
        (prevFirst && (prevWord == u"DESCRIBE" || prevWord == u"DESC" || prevWord == u"EXPLAIN"))) {
        c.Place = TCompletionPlace::Table;
        return c;
    }
    if (prevFirst && prevWord == u"USE") {
        c.Place = TCompletionPlace::Database;
        return c;
    }
    // Walk back at the cursor's depth to the clause keyword or the opening parenthesis.
    int depth = 0;
    for (size_t k = before.size(); k-- > 0;) {
        const TToken& tk = t[before[k]];
        if (r.IsSymbol(tk, u')')) {
            ++depth;
        } else if (r.IsSymbol(tk, u'(')) {
            if (depth-- > 0) continue;
            // INSERT INTO [db.]t ( … : the column list.
            size_t n = k;
            if (n >= 1 && r.IsName(t[before[n - 1]])) {
                --n;
                if (n >= 2 && r.IsSymbol(t[before[n - 1]], u'.') && r.IsName(t[before[n - 2]])) n -= 2;
                if (n >= 1 && r.Upper(t[before[n - 1]]) == u"INTO") c.Place = TCompletionPlace::Column;
            }
            return c;
        } else if (depth == 0) {
            const QString w = r.Upper(tk);
            if (ClauseKeywords().contains(w)) {
                if ((w == u"FROM" || w == u"UPDATE") && r.IsSymbol(prev, u',')) c.Place = TCompletionPlace::Table;
                return c;
            }
        }
    }
    return c;
}

}  // namespace calvoro::app
