// The explicit and object generators as a renderer drives them (the object generator's cases
// are rows in UVWGenObject.jsonl).
#include "scene/ShadeStandIns.h"
#include "scene/TextureStandIns.h"
#include "spatial/UVWGenExplicit.h"
#include "spatial/UVWGenObject.h"
#include "tests/rows/PluginRows.h"
#include "tests/support/Plugin.h"

#include <array>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace testsupport;
using kivohost::ColorTexture;
using kivohost::FloatTexture;

// The outputs of the three operations at sc, each answering 1: uvw, the three of evalUVWDerivs,
// the transform's columns and offset.
std::array<Vector4f, 8> outputsAt(const Instance& h, const ShadingContext& sc) {
    std::array<Vector4f, 8> out;
    UVWTransform tm;
    EXPECT_EQ(h.uvw().evalUVW(sc, out[0]), 1);
    EXPECT_EQ(h.uvw().evalUVWDerivs(sc, &out[1]), 1);
    EXPECT_EQ(h.uvw().evalUVWTransform(sc, tm), 1);
    out[4] = tm.c0;
    out[5] = tm.c1;
    out[6] = tm.c2;
    out[7] = tm.o;
    return out;
}

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
        kivohost::RenderSession session;
        Instance h(descriptor<UVWGenExplicitDesc>());
        h.set("useSeparateParams", c.mode);
        const std::pair<const char*, PluginBase*> inputs[] = {
            {"u", &u}, {"v", &v}, {"w", &w}, {"uvw", &color}};
        for (int k = 0; k < 4; ++k) {
            if (c.inputs & (1 << k)) {
                h.set(inputs[k].first, inputs[k].second);
            }
        }
        h.start(session);

        ShadingContext sc = contextAt(session, {});
        sc.dPdx = {1, 2, 3, 4};
        sc.dPdy = {5, 6, 7, 8};
        sc.normal = {0, 0.6f, 0.8f, 0.5f};
        // The uvw wherever it appears, no derivatives of its own, the context's frame as the
        // transform's columns; all four lanes.
        const std::array<Vector4f, 8> got = outputsAt(h, sc);
        const Vector4f want[] = {c.uvw, c.uvw, {}, {}, sc.dPdx, sc.dPdy, sc.normal, c.uvw};
        for (int k = 0; k < 8; ++k) {
            expectXYZ(got[k], want[k].x, want[k].y, want[k].z, 0.0f);
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
    kivohost::RenderSession session;
    Instance h(descriptor<UVWGenExplicitDesc>());
    h.set("useSeparateParams", 1);
    h.set("u", &u);
    h.set("v", &v);
    h.set("uvw", &color);
    h.start(session);
    const std::string zeroColor = "color 0.000000 0.000000 0.000000 0.000000\n";
    GPUDataRecord gpu;
    gpu.objectSpaceFlag = 5;
    EXPECT_EQ(gpuText(h.rt(), "", gpu), "color 0.125000 0.125000 0.125000 1.000000\nsubtex\n"
                                        "color 0.500000 0.500000 0.500000 1.000000\nsubtex\n" +
                                            zeroColor + "subtex\nmap_channel -2\n");
    EXPECT_EQ(gpu.objectSpaceFlag, 0);

    // Each connected float texture was asked once for its colour output; the colour texture
    // never, nor was any texture evaluated.
    EXPECT_EQ(u.rtRequests(), std::vector<std::string>{"color"});
    EXPECT_EQ(v.rtRequests(), std::vector<std::string>{"color"});
    EXPECT_TRUE(color.rtRequests().empty());
    EXPECT_EQ(u.evaluations() + v.evaluations() + color.evaluations(), 0u);

    // Unlike the object generator it describes itself even without a parameter list.
    UVWGenExplicit bare(nullptr);
    EXPECT_EQ(gpuText(bare, "", gpu), zeroColor + "subtex\n" + zeroColor + "subtex\n" + zeroColor +
                                          "subtex\n" + "map_channel -2\n");
}

TEST(UVWGenObject, Rows) {
    rows::runRows(ROWS_DIR, "UVWGenObject", {&descriptor<UVWGenObjectDesc>()});
}

// Not a channel generator; an instance made without a parameter list writes no GPU text.
TEST(UVWGenObject, NoChannelTransformAndNoTextWithoutParameters) {
    kivohost::RenderSession session;
    Instance h(descriptor<UVWGenObjectDesc>());
    h.start(session);
    UVWTransform tm;
    EXPECT_EQ(h.uvw().evalChannelTransform(contextAt(session, {}), nullptr, tm, 0), 0);
    h.stop(session);

    GPUDataRecord gpu;
    gpu.objectSpaceFlag = 7;
    UVWGenObject bare(nullptr);
    EXPECT_EQ(gpuText(bare, "", gpu, "MaterialDescriptor", 0), "");
    EXPECT_EQ(gpu.objectSpaceFlag, 7);
}

} // namespace
