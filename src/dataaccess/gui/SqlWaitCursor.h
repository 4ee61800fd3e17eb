#pragma once
// The GUI side of the data-access layer's hooks: the SQL-wait cursor shown while a statement
// or a connect runs on the GUI thread, the application title that names the login dialog's
// per-application settings, and the logins that run off the GUI thread (BackgroundConnect.h).
//
// The cursor is the application's override cursor (Qt::WaitCursor). Start pushes it once,
// only when the override cursor is not the wait cursor already, and End pops exactly what
// Start pushed, so that the override stack stays balanced. Starts nest (a connect runs
// statements of its own); the outermost End brings the default cursor back. A timer checks
// every 30 ms and restores the cursor once more than 30 ms passed since the last Start
// without an End: the event loop runs again, so nothing is executing any more.

namespace calvoro::dac {

// Sets StartWaitProc, StopWaitProc, ApplicationTitleProc (calvoro::ApplicationTitle) and
// ConnectRunnerProc (RunConnectInBackground: logins off the windows' thread). The application
// calls it once its QApplication exists.
void InstallSQLWaitCursor();
// Clears the hooks and restores a cursor still shown.
void RemoveSQLWaitCursor();

// The hooks themselves; calls from threads other than the GUI thread do nothing.
void SQLWaitStart();
void SQLWaitEnd();

// While one lives on the GUI thread the timer leaves the wait alone: the event loop runs
// inside work that goes on (a connect waiting for its worker thread, BackgroundConnect.h).
class TSQLWaitHold {
public:
    TSQLWaitHold();
    ~TSQLWaitHold();
    TSQLWaitHold(const TSQLWaitHold&) = delete;
    TSQLWaitHold& operator=(const TSQLWaitHold&) = delete;
};

// The timer's interval and the time after the last Start that ends the wait, in ms.
inline constexpr int SQLWaitInterval = 30;

}  // namespace calvoro::dac
