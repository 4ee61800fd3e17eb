#pragma once
// Loads CSV records into a table: batched multi-row INSERTs, each batch in a transaction of its
// own. A batch the server refuses is rolled back and its rows are sent again one by one in one
// transaction, so that every row the server takes is loaded and every row it refuses is
// reported with its line and the server's reason. Records the reader finds malformed, or with
// a field count other than the column count, are refused before anything is sent.

#include "CsvReader.h"
#include "dataaccess/mysql/MySqlIdentifier.h"

#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

class QIODevice;

namespace calvoro::dac {
class TCustomMyConnection;
}

namespace calvoro::import {

struct TRefusedRow {
    int64_t Line = 0;
    QString Reason;
    bool operator==(const TRefusedRow&) const = default;
};

struct TImportReport {
    int64_t RowsLoaded = 0;
    std::vector<TRefusedRow> Refused;
    bool Stopped = false;       // Stop was asked for; records after CommittedThroughLine were not sent
    QString Failure;            // the error that ended the load early (the connection was lost, …)
    int64_t CommittedThroughLine = 0;  // every row on or before this line is committed or refused
    // One paragraph for the user: rows loaded, refused, and for a load that ended early what
    // is committed and what is not.
    QString Summary() const;
};

struct TImportProgress {
    int64_t BytesRead = 0;
    int64_t RowsLoaded = 0;
    int64_t RowsRefused = 0;
};

// "INSERT INTO `db`.`t` (`a`,`b`) VALUES " (no column list when columns is empty).
QString InsertStatementHead(const dac::TObjectName& table, const QStringList& columns);
// "(NULL,'text')": each field a string literal (the server converts it to the column's type).
void AppendRowValues(QString& statement, const std::vector<std::optional<QString>>& fields, bool backslashEscapes);

class TCsvLoader {
public:
    // columns: the table's columns the fields go to, in order; empty: every column of the table
    // (read from the server).
    TCsvLoader(dac::TCustomMyConnection& connection, dac::TObjectName table, QStringList columns,
               TCsvFormat format);

    // The columns the fields go to.
    QStringList Columns();
    // Bytes of one INSERT statement (rows are added while it is shorter).
    void SetStatementBytes(int64_t bytes) { FStatementBytes = bytes; }

    // Reads input to its end (or until Stop) and loads it. Raises only for what prevents the
    // load from starting (no such table, an unreadable input); later failures end up in the report.
    TImportReport Load(QIODevice& input, const std::function<void(const TImportProgress&)>& progress = {});
    // From any thread: the batch under way is finished, nothing after it is sent.
    void Stop() { FStop = true; }

private:
    struct TBatch {
        std::vector<int64_t> Lines;
        std::vector<QString> Rows;  // "(…)" per record
        int64_t Bytes = 0;
        int64_t EndOffset = 0;
    };
    void Send(TBatch& batch, TImportReport& report);
    void Exec(const QString& sql);

    dac::TCustomMyConnection& FConnection;
    dac::TObjectName FTable;
    QStringList FColumns;
    TCsvFormat FFormat;
    int64_t FStatementBytes = int64_t(1) << 20;
    std::atomic<bool> FStop{false};
    QString FHead;
};

}  // namespace calvoro::import
