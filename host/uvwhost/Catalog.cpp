#include "uvwhost/Catalog.h"

#include "scene/ScenePlugins.h"
#include "uvwhost/JsonValues.h"

namespace uvwhost {

using namespace KUtils;

Catalog::Catalog(std::shared_ptr<PluginLibrary> library)
    : lib(std::move(library)), libDescs(lib->descriptors()),
      hostDescs(kivohost::scenePluginDescs()) {}

Catalog::Catalog(std::vector<KivoPluginDesc*> libraryTypes)
    : libDescs(std::move(libraryTypes)), hostDescs(kivohost::scenePluginDescs()) {}

KivoPluginDesc* Catalog::find(const std::string& type) const {
    for (const auto* descs : {&libDescs, &hostDescs}) {
        for (KivoPluginDesc* d : *descs) {
            const char* name = d->getName();
            if (name && type == name) {
                return d;
            }
        }
    }
    return nullptr;
}

std::string Catalog::unknownType(const std::string& type) const {
    std::string known;
    for (const auto* descs : {&libDescs, &hostDescs}) {
        for (KivoPluginDesc* d : *descs) {
            const char* name = d->getName();
            known += (known.empty() ? "" : ", ") + std::string(name ? name : "");
        }
    }
    return "unknown plugin type " + quoteInput(type, '\'') + " (known: " + known + ")";
}

} // namespace uvwhost
