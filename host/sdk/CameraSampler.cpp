// The host's default camera sampler: a pinhole camera placed by the frame data. Points and
// the camera placement are relative to the frame's scene origin; the camera looks down -z of
// its camera-to-world matrix with +y up; fov is the horizontal angle across the image width.
// Screen positions are in pixels, x to the right and y down, the image centre at
// (width / 2, height / 2); pixels are square.
#include "kivo/ShadingContext.h"
#include "kivo/VectorMath.h"

#include <cmath>
#include <numbers>

namespace KUtils {

namespace {

class PinholeCamera final : public KivoCamera {
public:
    int mapToScreen(const ShadingContext& sc, const Vector4f& point,
                    Vector2f& screen) const override;
    void prepareCameraFrame(KivoRenderer* renderer) override;
    void initCamera(KivoRenderer* renderer, KivoSequenceData& sequenceData,
                    KivoFrameData& frameData) override;

private:
    void place(const KivoFrameData& frame);

    // World-to-camera matrix (rows), the camera position, and the projection scale.
    double toCamera[3][3] = {};
    Vector3d origin;
    double focal = 0.0;
    double centreX = 0.0, centreY = 0.0;
    // False for a degenerate placement (singular matrix, field of view outside (0, pi)):
    // nothing maps.
    bool placed = false;
};

void PinholeCamera::place(const KivoFrameData& frame) {
    const Matrix3x3f& m = frame.cameraTransform.m;
    const double halfFov = double(frame.fov) / 2.0;
    placed = halfFov > 0.0 && halfFov < std::numbers::pi / 2 &&
             inverse3x3(m.c0, m.c1, m.c2, DetExpansion::FirstRow, toCamera);
    if (!placed) {
        return;
    }
    origin = frame.cameraTransform.offs;
    centreX = frame.imageWidth / 2.0;
    centreY = frame.imageHeight / 2.0;
    focal = centreX / std::tan(halfFov);
}

int PinholeCamera::mapToScreen(const ShadingContext&, const Vector4f& point,
                               Vector2f& screen) const {
    if (!placed) {
        return 0;
    }
    const double d[3] = {point.x - origin.x, point.y - origin.y, point.z - origin.z};
    double c[3];
    for (int r = 0; r < 3; ++r) {
        c[r] = toCamera[r][0] * d[0] + toCamera[r][1] * d[1] + toCamera[r][2] * d[2];
    }
    const double depth = -c[2];
    if (!(depth > 0.0)) {
        return 0;
    }
    screen = {float(centreX + focal * c[0] / depth), float(centreY - focal * c[1] / depth)};
    return 1;
}

void PinholeCamera::prepareCameraFrame(KivoRenderer* renderer) {
    if (renderer && renderer->frameData) {
        place(*renderer->frameData);
    }
}

void PinholeCamera::initCamera(KivoRenderer*, KivoSequenceData&, KivoFrameData& frameData) {
    place(frameData);
}

} // namespace

// Every camera type is a pinhole here; the sampler mode and the base camera are not used.
KivoCamera* newDefaultCameraSampler(int, int, KivoCamera*) {
    return new PinholeCamera;
}

void deleteDefaultCameraSampler(KivoCamera* camera) {
    delete camera;
}

} // namespace KUtils
