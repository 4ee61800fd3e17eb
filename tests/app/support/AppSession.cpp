#include "AppSession.h"

#include "app/DataUnit.h"
#include "app/TessrinUnit.h"
#include "app/editor/QueryHistoryStore.h"
#include "dataaccess/mysql/MyAccess.h"
#include "support/TestServer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

namespace calvoro::test {

std::unique_ptr<app::Program> StartProgram(const QString& dataFolder) {
    // A program's history and kept editor text do not reach the next test's program.
    static std::unique_ptr<QTemporaryDir> own;
    own = std::make_unique<QTemporaryDir>();
    app::HistoryFolderOverride() = dataFolder.isEmpty() ? own->path() : dataFolder;
    auto program = app::CreateProgram();
    program->MainForm->show();
    return program;
}

void ConnectTools(app::TTessrinForm& form, app::TData& data, const QString& database) {
    const ServerConfig& s = Server();
    dac::TMyConnection& c = *data.ToolsConnection;
    c.Disconnect();
    c.SetServer(QString::fromStdString(s.Host));
    c.SetPort(int(s.Port));
    c.SetUsername(QString::fromStdString(s.NativeUser));
    c.SetPassword(QString::fromStdString(s.NativePassword));
    c.SetLoginPrompt(false);
    c.SetDatabase(database);
    form.btnConnectToServerClick();
}

TMessageBoxes::TMessageBoxes(QList<QMessageBox::StandardButton> answers, QMessageBox::StandardButton otherwise)
    : FAnswers(std::move(answers)), FOtherwise(otherwise) {
    FTimer.setInterval(10);
    QObject::connect(&FTimer, &QTimer::timeout, [this] { Answer(); });
    FTimer.start();
}

void TMessageBoxes::Answer() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    Texts << box->text();
    const QMessageBox::StandardButton answer = FAnswers.isEmpty() ? FOtherwise : FAnswers.takeFirst();
    QAbstractButton* button = box->button(answer);
    if (!button) button = box->button(QMessageBox::Ok);
    if (button) button->click();
    else box->reject();
}

void RunUntilIdle() {
    QEventLoop loop;
    QTimer::singleShot(30, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace calvoro::test
