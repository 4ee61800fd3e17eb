#pragma once
// The tools session: owns the tools connection and the components the tabs use, and keeps the
// main window in step with the connection state through the idle check.

#include "script/DAScript.h"

#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <exception>
#include <memory>

namespace calvoro::dac {
class TMyConnection;
class TMyCommand;
class TMyQuery;
class TMyConnectDialog;
}  // namespace calvoro::dac
namespace calvoro::script {
class TMyScript;
}
namespace calvoro::dump {
class TDADump;
class TMyDump;
}  // namespace calvoro::dump

namespace calvoro::app {

class TTessrinForm;
class TSynMySQL;

// A file dialog's settings: the default suffix and the filter, in Qt's notation.
struct TFileDialogSettings {
    QString DefaultExt;
    QString Filter;
};

class TData : public QObject {
    Q_OBJECT
public:
    // `mainForm` may be null while start-up is under way.
    explicit TData(TTessrinForm* mainForm, QObject* parent = nullptr);
    ~TData() override;

    // The one instance, while it exists.
    static TData* Instance();

    void SetMainForm(TTessrinForm* mainForm) { FMainForm = mainForm; }

    // The components, in the order they are made.
    std::unique_ptr<dac::TMyConnectDialog> MyConnectDialog1;
    // The one long-lived server connection; Unicode mode on, login through the dialog.
    std::unique_ptr<dac::TMyConnection> ToolsConnection;
    std::unique_ptr<dac::TMyCommand> ToolsCommand;
    std::unique_ptr<script::TMyScript> ToolsScript;
    std::unique_ptr<dac::TMyQuery> ToolsQuery;        // the View Data grid's
    std::unique_ptr<dac::TMyQuery> ToolsCustomQuery;  // the custom query's result
    std::unique_ptr<dac::TMyQuery> CustomQuery;       // DESCRIBE, SHOW TABLE STATUS and the like
    std::unique_ptr<dump::TMyDump> ToolsDump;
    TFileDialogSettings ToolsOpenDialog;
    TFileDialogSettings SaveDialog;
    // The highlighter all SQL editors share.
    std::unique_ptr<TSynMySQL> SynMySQL;

    // Whether the tools connection is open. While the session is busy the connection belongs
    // to the work in progress: the idle check does not ask then.
    bool ToolsConnected() const;

    // The base tables and the views of the current database, in the server's order.
    void GetTables(QStringList& list);
    void GetViews(QStringList& list);

    // The idle hook: installed on the event dispatcher, it runs the idle check each time the
    // event queue becomes empty. Removed and put back around reconnects that must not be seen.
    void InstallIdleHook();
    void RemoveIdleHook();
    bool IdleHookInstalled() const { return bool(FIdleHook); }

    // An operation on the tools connection that lets events through (progress, scripts,
    // queries) holds the session busy: handlers that would start another one on the same
    // connection are refused meanwhile, since a command cannot start inside another.
    class TBusy {
    public:
        explicit TBusy(TData& data) : FData(data) { ++FData.FBusy; }
        ~TBusy() { --FData.FBusy; }
        TBusy(const TBusy&) = delete;
        TBusy& operator=(const TBusy&) = delete;

    private:
        TData& FData;
    };
    // Read by the idle check and by handlers on the window's thread; counted by whoever holds
    // the session, which need not be that thread.
    bool Busy() const { return FBusy.load() > 0; }
    // The progress bar is at 0 again (a new backup or restore).
    void ResetProgress() { FShownProgress = 0; }

    // Database the tools session was connected to by the last connect flow.
    QString CurrentDB;

    // Event handlers of the components.
    void ToolsScriptError(script::TDAScript* sender, const std::exception& e, const QString& sql,
                          script::TErrorAction& action);
    void ToolsDumpRestoreProgress(dump::TDADump* sender, int percent);
    void ToolsDumpBackupProgress(dump::TDADump* sender, const QString& objectName, int objectNum, int objectCount,
                                 int percent);

public slots:
    void ApplicationEventsIdle();

private:
    // Moves the progress bar, from the window's thread or a worker's.
    void ShowProgress(int position);
    std::atomic<int> FShownProgress = -1;
    // Rows of SHOW TABLE STATUS with (views) or without (tables) a storage engine.
    void ListTableStatus(QStringList& list, bool views);

    TTessrinForm* FMainForm;
    QMetaObject::Connection FIdleHook;
    std::atomic<int> FBusy = 0;
};

// The position of the backup's progress bar for object objectNum (from 0) of objectCount at
// percent within it: round((objectNum + 1) * 100 / objectCount) + round(percent / objectCount),
// halves to even, at most 100.
int BackupProgressPosition(int objectNum, int objectCount, int percent);

}  // namespace calvoro::app
