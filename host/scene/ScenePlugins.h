// The host's own texture plugins for rendered scenes, with descriptors and parameters like
// any plugin so that scene files connect them to the library's plugins by name:
//   TexChecker  a checker over the UVW of its `uvwgen` (box-filtered with the UVW derivatives)
//   TexGrid     a UV grid: cells shaded by u and v, with lines at every 1/divisions
//   TexConstant a constant colour
//   TexUVW      the raw UVW of its `uvwgen` as a colour (and one component as a float)
//   TexBitmap   an image (scene/ImagePlugins.h) at the UVW of its `uvwgen`
// Every one answers EXT_TEXTURE and EXT_TEXTURE_FLOAT (the mean of the colour). Without a
// connected `uvwgen` a texture reads the shading point as its UVW.
#pragma once

#include "kivo/PluginModel.h"
#include "kivo/ShadingContext.h"
#include "scene/VisibilityRays.h"

#include <vector>

namespace kivohost {

// Type ids of the host's texture plugins.
inline constexpr KUtils::InterfaceID TEX_CHECKER_ID = 0x7F4B0001;
inline constexpr KUtils::InterfaceID TEX_GRID_ID = 0x7F4B0002;
inline constexpr KUtils::InterfaceID TEX_CONSTANT_ID = 0x7F4B0003;
inline constexpr KUtils::InterfaceID TEX_UVW_ID = 0x7F4B0004;

// The descriptors of the host's plugins (static objects), in a fixed order: the textures
// above, then the camera plugins RenderView and SettingsCamera, then TexBitmap and BitmapBuffer.
const std::vector<KUtils::KivoPluginDesc*>& scenePluginDescs();

// A shading context that remembers the UVW of the first texture lookup made with it (the
// renderer's UVW output image); its visibility rays trace against the scene's geometry.
class ProbedShadingContext : public TracingShadingContext {
public:
    using TracingShadingContext::TracingShadingContext;

    void recordUVW(const KUtils::Vector4f& uvw) const {
        if (!probed) {
            probed = true;
            probedUVW = uvw;
        }
    }
    void resetProbe() { probed = false; }
    bool hasProbe() const { return probed; }
    const KUtils::Vector4f& probe() const { return probedUVW; }

private:
    mutable bool probed = false;
    mutable KUtils::Vector4f probedUVW;
};

} // namespace kivohost
