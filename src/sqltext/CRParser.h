#pragma once
// The SQL lexer: TParser (the generic scanner) and TSQLParser (generic SQL).
//
// A lexer cuts UTF-16 text into lexemes and reports each with an integer code: the negative
// lex* codes below, or the positive code of a symbol or keyword table entry. Callers create
// one, set its switches, call GetNext until it returns lexEnd, and drop it.
//
// The text comes from a string or from a stream. A stream is read and decoded in blocks; the
// lexer keeps only the text from where the current scan began, so memory stays flat however
// long the stream is, and a lexeme is always one contiguous piece of text, whichever block
// boundaries it crosses.
//
// A dialect may have comments whose text is code (MySQL's "/*!50003 … */"): their opener and
// closer come as comment lexemes of their own, and what stands between is lexed as code, with
// its own strings, names and comments.

#include "StreamDecoder.h"

#include "common/Exceptions.h"

#include <QChar>
#include <QIODevice>
#include <QString>
#include <QStringView>
#include <array>
#include <initializer_list>
#include <memory>
#include <span>
#include <vector>

namespace calvoro::sqltext {

// Lexeme codes.
constexpr int lexEnd = 0;
constexpr int lexSymbol = -102;   // a symbol character that is not in the symbol table
constexpr int lexIdent = -103;    // an identifier, or a quoted identifier with its quotes
constexpr int lexNumber = -105;   // an unsigned number
constexpr int lexString = -106;   // a quoted string
constexpr int lexBlank = -107;    // a run of blanks (when blanks are not omitted)
constexpr int lexComment = -108;  // a comment (when comments are not omitted)

// Symbol codes of the SQL symbol table.
enum : int {
    lxAsterisk = 1,
    lxEqual = 2,
    lxColon = 3,
    lxComma = 4,
    lxPoint = 5,
    lxSlash = 6,
    lxSemicolon = 7,
};

// Keyword codes of the SQL keyword table (codes 107 and 117 are unused).
#define CALVORO_SQL_KEYWORDS(X)                                                                  \
    X(ALL, 100) X(AND, 101) X(AS, 102) X(BEGIN, 103) X(BY, 104) X(COMMIT, 105) X(DELETE, 106)    \
    X(EXECUTE, 108) X(FETCH, 109) X(FOR, 110) X(FROM, 111) X(FULL, 112) X(GROUP, 113)            \
    X(HAVING, 114) X(INNER, 115) X(INSERT, 116) X(INTO, 118) X(IS, 119) X(JOIN, 120)             \
    X(LEFT, 121) X(LIMIT, 122) X(LOCK, 123) X(MINUS, 124) X(NOT, 125) X(OFFSET, 126) X(ON, 127)  \
    X(OR, 128) X(ORDER, 129) X(OUTER, 130) X(RELEASE, 131) X(RETURNING, 132) X(RIGHT, 133)       \
    X(ROLLBACK, 134) X(SAVEPOINT, 135) X(SELECT, 136) X(SET, 137) X(TO, 138)                     \
    X(TRANSACTION, 139) X(UNION, 140) X(UPDATE, 141) X(WHERE, 142)

#define CALVORO_LEXEM_CODE(name, code) lx##name = code,
#define CALVORO_LEXEM_ENTRY(name, code) {u"" #name, code},
enum : int { CALVORO_SQL_KEYWORDS(CALVORO_LEXEM_CODE) };

// One entry of a symbol or keyword table.
struct TLexemEntry {
    QStringView Text;
    int Code;
};
// A table sorted by Text (ordinal comparison), built once and shared read-only.
using TLexemList = std::span<const TLexemEntry>;

// What a lexComment lexeme is.
enum TCommentKind {
    cmLine,       // "# …", "-- …": up to the line end
    cmBlock,      // "/* … */": a comment the server skips
    cmCodeOpen,   // "/*!50003", "/*M!100100", "/*!": what follows up to the closer is code
    cmCodeClose,  // the "*/" that closes a comment whose text is code
};

// The lexer's error: a character that belongs to no class.
class EParserError : public Exception {
public:
    using Exception::Exception;
};

class TParser {
public:
    explicit TParser(const QString& Text);
    // Reads Stream from its current position; the stream stays the caller's and must outlive
    // the lexer.
    explicit TParser(QIODevice* Stream, TTextEncoding Encoding = teAnsi);
    virtual ~TParser();
    TParser(const TParser&) = delete;
    TParser& operator=(const TParser&) = delete;

    void SetText(const QString& Text);
    virtual void ToBegin();
    // Scans the next lexeme; Lexem receives its text (its buffer is reused when it can be).
    virtual int GetNext(QString& Lexem);
    // GetNext with the text as a view, valid until the next scan (no copy).
    int GetNextView(QStringView& Lexem);
    // GetNext without the text.
    int GetNextCode();
    // Back to where the last GetNext began; one step only.
    void Back();
    // GetNext until Code or lexEnd; returns the last code.
    int ToLexem(int Code);
    // Scans forward, without keyword lookup, to a lexeme matching Text (ASCII case-insensitive;
    // an identifier or number also matches when it is a leading part of Text).
    bool ToLexem(const QString& Text);

    // What the last lexComment lexeme was.
    TCommentKind CommentKind() const { return FCommentKind; }
    // Whether the scan position is inside a comment whose text is code (after its opener,
    // before its closer).
    bool InCodeComment() const { return FInCodeComment; }

    // Absolute 0-based positions and lines: of the next character, and where the last and the
    // last-but-one scan began (before any blanks and comments the scan skipped).
    qint64 CurrPos() const { return FPos + FOffset; }
    qint64 PrevPos() const { return FOldPos; }
    qint64 PrevPrevPos() const { return FOldOldPos; }
    qint64 CurrLine() const { return FCurrLine; }
    qint64 PrevLine() const { return FPrevLine; }
    qint64 CurrCol() const { return CurrPos() - FCurrBegLine; }
    qint64 PrevCol() const { return FOldPos - FPrevBegLine; }
    // Characters in the text; for a stream its length, capped at the largest 32-bit integer.
    int TextLength() const { return FTextLength; }
    // Characters dropped from the front of a stream's text (0 for a string).
    qint64 Offset() const { return FOffset; }

    // Stream source: bytes read per block (default 65536); takes effect with the next read.
    void SetBlockSize(qsizetype Bytes);
    // Stream source: the longest text one scan may hold (0: no limit). A lexeme that grows
    // past it raises EParserError naming the line it began on, so that an unclosed quote in a
    // huge file cannot take all memory.
    qsizetype FMaxScanLength = 0;

    // Predicates for the command and data-set layers.
    virtual bool IsMacroAllowed(int Code) const;
    virtual bool IsNumericMacroNameAllowed() const;
    virtual bool IsSelectModifier(int Code) const;
    virtual bool IsFunctionOrConst(const QString& UpperedName) const;
    virtual bool IsQuasiColumn(const QString& UpperedName) const;

    // Switches, set by the caller after creation (defaults from SetupDialect).
    bool FOmitBlank = true;
    bool FOmitComment = false;
    bool FOmitKeywords = false;
    bool FUppered = true;
    bool FQuotedString = false;
    bool FAdvancedStringParsing = false;
    QChar DecSeparator;

protected:
    // Derived classes pass this so that only the most derived constructor runs SetupDialect
    // (the virtual character classes answer for the real class only after construction).
    struct TDeferSetup {};
    TParser(const QString& Text, TDeferSetup);
    TParser(QIODevice* Stream, TTextEncoding Encoding, TDeferSetup);
    // What the most derived constructor runs: SetupDialect, then the character class table.
    void Setup();

    // Tables, comment markers, decimal separator and switch defaults; then ToBegin.
    virtual void SetupDialect();
    virtual bool IsBlankChar(QChar Ch) const;
    virtual bool IsSymbolChar(QChar Ch) const;
    virtual bool IsLetterChar(QChar Ch) const;
    virtual bool IsDigitChar(QChar Ch) const;
    virtual bool IsStringQuoteChar(QChar Ch) const;
    // At the first character after an opening Quote: advance to the closing Quote, counting
    // line ends; true when found (the position is then on it), false at the end of the text.
    virtual bool SkipQuotedCounting(QChar Quote);
    virtual bool SkipQuoted(QChar Quote);
    virtual bool IsIdentQuoteChar(QChar Ch) const;
    // Whether a line comment starts at buffer index Index; at least four characters from
    // there are available (CharAt) when the text has them.
    virtual bool IsLineCommentAt(qsizetype Index) const;
    // At buffer index Index, where CommentBegin stands: the length of the opener of a comment
    // whose text is code, or 0 for an ordinary comment (the default). At least
    // MaxCodeCommentOpener characters from there are available (CharAt) when the text has them.
    virtual qsizetype CodeCommentOpenerAt(qsizetype Index) const;
    static constexpr qsizetype MaxCodeCommentOpener = 10;

    // The scanner's tools for derived classes. Indices are into the current buffer.
    QChar CharAt(qsizetype Index) const { return Index < FEnd ? QChar(FText[Index]) : QChar(0); }
    // Makes Count characters from the scan position available; false when the text is shorter.
    bool Ensure(qsizetype Count) { return FEnd - FPos >= Count || EnsureSlow(Count); }
    // Scans a quoted text (see SkipQuotedCounting); a backslash steps over the next character
    // when BackslashEscapes is set.
    bool ScanQuoted(char16_t Quote, bool CountLines, bool BackslashEscapes);
    // At a CR or LF: steps over the line end (CR LF is one) and counts it.
    void SkipLineEnd();

    QString CommentBegin;
    QString CommentEnd;
    TLexemList FSymbolLexems;
    TLexemList FKeywordLexems;

    // Scanner state. FPos is the buffer index of the next character; FOffset the number of
    // characters dropped in front of the buffer (stream source).
    qsizetype FPos = 0;
    qint64 FOffset = 0;
    qint64 FOldPos = 0;
    qint64 FOldOldPos = 0;
    qint64 FCurrLine = 0;
    qint64 FPrevLine = 0;
    qint64 FCurrBegLine = 0;  // absolute position of the current line's first character
    qint64 FPrevBegLine = 0;
    qsizetype FLexemPos = -1;  // buffer index of the current lexeme, -1 when none
    qsizetype FLexemLength = 0;
    qint64 FLexemLine = 0;  // the line the current lexeme began on
    QStringView FLexem;  // text of the last symbol or keyword table entry matched
    QString FDesiredLexem;
    bool FDesiredLexemFound = false;
    // Inside a comment whose text is code: now, and where the last scan began (for Back).
    bool FInCodeComment = false;
    bool FPrevInCodeComment = false;
    TCommentKind FCommentKind = cmBlock;

    // The text: the whole string, or the kept part of a stream's text plus the block just
    // decoded. FText and FEnd mirror it for the scanning loops.
    QString FCurrentBlock;
    std::unique_ptr<TStreamDecoder> FStream;

private:
    enum : quint8 {
        ckBlank = 1,
        ckSymbol = 2,
        ckIdentStart = 4,  // a letter or '_'
        ckIdentPart = 8,   // a letter, a digit or '_'
        ckDigit = 16,
        ckStringQuote = 32,
        ckIdentQuote = 64,
    };
    quint8 Kind(char16_t Ch) const { return Ch < 128 ? FKinds[Ch] : WideKind(Ch); }
    quint8 WideKind(char16_t Ch) const;

    int Scan();
    int ScanAfterBlanks();
    void SkipBlanks();
    void SkipLineComment();
    bool SkipBlockComment();
    int ScanQuotedLexeme(char16_t Quote, int Code, bool KeepQuotes);
    int ScanSymbol();
    void ScanRun(quint8 Kinds);
    int ScanNumber();
    [[noreturn]] void UnknownSymbol(char16_t Ch);
    bool LexemMatchesDesired(int Code) const;
    QStringView LexemView() const;

    bool EnsureSlow(qsizetype Count);
    bool Fill();

    const char16_t* FText = nullptr;
    qsizetype FEnd = 0;
    int FTextLength = 0;
    bool FLexemIsEntry = false;  // the lexeme's text is FLexem rather than the source
    qsizetype FMaxSymbolLength = 1;
    std::array<const TLexemEntry*, 128> FSingleSymbols{};  // the table entry of each ASCII character
    std::array<quint8, 128> FKinds{};
};

class TSQLParser : public TParser {
public:
    explicit TSQLParser(const QString& Text);
    explicit TSQLParser(QIODevice* Stream, TTextEncoding Encoding = teAnsi);

    // Index of Code in the clause order, or -1.
    int PosClauseLexem(int Code) const;
    bool IsClauseLexem(int Code) const { return PosClauseLexem(Code) != -1; }
    // -2 when either is not a clause; 1 when Code1 comes later, -1 earlier, 0 the same.
    int CompareClauseLexems(int Code1, int Code2) const;

protected:
    TSQLParser(const QString& Text, TDeferSetup);
    TSQLParser(QIODevice* Stream, TTextEncoding Encoding, TDeferSetup);

    void SetupDialect() override;
    bool IsLetterChar(QChar Ch) const override;
    bool IsStringQuoteChar(QChar Ch) const override;
    bool IsIdentQuoteChar(QChar Ch) const override;
    bool IsLineCommentAt(qsizetype Index) const override;

    // The order in which clauses follow one another in a SELECT.
    std::span<const int> FClauses;
};

// The SQL tables, shared by the SQL dialects.
TLexemList SQLSymbols();
TLexemList SQLKeywords();

// Looks Text up in List (ASCII letters of Text upper-cased); nullptr when absent.
const TLexemEntry* FindLexem(TLexemList List, QStringView Text);
// Builds a table sorted by text.
std::vector<TLexemEntry> SortedLexems(std::initializer_list<TLexemList> Parts);

}  // namespace calvoro::sqltext
