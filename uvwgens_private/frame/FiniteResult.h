// The last step of every evaluation: outputs that no float holds (an overflow on the way
// gave an infinity or a NaN) are no result. The evaluation then reports 0 and writes zeros,
// as for a point the mapping does not cover; a renderer never sees a non-finite UVW marked
// valid. Only x, y and z are results; the fourth lane is not read.
#pragma once

#include "kivo/Types.h"

#include <cmath>

namespace KUtils {

inline int finiteResult(int valid, Vector4f* out, int count) {
    bool finite = true;
    for (int i = 0; i < count; ++i) {
        finite =
            finite && std::isfinite(out[i].x) && std::isfinite(out[i].y) && std::isfinite(out[i].z);
    }
    if (finite) {
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
    Vector4f parts[4] = {tm.c0, tm.c1, tm.c2, tm.o};
    const int result = finiteResult(valid, parts, 4);
    tm = UVWTransform{parts[0], parts[1], parts[2], parts[3]};
    return result;
}

} // namespace KUtils
