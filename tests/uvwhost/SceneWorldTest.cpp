// The rendered world's geometry: hits, analytic mapping channels and their bases, object
// spaces, and the camera's rays and differentials, against hand-computed values.
#include "kivo/VectorMath.h"
#include "scene/SceneCamera.h"
#include "scene/SceneShapes.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

using namespace KUtils;
using kivohost::Shape;
using kivohost::ShapeHit;
using kivohost::ShapeKind;

namespace {

void expectNear(const Vector4f& v, float x, float y, float z, float eps = 1e-5f) {
    EXPECT_NEAR(v.x, x, eps);
    EXPECT_NEAR(v.y, y, eps);
    EXPECT_NEAR(v.z, z, eps);
}

} // namespace

TEST(SceneShapes, SphereHitChannelAndBasis) {
    const Shape sphere(ShapeKind::Sphere, {0, 0, 1, 0}, {2, 0, 0, 0}, {});
    ShapeHit hit;
    // Straight down onto the top: the pole, v = 1.
    ASSERT_TRUE(sphere.intersect({0, 0, 10, 0}, {0, 0, -1, 0}, 0.0f, 1e30f, hit));
    EXPECT_FLOAT_EQ(hit.t, 7.0f);
    expectNear(hit.normal, 0, 0, 1);
    EXPECT_NEAR(hit.uvw.y, 1.0f, 1e-6f);
    // From -y towards the centre: the point (0, -2, 1), phi = -pi/2, u = 0.25, v = 0.5.
    ASSERT_TRUE(sphere.intersect({0, -10, 1, 0}, {0, 1, 0, 0}, 0.0f, 1e30f, hit));
    expectNear(hit.point, 0, -2, 1);
    EXPECT_NEAR(hit.uvw.x, 0.25f, 1e-6f);
    EXPECT_NEAR(hit.uvw.y, 0.5f, 1e-6f);
    // dp/du = 2 pi (-y, x, 0) = (4 pi, 0, 0); dp/dv = pi r up the sphere; dp/dw the normal.
    const float pi = std::numbers::pi_v<float>;
    expectNear(hit.basis[0], 4.0f * pi, 0, 0, 1e-4f);
    expectNear(hit.basis[1], 0, 0, 2.0f * pi, 1e-4f);
    expectNear(hit.basis[2], 0, -1, 0);
    // Nothing beyond tMax, and a miss is a miss.
    EXPECT_FALSE(sphere.intersect({0, -10, 1, 0}, {0, 1, 0, 0}, 0.0f, 7.9f, hit));
    EXPECT_FALSE(sphere.intersect({5, -10, 1, 0}, {0, 1, 0, 0}, 0.0f, 1e30f, hit));
}

TEST(SceneShapes, BoundedPlaneAndRotatedBox) {
    const Shape plane(ShapeKind::Plane, {0, 0, 0, 0}, {4, 2, 0, 0}, {});
    ShapeHit hit;
    ASSERT_TRUE(plane.intersect({1, 0.5f, 3, 0}, {0, 0, -1, 0}, 0.0f, 1e30f, hit));
    // u = x / 4 + 0.5, v = y / 2 + 0.5
    expectNear(hit.uvw, 0.75f, 0.75f, 0);
    expectNear(hit.basis[0], 4, 0, 0);
    expectNear(hit.basis[1], 0, 2, 0);
    EXPECT_FALSE(plane.intersect({2.5f, 0, 3, 0}, {0, 0, -1, 0}, 0.0f, 1e30f, hit));

    // A unit box turned 90 degrees about z: its +x face looks along world +y.
    const Shape box(ShapeKind::Box, {0, 0, 0, 0}, {2, 2, 2, 0}, {0, 0, 90});
    ASSERT_TRUE(box.intersect({0, 5, 0.5f, 0}, {0, -1, 0, 0}, 0.0f, 1e30f, hit));
    EXPECT_FLOAT_EQ(hit.t, 4.0f);
    expectNear(hit.normal, 0, 1, 0);
    // Object space undoes the turn: the world point (0, 1, 0.5) is the object point (1, 0, 0.5).
    const UVWTransform space = box.objectSpace();
    expectNear(applyPoint(space, hit.point), 1, 0, 0.5f);
    // On the +x face u follows object y and v object z: (0 / 2 + 0.5, 0.5 / 2 + 0.5).
    expectNear(hit.uvw, 0.5f, 0.75f, 0);
    // From inside, the exit face.
    ASSERT_TRUE(box.intersect({0, 0, 0, 0}, {0, 0, 1, 0}, 0.0f, 1e30f, hit));
    EXPECT_FLOAT_EQ(hit.t, 1.0f);
    expectNear(hit.normal, 0, 0, 1);
}

TEST(SceneCameraTest, RaysAndDifferentials) {
    // 90 degrees across 200 pixels: one pixel is 0.01 of the unit image plane.
    const kivohost::SceneCamera camera({0, -5, 0, 0}, {0, 0, 0, 0}, {0, 0, 1, 0}, 90.0f, 200, 100);
    const kivohost::CameraRay centre = camera.ray(100.0f, 50.0f);
    expectNear(centre.direction, 0, 1, 0);
    expectNear(centre.dDdx, 0.01f, 0, 0);
    expectNear(centre.dDdy, 0, 0, -0.01f); // y runs down the image

    KivoFrameData frame;
    frame.sceneOrigin = {0, -1, 0};
    camera.describe(frame);
    expectNear(frame.cameraTransform.m.c2, 0, -1, 0); // looking down -z
    expectNear(frame.cameraTransform.m.c1, 0, 0, 1);
    EXPECT_DOUBLE_EQ(frame.cameraTransform.offs.y, -4.0);
    EXPECT_NEAR(frame.fov, std::numbers::pi_v<float> / 2.0f, 1e-6f);
}
