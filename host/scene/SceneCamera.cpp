#include "scene/SceneCamera.h"

#include "kivo/VectorMath.h"

#include <cmath>
#include <numbers>

namespace kivohost {

using namespace KUtils;

namespace {

// The unit vector along v; a vector without a direction (zero) stays as it is.
Vector4f normalized(const Vector4f& v) {
    return unitDirection(v).value_or(v);
}

} // namespace

SceneCamera::SceneCamera(const Vector4f& position, const Vector4f& target, const Vector4f& up,
                         float fovDegrees, int width, int height, float pixelAspect)
    : position(position), fovRadians(fovDegrees * std::numbers::pi_v<float> / 180.0f), width(width),
      height(height), pixelAspect(pixelAspect) {
    front = normalized(target - position);
    right = normalized(cross3(front, up));
    if (dot3(right, right) == 0.0f) {
        // Looking along the up direction: any perpendicular will do.
        right = normalized(cross3(front, Vector4f{1.0f, 0.0f, 0.0f, 0.0f}));
    }
    upward = cross3(right, front);
    tanHalf = std::tan(0.5f * fovRadians);
}

CameraRay SceneCamera::ray(float x, float y) const {
    const float scale = 2.0f * tanHalf / float(width);
    const float sx = (x - 0.5f * float(width)) * scale;
    const float yScale = scale * pixelAspect;
    const float sy = (0.5f * float(height) - y) * yScale;
    const Vector4f d = front + right * sx + upward * sy;
    const float length = std::sqrt(dot3(d, d));
    const Vector4f dir = d * (1.0f / length);
    // d(d/|d|) = (dd - dir (dir . dd)) / |d| for the change dd of the unnormalised direction.
    auto differential = [&](const Vector4f& dd) {
        return (dd - dir * dot3(dir, dd)) * (1.0f / length);
    };
    return {position, dir, differential(right * scale), differential(upward * -yScale)};
}

void SceneCamera::describe(KivoFrameData& frame) const {
    frame.cameraTransform.m.c0 = right;
    frame.cameraTransform.m.c1 = upward;
    frame.cameraTransform.m.c2 = -front;
    const Vector3d& o = frame.sceneOrigin;
    frame.cameraTransform.offs = {position.x - o.x, position.y - o.y, position.z - o.z};
    frame.cameraOrigin = {float(position.x - o.x), float(position.y - o.y), float(position.z - o.z),
                          0.0f};
    frame.fov = fovRadians;
}

} // namespace kivohost
