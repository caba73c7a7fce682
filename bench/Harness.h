// What every benchmark shares: plugin instances driven as a renderer drives them, the cases
// (one plugin configuration, the operations it answers and the figures it is held to), and
// the one loop that evaluates a pass over the precomputed contexts.
#pragma once

#include "BenchScene.h"
#include "kivo/PluginModel.h"
#include "kivo/ShadingContext.h"
#include "sdk/ParamValues.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace KUtils {
class UVWGenOstrelInterface;
}

namespace bench {

// The evaluation operations, as the interfaces name them.
enum class Op { UVW, Derivs, Transform, Basis, Color };
const char* opName(Op op);

// Stamps of a pass: a fresh one per call (a cached plugin always misses) or the same one for
// the whole pass (every call after the first is served from the calling thread's cache).
enum class Stamps { Fresh, Same };

// One pass per benchmark iteration: call(sc) for every context, stamped as asked. A stamp
// counter restarts with every run; it would need 2^32 calls in one run to wrap to 0.
template <class Call>
void evaluateOverContexts(benchmark::State& state, std::vector<KUtils::ShadingContext>& contexts,
                          Stamps stamps, Call call) {
    const std::uint32_t step = stamps == Stamps::Fresh ? 1u : 0u;
    std::uint32_t stamp = 1;
    std::uint64_t valid = 0;
    for (auto _ : state) {
        for (KUtils::ShadingContext& sc : contexts) {
            stamp += step;
            sc.evalStamp = stamp;
            valid += std::uint64_t(call(sc));
        }
    }
    benchmark::DoNotOptimize(valid);
    state.SetItemsProcessed(state.iterations() * std::int64_t(contexts.size()));
}

// One plugin instance: created by its descriptor, given parameters, prepared for the frame
// (prepareRender, the render settings when it takes them, frameBegin), queried for interfaces
// by id; the frame and render are finished and the instance deleted with this object.
class PluginInstance {
public:
    PluginInstance(KUtils::PluginDesc& desc, KUtils::KivoRenderer& renderer);
    ~PluginInstance();
    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;

    // Abort on an unknown name or a value the parameter does not take: a benchmark of a
    // misconfigured plugin would measure the wrong thing.
    void set(const char* name, const KUtils::ParamValue& value);
    void setList(const char* name, const std::vector<KUtils::ParamValue>& elements);
    void start();

    template <class Interface>
    Interface* iface(KUtils::InterfaceID id) const {
        return static_cast<Interface*>(instance->getInterface(id));
    }
    KUtils::PluginBase* plugin() const { return instance; }

private:
    KUtils::PluginDesc& desc;
    KUtils::KivoRenderer& renderer;
    KUtils::PluginBase* instance;
    bool started = false;
};

// The mapping math behind a case's evalUVW, called as free functions over the same contexts:
// the reference the plugin's plumbing is measured against.
struct DirectPath {
    std::shared_ptr<const void> state;
    void (*run)(benchmark::State&, const void* state, std::vector<KUtils::ShadingContext>&);
    int (*eval)(const void* state, const KUtils::ShadingContext& sc, KUtils::Vector4f& uvw);
};

template <class S, int (*Fn)(const S&, const KUtils::ShadingContext&, KUtils::Vector4f&)>
DirectPath directPath(S state) {
    DirectPath path;
    path.state = std::make_shared<const S>(std::move(state));
    path.run = [](benchmark::State& bs, const void* s, std::vector<KUtils::ShadingContext>& cs) {
        const S& st = *static_cast<const S*>(s);
        evaluateOverContexts(bs, cs, Stamps::Fresh, [&st](const KUtils::ShadingContext& sc) {
            KUtils::Vector4f uvw;
            const int valid = Fn(st, sc, uvw);
            benchmark::DoNotOptimize(uvw);
            return valid;
        });
    };
    path.eval = [](const void* s, const KUtils::ShadingContext& sc, KUtils::Vector4f& uvw) {
        return Fn(*static_cast<const S*>(s), sc, uvw);
    };
    return path;
}

// The floor of a case: the same mapping written inline from its formulas with analytic
// derivatives (FloorMappings.h), over the same contexts; what the plugin's evalUVW and
// evalUVWDerivs are measured against.
struct FloorPath {
    std::shared_ptr<const void> state;
    void (*run)(benchmark::State&, const void* state, std::vector<KUtils::ShadingContext>&, Op);
    int (*eval)(const void* state, const KUtils::ShadingContext& sc, Op, KUtils::Vector4f out[3]);
};

template <class S, int (*Value)(const S&, const KUtils::ShadingContext&, KUtils::Vector4f&),
          int (*Derivs)(const S&, const KUtils::ShadingContext&, KUtils::Vector4f*)>
FloorPath floorPath(S state) {
    FloorPath path;
    path.state = std::make_shared<const S>(std::move(state));
    path.run = [](benchmark::State& bs, const void* s, std::vector<KUtils::ShadingContext>& cs,
                  Op op) {
        const S& st = *static_cast<const S*>(s);
        if (op == Op::UVW) {
            evaluateOverContexts(bs, cs, Stamps::Fresh, [&st](const KUtils::ShadingContext& sc) {
                KUtils::Vector4f uvw;
                const int valid = Value(st, sc, uvw);
                benchmark::DoNotOptimize(uvw);
                return valid;
            });
        } else {
            evaluateOverContexts(bs, cs, Stamps::Fresh, [&st](const KUtils::ShadingContext& sc) {
                KUtils::Vector4f out[3];
                const int valid = Derivs(st, sc, out);
                benchmark::DoNotOptimize(out);
                return valid;
            });
        }
    };
    path.eval = [](const void* s, const KUtils::ShadingContext& sc, Op op,
                   KUtils::Vector4f out[3]) {
        const S& st = *static_cast<const S*>(s);
        return op == Op::UVW ? Value(st, sc, out[0]) : Derivs(st, sc, out);
    };
    return path;
}

// Which figures of a case are held to a target.
enum class Target {
    None,
    // Base generators: a cache hit costs at most a quarter of a miss.
    CacheHit,
};

struct Case {
    std::string name;
    const BenchScene* scene = nullptr;
    Flavour flavour;
    KUtils::UVWGenInterface* uvwgen = nullptr;
    KUtils::UVWGenOstrelInterface* ostrel = nullptr;
    KUtils::TextureInterface* texture = nullptr;
    std::vector<Op> ops;
    // Hit and miss figures are taken for a per-thread result cache.
    bool cached = false;
    Target cacheTarget = Target::None;
    // The first pass may grow per-thread caches (allocations then allowed once).
    bool growsOnFirstUse = false;
    // When set, the plugin/direct ratio of evalUVW is held to its target.
    std::unique_ptr<DirectPath> direct;
    // When set, evalUVW and evalUVWDerivs are compared with the floor.
    std::unique_ptr<FloorPath> floor;
};

// The scene, the instances and the cases of one benchmark run. Instances are deleted in the
// reverse order of creation, so that nothing outlives the plugins it reads.
class Bench {
public:
    BenchScene scene;

    PluginInstance& create(KUtils::PluginDesc& desc);
    Case& addCase(std::string name, Flavour flavour, std::vector<Op> ops);
    const std::deque<Case>& allCases() const { return cases; }

    ~Bench();

private:
    std::deque<PluginInstance> instances;
    std::deque<Case> cases;
};

// One call of an operation of a case; the valid flag.
int evaluateOnce(const Case& c, Op op, const KUtils::ShadingContext& sc);

// Benchmark bodies.
void runPlugin(benchmark::State& state, const Case& c, Op op, Stamps stamps);
void runDirect(benchmark::State& state, const Case& c);
void runFloor(benchmark::State& state, const Case& c, Op op);

// The case setups, one per subsystem; each adds what has been built of its plugins.
void addChannelCases(Bench& bench);
void addSpatialCases(Bench& bench);
void addEnvironmentCases(Bench& bench);
void addProjectionCases(Bench& bench);
void addMultiProjectionCases(Bench& bench);
void addOstrelCases(Bench& bench);

} // namespace bench
