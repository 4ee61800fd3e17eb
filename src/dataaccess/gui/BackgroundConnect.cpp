#include "BackgroundConnect.h"

#include "SqlWaitCursor.h"
#include "common/ScopeGuard.h"

#include <QCursor>
#include <QEventLoop>
#include <QGuiApplication>
#include <QThread>

#include <exception>
#include <thread>

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
    QEventLoop loop;
    // The wait cursor of its own (a connect need not have started the SQL wait), and the SQL
    // wait of the work around it kept: that work goes on after this loop.
    const TSQLWaitHold hold;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    ScopeExit cursor([] { QGuiApplication::restoreOverrideCursor(); });
    // A std::thread: its start and join hand the connection over in a way ThreadSanitizer
    // sees (it cannot see the locks inside Qt that QThread's start and wait rely on).
    std::thread thread([&] {
        try {
            work();
        } catch (...) {
            // Any failure, whatever its type, is raised again on the waiting thread below.
            failure = std::current_exception();
        }
        // Queued to the loop's thread: it cannot be missed before exec runs. By name, so that
        // the call is made and freed inside Qt alone.
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    loop.exec(Interactions > 0 ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
    thread.join();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace calvoro::dac
