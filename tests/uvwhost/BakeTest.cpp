// uvwhost bake: the projection round trip of examples/vase measured with uvwhost compare. (The
// texels of a bake and the inputs that are refused: the case files.)
#include "tests/support/Uvwhost.h"

#include <filesystem>
#include <gtest/gtest.h>

#if defined(UVWHOST_HAVE_ASSETS)

using namespace uvwhost;
using test::run;
using test::TempDir;

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
