#include "StatementAtCursor.h"

#include "script/MyStatementCutter.h"
#include "sqltext/MyParser.h"

namespace calvoro::app {

namespace {

// Whether a statement holds something for the server (comments alone it answers with nothing
// useful); executable comments ("/*!…*/") count.
bool HoldsStatement(const QString& text) {
    sqltext::TMyParser parser(text);
    parser.FOmitBlank = true;
    parser.FOmitComment = false;
    QString lexem;
    for (int code; (code = parser.GetNext(lexem)) != sqltext::lexEnd;) {
        if (code != sqltext::lexComment) return true;
        if (lexem.startsWith(QStringLiteral("/*!")) || lexem.startsWith(QStringLiteral("/*M!"))) return true;
    }
    return false;
}

}  // namespace

QList<TStatementSpan> StatementSpans(const QString& text) {
    script::TMyStatementCutter cutter(text);
    QList<TStatementSpan> spans;
    script::TCutStatement cut;
    while (cutter.Next(cut)) {
        if (cut.Omit || !HoldsStatement(cut.Text)) continue;
        const int start = int(cut.Place.StartPos);
        spans << TStatementSpan{start, start + int(cut.Text.size()), int(cut.Place.StartLine), cut.Text};
    }
    return spans;
}

std::optional<TStatementSpan> StatementAtCursor(const QString& text, int position) {
    const QList<TStatementSpan> spans = StatementSpans(text);
    if (spans.isEmpty()) return std::nullopt;
    // The statement a position belongs to reaches from its start up to the next statement's
    // delimiter: the blanks after a delimiter still count for the statement before them.
    for (qsizetype i = spans.size() - 1; i >= 0; --i)
        if (position >= spans[i].Start) return spans[i];
    return spans.first();
}

}  // namespace calvoro::app
