#include "GuiCalls.h"

#include <QCoreApplication>
#include <QPointer>

namespace calvoro::app {

namespace {

QPointer<TGuiCalls>& Current() {
    static QPointer<TGuiCalls> calls;
    return calls;
}

// With the application object, on its thread, before any worker can ask for the queue.
void CreateGuiCalls() { Current() = new TGuiCalls(QCoreApplication::instance()); }

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(CreateGuiCalls)

TGuiCalls* TGuiCalls::Instance() { return Current().data(); }

void TGuiCalls::Post(std::function<void()> f) {
    {
        std::lock_guard lock(FLock);
        FCalls.push_back(std::move(f));
    }
    QMetaObject::invokeMethod(this, "Drain", Qt::QueuedConnection);
}

void TGuiCalls::Drain() {
    std::deque<std::function<void()>> calls;
    {
        std::lock_guard lock(FLock);
        calls.swap(FCalls);
    }
    for (const auto& call : calls) call();
}

}  // namespace calvoro::app
