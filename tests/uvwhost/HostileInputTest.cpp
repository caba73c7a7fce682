// Input with the mistakes a user makes and the shapes a hostile one builds: every one ends with
// a message naming what is wrong and the exit status saying what was done (2: refused before
// anything was evaluated, nothing on stdout; 1: the good lines answered; 3: no GPU
// description), promptly, with no signal and no exception leaving the program.
#include "tests/support/Uvwhost.h"

#include <gtest/gtest.h>
#include <tuple>

using namespace uvwhost;
using test::run;

namespace {

std::string nested(int depth) {
    return std::string(std::size_t(depth), '[') + std::string(std::size_t(depth), ']');
}

std::string instance(const std::string& name, const std::string& type,
                     const std::string& params = "{}") {
    return R"({"name": ")" + name + R"(", "type": ")" + type + R"(", "params": )" + params + "}";
}

// {"instances": [...]} of the given entries, then the fields `more`.
std::string scene(const std::vector<std::string>& instances, const std::string& more = "") {
    std::string text = "{\"instances\": [";
    for (std::size_t i = 0; i < instances.size(); ++i) {
        text += (i ? "," : "") + instances[i];
    }
    return text + "]" + more + "}";
}

std::string withCamera(const std::string& camera) {
    return scene({instance("t", "TexConstant")},
                 R"(, "camera": )" + camera +
                     R"(, "objects": [{"shape": "sphere", "texture": "@t"}])");
}

class HostileInput : public testing::Test {
protected:
    // Runs `args` ("SCENE" stands for a file holding `sceneText`) with `input` on stdin. A
    // message from "uvwhost: " to a newline is the whole of stderr; any other is found in it.
    void expectEnd(int status, const std::string& message, std::vector<std::string> args,
                   const std::string& sceneText = "", const std::string& input = "{}\n") {
        for (std::string& a : args) {
            a = a == "SCENE" ? dir.write("scene.json", sceneText) : a;
        }
        SCOPED_TRACE((args.empty() ? "" : args[0]) + " " +
                     (args.size() > 1 ? args[1].substr(0, 80) : "") + ": " + message);
        const test::Run r = run(args, input);
        EXPECT_EQ(r.status, status) << r.err.substr(0, 2000);
        if (message.starts_with("uvwhost: ") && message.ends_with("\n")) {
            EXPECT_EQ(r.err, message);
        } else {
            EXPECT_NE(r.err.find(message), std::string::npos) << r.err.substr(0, 2000);
        }
        if (status == EXIT_BAD_INPUT) {
            EXPECT_EQ(r.out, "");
        }
        // Echoed input is escaped and cut.
        EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
        EXPECT_LT(r.err.size(), 4000u);
    }
    // A render of the scene `text` refused with `message`, its output never written.
    void expectRefusedScene(const std::string& text, const std::string& message) {
        expectEnd(EXIT_BAD_INPUT, message, {"render", "--scene", "SCENE", "-o", never}, text);
        EXPECT_FALSE(std::filesystem::exists(never));
    }

    test::TempDir dir;
    const std::string never = dir.file("never.png");
    const std::string path = dir.file("scene.json");
};

} // namespace

TEST_F(HostileInput, ReferenceCyclesLongChainsAndWrongKinds) {
    expectEnd(2, R"(a cycle of references: "a" uvwgen -> "b" uvwgen -> "a")",
              {"eval", "UVWGenChannel", "--scene", "SCENE", "--instance", "a"},
              scene({instance("a", "UVWGenChannel", R"({"uvwgen": "@b"})"),
                     instance("b", "UVWGenChannel", R"({"uvwgen": "@a"})")}));
    expectRefusedScene(
        scene({instance("m", "TexMultiProjection", R"({"color_textures": ["@m"]})")}),
        R"("m" color_textures -> "m")");
    expectRefusedScene(scene({instance("e", "UVWGenExplicit", R"({"uvw": "@t"})"),
                              instance("t", "TexUVW", R"({"uvwgen": "@e"})")}),
                       R"("e" uvw -> "t" uvwgen -> "e")");
    expectRefusedScene(scene({instance("g", "TexGrid", R"({"line_color": "@g"})")}),
                       R"("g" line_color -> "g")");
    expectEnd(2, R"(a cycle of references: "UVWGenChannel" uvwgen -> "UVWGenChannel")",
              {"gpu", "UVWGenChannel", "--set", "uvwgen=\"@UVWGenChannel\""});

    // Chains a render thread's stack cannot follow, and 100,000 users of one instance.
    std::vector<std::string> chain{instance("c0", "UVWGenChannel")};
    std::vector<std::string> users{chain[0]};
    for (int i = 1; i < 100000; ++i) {
        const std::string n = std::to_string(i);
        if (i < 300) {
            chain.push_back(instance("c" + n, "UVWGenChannel",
                                     R"({"uvwgen": "@c)" + std::to_string(i - 1) + "\"}"));
        }
        users.push_back(instance("t" + n, "TexUVW", R"({"uvwgen": "@c0"})"));
    }
    expectRefusedScene(scene(chain), "a path of more than 256 references");
    expectEnd(0, "", {"eval", "UVWGenChannel", "--scene", "SCENE", "--instance", "c0"},
              scene(users));

    // References to the wrong kind of instance: a texture "@g" or a generator "@c" where the
    // parameter takes another kind.
    const std::tuple<const char*, const char*, const char*> kinds[] = {
        {"UVWGenChannel", R"({"uvwgen": "@g"})",
         R"('uvwgen': expected a UVW generator, "@g" is a texture)"},
        {"UVWGenExplicit", R"({"uvw": "@c"})",
         R"('uvw': expected a texture, "@c" is a UVW generator)"},
        {"UVWGenExplicit", R"({"u": "@c"})",
         R"('u': expected a float texture, "@c" is a UVW generator)"},
        {"UVWGenProjection", R"({"camera_settings": "@c"})",
         R"('camera_settings': expected a camera plugin, "@c" is a UVW generator)"},
        {"UVWGenProjection", R"({"bitmap": "@c"})",
         R"('bitmap': expected a bitmap, "@c" is a UVW generator)"},
        {"TexMultiProjection", R"({"color_textures": ["@c"]})",
         R"('color_textures': expected a texture, "@c" is a UVW generator)"}};
    for (const auto& [type, params, message] : kinds) {
        expectRefusedScene(scene({instance("g", "TexGrid"), instance("c", "UVWGenChannel"),
                                  instance("i", type, params)}),
                           std::string("parameter ") + message);
    }
}

TEST_F(HostileInput, NestingSizesAndThreadCountsFromEveryInput) {
    expectRefusedScene(nested(100000), "nested deeper than 64 levels");
    expectEnd(1, "nested deeper than 64 levels", {"eval", "UVWGenObject"}, "",
              nested(100000) + "\n");
    expectEnd(2, "nested deeper than 64 levels",
              {"gpu", "UVWGenChannel", "--set", "wrap_u=" + nested(100000)});
    expectEnd(2, "--width: expected an integer from 1 to 16384, got '100000'",
              {"render", "--width", "100000", "--height", "100000"});
    expectRefusedScene(R"({"image": {"width": 100000}})",
                       R"("width": expected an integer from 1 to 16384, got 100000)");
    expectEnd(2, "larger than the 64 MB", {"render", "--scene", "/dev/zero"});
    expectEnd(2, "--threads: expected an integer from 1 to 1024", {"render", "--threads", "10000"});
    expectEnd(2, R"("threads": expected an integer from 1 to 1024, got 10000000)",
              {"gpu", "UVWGenChannel", "--frame", R"({"threads": 10000000})"});
    expectRefusedScene(R"({"image": {"samples": 46341}})",
                       R"("samples": expected an integer from 1 to 64)");
    std::string manyKeys = "{";
    for (int i = 0; i < 100000; ++i) {
        manyKeys += (i ? ",\"k" : "\"k") + std::to_string(i) + "\": 0";
    }
    expectEnd(1, R"(unknown field "k0")", {"eval", "UVWGenObject"}, "", manyKeys + "}\n");
}

TEST_F(HostileInput, SceneFilesNameTheFileThePlaceAndWhatWasExpected) {
    const std::pair<const char*, const char*> refused[] = {
        {R"({"objects": [{"shape": "cone", "texture": "@t"}]})",
         R"( "objects"[0] "shape": expected "sphere", "plane", "box" or "mesh", got "cone")"},
        {R"({"objects": [{"shape": "sphere", "texture": "@missing"}]})",
         R"( "objects"[0]: no instance named "missing")"},
        {R"({"instances": [{"name": "t", "type": "TexNothing"}]})",
         R"(: instance "t": unknown plugin type 'TexNothing')"},
        {R"({"instances": [{"name": "t", "type": "TexGrid", "params": {"uvwgen": "@nobody"}}]})",
         R"(: instance "t": parameter 'uvwgen': no instance named "nobody")"},
        {R"({"instances": [{"name": "g", "type": "UVWGenChannel"}],
             "objects": [{"shape": "box", "texture": "@g"}]})",
         R"(: the texture "g" is not a texture (EXT_TEXTURE))"},
        {R"({"camera": {"fov": "wide"}})", R"( "camera" "fov": expected a number, got "wide")"},
        {R"({"frame": {"threads": 0}})",
         R"( "frame" field "threads": expected an integer from 1 to 1024)"},
        {R"({"colour": 1})", R"(: unknown field "colour")"},
        {"{", ": not valid JSON"}};
    for (const auto& [text, message] : refused) {
        expectRefusedScene(text, path + message);
    }
    expectEnd(2, "cannot read the scene file", {"render", "--scene", dir.file("none.json")});
    // Cameras that take no picture.
    for (const char* fov : {"0", "180", "1e38", "-5"}) {
        expectRefusedScene(withCamera(std::string(R"({"fov": )") + fov + "}"),
                           R"("fov": expected degrees strictly between 0 and 180, got )");
    }
    expectRefusedScene(withCamera(R"({"position": [1, 2, 3], "target": [1, 2, 3]})"),
                       R"(the "target" must differ from the "position")");
    expectRefusedScene(
        withCamera(R"({"position": [0, 0, 5], "target": [0, 0, 0]})"),
        R"("up": expected a vector that is not zero and not along the view direction)");
    expectRefusedScene(withCamera(R"({"up": [0, 0, 0]})"), R"("up": expected a vector)");
    // An output that cannot be written is found before the render.
    const std::string examples = UVWHOST_EXAMPLES_DIR;
    expectEnd(2, "cannot write",
              {"render", "--scene", examples + "/UVWGenObject.json", "-o", dir.file("no/dir.png")});
    // An instance of the wrong type, or none named.
    const std::vector<std::string> eval = {"eval", "UVWGenChannel", "--scene",
                                           examples + "/UVWGenPlanarWorld.json"};
    expectEnd(2, R"(instance "world" is a UVWGenPlanarWorld, not a UVWGenChannel)",
              {eval[0], eval[1], eval[2], eval[3], "--instance", "world"});
    expectEnd(2, "--instance", eval);
}

// Meshes and images that cannot be used, and bakes of what cannot be baked.
TEST_F(HostileInput, AssetsAndBakesNameTheFileAndWhatWasExpected) {
    auto mesh = [](const std::string& file) {
        const std::string part =
            R"({"shape": "mesh", "name": "part", "texture": "@uv", "file": ")" + file + "\"}";
        return scene(
            {instance("i", "UVWGenChannel"), instance("uv", "TexUVW", R"({"uvwgen": "@i"})")},
            R"(, "objects": [)" + part +
                R"(, {"shape": "sphere", "name": "ball", "texture": "@uv"}])");
    };
    auto image = [](const std::string& file) {
        return scene({instance("i", "BitmapBuffer", R"({"file": ")" + file + "\"}")});
    };
#if defined(UVWHOST_HAVE_ASSETS)
    const std::string missing = "No such file or directory";
    dir.write("nouv.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    dir.write("t.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\nf 1/1 2/2 3/3\n");
    expectRefusedScene(mesh("nouv.obj"),
                       "has no UV set; expected texture coordinates on every part");
    expectRefusedScene(mesh(dir.write("notamesh.xyz", "hello\n")),
                       "the mesh file \"" + dir.file("notamesh.xyz") +
                           "\": expected a mesh in a format uvwhost reads");
    expectRefusedScene(image(dir.write("broken.png", "\x89PNG\r\n\x1a\nnot the rest of a png")),
                       "the image file \"" + dir.file("broken.png") + "\"");
    const std::pair<std::vector<std::string>, std::string> bakes[] = {
        {{"--object", "nothing"}, "no object of that name; the named objects: \"part\", \"ball\""},
        {{"--object", "ball"}, "expected a mesh"},
        {{"--texture", "missing"}, "the scene has no instance of that name"},
        {{"--texture", "i"}, "is not a texture"},
        {{"--channel", "9"}, "has map channels 1 to "},
        {{"--channel", "0"}, "--channel: expected an integer from 1"},
        {{"--size", "0"}, "--size: expected W or WxH, each from 1 to 16384"},
        {{"--size", "16x99999"}, "--size: expected W or WxH"},
        {{"--padding", "-1"}, "--padding: expected an integer from 0 to 1024"},
        {{"--samples", "65"}, "--samples: expected an integer from 1 to 64"},
        {{"-o", dir.file("a.tif")}, "ending in .png or .exr"},
        {{}, "expected -o"}};
    for (const auto& [args, message] : bakes) {
        std::vector<std::string> all = {"bake", "--scene",   "SCENE", "--object",
                                        "part", "--texture", "uv"};
        if (!args.empty()) {
            all.insert(all.end(), {"-o", never});
        }
        all.insert(all.end(), args.begin(), args.end());
        expectEnd(EXIT_BAD_INPUT, message, all, mesh("t.obj"));
        EXPECT_FALSE(std::filesystem::exists(never));
    }
#else
    const std::string missing = "this uvwhost was built without mesh and image files";
#endif
    expectRefusedScene(mesh("absent.obj"),
                       "cannot read the mesh file \"" + dir.file("absent.obj") + "\": " + missing);
    expectRefusedScene(image("absent.png"),
                       "cannot read the image file \"" + dir.file("absent.png") + "\": " + missing);
    expectEnd(2, "no camera named \"side\" (cameras: camera)",
              {"render", "--scene", "SCENE", "--camera", "side"}, "{}");
}

TEST_F(HostileInput, CommandLinesAndTheirConventions) {
    expectEnd(2, "unknown plugin type 'UVWGenNothing' (known: ", {"eval", "UVWGenNothing"});
    expectEnd(2, "uvwhost: eval: --set scale: unknown parameter 'scale' of UVWGenObject\n",
              {"eval", "UVWGenObject", "--set", "scale=1"});
    expectEnd(2,
              "parameter 'uvw_transform' (transform): expected a transform {\"matrix\": [[c0], "
              "[c1], [c2]], \"offset\": [x, y, z]}, got [1,2,3]",
              {"eval", "UVWGenObject", "--set", "uvw_transform=[1, 2, 3]"});
    expectEnd(2, "uvwhost: gpu: --set duvw_scale: expected NAME=JSON\n",
              {"gpu", "UVWGenObject", "--set", "duvw_scale"});
    expectEnd(2, "usage: uvwhost", {});
    expectEnd(2, "uvwhost: unknown command 'frobnicate'\nusage: uvwhost", {"frobnicate"});
    expectEnd(2, "uvwhost: list: unknown option '--yaml'\n", {"list", "--yaml"});
    // Libraries that cannot serve: none there, or one without the entry (the host's runtime).
    expectEnd(2, "cannot load the plugin library /nonexistent/libuvwgens.so",
              {"--lib", "/nonexistent/libuvwgens.so", "list"});
    expectEnd(2, "has no getLibDesc entry", {"--lib", KIVO_HOST_PATH, "list"});
    expectEnd(2, "uvwhost: params: expected a plugin type (see uvwhost list)\n", {"params"});
    expectEnd(2, "uvwhost: gpu: --output: expected a value after it\n",
              {"gpu", "UVWGenObject", "--output"});
    // No GPU description is not a success.
    expectEnd(3, "TexMultiProjection does not answer EXT_RTTEX: no GPU description",
              {"gpu", "TexMultiProjection"});
    expectEnd(3, R"(UVWGenChannel wrote no GPU description for the kind "bogus")",
              {"gpu", "UVWGenChannel", "--kind", "bogus"});
    // Flags, quoting, NUL bytes, numbers out of range.
    expectEnd(0, "", {"eval", "UVWGenObject"}, "",
              R"({"shadeData": {"ids": {"available": true}}})"
              "\n");
    expectEnd(2, R"(unknown plugin type '\x1b[31mUVWGenRed')", {"params", "\x1b[31mUVWGenRed"});
    expectEnd(2, "... (10000000 bytes)", {"params", std::string(10000000, 'N')});
    expectEnd(1, "a NUL byte at byte 2", {"eval", "UVWGenObject"}, "",
              std::string("{}\0{\"bad\": 1}\n", 14));
    expectEnd(1, "a number out of range at byte", {"eval", "UVWGenObject"}, "",
              "{\"time\": 1e400}\n");
    expectEnd(2, "a number out of range", {"gpu", "UVWGenChannel", "--set", "duvw_scale=1e400"});
}

TEST(UvwhostProgram, VersionHelpParamsLayoutAndTheImageOnStdout) {
    const test::Run version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("uvwhost ", 0), 0u) << version.out;
    EXPECT_NE(version.out.find("Kivo UVW Generators, 8 plugin types"), std::string::npos);
    const test::Run help = run({"render", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: uvwhost", 0), 0u);
    // The type column never runs into the default.
    EXPECT_NE(run({"params", "UVWGenChannel"}).out.find("output_texture_vector null"),
              std::string::npos);
    // -o - writes the PNG to standard output, and nothing named "-".
    const test::Run image = test::runProgram("render --width 8 --height 8 --quiet -o -");
    EXPECT_EQ(image.status, 0);
    EXPECT_EQ(image.out.substr(1, 3), "PNG");
    EXPECT_EQ(image.out.substr(4, 4), "\r\n\x1a\n"); // the bytes a text-mode stream would alter
    EXPECT_FALSE(std::filesystem::exists("-"));
    // The installed program, run as a user would: no --lib, the library found next to it; a
    // missing one is exit status 2 from the real process as well.
    const test::Run listed = test::runProgram("list --json");
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(Json::parse(listed.out)["category"], "UVW Generators");
    EXPECT_EQ(test::runProgram("--lib nonexistent list 2>&1").status, 2);
}
