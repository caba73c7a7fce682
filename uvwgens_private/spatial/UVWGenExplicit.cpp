#include "spatial/UVWGenExplicit.h"

#include "frame/FiniteResult.h"
#include "frame/GpuText.h"
#include "kivo/ShadingContext.h"
#include "spatial/ExplicitInputs.h"

#include <initializer_list>

namespace KUtils {

UVWGenExplicit::UVWGenExplicit(KivoPluginDesc* desc) : GpuUVWGen(desc) {
    if (KivoParameterList* params = getParamList()) {
        params->setParamCache("u", &uTex);
        params->setParamCache("v", &vTex);
        params->setParamCache("w", &wTex);
        params->setParamCache("uvw", &uvwTex);
        params->setParamCache("useSeparateParams", &inputMode);
    }
}

int UVWGenExplicit::evalUVW(const ShadingContext& sc, Vector4f& uvw) {
    uvw = {};
    switch (selectExplicitInput(uvwTex != nullptr, inputMode)) {
    case ExplicitInput::Color: {
        AColor c;
        uvwTex->evalColor(c, sc);
        uvw = {c.r, c.g, c.b, c.b};
        break;
    }
    case ExplicitInput::Separate:
        if (uTex) {
            uvw.x = uTex->evalFloat(sc);
        }
        if (vTex) {
            uvw.y = vTex->evalFloat(sc);
        }
        if (wTex) {
            uvw.z = wTex->evalFloat(sc);
        }
        break;
    case ExplicitInput::None:
        break;
    }
    return finiteResult(1, uvw);
}

int UVWGenExplicit::evalUVWDerivs(const ShadingContext& sc, Vector4f out[3]) {
    const int valid = evalUVW(sc, out[0]);
    out[1] = {};
    out[2] = {};
    return valid;
}

int UVWGenExplicit::evalUVWTransform(const ShadingContext& sc, UVWTransform& tm) {
    // The columns are the context's own vectors, tested where they are read; evalUVW tests the
    // offset it writes.
    const Vector4f* const columns[] = {&sc.dPdx, &sc.dPdy, &sc.normal};
    if (!allFinite(columns, 3)) {
        tm = UVWTransform{Vector4f{}, Vector4f{}, Vector4f{}, Vector4f{}};
        return 0;
    }
    tm.c0 = sc.dPdx;
    tm.c1 = sc.dPdy;
    tm.c2 = sc.normal;
    UVWGenInterface& self = *this;
    return self.evalUVW(sc, tm.o);
}

int UVWGenExplicit::emitRTSource(const char*, const char* name, const char* kind,
                                 ShaderSource& source, GPUDataRecord& gpuData) {
    if (!isMaterialDescriptor(kind)) {
        return 0;
    }
    for (TextureFloatInterface* tex : {uTex, vTex, wTex}) {
        if (tex) {
            getRTTexSource(tex, "color", name, kind, source, gpuData);
        } else {
            source.printf("color %f %f %f %f\n", 0.0, 0.0, 0.0, 0.0);
        }
        source.printf("subtex\n");
    }
    // After the inputs: what an input's own description set does not apply to this generator.
    gpuData.objectSpaceFlag = 0;
    // -2: the device code's explicit-texture coordinate source.
    source.printf("map_channel %i\n", -2);
    return 1;
}

UVWGenExplicitDesc::UVWGenExplicitDesc()
    : PluginDescOf("UVWGenExplicit", 2005122900,
                   "UVW generator that uses UVW values from a color texture or separate grayscale "
                   "textures [gpuSupport=(partial)]",
                   UVWGEN_DESC_INTERFACES) {
    KivoParameterListDesc& params = paramDescs();
    params.addParamTextureFloat("u", 0.0f, -1,
                                "Explicit U input to replace the U value from shaded geometry",
                                "gpuSupport=(full)");
    params.addParamTextureFloat("v", 0.0f, -1,
                                "Explicit V input to replace the V value from shaded geometry",
                                "gpuSupport=(full)");
    params.addParamTextureFloat("w", 0.0f, -1,
                                "Explicit W input to replace the W value from shaded geometry",
                                "gpuSupport=(full)");
    params.addParamTexture("uvw", AColor{0.0f, 0.0f, 0.0f, 1.0f}, -1,
                           "Explicit UVW input to replace the UVW value from shaded geometry",
                           "gpuSupport=(none)");
    params.addParamInt("useSeparateParams", 0, -1,
                       "Choose which inputs to use (0 - Auto, 1 - \"uvw\", 2 - \"u\"/\"v\"/\"w\")",
                       "enum=(0:Automatic (use the one that's set);1:Use the single uvw "
                       "parameter;2:Use separate u,v,w parameters)gpuSupport=(none)");
    publishParams();
}

} // namespace KUtils
