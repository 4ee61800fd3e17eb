#include "DatabaseFingerprint.h"

#include "MyTestConnection.h"

#include "dataaccess/mysql/MySqlIdentifier.h"

#include <QCryptographicHash>
#include <QStringList>

namespace calvoro::test {

QString Fingerprint(dac::TCustomMyConnection& c, const QString& db) {
    QStringList lines;
    c.Connect();
    // Names of any kind: identifiers quoted whole, values as literals.
    const auto literal = [&](const QString& value) { return dac::QuoteString(value, c.NeedBackslashes()); };
    const QString self = dac::QuoteIdentifier(db) + u'.';
    const auto hash = [&](const QString& text) {
        QString plain = text;
        plain.remove(self);
        return QString::fromLatin1(QCryptographicHash::hash(plain.toUtf8(), QCryptographicHash::Md5).toHex());
    };
    for (const auto& row : AllRows(c, QStringLiteral("SELECT TABLE_NAME FROM information_schema.TABLES WHERE "
                                                     "TABLE_SCHEMA = %1 AND TABLE_TYPE = 'BASE TABLE' ORDER BY "
                                                     "TABLE_NAME")
                                          .arg(literal(db)))) {
        const QString table = row[0].value_or(QString());
        const QString checksum = QStringLiteral("CHECKSUM TABLE %1").arg(dac::QuoteObjectName({db, table}));
        lines << FirstRow(c, checksum)[1].value_or(QString());
        lines << table + u' ' +
                     hash(RowsText(c, QStringLiteral("SELECT COLUMN_NAME, COLUMN_TYPE, IS_NULLABLE, COLUMN_DEFAULT, "
                                                     "EXTRA, GENERATION_EXPRESSION, COLLATION_NAME FROM "
                                                     "information_schema.COLUMNS WHERE TABLE_SCHEMA = %1 AND "
                                                     "TABLE_NAME = %2 ORDER BY ORDINAL_POSITION")
                                          .arg(literal(db), literal(table))));
    }
    const auto texts = [&](const QString& sql) {
        for (const auto& row : AllRows(c, sql.arg(literal(db))))
            lines << row[0].value_or(QString()) + u' ' + hash(row[1].value_or(QString()));
    };
    texts(QStringLiteral("SELECT TABLE_NAME, VIEW_DEFINITION FROM information_schema.VIEWS WHERE TABLE_SCHEMA = %1 "
                         "ORDER BY TABLE_NAME"));
    texts(QStringLiteral("SELECT CONCAT(ROUTINE_TYPE, ' ', ROUTINE_NAME), CONCAT_WS('|', ROUTINE_DEFINITION, "
                         "SQL_MODE, DTD_IDENTIFIER, SECURITY_TYPE) FROM information_schema.ROUTINES WHERE "
                         "ROUTINE_SCHEMA = %1 ORDER BY ROUTINE_TYPE, ROUTINE_NAME"));
    texts(QStringLiteral("SELECT TRIGGER_NAME, CONCAT_WS('|', EVENT_OBJECT_TABLE, ACTION_TIMING, EVENT_MANIPULATION, "
                         "ACTION_STATEMENT, SQL_MODE) FROM information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = %1 "
                         "ORDER BY TRIGGER_NAME"));
    return lines.join(u'\n');
}

}  // namespace calvoro::test
