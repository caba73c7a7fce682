// The environment mapping functions on their own, against values worked out by hand from the
// mapping formulas (in double precision, so comparisons allow a few float ulps).
#include "environment/EnvMapping.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

using namespace KUtils;

constexpr float kTol = 2e-6f;

struct Expected {
    Vector4f dir;
    float u;
    float v;
};

void expectMaps(int type, const Expected& e) {
    const Vector4f r = mapDirection(type, e.dir);
    EXPECT_NEAR(r.x, e.u, kTol) << "type " << type << " dir " << e.dir.x << "," << e.dir.y << ","
                                << e.dir.z;
    EXPECT_NEAR(r.y, e.v, kTol) << "type " << type << " dir " << e.dir.x << "," << e.dir.y << ","
                                << e.dir.z;
    EXPECT_EQ(r.z, 0.0f);
}

bool isFinite(const Vector4f& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) && std::isfinite(v.w);
}

TEST(EnvMapping, NamesAreMatchedExactly) {
    EXPECT_EQ(findEnvMappingType("angular"), 0);
    EXPECT_EQ(findEnvMappingType("cubic"), 1);
    EXPECT_EQ(findEnvMappingType("spherical"), 2);
    EXPECT_EQ(findEnvMappingType("mirror_ball"), 3);
    EXPECT_EQ(findEnvMappingType("screen"), 4);
    EXPECT_EQ(findEnvMappingType("max_spherical"), 5);
    EXPECT_EQ(findEnvMappingType("spherical_kivo"), 6);
    EXPECT_EQ(findEnvMappingType("max_cylindrical"), 7);
    EXPECT_EQ(findEnvMappingType("max_shrink_wrap"), 8);
    EXPECT_EQ(findEnvMappingType("Spherical"), -1);
    EXPECT_EQ(findEnvMappingType("spherical "), -1);
    EXPECT_EQ(findEnvMappingType(""), -1);
    EXPECT_EQ(findEnvMappingType(nullptr), -1);
}

TEST(EnvMapping, NormalizeHelpers) {
    Vector4f n = safeNormalize({3.0f, 0.0f, 4.0f, 0.0f});
    EXPECT_FLOAT_EQ(n.x, 0.6f);
    EXPECT_FLOAT_EQ(n.z, 0.8f);
    // No length to divide by: returned unchanged.
    n = safeNormalize({});
    EXPECT_EQ(n.x, 0.0f);
    n = safeNormalize({1e-30f, 0.0f, 0.0f, 0.0f});
    EXPECT_EQ(n.x, 1e-30f);

    n = normalizeOrZero({0.0f, -2.0f, 0.0f, 0.0f});
    EXPECT_FLOAT_EQ(n.y, -1.0f);
    n = normalizeOrZero({1e-13f, 0.0f, 0.0f, 0.0f}); // squared length 1e-26 < 1e-24
    EXPECT_EQ(n.x, 0.0f);
}

TEST(EnvMapping, AxisDirections) {
    // spherical: (1,0,0) seam side of u, (0,1,0) a quarter turn, the two poles.
    expectMaps(2, {{1, 0, 0, 0}, 1.0f, 0.5f});
    expectMaps(2, {{0, 1, 0, 0}, 0.75f, 0.5f});
    expectMaps(2, {{0, 0, 1, 0}, 1.0f, 1.0f});
    expectMaps(2, {{0, 0, -1, 0}, 1.0f, 0.0f});
    expectMaps(6, {{-1, 0, 0, 0}, 1.0f, 0.5f});
    expectMaps(6, {{0, 0, 1, 0}, 0.5f, 1.0f});
    expectMaps(5, {{0, -1, 0, 0}, 0.5f, 0.5f});
    expectMaps(5, {{0, 0, -2, 0}, 0.5f, 0.0f});
    // angular: r = 0 along y; (1,0,0): k = (pi/2)/(2 pi) = 0.25.
    expectMaps(0, {{0, 1, 0, 0}, 0.5f, 0.5f});
    expectMaps(0, {{1, 0, 0, 0}, 0.75f, 0.5f});
    expectMaps(0, {{0, -1, 0, 0}, 0.5f, 0.5f});
    // mirror ball: (0,1,0) looks into the centre.
    expectMaps(3, {{0, 1, 0, 0}, 0.5f, 0.5f});
    expectMaps(3, {{1, 0, 0, 0}, 0.5f - 0.5f / std::sqrt(2.0f), 0.5f});
    // max_cylindrical: theta 0 -> T 0; horizontal -> T 0.5; straight down is a pole with
    // theta = 1 rad: T = 0.5 - 0.25 tan(pi/2 - 1).
    expectMaps(7, {{0, 0, 1, 0}, 0.5f, 1.0f});
    expectMaps(7, {{1, 0, 0, 0}, 0.75f, 0.5f});
    expectMaps(7, {{0, 0, -1, 0}, 0.5f, 0.5f + 0.25f * std::tan(1.57079637f - 1.0f)});
    // max_shrink_wrap: (1,0,0): phi 0.5, rho 0.5, angle 1.5 pi; (0,-1,0): phi 0, angle pi.
    expectMaps(8, {{1, 0, 0, 0}, 0.5f, 0.75f});
    expectMaps(8, {{0, -1, 0, 0}, 0.75f, 0.5f});
    expectMaps(8, {{0, 0, 1, 0}, 0.5f, 0.5f});
    // cubic: +z face centre.
    expectMaps(1, {{0, 0, 1, 0}, 0.5f, 0.875f});
    // screen (never reached here) and unknown types give (0, 1, 0).
    expectMaps(4, {{1, 2, 3, 0}, 0.0f, 1.0f});
    expectMaps(-1, {{1, 2, 3, 0}, 0.0f, 1.0f});
    expectMaps(42, {{1, 2, 3, 0}, 0.0f, 1.0f});
}

TEST(EnvMapping, GeneralDirections) {
    const Vector4f d1{1, 2, 3, 0}, d2{-2, 1, -1, 0}, d3{0.3f, -0.8f, 0.5f, 0}, d4{-1, -1, 0.2f, 0};
    // angular
    expectMaps(0, {d1, 0.550674153f, 0.652022458f});
    expectMaps(0, {d2, 0.33625732f, 0.41812866f});
    expectMaps(0, {d3, 0.705673756f, 0.842789593f});
    expectMaps(0, {d4, 0.133812386f, 0.573237523f});
    // spherical
    expectMaps(2, {d1, 0.823791809f, 0.796115416f});
    expectMaps(2, {d2, 0.573791809f, 0.366139764f});
    expectMaps(2, {d3, 0.192899874f, 0.668535642f});
    expectMaps(2, {d4, 0.375f, 0.544719261f});
    // mirror_ball
    expectMaps(3, {d1, 0.423721111f, 0.728836668f});
    expectMaps(3, {d2, 0.743259472f, 0.378370264f});
    expectMaps(3, {d3, 0.255403256f, 0.907661241f});
    expectMaps(3, {d4, 0.952043975f, 0.590408795f});
    // max_spherical
    expectMaps(5, {d1, 0.926208191f, 0.796115416f});
    expectMaps(5, {d2, 0.176208191f, 0.366139764f});
    expectMaps(5, {d3, 0.557100126f, 0.668535642f});
    expectMaps(5, {d4, 0.375f, 0.544719261f});
    // spherical_kivo
    expectMaps(6, {d1, 0.676208191f, 0.796115416f});
    expectMaps(6, {d2, 0.926208191f, 0.366139764f});
    expectMaps(6, {d3, 0.307100126f, 0.668535642f});
    expectMaps(6, {d4, 0.125f, 0.544719261f});
    // max_cylindrical: d1 above 45 deg elevation, d2 in the lower band, d3/d4 in between
    expectMaps(7, {d1, 0.926208191f, 0.813661002f});
    expectMaps(7, {d2, 0.176208191f, 0.388196601f});
    expectMaps(7, {d3, 0.557100126f, 0.646301434f});
    expectMaps(7, {d4, 0.375f, 0.535355339f});
    // max_shrink_wrap
    expectMaps(8, {d1, 0.408820042f, 0.545589979f});
    expectMaps(8, {d2, 0.358264542f, 0.216529085f});
    expectMaps(8, {d3, 0.655179875f, 0.558192453f});
    expectMaps(8, {d4, 0.660966049f, 0.339033951f});
}

TEST(EnvMapping, CubeFacesAndTies) {
    // One direction per face, off the face centre.
    expectMaps(1, {{3, 1, -1, 0}, 0.777777778f, 0.583333333f});    // +x
    expectMaps(1, {{-3, 1, 2, 0}, 0.222222222f, 0.708333333f});    // -x
    expectMaps(1, {{0.5f, 2, -1, 0}, 0.541666667f, 0.5625f});      // +y
    expectMaps(1, {{1, -2, 0.5f, 0}, 0.583333333f, 0.09375f});     // -y
    expectMaps(1, {{1, -3, 0.2f, 0}, 0.555555556f, 0.116666667f}); // -y
    expectMaps(1, {{-1, 0.5f, 4, 0}, 0.458333333f, 0.859375f});    // +z
    expectMaps(1, {{0.3f, -1, -2, 0}, 0.525f, 0.3125f});           // -z
    // Ties keep the earlier axis: x over y, x or y over z.
    expectMaps(1, {{1, 1, 0, 0}, 0.666666667f, 0.625f});  // +x (left edge)
    expectMaps(1, {{1, -1, 0, 0}, 1.0f, 0.625f});         // +x (right edge)
    expectMaps(1, {{-1, 1, 0, 0}, 0.333333333f, 0.625f}); // -x
    expectMaps(1, {{0, 1, 1, 0}, 0.5f, 0.75f});           // +y
    expectMaps(1, {{1, 0, 1, 0}, 0.833333333f, 0.75f});   // +x
    expectMaps(1, {{1, 1, 1, 0}, 0.666666667f, 0.75f});   // +x
    expectMaps(1, {{-1, -1, -1, 0}, 0.0f, 0.5f});         // -x
    expectMaps(1, {{0, -1, -1, 0}, 0.5f, 0.25f});         // -y
    // A zero component counts as positive.
    expectMaps(1, {{-0.0f, 0, 0.0f, 0}, 0.833333333f, 0.625f});
}

TEST(EnvMapping, DegenerateDirectionsAreDefined) {
    const Vector4f zero{};
    // Zero direction: angular centre, spherical kinds at their lower pole, cube +x centre.
    expectMaps(0, {zero, 0.5f, 0.5f});
    expectMaps(1, {zero, 0.833333333f, 0.625f});
    expectMaps(2, {zero, 1.0f, 0.0f});
    expectMaps(3, {zero, 0.5f, 0.5f});
    expectMaps(5, {zero, 0.5f, 0.0f});
    expectMaps(6, {zero, 0.5f, 0.0f});
    for (int type = -1; type <= 8; ++type) {
        EXPECT_TRUE(isFinite(mapDirection(type, zero))) << type;
    }
    // Straight away from the mirror ball's viewer: the top of the rim, not NaN.
    expectMaps(3, {{0, -1, 0, 0}, 0.5f, 1.0f});
    expectMaps(3, {{0, -7, 0, 0}, 0.5f, 1.0f});
    // A NaN direction has no cube face; it still lands on a face centre.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(isFinite(mapDirection(1, {nan, nan, nan, 0})));
}

TEST(EnvMapping, UpAxis) {
    Vector4f up = upAxisFrom(nullptr);
    EXPECT_EQ(up.x, 0.0f);
    EXPECT_EQ(up.z, 1.0f);
    UpDirectionRecord rec{{0.0f, -3.0f, 0.0f}};
    up = upAxisFrom(&rec);
    EXPECT_FLOAT_EQ(up.y, -1.0f);
    EXPECT_EQ(up.z, 0.0f);
    rec = {{1.0f, 0.0f, 1.0f}};
    up = upAxisFrom(&rec);
    EXPECT_FLOAT_EQ(up.x, 0.707106781f);
    EXPECT_FLOAT_EQ(up.z, 0.707106781f);
    // No direction in the answer: the default z up, never NaN.
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const UpDirectionRecord& bad :
         {UpDirectionRecord{{0.0f, 0.0f, 0.0f}}, UpDirectionRecord{{nan, 0.0f, 1.0f}},
          UpDirectionRecord{{0.0f, inf, 0.0f}}}) {
        up = upAxisFrom(&bad);
        EXPECT_EQ(up.x, 0.0f);
        EXPECT_EQ(up.y, 0.0f);
        EXPECT_EQ(up.z, 1.0f);
    }
}

Matrix3x3f scaled(float s) {
    return {{s, 0, 0, 0}, {0, s, 0, 0}, {0, 0, s, 0}};
}

TEST(EnvMapping, SampleMatrixInterpolatesByTime) {
    const Matrix3x3f samples[3] = {scaled(1.0f), scaled(2.0f), scaled(4.0f)};
    const Matrix3x3f fixed = scaled(7.0f);
    EXPECT_EQ(sampleMatrix(fixed, 1, samples, 0.5f).c0.x, 7.0f);
    EXPECT_EQ(sampleMatrix(fixed, 0, nullptr, 0.5f).c1.y, 7.0f);

    const struct {
        float time;
        float value;
    } cases[] = {
        {0.0f, 1.0f},     {0.25f, 1.5f}, {0.5f, 2.0f},  {0.75f, 3.0f},
        {1.0f, 4.0f},     {1.5f, 4.0f},  {1e30f, 4.0f}, // clamped past the end
        {-0.5f, 0.0f},                                  // 2 * S0 - S1
        {-1e30f, -2e30f}, // S0 + (S1 - S0) f with f = -2e30: no int overflow
    };
    for (const auto& c : cases) {
        const Matrix3x3f m = sampleMatrix(fixed, 3, samples, c.time);
        EXPECT_FLOAT_EQ(m.c0.x, c.value) << c.time;
        EXPECT_FLOAT_EQ(m.c2.z, c.value) << c.time;
        EXPECT_EQ(m.c0.y, 0.0f);
    }
    // Two samples: a quarter of the way.
    EXPECT_FLOAT_EQ(sampleMatrix(fixed, 2, samples, 0.25f).c1.y, 1.25f);
}

TEST(EnvMapping, GroundProjection) {
    const GroundPlane ground{{0, 0, 0, 0}, {0, 0, 1, 0}, 1.0f};
    const Vector4f eye{0, 0, 2, 0};
    // Straight down from height 2: meets the ground at its centre, seen from (0,0,1).
    Vector4f q = groundProject(ground, eye, {0, 0, -3, 0});
    EXPECT_FLOAT_EQ(q.x, 0.0f);
    EXPECT_FLOAT_EQ(q.z, -1.0f);
    // 45 deg down: t = 2 sqrt 2, hit (2,0,0), direction (2,0,-1)/sqrt 5 from the centre.
    q = groundProject(ground, eye, {1, 0, -1, 0});
    EXPECT_NEAR(q.x, 0.894427191f, kTol);
    EXPECT_EQ(q.y, 0.0f);
    EXPECT_NEAR(q.z, -0.447213595f, kTol);
    // Looking up: unchanged but normalised.
    q = groundProject(ground, eye, {1, 0, 1, 0});
    EXPECT_NEAR(q.x, 0.707106781f, kTol);
    EXPECT_NEAR(q.z, 0.707106781f, kTol);
    // Near the horizon (|dn| ~ 0.05): hit (40,0,0), q = (40,0,-1) normalised, blended with
    // weight (10 |dn|)^2 = 0.2494 toward the projected direction.
    q = groundProject(ground, eye, {1, 0, -0.05f, 0});
    EXPECT_NEAR(q.x, 0.999043852f, kTol);
    EXPECT_NEAR(q.z, -0.0437193624f, kTol);
    // Starting on the plane and going down still projects; going level does not.
    q = groundProject(ground, {5, 0, 0, 0}, {1, 0, -1, 0});
    EXPECT_NEAR(q.x, 0.980580676f, kTol); // (5,0,-1) normalised
    EXPECT_NEAR(q.z, -0.196116135f, kTol);
    q = groundProject(ground, {5, 0, 0, 0}, {2, 0, 0, 0});
    EXPECT_FLOAT_EQ(q.x, 1.0f);
    EXPECT_EQ(q.z, 0.0f);
    // A tilted up axis: ground along y, eye 3 above it.
    const GroundPlane side{{0, 0, 0, 0}, {0, 1, 0, 0}, 1.0f};
    q = groundProject(side, {0, 3, 0, 0}, {0, -1, 0, 0});
    EXPECT_FLOAT_EQ(q.y, -1.0f);
    // Zero direction: nothing to project.
    q = groundProject(ground, eye, {});
    EXPECT_TRUE(isFinite(q));
    EXPECT_EQ(q.x, 0.0f);
}

TEST(EnvMapping, FinishUVWCropsBeforeWrapping) {
    const int noWrap[3] = {0, 0, 0};
    const int noCrop[3] = {0, 0, 0};
    const int wrapU[3] = {1, 0, 0};
    const int cropU[3] = {1, 0, 0};
    UVWTail tail{{}, wrapU, cropU};
    tail.transform.o = {2.0f, 0.0f, 0.0f, 0.0f};
    Vector4f uvw{0.25f, 0.5f, 0.0f, 0.0f};
    EXPECT_EQ(finishUVW(tail, uvw), 0); // u = 2.25 fails the crop, then wraps to 0.25
    EXPECT_FLOAT_EQ(uvw.x, 0.25f);
    EXPECT_FLOAT_EQ(uvw.y, 0.5f);

    // The crop bounds are inclusive.
    const int cropAll[3] = {1, 1, 1};
    UVWTail edge{{}, noWrap, cropAll};
    uvw = {1.0f, 0.0f, 1.0f, 0.0f};
    EXPECT_EQ(finishUVW(edge, uvw), 1);

    // Transform columns and the w lane.
    UVWTail scale{{}, noWrap, noCrop};
    scale.transform.c0 = {2, 0, 0, 0};
    scale.transform.c1 = {0, -1, 0, 0};
    scale.transform.c2 = {0, 0, 3, 0};
    scale.transform.o = {0.5f, 1.0f, 1.0f, 0.0f};
    uvw = {0.25f, 0.5f, 2.0f, 9.0f};
    EXPECT_EQ(finishUVW(scale, uvw), 1);
    EXPECT_FLOAT_EQ(uvw.x, 1.0f);
    EXPECT_FLOAT_EQ(uvw.y, 0.5f);
    EXPECT_FLOAT_EQ(uvw.z, 7.0f);
    EXPECT_FLOAT_EQ(uvw.w, 7.0f);

    // Wrap 1 and mirror tile 2, including negative and huge values.
    const int modes[3] = {1, 2, 2};
    UVWTail wraps{{}, modes, noCrop};
    const struct {
        Vector4f in;
        Vector4f out;
    } cases[] = {
        {{-0.25f, 0.25f, 0.75f, 0}, {0.75f, 0.5f, 0.5f, 0}},
        {{1.5f, 1.25f, -0.25f, 0}, {0.5f, 0.5f, 0.5f, 0}},
        {{3e9f, 0.5f, 1.0f, 0}, {0.0f, 1.0f, 0.0f, 0}},
        {{-1e20f, 2e10f, 0.1f, 0}, {0.0f, 0.0f, 0.2f, 0}},
    };
    for (const auto& c : cases) {
        uvw = c.in;
        EXPECT_EQ(finishUVW(wraps, uvw), 1);
        EXPECT_FLOAT_EQ(uvw.x, c.out.x) << c.in.x;
        EXPECT_FLOAT_EQ(uvw.y, c.out.y) << c.in.y;
        EXPECT_FLOAT_EQ(uvw.z, c.out.z) << c.in.z;
    }
    // Wrapping NaN is no undefined behaviour.
    uvw = {std::numeric_limits<float>::quiet_NaN(), 0.0f, 0.0f, 0.0f};
    finishUVW(wraps, uvw);
    EXPECT_TRUE(std::isnan(uvw.x));
}

TEST(EnvMapping, SeamCorrection) {
    EXPECT_EQ(seamCorrected(0.99f, 0.01f), 0.01f + 1.0f);
    EXPECT_EQ(seamCorrected(0.01f, 0.99f), 0.99f - 1.0f);
    EXPECT_FLOAT_EQ(seamCorrected(0.4f, 0.6f), 0.6f);
    // Ties keep the value.
    EXPECT_FLOAT_EQ(seamCorrected(0.75f, 0.25f), 0.25f);
    EXPECT_FLOAT_EQ(seamCorrected(0.25f, 0.75f), 0.75f);
    EXPECT_TRUE(hasUSeam(2));
    EXPECT_TRUE(hasUSeam(5));
    EXPECT_TRUE(hasUSeam(6));
    for (int type : {-1, 0, 1, 3, 4, 7, 8}) {
        EXPECT_FALSE(hasUSeam(type)) << type;
    }
}

TEST(EnvMapping, ScreenMapping) {
    Vector4f s = screenUVW(320.0f, 120.0f, 640, 480);
    EXPECT_EQ(s.x, 0.5f);
    EXPECT_EQ(s.y, 0.75f);
    EXPECT_EQ(s.z, 0.0f);

    // Diagonal frame: columns (2,0,0), (0,4,0) (= -dPdy), (0,0,1); inverse diag(1/2, 1/4, 1).
    const UVWTransform identity;
    ScreenFrame frame{{2, 0, 0, 0}, {0, -4, 0, 0}, {0, 0, 1, 0}, 640, 480};
    UVWTransform tm = screenTransform(identity, frame, s, 1.0f);
    EXPECT_FLOAT_EQ(tm.c0.x, 0.5f / 640.0f);
    EXPECT_EQ(tm.c0.y, 0.0f);
    EXPECT_FLOAT_EQ(tm.c1.y, 0.25f / 480.0f);
    EXPECT_FLOAT_EQ(tm.c2.z, 1.0f);
    EXPECT_EQ(tm.o.x, 0.5f);
    EXPECT_EQ(tm.o.y, 0.75f);

    // Sheared frame: columns (1,1,0), (0,1,0), (0,0,1); inverse rows (1,0,0), (-1,1,0),
    // (0,0,1). dPdx maps to one pixel in u and nothing in v.
    frame = {{1, 1, 0, 0}, {0, -1, 0, 0}, {0, 0, 1, 0}, 640, 480};
    UVWTransform flipV;
    flipV.c1 = {0, -2, 0, 0};
    flipV.o = {0, 1, 0, 0};
    tm = screenTransform(flipV, frame, s, 3.0f);
    EXPECT_FLOAT_EQ(tm.c0.x, 3.0f / 640.0f);
    EXPECT_FLOAT_EQ(tm.c0.y, 3.0f * 2.0f / 480.0f);
    EXPECT_EQ(tm.c1.x, 0.0f);
    EXPECT_FLOAT_EQ(tm.c1.y, -3.0f * 2.0f / 480.0f);
    EXPECT_FLOAT_EQ(tm.c2.z, 3.0f);
    EXPECT_FLOAT_EQ(tm.o.x, 0.5f); // offset is not scaled
    EXPECT_FLOAT_EQ(tm.o.y, 1.0f - 2.0f * 0.75f);

    // A singular frame gives zero columns and keeps the offset.
    frame = {{1, 0, 0, 0}, {2, 0, 0, 0}, {0, 0, 1, 0}, 640, 480};
    tm = screenTransform(identity, frame, s, 1.0f);
    EXPECT_EQ(tm.c0.x, 0.0f);
    EXPECT_EQ(tm.c1.y, 0.0f);
    EXPECT_EQ(tm.c2.z, 0.0f);
    EXPECT_EQ(tm.o.y, 0.75f);
}

} // namespace
