#include "spatial/UVWGenObject.h"

#include "frame/FiniteResult.h"
#include "frame/GpuText.h"
#include "kivo/VectorMath.h"
#include "spatial/ObjectSpace.h"

namespace KUtils {

namespace {

// The shading point in object space when the instance maps it, else as the host gives it.
Vector4f objectPoint(const ShadingContext& sc, const ObjectSpaceInterface* os) {
    if (!os) {
        return sc.shadingPoint;
    }
    Vector4f p;
    os->toObjectPoint(p, sc, sc.shadingPoint);
    return p;
}

Vector4f objectVector(const ShadingContext& sc, const ObjectSpaceInterface* os, const Vector4f& v) {
    if (!os) {
        return v;
    }
    Vector4f r;
    os->toObjectVector(r, sc, v);
    return r;
}

} // namespace

UVWGenObject::UVWGenObject(KivoPluginDesc* desc) : GpuUVWGen(desc) {
    if (KivoParameterList* params = getParamList()) {
        params->setParamCache("uvw_transform", &uvwTransform);
        params->setParamCache("duvw_scale", &duvwScale);
    }
}

int UVWGenObject::evalUVW(const ShadingContext& sc, Vector4f& uvw) {
    return storeIfFinite(1, applyPoint(uvwTransform, objectPoint(sc, objectSpaceOf(sc))), uvw);
}

int UVWGenObject::evalUVWDerivs(const ShadingContext& sc, Vector4f out[3]) {
    const ObjectSpaceInterface* os = objectSpaceOf(sc);
    const Vector4f uvw = applyPoint(uvwTransform, objectPoint(sc, os));
    const Vector4f dx = objectVector(sc, os, sc.dPdx);
    const Vector4f dy = objectVector(sc, os, sc.dPdy);
    return storeIfFinite(1, uvw, applyLinear(uvwTransform, dx) * duvwScale,
                         applyLinear(uvwTransform, dy) * duvwScale, out);
}

int UVWGenObject::evalUVWTransform(const ShadingContext& sc, UVWTransform& tm) {
    if (const ObjectSpaceInterface* os = objectSpaceOf(sc)) {
        const float s = duvwScale;
        tm.c0 = applyLinear(uvwTransform, objectVector(sc, os, {s, 0.0f, 0.0f, 0.0f}));
        tm.c1 = applyLinear(uvwTransform, objectVector(sc, os, {0.0f, s, 0.0f, 0.0f}));
        tm.c2 = applyLinear(uvwTransform, objectVector(sc, os, {0.0f, 0.0f, s, 0.0f}));
        tm.o = applyPoint(uvwTransform, objectPoint(sc, os));
        return finiteResult(1, tm);
    }
    tm.c0 = uvwTransform.c0;
    tm.c1 = uvwTransform.c1;
    tm.c2 = uvwTransform.c2;
    tm.o = applyLinear(uvwTransform, sc.shadingPoint);
    return finiteResult(1, tm);
}

int UVWGenObject::emitRTSource(const char*, const char*, const char* kind, ShaderSource& source,
                               GPUDataRecord& gpuData) {
    if (!isMaterialDescriptor(kind) || !getParamList()) {
        return 0;
    }
    source.printf("map_channel %i\n", GPU_MAP_CHANNEL_OBJECT);
    gpuData.objectSpaceFlag = 1;
    writeTransformLine(source, "uvw_transform ", uvwTransform);
    return 1;
}

UVWGenObjectDesc::UVWGenObjectDesc()
    : PluginDescOf("UVWGenObject", 2006012002,
                   "UVW generator that uses the object space coordinates of the shaded point as "
                   "UVW values [gpuSupport=(partial)]",
                   UVWGEN_DESC_INTERFACES) {
    KivoParameterListDesc& params = paramDescs();
    params.addParamTransform("uvw_transform", 0, Transform{}, -1,
                             "Transformation applied to the original UVW values from the geometry",
                             "gpuSupport=(full)");
    params.addParamFloat("duvw_scale", 1.0f, -1,
                         "Additional scale factor for the texture derivatives",
                         "gpuSupport=(none)");
    publishParams();
}

} // namespace KUtils
