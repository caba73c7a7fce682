#include "ostrel/OstrelMath.h"

#include "kivo/FloatMath.h"
#include "kivo/VectorMath.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

namespace KUtils {

UVWTransform buildPlacement(const Vector4f& offset, const Vector4f& angles,
                            const Vector4f& divisors) {
    // e1, e2, e3 are the rows of Rz(-az)*Ry(-ay)*Rx(-ax), i.e. the columns of
    // Rx(ax)*Ry(ay)*Rz(az).
    const float tx = -angles.x, ty = -angles.y, tz = -angles.z;
    const float s1 = std::sin(tx), c1 = std::cos(tx);
    const float s2 = std::sin(ty), c2 = std::cos(ty);
    const float s3 = std::sin(tz), c3 = std::cos(tz);
    const UVWTransform rows{
        {c2 * c3, s1 * s2 * c3 - c1 * s3, c1 * s2 * c3 + s1 * s3, 0.0f},
        {c2 * s3, s1 * s2 * s3 + c1 * c3, c1 * s2 * s3 - s1 * c3, 0.0f},
        {-s2, s1 * c2, c1 * c2, 0.0f},
        {},
    };
    // The identity columns and the offset, each taken through the rotation as
    // v.x*e1 + v.y*e2 + v.z*e3 (this arithmetic fixes the signs of zero lanes).
    UVWTransform t;
    t.c0 = applyLinear(rows, t.c0);
    t.c1 = applyLinear(rows, t.c1);
    t.c2 = applyLinear(rows, t.c2);
    t.o = applyLinear(rows, offset);
    // uvw = R (p / divisors) + R offset: each column is the rotated axis over its divisor, so
    // one size along an axis of the object moves the coordinates by one unit.
    t.c0 = t.c0 * (1.0f / divisors.x);
    t.c1 = t.c1 * (1.0f / divisors.y);
    t.c2 = t.c2 * (1.0f / divisors.z);
    return t;
}

float boundFixedSize(float size) {
    if (std::fabs(size) < MIN_PLACEMENT_SIZE) {
        return size < 0.0f ? -MIN_PLACEMENT_SIZE : MIN_PLACEMENT_SIZE;
    }
    return size;
}

UVWTransform fixedPlacement(const Placement& placement) {
    const Vector4f divisors{boundFixedSize(placement.sizes.x), boundFixedSize(placement.sizes.y),
                            boundFixedSize(placement.sizes.z), 0.0f};
    return buildPlacement(placement.offset, placement.angles, divisors);
}

bool hasVariation(const Placement& amplitude) {
    const float values[] = {amplitude.offset.x, amplitude.offset.y, amplitude.offset.z,
                            amplitude.sizes.x,  amplitude.sizes.y,  amplitude.sizes.z,
                            amplitude.angles.x, amplitude.angles.y, amplitude.angles.z};
    return std::any_of(std::begin(values), std::end(values),
                       [](float a) { return a > VARIATION_THRESHOLD; });
}

Placement drawPlacement(const Placement& base, const Placement& amplitude, bool xyzLock,
                        RandSequence& rng) {
    Placement p;
    p.offset.x = signedUnit(rng.next()) * amplitude.offset.x + base.offset.x;
    p.offset.y = signedUnit(rng.next()) * amplitude.offset.y + base.offset.y;
    p.offset.z = signedUnit(rng.next()) * amplitude.offset.z + base.offset.z;
    p.angles.x = base.angles.x + signedUnit(rng.next()) * amplitude.angles.x;
    p.angles.y = base.angles.y + signedUnit(rng.next()) * amplitude.angles.y;
    p.angles.z = base.angles.z + signedUnit(rng.next()) * amplitude.angles.z;
    if (xyzLock) {
        const float d = signedUnit(rng.next()) * amplitude.sizes.x;
        p.sizes.x = base.sizes.x + d;
        p.sizes.y = base.sizes.y + d;
        p.sizes.z = base.sizes.z + d;
    } else {
        p.sizes.x = signedUnit(rng.next()) * amplitude.sizes.x + base.sizes.x;
        p.sizes.y = signedUnit(rng.next()) * amplitude.sizes.y + base.sizes.y;
        p.sizes.z = signedUnit(rng.next()) * amplitude.sizes.z + base.sizes.z;
    }
    return p;
}

UVWTransform randomPlacement(const Placement& base, const Placement& amplitude, bool xyzLock,
                             std::uint32_t variationSeed) {
    RandSequence rng(noiseHash(variationSeed));
    const Placement p = drawPlacement(base, amplitude, xyzLock, rng);
    const Vector4f divisors{std::max(MIN_PLACEMENT_SIZE, p.sizes.x),
                            std::max(MIN_PLACEMENT_SIZE, p.sizes.y),
                            std::max(MIN_PLACEMENT_SIZE, p.sizes.z), 0.0f};
    return buildPlacement(p.offset, p.angles, divisors);
}

bool tileCoordinate(float& x, int mode) {
    switch (mode) {
    case TILE_CLAMP:
        x = x < 0.0f ? 0.0f : std::min(1.0f, x);
        return true;
    case TILE_REPEAT: {
        float r = x - truncToward0(x);
        if (r < 0.0f) {
            r += 1.0f;
        }
        x = r;
        return true;
    }
    case TILE_MIRROR: {
        const float a = std::fabs(x);
        const float n = truncToward0(a);
        // n is integral; beyond 2^24 every float is even.
        const bool odd = std::fmod(n, 2.0f) != 0.0f;
        x = odd ? n + (1.0f - a) : a - n;
        return true;
    }
    case TILE_CROP:
        return !(x < 0.0f || x > 1.0f);
    default:
        return true;
    }
}

bool tileCoordinates(Vector4f& q, const int modes[3]) {
    Vector4f tiled = q;
    if (!tileCoordinate(tiled.x, modes[0]) || !tileCoordinate(tiled.y, modes[1]) ||
        !tileCoordinate(tiled.z, modes[2])) {
        return false;
    }
    q = tiled;
    return true;
}

Vector4f centredPlacement(const UVWTransform& t, const Vector4f& c) {
    const Vector4f centre{0.5f, 0.5f, 0.0f, 0.0f};
    return applyPoint(t, c - centre) + centre;
}

Vector4f footprintExtent(const Vector4f& ux, const Vector4f& uy) {
    auto extent = [](float a, float b) { return std::max({0.0f, a, b}) - std::min({0.0f, a, b}); };
    return {extent(ux.x, uy.x), extent(ux.y, uy.y), extent(ux.z, uy.z), 0.0f};
}

} // namespace KUtils
