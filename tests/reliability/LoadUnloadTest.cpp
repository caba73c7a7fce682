// The built module loaded and unloaded over and over in one process, as a host that reloads
// its plugin libraries between renders does: each time every descriptor is there, every type
// is created, driven through a frame and deleted, and the unload really takes the module out
// of the process (its static descriptors are destroyed and built again on the next load)
// without leaving anything allocated.
#include "HeapUsage.h"
#include "PluginScenes.h"
#include "frame/LibDesc.h"
#include "sdk/HostRuntime.h"

#include <algorithm>
#include <cstdio>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace KUtils;
using namespace reliability;

namespace {

constexpr int kCycles = 100;

class Collector final : public PluginDescCallback {
public:
    int visit(PluginDesc* desc) override {
        descs.push_back(desc);
        return 1;
    }
    std::vector<PluginDesc*> descs;
};

// The type names the host enumerates: the reverse of the registration order.
std::vector<std::string> expectedNames() {
    std::vector<std::string> names;
    for (KivoPluginDesc* type : libraryPluginTypes()) {
        names.insert(names.begin(), type->getName());
    }
    return names;
}

// One instance through a whole render of one frame, evaluated once; the failures are returned.
std::string exercise(PluginDesc& desc) {
    PluginBase* plugin = desc.newPlugin(nullptr);
    if (!plugin) {
        return std::string(desc.getName()) + ": no instance";
    }
    kivohost::RenderSession session;
    auto* kivo = static_cast<KivoPluginInterface*>(plugin->getInterface(EXT_KIVO_PLUGIN));
    if (!kivo) {
        desc.deletePlugin(plugin);
        return std::string(desc.getName()) + ": no EXT_KIVO_PLUGIN";
    }
    kivo->prepareRender(&session.renderer);
    kivo->frameBegin(&session.renderer);
    ShadingContext sc;
    sc.renderer = &session.renderer;
    std::vector<std::string> unwritten;
    Evaluator(plugin).evaluate(sc, &unwritten);
    kivo->finishFrame(&session.renderer);
    kivo->finishRender(&session.renderer);
    desc.deletePlugin(plugin);
    return unwritten.empty() ? std::string() : desc.getName() + (": " + unwritten.front());
}

TEST(LoadUnload, AHundredCyclesEachWithEveryTypeAndNothingLeftBehind) {
    using GetLibDesc = PluginLibDesc* (*)();
    const std::vector<std::string> expected = expectedNames();
    std::size_t heapAfterFirstCycle = 0;
    int cycles = 0;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        void* module = dlopen(UVWGENS_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(module, nullptr) << dlerror();
        auto getLibDesc = reinterpret_cast<GetLibDesc>(dlsym(module, "getLibDesc"));
        ASSERT_NE(getLibDesc, nullptr);
        PluginLibDesc* lib = getLibDesc();
        ASSERT_NE(lib, nullptr);

        EXPECT_EQ(lib->enumeratePluginDescs(nullptr), expected.size()) << "cycle " << cycle;
        Collector collector;
        lib->enumeratePluginDescs(&collector);
        std::vector<std::string> names;
        for (PluginDesc* desc : collector.descs) {
            names.emplace_back(desc->getName());
        }
        EXPECT_EQ(names, expected) << "cycle " << cycle;

        kivohost::PluginRegistry registry;
        for (PluginDesc* desc : collector.descs) {
            desc->registerPlugin(&registry);
            EXPECT_EQ(exercise(*desc), "") << "cycle " << cycle;
        }
        EXPECT_EQ(registry.registered.size(), collector.descs.size());
        for (PluginDesc* desc : collector.descs) {
            desc->unregisterPlugin(&registry);
        }
        EXPECT_TRUE(registry.registered.empty());

        ASSERT_EQ(dlclose(module), 0) << dlerror();
        // Unloaded for real: a module that stayed would keep its descriptors, and its static
        // destructors would never have run.
        void* stillThere = dlopen(UVWGENS_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
        EXPECT_EQ(stillThere, nullptr) << "the module stays loaded after dlclose";
        if (stillThere) {
            dlclose(stillThere);
        }
        if (cycle == 0) {
            heapAfterFirstCycle = liveHeapBytes();
        }
        ++cycles;
        if (HasFailure()) {
            break;
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
