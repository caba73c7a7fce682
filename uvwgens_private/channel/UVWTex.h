// The uvw_coords output texture of a generator built on UVWGenBase, and the state that the
// generator's evaluations share with it: the cached parameters, this frame's uvw_transform
// samples and the per-thread result cache. Evaluations read only what the lifecycle calls
// prepared and write only the caller's outputs and the calling thread's cache entry.
#pragma once

#include "channel/ThreadCache.h"
#include "channel/TransformSamples.h"
#include "channel/UVWChain.h"
#include "kivo/HostSdk.h"
#include "kivo/PluginModel.h"
#include "kivo/ShadingContext.h"

namespace KUtils {

class UVWGenBase;

class UVWTex final : public TextureVectorInterface {
public:
    // Binds the cached parameters to the fields and publishes this object as uvw_coords.
    void bindParams(KivoParameterList& params);

    // The output texture belongs to no plugin of its own.
    PluginBase* getPlugin() override { return nullptr; }
    /* 5 */ Vector4f* getTexVector(Vector4f& result, const ShadingContext& sc) override;
    /* 6 */ void getTexVectorBounds(Vector4f& minimum, Vector4f& maximum) override;

    // Lifecycle, run while no evaluation is in flight.
    // From now on evaluations ask generator for the raw transform; the cache gets one entry
    // per render thread of the renderer's sequence.
    void prepare(UVWGenBase* generator, const KivoRenderer* renderer);
    // After the bound parameters were refreshed: empties the cache and takes this frame's
    // samples of uvwTransformParam (none while uvw_transform_tex is connected).
    void beginFrame(const KivoRenderer* renderer, const KivoParameter* uvwTransformParam,
                    int worldSpace);
    void finishFrame();
    void finishRender();

    // The final transform at the context; returns the valid flag. Without a prepared
    // generator the transform is all zeros and the flag 0.
    int evalTransform(const ShadingContext& sc, UVWTransform& tm);
    // The transform applied to shadingPoint - surfacePoint.
    int evalUVW(const ShadingContext& sc, Vector4f& uvw);
    // out[0] as evalUVW, out[1] and out[2] the transform's columns applied to dPdx and dPdy.
    int evalUVWDerivs(const ShadingContext& sc, Vector4f out[3]);

    // This frame's uvw_transform (its first sample) and the settings after it.
    const UVWTransform& uvwTransform() const { return samples.first(); }
    const UVWFinish& finish() const { return settings; }

private:
    // Calls use(transform, valid) with the final transform at the context: the calling
    // thread's cache entry itself on a hit (copying its 64 bytes out would cost as much as
    // the rest of the hit), else a fresh evaluation, which the entry then keeps.
    template <typename Use>
    int withTransform(const ShadingContext& sc, Use&& use);
    int evalUncached(const ShadingContext& sc, UVWTransform& tm);

    TransformSamples samples;
    UVWFinish settings;
    TextureTransformInterface* uvwTransformTex = nullptr;
    int nsamples = 0;
    ThreadCache threadCache;
    UVWGenBase* owner = nullptr;
};

} // namespace KUtils
