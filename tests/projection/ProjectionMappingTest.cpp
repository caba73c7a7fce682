#include "projection/ProjectionMapping.h"

#include "ProjectionTestSupport.h"
#include "frame/VectorMath.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>

using namespace KUtils;

namespace {

constexpr float kPi = 3.14159265f;

void expectVec(const Vector4f& v, float x, float y, float z, float tol = 1e-5f) {
    EXPECT_NEAR(v.x, x, tol);
    EXPECT_NEAR(v.y, y, tol);
    EXPECT_NEAR(v.z, z, tol);
}

bool finite(const UVWTransform& t) {
    for (const Vector4f* v : {&t.c0, &t.c1, &t.c2, &t.o}) {
        if (!std::isfinite(v->x) || !std::isfinite(v->y) || !std::isfinite(v->z)) {
            return false;
        }
    }
    return true;
}

// Central differences of uvw over p, against the Jacobian columns.
template <class Map>
void expectJacobianMatchesDifferences(Map map, const Vector4f& p, float h = 1e-3f) {
    const UVWTransform at = map(p);
    const Vector4f* cols[3] = {&at.c0, &at.c1, &at.c2};
    for (int k = 0; k < 3; ++k) {
        Vector4f step{};
        (k == 0 ? step.x : k == 1 ? step.y : step.z) = h;
        const Vector4f fd = (map(p + step).o - map(p - step).o) * (0.5f / h);
        const float scale =
            1.0f + std::fabs(cols[k]->x) + std::fabs(cols[k]->y) + std::fabs(cols[k]->z);
        EXPECT_NEAR(cols[k]->x, fd.x, 2e-3f * scale)
            << "axis " << k << " at " << p.x << "," << p.y << "," << p.z;
        EXPECT_NEAR(cols[k]->y, fd.y, 2e-3f * scale) << "axis " << k;
        EXPECT_NEAR(cols[k]->z, fd.z, 2e-3f * scale) << "axis " << k;
    }
}

} // namespace

TEST(ProjectionMapping, PlanarAndUnnamedTypes) {
    const UVWTransform t = mapPlanar({0.2f, -0.4f, 1.0f, 0.0f});
    expectVec(t.o, 0.6f, 0.3f, 1.0f);
    expectVec(t.c0, 0.5f, 0, 0);
    expectVec(t.c1, 0, 0.5f, 0);
    expectVec(t.c2, 0, 0, 0.5f);

    for (int type : {0, 7, 8, 11, -1}) {
        const UVWTransform none = mapProjection(type, {1, 2, 3, 0}, {0, 0, 1, 0}, kPi, kPi / 2);
        expectVec(none.o, 0, 0, 0, 0);
        expectVec(none.c0, 0, 0, 0, 0);
        expectVec(none.c1, 0, 0, 0, 0);
        expectVec(none.c2, 0, 0, 0, 0);
    }
}

TEST(ProjectionMapping, SphericalValuesAndAngles) {
    // u turns once around y from the -z side; v runs from -y to +y; w is the distance.
    UVWTransform t = mapSpherical({1, 0, 0, 0}, kPi, kPi / 2);
    expectVec(t.o, 0.75f, 0.5f, 1.0f);
    expectVec(t.c0, 0.0f, 0.0f, 1.0f);
    expectVec(t.c1, 0.0f, 1.0f / kPi, 0.0f);
    expectVec(t.c2, -1.0f / (2 * kPi), 0.0f, 0.0f);

    t = mapSpherical({0, 1, 1, 0}, kPi, kPi / 2);
    expectVec(t.o, 0.5f, 0.75f, std::sqrt(2.0f));
    t = mapSpherical({0, 0, -3, 0}, kPi, kPi / 2);
    expectVec(t.o, 1.0f, 0.5f, 3.0f);

    // Half the angles double the rate: U = 1 at a quarter turn, V = 1 at 45 degrees up.
    t = mapSpherical({1, 0, 0, 0}, kPi / 2, kPi / 2);
    EXPECT_NEAR(t.o.x, 1.0f, 1e-6f);
    t = mapSpherical({0, 1, 1, 0}, kPi, kPi / 4);
    EXPECT_NEAR(t.o.y, 1.0f, 1e-6f);
}

TEST(ProjectionMapping, CylindricalAndBallValues) {
    // The default u_angle makes u cover two units around the axis.
    UVWTransform t = mapCylindrical({1, 0.5f, 0, 0}, kPi);
    expectVec(t.o, 1.0f, 0.75f, std::sqrt(1.25f));
    expectVec(t.c0, 0.0f, 0.0f, 1.0f / std::sqrt(1.25f));
    expectVec(t.c1, 0.0f, 0.5f, 0.5f / std::sqrt(1.25f));
    expectVec(t.c2, -1.0f / kPi, 0.0f, 0.0f);

    // Ball: the direction's angle from +z, laid out radially in the disc.
    t = mapBall({1, 0, 1, 0});
    expectVec(t.o, 0.625f, 0.5f, 0.0f);
    t = mapBall({0, 3, 0, 0});
    expectVec(t.o, 0.5f, 0.75f, 0.0f);
    t = mapBall({-1, 0, -1, 0});
    expectVec(t.o, 0.125f, 0.5f, 0.0f);
}

TEST(ProjectionMapping, CubicFacesSignsAndTies) {
    UVWTransform t = mapCubic({2, 0.5f, -1, 0});
    const float r = std::sqrt(5.25f);
    expectVec(t.o, 0.25f, 0.625f, r);
    expectVec(t.c0, 1.0f / 8, -0.5f / 8, 2 / r);
    expectVec(t.c1, 0, 0.25f, 0.5f / r);
    expectVec(t.c2, 0.25f, 0, -1 / r);

    // The negative x face mirrors u and v and negates w.
    t = mapCubic({-2, 0.5f, -1, 0});
    expectVec(t.o, 0.25f, 0.625f, -r);

    // y and z faces.
    t = mapCubic({0.5f, -2, 1, 0});
    expectVec(t.o, 0.625f, 0.75f, -r);
    t = mapCubic({0.5f, 1, 2, 0});
    expectVec(t.o, 0.625f, 0.75f, r);

    // |x| = |y| > |z| takes the z face.
    t = mapCubic({1, -1, 0.5f, 0});
    expectVec(t.o, 1.5f, -0.5f, 1.5f);
    expectVec(t.c2, -1.0f / 0.5f, 1.0f / 0.5f, 0.5f / 1.5f);
    // ... also over a zero z: the face ratios are 0 instead of infinite.
    t = mapCubic({1, 1, 0, 0});
    EXPECT_TRUE(finite(t));
    expectVec(t.o, 0.5f, 0.5f, -std::sqrt(2.0f));
    // |y| = |z| > |x| and |x| = |z| > |y| take z as well.
    EXPECT_NEAR(mapCubic({0.5f, 2, 2, 0}).o.x, 0.5f / 4 + 0.5f, 1e-6f);
    EXPECT_NEAR(mapCubic({2, 0.5f, -2, 0}).o.x, -1 * 2 / -4.0f + 0.5f, 1e-6f);
}

TEST(ProjectionMapping, TriplanarAndQuorFacesFollowTheNormal) {
    const Vector4f p{0.2f, 0.4f, 0.6f, 0};
    UVWTransform t = mapTriplanar(p, {0.9f, 0.1f, 0.2f, 0});
    expectVec(t.o, 0.8f, 0.7f, 0.1f);
    expectVec(t.c0, 0, 0, 0.5f);
    expectVec(t.c2, 0.5f, 0, 0);
    t = mapTriplanar(p, {0.1f, -0.9f, 0.2f, 0});
    expectVec(t.o, 0.6f, 0.8f, 0.2f);
    expectVec(t.c1, 0, 0, 0.5f);
    // Ties fall to the later axis.
    for (const Vector4f& n : {Vector4f{0.5f, 0.5f, 0.1f, 0}, Vector4f{0.1f, -0.5f, 0.5f, 0},
                              Vector4f{0.5f, 0.1f, -0.5f, 0}}) {
        expectVec(mapTriplanar(p, n).o, 0.6f, 0.7f, 0.3f);
    }
    expectVec(mapTriplanar(p, {0.5f, 0.5f, 0.5f, 0}).o, 0.6f, 0.7f, 0.3f);

    // Quor cubic: x face seen from -x.
    t = mapQuorCubic(p, {-0.9f, 0.1f, 0.2f, 0});
    expectVec(t.o, 1.1f, 0.9f, 0.2f);
    expectVec(t.c0, 0, 0, 1);
    expectVec(t.c2, 1, 0, 0);
    t = mapQuorCubic(p, {0.1f, 0.9f, 0.2f, 0});
    expectVec(t.o, 0.7f, -0.1f, 0.4f);
    expectVec(t.c2, 0, -1, 0);
    t = mapQuorCubic(p, {0.1f, 0.2f, -0.9f, 0});
    expectVec(t.o, 0.3f, 0.9f, 0.6f);
    expectVec(t.c0, -1, 0, 0);
    // A zero normal takes z with s = 0.
    t = mapQuorCubic(p, {0, 0, 0, 0});
    expectVec(t.o, 0.5f, 0.9f, 0.6f);
    expectVec(t.c0, 0, 0, 0);

    // Quor box.
    t = mapQuorBox(p, {0.9f, 0.1f, 0.2f, 0});
    expectVec(t.o, 0.9f, 1.1f, 0.2f);
    expectVec(t.c1, 1, 0, 0);
    t = mapQuorBox(p, {0, -0.8f, 0.3f, 0});
    expectVec(t.o, 0.7f, 1.1f, 0.4f);
    expectVec(t.c0, 1, 0, 0);
    t = mapQuorBox(p, {0.1f, 0.2f, -0.9f, 0});
    expectVec(t.o, 0.7f, 0.1f, 0.6f);
    expectVec(t.c1, 0, -1, 0);
    t = mapQuorBox(p, {0, 0, 0, 0});
    expectVec(t.o, 0.7f, 0.5f, 0.6f);
    expectVec(t.c1, 0, 0, 0);
    // Tie of x and y falls to z with the sign of z.
    expectVec(mapQuorBox(p, {0.5f, -0.5f, -0.2f, 0}).o, 0.7f, 0.1f, 0.6f);
}

TEST(ProjectionMapping, JacobiansMatchCentralDifferences) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> coord(-2.0f, 2.0f);
    const Vector4f n{0.3f, -0.8f, 0.4f, 0};
    int checked[11] = {};
    for (int i = 0; i < 400; ++i) {
        const Vector4f p{coord(rng), coord(rng), coord(rng), 0};
        for (int type : {1, 2, 3, 4, 5, 6, 9, 10}) {
            if (!projtest::awayFromSingularities(type, p)) {
                continue;
            }
            ++checked[type];
            const float uAngle = type == 2 ? 2.0f : kPi, vAngle = type == 2 ? 1.2f : kPi / 2;
            expectJacobianMatchesDifferences(
                [&](const Vector4f& q) { return mapProjection(type, q, n, uAngle, vAngle); }, p);
        }
    }
    for (int type : {1, 2, 3, 4, 5, 6, 9, 10}) {
        EXPECT_GT(checked[type], 50) << "type " << type;
    }
}

TEST(ProjectionMapping, CentresAndAxesAreFinite) {
    const Vector4f centre{0, 0, 0, 0};
    for (int type : {1, 2, 3, 4, 5, 6, 9, 10}) {
        EXPECT_TRUE(finite(mapProjection(type, centre, {0, 0, 0, 0}, kPi, kPi / 2)))
            << "type " << type;
    }
    // Spherical centre: the middle of the map at distance 0, no derivative.
    UVWTransform t = mapSpherical(centre, kPi, kPi / 2);
    expectVec(t.o, 0.5f, 0.5f, 0.0f, 0);
    expectVec(t.c0, 0, 0, 0, 0);
    expectVec(t.c1, 0, 0, 0, 0);
    // Spherical poles: v at the end of its range, no azimuth derivative.
    t = mapSpherical({0, 2, 0, 0}, kPi, kPi / 2);
    EXPECT_TRUE(finite(t));
    expectVec(t.o, 0.5f, 1.0f, 2.0f);
    expectVec(t.c0, 0, 0, 0);
    t = mapSpherical({1e-30f, -1, 1e-30f, 0}, kPi, kPi / 2);
    EXPECT_TRUE(finite(t));
    EXPECT_NEAR(t.o.y, 0.0f, 1e-6f);
    // A zero angle keeps u or v at the middle instead of dividing by zero.
    t = mapSpherical({1, 1, 1, 0}, 0.0f, 0.0f);
    EXPECT_TRUE(finite(t));
    expectVec(t.o, 0.5f, 0.5f, std::sqrt(3.0f));

    // Cylindrical axis (rho = 0) and centre.
    t = mapCylindrical({0, 0, 2, 0}, kPi);
    EXPECT_TRUE(finite(t));
    expectVec(t.o, 0.5f, 0.5f, 0.0f);
    expectVec(t.c0, 0.5f / kPi, 0, 0);
    t = mapCylindrical(centre, kPi);
    EXPECT_TRUE(finite(t));
    expectVec(t.o, 0.5f, 0.5f, 0.0f);

    // Ball centre and both poles: the disc centre, no derivative.
    for (const Vector4f& p : {centre, Vector4f{0, 0, 3, 0}, Vector4f{0, 0, -3, 0}}) {
        t = mapBall(p);
        EXPECT_TRUE(finite(t));
        expectVec(t.o, 0.5f, 0.5f, 0.0f, 0);
        expectVec(t.c0, 0, 0, 0, 0);
    }
    // Near the +z pole the ball is continuous.
    expectVec(mapBall({1e-4f, 0, 3, 0}).o, 0.5f, 0.5f, 0.0f, 1e-4f);
}

// Within about 1e-38 of the y axis an azimuth derivative exceeds the float range: the point
// counts as on the axis, with no azimuth derivative. A little farther out both are kept.
TEST(ProjectionMapping, AzimuthDerivativesNextToTheAxis) {
    struct Case {
        int type;
        Vector4f p;
        float dudx, dudz;
    };
    // The default angle makes one turn 1 unit of u (spherical), 2 units (cylindrical).
    const Case cases[] = {
        {PROJ_SPHERICAL, {1.4e-45f, -0.895f, 4.8e-41f, 0}, 0, 0},
        {PROJ_CYLINDRICAL, {1.4e-45f, -0.895f, 4.8e-41f, 0}, 0, 0},
        {PROJ_CYLINDRICAL, {-5e-40f, 1, 0, 0}, 0, 0},
        {PROJ_SPHERICAL, {0, 1, 1e-37f, 0}, 1.5915494e36f, 0},
        {PROJ_CYLINDRICAL, {0, 1, 1e-37f, 0}, 3.1830989e36f, 0},
        {PROJ_SPHERICAL, {-1e-37f, 0.5f, 0, 0}, 0, 1.5915494e36f},
    };
    for (const Case& c : cases) {
        const UVWTransform t = mapProjection(c.type, c.p, {}, kPi, kPi / 2);
        EXPECT_TRUE(finite(t)) << "type " << c.type << " x " << c.p.x;
        EXPECT_FLOAT_EQ(t.c0.x, c.dudx) << "type " << c.type << " x " << c.p.x;
        EXPECT_FLOAT_EQ(t.c2.x, c.dudz) << "type " << c.type << " x " << c.p.x;
    }
}

// The ball's derivatives exceed the float range next to the centre and to the -z half of the
// axis: none there, as on the axis, with u and v of the direction kept. Farther out they stay.
TEST(ProjectionMapping, BallDerivativesNextToTheCentreAndTheAxis) {
    struct Case {
        Vector4f p;
        float u, v;
    };
    // Along the diagonal: u = v = 0.5 + 0.5 (1 / sqrt 2) acos(1 / sqrt 3) / pi.
    const Case cases[] = {
        {{1.4e-45f, 1.4e-45f, 1.4e-45f, 0}, 0.6075112f, 0.6075112f},
        {{1e-39f, 0, -1, 0}, 1.0f, 0.5f},
    };
    for (const Case& c : cases) {
        const UVWTransform t = mapBall(c.p);
        EXPECT_TRUE(finite(t)) << c.p.x;
        expectVec(t.o, c.u, c.v, 0, 1e-6f);
        expectVec(t.c0, 0, 0, 0, 0);
        expectVec(t.c1, 0, 0, 0, 0);
        expectVec(t.c2, 0, 0, 0, 0);
    }
    // dv/dy = 0.5 a / (r d) with a = 1, r = 1, d = 1e-30.
    EXPECT_FLOAT_EQ(mapBall({1e-30f, 0, -1, 0}).c1.y, 5e29f);
}

// Face ratios without a float value (a tie over a tiny third component, a denormal dominant
// one) are taken as 0 as over a zero one: the face centre and only the distance derivatives.
TEST(ProjectionMapping, CubicFaceRatiosBeyondTheFloatRange) {
    struct Case {
        Vector4f p;
        float w;
        Vector4f dw; // d(w) along x, y, z
    };
    const float h = std::sqrt(0.5f);
    const Case cases[] = {
        {{0.5f, 0.5f, -9e-28f, 0}, -h, {-h, -h, 9e-28f / h, 0}},
        {{-3, 3, 1e-20f, 0}, std::sqrt(18.0f), {-h, h, 1e-20f / std::sqrt(18.0f), 0}},
        {{-1e-39f, 0, 0, 0}, 0, {}},
        {{0, 2e-39f, -1e-39f, 0}, 0, {}},
    };
    for (const Case& c : cases) {
        const UVWTransform t = mapCubic(c.p);
        EXPECT_TRUE(finite(t)) << c.p.x << "," << c.p.y << "," << c.p.z;
        expectVec(t.o, 0.5f, 0.5f, c.w, 1e-6f);
        expectVec(t.c0, 0, 0, c.dw.x, 1e-6f);
        expectVec(t.c1, 0, 0, c.dw.y, 1e-6f);
        expectVec(t.c2, 0, 0, c.dw.z, 1e-6f);
    }
    // A small third component whose ratios fit the float range keeps them.
    const UVWTransform t = mapCubic({1, 1, 1e-10f, 0});
    EXPECT_FLOAT_EQ(t.o.x, 5e9f);
    EXPECT_FLOAT_EQ(t.c2.x, -5e19f);
}

TEST(ProjectionMapping, SampleInterpolation) {
    UVWTransform s[3];
    s[0].o = {0, 0, 0, 0};
    s[1].o = {2, 4, 6, 0};
    s[2].o = {4, 0, 2, 0};
    s[2].c0 = {3, 0, 0, 0};
    expectVec(interpolateSamples(s, 3, 0.0f).o, 0, 0, 0);
    expectVec(interpolateSamples(s, 3, 0.25f).o, 1, 2, 3);
    expectVec(interpolateSamples(s, 3, 0.5f).o, 2, 4, 6);
    const UVWTransform late = interpolateSamples(s, 3, 0.75f);
    expectVec(late.o, 3, 2, 4);
    expectVec(late.c0, 2, 0, 0);
    expectVec(interpolateSamples(s, 3, 1.0f).o, 4, 0, 2);
    // Outside the interval: the end samples.
    expectVec(interpolateSamples(s, 3, 1.5f).o, 4, 0, 2);
    expectVec(interpolateSamples(s, 3, -0.5f).o, 0, 0, 0);
    expectVec(interpolateSamples(s, 3, std::nanf("")).o, 4, 0, 2);
}

TEST(ProjectionMapping, ObjectSpaceAndFinish) {
    // Working transform: scale 2 and offset (1, 0, 0); object space: translate by (0, 0, -5)
    // and swap x and y.
    UVWTransform m;
    m.c0 = {2, 0, 0, 0};
    m.c1 = {0, 2, 0, 0};
    m.c2 = {0, 0, 2, 0};
    m.o = {1, 0, 0, 0};
    const UVWTransform os =
        toObjectSpace(m, {0, 1, 0, 0}, {1, 0, 0, 0}, {0, 0, 1, 0}, {0, 0, -5, 0});
    expectVec(os.c0, 0, 2, 0);
    expectVec(os.c1, 2, 0, 0);
    expectVec(os.o, 1, 0, -10);
    expectVec(applyPoint(os, {1, 2, 3, 0}), 5, 2, -4);

    // Finish: J through the working transform, then columns and uvw through tex_transform.
    const UVWTransform local = mapPlanar({1, 1, 1, 0});
    UVWTransform tex;
    tex.c0 = {0, 1, 0, 0};
    tex.c1 = {-1, 0, 0, 0};
    tex.o = {10, 20, 30, 0};
    const UVWTransform out = finishProjection(local, os, tex);
    // J * M'.m: column 0 = 0.5 * (0, 2, 0); through tex: (-1, 0, 0).
    expectVec(out.c0, -1, 0, 0);
    expectVec(out.c1, 0, 1, 0);
    expectVec(out.c2, 0, 0, 1);
    expectVec(out.o, 9, 21, 31);
}
