#pragma once
// calvoro-cli backup and restore: a database written as a SQL script, and such a script
// executed back, on a connection that keeps bytes unchanged (8-bit, utf8mb4).

#include "CliOptions.h"

#include <cstdio>

namespace calvoro::cli {

// Writes the backup to options.Output, or to out without one. Returns the exit status (0);
// raises when the backup fails (an existing output file is then left as it was).
int RunBackup(const TCliOptions& options, FILE* out, FILE* err);

// Restores options.File ("-": standard input); failures, progress (on a terminal) and the
// summary go to err. Returns 1 when a statement failed or the script could not be read.
int RunRestore(const TCliOptions& options, FILE* err);

}  // namespace calvoro::cli
