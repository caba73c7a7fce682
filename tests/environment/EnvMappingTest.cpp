// The environment mapping functions on their own, against values worked out by hand from the
// mapping formulas (in double precision, so comparisons allow a few float ulps).
#include "environment/EnvMapping.h"

#include "environment/LaneMath.h"
#include "frame/ScreenSpace.h"
#include "kivo/VectorMath.h"
#include "tests/rows/PluginRows.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <random>

namespace {

using namespace KUtils;

constexpr float kTol = 2e-6f;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

bool isFinite(const Vector4f& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) && std::isfinite(v.w);
}

// x, y and z within a few float ulps, or NaN where NaN is expected.
void expectSame(const Vector4f& got, const Vector4f& want) {
    SCOPED_TRACE(testing::Message() << "expected " << want.x << ", " << want.y << ", " << want.z);
    for (const auto& [g, w] : {std::pair{got.x, want.x}, {got.y, want.y}, {got.z, want.z}}) {
        if (!std::isnan(w) || !std::isnan(g)) {
            EXPECT_FLOAT_EQ(g, w);
        }
    }
}

TEST(EnvMapping, NamesAreMatchedExactly) {
    const char* names[] = {"angular",        "cubic",           "spherical",
                           "mirror_ball",    "screen",          "max_spherical",
                           "spherical_kivo", "max_cylindrical", "max_shrink_wrap"};
    for (int type = 0; type < 9; ++type) {
        EXPECT_EQ(findEnvMappingType(names[type]), type);
    }
    EXPECT_EQ(findEnvMappingType(nullptr), -1);
}

// Every type at the axes, the zero direction and general directions (the table's comments
// give the working).
TEST(EnvMapping, EveryTypeAtAxisAndGeneralDirections) {
    for (const std::vector<float>& row : rows::readTable(ROWS_DIR, "directions")) {
        SCOPED_TRACE(testing::PrintToString(row));
        const Vector4f r = mapDirection(int(row[0]), {row[1], row[2], row[3], 0.0f});
        EXPECT_NEAR(r.x, row[4], kTol);
        EXPECT_NEAR(r.y, row[5], kTol);
        EXPECT_EQ(r.z, 0.0f);
    }
    // A NaN direction has no cube face and still lands on a face centre.
    EXPECT_TRUE(isFinite(mapDirection(1, {kNaN, kNaN, kNaN, 0})));
}

// No answer, or none with a direction, is the default z up, never NaN; answers whose squared
// length overflows or underflows the float range keep their direction.
TEST(EnvMapping, UpAxis) {
    EXPECT_EQ(upAxisFrom(nullptr).z, 1.0f);
    for (const std::vector<float>& c : rows::readTable(ROWS_DIR, "up")) {
        const UpDirectionRecord answer{{c[0], c[1], c[2]}};
        expectSame(upAxisFrom(&answer), {c[3], c[4], c[5], 0.0f});
    }
}

// The plugin shows looking down, looking up and the flag; these are the horizon blend and the
// edges.
TEST(EnvMapping, GroundProjectionAtTheHorizonAndOnThePlane) {
    const GroundPlane ground{{0, 0, 0, 0}, {0, 0, 1, 0}, 1.0f};
    const Vector4f eye{0, 0, 2, 0};
    // Near the horizon (|dn| ~ 0.05): hit (40,0,0), q = (40,0,-1) normalised, blended with
    // weight (10 |dn|)^2 = 0.2494 toward the projected direction.
    Vector4f q = groundProject(ground, eye, {1, 0, -0.05f, 0});
    EXPECT_NEAR(q.x, 0.999043852f, kTol);
    EXPECT_NEAR(q.z, -0.0437193624f, kTol);
    // Starting on the plane and going down still projects; going level does not.
    q = groundProject(ground, {5, 0, 0, 0}, {1, 0, -1, 0});
    EXPECT_NEAR(q.x, 0.980580676f, kTol); // (5,0,-1) normalised
    EXPECT_NEAR(q.z, -0.196116135f, kTol);
    q = groundProject(ground, {5, 0, 0, 0}, {2, 0, 0, 0});
    EXPECT_FLOAT_EQ(q.x, 1.0f);
    EXPECT_EQ(q.z, 0.0f);
    // Zero direction: nothing to project.
    q = groundProject(ground, eye, {});
    EXPECT_TRUE(isFinite(q));
    EXPECT_EQ(q.x, 0.0f);
}

TEST(EnvMapping, FinishUVWTransformsThenWrapsOrMirrors) {
    const int noWrap[3] = {0, 0, 0};
    const int noCrop[3] = {0, 0, 0};
    const int cropAll[3] = {1, 1, 1};
    // Transform columns and the w lane; the crop bounds are inclusive.
    const UVWTail scale{
        {{2, 0, 0, 0}, {0, -1, 0, 0}, {0, 0, 3, 0}, {0.5f, 1.0f, -5.0f, 0.0f}}, noWrap, cropAll};
    Vector4f uvw{0.25f, 1.0f, 2.0f, 9.0f};
    EXPECT_EQ(finishUVW(scale, uvw), 1);
    EXPECT_FLOAT_EQ(uvw.x, 1.0f);
    EXPECT_FLOAT_EQ(uvw.y, 0.0f);
    EXPECT_FLOAT_EQ(uvw.z, 1.0f);
    EXPECT_FLOAT_EQ(uvw.w, 1.0f);

    const int modes[3] = {1, 2, 2};
    UVWTail wraps{{}, modes, noCrop};
    for (const std::vector<float>& c : rows::readTable(ROWS_DIR, "wrap")) {
        uvw = {c[0], c[1], c[2], 0.0f};
        EXPECT_EQ(finishUVW(wraps, uvw), 1);
        expectSame(uvw, {c[3], c[4], c[5], 0.0f});
    }
}

TEST(EnvMapping, SeamCorrection) {
    EXPECT_EQ(seamCorrected(0.99f, 0.01f), 0.01f + 1.0f);
    EXPECT_EQ(seamCorrected(0.01f, 0.99f), 0.99f - 1.0f);
    // Ties keep the value.
    EXPECT_FLOAT_EQ(seamCorrected(0.75f, 0.25f), 0.25f);
    EXPECT_FLOAT_EQ(seamCorrected(0.25f, 0.75f), 0.75f);
}

// The differentials' shared path gives each direction exactly what the single mapping gives,
// for every type, with and without the ground, at the poles, the seam, zero and NaN offsets.
TEST(EnvMapping, DifferentialsMatchSingleMappingsBitForBit) {
    const GroundPlane ground{{0.0f, 0.0f, -2.0f, 0.0f}, {0.0f, 0.0f, 1.0f, 0.0f}, 1.0f};
    const Matrix3x3f rotation{
        {0.36f, 0.48f, -0.8f, 0.0f}, {-0.8f, 0.6f, 0.0f, 0.0f}, {0.48f, 0.64f, 0.6f, 0.0f}};
    const Vector4f dirs[][3] = {
        {{0.3f, -0.5f, 0.8f, 0.0f}, {1e-3f, 0.0f, 0.0f, 0.0f}, {0.0f, 2e-3f, -1e-3f, 0.0f}},
        {{0.0f, 0.0f, 1.0f, 0.0f}, {1e-7f, 0.0f, 0.0f, 0.0f}, {0.0f, 1e-7f, 0.0f, 0.0f}},
        {{-1.0f, 1e-6f, 0.0f, 0.0f}, {0.0f, 1e-5f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f, 0.0f}},
        {{0.0f, 0.0f, 0.0f, 0.0f}, {1e-13f, 0.0f, 0.0f, 0.0f}, {kNaN, 0.0f, 0.0f, 0.0f}},
    };
    const auto same = [](const Vector4f& a, const Vector4f& b) {
        return std::memcmp(&a, &b, sizeof(float) * 3) == 0;
    };
    for (int type = 0; type < 9; ++type) {
        for (const GroundPlane* g : {static_cast<const GroundPlane*>(nullptr), &ground}) {
            const DirectionPipeline pipeline{rotation, g, {0.0f, 0.0f, 1.0f, 0.0f}, type};
            for (const auto& d : dirs) {
                Vector4f out[5];
                mapDifferentials(pipeline, d[0], d[1], d[2], out);
                const Vector4f single[5] = {d[0], d[0] - d[1], d[0] + d[1], d[0] - d[2],
                                            d[0] + d[2]};
                for (int i = 0; i < 5; ++i) {
                    EXPECT_TRUE(same(out[i], mapThroughPipeline(pipeline, single[i])))
                        << "type " << type << " direction " << i;
                }
            }
        }
    }
}

// The plugin shows a diagonal frame; this is a sheared one with a flipped transform, and a
// singular one.
TEST(EnvMapping, ScreenTransform) {
    const Vector4f s = screenUVW(320.0f, 120.0f, 640, 480);
    // Columns (1,1,0), (0,1,0), (0,0,1); inverse rows (1,0,0), (-1,1,0), (0,0,1). dPdx maps to
    // one pixel in u and nothing in v.
    ScreenFrame frame{{1, 1, 0, 0}, {0, -1, 0, 0}, {0, 0, 1, 0}, 640, 480};
    UVWTransform flipV;
    flipV.c1 = {0, -2, 0, 0};
    flipV.o = {0, 1, 0, 0};
    UVWTransform tm = screenTransform(flipV, frame, s, 3.0f);
    EXPECT_FLOAT_EQ(tm.c0.x, 3.0f / 640.0f);
    EXPECT_FLOAT_EQ(tm.c0.y, 3.0f * 2.0f / 480.0f);
    EXPECT_EQ(tm.c1.x, 0.0f);
    EXPECT_FLOAT_EQ(tm.c1.y, -3.0f * 2.0f / 480.0f);
    EXPECT_FLOAT_EQ(tm.c2.z, 3.0f);
    EXPECT_FLOAT_EQ(tm.o.x, 0.5f); // offset is not scaled
    EXPECT_FLOAT_EQ(tm.o.y, 1.0f - 2.0f * 0.75f);

    // A singular frame gives zero columns and keeps the offset.
    frame = {{1, 0, 0, 0}, {2, 0, 0, 0}, {0, 0, 1, 0}, 640, 480};
    tm = screenTransform(UVWTransform{}, frame, s, 1.0f);
    EXPECT_TRUE(tm.c0.x == 0.0f && tm.c1.y == 0.0f && tm.c2.z == 0.0f);
    EXPECT_EQ(tm.o.y, 0.75f);
}

// The lane arc tangent and arc cosine against the double-precision functions: within 2 units
// in the last place of the float result everywhere, and the library's signs at the axes.
float lane0(__m128 v) {
    return _mm_cvtss_f32(v);
}

// |a - exact| in units of the last place of the float nearest exact.
double ulpError(float a, double exact) {
    const float e = std::fabs(float(exact));
    const double ulp = std::nextafter(e, INFINITY) - e;
    return std::fabs(double(a) - exact) / ulp;
}

TEST(LaneMath, WithinTwoUlpOfExact) {
    std::mt19937 draws(7);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::uniform_real_distribution<float> octaves(-40.0f, 40.0f);
    double worstAtan = 0.0, worstAcos = 0.0;
    for (int i = 0; i < 200000; ++i) {
        // Ratios from 1e-24 to 1e24, both signs, and every cosine in [-1, 1].
        const float y = unit(draws);
        const float x = unit(draws) * std::exp2(octaves(draws));
        for (const auto& [a, b] : {std::pair{y, x}, std::pair{x, y}}) {
            worstAtan =
                std::max(worstAtan, ulpError(lane0(lanes::atan2(_mm_set1_ps(a), _mm_set1_ps(b))),
                                             std::atan2(double(a), double(b))));
        }
        worstAcos =
            std::max(worstAcos, ulpError(lane0(lanes::acos(_mm_set1_ps(y))), std::acos(double(y))));
    }
    EXPECT_LE(worstAtan, 2.0);
    EXPECT_LE(worstAcos, 2.0);
}

TEST(LaneMath, AxesAndSignsAsTheLibrary) {
    const float axes[][2] = {{0.0f, 1.0f},  {0.0f, -1.0f}, {-0.0f, -1.0f}, {1.0f, 0.0f},
                             {-1.0f, 0.0f}, {0.0f, 0.0f},  {0.0f, -0.0f},  {-0.0f, -0.0f}};
    for (const auto& [y, x] : axes) {
        EXPECT_EQ(lane0(lanes::atan2(_mm_set1_ps(y), _mm_set1_ps(x))), std::atan2(y, x))
            << y << ", " << x;
    }
    for (const float c : {-1.0f, -0.5f, 0.0f, 0.5f, 1.0f}) {
        EXPECT_EQ(lane0(lanes::acos(_mm_set1_ps(c))), std::acos(c)) << c;
    }
}

} // namespace
