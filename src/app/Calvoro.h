#pragma once
// The program: the application object with the top-level error handling, and start-up.

#include <QApplication>

#include <memory>

namespace calvoro::app {

class TAboutForm;
class TData;
class TSplashScrForm;
class TTessrinForm;
class Tcontactmessage;

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
    std::unique_ptr<TSplashScrForm> SplashScrForm;
    std::unique_ptr<TAboutForm> AboutForm;
    std::unique_ptr<Tcontactmessage> contactmessage;
    ~Program();  // the side windows go first, the main window last
};
std::unique_ptr<Program> CreateProgram();

int RunCalvoro(int argc, char** argv);

}  // namespace calvoro::app
