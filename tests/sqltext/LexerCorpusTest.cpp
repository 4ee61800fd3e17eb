// Runs the cases of lexer_corpus.txt (the format is described at the top of that file).
//
// Each case is lexed from a string and checked against its expected lexemes. Then the same
// text is lexed from streams in every encoding that can hold it, read in blocks of a few bytes
// (so that block boundaries fall inside every kind of lexeme and inside multi-byte
// characters) and with stepping back after every lexeme: the results must be identical.

#include "LexerHarness.h"

#include "support/QtPrinters.h"

#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <optional>

using namespace calvoro::sqltext;
using namespace calvoro::sqltext::test;

namespace {

struct TAt {
    qint64 Pos, Line, Col;
};

struct TExpected {
    int Code;
    QString Text;
    std::optional<TAt> At;
};

struct TCorpusCase {
    int Line = 0;
    QString Name;
    QString Problem;  // the case could not be read
    TLexerOptions Options;
    QString Sql;
    std::vector<TExpected> Lexemes;
    std::optional<QString> Error;
    std::optional<TAt> ErrorAt;
};


std::optional<int> ParseCode(const QString& Word) {
    static const std::pair<const char16_t*, int> names[] = {
        {u"end", lexEnd},       {u"symbol", lexSymbol}, {u"ident", lexIdent},     {u"number", lexNumber},
        {u"string", lexString}, {u"blank", lexBlank},   {u"comment", lexComment},
    };
    for (const auto& [name, code] : names)
        if (Word == name) return code;
    bool ok = false;
    const int code = Word.toInt(&ok);
    if (ok && code > 0) return code;
    return std::nullopt;
}

QString ParseOptions(const QString& Line, TLexerOptions& o) {
    for (const QString& word : Line.split(u' ', Qt::SkipEmptyParts)) {
        if (word == u"parser") o.Dialect = TDialect::Parser;
        else if (word == u"sql") o.Dialect = TDialect::SQL;
        else if (word == u"my") o.Dialect = TDialect::My;
        else if (word == u"blanks") o.KeepBlanks = true;
        else if (word == u"nocomments") o.OmitComments = true;
        else if (word == u"nokeywords") o.OmitKeywords = true;
        else if (word == u"lower") o.Lower = true;
        else if (word == u"quoted") o.Quoted = true;
        else if (word == u"advanced") o.Advanced = true;
        else if (word == u"script") o.KeepBlanks = o.Lower = o.Quoted = o.Advanced = true;
        else if (word.startsWith(u"decsep=") && word.size() == 8) o.DecSeparator = word.back();
        else return QStringLiteral("unknown option ") + word;
    }
    return {};
}

// "<code> |<text>| [at P L C]" or "error |<message>| [at P L C]".
QString ParseLexemeLine(const QString& Line, TCorpusCase& c) {
    const qsizetype space = Line.indexOf(u' ');
    const QString word = space < 0 ? Line : Line.left(space);
    QString text, rest = space < 0 ? QString() : Line.mid(space + 1).trimmed();
    if (rest.startsWith(u'|')) {
        const qsizetype close = rest.lastIndexOf(u'|');
        if (close == 0) return QStringLiteral("unclosed |text|");
        text = UnescapeCorpusText(QStringView(rest).mid(1, close - 1));
        rest = rest.mid(close + 1).trimmed();
    }
    std::optional<TAt> at;
    if (!rest.isEmpty()) {
        const QStringList parts = rest.split(u' ', Qt::SkipEmptyParts);
        if (parts.size() != 4 || parts[0] != u"at") return QStringLiteral("expected: at <pos> <line> <col>");
        at = TAt{parts[1].toLongLong(), parts[2].toLongLong(), parts[3].toLongLong()};
    }
    if (c.Error) return QStringLiteral("nothing may follow the error");
    if (word == u"error") {
        c.Error = text;
        c.ErrorAt = at;
        return {};
    }
    const auto code = ParseCode(word);
    if (!code) return QStringLiteral("unknown lexeme code ") + word;
    c.Lexemes.push_back({*code, text, at});
    return {};
}

TCorpusCase NewCase(int Line, QString Name, QString Problem = {}) {
    TCorpusCase c;
    c.Line = Line;
    c.Name = std::move(Name);
    c.Problem = std::move(Problem);
    return c;
}

std::vector<TCorpusCase> LoadCorpus() {
    QString path = qEnvironmentVariable("CALVORO_TEST_DATA");
    path = path.isEmpty() ? QStringLiteral(CALVORO_SQLTEXT_CORPUS) : path + QStringLiteral("/sqltext/lexer_corpus.txt");
    QFile file(path);
    std::vector<TCorpusCase> cases;
    if (!file.open(QIODevice::ReadOnly)) {
        cases.push_back(NewCase(0, QStringLiteral("corpus"), QStringLiteral("cannot open ") + path));
        return cases;
    }
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    TCorpusCase* current = nullptr;
    for (int n = 0; n < lines.size(); ++n) {
        QString line = lines[n];
        if (line.endsWith(u'\r')) line.chop(1);
        if (line.startsWith(u'#')) continue;
        if (line.trimmed().isEmpty()) {
            current = nullptr;
            continue;
        }
        if (line.startsWith(u"name: ")) {
            cases.push_back(NewCase(n + 1, line.mid(6)));
            current = &cases.back();
            continue;
        }
        if (!current) {
            cases.push_back(NewCase(n + 1, QStringLiteral("stray"), QStringLiteral("line outside a case")));
            continue;
        }
        QString problem;
        if (line.startsWith(u"opts: "))
            problem = ParseOptions(line.mid(6), current->Options);
        else if (line.startsWith(u"sql: "))
            current->Sql = UnescapeCorpusText(QStringView(line).mid(5));
        else if (line == u"sql:")
            current->Sql.clear();
        else
            problem = ParseLexemeLine(line, *current);
        if (!problem.isEmpty() && current->Problem.isEmpty())
            current->Problem = QStringLiteral("line %1: %2").arg(n + 1).arg(problem);
    }
    for (TCorpusCase& c : cases)
        if (c.Problem.isEmpty() && !c.Error && (c.Lexemes.empty() || c.Lexemes.back().Code != lexEnd))
            c.Problem = QStringLiteral("the expected lexemes must finish with end or error");
    return cases;
}

void PrintTo(const TCorpusCase& c, std::ostream* os) { *os << "line " << c.Line << ": " << c.Name.toStdString(); }

class LexerCorpus : public testing::TestWithParam<TCorpusCase> {};

void ExpectAt(const std::optional<TAt>& At, qint64 Pos, qint64 Line, qint64 Col) {
    if (!At) return;
    EXPECT_EQ(Pos, At->Pos) << "position";
    EXPECT_EQ(Line, At->Line) << "line";
    EXPECT_EQ(Col, At->Col) << "column";
}

TEST_P(LexerCorpus, FromString) {
    const TCorpusCase& c = GetParam();
    ASSERT_TRUE(c.Problem.isEmpty()) << c.Problem.toStdString();
    auto lexer = MakeLexer(c.Options, c.Sql);
    const TLexing got = LexAll(*lexer);

    const size_t n = std::min(got.Lexemes.size(), c.Lexemes.size());
    for (size_t i = 0; i < n; ++i) {
        SCOPED_TRACE(testing::Message() << "lexeme " << i);
        const TLexeme& g = got.Lexemes[i];
        EXPECT_EQ(CodeName(g.Code), CodeName(c.Lexemes[i].Code));
        EXPECT_EQ(g.Text, c.Lexemes[i].Text);
        ExpectAt(c.Lexemes[i].At, g.Pos, g.Line, g.Col);
    }
    EXPECT_EQ(got.Lexemes.size(), c.Lexemes.size()) << testing::PrintToString(got);
    EXPECT_EQ(got.Error, c.Error.value_or(QString()));
    if (c.Error) ExpectAt(c.ErrorAt, got.ErrorPos, got.ErrorLine, got.ErrorCol);

    // With every character returned and nothing rewritten, the lexemes are the text.
    const TLexerOptions& o = c.Options;
    if (o.KeepBlanks && !o.OmitComments && o.Quoted && o.Lower && !got.Lexemes.empty() && got.Error.isEmpty()) {
        QString joined;
        for (const TLexeme& l : got.Lexemes) joined += l.Text;
        EXPECT_EQ(joined, c.Sql);
    }
}

TEST_P(LexerCorpus, FromStreamsInSmallBlocks) {
    const TCorpusCase& c = GetParam();
    ASSERT_TRUE(c.Problem.isEmpty()) << c.Problem.toStdString();
    TLexing expected = LexAll(*MakeLexer(c.Options, c.Sql));
    // From a string the generic dialects count lines in strings only when asked to; from a
    // stream always.
    const bool compareLines = c.Options.Dialect == TDialect::My || c.Options.Advanced;
    auto comparable = [&](TLexing l) {
        if (!compareLines) {
            for (TLexeme& x : l.Lexemes) x.Line = x.Col = 0;
            l.ErrorLine = l.ErrorCol = 0;
        }
        return l;
    };
    expected = comparable(expected);

    for (const TTextEncoding encoding : {teAnsi, teUTF8, teUTF16LE}) {
        const auto bytes = Encode(c.Sql, encoding);
        if (!bytes) continue;  // not representable in this encoding
        for (const qsizetype block : {1, 2, 3, 5, 7, 65536}) {
            for (const bool back : {false, true}) {
                SCOPED_TRACE(testing::Message() << "encoding " << encoding << ", block " << block
                                                << (back ? ", stepping back" : ""));
                QByteArray data = *bytes;
                QBuffer buffer(&data);
                buffer.open(QIODevice::ReadOnly);
                auto lexer = MakeLexer(c.Options, &buffer, encoding, block);
                EXPECT_EQ(comparable(LexAll(*lexer, back)), expected);
            }
        }
    }
}

std::string CaseName(const testing::TestParamInfo<TCorpusCase>& info) {
    std::string name = "L" + std::to_string(info.param.Line) + "_";
    for (const QChar ch : info.param.Name.left(40))
        name += ch.isLetterOrNumber() && ch.unicode() < 128 ? char(ch.unicode()) : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Corpus, LexerCorpus, testing::ValuesIn(LoadCorpus()), CaseName);

}  // namespace
