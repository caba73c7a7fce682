// Arc tangent and arc cosine of four single-precision lanes at once (SSE2, the x86-64
// baseline). The environment maps five directions per derivative call; the scalar library
// functions cost most of that. One direction alone goes through the same lanes, so a single
// mapping and the same direction among the five give the same bits.
//
// Both stay within 2 units in the last place of the exact value over their whole range (the
// polynomials alone are good to 7e-10 and 5e-9 relative; the rest is the float steps around
// them). Where the scalar library functions are not correctly rounded either, the two differ
// by a unit or two in the last place.
#pragma once

#include <emmintrin.h>

namespace KUtils::lanes {

// pi, pi/2 and pi/4 as a float and the float of what the float misses, so that an angle
// formed as constant - r keeps the constant's full precision.
inline constexpr float kPiHi = 3.14159274f;
inline constexpr float kPiLo = -8.74227766e-08f;
inline constexpr float kHalfPiHi = 1.57079637f;
inline constexpr float kHalfPiLo = -4.37113883e-08f;
inline constexpr float kQuarterPiHi = 0.785398185f;
inline constexpr float kQuarterPiLo = -2.18556941e-08f;

inline __m128 select(__m128 mask, __m128 ifTrue, __m128 ifFalse) {
    return _mm_or_ps(_mm_and_ps(mask, ifTrue), _mm_andnot_ps(mask, ifFalse));
}

inline __m128 signBit() {
    return _mm_set1_ps(-0.0f);
}

inline __m128 absolute(__m128 v) {
    return _mm_andnot_ps(signBit(), v);
}

// c0 + z (c1 + z (c2 + ...)) by Horner's rule.
template <int N>
inline __m128 horner(__m128 z, const float (&c)[N]) {
    __m128 p = _mm_set1_ps(c[N - 1]);
    for (int i = N - 2; i >= 0; --i) {
        p = _mm_add_ps(_mm_mul_ps(p, z), _mm_set1_ps(c[i]));
    }
    return p;
}

// atan(t) for |t| <= tan(pi/8): t + t^3 P(t^2), P fitted to the relative error of the arc
// tangent over that interval (7e-10).
inline __m128 atanNear0(__m128 t) {
    static constexpr float kP[] = {-0.333333164f, 0.199984834f, -0.14243722f, 0.105950363f,
                                   -0.0608100295f};
    const __m128 z = _mm_mul_ps(t, t);
    return _mm_add_ps(t, _mm_mul_ps(_mm_mul_ps(t, z), horner(z, kP)));
}

// atan2(y, x) in radians, in [-pi, pi], with the library's signs: the sign of y, pi for a
// negative x (also -0) on the x axis. Both zero gives 0 or +-pi as the library does.
inline __m128 atan2(__m128 y, __m128 x) {
    const __m128 ax = absolute(x);
    const __m128 ay = absolute(y);
    const __m128 lo = _mm_min_ps(ax, ay);
    const __m128 hi = _mm_max_ps(ax, ay);
    // a = lo / hi in [0, 1]; 0 when both are 0.
    const __m128 a = _mm_and_ps(_mm_cmpgt_ps(hi, _mm_setzero_ps()), _mm_div_ps(lo, hi));
    // Above tan(pi/8): atan(a) = pi/4 + atan((a - 1) / (a + 1)), the ratio taken from lo and
    // hi themselves (one rounding fewer).
    const __m128 far = _mm_cmpgt_ps(a, _mm_set1_ps(0.414213568f));
    const __m128 t = select(far, _mm_div_ps(_mm_sub_ps(lo, hi), _mm_add_ps(lo, hi)), a);
    const __m128 p = atanNear0(t);
    __m128 r = select(
        far, _mm_add_ps(_mm_set1_ps(kQuarterPiHi), _mm_add_ps(p, _mm_set1_ps(kQuarterPiLo))), p);
    // |y| > |x|: the angle from the y axis.
    r = select(_mm_cmpgt_ps(ay, ax),
               _mm_add_ps(_mm_sub_ps(_mm_set1_ps(kHalfPiHi), r), _mm_set1_ps(kHalfPiLo)), r);
    // x negative (its sign bit set): the angle from the -x axis.
    const __m128 negativeX = _mm_castsi128_ps(_mm_srai_epi32(_mm_castps_si128(x), 31));
    r = select(negativeX, _mm_add_ps(_mm_sub_ps(_mm_set1_ps(kPiHi), r), _mm_set1_ps(kPiLo)), r);
    return _mm_or_ps(r, _mm_and_ps(signBit(), y));
}

// asin(s) for 0 <= s <= 0.5: s + s^3 Q(s^2), Q fitted to the relative error of the arc sine
// over that interval (5e-9).
inline __m128 asinNear0(__m128 s, __m128 z) {
    static constexpr float kQ[] = {0.166667506f, 0.0749537051f, 0.0454618968f, 0.0242187474f,
                                   0.0421032384f};
    return _mm_add_ps(s, _mm_mul_ps(_mm_mul_ps(s, z), horner(z, kQ)));
}

// acos(c) in radians for c in [-1, 1].
inline __m128 acos(__m128 c) {
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 ac = absolute(c);
    const __m128 nearZero = _mm_cmple_ps(ac, half);
    // Near 0: acos(c) = pi/2 - asin(c). Beyond: acos(|c|) = 2 asin(sqrt((1 - |c|) / 2)),
    // where 1 - |c| is exact.
    const __m128 zFar = _mm_mul_ps(_mm_sub_ps(_mm_set1_ps(1.0f), ac), half);
    const __m128 z = select(nearZero, _mm_mul_ps(c, c), zFar);
    const __m128 s = select(nearZero, ac, _mm_sqrt_ps(zFar));
    const __m128 a = asinNear0(s, z);
    const __m128 sign = _mm_and_ps(signBit(), c);
    const __m128 fromZero =
        _mm_add_ps(_mm_sub_ps(_mm_set1_ps(kHalfPiHi), _mm_or_ps(a, sign)), _mm_set1_ps(kHalfPiLo));
    const __m128 twice = _mm_add_ps(a, a);
    const __m128 fromOne =
        select(_mm_cmplt_ps(c, _mm_setzero_ps()),
               _mm_add_ps(_mm_sub_ps(_mm_set1_ps(kPiHi), twice), _mm_set1_ps(kPiLo)), twice);
    return select(nearZero, fromZero, fromOne);
}

} // namespace KUtils::lanes
