#include "projection/ImageProjection.h"

#include "frame/VectorMath.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>

using namespace KUtils;

namespace {

ProjectionImage image640() {
    ProjectionImage image;
    image.imageWidth = 640;
    image.imageHeight = 480;
    image.overscanLeft = -32;
    image.overscanTop = -24;
    image.overscanWidth = 704;
    image.overscanHeight = 528;
    return image;
}

ImagePlacement placementFor(const ProjectionImage& image, bool overscan = false) {
    ImagePlacement placement;
    placement.includeOverscan = overscan;
    const Vector2f inverse = inverseImageSize(overscan, image);
    placement.invWidth = inverse.x;
    placement.invHeight = inverse.y;
    return placement;
}

const Vector4f kDPdx{0.5f, 0, 0, 0}, kDPdy{0, 0.25f, 0, 0}, kAux{0, 0, 2, 0};

UVWTransform project(const ProjectionImage& image, const ImagePlacement& placement, Vector2f s) {
    return imageProjection(image, placement, s, {3, 1}, {-1, 4}, kDPdx, kDPdy, kAux);
}

} // namespace

TEST(ImageProjection, AspectsRatiosAndInverseSizes) {
    const ProjectionImage image = image640();
    EXPECT_FLOAT_EQ(imageAspect(false, image), 640.0f / 480.0f);
    EXPECT_FLOAT_EQ(imageAspect(true, image), 704.0f / 528.0f);
    EXPECT_FLOAT_EQ(cameraAspect(1, 36, 24, false, image), 1.5f);
    EXPECT_FLOAT_EQ(cameraAspect(2, 36, 24, false, image), 640.0f / 480.0f);
    EXPECT_FLOAT_EQ(cameraAspect(0, 36, 24, true, image), 704.0f / 528.0f);

    Vector2f r = bitmapFitRatios(1024, 512, 4.0f / 3.0f);
    EXPECT_FLOAT_EQ(r.x, 1.5f);
    EXPECT_FLOAT_EQ(r.y, 2.0f / 3.0f);
    // Zero sizes give ratio 0 rather than a division by zero.
    r = bitmapFitRatios(1024, 0, 4.0f / 3.0f);
    EXPECT_EQ(r.x, 0.0f);
    EXPECT_EQ(r.y, 0.0f);
    r = bitmapFitRatios(1024, 512, 0.0f);
    EXPECT_EQ(r.x, 0.0f);
    EXPECT_EQ(r.y, 0.0f);
    EXPECT_EQ(cameraAspect(1, 36, 0, false, image), 0.0f);

    Vector2f inv = inverseImageSize(false, image);
    EXPECT_FLOAT_EQ(inv.x, 1.0f / 640);
    EXPECT_FLOAT_EQ(inv.y, 1.0f / 480);
    inv = inverseImageSize(true, image);
    EXPECT_FLOAT_EQ(inv.x, 1.0f / 704);
    ProjectionImage empty;
    inv = inverseImageSize(false, empty);
    EXPECT_EQ(inv.x, 0.0f);
    EXPECT_EQ(inv.y, 0.0f);
    EXPECT_EQ(imageAspect(false, empty), 0.0f);
}

TEST(ImageProjection, ShorterScreenDifference) {
    const Vector2f centre{100, 50};
    const ScreenStep forward = screenStep(1, {103, 54}, centre);
    EXPECT_FLOAT_EQ(forward.lengthSq, 25.0f);
    const ScreenStep backward = screenStep(1, {99, 50}, centre);
    Vector2f d = shorterDifference(forward, backward);
    EXPECT_FLOAT_EQ(d.x, 1.0f);
    EXPECT_FLOAT_EQ(d.y, 0.0f);
    // Equal lengths take the backward step; a longer backward one the forward step.
    d = shorterDifference(screenStep(1, {100, 52}, centre), screenStep(1, {98, 50}, centre));
    EXPECT_FLOAT_EQ(d.x, 2.0f);
    EXPECT_FLOAT_EQ(d.y, 0.0f);
    d = shorterDifference(screenStep(1, {100, 52}, centre), screenStep(1, {98, 49.5f}, centre));
    EXPECT_FLOAT_EQ(d.x, 0.0f);
    EXPECT_FLOAT_EQ(d.y, 2.0f);
    // A step the camera could not map is infinitely long.
    const ScreenStep unmapped = screenStep(0, {0, 0}, centre);
    EXPECT_FLOAT_EQ(unmapped.lengthSq, 1e18f);
    d = shorterDifference(forward, unmapped);
    EXPECT_FLOAT_EQ(d.x, 3.0f);
    EXPECT_FLOAT_EQ(d.y, 4.0f);
    d = shorterDifference(unmapped, backward);
    EXPECT_FLOAT_EQ(d.x, 1.0f);
}

TEST(ImageProjection, ImageCoordinatesFitAspectAndGate) {
    const ProjectionImage image = image640();
    ImagePlacement placement = placementFor(image);
    UVWTransform t = project(image, placement, {320, 120});
    EXPECT_FLOAT_EQ(t.o.x, 0.5f);
    EXPECT_FLOAT_EQ(t.o.y, 0.75f);
    EXPECT_EQ(t.o.z, 0.0f);

    // Overscan: coordinates across the overscan area.
    const ImagePlacement over = placementFor(image, true);
    t = project(image, over, {320, 120});
    EXPECT_FLOAT_EQ(t.o.x, 0.5f);
    EXPECT_FLOAT_EQ(t.o.y, 1.0f - 144.0f / 528.0f);

    // Bitmap fit applies only with a bitmap.
    placement.fitFill = 1;
    placement.bitmapOverCamera = 2.0f;
    placement.cameraOverBitmap = 0.5f;
    EXPECT_FLOAT_EQ(project(image, placement, {320, 120}).o.y, 0.75f);
    placement.hasBitmap = true;
    t = project(image, placement, {480, 120});
    EXPECT_FLOAT_EQ(t.o.x, 0.75f);
    EXPECT_FLOAT_EQ(t.o.y, 1.0f); // v = (0.25 - 0.5) * 2 + 0.5 = 0
    placement.fitFill = 2;
    t = project(image, placement, {480, 120});
    EXPECT_FLOAT_EQ(t.o.x, 0.625f); // (0.75 - 0.5) * 0.5 + 0.5
    EXPECT_FLOAT_EQ(t.o.y, 0.75f);
    placement.fitFill = 0;
    EXPECT_FLOAT_EQ(project(image, placement, {480, 120}).o.x, 0.75f);

    // Pixel aspect moves v about the centre; 1 (within float epsilon) and 0 do not.
    ProjectionImage wide = image;
    wide.pixelAspect = 2.0f;
    placement = placementFor(wide);
    EXPECT_FLOAT_EQ(project(wide, placement, {320, 120}).o.y, 0.625f);
    for (float aspect : {1.0f + 1e-7f, 0.0f}) {
        wide.pixelAspect = aspect;
        EXPECT_FLOAT_EQ(project(wide, placement, {320, 120}).o.y, 0.75f);
    }

    // Film gate 36 x 24 against the 4:3 image: v scaled by 1.5 / (4 / 3) = 1.125.
    placement = placementFor(image);
    placement.fitType = 1;
    placement.filmGateW = 36;
    placement.filmGateH = 24;
    EXPECT_FLOAT_EQ(project(image, placement, {320, 120}).o.y, 1.0f - 0.21875f);
    placement.fitType = 2;
    EXPECT_FLOAT_EQ(project(image, placement, {320, 120}).o.y, 0.75f);
    // Against the overscan aspect with overscan included.
    ImagePlacement gate = placementFor(image, true);
    gate.fitType = 1;
    gate.filmGateW = 36;
    gate.filmGateH = 24;
    const float v = 144.0f / 528.0f;
    EXPECT_NEAR(project(image, gate, {320, 120}).o.y,
                1.0f - ((v - 0.5f) * (1.5f / (704.0f / 528.0f)) + 0.5f), 1e-6f);
    // Zero image sizes stay finite.
    ProjectionImage empty;
    ImagePlacement none = placementFor(empty);
    none.fitType = 1;
    t = project(empty, none, {320, 120});
    EXPECT_TRUE(std::isfinite(t.o.x) && std::isfinite(t.o.y));
}

TEST(ImageProjection, JacobianCarriesScreenStepsBackToWorld) {
    const ProjectionImage image = image640();
    ImagePlacement placement = placementFor(image);
    UVWTransform t = project(image, placement, {320, 120});
    // B = diag(0.5, 0.25, 2): J = [Dx Dy Dz] * B^-1.
    EXPECT_FLOAT_EQ(t.c0.x, 6.0f / 640);
    EXPECT_FLOAT_EQ(t.c0.y, -2.0f / 480);
    EXPECT_FLOAT_EQ(t.c1.x, -4.0f / 640);
    EXPECT_FLOAT_EQ(t.c1.y, -16.0f / 480);
    EXPECT_FLOAT_EQ(t.c2.z, 0.5f);

    // Any non-degenerate frame: J * dPdx = Dx, J * dPdy = Dy, J * auxNormal = Dz.
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> c(-1.0f, 1.0f);
    placement.hasBitmap = true;
    placement.fitFill = 1;
    placement.bitmapOverCamera = 1.7f;
    for (int i = 0; i < 50; ++i) {
        const Vector4f dx{c(rng), c(rng), c(rng), 0}, dy{c(rng), c(rng), c(rng), 0};
        const Vector4f aux = cross3(dx, dy);
        if (dot3(aux, aux) < 0.01f) {
            continue;
        }
        const Vector2f sx{c(rng) * 5, c(rng) * 5}, sy{c(rng) * 5, c(rng) * 5};
        t = imageProjection(image, placement, {100, 100}, sx, sy, dx, dy, aux);
        const float h = 1.7f / 480;
        const Vector4f jx = applyLinear(t, dx), jy = applyLinear(t, dy), jz = applyLinear(t, aux);
        EXPECT_NEAR(jx.x, sx.x / 640, 1e-5f);
        EXPECT_NEAR(jx.y, -sx.y * h, 1e-5f);
        EXPECT_NEAR(jy.x, sy.x / 640, 1e-5f);
        EXPECT_NEAR(jy.y, -sy.y * h, 1e-5f);
        EXPECT_NEAR(jz.z, 1.0f, 1e-4f);
        EXPECT_NEAR(jz.x, 0.0f, 1e-4f);
    }

    // Pixel aspect and film gate move v but not the Jacobian.
    ProjectionImage wide = image;
    wide.pixelAspect = 2.0f;
    ImagePlacement gate = placementFor(wide);
    gate.fitType = 1;
    gate.filmGateW = 36;
    gate.filmGateH = 24;
    const UVWTransform plain = project(image, placementFor(image), {320, 120});
    const UVWTransform moved = project(wide, gate, {320, 120});
    EXPECT_NE(plain.o.y, moved.o.y);
    EXPECT_EQ(plain.c0.y, moved.c0.y);
    EXPECT_EQ(plain.c1.y, moved.c1.y);

    // A degenerate frame (dPdy parallel to dPdx) gives a zero Jacobian and a valid uvw.
    t = imageProjection(image, placementFor(image), {320, 120}, {3, 1}, {-1, 4}, kDPdx,
                        kDPdx * 2.0f, kAux);
    EXPECT_FLOAT_EQ(t.o.y, 0.75f);
    for (const Vector4f* col : {&t.c0, &t.c1, &t.c2}) {
        EXPECT_EQ(col->x, 0.0f);
        EXPECT_EQ(col->y, 0.0f);
        EXPECT_EQ(col->z, 0.0f);
    }
}
