#pragma once
// recordset_bench: every row of a query read into memory, through our record set or through
// libmariadb's buffered results, for a side-by-side comparison. The two clients live in
// separate files, as libmariadb's header defines names that our protocol layer defines too.

#include "support/BenchOptions.h"

#include <cstdint>
#include <string>

struct TBenchResult {
    uint64_t Rows = 0;
    uint64_t Checksum = 0;  // over every value held in memory, so that nothing is left unread
    double Seconds = 0;     // from sending the query until every row is in memory
};

// Both raise std::runtime_error with the client's error text.
TBenchResult RunOurs(const TBenchOptions& options);
TBenchResult RunPeer(const TBenchOptions& options);
