// The host's default camera sampler: a pinhole camera placed by the frame data. Points and
// the camera placement are relative to the frame's scene origin; the camera looks down -z of
// its camera-to-world matrix with +y up; fov is the horizontal angle across the image width.
// Screen positions are in pixels, x to the right and y down, the image centre at
// (width / 2, height / 2); pixels are square.
#include "kivo/ShadingContext.h"

#include <cmath>

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
    const double a[3][3] = {
        {m.c0.x, m.c1.x, m.c2.x}, {m.c0.y, m.c1.y, m.c2.y}, {m.c0.z, m.c1.z, m.c2.z}};
    const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                       a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                       a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    const double halfFov = double(frame.fov) / 2.0;
    placed = det != 0.0 && halfFov > 0.0 && halfFov < 1.5707963267948966;
    if (!placed) {
        return;
    }
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
            toCamera[r][c] = (a[r1][c1] * a[r2][c2] - a[r1][c2] * a[r2][c1]) / det;
        }
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
