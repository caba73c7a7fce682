#include "ProjectionFixture.h"
#include "scene/Bitmap.h"
#include "scene/Cameras.h"
#include "scene/ShadeStandIns.h"
#include "scene/VisibilityRays.h"

#include <cmath>
#include <latch>
#include <thread>
#include <vector>

using namespace KUtils;
using projtest::expectVec;
using projtest::expectZero;
using projtest::Projection;

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

void perspective(Projection& proj, PerspectiveScene& scene) {
    proj.set("type", 8);
    proj.startRender(scene.session);
    proj.startFrame(scene.session);
}

} // namespace

TEST(PerspectiveProjection, PinholeCameraMapsToPixels) {
    PerspectiveScene scene;
    Vector2f s;
    ShadingContext sc;
    ASSERT_EQ(scene.camera->mapToScreen(sc, kPoint, s), 1);
    EXPECT_FLOAT_EQ(s.x, 400.0f);
    EXPECT_FLOAT_EQ(s.y, 200.0f);
    // Behind the camera, and in its plane, nothing maps.
    EXPECT_EQ(scene.camera->mapToScreen(sc, {1, 0.5f, 4, 0}, s), 0);
    EXPECT_EQ(scene.camera->mapToScreen(sc, {1, 0.5f, 0, 0}, s), 0);

    // Placement relative to the scene origin, turned to look down +x (right is +z);
    // prepareCameraFrame
    // takes the renderer's frame as it is now.
    scene.session.frame.cameraTransform.m = {{0, 0, 1, 0}, {0, 1, 0, 0}, {-1, 0, 0, 0}};
    scene.session.frame.cameraTransform.offs = {5, 0, 0};
    scene.session.frame.imageWidth = 800;
    scene.session.frame.imageHeight = 600;
    scene.camera->prepareCameraFrame(&scene.session.renderer);
    ASSERT_EQ(scene.camera->mapToScreen(sc, {9, 1, -2, 0}, s), 1);
    EXPECT_FLOAT_EQ(s.x, 400.0f - 400.0f * 2 / 4);
    EXPECT_FLOAT_EQ(s.y, 300.0f - 400.0f * 1 / 4);
    // A degenerate field of view maps nothing.
    scene.session.frame.fov = 0.0f;
    scene.camera->prepareCameraFrame(&scene.session.renderer);
    EXPECT_EQ(scene.camera->mapToScreen(sc, {9, 1, -2, 0}, s), 0);
}

TEST(PerspectiveProjection, PointProjectsToItsPixel) {
    PerspectiveScene scene;
    scene.session.frame.sceneOrigin = {1000, -20, 3};
    Projection proj;
    perspective(proj, scene);
    ShadingContext sc;
    scene.context(sc, kPoint);
    int valid = 0;
    UVWTransform tm = proj.transformAt(sc, &valid);
    EXPECT_EQ(valid, 1);
    expectVec(tm.o, 400.0f / 640, 1.0f - 200.0f / 480, 0.0f);

    // The reference point (absolute) stands for the shading point.
    kivohost::ShadedInstance instance;
    instance.referencePoint = Vector4f{1001, -19.5f, -1, 0};
    sc.shadeInstance = &instance;
    sc.shadingPoint = {7, 7, 7, 0};
    expectVec(proj.uvwAt(sc), 400.0f / 640, 1.0f - 200.0f / 480, 0.0f);
    sc.shadeInstance = nullptr;

    // Camera motion: the camera moves by (0.4, 0, 0) over the interval; at time 0.5 the
    // point appears 0.2 further left.
    kivohost::LinearCameraMotion motion({0.4f, 0, 0, 0});
    scene.session.sequence.cameraMotion = &motion;
    scene.session.sequence.cameraMotionBlur = 1;
    scene.context(sc, kPoint);
    sc.time = 0.5f;
    expectVec(proj.uvwAt(sc), 384.0f / 640, 1.0f - 200.0f / 480, 0.0f);
    scene.session.sequence.cameraMotionBlur = 0;
    expectVec(proj.uvwAt(sc), 400.0f / 640, 1.0f - 200.0f / 480, 0.0f);

    // tex_transform applies to the result.
    proj.set("tex_transform",
             projtest::makeTransform({2, 0, 0, 0}, {0, 2, 0, 0}, {0, 0, 2, 0}, {1, 1, 1}));
    proj.kivo().finishFrame(&scene.session.renderer);
    proj.startFrame(scene.session);
    expectVec(proj.uvwAt(sc), 2 * 400.0f / 640 + 1, 2 * (1.0f - 200.0f / 480) + 1, 1.0f);
    proj.kivo().finishFrame(&scene.session.renderer);
}

TEST(PerspectiveProjection, HiddenPointsGiveFlagZeroAndZeros) {
    PerspectiveScene scene;
    Projection proj;
    proj.set("tex_transform",
             projtest::makeTransform({2, 0, 0, 0}, {0, 2, 0, 0}, {0, 0, 2, 0}, {1, 1, 1}));
    perspective(proj, scene);

    auto expectHidden = [&](const ShadingContext& sc) {
        int valid = 1;
        expectZero(proj.transformAt(sc, &valid));
        EXPECT_EQ(valid, 0);
        Vector4f uvw{9, 9, 9, 9};
        EXPECT_EQ(proj.uvwgen().evalUVW(sc, uvw), 0);
        expectZero({uvw, {}, {}, {}});
        Vector4f out[3] = {{9, 9, 9, 9}, {9, 9, 9, 9}, {9, 9, 9, 9}};
        EXPECT_EQ(proj.uvwgen().evalUVWDerivs(sc, out), 0);
        expectZero({out[0], out[1], out[2], {}});
    };

    // Behind the camera.
    ShadingContext sc;
    scene.context(sc, {1, 0.5f, 4, 0});
    expectHidden(sc);

    // A back face counts only with hide_backface.
    scene.context(sc, kPoint);
    sc.normal = {0, 0, -1, 0};
    EXPECT_FLOAT_EQ(proj.uvwAt(sc).x, 2 * 400.0f / 640 + 1);
    proj.set("hide_backface", true);
    proj.startFrame(scene.session);
    expectHidden(sc);
    sc.normal = {0, 0, 1, 0};
    EXPECT_FLOAT_EQ(proj.uvwAt(sc).x, 2 * 400.0f / 640 + 1);

    // Occlusion only with hide_occluded: a sphere between the point and the camera.
    kivohost::SceneGeometry geometry;
    geometry.spheres.push_back({{0.5f, 0.25f, -2, 0}, 0.3f});
    kivohost::TracingShadingContext traced(&geometry);
    scene.context(traced, kPoint);
    EXPECT_FLOAT_EQ(proj.uvwAt(traced).x, 2 * 400.0f / 640 + 1);
    EXPECT_EQ(traced.rays().requests, 0);
    proj.set("hide_occluded", true);
    proj.startFrame(scene.session);
    expectHidden(traced);
    const kivohost::TracingShadingContext::RayRecord& ray = traced.rays();
    EXPECT_EQ(ray.requests, 3);
    EXPECT_EQ(ray.traces, 3);
    EXPECT_EQ(ray.releases, 3);
    EXPECT_EQ(ray.kind, 0);
    EXPECT_EQ(ray.weight.r, 1.0f);
    EXPECT_EQ(ray.weight.a, 1.0f);
    EXPECT_EQ(ray.depth, 8);
    EXPECT_NE(ray.directionArg, nullptr);
    expectVec(ray.origin, 1, 0.5f, -4, 0);
    expectVec(ray.segment, -1, -0.5f, 4, 0);
    const float length = std::sqrt(1 + 0.25f + 16);
    expectVec(ray.direction, -1 / length, -0.5f / length, 4 / length);
    EXPECT_EQ(ray.tStart, 0.0f);
    EXPECT_EQ(ray.tEnd, 1.0f);
    EXPECT_EQ(ray.flags, 0);
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(ray.hit.words[i], 0);
    }
    EXPECT_EQ(ray.hit.words[15], -1);

    // A sphere beyond the point does not hide it.
    geometry.spheres[0].centre = {2, 1, -8, 0};
    EXPECT_FLOAT_EQ(proj.uvwAt(traced).x, 2 * 400.0f / 640 + 1);
    // Nor does a context that cannot trace.
    geometry.spheres[0].centre = {0.5f, 0.25f, -2, 0};
    ShadingContext untraced;
    scene.context(untraced, kPoint);
    EXPECT_FLOAT_EQ(proj.uvwAt(untraced).x, 2 * 400.0f / 640 + 1);
    proj.kivo().finishFrame(&scene.session.renderer);
}

TEST(PerspectiveProjection, HostGeometryFirstHit) {
    kivohost::SceneGeometry geometry;
    geometry.planes.push_back({{0, 0, 1, 0}, -1.0f});
    EXPECT_NEAR(geometry.firstHit({0, 0, -4, 0}, {0, 0, 4, 0}, 0, 1), 0.75f, 1e-6f);
    // The segment ends before the plane; a segment leaving the plane does not hit it.
    EXPECT_LT(geometry.firstHit({0, 0, -4, 0}, {0, 0, 2, 0}, 0, 1), 0.0f);
    EXPECT_LT(geometry.firstHit({0, 0, -1, 0}, {0, 0, 4, 0}, 0, 1), 0.0f);
    // The nearest of several hits.
    geometry.spheres.push_back({{0, 0, -3, 0}, 0.5f});
    EXPECT_NEAR(geometry.firstHit({0, 0, -4, 0}, {0, 0, 4, 0}, 0, 1), 0.125f, 1e-6f);
    EXPECT_LT(geometry.firstHit({2, 0, -4, 0}, {0, 0, 2, 0}, 0, 1), 0.0f);
}

TEST(PerspectiveProjection, FitPixelAspectFilmGateAndOverscan) {
    PerspectiveScene scene;
    kivohost::Bitmap bitmap(1280, 480); // aspect 8/3, twice the camera's 4/3
    const float u = 400.0f / 640, v = 200.0f / 480;
    auto uvwWith = [&](const std::vector<std::pair<const char*, ParamValue>>& params) {
        Projection proj;
        proj.set("bitmap", static_cast<PluginBase*>(&bitmap));
        for (const auto& [name, value] : params) {
            proj.set(name, value);
        }
        perspective(proj, scene);
        ShadingContext sc;
        scene.context(sc, kPoint);
        const Vector4f uvw = proj.uvwAt(sc);
        proj.kivo().finishFrame(&scene.session.renderer);
        return uvw;
    };
    expectVec(uvwWith({}), u, 1 - v, 0);
    expectVec(uvwWith({{"fitfill", 1}}), u, 1 - ((v - 0.5f) * 2 + 0.5f), 0);
    expectVec(uvwWith({{"fitfill", 2}}), (u - 0.5f) * 0.5f + 0.5f, 1 - v, 0);
    expectVec(uvwWith({{"fittype", 1}, {"film_gate_w", 36.0f}, {"film_gate_h", 24.0f}}), u,
              1 - ((v - 0.5f) * 1.125f + 0.5f), 0);

    scene.session.frame.pixelAspect = 2.0f;
    expectVec(uvwWith({}), u, 1 - ((v - 0.5f) / 2 + 0.5f), 0);
    scene.session.frame.pixelAspect = 1.0f;

    // Overscan: 32 pixels more on each side, 24 above and below.
    scene.session.frame.overscanLeft = -32;
    scene.session.frame.overscanTop = -24;
    scene.session.frame.overscanWidth = 704;
    scene.session.frame.overscanHeight = 528;
    expectVec(uvwWith({{"include_overscan", true}}), 432.0f / 704, 1 - 224.0f / 528, 0);
    expectVec(uvwWith({}), u, 1 - v, 0);
}

TEST(PerspectiveProjection, JacobianFollowsTheDifferentials) {
    PerspectiveScene scene;
    kivohost::Bitmap bitmap(1280, 480);
    Projection proj;
    proj.set("bitmap", static_cast<PluginBase*>(&bitmap));
    proj.set("fitfill", 1);
    proj.set("tex_transform",
             projtest::makeTransform({0, 1, 0, 0}, {-2, 0, 0, 0}, {0, 0, 1, 0}, {0.5, 0, 0}));
    perspective(proj, scene);

    ShadingContext sc;
    scene.context(sc, kPoint);
    sc.dPdx = {0.01f, 0.0f, 0.002f, 0};
    sc.dPdy = {0.001f, 0.01f, -0.001f, 0};
    sc.auxNormal = {0.1f, 0.2f, 1.0f, 0};
    Vector4f out[3];
    ASSERT_EQ(proj.uvwgen().evalUVWDerivs(sc, out), 1);
    for (int k = 1; k <= 2; ++k) {
        const Vector4f d = k == 1 ? sc.dPdx : sc.dPdy;
        ShadingContext moved = sc;
        moved.shadingPoint = kPoint + d * 0.5f;
        const Vector4f plus = proj.uvwAt(moved);
        moved.shadingPoint = kPoint - d * 0.5f;
        const Vector4f minus = proj.uvwAt(moved);
        const Vector4f fd = plus - minus;
        const float tol = 0.02f * std::sqrt(dot3(fd, fd)) + 1e-6f;
        EXPECT_NEAR(out[k].x, fd.x, tol) << k;
        EXPECT_NEAR(out[k].y, fd.y, tol) << k;
        EXPECT_NEAR(out[k].z, fd.z, tol) << k;
        EXPECT_GT(std::sqrt(dot3(fd, fd)), 1e-4f);
    }
    // The auxiliary normal carries w alone (through tex_transform: column 2 is z).
    const Vector4f alongAux = applyLinear(proj.transformAt(sc), sc.auxNormal);
    expectVec(alongAux, 0, 0, 1);
    proj.kivo().finishFrame(&scene.session.renderer);
}

TEST(PerspectiveProjection, UnmappedStepUsesTheOtherDirection) {
    PerspectiveScene scene;
    Projection proj;
    perspective(proj, scene);
    // Stepping forward along dPdx crosses the camera plane; the backward step is used.
    const Vector4f p{0.1f, 0.05f, -0.05f, 0};
    ShadingContext sc;
    scene.context(sc, p);
    sc.dPdx = {0, 0, 0.1f, 0};
    sc.dPdy = {0, 0.001f, 0, 0};
    sc.auxNormal = {1, 0, 0, 0};
    Vector4f out[3];
    ASSERT_EQ(proj.uvwgen().evalUVWDerivs(sc, out), 1);
    const Vector2f s0 = PerspectiveScene::pixel(p);
    const Vector2f back = PerspectiveScene::pixel(p - sc.dPdx);
    EXPECT_NEAR(out[1].x, (s0.x - back.x) / 640, 1e-4f);
    EXPECT_NEAR(out[1].y, -(s0.y - back.y) / 480, 1e-4f);
    proj.kivo().finishFrame(&scene.session.renderer);
}

TEST(PerspectiveProjection, WithoutACameraTheImagePositionStandsIn) {
    PerspectiveScene scene;
    scene.session.sequence.camera = nullptr;
    Projection proj;
    perspective(proj, scene);
    ShadingContext sc;
    scene.context(sc, kPoint);
    sc.imageX = 320;
    sc.imageY = 120;
    sc.dPdx = {2, 0, 0, 0};
    sc.dPdy = {0, 4, 0, 0};
    Vector4f out[3];
    ASSERT_EQ(proj.uvwgen().evalUVWDerivs(sc, out), 1);
    expectVec(out[0], 0.5f, 0.75f, 0);
    // One pixel per differential step.
    expectVec(out[1], 1.0f / 640, 0, 0);
    expectVec(out[2], 0, -1.0f / 480, 0);
    proj.kivo().finishFrame(&scene.session.renderer);
}

TEST(PerspectiveProjection, RefreshRunsOncePerFrameAcrossThreads) {
    PerspectiveScene scene;
    kivohost::Bitmap bitmap(1280, 480);
    bitmap.frameSizes = true; // frame begin asks for the frame size, the refresh for the size
    bitmap.sizeDelay = std::chrono::milliseconds(20);
    kivohost::SceneGeometry geometry;
    geometry.spheres.push_back({{0.2f, 0.1f, -2, 0}, 0.15f});
    Projection proj;
    proj.set("bitmap", static_cast<PluginBase*>(&bitmap));
    proj.set("fitfill", 1);
    proj.set("hide_occluded", true);
    perspective(proj, scene);

    constexpr int kThreads = 8, kPoints = 64;
    auto pointOf = [](int i) {
        return Vector4f{-1.0f + 0.03f * float(i), 0.4f - 0.01f * float(i), -3.0f - 0.02f * i, 0};
    };
    for (int frame = 0; frame < 3; ++frame) {
        if (frame > 0) {
            proj.startFrame(scene.session);
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
                    flags[t][i] = proj.uvwgen().evalUVW(sc, results[t][i]);
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
            const int flag = proj.uvwgen().evalUVW(sc, expected);
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
        proj.kivo().finishFrame(&scene.session.renderer);
    }
}
