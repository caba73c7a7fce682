#include "uvwhost/PluginLibrary.h"

#include "sdk/SharedModule.h"

#include <filesystem>

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
    std::string reason;
    void* handle = kivohost::loadModule(path, reason);
    if (!handle) {
        return Result::failure("cannot load the plugin library " + path + ": " + reason);
    }
    auto entry = reinterpret_cast<GetLibDesc>(kivohost::moduleSymbol(handle, "getLibDesc"));
    PluginLibDesc* desc = entry ? entry() : nullptr;
    if (!desc) {
        kivohost::unloadModule(handle);
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
    kivohost::unloadModule(handle);
}

std::string defaultLibraryPath() {
    const std::string file = kivohost::moduleFileName("uvwgens");
    const std::string folder = kivohost::executableFolder();
    return folder.empty() ? file : (std::filesystem::path(folder) / file).string();
}

} // namespace uvwhost
