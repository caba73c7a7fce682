#include "uvwhost/PluginLibrary.h"

#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <system_error>

namespace uvwhost {

using namespace KUtils;

namespace {

using GetLibDesc = PluginLibDesc* (*)();

class Collector final : public PluginDescCallback {
public:
    int visit(PluginDesc* d) override {
        // Every descriptor of a plugin library for this host is a KivoPluginDesc.
        found.push_back(static_cast<KivoPluginDesc*>(d));
        return 1;
    }
    std::vector<KivoPluginDesc*> found;
};

} // namespace

Parsed<std::shared_ptr<PluginLibrary>> PluginLibrary::open(const std::string& path) {
    using Result = Parsed<std::shared_ptr<PluginLibrary>>;
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* reason = dlerror();
        return Result::failure("cannot load the plugin library " + path + ": " +
                               (reason ? reason : "unknown error"));
    }
    auto entry = reinterpret_cast<GetLibDesc>(dlsym(handle, "getLibDesc"));
    PluginLibDesc* desc = entry ? entry() : nullptr;
    if (!desc) {
        dlclose(handle);
        return Result::failure("the library " + path +
                               " is not a plugin library: it has no getLibDesc entry");
    }
    return std::shared_ptr<PluginLibrary>(new PluginLibrary(path, handle, desc));
}

PluginLibrary::PluginLibrary(std::string path, void* handle, PluginLibDesc* desc)
    : libraryPath(std::move(path)), handle(handle), desc(desc) {
    Collector collector;
    desc->enumeratePluginDescs(&collector);
    descs = std::move(collector.found);
    for (KivoPluginDesc* d : descs) {
        d->registerPlugin(&registry);
    }
}

PluginLibrary::~PluginLibrary() {
    for (KivoPluginDesc* d : descs) {
        d->unregisterPlugin(&registry);
    }
    dlclose(handle);
}

std::string defaultLibraryPath() {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return "libuvwgens.so";
    }
    return (exe.parent_path() / "libuvwgens.so").string();
}

} // namespace uvwhost
