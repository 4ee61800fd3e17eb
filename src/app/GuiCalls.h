#pragma once
// Calls handed from worker threads to the GUI thread (CallOnGui and PostToGui in toolkit.h).
// The calls wait in a queue under a std::mutex, so that what a worker wrote before handing a
// call over is visibly the GUI thread's when it runs: Qt's own event queue only carries the
// request to drain it. (ThreadSanitizer checks these hand-overs; it cannot see the locks
// inside Qt, which is not built with it.)

#include <QObject>

#include <deque>
#include <functional>
#include <mutex>

namespace calvoro::app {

class TGuiCalls : public QObject {
    Q_OBJECT
public:
    explicit TGuiCalls(QObject* parent) : QObject(parent) {}
    // The one queue, made with the application object on its thread; null without one.
    static TGuiCalls* Instance();

    // Queues f to run on the GUI thread, in the order of posting.
    void Post(std::function<void()> f);
    // Runs what is queued (on the GUI thread, through Qt's event queue).
    Q_INVOKABLE void Drain();

private:
    std::mutex FLock;
    std::deque<std::function<void()>> FCalls;
};

}  // namespace calvoro::app
