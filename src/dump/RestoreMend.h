#pragma once
// Mends of a restored script, asked for by the user: statements rewritten on their way to the
// server (the file stays as it is). A rewrite works on the MySQL lexer's lexemes, so that
// nothing inside a string, a quoted name or a comment the server skips is touched by mistake:
//   - a collation named after COLLATE (or as collation_connection etc.) mapped to another;
//   - a DEFINER clause kept, turned into DEFINER=CURRENT_USER, or left out;
//   - an ENGINE the target lacks replaced by another.

#include "sqltext/StreamDecoder.h"

#include <QSet>
#include <QString>

#include <utility>
#include <vector>

namespace calvoro::dump {

enum class TDefinerMend { Keep, Current, Drop };

struct TRestoreMends {
    // FROM, TO in lower case; the first entry for a FROM holds.
    std::vector<std::pair<QString, QString>> Collations;
    TDefinerMend Definer = TDefinerMend::Keep;
    QString EngineFallback;  // empty: engines as they are
    // The engines the target has (lower case): those named in the script and not here are
    // replaced by EngineFallback.
    QSet<QString> KnownEngines;

    bool Any() const { return !Collations.empty() || Definer != TDefinerMend::Keep || !EngineFallback.isEmpty(); }
    // What name (any case) maps to, or an empty string.
    QString MapCollation(QStringView name) const;
};

// What the mends changed, clause by clause.
struct TMendCounts {
    qint64 Collations = 0;
    qint64 Definers = 0;
    qint64 Engines = 0;
    qint64 Total() const { return Collations + Definers + Engines; }
    TMendCounts& operator+=(const TMendCounts& o) {
        Collations += o.Collations;
        Definers += o.Definers;
        Engines += o.Engines;
        return *this;
    }
};

// What a lexeme of a statement is to the check and the mends. A reader is fed the statement's
// lexemes that are neither blanks nor comments, in order, and names the values of the clauses:
// COLLATE [=] x, collation_connection = x, CHARSET [=] x, CHARACTER SET x, SET NAMES x,
// character_set_client = x, ENGINE = x, DEFINER = user[@host] (or CURRENT_USER[()]).
enum class TValueRole { None, Collation, Charset, Engine, DefinerKeyword, DefinerUser, DefinerHost, DefinerCurrent };

class TClauseReader {
public:
    void Reset() { *this = TClauseReader(); }
    TValueRole Take(int code, QStringView text);

private:
    enum TKey { kNone, kCollation, kCharset, kEngine, kCharacter, kSet };
    enum TDefiner { dNone, dKeyword, dEqual, dUser, dAt, dCurrent };
    TKey FKey = kNone;
    bool FEqual = false;  // the key was followed by "="
    TDefiner FDefiner = dNone;
};

// The name a value lexeme holds: a backquoted name or a quoted string without its quotes.
QString UnquotedValue(int code, QStringView text);

// One statement as the mends make it; counts receives what was changed. A statement the mends
// do not touch comes back as it is.
QString MendStatement(const QString& sql, const TRestoreMends& mends, TMendCounts& counts);

// Collations of one family and their nearest equivalent on the other, in order of preference:
// for a collation the target lacks, the first equivalent it has. The mapped collation keeps
// the character set; ordering of accents and trailing blanks (PAD SPACE or NO PAD) follow the
// original as closely as the target allows.
QString SafeCollationFor(const QString& collation, const QSet<QString>& targetCollations);

// "utf8_general_ci" and "utf8mb3_general_ci" name one collation; the name in the form a
// server lists it (lower case).
QString NormalCollationName(QStringView name);
QString NormalCharsetName(QStringView name);

// A summary line of the counts, e.g. "mended: 2 collations, 1 definer, 0 engines".
QString MendSummary(const TMendCounts& counts);

}  // namespace calvoro::dump
