#pragma once
// The statements the windows run on one table or one database: reading, counting and emptying
// a table, setting its AUTO_INCREMENT counter, showing its CREATE statement, creating a
// database and asking whether one of a name exists. Names are raw (as the server lists them or as parsed from what a user typed)
// and always quoted here.

#include <QString>
#include <QStringList>

namespace calvoro::dac {

class TCustomMyConnection;
class TMyCommand;

// "SHOW CREATE TABLE `t`" (a view's too).
QString ShowCreateTableStatement(const QString& table);
// "SELECT * FROM `t`", and on a second line "LIMIT n" when limit > 0.
QString SelectRowsStatement(const QString& table, int limit);
// "SELECT count(*) FROM `t`".
QString CountRowsStatement(const QString& table);
// "DELETE FROM `t`".
QString DeleteAllRowsStatement(const QString& table);
// "ALTER TABLE `t` AUTO_INCREMENT = :autoincrement".
QString SetAutoIncrementStatement(const QString& table);
// Sets the command to that statement with its parameter: `value` is the decimal text of the
// new counter (0 to 2^64 - 1), written as the exact number.
void PrepareSetAutoIncrement(TMyCommand& command, const QString& table, const QString& value);

// "DROP DATABASE IF EXISTS `d`;" and "CREATE DATABASE `d`;" on two lines.
QString RecreateDatabaseStatement(const QString& database);
// The names of the databases that `database` names on the server: compared exactly, or
// without letter case where the server's lower_case_table_names is not 0.
QString ExistingDatabasesStatement(const QString& database, bool caseInsensitive, bool backslashEscapes);
// Asks the server (its lower_case_table_names, then the schemata).
QStringList ExistingDatabases(TCustomMyConnection& connection, const QString& database);

}  // namespace calvoro::dac
