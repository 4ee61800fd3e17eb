#include "StatementEffect.h"

#include "sqltext/MyParser.h"

#include <QStringList>

#include <algorithm>
#include <vector>

namespace calvoro::dac {

using namespace sqltext;

namespace {

struct TWord {
    QString Upper;  // upper-cased lexeme
    bool IsString;
    int Depth;      // parentheses around it
};

using TStatement = std::vector<TWord>;

// The statements of the text as lexemes, comments and blanks left out; the code of executable
// comments comes through as ordinary lexemes.
std::vector<TStatement> Statements(const QString& sql) {
    TMyParser parser(sql);
    parser.FOmitBlank = true;
    parser.FOmitComment = true;
    parser.FUppered = false;
    std::vector<TStatement> list(1);
    int depth = 0;
    QString lexeme;
    for (int code; (code = parser.GetNext(lexeme)) != lexEnd;) {
        const bool isString = code == lexString;
        if (!isString && lexeme == u";") {
            list.emplace_back();
            depth = 0;
            continue;
        }
        if (!isString && lexeme == u")") depth = std::max(0, depth - 1);
        list.back().push_back({lexeme.toUpper(), isString, depth});
        if (!isString && lexeme == u"(") ++depth;
    }
    return list;
}

bool Is(const TWord& w, const char* word) { return !w.IsString && w.Upper == QLatin1String(word); }

bool HasWord(const TStatement& s, size_t from, std::initializer_list<const char*> words) {
    for (size_t i = from; i < s.size(); ++i)
        for (const char* word : words)
            if (Is(s[i], word)) return true;
    return false;
}

// Two words next to each other.
bool HasPair(const TStatement& s, size_t from, const char* first, const char* second) {
    for (size_t i = from; i + 1 < s.size(); ++i)
        if (Is(s[i], first) && Is(s[i + 1], second)) return true;
    return false;
}

bool ChangesFrom(const TStatement& s, size_t at);

bool SelectChanges(const TStatement& s, size_t at) {
    // INTO OUTFILE / DUMPFILE writes a file on the server's machine; INTO @variable does not.
    return HasPair(s, at, "INTO", "OUTFILE") || HasPair(s, at, "INTO", "DUMPFILE");
}

// SET: session and user variables only. GLOBAL and PERSIST settings, passwords, roles, and
// whatever could make the session writable again count as changes.
bool SetChanges(const TStatement& s, size_t at) {
    for (size_t i = at + 1; i < s.size(); ++i) {
        const TWord& w = s[i];
        if (w.IsString) continue;
        for (const char* word : {"GLOBAL", "PERSIST", "PERSIST_ONLY", "PASSWORD", "ROLE", "TRANSACTION",
                                 "TX_READ_ONLY", "TRANSACTION_READ_ONLY", "READ_ONLY", "SQL_LOG_BIN"})
            if (w.Upper == QLatin1String(word)) return true;
        // @@GLOBAL.name, @@PERSIST.name: the lexer keeps the prefix with its name or apart.
        if (w.Upper.startsWith(u"@@GLOBAL") || w.Upper.startsWith(u"@@PERSIST")) return true;
    }
    return false;
}

// WITH name AS (…), … then the statement the common table expressions belong to.
bool WithChanges(const TStatement& s, size_t at) {
    const int depth = s[at].Depth;
    for (size_t i = at + 1; i < s.size(); ++i) {
        const TWord& w = s[i];
        if (w.IsString || w.Depth != depth) continue;
        for (const char* word : {"SELECT", "TABLE", "VALUES", "INSERT", "UPDATE", "DELETE", "REPLACE"})
            if (w.Upper == QLatin1String(word)) return ChangesFrom(s, i);
    }
    return true;  // no statement found: not known as a reading one
}

bool ChangesFrom(const TStatement& s, size_t at) {
    // A statement may start with parentheses: "(SELECT …) UNION (SELECT …)".
    while (at < s.size() && Is(s[at], "(")) ++at;
    if (at >= s.size()) return false;
    const TWord& first = s[at];
    if (first.IsString) return true;
    const QString& w = first.Upper;
    if (w == u"SELECT") return SelectChanges(s, at);
    if (w == u"WITH") return WithChanges(s, at);
    if (w == u"SET") return SetChanges(s, at);
    if (w == u"EXPLAIN" || w == u"DESCRIBE" || w == u"DESC") {
        // EXPLAIN ANALYZE runs the statement it explains.
        for (size_t i = at + 1; i < s.size(); ++i)
            if (Is(s[i], "ANALYZE")) return i + 1 < s.size() && ChangesFrom(s, i + 1);
        return false;
    }
    if (w == u"ANALYZE") {
        // ANALYZE SELECT runs and reports a statement (MariaDB); ANALYZE TABLE writes statistics.
        return at + 1 >= s.size() || Is(s[at + 1], "TABLE") || Is(s[at + 1], "NO_WRITE_TO_BINLOG") ||
               Is(s[at + 1], "LOCAL") || ChangesFrom(s, at + 1);
    }
    if (w == u"BEGIN" || w == u"START" || w == u"COMMIT" || w == u"ROLLBACK" || w == u"SAVEPOINT" ||
        w == u"RELEASE")
        return HasPair(s, at, "READ", "WRITE");
    for (const char* reading : {"TABLE", "VALUES", "SHOW", "HELP", "USE", "DO", "CHECK", "CHECKSUM", "HANDLER",
                                "PREPARE", "DEALLOCATE"})
        if (w == QLatin1String(reading)) return false;
    return true;
}

}  // namespace

bool StatementChangesData(const QString& sql) {
    for (const TStatement& s : Statements(sql))
        if (ChangesFrom(s, 0)) return true;
    return false;
}

}  // namespace calvoro::dac
