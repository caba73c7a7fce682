// The pure chain math where the interface tests cannot reach: undefined inputs, the order of
// the finishing steps, the channel basis inverse and the samples of a missing parameter.
#include "channel/UVWChain.h"

#include "channel/TransformSamples.h"
#include "kivo/VectorMath.h"
#include "tests/support/Plugin.h"

#include <gtest/gtest.h>
#include <limits>

namespace {

using namespace testsupport;

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
    expectXYZW(tm.o, 1.5f, 0.75f, 0.5f, 0.5f);
    expectXYZW(tm.c0, 6.0f, 0.0f, 0.0f, 0.0f);
    expectXYZW(tm.c1, 0.0f, 3.0f, 0.0f, 0.0f);
    expectXYZW(tm.c2, 0.0f, 0.0f, 3.0f, 3.0f);

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

TEST(InverseColumns, InvertsInDouble) {
    const Vector4f sheared[3] = {{1, 1, 0, 0}, {0, 1, 0, 0}, {0, 0, 2, 0}};
    const UVWTransform inv = inverseColumns(sheared, DetExpansion::TripleProduct);
    expectXYZW(inv.c0, 1.0f, -1.0f, 0.0f, 0.0f);
    expectXYZW(inv.c1, 0.0f, 1.0f, 0.0f, 0.0f);
    expectXYZW(inv.c2, 0.0f, 0.0f, 0.5f, 0.5f);
    expectXYZW(inv.o, 0.0f, 0.0f, 0.0f, 0.0f);

    // Tiny but regular: the double-precision determinant (1e-60) is not 0.
    const Vector4f tiny[3] = {{1e-20f, 0, 0, 0}, {0, 1e-20f, 0, 0}, {0, 0, 1e-20f, 0}};
    EXPECT_FLOAT_EQ(inverseColumns(tiny, DetExpansion::TripleProduct).c1.y, 1e20f);
}

TEST(TransformSamples, MissingParameterIsIdentityOrMinusOrigin) {
    KivoFrameData frame;
    frame.sceneOrigin = {100.0, -2.0, 0.5};
    TransformSamples samples;
    // A sample count below 1 still takes one value.
    samples.take(nullptr, 0, 0, frame);
    EXPECT_EQ(samples.count(), 1);
    EXPECT_TRUE(sameTransform(samples.at(0.5f), UVWTransform{}));

    samples.take(nullptr, 1, -3, frame);
    EXPECT_EQ(samples.count(), 1);
    expectXYZW(samples.first().o, -100.0f, 2.0f, -0.5f, -0.5f);
    expectXYZW(samples.first().c0, 1.0f, 0.0f, 0.0f, 0.0f);
}

} // namespace
