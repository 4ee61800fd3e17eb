#include "ExportJob.h"

#include "common/Exceptions.h"
#include "dataaccess/common/MemDS.h"

#include <QSaveFile>

namespace calvoro::app {

TExportJob::TExportJob(dac::TMemDataSet& dataSet, exporting::TExportOptions options, QString path)
    : FReader(dataSet), FOptions(std::move(options)), FPath(std::move(path)) {
    // The record of each row, read here on the data set's own thread: the worker only reads
    // the records themselves.
    const int rows = dataSet.ViewRowCount();
    FRecords.reserve(size_t(rows));
    for (int row = 1; row <= rows; ++row)
        if (const uint8_t* record = dataSet.ViewRecord(row)) FRecords.push_back(record);
}

TExportJob::~TExportJob() {
    Stop();
    Wait();
}

void TExportJob::Start() { FWorker = std::thread([this] { Run(); }); }

void TExportJob::Wait() {
    if (FWorker.joinable()) FWorker.join();
}

void TExportJob::Run() {
    try {
        QSaveFile file(FPath);
        if (!file.open(QIODevice::WriteOnly))
            throw Exception(QStringLiteral("Cannot write %1: %2").arg(FPath, file.errorString()));
        auto writer = exporting::NewExportWriter(FOptions, [&](QByteArrayView bytes) {
            if (file.write(bytes.data(), bytes.size()) != bytes.size())
                throw Exception(QStringLiteral("Cannot write %1: %2").arg(FPath, file.errorString()));
        });
        writer->Begin(FReader.Columns());
        for (const uint8_t* record : FRecords) {
            if (FStopRequested) {
                FStopped = true;
                break;  // the unfinished file goes with the QSaveFile
            }
            writer->Row(FReader.Read(record));
            ++FRowsWritten;
        }
        if (!FStopped) {
            writer->End();
            if (!file.commit()) throw Exception(QStringLiteral("Cannot write %1: %2").arg(FPath, file.errorString()));
        }
    } catch (const Exception& e) {
        FError = e.Message();
    } catch (const std::exception& e) {
        FError = QString::fromUtf8(e.what());
    }
    FFinished.store(true, std::memory_order_release);
}

dac::TObjectName DefaultExportTable(dac::TMemDataSet& dataSet) {
    const dac::TCRTableInfo* table = nullptr;
    for (const auto& field : dataSet.Fields()) {
        const auto* desc = dynamic_cast<const dac::TCRFieldDesc*>(&field->Desc());
        if (!desc || !desc->FTableInfo || (table && desc->FTableInfo != table)) return {};
        table = desc->FTableInfo;
    }
    if (!table) return {};
    return {table->Database, table->TableName};
}

}  // namespace calvoro::app
