// Texture that blends several projected colour textures, weighting each by how directly the
// surface faces its projection centre and by how well the depth its camera recorded agrees
// with the point's true distance, so that surfaces hidden from one camera take their colour
// from another. Each colour texture is expected to be driven by a UVWGenProjection, whose
// placement gives the projection centre.
#pragma once

#include "frame/GrowableArray.h"
#include "kivo/PluginDescriptor.h"
#include "kivo/ShadingContext.h"
#include "projection/ColorResultCache.h"

namespace KUtils {

class TexMultiProjection : public KivoTexture {
public:
    explicit TexMultiProjection(KivoPluginDesc* desc);

    // KivoPluginInterface
    void prepareRender(KivoRenderer* renderer) override;
    void finishRender(KivoRenderer* renderer) override;
    void frameBegin(KivoRenderer* renderer) override;

    // TextureInterface
    void evalColor(AColor& result, const ShadingContext& sc) override;
    // The union of the ranges of the colour textures; zero without any.
    void getColorRange(AColor& minimum, AColor& maximum) override;

private:
    // One cache per render thread of the renderer's sequence.
    void createCaches(const KivoRenderer* renderer);
    // Reads the texture lists, the depth offset and the projection centres at the frame's
    // time.
    void readProjections(const KivoFrameData& frame, KivoMessageLog* log);
    AColor blend(const ShadingContext& sc) const;

    // Borrowed; an entry is null where a list element is empty or not a texture.
    GrowableArray<TextureInterface*> colorTextures;
    GrowableArray<TextureInterface*> depthTextures;
    // One per colour texture; the offset is the projection centre relative to the scene
    // origin (the scene origin itself where no projection was found).
    GrowableArray<UVWTransform> projectionTransforms;
    int projectionCount = 0;
    float depthOffset = 0.01f;
    PerThread<ColorResultCache> threadCaches;
};

class TexMultiProjectionDesc : public PluginDescOf<TexMultiProjection> {
public:
    TexMultiProjectionDesc();
};

} // namespace KUtils
