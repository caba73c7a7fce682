#include "PluginHarness.h"
#include "scene/ShadeStandIns.h"
#include "scene/TextureStandIns.h"
#include "spatial/UVWGenExplicit.h"
#include "spatial/UVWGenObject.h"

#include <cstring>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

using namespace KUtils;

UVWGenObjectDesc objectDesc;
UVWGenExplicitDesc explicitDesc;

// Everything one context yields from the three operations of one generator.
struct Result {
    Vector4f uvw;
    Vector4f derivs[3];
    UVWTransform tm;
};

Result evaluate(UVWGenInterface& gen, const ShadingContext& sc) {
    Result r;
    gen.evalUVW(sc, r.uvw);
    gen.evalUVWDerivs(sc, r.derivs);
    gen.evalUVWTransform(sc, r.tm);
    return r;
}

// Floats only, no padding: equal results are equal bytes.
bool same(const Result& a, const Result& b) {
    return std::memcmp(&a, &b, sizeof(Result)) == 0;
}

TEST(SpatialConcurrency, ManyThreadsMatchOneThreadAndTexturesSeeEachContext) {
    kivohost::ShadedInstance instance;
    instance.objectSpace = UVWTransform{{0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 2, 2}, {1, 2, 3, 3}};
    kivohost::ColorTexture color(
        [](const ShadingContext& sc) {
            return AColor{sc.shadingPoint.x, sc.shadingPoint.y * 0.5f, sc.imageX, 1.0f};
        },
        AColor{}, AColor{1, 1, 1, 1}, "color_from_context\n");
    kivohost::FloatTexture u([](const ShadingContext& sc) { return sc.shadingPoint.z; }, "u\n");
    kivohost::FloatTexture w([](const ShadingContext& sc) { return sc.imageY * 2.0f; }, "w\n");

    spatialtest::PluginHarness object(objectDesc);
    Transform t;
    t.m.c0 = {2, 0, 0, 0};
    t.m.c1 = {0, 3, 0, 0};
    t.m.c2 = {1, 0, 4, 4};
    t.offs = {10, 20, 30};
    object.set("uvw_transform", t);
    object.set("duvw_scale", 0.5f);
    object.beginFrame();

    spatialtest::PluginHarness byColor(explicitDesc);
    byColor.set("uvw", &color);
    byColor.beginFrame();
    spatialtest::PluginHarness bySeparate(explicitDesc);
    bySeparate.set("uvw", &color);
    bySeparate.set("u", &u);
    bySeparate.set("w", &w);
    bySeparate.set("useSeparateParams", 2);
    bySeparate.beginFrame();

    UVWGenInterface* gens[] = {&object.uvwGen(), &byColor.uvwGen(), &bySeparate.uvwGen()};
    constexpr int points = 64;
    std::vector<ShadingContext> contexts(points, object.context());
    std::vector<Result> expected;
    for (int i = 0; i < points; ++i) {
        ShadingContext& sc = contexts[i];
        sc.shadeInstance = i % 2 ? &instance : nullptr;
        sc.shadingPoint = {float(i), float(i % 7) - 3.0f, 0.25f * float(i), 0};
        sc.dPdx = {0.5f, float(i % 3), 0, 0};
        sc.dPdy = {0, 0.25f, float(i % 5), 0};
        sc.imageX = float(i * 3);
        sc.imageY = float(points - i);
        for (UVWGenInterface* gen : gens) {
            expected.push_back(evaluate(*gen, sc));
        }
    }
    // The textures see each caller's context: at point 5, (5, 1, 15) from the colour and
    // (1.25, 0, 118) from the separate inputs; at point 3, (3, 0, 9) and (0.75, 0, 122).
    spatialtest::expectXYZ(expected[5 * 3 + 1].uvw, 5, 1, 15);
    spatialtest::expectXYZ(expected[5 * 3 + 2].tm.o, 1.25f, 0, 118);
    spatialtest::expectXYZ(expected[3 * 3 + 1].derivs[0], 3, 0, 9);
    spatialtest::expectXYZ(expected[3 * 3 + 2].uvw, 0.75f, 0, 122);

    constexpr int threads = 8, rounds = 50;
    std::vector<int> mismatches(threads, 0);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            std::uint32_t stamp = 1;
            for (int round = 0; round < rounds; ++round) {
                for (int i = 0; i < points; ++i) {
                    ShadingContext sc = contexts[i];
                    sc.threadData.threadIndex = t;
                    sc.evalStamp = ++stamp;
                    for (int g = 0; g < 3; ++g) {
                        if (!same(evaluate(*gens[g], sc), expected[i * 3 + g])) {
                            ++mismatches[t];
                        }
                    }
                }
            }
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    for (int t = 0; t < threads; ++t) {
        EXPECT_EQ(mismatches[t], 0) << "thread " << t;
    }
    // Three operations per context: the reference run plus every thread's rounds.
    const std::uint64_t uses = 3u * points * (1 + threads * rounds);
    EXPECT_EQ(color.evaluations(), uses);
    EXPECT_EQ(u.evaluations(), uses);
    EXPECT_EQ(w.evaluations(), uses);
}

} // namespace
