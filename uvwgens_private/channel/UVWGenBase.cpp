#include "channel/UVWGenBase.h"

#include "frame/FiniteResult.h"
#include "frame/MotionSamples.h"
#include "kivo/VectorMath.h"

namespace KUtils {

namespace {

int renderThreadCount(const KivoRenderer* renderer) {
    return renderer && renderer->sequenceData ? renderer->sequenceData->numThreads : 0;
}

Vector4f offsetFromSurface(const ShadingContext& sc) {
    return sc.shadingPoint - sc.surfacePoint;
}

} // namespace

UVWGenBase::UVWGenBase(KivoPluginDesc* desc) : KivoUVWGen(desc) {
    KivoParameterList* params = getParamList();
    if (!params) {
        return;
    }
    params->setParamCache("uvw_transform_tex", &uvwTransformTex);
    params->setParamCache("tex_transform", &settings.texTransform);
    params->setParamCache("nsamples", &nsamples);
    params->setParamCache("wrap_u", &settings.wrap[0]);
    params->setParamCache("wrap_v", &settings.wrap[1]);
    params->setParamCache("wrap_w", &settings.wrap[2]);
    params->setParamCache("crop_u", &settings.crop[0]);
    params->setParamCache("crop_v", &settings.crop[1]);
    params->setParamCache("crop_w", &settings.crop[2]);
    params->setParamCache("coverage", &settings.coverage);
    params->setParamCache("wrap_mode", &settings.wrapBoundary);
    params->setParamCache("duvw_scale", &settings.duvwScale);
    params->setOutputParamCache("uvw_coords", &uvwCoords);
}

void UVWGenBase::prepareRender(KivoRenderer* renderer) {
    prepared = true;
    threadCache.allocate(renderThreadCount(renderer));
}

void UVWGenBase::finishRender(KivoRenderer*) {
    threadCache.release();
}

void UVWGenBase::frameBegin(KivoRenderer* renderer) {
    KivoUVWGen::frameBegin(renderer);
    if (!threadCache.exists()) {
        threadCache.allocate(renderThreadCount(renderer));
    }
    threadCache.forEach([](ThreadCacheEntry& entry) { entry.stamp = 0; });
    // Per-frame data of a frame that was not finished goes now.
    samples.release();
    if (uvwTransformTex || !renderer || !renderer->sequenceData || !renderer->frameData) {
        return;
    }
    KivoParameterList* params = getParamList();
    const int count = motionSampleCount(*renderer->sequenceData, nsamples);
    samples.take(params ? params->getParam("uvw_transform") : nullptr, uvwTransformWorldSpace(),
                 count, *renderer->frameData);
}

void UVWGenBase::finishFrame(KivoRenderer*) {
    samples.release();
}

template <typename Use>
int UVWGenBase::withTransform(const ShadingContext& sc, Use&& use) {
    ThreadCacheEntry* entry = cacheEntry(sc);
    if (entry && entry->stamp == sc.evalStamp) {
        return use(entry->tm, entry->valid);
    }
    if (!prepared) {
        return use(UVWTransform{Vector4f{}, Vector4f{}, Vector4f{}, Vector4f{}}, 0);
    }
    // The local transform, then the sample of uvw_transform at the shading time (or the
    // connected texture's transform), then the chain's finish.
    UVWTransform tm;
    int valid = evalLocalTransform(sc, tm);
    if (valid != 0) {
        UVWTransform s;
        if (uvwTransformTex) {
            uvwTransformTex->evalTransform(s, sc);
        } else {
            s = samples.at(sc.time);
        }
        tm = compose(s, tm);
        valid = finishUVWTransform(tm, settings, 1);
    }
    if (entry) {
        entry->stamp = sc.evalStamp;
        entry->tm = tm;
        entry->valid = static_cast<std::uint8_t>(valid);
    }
    return use(tm, valid);
}

int UVWGenBase::evalUVW(const ShadingContext& sc, Vector4f& uvw) {
    return withTransform(sc, [&](const UVWTransform& tm, int valid) {
        return storeIfFinite(valid, applyPoint(tm, offsetFromSurface(sc)), uvw);
    });
}

int UVWGenBase::evalUVWDerivs(const ShadingContext& sc, Vector4f out[3]) {
    return withTransform(sc, [&](const UVWTransform& tm, int valid) {
        return storeIfFinite(valid, applyPoint(tm, offsetFromSurface(sc)), applyLinear(tm, sc.dPdx),
                             applyLinear(tm, sc.dPdy), out);
    });
}

int UVWGenBase::evalUVWTransform(const ShadingContext& sc, UVWTransform& tm) {
    return withTransform(
        sc, [&](const UVWTransform& t, int valid) { return storeIfFinite(valid, t, tm); });
}

void UVWGenBase::writeWrapCropLines(ShaderSource& source) const {
    const UVWFinish& finish = settings;
    source.printf("wrap %d,%d,%d\n", finish.wrap[0], finish.wrap[1], finish.wrap[2]);
    source.printf("crop %d,%d,%d\n", finish.crop[0], finish.crop[1], finish.crop[2]);
}

int UVWGenBase::uvwTransformWorldSpace() const {
    const KivoPluginDesc* desc = getKivoPluginDesc();
    const KivoParameterListDesc* defs = desc ? desc->getParamListDesc() : nullptr;
    const int index = defs ? defs->findParamDefIndex("uvw_transform") : -1;
    return index >= 0 ? defs->getParamDefWorldSpace(index) : 0;
}

void registerUVWGenBaseParams(KivoParameterListDesc& params, int worldSpace) {
    const char* full = "gpuSupport=(full)";
    params.addParamTransform(
        "uvw_transform", worldSpace, Transform{}, -1,
        "Initial transformation on the uvw coordinates, before mirror, crop etc", full);
    params.addParamTextureTransform("uvw_transform_tex", Transform{}, -1,
                                    "A texture overriding uvw_transform", full);
    params.addParamTransform(
        "tex_transform", 0, Transform{}, -1,
        "Final transformation on the resulting uvw coordinates, after mirror, crop etc", full);
    params.addParamInt("nsamples", 0, -1, "Number of uvw transform samples for motion blur",
                       "gpuSupport=(none)");
    const char* wrapDesc = "0 - no wrapping, 1 - wrap, 2 - mirror tile";
    params.addParamInt("wrap_u", 0, -1, wrapDesc, full);
    params.addParamInt("wrap_v", 0, -1, wrapDesc, full);
    params.addParamInt("wrap_w", 0, -1, wrapDesc, full);
    params.addParamInt("crop_u", 0, -1, "1 to crop in the u-direction", full);
    params.addParamInt("crop_v", 0, -1, "1 to crop in the v-direction", full);
    params.addParamInt("crop_w", 0, -1, "1 to crop in the w-direction", full);
    params.addParamVector("coverage", Vector4f{1.0f, 1.0f, 1.0f, 0.0f}, -1, "Coverage", full);
    params.addOutputParamTextureVector(
        "uvw_coords", "The uvw coordinates for the specified channel at the current shading point",
        full);
    params.addParamInt("wrap_mode", 0, -1,
                       "Wrap mode (0 - wrap on 0.5 boundary; 1 - wrap on integer boundary",
                       "enum=(0:On 0.5 boundary; 1:On integer boundary), gpuSupport=(full)");
    params.addParamFloat("duvw_scale", 1.0f, -1,
                         "Additional scale factor for the texture derivatives", full);
}

} // namespace KUtils
