#pragma once
// Whether a statement text may change data or structure, read with the MySQL lexer: what a
// read-only session refuses before sending. The reading errs on the side of "changes": a
// statement it does not know as a reading one counts as changing, and the server's own
// read-only transaction stays the last word for what slips through (a stored function called
// from a SELECT, for one).

#include <QString>

namespace calvoro::dac {

// True when some statement of the text (statements separated by ";") may change data,
// structure, accounts or server settings, or may lift the session's read-only state.
// Executable comments ("/*! … */") count as code; plain comments and empty statements do not.
// Reading: SELECT (not INTO OUTFILE / DUMPFILE), WITH … SELECT, TABLE, VALUES, SHOW,
// DESCRIBE / EXPLAIN (not EXPLAIN ANALYZE of a changing statement), HELP, USE, DO, CHECK,
// CHECKSUM, HANDLER, BEGIN / COMMIT / ROLLBACK / SAVEPOINT (not READ WRITE), PREPARE,
// DEALLOCATE, and SET of user and session variables (not GLOBAL, PERSIST, PASSWORD, ROLE,
// TRANSACTION or the read-only variables).
bool StatementChangesData(const QString& sql);

}  // namespace calvoro::dac
