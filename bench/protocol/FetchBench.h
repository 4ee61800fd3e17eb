#pragma once
// fetch_bench: reading every row of a query through our client API or through libmariadb,
// the same way, for a side-by-side comparison. The two clients live in separate files, as
// libmariadb's header defines names that our protocol layer defines too.

#include "support/BenchOptions.h"

#include <cstdint>
#include <string>

struct TBenchResult {
    uint64_t Rows = 0;
    uint64_t Bytes = 0;     // sum of the value lengths each client reports
    uint64_t Checksum = 0;  // sum of every value byte, so that every byte is read
    double Seconds = 0;     // from sending the query to the end of the rows
};

// Both raise std::runtime_error with the client's error text.
TBenchResult RunOurs(const TBenchOptions& options);
TBenchResult RunPeer(const TBenchOptions& options);
// Creates calvoro_bench.fetch_rows (mixed types) with options.SetupRows rows.
void SetupTable(const TBenchOptions& options);

// Reads every byte of a value.
inline uint64_t Touch(const uint8_t* p, uint64_t length) {
    uint64_t sum = 0;
    for (uint64_t i = 0; i < length; ++i) sum += p[i];
    return sum;
}
