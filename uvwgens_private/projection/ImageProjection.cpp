#include "projection/ImageProjection.h"

#include "kivo/VectorMath.h"

#include <cmath>
#include <limits>

namespace KUtils {

float ratioOrZero(float a, float b) {
    return b == 0.0f ? 0.0f : a / b;
}

float imageAspect(bool includeOverscan, const ProjectionImage& image) {
    return includeOverscan ? ratioOrZero(image.overscanWidth, image.overscanHeight)
                           : ratioOrZero(float(image.imageWidth), float(image.imageHeight));
}

float cameraAspect(int fitType, float filmGateW, float filmGateH, bool includeOverscan,
                   const ProjectionImage& image) {
    return fitType == 1 ? ratioOrZero(filmGateW, filmGateH) : imageAspect(includeOverscan, image);
}

Vector2f bitmapFitRatios(int bitmapWidth, int bitmapHeight, float cameraAspect) {
    const float bitmapAspect = ratioOrZero(float(bitmapWidth), float(bitmapHeight));
    return {ratioOrZero(bitmapAspect, cameraAspect), ratioOrZero(cameraAspect, bitmapAspect)};
}

Vector2f inverseImageSize(bool includeOverscan, const ProjectionImage& image) {
    if (includeOverscan) {
        return {ratioOrZero(1.0f, image.overscanWidth), ratioOrZero(1.0f, image.overscanHeight)};
    }
    return {ratioOrZero(1.0f, float(image.imageWidth)),
            ratioOrZero(1.0f, float(image.imageHeight))};
}

ScreenStep screenStep(int mapped, const Vector2f& stepped, const Vector2f& centre) {
    if (!mapped) {
        return {};
    }
    const Vector2f d{stepped.x - centre.x, stepped.y - centre.y};
    return {d, d.x * d.x + d.y * d.y};
}

Vector2f shorterDifference(const ScreenStep& forward, const ScreenStep& backward) {
    if (backward.lengthSq <= forward.lengthSq) {
        return {-backward.diff.x, -backward.diff.y};
    }
    return forward.diff;
}

UVWTransform imageProjection(const ProjectionImage& image, const ImagePlacement& placement,
                             const Vector2f& s, const Vector2f& dx, const Vector2f& dy,
                             const Vector4f& dPdx, const Vector4f& dPdy,
                             const Vector4f& auxNormal) {
    float w = placement.invWidth, h = placement.invHeight;
    float u = s.x * w, v = s.y * h;
    if (placement.includeOverscan) {
        u -= image.overscanLeft * w;
        v -= image.overscanTop * h;
    }
    if (placement.hasBitmap) {
        if (placement.fitFill == 1) {
            v = (v - 0.5f) * placement.bitmapOverCamera + 0.5f;
            h = h * placement.bitmapOverCamera;
        } else if (placement.fitFill == 2) {
            u = (u - 0.5f) * placement.cameraOverBitmap + 0.5f;
            w = w * placement.cameraOverBitmap;
        }
    }
    // A pixel aspect within one float epsilon of 1 counts as square.
    if (std::fabs(image.pixelAspect - 1.0f) > std::numeric_limits<float>::epsilon() &&
        image.pixelAspect != 0.0f) {
        v = (v - 0.5f) / image.pixelAspect + 0.5f;
    }
    if (placement.fitType == 1) {
        const float gate = ratioOrZero(placement.filmGateW, placement.filmGateH);
        v = (v - 0.5f) * ratioOrZero(gate, imageAspect(placement.includeOverscan, image)) + 0.5f;
    }

    UVWTransform result{{}, {}, {}, {u, 1.0f - v, 0.0f, 0.0f}};
    double inv[3][3];
    if (!inverse3x3(dPdx, dPdy, auxNormal, DetExpansion::FirstRow, inv)) {
        return result;
    }
    // B = [dPdx dPdy auxNormal] turns differential coordinates (a, b, c) into a world
    // displacement and D = [Dx Dy Dz] turns them into a uvw change, so J = D B^-1 maps a world
    // displacement to its uvw change. Columns of D: the uvw change per unit of dPdx, dPdy and
    // auxNormal.
    const double d[3][3] = {{double(dx.x * w), double(-dx.y * h), 0.0},
                            {double(dy.x * w), double(-dy.y * h), 0.0},
                            {0.0, 0.0, 1.0}};
    Vector4f* cols[3] = {&result.c0, &result.c1, &result.c2};
    for (int k = 0; k < 3; ++k) {
        double j[3] = {0.0, 0.0, 0.0};
        for (int i = 0; i < 3; ++i) {
            for (int row = 0; row < 3; ++row) {
                j[row] += d[i][row] * inv[i][k];
            }
        }
        *cols[k] = {float(j[0]), float(j[1]), float(j[2]), 0.0f};
    }
    return result;
}

} // namespace KUtils
