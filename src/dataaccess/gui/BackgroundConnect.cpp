#include "BackgroundConnect.h"

#include "SqlWaitCursor.h"
#include "common/ScopeGuard.h"

#include <QCursor>
#include <QEventLoop>
#include <QGuiApplication>
#include <QThread>

#include <exception>
#include <memory>

namespace calvoro::dac {

namespace {
int Interactions = 0;  // TConnectInteraction objects alive; the windows' thread only
}

TConnectInteraction::TConnectInteraction() { ++Interactions; }
TConnectInteraction::~TConnectInteraction() { --Interactions; }

void RunConnectInBackground(const std::function<void()>& work) {
    const auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app || QThread::currentThread() != app->thread()) {
        work();
        return;
    }
    std::exception_ptr failure;
    std::unique_ptr<QThread> thread(QThread::create([&] {
        try {
            work();
        } catch (...) {
            // Any failure, whatever its type, is raised again on the waiting thread below.
            failure = std::current_exception();
        }
    }));
    QEventLoop loop;
    // finished is queued to this thread, so it cannot be missed before exec runs.
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    // The wait cursor of its own (a connect need not have started the SQL wait), and the SQL
    // wait of the work around it kept: that work goes on after this loop.
    const TSQLWaitHold hold;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    ScopeExit cursor([] { QGuiApplication::restoreOverrideCursor(); });
    thread->start();
    loop.exec(Interactions > 0 ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
    thread->wait();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace calvoro::dac
