#include "MyParser.h"

namespace calvoro::sqltext {
namespace {

constexpr TLexemEntry kMyKeywords[] = {CALVORO_MYSQL_KEYWORDS(CALVORO_LEXEM_ENTRY)};
constexpr int kMyClauses[] = {lxWHERE, lxGROUP, lxHAVING, lxORDER, lxLIMIT, lxPROCEDURE, lxFOR, lxLOCK};

TLexemList MyKeywords() {
    static const std::vector<TLexemEntry> list = SortedLexems({SQLKeywords(), kMyKeywords});
    return list;
}

}  // namespace

TMyParser::TMyParser(const QString& Text) : TSQLParser(Text, TDeferSetup{}) { Setup(); }
TMyParser::TMyParser(QIODevice* Stream, TTextEncoding Encoding)
    : TSQLParser(Stream, Encoding, TDeferSetup{}) {
    Setup();
}
TMyParser::TMyParser(const QString& Text, TDeferSetup) : TSQLParser(Text, TDeferSetup{}) {}
TMyParser::TMyParser(QIODevice* Stream, TTextEncoding Encoding, TDeferSetup)
    : TSQLParser(Stream, Encoding, TDeferSetup{}) {}

void TMyParser::SetupDialect() {
    TSQLParser::SetupDialect();
    FKeywordLexems = MyKeywords();
    FClauses = kMyClauses;
}

bool TMyParser::IsLetterChar(QChar Ch) const { return TParser::IsLetterChar(Ch) || Ch == u'$'; }

bool TMyParser::IsStringQuoteChar(QChar Ch) const { return Ch == u'\'' || Ch == u'"'; }

// Line ends are always counted; backslash escapes hold in strings only: MySQL reads a
// backquoted name up to the next backtick, so `a\` is a complete name.
bool TMyParser::SkipQuoted(QChar Quote) { return ScanQuoted(Quote.unicode(), true, IsStringQuoteChar(Quote)); }

bool TMyParser::IsIdentQuoteChar(QChar Ch) const { return Ch == u'`'; }

bool TMyParser::IsLineCommentAt(qsizetype Index) const {
    const QChar ch = CharAt(Index);
    // "--" starts a comment when a blank or a control character follows it (a line end, or
    // the end of the text, too), as the server reads it: "--" alone on a line is a comment.
    return ch == u'#' || (ch == u'-' && CharAt(Index + 1) == u'-' && CharAt(Index + 2).unicode() <= u' ');
}

qsizetype TMyParser::CodeCommentOpenerAt(qsizetype Index) const {
    // "/*" is there; then "!" or "M!" (upper case only, as the server has it).
    qsizetype length = 2;
    if (CharAt(Index + length) == u'M') ++length;
    if (CharAt(Index + length) != u'!') return 0;
    ++length;
    // A version is six digits, or five when no sixth follows; fewer digits are code.
    qsizetype digits = 0;
    while (digits < 6 && IsDigitChar(CharAt(Index + length + digits))) ++digits;
    return length + (digits >= 5 ? digits : 0);
}

}  // namespace calvoro::sqltext
