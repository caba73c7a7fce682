#include "scene/TransformTextures.h"

namespace kivohost {

using namespace KUtils;

TransformTexture::TransformTexture(const UVWTransform& transform)
    : KivoPlugin(nullptr), function([transform](const ShadingContext&) { return transform; }) {}

TransformTexture::TransformTexture(Function function)
    : KivoPlugin(nullptr), function(std::move(function)) {}

PluginInterface* TransformTexture::getInterface(InterfaceID id) {
    if (id == EXT_TEXTURE_TRANSFORM) {
        return static_cast<TextureTransformInterface*>(this);
    }
    return KivoPlugin::getInterface(id);
}

void TransformTexture::evalTransform(UVWTransform& result, const ShadingContext& sc) {
    count.fetch_add(1, std::memory_order_relaxed);
    result = function(sc);
}

} // namespace kivohost
