#include "channel/UVWChain.h"

#include "kivo/FloatMath.h"
#include "kivo/VectorMath.h"

#include <cmath>

namespace KUtils {

namespace {

bool fullCoverage(float c) {
    return std::fabs(c - 1.0f) < 1e-6f;
}

// The integer boundary: tiles are [k, k + 1].
float wrapOnInteger(float x, float c, int crop, int wrap, int& valid) {
    if (crop != 0 && (x < 0.0f || x > 1.0f)) {
        valid = 0;
    }
    if (fullCoverage(c)) {
        if (wrap == WRAP_MIRROR) {
            const float y = 2.0f * truncFrac(x);
            return y > 1.0f ? 2.0f - y : y;
        }
        return wrap == WRAP_REPEAT ? truncFrac(x) : x;
    }
    if (c == 0.0f) {
        valid = 0;
        return truncFrac(x);
    }
    const float y = truncFrac(x) / c;
    if (!(y >= 0.0f && y <= 1.0f)) {
        valid = 0;
    }
    return y;
}

// The 0.5 boundary: tiles are [k - 0.5, k + 0.5].
float wrapOnHalf(float x, float c, int crop, int wrap, int& valid) {
    if (crop != 0 && (x < -0.5f || x > 0.5f)) {
        valid = 0;
    }
    if (fullCoverage(c)) {
        return wrap != WRAP_NONE ? x - truncFloor(x + 0.5f) : x;
    }
    if (c == 0.0f) {
        valid = 0;
        return truncFrac(x + 0.5f) - 0.5f;
    }
    const float y = truncFrac(x + 0.5f) / c - 0.5f;
    if (!(y >= -0.5f && y <= 0.5f)) {
        valid = 0;
    }
    return y;
}

} // namespace

float wrapCoordinate(float x, float c, int crop, int wrap, int wrapBoundary, int& valid) {
    return wrapBoundary != WRAP_ON_HALF ? wrapOnInteger(x, c, crop, wrap, valid)
                                        : wrapOnHalf(x, c, crop, wrap, valid);
}

float mirrorTile(float x) {
    const float h = 0.5f * x;
    const float y = 2.0f * (h - truncFloor(h));
    return y > 1.0f ? 2.0f - y : y;
}

int finishUVWTransform(UVWTransform& tm, const UVWFinish& finish, int valid) {
    const int boundary = finish.wrapBoundary;
    const Vector4f& c = finish.coverage;
    tm.o.x = wrapCoordinate(tm.o.x, c.x, finish.crop[0], finish.wrap[0], boundary, valid);
    tm.o.y = wrapCoordinate(tm.o.y, c.y, finish.crop[1], finish.wrap[1], boundary, valid);
    tm.o.z = wrapCoordinate(tm.o.z, c.z, finish.crop[2], finish.wrap[2], boundary, valid);
    tm.o.w = tm.o.z;

    tm = compose(finish.texTransform, tm);

    if (finish.duvwScale != 1.0f) {
        tm.c0 = tm.c0 * finish.duvwScale;
        tm.c1 = tm.c1 * finish.duvwScale;
        tm.c2 = tm.c2 * finish.duvwScale;
    }

    if (boundary == WRAP_ON_HALF) {
        float* offset[3] = {&tm.o.x, &tm.o.y, &tm.o.z};
        for (int k = 0; k < 3; ++k) {
            if (finish.wrap[k] == WRAP_MIRROR) {
                *offset[k] = mirrorTile(*offset[k]);
            }
        }
    }
    return valid;
}

} // namespace KUtils
