#pragma once
// The Server tab's own connection to the server, made from the tools connection's login, so
// that reading the process list or the status never waits for (nor holds up) the other tabs.
// Work runs on a thread of its own, one piece at a time; the window goes on meanwhile.

#include "dataaccess/mysql/MyAdminStatements.h"
#include "dataaccess/mysql/MyAccess.h"

#include <QObject>

#include <exception>
#include <functional>
#include <future>
#include <memory>

class QThread;

namespace calvoro::app {

class TAdminSession : public QObject {
    Q_OBJECT
public:
    explicit TAdminSession(QObject* parent = nullptr);
    // Waits for running work and closes the connection.
    ~TAdminSession() override;

    // The login to use from now on: the tools connection's server, port, user, password and
    // TLS settings. An open connection with another login is closed before the next work.
    // Also notes the tools session's own id in the process list; call it from the window's
    // thread while the tools session is idle.
    void SetLogin(dac::TMyConnection& tools);
    // The server's id of the tools session as of the last SetLogin (0: none).
    qint64 ToolsConnectionId() const { return FToolsConnectionId; }
    // Waits for running work, then closes the connection.
    void Close();

    // Work runs (or its completion is yet to be delivered).
    bool Busy() const { return FThread != nullptr; }
    // While connected: the server's id of this connection (its process in the list), and how
    // statements are written for it.
    bool Connected() const { return FConnectionId != 0; }
    qint64 ConnectionId() const { return FConnectionId; }
    const dac::TAdminDialect& Dialect() const { return FDialect; }

    using TWork = std::function<void(dac::TMyConnection& connection, const dac::TAdminDialect& dialect)>;
    using TDone = std::function<void(std::exception_ptr failure)>;
    // Runs work on a thread of its own, logging in first when needed; done follows on the
    // window's thread with the failure or null. False, and nothing runs, while other work runs.
    bool Start(TWork work, TDone done);
    // Waits (the window going on) for running work, then runs work and waits for it; raises
    // what it raised.
    void Run(const TWork& work);

signals:
    // Work ended and its completion was delivered.
    void Idle();

private:
    void Finished();

    struct TLogin {
        QString Server, Username, Password;
        int Port = 3306;
        dac::TMyConnectionSSLOptions SSL;
    };
    TLogin FLogin;
    // Touched by the worker only while it runs; by the window's thread otherwise.
    std::unique_ptr<dac::TMyConnection> FConnection;
    std::unique_ptr<QThread> FThread;
    TDone FDone;
    // How the running work ended. Its promise hands what the worker wrote over to the window's
    // thread in a way ThreadSanitizer sees (QThread's own end goes through Qt's locks).
    std::future<void> FOutcome;
    dac::TAdminDialect FDialect, FWorkerDialect;
    qint64 FConnectionId = 0, FWorkerConnectionId = 0, FToolsConnectionId = 0;
};

}  // namespace calvoro::app
