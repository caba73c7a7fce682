#include "spatial/UVWGenObject.h"

#include "scene/ShadeStandIns.h"
#include "tests/support/Plugin.h"

#include <gtest/gtest.h>

namespace {

using namespace testsupport;

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

        Vector4f uvw, derivs[3];
        UVWTransform tm;
        EXPECT_EQ(h.uvw().evalUVW(sc, uvw), 1);
        EXPECT_EQ(h.uvw().evalUVWDerivs(sc, derivs), 1);
        EXPECT_EQ(h.uvw().evalUVWTransform(sc, tm), 1);
        const Vector4f got[] = {uvw, derivs[1], derivs[2], tm.c0, tm.c1, tm.c2, tm.o, derivs[0]};
        for (int k = 0; k < 8; ++k) {
            const float* want = &c.v[3 * (k % 7)];
            SCOPED_TRACE(k);
            expectXYZ(got[k], want[0], want[1], want[2], 0.0f);
        }
        // Not a channel generator.
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
