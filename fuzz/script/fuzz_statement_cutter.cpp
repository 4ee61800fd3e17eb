// libFuzzer target for the statement cutter: for any script, cutting ends (never more
// statements than characters), raises nothing but the lexer's error, and every statement
// stands within the text, after the one before, at the line and column its position says,
// with the text found at its place (without the blanks at its end; only the beginning of one
// that is too long). A stream read in small blocks gives the same statements and error.
//
// Input: byte 0 picks the delimiter (bits 0-2), whether the script's own delimiter is ";"
// instead of it (bit 3) and the length limit (bits 4-5); byte 1 the block size (bits 0-4)
// and the encoding (bit 7: the rest is UTF-8 read from a UTF-16 stream, else 8-bit text).

#include "common/CodePage.h"
#include "script/MyStatementCutter.h"

#include <QBuffer>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace calvoro::script;
using calvoro::sqltext::EParserError;

// A broken invariant aborts, saying which one.
#define FUZZ_CHECK(condition)                                                                 \
    do {                                                                                      \
        if (!(condition)) {                                                                   \
            std::fprintf(stderr, "fuzz_statement_cutter:%d: %s\n", __LINE__, #condition);   \
            std::abort();                                                                     \
        }                                                                                     \
    } while (false)

namespace {

struct TResult {
    std::vector<TCutStatement> Statements;
    QString Error;
    qint64 ErrorLine = -1;
};

bool Same(const TCutStatement& a, const TCutStatement& b) {
    return a.Text == b.Text && a.Place == b.Place && a.Type == b.Type && a.Omit == b.Omit && a.TooLong == b.TooLong;
}

// The line and column of a position, counting CR LF, CR and LF as one line end each.
std::pair<qint64, qint64> LineAndColumn(const QString& text, qint64 pos) {
    qint64 line = 0, begin = 0;
    for (qint64 i = 0; i < pos; ++i) {
        const QChar c = text[i];
        if (c == u'\r' && i + 1 < pos && text[i + 1] == u'\n') continue;  // counted at the LF
        if (c == u'\r' || c == u'\n') {
            ++line;
            begin = i + 1;
        }
    }
    // A CR right before pos whose LF comes at pos belongs to the line end being read.
    return {line, pos - begin};
}

TResult CutAll(TStatementCutter& cutter, const QString& delimiter, const QString& scriptDelimiter,
               qint64 maxLength, qsizetype bound) {
    cutter.SetDelimiter(delimiter);
    cutter.SetDefaultDelimiter(scriptDelimiter);
    cutter.SetMaxLength(maxLength);
    TResult result;
    try {
        TCutStatement statement;
        while (cutter.Next(statement)) {
            result.Statements.push_back(statement);
            FUZZ_CHECK(qsizetype(result.Statements.size()) <= bound);
        }
        // Once at the end, it stays there.
        FUZZ_CHECK(!cutter.Next(statement));
    } catch (const EParserError& e) {
        result.Error = e.Message();
        result.ErrorLine = cutter.Lexer().CurrLine();
    }
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    if (Size < 2) return 0;
    static const char16_t* const delimiters[] = {u";", u"$$", u"//", u";;", u"END_OF", u"/", u"$", u"*/"};
    static const qint64 limits[] = {0, 8, 64, 1000};
    const QString delimiter = QString::fromUtf16(delimiters[Data[0] & 7]);
    const QString scriptDelimiter = (Data[0] & 8) ? QStringLiteral(";") : delimiter;
    const qint64 maxLength = limits[(Data[0] >> 4) & 3];
    const qsizetype block = 1 + (Data[1] & 0x1F);
    const bool wide = Data[1] & 0x80;

    const QByteArray input(reinterpret_cast<const char*>(Data + 2), qsizetype(Size - 2));
    const QString text = wide ? QString::fromUtf8(input) : calvoro::AnsiToUnicode(input);
    QByteArray bytes = input;
    if (wide) {
        bytes.clear();
        for (const QChar c : text) bytes += char(c.unicode() & 0xFF), bytes += char(c.unicode() >> 8);
    }

    TMyStatementCutter overText(text);
    const TResult fromText = CutAll(overText, delimiter, scriptDelimiter, maxLength, text.size() + 1);
    qint64 after = -1;  // where the statement before ended
    for (const TCutStatement& s : fromText.Statements) {
        const TStatementPlace& p = s.Place;
        FUZZ_CHECK(p.StartPos > after && p.StartPos <= p.EndPos && p.EndPos < text.size());
        FUZZ_CHECK(p.StartLine <= p.EndLine && p.WordLine >= p.StartLine && p.WordLine <= p.EndLine);
        const auto [line, column] = LineAndColumn(text, p.StartPos);
        FUZZ_CHECK(p.StartLine == line && p.StartOffset == column);
        const QString at = text.mid(p.StartPos, p.EndPos - p.StartPos + 1);
        if (s.TooLong) {
            FUZZ_CHECK(maxLength > 0 && at.size() > maxLength && s.Text.size() <= 1000 && at.startsWith(s.Text));
        } else {
            QString trimmed = at;
            while (!trimmed.isEmpty() && trimmed.back().isSpace()) trimmed.chop(1);
            FUZZ_CHECK(trimmed == s.Text && !s.Text.isEmpty());
            FUZZ_CHECK(maxLength == 0 || s.Text.size() <= maxLength);
            // The first word is still there once the delimiter is cut off: nothing is sent that
            // was only blanks and comments in the script.
            FUZZ_CHECK(p.WordOffset >= 0 && p.WordOffset < s.Text.size());
        }
        after = p.EndPos;
    }

    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    TMyStatementCutter overStream(&buffer, wide ? calvoro::sqltext::teUTF16LE : calvoro::sqltext::teAnsi);
    overStream.Lexer().SetBlockSize(block);
    const TResult fromStream = CutAll(overStream, delimiter, scriptDelimiter, maxLength, text.size() + 1);
    FUZZ_CHECK(fromStream.Error == fromText.Error && fromStream.ErrorLine == fromText.ErrorLine);
    FUZZ_CHECK(fromStream.Statements.size() == fromText.Statements.size());
    for (size_t i = 0; i < fromText.Statements.size(); ++i) FUZZ_CHECK(Same(fromStream.Statements[i], fromText.Statements[i]));
    return 0;
}
