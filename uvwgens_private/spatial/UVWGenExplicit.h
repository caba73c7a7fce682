// UVW computed by other textures: one colour texture (r, g, b become u, v, w) or up to three
// float textures, one per coordinate. No transform, no wrapping, no derivatives of its own.
#pragma once

#include "frame/GpuUVWGen.h"
#include "kivo/PluginDescriptor.h"

namespace KUtils {

class UVWGenExplicit : public GpuUVWGen {
public:
    explicit UVWGenExplicit(KivoPluginDesc* desc);

    // The colour texture gives (r, g, b, b); the float textures give (u, v, w, 0) with 0 for
    // each one not connected. Always valid.
    int evalUVW(const ShadingContext& sc, Vector4f& uvw) override;
    // evalUVW's uvw with zero derivatives.
    int evalUVWDerivs(const ShadingContext& sc, Vector4f out[3]) override;
    // Columns dPdx, dPdy, normal; offset this generator's own uvw.
    int evalUVWTransform(const ShadingContext& sc, UVWTransform& tm) override;
    // Always describes the separate u, v, w inputs (the colour texture has no GPU support).
    int emitRTSource(const char* outputName, const char* name, const char* kind,
                     ShaderSource& source, GPUDataRecord& gpuData) override;

private:
    // Borrowed from the host; null when not connected.
    TextureFloatInterface* uTex = nullptr;
    TextureFloatInterface* vTex = nullptr;
    TextureFloatInterface* wTex = nullptr;
    TextureInterface* uvwTex = nullptr;
    int inputMode = 0;
};

class UVWGenExplicitDesc : public PluginDescOf<UVWGenExplicit> {
public:
    UVWGenExplicitDesc();
};

} // namespace KUtils
