#pragma once
// calvoro-cli restore --check, and the mends of a restore: the script read against the server
// before it runs, and the rewrites the user asked for.

#include "CliOptions.h"
#include "dump/RestoreCheck.h"

#include <cstdio>

namespace calvoro::dac {
class TCustomMyConnection;
}

namespace calvoro::cli {

// The mends the options ask for; the engines the server has come from its facts.
dump::TRestoreMends MendsOf(const TCliOptions& options, const dump::TServerFacts& facts);

// Prints the check of options.File against the server to out. Returns 0 when nothing would
// fail, 2 when something would.
int RunRestoreCheck(const TCliOptions& options, dac::TCustomMyConnection& connection, FILE* out);

}  // namespace calvoro::cli
