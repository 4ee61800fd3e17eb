#pragma once
// Cutting a script into statements. From a lexer over a text or a stream, Next returns one
// statement at a time: its text as it stands in the script (the delimiter and the blanks
// around it cut off), where it stands, and its kind. The cutter follows DELIMITER commands,
// keeps a routine body whose header came under ";" together up to a "/" line, ends a
// statement at a "/" alone on its line, starts the next statement with what follows a
// delimiter inside one word ("END$$SELECT"), and keeps only the beginning of a statement
// longer than a limit while it reads over the rest.
//
// It runs nothing: the script processor (DAScript.h) runs what it returns. The dialect's
// words (DELIMITER, routine headers) are a subclass's (MyStatementCutter.h).

#include "sqltext/CRParser.h"

#include <QString>

#include <memory>
#include <vector>

namespace calvoro::script {

// Progress of a DELIMITER command.
enum TDelimiterState { dsNone, dsDelimiter, dsBlank, dsValue, dsSet };

// The kind of a statement.
enum TStatementType : int {
    stOrdinary = 0,
    stDelimiterCommand = 1,
    stOpenRoutineBody = 0x8000,  // CREATE FUNCTION/PROCEDURE/TRIGGER with ";" as delimiter
};

// Where a statement stands in the script: 0-based character positions, lines and columns of
// its first and last character.
struct TStatementPlace {
    qint64 StartPos = 0, EndPos = 0;
    qint64 StartLine = 0, EndLine = 0;
    qint64 StartOffset = 0, EndOffset = 0;
    // The first word (not a blank, not a comment the server skips): its line, and where it
    // stands in the statement's text. A client reports a statement by this line.
    qint64 WordLine = 0;
    qsizetype WordOffset = 0;
    bool operator==(const TStatementPlace&) const = default;
};

// One statement cut from a script.
struct TCutStatement {
    // As it stands in the script, without the delimiter and the blanks around it; of a
    // statement longer than the limit (TooLong), its first 1000 characters.
    QString Text;
    TStatementPlace Place;
    int Type = stOrdinary;
    bool Omit = false;  // not for the server: a DELIMITER command
    bool TooLong = false;
};

class TStatementCutter {
public:
    // Cuts the text the lexer reads, from where it stands; the cutter sets its switches.
    explicit TStatementCutter(std::unique_ptr<sqltext::TParser> lexer);
    virtual ~TStatementCutter();
    TStatementCutter(const TStatementCutter&) = delete;
    TStatementCutter& operator=(const TStatementCutter&) = delete;

    // The next statement; false when the text holds no more. Raises the lexer's EParserError
    // (its line is then the lexer's CurrLine).
    bool Next(TCutStatement& statement);
    // Where the next statement begins, as far as the text has been read.
    TStatementPlace NextStart() const;

    // The delimiter in force; a DELIMITER command changes it.
    const QString& Delimiter() const { return FCurrDelimiter; }
    void SetDelimiter(const QString& value) { FCurrDelimiter = value; }
    // The script's own delimiter (";" by default): while it is in force, a "/" line ends a
    // statement and a routine header keeps ";" from ending one.
    const QString& DefaultDelimiter() const { return FDefaultDelimiter; }
    void SetDefaultDelimiter(const QString& value) { FDefaultDelimiter = value; }
    // The longest statement in characters (0: no limit). A longer one comes with TooLong and
    // its beginning; no lexeme may be much longer either, so that an unclosed quote cannot
    // take all memory.
    qint64 MaxLength() const { return FMaxLength; }
    void SetMaxLength(qint64 value);

    sqltext::TParser& Lexer() const { return *FLexer; }

protected:
    // The dialect's rules. TrackLexeme follows the statement's words (a DELIMITER command sets
    // FDelimiterState to dsDelimiter, a routine header the type stOpenRoutineBody).
    virtual void TrackLexeme(int code, int& type, bool& omit);
    virtual bool ForcesEnd(int code) const;
    // Whether the script's delimiter does not end a statement of this type.
    virtual bool KeepsOpen(int type) const { return type == stOpenRoutineBody; }
    // Whether a blank ends the value of a DELIMITER command (else only the delimiter does).
    virtual bool EndsDelimiterOnBlank() const { return false; }

    QString FCurrDelimiter = QStringLiteral(";");
    TDelimiterState FDelimiterState = dsNone;
    // Codes of the last two lexemes of the statement that were neither blanks nor comments.
    int FPrevCode = 0;
    int FCurrCode = 0;

private:
    // A lexeme and where it stands.
    struct TLexeme {
        int Code = sqltext::lexEnd;
        QStringView Text;
        qint64 Pos = 0, Line = 0, Col = 0;
        qint64 EndPos = 0, EndLine = 0, EndCol = 0;
    };
    // Where the last words of the text end (by the length of the text after them), for moving
    // the statement's end back when a delimiter begun in them is cut off.
    struct TEndMark {
        qsizetype Length;
        qint64 Pos, Line, Col;
    };
    // The statement being cut.
    struct TStatement {
        QString Text;
        QString Tail;          // the end of Text a delimiter of several pieces may have begun in
        QString NewDelimiter;  // the value of a DELIMITER command
        bool Started = false;  // a lexeme other than a blank was taken
        bool Content = false;  // something the server runs, not only comments
        bool TooLong = false;  // longer than the limit: only its beginning is kept
        std::vector<TEndMark> EndMarks;
        int Type = stOrdinary;
        bool Omit = false;
        TStatementPlace Place;
    };
    // How a lexeme ends the statement.
    struct TEnd {
        bool Ends = false;
        bool KeepPart = false;  // the delimiter stood inside the lexeme, or was a "/" line
        QString Kept;           // the part of the lexeme before the delimiter
        qsizetype Cut = 0;      // characters of the text that began the delimiter
    };

    void Start();
    TLexeme Read();
    void FollowDelimiterCommand(const TLexeme& lexeme);
    TEnd FindEnd(const TLexeme& lexeme, bool standard);
    void Append(const TLexeme& lexeme);
    // Adds to the statement's text, up to the length limit.
    void AddText(QStringView text, bool blank);
    void MarkEnd(qint64 pos, qint64 line, qint64 col);
    // The statement ends at lexeme: its text and place made final; false when it holds
    // nothing the server runs.
    bool Finish(const TLexeme& lexeme, const TEnd& end);

    std::unique_ptr<sqltext::TParser> FLexer;
    TStatement FStatement;
    QString FCarried;  // the carried text while it is being read
    QString FDefaultDelimiter = QStringLiteral(";");
    qint64 FMaxLength = 0;
    qsizetype FLastLength = 0;  // of the last statement, to size the next one's text
    // Text that followed a delimiter inside one lexeme ("$$SELECT"): the next statement's start.
    QString FCarry;
    TStatementPlace FCarryPlace;
    bool FHasCarry = false;
};

}  // namespace calvoro::script
