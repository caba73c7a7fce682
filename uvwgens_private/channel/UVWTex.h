// The uvw_coords output texture of a UVW generator: the generator's uvw at the shading point
// as a vector texture. It holds nothing but the generator it reads.
#pragma once

#include "kivo/PluginModel.h"

namespace KUtils {

class UVWTex final : public TextureVectorInterface {
public:
    explicit UVWTex(UVWGenInterface& generator) : generator(generator) {}

    // The output texture belongs to no plugin of its own.
    PluginBase* getPlugin() override { return nullptr; }
    // The uvw of the generator's evalUVW; its valid flag is dropped.
    /* 5 */ Vector4f* getTexVector(Vector4f& result, const ShadingContext& sc) override;
    // Unbounded: every lane from -1e18 to 1e18, the range hosts take as "any value".
    /* 6 */ void getTexVectorBounds(Vector4f& minimum, Vector4f& maximum) override;

private:
    UVWGenInterface& generator;
};

} // namespace KUtils
