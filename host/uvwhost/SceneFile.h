// Scene files: JSON with the camera, image size, frame settings, plugin instances by name
// (library plugins and the host's own), objects with their textures, and an environment.
#pragma once

#include "uvwhost/Catalog.h"
#include "uvwhost/FrameSettings.h"
#include "uvwhost/JsonValues.h"
#include "uvwhost/Parsed.h"
#include "uvwhost/PluginSession.h"

#include <string>
#include <vector>

namespace uvwhost {

struct InstanceSpec {
    std::string name;
    std::string type;
    // Parameter name to value, in file order.
    Json params = Json::object();
};

struct SceneDocument {
    std::string source;
    FrameSettings frame;
    std::vector<InstanceSpec> instances;
};

Parsed<SceneDocument> readSceneDocument(const Json& value, const std::string& source);
Parsed<SceneDocument> loadSceneDocument(const std::string& path);

// Creates every instance of the document in the session and sets its parameters (references
// resolve to any instance of the document). Returns an empty string, else the error.
std::string instantiateScenePlugins(const SceneDocument& doc, const Catalog& catalog,
                                    PluginSession& session);

} // namespace uvwhost
