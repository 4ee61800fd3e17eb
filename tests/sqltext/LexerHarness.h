#pragma once
// Runs a lexer over a whole text and records what it returned, for the lexer tests.

#include "sqltext/MyParser.h"

#include <QBuffer>
#include <QString>
#include <memory>
#include <ostream>
#include <vector>

namespace calvoro::sqltext::test {

enum class TDialect { Parser, SQL, My };

struct TLexerOptions {
    TDialect Dialect = TDialect::My;
    bool KeepBlanks = false;
    bool OmitComments = false;
    bool OmitKeywords = false;
    bool Lower = false;  // FUppered off
    bool Quoted = false;
    bool Advanced = false;
    QChar DecSeparator = u'.';
};

// One lexeme with the position, line and column after it.
struct TLexeme {
    int Code = 0;
    QString Text;
    qint64 Pos = 0, Line = 0, Col = 0;
    bool operator==(const TLexeme&) const = default;
};

// Everything a lexer returned up to lexEnd or its error.
struct TLexing {
    std::vector<TLexeme> Lexemes;  // ends with lexEnd unless Error is set
    QString Error;
    qint64 ErrorPos = 0, ErrorLine = 0, ErrorCol = 0;
    bool operator==(const TLexing&) const = default;
};

std::unique_ptr<TParser> MakeLexer(const TLexerOptions& Options, const QString& Text);
std::unique_ptr<TParser> MakeLexer(const TLexerOptions& Options, QIODevice* Stream,
                                   TTextEncoding Encoding, qsizetype BlockSize);

// Lexes to the end. With BackEveryStep, each lexeme is read, stepped back over and read
// again, and the second reading is recorded. Raises std::logic_error when the lexer does not
// reach the end within a bound (a lexer that stops advancing).
TLexing LexAll(TParser& Lexer, bool BackEveryStep = false);

// The text in the given encoding, or an empty optional when it cannot be encoded losslessly.
std::optional<QByteArray> Encode(const QString& Text, TTextEncoding Encoding);

QString CodeName(int Code);
// The text of a corpus file: {CR} {LF} {TAB} {SP} {U+XXXX} stand for those characters.
QString UnescapeCorpusText(QStringView Text);
void PrintTo(const TLexeme& L, std::ostream* os);
void PrintTo(const TLexing& L, std::ostream* os);

// A device that hands out at most Chunk bytes per read and can be told to fail after a number
// of bytes; it stands for slow pipes and broken files.
class TTrickleDevice : public QIODevice {
public:
    TTrickleDevice(QByteArray Data, qint64 Chunk, qint64 FailAfter = -1);
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray FData;
    qint64 FChunk;
    qint64 FFailAfter;
    qint64 FPos = 0;
};

}  // namespace calvoro::sqltext::test
