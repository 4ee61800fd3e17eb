#pragma once
// The Processes page: the server's process list, filtered (sleeping connections, one user, one
// database), the full statement of the selected process, and Kill Query / Kill Connection
// after a confirmation that shows the statements. Calvoro's own connections are marked and are
// killed only after a second, explicit confirmation.

#include "ServerPage.h"
#include "dataaccess/mysql/MyAdminReaders.h"

#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

namespace calvoro::app {

class TProcessesPage : public TServerPage {
    Q_OBJECT
public:
    TProcessesPage(TAdminSession& session, QWidget* parent);

    bool Refresh() override;
    void Clear() override;
    bool AutoRefreshed() const override { return true; }
    QString PausedBecause() const override;

    QCheckBox* cbHideSleeping;
    QComboBox* cbxProcessUser;
    QComboBox* cbxProcessDatabase;
    QTableWidget* tblProcesses;
    QPlainTextEdit* mmoProcessInfo;
    QPushButton* btnKillQuery;
    QPushButton* btnKillConnection;
    QLabel* lblProcessesState;

    // The processes of the last reading, and the ids shown.
    const std::vector<dac::TProcessInfo>& Processes() const { return FProcesses; }
    std::vector<qint64> ShownIds() const;
    // Selects the rows of these ids.
    void SelectIds(const std::vector<qint64>& ids);

    void btnKillQueryClick();
    void btnKillConnectionClick();

private:
    void Kill(dac::TKillKind kind);
    void ShowProcesses();
    void FillFilterLists();
    void SelectionChanged();
    std::vector<qint64> SelectedIds() const;

    std::vector<dac::TProcessInfo> FProcesses;
    dac::TProcessListSource FSource = dac::psInformationSchema;
};

}  // namespace calvoro::app
