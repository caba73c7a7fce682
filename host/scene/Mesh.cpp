#include "scene/Mesh.h"

#include "kivo/VectorMath.h"
#include "scene/SceneShapes.h"

#include <cmath>

namespace kivohost {

using namespace KUtils;

Vector4f faceNormal(const Vector4f p[3]) {
    return unitDirection(cross3(p[1] - p[0], p[2] - p[0])).value_or(Vector4f{0, 0, 1, 0});
}

void triangleBasis(const Vector4f p[3], const Vector4f uvw[3], Vector4f basis[3]) {
    const Vector4f n = faceNormal(p);
    const Vector4f e1 = p[1] - p[0], e2 = p[2] - p[0];
    const float du1 = uvw[1].x - uvw[0].x, dv1 = uvw[1].y - uvw[0].y;
    const float du2 = uvw[2].x - uvw[0].x, dv2 = uvw[2].y - uvw[0].y;
    const float det = du1 * dv2 - du2 * dv1;
    // The UV area against the UV extent: below this the UVs are collinear for all purposes and
    // the inverse would amplify rounding into huge or infinite derivatives.
    const float extent = std::max({std::fabs(du1), std::fabs(dv1), std::fabs(du2), std::fabs(dv2)});
    const float inverse = det != 0.0f ? 1.0f / det : 0.0f;
    const Vector4f dPdu = (e1 * dv2 - e2 * dv1) * inverse;
    const Vector4f dPdv = (e2 * du1 - e1 * du2) * inverse;
    const bool usable = std::fabs(det) > 1e-12f * extent * extent && extent > 0.0f &&
                        std::isfinite(dot3(dPdu, dPdu)) && std::isfinite(dot3(dPdv, dPdv)) &&
                        dot3(cross3(dPdu, dPdv), cross3(dPdu, dPdv)) > 0.0f;
    if (usable) {
        basis[0] = dPdu;
        basis[1] = dPdv;
    } else {
        // Any tangent frame: the edge p0 -> p1 when it has a direction, else an axis apart from
        // the normal.
        Vector4f t = unitOrZero(e1 - n * dot3(e1, n));
        if (dot3(t, t) == 0.0f) {
            t = unitOrZero(
                cross3(std::fabs(n.x) < 0.9f ? Vector4f{1, 0, 0, 0} : Vector4f{0, 1, 0, 0}, n));
        }
        basis[0] = t;
        basis[1] = cross3(n, t);
    }
    basis[2] = n;
}

Matrix3x3f Placement::linear() const {
    const Matrix3x3f r = rotationMatrix(rotationDegrees);
    return {r.c0 * scale.x, r.c1 * scale.y, r.c2 * scale.z};
}

UVWTransform Placement::objectSpace() const {
    const Matrix3x3f m = linear();
    const Vector4f columns[3] = {m.c0, m.c1, m.c2};
    UVWTransform t = inverseColumns(columns, DetExpansion::FirstRow);
    t.o = -applyLinear(t, centre);
    return t;
}

PlacedMesh::PlacedMesh(const TriangleMesh& mesh, const Placement& placement) : placed(mesh) {
    const Matrix3x3f m = placement.linear();
    for (Vector4f& p : placed.positions) {
        p = applyLinear(m, p) + placement.centre;
    }
    // Normals move with the inverse transpose: the rows of the object-space matrix.
    const UVWTransform inv = placement.objectSpace();
    for (Vector4f& n : placed.normals) {
        const Vector4f v{inv.c0.x * n.x + inv.c0.y * n.y + inv.c0.z * n.z,
                         inv.c1.x * n.x + inv.c1.y * n.y + inv.c1.z * n.z,
                         inv.c2.x * n.x + inv.c2.y * n.y + inv.c2.z * n.z, 0.0f};
        n = unitOrZero(v);
    }
    bases.resize(placed.uvs.size());
    for (std::size_t set = 0; set < placed.uvs.size(); ++set) {
        bases[set].resize(placed.triangles.size() * 3);
        for (std::size_t t = 0; t < placed.triangles.size(); ++t) {
            const auto& tri = placed.triangles[t];
            const Vector4f p[3] = {placed.positions[tri[0]], placed.positions[tri[1]],
                                   placed.positions[tri[2]]};
            const Vector4f uvw[3] = {placed.uvs[set][tri[0]], placed.uvs[set][tri[1]],
                                     placed.uvs[set][tri[2]]};
            triangleBasis(p, uvw, &bases[set][t * 3]);
        }
    }
}

PlacedMesh::Surface PlacedMesh::surface(std::uint32_t triangle, float b1, float b2) const {
    const auto& tri = placed.triangles[triangle];
    const float b0 = 1.0f - b1 - b2;
    const Vector4f p[3] = {placed.positions[tri[0]], placed.positions[tri[1]],
                           placed.positions[tri[2]]};
    Surface s;
    s.point = p[0] * b0 + p[1] * b1 + p[2] * b2;
    s.faceNormal = faceNormal(p);
    s.normal = s.faceNormal;
    if (!placed.normals.empty()) {
        const Vector4f n =
            placed.normals[tri[0]] * b0 + placed.normals[tri[1]] * b1 + placed.normals[tri[2]] * b2;
        s.normal = unitDirection(n).value_or(s.faceNormal);
    }
    return s;
}

void PlacedMesh::channel(std::uint32_t triangle, float b1, float b2, std::size_t set, Vector4f& uvw,
                         Vector4f basis[3]) const {
    const auto& tri = placed.triangles[triangle];
    const auto& uv = placed.uvs[set];
    uvw = uv[tri[0]] * (1.0f - b1 - b2) + uv[tri[1]] * b1 + uv[tri[2]] * b2;
    for (int k = 0; k < 3; ++k) {
        basis[k] = bases[set][std::size_t(triangle) * 3 + std::size_t(k)];
    }
}

} // namespace kivohost
