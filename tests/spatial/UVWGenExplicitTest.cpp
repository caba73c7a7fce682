#include "spatial/UVWGenExplicit.h"

#include "PluginHarness.h"
#include "scene/TextureStandIns.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace KUtils;
using kivohost::ColorTexture;
using kivohost::FloatTexture;
using spatialtest::expectXYZ;
using spatialtest::PluginHarness;
using spatialtest::Result;

UVWGenExplicitDesc explicitDesc;

// Connected inputs, as bits.
constexpr int U = 1, V = 2, W = 4, COLOR = 8;

// The colour texture gives (0.25, 0.5, 0.75) and the float textures u 0.125, v 0.375,
// w 0.625. Mode 0 takes the colour texture when it is connected, else the float textures;
// mode 2 always the float textures; mode 1 (and any other value) only the colour texture.
TEST(UVWGenExplicit, EachModeEvaluatesOnlyTheInputsItUses) {
    const struct {
        int mode, inputs;
        Vector4f uvw; // the fourth lane repeats blue when the colour texture supplies it
        int evaluated;
    } cases[] = {
        {0, 0, {0, 0, 0, 0}, 0},
        {1, U | V | W, {0, 0, 0, 0}, 0},
        {0, COLOR | U, {0.25f, 0.5f, 0.75f, 0.75f}, COLOR},
        {1, COLOR | U, {0.25f, 0.5f, 0.75f, 0.75f}, COLOR},
        {2, COLOR | U, {0.125f, 0, 0, 0}, U},
        {0, V, {0, 0.375f, 0, 0}, V},
        {0, U | V | W, {0.125f, 0.375f, 0.625f, 0}, U | V | W},
        {5, COLOR | U | V, {0.25f, 0.5f, 0.75f, 0.75f}, COLOR},
        {-1, U | V, {0, 0, 0, 0}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode) + " inputs " + std::to_string(c.inputs));
        ColorTexture color(AColor{0.25f, 0.5f, 0.75f, 1.0f});
        FloatTexture u(0.125f), v(0.375f), w(0.625f);
        PluginHarness h(explicitDesc);
        h.set("useSeparateParams", c.mode);
        const std::pair<const char*, PluginBase*> inputs[] = {
            {"u", &u}, {"v", &v}, {"w", &w}, {"uvw", &color}};
        for (int k = 0; k < 4; ++k) {
            if (c.inputs & (1 << k)) {
                h.set(inputs[k].first, inputs[k].second);
            }
        }
        h.beginFrame();

        ShadingContext sc = h.context();
        sc.dPdx = {1, 2, 3, 4};
        sc.dPdy = {5, 6, 7, 8};
        sc.normal = {0, 0.6f, 0.8f, 0.5f};
        const spatialtest::Result r = spatialtest::evaluate(h.uvwGen(), sc);
        // The uvw wherever it appears, no derivatives of its own, the context's frame as the
        // transform's columns; all four lanes.
        const Vector4f got[] = {r.uvw,       r.derivs[0], r.tm.o,  r.derivs[1],
                                r.derivs[2], r.tm.c0,     r.tm.c1, r.tm.c2};
        const Vector4f want[] = {c.uvw, c.uvw, c.uvw, {}, {}, sc.dPdx, sc.dPdy, sc.normal};
        for (int k = 0; k < 8; ++k) {
            expectXYZ(got[k], want[k].x, want[k].y, want[k].z);
            EXPECT_EQ(got[k].w, want[k].w) << k;
        }
        // Each of the three operations evaluates exactly the textures that supply it.
        const kivohost::TextureRecord* records[] = {&u, &v, &w, &color};
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(records[k]->evaluations(), c.evaluated & (1 << k) ? 3u : 0u) << k;
        }
    }
}

// The text always describes the separate inputs, whatever the mode and the colour texture:
// each input's own text, or a zero colour for one not connected.
TEST(UVWGenExplicit, GpuTextDescribesTheSeparateInputs) {
    FloatTexture u(0.125f), v(0.5f);
    ColorTexture color(AColor{0.25f, 0.5f, 0.75f, 1.0f});
    // An input whose own code reads object space; the generator's flag is written after it.
    v.objectSpaceFlag = 1;
    PluginHarness h(explicitDesc);
    h.set("useSeparateParams", 1);
    h.set("u", &u);
    h.set("v", &v);
    h.set("uvw", &color);
    h.beginFrame();
    const std::string zeroColor = "color 0.000000 0.000000 0.000000 0.000000\n";
    GPUDataRecord gpu;
    gpu.objectSpaceFlag = 5;
    EXPECT_EQ(spatialtest::gpuText(h.rtTex(), "MaterialDescriptor", gpu, 1),
              "color 0.125000 0.125000 0.125000 1.000000\nsubtex\n"
              "color 0.500000 0.500000 0.500000 1.000000\nsubtex\n" +
                  zeroColor + "subtex\nmap_channel -2\n");
    EXPECT_EQ(gpu.objectSpaceFlag, 0);

    // Other kinds write nothing and ask no input.
    gpu.objectSpaceFlag = 7;
    EXPECT_EQ(spatialtest::gpuText(h.rtTex(), "materialdescriptor", gpu, 0), "");
    EXPECT_EQ(spatialtest::gpuText(h.rtTex(), nullptr, gpu, 0), "");
    EXPECT_EQ(gpu.objectSpaceFlag, 7);
    // Each connected float texture was asked once for its colour output; the colour texture
    // never, nor was any texture evaluated.
    EXPECT_EQ(u.rtRequests(), std::vector<std::string>{"color"});
    EXPECT_EQ(v.rtRequests(), std::vector<std::string>{"color"});
    EXPECT_TRUE(color.rtRequests().empty());
    EXPECT_EQ(u.evaluations() + v.evaluations() + color.evaluations(), 0u);

    // Unlike the object generator it describes itself even without a parameter list.
    UVWGenExplicit bare(nullptr);
    EXPECT_EQ(spatialtest::gpuText(bare, "MaterialDescriptor", gpu, 1),
              zeroColor + "subtex\n" + zeroColor + "subtex\n" + zeroColor + "subtex\n" +
                  "map_channel -2\n");
}

// The explicit generator on many threads at once, through separate inputs with the colour
// texture connected but unused: every result is bit for bit the single-threaded one, the
// textures see every caller's context, and the unused one is never evaluated. (Every plugin
// type through its usual inputs is under StressConcurrency in the reliability tests.)
TEST(UVWGenExplicit, ConcurrentThreadsMatchOneThreadAndTexturesSeeEachContext) {
    ColorTexture color(AColor{1, 1, 1, 1});
    FloatTexture u([](const ShadingContext& sc) { return sc.shadingPoint.z; }, "u\n");
    PluginHarness h(explicitDesc);
    h.set("uvw", &color);
    h.set("u", &u);
    h.set("useSeparateParams", 2);
    h.beginFrame();

    constexpr int points = 64;
    std::vector<ShadingContext> contexts(points, h.context());
    std::vector<Result> expected;
    for (int i = 0; i < points; ++i) {
        contexts[i].shadingPoint = {float(i), float(i % 7) - 3.0f, 0.25f * float(i), 0};
        expected.push_back(spatialtest::evaluate(h.uvwGen(), contexts[i]));
    }
    spatialtest::expectXYZ(expected[5].uvw, 1.25f, 0, 0);

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
                    const Result r = spatialtest::evaluate(h.uvwGen(), sc);
                    // Floats only, no padding: equal results are equal bytes.
                    mismatches[t] += std::memcmp(&r, &expected[i], sizeof r) != 0;
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
    EXPECT_EQ(u.evaluations(), uses);
    EXPECT_EQ(color.evaluations(), 0u);
}

} // namespace
