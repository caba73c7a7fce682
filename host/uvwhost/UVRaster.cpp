#include "uvwhost/UVRaster.h"

#include <algorithm>
#include <cmath>

namespace uvwhost {

namespace {

constexpr int TILE = 16;

struct Nearest {
    double distance2;
    double b1, b2;
};

double cross(const double a[2], const double b[2], const double c[2]) {
    return (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]);
}

// The point of triangle p nearest q, as squared distance and barycentrics.
Nearest nearestPoint(const double p[3][2], const double q[2]) {
    const double area = cross(p[0], p[1], p[2]);
    const double l1 = cross(p[0], q, p[2]) / area;
    const double l2 = cross(p[0], p[1], q) / area;
    if (l1 >= 0.0 && l2 >= 0.0 && l1 + l2 <= 1.0) {
        return {0.0, l1, l2};
    }
    Nearest best{INFINITY, 0.0, 0.0};
    for (int e = 0; e < 3; ++e) {
        const double* a = p[e];
        const double* b = p[(e + 1) % 3];
        const double d[2] = {b[0] - a[0], b[1] - a[1]};
        const double len2 = d[0] * d[0] + d[1] * d[1];
        const double t =
            len2 > 0.0 ? std::clamp(((q[0] - a[0]) * d[0] + (q[1] - a[1]) * d[1]) / len2, 0.0, 1.0)
                       : 0.0;
        const double dx = a[0] + t * d[0] - q[0];
        const double dy = a[1] + t * d[1] - q[1];
        const double distance2 = dx * dx + dy * dy;
        if (distance2 < best.distance2) {
            // Barycentric weights of vertices e and e + 1 are 1 - t and t.
            double w[3] = {0.0, 0.0, 0.0};
            w[e] = 1.0 - t;
            w[(e + 1) % 3] = t;
            best = {distance2, w[1], w[2]};
        }
    }
    return best;
}

// Whether triangle p and the texel square around `centre` share interior (touching along an
// edge or at a corner is not enough): no separating axis among x, y and the edge normals.
bool overlaps(const double p[3][2], const double box[4], const double centre[2]) {
    if (!(box[0] < centre[0] + 0.5 && box[2] > centre[0] - 0.5 && box[1] < centre[1] + 0.5 &&
          box[3] > centre[1] - 0.5)) {
        return false;
    }
    const double side = cross(p[0], p[1], p[2]) > 0.0 ? 1.0 : -1.0;
    for (int e = 0; e < 3; ++e) {
        const double* a = p[e];
        const double* b = p[(e + 1) % 3];
        // The inward normal of edge a-b, and the square's farthest reach along it.
        const double n[2] = {-side * (b[1] - a[1]), side * (b[0] - a[0])};
        const double reach = 0.5 * (std::abs(n[0]) + std::abs(n[1]));
        if (n[0] * (centre[0] - a[0]) + n[1] * (centre[1] - a[1]) + reach <= 0.0) {
            return false;
        }
    }
    return true;
}

} // namespace

UVRaster::UVRaster(const std::vector<KUtils::Vector4f>& uvs,
                   const std::vector<std::array<std::uint32_t, 3>>& triangles, int width,
                   int height)
    : tilesX((width + TILE - 1) / TILE), tilesY((height + TILE - 1) / TILE),
      bins(std::size_t(tilesX) * std::size_t(tilesY)) {
    for (std::uint32_t t = 0; t < triangles.size(); ++t) {
        Triangle tri{t, {}, {INFINITY, INFINITY, -INFINITY, -INFINITY}};
        for (int k = 0; k < 3; ++k) {
            const KUtils::Vector4f& uv = uvs[triangles[t][std::size_t(k)]];
            tri.p[k][0] = double(uv.x) * width;
            tri.p[k][1] = (1.0 - double(uv.y)) * height;
            tri.box[0] = std::min(tri.box[0], tri.p[k][0]);
            tri.box[1] = std::min(tri.box[1], tri.p[k][1]);
            tri.box[2] = std::max(tri.box[2], tri.p[k][0]);
            tri.box[3] = std::max(tri.box[3], tri.p[k][1]);
        }
        // The texels the box touches.
        const double first[2] = {std::floor(tri.box[0]), std::floor(tri.box[1])};
        const double last[2] = {std::floor(tri.box[2]), std::floor(tri.box[3])};
        const double area = cross(tri.p[0], tri.p[1], tri.p[2]);
        if (!(std::abs(area) > 1e-12) || !(last[0] >= 0.0 && first[0] < width) ||
            !(last[1] >= 0.0 && first[1] < height)) {
            continue;
        }
        const int x0 = int(std::max(first[0], 0.0)) / TILE;
        const int y0 = int(std::max(first[1], 0.0)) / TILE;
        const int x1 = int(std::min(last[0], double(width - 1))) / TILE;
        const int y1 = int(std::min(last[1], double(height - 1))) / TILE;
        const auto at = std::uint32_t(all.size());
        all.push_back(tri);
        for (int ty = y0; ty <= y1; ++ty) {
            for (int tx = x0; tx <= x1; ++tx) {
                bins[std::size_t(ty) * std::size_t(tilesX) + std::size_t(tx)].push_back(at);
            }
        }
    }
}

std::optional<UVRaster::Spot> UVRaster::find(int i, int j, double x, double y) const {
    const double centre[2] = {i + 0.5, j + 0.5};
    const double sample[2] = {x, y};
    const Triangle* best = nullptr;
    Nearest nearest{INFINITY, 0.0, 0.0};
    for (std::uint32_t at :
         bins[std::size_t(j / TILE) * std::size_t(tilesX) + std::size_t(i / TILE)]) {
        const Triangle& tri = all[at];
        if (!overlaps(tri.p, tri.box, centre)) {
            continue;
        }
        // Strictly nearer only: among equals the first in triangle order stays.
        const Nearest n = nearestPoint(tri.p, sample);
        if (n.distance2 < nearest.distance2) {
            nearest = n;
            best = &tri;
        }
    }
    if (!best) {
        return std::nullopt;
    }
    return Spot{best->index, float(nearest.b1), float(nearest.b2)};
}

} // namespace uvwhost
