// The last step of every evaluation: outputs that no float holds (an overflow on the way
// gave an infinity or a NaN) are no result. The evaluation then reports 0 and writes zeros,
// as for a point the mapping does not cover; a renderer never sees a non-finite UVW marked
// valid. Only x, y and z are results; the fourth lane is not read.
#pragma once

#include "kivo/Types.h"

namespace KUtils {

// 0·v is ±0 for every finite v and NaN for an infinity or a NaN, so a sum of such products
// is 0 exactly when every lane is finite: one comparison per result instead of a branch per
// lane, on the path of every evaluation. (Needs IEEE arithmetic: no fast-math.)
inline float nonFiniteMark(const Vector4f& v) {
    return 0.0f * v.x + 0.0f * v.y + 0.0f * v.z;
}

inline int finiteResult(int valid, Vector4f* out, int count) {
    float mark = 0.0f;
    for (int i = 0; i < count; ++i) {
        mark += nonFiniteMark(out[i]);
    }
    if (mark == 0.0f) {
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
    if (nonFiniteMark(tm.c0) + nonFiniteMark(tm.c1) + nonFiniteMark(tm.c2) + nonFiniteMark(tm.o) ==
        0.0f) {
        return valid;
    }
    tm = UVWTransform{Vector4f{}, Vector4f{}, Vector4f{}, Vector4f{}};
    return 0;
}

} // namespace KUtils
