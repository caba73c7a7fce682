#include "scene/LinkedTextures.h"

namespace kivohost {

using namespace KUtils;

namespace {

inline constexpr InterfaceID LINKED_TEXTURE_INTERFACES[] = {EXT_KIVO_PLUGIN, EXT_TEXTURE, 0};

} // namespace

void LinkedTexture::frameBegin(KivoRenderer* renderer) {
    KivoTexture::frameBegin(renderer);
    const double t = renderer && renderer->frameData ? renderer->frameData->frameTime : 0.0;
    if (const KivoParameter* p = getParameter("color")) {
        color = p->getColor(0, t);
    }
}

void LinkedTexture::evalColor(AColor& result, const ShadingContext&) {
    count.fetch_add(1, std::memory_order_relaxed);
    result = color;
}

void LinkedTexture::getColorRange(AColor& minimum, AColor& maximum) {
    minimum = color;
    maximum = color;
}

LinkedTextureDesc::LinkedTextureDesc()
    : PluginDescOf("TexLinked", TEX_LINKED_ID,
                   "A constant colour, connected to a UVW generator and to other textures that it "
                   "does not evaluate",
                   LINKED_TEXTURE_INTERFACES) {
    KivoParameterListDesc& p = paramDescs();
    p.addParamTexture("color", AColor{0.5f, 0.5f, 0.5f, 1.0f}, -1, "The colour", "");
    p.addParamPlugin("uvwgen", EXT_UVWGEN, -1, "UVW generator the texture is driven by", "");
    p.addParamTexture("input", AColor{}, -1, "A texture the colour is linked to", "");
    p.addParamTexture("inputs", AColor{}, 0, "Textures the colour is linked to", "");
    publishParams();
}

} // namespace kivohost
