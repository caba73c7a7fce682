// Scene files: JSON with the image size, camera, frame settings, plugin instances by name
// (library plugins and the host's own), objects with their textures, and an environment.
//
// {
//   "image": {"width": 480, "height": 360, "samples": 2},
//   "camera": {"position": [x,y,z], "target": [x,y,z], "up": [0,0,1], "fov": 50},
//   "cameras": [{"name": "left", "transform": [[r0],[r1],[r2],[r3]], "focal_length": 35,
//                "film_back": [36, 24], "fit": "horizontal", "pixel_aspect": 1,
//                "overscan": 0.1, ...}],
//   "frame": { the --frame fields },
//   "instances": [{"name": "grid", "type": "TexGrid", "params": {"uvwgen": "@uvw"}}, ...],
//   "objects": [{"shape": "sphere", "center": [0,0,1], "radius": 1, "texture": "@grid"},
//               {"shape": "plane", "center": [0,0,0], "size": [8, 8], "texture": "@floor"},
//               {"shape": "box", "center": [1,0,0.5], "size": [1,1,1], "rotation": [0,0,30],
//                "texture": "@grid", "material": 1, "object": 2, "reflect": false},
//               {"shape": "mesh", "file": "vase.glb", "center": [0,0,0], "rotation": [90,0,0],
//                "scale": [1,1,1], "texture": "@grid"}],
//   "environment": "@sky"  (or a colour [r,g,b]; absent: a plain gradient)
// }
// Degrees for angles; z is up by default. A camera is placed by "position", "target" and "up",
// or by "transform", a 4x4 camera-to-world matrix in rows (translation in the last column;
// the camera looks down its -z axis with +y up). Its horizontal field of view is "fov"
// (degrees), or comes from "focal_length" and "film_back" (millimetres, default 36 x 24) fitted
// to the image by "fit": "horizontal" (film width across the image width, the default),
// "vertical" (film height across the image height), "fill" (the film covers the image) or
// "overscan" (the image covers the film). "pixel_aspect" is a pixel's height over its width (the
// frame data's pixelAspect); "overscan" (a fraction of the image on each side) is the region camera
// projections see around the image. The first of "cameras" renders unless --camera names another;
// "camera" is the camera named "camera". Relative file paths start at the scene file's folder;
// meshes are placed by "center", "rotation" and "scale" (a number or [x, y, z]). "reflect" looks
// the texture up along the mirrored view direction (for environment generators); "material" and
// "object" are the surface's shade ids; "name" names an object for baking; "lit": false shows
// the texture's colour unshaded (as renders meant for projecting back are made).
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

enum class FilmFit { Horizontal, Vertical, Fill, Overscan };

struct CameraEntry {
    std::string name = "camera";
    KUtils::Vector4f position{0.0f, -7.0f, 2.8f, 0.0f};
    KUtils::Vector4f target{0.0f, 0.0f, 0.7f, 0.0f};
    KUtils::Vector4f up{0.0f, 0.0f, 1.0f, 0.0f};
    float fov = 45.0f;
    // Set: the field of view comes from the lens and film back (millimetres).
    std::optional<float> focalLength;
    float filmBack[2] = {36.0f, 24.0f};
    FilmFit fit = FilmFit::Horizontal;
    float pixelAspect = 1.0f;
    float overscan = 0.0f;
    // How far the camera (position and target) moves over the shutter interval; seen only
    // when the frame settings switch motion blur on.
    KUtils::Vector4f motion;

    // The horizontal field of view in degrees across an image of that size.
    float horizontalFov(int width, int height) const;
};

struct ObjectEntry {
    // Optional: how `uvwhost bake --object` finds it.
    std::string name;
    // Set: a mesh read from `file`; `shape` is then unused.
    bool mesh = false;
    kivohost::ShapeKind shape = kivohost::ShapeKind::Sphere;
    KUtils::Vector4f center;
    KUtils::Vector4f size{1.0f, 0.0f, 0.0f, 0.0f};
    KUtils::Vector4f rotation;
    // Meshes: the file as written and the per-axis scale.
    std::string file;
    KUtils::Vector4f scale{1.0f, 1.0f, 1.0f, 0.0f};
    // Instance name, without the '@'.
    std::string texture;
    std::uint32_t material = 0;
    std::uint32_t object = 0;
    bool reflect = false;
    // False: the texture's colour as it is, without light or shadow.
    bool lit = true;
};

struct SceneDocument {
    std::string source;
    // The folder relative asset paths start at (empty: the working directory).
    std::string folder;
    int width = 480;
    int height = 360;
    // Samples per pixel along each axis.
    int samples = 2;
    // At least one; the first renders by default.
    std::vector<CameraEntry> cameras{CameraEntry{}};
    FrameSettings frame;
    std::vector<InstanceEntry> instances;
    std::vector<ObjectEntry> objects;
    // An instance name, or a colour, or neither (a gradient).
    std::string environment;
    std::optional<KUtils::AColor> background;
};

// The camera of that name (the first when the name is empty), else an error naming the choices.
Parsed<CameraEntry> selectCamera(const SceneDocument& doc, const std::string& name);
// A path of the document resolved against its folder.
std::string assetPath(const SceneDocument& doc, const std::string& path);

// `source` names the document in messages (the file path).
Parsed<SceneDocument> readSceneDocument(const Json& value, const std::string& source);
Parsed<SceneDocument> parseSceneDocument(std::string_view text, const std::string& source);
Parsed<SceneDocument> loadSceneDocument(const std::string& path);

// An error of the document's instance `name`: "FILE: instance "NAME": error".
std::string instanceError(const SceneDocument& doc, const std::string& name,
                          const std::string& error);

// An instance of a document read against its type: the descriptor and the settings.
struct ScenePlugin {
    std::string name;
    KUtils::KivoPluginDesc* desc = nullptr;
    std::vector<ParamSetting> settings;
};
// Every instance of the document, read without creating any: the first unknown type, else
// the first setting its type refuses, is the error. What it gives may be instantiated in any
// number of sessions (a host that renders one scene many times reads it once).
Parsed<std::vector<ScenePlugin>> readScenePlugins(const SceneDocument& doc, const Catalog& catalog);

// Creates every instance in the session and sets its parameters (references resolve to any
// instance of the document). Returns an empty string, else the error.
std::string instantiateScenePlugins(const SceneDocument& doc,
                                    const std::vector<ScenePlugin>& plugins,
                                    PluginSession& session);
// Hands every BitmapBuffer of the session the image of its file (a path relative to the
// document's folder), each file read once. Returns an empty string, else the error.
// (SceneBitmaps.cpp: the reading and instantiating above need no image library.)
std::string readSceneBitmaps(const SceneDocument& doc, PluginSession& session);
// readScenePlugins, instantiateScenePlugins, then readSceneBitmaps.
std::string instantiateScenePlugins(const SceneDocument& doc, const Catalog& catalog,
                                    PluginSession& session);

} // namespace uvwhost
