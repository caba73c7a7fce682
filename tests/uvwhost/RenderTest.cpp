// Rendering: every example scene at a small size, the same picture from any number of render
// threads. (The showcase and the output images: the case files.)
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
    std::string bytes = test::readFile(path);
    EXPECT_EQ(bytes.substr(1, 3), "PNG");
    bytes.resize(24);
    unsigned size[2] = {};
    for (std::size_t i = 16; i < 24; ++i) {
        size[i / 20] = size[i / 20] << 8 | std::uint8_t(bytes[i]);
    }
    return {size[0], size[1]};
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
                                 "40", "--height", "30", "--threads", "4", "--quiet"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(pngSize(out), std::make_pair(40u, 30u));
        // The same picture from one render thread.
        if (stem == "UVWGenChannel") {
            run({"render", "--scene", entry.path().string(), "-o", dir.file("1.png"), "--width",
                 "40", "--height", "30", "--threads", "1", "--quiet"});
            EXPECT_EQ(test::readFile(dir.file("1.png")), test::readFile(out));
        }
    }
    // One scene per plugin type, the projection gallery and the vase's two.
    EXPECT_EQ(scenes, meshes ? 11 : 9);
}
