#pragma once
// The MySQL dialect of the SQL lexer, used wherever this system reads SQL text.
//
// Differences from generic SQL: '#' and "-- " (two dashes and a blank, a control character or
// the end of the text) start line comments;
// strings are quoted with ' or " and a backslash escapes the character after it; identifiers
// are quoted with backticks (no escapes inside, as in MySQL); '$' is a letter, so "$$" and
// "END$$" are identifiers; the keyword table adds the MySQL statements' words.
//
// Executable comments ("/*!", "/*M!", each with an optional version of five or six digits)
// hold code the server runs: their text is lexed as code between an opener and a closer
// lexeme, so that a "*/" or a ";" inside a string in them is text, as the server reads it.

#include "CRParser.h"

namespace calvoro::sqltext {

// Keyword codes the MySQL dialect adds.
#define CALVORO_MYSQL_KEYWORDS(X)                                                                \
    X(CHARSET, 1000) X(COLUMNS, 1001) X(CREATE, 1002) X(CROSS, 1003) X(DELIMITER, 1004)          \
    X(DESC, 1005) X(DESCRIBE, 1006) X(EXPLAIN, 1007) X(FORCE, 1008) X(FUNCTION, 1009)            \
    X(IGNORE, 1010) X(NATURAL, 1011) X(PRIVILEGES, 1012) X(PROCEDURE, 1013) X(REPLACE, 1014)     \
    X(SHOW, 1015) X(SLAVE, 1016) X(STATUS, 1017) X(STRAIGHT_JOIN, 1018) X(TRIGGER, 1019)         \
    X(USE, 1020) X(HANDLER, 1021) X(DISTINCTROW, 1022) X(ENGINES, 1023) X(PROCESSLIST, 1024)

enum : int { CALVORO_MYSQL_KEYWORDS(CALVORO_LEXEM_CODE) };

class TMyParser : public TSQLParser {
public:
    explicit TMyParser(const QString& Text);
    explicit TMyParser(QIODevice* Stream, TTextEncoding Encoding = teAnsi);

protected:
    TMyParser(const QString& Text, TDeferSetup);
    TMyParser(QIODevice* Stream, TTextEncoding Encoding, TDeferSetup);

    void SetupDialect() override;
    bool IsLetterChar(QChar Ch) const override;
    bool IsStringQuoteChar(QChar Ch) const override;
    bool SkipQuoted(QChar Quote) override;
    bool IsIdentQuoteChar(QChar Ch) const override;
    bool IsLineCommentAt(qsizetype Index) const override;
    qsizetype CodeCommentOpenerAt(qsizetype Index) const override;
};

}  // namespace calvoro::sqltext
