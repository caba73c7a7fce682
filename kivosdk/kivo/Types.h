// Value types shared by the host SDK surface and the plugins.
//
// Vectors are four single-precision lanes; the fourth lane takes part in lane-wise arithmetic
// and carries no meaning unless an operation says so (transforms from parameters repeat the
// third lane in it). Points in the shading context are relative to the scene origin, which
// the frame data keeps in double precision.
#pragma once

#include <cstdint>

namespace KUtils {

using InterfaceID = std::uint64_t;

struct Vector4f {
    float x = 0.0f, y = 0.0f, z = 0.0f, w = 0.0f;
};

struct Vector3d {
    double x = 0.0, y = 0.0, z = 0.0;
};

struct Vector2f {
    float x = 0.0f, y = 0.0f;
};

// Colour with alpha, four floats r, g, b, a.
struct AColor {
    float r = 0.0f, g = 0.0f, b = 0.0f, a = 0.0f;
};

// Three single-precision columns, each padded to four floats.
struct Matrix3x3f {
    Vector4f c0{1.0f, 0.0f, 0.0f, 0.0f};
    Vector4f c1{0.0f, 1.0f, 0.0f, 0.0f};
    Vector4f c2{0.0f, 0.0f, 1.0f, 1.0f};
};

// Affine map of a point offset d to UVW: c0*d.x + c1*d.y + c2*d.z + o, over all four lanes.
// Default-constructed it is the identity.
struct UVWTransform {
    Vector4f c0{1.0f, 0.0f, 0.0f, 0.0f};
    Vector4f c1{0.0f, 1.0f, 0.0f, 0.0f};
    Vector4f c2{0.0f, 0.0f, 1.0f, 1.0f};
    Vector4f o{0.0f, 0.0f, 0.0f, 0.0f};
};

// The host's parameter transform: a single-precision matrix and a double-precision offset
// (world positions stay exact far from the origin).
struct Transform {
    Matrix3x3f m;
    Vector3d offs;
};

} // namespace KUtils
