#pragma once
// The MySQL rules of cutting scripts: the MySQL lexer (executable comments are code),
// DELIMITER commands as the first word of a statement (a blank ends their value), and routine
// and trigger headers under ";" whose bodies run past every ";".

#include "StatementCutter.h"

#include <QIODevice>

namespace calvoro::script {

class TMyStatementCutter : public TStatementCutter {
public:
    // Over a text, or over a stream from where it stands (the stream stays the caller's).
    explicit TMyStatementCutter(const QString& text);
    TMyStatementCutter(QIODevice* stream, sqltext::TTextEncoding encoding);

protected:
    void TrackLexeme(int code, int& type, bool& omit) override;
    bool EndsDelimiterOnBlank() const override { return true; }
};

}  // namespace calvoro::script
