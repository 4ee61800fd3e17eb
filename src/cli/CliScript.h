#pragma once
// calvoro-cli script: a SQL script run statement by statement on a connection that passes its
// bytes unchanged, each failing statement reported with its line.

#include "CliOptions.h"

#include <cstdio>

namespace calvoro::cli {

// Runs the script of options.File ("-": standard input); reports failures, a progress bar (on
// a terminal) and the summary on err. Returns the exit status: 1 when a statement failed or
// the script could not be read to its end, 0 otherwise. Raises when it cannot start (no file,
// no connection).
int RunScript(const TCliOptions& options, FILE* err);

}  // namespace calvoro::cli
