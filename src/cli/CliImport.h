#pragma once
// calvoro-cli import: a CSV file loaded into a table.

#include "CliOptions.h"

#include <cstdio>

namespace calvoro::cli {

// Loads options.File ("-": standard input) into options.Table of options.Database; refused
// rows ("line N: reason"), progress (on a terminal) and the summary go to err. Returns 1 when a
// row was refused or the load ended early.
int RunImport(const TCliOptions& options, FILE* err);

}  // namespace calvoro::cli
