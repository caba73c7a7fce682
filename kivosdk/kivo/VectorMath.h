// Lane-wise vector arithmetic and UVW transform composition, all single precision, in the
// operation order that results depend on (no fused or reordered arithmetic).
#pragma once

#include "kivo/Types.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace KUtils {

inline Vector4f operator+(const Vector4f& a, const Vector4f& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z, a.w + b.w};
}
inline Vector4f operator-(const Vector4f& a, const Vector4f& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z, a.w - b.w};
}
inline Vector4f operator-(const Vector4f& a) {
    return {-a.x, -a.y, -a.z, -a.w};
}
inline Vector4f operator*(const Vector4f& a, float s) {
    return {a.x * s, a.y * s, a.z * s, a.w * s};
}
inline Vector4f operator*(float s, const Vector4f& a) {
    return a * s;
}

// Dot and cross products over x, y, z only.
inline float dot3(const Vector4f& a, const Vector4f& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vector4f cross3(const Vector4f& a, const Vector4f& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x, 0.0f};
}

// v divided (all four lanes) by its length over x, y, z; none when v has no finite direction
// (zero, NaN or infinite components). Where the squares would overflow or underflow, v is
// first scaled by its largest magnitude, so every finite nonzero vector gives a unit vector;
// otherwise the plain division is used and results are the usual ones bit for bit.
inline std::optional<Vector4f> unitDirection(const Vector4f& v) {
    auto divided = [](const Vector4f& a, float s) {
        return Vector4f{a.x / s, a.y / s, a.z / s, a.w / s};
    };
    const float lengthSq = dot3(v, v);
    if (lengthSq >= std::numeric_limits<float>::min() &&
        lengthSq <= std::numeric_limits<float>::max()) {
        return divided(v, std::sqrt(lengthSq));
    }
    const float largest = std::max({std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)});
    if (std::isnan(lengthSq) || !(largest > 0.0f && std::isfinite(largest))) {
        return std::nullopt;
    }
    const Vector4f scaled = divided(v, largest);
    return divided(scaled, std::sqrt(dot3(scaled, scaled)));
}

// c0*v.x + c1*v.y + c2*v.z over four lanes (no offset).
inline Vector4f applyLinear(const UVWTransform& t, const Vector4f& v) {
    return t.c0 * v.x + t.c1 * v.y + t.c2 * v.z;
}
inline Vector4f applyLinear(const Matrix3x3f& m, const Vector4f& v) {
    return m.c0 * v.x + m.c1 * v.y + m.c2 * v.z;
}

// c0*p.x + c1*p.y + c2*p.z + o over four lanes.
inline Vector4f applyPoint(const UVWTransform& t, const Vector4f& p) {
    return applyLinear(t, p) + t.o;
}

// outer o inner: apply inner first, then outer.
inline UVWTransform compose(const UVWTransform& outer, const UVWTransform& inner) {
    return {applyLinear(outer, inner.c0), applyLinear(outer, inner.c1),
            applyLinear(outer, inner.c2), applyPoint(outer, inner.o)};
}

// Lane-wise a*(1-f) + b*f over all sixteen (matrix: twelve) floats.
inline UVWTransform lerp(const UVWTransform& a, const UVWTransform& b, float f) {
    const float g = 1.0f - f;
    return {a.c0 * g + b.c0 * f, a.c1 * g + b.c1 * f, a.c2 * g + b.c2 * f, a.o * g + b.o * f};
}
inline Matrix3x3f lerp(const Matrix3x3f& a, const Matrix3x3f& b, float f) {
    const float g = 1.0f - f;
    return {a.c0 * g + b.c0 * f, a.c1 * g + b.c1 * f, a.c2 * g + b.c2 * f};
}

// A host parameter transform in single precision; the fourth lane repeats the third.
inline Vector4f padded(float x, float y, float z) {
    return {x, y, z, z};
}
inline UVWTransform toUVWTransform(const Matrix3x3f& m, const Vector3d& offs) {
    return {
        padded(m.c0.x, m.c0.y, m.c0.z), padded(m.c1.x, m.c1.y, m.c1.z),
        padded(m.c2.x, m.c2.y, m.c2.z),
        padded(static_cast<float>(offs.x), static_cast<float>(offs.y), static_cast<float>(offs.z))};
}
inline UVWTransform toUVWTransform(const Transform& t) {
    return toUVWTransform(t.m, t.offs);
}

} // namespace KUtils
