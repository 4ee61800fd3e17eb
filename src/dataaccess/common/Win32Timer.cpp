#include "Win32Timer.h"

#include "common/Exceptions.h"


namespace calvoro::dac {

TWin32Timer::TWin32Timer() {
    FTimer.setTimerType(Qt::CoarseTimer);
    QObject::connect(&FTimer, &QTimer::timeout, [this] { Tick(); });
}

TWin32Timer::~TWin32Timer() = default;

void TWin32Timer::SetEnabled(bool value) {
    FEnabled = value;
    Rearm();
}

void TWin32Timer::SetInterval(int milliseconds) {
    FInterval = milliseconds;
    Rearm();
}

void TWin32Timer::SetOnTimer(TNotifyEvent value) {
    FOnTimer = std::move(value);
    Rearm();
}

void TWin32Timer::Rearm() {
    FTimer.stop();
    if (FInterval > 0 && FEnabled && FOnTimer) FTimer.start(FInterval);
}

void TWin32Timer::Tick() {
    if (!FOnTimer) return;
    try {
        FOnTimer(this);
    } catch (const std::exception& e) {
        // An event-loop callback has no caller to hand the error to: the application shows it.
        ShowApplicationException(e);
    }
}

}  // namespace calvoro::dac
