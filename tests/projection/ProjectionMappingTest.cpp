// The mapping functions without a host: every projection type and the placement of a camera
// image.
#include "projection/ProjectionMapping.h"

#include "kivo/FloatMath.h"
#include "kivo/VectorMath.h"
#include "projection/ImageProjection.h"
#include "tests/rows/PluginRows.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

using namespace KUtils;

// Every type at hand-computed points, and finite where its formulas break down.
TEST(ProjectionMapping, HandValuesAndBreakdownPointsOfEveryType) {
    // ProjectionMapping.txt: its header says what the columns are.
    std::vector<std::vector<float>> table = rows::readTable(ROWS_DIR, "ProjectionMapping");
    ASSERT_GE(table.size(), 61u);
    for (std::vector<float>& r : table) {
        r.resize(21, NAN);
        SCOPED_TRACE(testing::Message()
                     << "type " << r[0] << " at " << r[1] << "," << r[2] << "," << r[3]
                     << " normal " << r[4] << "," << r[5] << "," << r[6]);
        const UVWTransform t =
            mapProjection(int(r[0]), {r[1], r[2], r[3], 0}, {r[4], r[5], r[6], 0},
                          std::isnan(r[19]) ? kPi : r[19], std::isnan(r[20]) ? kPi / 2 : r[20]);
        const float got[12] = {t.o.x,  t.o.y,  t.o.z,  t.c0.x, t.c0.y, t.c0.z,
                               t.c1.x, t.c1.y, t.c1.z, t.c2.x, t.c2.y, t.c2.z};
        for (int k = 0; k < 12; ++k) {
            EXPECT_TRUE(std::isfinite(got[k])) << k;
            const float want = r[7 + k];
            if (!std::isnan(want)) {
                EXPECT_NEAR(got[k], want, 1e-6f * std::max(1.0f, std::fabs(want)))
                    << (k < 3 ? "uvw " : "jacobian ") << k;
            }
        }
    }
}

namespace {

ProjectionImage image640() {
    return {.overscanLeft = -32,
            .overscanWidth = 704,
            .overscanTop = -24,
            .overscanHeight = 528,
            .imageWidth = 640,
            .imageHeight = 480};
}

ImagePlacement placementFor(const ProjectionImage& image) {
    ImagePlacement placement;
    const Vector2f inverse = inverseImageSize(false, image);
    placement.invWidth = inverse.x;
    placement.invHeight = inverse.y;
    return placement;
}

} // namespace

// Zero sizes give ratio 0 rather than a division by zero, and finite coordinates (the plugin
// shows the aspects of the gate, the image and the overscan area).
TEST(ImageProjection, ZeroSizes) {
    EXPECT_EQ(cameraAspect(1, 36, 0, false, image640()), 0.0f);
    for (const Vector2f r : {bitmapFitRatios(1024, 0, 4.0f / 3.0f), bitmapFitRatios(1024, 512, 0),
                             inverseImageSize(false, ProjectionImage{})}) {
        EXPECT_EQ(r.x, 0.0f);
        EXPECT_EQ(r.y, 0.0f);
    }
    ImagePlacement gate = placementFor(ProjectionImage{});
    gate.fitType = 1;
    const UVWTransform t = imageProjection(ProjectionImage{}, gate, {320, 120}, {3, 1}, {-1, 4},
                                           {0.5f, 0, 0, 0}, {0, 0.25f, 0, 0}, {0, 0, 2, 0});
    EXPECT_TRUE(std::isfinite(t.o.x) && std::isfinite(t.o.y));
}

// The shorter of the forward step and the negated backward one; equal lengths take the
// backward one; a step the camera could not map is infinitely long.
TEST(ImageProjection, ShorterScreenDifference) {
    const Vector2f c{100, 50};
    const struct {
        ScreenStep forward, backward;
        Vector2f expected;
    } rows[] = {
        {screenStep(1, {103, 54}, c), screenStep(1, {99, 50}, c), {1, 0}},
        {screenStep(1, {100, 52}, c), screenStep(1, {98, 50}, c), {2, 0}},
        {screenStep(1, {100, 52}, c), screenStep(1, {98, 49.5f}, c), {0, 2}},
        {screenStep(1, {103, 54}, c), screenStep(0, {0, 0}, c), {3, 4}},
        {screenStep(0, {0, 0}, c), screenStep(1, {99, 50}, c), {1, 0}},
    };
    for (const auto& r : rows) {
        const Vector2f d = shorterDifference(r.forward, r.backward);
        EXPECT_FLOAT_EQ(d.x, r.expected.x);
        EXPECT_FLOAT_EQ(d.y, r.expected.y);
    }
}

// (The Jacobian itself is checked against differences through the plugin.)
TEST(ImageProjection, JacobianIgnoresAspectAndGateAndVanishesForADegenerateFrame) {
    const ProjectionImage image = image640();
    // Pixel aspect and film gate move v but not the Jacobian.
    const Vector4f dPdx{0.5f, 0, 0, 0}, dPdy{0, 0.25f, 0, 0}, aux{0, 0, 2, 0};
    ProjectionImage wide = image;
    wide.pixelAspect = 2.0f;
    ImagePlacement gate = placementFor(wide);
    gate.fitType = 1;
    gate.filmGateW = 36;
    gate.filmGateH = 24;
    const UVWTransform plain =
        imageProjection(image, placementFor(image), {320, 120}, {3, 1}, {-1, 4}, dPdx, dPdy, aux);
    const UVWTransform moved =
        imageProjection(wide, gate, {320, 120}, {3, 1}, {-1, 4}, dPdx, dPdy, aux);
    EXPECT_NE(plain.o.y, moved.o.y);
    EXPECT_EQ(plain.c0.y, moved.c0.y);
    EXPECT_EQ(plain.c1.y, moved.c1.y);

    // A degenerate frame (dPdy parallel to dPdx) gives a zero Jacobian and a valid uvw.
    const UVWTransform t = imageProjection(image, placementFor(image), {320, 120}, {3, 1}, {-1, 4},
                                           dPdx, dPdx * 2.0f, aux);
    EXPECT_FLOAT_EQ(t.o.y, 0.75f);
    for (const Vector4f* col : {&t.c0, &t.c1, &t.c2}) {
        EXPECT_EQ(col->x, 0.0f);
        EXPECT_EQ(col->y, 0.0f);
        EXPECT_EQ(col->z, 0.0f);
    }
}
