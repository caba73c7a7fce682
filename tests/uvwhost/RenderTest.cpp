// Rendering: every example scene at a small size, the showcase, the UVW output image, the
// same picture from any number of render threads, and instances of a scene file evaluated.
#include "tests/support/Uvwhost.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace uvwhost;
using test::run;
using test::TempDir;

namespace {

namespace fs = std::filesystem;

// Width and height from a PNG file's header.
std::pair<unsigned, unsigned> pngSize(const std::string& path) {
    const std::string bytes = test::readFile(path);
    EXPECT_GE(bytes.size(), 24u);
    EXPECT_EQ(bytes.substr(1, 3), "PNG");
    auto be32 = [&](std::size_t at) {
        unsigned n = 0;
        for (std::size_t i = at; i < at + 4 && i < bytes.size(); ++i) {
            n = n << 8 | std::uint8_t(bytes[i]);
        }
        return n;
    };
    return {be32(16), be32(20)};
}

} // namespace

TEST(UvwhostRender, EveryExampleSceneRendersAtASmallSize) {
    TempDir dir;
    int scenes = 0;
#if defined(UVWHOST_HAVE_ASSETS)
    const bool meshes = true;
#else
    const bool meshes = false;
#endif
    for (const auto& entry : fs::recursive_directory_iterator(UVWHOST_EXAMPLES_DIR)) {
        // The vase's scenes need its mesh file; the round trip's need its renders (the bake
        // tests make them).
        const std::string stem = entry.path().stem().string();
        const bool vase = entry.path().parent_path().filename() == "vase";
        if (entry.path().extension() != ".json" || stem.starts_with("roundtrip") ||
            (vase && !meshes)) {
            continue;
        }
        SCOPED_TRACE(entry.path().string());
        ++scenes;
        const std::string out = dir.file(stem + ".png");
        const test::Run r = run({"render", "--scene", entry.path().string(), "-o", out, "--width",
                                 "40", "--height", "30", "--threads", "2", "--quiet"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(pngSize(out), std::make_pair(40u, 30u));
    }
    // One scene per plugin type, the projection gallery and the vase's two.
    EXPECT_EQ(scenes, meshes ? 11 : 9);
}

TEST(UvwhostRender, ShowcaseTilesEveryPluginTypeIntoOnePicture) {
    TempDir dir;
    const std::string out = dir.file("showcase.png");
    const std::string uvw = dir.file("uvw.exr");
    const test::Run r = run({"render", "-o", out, "--width", "96", "--height", "48", "--threads",
                             "2", "--aov-uvw", uvw});
#if !defined(UVWHOST_HAVE_OPENEXR)
    // Builds without OpenEXR (Windows) name what is missing.
    EXPECT_NE(r.err.find("cannot write " + uvw + ": this uvwhost was built without OpenEXR"),
              std::string::npos);
    GTEST_SKIP() << "no OpenEXR in this build";
#endif
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(pngSize(out), std::make_pair(96u, 48u));
    EXPECT_NE(r.err.find("wrote " + out + " (96x48) and " + uvw), std::string::npos) << r.err;
    // Not a terminal: no progress bar.
    EXPECT_EQ(r.err.find('\r'), std::string::npos);
    EXPECT_EQ(test::readFile(uvw).substr(0, 4), std::string("\x76\x2f\x31\x01", 4));
}

TEST(UvwhostRender, ConcurrentRenderThreadsGiveTheSamePicture) {
    TempDir dir;
    for (const char* threads : {"1", "4"}) {
        ASSERT_EQ(
            run({"render", "--scene", std::string(UVWHOST_EXAMPLES_DIR) + "/UVWGenChannel.json",
                 "-o", dir.file(threads + std::string(".png")), "--width", "64", "--height", "48",
                 "--threads", threads, "--quiet"})
                .status,
            0);
    }
    EXPECT_EQ(test::readFile(dir.file("1.png")), test::readFile(dir.file("4.png")));
}

TEST(UvwhostEval, InstancesOfASceneFile) {
    const std::string scene = std::string(UVWHOST_EXAMPLES_DIR) + "/UVWGenPlanarWorld.json";
    // The scene's transform offsets the world position by 0.5 on every axis.
    const test::Run r = run({"eval", "UVWGenPlanarWorld", "--scene", scene, "--instance", "world"},
                            R"({"shadingPoint": [1, 2, 3]})");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.lines().at(0)["uvw"], Json::parse("[1.5, 2.5, 3.5]"));
    // A texture of the scene evaluates as a colour.
    const test::Run tex = run({"eval", "TexChecker", "--scene", scene, "--instance", "checker"},
                              R"({"shadingPoint": [0.25, 0.25, 0.25]})");
    ASSERT_EQ(tex.status, 0) << tex.err;
    EXPECT_EQ(tex.lines().at(0)["color"].size(), 4u);
}
