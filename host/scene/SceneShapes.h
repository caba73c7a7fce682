// The rendered world's shapes: spheres, planes and boxes placed by a centre and a rotation,
// each with an analytic mapping channel (UVW and its basis, how the surface point moves per
// unit of u, v and w) and an object space. Directions and points are world space, float.
#pragma once

#include "kivo/Types.h"

namespace kivohost {

enum class ShapeKind { Sphere, Plane, Box };

// The rotation by x, y, z angles in degrees applied in that order: its columns are the rotated
// x, y and z axes.
KUtils::Matrix3x3f rotationMatrix(const KUtils::Vector4f& degrees);

struct ShapeHit {
    float t = 0.0f;
    KUtils::Vector4f point;
    // Outward unit normal of the surface (for planes: the object's +z).
    KUtils::Vector4f normal;
    // The mapping channel at the point: sphere u around the z axis and v from the bottom (0)
    // to the top (1); plane u, v across its extent (one unit per world unit when unbounded);
    // box faces each 0..1. w is 0 on the surface and grows along the normal.
    KUtils::Vector4f uvw;
    KUtils::Vector4f basis[3];
};

class Shape {
public:
    // radius (sphere), extent x and y (plane; 0 unbounded) or edge lengths (box) in `size`;
    // rotation as x, y, z angles in degrees applied in that order about the centre.
    Shape(ShapeKind kind, const KUtils::Vector4f& centre, const KUtils::Vector4f& size,
          const KUtils::Vector4f& rotationDegrees);

    ShapeKind kind() const { return shapeKind; }
    // The nearest hit with t in (tMin, tMax) along origin + t * direction.
    bool intersect(const KUtils::Vector4f& origin, const KUtils::Vector4f& direction, float tMin,
                   float tMax, ShapeHit& hit) const;
    // World to object space: rotation undone about the centre (world units kept).
    KUtils::UVWTransform objectSpace() const;
    const KUtils::Vector4f& centre() const { return position; }
    const KUtils::Vector4f& size() const { return extent; }

private:
    KUtils::Vector4f toObject(const KUtils::Vector4f& v) const;
    KUtils::Vector4f toWorld(const KUtils::Vector4f& v) const;

    ShapeKind shapeKind;
    KUtils::Vector4f position;
    KUtils::Vector4f extent;
    // Object axes in world space.
    KUtils::Vector4f axes[3];
};

} // namespace kivohost
