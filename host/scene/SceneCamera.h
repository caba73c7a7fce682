// The rendered view: a pinhole camera placed by position, target and up, with a horizontal
// field of view, giving primary rays and their direction differentials per pixel. A pixel spans
// pixelAspect times the angle vertically that it spans horizontally (the frame data's
// pixelAspect as the camera projection reads it back).
#pragma once

#include "kivo/HostSdk.h"
#include "kivo/Types.h"

namespace kivohost {

struct CameraRay {
    KUtils::Vector4f origin;
    // Unit direction and its change per pixel along x (right) and y (down).
    KUtils::Vector4f direction;
    KUtils::Vector4f dDdx;
    KUtils::Vector4f dDdy;
};

class SceneCamera {
public:
    SceneCamera(const KUtils::Vector4f& position, const KUtils::Vector4f& target,
                const KUtils::Vector4f& up, float fovDegrees, int width, int height,
                float pixelAspect = 1.0f);

    // The ray through image position (x, y) in pixels, x right and y down from the top left.
    CameraRay ray(float x, float y) const;
    // The viewing direction.
    const KUtils::Vector4f& forward() const { return front; }
    // Writes the placement into frame data (camera-to-world looking down -z, +y up, relative
    // to the frame's scene origin) so that camera samplers see this view.
    void describe(KUtils::KivoFrameData& frame) const;

private:
    KUtils::Vector4f position;
    KUtils::Vector4f front, right, upward;
    float fovRadians;
    float tanHalf;
    int width, height;
    float pixelAspect;
};

} // namespace kivohost
