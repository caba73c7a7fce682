// The rendered world: the shapes' hits, analytic mapping channels, bases and object spaces,
// and the camera's rays and differentials against hand-computed values; assets in scene files:
// meshes and images in every format read, written here and read back; map-channel UVW and
// bases against hand values on one triangle. (Renders through the mesh, the depth output and
// the assets that cannot be used: the case files.)
#include "uvwhost/Assets.h"

#include "kivo/VectorMath.h"
#include "scene/SceneCamera.h"
#include "scene/SceneShapes.h"
#include "tests/support/Uvwhost.h"

#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <numbers>
#include <vector>

#if defined(UVWHOST_HAVE_ASSETS)
#include <OpenImageIO/imageio.h>
#include <assimp/Exporter.hpp>
#include <assimp/Importer.hpp>
#endif

using namespace uvwhost;
using namespace KUtils;
using kivohost::Shape;
using kivohost::ShapeHit;
using kivohost::ShapeKind;
using test::TempDir;

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

#if defined(UVWHOST_HAVE_ASSETS)

// The triangle p0 (0,0,0), p1 (2,0,0), p2 (1,2,0) with UV set 0 (0,0), (1,0), (0,1) and UV
// set 1 (0.5,0.5), (0.5,1.5), (-0.5,0.5). By hand, p = p0 + u e1 + v e2 solved for the sets:
// set 0: dP/du = e1 = (2,0,0), dP/dv = e2 = (1,2,0); set 1: dP/du = -e2 = (-1,-2,0), dP/dv =
// e1 = (2,0,0). At barycentrics (0.3, 0.4) (the point (1, 0.8, 0)): set 0 (0.3, 0.4), set 1
// (0.1, 0.8). cases/triangle.gltf holds it with both UV sets (glTF's v runs downwards: stored
// as 1 - v).

TEST(UvwhostAssets, MeshFormatsGiveTheMapChannelsOfTheTriangle) {
    TempDir dir;
    std::filesystem::copy_file(UVWHOST_CASES_DIR "/triangle.gltf", dir.file("t.gltf"));
    // The other formats through the exporter, from the glTF (OBJ and PLY hold one UV set).
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(dir.file("t.gltf"), 0);
    ASSERT_TRUE(scene) << importer.GetErrorString();
    Assimp::Exporter exporter;
    for (const auto& [format, name] :
         {std::pair{"glb2", "t.glb"}, {"fbxa", "t.fbx"}, {"obj", "t.obj"}, {"ply", "t.ply"}}) {
        ASSERT_EQ(exporter.Export(scene, format, dir.file(name)), AI_SUCCESS);
    }
    for (const auto& [name, sets] : std::vector<std::pair<std::string, std::size_t>>{
             {"t.obj", 1}, {"t.ply", 1}, {"t.gltf", 2}, {"t.glb", 2}, {"t.fbx", 2}}) {
        SCOPED_TRACE(name);
        auto mesh = loadMesh(dir.file(name));
        ASSERT_TRUE(mesh) << mesh.error();
        ASSERT_EQ(mesh->triangles.size(), 1u);
        ASSERT_EQ(mesh->uvs.size(), sets);
        // Placed by a turn about z and a move: the basis turns with the mesh.
        const kivohost::PlacedMesh placed(*mesh, {{5, 0, 0, 0}, {0, 0, 90}, {1, 1, 1, 0}});
        // Vertex order may differ by format: find the barycentrics of (1, 0.8) in the file's
        // order, then check the point and the channels there.
        const auto& p = placed.world().positions;
        const auto& tri = mesh->triangles[0];
        const Vector4f target{5 - 0.8f, 1, 0, 0};
        const Vector4f e1 = p[tri[1]] - p[tri[0]], e2 = p[tri[2]] - p[tri[0]];
        const Vector4f d = target - p[tri[0]];
        const float det = e1.x * e2.y - e1.y * e2.x;
        const float b1 = (d.x * e2.y - d.y * e2.x) / det, b2 = (e1.x * d.y - e1.y * d.x) / det;
        const auto surface = placed.surface(0, b1, b2);
        expectNear(surface.point, target.x, target.y, 0);
        expectNear(surface.faceNormal, 0, 0, 1);
        expectNear(surface.normal, 0, 0, 1);
        Vector4f uvw, basis[3];
        placed.channel(0, b1, b2, 0, uvw, basis);
        expectNear(uvw, 0.3f, 0.4f, 0);
        // (2,0,0) and (1,2,0) turned by 90 degrees about z.
        expectNear(basis[0], 0, 2, 0);
        expectNear(basis[1], -2, 1, 0);
        expectNear(basis[2], 0, 0, 1);
        if (sets == 2) {
            placed.channel(0, b1, b2, 1, uvw, basis);
            expectNear(uvw, 0.1f, 0.8f, 0);
            expectNear(basis[0], 2, -1, 0);
            expectNear(basis[1], 0, 2, 0);
        }
    }
}

TEST(UvwhostAssets, DegenerateTrianglesGetAFiniteInvertibleBasis) {
    const Vector4f p[3] = {{0, 0, 0, 0}, {2, 0, 0, 0}, {1, 2, 0, 0}};
    const Vector4f line[3] = {{0, 0, 0, 0}, {1, 1, 0, 0}, {2, 2, 0, 0}};
    const Vector4f same[3] = {{0.5f, 0.5f, 0, 0}, {0.5f, 0.5f, 0, 0}, {0.5f, 0.5f, 0, 0}};
    const Vector4f point[3] = {{1, 1, 1, 0}, {1, 1, 1, 0}, {1, 1, 1, 0}};
    for (const auto& [positions, uvs] :
         {std::pair{p, line}, std::pair{p, same}, std::pair{point, line}, std::pair{point, same}}) {
        Vector4f b[3];
        kivohost::triangleBasis(positions, uvs, b);
        // Orthonormal: finite, unit and perpendicular.
        for (int i = 0; i < 9; ++i) {
            EXPECT_NEAR(KUtils::dot3(b[i / 3], b[i % 3]), i / 3 == i % 3 ? 1.0f : 0.0f, 1e-6f);
        }
    }
}

TEST(UvwhostAssets, ImageFormatsReadBackAsLinearColour) {
    TempDir dir;
    // 2 x 2 grey, top left 0.5, the rest 0.2.
    const float pixels[4] = {0.5f, 0.2f, 0.2f, 0.2f};
    auto srgb = [](float stored) { return std::pow((stored + 0.055f) / 1.055f, 2.4f); };
    const struct {
        const char* name;
        OIIO::TypeDesc type;
        float topLeft, tolerance;
    } cases[] = {{"a.png", OIIO::TypeDesc::UINT8, srgb(128 / 255.0f), 1e-4f},
                 {"c.jpg", OIIO::TypeDesc::UINT8, srgb(0.5f), 0.03f},
                 {"d.tif", OIIO::TypeDesc::UINT16, srgb(32768 / 65535.0f), 1e-4f},
                 {"f.exr", OIIO::TypeDesc::HALF, 0.5f, 1e-6f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto out = OIIO::ImageOutput::create(c.name);
        ASSERT_TRUE(out && out->open(dir.file(c.name), OIIO::ImageSpec(2, 2, 1, c.type)));
        ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, pixels));
        out->close();
        auto image = loadImage(dir.file(c.name));
        ASSERT_TRUE(image) << image.error();
        EXPECT_EQ((*image)->width(), 2);
        // v up: (0.25, 0.75) is the top left pixel's centre.
        const KUtils::AColor at = (*image)->lookup(0.25f, 0.75f, 0.0f, false, {});
        EXPECT_NEAR(at.r, c.topLeft, c.tolerance);
        EXPECT_EQ(at.r, at.b);
        EXPECT_EQ(at.a, 1.0f);
        // A footprint of the whole image reads the mean; beyond [0, 1) it repeats when tiled.
        float sum = 0.0f;
        for (const float u : {0.25f, 0.75f}) {
            for (const float v : {0.25f, 0.75f}) {
                sum += (*image)->lookup(u, v, 0.0f, false, {}).r;
            }
        }
        EXPECT_NEAR((*image)->lookup(0.5f, 0.5f, 1.0f, false, {}).r, sum / 4, 1e-5f);
        EXPECT_EQ((*image)->lookup(1.25f, -0.25f, 0, true, {}).r, at.r);
        EXPECT_EQ((*image)->lookup(1.25f, -0.25f, 0, false, {0.7f, 0, 0, 0}).r, 0.7f);
    }
}

#endif
