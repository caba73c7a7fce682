#include "Harness.h"

#include "kivo/UVWGenOstrelInterface.h"

#include <cstdio>
#include <cstdlib>

namespace bench {

using namespace KUtils;

namespace {

[[noreturn]] void fail(const char* what, const char* name) {
    std::fprintf(stderr, "bench: %s \"%s\"\n", what, name);
    std::abort();
}

// Calls body with the callable that performs op on the case's interface for one context.
template <class Body>
void withOperation(const Case& c, Op op, Body body) {
    switch (op) {
    case Op::UVW:
        body([gen = c.uvwgen](const ShadingContext& sc) {
            Vector4f uvw;
            const int valid = gen->evalUVW(sc, uvw);
            benchmark::DoNotOptimize(uvw);
            return valid;
        });
        return;
    case Op::Derivs:
        body([gen = c.uvwgen](const ShadingContext& sc) {
            Vector4f out[3];
            const int valid = gen->evalUVWDerivs(sc, out);
            benchmark::DoNotOptimize(out);
            return valid;
        });
        return;
    case Op::Transform:
        body([gen = c.uvwgen](const ShadingContext& sc) {
            UVWTransform tm;
            const int valid = gen->evalUVWTransform(sc, tm);
            benchmark::DoNotOptimize(tm);
            return valid;
        });
        return;
    case Op::Basis:
        body([gen = c.ostrel](const ShadingContext& sc) {
            Vector4f uvw, basis[3];
            const int valid = gen->evalUVWBasis(sc, uvw, basis);
            benchmark::DoNotOptimize(uvw);
            benchmark::DoNotOptimize(basis);
            return valid;
        });
        return;
    case Op::Color:
        body([tex = c.texture](const ShadingContext& sc) {
            AColor color;
            tex->evalColor(color, sc);
            benchmark::DoNotOptimize(color);
            return 1;
        });
        return;
    }
}

} // namespace

const char* opName(Op op) {
    switch (op) {
    case Op::UVW:
        return "evalUVW";
    case Op::Derivs:
        return "evalUVWDerivs";
    case Op::Transform:
        return "evalUVWTransform";
    case Op::Basis:
        return "evalUVWBasis";
    case Op::Color:
        return "evalColor";
    }
    return "?";
}

PluginInstance::PluginInstance(PluginDesc& desc, KivoRenderer& renderer)
    : desc(desc), renderer(renderer), instance(desc.newPlugin(nullptr)) {
    if (!instance) {
        fail("cannot create", desc.getName());
    }
}

PluginInstance::~PluginInstance() {
    if (started) {
        auto* kivo = iface<KivoPluginInterface>(EXT_KIVO_PLUGIN);
        kivo->finishFrame(&renderer);
        kivo->finishRender(&renderer);
    }
    desc.deletePlugin(instance);
}

void PluginInstance::set(const char* name, const ParamValue& value) {
    if (!setParamValue(*paramListOf(instance), name, value)) {
        fail("cannot set parameter", name);
    }
}

void PluginInstance::setList(const char* name, const std::vector<ParamValue>& elements) {
    if (!setParamList(*paramListOf(instance), name, elements)) {
        fail("cannot set list parameter", name);
    }
}

void PluginInstance::start() {
    auto* kivo = iface<KivoPluginInterface>(EXT_KIVO_PLUGIN);
    auto* settings = iface<RenderSettingsInterface>(EXT_RENDER_SETTINGS);
    kivo->prepareRender(&renderer);
    if (settings) {
        settings->updateSequenceData(*renderer.sequenceData);
        settings->updateFrameData(*renderer.frameData);
    }
    kivo->frameBegin(&renderer);
    started = true;
}

PluginInstance& Bench::create(PluginDesc& desc) {
    return instances.emplace_back(desc, scene.renderer());
}

Case& Bench::addCase(std::string name, Flavour flavour, std::vector<Op> ops) {
    Case& c = cases.emplace_back();
    c.name = std::move(name);
    c.scene = &scene;
    c.flavour = flavour;
    c.ops = std::move(ops);
    return c;
}

Bench::~Bench() {
    while (!instances.empty()) {
        instances.pop_back();
    }
}

int evaluateOnce(const Case& c, Op op, const ShadingContext& sc) {
    int valid = 0;
    withOperation(c, op, [&](auto call) { valid = call(sc); });
    return valid;
}

void runPlugin(benchmark::State& state, const Case& c, Op op, Stamps stamps) {
    std::vector<ShadingContext> contexts = c.scene->contexts(c.flavour, state.thread_index());
    withOperation(c, op, [&](auto call) { evaluateOverContexts(state, contexts, stamps, call); });
}

void runDirect(benchmark::State& state, const Case& c) {
    std::vector<ShadingContext> contexts = c.scene->contexts(c.flavour, state.thread_index());
    c.direct->run(state, c.direct->state.get(), contexts);
}

void runFloor(benchmark::State& state, const Case& c, Op op) {
    std::vector<ShadingContext> contexts = c.scene->contexts(c.flavour, state.thread_index());
    c.floor->run(state, c.floor->state.get(), contexts, op);
}

} // namespace bench
