// The pure chain math where the interface tests cannot reach: undefined inputs, the order of
// the finishing steps, the motion-blur sample outside the interval, the channel basis inverse,
// the per-thread cache layout and the samples of a missing parameter.
#include "channel/UVWChain.h"

#include "ChannelTestSupport.h"
#include "channel/ThreadCache.h"
#include "channel/TransformSamples.h"
#include "host/sdk/HostRuntime.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>

namespace {

using namespace KUtils;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST(WrapCoordinate, NeverSetsValidAndFlagsUndefinedCoverage) {
    int valid = 0;
    EXPECT_FLOAT_EQ(wrapCoordinate(0.25f, 1.0f, 0, WRAP_NONE, WRAP_ON_INTEGER, valid), 0.25f);
    EXPECT_EQ(valid, 0);
    for (int boundary : {WRAP_ON_INTEGER, WRAP_ON_HALF}) {
        valid = 1;
        wrapCoordinate(0.25f, kNaN, 0, WRAP_NONE, boundary, valid);
        EXPECT_EQ(valid, 0) << boundary;
    }
    // Far outside the 32-bit range the floor is taken in floating point.
    valid = 1;
    EXPECT_FLOAT_EQ(wrapCoordinate(3e10f, 1.0f, 0, WRAP_REPEAT, WRAP_ON_INTEGER, valid), 0.0f);
    EXPECT_EQ(valid, 1);
}

TEST(MirrorTile, FoldsWithPeriodTwo) {
    const float cases[][2] = {{-0.25f, 0.25f}, {0.75f, 0.75f}, {1.5f, 0.5f},
                              {3.0f, 1.0f},    {-1.0f, 1.0f},  {2.0f, 0.0f}};
    for (const auto& c : cases) {
        EXPECT_NEAR(mirrorTile(c[0]), c[1], 1e-6f) << c[0];
    }
}

UVWTransform sample(float offset, float scale) {
    UVWTransform t;
    t.c0 = {scale, 0.0f, 0.0f, 0.0f};
    t.o = {offset, 0.0f, 0.0f, 0.0f};
    return t;
}

TEST(SampleAtTime, InterpolatesEveryLaneAndHandlesTimesOutsideTheInterval) {
    const UVWTransform three[] = {sample(0.0f, 1.0f), sample(10.0f, 3.0f), sample(4.0f, 5.0f)};
    const struct {
        float t, offset, scale;
    } cases[] = {
        {0.75f, 7.0f, 4.0f},
        {1.5f, 4.0f, 5.0f},
        {-0.5f, -10.0f, -1.0f}, // before the interval the first step extrapolates
        {kNaN, 4.0f, 5.0f},     // an undefined time takes the last sample, no made-up index
    };
    for (const auto& c : cases) {
        const UVWTransform s = sampleAtTime(three, 3, c.t);
        EXPECT_FLOAT_EQ(s.o.x, c.offset) << c.t;
        EXPECT_FLOAT_EQ(s.c0.x, c.scale) << c.t;
        EXPECT_FLOAT_EQ(s.c2.z, 1.0f) << c.t;
    }
    EXPECT_FLOAT_EQ(sampleAtTime(three, 1, 0.5f).o.x, 0.0f);
}

TEST(FinishUVWTransform, WrapThenTexTransformThenScaleThenMirror) {
    UVWFinish finish;
    finish.wrapBoundary = WRAP_ON_INTEGER;
    finish.wrap[0] = WRAP_REPEAT;
    finish.wrap[1] = WRAP_REPEAT;
    finish.texTransform.c0 = {2.0f, 0.0f, 0.0f, 0.0f};
    finish.texTransform.o = {1.0f, 0.0f, 0.0f, 0.0f};
    finish.duvwScale = 3.0f;

    UVWTransform tm;
    tm.o = {1.25f, -0.25f, 0.5f, 9.0f};
    EXPECT_EQ(finishUVWTransform(tm, finish, 1), 1);
    // Offset wrapped to (0.25, 0.75, 0.5), then u doubled and moved by 1; not scaled.
    EXPECT_VEC4(tm.o, 1.5f, 0.75f, 0.5f, 0.5f);
    EXPECT_VEC4(tm.c0, 6.0f, 0.0f, 0.0f, 0.0f);
    EXPECT_VEC4(tm.c1, 0.0f, 3.0f, 0.0f, 0.0f);
    EXPECT_VEC4(tm.c2, 0.0f, 0.0f, 3.0f, 3.0f);

    // The mirror fold on the 0.5 boundary comes after tex_transform: 0.75 folds to -0.25,
    // moves to 0.75 and stays there; folding first would have given 1.25.
    UVWFinish half;
    half.wrap[0] = WRAP_MIRROR;
    half.texTransform.o = {1.0f, 0.0f, 0.0f, 0.0f};
    UVWTransform mirrored;
    mirrored.o = {0.75f, 0.0f, 0.0f, 0.0f};
    EXPECT_EQ(finishUVWTransform(mirrored, half, 1), 1);
    EXPECT_FLOAT_EQ(mirrored.o.x, 0.75f);

    // On the integer boundary the mirror is complete in the wrap step: 0.75 -> 0.5 -> 1.5.
    half.wrapBoundary = WRAP_ON_INTEGER;
    mirrored.o = {0.75f, 0.0f, 0.0f, 0.0f};
    finishUVWTransform(mirrored, half, 1);
    EXPECT_FLOAT_EQ(mirrored.o.x, 1.5f);

    // An incoming 0 stays 0.
    UVWTransform inside;
    EXPECT_EQ(finishUVWTransform(inside, UVWFinish{}, 0), 0);
}

TEST(InverseBasisColumns, InvertsInDoubleAndZeroesSingularBases) {
    const Vector4f sheared[3] = {{1, 1, 0, 0}, {0, 1, 0, 0}, {0, 0, 2, 0}};
    const UVWTransform inv = inverseBasisColumns(sheared);
    EXPECT_VEC4(inv.c0, 1.0f, -1.0f, 0.0f, 0.0f);
    EXPECT_VEC4(inv.c1, 0.0f, 1.0f, 0.0f, 0.0f);
    EXPECT_VEC4(inv.c2, 0.0f, 0.0f, 0.5f, 0.5f);
    EXPECT_VEC4(inv.o, 0.0f, 0.0f, 0.0f, 0.0f);

    // Tiny but regular: the double-precision determinant (1e-60) is not 0.
    const Vector4f tiny[3] = {{1e-20f, 0, 0, 0}, {0, 1e-20f, 0, 0}, {0, 0, 1e-20f, 0}};
    EXPECT_FLOAT_EQ(inverseBasisColumns(tiny).c1.y, 1e20f);
}

TEST(ThreadCache, AlignedEntriesAndUncachedContexts) {
    ThreadCache cache;
    cache.allocate(3);
    ASSERT_EQ(cache.size(), 3);

    ShadingContext sc;
    sc.evalStamp = 5;
    ThreadCacheEntry* first = cache.entryFor(sc);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(first) % 128, 0u);
    EXPECT_EQ(first->stamp, 0u);
    sc.threadData.threadIndex = 2;
    EXPECT_EQ(reinterpret_cast<char*>(cache.entryFor(sc)) - reinterpret_cast<char*>(first), 512);

    // An emptied entry has stamp 0: a context with stamp 0 must not read it as a hit.
    sc.evalStamp = 0;
    EXPECT_EQ(cache.entryFor(sc), nullptr);

    cache.release();
    sc.evalStamp = 5;
    EXPECT_EQ(cache.entryFor(sc), nullptr);
    cache.allocate(0);
    EXPECT_FALSE(cache.exists());
    {
        kivohost::ScopedAllocFailure failing;
        cache.allocate(4);
    }
    EXPECT_FALSE(cache.exists());
    EXPECT_EQ(cache.size(), 0);
}

TEST(TransformSamples, MissingParameterIsIdentityOrMinusOrigin) {
    KivoFrameData frame;
    frame.sceneOrigin = {100.0, -2.0, 0.5};
    TransformSamples samples;
    // A sample count below 1 still takes one value.
    samples.take(nullptr, 0, 0, frame);
    EXPECT_EQ(samples.count(), 1);
    EXPECT_VEC4(samples.at(0.5f).o, 0.0f, 0.0f, 0.0f, 0.0f);
    EXPECT_VEC4(samples.at(0.5f).c2, 0.0f, 0.0f, 1.0f, 1.0f);

    samples.take(nullptr, 1, -3, frame);
    EXPECT_EQ(samples.count(), 1);
    EXPECT_VEC4(samples.first().o, -100.0f, 2.0f, -0.5f, -0.5f);
    EXPECT_VEC4(samples.first().c0, 1.0f, 0.0f, 0.0f, 0.0f);
}

} // namespace
