// The three edge rules of the motion-blur sampler, outside the interval and at an undefined
// time; the plugins' tests show the times inside it.
#include "frame/MotionSamples.h"

#include <gtest/gtest.h>
#include <limits>

namespace {

using namespace KUtils;

UVWTransform sample(float offset, float scale) {
    UVWTransform t;
    t.c0 = {scale, 0.0f, 0.0f, 0.0f};
    t.o = {offset, 0.0f, 0.0f, 0.0f};
    return t;
}

TEST(MotionSamples, EdgeRulesOutsideTheInterval) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const UVWTransform three[] = {sample(0.0f, 1.0f), sample(10.0f, 3.0f), sample(4.0f, 5.0f)};
    struct Case {
        MotionEdges edges;
        float t, offset;
    };
    const Case cases[] = {
        // The base generators: the first step extends backwards, the last sample holds (also
        // for an undefined time: no made-up index).
        {MotionEdges::ExtendStartHoldEnd, 1.5f, 4.0f},
        {MotionEdges::ExtendStartHoldEnd, -0.5f, -10.0f},
        {MotionEdges::ExtendStartHoldEnd, nan, 4.0f},
        // The projection: both ends hold.
        {MotionEdges::HoldBothEnds, 1.5f, 4.0f},
        {MotionEdges::HoldBothEnds, -0.5f, 0.0f},
        {MotionEdges::HoldBothEnds, 0.75f, 7.0f},
        // The environment: both ends extend, far outside without an int overflow.
        {MotionEdges::ExtendBothEnds, 1e30f, 4.0f},
        {MotionEdges::ExtendBothEnds, -1e30f, -2e31f},
        {MotionEdges::ExtendBothEnds, 0.25f, 5.0f},
    };
    for (const Case& c : cases) {
        EXPECT_FLOAT_EQ(sampleMotion(three, 3, c.t, c.edges).o.x, c.offset)
            << int(c.edges) << " at " << c.t;
    }
    EXPECT_FLOAT_EQ(sampleMotion(three, 1, 0.5f, MotionEdges::ExtendStartHoldEnd).o.x, 0.0f);
}

} // namespace
