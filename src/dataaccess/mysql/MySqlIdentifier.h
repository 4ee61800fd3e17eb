#pragma once
// MySQL identifiers and the string literals made from server values, in one place.
//
// A name read from the server (a table, column, routine, user or host) is raw: it is whatever
// the server holds, backticks, dots, quotes and line breaks included. It is always quoted as a
// whole, never taken as "already quoted" and never cut at a dot. Text a user typed ("db.t",
// "`my table`", "`a``b`") is parsed once into raw parts and carried as such from then on.

#include <QString>

#include <vector>

namespace calvoro::dac {

// A database object by its raw parts; an empty Database means the connection's database.
struct TObjectName {
    QString Database;
    QString Name;
    bool operator==(const TObjectName&) const = default;
};

// Whether a word is reserved in MySQL or MariaDB (ASCII letters compared without case): such
// a name must be backquoted wherever it stands.
bool IsReservedWord(const QString& word);
// Whether a raw name must be backquoted to read as itself: it is empty, it is not an ASCII
// letter followed by ASCII letters, digits, '_' or '$', or it is a reserved word.
bool IdentifierNeedsQuotes(const QString& raw);

// The raw name in backticks, every backtick inside doubled: always one identifier.
QString QuoteIdentifier(const QString& raw);
// Backquoted when `always` or when it needs quotes; otherwise the name as it is.
QString QuoteIdentifier(const QString& raw, bool always);
// "db.name" with each part quoted that way; the name alone without a database.
QString QuoteObjectName(const TObjectName& name, bool always = true);

// A value the server sent, as a string literal in single quotes. With backslash escapes (the
// session's sql_mode lacks NO_BACKSLASH_ESCAPES) quotes, backslashes, NUL, CR, LF and ^Z are
// backslash-escaped; without them a quote is doubled and nothing else changes.
QString QuoteString(const QString& value, bool backslashEscapes);

// Typed text. A part that begins with a backtick is a quoted identifier: it ends at the next
// single backtick ("``" inside stands for one) and only blanks, a dot or a separator may
// follow. Any other part is taken as typed, trimmed. Malformed text raises EDatabaseError
// with a message that names it.
//
// One name without a database part: "`a.b`" is a.b, "a.b" is a.b too.
QString ParseIdentifier(const QString& text);
// [database .] name, cut at a dot outside backticks: "db.t", "`db`.`t`", "`a.b`".
TObjectName ParseObjectName(const QString& text);
// Names separated by "," or ";" outside backticks; empty parts are dropped.
std::vector<TObjectName> ParseObjectNameList(const QString& text);
// The form to show or to type a name in: each part backquoted only when it needs quotes.
// ParseObjectName and ParseObjectNameList read it back to the same parts.
QString TypedObjectName(const TObjectName& name);

}  // namespace calvoro::dac
