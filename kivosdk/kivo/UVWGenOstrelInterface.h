// The procedural-noise textures' own query on their UVW generator: coordinates together with
// the unit directions of the placement's axes.
#pragma once

#include "kivo/PluginModel.h"
#include "kivo/ShadingContext.h"

namespace KUtils {

class UVWGenOstrelInterface : public PluginInterface {
public:
    InterfaceID getInterfaceID() override { return EXT_UVWGEN_OSTREL; }
    const char* getInterfaceName() override { return "EXT_UVWGEN_OSTREL"; }
    // The coordinates of evalUVW and, when valid, basis[0..2]: the placement's columns as unit
    // vectors. Returns 0 (basis not written) when a crop tiling mode rejects the point.
    /* 5 */ virtual int evalUVWBasis(const ShadingContext& sc, Vector4f& uvw,
                                     Vector4f basis[3]) = 0;
};

} // namespace KUtils
