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
#include "common/CodePage.h"
#include "common/Exceptions.h"
#include "common/ScopeGuard.h"
#include "dataaccess/gui/DBGrid.h"
#include "dataaccess/gui/DBNavigator.h"
#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/mysql/ReadOnlySession.h"
#include "dataaccess/mysql/MyRecordset.h"

#include <QCoreApplication>
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
    DBGridCustomQueryResults = new dac::TDBGrid(TntTabSheetResult);
    DBGridCustomQueryResults->setObjectName(QStringLiteral("DBGridCustomQueryResults"));
    DBGridCustomQueryResults->setAccessibleName(QStringLiteral("Result"));
    DBNavigator2 = new dac::TDBNavigator(TntTabSheetResult);
    DBNavigator2->setObjectName(QStringLiteral("DBNavigator2"));
    page->insertWidget(0, DBNavigator2);
    page->insertWidget(0, DBGridCustomQueryResults, 1);
    new TPlaceholderEdit(TntEdit2, QStringLiteral("Column"));
    new TPlaceholderEdit(TntEdit3, QStringLiteral("Value"));

    connect(btnExecute, &QPushButton::clicked, this, Guarded([this] { btnExecuteClick(); }));
    connect(btnUndo, &QPushButton::clicked, this, Guarded([this] { btnUndoClick(); }));
    connect(btnRedo, &QPushButton::clicked, this, Guarded([this] { btnRedoClick(); }));
    connect(btnClear, &QPushButton::clicked, this, Guarded([this] { btnClearClick(); }));
    connect(btnPrev, &QPushButton::clicked, this, Guarded([this] { btnPrevClick(); }));
    connect(btnNext, &QPushButton::clicked, this, Guarded([this] { btnNextClick(); }));
    connect(btnViewAllQueries, &QPushButton::clicked, this, Guarded([this] { btnViewAllQueriesClick(); }));
    connect(btnStopQuery, &QPushButton::clicked, this, [this] {
        if (FData) FData->ToolsCustomQuery->BreakExec();
    });
    // Errors of grid edits and navigator actions (a refused Refresh too), shown once the
    // action that failed is over.
    connect(DBGridCustomQueryResults, &dac::TDBGrid::errorOccurred, this, &ShowErrorBox, Qt::QueuedConnection);
    connect(DBNavigator2, &dac::TDBNavigator::errorOccurred, this, &ShowErrorBox, Qt::QueuedConnection);
    // Grid edits and navigator actions run statements on the tools connection too.
    DBGridCustomQueryResults->Model().OnAllowChange = [this] { return !FData || !FData->Busy(); };
    DBNavigator2->OnAllowChange = [this] { return !FData || !FData->Busy(); };
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

    // Ctrl+Enter and F9 (with any modifiers) run the query; the Enter that follows is swallowed.
    mmoCustomQuery->OnKeyDown = [this](QKeyEvent* e, bool& handled) {
        const bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
        const Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
        if (e->key() == Qt::Key_Escape && FData && FData->Busy()) {
            FData->ToolsCustomQuery->BreakExec();
            handled = true;
            return;
        }
        if ((enter && mods == Qt::ControlModifier) || e->key() == Qt::Key_F9) {
            handled = true;
            FSwallowNextKey = true;
            ExecuteCustomQuery();
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

void TTessrinForm::ExecuteCustomQuery() {
    if (!FData || FData->Busy()) return;
    const QString text = mmoCustomQuery->Text();
    dac::CheckStatementAllowed(*FData->ToolsConnection, text);
    std::optional<TData::TBusy> busy(std::in_place, *FData);
    TntMemo4->clear();
    TntMemo4->appendPlainText(QStringLiteral("-- Query execution started --"));
    QCoreApplication::processEvents();
    dac::TMyQuery& query = *FData->ToolsCustomQuery;
    // The grid lets the data set go while it runs on the worker thread.
    DBGridCustomQueryResults->SetDataSet(nullptr);
    DBNavigator2->SetDataSet(nullptr);
    ScopeExit attach([&] {
        DBGridCustomQueryResults->SetDataSet(&query);
        DBNavigator2->SetDataSet(&query);
    });
    query.Close();
    query.SQL().SetText(text);
    btnStopQuery->setVisible(true);
    ScopeExit hideStop([&] { btnStopQuery->setVisible(false); });
    QElapsedTimer clock;
    clock.start();
    // The record counts of the results with rows, in order.
    QList<int> rowCounts;
    try {
        RunInBackground([&] {
            query.Execute();
            if (!query.Active()) return;
            do rowCounts << query.RecordCount();
            while (!query.FetchStopped() && query.OpenNext());
        });
    } catch (const EAbort&) {
        // Stopped with the Stop button or Esc: the statement was ended on the server.
        TntMemo4->appendPlainText(QString());
        TntMemo4->appendPlainText(QStringLiteral("-- Query execution stopped --"));
        return;
    } catch (const dac::EDAError& e) {
        // A syntax error names its line: the editor shows it.
        if (const int line = SyntaxErrorLine(e.Message(), text); line >= 0 && line < mmoCustomQuery->lines()) {
            QString content = mmoCustomQuery->text(line);
            while (content.endsWith(u'\n') || content.endsWith(u'\r')) content.chop(1);
            mmoCustomQuery->setCursorPosition(line, 0);
            mmoCustomQuery->setSelection(line, 0, line, int(content.toUtf8().size()));
        }
        throw;
    }
    const qint64 elapsed = clock.elapsed();
    // Stopped while the rows were read: those read so far are shown; the text is no success
    // for the history.
    const bool stopped = query.FetchStopped();
    if (!stopped) AddQueryToLog(text);
    // A refresh of the rows shown runs their statement alone, or is refused.
    ApplyRefreshPlan(query, text);
    TntMemo4->appendPlainText(QString());
    for (const QString& line : QueryReportLines(query.StatementResults(), rowCounts, query.ShownResult(),
                                                FormatElapsed(elapsed)))
        TntMemo4->appendPlainText(line);
    if (query.Active()) {
        TntPageControl2->setTabVisible(TntPageControl2->indexOf(TntTabSheetResult), true);
        TntPageControl2->setCurrentWidget(TntTabSheetResult);
        // The rows have the focus, not the first edit of the tab (entering it would empty it).
        DBGridCustomQueryResults->setFocus();
        LimitDisplayWidths(query, 20);
    } else {
        TntPageControl2->setTabVisible(TntPageControl2->indexOf(TntTabSheetResult), false);
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

void TTessrinForm::WriteResultRows(const std::function<void()>& write) {
    dac::TMyQuery& query = *FData->ToolsCustomQuery;
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
    dac::TMyQuery& query = *FData->ToolsCustomQuery;
    if (!query.Active()) return;
    if (!ResultHasPrimaryKey(query))
        throw Exception(QStringLiteral("The result has no primary key column: its rows cannot be changed one by one"));
    WriteResultRows([&] {
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
    dac::TMyQuery& query = *FData->ToolsCustomQuery;
    if (!Confirm(QStringLiteral("Are you sure you want to erase all the records in the current query?"))) return;
    if (!query.Active()) return;
    if (!ResultHasPrimaryKey(query))
        throw Exception(QStringLiteral("The result has no primary key column: its rows cannot be deleted one by one"));
    WriteResultRows([&] {
        query.First();
        while (!query.Eof()) query.Delete();
    });
    ShowMessage(QStringLiteral("Erasing finished successfully"));
}

}  // namespace calvoro::app
