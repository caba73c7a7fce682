// The descriptor of one plugin type of this library: identity, supported interfaces and the
// parameter descriptors that the subclass registers in its constructor.
#pragma once

#include "kivo/HostSdk.h"
#include "kivo/PluginModel.h"

#include <new>

namespace KUtils {

// Ids every UVW generator descriptor supports (zero-terminated).
inline constexpr InterfaceID UVWGEN_DESC_INTERFACES[] = {EXT_KIVO_PLUGIN, EXT_UVWGEN, 0};
// Ids every texture descriptor supports (zero-terminated).
inline constexpr InterfaceID TEXTURE_DESC_INTERFACES[] = {EXT_KIVO_PLUGIN, EXT_TEXTURE, 0};

class LibraryPluginDesc : public KivoPluginDesc {
public:
    LibraryPluginDesc(const char* name, InterfaceID pluginId, const char* description,
                      const InterfaceID* supported)
        : name(name), pluginId(pluginId), description(description), supported(supported) {}

    InterfaceID getPluginID() override { return pluginId; }
    bool supportsInterface(InterfaceID id) override { return listContains(supported, id); }
    const char* getName() override { return name; }
    const char* getDescription() override { return description; }

protected:
    // The subclass constructor registers its parameters here, then publishes them.
    KivoParameterListDesc& paramDescs() { return params; }
    void publishParams() { setParamListDesc(&params); }

private:
    const char* name;
    InterfaceID pluginId;
    const char* description;
    const InterfaceID* supported;
    KivoParameterListDesc params;
};

// Descriptor whose instances are PluginT objects bound to it.
template <class PluginT>
class PluginDescOf : public LibraryPluginDesc {
public:
    using LibraryPluginDesc::LibraryPluginDesc;
    // Null when the instance cannot be allocated.
    PluginBase* newPlugin(KivoPluginHost*) override { return new (std::nothrow) PluginT(this); }
};

} // namespace KUtils
