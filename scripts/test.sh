#!/usr/bin/env bash
# Installs what is needed, builds with AddressSanitizer and UndefinedBehaviorSanitizer, and
# runs every test (the integration tests start their own MariaDB server).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${CALVORO_TEST_BUILD:-$root/build/sanitize}
jobs=$(nproc)

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCALVORO_SANITIZE=ON
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs" "$@"
