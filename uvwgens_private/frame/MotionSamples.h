// Motion-blur samples of a parameter: how many a plugin takes over the blur interval, when
// each is taken, and the value between them at a shading time.
#pragma once

#include "kivo/FloatMath.h"
#include "kivo/HostSdk.h"
#include "kivo/VectorMath.h"

#include <algorithm>

namespace KUtils {

// No blur needs more; a larger request (a scene asking for INT_MAX samples) would only
// exhaust memory and time at frame begin.
inline constexpr int kMaxMotionSamples = 1024;

// The host's sample count for this request, bounded to [1, kMaxMotionSamples].
inline int motionSampleCount(const KivoSequenceData& sequence, int requested) {
    return std::clamp(determineMotionBlurSamples(sequence, requested), 1, kMaxMotionSamples);
}

// The time of sample i of count >= 2, at equal steps from motionBlurStart to motionBlurEnd.
inline double motionSampleTime(const KivoFrameData& frame, int i, int count) {
    return frame.motionBlurStart +
           double(i) / (count - 1) * (frame.motionBlurEnd - frame.motionBlurStart);
}

// What a shading time outside [0, 1] (or the end itself) gives, and the precision of the step
// fraction; each plugin keeps its own rule, as its stored results depend on it.
enum class MotionEdges {
    // The UVW generator base: before the start the first step extends backwards; from the end
    // on (and for a NaN time) the last sample holds. The fraction is taken in double.
    ExtendStartHoldEnd,
    // The projection: the first sample holds before the start and the last one from the end
    // on. The fraction is taken in single precision with a single-precision step.
    HoldBothEnds,
    // The environment: both ends extend their step, the end itself blending the last step at
    // fraction 1. The fraction is the single-precision position less the step index.
    ExtendBothEnds,
};

// The value at shading time t (0..1 over the blur interval) of count samples taken at equal
// steps: linear between the two samples around t, lane by lane (a * (1 - f) + b * f). count
// is at least 1 for ExtendStartHoldEnd and at least 2 otherwise.
template <class T>
T sampleMotion(const T* samples, int count, float t, MotionEdges edges) {
    const int last = count - 1;
    switch (edges) {
    case MotionEdges::ExtendStartHoldEnd: {
        const double x = double(t) * last;
        if (!(x < last)) {
            return samples[last];
        }
        // x < last keeps the truncation in range.
        const int i = x > 0.0 ? static_cast<int>(x) : 0;
        const double step = 1.0 / last;
        return lerp(samples[i], samples[i + 1], static_cast<float>((double(t) - i * step) / step));
    }
    case MotionEdges::HoldBothEnds: {
        const double i = truncFloor(double(last) * double(t));
        if (i < 0.0) {
            return samples[0];
        }
        if (!(i < double(last))) {
            return samples[last];
        }
        const int index = int(i);
        const float step = 1.0f / float(last);
        return lerp(samples[index], samples[index + 1], (t - float(index) * step) / step);
    }
    case MotionEdges::ExtendBothEnds:
        break;
    }
    const float f = float(double(last) * double(t));
    const float i = truncFloor(f);
    // i is compared in float so that no out-of-range value is converted to int.
    const int k = i >= float(count) ? last : (i > 0.0f ? int(i) : 0);
    if (k == last) {
        return lerp(samples[last - 1], samples[last], 1.0f);
    }
    return lerp(samples[k], samples[k + 1], f - float(k));
}

} // namespace KUtils
