#pragma once
// What a look at a script found before its restore, with the choice of what to do: restore
// as it is, restore with the mends the report offers (each named here), or nothing.

#include "dump/RestoreCheck.h"

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace calvoro::app {

enum class TRestoreCheckChoice { RestoreAnyway, MendAndRestore, Cancel };

class TRestoreCheckDialog : public QDialog {
    Q_OBJECT
public:
    TRestoreCheckDialog(const QString& file, const dump::TCheckReport& report, const dump::TRestoreMends& offered,
                        QWidget* parent);

    QLabel* lblRestoreCheck;
    QPlainTextEdit* mmoRestoreCheck;  // the report
    QLabel* lblRestoreMends;
    QPlainTextEdit* mmoRestoreMends;  // the mends "Mend and restore" applies
    QPushButton* btnRestoreAnyway;
    QPushButton* btnMendAndRestore;   // only when the report offers a mend
    QPushButton* btnCancelRestore;

    TRestoreCheckChoice Choice() const { return FChoice; }

private:
    TRestoreCheckChoice FChoice = TRestoreCheckChoice::Cancel;
};

// The mends as lines for a person: "utf8mb4_0900_ai_ci becomes utf8mb4_uca1400_nopad_ai_ci".
QString MendsText(const dump::TRestoreMends& mends);

}  // namespace calvoro::app
