#pragma once
// Connections to the test server for the data-access tests, and a way to read values back
// through the same session without the record sets.

#include "dataaccess/mysql/MyAccess.h"

#include <QString>

#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace calvoro::test {

// A connection to the test server with the native-password account, login prompt off.
std::unique_ptr<dac::TMyConnection> NewConnection(bool useUnicode = true, const QString& database = {});
// The connection scripts, backups and restores use, connected: 8-bit, speaking utf8mb4, so
// that bytes pass through unchanged.
std::unique_ptr<dac::TMyConnection> ByteConnection(const QString& database = {});

// The first row of `sql` run on the connection's own session: each value as text decoded the
// way the connection decodes, or nothing for NULL. Raises on errors.
std::vector<std::optional<QString>> FirstRow(dac::TCustomMyConnection& connection, const QString& sql);
// Every row of `sql`, the same way.
std::vector<std::vector<std::optional<QString>>> AllRows(dac::TCustomMyConnection& connection, const QString& sql);
// The rows as "a,b|c,d", NULL as "NULL".
QString RowsText(dac::TCustomMyConnection& connection, const QString& sql);
// The first value of the first row.
std::optional<QString> FirstValue(dac::TCustomMyConnection& connection, const QString& sql);
// A server status counter of the session, e.g. "Com_change_db".
int64_t SessionStatus(dac::TCustomMyConnection& connection, const QString& name);

// Runs a statement on a connection of its own on a thread; Finish waits and tells how it ended.
class TSleeper {
public:
    explicit TSleeper(const QString& sql) : FConnection(NewConnection()) {
        FConnection->Connect();
        FId = FConnection->GetThreadId();
        FThread = std::thread([this, sql] {
            try {
                FConnection->ExecSQL(sql);
            } catch (const dac::EMyError& e) {
                FError = e.ErrorCode();
            }
        });
    }
    ~TSleeper() {
        if (FThread.joinable()) FThread.join();
    }
    qint64 Id() const { return FId; }
    // The statement's error code, 0 when it ended without one.
    int Finish() {
        FThread.join();
        return FError;
    }
    dac::TMyConnection& Connection() { return *FConnection; }

private:
    std::unique_ptr<dac::TMyConnection> FConnection;
    qint64 FId = 0;
    int FError = 0;
    std::thread FThread;
};

}  // namespace calvoro::test
