#pragma once
// calvoro-cli processlist and kill: the server's processes for scripts.

#include "CliOptions.h"

#include <cstdio>

namespace calvoro::cli {

// The process list like query prints rows (mariadb --batch), the row count on err; raises on
// failure.
void RunProcessList(const TCliOptions& options, FILE* out, FILE* err);

// KILL [QUERY] for each id in turn; a failure is reported on err and the others go on. The
// exit status: 1 when one failed.
int RunKill(const TCliOptions& options, FILE* err);

}  // namespace calvoro::cli
