#include "uvwhost/SceneFile.h"

namespace uvwhost {

Parsed<SceneDocument> readSceneDocument(const Json&, const std::string& source) {
    return Parsed<SceneDocument>::failure(source + ": scene files are not read yet");
}

Parsed<SceneDocument> loadSceneDocument(const std::string& path) {
    return readSceneDocument(Json(), path);
}

std::string instantiateScenePlugins(const SceneDocument&, const Catalog&, PluginSession&) {
    return "not yet";
}

} // namespace uvwhost
