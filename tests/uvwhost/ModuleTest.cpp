// The library as a renderer sees it: loaded with dlopen, enumerated, every type created,
// queried and destroyed. (Libraries that cannot be loaded: the refused-input tests.)
#include "kivo/PluginModel.h"
#include "uvwhost/PluginLibrary.h"

#include <gtest/gtest.h>

using namespace KUtils;
using namespace uvwhost;

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
