#include "uvwhost/SceneFile.h"

#include "kivo/VectorMath.h"
#include "uvwhost/JsonFields.h"
#include "uvwhost/Limits.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <numbers>
#include <set>
#include <sstream>

namespace uvwhost {

using namespace KUtils;

namespace {

// A reader of counts up to `limit`.
auto readUpTo(int limit) {
    return [limit](const Json& v, const std::string& w) { return readCount(v, w, limit); };
}

// A camera the image can be taken with: a field of view strictly between 0 and 180 degrees,
// a target apart from the position, and an up vector that is not zero or along the view.
std::string checkCamera(const CameraEntry& c, const std::string& what) {
    if (c.focalLength && !(*c.focalLength > 0.0f && c.filmBack[0] > 0.0f && c.filmBack[1] > 0.0f)) {
        return what + ": expected a positive \"focal_length\" and \"film_back\"";
    }
    if (!(c.pixelAspect > 0.0f) || !(c.overscan >= 0.0f && c.overscan <= 1.0f)) {
        return what + ": expected a positive \"pixel_aspect\" and an \"overscan\" from 0 to 1";
    }
    if (!(c.fov > 0.0f && c.fov < 180.0f)) {
        return what + " \"fov\": expected degrees strictly between 0 and 180, got " +
               Json(floatJson(c.fov)).dump();
    }
    const auto view = unitDirection(c.target - c.position);
    if (!view) {
        return what + ": the \"target\" must differ from the \"position\" (no view direction)";
    }
    const auto up = unitDirection(c.up);
    // The sine of the angle between up and the view: the camera's sideways axis needs one.
    const Vector4f side = up ? cross3(*view, *up) : Vector4f{};
    if (!(dot3(side, side) > 1e-12f)) {
        return what + " \"up\": expected a vector that is not zero and not along the view "
                      "direction";
    }
    return {};
}

Parsed<std::string> readName(const Json& v, const std::string& w);

// A 4x4 camera-to-world matrix in rows: its columns are the camera's x (right), y (up) and z
// (backwards) axes and its position.
std::string readCameraMatrix(const Json& v, const std::string& w, CameraEntry& c) {
    const std::string shape = w + ": expected four rows of four numbers, got ";
    if (!v.is_array() || v.size() != 4) {
        return shape + excerpt(v);
    }
    float m[4][4];
    for (std::size_t r = 0; r < 4; ++r) {
        if (!v[r].is_array() || v[r].size() != 4) {
            return shape + excerpt(v);
        }
        for (std::size_t k = 0; k < 4; ++k) {
            auto x =
                readFloat(v[r][k], w + "[" + std::to_string(r) + "][" + std::to_string(k) + "]");
            if (!x) {
                return x.error();
            }
            m[r][k] = *x;
        }
    }
    c.position = {m[0][3], m[1][3], m[2][3], 0.0f};
    c.target = c.position - Vector4f{m[0][2], m[1][2], m[2][2], 0.0f};
    c.up = {m[0][1], m[1][1], m[2][1], 0.0f};
    return {};
}

std::string readCamera(const Json& v, const std::string& w, CameraEntry& c, bool named) {
    std::map<std::string, FieldReader> fields = {
        {"position", into(c.position, readVector)},
        {"target", into(c.target, readVector)},
        {"up", into(c.up, readVector)},
        {"transform", [&c](const Json& value,
                           const std::string& what) { return readCameraMatrix(value, what, c); }},
        {"fov", into(c.fov, readFloat)},
        {"focal_length", into(c.focalLength, readFloat)},
        {"film_back",
         [&c](const Json& value, const std::string& what) -> std::string {
             if (!value.is_array() || value.size() != 2) {
                 return what + ": expected [width, height] in millimetres, got " + excerpt(value);
             }
             for (std::size_t k = 0; k < 2; ++k) {
                 auto x = readFloat(value[k], what + "[" + std::to_string(k) + "]");
                 if (!x) {
                     return x.error();
                 }
                 c.filmBack[k] = *x;
             }
             return {};
         }},
        {"fit",
         [&c](const Json& value, const std::string& what) -> std::string {
             static const std::map<std::string, FilmFit> fits = {
                 {"horizontal", FilmFit::Horizontal},
                 {"vertical", FilmFit::Vertical},
                 {"fill", FilmFit::Fill},
                 {"overscan", FilmFit::Overscan}};
             const auto found =
                 value.is_string() ? fits.find(value.get<std::string>()) : fits.end();
             if (found == fits.end()) {
                 return what +
                        ": expected \"horizontal\", \"vertical\", \"fill\" or "
                        "\"overscan\", got " +
                        excerpt(value);
             }
             c.fit = found->second;
             return {};
         }},
        {"pixel_aspect", into(c.pixelAspect, readFloat)},
        {"motion", into(c.motion, readVector)},
        {"overscan", into(c.overscan, readFloat)}};
    if (named) {
        fields.emplace("name", into(c.name, readName));
    }
    if (v.is_object() && v.contains("transform") &&
        (v.contains("position") || v.contains("target") || v.contains("up"))) {
        return w + ": a camera is placed by \"transform\" or by \"position\", \"target\" and "
                   "\"up\", not both";
    }
    std::string error = readFields(v, w, fields);
    return error.empty() ? checkCamera(c, w) : error;
}

Parsed<std::string> readReference(const Json& v, const std::string& w) {
    if (!v.is_string() || !v.get<std::string>().starts_with("@") ||
        v.get<std::string>().size() < 2) {
        return Parsed<std::string>::failure(w + ": expected a reference \"@name\", got " +
                                            excerpt(v));
    }
    return v.get<std::string>().substr(1);
}

Parsed<std::string> readName(const Json& v, const std::string& w) {
    if (!v.is_string() || v.get<std::string>().empty()) {
        return Parsed<std::string>::failure(w + ": expected a non-empty string, got " + excerpt(v));
    }
    return v.get<std::string>();
}

std::string readInstance(const Json& value, const std::string& what, InstanceEntry& entry) {
    std::string error = readFields(value, what,
                                   {{"name", into(entry.name, readName)},
                                    {"type", into(entry.type, readName)},
                                    {"params", [&entry](const Json& v, const std::string& w) {
                                         if (!v.is_object()) {
                                             return w +
                                                    ": expected an object of parameter "
                                                    "values, got " +
                                                    excerpt(v);
                                         }
                                         entry.params = v;
                                         return std::string();
                                     }}});
    if (error.empty() && (entry.name.empty() || entry.type.empty())) {
        error = what + ": an instance needs a \"name\" and a \"type\"";
    }
    return error;
}

std::string readObject(const Json& value, const std::string& what, ObjectEntry& entry) {
    bool hasShape = false;
    std::optional<float> radius;
    std::optional<Json> size;
    std::string error = readFields(
        value, what,
        {{"shape",
          [&](const Json& v, const std::string& w) -> std::string {
              static const std::map<std::string, kivohost::ShapeKind> shapes = {
                  {"sphere", kivohost::ShapeKind::Sphere},
                  {"plane", kivohost::ShapeKind::Plane},
                  {"box", kivohost::ShapeKind::Box}};
              hasShape = true;
              if (v == "mesh") {
                  entry.mesh = true;
                  return {};
              }
              const auto found = v.is_string() ? shapes.find(v.get<std::string>()) : shapes.end();
              if (found == shapes.end()) {
                  return w + ": expected \"sphere\", \"plane\", \"box\" or \"mesh\", got " +
                         excerpt(v);
              }
              entry.shape = found->second;
              return {};
          }},
         {"center", into(entry.center, readVector)},
         {"radius", into(radius, readFloat)},
         {"size",
          [&](const Json& v, const std::string&) -> std::string {
              size = v;
              return {};
          }},
         {"rotation", into(entry.rotation, readVector)},
         {"file", into(entry.file, readName)},
         {"scale",
          [&](const Json& v, const std::string& w) -> std::string {
              Parsed<Vector4f> s = Vector4f{};
              if (v.is_number()) {
                  const auto f = readFloat(v, w);
                  s = f ? Parsed<Vector4f>(Vector4f{*f, *f, *f, 0.0f})
                        : Parsed<Vector4f>::failure(f.error());
              } else {
                  s = readVector(v, w);
              }
              if (!s) {
                  return s.error();
              }
              if (!(s->x != 0.0f && s->y != 0.0f && s->z != 0.0f)) {
                  return w + ": expected a nonzero scale on every axis";
              }
              entry.scale = *s;
              return {};
          }},
         {"name", into(entry.name, readName)},
         {"texture", into(entry.texture, readReference)},
         {"material", into(entry.material, readUInt32)},
         {"object", into(entry.object, readUInt32)},
         {"reflect", into(entry.reflect, readBool)},
         {"lit", into(entry.lit, readBool)}});
    if (!error.empty()) {
        return error;
    }
    if (!hasShape) {
        return what + ": an object needs a \"shape\"";
    }
    if (entry.texture.empty()) {
        return what + ": an object needs a \"texture\" reference";
    }
    if (entry.mesh != !entry.file.empty() || (entry.mesh && (radius || size))) {
        return what + ": a \"mesh\" takes a \"file\" (and no radius or size); only meshes have "
                      "a file";
    }
    if (entry.mesh) {
        return {};
    }
    if (value.contains("scale")) {
        return what + " \"scale\": only meshes are scaled; shapes take a \"size\" or "
                      "\"radius\"";
    }
    const std::string sizeWhat = what + " \"size\"";
    switch (entry.shape) {
    case kivohost::ShapeKind::Sphere:
        if (size) {
            return sizeWhat + ": a sphere takes a \"radius\", not a size";
        }
        entry.size = {radius.value_or(1.0f), 0.0f, 0.0f, 0.0f};
        if (!(entry.size.x > 0.0f)) {
            return what + " \"radius\": expected a positive number";
        }
        break;
    case kivohost::ShapeKind::Plane: {
        entry.size = Vector4f{};
        if (size) {
            if (!size->is_array() || size->size() != 2) {
                return sizeWhat + ": expected [width, depth] (0 for unbounded), got " +
                       excerpt(*size);
            }
            auto x = readFloat((*size)[0], sizeWhat + "[0]");
            auto y = readFloat((*size)[1], sizeWhat + "[1]");
            if (!x || !y) {
                return x ? y.error() : x.error();
            }
            if (*x < 0.0f || *y < 0.0f) {
                return sizeWhat + ": expected sizes of 0 or more";
            }
            entry.size = {*x, *y, 0.0f, 0.0f};
        }
        break;
    }
    case kivohost::ShapeKind::Box: {
        auto s = size ? readVector(*size, sizeWhat) : Parsed<Vector4f>(Vector4f{1, 1, 1, 0});
        if (!s) {
            return s.error();
        }
        if (!(s->x > 0.0f && s->y > 0.0f && s->z > 0.0f)) {
            return sizeWhat + ": expected positive edge lengths";
        }
        entry.size = *s;
        break;
    }
    }
    if (radius && entry.shape != kivohost::ShapeKind::Sphere) {
        return what + " \"radius\": only spheres have a radius";
    }
    return {};
}

} // namespace

Parsed<SceneDocument> readSceneDocument(const Json& value, const std::string& source) {
    SceneDocument doc;
    doc.source = source;
    std::optional<Json> frame;
    std::optional<CameraEntry> cameraField;
    std::vector<CameraEntry> named;
    std::string error = readFields(
        value, source,
        {{"image",
          [&doc](const Json& v, const std::string& w) {
              return readFields(v, w,
                                {{"width", into(doc.width, readUpTo(MAX_IMAGE_SIDE))},
                                 {"height", into(doc.height, readUpTo(MAX_IMAGE_SIDE))},
                                 {"samples", into(doc.samples, readUpTo(MAX_SAMPLES_PER_AXIS))}});
          }},
         {"camera",
          [&](const Json& v, const std::string& w) {
              CameraEntry c;
              std::string error = readCamera(v, w, c, false);
              cameraField = c;
              return error;
          }},
         {"cameras",
          [&](const Json& v, const std::string& w) -> std::string {
              if (!v.is_array() || v.empty()) {
                  return w + ": expected a non-empty array of cameras, got " + excerpt(v);
              }
              for (std::size_t i = 0; i < v.size(); ++i) {
                  const std::string at = w + "[" + std::to_string(i) + "]";
                  CameraEntry c;
                  c.name.clear();
                  if (std::string e = readCamera(v[i], at, c, true); !e.empty()) {
                      return e;
                  }
                  if (c.name.empty()) {
                      return at + ": a camera needs a \"name\"";
                  }
                  named.push_back(c);
              }
              return {};
          }},
         {"frame",
          [&frame](const Json& v, const std::string&) {
              frame = v;
              return std::string();
          }},
         {"instances",
          [&doc](const Json& v, const std::string& w) -> std::string {
              if (!v.is_array()) {
                  return w + ": expected an array of instances, got " + excerpt(v);
              }
              std::set<std::string> names;
              for (std::size_t i = 0; i < v.size(); ++i) {
                  InstanceEntry entry;
                  std::string e = readInstance(v[i], w + "[" + std::to_string(i) + "]", entry);
                  if (!e.empty()) {
                      return e;
                  }
                  if (!names.insert(entry.name).second) {
                      return w + "[" + std::to_string(i) + "]: a second instance named \"" +
                             entry.name + "\"";
                  }
                  doc.instances.push_back(std::move(entry));
              }
              return {};
          }},
         {"objects",
          [&doc](const Json& v, const std::string& w) -> std::string {
              if (!v.is_array()) {
                  return w + ": expected an array of objects, got " + excerpt(v);
              }
              for (std::size_t i = 0; i < v.size(); ++i) {
                  ObjectEntry entry;
                  std::string e = readObject(v[i], w + "[" + std::to_string(i) + "]", entry);
                  if (!e.empty()) {
                      return e;
                  }
                  doc.objects.push_back(entry);
              }
              return {};
          }},
         {"environment", [&doc](const Json& v, const std::string& w) -> std::string {
              if (v.is_array()) {
                  auto c = readColor(v, w);
                  if (!c) {
                      return c.error();
                  }
                  doc.background = *c;
                  return {};
              }
              auto ref = readReference(v, w);
              if (!ref) {
                  return w + ": expected a reference \"@name\" or a colour [r, g, b], got " +
                         excerpt(v);
              }
              doc.environment = *ref;
              return {};
          }}});
    if (!error.empty()) {
        return Parsed<SceneDocument>::failure(error);
    }
    if (!named.empty() || cameraField) {
        doc.cameras = named;
        if (cameraField) {
            doc.cameras.push_back(*cameraField);
        }
        std::set<std::string> cameraNames;
        for (const CameraEntry& c : doc.cameras) {
            if (!cameraNames.insert(c.name).second) {
                return Parsed<SceneDocument>::failure(source + ": a second camera named \"" +
                                                      c.name + "\"");
            }
        }
    }
    if (frame) {
        auto settings = readFrameSettings(*frame, source + " \"frame\"");
        if (!settings) {
            return Parsed<SceneDocument>::failure(settings.error());
        }
        doc.frame = *settings;
    }
    // Every reference of an object or the environment names an instance.
    std::set<std::string> names;
    for (const InstanceEntry& i : doc.instances) {
        names.insert(i.name);
    }
    for (std::size_t i = 0; i < doc.objects.size(); ++i) {
        if (!names.count(doc.objects[i].texture)) {
            return Parsed<SceneDocument>::failure(source + " \"objects\"[" + std::to_string(i) +
                                                  "]: no instance named \"" +
                                                  doc.objects[i].texture + "\"");
        }
    }
    if (!doc.environment.empty() && !names.count(doc.environment)) {
        return Parsed<SceneDocument>::failure(source + " \"environment\": no instance named \"" +
                                              doc.environment + "\"");
    }
    return doc;
}

Parsed<SceneDocument> parseSceneDocument(std::string_view text, const std::string& source) {
    auto value = parseJson(text);
    if (!value) {
        return Parsed<SceneDocument>::failure(source + ": " + value.error());
    }
    return readSceneDocument(*value, source);
}

Parsed<SceneDocument> loadSceneDocument(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return Parsed<SceneDocument>::failure("cannot read the scene file " + quoteInput(path));
    }
    // Read in pieces up to the bound: the path may name an endless device.
    std::string text;
    char piece[65536];
    while (file.read(piece, sizeof piece) || file.gcount() > 0) {
        text.append(piece, std::size_t(file.gcount()));
        if (text.size() > MAX_INPUT_BYTES) {
            return Parsed<SceneDocument>::failure(quoteInput(path) + ": larger than the " +
                                                  std::to_string(MAX_INPUT_BYTES >> 20) +
                                                  " MB a scene file may have");
        }
    }
    auto doc = parseSceneDocument(text, path);
    if (doc) {
        doc->folder = std::filesystem::path(path).parent_path().string();
    }
    return doc;
}

Parsed<CameraEntry> selectCamera(const SceneDocument& doc, const std::string& name) {
    std::string known;
    for (const CameraEntry& c : doc.cameras) {
        if (name.empty() || c.name == name) {
            return c;
        }
        known += (known.empty() ? "" : ", ") + c.name;
    }
    return Parsed<CameraEntry>::failure(doc.source + ": no camera named " + quoteInput(name) +
                                        " (cameras: " + known + ")");
}

std::string assetPath(const SceneDocument& doc, const std::string& path) {
    const std::filesystem::path p(path);
    return p.is_absolute() || doc.folder.empty() ? path
                                                 : (std::filesystem::path(doc.folder) / p).string();
}

float CameraEntry::horizontalFov(int width, int height) const {
    constexpr float degrees = 180.0f / std::numbers::pi_v<float>;
    if (!focalLength) {
        return fov;
    }
    // Image width over height as seen: a pixel spans pixelAspect times more vertically.
    const float imageAspect = float(width) / (float(height) * pixelAspect);
    const float fitWidth = filmBack[0];
    // The film width that makes the film height span the image height.
    const float fitHeight = filmBack[1] * imageAspect;
    float span = fitWidth;
    switch (fit) {
    case FilmFit::Horizontal:
        break;
    case FilmFit::Vertical:
        span = fitHeight;
        break;
    case FilmFit::Fill:
        span = std::min(fitWidth, fitHeight);
        break;
    case FilmFit::Overscan:
        span = std::max(fitWidth, fitHeight);
        break;
    }
    return 2.0f * std::atan(0.5f * span / *focalLength) * degrees;
}

std::string instanceError(const SceneDocument& doc, const std::string& name,
                          const std::string& error) {
    return doc.source + ": instance " + quoteInput(name) + ": " + error;
}

Parsed<std::vector<ScenePlugin>> readScenePlugins(const SceneDocument& doc,
                                                  const Catalog& catalog) {
    std::vector<ScenePlugin> plugins;
    for (const InstanceEntry& entry : doc.instances) {
        KivoPluginDesc* desc = catalog.find(entry.type);
        if (!desc) {
            return Parsed<std::vector<ScenePlugin>>::failure(
                instanceError(doc, entry.name, catalog.unknownType(entry.type)));
        }
        plugins.push_back({entry.name, desc, {}});
    }
    for (std::size_t i = 0; i < plugins.size(); ++i) {
        const InstanceEntry& entry = doc.instances[i];
        const KivoParameterListDesc* defs = plugins[i].desc->getParamListDesc();
        const std::vector<ParamDef> paramDefs = defs ? paramDefsOf(*defs) : std::vector<ParamDef>{};
        for (const auto& [name, value] : entry.params.items()) {
            auto setting = readNamedSetting(paramDefs, entry.type, name, value);
            if (!setting) {
                return Parsed<std::vector<ScenePlugin>>::failure(
                    instanceError(doc, entry.name, setting.error()));
            }
            plugins[i].settings.push_back(std::move(*setting));
        }
    }
    return plugins;
}

std::string instantiateScenePlugins(const SceneDocument& doc,
                                    const std::vector<ScenePlugin>& plugins,
                                    PluginSession& session) {
    std::vector<PluginInstance*> created;
    for (const ScenePlugin& plugin : plugins) {
        auto instance = session.create(plugin.desc, plugin.name);
        if (!instance) {
            return instanceError(doc, plugin.name, instance.error());
        }
        created.push_back(*instance);
    }
    // Parameters after every instance exists, so references may point forward.
    for (std::size_t i = 0; i < created.size(); ++i) {
        for (const ParamSetting& setting : plugins[i].settings) {
            std::string error = session.set(*created[i], setting);
            if (!error.empty()) {
                return instanceError(doc, plugins[i].name, error);
            }
        }
    }
    if (std::string error = session.checkReferences(); !error.empty()) {
        return doc.source + ": " + error;
    }
    return {};
}

} // namespace uvwhost
