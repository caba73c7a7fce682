#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz preset: clang, AddressSanitizer + UndefinedBehavior-
# Sanitizer) and runs each for a bounded time over its committed seed corpus in
# fuzz/corpus/<target>/. Fails on any finding; the input that caused it is kept in
# <build>/artifacts/. Prints the executions and corpus sizes of every target.
#   FUZZ_RUNS       executions per target (default 200000)
#   FUZZ_SECONDS    time limit per target (default 90)
#   FUZZ_SEED       libFuzzer's random seed (default 1): a fixed seed and run count make the
#                   run the same on every machine, so CI cannot fail by chance
#   FUZZ_BUILD_DIR  build directory (default build/fuzz, the preset's)
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${FUZZ_RUNS:-200000}
seconds=${FUZZ_SECONDS:-90}
seed=${FUZZ_SEED:-1}
build=${FUZZ_BUILD_DIR:-build/fuzz}
targets=(fuzz_plugins fuzz_uvwhost_json fuzz_utf8_to_utf16 fuzz_mapping)

echo "== fuzz build" >&2
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" --target uvwgens_fuzz -j "$(nproc)"

# A request no machine can satisfy fails as the host allocator's does (null, which the library
# reports); a successful one over 2 GB is a finding of its own (libFuzzer's malloc limit).
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# Inputs found on the way go to a scratch directory: the committed corpus stays as it is.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/artifacts"

# Each target runs on one core: as many at once as the machine has cores, the two that use
# their whole time first. A target's log and its exit status stay in the scratch directory.
fuzz_target() {
    local target=$1 status=0
    mkdir -p "$scratch/$target"
    "$build/fuzz/$target" -seed="$seed" -runs="$runs" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$target-" "$scratch/$target" "fuzz/corpus/$target" \
        >"$scratch/$target.log" 2>&1 || status=$?
    echo "$status" >"$scratch/$target.status"
}
for target in "${targets[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do
        wait -n || true
    done
    fuzz_target "$target" &
done
wait

status=0
for target in "${targets[@]}"; do
    seeds=fuzz/corpus/$target
    log=$scratch/$target.log
    if [ "$(cat "$scratch/$target.status")" -ne 0 ]; then
        tail -n 60 "$log" >&2
        echo "== $target: FAILED (input in $build/artifacts/)" >&2
        status=1
    fi
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    found=$(find "$scratch/$target" -type f | wc -l)
    echo "== $target: ${executions:-0} executions (seed $seed);" \
        "seed corpus $(find "$seeds" -type f | wc -l) inputs, $found new inputs found"
done
exit $status
