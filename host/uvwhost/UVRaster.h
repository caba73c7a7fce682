// Triangles of one UV set laid over a texture's texel grid: which triangle a texel shows and
// where on it a sample falls. Texel space: x = u * width, y = (1 - v) * height, so row 0 is
// the top of the texture (v = 1) and texel (i, j) spans [i, i + 1] x [j, j + 1]. UVs outside
// [0, 1] fall outside the texture (no tiling).
#pragma once

#include "kivo/Types.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace uvwhost {

class UVRaster {
public:
    // Triangles whose UVs span no area are left out (they cover no texel).
    UVRaster(const std::vector<KUtils::Vector4f>& uvs,
             const std::vector<std::array<std::uint32_t, 3>>& triangles, int width, int height);

    // A point of a triangle: point = (1 - b1 - b2) p0 + b1 p1 + b2 p2.
    struct Spot {
        std::uint32_t triangle = 0;
        float b1 = 0.0f, b2 = 0.0f;
    };

    // Conservative coverage: texel (i, j) is covered when a triangle overlaps its square (not
    // only touches it), even where the texel's centre is outside. Then the sample at
    // texel-space (x, y) goes to the nearest of those triangles, at its point nearest the
    // sample (the sample itself when inside); equally near triangles (overlapping UV islands
    // both holding the sample) resolve to the first in the mesh's triangle order. Empty: the
    // texel is not covered.
    std::optional<Spot> find(int i, int j, double x, double y) const;

private:
    struct Triangle {
        std::uint32_t index;
        double p[3][2];
        double box[4]; // min x, min y, max x, max y
    };
    int tilesX, tilesY;
    std::vector<Triangle> all;
    // Per tile of TILE x TILE texels: the triangles that may cover one of its texels, in
    // triangle order.
    std::vector<std::vector<std::uint32_t>> bins;
};

} // namespace uvwhost
