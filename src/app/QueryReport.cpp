#include "QueryReport.h"

namespace calvoro::app {

QStringList QueryReportLines(const std::vector<dac::TMyStatementResult>& results, const QList<int>& rowCounts,
                             int shown, const QString& elapsed) {
    const QString time = QStringLiteral(" Execution time: ") + elapsed;
    QStringList lines;
    qsizetype rows = 0;
    for (size_t i = 0; i < results.size(); ++i) {
        const dac::TMyStatementResult& r = results[i];
        if (r.Rows) {
            const QString line = QStringLiteral("Rows matched: %1;").arg(rowCounts.value(rows++));
            lines << (int(i) == shown ? line + time : line);
        } else if (shown < 0 && i + 1 == results.size()) {
            lines << QStringLiteral("Rows affected %1;").arg(r.RowsAffected) + time;
        } else {
            lines << QStringLiteral("Rows affected: %1;").arg(r.RowsAffected);
        }
    }
    return lines;
}

}  // namespace calvoro::app
