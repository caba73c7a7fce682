// The mapping functions without a host: every projection type and the placement of a camera
// image.
#include "projection/ProjectionMapping.h"

#include "kivo/FloatMath.h"
#include "kivo/VectorMath.h"
#include "projection/ImageProjection.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace KUtils;

namespace {

// Not checked.
constexpr float X = std::numeric_limits<float>::quiet_NaN();

// A point mapped by mapProjection: the expected uvw and Jacobian columns c0, c1, c2 (NaN
// entries are not checked), within 1e-6 relative to the larger of 1 and the value.
struct Row {
    int type;
    Vector4f p, n;
    float uvw[3];
    float j[9] = {X, X, X, X, X, X, X, X, X};
    float uAngle = kPi, vAngle = kPi / 2;
};

void expectRows(const std::initializer_list<Row> rows) {
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message()
                     << "type " << r.type << " at " << r.p.x << "," << r.p.y << "," << r.p.z
                     << " normal " << r.n.x << "," << r.n.y << "," << r.n.z);
        const UVWTransform t = mapProjection(r.type, r.p, r.n, r.uAngle, r.vAngle);
        const float got[12] = {t.o.x,  t.o.y,  t.o.z,  t.c0.x, t.c0.y, t.c0.z,
                               t.c1.x, t.c1.y, t.c1.z, t.c2.x, t.c2.y, t.c2.z};
        for (int k = 0; k < 12; ++k) {
            EXPECT_TRUE(std::isfinite(got[k])) << k;
            const float want = k < 3 ? r.uvw[k] : r.j[k - 3];
            if (!std::isnan(want)) {
                EXPECT_NEAR(got[k], want, 1e-6f * std::max(1.0f, std::fabs(want)))
                    << (k < 3 ? "uvw " : "jacobian ") << k;
            }
        }
    }
}

} // namespace

// One or more hand-computed points of each type (1 planar, 2 spherical, 3 cylindrical, 4 ball,
// 5 cubic, 6 triplanar, 9 Quor cubic, 10 Quor box); the Jacobian columns elsewhere are checked
// against finite differences through the plugin.
TEST(ProjectionMapping, HandValuesOfEveryType) {
    const float r525 = std::sqrt(5.25f), r825 = std::sqrt(8.25f), r125 = std::sqrt(1.25f);
    const float pi = kPi;
    const Vector4f p{0.2f, 0.4f, 0.6f, 0};
    // clang-format off
    expectRows({
        {1, {0.2f, -0.4f, 1, 0}, {}, {0.6f, 0.3f, 1}, {0.5f, 0, 0, 0, 0.5f, 0, 0, 0, 0.5f}},
        // Spherical: u turns once around y from the -z side; v runs from -y to +y; w = r.
        {2, {1, 0, 0, 0}, {}, {0.75f, 0.5f, 1}, {0, 0, 1, 0, 1 / pi, 0, -0.5f / pi, 0, 0}},
        {2, {0, 1, 1, 0}, {}, {0.5f, 0.75f, std::sqrt(2.0f)}},
        {2, {0, 0, -3, 0}, {}, {1, 0.5f, 3}},
        // Cylindrical: the default u_angle makes u cover two units around the axis.
        {3, {1, 0.5f, 0, 0}, {}, {1, 0.75f, r125},
            {0, 0, 1 / r125, 0, 0.5f, 0.5f / r125, -1 / pi, 0, 0}},
        // Ball: the direction's angle from +z, laid out radially in the disc.
        {4, {1, 0, 1, 0}, {}, {0.625f, 0.5f, 0}},
        {4, {0, 3, 0, 0}, {}, {0.5f, 0.75f, 0}},
        {4, {-1, 0, -1, 0}, {}, {0.125f, 0.5f, 0}},
        // Cubic: the x faces (the negative one mirrors u and v and negates w), y and z faces;
        // |x| = |y| > |z|, |y| = |z| and |x| = |z| take the z face.
        {5, {2, 0.5f, -1, 0}, {}, {0.25f, 0.625f, r525},
            {0.125f, -0.0625f, 2 / r525, 0, 0.25f, 0.5f / r525, 0.25f, 0, -1 / r525}},
        {5, {-2, 0.5f, -1, 0}, {}, {0.25f, 0.625f, -r525}},
        {5, {0.5f, -2, 1, 0}, {}, {0.625f, 0.75f, -r525}},
        {5, {0.5f, 1, 2, 0}, {}, {0.625f, 0.75f, r525}},
        {5, {1, -1, 0.5f, 0}, {}, {1.5f, -0.5f, 1.5f}, {X, X, X, X, X, X, -2, 2, 0.5f / 1.5f}},
        {5, {0.5f, 2, 2, 0}, {}, {0.625f, 1, r825}},
        {5, {2, 0.5f, -2, 0}, {}, {1, 0.625f, -r825}},
        // Triplanar by the dominant axis of the normal; ties fall to the later axis.
        {6, p, {0.9f, 0.1f, 0.2f, 0}, {0.8f, 0.7f, 0.1f}, {0, 0, 0.5f, 0, 0.5f, 0, 0.5f, 0, 0}},
        {6, p, {0.1f, -0.9f, 0.2f, 0}, {0.6f, 0.8f, 0.2f}, {0.5f, 0, 0, 0, 0, 0.5f, 0, 0.5f, 0}},
        {6, p, {0.5f, 0.5f, 0.1f, 0}, {0.6f, 0.7f, 0.3f}},
        {6, p, {0.1f, -0.5f, 0.5f, 0}, {0.6f, 0.7f, 0.3f}},
        {6, p, {0.5f, 0.1f, -0.5f, 0}, {0.6f, 0.7f, 0.3f}},
        // Quor cubic and Quor box: the face and its sign from the normal; a zero normal takes
        // z with sign 0; a tie of x and y falls to z.
        {9, p, {-0.9f, 0.1f, 0.2f, 0}, {1.1f, 0.9f, 0.2f}, {0, 0, 1, 0, 1, 0, 1, 0, 0}},
        {9, p, {0.1f, 0.9f, 0.2f, 0}, {0.7f, -0.1f, 0.4f}, {1, 0, 0, 0, 0, 1, 0, -1, 0}},
        {9, p, {0.1f, 0.2f, -0.9f, 0}, {0.3f, 0.9f, 0.6f}, {-1, 0, 0, 0, 1, 0, 0, 0, 1}},
        {9, p, {}, {0.5f, 0.9f, 0.6f}, {0, 0, 0, 0, 1, 0, 0, 0, 1}},
        {10, p, {0.9f, 0.1f, 0.2f, 0}, {0.9f, 1.1f, 0.2f}, {0, 0, 1, 1, 0, 0, 0, 1, 0}},
        {10, p, {0, -0.8f, 0.3f, 0}, {0.7f, 1.1f, 0.4f}, {1, 0, 0, 0, 0, 1, 0, 1, 0}},
        {10, p, {0.1f, 0.2f, -0.9f, 0}, {0.7f, 0.1f, 0.6f}, {1, 0, 0, 0, -1, 0, 0, 0, 1}},
        {10, p, {}, {0.7f, 0.5f, 0.6f}, {1, 0, 0, 0, 0, 0, 0, 0, 1}},
        {10, p, {0.5f, -0.5f, -0.2f, 0}, {0.7f, 0.1f, 0.6f}},
        // Perspective (mapped elsewhere) and unnamed types: nothing.
        {8, p, {}, {0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {-1, p, {}, {0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
    });
    // clang-format on
}

// Where a formula has no value (a centre, an axis, a pole, a zero face, a zero angle) or its
// value exceeds the float range, the mapping stays finite: the undefined ratio counts as 0
// and a derivative that does not exist as 0.
TEST(ProjectionMapping, FiniteWhereTheFormulasBreakDown) {
    const float h = std::sqrt(0.5f), r18 = std::sqrt(18.0f);
    const float big = 1.5915494e36f; // 1 / (2 pi 1e-37)
    // clang-format off
    expectRows({
        // Centres.
        {1, {}, {}, {0.5f, 0.5f, 0.5f}},
        {2, {}, {}, {0.5f, 0.5f, 0}, {0, 0, 0, 0, 0, 0, X, X, X}},
        {3, {}, {}, {0.5f, 0.5f, 0}},
        {4, {}, {}, {0.5f, 0.5f, 0}, {0, 0, 0, X, X, X, X, X, X}},
        {5, {}, {}, {0.5f, 0.5f, 0}},
        {6, {}, {}, {0.5f, 0.5f, 0}},
        {9, {}, {}, {0.5f, 0.5f, 0}},
        {10, {}, {}, {0.5f, 0.5f, 0}},
        // Spherical poles: v at the end of its range, no azimuth derivative; a zero angle keeps
        // u or v at the middle.
        {2, {0, 2, 0, 0}, {}, {0.5f, 1, 2}, {0, 0, 0, X, X, X, X, X, X}},
        {2, {1e-30f, -1, 1e-30f, 0}, {}, {0.625f, 0, 1}},
        {2, {1, 1, 1, 0}, {}, {0.5f, 0.5f, std::sqrt(3.0f)}, {X, X, X, X, X, X, X, X, X}, 0, 0},
        // Cylindrical axis.
        {3, {0, 0, 2, 0}, {}, {0.5f, 0.5f, 0}, {0.5f / kPi, 0, 0, X, X, X, X, X, X}},
        // Ball poles; next to the +z pole it is continuous.
        {4, {0, 0, 3, 0}, {}, {0.5f, 0.5f, 0}, {0, 0, 0, X, X, X, X, X, X}},
        {4, {0, 0, -3, 0}, {}, {0.5f, 0.5f, 0}, {0, 0, 0, X, X, X, X, X, X}},
        {4, {1e-4f, 0, 3, 0}, {}, {0.5000053f, 0.5f, 0}},
        // Within about 1e-38 of the y axis an azimuth derivative (du/dx, du/dz) exceeds the
        // float range: the point counts as on the axis. A little farther out both are kept.
        {2, {1.4e-45f, -0.895f, 4.8e-41f, 0}, {}, {X, X, X}, {0, X, X, X, X, X, 0, X, X}},
        {3, {1.4e-45f, -0.895f, 4.8e-41f, 0}, {}, {X, X, X}, {0, X, X, X, X, X, 0, X, X}},
        {3, {-5e-40f, 1, 0, 0}, {}, {X, X, X}, {0, X, X, X, X, X, 0, X, X}},
        {2, {0, 1, 1e-37f, 0}, {}, {X, X, X}, {big, X, X, X, X, X, 0, X, X}},
        {3, {0, 1, 1e-37f, 0}, {}, {X, X, X}, {2 * big, X, X, X, X, X, 0, X, X}},
        {2, {-1e-37f, 0.5f, 0, 0}, {}, {X, X, X}, {0, X, X, X, X, X, big, X, X}},
        // The ball next to the centre and to the -z half of the axis: no derivatives, u and v
        // of the direction kept (on the diagonal 0.5 + 0.5 acos(1 / sqrt 3) / (pi sqrt 2)).
        // Farther out they stay: dv/dy = 0.5 / 1e-30.
        {4, {1.4e-45f, 1.4e-45f, 1.4e-45f, 0}, {}, {0.6075112f, 0.6075112f, 0},
            {0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {4, {1e-39f, 0, -1, 0}, {}, {1, 0.5f, 0}, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {4, {1e-30f, 0, -1, 0}, {}, {X, X, X}, {X, X, X, X, 5e29f, X, X, X, X}},
        // Cubic face ratios without a float value (a zero or tiny third component in a tie, a
        // denormal dominant one): the face centre and only the distance derivatives. A small
        // third component whose ratios fit the float range keeps them.
        {5, {1, 1, 0, 0}, {}, {0.5f, 0.5f, -std::sqrt(2.0f)}},
        {5, {0.5f, 0.5f, -9e-28f, 0}, {}, {0.5f, 0.5f, -h}, {0, 0, -h, 0, 0, -h, 0, 0, 0}},
        {5, {-3, 3, 1e-20f, 0}, {}, {0.5f, 0.5f, r18}, {0, 0, -h, 0, 0, h, 0, 0, 0}},
        {5, {-1e-39f, 0, 0, 0}, {}, {0.5f, 0.5f, 0}, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {5, {0, 2e-39f, -1e-39f, 0}, {}, {0.5f, 0.5f, 0}, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {5, {1, 1, 1e-10f, 0}, {}, {5e9f, X, X}, {X, X, X, X, X, X, -5e19f, X, X}},
    });
    // clang-format on
}

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
