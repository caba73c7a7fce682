// The coordinate and derivative steps of the procedural-noise UVW generator: source
// coordinates read from the shading context (mapping channel, object or world position, screen
// position), mapped through a placement transform and, for the channel sources, tiled per axis.
// Read-only on the context and the services reached from it; no allocation, no lock.
#pragma once

#include "kivo/ShadingContext.h"
#include "kivo/Types.h"

#include <cstdint>

namespace KUtils {

// Coordinate sources (the `map` parameter).
enum OstrelSource : int {
    // Mapping channel placed about (0.5, 0.5, 0); tiled.
    OSTREL_CHANNEL_CENTRED = 0,
    // Mapping channel; tiled only by the derivative step.
    OSTREL_CHANNEL = 1,
    // Object-space position (world position without an object-space service).
    OSTREL_OBJECT = 2,
    OSTREL_WORLD = 3,
    // (x / width, 1 - y / height, 0) of the pixel.
    OSTREL_SCREEN = 4,
};

// What the steps read besides the placement transform.
struct OstrelMapping {
    int map = OSTREL_CHANNEL_CENTRED;
    int channel = 0;
    // Tiling mode (TileMode) per coordinate.
    int tile[3] = {1, 1, 1};
    // Multiplier of the derivative vectors.
    float filtering = 1.0f;
};

// The image the screen source places on, as frameBegin found it in the frame data: its size
// in pixels, 0 without frame data.
struct OstrelScreen {
    int width = 0;
    int height = 0;
};

// The placed coordinates of the context's point. Returns 0 when a crop tiling mode rejects
// them (uvw then holds the untiled coordinates) and 0 with zeros when they are not finite,
// else 1. Writes nothing for an unknown source.
int coordinateStep(const ShadingContext& sc, const UVWTransform& t, const OstrelMapping& m,
                   const OstrelScreen& screen, Vector4f& uvw);

// out[0] the coordinates (tiled for the channel sources), out[1] and out[2] their derivatives
// along screen x and y times the filtering. An unknown source gives three zero vectors. Returns
// 0 when a crop tiling mode rejects the coordinates: out then holds the untiled coordinates and
// the derivatives without the filtering; 0 with zeros when any of them is not finite.
int derivativeStep(const ShadingContext& sc, const UVWTransform& t, const OstrelMapping& m,
                   const OstrelScreen& screen, Vector4f out[3]);

// The seed of a surface's random variation, before hashing: 1, or the material value + 1 with
// randMat; plus noiseHash(object value) with randObj; times seed. Material and object values
// count only when the shade data answers the shade-id query and reports them available.
std::uint32_t variationSeed(const ShadingContext& sc, int randMat, int randObj, int seed);

} // namespace KUtils
