// Every subcommand's JSON for every plugin type, and the exit statuses of bad input.
#include "tests/support/Uvwhost.h"

#include <gtest/gtest.h>

using namespace uvwhost;
using test::run;

namespace {

void expectVector(const Json& v, float x, float y, float z) {
    ASSERT_TRUE(v.is_array()) << v;
    ASSERT_EQ(v.size(), 3u) << v;
    EXPECT_FLOAT_EQ(v[0].get<float>(), x) << v;
    EXPECT_FLOAT_EQ(v[1].get<float>(), y) << v;
    EXPECT_FLOAT_EQ(v[2].get<float>(), z) << v;
}

// The shape every UVW generator answers with.
void expectGeneratorShape(const Json& r) {
    for (const char* at :
         {"/uvw", "/valid", "/derivs/uvw", "/derivs/dx", "/derivs/dy", "/derivs/valid",
          "/transform/columns/2", "/transform/offset/2", "/transform/valid"}) {
        EXPECT_TRUE(r.contains(Json::json_pointer(at))) << at << " in " << r;
    }
}

} // namespace

TEST(UvwhostList, JsonNamesTheLibraryEveryDescriptorAndItsParameters) {
    const test::Run r = run({"list", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Json j = r.json();
    EXPECT_EQ(j["category"], "UVW Generators");
    EXPECT_EQ(j["description"], "Kivo UVW Generators");
    std::vector<std::string> names;
    for (const Json& p : j["plugins"]) {
        names.push_back(p["name"]);
        EXPECT_FALSE(p["description"].get<std::string>().empty());
        EXPECT_EQ(p["supports"][0], 0x7776FFFF) << p;
    }
    EXPECT_EQ(names, test::allPluginTypes());
    EXPECT_EQ(j["plugins"][6]["id"], 2004120801u);
    EXPECT_EQ(j["plugins"][6]["supports"], Json::array({2004287487u, 2014021801u}));
    EXPECT_EQ(run({"list"}).out.rfind("UVW Generators: Kivo UVW Generators\n", 0), 0u);

    const std::string types = " int float bool string vector color matrix transform "
                              "texture_transform texture texture_float plugin "
                              "output_texture_vector ";
    for (const std::string& type : names) {
        const Json params = run({"params", type, "--json"}).json();
        EXPECT_EQ(params["plugin"], type);
        ASSERT_FALSE(params["params"].empty()) << type;
        for (const Json& p : params["params"]) {
            EXPECT_EQ(p.size(), 6u) << p;
            EXPECT_NE(types.find(" " + p["type"].get<std::string>() + " "), std::string::npos) << p;
        }
    }
}

TEST(UvwhostGpu, JsonAndPlainTextForEveryType) {
    for (const std::string& type : test::allPluginTypes()) {
        SCOPED_TRACE(type);
        const test::Run j = run({"gpu", type, "--json"});
        // The one type without a GPU description says so with its own status.
        ASSERT_EQ(j.status, type == "TexMultiProjection" ? 3 : 0) << j.err;
        const Json doc = j.json();
        EXPECT_TRUE(doc["result"].is_number_integer());
        EXPECT_TRUE(doc["objectSpaceFlag"].is_number_integer());
        // The plain form is exactly the buffer.
        const test::Run plain = run({"gpu", type});
        ASSERT_EQ(plain.status, j.status) << plain.err;
        EXPECT_EQ(plain.out, doc["text"].get<std::string>());
    }
    // The --set value reaches the text (the text itself is the plugin's, pinned with it).
    const Json j =
        run({"gpu", "UVWGenObject", "--json", "--set", R"(uvw_transform={"offset": [1, 2, 3]})"})
            .json();
    EXPECT_EQ(j["result"], 1);
    EXPECT_EQ(j["objectSpaceFlag"], 1);
    EXPECT_NE(j["text"].get<std::string>().find("1.000000,2.000000,3.000000\n"), std::string::npos);
    // The first block registered with the host's registry has id 0.
    EXPECT_EQ(run({"gpu", "UVWGenProjection", "--json"}).json()["text"],
              "projection\nprojParamsPtr_id 0\n");
}

// One evaluation of every generator through "eval", against hand-computed values: each answer
// in the generator shape, with the basis only from the type that answers it.
TEST(UvwhostEval, EveryGeneratorAtARepresentativePoint) {
    const char* object =
        R"({"shadingPoint": [1, 2, 3], "dPdx": [1, 0, 0], "dPdy": [0, 1, 0], )"
        R"("shadeInstance": {"objectSpace": {"matrix": [[2,0,0],[0,2,0],[0,0,2]], )"
        R"("offset": [1,1,1]}}})";
    const char* explicitGen = R"({"dPdx": [1, 2, 3], "dPdy": [4, 5, 6], "normal": [0, 0, 1]})";
    const char* ostrel = R"({"shadeData": {"channels": {"0": {"uvw": [1.3, -0.2, 0.5]}}}})";
    const char* channel =
        R"({"surfacePoint": [0, 0, 0], "shadingPoint": [0.5, 0, 0], "shadeData": {"channels": )"
        R"({"1": {"uvw": [0.25, 0.5, 0], "basis": [[2,0,0],[0,1,0],[0,0,1]]}}}})";
    const char* point = R"({"shadingPoint": [1, 2, 3]})";
    const std::vector<std::string> scaled = {"UVWGenObject", "--set", "duvw_scale=0.5"};
    const struct {
        std::vector<std::string> args;
        const char* context;
        const char* pointer;
        float x, y, z;
    } rows[] = {
        // Spherical by default.
        {{"UVWGenEnvironment"}, R"({"rayDir": [0, 1, 0]})", "/uvw", 0.75f, 0.5f, 0.0f},
        // Through the object space; the derivatives are 2 * 0.5.
        {scaled, object, "/uvw", 3.0f, 5.0f, 7.0f},
        {scaled, object, "/derivs/dx", 1.0f, 0.0f, 0.0f},
        {scaled, object, "/transform/offset", 3.0f, 5.0f, 7.0f},
        // Nothing connected: the frame of the differentials and the normal.
        {{"UVWGenExplicit"}, explicitGen, "/transform/columns/0", 1.0f, 2.0f, 3.0f},
        {{"UVWGenExplicit"}, explicitGen, "/transform/columns/2", 0.0f, 0.0f, 1.0f},
        // Channel 0 clamped into [0, 1].
        {{"UVWGenOstrel"}, ostrel, "/uvw", 1.0f, 0.0f, 0.5f},
        {{"UVWGenOstrel"}, ostrel, "/basis/axes/0", 1.0f, 0.0f, 0.0f},
        // uvw = basis^-1 (shadingPoint - surfacePoint) + uvw0 of channel 1.
        {{"UVWGenChannel"}, channel, "/uvw", 0.5f, 0.5f, 0.0f},
        // Planar by default.
        {{"UVWGenProjection"}, point, "/uvw", 1.0f, 1.5f, 2.0f},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.args[0] << " " << row.context << " " << row.pointer);
        std::vector<std::string> args = {"eval"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const test::Run r = run(args, row.context);
        ASSERT_EQ(r.status, 0) << r.err;
        const Json line = r.lines().at(0);
        expectGeneratorShape(line);
        EXPECT_EQ(line["valid"], 1);
        EXPECT_EQ(line.contains("basis"), row.args[0] == "UVWGenOstrel");
        expectVector(line.at(Json::json_pointer(row.pointer)), row.x, row.y, row.z);
    }
}

TEST(UvwhostEval, TexMultiProjectionWithoutTexturesIsBlack) {
    const test::Run r = run({"eval", "TexMultiProjection"}, R"({"shadingPoint": [1, 2, 3]})");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.lines().at(0), Json::parse(R"({"color": [0, 0, 0, 0]})"));
}

TEST(UvwhostEval, FloatsRoundTrip) {
    const test::Run r =
        run({"eval", "UVWGenObject"}, R"({"shadingPoint": [0.1, 3.4028235e38, 1.17549435e-38]})");
    const Json uvw = r.lines().at(0)["uvw"];
    EXPECT_EQ(uvw[0].get<float>(), 0.1f);
    EXPECT_EQ(uvw[1].get<float>(), 3.4028235e38f);
    EXPECT_EQ(uvw[2].get<float>(), 1.17549435e-38f);
    EXPECT_NE(r.out.find("[0.1,"), std::string::npos) << r.out; // shortest form
}

TEST(UvwhostEval, MalformedLinesKeepEveryGoodLine) {
    const test::Run r = run({"eval", "UVWGenObject"}, "{\"shadingPoint\": [1, 0, 0]}\n"
                                                      "not json\n"
                                                      "{\"shadingPoint\": [2, 0, 0]}\n"
                                                      "{\"shadingPoint\": [3, 0]}\n"
                                                      "{\"shadingPoint\": [4, 0, 0]}\n");
    EXPECT_EQ(r.status, 1);
    const auto lines = r.lines();
    ASSERT_EQ(lines.size(), 5u);
    expectVector(lines[0]["uvw"], 1.0f, 0.0f, 0.0f);
    EXPECT_EQ(lines[1]["error"], "line 2: not valid JSON at byte 1 (expected one JSON object)");
    expectVector(lines[2]["uvw"], 2.0f, 0.0f, 0.0f);
    EXPECT_EQ(lines[3]["error"],
              "line 4: field \"shadingPoint\": expected a vector [x, y, z], got [3,0]");
    expectVector(lines[4]["uvw"], 4.0f, 0.0f, 0.0f);
    EXPECT_NE(r.err.find("uvwhost: contexts line 2: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("uvwhost: contexts line 4: "), std::string::npos) << r.err;
}
