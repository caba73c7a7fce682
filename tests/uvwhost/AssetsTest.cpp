// Assets in scene files: meshes and images in every format read, written here and read back;
// map-channel UVW and bases against hand values on one triangle; renders through the mesh,
// the camera projection's fit to a bitmap, the depth output against a sphere's distances, and
// the errors for assets that cannot be used.
#include "uvwhost/Assets.h"

#include "kivo/VectorMath.h"
#include "scene/SceneCamera.h"
#include "tests/support/Uvwhost.h"

#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <tuple>
#include <vector>

#if defined(UVWHOST_HAVE_ASSETS)
#include <OpenImageIO/imageio.h>
#include <assimp/Exporter.hpp>
#include <assimp/Importer.hpp>
#endif

using namespace uvwhost;
using namespace KUtils;
using test::run;
using test::TempDir;

namespace {

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Renders `scene` (the object is written as JSON into the file) with extra arguments.
test::Run render(const TempDir& dir, const Json& scene, std::vector<std::string> extra) {
    const std::string path = dir.file("scene.json");
    writeText(path, scene.dump());
    std::vector<std::string> args = {"render", "--scene", path, "--threads", "2", "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run(args);
}

#if defined(UVWHOST_HAVE_ASSETS)

// The triangle p0 (0,0,0), p1 (2,0,0), p2 (1,2,0) with UV set 0 (0,0), (1,0), (0,1) and UV
// set 1 (0.5,0.5), (0.5,1.5), (-0.5,0.5). By hand, p = p0 + u e1 + v e2 solved for the sets:
// set 0: dP/du = e1 = (2,0,0), dP/dv = e2 = (1,2,0); set 1: dP/du = -e2 = (-1,-2,0), dP/dv =
// e1 = (2,0,0). At barycentrics (0.3, 0.4) (the point (1, 0.8, 0)): set 0 (0.3, 0.4), set 1
// (0.1, 0.8).
const char* const OBJ = "v 0 0 0\nv 2 0 0\nv 1 2 0\nvt 0 0\nvt 1 0\nvt 0 1\nvn 0 0 1\n"
                        "f 1/1/1 2/2/1 3/3/1\n";
const char* const PLY = "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\n"
                        "property float y\nproperty float z\nproperty float s\nproperty float t\n"
                        "element face 1\nproperty list uchar int vertex_indices\nend_header\n"
                        "0 0 0 0 0\n2 0 0 1 0\n1 2 0 0 1\n3 0 1 2\n";

// glTF with both UV sets (glTF's v runs downwards: stored as 1 - v).
std::string gltf() {
    const float positions[9] = {0, 0, 0, 2, 0, 0, 1, 2, 0};
    const float uv0[6] = {0, 1, 1, 1, 0, 0};
    const float uv1[6] = {0.5f, 0.5f, 0.5f, -0.5f, -0.5f, 0.5f};
    std::string bytes(reinterpret_cast<const char*>(positions), sizeof positions);
    bytes.append(reinterpret_cast<const char*>(uv0), sizeof uv0);
    bytes.append(reinterpret_cast<const char*>(uv1), sizeof uv1);
    std::string base64;
    const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t i = 0; i < bytes.size(); i += 3) { // 84 bytes: no padding
        const unsigned n = unsigned(std::uint8_t(bytes[i])) << 16 |
                           unsigned(std::uint8_t(bytes[i + 1])) << 8 | std::uint8_t(bytes[i + 2]);
        for (int k = 3; k >= 0; --k) {
            base64 += digits[(n >> (6 * k)) & 63];
        }
    }
    auto accessor = [](int view, const char* type) {
        return Json{{"bufferView", view}, {"componentType", 5126}, {"count", 3}, {"type", type}};
    };
    Json a0 = accessor(0, "VEC3");
    a0["min"] = {0, 0, 0};
    a0["max"] = {2, 2, 0};
    const Json doc = {
        {"asset", {{"version", "2.0"}}},
        {"scene", 0},
        {"scenes", {{{"nodes", {0}}}}},
        {"nodes", {{{"mesh", 0}}}},
        {"meshes",
         {{{"primitives",
            {{{"attributes", {{"POSITION", 0}, {"TEXCOORD_0", 1}, {"TEXCOORD_1", 2}}}}}}}}},
        {"buffers",
         {{{"byteLength", 84}, {"uri", "data:application/octet-stream;base64," + base64}}}},
        {"bufferViews",
         {{{"buffer", 0}, {"byteOffset", 0}, {"byteLength", 36}},
          {{"buffer", 0}, {"byteOffset", 36}, {"byteLength", 24}},
          {{"buffer", 0}, {"byteOffset", 60}, {"byteLength", 24}}}},
        {"accessors", {a0, accessor(1, "VEC2"), accessor(2, "VEC2")}}};
    return doc.dump();
}

void expectNear(const Vector4f& v, float x, float y, float z, float tolerance = 1e-5f) {
    EXPECT_NEAR(v.x, x, tolerance);
    EXPECT_NEAR(v.y, y, tolerance);
    EXPECT_NEAR(v.z, z, tolerance);
}

// The mesh scene: the triangle seen from straight above through pixel (4, 4) of 9 x 9 at
// (1, 0.8, 0), textured with the UVW of map channel `channel`.
Json triangleScene(const std::string& file, int channel) {
    return {{"image", {{"width", 9}, {"height", 9}, {"samples", 1}}},
            {"camera",
             {{"position", {1, 0.8, 5}}, {"target", {1, 0.8, 0}}, {"up", {0, 1, 0}}, {"fov", 20}}},
            {"instances",
             {{{"name", "ch"}, {"type", "UVWGenChannel"}, {"params", {{"uvw_channel", channel}}}},
              {{"name", "uvw"}, {"type", "TexUVW"}, {"params", {{"uvwgen", "@ch"}}}}}},
            {"objects", {{{"shape", "mesh"}, {"file", file}, {"texture", "@uvw"}}}}};
}

// A float EXR read back: `channels` floats a pixel.
std::vector<float> readExr(const std::string& path, int channels) {
    auto in = OIIO::ImageInput::open(path);
    EXPECT_TRUE(in) << path;
    if (!in) {
        return {};
    }
    std::vector<float> pixels(std::size_t(in->spec().width * in->spec().height * channels));
    in->read_image(0, 0, 0, channels, OIIO::TypeDesc::FLOAT, pixels.data());
    return pixels;
}

#endif

} // namespace

#if defined(UVWHOST_HAVE_ASSETS)

TEST(UvwhostAssets, MeshFormatsGiveTheMapChannelsOfTheTriangle) {
    TempDir dir;
    writeText(dir.file("t.obj"), OBJ);
    writeText(dir.file("t.ply"), PLY);
    writeText(dir.file("t.gltf"), gltf());
    // GLB and FBX through the exporter, from the glTF.
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(dir.file("t.gltf"), 0);
    ASSERT_TRUE(scene) << importer.GetErrorString();
    Assimp::Exporter exporter;
    ASSERT_EQ(exporter.Export(scene, "glb2", dir.file("t.glb")), AI_SUCCESS);
    ASSERT_EQ(exporter.Export(scene, "fbxa", dir.file("t.fbx")), AI_SUCCESS);

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

    // Rendered: Embree finds the triangle and the channels reach the generator (map channel
    // k + 1 is UV set k), in the UVW output of the pixel through (1, 0.8, 0).
    for (const auto& [channel, u, v] : {std::tuple{1, 0.3f, 0.4f}, std::tuple{2, 0.1f, 0.8f}}) {
        const std::string aov = dir.file("uvw.exr");
        const test::Run r = render(dir, triangleScene(dir.file("t.glb"), channel),
                                   {"-o", dir.file("t.png"), "--aov-uvw", aov});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<float> uvw = readExr(aov, 3);
        ASSERT_EQ(uvw.size(), 81u * 3);
        EXPECT_NEAR(uvw[(4 * 9 + 4) * 3], u, 1e-4f);
        EXPECT_NEAR(uvw[(4 * 9 + 4) * 3 + 1], v, 1e-4f);
    }
}

TEST(UvwhostAssets, ShippedVaseScenesRender) {
    TempDir dir;
    for (const char* scene : {"vase.json", "vase_views.json"}) {
        const test::Run r =
            run({"render", "--scene", std::string(UVWHOST_EXAMPLES_DIR) + "/vase/" + scene, "-o",
                 dir.file("vase.png"), "--width", "48", "--height", "27", "--quiet"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(std::filesystem::exists(dir.file("vase.png")));
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
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                EXPECT_NEAR(KUtils::dot3(b[i], b[j]), i == j ? 1.0f : 0.0f, 1e-6f);
            }
        }
    }
}

TEST(UvwhostAssets, ImageFormatsReadBackAsLinearColour) {
    TempDir dir;
    // 2 x 2 grey, top left 0.5, the rest 0.2.
    const float pixels[4] = {0.5f, 0.2f, 0.2f, 0.2f};
    auto srgbDecoded = [](float stored) { return std::pow((stored + 0.055f) / 1.055f, 2.4f); };
    const struct {
        const char* name;
        OIIO::TypeDesc type;
        float topLeft, tolerance;
    } cases[] = {{"a.png", OIIO::TypeDesc::UINT8, srgbDecoded(128 / 255.0f), 1e-4f},
                 {"b.png", OIIO::TypeDesc::UINT16, srgbDecoded(32768 / 65535.0f), 1e-4f},
                 {"c.jpg", OIIO::TypeDesc::UINT8, srgbDecoded(0.5f), 0.03f},
                 {"d.tif", OIIO::TypeDesc::UINT16, srgbDecoded(32768 / 65535.0f), 1e-4f},
                 {"e.tif", OIIO::TypeDesc::FLOAT, 0.5f, 1e-6f},
                 {"f.exr", OIIO::TypeDesc::HALF, 0.5f, 1e-6f},
                 {"g.exr", OIIO::TypeDesc::FLOAT, 0.5f, 1e-6f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto out = OIIO::ImageOutput::create(c.name);
        ASSERT_TRUE(out);
        ASSERT_TRUE(out->open(dir.file(c.name), OIIO::ImageSpec(2, 2, 1, c.type)));
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

TEST(UvwhostAssets, CameraProjectionFitsToTheBitmapAndFollowsTheCamera) {
    TempDir dir;
    // A 40 x 10 image (aspect 4) for a 20 x 10 render (aspect 2): the horizontal fit scales
    // v about 0.5 by 4 / 2. The projection has no camera_view: it projects from the render's
    // own camera, which reaches it through the sequence data.
    auto out = OIIO::ImageOutput::create("png");
    ASSERT_TRUE(out->open(dir.file("wide.png"), OIIO::ImageSpec(40, 10, 3, OIIO::TypeDesc::UINT8)));
    const std::vector<float> black(40 * 10 * 3);
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, black.data()));
    out->close();
    // Third: the camera moves over the shutter, which its projection follows (the sample at
    // mid-shutter lands where the camera at its start sees it: the same UVW).
    std::vector<float> uvw[3];
    for (int fit = 0; fit < 3; ++fit) {
        Json projection = {{"type", 8}};
        if (fit == 1) {
            projection["bitmap"] = "@wide";
            projection["fitfill"] = 1;
        }
        Json camera = {{"position", {0, 0, 5}}, {"target", {0, 0, 0}}, {"up", {0, 1, 0}}};
        if (fit == 2) {
            camera["motion"] = {0.4, 0.2, 0};
        }
        const Json scene = {
            {"image", {{"width", 20}, {"height", 10}, {"samples", 1}}},
            {"frame", {{"motionBlur", fit == 2}}},
            {"camera", camera},
            {"instances",
             {{{"name", "wide"}, {"type", "BitmapBuffer"}, {"params", {{"file", "wide.png"}}}},
              {{"name", "cam"}, {"type", "UVWGenProjection"}, {"params", projection}},
              {{"name", "uvw"}, {"type", "TexUVW"}, {"params", {{"uvwgen", "@cam"}}}}}},
            {"objects", {{{"shape", "plane"}, {"texture", "@uvw"}}}}};
        const test::Run r =
            render(dir, scene, {"-o", dir.file("fit.png"), "--aov-uvw", dir.file("fit.exr")});
        ASSERT_EQ(r.status, 0) << r.err;
        uvw[fit] = readExr(dir.file("fit.exr"), 3);
        ASSERT_EQ(uvw[fit].size(), 200u * 3);
    }
    for (std::size_t i = 0; i < 200; ++i) {
        SCOPED_TRACE(i);
        // Pixel centres map to their place in the image: u = (x + 0.5) / 20.
        EXPECT_NEAR(uvw[0][i * 3], (float(i % 20) + 0.5f) / 20.0f, 1e-4f);
        EXPECT_NEAR(uvw[1][i * 3], uvw[0][i * 3], 1e-6f);
        EXPECT_NEAR(uvw[1][i * 3 + 1], (uvw[0][i * 3 + 1] - 0.5f) * 2.0f + 0.5f, 1e-5f);
        EXPECT_NEAR(uvw[2][i * 3], uvw[0][i * 3], 1e-5f);
        EXPECT_NEAR(uvw[2][i * 3 + 1], uvw[0][i * 3 + 1], 1e-5f);
    }
}

TEST(UvwhostAssets, DepthOutputIsTheDistanceFromTheCameraCentre) {
    TempDir dir;
    const Json scene = {
        {"image", {{"width", 24}, {"height", 16}, {"samples", 1}}},
        {"camera", {{"position", {0.3, -5, 0.2}}, {"target", {0, 0, 0}}, {"fov", 30}}},
        {"instances", {{{"name", "grey"}, {"type", "TexConstant"}}}},
        {"objects", {{{"shape", "sphere"}, {"center", {0, 0, 0}}, {"texture", "@grey"}}}}};
    const test::Run r =
        render(dir, scene, {"-o", dir.file("s.png"), "--aov-depth", dir.file("depth.exr")});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<float> depth = readExr(dir.file("depth.exr"), 1);
    ASSERT_EQ(depth.size(), 24u * 16);
    const kivohost::SceneCamera camera({0.3f, -5, 0.2f, 0}, {}, {0, 0, 1, 0}, 30, 24, 16);
    int hits = 0;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 24; ++x) {
            // |o + t d| = 1 for the unit direction d: t = -o.d - sqrt((o.d)^2 - |o|^2 + 1).
            const auto ray = camera.ray(float(x) + 0.5f, float(y) + 0.5f);
            const double od = KUtils::dot3(ray.origin, ray.direction);
            const double disc = od * od - KUtils::dot3(ray.origin, ray.origin) + 1.0;
            const double expected = disc >= 0 ? -od - std::sqrt(disc) : 0.0;
            hits += disc >= 0;
            EXPECT_NEAR(depth[std::size_t(y * 24 + x)], expected, 1e-4) << x << "," << y;
        }
    }
    EXPECT_GT(hits, 40);
}

#endif

TEST(UvwhostAssets, AssetsThatCannotBeUsedAreRefusedNamingTheFile) {
    TempDir dir;
    writeText(dir.file("nouv.obj"), "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    writeText(dir.file("notamesh.xyz"), "hello\n");
    writeText(dir.file("broken.png"), "\x89PNG\r\n\x1a\nthis is not the rest of a png");
    auto meshScene = [&](const std::string& file) {
        return Json{{"instances", {{{"name", "grey"}, {"type", "TexConstant"}}}},
                    {"objects", {{{"shape", "mesh"}, {"file", file}, {"texture", "@grey"}}}}};
    };
    auto imageScene = [&](const std::string& file) {
        return Json{{"instances",
                     {{{"name", "img"}, {"type", "BitmapBuffer"}, {"params", {{"file", file}}}}}}};
    };
    const std::string out = dir.file("never.png");
#if defined(UVWHOST_HAVE_ASSETS)
    const std::string missing = "No such file or directory";
#else
    const std::string missing = "this uvwhost was built without mesh and image files";
#endif
    const struct {
        Json scene;
        std::vector<std::string> extra;
        std::string expected;
    } cases[] =
    { {meshScene("absent.obj"),
       {},
       "cannot read the mesh file \"" + dir.file("absent.obj") + "\": " + missing},
      {imageScene("absent.png"),
       {},
       "cannot read the image file \"" + dir.file("absent.png") + "\": " + missing},
#if defined(UVWHOST_HAVE_ASSETS)
      {meshScene("nouv.obj"), {}, "has no UV set; expected texture coordinates on every part"},
      {meshScene("notamesh.xyz"),
       {},
       "the mesh file \"" + dir.file("notamesh.xyz") +
           "\": expected a mesh in a format uvwhost reads"},
      {imageScene("broken.png"), {}, "the image file \"" + dir.file("broken.png") + "\""},
#endif
      {meshScene("absent.obj"), {"--camera", "side"}, "no camera named \"side\" (cameras: camera)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        std::vector<std::string> extra = {"-o", out};
        extra.insert(extra.end(), c.extra.begin(), c.extra.end());
        const test::Run r = render(dir, c.scene, extra);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}
