#include "StatementRefresh.h"

#include "dataaccess/mysql/MyAccess.h"
#include "script/MyScript.h"
#include "sqltext/MyParser.h"

namespace calvoro::app {

namespace {

bool IsExecutableComment(const QString& comment) {
    return comment.startsWith(QStringLiteral("/*!")) || comment.startsWith(QStringLiteral("/*M!"));
}

// The first words of a statement, upper-cased, after comments the server skips and opening
// parentheses; none when an executable comment ("/*!…*/", "/*M!…*/") comes first.
QStringList FirstWords(const QString& statement, int count) {
    sqltext::TMyParser parser(statement);
    parser.FOmitBlank = true;
    parser.FOmitComment = false;
    QStringList words;
    QString lexem;
    while (words.size() < count) {
        const int code = parser.GetNext(lexem);
        if (code == sqltext::lexEnd) break;
        if (code == sqltext::lexComment) {
            if (IsExecutableComment(lexem)) return {};
            continue;
        }
        if (words.isEmpty() && lexem == u"(") continue;
        words << lexem.toUpper();
    }
    return words;
}

QString FirstWord(const QString& statement) { return FirstWords(statement, 1).value(0); }

// Whether the server's answers to a statement cannot be counted before it runs: a CALL or an
// EXECUTE answers once per result set and once more, a compound statement once per result set
// of the statements inside it and once for itself (and the cut takes those statements apart).
bool AnswersUncounted(const QString& statement) {
    static const QStringList uncounted{
        QStringLiteral("CALL"), QStringLiteral("EXECUTE"), QStringLiteral("IF"),     QStringLiteral("CASE"),
        QStringLiteral("LOOP"), QStringLiteral("WHILE"),   QStringLiteral("REPEAT"), QStringLiteral("FOR"),
    };
    const QStringList words = FirstWords(statement, 2);
    if (words.isEmpty()) return false;
    if (uncounted.contains(words[0])) return true;
    if (words[0] == u"BEGIN" && words.value(1) == u"NOT") return true;  // BEGIN NOT ATOMIC … END
    return words.value(1) == u":";                                       // a labelled block or loop
}

// Whether comments follow the text's last statement: the server answers them as one more
// (empty) statement.
bool EndsInComments(const QString& text) {
    sqltext::TMyParser parser(text);
    parser.FOmitBlank = true;
    parser.FOmitComment = false;
    bool afterDelimiter = false, comments = false;
    QString lexem;
    for (int code; (code = parser.GetNext(lexem)) != sqltext::lexEnd;) {
        if (code == sqltext::lexComment && !IsExecutableComment(lexem)) {
            comments = comments || afterDelimiter;
        } else if (lexem == u";") {
            afterDelimiter = true;
            comments = false;
        } else {
            afterDelimiter = comments = false;
        }
    }
    return comments;
}

QString NotKnown(const QString& why) {
    return QStringLiteral("These rows cannot be read again by themselves: %1, so which statement they came from is "
                          "not known. Execute the query to read them anew")
        .arg(why);
}

}  // namespace

QStringList CutStatements(const QString& text) {
    script::TMyScript script;
    script.SQL().SetText(text);
    script::TDAStatements& cut = script.Statements();
    QStringList statements;
    for (int i = 0; i < cut.Count(); ++i)
        if (!cut[i].Omit()) statements << cut[i].SQL();
    return statements;
}

bool StatementOnlyReads(const QString& statement) {
    static const QStringList reading{
        QStringLiteral("SELECT"),  QStringLiteral("WITH"),     QStringLiteral("VALUES"),
        QStringLiteral("TABLE"),   QStringLiteral("SHOW"),     QStringLiteral("DESCRIBE"),
        QStringLiteral("DESC"),    QStringLiteral("EXPLAIN"),  QStringLiteral("HELP"),
        QStringLiteral("CHECKSUM"),
    };
    return reading.contains(FirstWord(statement));
}

TRefreshPlan PlanRefresh(const QString& text, const std::vector<dac::TMyStatementResult>& results, int shown) {
    if (shown < 0 || size_t(shown) >= results.size() || !results[size_t(shown)].Rows)
        return {{}, QStringLiteral("The query showed no rows to read again")};
    QStringList statements;
    try {
        statements = CutStatements(text);
    } catch (const sqltext::EParserError&) {
        // A text the lexer cannot read has no statements to tell apart; the refusal below says so.
    }
    const size_t answers = size_t(statements.size()) + (EndsInComments(text) ? 1 : 0);
    if (answers != results.size() || shown >= statements.size())
        return {{}, NotKnown(QStringLiteral("the server answered the query's %1 with %2 results (a CALL answers with "
                                            "one more than its result sets)")
                                 .arg(statements.size() == 1 ? QStringLiteral("one statement")
                                                             : QStringLiteral("%1 statements").arg(statements.size()))
                                 .arg(results.size()))};
    for (int i = 0; i < shown; ++i)
        if (AnswersUncounted(statements[i]))
            return {{}, NotKnown(QStringLiteral("a statement before them (%1) may answer with any number of results")
                                     .arg(FirstWord(statements[i])))};
    const QString& statement = statements[shown];
    if (!StatementOnlyReads(statement)) {
        const QString word = FirstWord(statement);
        return {{},
                QStringLiteral("These rows cannot be read again: the statement they came from (%1) may change data, "
                               "and only Execute runs such a statement. Execute the query to run it anew")
                    .arg(word.isEmpty() ? QStringLiteral("an executable comment") : word)};
    }
    return {statement, {}};
}

void ApplyRefreshPlan(dac::TCustomMyDataSet& dataSet, const QString& text) {
    if (!dataSet.Active()) return;
    const TRefreshPlan plan = PlanRefresh(text, dataSet.StatementResults(), dataSet.ShownResult());
    if (plan.Refusal.isEmpty()) dataSet.SetRefreshSQL(plan.Statement);
    else dataSet.RefuseRefresh(plan.Refusal);
}

}  // namespace calvoro::app
