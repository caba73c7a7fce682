// Rendering: every example scene at a small size, the showcase, the UVW output image, the
// same picture from any number of render threads, and scene files that cannot be rendered.
#include "tests/support/Uvwhost.h"
#include "uvwhost/SceneFile.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

using namespace uvwhost;
using test::run;
using test::TempDir;

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Width and height from a PNG's header.
std::pair<unsigned, unsigned> pngSize(const std::string& bytes) {
    EXPECT_GE(bytes.size(), 24u);
    EXPECT_EQ(bytes.substr(1, 3), "PNG");
    auto be32 = [&](std::size_t at) {
        return (unsigned(std::uint8_t(bytes[at])) << 24) |
               (unsigned(std::uint8_t(bytes[at + 1])) << 16) |
               (unsigned(std::uint8_t(bytes[at + 2])) << 8) | unsigned(std::uint8_t(bytes[at + 3]));
    };
    return {be32(16), be32(20)};
}

} // namespace

TEST(UvwhostRender, EveryExampleSceneRendersAtASmallSize) {
    TempDir dir;
    int scenes = 0;
    for (const auto& entry : fs::directory_iterator(UVWHOST_EXAMPLES_DIR)) {
        if (entry.path().extension() != ".json") {
            continue;
        }
        SCOPED_TRACE(entry.path().string());
        ++scenes;
        const std::string out = dir.file(entry.path().stem().string() + ".png");
        const test::Run r = run({"render", "--scene", entry.path().string(), "-o", out, "--width",
                                 "40", "--height", "30", "--threads", "2", "--quiet"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(pngSize(readFile(out)), std::make_pair(40u, 30u));
    }
    // One scene per plugin type and the projection gallery.
    EXPECT_EQ(scenes, 9);
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
    EXPECT_EQ(pngSize(readFile(out)), std::make_pair(96u, 48u));
    EXPECT_NE(r.err.find("wrote " + out + " (96x48) and " + uvw), std::string::npos) << r.err;
    // Not a terminal: no progress bar.
    EXPECT_EQ(r.err.find('\r'), std::string::npos);
    const std::string exr = readFile(uvw);
    ASSERT_GE(exr.size(), 4u);
    EXPECT_EQ(exr.substr(0, 4), std::string("\x76\x2f\x31\x01", 4));
}

TEST(UvwhostRender, ConcurrentRenderThreadsGiveTheSamePicture) {
    TempDir dir;
    const std::string scene = std::string(UVWHOST_EXAMPLES_DIR) + "/UVWGenChannel.json";
    const std::string one = dir.file("one.png"), four = dir.file("four.png");
    ASSERT_EQ(run({"render", "--scene", scene, "-o", one, "--width", "64", "--height", "48",
                   "--threads", "1", "--quiet"})
                  .status,
              0);
    ASSERT_EQ(run({"render", "--scene", scene, "-o", four, "--width", "64", "--height", "48",
                   "--threads", "4", "--quiet"})
                  .status,
              0);
    EXPECT_EQ(readFile(one), readFile(four));
}

TEST(UvwhostRender, SceneErrorsNameTheFileAndWhatWasExpected) {
    TempDir dir;
    auto renderText = [&](const std::string& text) {
        const std::string path = dir.file("scene.json");
        std::ofstream(path) << text;
        return run({"render", "--scene", path, "-o", dir.file("out.png"), "--quiet"});
    };
    const std::string scene = dir.file("scene.json");
    struct Case {
        const char* text;
        std::string message;
    };
    const Case cases[] = {
        {R"({"objects": [{"shape": "cone", "texture": "@t"}]})",
         scene + " \"objects\"[0] \"shape\": expected \"sphere\", \"plane\", \"box\" or \"mesh\", "
                 "got \"cone\""},
        {R"({"objects": [{"shape": "sphere", "texture": "@missing"}]})",
         scene + " \"objects\"[0]: no instance named \"missing\""},
        {R"({"instances": [{"name": "t", "type": "TexNothing"}]})",
         scene + ": instance \"t\": unknown plugin type 'TexNothing'"},
        {R"({"instances": [{"name": "t", "type": "TexGrid", "params": {"divisions": "8"}}]})",
         scene +
             ": instance \"t\": parameter 'divisions' (int): expected a 32-bit integer, got \"8\""},
        {R"({"instances": [{"name": "t", "type": "TexGrid", "params": {"uvwgen": "@nobody"}}]})",
         scene + ": instance \"t\": parameter 'uvwgen': no instance named \"nobody\""},
        {R"({"instances": [{"name": "g", "type": "UVWGenChannel"}],
             "objects": [{"shape": "box", "texture": "@g"}]})",
         scene + ": the texture \"g\" is not a texture (EXT_TEXTURE)"},
        {R"({"camera": {"fov": "wide"}})",
         scene + " \"camera\" \"fov\": expected a number, got \"wide\""},
        {R"({"frame": {"threads": 0}})",
         scene + " \"frame\" field \"threads\": expected an integer from 1 to 1024, got 0"},
        {R"({"colour": 1})", scene + ": unknown field \"colour\""},
        {"{", scene + ": not valid JSON"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const test::Run r = renderText(c.text);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    const test::Run missing = run({"render", "--scene", dir.file("none.json"), "--quiet"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("cannot read the scene file"), std::string::npos);
    EXPECT_EQ(run({"render", "--width", "0"}).status, 2);
    EXPECT_EQ(run({"render", "--threads", "x"}).status, 2);
    // An output that cannot be written is found before the render.
    const test::Run unwritable =
        run({"render", "--scene", std::string(UVWHOST_EXAMPLES_DIR) + "/UVWGenObject.json",
             "--width", "8", "--height", "8", "-o", dir.file("no/such/dir.png"), "--quiet"});
    EXPECT_EQ(unwritable.status, 2);
    EXPECT_NE(unwritable.err.find("cannot write"), std::string::npos);
}

TEST(UvwhostEval, InstanceOfASceneFile) {
    const std::string scene = std::string(UVWHOST_EXAMPLES_DIR) + "/UVWGenPlanarWorld.json";
    // The scene's transform offsets the world position by 0.5 on every axis.
    const test::Run r = run({"eval", "UVWGenPlanarWorld", "--scene", scene, "--instance", "world"},
                            R"({"shadingPoint": [1, 2, 3]})");
    ASSERT_EQ(r.status, 0) << r.err;
    const Json uvw = r.lines().at(0)["uvw"];
    EXPECT_EQ(uvw, Json::parse("[1.5, 2.5, 3.5]"));

    // A texture of the scene evaluates as a colour.
    const test::Run tex = run({"eval", "TexChecker", "--scene", scene, "--instance", "checker"},
                              R"({"shadingPoint": [0.25, 0.25, 0.25]})");
    ASSERT_EQ(tex.status, 0) << tex.err;
    EXPECT_EQ(tex.lines().at(0)["color"].size(), 4u);

    const test::Run wrongType =
        run({"eval", "UVWGenChannel", "--scene", scene, "--instance", "world"}, "{}\n");
    EXPECT_EQ(wrongType.status, 2);
    EXPECT_NE(wrongType.err.find("instance \"world\" is a UVWGenPlanarWorld, not a UVWGenChannel"),
              std::string::npos);
    EXPECT_EQ(run({"eval", "UVWGenPlanarWorld", "--scene", scene}, "{}\n").status, 2);
}
