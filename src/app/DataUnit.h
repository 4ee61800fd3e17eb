#pragma once
// The tools session: owns the tools connection and the components the tabs use, and keeps the
// main window in step with the connection state through the idle check.

#include <QMetaObject>
#include <QObject>
#include <QString>

#include <memory>

namespace calvoro::dac {
class TMyConnection;
}

namespace calvoro::app {

class TTessrinForm;

class TData : public QObject {
    Q_OBJECT
public:
    // `mainForm` may be null while start-up is under way.
    explicit TData(TTessrinForm* mainForm, QObject* parent = nullptr);
    ~TData() override;

    void SetMainForm(TTessrinForm* mainForm) { FMainForm = mainForm; }

    // The one long-lived server connection; Unicode mode on, login through the dialog.
    std::unique_ptr<dac::TMyConnection> ToolsConnection;
    // Whether the tools connection is open.
    bool ToolsConnected() const;

    // The idle hook: installed on the event dispatcher, it runs the idle check each time the
    // event queue becomes empty. Removed and put back around reconnects that must not be seen.
    void InstallIdleHook();
    void RemoveIdleHook();
    bool IdleHookInstalled() const { return bool(FIdleHook); }

    // Database the tools session was connected to by the last connect flow.
    QString CurrentDB;

public slots:
    void ApplicationEventsIdle();

private:
    TTessrinForm* FMainForm;
    QMetaObject::Connection FIdleHook;
};

}  // namespace calvoro::app
