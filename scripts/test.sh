#!/usr/bin/env bash
# Builds and runs every test: the regular build, then the whole suite under
# AddressSanitizer + UndefinedBehaviorSanitizer, then the concurrency tests under
# ThreadSanitizer. Fails on any test failure or sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(nproc)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

for preset in dev asan; do
    echo "== $preset build" >&2
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
done

echo "== tsan build (tests that run several threads)" >&2
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
ctest --preset tsan -j "$jobs" -R 'Concurren|Thread'

# Every fuzz target for a bounded time over its seed corpus (clang, ASan + UBSan).
scripts/fuzz.sh
