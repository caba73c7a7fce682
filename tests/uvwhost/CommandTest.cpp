// Every subcommand's JSON for every plugin type, and the exit statuses of bad input.
#include "UvwhostTestSupport.h"

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <set>

using namespace uvwhost;
using test::run;

namespace {

bool libraryHas(const std::string& type) {
    static const Json plugins = run({"list", "--json"}).json()["plugins"];
    return std::any_of(plugins.begin(), plugins.end(),
                       [&](const Json& p) { return p["name"] == type; });
}

#define REQUIRE_TYPE(type)                                                                         \
    if (!libraryHas(type)) {                                                                       \
        GTEST_SKIP() << type << " is not in the library yet";                                      \
    }

void expectVector(const Json& v, float x, float y, float z) {
    ASSERT_TRUE(v.is_array()) << v;
    ASSERT_EQ(v.size(), 3u) << v;
    EXPECT_FLOAT_EQ(v[0].get<float>(), x) << v;
    EXPECT_FLOAT_EQ(v[1].get<float>(), y) << v;
    EXPECT_FLOAT_EQ(v[2].get<float>(), z) << v;
}

// The shape every UVW generator answers with.
void expectGeneratorShape(const Json& r) {
    for (const char* key : {"uvw", "valid", "derivs", "transform"}) {
        EXPECT_TRUE(r.contains(key)) << key << " in " << r;
    }
    for (const char* key : {"uvw", "dx", "dy", "valid"}) {
        EXPECT_TRUE(r["derivs"].contains(key)) << key << " in " << r;
    }
    EXPECT_EQ(r["transform"]["columns"].size(), 3u);
    EXPECT_EQ(r["transform"]["offset"].size(), 3u);
    EXPECT_TRUE(r["transform"].contains("valid"));
}

} // namespace

TEST(UvwhostList, JsonNamesTheLibraryAndEveryDescriptor) {
    const test::Run r = run({"list", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Json j = r.json();
    EXPECT_EQ(j["category"], "UVW Generators");
    EXPECT_EQ(j["description"], "Kivo UVW Generators");
    std::vector<std::string> names;
    for (const Json& p : j["plugins"]) {
        names.push_back(p["name"]);
        EXPECT_TRUE(p["id"].is_number_unsigned());
        EXPECT_FALSE(p["description"].get<std::string>().empty());
        EXPECT_EQ(p["supports"][0], 0x7776FFFF) << p;
    }
    EXPECT_EQ(names, test::allPluginTypes());
    if (libraryHas("UVWGenChannel")) {
        const auto channel =
            std::find_if(j["plugins"].begin(), j["plugins"].end(),
                         [](const Json& p) { return p["name"] == "UVWGenChannel"; });
        EXPECT_EQ((*channel)["id"], 2004120801u);
        EXPECT_EQ((*channel)["supports"], Json::array({2004287487u, 2014021801u}));
    }

    const test::Run plain = run({"list"});
    ASSERT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out.rfind("UVW Generators: Kivo UVW Generators\n", 0), 0u) << plain.out;
}

TEST(UvwhostParams, JsonListsEveryParameterInRegistrationOrder) {
    for (const std::string& type : test::allPluginTypes()) {
        if (!libraryHas(type)) {
            continue;
        }
        SCOPED_TRACE(type);
        const test::Run r = run({"params", type, "--json"});
        ASSERT_EQ(r.status, 0) << r.err;
        const Json j = r.json();
        EXPECT_EQ(j["plugin"], type);
        ASSERT_FALSE(j["params"].empty());
        static const std::set<std::string> types = {"int",
                                                    "float",
                                                    "bool",
                                                    "string",
                                                    "vector",
                                                    "color",
                                                    "matrix",
                                                    "transform",
                                                    "texture_transform",
                                                    "texture",
                                                    "texture_float",
                                                    "plugin",
                                                    "output_texture_vector"};
        for (const Json& p : j["params"]) {
            EXPECT_EQ(p.size(), 6u) << p;
            EXPECT_TRUE(types.count(p["type"])) << p;
            EXPECT_TRUE(p["description"].is_string());
            EXPECT_TRUE(p["hints"].is_string());
            EXPECT_TRUE(p["count"].is_number_integer());
        }
    }
}

TEST(UvwhostParams, DefaultsOfKnownParameters) {
    REQUIRE_TYPE("UVWGenEnvironment");
    const Json params = run({"params", "UVWGenEnvironment", "--json"}).json()["params"];
    ASSERT_EQ(params.size(), 13u);
    EXPECT_EQ(params[0]["name"], "uvw_matrix");
    EXPECT_EQ(params[0]["type"], "matrix");
    EXPECT_EQ(params[0]["default"], Json::parse("[[1,0,0],[0,1,0],[0,0,1]]"));
    EXPECT_EQ(params[2]["name"], "mapping_type");
    EXPECT_EQ(params[2]["default"], "spherical");
    EXPECT_EQ(params[12]["name"], "ground_radius");
    EXPECT_EQ(params[12]["default"], 1000.0);
    EXPECT_EQ(params[12]["hints"], "gpuSupport=(full)");
    EXPECT_EQ(params[12]["count"], -1);
}

TEST(UvwhostGpu, JsonAndPlainTextForEveryType) {
    for (const std::string& type : test::allPluginTypes()) {
        if (!libraryHas(type)) {
            continue;
        }
        SCOPED_TRACE(type);
        const test::Run j = run({"gpu", type, "--json"});
        ASSERT_EQ(j.status, 0) << j.err;
        const Json doc = j.json();
        EXPECT_TRUE(doc["result"].is_number_integer());
        EXPECT_TRUE(doc["text"].is_string());
        EXPECT_TRUE(doc["objectSpaceFlag"].is_number_integer());
        // The plain form is exactly the buffer.
        const test::Run plain = run({"gpu", type});
        ASSERT_EQ(plain.status, 0) << plain.err;
        EXPECT_EQ(plain.out, doc["text"].get<std::string>());
    }
}

TEST(UvwhostGpu, KnownDescriptions) {
    if (libraryHas("UVWGenObject")) {
        const Json j = run({"gpu", "UVWGenObject", "--json", "--set",
                            R"(uvw_transform={"offset": [1, 2, 3]})"})
                           .json();
        EXPECT_EQ(j["result"], 1);
        EXPECT_EQ(j["objectSpaceFlag"], 1);
        EXPECT_EQ(j["text"], "map_channel -3\nuvw_transform 1.000000,0.000000,0.000000,0.000000,"
                             "1.000000,0.000000,0.000000,0.000000,1.000000,1.000000,2.000000,"
                             "3.000000\n");
        // Any other kind is not answered.
        const Json other =
            run({"gpu", "UVWGenObject", "--json", "--kind", "materialdescriptor"}).json();
        EXPECT_EQ(other["result"], 0);
        EXPECT_EQ(other["text"], "");
    }
    if (libraryHas("UVWGenEnvironment")) {
        const Json j = run({"gpu", "UVWGenEnvironment", "--json", "--output", "parameters", "--set",
                            "ground_on=1", "--set", "ground_position=[10, 0, 0]", "--frame",
                            R"({"sceneOrigin": [4, 0, 0]})"})
                           .json();
        const std::string text = j["text"];
        EXPECT_NE(text.find("ground_position 6.000000 0.000000 0.000000\n"), std::string::npos)
            << text;
    }
    if (libraryHas("UVWGenProjection")) {
        const Json j = run({"gpu", "UVWGenProjection", "--json"}).json();
        // The first block registered with the host's registry has id 0.
        EXPECT_EQ(j["text"], "projection\nprojParamsPtr_id 0\n");
    }
    if (libraryHas("TexMultiProjection")) {
        const test::Run r = run({"gpu", "TexMultiProjection", "--json"});
        EXPECT_EQ(r.json()["result"], 0);
        EXPECT_NE(r.err.find("does not answer EXT_RTTEX"), std::string::npos);
    }
}

TEST(UvwhostEval, UVWGenEnvironmentSphericalDirections) {
    REQUIRE_TYPE("UVWGenEnvironment");
    const test::Run r =
        run({"eval", "UVWGenEnvironment"}, "{\"rayDir\": [1, 0, 0]}\n{\"rayDir\": [0, 1, 0]}\n"
                                           "{\"rayDir\": [0, 0, -1]}\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = r.lines();
    ASSERT_EQ(lines.size(), 3u);
    expectGeneratorShape(lines[0]);
    expectVector(lines[0]["uvw"], 1.0f, 0.5f, 0.0f);
    expectVector(lines[1]["uvw"], 0.75f, 0.5f, 0.0f);
    expectVector(lines[2]["uvw"], 1.0f, 0.0f, 0.0f);
    EXPECT_EQ(lines[0]["valid"], 1);
    EXPECT_FALSE(lines[0].contains("basis"));
}

TEST(UvwhostEval, UVWGenObjectThroughTheObjectSpace) {
    REQUIRE_TYPE("UVWGenObject");
    const test::Run r = run(
        {"eval", "UVWGenObject", "--set", "duvw_scale=0.5"},
        R"({"shadingPoint": [1, 2, 3], "dPdx": [1, 0, 0], "dPdy": [0, 1, 0], )"
        R"("shadeInstance": {"objectSpace": {"matrix": [[2,0,0],[0,2,0],[0,0,2]], "offset": [1,1,1]}}})"
        "\n{\"shadingPoint\": [1, 2, 3]}\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = r.lines();
    ASSERT_EQ(lines.size(), 2u);
    expectVector(lines[0]["uvw"], 3.0f, 5.0f, 7.0f);
    expectVector(lines[0]["derivs"]["dx"], 1.0f, 0.0f, 0.0f); // 2 * 0.5
    expectVector(lines[0]["derivs"]["dy"], 0.0f, 1.0f, 0.0f);
    expectVector(lines[0]["transform"]["columns"][0], 1.0f, 0.0f, 0.0f);
    expectVector(lines[0]["transform"]["offset"], 3.0f, 5.0f, 7.0f);
    // Without an object space: the shading point itself.
    expectVector(lines[1]["uvw"], 1.0f, 2.0f, 3.0f);
}

TEST(UvwhostEval, UVWGenExplicitWithNothingConnected) {
    REQUIRE_TYPE("UVWGenExplicit");
    const test::Run r = run({"eval", "UVWGenExplicit"},
                            R"({"dPdx": [1, 2, 3], "dPdy": [4, 5, 6], "normal": [0, 0, 1]})");
    ASSERT_EQ(r.status, 0) << r.err;
    const Json line = r.lines().at(0);
    expectVector(line["uvw"], 0.0f, 0.0f, 0.0f);
    expectVector(line["transform"]["columns"][0], 1.0f, 2.0f, 3.0f);
    expectVector(line["transform"]["columns"][1], 4.0f, 5.0f, 6.0f);
    expectVector(line["transform"]["columns"][2], 0.0f, 0.0f, 1.0f);
}

TEST(UvwhostEval, UVWGenOstrelAnswersWithItsBasis) {
    REQUIRE_TYPE("UVWGenOstrel");
    const test::Run r = run({"eval", "UVWGenOstrel"},
                            R"({"shadeData": {"channels": {"0": {"uvw": [1.3, -0.2, 0.5]}}}})"
                            "\n"
                            R"({"shadeData": {"channels": {"0": {"uvw": [1.3, -0.2, 0.5]}}}})");
    ASSERT_EQ(r.status, 0) << r.err;
    const Json line = r.lines().at(0);
    expectGeneratorShape(line);
    expectVector(line["uvw"], 1.0f, 0.0f, 0.5f);
    ASSERT_TRUE(line.contains("basis"));
    expectVector(line["basis"]["uvw"], 1.0f, 0.0f, 0.5f);
    expectVector(line["basis"]["axes"][0], 1.0f, 0.0f, 0.0f);
    expectVector(line["basis"]["axes"][2], 0.0f, 0.0f, 1.0f);
    EXPECT_EQ(line["basis"]["valid"], 1);
}

TEST(UvwhostEval, UVWGenChannelFromTheMappingChannel) {
    REQUIRE_TYPE("UVWGenChannel");
    const test::Run r = run(
        {"eval", "UVWGenChannel"},
        R"({"surfacePoint": [0, 0, 0], "shadingPoint": [0.5, 0, 0], )"
        R"("shadeData": {"channels": {"1": {"uvw": [0.25, 0.5, 0], "basis": [[2,0,0],[0,1,0],[0,0,1]]}}}})");
    ASSERT_EQ(r.status, 0) << r.err;
    // uvw = basis^-1 (shadingPoint - surfacePoint) + uvw0
    expectVector(r.lines().at(0)["uvw"], 0.5f, 0.5f, 0.0f);
}

TEST(UvwhostEval, UVWGenPlanarWorldAddsTheSceneOrigin) {
    REQUIRE_TYPE("UVWGenPlanarWorld");
    const test::Run r =
        run({"eval", "UVWGenPlanarWorld", "--frame", R"({"sceneOrigin": [100, 0, 0]})"},
            R"({"shadingPoint": [1, 2, 3]})");
    ASSERT_EQ(r.status, 0) << r.err;
    expectVector(r.lines().at(0)["uvw"], 101.0f, 2.0f, 3.0f);
}

TEST(UvwhostEval, UVWGenProjectionPlanarByDefault) {
    REQUIRE_TYPE("UVWGenProjection");
    const test::Run r = run({"eval", "UVWGenProjection"}, R"({"shadingPoint": [1, 2, 3]})");
    ASSERT_EQ(r.status, 0) << r.err;
    const Json line = r.lines().at(0);
    expectVector(line["uvw"], 1.0f, 1.5f, 2.0f);
    expectVector(line["transform"]["columns"][0], 0.5f, 0.0f, 0.0f);
    expectVector(line["transform"]["columns"][2], 0.0f, 0.0f, 0.5f);
}

TEST(UvwhostEval, TexMultiProjectionWithoutTexturesIsBlack) {
    REQUIRE_TYPE("TexMultiProjection");
    const test::Run r = run({"eval", "TexMultiProjection"}, R"({"shadingPoint": [1, 2, 3]})");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.lines().at(0), Json::parse(R"({"color": [0, 0, 0, 0]})"));
}

TEST(UvwhostEval, FloatsRoundTrip) {
    REQUIRE_TYPE("UVWGenObject");
    const test::Run r =
        run({"eval", "UVWGenObject"}, R"({"shadingPoint": [0.1, 3.4028235e38, 1.17549435e-38]})");
    const Json uvw = r.lines().at(0)["uvw"];
    EXPECT_EQ(uvw[0].get<float>(), 0.1f);
    EXPECT_EQ(uvw[1].get<float>(), 3.4028235e38f);
    EXPECT_EQ(uvw[2].get<float>(), 1.17549435e-38f);
    EXPECT_NE(r.out.find("[0.1,"), std::string::npos) << r.out; // shortest form
}

TEST(UvwhostEval, MalformedLinesKeepEveryGoodLine) {
    REQUIRE_TYPE("UVWGenObject");
    const test::Run r = run({"eval", "UVWGenObject"}, "{\"shadingPoint\": [1, 0, 0]}\n"
                                                      "not json\n"
                                                      "{\"shadingPoint\": [2, 0, 0]}\n"
                                                      "{\"shadingPoint\": [3, 0]}\n"
                                                      "{\"shadingPoint\": [4, 0, 0]}\n");
    EXPECT_EQ(r.status, 1);
    const auto lines = r.lines();
    ASSERT_EQ(lines.size(), 5u);
    expectVector(lines[0]["uvw"], 1.0f, 0.0f, 0.0f);
    EXPECT_EQ(lines[1]["error"], "line 2: not valid JSON (expected one JSON object)");
    expectVector(lines[2]["uvw"], 2.0f, 0.0f, 0.0f);
    EXPECT_EQ(lines[3]["error"],
              "line 4: field \"shadingPoint\": expected a vector [x, y, z], got [3,0]");
    expectVector(lines[4]["uvw"], 4.0f, 0.0f, 0.0f);
    EXPECT_NE(r.err.find("uvwhost: contexts line 2: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("uvwhost: contexts line 4: "), std::string::npos) << r.err;
}

TEST(UvwhostErrors, BadInputExitsWithTwoAndEvaluatesNothing) {
    const test::Run missingLib = [] {
        std::istringstream in;
        std::ostringstream out, err;
        test::Run r;
        r.status = runCommandLine({"--lib", "/nonexistent/lib.so", "list"}, {in, out, err, false});
        r.out = out.str();
        r.err = err.str();
        return r;
    }();
    EXPECT_EQ(missingLib.status, 2);
    EXPECT_EQ(missingLib.out, "");
    EXPECT_NE(missingLib.err.find("cannot load the plugin library /nonexistent/lib.so"),
              std::string::npos);

    const test::Run unknownType = run({"eval", "UVWGenNothing"}, "{}\n");
    EXPECT_EQ(unknownType.status, 2);
    EXPECT_EQ(unknownType.out, "");
    EXPECT_NE(unknownType.err.find("unknown plugin type 'UVWGenNothing' (known: "),
              std::string::npos);

    const test::Run unknownParams = run({"params", "UVWGenNothing"});
    EXPECT_EQ(unknownParams.status, 2);

    if (libraryHas("UVWGenObject")) {
        const test::Run unknownParam = run({"eval", "UVWGenObject", "--set", "scale=1"}, "{}\n");
        EXPECT_EQ(unknownParam.status, 2);
        EXPECT_EQ(unknownParam.out, "");
        EXPECT_EQ(unknownParam.err,
                  "uvwhost: eval: --set scale: unknown parameter 'scale' of UVWGenObject\n");

        const test::Run wrongShape =
            run({"eval", "UVWGenObject", "--set", "uvw_transform=[1, 2, 3]"}, "{}\n");
        EXPECT_EQ(wrongShape.status, 2);
        EXPECT_EQ(wrongShape.out, "");
        EXPECT_NE(wrongShape.err.find("parameter 'uvw_transform' (transform): expected a "
                                      "transform {\"matrix\": [[c0], [c1], [c2]], \"offset\": "
                                      "[x, y, z]}, got [1,2,3]"),
                  std::string::npos)
            << wrongShape.err;

        const test::Run badFrame =
            run({"eval", "UVWGenObject", "--frame", "{\"threads\": -1}"}, "{}\n");
        EXPECT_EQ(badFrame.status, 2);
        EXPECT_EQ(badFrame.out, "");

        const test::Run badSet = run({"gpu", "UVWGenObject", "--set", "duvw_scale"});
        EXPECT_EQ(badSet.status, 2);
        EXPECT_EQ(badSet.err, "uvwhost: gpu: --set duvw_scale: expected NAME=JSON\n");
    }

    const test::Run help = run({"render", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: uvwhost", 0), 0u);
    EXPECT_EQ(run({}).status, 2);
    EXPECT_EQ(run({"frobnicate"}).status, 2);
    EXPECT_EQ(run({"list", "--yaml"}).status, 2);
    EXPECT_EQ(run({"params"}).status, 2);
    EXPECT_EQ(run({"gpu", "UVWGenObject", "--output"}).status, 2);
}

TEST(UvwhostProgram, FindsTheLibraryNextToItself) {
    // The installed program, run as a user would: no --lib.
    FILE* pipe = popen(UVWHOST_PATH " list --json", "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buffer[4096];
    while (std::size_t n = fread(buffer, 1, sizeof buffer, pipe)) {
        out.append(buffer, n);
    }
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_EQ(Json::parse(out)["category"], "UVW Generators");

    // A missing library is exit status 2 from the real process as well.
    const int status = std::system(UVWHOST_PATH " --lib /nonexistent.so list 2>/dev/null");
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
}
