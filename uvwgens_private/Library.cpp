// The library's entry: the library descriptor and every plugin descriptor, constructed in
// this order while the library loads and destroyed in reverse order at unload. Each
// registration prepends, so the host enumerates the types in the reverse of this order.
#include "channel/UVWGenChannel.h"
#include "channel/UVWGenPlanarWorld.h"
#include "environment/UVWGenEnvironment.h"
#include "frame/LibDesc.h"
#include "ostrel/UVWGenOstrel.h"
#include "projection/TexMultiProjection.h"
#include "projection/UVWGenProjection.h"
#include "spatial/UVWGenExplicit.h"
#include "spatial/UVWGenObject.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

using namespace KUtils;

PluginDescList descriptors;
// Constructed first, destroyed last: it frees the list nodes.
LibDesc libDesc(descriptors);

// Registration order: UVWGenOstrel, UVWGenChannel, UVWGenEnvironment, UVWGenExplicit,
// UVWGenObject, UVWGenPlanarWorld, TexMultiProjection, UVWGenProjection.
RegisteredPluginDesc<UVWGenOstrelDesc> ostrelDesc(descriptors);
RegisteredPluginDesc<UVWGenChannelDesc> channelDesc(descriptors);
RegisteredPluginDesc<UVWGenEnvironmentDesc> environmentDesc(descriptors);
RegisteredPluginDesc<UVWGenExplicitDesc> explicitDesc(descriptors);
RegisteredPluginDesc<UVWGenObjectDesc> objectDesc(descriptors);
RegisteredPluginDesc<UVWGenPlanarWorldDesc> planarWorldDesc(descriptors);
RegisteredPluginDesc<TexMultiProjectionDesc> multiProjectionDesc(descriptors);
RegisteredPluginDesc<UVWGenProjectionDesc> projectionDesc(descriptors);

} // namespace

#if defined(_WIN32)
#define UVWGENS_EXPORT __declspec(dllexport)
#else
#define UVWGENS_EXPORT __attribute__((visibility("default")))
#endif

extern "C" UVWGENS_EXPORT KUtils::PluginLibDesc* getLibDesc() {
    return &libDesc;
}

#if defined(_WIN32)
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
#endif
