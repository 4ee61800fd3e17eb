#!/usr/bin/env bash
# Installs what is needed, builds with AddressSanitizer and UndefinedBehaviorSanitizer, and
# runs every test (the integration tests start their own MariaDB server). Then, in a second
# build folder, builds the tests whose work runs on worker threads (scripts and their
# read-ahead, backups and restores, the restore on several connections, the custom query,
# the editor's completion, Stop) with ThreadSanitizer and runs them.
#
# Arguments go to the first ctest run; with arguments the ThreadSanitizer part is left out
# unless CALVORO_TEST_TSAN=1, and CALVORO_TEST_TSAN=0 always leaves it out.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${CALVORO_TEST_BUILD:-$root/build/sanitize}
tsan_build=${CALVORO_TSAN_BUILD:-$root/build/tsan}
jobs=$(nproc)

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCALVORO_SANITIZE=ON
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs" "$@"

run_tsan=${CALVORO_TEST_TSAN:-}
if [ -z "$run_tsan" ]; then
    if [ $# -eq 0 ]; then run_tsan=1; else run_tsan=0; fi
fi
if [ "$run_tsan" = 1 ]; then
    started=$(date +%s)
    tsan_tests=(dataaccess_integration_tests script_integration_tests dump_integration_tests dump_parallel_tests
        app_integration_tests app_export_tests completion_integration_tests)
    cmake -S "$root" -B "$tsan_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCALVORO_TSAN=ON \
        -DCALVORO_BENCH=OFF
    cmake --build "$tsan_build" -j "$jobs" --target "${tsan_tests[@]}"
    pattern="^(test_server_start|test_server_stop|$(IFS='|'; echo "${tsan_tests[*]}"))\$"
    ctest --test-dir "$tsan_build" --output-on-failure -j "$jobs" -R "$pattern"
    echo "ThreadSanitizer build and tests: $(( $(date +%s) - started )) s" >&2
fi
