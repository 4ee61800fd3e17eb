#pragma once
// Where the statements of an editor's text stand, as the script cutter reads them (DELIMITER
// commands, strings and comments holding the delimiter, routine bodies), and which of them the
// cursor is in.

#include <QList>
#include <QString>

#include <optional>

namespace calvoro::app {

// One statement of a text: its characters [Start, End) without the delimiter and the blanks
// around it, and the 0-based line of its first character.
struct TStatementSpan {
    int Start = 0;
    int End = 0;
    int Line = 0;
    QString Text;
    bool operator==(const TStatementSpan&) const = default;
};

// Every statement of the text the server would be sent, in order; DELIMITER commands and
// statements of nothing but comments are left out.
QList<TStatementSpan> StatementSpans(const QString& text);

// The statement the cursor (a character position) is in: the last one that starts at or before
// it (so the delimiter and the blanks after a statement still belong to it), else the first;
// none for a text without statements.
std::optional<TStatementSpan> StatementAtCursor(const QString& text, int position);

}  // namespace calvoro::app
