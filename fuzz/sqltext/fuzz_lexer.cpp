// libFuzzer target for the SQL lexer: for any text, lexing terminates, raises nothing but the
// lexer's own error, and gives the same lexemes, positions and errors from a string as from a
// stream decoded in small blocks (with and without stepping back after every lexeme). With
// every character returned and nothing rewritten, the lexemes put together are the text.
//
// Input: byte 0 picks the dialect and switches, byte 1 the stream encoding and block size;
// the rest is the text in that encoding.

#include "FuzzCheck.h"
#include "sqltext/LexerHarness.h"

#include "common/CodePage.h"

#include <QStringDecoder>
#include <cstdint>

using namespace calvoro::sqltext;
using namespace calvoro::sqltext::test;
using calvoro::fuzz::Check;

namespace {

// The whole text decoded at once, as the stream decoder must decode it block by block.
QString DecodeWhole(const QByteArray& Bytes, TTextEncoding Encoding) {
    switch (Encoding) {
    case teAnsi: return calvoro::AnsiToUnicode(Bytes);
    case teUTF8: {
        QStringDecoder decoder(QStringConverter::Utf8,
                               QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
        return decoder.decode(Bytes);
    }
    case teUTF16LE: break;
    }
    QString text;
    for (qsizetype i = 0; i + 1 < Bytes.size(); i += 2)
        text += QChar(char16_t(uint8_t(Bytes[i]) | uint8_t(Bytes[i + 1]) << 8));
    if (Bytes.size() % 2) text += QChar(0xFFFD);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    if (Size < 2) return 0;
    const uint8_t switches = Data[0], source = Data[1];
    TLexerOptions o;
    o.Dialect = TDialect(switches % 3);
    o.KeepBlanks = switches & 0x04;
    o.OmitComments = switches & 0x08;
    o.OmitKeywords = switches & 0x10;
    o.Lower = switches & 0x20;
    o.Quoted = switches & 0x40;
    o.Advanced = switches & 0x80;
    o.DecSeparator = (source & 0x80) ? u',' : u'.';
    const TTextEncoding encoding = TTextEncoding((source & 3) % 3);
    const qsizetype block = 1 + ((source >> 2) & 0x1F);

    QByteArray bytes(reinterpret_cast<const char*>(Data + 2), qsizetype(Size - 2));
    const QString text = DecodeWhole(bytes, encoding);

    const TLexing fromString = LexAll(*MakeLexer(o, text));
    if (o.KeepBlanks && !o.OmitComments && o.Quoted && o.Lower && fromString.Error.isEmpty()) {
        QString joined;
        for (const TLexeme& l : fromString.Lexemes) joined += l.Text;
        Check(joined == text);
    }

    // Strings of a text count no lines in the generic dialects unless asked to; streams do.
    const bool compareLines = o.Dialect == TDialect::My || o.Advanced;
    auto comparable = [&](TLexing l) {
        if (!compareLines) {
            for (TLexeme& x : l.Lexemes) x.Line = x.Col = 0;
            l.ErrorLine = l.ErrorCol = 0;
        }
        return l;
    };
    const TLexing expected = comparable(fromString);
    for (const bool back : {false, true}) {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        Check(comparable(LexAll(*MakeLexer(o, &buffer, encoding, block), back)) == expected);
    }

    // Scanning forward for a lexeme ends, found or not.
    auto lexer = MakeLexer(o, text);
    try {
        if (lexer->ToLexem(QStringLiteral("SELECT"))) Check(lexer->PrevPos() < lexer->CurrPos());
        else Check(lexer->CurrPos() == text.size());
    } catch (const EParserError&) {
    }
    return 0;
}
