#pragma once
// Loads the names completion offers on a worker thread of its own, over a connection of its
// own made from the tools connection's login, so that neither typing nor a running query waits
// for it. What it loads goes into the catalog on the window's thread.

#include "CompletionCatalog.h"

#include "dataaccess/mysql/MyAccess.h"

#include <QObject>
#include <QSet>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace calvoro::app {

// The statements the loader runs; the database is a string literal with the given escaping.
QString CatalogTablesStatement(const QString& database, bool backslashEscapes);
QString CatalogColumnsStatement(const QString& database, bool backslashEscapes);

class TCompletionLoader : public QObject {
    Q_OBJECT
public:
    explicit TCompletionLoader(QObject* parent = nullptr);
    // Waits for the load under way to end.
    ~TCompletionLoader() override;

    // Forgets the cached names and loads the server's databases and the names of the tools
    // connection's database, with its login. Nothing is loaded without a database.
    void Reload(const dac::TMyConnection& tools);
    // Loads a database's names unless they are loaded, under way or failed since the last
    // Reload.
    void Request(const QString& database);

    const TCompletionCatalog& Catalog() const { return FCatalog; }
    bool Loading(const QString& database) const;
    // Why the last load of the database failed; empty when it did not.
    QString Failure(const QString& database) const;

    // Runs on the worker before each load; tests hold a load back with it. Set it while no
    // load runs.
    std::function<void()> BeforeLoad;

signals:
    // The catalog took new names, or a load failed.
    void Changed();

private slots:
    // Applies the results the worker handed over (on the window's thread).
    void ApplyDelivered();

private:
    struct TLogin {
        QString Server, Username, Password, Socket;
        int Port = 3306;
        int Timeout = 15;
        dac::TMyConnectionSSLOptions SSL;
    };
    struct TRequest {
        QString Database;  // empty: the list of databases
        quint64 Generation = 0;
    };
    void Work();
    void Load(const TRequest& request, const TLogin& login);
    void Connect(const TLogin& login);
    // Hands a result to the window's thread; dropped there when a Reload came meanwhile.
    void Deliver(quint64 generation, std::function<void()> apply);

    TCompletionCatalog FCatalog;
    QSet<QString> FLoading;
    QHash<QString, QString> FFailures;
    quint64 FGeneration = 0;  // the window's thread's

    // Shared with the worker, under FMutex.
    std::mutex FMutex;
    std::condition_variable FWake;
    std::deque<TRequest> FQueue;
    // Results for the window's thread: handed over under the mutex, so that the hand-over is
    // seen by the thread checker too (a queued functor crosses in Qt's own event queue).
    std::deque<std::pair<quint64, std::function<void()>>> FDelivered;
    TLogin FLogin;
    bool FStopping = false;

    // The worker's.
    std::unique_ptr<dac::TMyConnection> FConnection;
    TLogin FConnectedLogin;
    std::thread FThread;
};

}  // namespace calvoro::app
