// UVWGenPlanarWorld through its interfaces: the absolute world position of the shaded point
// through the shared chain, and its GPU text.
#include "channel/UVWGenPlanarWorld.h"

#include "scene/ShadeStandIns.h"
#include "tests/support/Plugin.h"

#include <gtest/gtest.h>
#include <string>

namespace {

using namespace testsupport;

Vector4f worldUVW(kivohost::RenderSession& session, const ShadingContext& sc) {
    Instance gen(descriptor<UVWGenPlanarWorldDesc>());
    gen.start(session);
    Vector4f uvw;
    EXPECT_EQ(gen.uvw().evalUVW(sc, uvw), 1);
    gen.stop(session);
    return uvw;
}

TEST(UVWGenPlanarWorld, WorldPositionOfTheShadedPoint) {
    kivohost::RenderSession session;
    session.frame.sceneOrigin = {100.0, 0.0, 0.0};
    ShadingContext sc = contextAt(session, {1.0f, 2.0f, 3.0f, 0.0f});
    expectXYZ(worldUVW(session, sc), 101.0f, 2.0f, 3.0f);

    // A reference point is already absolute.
    kivohost::ShadedInstance reference;
    reference.referencePoint = Vector4f{5.0f, 5.0f, 5.0f, 0.0f};
    reference.scenePoint = Vector4f{1.0f, 1.0f, 1.0f, 0.0f};
    sc.shadeInstance = &reference;
    expectXYZ(worldUVW(session, sc), 5.0f, 5.0f, 5.0f);

    // A scene point is relative to the scene origin.
    kivohost::ShadedInstance scene;
    scene.scenePoint = Vector4f{1.0f, 1.0f, 1.0f, 0.0f};
    session.frame.sceneOrigin = {10.0, 0.0, 0.0};
    sc.shadeInstance = &scene;
    expectXYZ(worldUVW(session, sc), 11.0f, 1.0f, 1.0f);

    // An instance that answers neither falls back to the shading point.
    kivohost::ShadedInstance silent;
    sc.shadeInstance = &silent;
    expectXYZ(worldUVW(session, sc), 11.0f, 2.0f, 3.0f);

    // The offset from the surface point is added to the world point.
    session.frame.sceneOrigin = {};
    sc.shadeInstance = nullptr;
    sc.surfacePoint = {1.0f, 2.0f, 2.5f, 0.0f};
    expectXYZ(worldUVW(session, sc), 1.0f, 2.0f, 3.5f);
}

TEST(UVWGenPlanarWorld, GpuText) {
    kivohost::RenderSession session;
    Instance gen(descriptor<UVWGenPlanarWorldDesc>());
    gen.set("uvw_transform", Transform{{{2, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}}, {-1, 0, 0.5}});
    gen.set("wrap_w", 2);
    gen.set("crop_v", 1);
    // Not part of the text.
    gen.set("tex_transform", translation(9, 9, 9));
    gen.set("duvw_scale", 4.0f);
    gen.start(session);
    GPUDataRecord record;
    record.objectSpaceFlag = 1;
    const std::string lines = "uvw_transform 2.000000,0.000000,0.000000,0.000000,1.000000,"
                              "0.000000,0.000000,0.000000,1.000000,-1.000000,0.000000,0.500000\n"
                              "wrap 0,0,2\ncrop 0,1,0\n";
    EXPECT_EQ(gpuText(gen.rt(), "uvw_baked", record), lines);
    EXPECT_EQ(record.objectSpaceFlag, 0);
    EXPECT_EQ(gpuText(gen.rt(), "uvw_coords", record), lines + "map_channel -5\n");
    gen.stop(session);

    // No parameter list is needed for the text: the defaults.
    UVWGenPlanarWorld bare(nullptr);
    EXPECT_EQ(gpuText(bare, nullptr, record),
              "uvw_transform 1.000000,0.000000,0.000000,0.000000,1.000000,0.000000,0.000000,"
              "0.000000,1.000000,0.000000,0.000000,0.000000\n"
              "wrap 0,0,0\ncrop 0,0,0\nmap_channel -5\n");
}

} // namespace
