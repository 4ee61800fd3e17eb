#include "DumpTabChoices.h"

#include "toolkit.h"

#include "dump/ParallelRestore.h"

#include <QHBoxLayout>

#include <algorithm>

namespace calvoro::app {

void TDumpTabChoices::AddBackupChoices(QWidget* parent, QVBoxLayout* layout) {
    lblStatementSize = Make<QLabel>("lblStatementSize", QStringLiteral("INSERT statement size:"), parent);
    cbxStatementSize = Make<QComboBox>("cbxStatementSize", parent);
    cbxStatementSize->addItem(QStringLiteral("16 KB (default)"), qint64(16384));
    cbxStatementSize->addItem(QStringLiteral("1 MB (faster restore)"), qint64(1) << 20);
    cbxStatementSize->setToolTip(QStringLiteral("Rows per INSERT statement, up to this size; larger statements restore "
                                                "faster, never beyond what the server takes in one packet"));
    lblStatementSize->setBuddy(cbxStatementSize);
    auto* row = new QHBoxLayout;
    row->addWidget(lblStatementSize);
    row->addWidget(cbxStatementSize, 1);
    layout->addLayout(row);
}

void TDumpTabChoices::AddRestoreChoices(QWidget* parent, QVBoxLayout* layout) {
    lblRestoreConnections = Make<QLabel>("lblRestoreConnections", QStringLiteral("Connections for the rows:"), parent);
    spnRestoreConnections = Make<QSpinBox>("spnRestoreConnections", parent);
    spnRestoreConnections->setMinimum(1);
    // One until an answer to a failure (go on, stop) holds for the other connections' rows as
    // it does on one; up to the cores (at most four) by choice.
    spnRestoreConnections->setValue(1);
    spnRestoreConnections->setMaximum(std::max(4, dump::DefaultRestoreConnections()));
    spnRestoreConnections->setToolTip(QStringLiteral("The rows of a backup's tables run on this many connections at "
                                                     "once; 1 runs the whole file on one connection"));
    lblRestoreConnections->setBuddy(spnRestoreConnections);
    auto* row = new QHBoxLayout;
    row->addWidget(lblRestoreConnections);
    row->addWidget(spnRestoreConnections);
    row->addStretch(1);
    layout->addLayout(row);
}

qint64 TDumpTabChoices::StatementSize() const { return cbxStatementSize->currentData().toLongLong(); }

int TDumpTabChoices::RestoreConnections() const { return spnRestoreConnections->value(); }

}  // namespace calvoro::app
