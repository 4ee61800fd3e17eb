#pragma once
// The Status page: the server's global status, and for the counters (queries, connections,
// bytes sent and received, InnoDB reads and writes, …) their change per second between the
// last two readings; searchable.

#include "ServerPage.h"
#include "dataaccess/mysql/MyAdminReaders.h"

#include <QElapsedTimer>

#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QTableWidget;

namespace calvoro::app {

class TStatusPage : public TServerPage {
    Q_OBJECT
public:
    TStatusPage(TAdminSession& session, QWidget* parent);

    bool Refresh() override;
    void Clear() override;
    bool AutoRefreshed() const override { return true; }

    QLineEdit* edtStatusFilter;
    QCheckBox* cbCountersOnly;
    QTableWidget* tblStatus;
    QLabel* lblStatusState;

    // What the table shows, by the last two readings.
    const std::vector<dac::TStatusRate>& Rates() const { return FRates; }

private:
    void ShowRates();

    std::optional<dac::TStatusSnapshot> FLast;
    qint64 FLastAt = 0;  // ms on FClock when FLast was read
    QElapsedTimer FClock;
    std::vector<dac::TStatusRate> FRates;
    qint64 FSpan = 0;  // ms between the readings the rates are over
};

}  // namespace calvoro::app
