#include "LexerHarness.h"

#include <QRegularExpression>

#include "common/CodePage.h"

#include <QStringEncoder>
#include <stdexcept>

namespace calvoro::sqltext::test {

namespace {

void Apply(TParser& Lexer, const TLexerOptions& o) {
    Lexer.FOmitBlank = !o.KeepBlanks;
    Lexer.FOmitComment = o.OmitComments;
    Lexer.FOmitKeywords = o.OmitKeywords;
    Lexer.FUppered = !o.Lower;
    Lexer.FQuotedString = o.Quoted;
    Lexer.FAdvancedStringParsing = o.Advanced;
    Lexer.DecSeparator = o.DecSeparator;
}

template <class... Args>
std::unique_ptr<TParser> Create(TDialect Dialect, Args&&... args) {
    switch (Dialect) {
    case TDialect::Parser: return std::make_unique<TParser>(std::forward<Args>(args)...);
    case TDialect::SQL: return std::make_unique<TSQLParser>(std::forward<Args>(args)...);
    case TDialect::My: break;
    }
    return std::make_unique<TMyParser>(std::forward<Args>(args)...);
}

}  // namespace

std::unique_ptr<TParser> MakeLexer(const TLexerOptions& Options, const QString& Text) {
    auto lexer = Create(Options.Dialect, Text);
    Apply(*lexer, Options);
    return lexer;
}

std::unique_ptr<TParser> MakeLexer(const TLexerOptions& Options, QIODevice* Stream,
                                   TTextEncoding Encoding, qsizetype BlockSize) {
    auto lexer = Create(Options.Dialect, Stream, Encoding);
    lexer->SetBlockSize(BlockSize);
    Apply(*lexer, Options);
    return lexer;
}

TLexing LexAll(TParser& Lexer, bool BackEveryStep) {
    TLexing result;
    const qint64 bound = qint64(Lexer.TextLength()) + 16;
    QString text;
    try {
        for (qint64 n = 0;; ++n) {
            if (n > bound && Lexer.TextLength() < INT_MAX) throw std::logic_error("the lexer does not advance");
            int code = Lexer.GetNext(text);
            if (BackEveryStep) {
                Lexer.Back();
                code = Lexer.GetNext(text);
            }
            result.Lexemes.push_back({code, text, Lexer.CurrPos(), Lexer.CurrLine(), Lexer.CurrCol()});
            if (code == lexEnd) break;
        }
    } catch (const EParserError& e) {
        result.Error = e.Message();
        result.ErrorPos = Lexer.CurrPos();
        result.ErrorLine = Lexer.CurrLine();
        result.ErrorCol = Lexer.CurrCol();
    }
    return result;
}

std::optional<QByteArray> Encode(const QString& Text, TTextEncoding Encoding) {
    switch (Encoding) {
    case teAnsi: {
        QByteArray bytes = UnicodeToAnsi(Text);
        if (AnsiToUnicode(bytes) != Text) return std::nullopt;
        return bytes;
    }
    case teUTF8: {
        QStringEncoder encoder(QStringConverter::Utf8);
        QByteArray bytes = encoder.encode(Text);
        if (encoder.hasError()) return std::nullopt;  // lone surrogates
        return bytes;
    }
    case teUTF16LE: break;
    }
    QByteArray bytes(Text.size() * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < Text.size(); ++i) {
        bytes[2 * i] = char(Text[i].unicode() & 0xFF);
        bytes[2 * i + 1] = char(Text[i].unicode() >> 8);
    }
    return bytes;
}

QString CodeName(int Code) {
    switch (Code) {
    case lexEnd: return QStringLiteral("end");
    case lexSymbol: return QStringLiteral("symbol");
    case lexIdent: return QStringLiteral("ident");
    case lexNumber: return QStringLiteral("number");
    case lexString: return QStringLiteral("string");
    case lexBlank: return QStringLiteral("blank");
    case lexComment: return QStringLiteral("comment");
    default: return QString::number(Code);
    }
}

void PrintTo(const TLexeme& L, std::ostream* os) {
    *os << CodeName(L.Code).toStdString() << " |" << L.Text.toStdString() << "| at " << L.Pos << ' '
        << L.Line << ' ' << L.Col;
}

void PrintTo(const TLexing& L, std::ostream* os) {
    for (const TLexeme& l : L.Lexemes) {
        PrintTo(l, os);
        *os << '\n';
    }
    if (!L.Error.isEmpty())
        *os << "error |" << L.Error.toStdString() << "| at " << L.ErrorPos << ' ' << L.ErrorLine << ' '
            << L.ErrorCol << '\n';
}

TTrickleDevice::TTrickleDevice(QByteArray Data, qint64 Chunk, qint64 FailAfter)
    : FData(std::move(Data)), FChunk(Chunk), FFailAfter(FailAfter) {
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

qint64 TTrickleDevice::readData(char* data, qint64 maxSize) {
    if (FFailAfter >= 0 && FPos >= FFailAfter) {
        setErrorString(QStringLiteral("device failed"));
        return -1;
    }
    qint64 n = std::min({maxSize, FChunk, qint64(FData.size()) - FPos});
    if (FFailAfter >= 0) n = std::min(n, FFailAfter - FPos);
    std::memcpy(data, FData.constData() + FPos, size_t(n));
    FPos += n;
    return n;
}

// {CR} {LF} {TAB} {SP} {U+XXXX} stand for those characters.
QString UnescapeCorpusText(QStringView Text) {
    static const QRegularExpression escape(QStringLiteral(R"(\{(CR|LF|TAB|SP|U\+([0-9A-Fa-f]{4,6}))\})"));
    QString out;
    qsizetype from = 0;
    auto it = escape.globalMatch(Text);
    while (it.hasNext()) {
        const auto m = it.next();
        out += Text.mid(from, m.capturedStart() - from);
        const QString name = m.captured(1);
        if (name == u"CR") out += u'\r';
        else if (name == u"LF") out += u'\n';
        else if (name == u"TAB") out += u'\t';
        else if (name == u"SP") out += u' ';
        else {
            const char32_t cp = m.captured(2).toUInt(nullptr, 16);
            if (cp > 0xFFFF) out += QString::fromUcs4(&cp, 1);
            else out += QChar(char16_t(cp));
        }
        from = m.capturedEnd();
    }
    out += Text.mid(from);
    return out;
}

}  // namespace calvoro::sqltext::test
