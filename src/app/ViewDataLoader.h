#pragma once
// Reads the rows of View Data's table on a worker thread while the window goes on: the rows
// read so far shown while they come (throttled, so that showing them costs the fetch
// nothing), and a Stop that ends whatever statement runs and keeps the rows read until then.

#include <QObject>
#include <QPointer>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

class QLabel;
class QPushButton;

namespace calvoro::dac {
class TCustomMyDataSet;
class TDBGrid;
class TDBNavigator;
}

namespace calvoro::app {

class TViewDataLoader : public QObject {
public:
    // stop: shown while work runs, stops it when pressed; progress: shows the rows read so far;
    // grid and navigator: the views of the rows, which let them go while they are read.
    TViewDataLoader(QPushButton* stop, QLabel* progress, dac::TDBGrid* grid, dac::TDBNavigator* navigator,
                    QObject* parent = nullptr);
    ~TViewDataLoader() override;

    // Runs work on a worker thread and returns when it ended. Work runs the statements of the
    // data sets given; the rows of `rows` are counted in the progress label, and the views and
    // the after-scroll hook of `rows` wait until they are in. A Stop meanwhile ends the
    // statement that runs, or the reading of the rows (which are kept): true then. Errors
    // other than the stop leave Run.
    bool Run(dac::TCustomMyDataSet& rows, std::vector<dac::TCustomMyDataSet*> dataSets,
             const std::function<void()>& work);
    // Stops a running Run; nothing otherwise. Never waits on the window's thread.
    void Stop();
    // Whether Stop was pressed during the Run under way (for work that should not begin then).
    bool StopRequested() const { return FStopRequested; }

    // Milliseconds between two progress reports at least.
    int ProgressInterval = 200;
    // The progress label's text for rows read so far.
    static QString ProgressText(int rows);

private:
    QPushButton* FStop;
    QPointer<QLabel> FProgress;
    dac::TDBGrid* FGrid;
    dac::TDBNavigator* FNavigator;
    std::vector<dac::TCustomMyDataSet*> FRunning;
    std::atomic<bool> FStopRequested = false;
    std::thread FStopper;  // sends the stop, which opens a connection of its own
};

}  // namespace calvoro::app
