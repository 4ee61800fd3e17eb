#pragma once
// A timer component that calls OnTimer on the main thread's event loop every Interval
// milliseconds while Enabled. An exception from the handler goes to the exception handler the
// application installs (a warning on the log when none is).

#include "CRAccess.h"

#include <QTimer>

#include <exception>
#include <functional>

namespace calvoro::dac {

class TWin32Timer : public TComponent {
public:
    using TNotifyEvent = std::function<void(TWin32Timer* sender)>;
    using TExceptionHandler = std::function<void(const std::exception&)>;

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

    // Where handler errors go; the application sets its error display here.
    static TExceptionHandler& ExceptionHandler();

private:
    void Rearm();
    void Tick();

    bool FEnabled = true;
    int FInterval = 1000;
    TNotifyEvent FOnTimer;
    QTimer FTimer;
};

}  // namespace calvoro::dac
