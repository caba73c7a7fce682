#include "uvwhost/Assets.h"
#include "uvwhost/SceneFile.h"

#include <map>

namespace uvwhost {

std::string readSceneBitmaps(const SceneDocument& doc, PluginSession& session) {
    std::map<std::string, std::shared_ptr<const kivohost::MipImage>> images;
    for (const auto& instance : session.instances()) {
        auto* buffer = dynamic_cast<kivohost::BitmapBuffer*>(instance->plugin);
        if (!buffer) {
            continue;
        }
        const std::string path = assetPath(doc, buffer->file());
        auto& image = images[path];
        if (!image) {
            auto loaded = loadImage(path);
            if (!loaded) {
                return instanceError(doc, instance->name, loaded.error());
            }
            image = *loaded;
        }
        buffer->setPixels(image);
    }
    return {};
}

std::string instantiateScenePlugins(const SceneDocument& doc, const Catalog& catalog,
                                    PluginSession& session) {
    auto plugins = readScenePlugins(doc, catalog);
    if (!plugins) {
        return plugins.error();
    }
    std::string error = instantiateScenePlugins(doc, *plugins, session);
    return error.empty() ? readSceneBitmaps(doc, session) : error;
}

} // namespace uvwhost
