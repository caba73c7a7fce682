#include "PluginHarness.h"
#include "spatial/UVWGenExplicit.h"
#include "spatial/UVWGenObject.h"

#include <gtest/gtest.h>

namespace {

using namespace KUtils;

UVWGenObjectDesc objectDesc;
UVWGenExplicitDesc explicitDesc;

// Both generators answer EXT_RTTEX, EXT_UVWGEN and EXT_KIVO_PLUGIN with their own parts, each
// knowing its id, its name and the instance; other ids go to the interface list.
TEST(GpuUVWGen, InterfaceQuery) {
    for (PluginDesc* desc :
         {static_cast<PluginDesc*>(&objectDesc), static_cast<PluginDesc*>(&explicitDesc)}) {
        SCOPED_TRACE(desc->getName());
        spatialtest::PluginHarness h(*desc);
        PluginBase* plugin = h.plugin;

        struct Expected {
            InterfaceID id;
            const char* name;
        };
        for (const Expected& e :
             {Expected{EXT_RTTEX, "EXT_RTTEX"}, Expected{EXT_UVWGEN, "EXT_UVWGEN"},
              Expected{EXT_KIVO_PLUGIN, "EXT_KIVO_PLUGIN"}}) {
            PluginInterface* iface = plugin->getInterface(e.id);
            ASSERT_NE(iface, nullptr) << e.name;
            EXPECT_EQ(iface->getInterfaceID(), e.id);
            EXPECT_STREQ(iface->getInterfaceName(), e.name);
            EXPECT_EQ(iface->getPlugin(), plugin);
        }
        EXPECT_EQ(plugin->getInterface(EXT_TEXTURE), nullptr);
        EXPECT_EQ(plugin->getInterface(EXT_UVWGENCHANNEL), nullptr);
        EXPECT_EQ(plugin->getInterface(0), nullptr);

        // Ids the parts do not answer fall back to the list.
        class Extra final : public PluginInterface {
        public:
            explicit Extra(PluginBase* owner) : owner(owner) {}
            InterfaceID getInterfaceID() override { return 0x1234; }
            PluginBase* getPlugin() override { return owner; }

        private:
            PluginBase* owner;
        } extra(plugin);
        plugin->addInterface(&extra, 0);
        EXPECT_EQ(plugin->getInterface(0x1234), &extra);
        EXPECT_EQ(plugin->removeInterface(&extra), 1);
    }
}

} // namespace
