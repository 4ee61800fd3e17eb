#include "LocalInfile.h"

#include <cctype>

namespace calvoro::protocol {
namespace {

enum class TTokenKind { End, Word, String, Semicolon, Other };

struct TToken {
    TTokenKind Kind = TTokenKind::End;
    std::string_view Text;  // a word
    std::string Escaped;    // a string literal, backslash escapes decoded
    std::string Raw;        // the same without escape processing
};

bool IsWordByte(unsigned char c) { return std::isalnum(c) || c == '_' || c == '$' || c >= 0x80; }

// Splits a statement text into the few token kinds the matcher needs.
class TScanner {
public:
    explicit TScanner(std::string_view sql) : FSql(sql) {}

    TToken Next() {
        SkipBlanksAndComments();
        TToken t;
        if (FPos >= FSql.size()) return t;
        const unsigned char c = FSql[FPos];
        if (c == '\'' || c == '"') {
            t.Kind = TTokenKind::String;
            ReadString(char(c), t);
        } else if (c == '`') {
            t.Kind = TTokenKind::Other;
            ReadQuotedIdentifier();
        } else if (IsWordByte(c)) {
            const size_t start = FPos;
            while (FPos < FSql.size() && IsWordByte(FSql[FPos])) ++FPos;
            t.Kind = TTokenKind::Word;
            t.Text = FSql.substr(start, FPos - start);
        } else {
            t.Kind = c == ';' ? TTokenKind::Semicolon : TTokenKind::Other;
            ++FPos;
        }
        return t;
    }

private:
    void SkipBlanksAndComments() {
        while (FPos < FSql.size()) {
            const unsigned char c = FSql[FPos];
            if (std::isspace(c)) {
                ++FPos;
            } else if (c == '#' || (c == '-' && At(1) == '-' && (FPos + 2 >= FSql.size() || std::isspace((unsigned char)At(2))))) {
                const size_t eol = FSql.find('\n', FPos);
                FPos = eol == std::string_view::npos ? FSql.size() : eol + 1;
            } else if (c == '/' && At(1) == '*') {
                const size_t end = FSql.find("*/", FPos + 2);
                FPos = end == std::string_view::npos ? FSql.size() : end + 2;
            } else {
                return;
            }
        }
    }

    char At(size_t ahead) const { return FPos + ahead < FSql.size() ? FSql[FPos + ahead] : '\0'; }

    // 'text' or "text": a doubled quote stands for one; a backslash escapes the next byte.
    void ReadString(char quote, TToken& t) {
        ++FPos;
        while (FPos < FSql.size()) {
            const char c = FSql[FPos++];
            if (c == quote) {
                if (FPos < FSql.size() && FSql[FPos] == quote) {
                    t.Escaped += quote;
                    t.Raw += quote;
                    ++FPos;
                    continue;
                }
                return;
            }
            if (c == '\\' && FPos < FSql.size()) {
                const char e = FSql[FPos++];
                t.Raw += c;
                t.Raw += e;
                t.Escaped += Unescape(e);
                continue;
            }
            t.Escaped += c;
            t.Raw += c;
        }
    }

    static std::string Unescape(char e) {
        switch (e) {
            case '0': return std::string(1, '\0');
            case 'b': return "\b";
            case 'n': return "\n";
            case 'r': return "\r";
            case 't': return "\t";
            case 'Z': return "\x1A";
            case '%': return "\\%";  // kept with the backslash, as the server does
            case '_': return "\\_";
            default: return std::string(1, e);
        }
    }

    void ReadQuotedIdentifier() {
        ++FPos;
        while (FPos < FSql.size()) {
            if (FSql[FPos++] == '`') {
                if (FPos < FSql.size() && FSql[FPos] == '`') {
                    ++FPos;
                    continue;
                }
                return;
            }
        }
    }

    std::string_view FSql;
    size_t FPos = 0;
};

bool Is(const TToken& t, std::string_view word) {
    if (t.Kind != TTokenKind::Word || t.Text.size() != word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i)
        if (std::toupper((unsigned char)t.Text[i]) != word[i]) return false;
    return true;
}

}  // namespace

namespace {

// Whether "INFILE" appears anywhere, in any letter case: most statements can skip the scan.
bool MentionsInfile(std::string_view sql) {
    constexpr std::string_view word = "infile";
    for (size_t i = 0; i + word.size() <= sql.size(); ++i) {
        if ((sql[i] | 0x20) != 'i') continue;
        size_t k = 1;
        while (k < word.size() && (sql[i + k] | 0x20) == word[k]) ++k;
        if (k == word.size()) return true;
    }
    return false;
}

}  // namespace

std::vector<std::string> LocalInfileNames(std::string_view sql) {
    if (!MentionsInfile(sql)) return {};
    // Where the statement being read stands in
    //   LOAD {DATA | XML} [LOW_PRIORITY | CONCURRENT] LOCAL INFILE 'name'
    enum { Start, Load, DataOrXml, Priority, Local, Infile, Other } state = Start;
    std::vector<std::string> names;
    TScanner scanner(sql);
    for (TToken t = scanner.Next(); t.Kind != TTokenKind::End; t = scanner.Next()) {
        if (t.Kind == TTokenKind::Semicolon) {
            state = Start;
            continue;
        }
        switch (state) {
            case Start: state = Is(t, "LOAD") ? Load : Other; break;
            case Load: state = Is(t, "DATA") || Is(t, "XML") ? DataOrXml : Other; break;
            case DataOrXml:
                state = Is(t, "LOCAL") ? Local : Is(t, "LOW_PRIORITY") || Is(t, "CONCURRENT") ? Priority : Other;
                break;
            case Priority: state = Is(t, "LOCAL") ? Local : Other; break;
            case Local: state = Is(t, "INFILE") ? Infile : Other; break;
            case Infile:
                if (t.Kind == TTokenKind::String) {
                    names.push_back(t.Escaped);
                    if (t.Raw != t.Escaped) names.push_back(t.Raw);
                }
                state = Other;
                break;
            case Other: break;
        }
    }
    return names;
}

}  // namespace calvoro::protocol
