// Loads the built plugin library the way a host does.
#include "frame/LibDesc.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

using namespace KUtils;

namespace {

using GetLibDesc = PluginLibDesc* (*)();

struct Module {
    Module() : handle(dlopen(UVWGENS_MODULE_PATH, RTLD_NOW | RTLD_LOCAL)) {}
    ~Module() {
        if (handle) {
            dlclose(handle);
        }
    }
    void* handle;
};

} // namespace

TEST(Module, ExportsGetLibDescThatIdentifiesTheLibrary) {
    Module module;
    ASSERT_NE(module.handle, nullptr) << dlerror();
    auto getLibDesc = reinterpret_cast<GetLibDesc>(dlsym(module.handle, "getLibDesc"));
    ASSERT_NE(getLibDesc, nullptr);
    PluginLibDesc* lib = getLibDesc();
    ASSERT_NE(lib, nullptr);
    EXPECT_EQ(getLibDesc(), lib);
    EXPECT_STREQ(lib->getCategory(), "UVW Generators");
    EXPECT_STREQ(lib->getLibraryDescription(), "Kivo UVW Generators");
    // Nothing but getLibDesc is visible to the host.
    EXPECT_EQ(dlsym(module.handle, "_ZN6KUtils7LibDesc20enumeratePluginDescsEPNS_18PluginDescCallbackE"),
              nullptr);
}
