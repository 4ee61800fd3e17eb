#pragma once
// The program as the window tests drive it: created and shown offscreen, its tools session
// logged in to the test server through the connect flow without the dialog.

#include "app/Calvoro.h"

#include <QList>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>

namespace calvoro::app {
class TData;
class TTessrinForm;
}  // namespace calvoro::app

namespace calvoro::test {

// The windows and the tools session in start-up order, the main window shown. The query
// history lives in dataFolder, or in a new empty folder of its own when none is given.
std::unique_ptr<app::Program> StartProgram(const QString& dataFolder = {});
// Gives the tools connection the test server's login and runs the connect flow into the
// database, as the reconnect button does (no dialog).
void ConnectTools(app::TTessrinForm& form, app::TData& data, const QString& database);
// Lets the event queue run empty once, which is when the idle check runs.
void RunUntilIdle();

// Answers the message boxes that come up while it lives, and keeps their texts: with the given
// buttons in order, then with `otherwise`. A box without the button is answered OK, or closed,
// so that an unexpected box fails a test instead of hanging it.
class TMessageBoxes {
public:
    explicit TMessageBoxes(QList<QMessageBox::StandardButton> answers = {},
                           QMessageBox::StandardButton otherwise = QMessageBox::Yes);
    QStringList Texts;

private:
    void Answer();
    QList<QMessageBox::StandardButton> FAnswers;
    QMessageBox::StandardButton FOtherwise;
    QTimer FTimer;
};

}  // namespace calvoro::test
