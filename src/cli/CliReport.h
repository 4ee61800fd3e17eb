#pragma once
// What the script, backup and restore commands write on standard error: texts as the bytes
// they stand for, a progress line on a terminal, and failing statements as the mariadb client
// reports them.

#include "script/DAScript.h"

#include <QFile>
#include <QString>

#include <cstdio>
#include <exception>

namespace calvoro::cli {

// Writes text as the bytes it stands for: on the 8-bit connection every character is one byte
// of the script or of the server's message.
void Put(FILE* out, const QString& text);

// "ERROR code (state): message" for a server error, "ERROR: message" otherwise.
QString ErrorText(const std::exception& e);

// A one-line progress display, redrawn when its text changes; only on a terminal.
class TProgressLine {
public:
    explicit TProgressLine(FILE* out);
    // Whether the line is shown at all: callers skip building its text otherwise.
    bool Active() const { return FShown; }
    void Show(const QString& text);
    // Removes the line, so that a report starts on a clean line.
    void Clear();

private:
    FILE* FOut;
    bool FShown;
    QString FLast;
};

// "[#####.....]  42%" for done of total bytes, or "N MB read" when the total is unknown.
QString BytesProgress(qint64 done, qint64 total);

// Opens a script file, or standard input for "-"; raises "Cannot open file …" otherwise.
void OpenScriptInput(QFile& file, const QString& name);

// "line N: <first line of the statement>" and the error: N is the line of the statement's
// first word, as the mariadb client counts it.
void ReportFailure(FILE* err, const script::TDAScript& script, const std::exception& e, const QString& sql);
void ReportFailure(FILE* err, const script::TStatementPlace& place, const std::exception& e, const QString& sql);

}  // namespace calvoro::cli
