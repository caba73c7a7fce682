// The floor of the mapping benchmarks: each mapping written out inline from its formulas, in
// single precision, with analytic derivatives instead of the plugins' differences, over the
// same contexts and parameters (rotation or working transform, UVW transform, u wrap). No
// plugin code is called: what is left is the least a renderer's own mapping code does for the
// same result, and the plugin's figures are compared against it.
#pragma once

#include "kivo/ShadingContext.h"
#include "kivo/Types.h"
#include "kivo/VectorMath.h"

#include <cmath>

namespace bench::floor {

using KUtils::ShadingContext;
using KUtils::UVWTransform;
using KUtils::Vector4f;

inline constexpr float kPi = 3.14159265f;
inline constexpr float kInvPi = 1.0f / kPi;
inline constexpr float kInvTwoPi = 0.5f / kPi;

// The environment mappings with a floor.
enum class Env { Angular, Spherical, MaxSpherical, SphericalKivo, MirrorBall };

struct EnvState {
    Env type = Env::Spherical;
    KUtils::Matrix3x3f rotation;
    UVWTransform transform; // the UVW transform; u wraps, v and w do not
};

// (u, v) of a unit direction n and, with Derivs, their changes along dn[0] and dn[1] (changes
// of n).
struct UV {
    float u, v, du[2], dv[2];
};

// Azimuth change d atan2(a, b) = (b da - a db) / (a^2 + b^2); 0 on the axis.
inline float azimuthChange(float a, float b, float da, float db) {
    const float rr = a * a + b * b;
    return rr > 0.0f ? (b * da - a * db) / rr : 0.0f;
}

// The polar angle's change from dz for a unit direction of height z: -dz / sqrt(1 - z^2).
inline float polarChange(float z, float dz) {
    const float s = std::sqrt(std::fmax(0.0f, 1.0f - z * z));
    return s > 0.0f ? -dz / s : 0.0f;
}

template <bool Derivs>
UV envMap(Env type, const Vector4f& n, const Vector4f* dn) {
    UV r{};
    switch (type) {
    case Env::Spherical:
    case Env::MaxSpherical:
    case Env::SphericalKivo: {
        // u from the azimuth (its origin and direction per layout), v = 1 - theta / pi.
        const float theta = std::acos(std::fmax(-1.0f, std::fmin(1.0f, n.z)));
        r.v = 1.0f - theta * kInvPi;
        if (type == Env::Spherical) {
            const float a = std::atan2(n.y, n.x) * kInvTwoPi;
            r.u = a < 0.0f ? -a : 1.0f - a;
        } else if (type == Env::MaxSpherical) {
            r.u = 0.5f + std::atan2(n.x, -n.y) * kInvTwoPi;
        } else {
            r.u = 0.5f + std::atan2(n.y, n.x) * kInvTwoPi;
        }
        if constexpr (Derivs) {
            for (int k = 0; k < 2; ++k) {
                const float dphi = azimuthChange(n.y, n.x, dn[k].y, dn[k].x) * kInvTwoPi;
                r.du[k] = type == Env::Spherical ? -dphi : dphi;
                r.dv[k] = -polarChange(n.z, dn[k].z) * kInvPi;
            }
        }
        break;
    }
    case Env::Angular: {
        // (u, v) = 0.5 + k (x, z) with k = acos(y) / (2 pi r), r = |(x, z)|.
        const float rr = n.x * n.x + n.z * n.z;
        if (rr < 1e-12f) {
            r.u = r.v = 0.5f;
            break;
        }
        const float rad = std::sqrt(rr);
        const float theta = std::acos(std::fmax(-1.0f, std::fmin(1.0f, n.y)));
        const float k = theta * kInvTwoPi / rad;
        r.u = 0.5f + k * n.x;
        r.v = 0.5f + k * n.z;
        if constexpr (Derivs) {
            for (int i = 0; i < 2; ++i) {
                const float drad = (n.x * dn[i].x + n.z * dn[i].z) / rad;
                const float dk = (polarChange(n.y, dn[i].y) * kInvTwoPi - k * drad) / rad;
                r.du[i] = dk * n.x + k * dn[i].x;
                r.dv[i] = dk * n.z + k * dn[i].z;
            }
        }
        break;
    }
    case Env::MirrorBall: {
        // The ball normal h / |h| with h = (-x, -y - 1, z) / 2.
        const float hx = -0.5f * n.x, hy = -0.5f * (n.y + 1.0f), hz = 0.5f * n.z;
        const float len = std::sqrt(hx * hx + hy * hy + hz * hz);
        if (!(len > 0.0f)) {
            r.u = 0.5f, r.v = 1.0f;
            break;
        }
        const float inv = 1.0f / len;
        const float ex = hx * inv, ey = hy * inv, ez = hz * inv;
        r.u = 0.5f + 0.5f * ex;
        r.v = 0.5f + 0.5f * ez;
        if constexpr (Derivs) {
            for (int k = 0; k < 2; ++k) {
                const float dhx = -0.5f * dn[k].x, dhy = -0.5f * dn[k].y, dhz = 0.5f * dn[k].z;
                const float along = ex * dhx + ey * dhy + ez * dhz;
                r.du[k] = 0.5f * (dhx - ex * along) * inv;
                r.dv[k] = 0.5f * (dhz - ez * along) * inv;
            }
        }
        break;
    }
    }
    return r;
}

inline float wrapUnit(float u) {
    return u - std::floor(u);
}

inline Vector4f envUVW(const EnvState& s, float u, float v) {
    Vector4f uvw = s.transform.c0 * u + s.transform.c1 * v + s.transform.o;
    uvw.x = wrapUnit(uvw.x);
    uvw.w = uvw.z;
    return uvw;
}

inline int envValue(const EnvState& s, const ShadingContext& sc, Vector4f& uvw) {
    const Vector4f n = KUtils::unitOrZero(KUtils::applyLinear(s.rotation, sc.rayDir));
    const UV r = envMap<false>(s.type, n, nullptr);
    uvw = envUVW(s, r.u, r.v);
    return 1;
}

// The plugins difference over both sides of the direction (d + dD minus d - dD): twice the
// derivative along dD.
inline int envDerivs(const EnvState& s, const ShadingContext& sc, Vector4f out[3]) {
    const Vector4f e = KUtils::applyLinear(s.rotation, sc.rayDir);
    const float len = std::sqrt(KUtils::dot3(e, e));
    const float inv = len > 0.0f ? 1.0f / len : 0.0f;
    const Vector4f n = e * inv;
    const Vector4f sides[2] = {sc.dDdx, sc.dDdy};
    Vector4f dn[2];
    for (int k = 0; k < 2; ++k) {
        const Vector4f de = KUtils::applyLinear(s.rotation, sides[k]) * (2.0f * inv);
        dn[k] = de - n * KUtils::dot3(n, de);
    }
    const UV r = envMap<true>(s.type, n, dn);
    out[0] = envUVW(s, r.u, r.v);
    out[1] = s.transform.c0 * r.du[0] + s.transform.c1 * r.dv[0];
    out[2] = s.transform.c0 * r.du[1] + s.transform.c1 * r.dv[1];
    return 1;
}

// The projections with a floor.
enum class Proj { Planar, Spherical, Cylindrical };

struct ProjState {
    Proj type = Proj::Planar;
    UVWTransform working; // world point to projection space
    Vector4f sceneOrigin;
};

// uvw of projection-space point p and, with Derivs, the Jacobian columns along x, y, z.
template <bool Derivs>
UVWTransform projMap(Proj type, const Vector4f& p) {
    UVWTransform j{};
    switch (type) {
    case Proj::Planar:
        j.o = p * 0.5f + Vector4f{0.5f, 0.5f, 0.5f, 0.0f};
        j.c0 = {0.5f, 0.0f, 0.0f, 0.0f};
        j.c1 = {0.0f, 0.5f, 0.0f, 0.0f};
        j.c2 = {0.0f, 0.0f, 0.5f, 0.0f};
        break;
    case Proj::Spherical: {
        // u = azimuth about y from -z, v = 1 - acos(y / r) / pi, w = r.
        const float r = std::sqrt(KUtils::dot3(p, p));
        const float inv = r > 0.0f ? 1.0f / r : 0.0f;
        const float t = std::fmax(-1.0f, std::fmin(1.0f, p.y * inv));
        j.o = {0.5f + std::atan2(p.x, p.z) * kInvTwoPi, 1.0f - std::acos(t) * kInvPi, r, 0.0f};
        if constexpr (Derivs) {
            const float rr = p.x * p.x + p.z * p.z;
            const float ia = rr > 0.0f ? kInvTwoPi / rr : 0.0f;
            const float c = std::sqrt(rr) * inv; // sqrt(1 - t^2)
            const float iv = c > 0.0f ? kInvPi * inv / c : 0.0f;
            j.c0 = {p.z * ia, -t * p.x * inv * iv, p.x * inv, 0.0f};
            j.c1 = {0.0f, rr * inv * inv * iv, t, 0.0f}; // 1 - t^2 without the cancellation
            j.c2 = {-p.x * ia, -t * p.z * inv * iv, p.z * inv, 0.0f};
        }
        break;
    }
    case Proj::Cylindrical: {
        // u = azimuth about y over half a turn, v = (y + 1) / 2, w = |(x, y)|.
        const float w = std::sqrt(p.x * p.x + p.y * p.y);
        j.o = {0.5f + std::atan2(p.x, p.z) * kInvPi, 0.5f * p.y + 0.5f, w, 0.0f};
        if constexpr (Derivs) {
            const float rr = p.x * p.x + p.z * p.z;
            const float ia = rr > 0.0f ? kInvPi / rr : 0.0f;
            const float iw = w > 0.0f ? 1.0f / w : 0.0f;
            j.c0 = {p.z * ia, 0.0f, p.x * iw, 0.0f};
            j.c1 = {0.0f, 0.5f, p.y * iw, 0.0f};
            j.c2 = {-p.x * ia, 0.0f, 0.0f, 0.0f};
        }
        break;
    }
    }
    return j;
}

inline int projValue(const ProjState& s, const ShadingContext& sc, Vector4f& uvw) {
    uvw = projMap<false>(s.type, KUtils::applyPoint(s.working, sc.shadingPoint + s.sceneOrigin)).o;
    return 1;
}

inline int projDerivs(const ProjState& s, const ShadingContext& sc, Vector4f out[3]) {
    const UVWTransform j =
        projMap<true>(s.type, KUtils::applyPoint(s.working, sc.shadingPoint + s.sceneOrigin));
    out[0] = j.o;
    out[1] = KUtils::applyLinear(j, KUtils::applyLinear(s.working, sc.dPdx));
    out[2] = KUtils::applyLinear(j, KUtils::applyLinear(s.working, sc.dPdy));
    return 1;
}

} // namespace bench::floor
