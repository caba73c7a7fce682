// Placement math of the procedural-noise UVW generator: the placement transform built from an
// offset, three rotation angles and a size; its random variation per surface; the per-axis
// tiling modes of the channel sources. Single precision and the renderer's operation order
// throughout, unless a function says otherwise.
#pragma once

#include "kivo/Types.h"

#include <cstdint>

namespace KUtils {

// Offset, rotation angles about x, y, z (radians) and sizes (source units per placement unit)
// of a placement, or the random amplitudes of each. The fourth lanes are unused.
struct Placement {
    Vector4f offset;
    Vector4f angles;
    Vector4f sizes;
};

// Smallest size magnitude a placement divides by: keeps every column finite.
inline constexpr float MIN_PLACEMENT_SIZE = 0.0001f;
// Amplitudes up to this value leave the placement unvaried (angles compared in radians).
inline constexpr float VARIATION_THRESHOLD = 0.0001f;

// T(p) = c0*p.x + c1*p.y + c2*p.z + o = Rx(ax)*Ry(ay)*Rz(az)*(p / divisors + offset): the
// source point is divided by the size, shifted by the offset, then rotated about z, y, x.
UVWTransform buildPlacement(const Vector4f& offset, const Vector4f& angles,
                            const Vector4f& divisors);

// The user's size as a divisor: magnitude at least MIN_PLACEMENT_SIZE with its sign kept
// (negative sizes mirror the placement), zero taken as +MIN_PLACEMENT_SIZE.
float boundFixedSize(float size);

// The placement of the user's parameters (angles in radians), sizes bounded by boundFixedSize.
UVWTransform fixedPlacement(const Placement& placement);

// True when any amplitude is strictly above VARIATION_THRESHOLD; negative ones never count.
bool hasVariation(const Placement& amplitude);

// x*(15731*x*x + 789221), wrapping modulo 2^32.
constexpr std::uint32_t noiseHash(std::uint32_t x) {
    return x * (15731u * x * x + 789221u);
}

// The sequence of the renderer's C runtime rand() after srand(seed), held by the caller so
// that one placement's draws form one uninterrupted sequence on any thread without a lock,
// and the process-wide rand() state stays untouched.
class RandSequence {
public:
    explicit constexpr RandSequence(std::uint32_t seed) : state(seed) {}
    // The next integer, in 0..32767.
    constexpr int next() {
        state = state * 214013u + 2531011u;
        return static_cast<int>((state >> 16) & 0x7FFFu);
    }

private:
    std::uint32_t state;
};

// A draw r in 0..32767 as a variation factor in [-1, 1]: r / 32767 * 2 - 1 in floats.
inline float signedUnit(int r) {
    return static_cast<float>(r) / 32767.0f * 2.0f - 1.0f;
}

// The varied placement: offsets x, y, z, then angles x, y, z, then sizes (one draw shared by
// all three axes and scaled by amplitude.sizes.x when xyzLock is set, else one per axis):
// 9 draws, 7 with xyzLock. Sizes are returned unbounded.
Placement drawPlacement(const Placement& base, const Placement& amplitude, bool xyzLock,
                        RandSequence& rng);

// The placement of one surface: the sequence seeded with noiseHash(variationSeed), the draws
// of drawPlacement, each size bounded below by MIN_PLACEMENT_SIZE (no mirroring).
UVWTransform randomPlacement(const Placement& base, const Placement& amplitude, bool xyzLock,
                             std::uint32_t variationSeed);

// Tiling modes of one coordinate; any other value keeps the coordinate.
enum TileMode : int {
    TILE_NONE = 0,
    TILE_CLAMP = 1,
    TILE_REPEAT = 2,
    TILE_MIRROR = 3,
    TILE_CROP = 4
};

// Applies one tiling mode to x. False when the crop mode rejects x (outside [0, 1]).
bool tileCoordinate(float& x, int mode);

// Tiles q.x, q.y, q.z with modes[0..2] in that order. On a crop rejection returns false and
// leaves q as it was.
bool tileCoordinates(Vector4f& q, const int modes[3]);

// A channel UVW placed about the tile centre: T(c - (0.5, 0.5, 0)) + (0.5, 0.5, 0).
Vector4f centredPlacement(const UVWTransform& t, const Vector4f& c);

// Extent per axis of the box around 0, ux and uy: max(0, ux, uy) - min(0, ux, uy).
Vector4f footprintExtent(const Vector4f& ux, const Vector4f& uy);

} // namespace KUtils
