// The library as a renderer sees it (loaded with dlopen, enumerated, every type created,
// queried and destroyed) and every subcommand's JSON for every plugin type. (The commands'
// texts, evaluations and exit statuses: the case files.)
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
    EXPECT_EQ(j["plugins"][6]["id"], 2004120801u);
    EXPECT_EQ(j["plugins"][6]["supports"], Json::array({2004287487u, 2014021801u}));

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
    // Every type in enumeration order with every parameter's name, type, default and hints in
    // slot order: stored scenes rely on them, so a change must be deliberate (then write the
    // file anew from `uvwhost params`).
    EXPECT_EQ(listing, test::readFile(UVWHOST_PARAMS_LISTING));
}
