// tab_dump_bench --host H --port P --user U --password W --database DB --table T
//                --backup FILE --restore FILE --restore-database DB2
//
// Backs up table T of DB through the main window's Backup button into FILE, then restores the
// script FILE2 (--restore) through its Restore button into DB2 (emptied first), offscreen, as
// a user would with the dialogs answered. Prints "backup seconds=<s>" and "restore
// seconds=<s>", the time from the click to the success message; run_tab_bench.sh puts them
// beside calvoro-cli's times for the same work.
#include "app/Calvoro.h"
#include "app/DataUnit.h"
#include "app/SplashScrUnit.h"
#include "app/TessrinUnit.h"
#include "dataaccess/mysql/MyAccess.h"
#include "support/BenchMeasure.h"

#include <QAbstractButton>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <iostream>
#include <map>
#include <string>

using namespace calvoro;
using namespace calvoro::app;

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    std::map<std::string, std::string> o;
    for (int i = 1; i + 1 < argc; i += 2) o[argv[i]] = argv[i + 1];
    for (const char* key : {"--host", "--port", "--user", "--password", "--database", "--table", "--backup",
                            "--restore", "--restore-database"})
        if (!o.count(key)) {
            std::cerr << "tab_dump_bench: " << key << " is missing\n";
            return 2;
        }
    const auto q = [&](const char* key) { return QString::fromStdString(o[key]); };
    CalvoroApplication app(argc, argv);
    ShowSplashAtStart() = false;  // the measured work runs without the start-up picture
    auto program = CreateProgram();
    TTessrinForm& form = *program->MainForm;
    TData& data = *program->Data;
    form.show();
    // Success and error messages are answered as they come; an error ends the benchmark.
    QString lastMessage;
    bool failed = false;
    QTimer answer;
    answer.setInterval(5);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        lastMessage = box->text();
        failed = failed || box->icon() == QMessageBox::Critical;
        if (QAbstractButton* b = box->button(QMessageBox::Ok)) b->click();
        else box->reject();
    });
    answer.start();

    dac::TMyConnection& c = *data.ToolsConnection;
    const auto login = [&](const QString& database) {
        c.Disconnect();
        c.SetServer(q("--host"));
        c.SetPort(q("--port").toInt());
        c.SetUsername(q("--user"));
        c.SetPassword(q("--password"));
        c.SetLoginPrompt(false);
        c.SSLOptions().Mode = protocol::smDisabled;  // as the peer connects
        c.SetDatabase(database);
        form.btnConnectToServerClick();
    };
    const auto timed = [&](QPushButton* button) {
        const auto start = Clock::now();
        button->click();
        return Since(start);
    };

    login(q("--database"));
    for (int i = 0; i < form.lbxObjectsToBackup->count(); ++i)
        form.lbxObjectsToBackup->item(i)->setSelected(form.lbxObjectsToBackup->item(i)->text() == q("--table"));
    form.ChooseFile = [&](bool, const QString&, const QString&) { return q("--backup"); };
    const double backup = timed(form.TntSpeedButton1);
    if (failed || !lastMessage.contains(QStringLiteral("completed successfully"))) {
        std::cerr << "tab_dump_bench: backup: " << lastMessage.toStdString() << "\n";
        return 1;
    }

    c.ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(q("--restore-database")));
    c.ExecSQL(QStringLiteral("CREATE DATABASE `%1`").arg(q("--restore-database")));
    login(q("--restore-database"));
    form.ChooseFile = [&](bool, const QString&, const QString&) { return q("--restore"); };
    const double restore = timed(form.TntSpeedButton2);
    if (failed || !lastMessage.contains(QStringLiteral("completed successfully"))) {
        std::cerr << "tab_dump_bench: restore: " << lastMessage.toStdString() << "\n";
        return 1;
    }
    std::cout << "backup seconds=" << backup << "\nrestore seconds=" << restore << "\n";
    return 0;
}
