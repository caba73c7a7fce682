// The lane arc tangent and arc cosine against the double-precision functions: within 2 units
// in the last place of the float result everywhere, and the library's signs at the axes.
#include "environment/LaneMath.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>

namespace {

using namespace KUtils;

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
