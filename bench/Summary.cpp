#include "Summary.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

namespace bench {

namespace {

// Targets; the benchmarks report them and never fail on them.
constexpr double kMaxDirectRatio = 1.3;
constexpr double kMaxFloorValueRatio = 1.3;
constexpr double kMaxFloorDerivsRatio = 2.0;
// Contexts (of every hundred) where the floor may depart from the plugin: poles and seams.
constexpr int kFloorMismatchPercent = 1;
constexpr double kMaxHitRatio = 0.25;
constexpr double kMinScaling = 1.8;

constexpr const char* kMissMark = " !";

struct Cell {
    std::string text;
    bool missed = false;
};

std::string fixed(double value, int decimals) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

class Table {
public:
    explicit Table(std::vector<std::string> header) { rows.push_back(std::move(header)); }
    void add(std::vector<std::string> row) { rows.push_back(std::move(row)); }
    void print(std::FILE* out) const {
        std::vector<std::size_t> widths(rows.front().size(), 0);
        for (const auto& row : rows) {
            for (std::size_t k = 0; k < row.size(); ++k) {
                widths[k] = std::max(widths[k], row[k].size());
            }
        }
        for (std::size_t r = 0; r < rows.size(); ++r) {
            for (std::size_t k = 0; k < rows[r].size(); ++k) {
                const bool left = k == 0;
                std::fprintf(out, left ? "| %-*s " : "| %*s ", int(widths[k]), rows[r][k].c_str());
            }
            std::fprintf(out, "|\n");
            if (r == 0) {
                for (std::size_t k = 0; k < widths.size(); ++k) {
                    std::fprintf(out,
                                 k == 0 ? "|:%s-" : "|-%s:", std::string(widths[k], '-').c_str());
                }
                std::fprintf(out, "|\n");
            }
        }
    }

private:
    std::vector<std::vector<std::string>> rows;
};

bool has(const Case& c, Op op) {
    return std::find(c.ops.begin(), c.ops.end(), op) != c.ops.end();
}

class CaseFigures {
public:
    CaseFigures(const Case& c, const CaseCheck& check, const SummaryReporter& results,
                std::vector<std::string>& misses)
        : c(c), check(check), results(results), misses(misses) {}

    // Nanoseconds per call of op at one thread, or empty.
    std::string nanoseconds(Op op) const {
        const double ns = nsPerCall(missName(c, op));
        return has(c, op) && ns > 0.0 ? fixed(ns, 1) : "";
    }

    // The worst hit/miss ratio over the operations.
    std::string hitRatio() {
        if (!c.cached) {
            return "";
        }
        double worst = 0.0;
        for (Op op : c.ops) {
            const double hit = nsPerCall(hitName(c, op));
            const double miss = nsPerCall(missName(c, op));
            if (hit > 0.0 && miss > 0.0) {
                worst = std::max(worst, hit / miss);
            }
        }
        if (worst == 0.0) {
            return "";
        }
        return judged(worst, c.cacheTarget == Target::CacheHit && worst > kMaxHitRatio,
                      "hit/miss above " + fixed(kMaxHitRatio, 2));
    }

    std::string directRatio() {
        if (!c.direct) {
            return "";
        }
        if (check.directMismatches != 0) {
            misses.push_back(c.name + ": direct math differs from the plugin at " +
                             std::to_string(check.directMismatches) + " contexts");
            return "differs" + std::string(kMissMark);
        }
        const double plugin = nsPerCall(missName(c, Op::UVW));
        const double direct = nsPerCall(directName(c));
        if (plugin <= 0.0 || direct <= 0.0) {
            return "";
        }
        const double ratio = plugin / direct;
        return judged(ratio, ratio > kMaxDirectRatio,
                      "plugin/direct above " + fixed(kMaxDirectRatio, 1));
    }

    // evalUVW and evalUVWDerivs against the floor, as "values/derivatives".
    std::string floorRatios() {
        if (!c.floor) {
            return "";
        }
        if (check.floorMismatches * 100 > kFloorMismatchPercent * kContextCount) {
            misses.push_back(c.name + ": the floor departs from the plugin at " +
                             std::to_string(check.floorMismatches) + " contexts");
            return "differs" + std::string(kMissMark);
        }
        const double values = ratio(Op::UVW);
        const double derivs = ratio(Op::Derivs);
        if (values <= 0.0 || derivs <= 0.0) {
            return "";
        }
        const bool missed = values > kMaxFloorValueRatio || derivs > kMaxFloorDerivsRatio;
        std::string text = fixed(values, 2) + "/" + fixed(derivs, 2);
        if (missed) {
            misses.push_back(c.name + ": plugin/floor above " + fixed(kMaxFloorValueRatio, 1) +
                             " (values) or " + fixed(kMaxFloorDerivsRatio, 1) + " (derivatives) (" +
                             text + ")");
            text += kMissMark;
        }
        return text;
    }

    std::string scaling() {
        const auto wall = SummaryReporter::Clock::Wall;
        const double one = results.throughput(threadsName(c), 1, wall);
        const double two = results.throughput(threadsName(c), kRenderThreads, wall);
        if (one <= 0.0 || two <= 0.0) {
            return "";
        }
        const double ratio = two / one;
        return judged(ratio, ratio < kMinScaling,
                      std::string(opName(scalingOp(c))) + " 2-thread/1-thread below " +
                          fixed(kMinScaling, 1));
    }

    std::string allocations() {
        const bool missed = check.laterPassAllocations != 0 ||
                            (!c.growsOnFirstUse && check.firstPassAllocations != 0);
        std::string text = std::to_string(check.firstPassAllocations);
        if (check.firstPassAllocations != 0 || check.laterPassAllocations != 0) {
            text.append("/").append(std::to_string(check.laterPassAllocations));
        }
        if (missed) {
            misses.push_back(c.name + ": allocates during evaluation (" + text + ")");
            text += kMissMark;
        }
        return text;
    }

private:
    double ratio(Op op) const {
        const double plugin = nsPerCall(missName(c, op));
        const double floor = nsPerCall(floorName(c, op));
        return plugin > 0.0 && floor > 0.0 ? plugin / floor : 0.0;
    }

    double nsPerCall(const std::string& name) const {
        const double rate = results.throughput(name, 1, SummaryReporter::Clock::Cpu);
        return rate > 0.0 ? 1e9 / rate : 0.0;
    }

    std::string judged(double value, bool missed, const std::string& what) {
        std::string text = fixed(value, 2);
        if (missed) {
            misses.push_back(c.name + ": " + what + " (" + text + ")");
            text += kMissMark;
        }
        return text;
    }

    const Case& c;
    const CaseCheck& check;
    const SummaryReporter& results;
    std::vector<std::string>& misses;
};

} // namespace

std::string missName(const Case& c, Op op) {
    return c.name + "/" + opName(op);
}
std::string hitName(const Case& c, Op op) {
    return missName(c, op) + "/hit";
}
std::string directName(const Case& c) {
    return missName(c, Op::UVW) + "/direct";
}
std::string floorName(const Case& c, Op op) {
    return missName(c, op) + "/floor";
}
std::string threadsName(const Case& c) {
    return missName(c, scalingOp(c)) + "/scaling";
}
Op scalingOp(const Case& c) {
    return c.ops.front();
}

void SummaryReporter::ReportRuns(const std::vector<Run>& runs) {
    for (const Run& run : runs) {
        const bool minimum = run.run_type == Run::RT_Aggregate && run.aggregate_name == "min";
        const std::pair<std::string, int> key{run.run_name.function_name, int(run.threads)};
        if (run.error_occurred || !(minimum || run.run_type == Run::RT_Iteration) ||
            (!minimum && passTimes.count(key) != 0)) {
            continue;
        }
        // Time units are nanoseconds unless a benchmark asks otherwise; none does.
        passTimes[key] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
    }
    ConsoleReporter::ReportRuns(runs);
}

double SummaryReporter::throughput(const std::string& name, int threads, Clock clock) const {
    const auto it = passTimes.find({name, threads});
    if (it == passTimes.end()) {
        return 0.0;
    }
    // A run on several threads reports the wall time of all its threads' passes divided by
    // the number of passes, so one pass's contexts over it is the throughput of all threads.
    const double ns = clock == Clock::Wall ? it->second.realNs : it->second.cpuNs;
    return ns > 0.0 ? double(kContextCount) * 1e9 / ns : 0.0;
}

double minimumOf(const std::vector<double>& values) {
    return values.empty() ? 0.0 : *std::min_element(values.begin(), values.end());
}

std::string loadAverages() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    if (!(file >> one >> five >> fifteen)) {
        return "unknown";
    }
    return one + " " + five + " " + fifteen;
}

void printSummary(std::FILE* out, const std::deque<Case>& cases,
                  const std::map<const Case*, CaseCheck>& checks, const SummaryReporter& results,
                  const std::string& loadBefore, const std::string& loadAfter) {
    std::vector<std::string> misses;
    Table table({"case", "evalUVW ns", "evalUVWDerivs ns", "evalUVWTransform ns",
                 "evalUVWBasis/evalColor ns", "hit/miss", "plugin/direct", "plugin/floor", "2T/1T",
                 "allocs"});
    for (const Case& c : cases) {
        CaseFigures figures(c, checks.at(&c), results, misses);
        const Op other = has(c, Op::Basis) ? Op::Basis : Op::Color;
        table.add({c.name, figures.nanoseconds(Op::UVW), figures.nanoseconds(Op::Derivs),
                   figures.nanoseconds(Op::Transform), figures.nanoseconds(other),
                   figures.hitRatio(), figures.directRatio(), figures.floorRatios(),
                   figures.scaling(), figures.allocations()});
    }
    std::fprintf(out,
                 "\nUVW generator benchmarks: ns per call over %d contexts (1 thread); "
                 "load average before %s, after %s\n\n",
                 kContextCount, loadBefore.c_str(), loadAfter.c_str());
    table.print(out);
    std::fprintf(out,
                 "\nhit/miss: worst over the operations of a call served from the thread's "
                 "cache (same stamp) against a call with a new stamp; target <= %.2f for the "
                 "base generators.\nplugin/direct: evalUVW through the interface against its "
                 "mapping math called as free functions; target <= %.1f.\nplugin/floor: "
                 "evalUVW/evalUVWDerivs "
                 "against the same mapping written inline with analytic derivatives; targets "
                 "<= %.1f/%.1f.\n2T/1T: throughput "
                 "of two threads on one instance against one thread (%s); target >= %.1f.\n"
                 "allocs: host allocations in the first pass after frameBegin (/ in a later "
                 "pass when not 0); target 0 (a texture's first cache growth aside).\n"
                 "'%s' marks a missed target.\n\n",
                 kMaxHitRatio, kMaxDirectRatio, kMaxFloorValueRatio, kMaxFloorDerivsRatio,
                 "the first operation listed", kMinScaling, kMissMark + 1);
    const auto wall = SummaryReporter::Clock::Wall;
    const double one = results.throughput(kReferenceName, 1, wall);
    const double two = results.throughput(kReferenceName, kRenderThreads, wall);
    if (one > 0.0 && two > 0.0) {
        std::fprintf(out,
                     "Machine reference: plain arithmetic on registers scales %.2f from 1 to 2 "
                     "threads during this run (the ceiling of every 2T/1T figure).\n\n",
                     two / one);
    }
    if (misses.empty()) {
        std::fprintf(out, "Every target met.\n");
    } else {
        std::fprintf(out, "Missed targets:\n");
        for (const std::string& miss : misses) {
            std::fprintf(out, "- %s\n", miss.c_str());
        }
    }
}

} // namespace bench
