// How many transform samples a plugin takes over the motion-blur interval.
#pragma once

#include "kivo/HostSdk.h"

#include <algorithm>

namespace KUtils {

// No blur needs more; a larger request (a scene asking for INT_MAX samples) would only
// exhaust memory and time at frame begin.
inline constexpr int kMaxMotionSamples = 1024;

// The host's sample count for this request, bounded to [1, kMaxMotionSamples].
inline int motionSampleCount(const KivoSequenceData& sequence, int requested) {
    return std::clamp(determineMotionBlurSamples(sequence, requested), 1, kMaxMotionSamples);
}

} // namespace KUtils
