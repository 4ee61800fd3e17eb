#include "ParallelBackup.h"

#include "ByteOutput.h"

#include "common/Exceptions.h"
#include "common/ScopeGuard.h"

#include <QDir>
#include <QFile>

#include <chrono>
#include <cstring>

namespace calvoro::dump {

namespace {

void Run(dac::TMySQLConnection& c, const QString& sql) { QueryRows(c, sql, {}); }

dac::TMySQLConnection& Driver(dac::TCustomMyConnection& connection) {
    dac::TMySQLConnection* c = connection.MySQLConnection();
    if (!c) throw EDatabaseError(QStringLiteral("Connection is not defined"));
    return *c;
}

void PutLength(QByteArray& out, qsizetype at, quint32 length) {
    const unsigned char bytes[4] = {uchar(length), uchar(length >> 8), uchar(length >> 16), uchar(length >> 24)};
    std::memcpy(out.data() + at, bytes, 4);
}

quint32 GetLength(const char* at) {
    const auto* b = reinterpret_cast<const unsigned char*>(at);
    return quint32(b[0]) | quint32(b[1]) << 8 | quint32(b[2]) << 16 | quint32(b[3]) << 24;
}

}  // namespace

std::vector<std::unique_ptr<dac::TCustomMyConnection>> OpenSnapshotConnections(dac::TMySQLConnection& main, int count,
                                                                               const TBackupConnectionFactory& connect,
                                                                               QString& refusal) {
    std::vector<std::unique_ptr<dac::TCustomMyConnection>> connections;
    for (int i = 0; i < count; ++i) {
        try {
            connections.push_back(connect());
            if (!connections.back()->GetConnected()) connections.back()->Connect();
        } catch (const std::exception& e) {
            throw Exception(QStringLiteral("Cannot open backup connection %1 of %2: %3 (a backup on one connection "
                                           "needs no more)")
                                .arg(i + 1)
                                .arg(count)
                                .arg(QString::fromUtf8(e.what())));
        }
        dac::TMySQLConnection& c = Driver(*connections.back());
        Run(c, QStringLiteral("SET SESSION sql_mode = '', time_zone = '+00:00'"));
        Run(c, QStringLiteral("SET SESSION TRANSACTION ISOLATION LEVEL REPEATABLE READ"));
    }
    Run(main, QStringLiteral("SET SESSION TRANSACTION ISOLATION LEVEL REPEATABLE READ"));
    try {
        Run(main, QStringLiteral("FLUSH TABLES WITH READ LOCK"));
    } catch (const dac::EMyError& e) {
        if (e.ErrorCode() != protocol::ER_SPECIFIC_ACCESS_DENIED_ERROR) throw;
        refusal = e.Message();
        return {};
    }
    // No write commits while the snapshots start, so they all see the same commits; the lock
    // goes at once after, also when a snapshot cannot start.
    ScopeExit unlock([&] { Run(main, QStringLiteral("UNLOCK TABLES")); });
    Run(main, QStringLiteral("START TRANSACTION WITH CONSISTENT SNAPSHOT"));
    for (auto& connection : connections)
        Run(Driver(*connection), QStringLiteral("START TRANSACTION WITH CONSISTENT SNAPSHOT"));
    return connections;
}

// --- TParallelRowReader ---

TParallelRowReader::TParallelRowReader(std::vector<std::unique_ptr<dac::TCustomMyConnection>> connections,
                                       QString spoolFolder, bool hexBlob, std::function<bool()> stopped,
                                       TLimits limits)
    : FSpoolFolder(std::move(spoolFolder)), FLimits(limits), FHexBlob(hexBlob), FStopped(std::move(stopped)) {
    for (auto& connection : connections) {
        auto worker = std::make_unique<TWorker>();
        worker->Connection = std::move(connection);
        FWorkers.push_back(std::move(worker));
    }
}

TParallelRowReader::~TParallelRowReader() {
    {
        std::lock_guard lock(FLock);
        FClosing = true;
    }
    FChanged.notify_all();
    for (auto& worker : FWorkers)
        if (worker->Thread.joinable()) worker->Thread.join();
    // The chunks' spool files are removed with them.
}

int TParallelRowReader::Add(const QString& sql, std::vector<bool> isFloat) {
    auto chunk = std::make_unique<TChunk>();
    chunk->Sql = sql;
    chunk->IsFloat = std::move(isFloat);
    FChunks.push_back(std::move(chunk));
    return int(FChunks.size()) - 1;
}

void TParallelRowReader::Start() {
    for (auto& worker : FWorkers) {
        TWorker& w = *worker;
        w.Thread = std::thread([this, &w] { WorkerLoop(w); });
    }
}

QStringList TParallelRowReader::SpoolFiles() const {
    std::lock_guard lock(FLock);
    return FSpoolFiles;
}

bool TParallelRowReader::Stopping() const { return FClosing || (FStopped && FStopped()); }

void TParallelRowReader::WorkerLoop(TWorker& worker) {
    for (;;) {
        size_t index = 0;
        {
            std::lock_guard lock(FLock);
            if (FClosing || FNext >= FChunks.size()) return;
            index = FNext++;
        }
        TChunk& chunk = *FChunks[index];
        std::exception_ptr error;
        try {
            ReadChunk(worker, chunk, index);
        } catch (...) {
            // Raised to the writer when it reaches this chunk.
            error = std::current_exception();
        }
        {
            std::lock_guard lock(FLock);
            chunk.Error = error;
            chunk.Done = true;
        }
        FChanged.notify_all();
    }
}

void TParallelRowReader::ReadChunk(TWorker& worker, TChunk& chunk, size_t index) {
    dac::TMySQLConnection& c = Driver(*worker.Connection);
    std::vector<TValueKind> kinds;
    QByteArray piece;
    piece.reserve(FLimits.Piece + FLimits.Piece / 8);
    QueryRows(c, chunk.Sql, [&](TDumpRows& rows) {
        if (Stopping()) throw EAbort();
        if (kinds.empty()) kinds = RowValueKinds(rows, chunk.IsFloat);
        const qsizetype at = piece.size();
        piece.resize(at + 4);
        AppendRowLiteral(piece, rows, kinds, FHexBlob);
        PutLength(piece, at, quint32(piece.size() - at - 4));
        if (piece.size() >= FLimits.Piece) {
            Deliver(chunk, index, std::move(piece));
            piece = QByteArray();
            piece.reserve(FLimits.Piece + FLimits.Piece / 8);
        }
    });
    if (!piece.isEmpty()) Deliver(chunk, index, std::move(piece));
}

void TParallelRowReader::Deliver(TChunk& chunk, size_t index, QByteArray&& piece) {
    const qsizetype size = piece.size();
    std::unique_lock lock(FLock);
    if (index == FHead) {
        // The writer is at this chunk: it takes the pieces as they come, a few at a time.
        FChanged.wait(lock, [&] { return FClosing || chunk.MemoryBytes < FLimits.Head; });
        if (FClosing) throw EAbort();
    } else if (FMemory + size > FLimits.Memory) {
        // Spooled: written outside the lock; only this thread appends to the chunk.
        lock.unlock();
        if (!chunk.Spool) {
            auto spool = std::make_unique<QTemporaryFile>(QDir(FSpoolFolder).filePath(QStringLiteral(".calvoro-rows-XXXXXX")));
            if (!spool->open())
                throw Exception(QStringLiteral("Cannot create a temporary file in \"%1\" for the backup's rows: %2")
                                    .arg(FSpoolFolder, spool->errorString()));
            lock.lock();
            FSpoolFiles << spool->fileName();
            chunk.Spool = std::move(spool);
            lock.unlock();
        }
        if (chunk.Spool->write(piece) != size || !chunk.Spool->flush())
            throw Exception(QStringLiteral("Cannot write the temporary file \"%1\" of the backup's rows: %2")
                                .arg(chunk.Spool->fileName(), chunk.Spool->errorString()));
        lock.lock();
        chunk.Pieces.push_back({QByteArray(), chunk.SpoolSize, size});
        chunk.SpoolSize += size;
        lock.unlock();
        FChanged.notify_all();
        return;
    }
    chunk.MemoryBytes += size;
    FMemory += size;
    chunk.Pieces.push_back({std::move(piece), -1, size});
    lock.unlock();
    FChanged.notify_all();
}

void TParallelRowReader::Read(int chunkNo, const std::function<void(QByteArrayView)>& row) {
    const size_t index = size_t(chunkNo);
    TChunk& chunk = *FChunks[index];
    {
        std::lock_guard lock(FLock);
        FHead = index;
    }
    FChanged.notify_all();
    QFile spool;
    QByteArray read;
    for (;;) {
        TPiece piece;
        {
            std::unique_lock lock(FLock);
            // A stop is asked for, not signalled: looked at a few times a second.
            while (chunk.Pieces.empty() && !chunk.Done) {
                if (FStopped && FStopped()) throw EAbort();
                FChanged.wait_for(lock, std::chrono::milliseconds(50));
            }
            if (chunk.Done && chunk.Error) std::rethrow_exception(chunk.Error);
            if (chunk.Pieces.empty()) break;
            piece = std::move(chunk.Pieces.front());
            chunk.Pieces.pop_front();
            if (piece.Offset < 0) {
                chunk.MemoryBytes -= piece.Size;
                FMemory -= piece.Size;
            } else if (!spool.isOpen()) {
                spool.setFileName(chunk.Spool->fileName());
            }
        }
        FChanged.notify_all();
        if (piece.Offset >= 0) {
            if (!spool.isOpen() && !spool.open(QIODevice::ReadOnly))
                throw Exception(QStringLiteral("Cannot read the temporary file \"%1\" of the backup's rows: %2")
                                    .arg(spool.fileName(), spool.errorString()));
            read.resize(piece.Size);
            if (!spool.seek(piece.Offset) || spool.read(read.data(), piece.Size) != piece.Size)
                throw Exception(QStringLiteral("Cannot read the temporary file \"%1\" of the backup's rows: %2")
                                    .arg(spool.fileName(), spool.errorString()));
            piece.Bytes = std::move(read);
        }
        const char* data = piece.Bytes.constData();
        for (qsizetype at = 0; at + 4 <= piece.Size;) {
            const qsizetype length = qsizetype(GetLength(data + at));
            row(QByteArrayView(data + at + 4, length));
            at += 4 + length;
        }
        if (piece.Offset >= 0) read = std::move(piece.Bytes);  // its capacity, for the next one
    }
    // Read whole: its spool file goes now.
    spool.close();
    std::lock_guard lock(FLock);
    chunk.Spool.reset();
}

}  // namespace calvoro::dump
