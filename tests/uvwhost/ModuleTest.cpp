// The library as a renderer sees it: loaded with dlopen, enumerated, every type created,
// queried and destroyed.
#include "kivo/PluginModel.h"
#include "uvwhost/PluginLibrary.h"

#include <gtest/gtest.h>

using namespace KUtils;
using namespace uvwhost;

TEST(UvwhostModule, CreatesQueriesAndDeletesOneInstanceOfEachType) {
    auto lib = PluginLibrary::open(UVWGENS_MODULE_PATH);
    ASSERT_TRUE(lib) << lib.error();
    for (KivoPluginDesc* d : (*lib)->descriptors()) {
        SCOPED_TRACE(d->getName());
        const bool isTexture = std::string(d->getName()) == "TexMultiProjection";
        EXPECT_TRUE(d->supportsInterface(EXT_KIVO_PLUGIN));
        EXPECT_EQ(d->supportsInterface(EXT_UVWGEN), !isTexture);
        EXPECT_EQ(d->supportsInterface(EXT_TEXTURE), isTexture);
        EXPECT_FALSE(d->supportsInterface(0));

        PluginBase* plugin = d->newPlugin(nullptr);
        ASSERT_NE(plugin, nullptr);
        auto* kivo = static_cast<KivoPluginInterface*>(plugin->getInterface(EXT_KIVO_PLUGIN));
        ASSERT_NE(kivo, nullptr);
        EXPECT_EQ(kivo->getInterfaceID(), EXT_KIVO_PLUGIN);
        EXPECT_STREQ(kivo->getInterfaceName(), "EXT_KIVO_PLUGIN");
        EXPECT_EQ(kivo->getPlugin(), plugin);
        EXPECT_EQ(kivo->getKivoPluginDesc(), d);
        ASSERT_NE(kivo->getParamList(), nullptr);

        const InterfaceID mainId = isTexture ? EXT_TEXTURE : EXT_UVWGEN;
        PluginInterface* main = plugin->getInterface(mainId);
        ASSERT_NE(main, nullptr);
        EXPECT_EQ(main->getInterfaceID(), mainId);
        EXPECT_EQ(main->getPlugin(), plugin);
        // Every generator describes itself to the GPU renderer; the texture does not.
        EXPECT_EQ(plugin->getInterface(EXT_RTTEX) != nullptr, !isTexture);
        EXPECT_EQ(plugin->getInterface(EXT_UVWGEN_OSTREL) != nullptr,
                  std::string(d->getName()) == "UVWGenOstrel");
        EXPECT_EQ(plugin->getInterface(EXT_UVWGENCHANNEL) != nullptr,
                  std::string(d->getName()) == "UVWGenChannel");
        EXPECT_EQ(plugin->getInterface(EXT_RENDER_SETTINGS) != nullptr,
                  std::string(d->getName()) == "UVWGenProjection");
        EXPECT_EQ(plugin->getInterface(0x12345678), nullptr);
        d->deletePlugin(plugin);
    }
}

TEST(UvwhostModule, ReportsLibrariesThatCannotServe) {
    auto missing = PluginLibrary::open("/nonexistent/libuvwgens.so");
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().find("cannot load the plugin library /nonexistent/libuvwgens.so"),
              std::string::npos);

    // A loadable library without the entry: the host's own runtime.
    auto foreign = PluginLibrary::open(KIVO_HOST_PATH);
    ASSERT_FALSE(foreign);
    EXPECT_NE(foreign.error().find("has no getLibDesc entry"), std::string::npos);
}
