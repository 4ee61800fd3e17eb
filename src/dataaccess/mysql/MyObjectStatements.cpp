#include "MyObjectStatements.h"

#include "MyAccess.h"
#include "MySqlIdentifier.h"

namespace calvoro::dac {

QString ShowCreateTableStatement(const QString& table) {
    return QStringLiteral("SHOW CREATE TABLE ") + QuoteIdentifier(table);
}

QString SelectRowsStatement(const QString& table, int limit) {
    QString text = QStringLiteral("SELECT * FROM ") + QuoteIdentifier(table);
    if (limit > 0) text += QStringLiteral("\r\nLIMIT %1").arg(limit);
    return text;
}

QString CountRowsStatement(const QString& table) {
    return QStringLiteral("SELECT count(*) FROM ") + QuoteIdentifier(table);
}

QString DeleteAllRowsStatement(const QString& table) { return QStringLiteral("DELETE FROM ") + QuoteIdentifier(table); }

QString SetAutoIncrementStatement(const QString& table) {
    return QStringLiteral("ALTER TABLE ") + QuoteIdentifier(table) + QStringLiteral(" AUTO_INCREMENT = :autoincrement");
}

void PrepareSetAutoIncrement(TMyCommand& command, const QString& table, const QString& value) {
    command.SQL().SetText(SetAutoIncrementStatement(table));
    // Written as the exact decimal number: values beyond the signed 64-bit range are keys too.
    TDAParam& param = command.ParamByName(QStringLiteral("autoincrement"));
    param.SetDataType(ftFMTBcd);
    param.SetValue(value);
}

QString RecreateDatabaseStatement(const QString& database) {
    const QString quoted = QuoteIdentifier(database);
    return QStringLiteral("DROP DATABASE IF EXISTS %1;\r\nCREATE DATABASE %1;").arg(quoted);
}

QString ExistingDatabasesStatement(const QString& database, bool caseInsensitive, bool backslashEscapes) {
    // Compared in utf8mb4 whatever the connection speaks, with the collation that matches the
    // server's own comparison of database names.
    return QStringLiteral("SELECT SCHEMA_NAME FROM information_schema.SCHEMATA WHERE SCHEMA_NAME = CONVERT(%1 USING "
                          "utf8mb4) COLLATE %2 ORDER BY SCHEMA_NAME")
        .arg(QuoteString(database, backslashEscapes),
             caseInsensitive ? QStringLiteral("utf8mb4_general_ci") : QStringLiteral("utf8mb4_bin"));
}

QStringList ExistingDatabases(TCustomMyConnection& connection, const QString& database) {
    TMyQuery query;
    query.SetConnection(&connection);
    query.SQL().SetText(QStringLiteral("SELECT @@lower_case_table_names"));
    query.Open();
    const bool caseInsensitive = query.Fields()[0].AsInteger() != 0;
    query.Close();
    query.SQL().SetText(ExistingDatabasesStatement(database, caseInsensitive, connection.NeedBackslashes()));
    query.Open();
    QStringList names;
    for (query.First(); !query.Eof(); query.Next()) names << query.Fields()[0].AsString();
    return names;
}

}  // namespace calvoro::dac
