// UVW from the object-space position of the shaded point, through a user transform: textures
// driven by it stay fixed to the object. Without an object-space mapping from the shaded
// instance it uses the shading point as the host gives it (relative to the scene origin).
#pragma once

#include "frame/GpuUVWGen.h"
#include "kivo/PluginDescriptor.h"

namespace KUtils {

class UVWGenObject : public GpuUVWGen {
public:
    explicit UVWGenObject(KivoPluginDesc* desc);

    // uvw = M*p + o, p the object-space shading point.
    int evalUVW(const ShadingContext& sc, Vector4f& uvw) override;
    // Derivatives: M applied to the object-space dPdx and dPdy, times duvw_scale.
    int evalUVWDerivs(const ShadingContext& sc, Vector4f out[3]) override;
    // With an object-space mapping: columns M*toObject(duvw_scale along each axis), offset the
    // evalUVW result. Without one: the columns of uvw_transform as they are and offset M*p;
    // neither duvw_scale nor the transform's own offset enters (hosts rely on this).
    int evalUVWTransform(const ShadingContext& sc, UVWTransform& tm) override;
    int emitRTSource(const char* outputName, const char* name, const char* kind,
                     ShaderSource& source, GPUDataRecord& gpuData) override;

private:
    UVWTransform uvwTransform;
    float duvwScale = 1.0f;
};

class UVWGenObjectDesc : public PluginDescOf<UVWGenObject> {
public:
    UVWGenObjectDesc();
};

} // namespace KUtils
