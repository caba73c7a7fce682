// The built module loaded and unloaded over and over in one process, as a host that reloads
// its plugin libraries between renders does: each time the library identifies itself, every
// descriptor is there, every type is created, driven through a frame of its working scene and
// deleted, and the unload really takes the module out of the process (its static descriptors
// are destroyed and built again on the next load) without leaving anything allocated.
#include "kivo/PluginLibDesc.h"
#include "sdk/SharedModule.h"
#include "tests/support/HeapUsage.h"
#include "tests/support/PluginScenes.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace KUtils;
using namespace reliability;

namespace {

class Collector final : public PluginDescCallback {
public:
    int visit(PluginDesc* desc) override {
        names.emplace_back(desc->getName());
        descs.push_back(static_cast<KivoPluginDesc*>(desc));
        return 1;
    }
    std::vector<std::string> names;
    std::vector<KivoPluginDesc*> descs;
};

TEST(LoadUnload, AHundredCyclesEachWithEveryTypeAndNothingLeftBehind) {
    // The host enumerates the reverse of the registration order.
    std::vector<std::string> expected;
    for (KivoPluginDesc* type : libraryPluginTypes()) {
        expected.insert(expected.begin(), type->getName());
    }
    std::size_t heapAfterFirstCycle = 0;
    int cycles = 0;
    for (; cycles < 100 && !HasFailure(); ++cycles) {
        std::string error;
        void* module = kivohost::loadModule(UVWGENS_MODULE_PATH, error);
        ASSERT_NE(module, nullptr) << error;
        auto getLibDesc =
            reinterpret_cast<PluginLibDesc* (*)()>(kivohost::moduleSymbol(module, "getLibDesc"));
        ASSERT_NE(getLibDesc, nullptr);
        PluginLibDesc* lib = getLibDesc();
        ASSERT_NE(lib, nullptr);
        EXPECT_EQ(getLibDesc(), lib);
        EXPECT_STREQ(lib->getCategory(), "UVW Generators");
        EXPECT_STREQ(lib->getLibraryDescription(), "Kivo UVW Generators");

        EXPECT_EQ(lib->enumeratePluginDescs(nullptr), expected.size()) << "cycle " << cycles;
        Collector collector;
        lib->enumeratePluginDescs(&collector);
        EXPECT_EQ(collector.names, expected) << "cycle " << cycles;

        kivohost::PluginRegistry registry;
        for (KivoPluginDesc* desc : collector.descs) {
            desc->registerPlugin(&registry);
            Scene scene(*desc);
            scene.prepareRender();
            scene.beginFrame();
            std::vector<std::string> unwritten;
            Evaluator(scene.subject()).evaluate(scene.context(0), &unwritten);
            EXPECT_EQ(unwritten, std::vector<std::string>{}) << desc->getName();
        }
        EXPECT_EQ(registry.registered.size(), collector.descs.size());
        for (KivoPluginDesc* desc : collector.descs) {
            desc->unregisterPlugin(&registry);
        }
        EXPECT_TRUE(registry.registered.empty());

        ASSERT_TRUE(kivohost::unloadModule(module));
        // Unloaded for real: a module that stayed would keep its descriptors, and its static
        // destructors would never have run.
        EXPECT_FALSE(kivohost::moduleIsLoaded(UVWGENS_MODULE_PATH))
            << "the module stays loaded after it was released";
        if (cycles == 0) {
            heapAfterFirstCycle = liveHeapBytes();
        }
    }
    // Blocks lost with an unloaded module are what LeakSanitizer reports at exit. What stays
    // reachable may grow only by the C runtime's records of the module's static destructors
    // (about 600 bytes a cycle under the sanitizers), not by anything the size of a plugin's
    // parameters or caches.
    EXPECT_LE(liveHeapBytes(), heapAfterFirstCycle + std::size_t(cycles) * 1024);
    std::printf("[load/unload] %d cycles of %zu plugin types\n", cycles, expected.size());
}

} // namespace
