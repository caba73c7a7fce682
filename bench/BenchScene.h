// The host side of the benchmarks: one render session with a pinhole camera, the shade data and
// shaded instances a renderer's meshes would hand the plugins, and a fixed set of shading
// contexts drawn from a seeded generator, so that every run evaluates the same points.
#pragma once

#include "kivo/ShadingContext.h"
#include "scene/ShadeStandIns.h"
#include "sdk/HostRuntime.h"

#include <cstddef>
#include <vector>

namespace bench {

// Contexts per pass: enough that branches and per-point caches see realistic variety. With a
// few thousand, the branch predictor learns the whole repeating sequence of a small loop (the
// direct calls of the cheap projections ran three times faster than on unseen points) while
// the plugin's longer calls keep it from doing so, which distorts plugin/direct.
inline constexpr int kContextCount = 65536;
// Render threads the plugins are prepared for (the machine has two cores).
inline constexpr int kRenderThreads = 2;

// What the shading points are attached to.
struct Flavour {
    // Mesh shade data answering the channel-provider query; otherwise only the ShadeData
    // calls are available.
    bool channelProvider = true;
    // Shaded instances with an object-space mapping; otherwise instances without one.
    bool objectSpace = true;
};

// A rotation by angle (radians) about the unit axis, times scale.
KUtils::Matrix3x3f rotation(const KUtils::Vector4f& axis, float angle, float scale);

class BenchScene {
public:
    BenchScene();
    ~BenchScene();
    BenchScene(const BenchScene&) = delete;
    BenchScene& operator=(const BenchScene&) = delete;

    // The contexts of one render thread: every context carries threadIndex and the flavour's
    // shade data and instances; evalStamp is left at 1.
    std::vector<KUtils::ShadingContext> contexts(const Flavour& flavour, int threadIndex) const;

    KUtils::KivoRenderer& renderer() { return session.renderer; }
    kivohost::RenderSession& renderSession() { return session; }
    // The renderer's camera sampler (pinhole at the scene origin looking down -z).
    const KUtils::KivoCamera& camera() const { return *cameraSampler; }

private:
    kivohost::RenderSession session;
    KUtils::KivoCamera* cameraSampler;
    std::vector<kivohost::MeshShadeData> providerMeshes;
    std::vector<kivohost::MeshShadeData> plainMeshes;
    std::vector<kivohost::ShadedInstance> spaceInstances;
    std::vector<kivohost::ShadedInstance> bareInstances;
    // Per context: which mesh and which instance it lies on.
    std::vector<std::size_t> meshOf;
    std::vector<std::size_t> instanceOf;
    std::vector<KUtils::ShadingContext> base;
};

} // namespace bench
