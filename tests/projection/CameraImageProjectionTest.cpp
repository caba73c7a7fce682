#include "projection/UVWGenProjection.h"
#include "scene/Bitmap.h"
#include "scene/Cameras.h"
#include "scene/ShadeStandIns.h"
#include "scene/VisibilityRays.h"
#include "tests/support/Plugin.h"

#include <cmath>
#include <latch>
#include <thread>
#include <vector>

using namespace testsupport;

namespace {

// A 640 x 480 render whose camera sits at the scene origin looking down -z with a 90 degree
// horizontal field of view: a point (x, y, z) in front maps to pixel
// (320 + 320 x / -z, 240 - 320 y / -z).
class PerspectiveScene {
public:
    PerspectiveScene() {
        session.frame.fov = 1.5707964f;
        camera = newDefaultCameraSampler(0, 0, nullptr);
        camera->initCamera(&session.renderer, session.sequence, session.frame);
        session.sequence.camera = camera;
    }
    ~PerspectiveScene() { deleteDefaultCameraSampler(camera); }
    PerspectiveScene(const PerspectiveScene&) = delete;
    PerspectiveScene& operator=(const PerspectiveScene&) = delete;

    static Vector2f pixel(const Vector4f& p) {
        return {320.0f + 320.0f * p.x / -p.z, 240.0f - 320.0f * p.y / -p.z};
    }

    void context(ShadingContext& sc, const Vector4f& p) {
        sc.renderer = &session.renderer;
        sc.shadingPoint = p;
        sc.normal = {0, 0, 1, 0};
        sc.auxNormal = {0, 0, 1, 0};
        sc.dPdx = {0.01f, 0, 0, 0};
        sc.dPdy = {0, 0.01f, 0, 0};
    }

    kivohost::RenderSession session;
    KivoCamera* camera;
};

const Vector4f kPoint{1, 0.5f, -4, 0}; // pixel (400, 200)
const float kU = 400.0f / 640, kV = 200.0f / 480;

void perspective(Instance& proj, PerspectiveScene& scene) {
    proj.set("type", 8);
    proj.start(scene.session);
}

} // namespace

TEST(PerspectiveProjection, PointProjectsToItsPixel) {
    PerspectiveScene scene;
    scene.session.frame.sceneOrigin = {1000, -20, 3};
    Instance proj{descriptor<UVWGenProjectionDesc>()};
    perspective(proj, scene);
    ShadingContext sc;
    scene.context(sc, kPoint);
    int valid = 0;
    expectXYZ(proj.transformAt(sc, &valid).o, kU, 1.0f - kV, 0.0f);
    EXPECT_EQ(valid, 1);

    // The reference point (absolute) stands for the shading point.
    kivohost::ShadedInstance instance;
    instance.referencePoint = Vector4f{1001, -19.5f, -1, 0};
    sc.shadeInstance = &instance;
    sc.shadingPoint = {7, 7, 7, 0};
    expectXYZ(proj.uvwAt(sc), kU, 1.0f - kV, 0.0f);
    sc.shadeInstance = nullptr;

    // Camera motion: the camera moves by (0.4, 0, 0) over the interval; at time 0.5 the
    // point appears 0.2 further left.
    kivohost::LinearCameraMotion motion({0.4f, 0, 0, 0});
    scene.session.sequence.cameraMotion = &motion;
    scene.session.sequence.cameraMotionBlur = 1;
    scene.context(sc, kPoint);
    sc.time = 0.5f;
    expectXYZ(proj.uvwAt(sc), 384.0f / 640, 1.0f - kV, 0.0f);
    scene.session.sequence.cameraMotionBlur = 0;
    expectXYZ(proj.uvwAt(sc), kU, 1.0f - kV, 0.0f);
    proj.lifecycle().finishFrame(&scene.session.renderer);
}

TEST(PerspectiveProjection, HiddenPointsGiveFlagZeroAndZeros) {
    PerspectiveScene scene;
    Instance proj{descriptor<UVWGenProjectionDesc>()};
    proj.set("tex_transform", scaled(2, {1, 1, 1}));
    perspective(proj, scene);

    auto expectHidden = [&](const ShadingContext& sc) {
        int valid = 1;
        const UVWTransform tm = proj.transformAt(sc, &valid);
        EXPECT_EQ(valid, 0);
        Vector4f uvw{9, 9, 9, 9};
        EXPECT_EQ(proj.uvw().evalUVW(sc, uvw), 0);
        Vector4f out[3] = {{9, 9, 9, 9}, {9, 9, 9, 9}, {9, 9, 9, 9}};
        EXPECT_EQ(proj.uvw().evalUVWDerivs(sc, out), 0);
        for (const Vector4f& v : {tm.c0, tm.c1, tm.c2, tm.o, uvw, out[0], out[1], out[2]}) {
            expectXYZ(v, 0, 0, 0, 0);
            EXPECT_EQ(v.w, 0.0f);
        }
    };
    // Visible: u through tex_transform.
    const float visibleU = 2 * kU + 1;

    // Behind the camera.
    ShadingContext sc;
    scene.context(sc, {1, 0.5f, 4, 0});
    expectHidden(sc);

    // A back face counts only with hide_backface.
    scene.context(sc, kPoint);
    sc.normal = {0, 0, -1, 0};
    EXPECT_FLOAT_EQ(proj.uvwAt(sc).x, visibleU);
    proj.set("hide_backface", true);
    proj.begin(scene.session);
    expectHidden(sc);
    sc.normal = {0, 0, 1, 0};
    EXPECT_FLOAT_EQ(proj.uvwAt(sc).x, visibleU);

    // Occlusion only with hide_occluded: a sphere between the point and the camera.
    kivohost::SceneGeometry geometry;
    geometry.spheres.push_back({{0.5f, 0.25f, -2, 0}, 0.3f});
    kivohost::TracingShadingContext traced(&geometry);
    scene.context(traced, kPoint);
    EXPECT_FLOAT_EQ(proj.uvwAt(traced).x, visibleU);
    EXPECT_EQ(traced.rays().requests, 0);
    proj.set("hide_occluded", true);
    proj.begin(scene.session);
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

    // A sphere beyond the point does not hide it.
    geometry.spheres[0].centre = {2, 1, -8, 0};
    EXPECT_FLOAT_EQ(proj.uvwAt(traced).x, visibleU);
    // Nor does a context that cannot trace.
    geometry.spheres[0].centre = {0.5f, 0.25f, -2, 0};
    ShadingContext untraced;
    scene.context(untraced, kPoint);
    EXPECT_FLOAT_EQ(proj.uvwAt(untraced).x, visibleU);
    proj.lifecycle().finishFrame(&scene.session.renderer);
}

TEST(PerspectiveProjection, FitPixelAspectFilmGateAndOverscan) {
    PerspectiveScene scene;
    kivohost::Bitmap bitmap(1280, 480); // aspect 8/3, twice the camera's 4/3
    auto uvwWith = [&](const std::vector<std::pair<const char*, ParamValue>>& params) {
        Instance proj{descriptor<UVWGenProjectionDesc>()};
        proj.set("bitmap", static_cast<PluginBase*>(&bitmap));
        for (const auto& [name, value] : params) {
            proj.set(name, value);
        }
        perspective(proj, scene);
        ShadingContext sc;
        scene.context(sc, kPoint);
        const Vector4f uvw = proj.uvwAt(sc);
        proj.lifecycle().finishFrame(&scene.session.renderer);
        return uvw;
    };
    const std::pair<const char*, ParamValue> gate[] = {
        {"fittype", 1}, {"film_gate_w", 36.0f}, {"film_gate_h", 24.0f}};
    expectXYZ(uvwWith({}), kU, 1 - kV, 0);
    expectXYZ(uvwWith({{"fitfill", 1}}), kU, 1 - ((kV - 0.5f) * 2 + 0.5f), 0);
    expectXYZ(uvwWith({{"fitfill", 2}}), (kU - 0.5f) * 0.5f + 0.5f, 1 - kV, 0);
    // Film gate 36 x 24 against the 4:3 image: v scaled by 1.5 / (4 / 3); only for fittype 1.
    expectXYZ(uvwWith({gate[0], gate[1], gate[2]}), kU, 1 - ((kV - 0.5f) * 1.125f + 0.5f), 0);
    expectXYZ(uvwWith({{"fittype", 2}, gate[1], gate[2]}), kU, 1 - kV, 0);

    // Pixel aspect moves v about the centre; 1 (within float epsilon) and 0 do not.
    scene.session.frame.pixelAspect = 2.0f;
    expectXYZ(uvwWith({}), kU, 1 - ((kV - 0.5f) / 2 + 0.5f), 0);
    for (float aspect : {1.0f + 1e-7f, 0.0f}) {
        scene.session.frame.pixelAspect = aspect;
        expectXYZ(uvwWith({}), kU, 1 - kV, 0);
    }
    scene.session.frame.pixelAspect = 1.0f;

    // Overscan: 32 pixels more on each side, 24 above and below; the gate then fits against
    // the overscan aspect.
    scene.session.frame.overscanLeft = -32;
    scene.session.frame.overscanTop = -24;
    scene.session.frame.overscanWidth = 704;
    scene.session.frame.overscanHeight = 528;
    const float v = 224.0f / 528;
    expectXYZ(uvwWith({{"include_overscan", true}}), 432.0f / 704, 1 - v, 0);
    expectXYZ(uvwWith({{"include_overscan", true}, gate[0], gate[1], gate[2]}), 432.0f / 704,
              1 - ((v - 0.5f) * (1.5f * 528 / 704) + 0.5f), 0);
    expectXYZ(uvwWith({}), kU, 1 - kV, 0);
}

TEST(PerspectiveProjection, AuxiliaryNormalCarriesW) {
    PerspectiveScene scene;
    kivohost::Bitmap bitmap(1280, 480);
    Instance proj{descriptor<UVWGenProjectionDesc>()};
    proj.set("bitmap", static_cast<PluginBase*>(&bitmap));
    proj.set("fitfill", 1);
    proj.set("tex_transform", Transform{{{0, 1, 0, 0}, {-2, 0, 0, 0}, {0, 0, 1, 0}}, {0.5, 0, 0}});
    perspective(proj, scene);

    ShadingContext sc;
    scene.context(sc, kPoint);
    sc.dPdx = {0.01f, 0.0f, 0.002f, 0};
    sc.dPdy = {0.001f, 0.01f, -0.001f, 0};
    sc.auxNormal = {0.1f, 0.2f, 1.0f, 0};
    // The auxiliary normal carries w alone (through tex_transform: column 2 is z).
    expectXYZ(applyLinear(proj.transformAt(sc), sc.auxNormal), 0, 0, 1);
    proj.lifecycle().finishFrame(&scene.session.renderer);
}

TEST(PerspectiveProjection, ScreenStepsWithAnUnmappedStepAndWithoutACamera) {
    PerspectiveScene scene;
    Instance proj{descriptor<UVWGenProjectionDesc>()};
    perspective(proj, scene);
    // Stepping forward along dPdx crosses the camera plane; the backward step is used.
    const Vector4f p{0.1f, 0.05f, -0.05f, 0};
    ShadingContext sc;
    scene.context(sc, p);
    sc.dPdx = {0, 0, 0.1f, 0};
    sc.dPdy = {0, 0.001f, 0, 0};
    sc.auxNormal = {1, 0, 0, 0};
    Vector4f out[3];
    ASSERT_EQ(proj.uvw().evalUVWDerivs(sc, out), 1);
    const Vector2f s0 = PerspectiveScene::pixel(p);
    const Vector2f back = PerspectiveScene::pixel(p - sc.dPdx);
    EXPECT_NEAR(out[1].x, (s0.x - back.x) / 640, 1e-4f);
    EXPECT_NEAR(out[1].y, -(s0.y - back.y) / 480, 1e-4f);
    proj.lifecycle().finishFrame(&scene.session.renderer);

    // Without a camera the image position stands in, one pixel per differential step.
    scene.session.sequence.camera = nullptr;
    Instance blind{descriptor<UVWGenProjectionDesc>()};
    perspective(blind, scene);
    scene.context(sc, kPoint);
    sc.imageX = 320;
    sc.imageY = 120;
    sc.dPdx = {2, 0, 0, 0};
    sc.dPdy = {0, 4, 0, 0};
    ASSERT_EQ(blind.uvw().evalUVWDerivs(sc, out), 1);
    expectXYZ(out[0], 0.5f, 0.75f, 0);
    expectXYZ(out[1], 1.0f / 640, 0, 0);
    expectXYZ(out[2], 0, -1.0f / 480, 0);
    blind.lifecycle().finishFrame(&scene.session.renderer);
}

TEST(PerspectiveProjection, RefreshRunsOncePerFrameAcrossThreads) {
    PerspectiveScene scene;
    kivohost::Bitmap bitmap(1280, 480);
    bitmap.frameSizes = true; // frame begin asks for the frame size, the refresh for the size
    bitmap.sizeDelay = std::chrono::milliseconds(20);
    kivohost::SceneGeometry geometry;
    geometry.spheres.push_back({{0.2f, 0.1f, -2, 0}, 0.15f});
    Instance proj{descriptor<UVWGenProjectionDesc>()};
    proj.set("bitmap", static_cast<PluginBase*>(&bitmap));
    proj.set("fitfill", 1);
    proj.set("hide_occluded", true);
    perspective(proj, scene);

    constexpr int kThreads = 8, kPoints = 64;
    auto pointOf = [](int i) {
        return Vector4f{-1.0f + 0.03f * float(i), 0.4f - 0.01f * float(i), -3.0f - 0.02f * i, 0};
    };
    for (int frame = 0; frame < 2; ++frame) {
        if (frame > 0) {
            proj.begin(scene.session);
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
                kivohost::TracingShadingContext sc(&geometry);
                sc.threadData.threadIndex = t;
                start.arrive_and_wait();
                for (int i = 0; i < kPoints; ++i) {
                    scene.context(sc, pointOf(i));
                    sc.evalStamp = std::uint32_t(i + 1);
                    flags[t][i] = proj.uvw().evalUVW(sc, results[t][i]);
                }
            });
        }
        for (std::thread& th : threads) {
            th.join();
        }
        EXPECT_EQ(bitmap.sizeRequests(), frame + 1);

        int hidden = 0;
        for (int i = 0; i < kPoints; ++i) {
            kivohost::TracingShadingContext sc(&geometry);
            scene.context(sc, pointOf(i));
            Vector4f expected;
            const int flag = proj.uvw().evalUVW(sc, expected);
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
        proj.lifecycle().finishFrame(&scene.session.renderer);
    }
}
