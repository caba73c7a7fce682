// The projection mapping of points to UVW, apart from any plugin plumbing. A mapping result is
// a local transform: columns = derivatives of (u, v, w) along x, y and z of the projected
// point, offset = the UVW itself.
#pragma once

#include "kivo/Types.h"
#include "kivo/VectorMath.h"

namespace KUtils {

// Projection types of the "type" parameter; 0, 7 and unknown values map nothing.
enum ProjectionType : int {
    PROJ_NONE = 0,
    PROJ_PLANAR = 1,
    PROJ_SPHERICAL = 2,
    PROJ_CYLINDRICAL = 3,
    PROJ_BALL = 4,
    PROJ_CUBIC = 5,
    PROJ_TRIPLANAR = 6,
    PROJ_PERSPECTIVE = 8,
    PROJ_QUOR_CUBIC = 9,
    PROJ_QUOR_BOX = 10,
};

// The working transform moved into object space: e0, e1, e2 are the world unit axes and q0 the
// world origin, expressed in object space. Columns M.m*e_i, offset M.m*q0 + M.o.
UVWTransform toObjectSpace(const UVWTransform& m, const Vector4f& e0, const Vector4f& e1,
                           const Vector4f& e2, const Vector4f& q0);

// 0 for x, 1 for y, 2 for z: the strictly largest magnitude; ties fall to the later axis.
int dominantAxis(const Vector4f& a);

// The mapping of every type but perspective. p is the projected point; nPrime the normal
// through the working transform (read by triplanar and the two Quor types); the angles are
// the radians that correspond to U = 1 and V = 1 (spherical, cylindrical). Every result is
// finite for finite input: where a formula has no value (the centre of the spherical,
// cylindrical and ball projections, their axes, a zero face of the cube, a zero angle) the
// undefined ratio is taken as 0 and a derivative that does not exist is 0.
inline UVWTransform mapPlanar(const Vector4f& p) {
    return {{0.5f, 0.0f, 0.0f, 0.0f},
            {0.0f, 0.5f, 0.0f, 0.0f},
            {0.0f, 0.0f, 0.5f, 0.0f},
            {0.5f * p.x + 0.5f, 0.5f * p.y + 0.5f, 0.5f * p.z + 0.5f, 0.0f}};
}
UVWTransform mapSpherical(const Vector4f& p, float uAngle, float vAngle);
UVWTransform mapCylindrical(const Vector4f& p, float uAngle);
UVWTransform mapBall(const Vector4f& p);
UVWTransform mapCubic(const Vector4f& p);
UVWTransform mapTriplanar(const Vector4f& p, const Vector4f& nPrime);
UVWTransform mapQuorCubic(const Vector4f& p, const Vector4f& nPrime);
UVWTransform mapQuorBox(const Vector4f& p, const Vector4f& nPrime);
// Dispatch by type; perspective and the unnamed types give zero uvw and a zero Jacobian.
UVWTransform mapProjection(int type, const Vector4f& p, const Vector4f& nPrime, float uAngle,
                           float vAngle);
// Its uvw alone (the offset of mapProjection's result, bit for bit), for evalUVW: the
// spherical, cylindrical and ball Jacobians in double cost more than the uvw itself.
Vector4f mapProjectionPoint(int type, const Vector4f& p, const Vector4f& nPrime, float uAngle,
                            float vAngle);

// The uvw of the final local transform below, for callers that need no Jacobian.
inline Vector4f finishProjectionPoint(const UVWTransform& local, const UVWTransform& texTransform) {
    return applyPoint(texTransform, local.o);
}
// The final local transform: the Jacobian taken through the working transform m (chain rule),
// then columns and uvw through texTransform. Inline: it runs once per point, and returned
// through memory its 64 bytes cost more than its arithmetic.
inline UVWTransform finishProjection(const UVWTransform& local, const UVWTransform& m,
                                     const UVWTransform& texTransform) {
    const Vector4f jx = applyLinear(local, m.c0);
    const Vector4f jy = applyLinear(local, m.c1);
    const Vector4f jz = applyLinear(local, m.c2);
    return {applyLinear(texTransform, jx), applyLinear(texTransform, jy),
            applyLinear(texTransform, jz), finishProjectionPoint(local, texTransform)};
}

} // namespace KUtils
