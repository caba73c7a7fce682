// The finishing chain of the mesh-channel UVW generators, as free functions: wrapping,
// cropping and coverage of the offset, tex_transform, the derivative scale and the mirror-tile
// fix-up. The valid flag is 1 when the result applies at the point and 0 when it was cropped
// away or lies outside the coverage; these functions only ever clear it.
#pragma once

#include "kivo/Types.h"

namespace KUtils {

// Values of the wrap_u/v/w parameters.
inline constexpr int WRAP_NONE = 0;
inline constexpr int WRAP_REPEAT = 1;
inline constexpr int WRAP_MIRROR = 2;

// Values of wrap_mode: where the tile boundaries lie. Any nonzero value counts as the integer
// boundary.
inline constexpr int WRAP_ON_HALF = 0;
inline constexpr int WRAP_ON_INTEGER = 1;

// The cached parameters applied after uvw_transform.
struct UVWFinish {
    UVWTransform texTransform;
    int wrap[3] = {WRAP_NONE, WRAP_NONE, WRAP_NONE};
    int crop[3] = {0, 0, 0};
    // x, y, z: the coverage of u, v, w (1 covers the whole tile).
    Vector4f coverage{1.0f, 1.0f, 1.0f, 0.0f};
    int wrapBoundary = WRAP_ON_HALF;
    float duvwScale = 1.0f;
};

// One coordinate x wrapped, cropped and scaled by the coverage c. A nonzero crop clears valid
// outside the tile; a coverage other than 1 stretches the tile to 1/c and clears valid outside
// it. On the 0.5 boundary a mirror tile (WRAP_MIRROR) is only folded into the tile here and
// finished by mirrorTile after tex_transform. A coverage of exactly 0 covers nothing: valid is
// cleared and the coordinate is left unscaled, so no infinity or NaN reaches the result.
float wrapCoordinate(float x, float c, int crop, int wrap, int wrapBoundary, int& valid);

// The mirror-tile fold of a coordinate on the 0.5 boundary: a triangle wave of period 2 with
// values in [0, 1].
float mirrorTile(float x);

// The chain after uvw_transform, in place: wrap, crop and coverage of the offset (its fourth
// lane follows w), then tex_transform, the derivative scale of the columns and, on the 0.5
// boundary, the mirror fold of the offset. Returns valid, cleared where any step clears it.
int finishUVWTransform(UVWTransform& tm, const UVWFinish& finish, int valid);

} // namespace KUtils
