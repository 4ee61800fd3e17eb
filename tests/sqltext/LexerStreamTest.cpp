// The stream source: decoding in blocks, lexemes much longer than a block, characters that
// straddle blocks, devices that trickle or fail, and memory that stays flat.

#include "LexerHarness.h"

#include "support/QtPrinters.h"

#include <QStringDecoder>
#include <gtest/gtest.h>

using namespace calvoro::sqltext;
using namespace calvoro::sqltext::test;

namespace {

QString DecodeAll(const QByteArray& Bytes, TTextEncoding Encoding, qsizetype Block) {
    QBuffer buffer;
    buffer.setData(Bytes);
    buffer.open(QIODevice::ReadOnly);
    TStreamDecoder decoder(&buffer, Encoding);
    decoder.SetBlockSize(Block);
    QString out;
    std::vector<char16_t> chunk(size_t(decoder.MaxChars()));
    while (const qsizetype n = decoder.ReadBlock(chunk.data()))
        out += QStringView(chunk.data(), n);
    return out;
}

TEST(StreamDecoder, DecodesTheSameInAnyBlockSize) {
    struct Case {
        const char* Name;
        TTextEncoding Encoding;
        QByteArray Bytes;
        QString Text;
    } cases[] = {
        {"code page high half", teAnsi, QByteArray("a\x80\x81\x9f\xa0\xe9\xff"),
         QStringLiteral("a\u20ac\u0081\u0178\u00a0\u00e9\u00ff")},
        {"utf-8 two, three, four bytes", teUTF8, QByteArray("\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80z"),
         QStringLiteral("\u00e9\u20ac") + QString::fromUcs4(U"\U0001F600") + u'z'},
        {"utf-8 byte-order mark stays a character", teUTF8, QByteArray("\xef\xbb\xbfx\xef\xbb\xbf"),
         QStringLiteral("\ufeffx\ufeff")},
        {"utf-8 invalid and truncated bytes", teUTF8, QByteArray("a\xff" "b\xe2\x82"),
         QStringLiteral("a\ufffdb\ufffd\ufffd")},  // as QString::fromUtf8 decodes them
        {"utf-16 little endian with a surrogate pair", teUTF16LE, QByteArray("a\0=\xd8\x00\xde", 6),
         QStringLiteral("a") + QString::fromUcs4(U"\U0001F600")},
        {"utf-16 dangling byte", teUTF16LE, QByteArray("a\0b", 3), QStringLiteral("a\ufffd")},
        {"empty", teUTF8, QByteArray(), QString()},
    };
    for (const Case& c : cases) {
        for (qsizetype block : {1, 2, 3, 4, 5, 65536}) {
            SCOPED_TRACE(std::string(c.Name) + ", block " + std::to_string(block));
            EXPECT_EQ(DecodeAll(c.Bytes, c.Encoding, block), c.Text);
        }
    }
}

TEST(StreamDecoder, ShortReadsAndFailures) {
    const QByteArray bytes = QStringLiteral("select '\u00e9\u20ac' from t").toUtf8();
    TTrickleDevice trickle(bytes, 1);
    auto lexer = MakeLexer({}, &trickle, teUTF8, 65536);
    EXPECT_EQ(LexAll(*lexer), LexAll(*MakeLexer({}, QString::fromUtf8(bytes))));
    EXPECT_EQ(lexer->TextLength(), INT_MAX);  // a sequential device cannot tell its length
    EXPECT_THROW(lexer->ToBegin(), calvoro::Exception);

    TTrickleDevice failing(bytes, 4, 10);
    auto broken = MakeLexer({}, &failing, teUTF8, 65536);
    try {
        LexAll(*broken);
        ADD_FAILURE() << "a failing device must not look like the end of the text";
    } catch (const calvoro::Exception& e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("device failed"))) << e.what();
    }
}

TEST(StreamSource, StartsAtTheStreamPositionAndRewinds) {
    QByteArray bytes("skip me; select 1");
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    buffer.seek(9);
    TMyParser lexer(&buffer, teAnsi);
    EXPECT_EQ(lexer.TextLength(), 8);
    const TLexing first = LexAll(lexer);
    ASSERT_EQ(first.Lexemes.size(), 3u);
    EXPECT_EQ(first.Lexemes[0].Code, lxSELECT);
    EXPECT_EQ(first.Lexemes[0].Pos, 6);
    lexer.ToBegin();
    EXPECT_EQ(LexAll(lexer), first);

    QByteArray wide = *Encode(QStringLiteral("select 1"), teUTF16LE);
    QBuffer wideBuffer(&wide);
    wideBuffer.open(QIODevice::ReadOnly);
    EXPECT_EQ(TMyParser(&wideBuffer, teUTF16LE).TextLength(), 8);
}

// Lexemes many blocks long, and multi-byte characters at every offset around a block boundary:
// the stream gives what the string gives.
TEST(StreamSource, LongLexemesAndCharactersAcrossBlocks) {
    const QString longString = QStringLiteral("'") + QString(70000, u'x') + QStringLiteral("\\'\r\n") +
                               QString(70000, u'\u00e9') + QStringLiteral("'");
    const QString longIdent = QString(100000, u'a') + QStringLiteral("$$");
    const QString longComment = QStringLiteral("/*") + QString(140000, u'\u20ac') + QStringLiteral("\n*/");
    const QString pairs = QString::fromUcs4(U"\U0001F600").repeated(40000);
    std::vector<QString> texts = {
        QStringLiteral("x ") + longString + QStringLiteral(" y"),
        longIdent + QStringLiteral(" ") + longComment + QStringLiteral(" `") + pairs + QStringLiteral("`"),
    };
    // A two-, three- and four-byte character at each offset across the 65536-byte boundary.
    for (int shift = -4; shift <= 4; ++shift) {
        const QString lead(65536 / 2 + shift, u' ');
        texts.push_back(QString(65536 - 3 + shift, u'-') + QStringLiteral("'\u00e9\u20ac") +
                        QString::fromUcs4(U"\U0001F600") + QStringLiteral("'"));
        texts.push_back(lead + QStringLiteral("a") + QString::fromUcs4(U"\U0001F600") + QStringLiteral("b"));
    }
    TLexerOptions script;
    script.KeepBlanks = script.Lower = script.Quoted = script.Advanced = true;
    for (size_t t = 0; t < texts.size(); ++t) {
        const TLexing expected = LexAll(*MakeLexer(script, texts[t]));
        for (const TTextEncoding encoding : {teUTF8, teUTF16LE}) {
            SCOPED_TRACE(testing::Message() << "text " << t << ", encoding " << encoding);
            QByteArray bytes = *Encode(texts[t], encoding);
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::ReadOnly);
            auto lexer = MakeLexer(script, &buffer, encoding, TStreamDecoder::DefaultBlockSize);
            const TLexing got = LexAll(*lexer, true);
            EXPECT_TRUE(got == expected);  // printing megabytes of lexemes helps nobody
            EXPECT_EQ(got.Lexemes.size(), expected.Lexemes.size());
        }
    }
}

// Sees the size of the lexer's text buffer.
class TBufferProbe : public TMyParser {
public:
    using TMyParser::TMyParser;
    qsizetype BufferCapacity() const { return FCurrentBlock.capacity(); }
};

TEST(StreamSource, MemoryStaysFlat) {
    // 16 MB of dump rows in 4 KB blocks: the buffer never holds much more than a block.
    const QByteArray row("(12345,'some text with \\'quotes\\'',NULL,3.25,'2020-01-01'),\n");
    QByteArray dump("INSERT INTO `t` VALUES ");
    while (dump.size() < 16 * 1024 * 1024) dump += row;
    dump += "(0);\n";
    QBuffer buffer(&dump);
    buffer.open(QIODevice::ReadOnly);
    TBufferProbe lexer(&buffer, teAnsi);
    lexer.SetBlockSize(4096);
    lexer.FOmitBlank = false;
    qsizetype largest = 0;
    qint64 count = 0;
    QString text;
    while (lexer.GetNext(text) != lexEnd) {
        largest = std::max(largest, lexer.BufferCapacity());
        ++count;
    }
    EXPECT_LE(largest, 4 * 4096);
    EXPECT_EQ(lexer.CurrPos(), dump.size());
    EXPECT_GT(lexer.Offset(), dump.size() - 4 * 4096);
    EXPECT_GT(count, dump.size() / row.size() * 10);

    // A lexeme longer than a block is held whole, whatever its length.
    QByteArray big = "'" + QByteArray(1 << 20, 'z') + "' x";
    QBuffer bigBuffer(&big);
    bigBuffer.open(QIODevice::ReadOnly);
    TBufferProbe bigLexer(&bigBuffer, teAnsi);
    bigLexer.SetBlockSize(4096);
    ASSERT_EQ(bigLexer.GetNext(text), lexString);
    EXPECT_EQ(text.size(), 1 << 20);
    EXPECT_LE(bigLexer.BufferCapacity(), 4 << 20);  // grown geometrically, not without bound

    // With a limit, an unclosed quote stops where it passes the limit, naming its line.
    QByteArray unclosed = "SELECT 1;\nSELECT\n'" + QByteArray(1 << 20, 'z');
    QBuffer unclosedBuffer(&unclosed);
    unclosedBuffer.open(QIODevice::ReadOnly);
    TBufferProbe limited(&unclosedBuffer, teAnsi);
    limited.SetBlockSize(4096);
    limited.FMaxScanLength = 65536;
    try {
        while (limited.GetNext(text) != lexEnd) {
        }
        ADD_FAILURE() << "no error";
    } catch (const EParserError& e) {
        EXPECT_TRUE(e.Message().endsWith(QStringLiteral("beginning at line 3"))) << e.Message().toStdString();
    }
    EXPECT_LE(limited.BufferCapacity(), 4 * 65536);
}

}  // namespace
