// Parameter values as the user writes them (--set NAME=JSON, "params" in scene files), read
// against the parameter's registered type, and applied to an instance's parameter list.
//
// Shapes: int/float a number; bool true/false or 0/1; string a string; vector [x,y,z];
// colour [r,g,b] or [r,g,b,a]; matrix [[c0],[c1],[c2]] (columns); transform
// {"matrix": [[c0],[c1],[c2]], "offset": [x,y,z]}; plugin and texture references
// "@instanceName" (null: not connected); texture parameters also take a constant of their
// value type. Any of them animated: {"keys": [[time, value], ...]} with increasing times.
// A list parameter takes a JSON array of element values.
#pragma once

#include "sdk/ParamValues.h"
#include "uvwhost/JsonValues.h"
#include "uvwhost/Parsed.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace uvwhost {

// What a parameter accepts: taken from the descriptor's definition.
struct ParamDef {
    std::string name;
    KUtils::ParamType type = KUtils::ParamType::Int;
    // -1 a single value, 0 or more a list.
    int count = -1;
    // Plugin parameters: the interface registered for what may be connected.
    KUtils::InterfaceID iface = 0;
};

// What an instance given to a reference parameter must be: the interface it must answer
// and the name of that kind for messages ("a UVW generator"). No interface: not a reference.
struct ReferenceKind {
    KUtils::InterfaceID iface = 0;
    const char* name = "";
};
ReferenceKind referenceKind(const ParamDef& def);
// The kind of instance a plugin is, for messages ("a texture").
const char* kindOf(KUtils::PluginBase* plugin);

// The registered definitions of a descriptor, in registration order.
std::vector<ParamDef> paramDefsOf(const KUtils::KivoParameterListDesc& desc);

// The name used for a type in JSON ("int", "texture_float", "output_texture_vector", ...).
const char* paramTypeName(KUtils::ParamType type);
// What a value of the type looks like, for messages.
const char* paramShape(KUtils::ParamType type);

// One value; a non-empty `ref` names the instance to connect (value unused).
struct ParsedParamValue {
    KUtils::ParamValue value = 0;
    std::string ref;
};

struct ParamSetting {
    enum class Kind { Constant, Animated, List };
    std::string name;
    Kind kind = Kind::Constant;
    // Constant: one value; Animated: one per key time; List: the elements.
    std::vector<ParsedParamValue> values;
    std::vector<double> times;
    // What the references among the values must be.
    ReferenceKind refersTo;
};

// Reads a value for the definition. Messages name the parameter and the expected shape.
Parsed<ParamSetting> readParamSetting(const ParamDef& def, const Json& value);

// "NAME=JSON" as given to --set: the name and the parsed JSON.
struct SetArgument {
    std::string name;
    Json value;
};
Parsed<SetArgument> readSetArgument(std::string_view text);

// Finds the definition by name and reads the value; unknown names are an error naming the
// plugin type.
Parsed<ParamSetting> readNamedSetting(const std::vector<ParamDef>& defs,
                                      const std::string& pluginType, const std::string& name,
                                      const Json& value);

// Resolves "@name" references to plugins; null when there is no such instance.
using PluginResolver = std::function<KUtils::PluginBase*(const std::string& name)>;

// Applies a setting to a parameter list. Returns an empty string on success, else the reason
// (a reference to no instance, or to an instance of the wrong kind).
std::string applyParamSetting(KUtils::KivoParameterList& list, const ParamSetting& setting,
                              const PluginResolver& resolve);

// Names a connected plugin for output ("@name"); empty when it has none.
using PluginNamer = std::function<std::string(KUtils::PluginBase* plugin)>;

// The current value of a parameter at time t in the JSON shapes above; an unconnected
// reference is null, a connected one "@name" (or "@" without a name).
Json paramValueJson(const KUtils::KivoParameter& param, const ParamDef& def, double t,
                    const PluginNamer& name);

} // namespace uvwhost
