#!/usr/bin/env bash
# Builds and runs every test: the regular build, then the whole suite under
# AddressSanitizer + UndefinedBehaviorSanitizer, then the concurrency tests under
# ThreadSanitizer, the fuzz targets, and last the Windows build (MinGW-w64) with its suite
# under Wine. Fails on any test failure or sanitizer report; prints the time of each part.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(nproc)
timings=()
part_start=$SECONDS
part_done() {
    timings+=("$1 $((SECONDS - part_start)) s")
    part_start=$SECONDS
}
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp

for preset in dev asan; do
    echo "== $preset build" >&2
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
    part_done "$preset"
done

# Only the programs that hold those tests are built (a test of several threads elsewhere adds
# its program here).
echo "== tsan build (tests that run several threads)" >&2
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs" --target test_memory test_channel test_projection \
    test_reliability
ctest --preset tsan -j "$jobs" -R 'Concurren|Thread'
part_done tsan

# Every fuzz target for a bounded time over its seed corpus (clang, ASan + UBSan).
scripts/fuzz.sh
part_done fuzz

# The Windows DLLs and programs, their tests run under Wine in a prefix inside the build tree;
# the comparisons with Linux use the dev build's uvwhost.
echo "== mingw build (tests under Wine)" >&2
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$jobs"
ctest --preset mingw -j "$jobs"
part_done mingw

echo "== time per part: $(IFS=,; echo "${timings[*]}" | sed 's/,/, /g')" >&2
