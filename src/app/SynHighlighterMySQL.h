#pragma once
// The MySQL syntax highlighter of the program's SQL editors.
//
// TSynMySQL is the one object the editors share: the look of each kind of token and the list of
// table names. A QScintilla lexer belongs to one editor, so each editor owns a TSynMySQLLexer
// that takes its word lists and styles from the shared object and follows its changes.
//
// Scintilla's SQL lexer does most of the work. What it cannot do is restyled afterwards, line by
// line (TSynMySQLLexer::RestyleLine): backquoted table names (it styles them as quoted
// identifiers and never looks them up), variables (@v, @@sql_mode, @`v`), words with bytes it
// does not count as word characters (non-ASCII letters, '$'), and hexadecimal and binary
// numbers (0x1F, 0b101).

#include <Qsci/qscilexersql.h>

#include <QByteArray>
#include <QByteArrayView>
#include <QColor>
#include <QFont>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>

#include <array>

namespace calvoro::app {

enum class TSynTokenKind { Comment, DataType, Keyword, Number, String, Symbol, TableName, Variable, Identifier, Other };
inline constexpr int SynTokenKindCount = int(TSynTokenKind::Other) + 1;
// "comment", "datatype", ... for messages and settings keys.
const char* SynTokenKindName(TSynTokenKind kind);

// How one kind of token looks; all kinds share the highlighter's font family and size.
struct TSynAttributes {
    QColor Foreground;
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool operator==(const TSynAttributes&) const = default;
};

class TSynMySQL : public QObject {
    Q_OBJECT

public:
    explicit TSynMySQL(QObject* parent = nullptr);
    ~TSynMySQL() override;

    const TSynAttributes& Attributes(TSynTokenKind kind) const { return FAttributes[size_t(kind)]; }
    void SetAttributes(TSynTokenKind kind, const TSynAttributes& attributes);
    const QFont& Font() const { return FFont; }
    void SetFont(const QFont& font);
    // The font of one kind: Font() with the kind's weight, slant and underline.
    QFont FontOf(TSynTokenKind kind) const;

    // Names shown in the table-name style (the program adds tables, views and procedures). A
    // name in backquotes matches exactly that text; a bare name matches a word in any letter case.
    void ClearTableNames();
    void AddTableName(const QString& name);
    // The names in the order they were added.
    const QStringList& TableNames() const { return FTableNames; }
    // `quoted` is the UTF-8 text of a backquoted identifier, backquotes included.
    bool IsQuotedTableName(QByteArrayView quoted) const;
    // `word` is a word as UTF-8, in any letter case.
    bool IsBareTableName(QByteArrayView word) const;

    // The word lists as Scintilla takes them: lower case, separated by blanks, UTF-8.
    static const char* KeywordList();
    static const char* DataTypeList();
    // The bare names Scintilla's lexer can see as one word (ASCII letters, digits and '_', not
    // starting with a digit), lowered; RestyleLine looks up the others.
    const QByteArray& TableNameList() const;

signals:
    void StylesChanged();
    void TableNamesChanged();

private:
    std::array<TSynAttributes, SynTokenKindCount> FAttributes;
    QFont FFont;
    QStringList FTableNames;
    QSet<QByteArray> FQuotedNames;  // exact UTF-8 text, backquotes included
    QSet<QByteArray> FBareNames;    // lowered UTF-8
    mutable QByteArray FTableNameList;
    mutable bool FTableNameListValid = false;
};

// The lexer of one editor: Scintilla's SQL lexer set up for MySQL (# comments, backquoted
// identifiers, backslash escapes), with the shared highlighter's word lists and styles.
class TSynMySQLLexer : public QsciLexerSQL {
    Q_OBJECT

public:
    // Style numbers are Scintilla's SQL styles (QsciLexerSQL's enumeration), with keyword set 2
    // for data types and set 5 for bare table names, plus two styles the lexer never produces.
    enum : int {
        StyleVariable = 12,
        StyleQuotedTableName = 14,
        StyleDataType = 16,
        StyleTableName = KeywordSet5,
    };

    explicit TSynMySQLLexer(TSynMySQL* highlighter, QObject* parent = nullptr);
    ~TSynMySQLLexer() override;

    TSynMySQL* Highlighter() const { return FHighlighter; }
    static TSynTokenKind KindOfStyle(int style);

    const char* language() const override;
    const char* keywords(int set) const override;
    QColor defaultColor(int style) const override;
    QFont defaultFont(int style) const override;
    QColor defaultPaper(int style) const override;
    QString description(int style) const override;

    // Brings the editor's styles of lines first..last up to date: word lists, Scintilla's lexer,
    // then RestyleLine for each line.
    void StyleLines(int first, int last);

    // Restyles one line after Scintilla's lexer. `text` and `styles` hold the line's bytes with
    // its line break and their styles. Styles already set by an earlier pass are recognised, so
    // a line can be restyled any number of times.
    void RestyleLine(const QByteArray& text, QByteArray& styles) const;

private:
    void ApplyStyles();
    void TableNamesChanged();

    QPointer<TSynMySQL> FHighlighter;
    bool FTableNamesStale = false;
};

}  // namespace calvoro::app
