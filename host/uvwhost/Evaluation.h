// What `uvwhost eval` reports for one shading context: every evaluation operation of the
// plugin's interfaces, called in a fixed order with the context's stamp and thread.
#pragma once

#include "kivo/PluginModel.h"
#include "kivo/ShadingContext.h"
#include "uvwhost/JsonValues.h"

namespace uvwhost {

// What the instance can be evaluated as.
struct EvalTarget {
    KUtils::UVWGenInterface* uvwgen = nullptr;
    KUtils::TextureInterface* texture = nullptr;
    // The Ostrel basis interface (KUtils::UVWGenOstrelInterface), when answered.
    KUtils::PluginInterface* ostrel = nullptr;

    static EvalTarget of(KUtils::PluginBase* plugin);
    bool empty() const { return !uvwgen && !texture; }
};

// A UVW generator: {"uvw", "valid", "derivs", "transform"[, "basis"]} from evalUVW,
// evalUVWDerivs, evalUVWTransform[, evalUVWBasis] in that order; a texture: {"color"}.
Json evaluate(const EvalTarget& target, const KUtils::ShadingContext& sc);

} // namespace uvwhost
