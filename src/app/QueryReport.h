#pragma once
// The line the custom query's memo shows for each executed statement: what it gave, its
// warnings and its time.

#include <QString>

namespace calvoro::app {

// "Rows matched: N;" for a statement that returned rows (N: the rows read), "Rows affected N;"
// for one that did not; then " Warnings: W;" when the server reported any; then
// " Execution time: " and elapsed.
QString StatementReportLine(bool rows, qint64 count, int warnings, const QString& elapsed);

}  // namespace calvoro::app
