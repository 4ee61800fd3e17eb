#include "Calvoro.h"

#include "AboutUnit.h"
#include "DataUnit.h"
#include "Pictures.h"
#include "SplashScrUnit.h"
#include "contactform.h"
#include "TessrinUnit.h"
#include "toolkit.h"
#include "common/AppTitle.h"
#include "common/Exceptions.h"
#include "dataaccess/gui/SqlWaitCursor.h"

#include <QIcon>

namespace calvoro::app {

CalvoroApplication::CalvoroApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(ApplicationTitle());
    // Errors without a caller (timer handlers, script statements) reach the user like those of
    // any other event.
    ApplicationExceptionDisplay() = [](const std::exception& e) { HandleException(e); };
    // The wait cursor while statements run, and the title the login settings are named after.
    dac::InstallSQLWaitCursor();
    setWindowIcon(QIcon(LogoMark(64)));
}

CalvoroApplication::~CalvoroApplication() {
    dac::RemoveSQLWaitCursor();
    ApplicationExceptionDisplay() = nullptr;
}

bool CalvoroApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        HandleException(e);
    }
    return false;
}

Program::~Program() = default;

std::unique_ptr<Program> CreateProgram() {
    auto program = std::make_unique<Program>();
    program->MainForm = std::make_unique<TTessrinForm>();
    program->Data = std::make_unique<TData>(program->MainForm.get());
    program->MainForm->SetData(program->Data.get());
    program->SplashScrForm = std::make_unique<TSplashScrForm>();
    program->AboutForm = std::make_unique<TAboutForm>();
    program->contactmessage = std::make_unique<Tcontactmessage>();
    program->MainForm->SetSideWindows(program->SplashScrForm.get(), program->AboutForm.get(),
                                      program->contactmessage.get());
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
