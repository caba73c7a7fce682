#include "uvwhost/ParamSettings.h"

namespace uvwhost {

using namespace KUtils;

namespace {

std::string describe(const ParamDef& def) {
    return "parameter '" + def.name + "' (" + paramTypeName(def.type) + ")";
}

Parsed<ParsedParamValue> failed(const ParamDef& def, const std::string& what, const Json& value) {
    return Parsed<ParsedParamValue>::failure(what + ": expected " + paramShape(def.type) +
                                             ", got " + excerpt(value));
}

template <class T>
Parsed<ParsedParamValue> wrap(const Parsed<T>& parsed) {
    if (!parsed) {
        return Parsed<ParsedParamValue>::failure(parsed.error());
    }
    return ParsedParamValue{ParamValue{*parsed}, {}};
}

bool isReference(const Json& value) {
    return value.is_null() || (value.is_string() && value.get<std::string>().starts_with("@"));
}

Parsed<ParsedParamValue> readReference(const ParamDef& def, const std::string& what,
                                       const Json& value) {
    if (value.is_null()) {
        return ParsedParamValue{ParamValue{static_cast<PluginBase*>(nullptr)}, {}};
    }
    const std::string text = value.get<std::string>();
    if (text.size() < 2) {
        return failed(def, what, value);
    }
    return ParsedParamValue{ParamValue{static_cast<PluginBase*>(nullptr)}, text.substr(1)};
}

Parsed<ParsedParamValue> readElement(const ParamDef& def, const std::string& what,
                                     const Json& value) {
    switch (def.type) {
    case ParamType::Int:
        return wrap(readInt(value, what));
    case ParamType::Float:
        return wrap(readFloat(value, what));
    case ParamType::Bool:
        return wrap(readBool(value, what));
    case ParamType::String:
        if (!value.is_string()) {
            return failed(def, what, value);
        }
        return ParsedParamValue{ParamValue{value.get<std::string>()}, {}};
    case ParamType::Vector:
        return wrap(readVector(value, what));
    case ParamType::Color:
        return wrap(readColor(value, what));
    case ParamType::Matrix:
        return wrap(readMatrix(value, what));
    case ParamType::Transform:
        return wrap(readTransform(value, what));
    case ParamType::TextureTransform:
        return isReference(value) ? readReference(def, what, value)
                                  : wrap(readTransform(value, what));
    case ParamType::Texture:
        return isReference(value) ? readReference(def, what, value) : wrap(readColor(value, what));
    case ParamType::TextureFloat:
        return isReference(value) ? readReference(def, what, value) : wrap(readFloat(value, what));
    case ParamType::Plugin:
        if (!isReference(value)) {
            return failed(def, what, value);
        }
        return readReference(def, what, value);
    case ParamType::OutputTextureVector:
        break;
    }
    return Parsed<ParsedParamValue>::failure(what + ": is an output and takes no value");
}

Parsed<ParamSetting> readKeys(const ParamDef& def, const Json& keys) {
    const std::string what = describe(def);
    if (!keys.is_array() || keys.empty()) {
        return Parsed<ParamSetting>::failure(
            what + ": expected \"keys\" to be a non-empty array of [time, value] pairs, got " +
            excerpt(keys));
    }
    ParamSetting setting{def.name, ParamSetting::Kind::Animated, {}, {}, {}};
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const std::string keyWhat = what + " key " + std::to_string(i);
        const Json& key = keys[i];
        if (!key.is_array() || key.size() != 2) {
            return Parsed<ParamSetting>::failure(keyWhat + ": expected [time, value], got " +
                                                 excerpt(key));
        }
        auto time = readNumber(key[0], keyWhat + " time");
        if (!time) {
            return Parsed<ParamSetting>::failure(time.error());
        }
        if (!setting.times.empty() && !(*time > setting.times.back())) {
            return Parsed<ParamSetting>::failure(keyWhat + ": key times must increase, got " +
                                                 excerpt(key[0]) + " after " +
                                                 excerpt(keys[i - 1][0]));
        }
        auto value = readElement(def, keyWhat + " value", key[1]);
        if (!value) {
            return Parsed<ParamSetting>::failure(value.error());
        }
        setting.times.push_back(*time);
        setting.values.push_back(std::move(*value));
    }
    return setting;
}

} // namespace

std::vector<ParamDef> paramDefsOf(const KivoParameterListDesc& desc) {
    std::vector<ParamDef> defs;
    const int n = desc.getNumParamDefs();
    for (int i = 0; i < n; ++i) {
        const char* name = desc.getParamDefName(i);
        defs.push_back({name ? name : "", desc.getParamDefType(i), desc.getParamDefCount(i),
                        paramDefInterface(desc, i)});
    }
    return defs;
}

const char* paramTypeName(ParamType type) {
    switch (type) {
    case ParamType::Int:
        return "int";
    case ParamType::Float:
        return "float";
    case ParamType::Bool:
        return "bool";
    case ParamType::String:
        return "string";
    case ParamType::Vector:
        return "vector";
    case ParamType::Color:
        return "color";
    case ParamType::Matrix:
        return "matrix";
    case ParamType::Transform:
        return "transform";
    case ParamType::TextureTransform:
        return "texture_transform";
    case ParamType::Texture:
        return "texture";
    case ParamType::TextureFloat:
        return "texture_float";
    case ParamType::Plugin:
        return "plugin";
    case ParamType::OutputTextureVector:
        return "output_texture_vector";
    }
    return "unknown";
}

const char* paramShape(ParamType type) {
    switch (type) {
    case ParamType::Int:
        return "an integer";
    case ParamType::Float:
        return "a number";
    case ParamType::Bool:
        return "true, false, 0 or 1";
    case ParamType::String:
        return "a string";
    case ParamType::Vector:
        return "a vector [x, y, z]";
    case ParamType::Color:
        return "a colour [r, g, b] or [r, g, b, a]";
    case ParamType::Matrix:
        return "a matrix [[c0], [c1], [c2]]";
    case ParamType::Transform:
        return "a transform {\"matrix\": [[c0], [c1], [c2]], \"offset\": [x, y, z]}";
    case ParamType::TextureTransform:
        return "a reference \"@name\", null or a transform";
    case ParamType::Texture:
        return "a reference \"@name\", null or a colour";
    case ParamType::TextureFloat:
        return "a reference \"@name\", null or a number";
    case ParamType::Plugin:
        return "a reference \"@name\" or null";
    case ParamType::OutputTextureVector:
        return "nothing (an output)";
    }
    return "a value";
}

ReferenceKind referenceKind(const ParamDef& def) {
    switch (def.type) {
    case ParamType::Texture:
        return {EXT_TEXTURE, "a texture"};
    case ParamType::TextureFloat:
        return {EXT_TEXTURE_FLOAT, "a float texture"};
    case ParamType::TextureTransform:
        return {EXT_TEXTURE_TRANSFORM, "a transform texture"};
    case ParamType::Plugin:
        if (def.iface == EXT_UVWGEN) {
            return {EXT_UVWGEN, "a UVW generator"};
        }
        // Camera plugins are registered under the settings and view interfaces; what is read
        // from them is their camera settings.
        if (def.iface == EXT_RENDER_SETTINGS || def.iface == EXT_RENDER_VIEW) {
            return {EXT_CAMERA_SETTINGS, "a camera plugin"};
        }
        if (def.iface == EXT_BITMAP_SIZE) {
            return {EXT_BITMAP_SIZE, "a bitmap"};
        }
        return {def.iface, "a plugin of the registered interface"};
    default:
        return {};
    }
}

const char* kindOf(PluginBase* plugin) {
    static const std::pair<InterfaceID, const char*> kinds[] = {
        {EXT_UVWGEN, "a UVW generator"},          {EXT_TEXTURE, "a texture"},
        {EXT_TEXTURE_FLOAT, "a float texture"},   {EXT_TEXTURE_TRANSFORM, "a transform texture"},
        {EXT_CAMERA_SETTINGS, "a camera plugin"}, {EXT_BITMAP_SIZE, "a bitmap"}};
    for (const auto& [iface, name] : kinds) {
        if (plugin->getInterface(iface)) {
            return name;
        }
    }
    return "a plugin of another kind";
}

namespace {

Parsed<ParamSetting> readParamValues(const ParamDef& def, const Json& value) {
    const std::string what = describe(def);
    if (value.is_object() && value.contains("keys")) {
        if (value.size() != 1) {
            return Parsed<ParamSetting>::failure(
                what + ": an animated value has only \"keys\", got " + excerpt(value));
        }
        return readKeys(def, value["keys"]);
    }
    if (def.count >= 0) {
        if (!value.is_array()) {
            return Parsed<ParamSetting>::failure(what + ": is a list and expects an array of " +
                                                 paramShape(def.type) + ", got " + excerpt(value));
        }
        ParamSetting setting{def.name, ParamSetting::Kind::List, {}, {}, {}};
        for (std::size_t i = 0; i < value.size(); ++i) {
            auto element = readElement(def, what + " element " + std::to_string(i), value[i]);
            if (!element) {
                return Parsed<ParamSetting>::failure(element.error());
            }
            setting.values.push_back(std::move(*element));
        }
        return setting;
    }
    auto element = readElement(def, what, value);
    if (!element) {
        return Parsed<ParamSetting>::failure(element.error());
    }
    return ParamSetting{def.name, ParamSetting::Kind::Constant, {std::move(*element)}, {}, {}};
}

} // namespace

Parsed<ParamSetting> readParamSetting(const ParamDef& def, const Json& value) {
    auto setting = readParamValues(def, value);
    if (setting) {
        setting->refersTo = referenceKind(def);
    }
    return setting;
}

Parsed<SetArgument> readSetArgument(std::string_view text) {
    const auto eq = text.find('=');
    if (eq == std::string_view::npos || eq == 0) {
        return Parsed<SetArgument>::failure("--set " + quoteInput(text, 0) +
                                            ": expected NAME=JSON");
    }
    auto value = parseJson(text.substr(eq + 1));
    if (!value) {
        return Parsed<SetArgument>::failure("--set " + quoteInput(text.substr(0, eq), 0) +
                                            ": the value " + quoteInput(text.substr(eq + 1), 0) +
                                            " is " + value.error());
    }
    return SetArgument{std::string(text.substr(0, eq)), std::move(*value)};
}

Parsed<ParamSetting> readNamedSetting(const std::vector<ParamDef>& defs,
                                      const std::string& pluginType, const std::string& name,
                                      const Json& value) {
    for (const ParamDef& def : defs) {
        if (def.name == name) {
            return readParamSetting(def, value);
        }
    }
    return Parsed<ParamSetting>::failure("unknown parameter " + quoteInput(name, '\'') + " of " +
                                         quoteInput(pluginType, 0));
}

std::string applyParamSetting(KivoParameterList& list, const ParamSetting& setting,
                              const PluginResolver& resolve) {
    std::vector<ParamValue> values;
    for (const ParsedParamValue& item : setting.values) {
        if (item.ref.empty()) {
            values.push_back(item.value);
            continue;
        }
        PluginBase* plugin = resolve ? resolve(item.ref) : nullptr;
        if (!plugin) {
            return "parameter '" + setting.name + "': no instance named " + quoteInput(item.ref);
        }
        if (setting.refersTo.iface && !plugin->getInterface(setting.refersTo.iface)) {
            return "parameter '" + setting.name + "': expected " + setting.refersTo.name + ", " +
                   quoteInput("@" + item.ref) + " is " + kindOf(plugin);
        }
        values.emplace_back(std::in_place_type<PluginBase*>, plugin);
    }
    bool accepted = false;
    switch (setting.kind) {
    case ParamSetting::Kind::Constant:
        accepted = setParamValue(list, setting.name.c_str(), values.front());
        break;
    case ParamSetting::Kind::Animated: {
        std::vector<std::pair<double, ParamValue>> keys;
        for (std::size_t i = 0; i < values.size(); ++i) {
            keys.emplace_back(setting.times[i], values[i]);
        }
        accepted = setParamKeys(list, setting.name.c_str(), keys);
        break;
    }
    case ParamSetting::Kind::List:
        accepted = setParamList(list, setting.name.c_str(), values);
        break;
    }
    return accepted ? std::string() : "parameter '" + setting.name + "': the value was rejected";
}

Json paramValueJson(const KivoParameter& param, const ParamDef& def, double t,
                    const PluginNamer& name) {
    auto element = [&](int index) -> Json {
        switch (def.type) {
        case ParamType::Int:
            return param.getInt(index, t);
        case ParamType::Float:
            return floatJson(param.getFloat(index, t));
        case ParamType::Bool:
            return param.getBool(index, t);
        case ParamType::String: {
            const char* s = param.getString(index, t);
            return s ? Json(s) : Json();
        }
        case ParamType::Vector:
            return vectorJson(param.getVector(index, t));
        case ParamType::Color:
            return colorJson(param.getColor(index, t));
        case ParamType::Matrix:
            return matrixJson(param.getMatrix(index, t));
        case ParamType::Transform:
            return transformJson(param.getTransform(index, t));
        case ParamType::TextureTransform:
        case ParamType::Texture:
        case ParamType::TextureFloat:
        case ParamType::Plugin: {
            PluginBase* plugin = param.getPlugin(index, t);
            if (plugin) {
                std::string reference = "@";
                if (name) {
                    reference += name(plugin);
                }
                return reference;
            }
            // An unconnected texture parameter still has its constant value.
            if (def.type == ParamType::Texture) {
                return colorJson(param.getColor(index, t));
            }
            if (def.type == ParamType::TextureFloat) {
                return floatJson(param.getFloat(index, t));
            }
            if (def.type == ParamType::TextureTransform) {
                return transformJson(param.getTransform(index, t));
            }
            return nullptr;
        }
        case ParamType::OutputTextureVector:
            break;
        }
        return nullptr;
    };
    if (def.count >= 0) {
        Json list = Json::array();
        const int n = param.getCount(t);
        for (int i = 0; i < n; ++i) {
            list.push_back(element(i));
        }
        return list;
    }
    return element(0);
}

} // namespace uvwhost
