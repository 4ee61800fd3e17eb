#include "DumpStatement.h"

#include <QStringList>

#include <cstring>
#include <initializer_list>

namespace calvoro::dump {

namespace {

bool IsWordChar(QChar c) {
    return c.isLetterOrNumber() || c == u'_' || c == u'$' || c.unicode() >= 0x80;
}

// Reads a statement's words, names and punctuation from left to right; blanks and comments
// between them are skipped. A comment the server would run ("/*!…") or anything unreadable
// makes Bad true, and the statement is then Other.
class TReader {
public:
    explicit TReader(QStringView text) : S(text) {}

    void SkipBlanks() {
        while (I < S.size()) {
            const QChar c = S[I];
            if (c.isSpace()) {
                ++I;
            } else if (c == u'#' || (c == u'-' && At(I + 1) == u'-' && (I + 2 >= S.size() || At(I + 2).isSpace()))) {
                while (I < S.size() && S[I] != u'\n' && S[I] != u'\r') ++I;
            } else if (c == u'/' && At(I + 1) == u'*') {
                if (At(I + 2) == u'!' || (At(I + 2) == u'M' && At(I + 3) == u'!')) {
                    Bad = true;
                    I = S.size();
                    return;
                }
                const qsizetype end = S.indexOf(u"*/", I + 2);
                if (end < 0) {
                    Bad = true;
                    I = S.size();
                    return;
                }
                I = end + 2;
            } else {
                return;
            }
        }
    }
    // The next word (letters, digits, '_', '$'), upper-cased, without taking it; empty when
    // none stands there.
    QString PeekWord() {
        SkipBlanks();
        qsizetype j = I;
        while (j < S.size() && IsWordChar(S[j])) ++j;
        return S.sliced(I, j - I).toString().toUpper();
    }
    bool Keyword(const char* word) {
        const QString next = PeekWord();
        if (next.isEmpty() || next != QLatin1StringView(word)) return false;
        I += next.size();
        return true;
    }
    bool AnyKeyword(std::initializer_list<const char*> words) {
        for (const char* word : words)
            if (Keyword(word)) return true;
        return false;
    }
    bool Char(QChar c) {
        SkipBlanks();
        if (I < S.size() && S[I] == c) {
            ++I;
            return true;
        }
        return false;
    }
    bool AtEnd() {
        SkipBlanks();
        return !Bad && I >= S.size();
    }
    // A backquoted or bare identifier, raw.
    bool Identifier(QString& raw) {
        SkipBlanks();
        raw.clear();
        if (I < S.size() && S[I] == u'`') {
            for (qsizetype j = I + 1; j < S.size(); ++j) {
                if (S[j] != u'`') {
                    raw += S[j];
                } else if (At(j + 1) == u'`') {
                    raw += u'`';
                    ++j;
                } else {
                    I = j + 1;
                    return true;
                }
            }
            Bad = true;
            return false;
        }
        qsizetype j = I;
        while (j < S.size() && IsWordChar(S[j])) ++j;
        if (j == I) return false;
        raw = S.sliced(I, j - I).toString();
        I = j;
        return true;
    }
    // [database.]name
    bool ObjectName(dac::TObjectName& name) {
        QString first;
        if (!Identifier(first)) return false;
        if (I < S.size() && S[I] == u'.') {
            ++I;
            QString second;
            if (!Identifier(second)) return false;
            name = {first, second};
        } else {
            name = {QString(), first};
        }
        return true;
    }
    QStringView Rest() const { return S.sliced(std::min(I, S.size())); }

    bool Bad = false;

private:
    QChar At(qsizetype j) const { return j < S.size() ? S[j] : QChar(); }

    QStringView S;
    qsizetype I = 0;
};

// Skips a single-quoted string starting at i (on the quote): backslash escapes and doubled
// quotes. Returns the position after it, or -1 when it does not end.
qsizetype SkipString(QStringView s, qsizetype i) {
    const QChar quote = s[i];
    for (qsizetype j = i + 1; j < s.size(); ++j) {
        if (s[j] == u'\\') {
            ++j;
        } else if (s[j] == quote) {
            if (j + 1 < s.size() && s[j + 1] == quote) {
                ++j;
                continue;
            }
            return j + 1;
        }
    }
    return -1;
}

// Whether the text holds only rows of literals: parentheses, commas, blanks, numbers,
// single-quoted strings, NULL, TRUE, FALSE, X'…', B'…', 0x…, and character set introducers.
bool LiteralRows(QStringView s) {
    bool any = false;
    for (qsizetype i = 0; i < s.size();) {
        const QChar c = s[i];
        if (c == u'\'') {
            i = SkipString(s, i);
            if (i < 0) return false;
            any = true;
        } else if (c.isSpace() || c == u'(' || c == u')' || c == u',' || c == u'.' || c == u'+' || c == u'-') {
            if (c == u'-' && i + 1 < s.size() && s[i + 1] == u'-') return false;  // a comment
            any = any || c == u'(';
            ++i;
        } else if (c.isDigit()) {
            while (i < s.size() && (s[i].isLetterOrNumber() || s[i] == u'.')) ++i;
        } else if (c.isLetter() || c == u'_') {
            qsizetype j = i;
            while (j < s.size() && (s[j].isLetterOrNumber() || s[j] == u'_')) ++j;
            const QString word = s.sliced(i, j - i).toString().toUpper();
            const bool quoteFollows = j < s.size() && s[j] == u'\'';
            if (word == u"NULL" || word == u"TRUE" || word == u"FALSE" ||
                ((word == u"X" || word == u"B") && quoteFollows)) {
                i = j;
            } else if (c == u'_') {
                // An introducer: a string or hexadecimal literal follows.
                qsizetype k = j;
                while (k < s.size() && s[k].isSpace()) ++k;
                if (k >= s.size() || !(s[k] == u'\'' || s[k].isDigit() || s[k] == u'X' || s[k] == u'x')) return false;
                i = j;
            } else {
                return false;
            }
        } else {
            return false;
        }
    }
    return any;
}

// Whether one of the words stands in the text outside strings, quoted names and comments.
bool HasWord(QStringView s, std::initializer_list<const char*> words) {
    for (qsizetype i = 0; i < s.size();) {
        const QChar c = s[i];
        if (c == u'\'' || c == u'"') {
            i = SkipString(s, i);
            if (i < 0) return true;  // unreadable: as if it held one
        } else if (c == u'`') {
            const qsizetype end = s.indexOf(u'`', i + 1);
            if (end < 0) return true;
            i = end + 1;
        } else if (IsWordChar(c)) {
            qsizetype j = i;
            while (j < s.size() && IsWordChar(s[j])) ++j;
            const QString word = s.sliced(i, j - i).toString().toUpper();
            for (const char* w : words)
                if (word == QLatin1StringView(w)) return true;
            i = j;
        } else {
            ++i;
        }
    }
    return false;
}

// Whether a character stands in the text outside strings and quoted names.
bool HasChar(QStringView s, QChar wanted) {
    for (qsizetype i = 0; i < s.size();) {
        const QChar c = s[i];
        if (c == u'\'' || c == u'"') {
            i = SkipString(s, i);
            if (i < 0) return true;
        } else if (c == u'`') {
            const qsizetype end = s.indexOf(u'`', i + 1);
            if (end < 0) return true;
            i = end + 1;
        } else if (c == wanted) {
            return true;
        } else {
            ++i;
        }
    }
    return false;
}

// The text of a statement that is one executable comment, without the comment's marks.
QStringView Unwrapped(QStringView text) {
    // Comments before the statement (a dump's header) are not part of it.
    for (;;) {
        text = text.trimmed();
        if (text.startsWith(u'#') || text.startsWith(u"-- ") || text.startsWith(u"--\t") ||
            text.startsWith(u"--\r") || text.startsWith(u"--\n")) {
            const qsizetype end = text.indexOf(u'\n');
            text = end < 0 ? QStringView() : text.sliced(end + 1);
        } else if (text.startsWith(u"/*") && !text.startsWith(u"/*!") && !text.startsWith(u"/*M!")) {
            const qsizetype end = text.indexOf(u"*/", 2);
            if (end < 0) return text;
            text = text.sliced(end + 2);
        } else {
            break;
        }
    }
    qsizetype start = 0;
    if (text.startsWith(u"/*!"))
        start = 3;
    else if (text.startsWith(u"/*M!"))
        start = 4;
    else
        return text;
    if (!text.endsWith(u"*/")) return text;
    while (start < text.size() && text[start].isDigit()) ++start;
    const QStringView inner = text.sliced(start, text.size() - 2 - start);
    if (inner.contains(u"*/") || inner.contains(u"/*")) return text;  // several comments: as it stands
    return inner.trimmed();
}

TDumpStatement Classify(QStringView text) {
    using K = TDumpStatementKind;
    TReader r(Unwrapped(text));
    TDumpStatement st;
    const auto tableThenEnd = [&](K kind) {
        if (r.ObjectName(st.Table) && r.AtEnd()) st.Kind = kind;
        return st;
    };
    if (r.AnyKeyword({"INSERT", "REPLACE"})) {
        r.AnyKeyword({"LOW_PRIORITY", "DELAYED", "HIGH_PRIORITY"});
        r.Keyword("IGNORE");
        r.Keyword("INTO");
        if (!r.ObjectName(st.Table)) return {};
        if (r.Char(u'(')) {
            QString column;
            do {
                if (!r.Identifier(column)) return {};
            } while (r.Char(u','));
            if (!r.Char(u')')) return {};
        }
        if (!r.AnyKeyword({"VALUES", "VALUE"}) || r.Bad) return {};
        if (LiteralRows(r.Rest())) st.Kind = K::Data;
        return st;
    }
    if (r.Keyword("CREATE")) {
        if (r.Keyword("OR") && !r.Keyword("REPLACE")) return {};
        if (!r.Keyword("TABLE")) return {};
        if (r.Keyword("IF") && !(r.Keyword("NOT") && r.Keyword("EXISTS"))) return {};
        if (!r.ObjectName(st.Table) || !r.Char(u'(') || r.Bad) return {};
        // Reading or naming another table makes it depend on that table's rows.
        if (!HasWord(r.Rest(), {"SELECT", "LIKE", "REFERENCES"})) st.Kind = K::CreateTable;
        return st;
    }
    if (r.Keyword("DROP")) {
        if (!r.Keyword("TABLE")) return {};
        if (r.Keyword("IF") && !r.Keyword("EXISTS")) return {};
        return tableThenEnd(K::DropTable);
    }
    if (r.Keyword("TRUNCATE")) {
        r.Keyword("TABLE");
        return tableThenEnd(K::TruncateTable);
    }
    if (r.Keyword("LOCK")) {
        st.Kind = K::LockOther;
        if (r.AnyKeyword({"TABLES", "TABLE"}) && r.ObjectName(st.Table) && r.Keyword("WRITE") && r.AtEnd())
            st.Kind = K::LockTable;
        else
            st.Table = {};
        return st;
    }
    if (r.Keyword("FLUSH")) {
        if (HasWord(r.Rest(), {"LOCK"})) st.Kind = K::LockOther;
        return st;
    }
    if (r.Keyword("UNLOCK")) {
        if (r.AnyKeyword({"TABLES", "TABLE"}) && r.AtEnd()) st.Kind = K::UnlockTables;
        return st;
    }
    if (r.Keyword("ALTER")) {
        if (!r.Keyword("TABLE") || !r.ObjectName(st.Table)) return {};
        const bool disable = r.Keyword("DISABLE");
        if (!disable && !r.Keyword("ENABLE")) return {};
        if (!r.Keyword("KEYS") || !r.AtEnd()) return {};
        st.Kind = disable ? K::DisableKeys : K::EnableKeys;
        return st;
    }
    if (r.Keyword("BEGIN")) {
        r.Keyword("WORK");
        if (r.AtEnd()) st.Kind = K::Begin;
        return st;
    }
    if (r.Keyword("START")) {
        if (r.Keyword("TRANSACTION") && r.AtEnd()) st.Kind = K::Begin;
        return st;
    }
    if (r.Keyword("COMMIT")) {
        r.Keyword("WORK");
        if (r.AtEnd()) st.Kind = K::Commit;
        return st;
    }
    if (r.Keyword("ROLLBACK")) {
        r.Keyword("WORK");
        if (r.AtEnd()) st.Kind = K::Rollback;
        return st;
    }
    if (r.Keyword("USE")) {
        QString db;
        if (r.Identifier(db) && r.AtEnd()) {
            st.Kind = K::Use;
            st.Table = {db, QString()};
        }
        return st;
    }
    if (r.Keyword("SET")) {
        const QStringView rest = r.Rest();
        if (HasWord(rest, {"GLOBAL", "PERSIST", "PERSIST_ONLY", "PASSWORD", "TRANSACTION", "STATEMENT", "ROLE",
                           "DEFAULT"}) ||
            rest.contains(u"@@global.", Qt::CaseInsensitive))
            return st;
        if (HasWord(rest, {"AUTOCOMMIT"})) {
            // Only the plain form is known: it turns transactions of the session on or off.
            r.AnyKeyword({"SESSION", "LOCAL"});
            r.SkipBlanks();
            QStringView name = r.Rest();
            for (const char* prefix : {"@@session.", "@@local.", "@@"}) {
                if (name.startsWith(QLatin1StringView(prefix), Qt::CaseInsensitive)) {
                    name = name.sliced(qsizetype(strlen(prefix)));
                    break;
                }
            }
            TReader value(name);
            st.MayOpenTransaction = true;
            if (!value.Keyword("AUTOCOMMIT") || !value.Char(u'=')) return st;
            const bool on = value.AnyKeyword({"1", "ON"});
            if (!on && !value.AnyKeyword({"0", "OFF"})) return st;
            if (!value.AtEnd()) return st;
            st.MayOpenTransaction = false;
            st.Kind = K::Autocommit;
            st.AutocommitOn = on;
            return st;
        }
        st.Kind = r.Bad || HasChar(rest, u'(') || HasWord(rest, {"SELECT"}) ? K::OtherSet : K::SessionSet;
        return st;
    }
    return st;
}

}  // namespace

TDumpStatement ClassifyDumpStatement(const QString& sql) { return Classify(QStringView(sql)); }

}  // namespace calvoro::dump
