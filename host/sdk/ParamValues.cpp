// Host-side editing of parameter values.
#include "sdk/ParamValues.h"

#include "sdk/ParamStore.h"

#include <cmath>

namespace KUtils {

namespace {

KivoParameter::Impl* paramNamed(KivoParameterList& list, const char* name) {
    KivoParameter* p = list.getParam(name);
    return p ? p->getImpl() : nullptr;
}

} // namespace

bool setParamValue(KivoParameterList& list, const char* name, const ParamValue& value) {
    return setParamKeys(list, name, {{0.0, value}});
}

bool setParamKeys(KivoParameterList& list, const char* name,
                  const std::vector<std::pair<double, ParamValue>>& keys) {
    KivoParameter::Impl* p = paramNamed(list, name);
    if (!p || keys.empty()) {
        return false;
    }
    kivohost::Track track;
    track.reserve(keys.size());
    for (const auto& [time, value] : keys) {
        // Times must be finite and strictly increasing: equal times leave no span to
        // interpolate over.
        if (!std::isfinite(time) || (!track.empty() && !(time > track.back().first))) {
            return false;
        }
        std::optional<ParamValue> fitted = kivohost::fitValue(p->def, value);
        if (!fitted) {
            return false;
        }
        track.emplace_back(time, std::move(*fitted));
    }
    // A list parameter becomes a list of this one element.
    p->elements = {std::move(track)};
    p->isList = p->def.count >= 0;
    return true;
}

bool setParamList(KivoParameterList& list, const char* name,
                  const std::vector<ParamValue>& elements) {
    KivoParameter::Impl* p = paramNamed(list, name);
    if (!p) {
        return false;
    }
    std::vector<kivohost::Track> tracks;
    tracks.reserve(elements.size());
    for (const ParamValue& value : elements) {
        std::optional<ParamValue> fitted = kivohost::fitValue(p->def, value);
        if (!fitted) {
            return false;
        }
        tracks.push_back({{0.0, std::move(*fitted)}});
    }
    p->elements = std::move(tracks);
    p->isList = true;
    return true;
}

KivoParameterList* paramListOf(PluginBase* plugin) {
    PluginInterface* iface = plugin ? plugin->getInterface(EXT_KIVO_PLUGIN) : nullptr;
    return iface ? static_cast<KivoPluginInterface*>(iface)->getParamList() : nullptr;
}

PluginInterface* outputParamOf(KivoParameterList& list, const char* name) {
    KivoParameter::Impl* p = paramNamed(list, name);
    return p ? p->output : nullptr;
}

} // namespace KUtils
