#include "CRParser.h"

#include <QLocale>
#include <algorithm>
#include <climits>
#include <cstring>

namespace calvoro::sqltext {
namespace {

constexpr char16_t CR = u'\r';
constexpr char16_t LF = u'\n';

constexpr char16_t AsciiUpper(char16_t Ch) { return Ch >= u'a' && Ch <= u'z' ? char16_t(Ch - 32) : Ch; }

// Ordinal comparison of Text, ASCII letters upper-cased, with a table entry.
int CompareUpper(QStringView Text, QStringView Entry) {
    const qsizetype n = std::min(Text.size(), Entry.size());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t a = AsciiUpper(Text[i].unicode());
        const char16_t b = Entry[i].unicode();
        if (a != b) return a < b ? -1 : 1;
    }
    return Text.size() < Entry.size() ? -1 : Text.size() > Entry.size() ? 1 : 0;
}

void AssignLexem(QString& Lexem, QStringView Text) {
    Lexem.resize(Text.size());  // keeps the buffer when it is large enough and not shared
    if (!Text.isEmpty()) std::memcpy(Lexem.data(), Text.data(), size_t(Text.size()) * sizeof(QChar));
}

// The generic tables.
constexpr TLexemEntry kParserSymbols[] = {
    {u"!", 1},  {u"\"", 2}, {u"#", 3},  {u"$", 4},  {u"%", 5},  {u"&", 6},  {u"'", 7},
    {u"(", 8},  {u")", 9},  {u"*", 10}, {u"+", 11}, {u",", 12}, {u"-", 13}, {u".", 14},
    {u"/", 15}, {u":", 16}, {u";", 17}, {u"<", 18}, {u"=", 19}, {u">", 20}, {u"?", 21},
    {u"@", 22}, {u"[", 23}, {u"\\", 24}, {u"]", 25}, {u"^", 26}, {u"_", 27}, {u"`", 28},
};
constexpr TLexemEntry kParserKeywords[] = {{u"AND", 29}, {u"NOT", 30}, {u"OR", 31}};

// The SQL tables.
constexpr TLexemEntry kSQLSymbols[] = {
    {u"*", lxAsterisk}, {u"=", lxEqual},     {u":", lxColon},     {u",", lxComma},
    {u".", lxPoint},    {u"/", lxSlash},     {u";", lxSemicolon},
};
constexpr TLexemEntry kSQLKeywords[] = {CALVORO_SQL_KEYWORDS(CALVORO_LEXEM_ENTRY)};
constexpr int kSQLClauses[] = {lxWHERE, lxGROUP, lxHAVING, lxUNION, lxMINUS, lxORDER};

TLexemList ParserSymbols() {
    static const std::vector<TLexemEntry> list = SortedLexems({kParserSymbols});
    return list;
}
TLexemList ParserKeywords() {
    static const std::vector<TLexemEntry> list = SortedLexems({kParserKeywords});
    return list;
}

// The user's decimal separator.
QChar LocaleDecimalSeparator() {
    const QString point = QLocale().decimalPoint();
    return point.isEmpty() ? QChar(u'.') : point.front();
}

}  // namespace

const TLexemEntry* FindLexem(TLexemList List, QStringView Text) {
    qsizetype lo = 0, hi = qsizetype(List.size()) - 1;
    while (lo <= hi) {
        const qsizetype mid = (lo + hi) / 2;
        const int c = CompareUpper(Text, List[size_t(mid)].Text);
        if (c == 0) return &List[size_t(mid)];
        if (c < 0)
            hi = mid - 1;
        else
            lo = mid + 1;
    }
    return nullptr;
}

std::vector<TLexemEntry> SortedLexems(std::initializer_list<TLexemList> Parts) {
    std::vector<TLexemEntry> list;
    for (TLexemList part : Parts) list.insert(list.end(), part.begin(), part.end());
    std::sort(list.begin(), list.end(),
              [](const TLexemEntry& a, const TLexemEntry& b) { return a.Text < b.Text; });
    return list;
}

// ---- TParser: creation and source ----

TParser::TParser(const QString& Text) : TParser(Text, TDeferSetup{}) { Setup(); }

TParser::TParser(QIODevice* Stream, TTextEncoding Encoding)
    : TParser(Stream, Encoding, TDeferSetup{}) {
    Setup();
}

TParser::TParser(const QString& Text, TDeferSetup) { SetText(Text); }

TParser::TParser(QIODevice* Stream, TTextEncoding Encoding, TDeferSetup)
    : FStream(std::make_unique<TStreamDecoder>(Stream, Encoding)) {
    const qint64 length = FStream->LengthInChars();
    FTextLength = length < 0 ? INT_MAX : int(std::min<qint64>(length, INT_MAX));
}

TParser::~TParser() = default;

void TParser::Setup() {
    SetupDialect();
    for (char16_t ch = 0; ch < 128; ++ch) FKinds[ch] = WideKind(ch);
    FMaxSymbolLength = 1;
    for (const TLexemEntry& e : FSymbolLexems) FMaxSymbolLength = std::max(FMaxSymbolLength, e.Text.size());
    for (char16_t ch = 0; ch < 128; ++ch)
        FSingleSymbols[ch] = FKinds[ch] & ckSymbol ? FindLexem(FSymbolLexems, QStringView(&ch, 1)) : nullptr;
}

// The character classes of one character, from the dialect's predicates.
quint8 TParser::WideKind(char16_t Ch) const {
    const QChar c(Ch);
    quint8 kind = 0;
    if (IsBlankChar(c)) kind |= ckBlank;
    if (IsSymbolChar(c)) kind |= ckSymbol;
    if (IsLetterChar(c) || Ch == u'_') kind |= ckIdentStart | ckIdentPart;
    if (IsDigitChar(c)) kind |= ckDigit | ckIdentPart;
    if (IsStringQuoteChar(c)) kind |= ckStringQuote;
    if (IsIdentQuoteChar(c)) kind |= ckIdentQuote;
    return kind;
}

void TParser::SetText(const QString& Text) {
    FStream.reset();
    FCurrentBlock = Text;
    FText = reinterpret_cast<const char16_t*>(FCurrentBlock.constData());
    FEnd = FCurrentBlock.size();
    FTextLength = int(std::min<qsizetype>(FEnd, INT_MAX));
    ToBegin();
}

void TParser::SetBlockSize(qsizetype Bytes) {
    if (FStream) FStream->SetBlockSize(Bytes);
}

void TParser::ToBegin() {
    if (FStream) {
        FStream->Rewind();
        FCurrentBlock.resize(0);
        FText = reinterpret_cast<const char16_t*>(FCurrentBlock.constData());
        FEnd = 0;
    }
    FPos = 0;
    FOffset = 0;
    FOldPos = FOldOldPos = 0;
    FCurrLine = FPrevLine = 0;
    FCurrBegLine = FPrevBegLine = 0;
    FLexemPos = -1;
    FLexemLength = 0;
    FLexemIsEntry = false;
    FInCodeComment = FPrevInCodeComment = false;
}

bool TParser::EnsureSlow(qsizetype Count) {
    while (FEnd - FPos < Count)
        if (!Fill()) return false;
    return true;
}

// Reads the next block of a stream. The text before the start of the current scan is dropped
// first: nothing scanned earlier is needed again (Back returns to the scan start at most).
bool TParser::Fill() {
    if (!FStream) return false;
    const qsizetype keep = qsizetype(FOldPos - FOffset);
    if (keep > 0) {
        char16_t* d = reinterpret_cast<char16_t*>(FCurrentBlock.data());
        std::memmove(d, d + keep, size_t(FEnd - keep) * sizeof(char16_t));
        FEnd -= keep;
        FPos -= keep;
        if (FLexemPos >= 0) FLexemPos -= keep;
        FOffset += keep;
    }
    // What is left is the current scan's text.
    if (FMaxScanLength > 0 && FEnd > FMaxScanLength)
        throw EParserError(QStringLiteral("Parser: a lexeme longer than %1 characters, beginning at line %2")
                               .arg(FMaxScanLength)
                               .arg((FLexemPos >= 0 ? FLexemLine : FCurrLine) + 1));
    const qsizetype need = FEnd + FStream->MaxChars();
    // Grow geometrically, so that a lexeme spanning many blocks is not copied once per block.
    if (FCurrentBlock.capacity() < need) FCurrentBlock.reserve(std::max(need, 2 * FCurrentBlock.capacity()));
    FCurrentBlock.resize(need);
    const qsizetype n = FStream->ReadBlock(reinterpret_cast<char16_t*>(FCurrentBlock.data()) + FEnd);
    FEnd += n;
    FCurrentBlock.resize(FEnd);
    FText = reinterpret_cast<const char16_t*>(FCurrentBlock.constData());
    return n > 0;
}

// ---- TParser: scanning ----

int TParser::GetNext(QString& Lexem) {
    const int code = Scan();
    AssignLexem(Lexem, LexemView());
    return code;
}

int TParser::GetNextView(QStringView& Lexem) {
    const int code = Scan();
    Lexem = LexemView();
    return code;
}

int TParser::GetNextCode() { return Scan(); }

QStringView TParser::LexemView() const {
    if (FLexemIsEntry) return FLexem;
    if (FLexemPos < 0) return {};
    return QStringView(FText + FLexemPos, FLexemLength);
}

int TParser::Scan() {
    FOldOldPos = FOldPos;
    FOldPos = CurrPos();
    FPrevInCodeComment = FInCodeComment;
    FPrevLine = FCurrLine;
    FPrevBegLine = FCurrBegLine;
    FLexemPos = -1;
    FLexemLength = 0;
    FLexemIsEntry = false;
    for (;;) {
        if (!Ensure(1)) return lexEnd;
        if (Kind(FText[FPos]) & ckBlank) {
            FLexemPos = FPos;
            FLexemLine = FCurrLine;
            SkipBlanks();
            if (!FOmitBlank) {
                FLexemLength = FPos - FLexemPos;
                return lexBlank;
            }
            FLexemPos = -1;
            if (!Ensure(1)) return lexEnd;
        }

        Ensure(4);  // look-ahead for the comment markers
        FLexemPos = FPos;
        FLexemLine = FCurrLine;
        bool comment = false;
        if (FInCodeComment && FText[FPos] == CommentEnd.front().unicode() && Ensure(CommentEnd.size()) &&
            QStringView(FText + FPos, CommentEnd.size()) == CommentEnd) {
            // The first closer outside a string, a name or a nested comment ends the code.
            FPos += CommentEnd.size();
            FInCodeComment = false;
            FCommentKind = cmCodeClose;
            comment = true;
        } else if (IsLineCommentAt(FPos)) {
            // Inside code in a comment too: as the server reads it, it runs over a "*/".
            SkipLineComment();
            FCommentKind = cmLine;
            comment = true;
        } else if (!CommentBegin.isEmpty() && FText[FPos] == CommentBegin.front().unicode() &&
                   Ensure(CommentBegin.size()) &&
                   QStringView(FText + FPos, CommentBegin.size()) == CommentBegin) {
            Ensure(MaxCodeCommentOpener);
            if (const qsizetype opener = CodeCommentOpenerAt(FPos)) {
                // Such comments do not nest: an opener inside one is dropped, as the server
                // drops it, and the next closer ends both.
                FPos += opener;
                FInCodeComment = true;
                FCommentKind = cmCodeOpen;
            } else {
                SkipBlockComment();
                FCommentKind = cmBlock;
            }
            comment = true;
        }
        if (!comment) return ScanAfterBlanks();
        if (!FOmitComment) {
            FLexemLength = FPos - FLexemPos;
            return lexComment;
        }
        FLexemPos = -1;
    }
}

// Classifies the character at the scan position and scans the lexeme it starts.
int TParser::ScanAfterBlanks() {
    const char16_t ch = FText[FPos];
    const quint8 kind = Kind(ch);
    if (kind & ckStringQuote) return ScanQuotedLexeme(ch, lexString, FQuotedString);
    if (kind & ckIdentQuote) return ScanQuotedLexeme(ch, lexIdent, true);
    // Letters before symbols: '$' is both for the SQL dialects, and "$$" is one identifier.
    if (kind & ckIdentStart) {
        FLexemPos = FPos;
        ScanRun(ckIdentPart);
        FLexemLength = FPos - FLexemPos;
        if (!FOmitKeywords) {
            if (const TLexemEntry* e = FindLexem(FKeywordLexems, LexemView())) {
                FLexem = e->Text;
                FLexemIsEntry = FUppered;
                return e->Code;
            }
        }
        return lexIdent;
    }
    if (kind & ckSymbol) return ScanSymbol();
    if (kind & ckDigit) return ScanNumber();
    UnknownSymbol(ch);
}

void TParser::UnknownSymbol(char16_t Ch) {
    FLexemPos = -1;
    throw EParserError(QStringLiteral("Parser: The unknown symbol '") + QChar(Ch) + QStringLiteral("'  $") +
                       QString::number(Ch, 16).toUpper().rightJustified(4, u'0'));
}

void TParser::SkipLineEnd() {
    const char16_t ch = FText[FPos++];
    if (ch == CR && Ensure(1) && FText[FPos] == LF) ++FPos;
    ++FCurrLine;
    FCurrBegLine = CurrPos();
}

void TParser::SkipBlanks() {
    for (;;) {
        qsizetype i = FPos;
        while (i < FEnd) {
            const char16_t ch = FText[i];
            if (!(Kind(ch) & ckBlank)) {
                FPos = i;
                return;
            }
            if (ch == CR || ch == LF) {
                FPos = i;
                SkipLineEnd();
                i = FPos;
            } else {
                ++i;
            }
        }
        FPos = i;
        if (!Fill()) return;
    }
}

// Advances over the run of characters of the given kinds.
void TParser::ScanRun(quint8 Kinds) {
    for (;;) {
        const char16_t* text = FText;
        const qsizetype end = FEnd;
        qsizetype i = FPos;
        while (i < end && (Kind(text[i]) & Kinds)) ++i;
        FPos = i;
        if (i < end || !Fill()) return;
    }
}

void TParser::SkipLineComment() {
    for (;;) {
        const char16_t* text = FText;
        const qsizetype end = FEnd;
        qsizetype i = FPos;
        while (i < end && text[i] != CR && text[i] != LF) ++i;
        FPos = i;
        if (i < end || !Fill()) return;
    }
}

// From CommentBegin to the end of the next CommentEnd, or to the end of the text.
bool TParser::SkipBlockComment() {
    FPos += CommentBegin.size();
    const qsizetype endLength = CommentEnd.size();
    const char16_t endFirst = CommentEnd.front().unicode();
    while (Ensure(1)) {
        const char16_t ch = FText[FPos];
        if (ch == endFirst && Ensure(endLength) && QStringView(FText + FPos, endLength) == CommentEnd) {
            FPos += endLength;
            return true;
        }
        if (ch == CR || ch == LF)
            SkipLineEnd();
        else
            ++FPos;
    }
    return false;
}

bool TParser::ScanQuoted(char16_t Quote, bool CountLines, bool BackslashEscapes) {
    for (;;) {
        const char16_t* text = FText;
        const qsizetype end = FEnd;
        qsizetype i = FPos;
        while (i < end) {
            const char16_t ch = text[i];
            if (ch == Quote) {
                FPos = i;
                return true;
            }
            if (ch == u'\\' && BackslashEscapes) {
                FPos = i;
                if (!Ensure(2)) {  // a backslash at the very end
                    FPos = FEnd;
                    return false;
                }
                const char16_t next = FText[FPos + 1];
                if (CountLines && (next == CR || next == LF)) {
                    ++FPos;
                    SkipLineEnd();
                } else {
                    FPos += 2;
                }
                break;  // the buffer may have moved: reload
            }
            if (CountLines && (ch == CR || ch == LF)) {
                FPos = i;
                SkipLineEnd();
                break;
            }
            ++i;
        }
        if (i >= end) {
            FPos = i;
            if (!Fill()) return false;
        }
    }
}

int TParser::ScanQuotedLexeme(char16_t Quote, int Code, bool KeepQuotes) {
    FLexemPos = FPos;
    ++FPos;
    const bool closed = SkipQuoted(QChar(Quote));
    const qsizetype contentEnd = FPos;
    if (closed) ++FPos;
    if (KeepQuotes) {
        // The closing quote only when the text has one: the lexeme is always the source text.
        FLexemLength = FPos - FLexemPos;
    } else {
        ++FLexemPos;
        FLexemLength = contentEnd - FLexemPos;
    }
    return Code;
}

// The longest run of symbol characters in the symbol table whose every leading part is in the
// table too; a character that is not there alone is a lexSymbol.
int TParser::ScanSymbol() {
    FLexemPos = FPos;
    const char16_t first = FText[FPos];
    const TLexemEntry* best = first < 128 ? FSingleSymbols[first] : FindLexem(FSymbolLexems, QStringView(FText + FPos, 1));
    if (!best) {
        ++FPos;
        FLexemLength = 1;
        return lexSymbol;
    }
    qsizetype length = 1;
    while (length < FMaxSymbolLength && Ensure(length + 1) && (Kind(FText[FPos + length]) & ckSymbol)) {
        const TLexemEntry* e = FindLexem(FSymbolLexems, QStringView(FText + FPos, length + 1));
        if (!e) break;
        best = e;
        ++length;
    }
    FPos += length;
    FLexemLength = length;
    FLexem = best->Text;
    FLexemIsEntry = true;
    return best->Code;
}

int TParser::ScanNumber() {
    FLexemPos = FPos;
    ScanRun(ckDigit);
    if (Ensure(2) && FText[FPos] == DecSeparator.unicode() && (Kind(FText[FPos + 1]) & ckDigit)) {
        ++FPos;
        ScanRun(ckDigit);
    }
    FLexemLength = FPos - FLexemPos;
    return lexNumber;
}

void TParser::Back() {
    FPos = qsizetype(FOldPos - FOffset);
    // Lines go back too, so that the position and its line agree when the lexeme is read again.
    FCurrLine = FPrevLine;
    FCurrBegLine = FPrevBegLine;
    FInCodeComment = FPrevInCodeComment;
}

int TParser::ToLexem(int Code) {
    for (;;) {
        const int code = Scan();
        if (code == Code || code == lexEnd) return code;
    }
}

bool TParser::ToLexem(const QString& Text) {
    FDesiredLexem.resize(Text.size());
    for (qsizetype i = 0; i < Text.size(); ++i) FDesiredLexem[i] = QChar(AsciiUpper(Text[i].unicode()));
    FDesiredLexemFound = false;
    struct Restore {
        TParser* P;
        bool OmitKeywords;
        ~Restore() {
            P->FOmitKeywords = OmitKeywords;
            P->FDesiredLexem.clear();
        }
    } restore{this, FOmitKeywords};
    FOmitKeywords = true;
    for (;;) {
        const int code = Scan();
        if (code == lexEnd) return false;
        if (LexemMatchesDesired(code)) return FDesiredLexemFound = true;
    }
}

bool TParser::LexemMatchesDesired(int Code) const {
    if (Code > 0) return FLexem == FDesiredLexem;
    const QStringView lexem(FText + FLexemPos, FLexemLength);
    if (Code == lexSymbol) return FDesiredLexem.size() == 1 && lexem.front() == FDesiredLexem.front();
    if (Code != lexIdent && Code != lexNumber) return false;
    if (lexem.size() > FDesiredLexem.size()) return false;
    for (qsizetype i = 0; i < lexem.size(); ++i)
        if (AsciiUpper(lexem[i].unicode()) != FDesiredLexem[i].unicode()) return false;
    return true;
}

// ---- TParser: dialect ----

void TParser::SetupDialect() {
    CommentBegin = QStringLiteral("/*");
    CommentEnd = QStringLiteral("*/");
    FSymbolLexems = ParserSymbols();
    FKeywordLexems = ParserKeywords();
    DecSeparator = LocaleDecimalSeparator();
    FOmitBlank = true;
    FOmitComment = false;
    FOmitKeywords = false;
    FUppered = true;
    FQuotedString = false;
    FAdvancedStringParsing = false;
    ToBegin();
}

bool TParser::IsBlankChar(QChar Ch) const {
    const char16_t c = Ch.unicode();
    return c == u'\t' || c == LF || c == CR || c == u' ';
}

bool TParser::IsSymbolChar(QChar Ch) const {
    const char16_t c = Ch.unicode();
    return (c >= 33 && c <= 47) || (c >= 58 && c <= 64) || (c >= 91 && c <= 94) || c == 96 ||
           (c >= 123 && c <= 126);
}

bool TParser::IsLetterChar(QChar Ch) const {
    const char16_t c = Ch.unicode();
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c >= 128;
}

bool TParser::IsDigitChar(QChar Ch) const { return Ch >= u'0' && Ch <= u'9'; }

bool TParser::IsStringQuoteChar(QChar Ch) const { return Ch == u'\'' || Ch == u'"'; }

bool TParser::SkipQuotedCounting(QChar Quote) { return ScanQuoted(Quote.unicode(), true, false); }

bool TParser::SkipQuoted(QChar Quote) {
    if (FStream || FAdvancedStringParsing) return SkipQuotedCounting(Quote);
    return ScanQuoted(Quote.unicode(), false, false);
}

bool TParser::IsIdentQuoteChar(QChar) const { return false; }

bool TParser::IsLineCommentAt(qsizetype Index) const { return CharAt(Index) == u'/' && CharAt(Index + 1) == u'/'; }

qsizetype TParser::CodeCommentOpenerAt(qsizetype) const { return 0; }

bool TParser::IsMacroAllowed(int Code) const { return Code != lexString; }
bool TParser::IsNumericMacroNameAllowed() const { return false; }
bool TParser::IsSelectModifier(int Code) const { return Code == lxALL; }
bool TParser::IsFunctionOrConst(const QString& UpperedName) const { return UpperedName == u"NULL"; }
bool TParser::IsQuasiColumn(const QString&) const { return false; }

// ---- TSQLParser ----

TSQLParser::TSQLParser(const QString& Text) : TParser(Text, TDeferSetup{}) { Setup(); }
TSQLParser::TSQLParser(QIODevice* Stream, TTextEncoding Encoding)
    : TParser(Stream, Encoding, TDeferSetup{}) {
    Setup();
}
TSQLParser::TSQLParser(const QString& Text, TDeferSetup) : TParser(Text, TDeferSetup{}) {}
TSQLParser::TSQLParser(QIODevice* Stream, TTextEncoding Encoding, TDeferSetup)
    : TParser(Stream, Encoding, TDeferSetup{}) {}

TLexemList SQLSymbols() {
    static const std::vector<TLexemEntry> list = SortedLexems({kSQLSymbols});
    return list;
}

TLexemList SQLKeywords() {
    static const std::vector<TLexemEntry> list = SortedLexems({kSQLKeywords});
    return list;
}

void TSQLParser::SetupDialect() {
    TParser::SetupDialect();
    FSymbolLexems = SQLSymbols();
    FKeywordLexems = SQLKeywords();
    FClauses = kSQLClauses;
}

bool TSQLParser::IsLetterChar(QChar Ch) const { return TParser::IsLetterChar(Ch) || Ch == u'#' || Ch == u'$'; }
bool TSQLParser::IsStringQuoteChar(QChar Ch) const { return Ch == u'\''; }
bool TSQLParser::IsIdentQuoteChar(QChar Ch) const { return Ch == u'"'; }
bool TSQLParser::IsLineCommentAt(qsizetype Index) const {
    return CharAt(Index) == u'-' && CharAt(Index + 1) == u'-';
}

int TSQLParser::PosClauseLexem(int Code) const {
    const auto it = std::find(FClauses.begin(), FClauses.end(), Code);
    return it == FClauses.end() ? -1 : int(it - FClauses.begin());
}

int TSQLParser::CompareClauseLexems(int Code1, int Code2) const {
    const int p1 = PosClauseLexem(Code1);
    const int p2 = PosClauseLexem(Code2);
    if (p1 < 0 || p2 < 0) return -2;
    return p1 > p2 ? 1 : p1 < p2 ? -1 : 0;
}

}  // namespace calvoro::sqltext
