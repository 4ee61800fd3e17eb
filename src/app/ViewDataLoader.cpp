#include "ViewDataLoader.h"

#include "toolkit.h"
#include "common/Exceptions.h"
#include "common/ScopeGuard.h"
#include "dataaccess/gui/DBGrid.h"
#include "dataaccess/gui/DBNavigator.h"
#include "dataaccess/mysql/MyAccess.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>

namespace calvoro::app {

TViewDataLoader::TViewDataLoader(QPushButton* stop, QLabel* progress, dac::TDBGrid* grid,
                                 dac::TDBNavigator* navigator, QObject* parent)
    : QObject(parent), FStop(stop), FProgress(progress), FGrid(grid), FNavigator(navigator) {
    FStop->setVisible(false);
    connect(FStop, &QPushButton::clicked, this, [this] { Stop(); });
}

TViewDataLoader::~TViewDataLoader() {
    if (FStopper.joinable()) FStopper.join();
}

QString TViewDataLoader::ProgressText(int rows) {
    return QStringLiteral("Reading rows: %1 so far").arg(rows);
}

bool TViewDataLoader::Run(dac::TCustomMyDataSet& rows, std::vector<dac::TCustomMyDataSet*> dataSets,
                          const std::function<void()>& work) {
    FRunning = std::move(dataSets);
    FStopRequested = false;
    // What shows the rows works on the window's thread: it lets them go meanwhile.
    FGrid->SetDataSet(nullptr);
    FNavigator->SetDataSet(nullptr);
    auto afterScroll = std::move(rows.AfterScroll);
    rows.AfterScroll = nullptr;
    ScopeExit done([&] {
        // A stop sent while the work ended has nothing left to stop; it is waited for here.
        if (FStopper.joinable()) FStopper.join();
        FRunning.clear();
        FStop->setVisible(false);
        rows.BeforeFetch = nullptr;
        rows.AfterScroll = std::move(afterScroll);
        FGrid->SetDataSet(&rows);
        FNavigator->SetDataSet(&rows);
    });
    // Before each block of rows, on the worker thread: the count goes to the label now and
    // then, queued, so that the fetch never waits for the window.
    QElapsedTimer sinceShown;
    rows.BeforeFetch = [this, &sinceShown](dac::TCustomDADataSet* sender, bool&) {
        if (sinceShown.isValid() && sinceShown.elapsed() < ProgressInterval) return;
        sinceShown.start();
        // The record store's count: the data set counts its rows only once it is open.
        const int read = sender->RecordSet().RecordCount();
        PostToGui([label = FProgress, read] {
            if (label) label->setText(ProgressText(read));
        });
    };
    FStop->setVisible(true);
    try {
        RunInBackground(work);
    } catch (const EAbort&) {
        // The statement the stop ended; any other abort is the caller's.
        if (!FStopRequested) throw;
        return true;
    }
    return rows.FetchStopped();
}

void TViewDataLoader::Stop() {
    if (FRunning.empty() || FStopper.joinable()) return;
    FStopRequested = true;
    FStopper = std::thread([dataSets = FRunning] {
        for (dac::TCustomMyDataSet* dataSet : dataSets) dataSet->BreakQuery();
    });
}

}  // namespace calvoro::app
