// Evaluation cost of every plugin type and mode through the interfaces a renderer calls, the
// cost of the plugin plumbing over the bare mapping math, per-thread cache hits against
// misses, two-thread scaling on one shared instance and host allocations during evaluation.
// Prints Google Benchmark's figures as they come (stderr) and then the summary table (stdout).
#include "Harness.h"
#include "Summary.h"
#include "sdk/HostRuntime.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace {

using namespace bench;
using KUtils::ShadingContext;

using CaseSetup = void (*)(Bench&);
constexpr CaseSetup kSetups[] = {addChannelCases,    addSpatialCases,         addEnvironmentCases,
                                 addProjectionCases, addMultiProjectionCases, addOstrelCases};

long long allocationsDuring(const Case& c, std::vector<ShadingContext>& contexts) {
    const std::size_t before = kivohost::allocationCount();
    std::uint32_t stamp = 1;
    for (Op op : c.ops) {
        for (ShadingContext& sc : contexts) {
            sc.evalStamp = ++stamp;
            evaluateOnce(c, op, sc);
        }
    }
    return static_cast<long long>(kivohost::allocationCount() - before);
}

bool sameResult(const KUtils::Vector4f& a, const KUtils::Vector4f& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Whether the floor's vector lies within tolerance of the plugin's: relative to the larger
// magnitude of the two, with an absolute allowance for values near zero.
bool closeTo(const KUtils::Vector4f& plugin, const KUtils::Vector4f& floor, float relative,
             float absolute) {
    const float size = std::max({std::fabs(plugin.x), std::fabs(plugin.y), std::fabs(plugin.z),
                                 std::fabs(floor.x), std::fabs(floor.y), std::fabs(floor.z)});
    const float limit = relative * size + absolute;
    return std::fabs(plugin.x - floor.x) <= limit && std::fabs(plugin.y - floor.y) <= limit &&
           std::fabs(plugin.z - floor.z) <= limit;
}

// Contexts where the floor departs from the plugin: uvw within 1e-4, derivatives (analytic
// against the plugin's differences over a pixel's step) within 1%.
int floorMismatches(const Case& c, const std::vector<ShadingContext>& contexts) {
    int mismatches = 0;
    for (const ShadingContext& sc : contexts) {
        KUtils::Vector4f plugin[3], floor[3];
        c.uvwgen->evalUVWDerivs(sc, plugin);
        c.floor->eval(c.floor->state.get(), sc, Op::Derivs, floor);
        KUtils::Vector4f value;
        c.floor->eval(c.floor->state.get(), sc, Op::UVW, &value);
        const bool close = closeTo(plugin[0], floor[0], 0.0f, 1e-4f) &&
                           closeTo(plugin[0], value, 0.0f, 1e-4f) &&
                           closeTo(plugin[1], floor[1], 1e-2f, 1e-6f) &&
                           closeTo(plugin[2], floor[2], 1e-2f, 1e-6f);
        mismatches += close ? 0 : 1;
    }
    return mismatches;
}

// Untimed, single-threaded: allocations of a first and a later pass, and whether the direct
// math gives the plugin's results.
CaseCheck check(const Case& c) {
    std::vector<ShadingContext> contexts = c.scene->contexts(c.flavour, 0);
    CaseCheck result;
    result.firstPassAllocations = allocationsDuring(c, contexts);
    result.laterPassAllocations = allocationsDuring(c, contexts);
    if (c.direct) {
        for (ShadingContext& sc : contexts) {
            KUtils::Vector4f plugin, direct;
            const int pluginValid = c.uvwgen->evalUVW(sc, plugin);
            const int directValid = c.direct->eval(c.direct->state.get(), sc, direct);
            if (pluginValid != directValid || !sameResult(plugin, direct)) {
                ++result.directMismatches;
            }
        }
    }
    if (c.floor) {
        result.floorMismatches = floorMismatches(c, contexts);
    }
    return result;
}

// Every benchmark also reports the minimum over repetitions (--benchmark_repetitions).
benchmark::internal::Benchmark* withMinimum(benchmark::internal::Benchmark* b) {
    return b->ComputeStatistics("min", minimumOf);
}

template <class Body>
benchmark::internal::Benchmark* add(const std::string& name, Body body) {
    return withMinimum(benchmark::RegisterBenchmark(name.c_str(), body));
}

// Runs on one and on two threads, timed by the wall clock.
void onOneAndTwoThreads(benchmark::internal::Benchmark* b) {
    b->Threads(1)->Threads(kRenderThreads)->UseRealTime();
}

// What two threads can gain on this machine at the time of the run: a pass of arithmetic on
// registers, nothing shared.
void registerReference() {
    onOneAndTwoThreads(add(kReferenceName, [](benchmark::State& state) {
        double x = 1.0;
        for (auto _ : state) {
            for (int i = 0; i < kContextCount; ++i) {
                x = x * 1.0000001 + 1e-9;
            }
            benchmark::DoNotOptimize(x);
        }
        state.SetItemsProcessed(state.iterations() * kContextCount);
    }));
}

void registerCase(const Case& c) {
    for (Op op : c.ops) {
        add(missName(c, op), [&c, op](benchmark::State& s) { runPlugin(s, c, op, Stamps::Fresh); });
        if (c.cached) {
            add(hitName(c, op),
                [&c, op](benchmark::State& s) { runPlugin(s, c, op, Stamps::Same); });
        }
    }
    if (c.direct) {
        add(directName(c), [&c](benchmark::State& s) { runDirect(s, c); });
    }
    if (c.floor) {
        for (Op op : {Op::UVW, Op::Derivs}) {
            add(floorName(c, op), [&c, op](benchmark::State& s) { runFloor(s, c, op); });
        }
    }
}

void registerScaling(const Case& c) {
    onOneAndTwoThreads(add(threadsName(c), [&c](benchmark::State& s) {
        runPlugin(s, c, scalingOp(c), Stamps::Fresh);
    }));
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    const std::string loadBefore = loadAverages();

    Bench bench;
    for (CaseSetup setup : kSetups) {
        setup(bench);
    }
    // The thread-scaling runs come first, right after the machine's reference, so that they
    // share one stretch of the machine's load (unless repetitions are interleaved at random).
    registerReference();
    for (const Case& c : bench.allCases()) {
        registerScaling(c);
    }
    std::map<const Case*, CaseCheck> checks;
    for (const Case& c : bench.allCases()) {
        checks[&c] = check(c);
        registerCase(c);
    }

    SummaryReporter reporter;
    reporter.SetOutputStream(&std::cerr);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    printSummary(stdout, bench.allCases(), checks, reporter, loadBefore, loadAverages());
    return 0;
}
