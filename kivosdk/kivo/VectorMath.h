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

// Unit vectors: v divided (all four lanes) by its length over x, y, z. The names say what a
// vector without a usable length gives.

// All four lanes of v divided by s.
inline Vector4f divided(const Vector4f& v, float s) {
    return {v.x / s, v.y / s, v.z / s, v.w / s};
}

// None when v has no finite direction (zero, NaN or infinite components). Where the squares
// would overflow or underflow, v is first scaled by its largest magnitude, so every finite
// nonzero vector gives a unit vector; otherwise the plain division is used and results are
// the usual ones bit for bit.
inline std::optional<Vector4f> unitDirection(const Vector4f& v) {
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

// The zero vector when v has no finite direction, else unitDirection's.
inline Vector4f unitOrZero(const Vector4f& v) {
    return unitDirection(v).value_or(Vector4f{});
}

// The zero vector when |v|^2 < 1e-24 (|v| < 1e-12), else v / |v| without rescaling.
inline Vector4f unitOrZeroIfShort(const Vector4f& v) {
    const float lengthSq = dot3(v, v);
    if (lengthSq < 1e-24f) {
        return {};
    }
    return divided(v, std::sqrt(lengthSq));
}

// v itself when its length is zero or negligible against its largest component (largest >=
// 1e18 |v|: a zero or denormal-length vector), else v / |v| without rescaling.
inline Vector4f unitOrUnchanged(const Vector4f& v) {
    const float length = std::sqrt(dot3(v, v));
    const float largest = std::max({std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)});
    return largest < 1e18f * length ? divided(v, length) : v;
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

// How the determinant of a 3x3 inverse is expanded. Both are exact in real arithmetic but round
// differently; each caller keeps the expansion its results were always computed with.
enum class DetExpansion {
    // m00 * C00 + m01 * C01 + m02 * C02, the cofactors of the first row.
    FirstRow,
    // (a x b) . c for the columns a, b, c: the triple product.
    TripleProduct,
};

// The inverse of the matrix with columns a, b, c (x, y, z only), in double precision from the
// single-precision inputs, which keeps nearly singular bases usable: inv[row][column]. Its rows
// are the cross products b x c, c x a and a x b over the determinant. False, with inv left as
// it was, when the determinant is exactly 0.
inline bool inverse3x3(const Vector4f& a, const Vector4f& b, const Vector4f& c,
                       DetExpansion expansion, double inv[3][3]) {
    const auto cross = [](const Vector3d& u, const Vector3d& v) {
        return Vector3d{u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
    };
    const Vector3d ad{a.x, a.y, a.z}, bd{b.x, b.y, b.z}, cd{c.x, c.y, c.z};
    const Vector3d rows[3] = {cross(bd, cd), cross(cd, ad), cross(ad, bd)};
    const double det = expansion == DetExpansion::FirstRow
                           ? ad.x * rows[0].x + bd.x * rows[1].x + cd.x * rows[2].x
                           : rows[2].x * cd.x + rows[2].y * cd.y + rows[2].z * cd.z;
    if (det == 0.0) {
        return false;
    }
    for (int r = 0; r < 3; ++r) {
        inv[r][0] = rows[r].x / det;
        inv[r][1] = rows[r].y / det;
        inv[r][2] = rows[r].z / det;
    }
    return true;
}

// A host parameter transform in single precision; the fourth lane repeats the third.
inline Vector4f padded(float x, float y, float z) {
    return {x, y, z, z};
}

// The texture-space inverse of a basis (b[i]: how a point moves per unit of u, v and w): the
// inverse's columns in floats, the fourth lane repeating the third, and a zero offset; all
// three columns zero when the basis is singular.
inline UVWTransform inverseColumns(const Vector4f b[3], DetExpansion expansion) {
    UVWTransform tm;
    double inv[3][3];
    if (!inverse3x3(b[0], b[1], b[2], expansion, inv)) {
        tm.c0 = tm.c1 = tm.c2 = Vector4f{};
        return tm;
    }
    const auto column = [&](int k) {
        return padded(float(inv[0][k]), float(inv[1][k]), float(inv[2][k]));
    };
    tm.c0 = column(0);
    tm.c1 = column(1);
    tm.c2 = column(2);
    return tm;
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
