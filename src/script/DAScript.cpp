#include "DAScript.h"

#include "common/CodePage.h"
#include "common/ScopeGuard.h"

#include <QFile>

namespace calvoro::script {

using namespace sqltext;

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

void TDAScriptProcessor::ResetParser() { FCutter.reset(); }

qint64 TDAScriptProcessor::ParserLine() const { return FCutter ? FCutter->Lexer().CurrLine() : -1; }

void TDAScriptProcessor::SetCurrDelimiter(const QString& value) {
    FCurrDelimiter = value;
    if (FCutter) FCutter->SetDelimiter(value);
}

bool TDAScriptProcessor::CanBatch(const QString& sql, int type) const {
    (void)sql;
    (void)type;
    return false;
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
        FCutter = CreateCutter(stream, encoding);
        if (s.FStreamBlockSize > 0) FCutter->Lexer().SetBlockSize(s.FStreamBlockSize);
    } else {
        QString text = s.FSQL.Lines().join(QStringLiteral("\r\n"));
        qsizetype end = text.size();
        while (end > 0 && text[end - 1].unicode() <= u' ') --end;
        text.truncate(end);
        FCutter = CreateCutter(text);
    }
    FCutter->SetDelimiter(FCurrDelimiter);
    FCutter->SetMaxLength(s.FMaxStatementLength);
    MarkStart();
}

void TDAScriptProcessor::MarkStart() {
    FOwner.FPlace = FCutter->NextStart();
    FOwner.FStmtOffset = FOwner.FPlace.StartPos;
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
    if (!FCutter) OpenParser();
    BeforeScan();
    FOwner.FErrorOffset = 0;
    FCutter->SetDefaultDelimiter(FOwner.FDelimiter);

    TCutStatement statement;
    bool found = false;
    try {
        found = FCutter->Next(statement);
    } catch (const EParserError&) {
        // The line goes with the error to whoever reports it; the lexer goes first, and so
        // does the statement before, still running ahead.
        FOwner.FParserErrorLine = FCutter->Lexer().CurrLine();
        FCurrDelimiter = FCutter->Delimiter();
        bool stopped = false;
        FOwner.FinishPending(stopped);
        throw;
    }
    FCurrDelimiter = FCutter->Delimiter();
    if (!found) {
        bool stopped = false;
        FOwner.FinishPending(stopped);
        ResetParser();
        return false;
    }
    bool breakExec = false;
    // The statement before, if it runs ahead, is concluded first: its events come first,
    // and it may stop the script.
    FOwner.FinishPending(breakExec);
    if (breakExec) {
        ResetParser();
        return false;
    }
    FOwner.FPlace = statement.Place;
    FOwner.FStmtOffset = statement.Place.StartPos;
    bool omit = statement.Omit;
    if (statement.TooLong) {
        FOwner.StatementTooLong(statement.Text, breakExec);
    } else {
        ExecuteStatement(statement.Text, statement.Type, breakExec, omit);
    }
    if (!omit && breakExec) {
        ResetParser();
        return false;
    }
    // The cutter is gone when BreakExec was called meanwhile.
    if (FCutter) MarkStart();
    return true;
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
    {
        // BreakExec from another thread resets the parser and the place under this lock.
        std::lock_guard lock(FcsBreakMultiThread);
        processor.SetCurrDelimiter(FDelimiter);
        processor.ResetParser();
    }
    while (!FBreakExecution)
        if (!ExecuteNext()) break;
    bool breakExec = false;
    {
        std::lock_guard lock(FcsBreakMultiThread);
        FinishPending(breakExec);
    }
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
    const qint64 characters = FProcessor->FCutter->Lexer().CurrPos();
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
