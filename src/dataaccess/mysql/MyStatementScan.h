#pragma once
// What the MySQL record set reads from a statement's text with the MySQL lexer: which
// keywords it has (SHOW statements and the like get display-length corrections), the text
// rewritten to return no rows (fields wanted before the statement runs), and the tables and
// aliases of its FROM clause (for editing the rows).

#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

namespace calvoro::dac {

class TStatementScan {
public:
    explicit TStatementScan(const QString& sql);

    // Whether the words occur in this order (not necessarily next to each other), outside
    // strings and comments; words are compared upper-cased.
    bool Has(std::initializer_list<const char*> words) const;
    bool IsShow() const { return Has({"SHOW"}); }
    // CALL at the start.
    bool IsProcCall() const;

    // The text made to return no rows (see AddLimit0).
    QString WithLimit0() const;
    // Table references of the first FROM clause (or of HANDLER), unquoted; derived tables are
    // left out.
    struct TTableRef {
        QString Database;  // empty without one
        QString Table;
        QString Alias;     // empty without one
        bool operator==(const TTableRef&) const = default;
    };
    std::vector<TTableRef> FromTables() const;

    // Where the statement's clauses stand (for the text editing functions).
    struct Token {
        int Code;
        QString Upper;  // the lexeme upper-cased
        QString Text;   // as written
        qsizetype Pos, Length;
        int Depth;      // parentheses around it
    };
    const QString& Text() const { return FText; }
    const std::vector<Token>& Tokens() const { return FTokens; }
    // The index of the first SELECT token outside strings (or Tokens().size()).
    size_t FirstSelect() const;
    // The index of the first token after `from` at the depth of `from` whose word is one of
    // words (or Tokens().size()).
    size_t FindClause(size_t from, std::initializer_list<const char*> words) const;

private:
    QString FText;
    std::vector<Token> FTokens;
};

// Editing a SELECT's text (the data-set helpers). Texts without SELECT come back unchanged;
// only the outer query counts: subqueries in parentheses are left alone.
//
// AddWhere: the condition joins the WHERE clause ("WHERE (old) AND condition "), or a new
// one ("\rWHERE condition ") goes in before GROUP, HAVING, ORDER, LIMIT, PROCEDURE, FOR,
// LOCK, a final ";", or at the end of the trimmed text.
QString AddWhere(const QString& sql, const QString& condition);
// Removes the WHERE clause.
QString DeleteWhere(const QString& sql);
// Replaces the ORDER BY list (empty fields: removes the clause), or adds one.
QString SetOrderBy(const QString& sql, const QString& fields);
// The ORDER BY list, or empty.
QString GetOrderBy(const QString& sql);
// The statement that counts the rows of a SELECT (ORDER BY dropped): "SELECT COUNT(*) FROM
// ...", or the SELECT as a derived table when it has LIMIT, DISTINCT, GROUP BY, HAVING or
// UNION, whose rows are not the table's rows; empty when the text is no SELECT ... FROM.
QString CountQuery(const QString& sql);

// A statement that returns no rows but the same columns: a SELECT's row count becomes 0
// ("LIMIT 10" -> "LIMIT 0", "LIMIT 5, 10" -> "LIMIT 5, 0"), or "LIMIT 0" goes in before a
// trailing FOR UPDATE, LOCK IN SHARE MODE, PROCEDURE or ";", or at the end. Only the outer
// query counts: subqueries in parentheses are left alone. Other statements and procedure
// calls come back unchanged.
QString AddLimit0(const QString& sql);

}  // namespace calvoro::dac
