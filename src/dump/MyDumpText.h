#pragma once
// The text pieces of a MySQL backup script, as plain functions: how names are written, how a
// value the server sent is written as a literal that restores to the same value, and the
// small rewrites of the server's CREATE texts.

#include "ByteOutput.h"
#include "dataaccess/mysql/MySqlIdentifier.h"
#include "protocol/MySqlApiDirect.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

namespace calvoro::dump {

// A raw name as the backup writes it: backquoted when `quoteNames`, when it needs quotes, or
// when it is a reserved word. With a database, each part so.
QString DumpName(const QString& raw, bool quoteNames);
QString DumpName(const dac::TObjectName& name, bool quoteNames);
// A column name of a complete INSERT: backquoted only when it needs it.
QString DumpColumnName(const QString& raw);

// How a result column's values are written.
enum class TValueKind {
    Number,  // the server's text unquoted: integers, DECIMAL, YEAR
    Double,  // the shortest text that reads back to the same double
    Float,   // the column was read as a double; the shortest text of the float it holds
    Bit,     // the bytes in hexadecimal (0x…)
    Binary,    // bytes of the binary character set: _binary '…', or hexadecimal with HexBlob
    LongText,  // a TEXT column: quoted, or hexadecimal with HexBlob
    Text,      // a quoted string in the connection's character set
};
// The kind of a column of a text-protocol result; `isFloat` says that the column is a FLOAT
// read as a double.
TValueKind ValueKindOf(const protocol::TMYSQL_FIELD& field, bool isFloat);

// Appends one value (not NULL) as the server sent it in a text-protocol row. Strings are
// backslash-escaped: the script sets its own sql_mode, which keeps backslash escapes.
void AppendDumpValue(QByteArray& out, TValueKind kind, QByteArrayView value, bool hexBlob);

// SHOW TRIGGERS LIKE takes a pattern: '_', '%', '\' and quotes of a name are escaped.
QString LikePatternLiteral(const QString& name);
// A string literal with backslash escapes (the dump session's sql_mode keeps them).
QString StringLiteral(const QString& text);

// The CREATE text without its DEFINER=user@host clause.
QString StripDefiner(const QString& createText);
// Whether the text's last line ends inside a line comment ("-- …" or "# …"): a delimiter
// written after it on that line would be commented out.
bool EndsInLineComment(const QString& text);
// Orders views so that each comes after the views it reads. `names` are raw; `definitions`
// holds each view's CREATE text; a view is taken to read another when that view's name
// appears in its text as a quoted or bare identifier. Views in a cycle keep their order.
// Returns indexes.
std::vector<int> ViewDependencyOrder(const QStringList& names, const QStringList& definitions);

}  // namespace calvoro::dump
