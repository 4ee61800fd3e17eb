// The "  Custom query  " tab of the main window: running the editor's text, the history and its
// log window, the editor's keys, the object and field lists, and the bulk changes of the result.
#include "TessrinUnit.h"

#include "DataUnit.h"
#include "QueriesLogUnit.h"
#include "QueryReport.h"
#include "QueryGeneratorUnit.h"
#include "QueryGenerators.h"
#include "StatementRefresh.h"
#include "SynEdit.h"
#include "toolkit.h"
#include "editor/QueryHistoryStore.h"
#include "editor/QueryHistoryWindow.h"
#include "editor/ResultTabs.h"
#include "editor/StatementAtCursor.h"
#include "editor/completion/CompletionLoader.h"
#include "editor/completion/EditorCompletion.h"
#include "common/CodePage.h"
#include "common/Exceptions.h"
#include "common/ScopeGuard.h"
#include "dataaccess/gui/DBGrid.h"
#include "app/export/GridExport.h"
#include "dataaccess/gui/DBNavigator.h"
#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/mysql/ReadOnlySession.h"
#include "dataaccess/mysql/MyRecordset.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QHBoxLayout>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTimer>
#include <QStringDecoder>
#include <QVBoxLayout>

#include <optional>

namespace calvoro::app {

namespace {

// An edit that shows a placeholder as its text while empty: emptied on entering when it holds
// the placeholder, given it back on leaving when empty.
class TPlaceholderEdit : public QObject {
public:
    TPlaceholderEdit(QLineEdit* edit, QString placeholder) : QObject(edit), FEdit(edit), FText(std::move(placeholder)) {
        edit->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == FEdit && event->type() == QEvent::FocusIn && FEdit->text() == FText) FEdit->clear();
        if (watched == FEdit && event->type() == QEvent::FocusOut && FEdit->text().isEmpty()) FEdit->setText(FText);
        return false;
    }

private:
    QLineEdit* FEdit;
    QString FText;
};

// The editor line (from 0) a syntax error points at, or -1. The server counts the lines of the
// statement that failed, which may not be the text's first: the line holding the text it
// quotes ("near '…' at line N"), at or after line N, is the one.
int SyntaxErrorLine(const QString& message, const QString& text) {
    static const QRegularExpression nearAt(QStringLiteral("near '(.*)' at line (\\d+)\\s*$"),
                                           QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch m = nearAt.match(message.trimmed());
    if (!m.hasMatch()) return -1;
    const int reported = m.captured(2).toInt() - 1;
    const QString quoted = m.captured(1).section(u'\n', 0, 0);
    if (!quoted.isEmpty()) {
        for (qsizetype at = text.indexOf(quoted); at >= 0; at = text.indexOf(quoted, at + 1)) {
            const int line = int(QStringView(text).left(at).count(u'\n'));
            if (line >= reported) return line;
        }
    }
    return reported;
}

// The indicator that marks the statement Ctrl+Shift+Enter runs, for a moment.
constexpr int RunStatementIndicator = 8;
constexpr int RunStatementFlashMs = 700;

// Character offsets in the editor's text and QScintilla's line and byte index.
int CharOffset(const TSynEdit& editor, int line, int index) {
    const QString text = editor.Text();
    const int bytes = editor.positionFromLineIndex(line, index);
    return int(QString::fromUtf8(text.toUtf8().left(bytes)).size());
}
void LineIndex(const TSynEdit& editor, int offset, int& line, int& index) {
    editor.lineIndexFromPosition(int(editor.Text().left(offset).toUtf8().size()), &line, &index);
}

// Selects a line of the editor, its line break left out.
void SelectLine(TSynEdit& editor, int line) {
    QString content = editor.text(line);
    while (content.endsWith(u'\n') || content.endsWith(u'\r')) content.chop(1);
    editor.setCursorPosition(line, 0);
    editor.setSelection(line, 0, line, int(content.toUtf8().size()));
}

bool ResultHasPrimaryKey(dac::TDataSet& query) {
    for (const auto& field : query.Fields())
        if (auto* desc = dynamic_cast<const dac::TMySQLFieldDesc*>(&field->Desc()); desc && desc->FIsPrimaryKey)
            return true;
    return false;
}

}  // namespace

void TTessrinForm::WireCustomQueryTab() {
    auto* page = qobject_cast<QVBoxLayout*>(TntTabSheetResult->layout());
    auto* edits = qobject_cast<QHBoxLayout*>(page->itemAt(0)->layout());
    // The row of edits ends in a stretch; the buttons go before it.
    TntSpeedButton5 = new QPushButton(QStringLiteral("Change"), TntTabSheetResult);
    TntSpeedButton5->setObjectName(QStringLiteral("TntSpeedButton5"));
    TntSpeedButton5->setToolTip(QStringLiteral("Change <column> to <value>"));
    TntSpeedButton6 = new QPushButton(QStringLiteral("Delete All"), TntTabSheetResult);
    TntSpeedButton6->setObjectName(QStringLiteral("TntSpeedButton6"));
    TntLabel24 = new QLabel(QStringLiteral("Carefull !!! Query must contain primary key column."), TntTabSheetResult);
    TntLabel24->setObjectName(QStringLiteral("TntLabel24"));
    TntLabel24->setStyleSheet(QStringLiteral("color: red;"));
    edits->insertWidget(2, TntSpeedButton5);
    edits->insertWidget(3, TntSpeedButton6);
    edits->insertWidget(4, TntLabel24);
    delete page->takeAt(1);  // the stretch below the edits
    // A tab per result above the edits; the grid and navigator names follow the current one.
    tabResults = new TResultTabs(TntTabSheetResult);
    tabResults->OnGridMade = [this](dac::TDBGrid* grid) { InstallGridExport(grid, [this] { return FData; }); };
    page->insertWidget(0, tabResults, 1);
    connect(tabResults, &QTabWidget::currentChanged, this, [this] {
        DBGridCustomQueryResults = tabResults->CurrentGrid();
        DBNavigator2 = tabResults->CurrentNavigator();
    });
    // The history window's button, after the queries log's.
    btnHistory = new QPushButton(QStringLiteral("History..."), btnViewAllQueries->parentWidget());
    btnHistory->setObjectName(QStringLiteral("btnHistory"));
    btnHistory->setToolTip(QStringLiteral("Search the queries executed before, also in earlier sessions"));
    if (auto* toolbar = qobject_cast<QBoxLayout*>(btnViewAllQueries->parentWidget()->layout()->itemAt(0)->layout()))
        toolbar->insertWidget(toolbar->indexOf(btnViewAllQueries) + 1, btnHistory);
    mmoCustomQuery->indicatorDefine(QsciScintilla::StraightBoxIndicator, RunStatementIndicator);
    mmoCustomQuery->setIndicatorForegroundColor(QColor(255, 190, 0, 110), RunStatementIndicator);
    // The lasting history: Previous and Next walk through it, the editor's text comes back.
    QueryHistory = std::make_unique<TQueryHistoryStore>(HistoryFolder());
    QueryLogList = QueryHistory->SuccessfulTexts();
    CurrentLogQueryIndex = int(QueryLogList.size()) - 1;
    FKeptQueryText = QueryHistory->KeptEditorText();
    new TPlaceholderEdit(TntEdit2, QStringLiteral("Column"));
    new TPlaceholderEdit(TntEdit3, QStringLiteral("Value"));

    connect(btnExecute, &QPushButton::clicked, this, Guarded([this] { btnExecuteClick(); }));
    connect(btnUndo, &QPushButton::clicked, this, Guarded([this] { btnUndoClick(); }));
    connect(btnRedo, &QPushButton::clicked, this, Guarded([this] { btnRedoClick(); }));
    connect(btnClear, &QPushButton::clicked, this, Guarded([this] { btnClearClick(); }));
    connect(btnPrev, &QPushButton::clicked, this, Guarded([this] { btnPrevClick(); }));
    connect(btnNext, &QPushButton::clicked, this, Guarded([this] { btnNextClick(); }));
    connect(btnViewAllQueries, &QPushButton::clicked, this, Guarded([this] { btnViewAllQueriesClick(); }));
    connect(btnHistory, &QPushButton::clicked, this, Guarded([this] { btnHistoryClick(); }));
    connect(btnStopQuery, &QPushButton::clicked, this, [this] {
        if (FRunningQuery) FRunningQuery->BreakExec();
    });
    // Errors of grid edits and navigator actions (a refused Refresh too), shown once the
    // action that failed is over.
    connect(tabResults, &TResultTabs::errorOccurred, this, &ShowErrorBox, Qt::QueuedConnection);
    // Grid edits and navigator actions run statements on the tools connection too.
    tabResults->OnAllowChange = [this] { return !FData || !FData->Busy(); };
    connect(TntSpeedButton5, &QPushButton::clicked, this, Guarded([this] { TntSpeedButton5Click(); }));
    connect(TntSpeedButton6, &QPushButton::clicked, this, Guarded([this] { TntSpeedButton6Click(); }));
    for (QListWidget* list : {lbxTables, lbxViews})
        connect(list, &QListWidget::itemClicked, this, Guarded([this, list] { lbxTablesClick(list); }));
    connect(lbxFields, &QListWidget::itemDoubleClicked, this, Guarded([this] { lbxFieldsDblClick(); }));
    for (QListWidget* list : {lbxTables, lbxViews})
        connect(list, &QListWidget::itemDoubleClicked, this, Guarded([this, list] { lbxTablesDblClick(list); }));
    // Tables and views dragged onto the editor open the query generator; fields do not drop.
    mmoCustomQuery->OnDragOver = [this](QDragMoveEvent* e, bool& accept) {
        accept = e->source() == lbxTables || e->source() == lbxViews;
    };
    mmoCustomQuery->OnDragDrop = [this](QDropEvent* e, bool& handled) {
        auto* list = qobject_cast<QListWidget*>(e->source());
        if (list != lbxTables && list != lbxViews) return;
        handled = true;
        lbxTablesDblClick(list);
    };

    // Ctrl+Enter and F9 (with any modifiers) run the selection or, without one, the whole text;
    // the Enter that follows is swallowed.
    mmoCustomQuery->OnKeyDown = [this](QKeyEvent* e, bool& handled) {
        const bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
        const Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
        if (e->key() == Qt::Key_Escape && FRunningQuery) {
            FRunningQuery->BreakExec();
            handled = true;
            return;
        }
        if ((enter && mods == Qt::ControlModifier) || e->key() == Qt::Key_F9) {
            handled = true;
            FSwallowNextKey = true;
            ExecuteCustomQuery();
            return;
        }
        // Ctrl+Shift+Enter: the statement under the cursor alone.
        if (enter && mods == (Qt::ControlModifier | Qt::ShiftModifier)) {
            handled = true;
            FSwallowNextKey = true;
            ExecuteCustomQuery(rsStatementAtCursor);
            return;
        }
        FSwallowNextKey = false;
    };
    mmoCustomQuery->OnKeyPress = [this](QKeyEvent*, bool& handled) {
        if (FSwallowNextKey) {
            handled = true;
            FSwallowNextKey = false;
        }
    };
    mmoCustomQuery->OnDropFiles = [this](const QStringList& paths) { mmoCustomQueryDropFiles(paths); };
    CompletionLoader = new TCompletionLoader(this);
    QueryCompletion = new TEditorCompletion(mmoCustomQuery, CompletionLoader);
    // The editor takes the focus whenever its tab comes up.
    connect(TntPageControl1, &QTabWidget::currentChanged, this, [this] {
        if (TntPageControl1->currentWidget() == TntTabSheet5 && TntPageControl2->currentWidget() == TntTabSheetQuery)
            mmoCustomQuery->SetFocus();
    });
    connect(TntPageControl2, &QTabWidget::currentChanged, this, [this] {
        if (TntPageControl2->currentWidget() == TntTabSheetQuery) mmoCustomQuery->SetFocus();
    });
}

void TTessrinForm::btnExecuteClick() { ExecuteCustomQuery(); }

dac::TMyQuery* TTessrinForm::CurrentResultQuery() const { return tabResults ? tabResults->CurrentQuery() : nullptr; }

void TTessrinForm::FlashStatement(int start, int end) {
    int lineFrom = 0, indexFrom = 0, lineTo = 0, indexTo = 0;
    LineIndex(*mmoCustomQuery, start, lineFrom, indexFrom);
    LineIndex(*mmoCustomQuery, end, lineTo, indexTo);
    mmoCustomQuery->fillIndicatorRange(lineFrom, indexFrom, lineTo, indexTo, RunStatementIndicator);
    QTimer::singleShot(RunStatementFlashMs, mmoCustomQuery, [editor = mmoCustomQuery] {
        const int last = editor->lines() - 1;
        editor->clearIndicatorRange(0, 0, last, int(editor->text(last).toUtf8().size()), RunStatementIndicator);
    });
}

void TTessrinForm::ExecuteCustomQuery(TRunScope scope) {
    if (!FData || FData->Busy()) return;
    // What runs: the statement under the cursor, the selection, or the whole text; offset is
    // where it stands in the editor's text.
    const QString all = mmoCustomQuery->Text();
    QString text = all;
    int offset = 0;
    if (scope == rsStatementAtCursor) {
        int line = 0, index = 0;
        mmoCustomQuery->getCursorPosition(&line, &index);
        const std::optional<TStatementSpan> at = StatementAtCursor(all, CharOffset(*mmoCustomQuery, line, index));
        if (!at) return;
        text = at->Text;
        offset = at->Start;
        FlashStatement(at->Start, at->End);
    } else if (mmoCustomQuery->hasSelectedText()) {
        int lineFrom = 0, indexFrom = 0, lineTo = 0, indexTo = 0;
        mmoCustomQuery->getSelection(&lineFrom, &indexFrom, &lineTo, &indexTo);
        offset = CharOffset(*mmoCustomQuery, lineFrom, indexFrom);
        text = mmoCustomQuery->selectedText();
    }
    const int firstLine = int(QStringView(all).left(offset).count(u'\n'));
    dac::CheckStatementAllowed(*FData->ToolsConnection, text);
    const QList<TStatementSpan> statements = StatementSpans(text);

    std::optional<TData::TBusy> busy(std::in_place, *FData);
    TntMemo4->clear();
    TntMemo4->appendPlainText(QStringLiteral("-- Query execution started --"));
    QCoreApplication::processEvents();
    KeepQueryText();
    if (statements.isEmpty()) {
        TntMemo4->appendPlainText(QString());
        TntMemo4->appendPlainText(QStringLiteral("-- Nothing to execute: the text holds no statement --"));
        return;
    }
    dac::TMyConnection& connection = *FData->ToolsConnection;
    THistoryEntry entry;
    entry.Text = text;
    entry.Server = QStringLiteral("%1:%2").arg(connection.Server()).arg(connection.Port());
    entry.User = connection.Username();
    entry.Database = FData->CurrentDB;
    entry.Started = QDateTime::currentDateTimeUtc();
    QElapsedTimer total;
    total.start();
    // The warnings of each statement, as the server counted them.
    dac::TMyQuery warnings;
    warnings.SetConnection(&connection);
    warnings.SQL().SetText(QStringLiteral("SHOW COUNT(*) WARNINGS"));
    btnStopQuery->setVisible(true);
    ScopeExit hideStop([&] {
        btnStopQuery->setVisible(false);
        FRunningQuery = nullptr;
    });
    // The statements one after the other, each with its own data set; those with rows become
    // the result tabs.
    std::vector<std::unique_ptr<dac::TMyQuery>> results;
    QStringList report, counts;
    bool stopped = false;
    int ran = 0;
    std::exception_ptr failure;
    for (const TStatementSpan& statement : statements) {
        std::unique_ptr<dac::TMyQuery> query = tabResults->MakeQuery(connection);
        query->SQL().SetText(statement.Text);
        FRunningQuery = query.get();
        int rowCount = 0, warningCount = 0;
        qint64 elapsed = 0;
        try {
            RunInBackground([&] {
                QElapsedTimer clock;
                clock.start();
                query->Execute();
                if (query->Active()) {
                    do rowCount = query->RecordCount();
                    while (!query->FetchStopped() && query->OpenNext());
                }
                elapsed = clock.elapsed();
                if (query->FetchStopped()) return;
                warnings.Open();
                warningCount = warnings.Fields()[0].AsInteger();
                warnings.Close();
            });
        } catch (const EAbort&) {
            // Stopped with the Stop button or Esc: the statement was ended on the server.
            stopped = true;
            break;
        } catch (const dac::EDAError& e) {
            // The failing statement's line, or the line a syntax error names, is marked; the
            // statements after it do not run.
            const int inStatement = SyntaxErrorLine(e.Message(), statement.Text);
            const int line = firstLine + statement.Line + std::max(inStatement, 0);
            if (line < mmoCustomQuery->lines()) SelectLine(*mmoCustomQuery, line);
            failure = std::current_exception();
            break;
        }
        ++ran;
        FRunningQuery = nullptr;
        stopped = query->FetchStopped();
        const bool rows = query->Active();
        const qint64 count = rows ? rowCount : query->RowsAffected();
        report << StatementReportLine(rows, count, warningCount, FormatElapsed(elapsed));
        counts << QString::number(count);
        if (rows) {
            // A refresh of these rows runs their statement alone, or is refused.
            ApplyRefreshPlan(*query, statement.Text);
            LimitDisplayWidths(*query, 20);
            results.push_back(std::move(query));
        }
        if (stopped) break;
    }
    entry.DurationMs = total.elapsed();
    entry.RowCounts = counts.join(QStringLiteral(", "));
    entry.Success = !failure && !stopped;
    QueryHistory->Add(entry);
    // Stopped or failed, the text is no success for the history Previous and Next walk.
    if (entry.Success) AddQueryToLog(text);
    if (!report.isEmpty()) {
        TntMemo4->appendPlainText(QString());
        for (const QString& line : report) TntMemo4->appendPlainText(line);
    }
    // The results of this run replace those of the last one; a run in which nothing ran keeps
    // them.
    if (ran > 0 || !results.empty()) {
        tabResults->Clear();
        for (auto& query : results) tabResults->Add(std::move(query));
        const int resultTab = TntPageControl2->indexOf(TntTabSheetResult);
        TntPageControl2->setTabVisible(resultTab, tabResults->Count() > 0);
        if (tabResults->Count() > 0) {
            TntPageControl2->setCurrentWidget(TntTabSheetResult);
            // The rows have the focus, not the first edit of the tab (entering it would empty it).
            tabResults->CurrentGrid()->setFocus();
        }
    }
    if (failure) {
        if (statements.size() > 1) {
            TntMemo4->appendPlainText(QString());
            TntMemo4->appendPlainText(QStringLiteral("-- Statement %1 of %2 failed; the statements after it did not run --")
                                          .arg(ran + 1)
                                          .arg(statements.size()));
        }
        std::rethrow_exception(failure);
    }
    TntMemo4->appendPlainText(QString());
    TntMemo4->appendPlainText(stopped ? QStringLiteral("-- Query execution stopped --")
                                      : QStringLiteral("-- Query execution finished --"));
}

void TTessrinForm::AddQueryToLog(const QString& querySQL) {
    // A query run again moves to the end: the history keeps its length, newest last.
    QueryLogList.removeOne(querySQL);
    QueryLogList.append(querySQL);
    CurrentLogQueryIndex = int(QueryLogList.size()) - 1;
}

void TTessrinForm::btnPrevClick() {
    if (QueryLogList.isEmpty()) return;
    if (CurrentLogQueryIndex > 0) --CurrentLogQueryIndex;
    mmoCustomQuery->SetText(QueryLogList[CurrentLogQueryIndex]);
}

void TTessrinForm::btnNextClick() {
    if (QueryLogList.isEmpty()) return;
    if (CurrentLogQueryIndex < QueryLogList.size() - 1) ++CurrentLogQueryIndex;
    mmoCustomQuery->SetText(QueryLogList[CurrentLogQueryIndex]);
}

void TTessrinForm::btnViewAllQueriesClick() {
    if (QueryLogList.isEmpty()) return;
    const QString text = TQueriesLogForm::LogText(QueryLogList);
    if (ShowQueriesLog) {
        ShowQueriesLog(text);
        return;
    }
    TQueriesLogForm log(this);
    log.TntMemoQueriesList->setPlainText(text);
    log.exec();
}

void TTessrinForm::btnHistoryClick() {
    TQueryHistoryWindow window(*QueryHistory, this);
    if (window.exec() != QDialog::Accepted || window.Chosen().isEmpty()) return;
    mmoCustomQuery->SetText(window.Chosen());
    mmoCustomQuery->SetFocus();
}

QString TTessrinForm::TakeKeptQueryText() { return std::exchange(FKeptQueryText, std::nullopt).value_or(QString()); }

void TTessrinForm::KeepQueryText() {
    // Before the first session the editor is empty: what was kept stays kept.
    if (QueryHistory) QueryHistory->KeepEditorText(FKeptQueryText.value_or(mmoCustomQuery->Text()));
}

void TTessrinForm::btnUndoClick() { mmoCustomQuery->Undo(); }

void TTessrinForm::btnRedoClick() { mmoCustomQuery->Redo(); }

void TTessrinForm::btnClearClick() { mmoCustomQuery->Clear(); }

void TTessrinForm::lbxTablesClick(QListWidget* list) {
    if (!FData || FData->Busy() || !list->currentItem()) return;
    // The object's columns, one per line, as DESCRIBE lists them.
    QStringList fields;
    for (const TDescribeRow& row : ReadDescribe(*FData, list->currentItem()->text())) fields << row.Field;
    lbxFields->clear();
    lbxFields->addItems(fields);
}

void TTessrinForm::lbxTablesDblClick(QListWidget* list) {
    if (!FData || !list->currentItem()) return;
    QString generated;
    if (!TfrmQueryGenerator::Run(this, *FData, list->currentItem()->text(), list == lbxViews, generated)) return;
    // A blank editor takes the statement; one with text gets it below its lines.
    if (mmoCustomQuery->Text().trimmed().isEmpty()) {
        mmoCustomQuery->SetText(generated);
    } else {
        for (const QString& line : generated.split(u'\n')) mmoCustomQuery->AppendLine(line);
    }
    mmoCustomQuery->SetFocus();
}

void TTessrinForm::lbxFieldsDblClick() {
    if (!lbxFields->currentItem()) return;
    mmoCustomQuery->AppendLine(lbxFields->currentItem()->text());
}

void TTessrinForm::mmoCustomQueryDropFiles(const QStringList& paths) {
    for (const QString& path : paths) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw Exception(QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
        const QByteArray bytes = file.readAll();
        // Text files as the editor reads them: UTF-8 when they are, else the 8-bit code page.
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = utf8.decode(bytes);
        if (utf8.hasError()) text = AnsiToUnicode(std::string_view(bytes.constData(), size_t(bytes.size())));
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        if (text.endsWith(u'\n')) text.chop(1);
        for (const QString& line : text.split(u'\n')) mmoCustomQuery->AppendLine(line);
    }
}

void TTessrinForm::WriteResultRows(dac::TMyQuery& query, const std::function<void()>& write) {
    // After a failure the rows are read again; rows that cannot be are not written at all.
    if (const QString refusal = query.RefreshRefusal(); !refusal.isEmpty())
        throw Exception(QStringLiteral("Nothing was changed. %1").arg(refusal));
    TData::TBusy busy(*FData);
    PostIfEditing(query);
    // All or nothing: one transaction, rolled back when a row fails.
    dac::TMyConnection& connection = *FData->ToolsConnection;
    connection.StartTransaction();
    ScopeExit rollback([&] {
        connection.Rollback();
        // The rows read again by their own statement alone: those already posted show what
        // the server kept. The row that failed is given up first, or the refresh would post it.
        if (query.State() != dac::dsBrowse) query.Cancel();
        query.Refresh();
    });
    write();
    connection.Commit();
    rollback.Dismiss();
}

void TTessrinForm::TntSpeedButton5Click() {
    if (!FData || FData->Busy()) return;
    const QString column = TntEdit2->text();
    const QString value = TntEdit3->text();
    if (column == u"Column" || value == u"Value") {
        ShowErrorBox(QStringLiteral("You have to enter a valid column and value"));
        return;
    }
    dac::TMyQuery* current = CurrentResultQuery();
    if (!current || !current->Active()) return;
    dac::TMyQuery& query = *current;
    if (!ResultHasPrimaryKey(query))
        throw Exception(QStringLiteral("The result has no primary key column: its rows cannot be changed one by one"));
    WriteResultRows(query, [&] {
        for (query.First(); !query.Eof(); query.Next()) {
            query.Edit();
            query.FieldByName(column).SetAsString(value);
            query.Post();
        }
    });
    ShowMessage(QStringLiteral("Changing finished successfully"));
}

void TTessrinForm::TntSpeedButton6Click() {
    if (!FData || FData->Busy()) return;
    if (!Confirm(QStringLiteral("Are you sure you want to erase all the records in the current query?"))) return;
    dac::TMyQuery* current = CurrentResultQuery();
    if (!current || !current->Active()) return;
    dac::TMyQuery& query = *current;
    if (!ResultHasPrimaryKey(query))
        throw Exception(QStringLiteral("The result has no primary key column: its rows cannot be deleted one by one"));
    WriteResultRows(query, [&] {
        query.First();
        while (!query.Eof()) query.Delete();
    });
    ShowMessage(QStringLiteral("Erasing finished successfully"));
}

}  // namespace calvoro::app
