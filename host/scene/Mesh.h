// Triangle meshes as the reference host renders them: world-space positions and vertex normals,
// one array of UVW per map channel, and per triangle the basis of each channel (how the surface
// point moves per unit of u, v and w). Map channel numbering: the file's first UV set is map
// channel 1, its second channel 2, and so on (the generators' default channel is 1).
#pragma once

#include "kivo/Types.h"

#include <array>
#include <cstdint>
#include <vector>

namespace kivohost {

struct TriangleMesh {
    std::vector<KUtils::Vector4f> positions;
    // Unit vertex normals; empty when the file has none (the face normal is used).
    std::vector<KUtils::Vector4f> normals;
    // uvs[k][vertex]: the UVW of UV set k (map channel k + 1) at each vertex.
    std::vector<std::vector<KUtils::Vector4f>> uvs;
    std::vector<std::array<std::uint32_t, 3>> triangles;
};

// dP/du, dP/dv and dP/dw of one triangle for one channel. dP/dw is the unit face normal. A
// triangle whose UVs span no area (or whose positions span none) has no such derivative: it
// gets an orthonormal frame around its face normal instead, so every basis is finite and
// invertible.
void triangleBasis(const KUtils::Vector4f p[3], const KUtils::Vector4f uvw[3],
                   KUtils::Vector4f basis[3]);

// The unit normal of the triangle (p1 - p0) x (p2 - p0); +z for a triangle without area.
KUtils::Vector4f faceNormal(const KUtils::Vector4f p[3]);

// World placement of an object: p' = centre + R (S p), R the rotation by x, y, z angles in
// degrees applied in that order, S the per-axis scale.
struct Placement {
    KUtils::Vector4f centre;
    KUtils::Vector4f rotationDegrees;
    KUtils::Vector4f scale{1.0f, 1.0f, 1.0f, 0.0f};

    // The columns of R S.
    KUtils::Matrix3x3f linear() const;
    // World to object space: the inverse of the placement.
    KUtils::UVWTransform objectSpace() const;
};

// A mesh placed in the world, with its per-triangle channel bases precomputed.
class PlacedMesh {
public:
    PlacedMesh(const TriangleMesh& mesh, const Placement& placement);

    struct Surface {
        KUtils::Vector4f point;
        // Interpolated unit vertex normal (the face normal without vertex normals).
        KUtils::Vector4f normal;
        KUtils::Vector4f faceNormal;
    };
    // The surface at barycentric (b1, b2) of triangle `triangle`: point = (1-b1-b2) p0 + b1 p1 +
    // b2 p2.
    Surface surface(std::uint32_t triangle, float b1, float b2) const;
    // The UVW of UV set `set` at the same place, and the triangle's basis for it.
    void channel(std::uint32_t triangle, float b1, float b2, std::size_t set, KUtils::Vector4f& uvw,
                 KUtils::Vector4f basis[3]) const;

    const TriangleMesh& world() const { return placed; }
    std::size_t channelCount() const { return placed.uvs.size(); }

private:
    TriangleMesh placed;
    // bases[set][triangle * 3 + k]
    std::vector<std::vector<KUtils::Vector4f>> bases;
};

} // namespace kivohost
