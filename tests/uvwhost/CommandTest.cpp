// The library as a renderer sees it (loaded with dlopen, enumerated, every type created,
// queried and destroyed), every subcommand's JSON for every plugin type, and the exit statuses
// of bad input. (Libraries that cannot be loaded: the refused-input tests.)
#include "kivo/PluginModel.h"
#include "tests/support/Uvwhost.h"
#include "uvwhost/PluginLibrary.h"

#include <gtest/gtest.h>

using namespace KUtils;
using namespace uvwhost;
using test::run;

TEST(UvwhostModule, EveryTypeAnswersItsInterfacesAndNoOther) {
    auto lib = PluginLibrary::open(UVWGENS_MODULE_PATH);
    ASSERT_TRUE(lib) << lib.error();
    for (KivoPluginDesc* d : (*lib)->descriptors()) {
        const std::string name = d->getName();
        SCOPED_TRACE(name);
        const bool isTexture = name == "TexMultiProjection";
        EXPECT_EQ(d->supportsInterface(EXT_UVWGEN), !isTexture);
        EXPECT_EQ(d->supportsInterface(EXT_TEXTURE), isTexture);
        EXPECT_FALSE(d->supportsInterface(0));

        PluginBase* plugin = d->newPlugin(nullptr);
        ASSERT_NE(plugin, nullptr);
        auto* kivo = static_cast<KivoPluginInterface*>(plugin->getInterface(EXT_KIVO_PLUGIN));
        ASSERT_NE(kivo, nullptr);
        EXPECT_STREQ(kivo->getInterfaceName(), "EXT_KIVO_PLUGIN");
        EXPECT_EQ(kivo->getKivoPluginDesc(), d);
        EXPECT_NE(kivo->getParamList(), nullptr);
        // Every generator describes itself to the GPU renderer; the texture does not.
        const std::pair<InterfaceID, bool> answers[] = {
            {isTexture ? EXT_TEXTURE : EXT_UVWGEN, true},
            {EXT_RTTEX, !isTexture},
            {EXT_UVWGEN_OSTREL, name == "UVWGenOstrel"},
            {EXT_UVWGENCHANNEL, name == "UVWGenChannel"},
            {EXT_RENDER_SETTINGS, name == "UVWGenProjection"},
            {0x12345678, false}};
        for (const auto& [id, answered] : answers) {
            PluginInterface* part = plugin->getInterface(id);
            EXPECT_EQ(part != nullptr, answered) << id;
            EXPECT_TRUE(!part || (part->getInterfaceID() == id && part->getPlugin() == plugin));
        }
        d->deletePlugin(plugin);
    }
}

// list, params and gpu for every type.
TEST(UvwhostCommands, ListParamsAndGpuJsonForEveryType) {
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

    std::string listing;
    for (const std::string& type : names) {
        SCOPED_TRACE(type);
        listing += run({"params", type}).out;
        const Json params = run({"params", type, "--json"}).json();
        EXPECT_EQ(params["plugin"], type);
        ASSERT_FALSE(params["params"].empty());
        for (const Json& p : params["params"]) {
            EXPECT_EQ(p.size(), 6u) << p;
        }
        const test::Run gpu = run({"gpu", type, "--json"});
        // The one type without a GPU description says so with its own status.
        ASSERT_EQ(gpu.status, type == "TexMultiProjection" ? 3 : 0) << gpu.err;
        const Json doc = gpu.json();
        EXPECT_TRUE(doc["result"].is_number_integer());
        EXPECT_TRUE(doc["objectSpaceFlag"].is_number_integer());
        // The plain form is exactly the buffer.
        const test::Run plain = run({"gpu", type});
        ASSERT_EQ(plain.status, gpu.status) << plain.err;
        EXPECT_EQ(plain.out, doc["text"].get<std::string>());
    }
    // Every parameter's name, type, default and hints in slot order: stored scenes rely on
    // them, so a change must be deliberate (then write the file anew from `uvwhost params`).
    EXPECT_EQ(listing, test::readFile(UVWHOST_PARAMS_LISTING));
    // The --set value reaches the text (the text itself is the plugin's, pinned with it).
    const Json object =
        run({"gpu", "UVWGenObject", "--json", "--set", R"(uvw_transform={"offset": [1, 2, 3]})"})
            .json();
    EXPECT_EQ(object["result"], 1);
    EXPECT_EQ(object["objectSpaceFlag"], 1);
    EXPECT_NE(object["text"].get<std::string>().find("1.000000,2.000000,3.000000\n"),
              std::string::npos);
    // The first block registered with the host's registry has id 0.
    EXPECT_EQ(run({"gpu", "UVWGenProjection", "--json"}).json()["text"],
              "projection\nprojParamsPtr_id 0\n");
}

// One evaluation of every generator through "eval", against hand-computed values compared as
// JSON, so that floats print in their shortest form and read back exactly: each answer in the
// generator shape, with the basis only from the type that answers it.
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
    const std::string planar = std::string(UVWHOST_EXAMPLES_DIR) + "/UVWGenPlanarWorld.json";
    const struct {
        std::vector<std::string> args;
        const char *context, *pointer, *expected;
    } rows[] = {
        // Spherical by default.
        {{"UVWGenEnvironment"}, R"({"rayDir": [0, 1, 0]})", "/uvw", "[0.75, 0.5, 0]"},
        // Through the object space; the derivatives are 2 * 0.5.
        {scaled, object, "/uvw", "[3, 5, 7]"},
        {scaled, object, "/derivs/dx", "[1, 0, 0]"},
        {scaled, object, "/transform/offset", "[3, 5, 7]"},
        // Nothing connected: the frame of the differentials and the normal.
        {{"UVWGenExplicit"}, explicitGen, "/transform/columns/0", "[1, 2, 3]"},
        {{"UVWGenExplicit"}, explicitGen, "/transform/columns/2", "[0, 0, 1]"},
        // Channel 0 clamped into [0, 1].
        {{"UVWGenOstrel"}, ostrel, "/uvw", "[1, 0, 0.5]"},
        {{"UVWGenOstrel"}, ostrel, "/basis/axes/0", "[1, 0, 0]"},
        // uvw = basis^-1 (shadingPoint - surfacePoint) + uvw0 of channel 1.
        {{"UVWGenChannel"}, channel, "/uvw", "[0.5, 0.5, 0]"},
        // Planar by default; the extremes of float survive the round trip.
        {{"UVWGenProjection"}, point, "/uvw", "[1, 1.5, 2]"},
        {{"UVWGenObject"},
         R"({"shadingPoint": [0.1, 3.4028235e38, 1.17549435e-38]})",
         "/uvw",
         "[0.1, 3.4028235e38, 1.1754944e-38]"},
        // An instance of a scene file, whose transform offsets the world position by 0.5.
        {{"UVWGenPlanarWorld", "--scene", planar, "--instance", "world"},
         point,
         "/uvw",
         "[1.5, 2.5, 3.5]"},
        // Textures answer a colour: the projection without textures is black.
        {{"TexMultiProjection"}, point, "", R"({"color": [0, 0, 0, 0]})"},
        {{"TexChecker", "--scene", planar, "--instance", "checker"}, point, "/color/3", "1"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.args[0] << " " << row.context << " " << row.pointer);
        std::vector<std::string> args = {"eval"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const test::Run r = run(args, row.context);
        ASSERT_EQ(r.status, 0) << r.err;
        const Json line = r.lines().at(0);
        EXPECT_EQ(line.at(Json::json_pointer(row.pointer)), Json::parse(row.expected));
        // Every generator answers in the same shape.
        for (const char* at :
             {"/uvw", "/valid", "/derivs/uvw", "/derivs/dx", "/derivs/dy", "/derivs/valid",
              "/transform/columns/2", "/transform/offset/2", "/transform/valid"}) {
            EXPECT_EQ(line.contains(Json::json_pointer(at)), row.args[0].starts_with("UVWGen"));
        }
        if (row.args[0].starts_with("UVWGen")) {
            EXPECT_EQ(line["valid"], 1);
            EXPECT_EQ(line.contains("basis"), row.args[0] == "UVWGenOstrel");
        }
    }
}

// Each malformed context line answers an error naming the line and the field, between the
// answers of the good lines around it.
TEST(UvwhostEval, MalformedLinesNameTheFieldAndKeepEveryGoodLine) {
    const std::pair<const char*, const char*> bad[] = {
        {"not json", "not valid JSON at byte 1 (expected one JSON object)"},
        {"[1, 2, 3]", "context: expected a JSON object, got [1,2,3]"},
        {R"({"shadingpoint": [1, 2, 3]})", "context: unknown field \"shadingpoint\""},
        {R"({"shadingPoint": [3, 0]})",
         "field \"shadingPoint\": expected a vector [x, y, z], got [3,0]"},
        {R"({"evalStamp": -1})",
         "field \"evalStamp\": expected an unsigned 32-bit integer, got -1"},
        {R"({"shadeData": {"channels": {"x": {}}}})",
         "field \"shadeData\" \"channels\": channel keys are integers, got \"x\""},
        {R"({"shadeData": {"channels": {"1": {"uvw": [1, 2]}}}})",
         "field \"shadeData\" \"channels\" channel \"1\" \"uvw\": expected a vector [x, y, z], "
         "got [1,2]"},
        {R"({"rayDir": [1, 0, null]})", "field \"rayDir\"[2]: expected a number, got null"},
    };
    std::string input;
    for (int k = 0; k < 8; ++k) {
        input += R"({"shadingPoint": [)" + std::to_string(k) + ", 0, 0]}\n" + bad[k].first + "\n";
    }
    const test::Run r = run({"eval", "UVWGenObject"}, input);
    EXPECT_EQ(r.status, 1);
    const auto lines = r.lines();
    ASSERT_EQ(lines.size(), 16u);
    for (int k = 0; k < 8; ++k) {
        const std::string line = "line " + std::to_string(2 * k + 2) + ": ";
        EXPECT_EQ(lines[2 * k]["uvw"], Json::array({k, 0, 0}));
        EXPECT_EQ(lines[2 * k + 1]["error"], line + bad[k].second);
        EXPECT_NE(r.err.find("uvwhost: contexts " + line), std::string::npos) << r.err;
    }
}
