#include "channel/UVWTex.h"

#include "channel/UVWGenBase.h"
#include "frame/FiniteResult.h"
#include "frame/MotionSamples.h"
#include "frame/VectorMath.h"

namespace KUtils {

namespace {

int renderThreadCount(const KivoRenderer* renderer) {
    return renderer && renderer->sequenceData ? renderer->sequenceData->numThreads : 0;
}

Vector4f offsetFromSurface(const ShadingContext& sc) {
    return sc.shadingPoint - sc.surfacePoint;
}

} // namespace

void UVWTex::bindParams(KivoParameterList& params) {
    params.setParamCache("uvw_transform_tex", &uvwTransformTex);
    params.setParamCache("tex_transform", &settings.texTransform);
    params.setParamCache("nsamples", &nsamples);
    params.setParamCache("wrap_u", &settings.wrap[0]);
    params.setParamCache("wrap_v", &settings.wrap[1]);
    params.setParamCache("wrap_w", &settings.wrap[2]);
    params.setParamCache("crop_u", &settings.crop[0]);
    params.setParamCache("crop_v", &settings.crop[1]);
    params.setParamCache("crop_w", &settings.crop[2]);
    params.setParamCache("coverage", &settings.coverage);
    params.setParamCache("wrap_mode", &settings.wrapBoundary);
    params.setParamCache("duvw_scale", &settings.duvwScale);
    params.setOutputParamCache("uvw_coords", this);
}

Vector4f* UVWTex::getTexVector(Vector4f& result, const ShadingContext& sc) {
    evalUVW(sc, result);
    return &result;
}

void UVWTex::getTexVectorBounds(Vector4f& minimum, Vector4f& maximum) {
    minimum = {-1e18f, -1e18f, -1e18f, -1e18f};
    maximum = {1e18f, 1e18f, 1e18f, 1e18f};
}

void UVWTex::prepare(UVWGenBase* generator, const KivoRenderer* renderer) {
    owner = generator;
    threadCache.allocate(renderThreadCount(renderer));
}

void UVWTex::beginFrame(const KivoRenderer* renderer, const KivoParameter* uvwTransformParam,
                        int worldSpace) {
    if (!threadCache.exists()) {
        threadCache.allocate(renderThreadCount(renderer));
    }
    threadCache.clear();
    // Per-frame data of a frame that was not finished goes now.
    samples.release();
    if (uvwTransformTex || !renderer || !renderer->sequenceData || !renderer->frameData) {
        return;
    }
    const int count = motionSampleCount(*renderer->sequenceData, nsamples);
    samples.take(uvwTransformParam, worldSpace, count, *renderer->frameData);
}

void UVWTex::finishFrame() {
    samples.release();
}

void UVWTex::finishRender() {
    threadCache.release();
}

template <typename Use>
int UVWTex::withTransform(const ShadingContext& sc, Use&& use) {
    ThreadCacheEntry* entry = threadCache.entryFor(sc);
    if (entry && entry->stamp == sc.evalStamp) {
        return use(entry->tm, entry->valid);
    }
    if (!owner) {
        return use(UVWTransform{Vector4f{}, Vector4f{}, Vector4f{}, Vector4f{}}, 0);
    }
    UVWTransform tm;
    const int valid = evalUncached(sc, tm);
    if (entry) {
        entry->stamp = sc.evalStamp;
        entry->tm = tm;
        entry->valid = static_cast<std::uint8_t>(valid);
    }
    return use(tm, valid);
}

int UVWTex::evalTransform(const ShadingContext& sc, UVWTransform& tm) {
    return finiteResult(withTransform(sc,
                                      [&](const UVWTransform& t, int valid) {
                                          tm = t;
                                          return valid;
                                      }),
                        tm);
}

int UVWTex::evalUncached(const ShadingContext& sc, UVWTransform& tm) {
    // The identity stands in for whatever a failing generator leaves unwritten.
    UVWTransform local;
    if (owner->evalLocalTransform(sc, local) == 0) {
        tm = local;
        return 0;
    }
    UVWTransform s;
    if (uvwTransformTex) {
        uvwTransformTex->evalTransform(s, sc);
    } else {
        s = samples.at(sc.time);
    }
    tm = compose(s, local);
    return finishUVWTransform(tm, settings, 1);
}

int UVWTex::evalUVW(const ShadingContext& sc, Vector4f& uvw) {
    return finiteResult(withTransform(sc,
                                      [&](const UVWTransform& tm, int valid) {
                                          uvw = applyPoint(tm, offsetFromSurface(sc));
                                          return valid;
                                      }),
                        uvw);
}

int UVWTex::evalUVWDerivs(const ShadingContext& sc, Vector4f out[3]) {
    return finiteResult(withTransform(sc,
                                      [&](const UVWTransform& tm, int valid) {
                                          out[0] = applyPoint(tm, offsetFromSurface(sc));
                                          out[1] = applyLinear(tm, sc.dPdx);
                                          out[2] = applyLinear(tm, sc.dPdy);
                                          return valid;
                                      }),
                        out, 3);
}

} // namespace KUtils
