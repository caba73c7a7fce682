// UVWGenEnvironment driven as a renderer drives it: parameters set on its list, frameBegin
// with a render session, evaluation and GPU text through the interfaces found by id.
#include "environment/UVWGenEnvironment.h"

#include "tests/support/Plugin.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace testsupport;

constexpr float kTol = 2e-6f;
// atan2(0.01, 1) / (2 pi): how far u moves per side when a direction on a seam is nudged by
// 0.01 across it.
constexpr float kSeamEps = 0.0015914964f;

class Environment : public ::testing::Test {
protected:
    void set(const char* name, const ParamValue& value) { h.set(name, value); }
    void beginFrame() { h.lifecycle().frameBegin(&session.renderer); }
    UVWGenInterface& gen() { return h.uvw(); }

    ShadingContext context(const Vector4f& dir) {
        ShadingContext sc = contextAt(session, {});
        sc.rayDir = dir;
        return sc;
    }
    Vector4f uvwOf(const Vector4f& dir, int* valid = nullptr) {
        return h.uvwAt(context(dir), valid);
    }
    std::string gpuText(const char* output, GPUDataRecord& gpu) {
        return testsupport::gpuText(h.rt(), output, gpu);
    }
    std::string gpuParameters() {
        GPUDataRecord gpu;
        return gpuText("parameters", gpu);
    }

    kivohost::RenderSession session;
    Instance h{descriptor<UVWGenEnvironmentDesc>()};
};

TEST_F(Environment, UnknownMappingWarnsOncePerFrameBegin) {
    set("mapping_type", std::string("Spherical"));
    set("uvw_transform", Transform{{{2, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}}, {0.5, 0, 0}});
    beginFrame();
    const std::string warning = "[UVWGenEnvironment] Unknown mapping type \"Spherical\"\n";
    EXPECT_EQ(session.log.lines(), std::vector<std::string>{warning});
    // The direction maps to (0, 1, 0) before the transform.
    expectXYZ(uvwOf({1, 2, 3, 0}), 0.5f, 1.0f, 0.0f, 0.0f);
    EXPECT_EQ(gpuParameters().rfind("env_mapping -1\n", 0), 0u);
    beginFrame();
    EXPECT_EQ(session.log.lines(), (std::vector<std::string>{warning, warning}));

    // Without a message log the name is still resolved, silently.
    session.log.clear();
    session.sequence.messageLog = nullptr;
    set("mapping_type", std::string("cubic "));
    beginFrame();
    EXPECT_EQ(gpuParameters().rfind("env_mapping -1\n", 0), 0u);
    session.sequence.messageLog = &session.log;
    set("mapping_type", std::string("screen"));
    beginFrame();
    EXPECT_TRUE(session.log.lines().empty());
    EXPECT_EQ(gpuParameters().rfind("env_mapping 4\n", 0), 0u);
}

TEST_F(Environment, GpuTextGroundAndFlips) {
    set("mapping_type", std::string("mirror_ball"));
    set("uvw_matrix", Matrix3x3f{{0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 0.5f, 0}});
    set("uvw_transform", Transform{{{-1, 0, 0, 0}, {0.25f, 2, 0, 0}, {0, 0, 1, 0}}, {1, 0, -3}});
    set("wrap_u", 1);
    set("wrap_v", 2);
    set("crop_v", 1);
    set("crop_w", 1);
    set("ground_on", 1);
    set("ground_position", Vector4f{10, 0, 2.5f, 0});
    set("ground_radius", 250.0f);
    session.frame.sceneOrigin = {4, 0, 0.5};
    beginFrame();
    EXPECT_EQ(gpuParameters(), "env_mapping 3\n"
                               "env_tex_transform 0.000000,1.000000,0.000000,-1.000000,0.000000,"
                               "0.000000,0.000000,0.000000,0.500000\n"
                               "env_tex_uvw_transform -1.000000,0.000000,0.000000,0.250000,"
                               "2.000000,0.000000,0.000000,0.000000,1.000000,1.000000,0.000000,"
                               "-3.000000\n"
                               "env_hvflips -1.000000,1.000000\n"
                               "ground_on 1\n"
                               "ground_position 6.000000 0.000000 2.000000\n"
                               "ground_radius 250.000000\n");
    // The parameters output leaves the record alone; any other output name writes only wrap
    // and crop, and no object-space coordinates.
    GPUDataRecord gpu;
    gpu.objectSpaceFlag = 1;
    gpuText("parameters", gpu);
    EXPECT_EQ(gpu.objectSpaceFlag, 1);
    for (const char* output : {"uvw", static_cast<const char*>(nullptr)}) {
        gpu.objectSpaceFlag = 1;
        EXPECT_EQ(gpuText(output, gpu), "wrap 1,2,0\ncrop 0,1,1\n");
        EXPECT_EQ(gpu.objectSpaceFlag, 0);
    }

    // A zero scale counts as flipped; without the ground its lines end the text.
    set("uvw_transform", Transform{{{0, 0, 0, 0}, {0, -1, 0, 0}, {0, 0, 1, 0}}, {0, 0, 0}});
    set("ground_on", 0);
    beginFrame();
    const std::string text = gpuParameters();
    EXPECT_TRUE(text.ends_with("env_hvflips -1.000000,-1.000000\nground_on 0\n")) << text;
}

TEST_F(Environment, MatrixTransformWrapAndCrop) {
    // uvw_matrix turns x into y: (1,0,0) maps like (0,1,0), u = 0.75.
    set("uvw_matrix", Matrix3x3f{{0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 1, 0}});
    set("uvw_transform", Transform{{{2, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}}, {0.25, 0, 0}});
    beginFrame();
    int valid = 0;
    Vector4f uvw = uvwOf({1, 0, 0, 0}, &valid);
    EXPECT_EQ(valid, 1);
    EXPECT_FLOAT_EQ(uvw.x, 1.75f);
    EXPECT_FLOAT_EQ(uvw.y, 0.5f);

    // The crop sees u = 1.75 before the wrap; the wrapped uvw is still written.
    set("wrap_u", 1);
    set("crop_u", 1);
    beginFrame();
    uvw = uvwOf({1, 0, 0, 0}, &valid);
    EXPECT_EQ(valid, 0);
    EXPECT_FLOAT_EQ(uvw.x, 0.75f);
    Vector4f out[3];
    EXPECT_EQ(gen().evalUVWDerivs(context({1, 0, 0, 0}), out), 0);
    EXPECT_FLOAT_EQ(out[0].x, 0.75f);

    // Screen: the image position (320, 120) of 640 x 480 through the transform.
    set("mapping_type", std::string("screen"));
    set("crop_u", 0);
    beginFrame();
    ShadingContext sc = context({1, 2, 3, 0});
    sc.imageX = 320.0f;
    sc.imageY = 120.0f;
    expectXYZ(h.uvwAt(sc), 0.25f, 0.75f, 0.0f);
    // Its local transform: the inverse of the frame (dPdx, -dPdy, axis) in image units.
    sc.dPdx = {2, 0, 0, 0};
    sc.dPdy = {0, -4, 0, 0};
    sc.screenFrameAxis = {0, 0, 1, 0};
    UVWTransform tm;
    EXPECT_EQ(gen().evalUVWTransform(sc, tm), 1);
    expectXYZ(tm.c0, 2.0f * 0.5f / 640.0f, 0, 0);
    expectXYZ(tm.c1, 0, 0.25f / 480.0f, 0);
    expectXYZ(tm.c2, 0, 0, 1);
}

TEST_F(Environment, DerivativesAcrossTheSeam) {
    struct Case {
        const char* type;
        Vector4f dir;
        Vector4f dDdx;
        float du; // u(dir + dDdx) - u(dir - dDdx), seam corrected where the type has one
    };
    const Case cases[] = {
        {"spherical", {1, 0, 0, 0}, {0, 0.01f, 0, 0}, -2.0f * kSeamEps},
        {"spherical_kivo", {-1, 0, 0, 0}, {0, 0.01f, 0, 0}, -2.0f * kSeamEps},
        {"max_spherical", {0, 1, 0, 0}, {0.01f, 0, 0, 0}, -2.0f * kSeamEps},
        // No seam correction for the cylinder: the jump across it stays.
        {"max_cylindrical", {0, 1, 0, 0}, {0.01f, 0, 0, 0}, 1.0f - 2.0f * kSeamEps},
    };
    for (const Case& c : cases) {
        set("mapping_type", std::string(c.type));
        beginFrame();
        ShadingContext sc = context(c.dir);
        sc.dDdx = c.dDdx;
        Vector4f out[3];
        EXPECT_EQ(gen().evalUVWDerivs(sc, out), 1);
        EXPECT_NEAR(out[1].x, c.du, 1e-6f) << c.type;
        EXPECT_NEAR(out[1].y, 0.0f, 1e-6f) << c.type;
        EXPECT_EQ(out[2].x, 0.0f) << c.type; // zero dDdy: both sides equal
    }
}

TEST_F(Environment, GroundProjection) {
    // Ground centre (10,0,0) absolute = (6,0,0) relative to the scene origin; eye 2 above it,
    // looking 45 deg down along x: the ray meets the ground at (8,0,0), seen from the centre
    // lifted by the radius (6,0,1) along (2,0,-1): v = 1 - acos(-1/sqrt 5)/pi.
    set("ground_on", 1);
    set("ground_position", Vector4f{10, 0, 0, 0});
    set("ground_radius", 1.0f);
    session.frame.sceneOrigin = {4, 0, 0};
    beginFrame();
    ShadingContext sc = context({1, 0, -1, 0});
    sc.rayOrigin = {6, 0, 2, 0};
    Vector4f uvw;
    gen().evalUVW(sc, uvw);
    EXPECT_FLOAT_EQ(uvw.x, 1.0f);
    EXPECT_NEAR(uvw.y, 0.352416382f, kTol);

    // The host may switch the projection off for a call.
    sc.flags = SC_FLAG_NO_GROUND_PROJECTION;
    gen().evalUVW(sc, uvw);
    EXPECT_NEAR(uvw.y, 0.25f, kTol);
    sc.flags = 0;

    // Looking up: no projection.
    sc.rayDir = {1, 0, 1, 0};
    gen().evalUVW(sc, uvw);
    EXPECT_NEAR(uvw.y, 0.75f, kTol);

    // The up axis comes from the sequence data: with y up the same ray runs parallel to the
    // ground and is not projected.
    session.sequence.up = UpDirectionRecord{{0.0f, 3.0f, 0.0f}};
    beginFrame();
    sc.rayDir = {1, 0, -1, 0};
    gen().evalUVW(sc, uvw);
    EXPECT_NEAR(uvw.y, 0.25f, kTol);
}

TEST_F(Environment, MotionBlurredMatrix) {
    // Column 0 of uvw_matrix is (1, y, 0) with y keyed 0 at t=0, 1 at t=0.5, 3 at t=1, so the
    // direction (1,0,0) maps like (1,y,0): spherical u = 1 - atan2(y,1)/(2 pi).
    const auto matrixWithY = [](float y) {
        return Matrix3x3f{{1, y, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};
    };
    EXPECT_TRUE(setParamKeys(
        h.params(), "uvw_matrix",
        {{0.0, matrixWithY(0.0f)}, {0.5, matrixWithY(1.0f)}, {1.0, matrixWithY(3.0f)}}));
    session.sequence.motionBlur = 1;
    session.sequence.geomSamples = 3;
    session.frame.motionBlurStart = 0.0;
    session.frame.motionBlurEnd = 1.0;
    beginFrame();

    const auto uAt = [&](float time) {
        ShadingContext sc = context({1, 0, 0, 0});
        sc.time = time;
        Vector4f uvw;
        gen().evalUVW(sc, uvw);
        return uvw.x;
    };
    // Samples read at 0, 0.5 and 1 give y = 0, 1, 3; between them y is interpolated.
    EXPECT_NEAR(uAt(0.25f), 0.926208191f, kTol); // y = 0.5
    EXPECT_NEAR(uAt(1.0f), 0.801208191f, kTol);  // y = 3

    // Samples over [0.25, 0.75] are read at 0.25, 0.5 and 0.75: y = 0.5, 1, 2.
    session.frame.motionBlurStart = 0.25;
    session.frame.motionBlurEnd = 0.75;
    beginFrame();
    EXPECT_NEAR(uAt(0.0f), 0.926208191f, kTol);
    EXPECT_NEAR(uAt(1.0f), 0.823791809f, kTol);
    // Two samples (the interval's ends) are interpolated as well.
    session.sequence.geomSamples = 2;
    beginFrame();
    EXPECT_NEAR(uAt(0.0f), 0.926208191f, kTol);
    EXPECT_NEAR(uAt(1.0f), 0.823791809f, kTol);

    // Motion blur off: the matrix cached at the frame time (0) for every time.
    session.sequence.motionBlur = 0;
    beginFrame();
    EXPECT_NEAR(uAt(1.0f), 1.0f, kTol);
    // The GPU text carries the cached matrix, not the samples.
    EXPECT_NE(gpuParameters().find("env_tex_transform 1.000000,0.000000,0.000000,"),
              std::string::npos);
}

} // namespace
