#pragma once
// The program: the application object with the top-level error handling, and start-up.

#include <QApplication>

#include <memory>

namespace calvoro::app {

class TData;
class TTessrinForm;

// The last resort for errors that leave an event handler unguarded (see Guarded in toolkit.h):
// they are reported like guarded ones.
class CalvoroApplication : public QApplication {
public:
    CalvoroApplication(int& argc, char** argv);
    ~CalvoroApplication() override;
    bool notify(QObject* receiver, QEvent* event) override;
};

// The process-wide windows and the tools session, created in start-up order.
struct Program {
    std::unique_ptr<TTessrinForm> MainForm;
    std::unique_ptr<TData> Data;
};
std::unique_ptr<Program> CreateProgram();

int RunCalvoro(int argc, char** argv);

}  // namespace calvoro::app
