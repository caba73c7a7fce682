// Scene files: JSON with the image size, camera, frame settings, plugin instances by name
// (library plugins and the host's own), objects with their textures, and an environment.
//
// {
//   "image": {"width": 480, "height": 360, "samples": 2},
//   "camera": {"position": [x,y,z], "target": [x,y,z], "up": [0,0,1], "fov": 50},
//   "frame": { the --frame fields },
//   "instances": [{"name": "grid", "type": "TexGrid", "params": {"uvwgen": "@uvw"}}, ...],
//   "objects": [{"shape": "sphere", "center": [0,0,1], "radius": 1, "texture": "@grid"},
//               {"shape": "plane", "center": [0,0,0], "size": [8, 8], "texture": "@floor"},
//               {"shape": "box", "center": [1,0,0.5], "size": [1,1,1], "rotation": [0,0,30],
//                "texture": "@grid", "material": 1, "object": 2, "reflect": false}],
//   "environment": "@sky"  (or a colour [r,g,b]; absent: a plain gradient)
// }
// Degrees for angles; z is up by default. "reflect" looks the texture up along the mirrored
// view direction (for environment generators); "material" and "object" are the surface's
// shade ids.
#pragma once

#include "scene/SceneShapes.h"
#include "uvwhost/Catalog.h"
#include "uvwhost/FrameSettings.h"
#include "uvwhost/JsonValues.h"
#include "uvwhost/Parsed.h"
#include "uvwhost/PluginSession.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace uvwhost {

struct InstanceEntry {
    std::string name;
    std::string type;
    // Parameter name to value, in file order.
    Json params = Json::object();
};

struct CameraEntry {
    KUtils::Vector4f position{0.0f, -7.0f, 2.8f, 0.0f};
    KUtils::Vector4f target{0.0f, 0.0f, 0.7f, 0.0f};
    KUtils::Vector4f up{0.0f, 0.0f, 1.0f, 0.0f};
    float fov = 45.0f;
};

struct ObjectEntry {
    kivohost::ShapeKind shape = kivohost::ShapeKind::Sphere;
    KUtils::Vector4f center;
    KUtils::Vector4f size{1.0f, 0.0f, 0.0f, 0.0f};
    KUtils::Vector4f rotation;
    // Instance name, without the '@'.
    std::string texture;
    std::uint32_t material = 0;
    std::uint32_t object = 0;
    bool reflect = false;
};

struct SceneDocument {
    std::string source;
    int width = 480;
    int height = 360;
    // Samples per pixel along each axis.
    int samples = 2;
    CameraEntry camera;
    FrameSettings frame;
    std::vector<InstanceEntry> instances;
    std::vector<ObjectEntry> objects;
    // An instance name, or a colour, or neither (a gradient).
    std::string environment;
    std::optional<KUtils::AColor> background;
};

// `source` names the document in messages (the file path).
Parsed<SceneDocument> readSceneDocument(const Json& value, const std::string& source);
Parsed<SceneDocument> parseSceneDocument(std::string_view text, const std::string& source);
Parsed<SceneDocument> loadSceneDocument(const std::string& path);

// Creates every instance of the document in the session and sets its parameters (references
// resolve to any instance of the document). Returns an empty string, else the error.
std::string instantiateScenePlugins(const SceneDocument& doc, const Catalog& catalog,
                                    PluginSession& session);

} // namespace uvwhost
