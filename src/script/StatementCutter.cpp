#include "StatementCutter.h"

#include <vector>

namespace calvoro::script {

using namespace sqltext;

namespace {

bool IsQuotedName(int code, QStringView text) { return code == lexIdent && text.startsWith(u'`'); }

bool HasLineEnd(QStringView text) { return text.contains(u'\n') || text.contains(u'\r'); }

}  // namespace

TStatementCutter::TStatementCutter(std::unique_ptr<TParser> lexer) : FLexer(std::move(lexer)) {
    // Every character reaches a lexeme, as it stands.
    FLexer->FOmitBlank = false;
    FLexer->FOmitComment = false;
    FLexer->FUppered = false;
    FLexer->FQuotedString = true;
    FLexer->FAdvancedStringParsing = true;
}

TStatementCutter::~TStatementCutter() = default;

void TStatementCutter::SetMaxLength(qint64 value) {
    FMaxLength = value;
    // No statement may be longer, so no lexeme needs to be either.
    FLexer->FMaxScanLength = value > 0 ? qsizetype(value + 65536) : 0;
}

void TStatementCutter::TrackLexeme(int code, int& type, bool& omit) {
    (void)code;
    (void)type;
    (void)omit;
}

bool TStatementCutter::ForcesEnd(int code) const {
    (void)code;
    return false;
}

TStatementPlace TStatementCutter::NextStart() const {
    if (FHasCarry) return FCarryPlace;
    TStatementPlace place;
    place.StartPos = place.EndPos = FLexer->CurrPos();
    place.StartLine = place.EndLine = FLexer->CurrLine();
    place.StartOffset = place.EndOffset = FLexer->CurrCol();
    return place;
}

bool TStatementCutter::Next(TCutStatement& statement) {
    Start();
    const bool standard = FCurrDelimiter == FDefaultDelimiter;
    for (;;) {
        const TLexeme lexeme = Read();
        FollowDelimiterCommand(lexeme);
        const TEnd end = FindEnd(lexeme, standard);
        if (!end.Ends) {
            Append(lexeme);
            continue;
        }
        if (Finish(lexeme, end)) break;
        // Nothing the server would run: blanks, or only comments.
        if (lexeme.Code == lexEnd) return false;
        Start();
    }
    FLastLength = std::min<qsizetype>(FStatement.Text.size(), 16 << 20);
    statement.Text = std::move(FStatement.Text);
    statement.Place = FStatement.Place;
    statement.Type = FStatement.Type;
    statement.Omit = FStatement.Omit;
    statement.TooLong = FStatement.TooLong;
    return true;
}

void TStatementCutter::Start() {
    TStatement& s = FStatement;
    s.Text.clear();
    s.Text.reserve(FLastLength);  // statements of a script are often alike in size
    s.Tail.clear();
    s.NewDelimiter.clear();
    s.Started = s.Content = s.TooLong = false;
    s.EndMarks.clear();
    s.Type = stOrdinary;
    s.Omit = false;
    s.Place = NextStart();
    FDelimiterState = dsNone;
    FPrevCode = FCurrCode = 0;
}

// The next lexeme: what followed a delimiter inside the last one, or the lexer's (a view into
// its text, valid until the next scan).
TStatementCutter::TLexeme TStatementCutter::Read() {
    TLexeme l;
    if (FHasCarry) {
        FHasCarry = false;
        FCarried.swap(FCarry);
        l.Code = lexIdent;
        l.Text = FCarried;
        l.Pos = FCarryPlace.StartPos;
        l.Line = FCarryPlace.StartLine;
        l.Col = FCarryPlace.StartOffset;
        l.EndPos = FCarryPlace.EndPos;
        l.EndLine = FCarryPlace.EndLine;
        l.EndCol = FCarryPlace.EndOffset;
        return l;
    }
    l.Code = FLexer->GetNextView(l.Text);
    l.Pos = FLexer->PrevPos();
    l.Line = FLexer->PrevLine();
    l.Col = FLexer->PrevCol();
    l.EndPos = FLexer->CurrPos() - 1;
    l.EndLine = FLexer->CurrLine();
    l.EndCol = FLexer->CurrCol() - 1;
    return l;
}

// A DELIMITER command: its value is the next word, up to a blank.
void TStatementCutter::FollowDelimiterCommand(const TLexeme& l) {
    if (FDelimiterState == dsBlank && l.Code != lexBlank) FDelimiterState = dsValue;
    if (FDelimiterState == dsValue) {
        if (l.Code == lexBlank || l.Code == lexEnd) {
            if (EndsDelimiterOnBlank() || l.Code == lexEnd) FDelimiterState = dsSet;
        } else {
            FStatement.NewDelimiter += l.Text;
        }
    } else if (FDelimiterState == dsDelimiter && (l.Code == lexBlank || l.Code == lexEnd)) {
        // At the end of its line without a value, the command leaves the delimiter as it is.
        FDelimiterState = l.Code == lexEnd || HasLineEnd(l.Text) ? dsSet : dsBlank;
    }
}

TStatementCutter::TEnd TStatementCutter::FindEnd(const TLexeme& l, bool standard) {
    TEnd end;
    end.Ends = FDelimiterState == dsSet || l.Code == lexEnd || ForcesEnd(l.Code);
    if (end.Ends || FDelimiterState != dsNone || l.Code == lexString || l.Code == lexComment ||
        l.Code == lexBlank || IsQuotedName(l.Code, l.Text))
        return end;
    const QStringView st = l.Text;
    const QString& tail = FStatement.Tail;
    const qsizetype n = FCurrDelimiter.size();
    if (n > 0 && !(standard && KeepsOpen(FStatement.Type))) {
        // The delimiter anywhere outside strings, comments and quoted names, also glued to a
        // word ("END$$") or made of several lexemes ("//", ";;"). The code inside an executable
        // comment is code: a delimiter there ends the statement, as it does for the mariadb
        // client. Most lexemes are looked at once, in place; only a delimiter of several
        // characters may have begun in the text before.
        qsizetype i = -1;
        if (n == 1) {
            // Most lexemes are a character or a few: looked at in place, not by a search.
            const QChar d = FCurrDelimiter.front();
            for (qsizetype k = 0; k < st.size(); ++k)
                if (st[k] == d) {
                    i = k;
                    break;
                }
        } else if (tail.isEmpty()) {
            i = st.indexOf(FCurrDelimiter);
        } else {
            const QString probe = tail + st.toString();
            i = probe.indexOf(FCurrDelimiter, std::max<qsizetype>(0, tail.size() - n + 1));
        }
        if (i >= 0) {
            end.Ends = end.KeepPart = true;
            if (i < tail.size()) end.Cut = tail.size() - i;
            end.Kept = st.left(std::max<qsizetype>(0, i - tail.size())).toString();
            const qsizetype restFrom = i + n - tail.size();
            if (restFrom < st.size()) {
                // What follows the delimiter in the same lexeme starts the next statement.
                FCarry = st.mid(restFrom).toString();
                FHasCarry = true;
                FCarryPlace = {l.Pos + restFrom, l.EndPos, l.Line, l.EndLine, l.Col + restFrom, l.EndCol};
            }
            return end;
        }
    }
    if (standard && st.size() == 1 && st[0] == u'/' && l.Col == 0) {
        // A "/" alone on its line ends the statement; nothing of it is kept.
        QString next;
        const int following = FLexer->GetNext(next);
        if (following == lexEnd || (following == lexBlank && HasLineEnd(next))) end.Ends = end.KeepPart = true;
        else FLexer->Back();
    }
    return end;
}

// The statement goes on with the lexeme.
void TStatementCutter::Append(const TLexeme& l) {
    TStatement& s = FStatement;
    TrackLexeme(l.Code, s.Type, s.Omit);
    if (l.Code != lexBlank || s.Started) {
        AddText(l.Text, l.Code == lexBlank);
        s.Started = true;
        if (l.Code != lexBlank) MarkEnd(l.EndPos, l.EndLine, l.EndCol);
    } else {
        // A blank before the statement is not part of it.
        s.Place.StartPos = s.Place.EndPos = l.EndPos + 1;
        s.Place.StartLine = s.Place.EndLine = FLexer->CurrLine();
        s.Place.StartOffset = s.Place.EndOffset = FLexer->CurrCol();
    }
    if (l.Code == lexString || l.Code == lexComment || IsQuotedName(l.Code, l.Text)) s.Tail.clear();
    else if (FCurrDelimiter.size() > 1) s.Tail = (s.Tail + l.Text.toString()).right(FCurrDelimiter.size() - 1);
    // A plain comment is nothing the server runs; the opener of an executable comment is (the
    // code after it may be empty), and so is a stray closer (the server rejects it).
    const bool plainComment =
        l.Code == lexComment && FLexer->CommentKind() != cmCodeOpen && FLexer->CommentKind() != cmCodeClose;
    if (!s.Content && l.Code != lexBlank && !plainComment) {
        s.Content = true;
        s.Place.WordLine = l.Line;
        s.Place.WordOffset = s.TooLong ? 0 : s.Text.size() - l.Text.size();
    }
}

void TStatementCutter::AddText(QStringView text, bool blank) {
    TStatement& s = FStatement;
    if (s.TooLong) return;
    s.Text += text;
    // Blanks count once a word follows them: those at the end are not part of the statement.
    if (!blank && FMaxLength > 0 && s.Text.size() > FMaxLength) {
        // Only the beginning is kept, for the error; the rest is read and dropped.
        s.TooLong = true;
        s.Text.truncate(1000);
    }
}

void TStatementCutter::MarkEnd(qint64 pos, qint64 line, qint64 col) {
    TStatement& s = FStatement;
    // A delimiter of n characters begins in at most the n - 1 words before it; the word before
    // those holds the last character kept.
    const size_t keep = FCurrDelimiter.size() > 1 ? size_t(FCurrDelimiter.size()) : 0;
    if (keep > 0) {
        if (s.EndMarks.size() >= keep) s.EndMarks.erase(s.EndMarks.begin());
        s.EndMarks.push_back({s.Text.size(), pos, line, col});
    }
    s.Place.EndPos = pos;
    s.Place.EndLine = line;
    s.Place.EndOffset = col;
}

bool TStatementCutter::Finish(const TLexeme& l, const TEnd& end) {
    TStatement& s = FStatement;
    if (end.KeepPart) {
        if (!end.Kept.isEmpty()) {
            TrackLexeme(l.Code, s.Type, s.Omit);
            const qsizetype wordOffset = s.Text.size();
            AddText(end.Kept, false);
            if (!s.Content) {
                s.Place.WordLine = l.Line;
                s.Place.WordOffset = s.TooLong ? 0 : wordOffset;
            }
            s.Started = s.Content = true;
            MarkEnd(l.Pos + end.Kept.size() - 1, l.Line, l.Col + end.Kept.size() - 1);
        } else if (end.Cut > 0 && !s.TooLong) {
            s.Text.chop(end.Cut);
            // The first word may have been the delimiter's beginning ("/* note */;;"): then only
            // blanks and comments are left.
            if (s.Text.size() <= s.Place.WordOffset) s.Content = false;
        }
    }
    // Blanks at the end are not part of the statement.
    if (!s.TooLong) {
        while (!s.Text.isEmpty() && s.Text.back().isSpace()) s.Text.chop(1);
        // The end moves back to the last character kept: inside the word it is in.
        const TEndMark* in = nullptr;
        for (auto it = s.EndMarks.rbegin(); it != s.EndMarks.rend() && it->Length >= s.Text.size(); ++it) in = &*it;
        if (in) {
            const qsizetype back = in->Length - s.Text.size();
            s.Place.EndPos = in->Pos - back;
            s.Place.EndLine = in->Line;
            s.Place.EndOffset = in->Col - back;
        }
    }
    if (FDelimiterState == dsSet) {
        s.Omit = true;
        if (!s.NewDelimiter.isEmpty()) FCurrDelimiter = s.NewDelimiter;
    }
    return s.Content && !s.Text.trimmed().isEmpty();
}

}  // namespace calvoro::script
