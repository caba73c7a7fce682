#include "uvwhost/Evaluation.h"

#include "kivo/UVWGenOstrelInterface.h"

namespace uvwhost {

using namespace KUtils;

EvalTarget EvalTarget::of(PluginBase* plugin) {
    EvalTarget t;
    t.uvwgen = static_cast<UVWGenInterface*>(plugin->getInterface(EXT_UVWGEN));
    if (!t.uvwgen) {
        t.texture = static_cast<TextureInterface*>(plugin->getInterface(EXT_TEXTURE));
    }
    t.ostrel = plugin->getInterface(EXT_UVWGEN_OSTREL);
    return t;
}

Json evaluate(const EvalTarget& target, const ShadingContext& sc) {
    if (target.uvwgen) {
        UVWGenInterface& gen = *target.uvwgen;
        Json result;
        Vector4f uvw;
        const int valid = gen.evalUVW(sc, uvw);
        result["uvw"] = vectorJson(uvw);
        result["valid"] = valid;

        Vector4f derivs[3];
        const int derivsValid = gen.evalUVWDerivs(sc, derivs);
        result["derivs"] = Json{{"uvw", vectorJson(derivs[0])},
                                {"dx", vectorJson(derivs[1])},
                                {"dy", vectorJson(derivs[2])},
                                {"valid", derivsValid}};

        UVWTransform tm;
        const int tmValid = gen.evalUVWTransform(sc, tm);
        result["transform"] = Json{
            {"columns", Json::array({vectorJson(tm.c0), vectorJson(tm.c1), vectorJson(tm.c2)})},
            {"offset", vectorJson(tm.o)},
            {"valid", tmValid}};

        if (target.ostrel) {
            auto& ostrel = static_cast<UVWGenOstrelInterface&>(*target.ostrel);
            Vector4f basisUVW;
            Vector4f axes[3];
            const int basisValid = ostrel.evalUVWBasis(sc, basisUVW, axes);
            result["basis"] =
                Json{{"uvw", vectorJson(basisUVW)},
                     {"axes",
                      Json::array({vectorJson(axes[0]), vectorJson(axes[1]), vectorJson(axes[2])})},
                     {"valid", basisValid}};
        }
        return result;
    }
    AColor color;
    target.texture->evalColor(color, sc);
    return Json{{"color", colorJson(color)}};
}

} // namespace uvwhost
