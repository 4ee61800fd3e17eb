#pragma once
// A backup's rows read on several connections that see one consistent snapshot.
//
// The snapshot: a global read lock (FLUSH TABLES WITH READ LOCK) is held only while the main
// connection and every reading connection start a consistent-snapshot transaction. Without
// the privilege for the lock, none is opened and the caller goes on alone.
//
// The reader: the rows of each query (a table, or one primary-key range of a large one) form a
// chunk; the reading connections take the chunks in order and write each row's literal into
// pieces of about a megabyte. The chunk the writer is at keeps a few pieces in memory (its
// reader waits beyond that); the others keep pieces in memory up to a shared limit and spool
// the rest into a temporary file in the spool folder, which goes with the reader. The writer
// takes the chunks in order, so the rows come in the order one connection would read them.

#include "DumpRows.h"
#include "MyDumpText.h"

#include "dataaccess/mysql/MyAccess.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace calvoro::dump {

using TBackupConnectionFactory = std::function<std::unique_ptr<dac::TCustomMyConnection>()>;

// Opens `count` connections from the factory and starts, on them and on `main`, transactions
// of one consistent snapshot (REPEATABLE READ), each session reading with sql_mode '' and
// time_zone '+00:00'. When the account may not take the global read lock, returns none and
// the server's message in `refusal`; `main` then has no transaction.
std::vector<std::unique_ptr<dac::TCustomMyConnection>> OpenSnapshotConnections(dac::TMySQLConnection& main, int count,
                                                                               const TBackupConnectionFactory& connect,
                                                                               QString& refusal);

class TParallelRowReader {
public:
    struct TLimits {
        // Bytes of pieces held in memory, of every chunk; of the chunk the writer is at; of
        // a reading connection's piece before it is handed on.
        qsizetype Memory = qsizetype(16) << 20;
        qsizetype Head = qsizetype(4) << 20;
        qsizetype Piece = qsizetype(1) << 20;
    };

    // Reads on the connections (already in their snapshot); spools into `spoolFolder`;
    // `stopped` is asked between rows, on every thread.
    TParallelRowReader(std::vector<std::unique_ptr<dac::TCustomMyConnection>> connections, QString spoolFolder,
                       bool hexBlob, std::function<bool()> stopped, TLimits limits);
    // Ends the reading connections' work and removes the spool files.
    ~TParallelRowReader();
    TParallelRowReader(const TParallelRowReader&) = delete;
    TParallelRowReader& operator=(const TParallelRowReader&) = delete;

    // A query whose rows form the next chunk (before Start); isFloat marks the columns read
    // as the double of a FLOAT. Returns the chunk's number.
    int Add(const QString& sql, std::vector<bool> isFloat);
    void Start();
    // Gives each row literal of the chunk, in order, as it arrives; raises the failure of the
    // chunk's query, or EAbort on a stop. Chunks are read in the order they were added.
    void Read(int chunk, const std::function<void(QByteArrayView)>& row);

private:
    // Row literals, each after its length (4 bytes, little-endian): in memory, or at an
    // offset of the chunk's spool file.
    struct TPiece {
        QByteArray Bytes;
        qint64 Offset = -1;
        qint64 Size = 0;
    };
    struct TChunk {
        QString Sql;
        std::vector<bool> IsFloat;
        std::deque<TPiece> Pieces;
        std::unique_ptr<QTemporaryFile> Spool;  // written by its reader only
        qint64 SpoolSize = 0;
        qsizetype MemoryBytes = 0;
        bool Done = false;
        std::exception_ptr Error;
    };
    struct TWorker {
        std::unique_ptr<dac::TCustomMyConnection> Connection;
        std::thread Thread;
    };

    void WorkerLoop(TWorker& worker);
    void ReadChunk(TWorker& worker, TChunk& chunk, size_t index);
    void Deliver(TChunk& chunk, size_t index, QByteArray&& piece);
    bool Stopping() const;

public:
    // Spool files made so far (for tests: they are gone with the reader).
    QStringList SpoolFiles() const;

private:

    std::vector<std::unique_ptr<TWorker>> FWorkers;
    std::vector<std::unique_ptr<TChunk>> FChunks;
    const QString FSpoolFolder;
    const TLimits FLimits;
    const bool FHexBlob;
    const std::function<bool()> FStopped;

    mutable std::mutex FLock;
    QStringList FSpoolFiles;
    std::condition_variable FChanged;
    size_t FNext = 0;               // the next chunk a reading connection takes
    size_t FHead = 0;               // the chunk the writer is at
    qsizetype FMemory = 0;          // bytes of pieces in memory, of every chunk
    std::atomic<bool> FClosing = false;
};

}  // namespace calvoro::dump
