#pragma once
// The fuzz targets' invariant check: a broken invariant aborts, which libFuzzer reports with
// the input and the seed replay test reports as a failed test.

#include <cstdlib>

namespace calvoro::fuzz {

inline void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace calvoro::fuzz
