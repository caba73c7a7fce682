// Shared by the projection tests: where finite differences of a projection type are
// meaningful (away from seams, poles, axes and face changes).
#pragma once

#include "frame/Types.h"

#include <algorithm>
#include <cmath>

namespace projtest {

inline bool awayFromSingularities(int type, const KUtils::Vector4f& p) {
    const float r = std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
    const float rxz = std::sqrt(p.x * p.x + p.z * p.z);
    const float rxy = std::sqrt(p.x * p.x + p.y * p.y);
    // u of the spherical and cylindrical types jumps on the -z side of the y axis.
    const bool awayFromSeam = !(p.z < 0 && std::fabs(p.x) < 0.2f);
    switch (type) {
    case 2:
        return r > 0.3f && rxz > 0.25f * r && awayFromSeam;
    case 3:
        return rxz > 0.2f && rxy > 0.2f && awayFromSeam;
    case 4:
        return r > 0.3f && rxy > 0.2f * r && p.z > -0.8f * r;
    case 5: {
        float a[3] = {std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)};
        std::sort(a, a + 3);
        return a[2] - a[1] > 0.1f;
    }
    default:
        return true;
    }
}

} // namespace projtest
