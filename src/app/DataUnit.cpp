#include "DataUnit.h"

#include "SynHighlighterMySQL.h"
#include "TessrinUnit.h"
#include "toolkit.h"
#include "dataaccess/gui/MyConnectDialog.h"
#include "dataaccess/mysql/MyAccess.h"
#include "dump/MyDump.h"
#include "script/MyScript.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QThread>

#include <cmath>

namespace calvoro::app {

namespace {
TData* Current = nullptr;
}

TData::TData(TTessrinForm* mainForm, QObject* parent)
    : QObject(parent),
      MyConnectDialog1(std::make_unique<dac::TMyConnectDialog>()),
      ToolsConnection(std::make_unique<dac::TMyConnection>()),
      ToolsCommand(std::make_unique<dac::TMyCommand>()),
      ToolsScript(std::make_unique<script::TMyScript>()),
      ToolsQuery(std::make_unique<dac::TMyQuery>()),
      ToolsCustomQuery(std::make_unique<dac::TMyQuery>()),
      CustomQuery(std::make_unique<dac::TMyQuery>()),
      ToolsDump(std::make_unique<dump::TMyDump>()),
      SynMySQL(std::make_unique<TSynMySQL>()),
      FMainForm(mainForm) {
    setObjectName(QStringLiteral("Data"));
    Current = this;

    MyConnectDialog1->SetCaption(QStringLiteral("Connect"));
    MyConnectDialog1->SetUsernameLabel(QStringLiteral("User Name"));
    MyConnectDialog1->SetPasswordLabel(QStringLiteral("Password"));
    MyConnectDialog1->SetServerLabel(QStringLiteral("Server"));
    MyConnectDialog1->SetPortLabel(QStringLiteral("Port"));
    MyConnectDialog1->SetDatabaseLabel(QStringLiteral("Database"));
    MyConnectDialog1->SetConnectButton(QStringLiteral("Connect"));
    MyConnectDialog1->SetCancelButton(QStringLiteral("Cancel"));

    ToolsConnection->Name = QStringLiteral("ToolsConnection");
    ToolsConnection->MyOptions().SetUseUnicode(true);
    ToolsConnection->SetConnectDialog(MyConnectDialog1.get());

    ToolsCommand->Name = QStringLiteral("ToolsCommand");
    ToolsCommand->SetConnection(ToolsConnection.get());

    ToolsScript->Name = QStringLiteral("ToolsScript");
    ToolsScript->SetConnection(ToolsConnection.get());
    ToolsScript->OnError = [this](script::TDAScript* sender, const std::exception& e, const QString& sql,
                                  script::TErrorAction& action) { ToolsScriptError(sender, e, sql, action); };

    ToolsQuery->Name = QStringLiteral("ToolsQuery");
    ToolsQuery->SetConnection(ToolsConnection.get());
    ToolsQuery->Options().SetAutoPrepare(true);

    ToolsCustomQuery->Name = QStringLiteral("ToolsCustomQuery");
    ToolsCustomQuery->SetConnection(ToolsConnection.get());
    ToolsCustomQuery->Options().SetQuoteNames(true);
    // A text of several statements reports every result; the grid shows the last.
    ToolsCustomQuery->MyOptions().SetMultipleResults(true);

    CustomQuery->Name = QStringLiteral("CustomQuery");
    CustomQuery->SetConnection(ToolsConnection.get());
    CustomQuery->Options().SetQuoteNames(true);
    CustomQuery->SQL().SetText(QStringLiteral("DESCRIBE :table_name;"));

    ToolsDump->Name = QStringLiteral("ToolsDump");
    ToolsDump->SetConnection(ToolsConnection.get());
    ToolsDump->Options().QuoteNames = true;
    ToolsDump->Options().DisableKeys = true;
    ToolsDump->OnRestoreProgress = [this](dump::TDADump* sender, int percent) {
        ToolsDumpRestoreProgress(sender, percent);
    };

    ToolsOpenDialog = {QStringLiteral("sql"), QStringLiteral("sql files (*.sql);;All files (*)")};
    SaveDialog = {QStringLiteral("sql"), QStringLiteral("SQL Files (*.sql);; All Files (*)")};

    InstallIdleHook();
}

TData::~TData() {
    RemoveIdleHook();
    // The components go before the connection they use.
    ToolsDump.reset();
    CustomQuery.reset();
    ToolsCustomQuery.reset();
    ToolsQuery.reset();
    ToolsScript.reset();
    ToolsCommand.reset();
    ToolsConnection.reset();
    if (Current == this) Current = nullptr;
}

TData* TData::Instance() { return Current; }

bool TData::ToolsConnected() const { return ToolsConnection->GetConnected(); }

void TData::ListTableStatus(QStringList& list, bool views) {
    list.clear();
    CustomQuery->Close();
    CustomQuery->SQL().SetText(QStringLiteral("SHOW TABLE STATUS"));
    CustomQuery->Open();
    for (CustomQuery->First(); !CustomQuery->Eof(); CustomQuery->Next()) {
        // A view is a row without a storage engine.
        if (CustomQuery->FieldByName(QStringLiteral("Engine")).IsNull() == views)
            list << CustomQuery->FieldByName(QStringLiteral("Name")).AsString();
    }
}

void TData::GetTables(QStringList& list) { ListTableStatus(list, false); }

void TData::GetViews(QStringList& list) { ListTableStatus(list, true); }

void TData::InstallIdleHook() {
    if (FIdleHook) return;
    auto* dispatcher = QAbstractEventDispatcher::instance(QCoreApplication::instance()->thread());
    if (!dispatcher) return;
    FIdleHook = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                        &TData::ApplicationEventsIdle);
}

void TData::RemoveIdleHook() {
    if (FIdleHook) disconnect(FIdleHook);
    FIdleHook = {};
}

void TData::ApplicationEventsIdle() {
    if (!FMainForm) return;
    // While work holds the session busy, its worker thread owns the connection: its state is
    // read at the first idle moment after the work has ended.
    if (!Busy()) {
        // A session the server ended (a KILL, a restart) is closed here, so that the window
        // shows it now rather than at the next statement.
        if (ToolsConnection->PeerClosed()) ToolsConnection->Disconnect();
        if (!ToolsConnected()) FMainForm->ShowDisconnectedState();
    }
    FMainForm->UpdateIdleStates();
}

void TData::ToolsScriptError(script::TDAScript* sender, const std::exception& e, const QString& sql,
                             script::TErrorAction& action) {
    (void)sender;
    (void)sql;
    if (FMainForm) {
        const QString message = ErrorMessageOf(e);
        // The script may run on a worker thread; the memo lives on the window's. Queued, not
        // waited for: the window's thread may itself be waiting for the script (a Stop).
        QPointer<QPlainTextEdit> memo = FMainForm->TntMemo2;
        PostToGui([memo, message] {
            if (memo) memo->appendPlainText(message);
        });
    }
    action = script::eaContinue;
}

void TData::ToolsDumpRestoreProgress(dump::TDADump* sender, int percent) {
    (void)sender;
    ShowProgress(std::clamp(percent, 0, 100));
}

void TData::ToolsDumpBackupProgress(dump::TDADump* sender, const QString& objectName, int objectNum, int objectCount,
                                    int percent) {
    (void)sender;
    (void)objectName;
    ShowProgress(BackupProgressPosition(objectNum, objectCount, percent));
}

void TData::ShowProgress(int position) {
    if (!FMainForm) return;
    // A backup reports every row; the bar moves only when its position changes.
    if (FShownProgress.exchange(position) == position) return;
    if (QThread::currentThread() != thread()) {
        // From the worker thread of a backup or restore: the bar moves when the window's thread
        // gets to it, without holding up the work.
        QPointer<QProgressBar> bar = FMainForm->ProgressBar1;
        PostToGui([bar, position] {
            if (bar) bar->setValue(position);
        });
        return;
    }
    FMainForm->ProgressBar1->setValue(position);
    QCoreApplication::processEvents();
}

int BackupProgressPosition(int objectNum, int objectCount, int percent) {
    if (objectCount <= 0) return 0;
    // nearbyint rounds halves to even in the default rounding mode.
    const double whole = std::nearbyint((objectNum + 1) * 100.0 / objectCount);
    const double part = std::nearbyint(double(percent) / objectCount);
    return std::clamp(int(whole + part), 0, 100);
}

}  // namespace calvoro::app
