#pragma once
// The main window: the top bar with the database selector and the side-window buttons, and the
// page control with the five tabs.

#include "DumpTabChoices.h"
#include "VorneskUtils.h"
#include "RestoreCheckDialog.h"

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <thread>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QToolButton;

namespace calvoro::dump {
class TDADump;
}

// The "  View Data  " tab's kinds (TessrinViewData.cpp).
class QSpinBox;
namespace calvoro::dac {
class TDataSet;
class TDBGrid;
class TDBNavigator;
class TMyQuery;
}  // namespace calvoro::dac
namespace calvoro::app {
class TCreateTableForm;
class TViewDataLoader;
class TQueryHistoryStore;
class TResultTabs;
class TCompletionLoader;
class TEditorCompletion;
}

namespace calvoro::app {

class TAboutForm;
class TData;
class TServerTab;
class TSessionBand;
struct TFileDialogSettings;
class TSplashScrForm;
class Tcontactmessage;
class TSynEdit;

class TTessrinForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TTessrinForm(QWidget* parent = nullptr);
    ~TTessrinForm() override;

    // The tools session; set once by start-up right after the window is created. The editors
    // take its highlighter.
    void SetData(TData* data);
    // The side windows, made by start-up after the tools session.
    void SetSideWindows(TSplashScrForm* splash, TAboutForm* about, Tcontactmessage* contact);

    // What the idle check does while nothing is connected: tabs 2 to 5 hidden, the database
    // selector cleared and disabled, "Create Database" disabled.
    void ShowDisconnectedState();
    // What the idle check does always: the Execute, Undo, Redo, Clear and history buttons follow
    // the editors and the history.
    void UpdateIdleStates();

    // Reloads the lists of database objects into the tabs and the highlighter; errors end it
    // silently, the lists not yet filled keeping their contents.
    void GetDBDetails();

    // Top bar.
    QLabel* TntLabel2;
    QComboBox* cbxDataBases;
    QToolButton* spbtnConnect;
    QToolButton* spbtnReloadDBobjects;
    QPushButton* spbtnAbout;
    QPushButton* spbtnContactUs;
    QLabel* Image1;
    QPushButton* spbtnExit;

    // Page control.
    QTabWidget* TntPageControl1;
    QWidget* TntTabSheet1;
    QWidget* TntTabSheet2;
    QWidget* TntTabSheet3;
    QWidget* TntTabSheet4;
    QWidget* TntTabSheet5;
    TServerTab* ServerTab;  // processes, status, variables, users (admin/ServerTab.h)
    TSessionBand* SessionBand;  // the session's colour and read-only mark (sessions/SessionBand.h)

    // "  Database  " tab.
    QPushButton* btnConnectToServer;
    QGroupBox* TntGroupBox1;
    QLabel* TntLabel5;
    QLineEdit* TntEdit1;
    QPushButton* TntBitBtn2;
    QLabel* TntLabel6;
    QLabel* TntLabel17;
    QLabel* TntLabel18;
    QLabel* TntLabel19;

    // "  Backup/Restore  " tab.
    QLabel* TntLabel23;
    QListWidget* lbxObjectsToBackup;
    QPushButton* TntBitBtn3;
    QPushButton* TntBitBtn4;
    QCheckBox* cbDB;
    QCheckBox* cbStruct;
    QCheckBox* cbData;
    QCheckBox* cbViews;
    QCheckBox* cbProcedures;
    QCheckBox* cbTriggers;
    QPushButton* TntSpeedButton1;
    QLabel* TntLabel7;
    QLabel* TntLabel8;
    QLabel* TntLabel9;
    QLabel* TntLabel10;
    QPushButton* TntSpeedButton2;
    QProgressBar* ProgressBar1;
    QPushButton* btnStopDump;  // ends a running backup or restore
    TDumpTabChoices DumpChoices;  // statement size of a backup, connections of a restore

    // "  Execute a script  " tab.
    QPushButton* TntBitBtn5;
    QLabel* TntLabel11;
    QLabel* TntLabel12;
    TSynEdit* mmoExecScript;
    QPlainTextEdit* TntMemo2;
    QLabel* TntLabel13;
    QLabel* TntLabel14;
    QLabel* TntLabel20;
    QLabel* TntLabel15;
    QPushButton* btnExecuteScript;
    QPushButton* btnStopScript;  // ends a running script after its current statement

    // Asks for a file to save (save) or to open; empty when the user cancels. Tests replace it.
    std::function<QString(bool save, const QString& defaultExt, const QString& filter)> ChooseFile;
    // Asks what to do about a failed restore statement. Tests replace it.
    enum TRestoreErrorAnswer { reContinue, reContinueAll, reStop };
    std::function<TRestoreErrorAnswer(const QString& message)> AskRestoreError;
    // Asks what to do when the look at a script before its restore found something
    // (RestoreCheckDialog.h). Tests replace it.
    std::function<TRestoreCheckChoice(const QString& file, const dump::TCheckReport& report,
                                      const dump::TRestoreMends& offered)>
        AskRestoreCheck;

    // "  View Data  " tab (TessrinViewData.cpp): the rows of one table or view in an editable
    // grid, its row count, and what can be done to the table.
    QComboBox* cbxTablesViews;
    QSpinBox* spEdtRecordLimit;
    QPushButton* btnRefresh;
    QPushButton* btnStopViewData;  // ends the reading of the rows; those read so far stay
    QPushButton* TntBitBtn8;
    dac::TDBGrid* TntDBGrid1;
    dac::TDBNavigator* DBNavigator1;
    QLabel* lblRecordsFetched;
    QLabel* Label2;
    QPushButton* TntBitBtn6;
    QPushButton* btnImportCsv;  // a CSV file into the table
    QPushButton* TntBitBtn7;
    // The CREATE TABLE viewer, made with the window and filled anew at each showing.
    TCreateTableForm* CreateTableForm;
    TViewDataLoader* ViewDataLoader;  // reads the rows on a worker thread
    // Handlers. Those that run statements do nothing while the tools session is busy and hold
    // it busy while they run (their message boxes let events through).
    void cbxTablesViewsChange();
    void btnRefreshClick();
    void TntBitBtn6Click();  // clear all table
    void TntBitBtn7Click();  // set AUTO_INCREMENT
    void TntBitBtn8Click();  // show create table
    void btnImportCsvClick();
    void TntTabSheet4Show();
    void ToolsQueryAfterScroll(dac::TDataSet* DataSet);

private:
    // A selection from the query on: the rows into the grid, the row count into Label2.
    void OpenSelectedTable();
    void ShowRecordsInTable();
    // The tab's controls are disabled while the tools session is busy.
    void UpdateViewDataStates();

public:

    // "  Custom query  " tab.
    QListWidget* lbxTables;
    QListWidget* lbxViews;
    QListWidget* lbxFields;
    QPushButton* btnExecute;
    QPushButton* btnUndo;
    QPushButton* btnRedo;
    QPushButton* btnClear;
    QPushButton* btnViewAllQueries;
    QPushButton* btnPrev;
    QPushButton* btnNext;
    QTabWidget* TntPageControl2;
    QWidget* TntTabSheetQuery;
    QWidget* TntTabSheetResult;
    TSynEdit* mmoCustomQuery;
    QLineEdit* TntEdit2;
    QLineEdit* TntEdit3;
    QPlainTextEdit* TntMemo4;
    // The custom query's result tab (TessrinCustomQuery.cpp): a tab per result; the grid and
    // navigator of the current one.
    bool FSwallowNextKey = false;  // the Enter of Ctrl+Enter that ran the query
    TResultTabs* tabResults = nullptr;
    dac::TDBGrid* DBGridCustomQueryResults = nullptr;
    dac::TDBNavigator* DBNavigator2 = nullptr;
    QPushButton* TntSpeedButton5 = nullptr;
    QPushButton* TntSpeedButton6 = nullptr;
    QLabel* TntLabel24 = nullptr;
    QPushButton* btnStopQuery = nullptr;  // ends a running query
    QPushButton* btnHistory = nullptr;    // the history window
    // The lasting history of executed texts and the editor's kept text.
    std::unique_ptr<TQueryHistoryStore> QueryHistory;
    // The editor's completion and the names it offers, loaded on a connection of its own.
    TCompletionLoader* CompletionLoader = nullptr;
    TEditorCompletion* QueryCompletion = nullptr;

    // Runs the selection or, without one, the editor's text; or the statement under the
    // cursor (TessrinCustomQuery.cpp). The statements run one by one; the history of executed
    // queries.
    enum TRunScope { rsSelectionOrAll, rsStatementAtCursor };
    void ExecuteCustomQuery(TRunScope scope = rsSelectionOrAll);
    // The data set of the result tab shown; null without results.
    dac::TMyQuery* CurrentResultQuery() const;
    void btnHistoryClick();
    // The editor's text kept at the last close: given once, to the first session's editor.
    QString TakeKeptQueryText();
    // Keeps the editor's text for the next start.
    void KeepQueryText();
    void AddQueryToLog(const QString& querySQL);
    void btnExecuteClick();
    void btnPrevClick();
    void btnNextClick();
    void btnViewAllQueriesClick();
    void btnUndoClick();
    void btnRedoClick();
    void btnClearClick();
    void lbxTablesClick(QListWidget* list);
    void lbxTablesDblClick(QListWidget* list);
    void lbxFieldsDblClick();
    void mmoCustomQueryDropFiles(const QStringList& paths);
    void TntSpeedButton5Click();
    void TntSpeedButton6Click();
    // Runs write over a result's rows in one transaction on the tools connection,
    // rolled back (and the rows read again) when it fails.
    void WriteResultRows(dac::TMyQuery& query, const std::function<void()>& write);
    // Shows the queries log window; tests replace it to read the text.
    std::function<void(const QString& text)> ShowQueriesLog;

    // Window fields.
    QString SelectedTable;
    QStringList QueryLogList;
    int CurrentLogQueryIndex = -1;

public slots:
    void FormCreate();
    void FormShow();
    void btnConnectToServerClick();
    void spbtnConnectClick();
    void cbxDataBasesChange();
    void spbtnReloadDBobjectsClick();
    void TntBitBtn2Click();
    void TntSpeedButton1Click();
    void TntSpeedButton2Click();
    void TntBitBtn3Click();
    void TntBitBtn4Click();
    void TntBitBtn5Click();
    void btnExecuteScriptClick();
    void spbtnAboutClick();
    void spbtnContactUsClick();
    void Image1Click();
    void spbtnExitClick();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateTopBar(QWidget* bar);
    void CreateDatabaseTab();
    void CreateBackupTab();
    void CreateScriptTab();
    void CreateViewDataTab();
    void CreateCustomQueryTab();
    // The result tab's grid and buttons, the keys, lists and buttons of the query editor.
    void WireCustomQueryTab();
    // The connect flow after Connect: tabs, database list, editors and lists, caption.
    // clearWork: empty the editors and memos as a new session does.
    void ShowConnectedSession(bool clearWork);
    // Shows an information message captioned with the application title.
    void ShowMessage(const QString& text);
    QString AskFile(bool save, const TFileDialogSettings& settings);
    TRestoreErrorAnswer AskAboutRestoreError(const QString& message);
    // The progress bar and the Stop button while dump runs; hidden for null.
    void ShowDumpProgress(dump::TDADump* dump);

    dump::TDADump* FRunningDump = nullptr;
    std::thread FStopper;  // a Stop of the running backup or restore
    bool FScriptStopped = false;

    TData* FData = nullptr;
    TSplashScrForm* FSplash = nullptr;
    TAboutForm* FAbout = nullptr;
    Tcontactmessage* FContact = nullptr;
    bool FShown = false;
    // The custom query's running statement (Stop ends it), and the text kept at the last close
    // until the first session takes it.
    dac::TMyQuery* FRunningQuery = nullptr;
    std::optional<QString> FKeptQueryText;
    void FlashStatement(int start, int end);
};

}  // namespace calvoro::app
