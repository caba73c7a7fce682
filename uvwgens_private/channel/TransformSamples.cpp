#include "channel/TransformSamples.h"

#include "frame/MotionSamples.h"
#include "kivo/VectorMath.h"

namespace KUtils {

namespace {

UVWTransform sampleAt(const KivoParameter& param, double time, int worldSpace,
                      const Vector3d& origin) {
    Transform t = param.getTransform(0, time);
    if (worldSpace) {
        t.offs.x -= origin.x;
        t.offs.y -= origin.y;
        t.offs.z -= origin.z;
    }
    return toUVWTransform(t);
}

} // namespace

void TransformSamples::take(const KivoParameter* param, int worldSpace, int count,
                            const KivoFrameData& frame) {
    release();
    numSamples = count < 1 ? 1 : count;
    const Vector3d& origin = frame.sceneOrigin;
    if (!param) {
        uvwTransform = UVWTransform{};
        if (worldSpace) {
            uvwTransform.o = padded(static_cast<float>(-origin.x), static_cast<float>(-origin.y),
                                    static_cast<float>(-origin.z));
        }
        return;
    }
    if (numSamples == 1) {
        uvwTransform = sampleAt(*param, frame.frameTime, worldSpace, origin);
        return;
    }
    samples = std::make_unique<UVWTransform[]>(static_cast<std::size_t>(numSamples));
    for (int i = 0; i < numSamples; ++i) {
        samples[i] = sampleAt(*param, motionSampleTime(frame, i, numSamples), worldSpace, origin);
    }
    uvwTransform = samples[0];
}

void TransformSamples::release() {
    samples.reset();
}

UVWTransform TransformSamples::at(float t) const {
    return samples ? sampleMotion(samples.get(), numSamples, t, MotionEdges::ExtendStartHoldEnd)
                   : uvwTransform;
}

} // namespace KUtils
