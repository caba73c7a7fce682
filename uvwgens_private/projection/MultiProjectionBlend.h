// The weighting of projected colours by how directly the surface faces each projection centre
// and by how well the depth its camera recorded agrees with the true distance. All single
// precision, in the order the blend's results depend on.
#pragma once

#include "kivo/Types.h"

namespace KUtils {

// Added to the depth offset so that a depth match never divides by (nearly) zero.
inline constexpr float DEPTH_OFFSET_BIAS = 0.01f;
// Smallest denominator of a weight.
inline constexpr float WEIGHT_FLOOR = 1e-6f;

// How one projection centre sees a shading point.
struct CentreView {
    // L = |point - centre|.
    float distance;
    // f: the cosine between the surface normal (flipped on the back side) and the direction
    // from the point to the centre; 0 for a point at the centre, which faces no direction.
    float facing;
};

CentreView viewFromCentre(const Vector4f& point, const Vector4f& normal, int backSide,
                          const Vector4f& centre);

// A centre behind the surface (f < 0) contributes nothing.
inline bool facesCentre(const CentreView& view) {
    return !(view.facing < 0.0f);
}

// Weight of a facing centre without a depth texture: f / max(L, 1e-6).
float facingWeight(const CentreView& view);

// The distance a depth texture records: the mean of its red, green and blue.
float recordedDepth(const AColor& depthColor);

// Weight of a facing centre with a recorded depth z: with e = z - L,
// f / max(max(depthOffset + 0.01, 0) + L * e^2, 1e-6).
float depthWeight(const CentreView& view, float depth, float depthOffset);

// Weighted mean of colours; zero when no weight is positive.
class ColorBlend {
public:
    // Adds weight to the weight sum and weight * color to the colour sum.
    void add(float weight, const AColor& color);
    AColor result() const;

private:
    AColor sum;
    float weightSum = 0.0f;
};

} // namespace KUtils
