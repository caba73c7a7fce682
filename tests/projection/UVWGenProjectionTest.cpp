// UVWGenProjection as a renderer drives it: the transform chain, motion samples, the camera
// image (perspective) with its fit, visibility and refresh, the camera plugins and the GPU block.
#include "projection/UVWGenProjection.h"

#include "scene/Bitmap.h"
#include "scene/GpuParamBlocks.h"
#include "scene/TransformTextures.h"
#include "scene/VisibilityRays.h"
#include "tests/projection/ProjectionScene.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <latch>
#include <optional>
#include <thread>

using namespace testsupport;

namespace {

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

// The block's 32-bit word at a byte offset.
std::uint32_t wordAt(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    std::uint32_t w;
    std::memcpy(&w, bytes.data() + offset, 4);
    return w;
}

const Vector4f kPoint{1, 0.5f, -4, 0}; // pixel (400, 200) of the scene's camera
const float kU = 400.0f / 640, kV = 200.0f / 480;

// The projections of Projection.json, evaluated at sc.
class Projection : public ::testing::Test {
protected:
    Projection() { gpu.paramBlockRegistry = &registry; }

    // The parameter block one emission registered.
    std::vector<std::uint8_t> block(Instance& p, const char* kind = "") {
        ShaderSource source;
        p.rt().emitRTSource("", "n", kind, source, gpu);
        return registry.find(p.get())->bytes;
    }

    kivohost::GpuParamBlocks registry;  // outlives every registration in it
    kivohost::Bitmap bitmap{1280, 480}; // aspect 8/3, twice the camera's 4/3; outlives the scene
    ProjectionScene scene{"Projection.json"};
    GPUDataRecord gpu;
    ShadingContext sc = scene.context(kPoint);
};

TEST_F(Projection, MotionSamplesStartOverAndTheTransformTexture) {
    auto& session = scene.session;
    session.sequence.motionBlur = 1;
    // "keyed3": three samples of a transform whose scale 1 + x and offset (x, 0, 0) has x rise
    // from 0 to 2 at t = 0.5 and fall to 1 at t = 1; planar at the point (1, 0, 0), u = 1 + x.
    Instance keyed{scene["keyed3"]};
    keyed.prepare(session);
    // Under motion blur the GPU block carries the frame's first sample.
    keyed.begin(session);
    EXPECT_EQ(wordAt(block(keyed), 64), f(1.0f));
    EXPECT_EQ(wordAt(block(keyed), 96), f(0.0f));
    // A second frame begin without finishFrame starts over (no samples leak): the samples of
    // the blur interval 0.25 .. 0.75.
    session.frame.motionBlurStart = 0.25;
    session.frame.motionBlurEnd = 0.75;
    keyed.begin(session);
    sc.shadingPoint = {1, 0, 0, 0};
    for (const auto& [time, u] : {std::pair{0.0f, 2.0f}, {0.5f, 3.0f}, {1.0f, 2.5f}}) {
        sc.time = time;
        EXPECT_FLOAT_EQ(keyed.uvwAt(sc).x, u) << time;
    }

    // A transform texture overrides uvw_transform and stops its sampling.
    kivohost::TransformTexture texture([](const ShadingContext& c) {
        UVWTransform t;
        t.o = {c.time * 4, 0, 0, 0};
        return t;
    });
    session.sequence.motionBlur = 1;
    Instance textured{descriptor<UVWGenProjectionDesc>()};
    textured.set("uvw_transform", scaled(2, {1, 2, 3}));
    textured.set("uvw_transform_tex", static_cast<PluginBase*>(&texture));
    textured.set("nsamples", 3);
    textured.start(session);
    sc.shadingPoint = {0.2f, 0.4f, 0.6f, 0};
    sc.time = 0.5f;
    // Identity matrix with offset (2, 0, 0) from the texture: uvw_transform is not used.
    expectXYZ(textured.uvwAt(sc), 1.6f, 0.7f, 0.8f);
    EXPECT_EQ(texture.evaluations(), 1u);
    // The block still carries the identity the instance started with: nothing was sampled.
    const std::vector<std::uint8_t> bytes = block(textured, "MaterialDescriptor");
    EXPECT_EQ(wordAt(bytes, 64), f(1.0f));
    EXPECT_EQ(wordAt(bytes, 96), f(0.0f));
}

TEST_F(Projection, GpuTextAndParameterBlock) {
    // Type 5, fittype 1, film gate 36 x 24, object space, matrix columns (1, 2, 3), (4, 5, 6),
    // (7, 8, 9), offset (10.5, -11.25, 12).
    Instance cubic{scene["cubic_block"]};
    cubic.start(scene.session);

    // Without a registry: the two lines, id -1, object-space flag cleared, result 0.
    GPUDataRecord noRegistry;
    noRegistry.objectSpaceFlag = 1;
    EXPECT_EQ(gpuText(cubic.rt(), "", noRegistry, "AnyKind", 0),
              "projection\nprojParamsPtr_id -1\n");
    EXPECT_EQ(noRegistry.objectSpaceFlag, 0);

    // With a registry: registered once, under the id the registry gave.
    int otherOwner = 0;
    registry.addParamBlock(reinterpret_cast<PluginBase*>(&otherOwner), nullptr, 0, 0);
    ShaderSource source;
    EXPECT_EQ(cubic.rt().emitRTSource("", "name", "MaterialDescriptor", source, gpu), 0);
    EXPECT_EQ(cubic.rt().emitRTSource("", "name", "MaterialDescriptor", source, gpu), 0);
    EXPECT_STREQ(source.text(), "projection\nprojParamsPtr_id 1\nprojection\nprojParamsPtr_id 1\n");
    EXPECT_EQ(registry.additions, 2);
    const kivohost::GpuParamBlocks::Block* registered = registry.find(cubic.get());
    ASSERT_NE(registered, nullptr);
    EXPECT_TRUE(registered->committed);
    EXPECT_EQ(registered->flags, 0);
    // Matrix column 1 comes before column 0; the unwritten bytes are zero.
    EXPECT_EQ(registered->bytes,
              expectedBlock({5,    1,    f(36), f(24), 0,        1,          0,     0,    0,    0,
                             0,    0,    f(4),  f(5),  f(6),     0,          f(1),  f(2), f(3), 0,
                             f(7), f(8), f(9),  0,     f(10.5f), f(-11.25f), f(12), 0,    f(1)}));

    // finishFrame releases the registration; the next emission registers afresh.
    cubic.lifecycle().finishFrame(&scene.session.renderer);
    EXPECT_EQ(registry.removals, 1);
    EXPECT_EQ(registry.find(cubic.get()), nullptr);
    ShaderSource again;
    cubic.rt().emitRTSource("", "name", "MaterialDescriptor", again, gpu);
    EXPECT_STREQ(again.text(), "projection\nprojParamsPtr_id 2\n");

    // Destruction releases a block that is still registered. A perspective block carries the
    // camera view's transform at time 0 with column 2 negated, its fov and zoom.
    {
        Instance other{descriptor<UVWGenProjectionDesc>()};
        other.set("type", 8);
        other.set("camera_view", scene["turned_view"]);
        other.start(scene.session);
        EXPECT_EQ(block(other),
                  expectedBlock({8,       0,         f(1),     f(1), 1,        0,        0,     0,
                                 0,       0,         f(1.25f), 0,    f(-1),    f(0),     f(0),  0,
                                 f(0),    f(1),      f(0),     0,    f(-0.0f), f(-0.0f), f(-1), 0,
                                 f(1.5f), f(-2.25f), f(3),     0,    f(2.5f)}));
    }
    EXPECT_EQ(registry.removals, 2);
    EXPECT_EQ(registry.size(), 2u);
}

TEST_F(Projection, RenderSettingsReachTheCameraPlugins) {
    auto* settings = static_cast<kivohost::SettingsCamera*>(scene["settings"]);
    scene.session.frame.sceneOrigin = {100, 0, 0};
    Instance viewed{scene["viewed"]}; // through settings, seen by raised_view
    viewed.prepare(scene.session);

    // The view sits 10 units up z from the scene origin looking down -z; the point 4 units
    // in front of it, 1 right and 0.5 up, lands at pixel (400, 200).
    sc.shadingPoint = {1, 0.5f, 6, 0};
    // One frame with the frame record given; the result's validity and, when given, its uvw.
    auto frameWith = [&](KivoFrameData& frame, int valid, std::optional<Vector4f> uvw) {
        viewed.as<RenderSettingsInterface>(EXT_RENDER_SETTINGS)->updateFrameData(frame);
        viewed.lifecycle().frameBegin(&scene.session.renderer);
        UVWTransform tm;
        EXPECT_EQ(viewed.uvw().evalUVWTransform(sc, tm), valid);
        if (uvw) {
            expectXYZ(tm.o, uvw->x, uvw->y, uvw->z);
        }
        viewed.lifecycle().finishFrame(&scene.session.renderer);
    };
    // A view frame record whose scene origin differs from the renderer's: points are moved
    // by the difference of the origins (the renderer's record: ProjectionCases.json).
    KivoFrameData shifted = scene.session.frame;
    shifted.sceneOrigin = {90, 0, 0};
    frameWith(shifted, 1, Vector4f{kU, 1 - kV, 0, 0});

    // Camera type 0 with a sampler of the host's: that sampler is prepared for the
    // renderer's frame (camera at the scene origin), where the point lies behind it.
    scene.camera = newDefaultCameraSampler(0, 0, nullptr);
    settings->camera = scene.camera;
    setParam(settings, "type", 0);
    viewed.prepare(scene.session);
    frameWith(scene.session.frame, 0, Vector4f{});
    sc.shadingPoint = {1, 0.5f, -4, 0};
    frameWith(scene.session.frame, 1, std::nullopt);

    // Not a perspective projection: the camera plugins are not asked.
    settings->camera = nullptr;
    viewed.set("type", 1);
    viewed.prepare(scene.session);
    // Planar: the point (101, 0.5, -4) from the scene origin.
    frameWith(scene.session.frame, 1, Vector4f{51, 0.75f, -1.5f, 0});
}

TEST_F(Projection, BitmapInterfacesAndZeroHeight) {
    auto& session = scene.session;
    Instance proj{scene["fill_height"]}; // perspective, fitfill 1
    proj.set("bitmap", static_cast<PluginBase*>(&bitmap));
    proj.start(session);
    EXPECT_EQ(bitmap.sizeRequests(), 1);

    // Without a camera the image position stands in: pixel (320, 200), v = 200 / 480, then
    // fitted horizontally with bitmap aspect 8/3 over camera aspect 4/3 = 2.
    sc.imageX = 320;
    sc.imageY = 200;
    const float v = 200.0f / 480.0f;
    EXPECT_NEAR(proj.uvwAt(sc).y, 1.0f - ((v - 0.5f) * 2.0f + 0.5f), 1e-6f);

    // A frame-size interface takes precedence at frame begin.
    bitmap.frameSizes = true;
    bitmap.frames[3] = {960, 480};
    session.frame.frameIndex = 3;
    proj.start(session);
    EXPECT_EQ(bitmap.frameSizeRequests(), 1);
    EXPECT_NEAR(proj.uvwAt(sc).y, 1.0f - ((v - 0.5f) * 1.5f + 0.5f), 1e-6f);

    // Zero height: both ratios 0, at frame begin ...
    bitmap.frames[3] = {960, 0};
    proj.begin(session);
    EXPECT_EQ(proj.uvwAt(sc).y, 0.5f);
    proj.set("fitfill", 2);
    proj.begin(session);
    EXPECT_EQ(proj.uvwAt(sc).x, 0.5f);

    // ... and in the refresh at the first evaluation, which reads the plain size.
    bitmap.frames[3] = {960, 480};
    bitmap.height = 0;
    proj.set("fitfill", 1);
    proj.begin(session);
    session.frame.imageWidth = 800; // the frame changed after frame begin
    const Vector4f uvw = proj.uvwAt(sc);
    EXPECT_EQ(uvw.y, 0.5f);
    EXPECT_FLOAT_EQ(uvw.x, 320.0f / 800.0f);

    // No bitmap interfaces unless the projection is perspective.
    proj.set("type", 1);
    proj.prepare(session);
    proj.set("type", 8);
    session.frame.imageWidth = 640;
    proj.begin(session);
    EXPECT_FLOAT_EQ(proj.uvwAt(sc).y, 1.0f - v);
}

// The cases of ProjectionCases.json.
TEST(ProjectionCases, EvaluationsOfTheSceneInstances) {
    expectCases("Projection.json", "ProjectionCases.json", 44);
}

TEST_F(Projection, OccludedPointsGiveFlagZeroAndZeros) {
    scene.useCamera();
    Instance doubled{scene["doubled"]}; // tex_transform: scale 2, offset (1, 1, 1)
    doubled.start(scene.session);
    auto expectHidden = [&](const ShadingContext& c) {
        int valid = 1;
        const UVWTransform tm = doubled.transformAt(c, &valid);
        EXPECT_EQ(valid, 0);
        Vector4f uvw{9, 9, 9, 9};
        EXPECT_EQ(doubled.uvw().evalUVW(c, uvw), 0);
        Vector4f out[3] = {{9, 9, 9, 9}, {9, 9, 9, 9}, {9, 9, 9, 9}};
        EXPECT_EQ(doubled.uvw().evalUVWDerivs(c, out), 0);
        for (const Vector4f& v : {tm.c0, tm.c1, tm.c2, tm.o, uvw, out[0], out[1], out[2]}) {
            expectXYZW(v, 0, 0, 0, 0);
        }
    };
    // (Behind the camera and back faces: ProjectionCases.json.)
    const float visibleU = 2 * kU + 1; // through tex_transform

    // Occlusion only with hide_occluded: a sphere between the point and the camera.
    kivohost::SceneGeometry geometry;
    geometry.spheres.push_back({{0.5f, 0.25f, -2, 0}, 0.3f});
    kivohost::TracingShadingContext traced(&geometry);
    static_cast<ShadingContext&>(traced) = sc;
    EXPECT_FLOAT_EQ(doubled.uvwAt(traced).x, visibleU);
    EXPECT_EQ(traced.rays().requests, 0);
    doubled.set("hide_occluded", true);
    doubled.begin(scene.session);
    expectHidden(traced);
    // One ray per operation, from the point to the camera, with the host's arguments.
    const kivohost::TracingShadingContext::RayRecord& ray = traced.rays();
    EXPECT_TRUE(ray.requests == 3 && ray.traces == 3 && ray.releases == 3);
    EXPECT_TRUE(ray.kind == 0 && ray.depth == 8 && ray.flags == 0 && ray.directionArg);
    EXPECT_TRUE(ray.weight.r == 1.0f && ray.weight.a == 1.0f);
    EXPECT_TRUE(ray.tStart == 0.0f && ray.tEnd == 1.0f);
    expectXYZ(ray.origin, 1, 0.5f, -4, 0);
    expectXYZ(ray.segment, -1, -0.5f, 4, 0);
    const float length = std::sqrt(1 + 0.25f + 16);
    expectXYZ(ray.direction, -1 / length, -0.5f / length, 4 / length);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(ray.hit.words[i], i < 15 ? 0 : -1) << i;
    }
    // A sphere beyond the point does not hide it; nor does one for a context that cannot trace.
    geometry.spheres[0].centre = {2, 1, -8, 0};
    EXPECT_FLOAT_EQ(doubled.uvwAt(traced).x, visibleU);
    EXPECT_FLOAT_EQ(doubled.uvwAt(sc).x, visibleU);
}

TEST_F(Projection, TheAuxiliaryNormalCarriesWAlone) {
    scene.useCamera();
    // Through tex_transform, which turns and stretches u and v: column 2 is z.
    Instance turned{scene["turned_tex_fill"]};
    turned.set("bitmap", static_cast<PluginBase*>(&bitmap));
    turned.start(scene.session);
    sc.dPdx = {0.01f, 0.0f, 0.002f, 0};
    sc.dPdy = {0.001f, 0.01f, -0.001f, 0};
    sc.auxNormal = {0.1f, 0.2f, 1.0f, 0};
    expectXYZ(applyLinear(turned.transformAt(sc), sc.auxNormal), 0, 0, 1);
}

TEST_F(Projection, RefreshRunsOncePerFrameAcrossThreads) {
    scene.useCamera();
    bitmap.frameSizes = true; // frame begin asks for the frame size, the refresh for the size
    bitmap.sizeDelay = std::chrono::milliseconds(20);
    kivohost::SceneGeometry geometry;
    geometry.spheres.push_back({{0.2f, 0.1f, -2, 0}, 0.15f});
    Instance occluded{scene["occluded_fill"]};
    occluded.set("bitmap", static_cast<PluginBase*>(&bitmap));
    occluded.start(scene.session);

    constexpr int kThreads = 8, kPoints = 64;
    auto contextOf = [&](int i) {
        kivohost::TracingShadingContext c(&geometry);
        static_cast<ShadingContext&>(c) = scene.context(
            {-1.0f + 0.03f * float(i), 0.4f - 0.01f * float(i), -3.0f - 0.02f * i, 0});
        return c;
    };
    for (int frame = 0; frame < 2; ++frame) {
        if (frame > 0) {
            occluded.begin(scene.session);
        }
        // The frame's image changed after frame begin: the first evaluation refreshes.
        scene.session.frame.imageWidth = frame % 2 == 0 ? 800 : 640;
        scene.session.frame.overscanWidth = float(scene.session.frame.imageWidth);

        std::vector<std::vector<Vector4f>> results(kThreads, std::vector<Vector4f>(kPoints));
        std::vector<std::vector<int>> flags(kThreads, std::vector<int>(kPoints));
        // All threads start evaluating together, so that several meet the refresh.
        std::latch start(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                start.arrive_and_wait();
                for (int i = 0; i < kPoints; ++i) {
                    kivohost::TracingShadingContext c = contextOf(i);
                    c.threadData.threadIndex = t;
                    c.evalStamp = std::uint32_t(i + 1);
                    flags[t][i] = occluded.uvw().evalUVW(c, results[t][i]);
                }
            });
        }
        for (std::thread& th : threads) {
            th.join();
        }
        EXPECT_EQ(bitmap.sizeRequests(), frame + 1);

        int hidden = 0;
        for (int i = 0; i < kPoints; ++i) {
            Vector4f expected;
            const int flag = occluded.uvw().evalUVW(contextOf(i), expected);
            hidden += flag == 0;
            for (int t = 0; t < kThreads; ++t) {
                EXPECT_EQ(flags[t][i], flag);
                EXPECT_EQ(results[t][i].x, expected.x);
                EXPECT_EQ(results[t][i].y, expected.y);
            }
        }
        EXPECT_GT(hidden, 0);
        EXPECT_LT(hidden, kPoints);
        EXPECT_EQ(bitmap.sizeRequests(), frame + 1);
        occluded.lifecycle().finishFrame(&scene.session.renderer);
    }
}

} // namespace
