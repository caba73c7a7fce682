// Placement of a camera's image in UVW for the perspective projection: pixels to image
// coordinates, bitmap fit, pixel aspect, film gate, and the Jacobian that carries the screen
// differences of the position differentials back to world space. Free of any host object.
#pragma once

#include "kivo/Types.h"
#include "kivo/VectorMath.h"

namespace KUtils {

// The camera image as last seen in the frame data; sizes in pixels.
struct ProjectionImage {
    float overscanLeft = 0.0f;
    float overscanWidth = 0.0f;
    float overscanTop = 0.0f;
    float overscanHeight = 0.0f;
    int imageWidth = 0;
    int imageHeight = 0;
    float pixelAspect = 1.0f;
};

// How the projected picture sits on the image.
struct ImagePlacement {
    // Reciprocals of the projected image size in pixels (0 for a zero size).
    float invWidth = 0.0f;
    float invHeight = 0.0f;
    bool includeOverscan = false;
    // Bitmap fit applies only with a bitmap: fitFill 1 fits horizontally, 2 vertically.
    bool hasBitmap = false;
    int fitFill = 0;
    float bitmapOverCamera = 0.0f;
    float cameraOverBitmap = 0.0f;
    // fitType 1 matches the film gate aspect.
    int fitType = 0;
    float filmGateW = 1.0f;
    float filmGateH = 1.0f;
};

// a / b, or 0 when b is 0: an aspect or a ratio of aspects with a zero size is 0.
float ratioOrZero(float a, float b);

// Width over height of the overscan area (includeOverscan) or of the image.
float imageAspect(bool includeOverscan, const ProjectionImage& image);

// The aspect the bitmap is fitted to: the film gate's for fitType 1, else the image's.
float cameraAspect(int fitType, float filmGateW, float filmGateH, bool includeOverscan,
                   const ProjectionImage& image);

// bitmapOverCamera (x) and cameraOverBitmap (y) for a bitmap of the given pixel size.
Vector2f bitmapFitRatios(int bitmapWidth, int bitmapHeight, float cameraAspect);

// invWidth (x) and invHeight (y) of the overscan area or of the image.
Vector2f inverseImageSize(bool includeOverscan, const ProjectionImage& image);

// The screen step of one differential: the difference to the centre's screen position and
// its squared length, or no difference and an effectively infinite length when the camera
// did not map the stepped point.
struct ScreenStep {
    Vector2f diff;
    float lengthSq = 1e18f;
};
ScreenStep screenStep(int mapped, const Vector2f& stepped, const Vector2f& centre);

// The shorter of the forward step and the backward one (negated); ties take the backward.
Vector2f shorterDifference(const ScreenStep& forward, const ScreenStep& backward);

// The screen differences of the position differentials at a point p that maps to s: each of
// p +- dPdx and p +- dPdy is mapped with map(point, screen out) -> nonzero when it maps, and
// the shorter difference of each pair is taken, so a step the camera cannot map counts as
// infinitely long.
struct ScreenDifferences {
    Vector2f dx;
    Vector2f dy;
};
template <class MapToScreen>
ScreenDifferences screenDifferences(MapToScreen&& map, const Vector4f& p, const Vector2f& s,
                                    const Vector4f& dPdx, const Vector4f& dPdy) {
    const auto step = [&](const Vector4f& q) {
        Vector2f sq;
        const int mapped = map(q, sq);
        return screenStep(mapped, sq, s);
    };
    return {shorterDifference(step(p + dPdx), step(p - dPdx)),
            shorterDifference(step(p + dPdy), step(p - dPdy))};
}

// UVW of screen position s (pixels) and its Jacobian over world position, given the screen
// differences dx, dy of the position differentials dPdx, dPdy; the auxiliary normal carries
// w. Pixel aspect and film gate move v but do not enter the Jacobian. A degenerate
// [dPdx dPdy auxNormal] gives a zero Jacobian.
UVWTransform imageProjection(const ProjectionImage& image, const ImagePlacement& placement,
                             const Vector2f& s, const Vector2f& dx, const Vector2f& dy,
                             const Vector4f& dPdx, const Vector4f& dPdy, const Vector4f& auxNormal);

} // namespace KUtils
