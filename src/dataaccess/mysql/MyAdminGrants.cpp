#include "MyAdminGrants.h"

#include <optional>

namespace calvoro::dac {

namespace {

enum TTokenKind { tkWord, tkIdentifier, tkString, tkSymbol };

struct TToken {
    TTokenKind Kind;
    QString Text;  // a word as written, an identifier's or string's raw value, the symbol
};

// Cuts a line into words, backquoted identifiers, quoted strings and one-character symbols;
// nothing if a quote is not closed.
std::optional<std::vector<TToken>> Tokens(const QString& line) {
    std::vector<TToken> tokens;
    const qsizetype n = line.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = line[i];
        if (c.isSpace()) {
            ++i;
        } else if (c == u'`') {
            // `name`, a backtick inside doubled.
            QString raw;
            ++i;
            for (;;) {
                if (i >= n) return std::nullopt;
                if (line[i] == u'`') {
                    if (i + 1 < n && line[i + 1] == u'`') {
                        raw += u'`';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                raw += line[i++];
            }
            tokens.push_back({tkIdentifier, raw});
        } else if (c == u'\'' || c == u'"') {
            // 'text', the quote inside doubled or after a backslash.
            QString raw;
            ++i;
            for (;;) {
                if (i >= n) return std::nullopt;
                const QChar d = line[i];
                if (d == c) {
                    if (i + 1 < n && line[i + 1] == c) {
                        raw += c;
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                if (d == u'\\') {
                    if (i + 1 >= n) return std::nullopt;
                    const QChar e = line[i + 1];
                    switch (e.unicode()) {
                        case u'0': raw += QChar(u'\0'); break;
                        case u'n': raw += u'\n'; break;
                        case u'r': raw += u'\r'; break;
                        case u't': raw += u'\t'; break;
                        case u'b': raw += u'\b'; break;
                        case u'Z': raw += QChar(u'\x1A'); break;
                        case u'%':
                        case u'_': raw += u'\\'; raw += e; break;  // patterns keep their escape
                        default: raw += e;
                    }
                    i += 2;
                    continue;
                }
                raw += d;
                ++i;
            }
            tokens.push_back({tkString, raw});
        } else if (c.isLetterOrNumber() || c == u'_' || c == u'$') {
            const qsizetype start = i;
            while (i < n && (line[i].isLetterOrNumber() || line[i] == u'_' || line[i] == u'$')) ++i;
            tokens.push_back({tkWord, line.mid(start, i - start)});
        } else {
            tokens.push_back({tkSymbol, QString(c)});
            ++i;
        }
    }
    return tokens;
}

// A cursor over the tokens; every read checks what is left.
class TReader {
public:
    explicit TReader(const std::vector<TToken>& tokens) : FTokens(tokens) {}
    bool AtEnd() const { return FPos >= FTokens.size(); }
    void Skip() {
        if (!AtEnd()) ++FPos;
    }
    const TToken* Peek() const { return AtEnd() ? nullptr : &FTokens[FPos]; }
    bool IsWord(const char* word) const {
        const TToken* t = Peek();
        return t && t->Kind == tkWord && t->Text.compare(QLatin1StringView(word), Qt::CaseInsensitive) == 0;
    }
    bool IsSymbol(char16_t symbol) const {
        const TToken* t = Peek();
        return t && t->Kind == tkSymbol && t->Text.front() == QChar(symbol);
    }
    bool TakeWord(const char* word) {
        if (!IsWord(word)) return false;
        ++FPos;
        return true;
    }
    bool TakeSymbol(char16_t symbol) {
        if (!IsSymbol(symbol)) return false;
        ++FPos;
        return true;
    }
    // A name: a backquoted identifier, a quoted string or a bare word.
    bool TakeName(QString& name) {
        const TToken* t = Peek();
        if (!t || t->Kind == tkSymbol) return false;
        name = t->Text;
        ++FPos;
        return true;
    }
    // Whether the words follow one another somewhere from here on.
    bool Contains(const char* first, const char* second) const {
        for (size_t i = FPos; i + 1 < FTokens.size(); ++i) {
            const TToken& a = FTokens[i];
            const TToken& b = FTokens[i + 1];
            if (a.Kind == tkWord && b.Kind == tkWord &&
                a.Text.compare(QLatin1StringView(first), Qt::CaseInsensitive) == 0 &&
                b.Text.compare(QLatin1StringView(second), Qt::CaseInsensitive) == 0)
                return true;
        }
        return false;
    }

private:
    const std::vector<TToken>& FTokens;
    size_t FPos = 0;
};

// user [@ host]
bool ReadAccount(TReader& r, TAccountName& account) {
    account = {};
    if (!r.TakeName(account.User)) return false;
    if (r.TakeSymbol(u'@') && !r.TakeName(account.Host)) return false;
    return true;
}

// privilege [(column, …)], … up to ON.
bool ReadPrivileges(TReader& r, std::vector<TPrivilege>& privileges) {
    for (;;) {
        TPrivilege p;
        QStringList words;
        while (const TToken* t = r.Peek()) {
            if (t->Kind != tkWord || r.IsWord("ON")) break;
            words << t->Text.toUpper();
            r.Skip();
        }
        if (words.isEmpty()) return false;
        p.Name = words.join(u' ');
        if (r.TakeSymbol(u'(')) {
            for (;;) {
                QString column;
                if (!r.TakeName(column)) return false;
                p.Columns << column;
                if (r.TakeSymbol(u')')) break;
                if (!r.TakeSymbol(u',')) return false;
            }
        }
        privileges.push_back(std::move(p));
        if (!r.TakeSymbol(u',')) return true;
    }
}

// [PROCEDURE | FUNCTION] (* | db) . (* | name)
bool ReadTarget(TReader& r, TGrantTarget& target) {
    target = {};
    bool routine = false;
    if (r.TakeWord("PROCEDURE")) {
        target.Level = glProcedure;
        routine = true;
    } else if (r.TakeWord("FUNCTION")) {
        target.Level = glFunction;
        routine = true;
    }
    const auto part = [&](QString& name, bool& star) {
        star = r.TakeSymbol(u'*');
        return star || r.TakeName(name);
    };
    bool dbStar = false, objectStar = false;
    if (!part(target.Database, dbStar) || !r.TakeSymbol(u'.') || !part(target.Object, objectStar)) return false;
    if (routine) return !dbStar && !objectStar;
    if (dbStar) {
        target.Level = glGlobal;
        return objectStar;
    }
    target.Level = objectStar ? glDatabase : glTable;
    return true;
}

bool ReadGrant(TReader& r, TGrantLine& g, bool revoke) {
    if (!ReadPrivileges(r, g.Grant.Privileges) || !r.TakeWord("ON") || !ReadTarget(r, g.Grant.Target)) return false;
    if (!r.TakeWord(revoke ? "FROM" : "TO") || !ReadAccount(r, g.Grantee)) return false;
    // GRANT OPTION among the privileges of a revoke, WITH GRANT OPTION after a grant.
    auto& privileges = g.Grant.Privileges;
    bool listed = false;
    for (auto it = privileges.begin(); it != privileges.end();)
        if (it->Name == u"GRANT OPTION" && it->Columns.isEmpty()) {
            listed = true;
            it = privileges.erase(it);
        } else {
            ++it;
        }
    g.Grant.GrantOption = listed || (!revoke && r.Contains("GRANT", "OPTION"));
    g.Kind = revoke ? lkRevoke : lkPrivileges;
    return true;
}

bool ReadRoles(TReader& r, TGrantLine& g) {
    for (;;) {
        TAccountName role;
        if (!ReadAccount(r, role)) return false;
        g.Roles.push_back(role);
        if (!r.TakeSymbol(u',')) break;
    }
    if (!r.TakeWord("TO") || !ReadAccount(r, g.Grantee)) return false;
    g.AdminOption = r.Contains("ADMIN", "OPTION");
    g.Kind = lkRoles;
    return true;
}

// Whether ON comes before TO at the top level: privileges rather than roles.
bool HasOnBeforeTo(const std::vector<TToken>& tokens) {
    for (const TToken& t : tokens) {
        if (t.Kind != tkWord) continue;
        if (t.Text.compare(QLatin1StringView("ON"), Qt::CaseInsensitive) == 0) return true;
        if (t.Text.compare(QLatin1StringView("TO"), Qt::CaseInsensitive) == 0) return false;
    }
    return false;
}

}  // namespace

TGrantLine ParseGrantLine(const QString& line) {
    TGrantLine g;
    g.Text = line;
    const auto tokens = Tokens(line);
    if (!tokens) return g;
    TReader r(*tokens);
    TGrantLine parsed = g;
    bool ok = false;
    if (r.TakeWord("GRANT")) {
        if (r.IsWord("PROXY")) return g;
        ok = HasOnBeforeTo(*tokens) ? ReadGrant(r, parsed, false) : ReadRoles(r, parsed);
    } else if (r.TakeWord("REVOKE")) {
        ok = ReadGrant(r, parsed, true);
    } else if (r.TakeWord("SET") && r.TakeWord("DEFAULT") && r.TakeWord("ROLE")) {
        TAccountName role;
        ok = ReadAccount(r, role) && (r.TakeWord("FOR") || r.TakeWord("TO")) && ReadAccount(r, parsed.Grantee);
        if (ok) {
            parsed.Roles.push_back(role);
            parsed.Kind = lkDefaultRole;
        }
    }
    return ok ? parsed : g;
}

bool ParseGrantee(const QString& text, TAccountName& account) {
    const QString t = text.trimmed();
    if (t.size() < 5 || !t.startsWith(u'\'') || !t.endsWith(u'\'')) return false;
    const qsizetype at = t.lastIndexOf(QLatin1StringView("'@'"));
    if (at < 1) return false;
    account.User = t.mid(1, at - 1);
    account.Host = t.mid(at + 3, t.size() - at - 4);
    return true;
}

}  // namespace calvoro::dac
