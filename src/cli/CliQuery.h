#pragma once
// calvoro-cli query: the rows of a statement printed like mariadb --batch.

#include "CliOptions.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace calvoro::cli {

// Runs the query and writes its results to out and the row counts to err; raises on failure.
void RunQuery(const TCliOptions& options, FILE* out, FILE* err);

// A value as mariadb --batch writes it: tab, newline, backslash and NUL escaped.
void AppendBatchEscaped(std::string& out, std::string_view value);

}  // namespace calvoro::cli
