// The base of the UVW generators that start from a surface parametrisation. A subclass
// supplies the raw local transform at a shading point (evalLocalTransform); the base turns it
// into the final one through uvw_transform (motion-blur samples or uvw_transform_tex), wrap,
// crop, coverage, tex_transform and duvw_scale, keeps one result per render thread for the
// current shading evaluation, and publishes the uvw_coords output texture.
#pragma once

#include "channel/UVWTex.h"
#include "kivo/HostSdk.h"
#include "kivo/PluginModel.h"

namespace KUtils {

class UVWGenBase : public KivoUVWGen {
public:
    explicit UVWGenBase(KivoPluginDesc* desc);

    void prepareRender(KivoRenderer* renderer) override;
    void finishRender(KivoRenderer* renderer) override;
    void frameBegin(KivoRenderer* renderer) override;
    void finishFrame(KivoRenderer* renderer) override;

    int evalUVW(const ShadingContext& sc, Vector4f& uvw) override;
    int evalUVWDerivs(const ShadingContext& sc, Vector4f out[3]) override;
    int evalUVWTransform(const ShadingContext& sc, UVWTransform& tm) override;

    // The raw transform at the shading point, as the map of the offset shadingPoint -
    // surfacePoint to uvw; nonzero on success. Called from many render threads at once.
    /* 7 */ virtual int evalLocalTransform(const ShadingContext& sc, UVWTransform& tm) = 0;

protected:
    const UVWTex& uvwTex() const { return tex; }
    // The GPU lines "wrap %d,%d,%d\n" and "crop %d,%d,%d\n" of the cached settings.
    void writeWrapCropLines(ShaderSource& source) const;

private:
    // The registration flag of uvw_transform: 1 when its offset is a world position.
    int uvwTransformWorldSpace() const;

    UVWTex tex;
};

// Registers the base parameters, in their fixed order, before a subclass's own.
void registerUVWGenBaseParams(KivoParameterListDesc& params, int worldSpace);

} // namespace KUtils
