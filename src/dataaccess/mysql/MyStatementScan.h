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
    // Table references of the first FROM clause (or of HANDLER): unquoted name and alias
    // (empty without one); derived tables are left out.
    std::vector<std::pair<QString, QString>> FromTables() const;

private:
    struct Token {
        int Code;
        QString Upper;  // the lexeme upper-cased
        QString Text;   // as written
        qsizetype Pos, Length;
        int Depth;      // parentheses around it
    };
    QString FText;
    std::vector<Token> FTokens;
};

// A statement that returns no rows but the same columns: a SELECT's row count becomes 0
// ("LIMIT 10" -> "LIMIT 0", "LIMIT 5, 10" -> "LIMIT 5, 0"), or "LIMIT 0" goes in before a
// trailing FOR UPDATE, LOCK IN SHARE MODE, PROCEDURE or ";", or at the end. Only the outer
// query counts: subqueries in parentheses are left alone. Other statements and procedure
// calls come back unchanged.
QString AddLimit0(const QString& sql);

}  // namespace calvoro::dac
