#pragma once
// The Backup/Restore tab's choices beside the objects: the size of a backup's INSERT
// statements (16 KB unless the user picks 1 MB) and the connections a restore runs the rows
// of a dump on (one unless the user picks more).

#include <QComboBox>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

namespace calvoro::dump {
class TMyDump;
}

namespace calvoro::app {

class TDumpTabChoices {
public:
    // The statement size, labelled, at the end of the backup options' layout.
    void AddBackupChoices(QWidget* parent, QVBoxLayout* layout);
    // The connection count, labelled, at the end of the restore group's layout.
    void AddRestoreChoices(QWidget* parent, QVBoxLayout* layout);

    // The longest INSERT statement a backup writes, in bytes.
    qint64 StatementSize() const;
    // The connections of a restore (1: the script on one connection).
    int RestoreConnections() const;

    QLabel* lblStatementSize = nullptr;
    QComboBox* cbxStatementSize = nullptr;
    QLabel* lblRestoreConnections = nullptr;
    QSpinBox* spnRestoreConnections = nullptr;
};

}  // namespace calvoro::app
