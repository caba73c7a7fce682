#include "projection/UVWGenProjection.h"

#include "scene/Bitmap.h"
#include "scene/Cameras.h"
#include "scene/GpuParamBlocks.h"
#include "scene/ShadeStandIns.h"
#include "scene/TransformTextures.h"
#include "tests/support/Plugin.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <optional>
#include <random>

using namespace testsupport;

namespace {

// The parameter block's 32-bit word at a byte offset.
std::uint32_t wordAt(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    std::uint32_t w;
    std::memcpy(&w, bytes.data() + offset, 4);
    return w;
}

// A block written word by word, little-endian.
std::vector<std::uint8_t> expectedBlock(const std::vector<std::uint32_t>& words) {
    std::vector<std::uint8_t> bytes;
    for (std::uint32_t w : words) {
        for (int i = 0; i < 4; ++i) {
            bytes.push_back(std::uint8_t(w >> (8 * i)));
        }
    }
    return bytes;
}

std::uint32_t f(float v) {
    return std::bit_cast<std::uint32_t>(v);
}

} // namespace

TEST(UVWGenProjection, TransformChainSceneOriginReferencePointAndObjectSpace) {
    kivohost::RenderSession session;
    session.frame.sceneOrigin = {10, 0, 0};
    Instance proj{descriptor<UVWGenProjectionDesc>()};
    proj.set("uvw_transform", scaled(0.5f, {0, 0, -1}));
    proj.set("tex_transform", scaled(2.0f, {1, 2, 3}));
    proj.start(session);

    ShadingContext sc;
    sc.renderer = &session.renderer;
    sc.shadingPoint = {-9, 1, 2, 0};
    sc.dPdx = {1, 0, 0, 0};
    sc.dPdy = {0, 0, 2, 0};
    // World (1, 1, 2) -> p = (0.5, 0.5, 0) -> planar (0.75, 0.75, 0.5) -> tex (2.5, 3.5, 4);
    // the steps halve, halve and double the derivatives.
    auto expectDerivs = [&](const Vector4f& dx, const Vector4f& dy) {
        Vector4f out[3];
        EXPECT_EQ(proj.uvw().evalUVWDerivs(sc, out), 1);
        expectXYZ(out[0], 2.5f, 3.5f, 4.0f);
        expectXYZ(out[1], dx.x, dx.y, dx.z);
        expectXYZ(out[2], dy.x, dy.y, dy.z);
    };
    expectDerivs({0.5f, 0, 0, 0}, {0, 0, 1, 0});

    // The reference point (absolute) replaces the shading point.
    kivohost::ShadedInstance instance;
    instance.referencePoint = Vector4f{1, 1, 2, 0};
    sc.shadeInstance = &instance;
    sc.shadingPoint = {50, 50, 50, 0};
    expectXYZ(proj.uvwAt(sc), 2.5f, 3.5f, 4.0f);

    // In object space the instance's object transform (a quarter turn about z and a move)
    // stands in for the scene origin and the reference point; the derivatives turn with it.
    proj.set("object_space", true);
    proj.begin(session);
    instance.objectSpace =
        UVWTransform{{0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 1, 0}, {51, -49, -48, 0}};
    expectDerivs({0, 0.5f, 0, 0}, {0, 0, 1, 0});
    // Object space without the interface falls back to the world position, not the reference.
    instance.objectSpace.reset();
    instance.referencePoint = Vector4f{7, 7, 7, 0};
    sc.shadingPoint = {-9, 1, 2, 0};
    expectDerivs({0.5f, 0, 0, 0}, {0, 0, 1, 0});

    // Unnamed types: the tex_transform offset and a zero Jacobian.
    for (int type : {0, 7, 42}) {
        proj.set("type", type);
        proj.begin(session);
        int valid = 0;
        const UVWTransform tm = proj.transformAt(sc, &valid);
        EXPECT_EQ(valid, 1);
        expectXYZ(tm.o, 1, 2, 3, 0);
        for (const Vector4f& c : {tm.c0, tm.c1, tm.c2}) {
            expectXYZ(c, 0, 0, 0, 0);
        }
    }
}

TEST(UVWGenProjection, AnglesAndTheTransformedNormalReachTheMapping) {
    kivohost::RenderSession session;
    ShadingContext sc;
    sc.renderer = &session.renderer;
    // Half the default angles: U = 1 at a quarter turn, V = 1 at 45 degrees up.
    Instance spherical{descriptor<UVWGenProjectionDesc>()};
    spherical.set("type", 2);
    spherical.set("u_angle", kPi / 2);
    spherical.set("v_angle", kPi / 4);
    spherical.start(session);
    sc.shadingPoint = {1, 0, 0, 0};
    EXPECT_NEAR(spherical.uvwAt(sc).x, 1.0f, 1e-6f);
    sc.shadingPoint = {0, 1, 1, 0};
    EXPECT_NEAR(spherical.uvwAt(sc).y, 1.0f, 1e-6f);

    // A quarter turn about z takes the point to p = (-0.4, 0.2, 0.6) and the normal +x to +y:
    // the y face, (0.5 x + 0.5, 0.5 z + 0.5, 0.5 y).
    Instance triplanar{descriptor<UVWGenProjectionDesc>()};
    triplanar.set("type", 6);
    triplanar.set("uvw_transform", Transform{{{0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 1, 0}}, {}});
    triplanar.start(session);
    sc.shadingPoint = {0.2f, 0.4f, 0.6f, 0};
    sc.normal = {1, 0, 0, 0};
    expectXYZ(triplanar.uvwAt(sc), 0.3f, 0.8f, 0.1f);
}

TEST(UVWGenProjection, MotionSamplesCountTimesAndInterpolation) {
    kivohost::RenderSession session;
    session.sequence.motionBlur = 1;
    session.frame.motionBlurStart = 0.0;
    session.frame.motionBlurEnd = 1.0;
    Instance proj{descriptor<UVWGenProjectionDesc>()};
    // Scale 1 + x with offset (x, 0, 0), where x rises from 0 to 2 at t = 0.5 and falls to 1
    // at t = 1: planar at the point (1, 0, 0), u = 1 + x.
    auto key = [](double x) { return ParamValue{scaled(float(1 + x), {x, 0, 0})}; };
    ASSERT_TRUE(setParamKeys(*paramListOf(proj.get()), "uvw_transform",
                             {{0.0, key(0)}, {0.5, key(2)}, {1.0, key(1)}}));
    proj.prepare(session);

    ShadingContext sc;
    sc.renderer = &session.renderer;
    sc.shadingPoint = {1, 0, 0, 0};
    // One frame, u at each (time, u).
    auto frameGives = [&](std::initializer_list<std::pair<float, float>> uAtTimes) {
        proj.begin(session);
        for (const auto& [time, u] : uAtTimes) {
            sc.time = time;
            EXPECT_FLOAT_EQ(proj.uvwAt(sc).x, u) << time;
        }
        proj.lifecycle().finishFrame(&session.renderer);
    };
    // The sequence's default of two samples: the ends only, so the peak is missed.
    frameGives({{0.5f, 1.5f}});
    // Three samples at 0, 0.5 and 1, linear between them (matrix and offset).
    proj.set("nsamples", 3);
    frameGives({{0.0f, 1}, {0.25f, 2}, {0.5f, 3}, {0.625f, 2.75f}, {1.0f, 2}});
    // Spread over the blur interval: 0.25, 0.5, 0.75; a second frame begin without
    // finishFrame starts over (no samples leak).
    session.frame.motionBlurStart = 0.25;
    session.frame.motionBlurEnd = 0.75;
    proj.begin(session);
    frameGives({{0.0f, 2}, {0.5f, 3}, {1.0f, 2.5f}});
    // Motion blur off: one transform at the frame time.
    session.sequence.motionBlur = 0;
    session.frame.frameTime = 0.25;
    frameGives({{0.0f, 2}, {1.0f, 2}});
}

TEST(UVWGenProjection, TransformTextureOverridesAndStopsSampling) {
    kivohost::RenderSession session;
    session.sequence.motionBlur = 1;
    kivohost::TransformTexture texture([](const ShadingContext& sc) {
        UVWTransform t;
        t.o = {sc.time * 4, 0, 0, 0};
        return t;
    });
    kivohost::GpuParamBlocks registry;
    Instance proj{descriptor<UVWGenProjectionDesc>()};
    proj.set("uvw_transform", scaled(2, {1, 2, 3}));
    proj.set("uvw_transform_tex", static_cast<PluginBase*>(&texture));
    proj.set("nsamples", 3);
    proj.start(session);

    ShadingContext sc;
    sc.renderer = &session.renderer;
    sc.shadingPoint = {0.2f, 0.4f, 0.6f, 0};
    sc.time = 0.5f;
    // Identity matrix with offset (2, 0, 0) from the texture: uvw_transform is not used.
    expectXYZ(proj.uvwAt(sc), 1.6f, 0.7f, 0.8f);
    EXPECT_EQ(texture.evaluations(), 1u);

    // The GPU block shows that uvw_transform was not sampled at this frame begin: the
    // transform the block carries is still the identity the instance started with.
    ShaderSource source;
    GPUDataRecord gpu;
    gpu.paramBlockRegistry = &registry;
    proj.rt().emitRTSource("", "n", "MaterialDescriptor", source, gpu);
    const std::vector<std::uint8_t>& bytes = registry.find(proj.get())->bytes;
    EXPECT_EQ(wordAt(bytes, 64), f(1.0f));
    EXPECT_EQ(wordAt(bytes, 96), f(0.0f));
    proj.lifecycle().finishFrame(&session.renderer);
}

TEST(UVWGenProjection, GpuTextAndParameterBlock) {
    kivohost::RenderSession session;
    // The registry outlives every registration in it.
    kivohost::GpuParamBlocks registry;
    Instance proj{descriptor<UVWGenProjectionDesc>()};
    proj.set("type", 5);
    proj.set("fittype", 1);
    proj.set("film_gate_w", 36.0f);
    proj.set("film_gate_h", 24.0f);
    proj.set("object_space", true);
    proj.set("uvw_transform",
             Transform{{{1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 0}}, {10.5, -11.25, 12}});
    proj.start(session);

    // Without a registry: the two lines, id -1, object-space flag cleared, result 0.
    ShaderSource plain;
    GPUDataRecord noRegistry;
    noRegistry.objectSpaceFlag = 1;
    EXPECT_EQ(proj.rt().emitRTSource("", "name", "AnyKind", plain, noRegistry), 0);
    EXPECT_STREQ(plain.text(), "projection\nprojParamsPtr_id -1\n");
    EXPECT_EQ(noRegistry.objectSpaceFlag, 0);

    // With a registry: registered once, under the id the registry gave.
    int otherOwner = 0;
    registry.addParamBlock(reinterpret_cast<PluginBase*>(&otherOwner), nullptr, 0, 0);
    GPUDataRecord gpu;
    gpu.paramBlockRegistry = &registry;
    ShaderSource source;
    EXPECT_EQ(proj.rt().emitRTSource("", "name", "MaterialDescriptor", source, gpu), 0);
    EXPECT_EQ(proj.rt().emitRTSource("", "name", "MaterialDescriptor", source, gpu), 0);
    EXPECT_STREQ(source.text(), "projection\nprojParamsPtr_id 1\nprojection\nprojParamsPtr_id 1\n");
    EXPECT_EQ(registry.additions, 2);
    const kivohost::GpuParamBlocks::Block* block = registry.find(proj.get());
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(block->committed);
    EXPECT_EQ(block->flags, 0);
    // Matrix column 1 comes before column 0; the unwritten bytes are zero.
    EXPECT_EQ(block->bytes,
              expectedBlock({5,    1,    f(36), f(24), 0,        1,          0,     0,    0,    0,
                             0,    0,    f(4),  f(5),  f(6),     0,          f(1),  f(2), f(3), 0,
                             f(7), f(8), f(9),  0,     f(10.5f), f(-11.25f), f(12), 0,    f(1)}));

    // finishFrame releases the registration; the next emission registers afresh.
    proj.lifecycle().finishFrame(&session.renderer);
    EXPECT_EQ(registry.removals, 1);
    EXPECT_EQ(registry.find(proj.get()), nullptr);
    ShaderSource again;
    proj.rt().emitRTSource("", "name", "MaterialDescriptor", again, gpu);
    EXPECT_STREQ(again.text(), "projection\nprojParamsPtr_id 2\n");

    // Destruction releases a block that is still registered.
    {
        Instance other{descriptor<UVWGenProjectionDesc>()};
        other.start(session);
        other.rt().emitRTSource("", "n", "", again, gpu);
        EXPECT_NE(registry.find(other.get()), nullptr);
    }
    EXPECT_EQ(registry.removals, 2);
    EXPECT_EQ(registry.size(), 2u);
}

TEST(UVWGenProjection, ParameterBlockWithCameraViewAndMotionSamples) {
    kivohost::RenderSession session;
    kivohost::GpuParamBlocks registry;
    GPUDataRecord gpu;
    gpu.paramBlockRegistry = &registry;
    auto blockOf = [&](Instance& proj) {
        proj.start(session);
        ShaderSource source;
        proj.rt().emitRTSource("", "n", "", source, gpu);
        return registry.find(proj.get())->bytes;
    };
    {
        // The view's transform at time 0 with column 2 negated, its fov and zoom.
        Graph scene;
        PluginBase* view = scene.create(descriptor<kivohost::RenderViewDesc>());
        setParam(view, "transform",
                 Transform{{{0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 1, 0}}, {1.5, -2.25, 3}});
        setParam(view, "fov", 1.25f);
        setParam(view, "zoom", 2.5f);
        Instance proj{descriptor<UVWGenProjectionDesc>()};
        proj.set("type", 8);
        proj.set("camera_view", view);
        EXPECT_EQ(blockOf(proj),
                  expectedBlock({8,       0,         f(1),     f(1), 1,        0,        0,     0,
                                 0,       0,         f(1.25f), 0,    f(-1),    f(0),     f(0),  0,
                                 f(0),    f(1),      f(0),     0,    f(-0.0f), f(-0.0f), f(-1), 0,
                                 f(1.5f), f(-2.25f), f(3),     0,    f(2.5f)}));
        proj.lifecycle().finishFrame(&session.renderer);
    }
    // Under motion blur the block carries the frame's first sample.
    session.sequence.motionBlur = 1;
    Instance proj{descriptor<UVWGenProjectionDesc>()};
    ASSERT_TRUE(setParamKeys(*paramListOf(proj.get()), "uvw_transform",
                             {{0.0, scaled(1, {4, 0, 0})}, {1.0, scaled(1, {8, 0, 0})}}));
    const std::vector<std::uint8_t> bytes = blockOf(proj);
    EXPECT_EQ(wordAt(bytes, 16), 0u);
    EXPECT_EQ(wordAt(bytes, 96), f(4.0f));
    EXPECT_EQ(wordAt(bytes, 112), f(1.0f));
    proj.lifecycle().finishFrame(&session.renderer);
}

TEST(UVWGenProjection, RenderSettingsReachTheCameraPlugins) {
    Graph scene;
    PluginBase* settingsCamera = scene.create(descriptor<kivohost::SettingsCameraDesc>());
    PluginBase* view = scene.create(descriptor<kivohost::RenderViewDesc>());
    setParam(settingsCamera, "type", 3);
    setParam(view, "transform", Transform{{}, {100, 0, 10}});
    setParam(view, "fov", 1.5707964f);

    kivohost::RenderSession session;
    session.frame.sceneOrigin = {100, 0, 0};
    Instance proj{descriptor<UVWGenProjectionDesc>()};
    proj.set("camera_settings", settingsCamera);
    proj.set("camera_view", view);
    proj.set("type", 8);
    proj.prepare(session);

    // The view sits 10 units up z from the scene origin looking down -z; the point 4 units
    // in front of it, 1 right and 0.5 up, lands at pixel (400, 200) of the 640 x 480 image
    // (fov 90 degrees).
    ShadingContext sc;
    sc.renderer = &session.renderer;
    sc.shadingPoint = {1, 0.5f, 6, 0};
    UVWTransform tm;
    // One frame with the frame record given; the result's validity and, when given, its uvw.
    auto frameWith = [&](KivoFrameData& frame, int valid, std::optional<Vector4f> uvw) {
        proj.as<RenderSettingsInterface>(EXT_RENDER_SETTINGS)->updateFrameData(frame);
        proj.lifecycle().frameBegin(&session.renderer);
        EXPECT_EQ(proj.uvw().evalUVWTransform(sc, tm), valid);
        if (uvw) {
            expectXYZ(tm.o, uvw->x, uvw->y, uvw->z);
        }
        proj.lifecycle().finishFrame(&session.renderer);
    };
    frameWith(session.frame, 1, Vector4f{0.625f, 1.0f - 200.0f / 480.0f, 0, 0});
    // A view frame record whose scene origin differs from the renderer's: points are moved
    // by the difference of the origins.
    KivoFrameData shifted = session.frame;
    shifted.sceneOrigin = {90, 0, 0};
    frameWith(shifted, 1, Vector4f{0.625f, 1.0f - 200.0f / 480.0f, 0, 0});
    // Zoom 2 halves the tangent of the half angle: pixel (480, 160).
    setParam(view, "zoom", 2.0f);
    frameWith(session.frame, 1, Vector4f{0.75f, 1.0f - 160.0f / 480.0f, 0, 0});

    // Camera type 0 with a sampler of the host's: that sampler is prepared for the
    // renderer's frame (camera at the scene origin), where the point lies behind it.
    KivoCamera* hostCamera = newDefaultCameraSampler(0, 0, nullptr);
    static_cast<kivohost::SettingsCamera*>(settingsCamera)->camera = hostCamera;
    setParam(settingsCamera, "type", 0);
    proj.prepare(session);
    frameWith(session.frame, 0, Vector4f{});
    sc.shadingPoint = {1, 0.5f, -4, 0};
    frameWith(session.frame, 1, std::nullopt);
    deleteDefaultCameraSampler(hostCamera);

    // Not a perspective projection: the camera plugins are not asked.
    static_cast<kivohost::SettingsCamera*>(settingsCamera)->camera = nullptr;
    proj.set("type", 1);
    proj.prepare(session);
    // Planar: the point (101, 0.5, -4) from the scene origin.
    frameWith(session.frame, 1, Vector4f{51, 0.75f, -1.5f, 0});
}

TEST(UVWGenProjection, BitmapInterfacesAndZeroHeight) {
    kivohost::RenderSession session;
    kivohost::Bitmap bitmap(1280, 480);
    Instance proj{descriptor<UVWGenProjectionDesc>()};
    proj.set("type", 8);
    proj.set("bitmap", static_cast<PluginBase*>(&bitmap));
    proj.set("fitfill", 1);
    proj.start(session);
    EXPECT_EQ(bitmap.sizeRequests(), 1);

    // Without a camera the image position stands in: pixel (320, 200), v = 200 / 480, then
    // fitted horizontally with bitmap aspect 8/3 over camera aspect 4/3 = 2.
    ShadingContext sc;
    sc.renderer = &session.renderer;
    sc.imageX = 320;
    sc.imageY = 200;
    const float v = 200.0f / 480.0f;
    EXPECT_NEAR(proj.uvwAt(sc).y, 1.0f - ((v - 0.5f) * 2.0f + 0.5f), 1e-6f);
    proj.lifecycle().finishFrame(&session.renderer);

    // A frame-size interface takes precedence at frame begin.
    bitmap.frameSizes = true;
    bitmap.frames[3] = {960, 480};
    session.frame.frameIndex = 3;
    proj.start(session);
    EXPECT_EQ(bitmap.frameSizeRequests(), 1);
    EXPECT_NEAR(proj.uvwAt(sc).y, 1.0f - ((v - 0.5f) * 1.5f + 0.5f), 1e-6f);
    proj.lifecycle().finishFrame(&session.renderer);

    // Zero height: both ratios 0, at frame begin ...
    bitmap.frames[3] = {960, 0};
    proj.begin(session);
    EXPECT_EQ(proj.uvwAt(sc).y, 0.5f);
    proj.set("fitfill", 2);
    proj.begin(session);
    EXPECT_EQ(proj.uvwAt(sc).x, 0.5f);
    proj.lifecycle().finishFrame(&session.renderer);

    // ... and in the refresh at the first evaluation, which reads the plain size.
    bitmap.frames[3] = {960, 480};
    bitmap.height = 0;
    proj.set("fitfill", 1);
    proj.begin(session);
    session.frame.imageWidth = 800; // the frame changed after frame begin
    const Vector4f uvw = proj.uvwAt(sc);
    EXPECT_EQ(uvw.y, 0.5f);
    EXPECT_FLOAT_EQ(uvw.x, 320.0f / 800.0f);
    proj.lifecycle().finishFrame(&session.renderer);

    // No bitmap interfaces unless the projection is perspective.
    proj.set("type", 1);
    proj.prepare(session);
    proj.set("type", 8);
    session.frame.imageWidth = 640;
    proj.begin(session);
    EXPECT_FLOAT_EQ(proj.uvwAt(sc).y, 1.0f - v);
    proj.lifecycle().finishFrame(&session.renderer);
}
