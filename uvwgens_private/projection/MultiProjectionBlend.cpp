#include "projection/MultiProjectionBlend.h"

#include "kivo/VectorMath.h"

#include <algorithm>
#include <cmath>

namespace KUtils {

CentreView viewFromCentre(const Vector4f& point, const Vector4f& normal, int backSide,
                          const Vector4f& centre) {
    const Vector4f d = point - centre;
    const float length = std::sqrt(dot3(d, d));
    if (!(length > 0.0f)) {
        return {length, 0.0f};
    }
    const float facing = -dot3(d, normal) / length;
    return {length, backSide != 0 ? -facing : facing};
}

float facingWeight(const CentreView& view) {
    return view.facing / std::max(view.distance, WEIGHT_FLOOR);
}

float recordedDepth(const AColor& depthColor) {
    return (depthColor.r + depthColor.g + depthColor.b) * 0.33333334f;
}

float depthWeight(const CentreView& view, float depth, float depthOffset) {
    const float e = depth - view.distance;
    const float offset = std::max(depthOffset + DEPTH_OFFSET_BIAS, 0.0f);
    return view.facing / std::max(offset + view.distance * (e * e), WEIGHT_FLOOR);
}

void ColorBlend::add(float weight, const AColor& color) {
    weightSum += weight;
    sum.r += weight * color.r;
    sum.g += weight * color.g;
    sum.b += weight * color.b;
    sum.a += weight * color.a;
}

AColor ColorBlend::result() const {
    // Weights are bounded for unit normals; a normal far from unit length (or a colour near
    // the float limit) can overflow them or the sums. Such a blend gives no colour, not NaN.
    if (!(weightSum > 0.0f) || !std::isfinite(weightSum)) {
        return {};
    }
    const AColor blend{sum.r / weightSum, sum.g / weightSum, sum.b / weightSum, sum.a / weightSum};
    const bool finite = std::isfinite(blend.r) && std::isfinite(blend.g) &&
                        std::isfinite(blend.b) && std::isfinite(blend.a);
    return finite ? blend : AColor{};
}

} // namespace KUtils
