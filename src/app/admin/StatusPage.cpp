#include "StatusPage.h"

#include "AdminSession.h"
#include "app/toolkit.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QTableWidget>
#include <QTime>
#include <QVBoxLayout>

#include <memory>

namespace calvoro::app {

TStatusPage::TStatusPage(TAdminSession& session, QWidget* parent) : TServerPage(session, parent) {
    setObjectName(QStringLiteral("StatusPage"));
    FClock.start();
    auto* page = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* searchLabel = new QLabel(QStringLiteral("&Search:"), this);
    edtStatusFilter = Make<QLineEdit>("edtStatusFilter", this);
    edtStatusFilter->setPlaceholderText(QStringLiteral("part of a name, e.g. innodb_rows"));
    edtStatusFilter->setClearButtonEnabled(true);
    searchLabel->setBuddy(edtStatusFilter);
    cbCountersOnly = Make<QCheckBox>("cbCountersOnly", QStringLiteral("Only counters with a rate"), this);
    top->addWidget(searchLabel);
    top->addWidget(edtStatusFilter, 1);
    top->addWidget(cbCountersOnly);
    page->addLayout(top);
    tblStatus = Make<QTableWidget>("tblStatus", 0, 3, this);
    tblStatus->setAccessibleName(QStringLiteral("Global status"));
    tblStatus->setHorizontalHeaderLabels({QStringLiteral("Variable"), QStringLiteral("Value"), QStringLiteral("Per second")});
    tblStatus->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblStatus->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblStatus->verticalHeader()->setVisible(false);
    tblStatus->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    tblStatus->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    tblStatus->horizontalHeader()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    page->addWidget(tblStatus, 1);
    lblStatusState = Make<QLabel>("lblStatusState", this);
    page->addWidget(lblStatusState);
    connect(edtStatusFilter, &QLineEdit::textChanged, this, [this] { ShowRates(); });
    connect(cbCountersOnly, &QCheckBox::toggled, this, [this] { ShowRates(); });
}

void TStatusPage::Clear() {
    FLast.reset();
    FRates.clear();
    FSpan = 0;
    lblStatusState->clear();
    ShowRates();
}

bool TStatusPage::Refresh() {
    auto snapshot = std::make_shared<dac::TStatusSnapshot>();
    auto at = std::make_shared<qint64>(0);
    return FSession.Start(
        [this, snapshot, at](dac::TMyConnection& c, const dac::TAdminDialect&) {
            *snapshot = dac::ReadGlobalStatus(c);
            // The time of the reading, taken as it arrives, not when the window gets to it.
            *at = FClock.elapsed();
        },
        [this, snapshot, at](std::exception_ptr failure) {
            if (failure) {
                try {
                    std::rethrow_exception(failure);
                } catch (const std::exception& e) {
                    lblStatusState->setText(QStringLiteral("The status could not be read: %1").arg(ErrorMessageOf(e)));
                    SetState(lblStatusState->text());
                }
                return;
            }
            FSpan = FLast ? *at - FLastAt : 0;
            FRates = dac::StatusRates(FLast ? &*FLast : nullptr, *snapshot, FSpan);
            FLast = std::move(*snapshot);
            FLastAt = *at;
            ShowRates();
            lblStatusState->setText(
                (FSpan > 0 ? QStringLiteral("Rates per second over the last %1 s").arg(double(FSpan) / 1000.0, 0, 'f', 1)
                           : QStringLiteral("Rates appear from the second reading on")) +
                QStringLiteral("; read at %1").arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))));
            SetState(lblStatusState->text());
        });
}

void TStatusPage::ShowRates() {
    const QString search = edtStatusFilter->text().trimmed();
    const bool countersOnly = cbCountersOnly->isChecked();
    tblStatus->setUpdatesEnabled(false);
    tblStatus->setRowCount(0);
    const QLocale locale;
    for (const auto& r : FRates) {
        if (!search.isEmpty() && !r.Name.contains(search, Qt::CaseInsensitive)) continue;
        if (countersOnly && !r.PerSecond) continue;
        const int row = tblStatus->rowCount();
        tblStatus->insertRow(row);
        tblStatus->setItem(row, 0, new QTableWidgetItem(r.Name));
        tblStatus->setItem(row, 1, new QTableWidgetItem(r.Value));
        auto* rate = new QTableWidgetItem(r.PerSecond ? locale.toString(*r.PerSecond, 'f', 2) : QString());
        rate->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        tblStatus->setItem(row, 2, rate);
    }
    tblStatus->setUpdatesEnabled(true);
}

}  // namespace calvoro::app
