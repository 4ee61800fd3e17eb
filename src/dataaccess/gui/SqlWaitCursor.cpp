#include "SqlWaitCursor.h"

#include "BackgroundConnect.h"
#include "common/AppTitle.h"
#include "dataaccess/common/CRAccess.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPointer>
#include <QThread>
#include <QTimer>

namespace calvoro::dac {

namespace {

struct TWaitState {
    QPointer<QTimer> Timer;  // owned by the application object
    QElapsedTimer LastStart;
    int Depth = 0;   // Starts without their End yet
    int Pushed = 0;  // override cursors pushed here and not popped yet
    int Holds = 0;   // TSQLWaitHold objects alive
};

TWaitState& State() {
    static TWaitState state;
    return state;
}

// Cursors belong to the GUI thread of a GUI application.
bool OnGuiThread() {
    const auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    return app && QThread::currentThread() == app->thread();
}

void RestoreCursor() {
    TWaitState& s = State();
    if (s.Timer) s.Timer->stop();
    for (; s.Pushed > 0; --s.Pushed) QGuiApplication::restoreOverrideCursor();
}

// The event loop runs again: whatever started the wait is over, also a Start whose End never
// came.
void TimerTick() {
    TWaitState& s = State();
    if (s.Holds > 0 || s.LastStart.elapsed() <= SQLWaitInterval) return;
    s.Depth = 0;
    RestoreCursor();
}

}  // namespace

void SQLWaitStart() {
    if (!OnGuiThread()) return;
    TWaitState& s = State();
    if (!s.Timer) {
        s.Timer = new QTimer(QCoreApplication::instance());
        s.Timer->setInterval(SQLWaitInterval);
        QObject::connect(s.Timer, &QTimer::timeout, s.Timer, &TimerTick);
    }
    if (!s.Timer->isActive()) s.Timer->start();
    const QCursor* cursor = QGuiApplication::overrideCursor();
    if (!cursor || cursor->shape() != Qt::WaitCursor) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        ++s.Pushed;
    }
    ++s.Depth;
    s.LastStart.start();
}

TSQLWaitHold::TSQLWaitHold() { ++State().Holds; }
TSQLWaitHold::~TSQLWaitHold() { --State().Holds; }

void SQLWaitEnd() {
    if (!OnGuiThread()) return;
    TWaitState& s = State();
    if (s.Depth > 0) --s.Depth;
    if (s.Depth == 0) RestoreCursor();
}

void InstallSQLWaitCursor() {
    StartWaitProc() = &SQLWaitStart;
    StopWaitProc() = &SQLWaitEnd;
    ApplicationTitleProc() = [] { return ApplicationTitle(); };
    ConnectRunnerProc() = &RunConnectInBackground;
}

void RemoveSQLWaitCursor() {
    StartWaitProc() = nullptr;
    StopWaitProc() = nullptr;
    ApplicationTitleProc() = nullptr;
    ConnectRunnerProc() = nullptr;
    if (!OnGuiThread()) return;
    RestoreCursor();
    TWaitState& s = State();
    s.Depth = 0;
    delete s.Timer.data();
}

}  // namespace calvoro::dac
