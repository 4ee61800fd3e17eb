#pragma once
// What the user is typing in the query editor, read with the SQL lexer from the text and the
// cursor: the word under way and where it stands (a table name, a column of a named table, any
// expression), and the tables and aliases the statement around the cursor names.

#include <QString>
#include <QStringList>

#include <vector>

namespace calvoro::app {

enum class TCompletionPlace {
    None,      // inside a string, a comment or a number: nothing to offer
    Any,       // an expression or the start of a statement
    Table,     // after FROM, JOIN, UPDATE, INTO, TABLE, DESCRIBE, or in a FROM list
    Column,    // the column list of INSERT INTO t ( … )
    Database,  // after USE
    Member,    // after "qualifier." : columns of a table or alias, or tables of a database
};

// A table the statement names, by its raw parts; Database is empty for the current one.
struct TCompletionTableRef {
    QString Database;
    QString Table;
    QString Alias;
    bool operator==(const TCompletionTableRef&) const = default;
};

struct TCompletionContext {
    TCompletionPlace Place = TCompletionPlace::None;
    // The raw text typed of the word so far (backticks taken off, "``" read as one).
    QString Prefix;
    // The word began with a backtick: what replaces it is quoted always.
    bool Quoted = false;
    // The part of the text a chosen name replaces: the whole word under the cursor, its
    // opening backtick included (positions in UTF-16 units of the text).
    qsizetype ReplaceFrom = 0;
    qsizetype ReplaceTo = 0;
    // Member place: the raw names before the dot, outermost first ("db", "t" for db.t.|).
    QStringList Qualifier;
    // The tables the statement around the cursor names, in the order they appear.
    std::vector<TCompletionTableRef> Tables;
};

// Reads the text at the cursor (a position in UTF-16 units). The statement is the one the
// cursor stands in: statements end at ";" or at the delimiter a DELIMITER line sets.
TCompletionContext AnalyzeCompletion(const QString& text, qsizetype cursor);

}  // namespace calvoro::app
