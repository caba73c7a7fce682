#include "scene/SceneShapes.h"

#include "kivo/VectorMath.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kivohost {

using namespace KUtils;

namespace {

constexpr float PI = std::numbers::pi_v<float>;

Vector4f rotateX(const Vector4f& v, float a) {
    const float c = std::cos(a), s = std::sin(a);
    return {v.x, c * v.y - s * v.z, s * v.y + c * v.z, 0.0f};
}
Vector4f rotateY(const Vector4f& v, float a) {
    const float c = std::cos(a), s = std::sin(a);
    return {c * v.x + s * v.z, v.y, -s * v.x + c * v.z, 0.0f};
}
Vector4f rotateZ(const Vector4f& v, float a) {
    const float c = std::cos(a), s = std::sin(a);
    return {c * v.x - s * v.y, s * v.x + c * v.y, v.z, 0.0f};
}

bool sphereHit(const Vector4f& o, const Vector4f& d, float r, float tMin, float tMax, float& t) {
    const float a = dot3(d, d);
    const float b = dot3(o, d);
    const float c = dot3(o, o) - r * r;
    const float disc = b * b - a * c;
    if (disc < 0.0f || a == 0.0f) {
        return false;
    }
    const float root = std::sqrt(disc);
    for (const float candidate : {(-b - root) / a, (-b + root) / a}) {
        if (candidate > tMin && candidate < tMax) {
            t = candidate;
            return true;
        }
    }
    return false;
}

} // namespace

Matrix3x3f rotationMatrix(const Vector4f& degrees) {
    const float toRadians = PI / 180.0f;
    auto rotate = [&](const Vector4f& v) {
        return rotateZ(rotateY(rotateX(v, degrees.x * toRadians), degrees.y * toRadians),
                       degrees.z * toRadians);
    };
    return {rotate({1, 0, 0, 0}), rotate({0, 1, 0, 0}), rotate({0, 0, 1, 0})};
}

Shape::Shape(ShapeKind kind, const Vector4f& centre, const Vector4f& size,
             const Vector4f& rotationDegrees)
    : shapeKind(kind), position(centre), extent(size) {
    const Matrix3x3f r = rotationMatrix(rotationDegrees);
    axes[0] = r.c0;
    axes[1] = r.c1;
    axes[2] = r.c2;
}

Vector4f Shape::toObject(const Vector4f& v) const {
    return {dot3(axes[0], v), dot3(axes[1], v), dot3(axes[2], v), 0.0f};
}

Vector4f Shape::toWorld(const Vector4f& v) const {
    return axes[0] * v.x + axes[1] * v.y + axes[2] * v.z;
}

UVWTransform Shape::objectSpace() const {
    UVWTransform t;
    // Columns of the inverse rotation (its transpose), then the centre moved to the origin.
    t.c0 = {axes[0].x, axes[1].x, axes[2].x, 0.0f};
    t.c1 = {axes[0].y, axes[1].y, axes[2].y, 0.0f};
    t.c2 = {axes[0].z, axes[1].z, axes[2].z, 0.0f};
    t.o = -toObject(position);
    return t;
}

bool Shape::intersect(const Vector4f& origin, const Vector4f& direction, float tMin, float tMax,
                      ShapeHit& hit) const {
    const Vector4f o = toObject(origin - position);
    const Vector4f d = toObject(direction);
    float t = 0.0f;
    Vector4f p, n, uvw, b[3];
    switch (shapeKind) {
    case ShapeKind::Sphere: {
        const float r = extent.x;
        if (!sphereHit(o, d, r, tMin, tMax, t)) {
            return false;
        }
        p = o + d * t;
        n = p * (1.0f / r);
        const float phi = std::atan2(p.y, p.x);
        const float theta = std::acos(std::clamp(n.z, -1.0f, 1.0f));
        uvw = {phi / (2.0f * PI) + 0.5f, 1.0f - theta / PI, 0.0f, 0.0f};
        // dp/du = dp/dphi * 2 pi; dp/dv = dp/dtheta * -pi.
        b[0] = Vector4f{-p.y, p.x, 0.0f, 0.0f} * (2.0f * PI);
        b[1] =
            Vector4f{n.z * std::cos(phi) * r, n.z * std::sin(phi) * r, -std::sin(theta) * r, 0.0f} *
            -PI;
        b[2] = n;
        break;
    }
    case ShapeKind::Plane: {
        if (d.z == 0.0f) {
            return false;
        }
        t = -o.z / d.z;
        if (!(t > tMin && t < tMax)) {
            return false;
        }
        p = o + d * t;
        const float sx = extent.x, sy = extent.y;
        if ((sx > 0.0f && std::fabs(p.x) > 0.5f * sx) ||
            (sy > 0.0f && std::fabs(p.y) > 0.5f * sy)) {
            return false;
        }
        n = {0.0f, 0.0f, 1.0f, 0.0f};
        const float ux = sx > 0.0f ? sx : 1.0f, vy = sy > 0.0f ? sy : 1.0f;
        uvw = {p.x / ux + (sx > 0.0f ? 0.5f : 0.0f), p.y / vy + (sy > 0.0f ? 0.5f : 0.0f), 0.0f,
               0.0f};
        b[0] = {ux, 0.0f, 0.0f, 0.0f};
        b[1] = {0.0f, vy, 0.0f, 0.0f};
        b[2] = n;
        break;
    }
    case ShapeKind::Box: {
        const float h[3] = {0.5f * extent.x, 0.5f * extent.y, 0.5f * extent.z};
        const float oc[3] = {o.x, o.y, o.z}, dc[3] = {d.x, d.y, d.z};
        float t0 = tMin, t1 = tMax;
        int axis0 = -1, axis1 = -1;
        for (int k = 0; k < 3; ++k) {
            if (dc[k] == 0.0f) {
                if (std::fabs(oc[k]) > h[k]) {
                    return false;
                }
                continue;
            }
            float a = (-h[k] - oc[k]) / dc[k], c = (h[k] - oc[k]) / dc[k];
            if (a > c) {
                std::swap(a, c);
            }
            if (a > t0) {
                t0 = a;
                axis0 = k;
            }
            if (c < t1) {
                t1 = c;
                axis1 = k;
            }
            if (t0 > t1) {
                return false;
            }
        }
        // Entering from outside, else leaving from inside.
        const bool outside = axis0 >= 0 && t0 > tMin;
        t = outside ? t0 : t1;
        const int axis = outside ? axis0 : axis1;
        if (axis < 0 || !(t > tMin && t < tMax)) {
            return false;
        }
        p = o + d * t;
        const float pc[3] = {p.x, p.y, p.z};
        const float s = pc[axis] > 0.0f ? 1.0f : -1.0f;
        n = Vector4f{};
        (axis == 0 ? n.x : axis == 1 ? n.y : n.z) = s;
        // Each face maps its two other axes to 0..1, turned so that u runs around the box
        // and v upward (z) on the side faces.
        const int ua = axis == 0 ? 1 : 0;
        const int va = axis == 2 ? 1 : 2;
        const float uSign = axis == 2 ? 1.0f : (axis == 0 ? s : -s);
        const float vSign = axis == 2 ? s : 1.0f;
        uvw = {uSign * pc[ua] / (2.0f * h[ua]) + 0.5f, vSign * pc[va] / (2.0f * h[va]) + 0.5f, 0.0f,
               0.0f};
        b[0] = b[1] = Vector4f{};
        (ua == 0 ? b[0].x : ua == 1 ? b[0].y : b[0].z) = uSign * 2.0f * h[ua];
        (va == 0 ? b[1].x : va == 1 ? b[1].y : b[1].z) = vSign * 2.0f * h[va];
        b[2] = n;
        break;
    }
    }
    hit.t = t;
    hit.point = origin + direction * t;
    hit.normal = toWorld(n);
    hit.uvw = uvw;
    for (int k = 0; k < 3; ++k) {
        hit.basis[k] = toWorld(b[k]);
    }
    return true;
}

} // namespace kivohost
