#pragma once
// Connects that keep the windows going. The login of a connect made on the windows' thread
// runs on a worker thread while that thread waits in a local event loop, with the wait
// cursor: the windows repaint and timers run meanwhile. User input waits until the connect
// has ended, so that nothing else starts on the connection, except while a
// TConnectInteraction lives: then it reaches the windows at once (the connect dialog's Cancel;
// a modal dialog keeps it to itself).

#include <functional>

namespace calvoro::dac {

// The hook of ConnectRunnerProc (installed with InstallSQLWaitCursor): on the windows' thread
// as described, and raising there what the work raised; on any other thread the work runs at
// once.
void RunConnectInBackground(const std::function<void()>& work);

// While one lives on the windows' thread, connects take user input as they wait.
class TConnectInteraction {
public:
    TConnectInteraction();
    ~TConnectInteraction();
    TConnectInteraction(const TConnectInteraction&) = delete;
    TConnectInteraction& operator=(const TConnectInteraction&) = delete;
};

}  // namespace calvoro::dac
