// Rounding as the renderer computes it, free of undefined behaviour.
#pragma once

#include <cmath>
#include <cstdint>

namespace KUtils {

// pi rounded to single precision (0x40490FDB), and its half and quarter (exact). Formulas in
// double precision widen this value rather than take the double pi, so that their angles
// agree with the single-precision formulas and the parameters' defaults.
inline constexpr float kPi = 3.14159274f;
inline constexpr float kHalfPi = kPi / 2.0f;
inline constexpr float kQuarterPi = kPi / 4.0f;

// floor taken as truncation to a 32-bit integer, less one when the value lies below the
// truncation. Values outside the 32-bit range (and NaN) cannot be truncated to an int without
// undefined behaviour; they take the floor in floating point, which is the same number.
template <class Real>
inline Real truncFloor(Real x) {
    if (!(x > Real(INT32_MIN) && x < Real(INT32_MAX))) {
        return std::floor(x);
    }
    const auto k = static_cast<std::int32_t>(x);
    return x < Real(k) ? Real(k - 1) : Real(k);
}

// x - truncFloor(x), in [0, 1] for finite x: 1 itself is reached by rounding, as a tiny
// negative x gives x + 1, which rounds to 1 (truncFrac(-1e-10f) == 1.0f).
template <class Real>
inline Real truncFrac(Real x) {
    return x - truncFloor(x);
}

// Truncation toward zero through a 32-bit integer, for values in range; others keep their
// integral part in floating point.
template <class Real>
inline Real truncToward0(Real x) {
    if (!(x > Real(INT32_MIN) && x < Real(INT32_MAX))) {
        return std::trunc(x);
    }
    return Real(static_cast<std::int32_t>(x));
}

} // namespace KUtils
