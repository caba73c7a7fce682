#!/usr/bin/env bash
# Builds the benchmarks and the reference host, times the showcase render with one and two
# threads, runs the benchmarks and prints the summary table of figures and ratios with every
# missed target marked '!'.
# Extra arguments go to the benchmark program (e.g. --benchmark_filter=environment).
# Environment: BENCH_BUILD_DIR (default build/bench), RELEASE_BUILD_DIR (build/release),
# BENCH_REPETITIONS (5), BENCH_MIN_TIME (0.1 s per repetition), RENDER_RUNS (3),
# RENDER_SIZE (1280x640), BENCH_QUIET_LOAD (unset; when set, the measurements first wait up to
# BENCH_QUIET_WAIT seconds (1800) for the 1-minute load average to drop below it: two-thread
# figures mean nothing while other work holds a core).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

bench_dir=${BENCH_BUILD_DIR:-build/bench}
release_dir=${RELEASE_BUILD_DIR:-build/release}
repetitions=${BENCH_REPETITIONS:-5}
min_time=${BENCH_MIN_TIME:-0.1}
render_runs=${RENDER_RUNS:-3}
render_size=${RENDER_SIZE:-1280x640}
jobs=$(nproc)

wait_for_quiet() {
    [ -n "${BENCH_QUIET_LOAD:-}" ] || return 0
    local waited=0
    while awk -v limit="$BENCH_QUIET_LOAD" '{ exit !($1 >= limit) }' /proc/loadavg; do
        if [ "$waited" -ge "${BENCH_QUIET_WAIT:-1800}" ]; then
            echo "   load still $(cut -d' ' -f1 /proc/loadavg); measuring anyway" >&2
            return 0
        fi
        sleep 10
        waited=$((waited + 10))
    done
}

echo "== building the benchmarks ($bench_dir)" >&2
cmake --preset bench -B "$bench_dir" >/dev/null
cmake --build "$bench_dir" -j "$jobs" --target uvwgens_bench

echo "== building the reference host ($release_dir)" >&2
cmake --preset release -B "$release_dir" >/dev/null
cmake --build "$release_dir" -j "$jobs" --target uvwgens uvwhost

# The showcase render: the best wall time of a few runs per thread count. Timed before the
# benchmarks, whose own load would otherwise be waited out.
uvwhost="$release_dir/host/uvwhost/uvwhost"
image=$(mktemp --suffix=.png)
trap 'rm -f "$image"' EXIT
best_time() {
    local best=
    for _ in $(seq "$render_runs"); do
        local start end
        start=$(date +%s.%N)
        "$uvwhost" render --quiet --width "${render_size%x*}" --height "${render_size#*x}" \
            --threads "$1" -o "$image" 2>/dev/null
        end=$(date +%s.%N)
        best=$(awk -v s="$start" -v e="$end" -v b="$best" 'BEGIN { t = e - s; print (b == "" || t < b) ? t : b }')
    done
    echo "$best"
}
wait_for_quiet
echo "== timing the showcase render ($render_size, best of $render_runs)" >&2
render_load=$(cut -d' ' -f1-3 /proc/loadavg)
one=$(best_time 1)
two=$(best_time 2)

# Repetitions of different benchmarks are interleaved at random, so that a passing burst of
# other work on the machine does not fall on all repetitions of one figure.
log="$bench_dir/bench.log"
echo "== running the benchmarks ($repetitions repetitions; Google Benchmark's output in $log)" >&2
"$bench_dir/bench/uvwgens_bench" --benchmark_repetitions="$repetitions" \
    --benchmark_min_time="$min_time" --benchmark_enable_random_interleaving=true \
    --benchmark_display_aggregates_only=true "$@" 2>"$log"

echo
echo "Showcase render ($render_size, uvwhost render, release build; load average $render_load):"
echo
awk -v one="$one" -v two="$two" 'BEGIN {
    printf "| threads | seconds |\n|--------:|--------:|\n| 1 | %.3f |\n| 2 | %.3f |\n", one, two
    ratio = one / two
    printf "\n2-thread/1-thread render throughput: %.2f%s (target >= 1.8)\n", ratio, ratio < 1.8 ? " !" : ""
}'
