#pragma once
// Which statement of an executed query text a Refresh of its rows may run again. The text goes
// to the server as one piece and may hold statements that change data before and after the
// one whose rows are shown; only that one may run again, and only when it merely reads.

#include "dataaccess/mysql/MyRecordset.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace calvoro::dac {
class TCustomMyDataSet;
}

namespace calvoro::app {

// The statements of a text as the script processor cuts them, without their delimiters;
// statements that hold nothing but comments are left out.
QStringList CutStatements(const QString& text);

// Whether a statement only reads: it begins (after comments and opening parentheses) with
// SELECT, WITH, VALUES, TABLE, SHOW, DESCRIBE, DESC, EXPLAIN, HELP or CHECKSUM.
bool StatementOnlyReads(const QString& statement);

// What a refresh of the shown rows may run: Statement, or Refusal saying why nothing may.
struct TRefreshPlan {
    QString Statement;
    QString Refusal;
};
// text: the executed text; results: every statement result the server sent for it; shown:
// the index of the one whose rows are shown. The statement is known when the server sent one
// result per statement of the cut text.
TRefreshPlan PlanRefresh(const QString& text, const std::vector<dac::TMyStatementResult>& results, int shown);

// Gives the data set the plan for the text it ran last.
void ApplyRefreshPlan(dac::TCustomMyDataSet& dataSet, const QString& text);

}  // namespace calvoro::app
