// The figures of a run, gathered from the benchmark reporter and the checking passes, and the
// summary table that compares them with the targets.
#pragma once

#include "Harness.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <deque>
#include <map>
#include <string>

namespace bench {

// The machine's own two-thread scaling, measured on plain arithmetic.
inline constexpr const char* kReferenceName = "reference/arithmetic/scaling";

// Names under which a case's benchmarks are registered.
std::string missName(const Case& c, Op op);
std::string hitName(const Case& c, Op op);
std::string directName(const Case& c);
std::string floorName(const Case& c, Op op);
std::string threadsName(const Case& c);
// The operation whose throughput is compared across thread counts.
Op scalingOp(const Case& c);

// What the untimed checking passes found for a case.
struct CaseCheck {
    // Host allocations during the first pass after frameBegin (all operations) and during a
    // second one.
    long long firstPassAllocations = 0;
    long long laterPassAllocations = 0;
    // Contexts where the direct math gave another result than the plugin.
    int directMismatches = 0;
    // Contexts where the floor's uvw or derivatives lie outside the tolerance of the plugin's.
    int floorMismatches = 0;
};

// Forwards every run to the console and keeps its time per pass: the "min" aggregate when
// the benchmarks are repeated (the run least disturbed by other work on the machine), else
// the single run.
class SummaryReporter final : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override;

    // Evaluations per second of a benchmark at a thread count, over all its threads, from its
    // CPU time or (for runs on several threads) its wall time; 0 when it did not run.
    enum class Clock { Cpu, Wall };
    double throughput(const std::string& name, int threads, Clock clock) const;

private:
    struct Times {
        double realNs;
        double cpuNs;
    };
    std::map<std::pair<std::string, int>, Times> passTimes;
};

// The statistic the summary reads from repeated runs.
double minimumOf(const std::vector<double>& values);

// The machine's load averages (1, 5, 15 minutes) as /proc/loadavg gives them.
std::string loadAverages();

// Prints the table of figures and ratios, marking every missed target, and the list of
// misses.
void printSummary(std::FILE* out, const std::deque<Case>& cases,
                  const std::map<const Case*, CaseCheck>& checks, const SummaryReporter& results,
                  const std::string& loadBefore, const std::string& loadAfter);

} // namespace bench
