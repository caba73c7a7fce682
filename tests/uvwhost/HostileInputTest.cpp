// Inputs with mistakes a user makes and shapes a hostile one builds: every one ends with a
// message naming what is wrong and an exit status saying what was done, promptly, with no
// signal and no exception leaving the program.
#include "tests/support/Uvwhost.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>

using namespace uvwhost;
using test::run;

namespace {

std::string nested(int depth) {
    return std::string(std::size_t(depth), '[') + std::string(std::size_t(depth), ']');
}

// {"instances": [...]} of the given entries, each {"name", "type", "params"} text.
std::string scene(const std::vector<std::string>& instances, const std::string& more = "") {
    std::string text = "{\"instances\": [";
    for (std::size_t i = 0; i < instances.size(); ++i) {
        text += (i ? "," : "") + instances[i];
    }
    return text + "]" + more + "}";
}

std::string instance(const std::string& name, const std::string& type,
                     const std::string& params = "{}") {
    return R"({"name": ")" + name + R"(", "type": ")" + type + R"(", "params": )" + params + "}";
}

// n UVWGenChannels, each after the first connected to the one before.
std::vector<std::string> channelChain(int n) {
    std::vector<std::string> chain{instance("c0", "UVWGenChannel")};
    for (int i = 1; i < n; ++i) {
        chain.push_back(instance("c" + std::to_string(i), "UVWGenChannel",
                                 R"({"uvwgen": "@c)" + std::to_string(i - 1) + "\"}"));
    }
    return chain;
}

std::string withCamera(const std::string& camera) {
    return scene({instance("t", "TexConstant")},
                 R"(, "camera": )" + camera +
                     R"(, "objects": [{"shape": "sphere", "texture": "@t"}])");
}

} // namespace

TEST(UvwhostHostileInput, EveryInputEndsWithItsMessageAndStatus) {
    test::TempDir dir;
    const std::string channel = instance("c", "UVWGenChannel");
    const std::string grid = instance("g", "TexGrid");
    std::vector<std::string> manyUsers{channel};
    for (int i = 0; i < 100000; ++i) {
        manyUsers.push_back(instance("t" + std::to_string(i), "TexUVW", R"({"uvwgen": "@c"})"));
    }
    std::string manyKeys = "{";
    for (int i = 0; i < 100000; ++i) {
        manyKeys += (i ? ",\"k" : "\"k") + std::to_string(i) + "\": 0";
    }
    manyKeys += "}";
    struct Case {
        std::vector<std::string> args; // "SCENE" stands for the scene file
        std::string scene;
        std::string input;
        int status;
        std::string message;
    };
    std::vector<Case> cases = {
        // Reference cycles, through generators and textures alike.
        {{"eval", "UVWGenChannel", "--scene", "SCENE", "--instance", "a"},
         scene({instance("a", "UVWGenChannel", R"({"uvwgen": "@a"})")}),
         "",
         2,
         R"(a cycle of references: "a" uvwgen -> "a")"},
        {{"eval", "UVWGenChannel", "--scene", "SCENE", "--instance", "a"},
         scene({instance("a", "UVWGenChannel", R"({"uvwgen": "@b"})"),
                instance("b", "UVWGenChannel", R"({"uvwgen": "@a"})")}),
         "",
         2,
         R"(a cycle of references: "a" uvwgen -> "b" uvwgen -> "a")"},
        {{"render", "--scene", "SCENE"},
         scene({instance("m", "TexMultiProjection", R"({"color_textures": ["@m"]})")}),
         "",
         2,
         R"("m" color_textures -> "m")"},
        {{"render", "--scene", "SCENE"},
         scene({instance("e", "UVWGenExplicit", R"({"uvw": "@t"})"),
                instance("t", "TexUVW", R"({"uvwgen": "@e"})")}),
         "",
         2,
         R"("e" uvw -> "t" uvwgen -> "e")"},
        {{"render", "--scene", "SCENE"},
         scene({instance("k", "TexChecker", R"({"color1": "@c"})"),
                instance("c", "TexConstant", R"({"color": "@k"})")}),
         "",
         2,
         "a cycle of references"},
        {{"render", "--scene", "SCENE"},
         scene({instance("g", "TexGrid", R"({"line_color": "@g"})")}),
         "",
         2,
         R"("g" line_color -> "g")"},
        {{"gpu", "UVWGenChannel", "--set", "uvwgen=\"@UVWGenChannel\""},
         "",
         "",
         2,
         R"(a cycle of references: "UVWGenChannel" uvwgen -> "UVWGenChannel")"},
        // Chains a render thread's stack cannot follow, and 100,000 users of one instance.
        {{"render", "--scene", "SCENE"},
         scene(channelChain(300)),
         "",
         2,
         "a path of more than 256 references"},
        {{"eval", "UVWGenChannel", "--scene", "SCENE", "--instance", "c"},
         scene(manyUsers),
         "{}\n",
         0,
         ""},
        // Nesting, sizes and thread counts from every input.
        {{"render", "--scene", "SCENE"}, nested(100000), "", 2, "nested deeper than 64 levels"},
        {{"eval", "UVWGenObject"}, "", nested(100000) + "\n", 1, "nested deeper than 64 levels"},
        {{"gpu", "UVWGenChannel", "--set", "wrap_u=" + nested(100000)},
         "",
         "",
         2,
         "nested deeper than 64 levels"},
        {{"gpu", "UVWGenChannel", "--frame", nested(100000)}, "", "", 2, "nested deeper"},
        {{"render", "--width", nested(100000)}, "", "", 2, "--width: expected an integer from 1"},
        {{"render", "--width", "100000", "--height", "100000"},
         "",
         "",
         2,
         "--width: expected an integer from 1 to 16384, got '100000'"},
        {{"render", "--scene", "SCENE"},
         R"({"image": {"width": 100000}})",
         "",
         2,
         R"("width": expected an integer from 1 to 16384, got 100000)"},
        {{"render", "--scene", "/dev/zero"}, "", "", 2, "larger than the 64 MB"},
        {{"render", "--threads", "10000"},
         "",
         "",
         2,
         "--threads: expected an integer from 1 to 1024"},
        {{"gpu", "UVWGenChannel", "--frame", R"({"threads": 10000000})"},
         "",
         "",
         2,
         R"("threads": expected an integer from 1 to 1024, got 10000000)"},
        {{"render", "--scene", "SCENE"},
         R"({"image": {"samples": 46341}})",
         "",
         2,
         R"("samples": expected an integer from 1 to 64)"},
        {{"eval", "UVWGenObject"}, "", manyKeys + "\n", 1, R"(unknown field "k0")"},
        // Cameras that take no picture.
        {{"render", "--scene", "SCENE"},
         withCamera(R"({"fov": 0})"),
         "",
         2,
         R"("fov": expected degrees strictly between 0 and 180, got 0.0)"},
        {{"render", "--scene", "SCENE"}, withCamera(R"({"fov": 180})"), "", 2, "strictly between"},
        {{"render", "--scene", "SCENE"}, withCamera(R"({"fov": 1e38})"), "", 2, "strictly between"},
        {{"render", "--scene", "SCENE"}, withCamera(R"({"fov": -5})"), "", 2, "strictly between"},
        {{"render", "--scene", "SCENE"},
         withCamera(R"({"position": [1, 2, 3], "target": [1, 2, 3]})"),
         "",
         2,
         R"(the "target" must differ from the "position")"},
        {{"render", "--scene", "SCENE"},
         withCamera(R"({"position": [0, 0, 5], "target": [0, 0, 0]})"),
         "",
         2,
         R"("up": expected a vector that is not zero and not along the view direction)"},
        {{"render", "--scene", "SCENE"},
         withCamera(R"({"up": [0, 0, 0]})"),
         "",
         2,
         R"("up": expected a vector)"},
        // No GPU description is not a success.
        {{"gpu", "TexMultiProjection"},
         "",
         "",
         3,
         "TexMultiProjection does not answer EXT_RTTEX: no GPU description"},
        {{"gpu", "UVWGenChannel", "--kind", "bogus"},
         "",
         "",
         3,
         R"(UVWGenChannel wrote no GPU description for the kind "bogus")"},
        // Conventions: flags, versions, quoting, NUL bytes, numbers out of range.
        {{"eval", "UVWGenObject"},
         "",
         R"({"shadeData": {"ids": {"available": true}}})"
         "\n",
         0,
         ""},
        {{"--version"}, "", "", 0, ""},
        {{"params", "\x1b[31mUVWGenRed"}, "", "", 2, R"(unknown plugin type '\x1b[31mUVWGenRed')"},
        {{"params", std::string(10000000, 'N')}, "", "", 2, "... (10000000 bytes)"},
        {{"eval", "UVWGenObject"},
         "",
         std::string("{}\0{\"bad\": 1}\n", 14),
         1,
         "a NUL byte at byte 2"},
        {{"eval", "UVWGenObject"}, "", "{\"time\": 1e400}\n", 1, "a number out of range at byte"},
        {{"gpu", "UVWGenChannel", "--set", "duvw_scale=1e400"}, "", "", 2, "a number out of range"},
    };
    // References to the wrong kind of instance: a texture "@g" or a generator "@c" where the
    // parameter takes another kind.
    const struct {
        const char* type;
        const char* param;
        const char* target;
        const char* expected;
    } kinds[] = {{"UVWGenChannel", "uvwgen", "g", "a UVW generator"},
                 {"UVWGenExplicit", "uvw", "c", "a texture"},
                 {"UVWGenExplicit", "u", "c", "a float texture"},
                 {"UVWGenProjection", "camera_settings", "c", "a camera plugin"},
                 {"UVWGenProjection", "camera_view", "g", "a camera plugin"},
                 {"UVWGenProjection", "bitmap", "c", "a bitmap"},
                 {"TexMultiProjection", "color_textures", "c", "a texture"},
                 {"TexChecker", "color1", "c", "a texture"}};
    for (const auto& k : kinds) {
        const std::string ref = std::string("\"@") + k.target + "\"";
        const bool list = std::string(k.param).ends_with("_textures");
        const std::string params =
            std::string("{\"") + k.param + "\": " + (list ? "[" + ref + "]" : ref) + "}";
        cases.push_back({{"render", "--scene", "SCENE"},
                         scene({grid, channel, instance("i", k.type, params)}),
                         "",
                         2,
                         std::string("parameter '") + k.param + "': expected " + k.expected + ", " +
                             ref + " is " +
                             (k.target[0] == 'g' ? "a texture" : "a UVW generator")});
    }
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        for (std::string& a : args) {
            if (a == "SCENE") {
                a = dir.file("scene.json");
                std::ofstream(a, std::ios::binary) << c.scene;
            }
        }
        SCOPED_TRACE(args.front() + " " + (args.size() > 1 ? args[1].substr(0, 80) : "") + " " +
                     c.message);
        const test::Run r = run(args, c.input);
        EXPECT_EQ(r.status, c.status) << r.err.substr(0, 2000);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err.substr(0, 2000);
        // Echoed input is escaped and cut.
        EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
        EXPECT_LT(r.err.size(), 4000u);
    }
}

TEST(UvwhostHostileInput, VersionsParamsLayoutAndTheImageOnStdout) {
    const test::Run version = run({"--version"});
    EXPECT_EQ(version.out.rfind("uvwhost ", 0), 0u) << version.out;
    EXPECT_NE(version.out.find("Kivo UVW Generators, 8 plugin types"), std::string::npos);
    // The type column never runs into the default.
    EXPECT_NE(run({"params", "UVWGenChannel"}).out.find("output_texture_vector null"),
              std::string::npos);
    // -o - writes the PNG to standard output, and nothing named "-".
    const test::Run image = test::runProgram("render --width 8 --height 8 --quiet -o -");
    EXPECT_EQ(image.status, 0);
    EXPECT_EQ(image.out.substr(1, 3), "PNG");
    EXPECT_EQ(image.out.substr(4, 4), "\r\n\x1a\n"); // the bytes a text-mode stream would alter
    EXPECT_FALSE(std::filesystem::exists("-"));
}
