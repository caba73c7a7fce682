// Host-side editing of parameter values: what a scene loader or a test uses to give an
// instance its parameters. The library never calls these; it reads through KivoParameter.
#pragma once

#include "kivo/HostSdk.h"

#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace KUtils {

// One value of a parameter. Vector parameters use Vector4f, colours AColor; plugin and texture
// parameters hold the connected plugin (null: not connected). Numeric values convert between
// int, float and bool where the parameter's type asks for it.
using ParamValue = std::variant<int, float, bool, std::string, Vector4f, AColor, Matrix3x3f,
                                Transform, PluginBase*>;

// A constant value. False (and nothing changed) when the name is unknown or the value's kind
// does not fit the parameter's type.
KIVO_SDK_API bool setParamValue(KivoParameterList& list, const char* name, const ParamValue& value);
// An animated value: keys (time, value) in increasing time, linear between keys (matrices,
// transforms, vectors, colours and numbers component-wise; strings, bools and plugins step),
// clamped outside.
KIVO_SDK_API bool setParamKeys(KivoParameterList& list, const char* name,
                               const std::vector<std::pair<double, ParamValue>>& keys);
// The elements of a list parameter (or a list value for any parameter), constant in time.
KIVO_SDK_API bool setParamList(KivoParameterList& list, const char* name,
                               const std::vector<ParamValue>& elements);

// The parameter list of a plugin instance (through its EXT_KIVO_PLUGIN interface), or null.
KIVO_SDK_API KivoParameterList* paramListOf(PluginBase* plugin);

// The interface registered with a plugin parameter's definition (what may be connected);
// 0 for other parameters and indices out of range.
KIVO_SDK_API InterfaceID paramDefInterface(const KivoParameterListDesc& desc, int index);

// The interface an instance published for an output parameter (setOutputParamCache), or null.
KIVO_SDK_API PluginInterface* outputParamOf(KivoParameterList& list, const char* name);

} // namespace KUtils
