#include "ostrel/OstrelMath.h"

#include "OstrelTestSupport.h"
#include "kivo/VectorMath.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <random>

using namespace KUtils;
using namespace ostreltest;

namespace {

// Right-handed rotation of v about coordinate axis k by a radians (the textbook definition:
// the two other coordinates, in cyclic order, turn like the plane's x and y).
void rotate(int k, double a, double v[3]) {
    const int i = (k + 1) % 3, j = (k + 2) % 3;
    const double vi = v[i], vj = v[j];
    v[i] = std::cos(a) * vi - std::sin(a) * vj;
    v[j] = std::sin(a) * vi + std::cos(a) * vj;
}

} // namespace

TEST(OstrelMath, BuildPlacementRotatesZThenYThenXAfterSizeAndOffset) {
    std::mt19937 gen(20111003);
    std::uniform_real_distribution<float> angle(-7.0f, 7.0f), coord(-10.0f, 10.0f),
        size(0.2f, 5.0f);
    for (int i = 0; i < 200; ++i) {
        const Vector4f o{coord(gen), coord(gen), coord(gen), 0.0f};
        const Vector4f th{angle(gen), angle(gen), angle(gen), 0.0f};
        Vector4f d{size(gen), size(gen), size(gen), 0.0f};
        if (i % 2) {
            d.y = -d.y; // mirrored axis
        }
        const Vector4f p{coord(gen), coord(gen), coord(gen), 0.0f};

        double v[3] = {double(p.x) / d.x + o.x, double(p.y) / d.y + o.y, double(p.z) / d.z + o.z};
        const double tol = 2e-5 * (std::fabs(v[0]) + std::fabs(v[1]) + std::fabs(v[2]) + 1.0);
        rotate(2, th.z, v);
        rotate(1, th.y, v);
        rotate(0, th.x, v);
        const Vector4f got = applyPoint(buildPlacement(o, th, d), p);
        EXPECT_NEAR(got.x, v[0], tol) << i;
        EXPECT_NEAR(got.y, v[1], tol) << i;
        EXPECT_NEAR(got.z, v[2], tol) << i;
    }
}

TEST(OstrelMath, BuildPlacementAtZeroAnglesIsScaleAndOffsetWithPositiveZeros) {
    const UVWTransform t = buildPlacement({1.0f, -2.0f, 0.5f, 0.0f}, {}, {2.0f, 4.0f, 0.5f, 0.0f});
    EXPECT_TRUE(t.c0.x == 0.5f && t.c1.y == 0.25f && t.c2.z == 2.0f);
    EXPECT_TRUE(t.o.x == 1.0f && t.o.y == -2.0f && t.o.z == 0.5f);
    // Off-diagonal lanes are +0 (they reach the GPU text, where -0 would print as "-0.000000").
    for (float lane : {t.c0.y, t.c0.z, t.c1.x, t.c1.z, t.c2.x, t.c2.y}) {
        EXPECT_EQ(lane, 0.0f);
        EXPECT_FALSE(std::signbit(lane));
    }
}

TEST(OstrelMath, NoiseHashWrapsModulo2To32) {
    EXPECT_EQ(noiseHash(0), 0u);
    EXPECT_EQ(noiseHash(1), 804952u);
    EXPECT_EQ(noiseHash(6), 8133222u); // 6 * (15731*36 + 789221)
    // 65536^2 wraps to 0: 65536 * (0 + 789221) mod 2^32 = (789221 mod 65536) * 65536.
    EXPECT_EQ(noiseHash(65536), (789221u % 65536u) * 65536u);
}

TEST(OstrelMath, RandSequenceReproducesTheRuntimeGenerator) {
    RandSequence one(1); // the runtime's well-known first values after srand(1)
    EXPECT_EQ(one.next(), 41);
    EXPECT_EQ(one.next(), 18467);
    EXPECT_EQ(one.next(), 6334);

    RandSequence rng(804952);
    for (int expected : DRAWS_SEED_1) {
        EXPECT_EQ(rng.next(), expected);
    }
    RandSequence zero(0);
    EXPECT_EQ(zero.next(), 38);
    EXPECT_EQ(zero.next(), 7719);

    EXPECT_EQ(signedUnit(0), -1.0f);
    EXPECT_EQ(signedUnit(32767), 1.0f);
    EXPECT_NEAR(signedUnit(7233), -0.558519, 1e-6);
}

TEST(OstrelMath, DrawPlacementUsesNineDrawsOrSevenWithXyzLock) {
    // Offsets, angles, sizes.
    const Placement base{{10.0f, 20.0f, 30.0f, 0.0f}, {0.1f, 0.2f, 0.3f, 0.0f}, {1, 2, 3, 0}};
    const Placement amp{{1, 2, 3, 0}, {0.5f, 0.25f, 0.125f, 0.0f}, {0.5f, 0.75f, 0.25f, 0.0f}};
    const int* r = DRAWS_SEED_1;

    RandSequence free(804952);
    const Placement p = drawPlacement(base, amp, false, free);
    EXPECT_EQ(free.next(), r[9]);
    EXPECT_EQ(p.offset.x, unit(r[0]) * 1.0f + 10.0f);
    EXPECT_EQ(p.offset.y, unit(r[1]) * 2.0f + 20.0f);
    EXPECT_EQ(p.offset.z, unit(r[2]) * 3.0f + 30.0f);
    EXPECT_EQ(p.angles.x, 0.1f + unit(r[3]) * 0.5f);
    EXPECT_EQ(p.angles.y, 0.2f + unit(r[4]) * 0.25f);
    EXPECT_EQ(p.angles.z, 0.3f + unit(r[5]) * 0.125f);
    EXPECT_EQ(p.sizes.x, unit(r[6]) * 0.5f + 1.0f);
    EXPECT_EQ(p.sizes.y, unit(r[7]) * 0.75f + 2.0f);
    EXPECT_EQ(p.sizes.z, unit(r[8]) * 0.25f + 3.0f);
    EXPECT_NEAR(p.offset.x, 9.441481, 1e-5);

    RandSequence locked(804952);
    const Placement q = drawPlacement(base, amp, true, locked);
    EXPECT_EQ(locked.next(), r[7]);
    const float d = unit(r[6]) * 0.5f; // one draw scaled by the x amplitude for all axes
    EXPECT_EQ(q.sizes.x, 1.0f + d);
    EXPECT_EQ(q.sizes.y, 2.0f + d);
    EXPECT_EQ(q.sizes.z, 3.0f + d);
    EXPECT_EQ(q.angles.z, p.angles.z);
}

// Fixed sizes keep their sign and a minimum magnitude (the plugin shows 0, a tiny negative and
// a negative size); random sizes are bounded without mirroring.
TEST(OstrelMath, SizesAreBounded) {
    EXPECT_EQ(boundFixedSize(-0.0f), 0.0001f);
    EXPECT_EQ(boundFixedSize(0.00005f), 0.0001f);
    EXPECT_EQ(boundFixedSize(3.5f), 3.5f);

    Placement base; // sizes 0
    Placement amp;
    amp.sizes = {5.0f, 5.0f, 5.0f, 0.0f};
    // noiseHash(1) seeds 804952: the size draws 6282, 30622, 19594 give -3.08, 4.35, 0.98.
    const UVWTransform t = randomPlacement(base, amp, false, 1);
    EXPECT_EQ(t.c0.x, 1.0f / 0.0001f);
    EXPECT_FLOAT_EQ(t.c1.y, 1.0f / (unit(30622) * 5.0f));
    EXPECT_FLOAT_EQ(t.c2.z, 1.0f / (unit(19594) * 5.0f));
    EXPECT_EQ(t.o.x, 0.0f);

    // Seed 0 hashes to 0: a valid, fixed sequence too.
    const UVWTransform z = randomPlacement(base, amp, true, 0);
    EXPECT_FLOAT_EQ(z.c0.x, 1.0f / std::max(0.0001f, unit(RandSequence(0).next()) * 5.0f));
    EXPECT_TRUE(std::isfinite(z.c0.x) && std::isfinite(z.c1.y) && std::isfinite(z.c2.z));
}

TEST(OstrelMath, TilingModes) {
    const struct {
        int mode;
        float in, out;
    } rows[] = {
        {TILE_NONE, -3.5f, -3.5f},    {TILE_CLAMP, -0.5f, 0.0f},   {TILE_CLAMP, 1.7f, 1.0f},
        {TILE_REPEAT, -0.25f, 0.75f}, {TILE_REPEAT, -3.0f, 0.0f},  {TILE_REPEAT, 2.5f, 0.5f},
        {TILE_REPEAT, 1e20f, 0.0f},   {TILE_REPEAT, -1e20f, 0.0f}, {TILE_MIRROR, 1.25f, 0.75f},
        {TILE_MIRROR, -1.25f, 0.75f}, {TILE_MIRROR, 3e9f, 0.0f},   {TILE_MIRROR, 1e30f, 0.0f},
        {TILE_CROP, 0.0f, 0.0f},      {TILE_CROP, 1.0f, 1.0f},     {7, 12.5f, 12.5f},
        {-1, -12.5f, -12.5f},
    };
    for (const auto& row : rows) {
        float x = row.in;
        EXPECT_TRUE(tileCoordinate(x, row.mode)) << row.mode << " " << row.in;
        EXPECT_EQ(x, row.out) << row.mode << " " << row.in;
    }
    for (float rejected : {-0.01f, 1.01f}) {
        float x = rejected;
        EXPECT_FALSE(tileCoordinate(x, TILE_CROP));
        EXPECT_EQ(x, rejected);
    }
    for (int mode : {TILE_REPEAT, TILE_MIRROR}) {
        float x = std::numeric_limits<float>::quiet_NaN(); // no undefined conversion
        EXPECT_TRUE(tileCoordinate(x, mode));
        EXPECT_TRUE(std::isnan(x));
    }
    // A rejection on one axis tiles none, not even the axes before it.
    const int modes[3] = {TILE_REPEAT, TILE_CROP, TILE_CLAMP};
    Vector4f rejected{1.25f, 1.5f, 2.0f, 0.0f};
    EXPECT_FALSE(tileCoordinates(rejected, modes));
    EXPECT_EQ(rejected.x, 1.25f);
}

// The plugin shows a footprint with one negative step; with both negative the box still
// reaches back to 0.
TEST(OstrelMath, FootprintExtentIncludesTheOrigin) {
    const Vector4f e = footprintExtent({-1.0f, -1.0f, 0.5f, 9.0f}, {-2.0f, -0.5f, 0.25f, 9.0f});
    EXPECT_EQ(e.x, 2.0f);
    EXPECT_EQ(e.y, 1.0f);
    EXPECT_EQ(e.z, 0.5f);
    EXPECT_EQ(e.w, 0.0f);
}
