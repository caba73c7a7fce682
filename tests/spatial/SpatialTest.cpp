// The explicit and object generators as a renderer drives them.
#include "scene/ShadeStandIns.h"
#include "scene/TextureStandIns.h"
#include "spatial/UVWGenExplicit.h"
#include "spatial/UVWGenObject.h"
#include "tests/support/Plugin.h"

#include <algorithm>
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

// Columns (2,0,0), (0,3,0), (1,0,4), offset (10,20,30).
const Transform kUserTransform{Matrix3x3f{{2, 0, 0, 0}, {0, 3, 0, 0}, {1, 0, 4, 4}}, {10, 20, 30}};

enum class Space { None, Unmapped, Rotated };

// The three operations at the point (1,2,3) with dPdx (0.5,0,0) and dPdy (0,0.25,1), with the
// user transform M of kUserTransform. Without object space: uvw = M*(1,2,3) + offset =
// (5,6,12) + offset; the derivatives are M*dP times duvw_scale; the transform keeps the bare
// columns (no duvw_scale) and leaves out the offset. Object space rotated (a quarter turn
// about z, z doubled, moved by (1,2,3)): the object point is (-1,3,9), object dPdx (0,0.5,0),
// object dPdy (-0.25,0,2); the transform's columns are M applied to the object images of
// duvw_scale times the unit axes, and its offset is the evalUVW result.
TEST(UVWGenObject, ThreeOperationsWithAndWithoutObjectSpace) {
    kivohost::ShadedInstance unmapped;
    kivohost::ShadedInstance rotated;
    rotated.objectSpace = UVWTransform{{0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 2, 2}, {1, 2, 3, 3}};
    // Expected x, y, z of uvw (and derivative 0), the dPdx and dPdy derivatives; then the
    // transform's c0, c1, c2 and offset.
    const struct {
        Space space;
        float scale;
        float v[21];
    } cases[] = {
        // clang-format off
        {Space::None,     0.5f, {15, 26, 42,   0.5f, 0, 0,      0.5f, 0.375f, 2,
                                 2, 0, 0,      0, 3, 0,         1, 0, 4,        5, 6, 12}},
        {Space::Unmapped, 0.5f, {15, 26, 42,   0.5f, 0, 0,      0.5f, 0.375f, 2,
                                 2, 0, 0,      0, 3, 0,         1, 0, 4,        5, 6, 12}},
        {Space::None,     0.0f, {15, 26, 42,   0, 0, 0,         0, 0, 0,
                                 2, 0, 0,      0, 3, 0,         1, 0, 4,        5, 6, 12}},
        {Space::Rotated,  0.5f, {17, 29, 66,   0, 0.75f, 0,     0.75f, 0, 4,
                                 0, 1.5f, 0,   -1, 0, 0,        1, 0, 4,        17, 29, 66}},
        {Space::Rotated,  0.0f, {17, 29, 66,   0, 0, 0,         0, 0, 0,
                                 0, 0, 0,      0, 0, 0,         0, 0, 0,        17, 29, 66}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "space " << int(c.space) << " scale " << c.scale);
        kivohost::RenderSession session;
        Instance h(descriptor<UVWGenObjectDesc>());
        h.set("uvw_transform", kUserTransform);
        h.set("duvw_scale", c.scale);
        h.start(session);
        ShadingContext sc = contextAt(session, {});
        sc.shadeInstance = c.space == Space::None       ? nullptr
                           : c.space == Space::Unmapped ? &unmapped
                                                        : &rotated;
        sc.shadingPoint = {1, 2, 3, 0};
        sc.dPdx = {0.5f, 0, 0, 0};
        sc.dPdy = {0, 0.25f, 1, 0};

        const std::array<Vector4f, 8> got = outputsAt(h, sc);
        for (int k = 0; k < 8; ++k) {
            const float* want = &c.v[3 * std::max(k - 1, 0)]; // the uvw twice
            SCOPED_TRACE(k);
            expectXYZ(got[k], want[0], want[1], want[2], 0.0f);
        }
        // Not a channel generator.
        UVWTransform tm;
        EXPECT_EQ(h.uvw().evalChannelTransform(sc, nullptr, tm, 0), 0);
    }
}

TEST(UVWGenObject, GpuTextOnlyForMaterialDescriptorsWithParameters) {
    kivohost::RenderSession session;
    Instance h(descriptor<UVWGenObjectDesc>());
    h.set("uvw_transform", kUserTransform);
    h.set("duvw_scale", 0.5f);
    h.start(session);
    EXPECT_EQ(h.rt().getPlugin(), h.get());
    GPUDataRecord gpu;
    gpu.objectSpaceFlag = 0;
    EXPECT_EQ(gpuText(h.rt(), "", gpu),
              "map_channel -3\n"
              "uvw_transform 2.000000,0.000000,0.000000,0.000000,3.000000,0.000000,1.000000,"
              "0.000000,4.000000,10.000000,20.000000,30.000000\n");
    EXPECT_EQ(gpu.objectSpaceFlag, 1);

    // An instance made without a parameter list writes nothing.
    gpu.objectSpaceFlag = 7;
    UVWGenObject bare(nullptr);
    EXPECT_EQ(gpuText(bare, "", gpu, "MaterialDescriptor", 0), "");
    EXPECT_EQ(gpu.objectSpaceFlag, 7);
}

} // namespace
