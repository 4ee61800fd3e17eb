#pragma once
// What a statement of a restored script is, as far as running it on several connections
// goes: the statements of a dump's table sections (as this program, mariadb-dump and
// mysqldump write them) by kind and table, everything else as Other.
//
// Only what is certain counts: a data statement is an INSERT or REPLACE of literal rows
// (numbers, single-quoted strings, NULL, hexadecimal and bit literals, character set
// introducers), so that it reads nothing and depends on no variable of the session but its
// settings; a CREATE TABLE that reads or names no other table; a SET of session variables from
// literals and variables. Anything else, or a form not recognised, is Other.

#include "dataaccess/mysql/MySqlIdentifier.h"

#include <QString>

namespace calvoro::dump {

enum class TDumpStatementKind {
    Other,         // anything else
    Data,          // INSERT/REPLACE [IGNORE] [INTO] Table [(columns)] VALUES of literals
    CreateTable,   // CREATE [OR REPLACE] TABLE [IF NOT EXISTS] Table (…) of its own columns
    DropTable,     // DROP TABLE [IF EXISTS] Table (one table)
    TruncateTable, // TRUNCATE [TABLE] Table
    LockTable,     // LOCK TABLES Table WRITE (one table)
    LockOther,     // any other LOCK TABLES, FLUSH TABLES … WITH READ LOCK
    UnlockTables,  // UNLOCK TABLES
    DisableKeys,   // ALTER TABLE Table DISABLE KEYS
    EnableKeys,    // ALTER TABLE Table ENABLE KEYS
    Begin,         // BEGIN [WORK], START TRANSACTION
    Commit,        // COMMIT [WORK]
    Rollback,      // ROLLBACK [WORK]
    Autocommit,    // SET [SESSION] autocommit = 0 or 1, alone
    SessionSet,    // SET of session variables from literals and variables
    OtherSet,      // any other SET of the session (reads something, or calls a function)
    Use,           // USE Database (in Table.Database)
};

struct TDumpStatement {
    TDumpStatementKind Kind = TDumpStatementKind::Other;
    dac::TObjectName Table;   // raw parts, Database empty when not named
    bool AutocommitOn = false;  // Autocommit: the value set
    // Other: a SET that names autocommit in a form not read here (it may turn it off).
    bool MayOpenTransaction = false;
};

// The kind of one statement as it stands in the script (without its delimiter). A statement
// that is one executable comment ("/*!40000 … */") is read by its content.
TDumpStatement ClassifyDumpStatement(const QString& sql);

}  // namespace calvoro::dump
