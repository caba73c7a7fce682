// Many render threads evaluating one TexMultiProjection at once, each through its own cache.
#include "TexMultiProjectionScene.h"
#include "scene/TextureStandIns.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

using namespace multitest;
using KUtils::ShadingContext;

PluginBase* base(PluginBase* p) {
    return p;
}

// The distance from centre, as a depth texture recorded from there would give it.
kivohost::ColorTexture::Function distanceFrom(Vector4f centre) {
    return [centre](const ShadingContext& sc) {
        const float dx = sc.shadingPoint.x - centre.x;
        const float dy = sc.shadingPoint.y - centre.y;
        const float dz = sc.shadingPoint.z - centre.z;
        const float d = std::sqrt(dx * dx + dy * dy + dz * dz);
        return AColor{d, d, d, 1.0f};
    };
}

TEST(TexMultiProjectionConcurrency, ThreadsGetTheSingleThreadedColours) {
    constexpr int threads = 8;
    constexpr int points = 96;
    Scene scene;
    scene.session.sequence.numThreads = threads;
    kivohost::ColorTexture depthA(distanceFrom({0, 0, 10, 0}), {}, {}, "");
    kivohost::ColorTexture depthB(
        [](const ShadingContext&) {
            return AColor{9, 9, 9, 1};
        },
        {}, {}, "");
    scene.setList(scene.multi, "color_textures",
                  {base(scene.linked({1, 0, 0, 1}, scene.projection({0, 0, 10}))),
                   base(scene.linked({0, 1, 0, 1}, scene.projection({0, 6, 8}))),
                   base(scene.linked({0, 0, 1, 0.5f}, scene.projection({-4, 0, 3})))});
    scene.setList(scene.multi, "zdepth_textures", {base(&depthA), base(&depthB)});
    scene.beginFrame();

    auto contextAt = [&](int i, int thread, std::uint32_t stamp) {
        const float x = float(i % 12) - 5.5f;
        const float y = float(i / 12) - 3.5f;
        ShadingContext sc = scene.context({x, y, 0.1f * x, 0}, {0, 0.1f, 1, 0});
        sc.threadData.threadIndex = thread;
        sc.evalStamp = stamp;
        sc.evalSlot = i % 3;
        return sc;
    };
    std::vector<AColor> expected(points);
    for (int i = 0; i < points; ++i) {
        ShadingContext sc = contextAt(i, 0, 1);
        sc.flags = KUtils::SC_FLAG_BYPASS_TEXTURE_CACHE;
        expected[i] = scene.eval(sc);
    }
    // The blend differs from point to point, so a colour served from the wrong entry shows.
    EXPECT_NE(expected[0].r, expected[1].r);

    std::vector<std::vector<AColor>> results(threads, std::vector<AColor>(points * 2));
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < points; ++i) {
                // Each point twice under its own stamp: computed, then served from the cache.
                const ShadingContext sc = contextAt(i, t, std::uint32_t(i + 1));
                scene.texture().evalColor(results[t][2 * i], sc);
                scene.texture().evalColor(results[t][2 * i + 1], sc);
            }
        });
    }
    for (std::thread& w : workers) {
        w.join();
    }
    for (int t = 0; t < threads; ++t) {
        for (int i = 0; i < 2 * points; ++i) {
            EXPECT_EQ(std::memcmp(&results[t][i], &expected[i / 2], sizeof(AColor)), 0)
                << "thread " << t << " evaluation " << i;
        }
    }
}

} // namespace
