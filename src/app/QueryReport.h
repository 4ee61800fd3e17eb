#pragma once
// The lines the custom query's memo shows for an executed text: what each statement gave.

#include "dataaccess/mysql/MyRecordset.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <vector>

namespace calvoro::app {

// One line per statement result, in order: "Rows matched: N;" for rows (N from rowCounts, the
// record counts of the results with rows in order) and "Rows affected: N;" for the others.
// The line of the rows shown ends in " Execution time: " and elapsed; a text without rows
// gives its last statement's line as "Rows affected N; Execution time: …".
QStringList QueryReportLines(const std::vector<dac::TMyStatementResult>& results, const QList<int>& rowCounts,
                             int shown, const QString& elapsed);

}  // namespace calvoro::app
