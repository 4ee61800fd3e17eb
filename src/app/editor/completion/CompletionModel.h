#pragma once
// The candidates completion offers for a context: the names of the catalog, keywords and
// functions whose names begin with what was typed, ranked for the place, each with the text
// that replaces the word.

#include "CompletionCatalog.h"
#include "CompletionContext.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace calvoro::app {

enum class TCandidateKind { Column, Table, View, Database, Function, Keyword };
// "column", "table", … as the list shows them.
QString CandidateKindName(TCandidateKind kind);

struct TCandidate {
    QString Name;    // as shown: the raw name, or the keyword or function
    TCandidateKind Kind = TCandidateKind::Keyword;
    QString Insert;  // what replaces the typed word: names quoted where they need it
    QString Detail;  // the column's type and table, …
    bool operator==(const TCandidate&) const = default;
};

struct TCompletionResult {
    std::vector<TCandidate> Candidates;
    // Databases whose names the context wants and the catalog lacks: to be loaded.
    QStringList Missing;
};

// The words completion knows without a server (upper case, sorted).
const QStringList& CompletionKeywords();
const QStringList& CompletionFunctions();

// Candidates whose names begin with the prefix (letter case ignored), grouped by kind in the
// place's order; within a kind, those matching the prefix's letter case exactly first, then in
// the catalog's order (columns as their table has them, other names sorted).
TCompletionResult CompletionCandidates(const TCompletionContext& context, const TCompletionCatalog& catalog);

}  // namespace calvoro::app
