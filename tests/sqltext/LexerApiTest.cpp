// The lexer's operations beyond plain scanning: stepping back, scanning forward to a lexeme,
// positions of earlier scans, the clause order, errors, defaults and longest-match symbols.

#include "LexerHarness.h"

#include "support/QtPrinters.h"

#include <QLocale>
#include <gtest/gtest.h>

using namespace calvoro::sqltext;
using namespace calvoro::sqltext::test;

namespace {

TEST(LexerBack, ReturnsToTheScanStartWithItsLine) {
    // The comment spans a line end; stepping back must take the line with it, or the line of
    // everything scanned afterwards would be off by one.
    TMyParser lexer(QStringLiteral("a /* x\ny */ b"));
    QString text;
    ASSERT_EQ(lexer.GetNext(text), lexIdent);
    ASSERT_EQ(lexer.GetNext(text), lexComment);
    EXPECT_EQ(lexer.CurrLine(), 1);
    lexer.Back();
    EXPECT_EQ(lexer.CurrPos(), 1);
    EXPECT_EQ(lexer.CurrLine(), 0);
    EXPECT_EQ(lexer.CurrCol(), 1);
    ASSERT_EQ(lexer.GetNext(text), lexComment);
    EXPECT_EQ(text, QStringLiteral("/* x\ny */"));
    ASSERT_EQ(lexer.GetNext(text), lexIdent);
    EXPECT_EQ(lexer.CurrLine(), 1);
    EXPECT_EQ(lexer.CurrCol(), 6);
}

TEST(LexerBack, PreviousPositionsFollowTheScans) {
    // PrevPos is where the last scan began (before skipped blanks), PrevPrevPos the one before.
    TMyParser lexer(QStringLiteral("ab  cd\n  ef"));
    struct Step {
        qint64 Curr, Prev, PrevPrev, PrevLine, PrevCol, CurrLine, CurrCol;
    } steps[] = {
        {2, 0, 0, 0, 0, 0, 2},     // ab
        {6, 2, 0, 0, 2, 0, 6},     // cd
        {11, 6, 2, 0, 6, 1, 4},    // ef, after a line end
        {11, 11, 6, 1, 4, 1, 4},   // end
    };
    for (const Step& s : steps) {
        lexer.GetNextCode();
        SCOPED_TRACE(s.Curr);
        EXPECT_EQ(lexer.CurrPos(), s.Curr);
        EXPECT_EQ(lexer.PrevPos(), s.Prev);
        EXPECT_EQ(lexer.PrevPrevPos(), s.PrevPrev);
        EXPECT_EQ(lexer.PrevLine(), s.PrevLine);
        EXPECT_EQ(lexer.PrevCol(), s.PrevCol);
        EXPECT_EQ(lexer.CurrLine(), s.CurrLine);
        EXPECT_EQ(lexer.CurrCol(), s.CurrCol);
    }
}

TEST(LexerComments, EachCommentLexemeSaysWhatItIs) {
    // The script processor sends a statement whose only words are in an executable comment,
    // and never one of plain comments: it tells them apart by the kind.
    TMyParser lexer(QStringLiteral("# a\n/* b */ /*!40101 -- c\n/* d */ x */ y /*M!100100*/"));
    lexer.FOmitComment = false;
    struct Step {
        int Code;
        const char16_t* Text;
        TCommentKind Kind;
        bool Inside;  // InCodeComment after the lexeme
    } steps[] = {
        {lexComment, u"# a", cmLine, false},         {lexComment, u"/* b */", cmBlock, false},
        {lexComment, u"/*!40101", cmCodeOpen, true}, {lexComment, u"-- c", cmLine, true},
        {lexComment, u"/* d */", cmBlock, true},     {lexIdent, u"x", cmBlock, true},
        {lexComment, u"*/", cmCodeClose, false},     {lexIdent, u"y", cmCodeClose, false},
        {lexComment, u"/*M!100100", cmCodeOpen, true}, {lexComment, u"*/", cmCodeClose, false},
        {lexEnd, u"", cmCodeClose, false},
    };
    QString text;
    for (const Step& s : steps) {
        SCOPED_TRACE(QString::fromUtf16(s.Text).toStdString());
        ASSERT_EQ(lexer.GetNext(text), s.Code);
        EXPECT_EQ(text, QString::fromUtf16(s.Text));
        if (s.Code == lexComment) {
            EXPECT_EQ(lexer.CommentKind(), s.Kind);
        }
        EXPECT_EQ(lexer.InCodeComment(), s.Inside);
    }
    // Starting over leaves the executable comment, and so does a new text.
    lexer.SetText(QStringLiteral("/*!a"));
    lexer.GetNextCode();
    EXPECT_TRUE(lexer.InCodeComment());
    lexer.ToBegin();
    EXPECT_FALSE(lexer.InCodeComment());
    ASSERT_EQ(lexer.GetNext(text), lexComment);
    EXPECT_EQ(text, QStringLiteral("/*!"));
    lexer.SetText(QStringLiteral("*/"));
    EXPECT_EQ(lexer.GetNext(text), lxAsterisk);
}

TEST(LexerToLexem, ByCode) {
    TMyParser lexer(QStringLiteral("select a from t where x = 1"));
    QString text;
    EXPECT_EQ(lexer.ToLexem(lxWHERE), lxWHERE);
    EXPECT_EQ(lexer.GetNext(text), lexIdent);
    EXPECT_EQ(text, QStringLiteral("x"));
    EXPECT_EQ(lexer.ToLexem(lxLIMIT), lexEnd);
}

TEST(LexerToLexem, ByText) {
    struct Case {
        const char16_t* Text;
        const char16_t* Target;
        bool Found;
        const char16_t* Next;  // the lexeme after the match (or "" at the end)
    } cases[] = {
        {u"select a from t", u"FROM", true, u"t"},
        {u"select a FrOm t", u"from", true, u"t"},
        {u"select a from t", u"fro", false, u""},          // "from" is longer than the target
        {u"select a from t", u"fromage", true, u"t"},      // an identifier matches a leading part
        {u"a 'from' /* from */ from b", u"from", true, u"b"},  // not in strings or comments
        {u"x (y) z", u"(", true, u"y"},                    // an unlisted symbol
        {u"x ; z", u";", true, u"z"},                      // a listed symbol
        {u"a 123 b", u"123", true, u"b"},
        {u"a `from` b", u"from", false, u""},              // quoted identifiers keep their quotes
        {u"a b", u"", false, u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.Text).toStdString() + " / " + QString::fromUtf16(c.Target).toStdString());
        TMyParser lexer(QString::fromUtf16(c.Text));
        lexer.FOmitKeywords = false;
        EXPECT_EQ(lexer.ToLexem(QString::fromUtf16(c.Target)), c.Found);
        QString next;
        lexer.GetNext(next);
        EXPECT_EQ(next, QString::fromUtf16(c.Next));
    }
}

TEST(LexerToLexem, KeywordLookupComesBackAfterwards) {
    TMyParser lexer(QStringLiteral("x from where"));
    ASSERT_TRUE(lexer.ToLexem(QStringLiteral("from")));
    EXPECT_FALSE(lexer.FOmitKeywords);
    EXPECT_EQ(lexer.GetNextCode(), lxWHERE);
}

TEST(LexerClauses, OrderPerDialect) {
    TSQLParser sql(QString{});
    TMyParser my(QString{});
    struct Case {
        const TSQLParser* Lexer;
        int Code;
        int Pos;
    } positions[] = {
        {&sql, lxWHERE, 0}, {&sql, lxUNION, 3}, {&sql, lxMINUS, 4}, {&sql, lxORDER, 5}, {&sql, lxLIMIT, -1},
        {&my, lxWHERE, 0},  {&my, lxORDER, 3},  {&my, lxLIMIT, 4},  {&my, lxPROCEDURE, 5}, {&my, lxLOCK, 7},
        {&my, lxUNION, -1}, {&my, lxSELECT, -1},
    };
    for (const Case& c : positions) {
        SCOPED_TRACE(c.Code);
        EXPECT_EQ(c.Lexer->PosClauseLexem(c.Code), c.Pos);
        EXPECT_EQ(c.Lexer->IsClauseLexem(c.Code), c.Pos != -1);
    }
    EXPECT_EQ(my.CompareClauseLexems(lxORDER, lxWHERE), 1);
    EXPECT_EQ(my.CompareClauseLexems(lxWHERE, lxLIMIT), -1);
    EXPECT_EQ(my.CompareClauseLexems(lxGROUP, lxGROUP), 0);
    EXPECT_EQ(my.CompareClauseLexems(lxUNION, lxWHERE), -2);
    EXPECT_EQ(my.CompareClauseLexems(lxWHERE, lexIdent), -2);
    EXPECT_EQ(sql.CompareClauseLexems(lxUNION, lxHAVING), 1);
}

TEST(LexerErrors, UnknownSymbolLeavesTheLexerOnIt) {
    TMyParser lexer(QStringLiteral("a \x01 b"));
    EXPECT_EQ(lexer.GetNextCode(), lexIdent);
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            lexer.GetNextCode();
            ADD_FAILURE() << "no exception";
        } catch (const calvoro::Exception& e) {
            EXPECT_EQ(e.Message(), QStringLiteral("Parser: The unknown symbol '\x01'  $0001"));
            EXPECT_NE(dynamic_cast<const EParserError*>(&e), nullptr);
        }
        EXPECT_EQ(lexer.CurrPos(), 2);
    }
}

TEST(LexerSetup, DefaultsAfterCreation) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    TMyParser german(QStringLiteral("3,14"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    TMyParser english(QStringLiteral("3,14"));
    QLocale::setDefault(saved);

    EXPECT_EQ(german.DecSeparator, QChar(u','));
    EXPECT_EQ(english.DecSeparator, QChar(u'.'));
    QString text;
    EXPECT_EQ(german.GetNext(text), lexNumber);
    EXPECT_EQ(text, QStringLiteral("3,14"));
    EXPECT_EQ(english.GetNext(text), lexNumber);
    EXPECT_EQ(text, QStringLiteral("3"));

    EXPECT_TRUE(english.FOmitBlank);
    EXPECT_FALSE(english.FOmitComment);
    EXPECT_FALSE(english.FOmitKeywords);
    EXPECT_TRUE(english.FUppered);
    EXPECT_FALSE(english.FQuotedString);
    EXPECT_FALSE(english.FAdvancedStringParsing);
}

TEST(LexerSetup, SetTextStartsOver) {
    TMyParser lexer(QStringLiteral("a\nb c"));
    lexer.ToLexem(QStringLiteral("c"));
    lexer.SetText(QStringLiteral("select"));
    EXPECT_EQ(lexer.CurrPos(), 0);
    EXPECT_EQ(lexer.CurrLine(), 0);
    EXPECT_EQ(lexer.TextLength(), 6);
    EXPECT_EQ(lexer.GetNextCode(), lxSELECT);
    EXPECT_EQ(lexer.GetNextCode(), lexEnd);
}

// A dialect with multi-character symbols, to show the longest-match rule: a candidate grows
// only while every shorter candidate is in the table.
class TTestSymbolParser : public TMyParser {
public:
    explicit TTestSymbolParser(const QString& Text) : TMyParser(Text, TDeferSetup{}) { Setup(); }
    TTestSymbolParser(QIODevice* Stream, qsizetype Block) : TMyParser(Stream, teUTF8, TDeferSetup{}) {
        Setup();
        SetBlockSize(Block);
    }

protected:
    void SetupDialect() override {
        TMyParser::SetupDialect();
        static const TLexemEntry symbols[] = {
            {u"<", 50}, {u"<=", 51}, {u"<=>", 52}, {u"<>", 53}, {u"-", 60}, {u"->>", 61},
        };
        static const std::vector<TLexemEntry> sorted = SortedLexems({symbols});
        FSymbolLexems = sorted;
    }
};

TEST(LexerSymbols, LongestMatchWhoseLeadingPartsAreAllListed) {
    const QString text = QStringLiteral("a<=>b <=< <>= ->> < = <");
    const std::vector<std::pair<int, QString>> expected = {
        {lexIdent, u"a"_qs}, {52, u"<=>"_qs}, {lexIdent, u"b"_qs}, {51, u"<="_qs}, {50, u"<"_qs},
        {53, u"<>"_qs}, {lexSymbol, u"="_qs}, {60, u"-"_qs}, {lexSymbol, u">"_qs}, {lexSymbol, u">"_qs},
        {50, u"<"_qs}, {lexSymbol, u"="_qs}, {50, u"<"_qs}, {lexEnd, QString()},
    };
    auto check = [&](TParser& lexer) {
        for (const auto& [code, lexem] : expected) {
            QString got;
            EXPECT_EQ(lexer.GetNext(got), code) << lexem.toStdString();
            EXPECT_EQ(got, lexem);
        }
    };
    TTestSymbolParser fromText(text);
    check(fromText);
    for (qsizetype block = 1; block <= 4; ++block) {
        SCOPED_TRACE(block);
        QByteArray bytes = text.toUtf8();
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        TTestSymbolParser fromStream(&buffer, block);
        check(fromStream);
    }
}

}  // namespace
