#include "channel/UVWGenBase.h"

namespace KUtils {

UVWGenBase::UVWGenBase(KivoPluginDesc* desc) : KivoUVWGen(desc) {
    if (KivoParameterList* params = getParamList()) {
        tex.bindParams(*params);
    }
}

void UVWGenBase::prepareRender(KivoRenderer* renderer) {
    tex.prepare(this, renderer);
}

void UVWGenBase::finishRender(KivoRenderer*) {
    tex.finishRender();
}

void UVWGenBase::frameBegin(KivoRenderer* renderer) {
    KivoUVWGen::frameBegin(renderer);
    KivoParameterList* params = getParamList();
    tex.beginFrame(renderer, params ? params->getParam("uvw_transform") : nullptr,
                   uvwTransformWorldSpace());
}

void UVWGenBase::finishFrame(KivoRenderer*) {
    tex.finishFrame();
}

int UVWGenBase::evalUVW(const ShadingContext& sc, Vector4f& uvw) {
    return tex.evalUVW(sc, uvw);
}

int UVWGenBase::evalUVWDerivs(const ShadingContext& sc, Vector4f out[3]) {
    return tex.evalUVWDerivs(sc, out);
}

int UVWGenBase::evalUVWTransform(const ShadingContext& sc, UVWTransform& tm) {
    return tex.evalTransform(sc, tm);
}

void UVWGenBase::writeWrapCropLines(ShaderSource& source) const {
    const UVWFinish& finish = tex.finish();
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
