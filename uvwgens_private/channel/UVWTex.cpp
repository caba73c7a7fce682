#include "channel/UVWTex.h"

namespace KUtils {

Vector4f* UVWTex::getTexVector(Vector4f& result, const ShadingContext& sc) {
    generator.evalUVW(sc, result);
    return &result;
}

void UVWTex::getTexVectorBounds(Vector4f& minimum, Vector4f& maximum) {
    minimum = {-1e18f, -1e18f, -1e18f, -1e18f};
    maximum = {1e18f, 1e18f, 1e18f, 1e18f};
}

} // namespace KUtils
