#pragma once
// The connection every command of calvoro-cli works on.

#include "CliOptions.h"
#include "dataaccess/mysql/MyAccess.h"

#include <memory>

namespace calvoro::cli {

// Text as UTF-8, no login prompt; the login from the options (the user's login name without
// -u, MYSQL_PWD without -p), the transport (TCP to the host, or the Unix socket) and the
// connect time-out. Not connected yet.
std::unique_ptr<dac::TMyConnection> NewConnection(const TCliOptions& options);

// With --read-only: refuses (dac::EReadOnlySession) a command that would change the server
// before anything is sent: exec and query of a changing statement, script, restore, kill.
void CheckReadOnly(const TCliOptions& options);

}  // namespace calvoro::cli
