#include "projection/TexMultiProjection.h"

#include "projection/MultiProjectionBlend.h"
#include "projection/ProjectionSearch.h"

#include <algorithm>

namespace KUtils {

namespace {

TextureInterface* textureOf(PluginBase* plugin) {
    return plugin ? static_cast<TextureInterface*>(plugin->getInterface(EXT_TEXTURE)) : nullptr;
}

// This texture among its own inputs would evaluate itself without end: such an entry is
// left out, with a line in the message log.
TextureInterface* inputOf(PluginBase* plugin, const Plugin& self, const char* list,
                          KivoMessageLog* log) {
    if (plugin != &self) {
        return textureOf(plugin);
    }
    if (log) {
        const char* name = self.getPluginName();
        log->logMessage("[TexMultiProjection] \"%s\" lists itself in %s; that entry is left out\n",
                        name ? name : "", list);
    }
    return nullptr;
}

// Elements of a list parameter; 0 when absent or not a list.
int listCount(const KivoParameter* list, double t) {
    return list ? std::max(list->getCount(t), 0) : 0;
}

} // namespace

TexMultiProjection::TexMultiProjection(KivoPluginDesc* desc) : KivoTexture(desc) {}

void TexMultiProjection::prepareRender(KivoRenderer* renderer) {
    createCaches(renderer);
}

void TexMultiProjection::finishRender(KivoRenderer*) {
    threadCaches.release();
}

void TexMultiProjection::createCaches(const KivoRenderer* renderer) {
    const KivoSequenceData* sequence = renderer ? renderer->sequenceData : nullptr;
    threadCaches.allocate(sequence ? sequence->numThreads : 0);
}

void TexMultiProjection::frameBegin(KivoRenderer* renderer) {
    KivoTexture::frameBegin(renderer);
    if (!threadCaches.exists()) {
        createCaches(renderer);
    }
    threadCaches.forEach([](ColorResultCache& cache) { cache.clear(); });
    // Evaluations see no projection until every array holds one entry per colour texture,
    // so an allocation failure part way leaves the texture consistent (and black).
    projectionCount = 0;
    if (renderer && renderer->frameData) {
        readProjections(*renderer->frameData,
                        renderer->sequenceData ? renderer->sequenceData->messageLog : nullptr);
    }
}

void TexMultiProjection::readProjections(const KivoFrameData& frame, KivoMessageLog* log) {
    const double t = frame.frameTime;
    const KivoParameter* colors = getParameter("color_textures");
    const KivoParameter* depths = getParameter("zdepth_textures");
    const KivoParameter* offset = getParameter("zdepth_offset");
    depthOffset = offset ? offset->getFloat(0, t) : 0.01f;

    const int count = listCount(colors, t);
    colorTextures.resize(count);
    depthTextures.resize(count);
    projectionTransforms.resize(count);
    for (int i = 0; i < count; ++i) {
        colorTextures[i] = nullptr;
        depthTextures[i] = nullptr;
        projectionTransforms[i] = UVWTransform{};
    }

    ProjectionSearch search(t, frame.sceneOrigin);
    const int depthCount = listCount(depths, t);
    for (int i = 0; i < count; ++i) {
        PluginBase* color = colors->getPlugin(i, t);
        colorTextures[i] = inputOf(color, *this, "color_textures", log);
        UVWTransform placement;
        if (search.find(color, placement)) {
            projectionTransforms[i] = placement;
        }
        if (i < depthCount) {
            depthTextures[i] = inputOf(depths->getPlugin(i, t), *this, "zdepth_textures", log);
        }
    }
    projectionCount = count;
}

void TexMultiProjection::evalColor(AColor& result, const ShadingContext& sc) {
    ColorResultCache* cache = colorCacheFor(threadCaches, sc);
    if (cache) {
        if (const AColor* cached = cache->find(sc.evalSlot, sc.evalStamp)) {
            result = *cached;
            return;
        }
    }
    result = blend(sc);
    if (cache) {
        // Without memory to grow the cache the colour simply stays uncached.
        cache->store(sc.evalSlot, sc.evalStamp, result);
    }
}

AColor TexMultiProjection::blend(const ShadingContext& sc) const {
    ColorBlend sum;
    for (int i = 0; i < projectionCount; ++i) {
        TextureInterface* color = colorTextures[i];
        if (!color) {
            continue;
        }
        const CentreView view =
            viewFromCentre(sc.shadingPoint, sc.normal, sc.backSide, projectionTransforms[i].o);
        float weight = 0.0f;
        if (facesCentre(view)) {
            if (TextureInterface* depth = depthTextures[i]) {
                AColor recorded;
                depth->evalColor(recorded, sc);
                weight = depthWeight(view, recordedDepth(recorded), depthOffset);
            } else {
                weight = facingWeight(view);
            }
        }
        AColor projected;
        color->evalColor(projected, sc);
        sum.add(weight, projected);
    }
    return sum.result();
}

void TexMultiProjection::getColorRange(AColor& minimum, AColor& maximum) {
    minimum = AColor{};
    maximum = AColor{};
    bool first = true;
    for (int i = 0; i < projectionCount; ++i) {
        TextureInterface* color = colorTextures[i];
        if (!color) {
            continue;
        }
        AColor low;
        AColor high;
        color->getColorRange(low, high);
        if (first) {
            minimum = low;
            maximum = high;
            first = false;
            continue;
        }
        minimum = {std::min(minimum.r, low.r), std::min(minimum.g, low.g),
                   std::min(minimum.b, low.b), std::min(minimum.a, low.a)};
        maximum = {std::max(maximum.r, high.r), std::max(maximum.g, high.g),
                   std::max(maximum.b, high.b), std::max(maximum.a, high.a)};
    }
}

TexMultiProjectionDesc::TexMultiProjectionDesc()
    : PluginDescOf("TexMultiProjection", 2012061879,
                   "Allows you to blend multiple projection textures together into a spherical "
                   "projection. Pairs of RGB and ZDepth spherical textures are required for this "
                   "feature to work correctly. The pairs are added as camera projections and "
                   "need to be linked to the cameras that were used to originally render the "
                   "textures. [gpuSupport=(none)]",
                   TEXTURE_DESC_INTERFACES) {
    KivoParameterListDesc& p = paramDescs();
    p.addParamTexture("color_textures", AColor{}, 0,
                      "The spherical projection textures; must be using a UVWGenProjection",
                      nullptr);
    p.addParamFloat("zdepth_offset", 0.01f, -1,
                    "An offset for the zdepth value to avoid numeric errors", nullptr);
    p.addParamTexture("zdepth_textures", AColor{}, 0, "The z-depth projection textures", nullptr);
    publishParams();
}

} // namespace KUtils
