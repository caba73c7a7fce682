// uvwhost bake: texels against the UVs and positions they show, the padding, overlapping UV
// islands, the same texels for any thread count, and the projection round trip of examples/vase
// measured with uvwhost compare. (The inputs that are refused: the refused-input tests.)
#include "tests/support/Uvwhost.h"

#include <filesystem>
#include <gtest/gtest.h>

#if defined(UVWHOST_HAVE_ASSETS)

using namespace uvwhost;
using test::run;
using test::TempDir;

namespace {

// Two unit squares with the same UV island, u from 0.115625 to 0.875 and v from 0.125 to 0.875
// (x from 3.7 to 28 and y from 4 to 28 in texels of 32 x 32): the one at z = 0 listed first
// when `lowFirst`, else the one at z = 1.
std::string squares(bool lowFirst) {
    std::string obj = "vt 0.115625 0.125\nvt 0.875 0.125\nvt 0.875 0.875\nvt 0.115625 0.875\n";
    for (int k = 0; k < 2; ++k) {
        const char* z = (k == 0) == lowFirst ? "0" : "1";
        for (const char* xy : {"0 0", "1 0", "1 1", "0 1"}) {
            obj += std::string("v ") + xy + " " + z + "\n";
        }
    }
    return obj + "f 1/1 2/2 3/3\nf 1/1 3/3 4/4\nf 5/1 6/2 7/3\nf 5/1 7/3 8/4\n";
}

// The squares named "part", and textures showing the UVW of map channel 1 ("uv") and the
// world position ("position").
const char* const SCENE = R"({"objects": [{"shape": "mesh", "name": "part", "file": "squares.obj",
    "texture": "@uv"}],
  "instances": [{"name": "ch", "type": "UVWGenChannel", "params": {"uvw_channel": 1}},
    {"name": "uv", "type": "TexUVW", "params": {"uvwgen": "@ch"}},
    {"name": "world", "type": "UVWGenPlanarWorld"},
    {"name": "position", "type": "TexUVW", "params": {"uvwgen": "@world"}}]})";

// The float pixels of `texture` baked from the squares (`lowFirst`) into 32 x 32 texels, `more`
// options added.
std::vector<float> bake(const TempDir& dir, bool lowFirst, const char* texture,
                        std::vector<std::string> more) {
    dir.write("squares.obj", squares(lowFirst));
    const std::string file = dir.write("scene.json", SCENE);
    std::vector<std::string> args = {"bake",           "--scene", file,     "--object", "part",
                                     "--texture",      texture,   "--size", "32",       "-o",
                                     dir.file("t.exr")};
    args.insert(args.end(), more.begin(), more.end());
    const auto r = run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return test::readPixels(dir.file("t.exr"), 4);
}

} // namespace

// The texels (float pixels, exactly: OpenEXR headers carry the time of writing) are the same
// for any thread count.
TEST(UvwhostBake, TexelsShowTheirUVsGrowByThePaddingAndTakeTheFirstOfOverlappingTriangles) {
    TempDir dir;
    const std::vector<float> t =
        bake(dir, true, "uv", {"--padding", "2", "--samples", "2", "--threads", "1"});
    EXPECT_EQ(bake(dir, true, "uv", {"--padding", "2", "--samples", "2", "--threads", "3"}), t);
    ASSERT_EQ(t.size(), 32u * 32 * 4);
    auto at = [&](int x, int y, int k) { return t[std::size_t((y * 32 + x) * 4 + k)]; };
    // Covered texels: the mean u and v of their samples (rows run down in v), alpha 1. Texel 3
    // is covered though its centre is outside: its sample at x = 3.25 takes the edge's u (3.7),
    // the one at 3.75 its own. Texel 28 only touches the island and is not covered.
    for (auto [x, u] : {std::pair{3, 3.725f}, {10, 10.5f}, {27, 27.5f}}) {
        EXPECT_NEAR(at(x, 10, 0), u / 32.0f, 1e-5f) << x;
        EXPECT_NEAR(at(x, 10, 1), 1.0f - 10.5f / 32.0f, 1e-5f) << x;
        EXPECT_EQ(at(x, 10, 3), 1.0f);
    }
    // Two texels of padding carry the edge's colour with alpha 0; beyond them nothing.
    for (auto [x, u] : {std::pair{1, 3.725f}, {2, 3.725f}, {28, 27.5f}, {29, 27.5f}}) {
        EXPECT_NEAR(at(x, 10, 0), u / 32.0f, 1e-5f) << x;
        EXPECT_EQ(at(x, 10, 3), 0.0f);
    }
    EXPECT_EQ(at(0, 10, 0), 0.0f);
    EXPECT_EQ(at(30, 10, 0), 0.0f);
    // Overlapping UV islands: z of the position shown is the square listed first's.
    for (const bool lowFirst : {true, false}) {
        EXPECT_EQ(bake(dir, lowFirst, "position", {})[(10 * 32 + 10) * 4 + 2],
                  lowFirst ? 0.0f : 1.0f);
    }
}

// The round trip at a quick size: four 256-pixel unlit renders of the vase's known checker
// projected back and baked into 64 x 64 texels (4 x 4 samples each), against the checker baked
// directly. Texels inside the checker's squares come back within the renders' 8-bit rounding;
// the error lives on the squares' edges and the UV seam, where render pixels straddling the
// edge are read back bilinearly (about one render pixel, a texel at this size, along every
// edge). That measures 33 dB here (39 dB for the example's 768-pixel renders and 256 texels);
// 30 dB leaves room for rounding across platforms, while cameras misplaced by 0.1 (a fifth of
// the vase's radius) give 17 dB. The depth maps matter only where the vase hides part of
// itself from a camera (about 1.5 dB without them).
TEST(UvwhostBake, ProjectedRendersBakeBackToTheTextureTheyShow) {
    TempDir dir;
    const std::string examples = std::string(UVWHOST_EXAMPLES_DIR) + "/vase/";
    std::filesystem::create_directories(dir.file("views"));
    for (const char* name : {"vase.gltf", "roundtrip_render.json", "roundtrip_project.json"}) {
        std::filesystem::copy_file(examples + name, dir.file(name));
    }
    for (const char* camera : {"front", "left", "right", "back"}) {
        const std::string view = dir.file(std::string("views/") + camera);
        const auto r = run({"render", "--scene", dir.file("roundtrip_render.json"), "--camera",
                            camera, "--width", "256", "--height", "256", "--threads", "2", "-o",
                            view + ".png", "--aov-depth", view + "_depth.exr", "--quiet"});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    for (const char* scene : {"render", "project"}) {
        const bool truth = scene == std::string("render");
        const auto r =
            run({"bake", "--scene", dir.file(std::string("roundtrip_") + scene + ".json"),
                 "--object", "vase", "--texture", truth ? "truth" : "projected", "--size", "64",
                 "--samples", "4", "--alpha", truth ? "coverage" : "texture", "--threads", "2",
                 "-o", dir.file(std::string(scene) + ".exr"), "--quiet"});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    const auto r = run({"compare", dir.file("render.exr"), dir.file("project.exr"), "--min-alpha",
                        "0.99", "-o", dir.file("difference.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    const Json figures = r.json();
    // The four cameras see all but the rim's inside.
    EXPECT_GT(figures["compared"].get<int>(), 64 * 64 * 9 / 10);
    EXPECT_GE(figures["psnr_db"].get<double>(), 30.0) << figures.dump();
    EXPECT_GE(figures["within_2_255"].get<double>(), 0.5) << figures.dump();
    EXPECT_TRUE(std::filesystem::exists(dir.file("difference.png")));
}

#endif
