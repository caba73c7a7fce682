#include "uvwhost/SceneFile.h"

#include "uvwhost/JsonFields.h"

#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

namespace uvwhost {

using namespace KUtils;

namespace {

Parsed<int> readPositive(const Json& v, const std::string& w) {
    auto i = readInt(v, w);
    if (i && *i < 1) {
        return Parsed<int>::failure(w + ": expected an integer of at least 1, got " + excerpt(v));
    }
    return i;
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
              const auto found = v.is_string() ? shapes.find(v.get<std::string>()) : shapes.end();
              if (found == shapes.end()) {
                  return w + ": expected \"sphere\", \"plane\" or \"box\", got " + excerpt(v);
              }
              entry.shape = found->second;
              hasShape = true;
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
         {"texture", into(entry.texture, readReference)},
         {"material", into(entry.material, readUInt32)},
         {"object", into(entry.object, readUInt32)},
         {"reflect", into(entry.reflect, readBool)}});
    if (!error.empty()) {
        return error;
    }
    if (!hasShape) {
        return what + ": an object needs a \"shape\"";
    }
    if (entry.texture.empty()) {
        return what + ": an object needs a \"texture\" reference";
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
    std::string error = readFields(
        value, source,
        {{"image",
          [&doc](const Json& v, const std::string& w) {
              return readFields(v, w,
                                {{"width", into(doc.width, readPositive)},
                                 {"height", into(doc.height, readPositive)},
                                 {"samples", into(doc.samples, readPositive)}});
          }},
         {"camera",
          [&doc](const Json& v, const std::string& w) {
              return readFields(v, w,
                                {{"position", into(doc.camera.position, readVector)},
                                 {"target", into(doc.camera.target, readVector)},
                                 {"up", into(doc.camera.up, readVector)},
                                 {"fov", into(doc.camera.fov, readFloat)}});
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
    Json value;
    try {
        value = Json::parse(text);
    } catch (const Json::parse_error& e) {
        return Parsed<SceneDocument>::failure(source + ": not valid JSON: " + e.what());
    }
    return readSceneDocument(value, source);
}

Parsed<SceneDocument> loadSceneDocument(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return Parsed<SceneDocument>::failure("cannot read the scene file " + path);
    }
    std::ostringstream text;
    text << file.rdbuf();
    return parseSceneDocument(text.str(), path);
}

std::string instantiateScenePlugins(const SceneDocument& doc, const Catalog& catalog,
                                    PluginSession& session) {
    std::vector<PluginInstance*> created;
    for (const InstanceEntry& entry : doc.instances) {
        KivoPluginDesc* desc = catalog.find(entry.type);
        const std::string what = doc.source + ": instance \"" + entry.name + "\"";
        if (!desc) {
            return what + ": " + catalog.unknownType(entry.type);
        }
        auto instance = session.create(desc, entry.name);
        if (!instance) {
            return what + ": " + instance.error();
        }
        created.push_back(*instance);
    }
    // Parameters after every instance exists, so references may point forward.
    for (std::size_t i = 0; i < created.size(); ++i) {
        const InstanceEntry& entry = doc.instances[i];
        const KivoParameterListDesc* defs = created[i]->desc->getParamListDesc();
        const std::vector<ParamDef> paramDefs = defs ? paramDefsOf(*defs) : std::vector<ParamDef>{};
        for (const auto& [name, value] : entry.params.items()) {
            const std::string what = doc.source + ": instance \"" + entry.name + "\"";
            auto setting = readNamedSetting(paramDefs, entry.type, name, value);
            if (!setting) {
                return what + ": " + setting.error();
            }
            std::string error = session.set(*created[i], *setting);
            if (!error.empty()) {
                return what + ": " + error;
            }
        }
    }
    return {};
}

} // namespace uvwhost
