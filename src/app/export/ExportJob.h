#pragma once
// Writes the rows of a data set to a file on a worker thread, with a count of the rows
// written and a stop. The rows are taken as they stand when the job is made; the data set
// must not change until the job ended (the caller holds the tools session busy meanwhile).
// The file takes the place of an existing one only when complete: a stop or a failure leaves
// nothing behind.

#include "export/ExportWriters.h"
#include "export/RecordRows.h"

#include <QString>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace calvoro::dac {
class TMemDataSet;
}

namespace calvoro::app {

class TExportJob {
public:
    TExportJob(dac::TMemDataSet& dataSet, exporting::TExportOptions options, QString path);
    // Stops a job still running and waits for it.
    ~TExportJob();
    TExportJob(const TExportJob&) = delete;
    TExportJob& operator=(const TExportJob&) = delete;

    void Start();
    // Asks the worker to stop; it does at the next row.
    void Stop() { FStopRequested = true; }
    // Whether the worker ended; then Wait returns at once.
    bool Finished() const { return FFinished.load(std::memory_order_acquire); }
    void Wait();

    qint64 RowCount() const { return qint64(FRecords.size()); }
    qint64 RowsWritten() const { return FRowsWritten; }
    // Once finished: stopped before the end, or the error that ended it (empty on success).
    bool Stopped() const { return FStopped; }
    const QString& Error() const { return FError; }

private:
    void Run();

    exporting::TRecordRowReader FReader;
    std::vector<const uint8_t*> FRecords;
    exporting::TExportOptions FOptions;
    QString FPath;
    std::thread FWorker;
    std::atomic<bool> FStopRequested = false;
    std::atomic<bool> FFinished = false;
    std::atomic<qint64> FRowsWritten = 0;
    bool FStopped = false;
    QString FError;
};

// The table a data set's rows come from when all its columns name the same one; empty
// otherwise.
dac::TObjectName DefaultExportTable(dac::TMemDataSet& dataSet);

}  // namespace calvoro::app
