#include "environment/EnvMapping.h"

#include "environment/LaneMath.h"
#include "kivo/FloatMath.h"
#include "kivo/VectorMath.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <emmintrin.h>
#include <iterator>
#include <limits>

namespace KUtils {

namespace {

// Single-precision constants as the mapping formulas use them (pi and its half and quarter
// come with the rounding helpers).
constexpr float kThreeQuarterPi = 2.3561945f;
constexpr float kInvTwoPi = 0.159154937f; // 0x3E22F983
constexpr float kThird = 0.333333343f;
constexpr float kTwoThirds = 0.666666687f;

constexpr const char* kMappingNames[] = {
    "angular",       "cubic",          "spherical",       "mirror_ball",     "screen",
    "max_spherical", "spherical_kivo", "max_cylindrical", "max_shrink_wrap",
};

// U across the map and T down it; the mapped v is 1 - T.
struct UT {
    float u;
    float t;
};

// Directions this close to the z axis have no defined azimuth.
bool isPole(const Vector4f& n) {
    return n.x * n.x + n.y * n.y < 1e-12f;
}

float acosClamped(float z) {
    return std::acos(std::clamp(z, -1.0f, 1.0f));
}

// Polar angle in radians; at the poles 0 above and 1 radian (not pi) below. The 1 is the
// host's value, kept because maps rendered with it depend on it; it is not the limit of the
// formula.
float polarAngle(const Vector4f& n) {
    if (isPole(n)) {
        return n.z > 0.0f ? 0.0f : 1.0f;
    }
    return acosClamped(n.z);
}

// s / m of one cube face; m is the absolute value of the major component, so it is 0 (or NaN)
// only for a direction without a face, which then maps to the centre of its face.
float faceRatio(float s, float m) {
    return m > 0.0f ? s / m : 0.0f;
}

// Vertical cross three faces wide and four tall: the middle column holds +z, +y, -z, -y from
// the top; -x and +x sit left and right of +y.
UT mapCubic(const Vector4f& n) {
    const float ax = std::fabs(n.x), ay = std::fabs(n.y), az = std::fabs(n.z);
    int axis = ax < ay ? 1 : 0;
    if (az > (axis == 1 ? ay : ax)) {
        axis = 2;
    }
    float s, t, m, u0, t0;
    switch (axis) {
    case 0:
        if (n.x >= 0.0f) {
            s = -n.y, t = -n.z, m = n.x, u0 = kTwoThirds, t0 = 0.25f;
        } else {
            s = n.y, t = -n.z, m = -n.x, u0 = 0.0f, t0 = 0.25f;
        }
        break;
    case 1:
        if (n.y >= 0.0f) {
            s = n.x, t = -n.z, m = n.y, u0 = kThird, t0 = 0.25f;
        } else {
            s = n.x, t = n.z, m = -n.y, u0 = kThird, t0 = 0.75f;
        }
        break;
    default:
        if (n.z >= 0.0f) {
            s = n.x, t = n.y, m = n.z, u0 = kThird, t0 = 0.0f;
        } else {
            s = n.x, t = -n.y, m = -n.z, u0 = kThird, t0 = 0.5f;
        }
        break;
    }
    const float a = std::max(0.0f, 0.5f + 0.5f * faceRatio(s, m)) / 3.0f;
    const float b = std::max(0.0f, 0.5f + 0.5f * faceRatio(t, m)) / 4.0f;
    return {u0 + a, t0 + b};
}

// A mirror ball photographed from far away on its +y side: up to the signs that orient the
// photograph's axes, h is half the sum of n and the direction back to the camera (+y), so
// h / |h| is the ball's normal that reflects the view into n, and its x and z place it on the
// photographed disc.
UT mapMirrorBall(const Vector4f& n) {
    const float hx = -n.x * 0.5f;
    const float hy = (-n.y - 1.0f) * 0.5f;
    const float hz = n.z * 0.5f;
    const float hh = hx * hx + hy * hy + hz * hz;
    if (!(hh > 0.0f)) {
        // Straight away from the ball's viewer: every point of the rim sees this direction;
        // take the top of the rim.
        return {0.5f, 0.0f};
    }
    const float len = std::sqrt(hh);
    return {0.5f + 0.5f * hx / len, 0.5f - 0.5f * hz / len};
}

// Azimuth measured from -y, as u in [0, 1]; 0.5 at the poles.
float azimuthFromMinusY(const Vector4f& n) {
    return isPole(n) ? 0.5f : 0.5f + 0.5f * std::atan2(n.x, -n.y) / kPi;
}

// Four bands of a quarter of pi in polar angle, each onto a quarter of T through tan of the
// angle from the band's pole or horizon side: T is 0 and 1 at the poles, 0.5 at the horizon,
// and 0.25 or 0.75 where neighbouring bands meet (tan(pi / 4) = 1), so it is continuous.
UT mapMaxCylindrical(const Vector4f& n) {
    const float theta = polarAngle(n);
    float t;
    if (theta < kQuarterPi) {
        t = std::tan(theta) * 0.25f;
    } else if (theta < kHalfPi) {
        t = 0.5f - 0.25f * std::tan(kHalfPi - theta);
    } else if (theta < kThreeQuarterPi) {
        t = 0.5f + 0.25f * std::tan(theta - kHalfPi);
    } else {
        t = 1.0f - 0.25f * std::tan(kPi - theta);
    }
    return {azimuthFromMinusY(n), t};
}

UT mapMaxShrinkWrap(const Vector4f& n) {
    const float phi = isPole(n) ? 0.0f : std::atan2(n.x, -n.y) / kPi;
    const float rho = polarAngle(n) / kPi;
    const float angle = (phi + 1.0f) * kPi;
    const float s = std::sin(angle);
    const float c = std::cos(angle);
    return {0.5f - 0.5f * rho * c, 0.5f + 0.5f * rho * s};
}

// One coordinate of the environment's tail by its wrap_u/v/w mode: 1 repeats on the integer
// tiles, 2 mirrors them, anything else leaves it.
float wrapTailCoordinate(int mode, float c) {
    if (mode == 1) {
        return truncFrac(c);
    }
    if (mode == 2) {
        const float g = 2.0f * truncFrac(c);
        return g > 1.0f ? 2.0f - g : g;
    }
    return c;
}

} // namespace

int findEnvMappingType(const char* name) {
    if (!name) {
        return ENV_MAPPING_UNKNOWN;
    }
    for (int i = 0; i < int(std::size(kMappingNames)); ++i) {
        if (std::strcmp(name, kMappingNames[i]) == 0) {
            return i;
        }
    }
    return ENV_MAPPING_UNKNOWN;
}

Vector4f upAxisFrom(const UpDirectionRecord* up) {
    const Vector4f zUp{0.0f, 0.0f, 1.0f, 0.0f};
    if (!up) {
        return zUp;
    }
    // A zero vector has no direction and NaN or inf components give no finite one; tiny and
    // huge finite ones still do.
    return unitDirection({up->upDirection[0], up->upDirection[1], up->upDirection[2], 0.0f})
        .value_or(zUp);
}

Vector4f groundProject(const GroundPlane& ground, const Vector4f& rayOrigin, const Vector4f& dir) {
    const Vector4f d = unitOrUnchanged(dir);
    const float dn = dot3(d, ground.up);
    const float h = dot3(ground.position - rayOrigin, ground.up);
    const float t = dn != 0.0f ? h / dn : 0.0f;
    // In front of the ray, or the ray starts on the plane and goes down.
    const bool hitsGround = t > 1e-6f || (std::fabs(h) < 1e-5f && dn < 0.0f);
    if (!hitsGround) {
        return d;
    }
    const Vector4f centre = ground.position + ground.up * ground.radius;
    Vector4f q = unitOrUnchanged(rayOrigin + d * t - centre);
    if (std::fabs(dn) < 0.1f) {
        // Fade from the plain direction at the horizon to the projected one at |dn| = 0.1.
        const float s = std::fabs(dn) * 10.0f;
        const float w = s * s;
        q = unitOrUnchanged(q * w + d * (1.0f - w));
    }
    return q;
}

namespace {

// The angular and the three spherical mappings run in vector lanes: the derivatives map four
// directions at once, and a single direction takes the same lanes, so that both give the same
// bits for it.
bool mapsInLanes(int type) {
    return type == ENV_MAPPING_ANGULAR || hasUSeam(type);
}

struct UVLanes {
    __m128 u;
    __m128 v;
};

// (u, v) of four unit (or zero) directions, one per lane, for a type that maps in lanes: the
// mapping table's formulas in their order (products and quotients left to right, v = 1 - T),
// with the lane arc tangent and arc cosine.
UVLanes mapLanes(int type, __m128 x, __m128 y, __m128 z) {
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 pi = _mm_set1_ps(kPi);
    // The arc cosine of c clamped to [-1, 1]; NaN stays NaN.
    const auto acosOfClamped = [&](__m128 c) {
        return lanes::acos(_mm_min_ps(one, _mm_max_ps(_mm_set1_ps(-1.0f), c)));
    };
    if (type == ENV_MAPPING_ANGULAR) {
        const __m128 r = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(x, x), _mm_mul_ps(z, z)));
        const __m128 k = _mm_div_ps(_mm_mul_ps(acosOfClamped(y), _mm_set1_ps(kInvTwoPi)), r);
        const __m128 centre = _mm_cmplt_ps(r, _mm_set1_ps(1e-6f));
        const __m128 u = lanes::select(centre, half, _mm_add_ps(half, _mm_mul_ps(k, x)));
        const __m128 t = lanes::select(centre, half, _mm_sub_ps(half, _mm_mul_ps(k, z)));
        return {u, _mm_sub_ps(one, t)};
    }
    // Polar angle over pi; at the poles 0 above and 1 below.
    const __m128 pole =
        _mm_cmplt_ps(_mm_add_ps(_mm_mul_ps(x, x), _mm_mul_ps(y, y)), _mm_set1_ps(1e-12f));
    const __m128 poleT = _mm_andnot_ps(_mm_cmpgt_ps(z, _mm_setzero_ps()), one);
    const __m128 t = lanes::select(pole, poleT, _mm_div_ps(acosOfClamped(z), pi));
    __m128 u;
    if (type == ENV_MAPPING_SPHERICAL) {
        const __m128 a = _mm_mul_ps(_mm_div_ps(lanes::atan2(y, x), pi), half);
        const __m128 f = lanes::select(_mm_cmplt_ps(a, _mm_setzero_ps()), _mm_add_ps(a, one), a);
        u = lanes::select(pole, one, _mm_sub_ps(one, f));
    } else {
        // max_spherical: azimuth from -y; spherical_kivo: from -x.
        const __m128 a = type == ENV_MAPPING_MAX_SPHERICAL
                             ? lanes::atan2(x, _mm_xor_ps(y, lanes::signBit()))
                             : lanes::atan2(y, x);
        u = lanes::select(pole, half, _mm_add_ps(half, _mm_div_ps(_mm_mul_ps(half, a), pi)));
    }
    return {u, _mm_sub_ps(one, t)};
}

// (u, v, 0) of a unit (or zero) direction n for a mapping number.
Vector4f mapUnit(int type, const Vector4f& n) {
    if (mapsInLanes(type)) {
        const UVLanes r = mapLanes(type, _mm_set1_ps(n.x), _mm_set1_ps(n.y), _mm_set1_ps(n.z));
        return {_mm_cvtss_f32(r.u), _mm_cvtss_f32(r.v), 0.0f, 0.0f};
    }
    UT r{0.0f, 0.0f};
    switch (type) {
    case ENV_MAPPING_CUBIC:
        r = mapCubic(n);
        break;
    case ENV_MAPPING_MIRROR_BALL:
        r = mapMirrorBall(n);
        break;
    case ENV_MAPPING_MAX_CYLINDRICAL:
        r = mapMaxCylindrical(n);
        break;
    case ENV_MAPPING_MAX_SHRINK_WRAP:
        r = mapMaxShrinkWrap(n);
        break;
    default: // screen (handled by the caller) and unknown
        break;
    }
    return {r.u, 1.0f - r.t, 0.0f, 0.0f};
}

} // namespace

Vector4f mapDirection(int type, const Vector4f& e) {
    return mapUnit(type, unitOrZeroIfShort(e));
}

Vector4f mapThroughPipeline(const DirectionPipeline& pipeline, const Vector4f& d) {
    const Vector4f scene =
        pipeline.ground ? groundProject(*pipeline.ground, pipeline.rayOrigin, d) : d;
    return mapDirection(pipeline.type, applyLinear(pipeline.rotation, scene));
}

void mapDifferentials(const DirectionPipeline& pipeline, const Vector4f& d, const Vector4f& dDdx,
                      const Vector4f& dDdy, Vector4f out[5]) {
    out[0] = mapThroughPipeline(pipeline, d);
    Vector4f scene[4] = {d - dDdx, d + dDdx, d - dDdy, d + dDdy};
    if (pipeline.ground) {
        for (Vector4f& s : scene) {
            s = groundProject(*pipeline.ground, pipeline.rayOrigin, s);
        }
    }
    // The four directions side by side, one per lane: the rotation and the normalisation in
    // the same operation order as applyLinear and unitOrZeroIfShort, so bit for bit theirs.
    const __m128 sx = _mm_setr_ps(scene[0].x, scene[1].x, scene[2].x, scene[3].x);
    const __m128 sy = _mm_setr_ps(scene[0].y, scene[1].y, scene[2].y, scene[3].y);
    const __m128 sz = _mm_setr_ps(scene[0].z, scene[1].z, scene[2].z, scene[3].z);
    const Matrix3x3f& m = pipeline.rotation;
    const auto row = [&](float a, float b, float c) {
        return _mm_add_ps(
            _mm_add_ps(_mm_mul_ps(_mm_set1_ps(a), sx), _mm_mul_ps(_mm_set1_ps(b), sy)),
            _mm_mul_ps(_mm_set1_ps(c), sz));
    };
    __m128 x = row(m.c0.x, m.c1.x, m.c2.x);
    __m128 y = row(m.c0.y, m.c1.y, m.c2.y);
    __m128 z = row(m.c0.z, m.c1.z, m.c2.z);
    const __m128 lengthSq =
        _mm_add_ps(_mm_add_ps(_mm_mul_ps(x, x), _mm_mul_ps(y, y)), _mm_mul_ps(z, z));
    const __m128 keep = _mm_cmpnlt_ps(lengthSq, _mm_set1_ps(1e-24f)); // NaN stays NaN
    const __m128 length = _mm_sqrt_ps(lengthSq);
    x = _mm_and_ps(keep, _mm_div_ps(x, length));
    y = _mm_and_ps(keep, _mm_div_ps(y, length));
    z = _mm_and_ps(keep, _mm_div_ps(z, length));
    if (mapsInLanes(pipeline.type)) {
        const UVLanes r = mapLanes(pipeline.type, x, y, z);
        alignas(16) float u[4], v[4];
        _mm_store_ps(u, r.u);
        _mm_store_ps(v, r.v);
        for (int i = 0; i < 4; ++i) {
            out[i + 1] = {u[i], v[i], 0.0f, 0.0f};
        }
        return;
    }
    alignas(16) float nx[4], ny[4], nz[4];
    _mm_store_ps(nx, x);
    _mm_store_ps(ny, y);
    _mm_store_ps(nz, z);
    for (int i = 0; i < 4; ++i) {
        out[i + 1] = mapUnit(pipeline.type, {nx[i], ny[i], nz[i], 0.0f});
    }
}

int finishUVW(const UVWTail& tail, Vector4f& uvw) {
    const Vector4f p = applyPoint(tail.transform, uvw);
    const float placed[3] = {p.x, p.y, p.z};
    float wrapped[3];
    int valid = 1;
    for (int k = 0; k < 3; ++k) {
        if (tail.cropFlag[k] && (placed[k] < 0.0f || placed[k] > 1.0f)) {
            valid = 0;
        }
        wrapped[k] = wrapTailCoordinate(tail.wrapMode[k], placed[k]);
    }
    // One store of the whole vector: the derivative path then tests it four lanes at a time,
    // and a 16-byte load over single-lane stores waits for them to reach the cache.
    uvw = {wrapped[0], wrapped[1], wrapped[2], wrapped[2]};
    return valid;
}

bool hasUSeam(int type) {
    return type == ENV_MAPPING_SPHERICAL || type == ENV_MAPPING_MAX_SPHERICAL ||
           type == ENV_MAPPING_SPHERICAL_KIVO;
}

float seamCorrected(float mu, float pu) {
    const float delta = mu - pu;
    const float same = std::fabs(delta);
    const float up = std::fabs(delta - 1.0f);
    const float down = std::fabs(delta + 1.0f);
    if (same <= up && same <= down) {
        return pu;
    }
    return up <= down ? pu + 1.0f : pu - 1.0f;
}

UVWTransform screenTransform(const UVWTransform& uvwTransform, const ScreenFrame& frame,
                             const Vector4f& screenUvw, float duvwScale) {
    // Rows of the inverse of [dPdx -dPdy axis]; zero when it is singular.
    double inv[3][3];
    Vector4f rows[3] = {};
    if (inverse3x3(frame.dPdx, -frame.dPdy, frame.axis, DetExpansion::TripleProduct, inv)) {
        for (int r = 0; r < 3; ++r) {
            rows[r] = {float(inv[r][0]), float(inv[r][1]), float(inv[r][2]), 0.0f};
        }
    }
    rows[0] = rows[0] * (1.0f / float(frame.width));
    rows[1] = rows[1] * (1.0f / float(frame.height));

    UVWTransform result;
    result.c0 = applyLinear(uvwTransform, Vector4f{rows[0].x, rows[1].x, rows[2].x, 0.0f});
    result.c1 = applyLinear(uvwTransform, Vector4f{rows[0].y, rows[1].y, rows[2].y, 0.0f});
    result.c2 = applyLinear(uvwTransform, Vector4f{rows[0].z, rows[1].z, rows[2].z, 0.0f});
    result.o = uvwTransform.c0 * screenUvw.x + uvwTransform.c1 * screenUvw.y + uvwTransform.o;
    if (duvwScale != 1.0f) {
        result.c0 = result.c0 * duvwScale;
        result.c1 = result.c1 * duvwScale;
        result.c2 = result.c2 * duvwScale;
    }
    return result;
}

} // namespace KUtils
