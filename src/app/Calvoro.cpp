#include "Calvoro.h"

#include "DataUnit.h"
#include "TessrinUnit.h"
#include "toolkit.h"
#include "common/AppTitle.h"
#include "dataaccess/common/Win32Timer.h"

namespace calvoro::app {

CalvoroApplication::CalvoroApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(ApplicationTitle());
    // Errors of timer handlers (auto refresh) reach the user like those of any other event.
    dac::TWin32Timer::ExceptionHandler() = [](const std::exception& e) { HandleException(e); };
}

CalvoroApplication::~CalvoroApplication() { dac::TWin32Timer::ExceptionHandler() = nullptr; }

bool CalvoroApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        HandleException(e);
    }
    return false;
}

std::unique_ptr<Program> CreateProgram() {
    auto program = std::make_unique<Program>();
    program->MainForm = std::make_unique<TTessrinForm>();
    program->Data = std::make_unique<TData>(program->MainForm.get());
    program->MainForm->SetData(program->Data.get());
    return program;
}

int RunCalvoro(int argc, char** argv) {
    CalvoroApplication app(argc, argv);
    auto program = CreateProgram();
    program->MainForm->show();
    const int rc = app.exec();
    // The session goes first: destroying it disconnects while the window still exists.
    program->Data.reset();
    program->MainForm.reset();
    return rc;
}

}  // namespace calvoro::app
