#include "QueryReport.h"

namespace calvoro::app {

QString StatementReportLine(bool rows, qint64 count, int warnings, const QString& elapsed) {
    QString line = rows ? QStringLiteral("Rows matched: %1;").arg(count) : QStringLiteral("Rows affected %1;").arg(count);
    if (warnings > 0) line += QStringLiteral(" Warnings: %1;").arg(warnings);
    return line + QStringLiteral(" Execution time: ") + elapsed;
}

}  // namespace calvoro::app
