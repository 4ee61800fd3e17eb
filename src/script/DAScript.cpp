#include "DAScript.h"

#include "common/CodePage.h"
#include "common/ScopeGuard.h"

#include <QFile>

namespace calvoro::script {

using namespace sqltext;

namespace {

// Where a lexeme stands.
struct TLexemePlace {
    qint64 Pos = 0, Line = 0, Col = 0;
    qint64 EndPos = 0, EndLine = 0, EndCol = 0;
};

bool IsQuotedName(int code, QStringView text) { return code == lexIdent && text.startsWith(u'`'); }

bool HasLineEnd(QStringView text) { return text.contains(u'\n') || text.contains(u'\r'); }

}  // namespace

// --- TDAStatement ---

QString TDAStatement::SQL() const {
    const QStringList& lines = FScript.FSQL.Lines();
    QStringList parts;
    for (qint64 line = FPlace.StartLine; line <= FPlace.EndLine && line < lines.size(); ++line) {
        const QString& text = lines[line];
        const qint64 from = line == FPlace.StartLine ? FPlace.StartOffset : 0;
        const qint64 to = line == FPlace.EndLine ? FPlace.EndOffset + 1 : text.size();
        parts << text.mid(from, to - from);
    }
    return parts.join(QStringLiteral("\r\n"));
}

void TDAStatement::Execute() {
    bool breakExec = false;
    bool omit = FOmit;
    FScript.Processor().ExecuteStatement(SQL(), FStatementType, breakExec, omit);
}

// --- TDAScriptProcessor ---

TDAScriptProcessor::TDAScriptProcessor(TDAScript& owner) : FOwner(owner), FCurrDelimiter(owner.Delimiter()) {}

TDAScriptProcessor::~TDAScriptProcessor() = default;

void TDAScriptProcessor::ResetParser() {
    FParser.reset();
    FHasCarry = false;
    FCarry.clear();
}

qint64 TDAScriptProcessor::ParserLine() const { return FParser ? FParser->CurrLine() : -1; }

bool TDAScriptProcessor::ForcesEnd(int code) const {
    (void)code;
    return false;
}

void TDAScriptProcessor::TrackLexeme(int code, int& type, bool& omit) {
    (void)code;
    (void)type;
    (void)omit;
}

bool TDAScriptProcessor::CanBatch(const QString& sql, int type) const {
    (void)sql;
    (void)type;
    return false;
}

bool TDAScriptProcessor::IsExecutableComment(QStringView comment) const {
    return comment.startsWith(u"/*!") || comment.startsWith(u"/*M!");
}

void TDAScriptProcessor::OpenParser() {
    TDAScript& s = FOwner;
    s.FStreamIsUnicode = false;
    s.FStreamMarkBytes = 0;
    if (s.FStream) {
        QIODevice* stream = s.FStream;
        if (!stream->isSequential()) stream->seek(0);
        // The byte-order mark says how the text is encoded; without one it is 8-bit text (or
        // UTF-8 for a Unicode connection).
        const QByteArray head = stream->peek(3);
        TTextEncoding encoding = s.PlainStreamEncoding();
        if (head.startsWith("\xFF\xFE")) {
            stream->read(2);
            s.FStreamMarkBytes = 2;
            encoding = teUTF16LE;
            s.FStreamIsUnicode = true;
        } else if (head.startsWith("\xEF\xBB")) {
            stream->read(3);
            s.FStreamMarkBytes = 3;
        }
        FParser = CreateParser(stream, encoding);
        if (s.FStreamBlockSize > 0) FParser->SetBlockSize(s.FStreamBlockSize);
    } else {
        QString text = s.FSQL.Lines().join(QStringLiteral("\r\n"));
        qsizetype end = text.size();
        while (end > 0 && text[end - 1].unicode() <= u' ') --end;
        text.truncate(end);
        FParser = CreateParser(text);
    }
    // Every character reaches a lexeme, as it stands.
    FParser->FOmitBlank = false;
    FParser->FOmitComment = false;
    FParser->FUppered = false;
    FParser->FQuotedString = true;
    FParser->FAdvancedStringParsing = true;
    // No statement may be longer than the server takes, so no lexeme needs to be either.
    if (s.FMaxStatementLength > 0) FParser->FMaxScanLength = qsizetype(s.FMaxStatementLength + 65536);
    MarkStart();
}

void TDAScriptProcessor::MarkStart() {
    TStatementPlace& place = FOwner.FPlace;
    if (FHasCarry) {
        place = FCarryPlace;
        FOwner.FStmtOffset = FCarryPlace.StartPos;
        return;
    }
    place.StartPos = place.EndPos = FParser->CurrPos();
    place.StartLine = place.EndLine = FParser->CurrLine();
    place.StartOffset = place.EndOffset = FParser->CurrCol();
    FOwner.FStmtOffset = FParser->CurrPos();
}

bool TDAScriptProcessor::ProcessPresplit() {
    TDAStatements& statements = *FOwner.FStatements;
    if (FCurrentStatementIdx < 0) FCurrentStatementIdx = 0;
    if (FCurrentStatementIdx >= statements.Count()) {
        FCurrentStatementIdx = -1;
        return false;
    }
    TDAStatement& statement = statements[FCurrentStatementIdx++];
    FOwner.FPlace = statement.Place();
    FOwner.FStmtOffset = statement.Place().StartPos;
    bool breakExec = false;
    bool omit = statement.Omit();
    ExecuteStatement(statement.SQL(), statement.StatementType(), breakExec, omit);
    return !breakExec;
}

bool TDAScriptProcessor::ProcessNext() {
    std::lock_guard lock(FOwner.FcsBreakMultiThread);
    if (FOwner.FStopRequested.exchange(false)) {
        // Stopped between two statements: the run ends here, instead of reading the text
        // again from its beginning.
        bool stopped = false;
        FOwner.FinishPending(stopped);
        ResetParser();
        FCurrentStatementIdx = -1;
        return false;
    }
    if (FOwner.FStatements && !FOwner.FStream && !FStatementsPopulating) return ProcessPresplit();
    if (!FParser) OpenParser();
    BeforeScan();

    TStatementPlace& place = FOwner.FPlace;
    QString text;       // the statement
    text.reserve(FLastLength);  // statements of a script are often alike in size
    QString tail;       // the end of text a delimiter of several pieces may have begun in
    QString newDelimiter;
    bool started = false;
    bool content = false;      // something the server runs, not only comments
    bool tooLong = false;      // longer than the server takes: only its beginning is kept
    // Where the last words of text end (by the length of text after them), for moving the
    // statement's end back when a delimiter begun in them is cut off.
    struct TEndMark {
        qsizetype Length;
        qint64 Pos, Line, Col;
    };
    std::vector<TEndMark> endMarks;
    auto markEnd = [&](qint64 pos, qint64 line, qint64 col) {
        // A delimiter of n characters begins in at most the n - 1 words before it; the word
        // before those holds the last character kept.
        const size_t keep = FCurrDelimiter.size() > 1 ? size_t(FCurrDelimiter.size()) : 0;
        if (keep > 0) {
            if (endMarks.size() >= keep) endMarks.erase(endMarks.begin());
            endMarks.push_back({text.size(), pos, line, col});
        }
        place.EndPos = pos;
        place.EndLine = line;
        place.EndOffset = col;
    };
    int type = stOrdinary;
    bool omit = false;
    auto reset = [&] {
        text.clear();
        tail.clear();
        newDelimiter.clear();
        started = content = tooLong = false;
        endMarks.clear();
        type = stOrdinary;
        omit = false;
        FDelimiterState = dsNone;
        FPrevCode = FCurrCode = 0;
        FOwner.FErrorOffset = 0;
    };
    reset();
    MarkStart();
    const qint64 maxLength = FOwner.FMaxStatementLength;

    const bool standard = FCurrDelimiter == FOwner.FDelimiter;
    QString carried;
    for (;;) {
        // The next lexeme: what followed a delimiter inside the last one, or the lexer's (a
        // view into its text, valid until the next scan).
        int c;
        TLexemePlace at;
        QStringView st;
        if (FHasCarry) {
            FHasCarry = false;
            carried.swap(FCarry);
            st = carried;
            c = lexIdent;
            at = {FCarryPlace.StartPos, FCarryPlace.StartLine, FCarryPlace.StartOffset, FCarryPlace.EndPos,
                  FCarryPlace.EndLine, FCarryPlace.EndOffset};
        } else {
            try {
                c = FParser->GetNextView(st);
            } catch (const EParserError&) {
                // The line goes with the error to whoever reports it; the lexer goes first,
                // and so does the statement before, still running ahead.
                FOwner.FParserErrorLine = FParser->CurrLine();
                bool stopped = false;
                FOwner.FinishPending(stopped);
                throw;
            }
            at = {FParser->PrevPos(), FParser->PrevLine(), FParser->PrevCol(), FParser->CurrPos() - 1,
                  FParser->CurrLine(), FParser->CurrCol() - 1};
        }

        // a. A DELIMITER command: its value is the next word, up to a blank.
        if (FDelimiterState == dsBlank && c != lexBlank) FDelimiterState = dsValue;
        if (FDelimiterState == dsValue) {
            if (c == lexBlank || c == lexEnd) {
                if (EndsDelimiterOnBlank() || c == lexEnd) FDelimiterState = dsSet;
            } else {
                newDelimiter += st;
            }
        } else if (FDelimiterState == dsDelimiter && (c == lexBlank || c == lexEnd)) {
            // At the end of its line without a value, the command leaves the delimiter as it is.
            FDelimiterState = c == lexEnd || HasLineEnd(st) ? dsSet : dsBlank;
        }

        // b. Does the statement end here?
        bool ends = FDelimiterState == dsSet || c == lexEnd || ForcesEnd(c);
        qsizetype cut = 0;           // characters of text that began the delimiter
        QString kept;                // the part of this lexeme before the delimiter
        bool keepPart = false;
        if (!ends && FDelimiterState == dsNone && c != lexString && c != lexComment && c != lexBlank &&
            !IsQuotedName(c, st)) {
            const qsizetype n = FCurrDelimiter.size();
            if (n > 0 && !(standard && KeepsOpen(type))) {
                // The delimiter anywhere outside strings, comments and quoted names, also glued to
                // a word ("END$$") or made of several lexemes ("//", ";;").
                // Most lexemes are looked at once, in place; only a delimiter of several
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
                    ends = true;
                    keepPart = true;
                    if (i < tail.size()) cut = tail.size() - i;
                    kept = st.left(std::max<qsizetype>(0, i - tail.size())).toString();
                    const qsizetype restFrom = i + n - tail.size();
                    if (restFrom < st.size()) {
                        // What follows the delimiter in the same lexeme starts the next statement.
                        FCarry = st.mid(restFrom).toString();
                        FHasCarry = true;
                        FCarryPlace = {at.Pos + restFrom, at.EndPos, at.Line, at.EndLine, at.Col + restFrom, at.EndCol};
                    }
                }
            }
            if (!ends && standard && st.size() == 1 && st[0] == u'/' && at.Col == 0) {
                // A "/" alone on its line ends the statement.
                QString next;
                const int following = FParser->GetNext(next);
                if (following == lexEnd || (following == lexBlank && HasLineEnd(next))) ends = true;
                else FParser->Back();
                if (ends) keepPart = true;  // nothing of the "/" is kept
            }
        }

        if (!ends) {
            // c. The statement goes on.
            TrackLexeme(c, type, omit);
            if (c != lexBlank || started) {
                if (!tooLong) text += st;
                started = true;
                if (c != lexBlank) markEnd(at.EndPos, at.EndLine, at.EndCol);
                if (maxLength > 0 && !tooLong && text.size() > maxLength) {
                    // Only the beginning is kept, for the error; the rest is read and dropped.
                    tooLong = true;
                    text.truncate(1000);
                }
            } else {
                // A blank before the statement is not part of it.
                FOwner.FStmtOffset += st.size();
                place.StartPos = place.EndPos = at.EndPos + 1;
                place.StartLine = place.EndLine = FParser->CurrLine();
                place.StartOffset = place.EndOffset = FParser->CurrCol();
            }
            if (c == lexString || c == lexComment || IsQuotedName(c, st)) tail.clear();
            else if (FCurrDelimiter.size() > 1) tail = (tail + st.toString()).right(FCurrDelimiter.size() - 1);
            if (!content && ((c != lexBlank && c != lexComment) || (c == lexComment && IsExecutableComment(st)))) {
                content = true;
                place.WordLine = at.Line;
                place.WordOffset = tooLong ? 0 : text.size() - st.size();
            }
            continue;
        }

        // d. The statement ends.
        if (keepPart) {
            if (!kept.isEmpty()) {
                TrackLexeme(c, type, omit);
                if (!content) {
                    place.WordLine = at.Line;
                    place.WordOffset = text.size();
                }
                if (!tooLong) text += kept;
                started = content = true;
                markEnd(at.Pos + kept.size() - 1, at.Line, at.Col + kept.size() - 1);
            } else if (cut > 0 && !tooLong) {
                text.chop(cut);
            }
        }
        // Blanks at the end are not part of the statement.
        if (!tooLong) {
            while (!text.isEmpty() && text.back().isSpace()) text.chop(1);
            // The end moves back to the last character kept: inside the word it is in.
            const TEndMark* in = nullptr;
            for (auto it = endMarks.rbegin(); it != endMarks.rend() && it->Length >= text.size(); ++it) in = &*it;
            if (in && in->Length > text.size()) {
                const qsizetype back = in->Length - text.size();
                place.EndPos = in->Pos - back;
                place.EndLine = in->Line;
                place.EndOffset = in->Col - back;
            } else if (in) {
                place.EndPos = in->Pos;
                place.EndLine = in->Line;
                place.EndOffset = in->Col;
            }
        }
        if (FDelimiterState == dsSet) {
            omit = true;
            if (!newDelimiter.isEmpty()) FCurrDelimiter = newDelimiter;
        }
        if (text.trimmed().isEmpty() || !content) {
            // Nothing the server would run: blanks, or only comments.
            if (c == lexEnd) {
                bool stopped = false;
                FOwner.FinishPending(stopped);
                ResetParser();
                return false;
            }
            reset();
            MarkStart();
            continue;
        }
        FLastLength = std::min<qsizetype>(text.size(), 16 << 20);
        bool breakExec = false;
        // The statement before, if it runs ahead, is concluded first: its events come first,
        // and it may stop the script.
        FOwner.FinishPending(breakExec);
        if (breakExec) {
            ResetParser();
            return false;
        }
        if (tooLong) {
            FOwner.StatementTooLong(text, breakExec);
        } else {
            ExecuteStatement(text, type, breakExec, omit);
        }
        if (!omit && breakExec) {
            ResetParser();
            return false;
        }
        // The lexer is gone when BreakExec was called meanwhile.
        if (FParser) {
            FOwner.FStmtOffset = FParser->CurrPos();
            MarkStart();
        }
        return true;
    }
}

void TDAScriptProcessor::CreateStatement(int type, bool omit) {
    FOwner.FStatements->Add(std::make_unique<TDAStatement>(FOwner, type, omit, FOwner.FPlace));
}

void TDAScriptProcessor::ExecuteStatement(const QString& sql, int type, bool& breakExec, bool& omit) {
    breakExec = false;
    if (FStatementsPopulating) return CreateStatement(type, omit);
    if (sql.isEmpty()) return;
    QString text = FOwner.ExpandMacros(sql);
    if (FOwner.BeforeExecute) FOwner.BeforeExecute(&FOwner, text, omit);
    BeforeStatement();
    ScopeExit after([&] { AfterStatement(); });
    if (omit) return;
    if (FOwner.FUseOptimization && FOwner.FAllowOptimization) {
        if (!CanBatch(text, type)) FOwner.FlushBatch(breakExec);
        if (!FOwner.FBuffer.isEmpty()) FOwner.FBuffer += FOwner.FDelimiter + QStringLiteral("\r\n");
        FOwner.FBuffer += text;
        return;
    }
    FOwner.RunStatement(text, breakExec);
}

// --- TDAScript ---

TDAScript::TDAScript(dac::TMacros::TParserFactory parserClass) : FMacros(std::move(parserClass)) {
    FSQL.OnChange = [this] {
        FMacros.Scan(FSQL.Text());
        BreakExec();
        FStopRequested = false;  // a new text is a new run for ExecuteNext
        FStatements.reset();
    };
}

TDAScript::~TDAScript() {
    // A statement still running ahead uses the command; it ends first (its outcome is no
    // one's to hear any more).
    if (FPending) FPending->Done.wait();
}

void TDAScript::CreateComponents() {
    FCommand = CreateCommand();
    // A script's statements go as they stand: no markers are looked for.
    FCommand->SetParamCheck(false);
}

TDAScriptProcessor& TDAScript::Processor() {
    if (!FProcessor) FProcessor = CreateProcessor();
    return *FProcessor;
}

void TDAScript::SetConnection(dac::TCustomDAConnection* connection) { FCommand->SetConnection(connection); }

QString TDAScript::TextForConnection(const QString& sql, bool unicodeSource) const {
    (void)unicodeSource;
    return sql;
}

QString TDAScript::ExpandMacros(const QString& sql) const {
    // Only a macro given a value replaces its references; any other "&name" stays as written.
    return FMacros.Count() > 0 ? FMacros.Expand(sql, true) : sql;
}

void TDAScript::Execute() {
    FBreakExecution = false;
    FStopRequested = false;
    TDAScriptProcessor& processor = Processor();
    dac::TCustomDAConnection* connection = nullptr;
    bool held = false;
    bool disabled = false;
    ScopeExit release([&] {
        // On the way out of an exception a statement may still run ahead: it ends before the
        // connection is let go; what it raises is dropped, the exception on its way out is
        // what the caller hears.
        if (FPending) {
            FPending->Done.wait();
            FPending.reset();
        }
        FAllowOptimization = false;
        {
            std::lock_guard lock(FcsBreakMultiThread);
            processor.ResetParser();
        }
        if (disabled) FDataSet->EnableControls();
        if (held) connection->InternalDisconnect();
    });
    if (!processor.FStatementsPopulating) {
        connection = FDataSet ? FDataSet->Connection() : FCommand->Connection();
        if (!connection) throw EDatabaseError(QStringLiteral("Connection is not defined"));
        if (!FNoPreconnect) {
            connection->InternalConnect();
            held = true;
        }
        if (FDataSet) {
            FDataSet->DisableControls();
            disabled = true;
        }
        FMaxStatementLength = FMaxStatementLengthSetting > 0 ? FMaxStatementLengthSetting : ServerMaxStatementLength();
    } else {
        FMaxStatementLength = 0;
    }
    FAllowOptimization = true;
    processor.SetCurrDelimiter(FDelimiter);
    processor.ResetParser();
    while (!FBreakExecution)
        if (!ExecuteNext()) break;
    bool breakExec = false;
    FinishPending(breakExec);
    if (!FBreakExecution && !breakExec) FlushBatch(breakExec);
}

bool TDAScript::ExecuteNext() { return Processor().ProcessNext(); }

void TDAScript::ExecuteFile(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw EDatabaseError(QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, file.errorString()));
    ExecuteStream(&file);
}

void TDAScript::ExecuteStream(QIODevice* stream) {
    SetStream(stream);
    ScopeExit detach([&] { SetStream(nullptr); });
    Execute();
}

void TDAScript::SetStream(QIODevice* stream) {
    std::lock_guard lock(FcsBreakMultiThread);
    FStream = stream;
    FBreakExecution = false;  // a new source, a new run
    FStopRequested = false;
    if (FProcessor) FProcessor->ResetParser();
}

qint64 TDAScript::StreamBytesRead() const { return FStream ? FStream->pos() : 0; }

qint64 TDAScript::StreamPosition() const {
    // Asked between statements by the thread that runs the script, while a Stop from another
    // thread may reset the parser.
    std::lock_guard lock(FcsBreakMultiThread);
    if (!FStream) return 0;
    if (!FProcessor || !FProcessor->HasParser()) return FStream->pos();
    const qint64 characters = FProcessor->FParser->CurrPos();
    return std::min(FStream->pos(), FStreamMarkBytes + (FStreamIsUnicode ? 2 * characters : characters));
}

void TDAScript::RequestStop() {
    FBreakExecution = true;
    FStopRequested = true;
}

void TDAScript::BreakExec() {
    RequestStop();
    // The running statement is stopped on the server; the lock then waits for it to return.
    if (FCommand && FCommand->Executing()) FCommand->BreakExec();
    std::lock_guard lock(FcsBreakMultiThread);
    if (FProcessor) FProcessor->ResetParser();
    FStmtOffset = 0;
    FPlace = {};
}

TDAStatements& TDAScript::Statements() {
    if (!FStatements) {
        FStatements = std::make_unique<TDAStatements>();
        TDAScriptProcessor& processor = Processor();
        processor.FStatementsPopulating = true;
        ScopeExit done([&] { processor.FStatementsPopulating = false; });
        QIODevice* stream = FStream;
        FStream = nullptr;  // the statements are those of SQL
        ScopeExit back([&] { FStream = stream; });
        Execute();
    }
    return *FStatements;
}

void TDAScript::ExecuteText(const QString& sql) {
    const QString text = TextForConnection(sql, FStream && FStreamIsUnicode);
    if (FDataSet) {
        FDataSet->ExecuteText(text);
        return;
    }
    FCommand->ExecuteText(text);
}

void TDAScript::RunStatement(const QString& sql, bool& breakExec) {
    // Long enough that its run hides the reading of the next one, and the thread costs
    // nothing beside it.
    constexpr qsizetype kReadAheadLength = 64 * 1024;
    if (FReadAhead && FStream && !FDataSet && sql.size() >= kReadAheadLength) {
        Q_ASSERT(!FPending);
        FPending.emplace(TPending{sql, FPlace, FStmtOffset, std::async(std::launch::async, [this, sql] { ExecuteText(sql); })});
        return;
    }
    Conclude(sql, [&] { ExecuteText(sql); }, breakExec);
}

void TDAScript::FinishPending(bool& breakExec) {
    if (!FPending) return;
    TPending pending = std::move(*FPending);
    FPending.reset();
    // Its events see its own place, not that of the statement read meanwhile; when OnError
    // raises, the place stays the failed statement's.
    std::swap(FPlace, pending.Place);
    std::swap(FStmtOffset, pending.StmtOffset);
    Conclude(pending.Sql, [&] { pending.Done.get(); }, breakExec);
    std::swap(FPlace, pending.Place);
    std::swap(FStmtOffset, pending.StmtOffset);
}

void TDAScript::Conclude(const QString& sql, const std::function<void()>& run, bool& breakExec) {
    try {
        run();
    } catch (const EAbort&) {
        // The statement was stopped by this script's BreakExec: the script ends here, as asked.
        // Any other abort passes on.
        if (!FBreakExecution) throw;
        breakExec = true;
        return;
    } catch (const std::exception& e) {
        HandleError(e, sql, breakExec);
        return;
    }
    if (AfterExecute) AfterExecute(this, sql);
}

void TDAScript::StatementTooLong(const QString& beginning, bool& breakExec) {
    try {
        throw EDatabaseError(QStringLiteral("The statement at line %1 is longer than the %2 characters the server takes")
                                 .arg(FPlace.StartLine + 1)
                                 .arg(FMaxStatementLength));
    } catch (const EDatabaseError& e) {
        HandleError(e, beginning, breakExec);
    }
}

void TDAScript::HandleError(const std::exception& e, const QString& sql, bool& breakExec) {
    // Called inside the handler of e: eaFail raises it again.
    FErrorOffset = FStmtOffset;
    TErrorAction action = eaException;
    if (OnError) OnError(this, e, sql.trimmed(), action);
    switch (action) {
        case eaAbort: breakExec = true; return;
        case eaFail: throw;
        case eaException: ShowApplicationException(e); return;
        case eaContinue: return;
    }
}

void TDAScript::FlushBatch(bool& breakExec) {
    if (FBuffer.isEmpty()) return;
    const QString batch = FBuffer;
    FBuffer.clear();
    RunStatement(batch, breakExec);
}

}  // namespace calvoro::script
