#include "uvwhost/Catalog.h"

#include "scene/ScenePlugins.h"
#include "uvwhost/JsonValues.h"

namespace uvwhost {

using namespace KUtils;

Catalog::Catalog(std::shared_ptr<PluginLibrary> library)
    : lib(std::move(library)), hostDescs(kivohost::scenePluginDescs()) {}

KivoPluginDesc* Catalog::find(const std::string& type) const {
    if (KivoPluginDesc* d = lib->find(type)) {
        return d;
    }
    for (KivoPluginDesc* d : hostDescs) {
        if (type == d->getName()) {
            return d;
        }
    }
    return nullptr;
}

std::string Catalog::unknownType(const std::string& type) const {
    std::string known;
    auto add = [&known](KivoPluginDesc* d) {
        known += (known.empty() ? "" : ", ") + std::string(d->getName());
    };
    for (KivoPluginDesc* d : lib->descriptors()) {
        add(d);
    }
    for (KivoPluginDesc* d : hostDescs) {
        add(d);
    }
    return "unknown plugin type " + quoteInput(type, '\'') + " (known: " + known + ")";
}

} // namespace uvwhost
