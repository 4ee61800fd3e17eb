#pragma once
// A timer component that calls OnTimer on the main thread's event loop every Interval
// milliseconds while Enabled. An exception from the handler goes to the application's
// exception display (ShowApplicationException).

#include "CRAccess.h"

#include <QTimer>

#include <exception>
#include <functional>

namespace calvoro::dac {

class TWin32Timer : public TComponent {
public:
    using TNotifyEvent = std::function<void(TWin32Timer* sender)>;

    TWin32Timer();
    ~TWin32Timer() override;
    TWin32Timer(const TWin32Timer&) = delete;
    TWin32Timer& operator=(const TWin32Timer&) = delete;

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value);
    int Interval() const { return FInterval; }
    void SetInterval(int milliseconds);
    const TNotifyEvent& OnTimer() const { return FOnTimer; }
    void SetOnTimer(TNotifyEvent value);
    // Whether the timer runs now: enabled, with an interval and a handler.
    bool Armed() const { return FTimer.isActive(); }

private:
    void Rearm();
    void Tick();

    bool FEnabled = true;
    int FInterval = 1000;
    TNotifyEvent FOnTimer;
    QTimer FTimer;
};

}  // namespace calvoro::dac
