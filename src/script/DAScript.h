#pragma once
// Scripts: a text or a stream of SQL statements separated by a delimiter. The processor takes
// the statements its cutter cuts from the script (StatementCutter.h: DELIMITER commands,
// routine bodies and "/" lines understood) and hands each to the script, which runs it through
// its command and lets OnError decide, per failing statement, whether to go on, stop or fail.
//
// A statement reaches the server as it stands in the script: the delimiter is cut off and
// nothing else; no parameter markers are looked for, and an "&name" is replaced only by a
// macro of that name that was given a value. A stream is read in blocks, so a script of any
// size runs in bounded memory.

#include "StatementCutter.h"
#include "dataaccess/common/DBAccess.h"
#include "sqltext/CRParser.h"

#include <QIODevice>
#include <QString>

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace calvoro::script {

// What OnError answers for a failing statement.
enum TErrorAction {
    eaAbort,      // stop after this statement, without an error
    eaFail,       // the error leaves Execute/ExecuteNext
    eaException,  // the error is shown by the application and the script goes on
    eaContinue,   // the script goes on silently
};

class TDAScript;
class TDAScriptProcessor;

// A statement of a script split in advance (Statements).
class TDAStatement {
public:
    TDAStatement(TDAScript& script, int type, bool omit, const TStatementPlace& place)
        : FScript(script), FStatementType(type), FOmit(omit), FPlace(place) {}

    int StatementType() const { return FStatementType; }
    bool Omit() const { return FOmit; }
    const TStatementPlace& Place() const { return FPlace; }
    // The statement's text, cut from the script's lines (joined with CR LF).
    QString SQL() const;
    // Runs this statement alone.
    void Execute();

private:
    TDAScript& FScript;
    int FStatementType;
    bool FOmit;
    TStatementPlace FPlace;
};

class TDAStatements {
public:
    int Count() const { return int(FItems.size()); }
    TDAStatement& operator[](int index) const { return *FItems.at(size_t(index)); }
    void Add(std::unique_ptr<TDAStatement> statement) { FItems.push_back(std::move(statement)); }

private:
    std::vector<std::unique_ptr<TDAStatement>> FItems;
};

// Takes the statements of a script from its cutter and hands each to the script; generic over
// the dialect (the dialect's cutter).
class TDAScriptProcessor {
public:
    explicit TDAScriptProcessor(TDAScript& owner);
    virtual ~TDAScriptProcessor();
    TDAScriptProcessor(const TDAScriptProcessor&) = delete;
    TDAScriptProcessor& operator=(const TDAScriptProcessor&) = delete;

    // Takes the next statement and executes (or omits) it: true when one was taken, false
    // when the script is exhausted or a statement stopped it.
    bool ProcessNext();
    // Frees the cutter and its lexer: the next ProcessNext starts over.
    void ResetParser();
    bool HasParser() const { return FCutter != nullptr; }
    // The lexer's current line (0-based), or -1 without one.
    qint64 ParserLine() const;

    const QString& CurrDelimiter() const { return FCurrDelimiter; }
    void SetCurrDelimiter(const QString& value);
    int CurrentStatementIdx() const { return FCurrentStatementIdx; }
    void SetCurrentStatementIdx(int value) { FCurrentStatementIdx = value; }
    bool FStatementsPopulating = false;

protected:
    friend class TDAScript;
    friend class TDAStatement;

    // The dialect's cutter over a text, or over a stream from where it stands.
    virtual std::unique_ptr<TStatementCutter> CreateCutter(const QString& text) const = 0;
    virtual std::unique_ptr<TStatementCutter> CreateCutter(QIODevice* stream, sqltext::TTextEncoding encoding) const = 0;
    // Executes (or, while pre-splitting, records) one statement.
    virtual void ExecuteStatement(const QString& sql, int type, bool& breakExec, bool& omit);
    virtual void CreateStatement(int type, bool omit);
    virtual void BeforeScan() {}
    // Whether a statement may join the batch being collected.
    virtual bool CanBatch(const QString& sql, int type) const;
    virtual void BeforeStatement() {}
    virtual void AfterStatement() {}

    TDAScript& FOwner;
    std::unique_ptr<TStatementCutter> FCutter;
    QString FCurrDelimiter;
    int FCurrentStatementIdx = -1;

private:
    void OpenParser();
    // The start of the next statement is where the cutter stands.
    void MarkStart();
    bool ProcessPresplit();
};

class TDAScript : public dac::TComponent {
public:
    using TBeforeExecuteEvent = std::function<void(TDAScript* sender, QString& sql, bool& omit)>;
    using TAfterExecuteEvent = std::function<void(TDAScript* sender, const QString& sql)>;
    using TErrorEvent = std::function<void(TDAScript* sender, const std::exception& e, const QString& sql,
                                           TErrorAction& action)>;

    // parserClass: the dialect's lexer, for the macro references.
    explicit TDAScript(dac::TMacros::TParserFactory parserClass);
    ~TDAScript() override;
    TDAScript(const TDAScript&) = delete;
    TDAScript& operator=(const TDAScript&) = delete;

    // The script text; a change rescans the macros, stops a running execution and drops the
    // statements split in advance.
    TStrings& SQL() { return FSQL; }
    const QString& Delimiter() const { return FDelimiter; }
    void SetDelimiter(const QString& value) { FDelimiter = value; }
    dac::TCustomDAConnection* Connection() const { return FCommand->Connection(); }
    void SetConnection(dac::TCustomDAConnection* connection);
    // Statements run through this data set instead of the command, when set.
    dac::TCustomDADataSet* DataSet() const { return FDataSet; }
    void SetDataSet(dac::TCustomDADataSet* dataSet) { FDataSet = dataSet; }
    bool Debug() const { return FDebug; }
    void SetDebug(bool value) { FDebug = value; }
    dac::TMacros& Macros() { return FMacros; }
    dac::TMacro* FindMacro(const QString& name) { return FMacros.FindMacro(name); }
    dac::TMacro& MacroByName(const QString& name) { return FMacros.MacroByName(name); }
    bool NoPreconnect() const { return FNoPreconnect; }
    void SetNoPreconnect(bool value) { FNoPreconnect = value; }
    // Statements are sent together, up to a size, as one multi-statement text.
    bool UseOptimization() const { return FUseOptimization; }
    void SetUseOptimization(bool value) { FUseOptimization = value; }
    dac::TCustomDASQL& Command() { return *FCommand; }
    // The longest statement sent, in characters; 0 (the default): the server's
    // max_allowed_packet. A longer statement is reported through OnError and not sent.
    qint64 MaxStatementLength() const { return FMaxStatementLengthSetting; }
    void SetMaxStatementLength(qint64 value) { FMaxStatementLengthSetting = value; }
    // Bytes read from a stream per block (0: the lexer's default).
    void SetStreamBlockSize(qsizetype bytes) { FStreamBlockSize = bytes; }
    // Reading ahead: a long statement of a stream runs on a worker thread while the next one
    // is read. The events keep their order and each sees its own statement's place; only the
    // lexer runs one statement ahead (ParserLine, StreamPosition).
    bool ReadAhead() const { return FReadAhead; }
    void SetReadAhead(bool value) { FReadAhead = value; }

    // Runs the whole script ("Connection is not defined" without a connection).
    virtual void Execute();
    // Runs the next statement: true when one was taken, false when the script is exhausted or
    // a statement stopped it.
    virtual bool ExecuteNext();
    // Runs the script read from the file ("Cannot open file "%s". …" when it cannot be read).
    void ExecuteFile(const QString& fileName);
    // Runs the script read from the stream, from its beginning.
    void ExecuteStream(QIODevice* stream);
    // Uses the stream as the script's text for ExecuteNext (nil: SQL again).
    void SetStream(QIODevice* stream);
    // Stops after the running statement, and stops that statement on the server. Safe from
    // another thread and from an event handler of the running statement.
    void BreakExec();
    // The part of BreakExec that never waits: no statement starts after the running one (which
    // is not stopped on the server).
    void RequestStop();

    // The statements of the script, split without executing anything.
    TDAStatements& Statements();
    // A statement's text as it goes to the connection (the script's own statements go so;
    // another connection that runs one of them sends the same).
    QString TextToSend(const QString& sql) const { return TextForConnection(sql, FStream && FStreamIsUnicode); }

    // Where the current statement stands, and the offset of the statement that failed last.
    qint64 ErrorOffset() const { return FErrorOffset; }
    const TStatementPlace& Place() const { return FPlace; }
    qint64 StartPos() const { return FPlace.StartPos; }
    qint64 EndPos() const { return FPlace.EndPos; }
    qint64 StartLine() const { return FPlace.StartLine; }
    qint64 EndLine() const { return FPlace.EndLine; }
    // The lexer's current line (0-based), or the line of the last lexer error when there is
    // no lexer (-1 before any).
    qint64 ParserLine() const {
        std::lock_guard lock(FcsBreakMultiThread);  // a Stop on another thread may reset the parser
        return FProcessor && FProcessor->HasParser() ? FProcessor->ParserLine() : FParserErrorLine;
    }
    // The statements collected for one batch so far (UseOptimization).
    const QString& Batch() const { return FBuffer; }
    // The bytes read so far from the stream being executed (0 without one).
    qint64 StreamBytesRead() const;
    // The bytes of the stream up to the end of the statement taken last (after the lexer
    // gave up the stream: the bytes read). Exact for 8-bit and UTF-16 text; text decoded
    // from UTF-8 counts characters.
    qint64 StreamPosition() const;

    TBeforeExecuteEvent BeforeExecute;
    TAfterExecuteEvent AfterExecute;
    TErrorEvent OnError;

protected:
    friend class TDAScriptProcessor;
    friend class TDAStatement;

    virtual std::unique_ptr<TDAScriptProcessor> CreateProcessor() = 0;
    virtual std::unique_ptr<dac::TCustomDASQL> CreateCommand() = 0;
    // Makes the objects; the constructor of the most derived class calls it.
    void CreateComponents();
    // How a stream without a byte-order mark is decoded, and how a statement's text is put for
    // the connection (the text of a UTF-16 stream on an 8-bit connection goes as UTF-8).
    virtual sqltext::TTextEncoding PlainStreamEncoding() const { return sqltext::teAnsi; }
    virtual QString TextForConnection(const QString& sql, bool unicodeSource) const;
    // The longest statement the server takes, in characters (0: no limit known).
    virtual qint64 ServerMaxStatementLength() { return 0; }
    // Runs one statement (or a batch); the error handling of OnError.
    void RunStatement(const QString& sql, bool& breakExec);
    // Runs run, which executes sql, then the events for its outcome.
    void Conclude(const QString& sql, const std::function<void()>& run, bool& breakExec);
    // Waits for the statement running ahead, if any, and concludes it.
    void FinishPending(bool& breakExec);
    // A statement longer than the server takes: an error for OnError, nothing sent.
    void StatementTooLong(const QString& beginning, bool& breakExec);
    // OnError's decision about e, raised while sql ran; must be called inside e's handler.
    void HandleError(const std::exception& e, const QString& sql, bool& breakExec);
    // Sends the text through the data set or the command.
    virtual void ExecuteText(const QString& sql);
    void FlushBatch(bool& breakExec);
    // Substitutes the macros that were given a value.
    QString ExpandMacros(const QString& sql) const;

    TDAScriptProcessor& Processor();

    TStrings FSQL;
    QString FDelimiter = QStringLiteral(";");
    std::unique_ptr<dac::TCustomDASQL> FCommand;
    dac::TCustomDADataSet* FDataSet = nullptr;
    bool FDebug = false;
    dac::TMacros FMacros;
    bool FNoPreconnect = false;
    bool FUseOptimization = false;
    std::unique_ptr<TDAScriptProcessor> FProcessor;
    QIODevice* FStream = nullptr;
    bool FStreamIsUnicode = false;  // the stream's text is UTF-16, not 8-bit
    qint64 FStreamMarkBytes = 0;     // the byte-order mark skipped at its start
    std::unique_ptr<TDAStatements> FStatements;
    qint64 FErrorOffset = 0;
    qint64 FStmtOffset = 0;
    TStatementPlace FPlace;
    std::atomic<bool> FBreakExecution = false;
    // BreakExec was called: the next ExecuteNext ends the run instead of going on.
    std::atomic<bool> FStopRequested = false;
    mutable std::recursive_mutex FcsBreakMultiThread;
    QString FBuffer;  // the batch being collected
    bool FAllowOptimization = false;
    qint64 FMaxStatementLength = 0;  // of the current execution
    qint64 FMaxStatementLengthSetting = 0;
    qsizetype FStreamBlockSize = 0;
    qint64 FParserErrorLine = -1;
    bool FReadAhead = false;
    // The statement running on the worker thread, with where it stood in the script.
    struct TPending {
        QString Sql;
        TStatementPlace Place;
        qint64 StmtOffset = 0;
        std::future<void> Done;
    };
    std::optional<TPending> FPending;
};

}  // namespace calvoro::script
