// The last step of every evaluation: outputs that no float holds (an overflow on the way
// gave an infinity or a NaN) are no result. The evaluation then reports 0 and writes zeros,
// as for a point the mapping does not cover; a renderer never sees a non-finite UVW marked
// valid. Only x, y and z are results; the fourth lane is not read.
#pragma once

#include "kivo/Types.h"

#include <bit>
#include <cstdint>

namespace KUtils {

// A float is an infinity or a NaN exactly when its exponent bits are all set. The test runs
// on the bits, lane by lane, and the lanes' answers are or-ed: independent integer steps, where
// a sum of float marks was one serial chain of additions, on the path of every evaluation.
inline int nonFiniteLane(float f) {
    constexpr std::uint32_t kExponent = 0x7f800000u;
    return int((std::bit_cast<std::uint32_t>(f) & kExponent) == kExponent);
}

inline int nonFiniteMark(const Vector4f& v) {
    return nonFiniteLane(v.x) | nonFiniteLane(v.y) | nonFiniteLane(v.z);
}

inline int finiteResult(int valid, Vector4f* out, int count) {
    int mark = 0;
    for (int i = 0; i < count; ++i) {
        mark |= nonFiniteMark(out[i]);
    }
    if (mark == 0) {
        return valid;
    }
    for (int i = 0; i < count; ++i) {
        out[i] = Vector4f{};
    }
    return 0;
}

inline int finiteResult(int valid, Vector4f& out) {
    return finiteResult(valid, &out, 1);
}

inline int finiteResult(int valid, UVWTransform& tm) {
    if ((nonFiniteMark(tm.c0) | nonFiniteMark(tm.c1) | nonFiniteMark(tm.c2) |
         nonFiniteMark(tm.o)) == 0) {
        return valid;
    }
    tm = UVWTransform{Vector4f{}, Vector4f{}, Vector4f{}, Vector4f{}};
    return 0;
}

} // namespace KUtils
