// The base of the UVW generators that start from a surface parametrisation. A subclass
// supplies the raw local transform at a shading point (evalLocalTransform); the base turns it
// into the final one through uvw_transform (motion-blur samples or uvw_transform_tex), wrap,
// crop, coverage, tex_transform and duvw_scale, keeps one result per render thread for the
// current shading evaluation, and publishes the uvw_coords output texture.
//
// Evaluations read only what the lifecycle calls prepared and write only the caller's outputs
// and the calling thread's cache entry.
#pragma once

#include "channel/TransformSamples.h"
#include "channel/UVWChain.h"
#include "channel/UVWTex.h"
#include "frame/PerThread.h"
#include "kivo/HostSdk.h"
#include "kivo/PluginModel.h"
#include "kivo/ShadingContext.h"

#include <cstdint>

namespace KUtils {

// One render thread's result of the current shading evaluation, valid while the context's
// evalStamp equals stamp (0: empty). Entries sit 256 bytes apart on 128-byte boundaries, so
// that no two threads write the same cache line.
struct alignas(128) ThreadCacheEntry {
    std::uint32_t stamp = 0;
    UVWTransform tm;
    std::uint8_t valid = 0;
    std::uint8_t reserved[256 - sizeof(std::uint32_t) - sizeof(UVWTransform) - 1];
};
static_assert(sizeof(ThreadCacheEntry) == 256);

class UVWGenBase : public KivoUVWGen {
public:
    explicit UVWGenBase(KivoPluginDesc* desc);

    // From now on evaluations run; the cache gets one entry per render thread.
    void prepareRender(KivoRenderer* renderer) override;
    void finishRender(KivoRenderer* renderer) override;
    // After the bound parameters were refreshed: empties the cache and takes this frame's
    // samples of uvw_transform (none while uvw_transform_tex is connected).
    void frameBegin(KivoRenderer* renderer) override;
    void finishFrame(KivoRenderer* renderer) override;

    // The final transform applied to shadingPoint - surfacePoint.
    int evalUVW(const ShadingContext& sc, Vector4f& uvw) override;
    // out[0] as evalUVW, out[1] and out[2] the final transform's columns applied to dPdx, dPdy.
    int evalUVWDerivs(const ShadingContext& sc, Vector4f out[3]) override;
    // The final transform; all zeros with flag 0 before prepareRender.
    int evalUVWTransform(const ShadingContext& sc, UVWTransform& tm) override;

    // The raw transform at the shading point, as the map of the offset shadingPoint -
    // surfacePoint to uvw; nonzero on success. Called from many render threads at once.
    /* 7 */ virtual int evalLocalTransform(const ShadingContext& sc, UVWTransform& tm) = 0;

protected:
    // This frame's uvw_transform (its first sample) and the settings after it.
    const UVWTransform& uvwTransform() const { return samples.first(); }
    const UVWFinish& finish() const { return settings; }
    // The GPU lines "wrap %d,%d,%d\n" and "crop %d,%d,%d\n" of the cached settings.
    void writeWrapCropLines(ShaderSource& source) const;

private:
    // Calls use(transform, valid) with the final transform at the context: the calling
    // thread's cache entry itself on a hit (copying its 64 bytes out would cost as much as
    // the rest of the hit), else a fresh evaluation, which the entry then keeps.
    template <typename Use>
    int withTransform(const ShadingContext& sc, Use&& use);
    // The calling thread's entry, or null when this context is not cached: bit
    // SC_FLAG_BYPASS_UVW_CACHE set, evalStamp 0 (the empty stamp), no cache or threadIndex
    // out of range. Inline: a cache hit costs a few nanoseconds, and a call would be a good
    // part of it.
    ThreadCacheEntry* cacheEntry(const ShadingContext& sc) const {
        if ((sc.flags & SC_FLAG_BYPASS_UVW_CACHE) != 0 || sc.evalStamp == 0) {
            return nullptr;
        }
        return threadCache.at(sc.threadData.threadIndex);
    }
    // The registration flag of uvw_transform: 1 when its offset is a world position.
    int uvwTransformWorldSpace() const;

    // Bound parameters.
    UVWFinish settings;
    TextureTransformInterface* uvwTransformTex = nullptr;
    int nsamples = 0;
    // Frame state.
    TransformSamples samples;
    PerThread<ThreadCacheEntry> threadCache;
    // Set by prepareRender: a generator never prepared reports every point invalid.
    bool prepared = false;
    UVWTex uvwCoords{*this};
};

// Registers the base parameters, in their fixed order, before a subclass's own.
void registerUVWGenBaseParams(KivoParameterListDesc& params, int worldSpace);

} // namespace KUtils
