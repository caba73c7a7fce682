// The uvw_transform parameter of one frame: its value at the frame time, or samples taken at
// equal steps over the motion-blur interval and interpolated by the shading time.
#pragma once

#include "kivo/HostSdk.h"
#include "kivo/Types.h"

#include <memory>

namespace KUtils {

class TransformSamples {
public:
    // Takes this frame's value of param (null: the identity). count < 2 takes one value at
    // the frame time; more take count samples from motionBlurStart to motionBlurEnd. With
    // worldSpace the offset is made relative to the scene origin. A previous frame's samples
    // are released first.
    void take(const KivoParameter* param, int worldSpace, int count, const KivoFrameData& frame);
    // Frees the samples; first() keeps its value.
    void release();

    // The value at the frame time, or the first sample.
    const UVWTransform& first() const { return uvwTransform; }
    // The value at shading time t (0..1 over the motion-blur interval).
    UVWTransform at(float t) const;
    int count() const { return numSamples; }

private:
    UVWTransform uvwTransform;
    int numSamples = 0;
    std::unique_ptr<UVWTransform[]> samples;
};

} // namespace KUtils
