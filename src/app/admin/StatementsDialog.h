#pragma once
// What every change on the Server tab goes through: the exact statements shown before they
// run, and run one by one with failures reported without the passwords they carried.

#include "dataaccess/mysql/MyAdminStatements.h"

#include <QDialog>

#include <vector>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace calvoro::dac {
class TCustomMyConnection;
}  // namespace calvoro::dac

namespace calvoro::app {

class TAdminSession;

// Shows the question and the statements, each ending in ";" on a line of its own, with their
// passwords masked until "Show passwords" is ticked; Run accepts, Cancel rejects.
class TStatementsDialog : public QDialog {
    Q_OBJECT
public:
    TStatementsDialog(const QString& question, std::vector<dac::TAdminStatement> statements, QWidget* parent);

    QLabel* lblStatementsQuestion;
    QPlainTextEdit* mmoStatements;
    QCheckBox* cbShowPasswords;
    QPushButton* btnRunStatements;
    QPushButton* btnCancelStatements;

    // The statements as they run.
    QString ExactText() const;

private:
    void ShowText();
    std::vector<dac::TAdminStatement> FStatements;
};

// Asks with the dialog; true on Run.
bool ConfirmStatements(QWidget* parent, const QString& question, const std::vector<dac::TAdminStatement>& statements);

// Runs the statements in order on the session; the first failure ends it and raises an error
// saying which statement failed and why, every password masked in both.
void RunStatements(TAdminSession& session, const std::vector<dac::TAdminStatement>& statements);
// The same on another connection (the tools session), from the window's thread.
void RunStatementsOn(dac::TCustomMyConnection& connection, const std::vector<dac::TAdminStatement>& statements);

// A statement without passwords.
dac::TAdminStatement Plain(const QString& text);

}  // namespace calvoro::app
