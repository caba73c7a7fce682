// The shared chain of UVWGenBase through the interfaces, as a renderer calls them: a test
// generator supplies a known raw transform, the parameters drive the chain.
#include "channel/UVWGenBase.h"

#include "channel/UVWChain.h"
#include "kivo/PluginDescriptor.h"
#include "scene/TransformTextures.h"
#include "tests/rows/PluginRows.h"
#include "tests/support/Plugin.h"

#include <atomic>
#include <gtest/gtest.h>

namespace {

using namespace testsupport;

// A generator on UVWGenBase whose raw transform the test sets: it shows the base chain on a
// known input. It counts its raw evaluations (from any thread).
class FixedGen final : public UVWGenBase {
public:
    explicit FixedGen(KivoPluginDesc* desc) : UVWGenBase(desc) {}

    int evalLocalTransform(const ShadingContext&, UVWTransform& tm) override {
        calls.fetch_add(1, std::memory_order_relaxed);
        if (succeeds) {
            tm = raw;
        }
        return succeeds;
    }

    UVWTransform raw;
    int succeeds = 1;
    std::atomic<int> calls{0};
};

class FixedGenDesc final : public PluginDescOf<FixedGen> {
public:
    explicit FixedGenDesc(int worldSpace)
        : PluginDescOf("FixedGen", 1, "test generator", UVWGEN_DESC_INTERFACES) {
        registerUVWGenBaseParams(paramDescs(), worldSpace);
        publishParams();
    }
};

FixedGenDesc& fixedGenDesc() {
    static FixedGenDesc desc(0);
    return desc;
}

FixedGen& fixedGen(const Instance& instance) {
    return *static_cast<FixedGen*>(instance.get());
}

TEST(UVWGenBase, TransformUVWAndDerivativesComeFromTheChain) {
    kivohost::RenderSession session;
    Instance gen(fixedGenDesc());
    const UVWTransform raw{{2, 0, 0, 0}, {0, 3, 0, 0}, {0, 0, 4, 4}, {0.25f, 0.5f, 0.125f, 0.125f}};
    fixedGen(gen).raw = raw;
    gen.start(session);
    ShadingContext sc = contextAt(session, {0, 0, 0, 0});
    sc.flags = SC_FLAG_BYPASS_UVW_CACHE;
    sc.shadingPoint = {5.0f, 6.0f, 7.0f, 0.0f};
    sc.surfacePoint = {4.5f, 6.25f, 7.0f, 0.0f};

    // With the default parameters the chain is the identity.
    UVWTransform tm;
    EXPECT_EQ(gen.uvw().evalUVWTransform(sc, tm), 1);
    EXPECT_TRUE(sameTransform(tm, raw));

    gen.set("uvw_transform", Transform{{{0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 1, 0}}, {1, 2, 3}});
    gen.set("duvw_scale", 2.0f);
    gen.begin(session);
    ASSERT_EQ(gen.uvw().evalUVWTransform(sc, tm), 1);
    // uvw_transform swaps u into v (v into -u) and moves by (1, 2, 3); duvw_scale doubles the
    // columns only.
    expectXYZW(tm.c0, 0.0f, 4.0f, 0.0f, 0.0f);
    expectXYZW(tm.c1, -6.0f, 0.0f, 0.0f, 0.0f);
    expectXYZW(tm.c2, 0.0f, 0.0f, 8.0f, 8.0f);
    expectXYZW(tm.o, 0.5f, 2.25f, 3.125f, 3.125f);

    // uvw is the transform at shadingPoint - surfacePoint = (0.5, -0.25, 0).
    expectXYZ(gen.uvwAt(sc), 2.0f, 4.25f, 3.125f);

    // Each axis's wrap, crop and coverage parameters reach its coordinate (the table below
    // shows the arithmetic): u repeats, v mirrors, w is cropped.
    gen.set("uvw_transform", Transform{});
    gen.set("wrap_mode", 1);
    gen.set("wrap_u", 1);
    gen.set("wrap_v", 2);
    gen.set("crop_w", 1);
    gen.set("coverage", Vector4f{0.5f, 1.0f, 1.0f, 0.0f});
    fixedGen(gen).raw = uvwTranslation(1.25f, 1.1f, 1.25f);
    gen.begin(session);
    EXPECT_EQ(gen.uvw().evalUVWTransform(sc, tm), 0);
    expectXYZ(tm.o, 0.5f, 0.2f, 1.25f);

    // A failing generator is invalid; what it left unwritten reads as the identity and no
    // uvw_transform is applied.
    fixedGen(gen).succeeds = 0;
    EXPECT_EQ(gen.uvw().evalUVWTransform(sc, tm), 0);
    EXPECT_TRUE(sameTransform(tm, UVWTransform{}));
    gen.stop(session);
}

// The wrap, crop and coverage settings of each axis on that axis alone (the table says how).
TEST(UVWGenBase, WrapCropAndCoverageOnEachAxisAndBoundary) {
    for (int axis = 0; axis < 3; ++axis) {
        for (const std::vector<float>& c : rows::readTable(ROWS_DIR, "wrap")) {
            SCOPED_TRACE(testing::Message() << "axis " << axis << " " << testing::PrintToString(c));
            UVWFinish finish;
            finish.wrapBoundary = c[0] == 0 ? WRAP_ON_HALF : WRAP_ON_INTEGER;
            finish.wrap[axis] = int(c[1]);
            finish.crop[axis] = int(c[2]);
            (axis == 0   ? finish.coverage.x
             : axis == 1 ? finish.coverage.y
                         : finish.coverage.z) = c[3];
            UVWTransform tm;
            tm.o = {};
            (axis == 0 ? tm.o.x : axis == 1 ? tm.o.y : tm.o.z) = c[4];
            EXPECT_EQ(finishUVWTransform(tm, finish, 1), int(c[6]));
            const float got[3] = {tm.o.x, tm.o.y, tm.o.z};
            for (int k = 0; k < 3; ++k) {
                EXPECT_NEAR(got[k], k == axis ? c[5] : 0.0f, 1e-6f) << "lane " << k;
            }
        }
    }
}

// A transform texture overrides the motion-blur samples (the planar world rows show those).
// The frame begins again without the one before finished, its samples replaced, and the
// instance is deleted with the frame open: ASan sees every array released.
TEST(UVWGenBase, ATransformTextureOverridesTheMotionBlurSamples) {
    kivohost::RenderSession session;
    session.sequence.motionBlur = 1;
    Instance gen(fixedGenDesc());
    ASSERT_TRUE(setParamKeys(gen.params(), "uvw_transform",
                             {{0.0, translation(0, 0, 0)}, {1.0, translation(4, 0, 0)}}));
    gen.start(session);
    kivohost::TransformTexture placement(
        [](const ShadingContext& sc) { return uvwTranslation(100.0f * sc.time, 0.0f, 0.0f); });
    gen.set("uvw_transform_tex", static_cast<PluginBase*>(&placement));
    gen.set("wrap_mode", 1);
    gen.set("wrap_v", 1);
    fixedGen(gen).raw = uvwTranslation(0.0f, 2.5f, 0.0f);
    gen.begin(session);
    ShadingContext sc = contextAt(session, {0, 0, 0, 0}, 3);
    sc.time = 0.5f;
    Vector4f uvw;
    EXPECT_EQ(gen.uvw().evalUVW(sc, uvw), 1);
    expectXYZ(uvw, 50.0f, 0.5f, 0.0f);
    // Once cached for this stamp the texture is not asked again.
    Vector4f out[3];
    gen.uvw().evalUVWDerivs(sc, out);
    expectXYZ(out[0], 50.0f, 0.5f, 0.0f);
    EXPECT_EQ(placement.evaluations(), 1u);
}

TEST(UVWGenBase, WorldSpaceTransformIsMadeRelativeToTheSceneOrigin) {
    static FixedGenDesc worldDesc(1);
    kivohost::RenderSession session;
    session.frame.sceneOrigin = {1000.0, 0.0, -20.0};
    Instance gen(worldDesc);
    gen.set("uvw_transform", translation(1000.5, 3.0, 0.0));
    gen.start(session);
    UVWTransform tm;
    gen.uvw().evalUVWTransform(contextAt(session, {0, 0, 0, 0}), tm);
    expectXYZW(tm.o, 0.5f, 3.0f, 20.0f, 20.0f);
    gen.stop(session);
}

TEST(UVWGenBase, CacheKeyedByStampPerThread) {
    kivohost::RenderSession session;
    session.sequence.numThreads = 2;
    Instance gen(fixedGenDesc());
    FixedGen& raw = fixedGen(gen);
    gen.start(session);
    const auto offsetNow = [&](const ShadingContext& sc, float rawOffset) {
        raw.raw = uvwTranslation(rawOffset, 0.0f, 0.0f);
        UVWTransform tm;
        gen.uvw().evalUVWTransform(sc, tm);
        return tm.o.x;
    };

    ShadingContext sc = contextAt(session, {0, 0, 0, 0}, 7);
    sc.threadData.threadIndex = 1;
    EXPECT_FLOAT_EQ(offsetNow(sc, 1.0f), 1.0f);
    // Same stamp on the same thread: the first result, even though the generator changed.
    EXPECT_FLOAT_EQ(offsetNow(sc, 2.0f), 1.0f);
    EXPECT_EQ(raw.calls, 1);
    // The uvw of the cached transform still uses this context's points.
    sc.shadingPoint = {0.5f, 0.0f, 0.0f, 0.0f};
    Vector4f uvw;
    gen.uvw().evalUVW(sc, uvw);
    EXPECT_FLOAT_EQ(uvw.x, 1.5f);
    sc.shadingPoint = {};

    // Bit 0x80 bypasses the cache and leaves the entry alone.
    sc.flags = SC_FLAG_BYPASS_UVW_CACHE;
    EXPECT_FLOAT_EQ(offsetNow(sc, 2.0f), 2.0f);
    sc.flags = 0;
    EXPECT_FLOAT_EQ(offsetNow(sc, 2.0f), 1.0f);

    // Another thread and another stamp evaluate afresh.
    sc.threadData.threadIndex = 0;
    EXPECT_FLOAT_EQ(offsetNow(sc, 2.0f), 2.0f);
    sc.threadData.threadIndex = 1;
    sc.evalStamp = 8;
    EXPECT_FLOAT_EQ(offsetNow(sc, 2.0f), 2.0f);

    // Thread indices outside the cache evaluate uncached, every time.
    for (int index : {2, -1}) {
        sc.threadData.threadIndex = index;
        EXPECT_FLOAT_EQ(offsetNow(sc, float(10 + index)), float(10 + index));
        EXPECT_FLOAT_EQ(offsetNow(sc, float(20 + index)), float(20 + index));
    }

    // A new frame empties the cache (stamp 0 marks an empty entry, so a context with stamp 0
    // is never served from it); stamp 8 on thread 1 is evaluated again.
    sc.threadData.threadIndex = 1;
    gen.lifecycle().finishFrame(&session.renderer);
    gen.begin(session);
    sc.evalStamp = 0;
    EXPECT_FLOAT_EQ(offsetNow(sc, 6.0f), 6.0f);
    EXPECT_FLOAT_EQ(offsetNow(sc, 7.0f), 7.0f);
    sc.evalStamp = 8;
    EXPECT_FLOAT_EQ(offsetNow(sc, 3.0f), 3.0f);

    // After finishRender there is no cache: evaluations still work, uncached. The next frame
    // makes the cache again.
    gen.stop(session);
    EXPECT_FLOAT_EQ(offsetNow(sc, 4.0f), 4.0f);
    gen.begin(session);
    EXPECT_FLOAT_EQ(offsetNow(sc, 5.0f), 5.0f);
    EXPECT_FLOAT_EQ(offsetNow(sc, 3.0f), 5.0f);

    // An invalid result is cached too.
    gen.set("crop_u", 1);
    gen.begin(session);
    EXPECT_EQ(gen.uvw().evalUVW(sc, uvw), 0);
    raw.raw = uvwTranslation(0.25f, 0.0f, 0.0f);
    EXPECT_EQ(gen.uvw().evalUVW(sc, uvw), 0);
    EXPECT_FLOAT_EQ(uvw.x, 3.0f);
    gen.stop(session);
}

TEST(UVWGenBase, NeverPreparedWritesZerosAndIsInvalid) {
    kivohost::RenderSession session;
    Instance gen(fixedGenDesc());
    fixedGen(gen).raw = uvwTranslation(1.0f, 2.0f, 3.0f);
    const ShadingContext sc = contextAt(session, {1, 2, 3, 0});
    const Vector4f garbage{7.0f, 7.0f, 7.0f, 7.0f};

    // No lifecycle call at all, then frameBegin alone (which makes a cache but no owner).
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        Vector4f uvw = garbage;
        EXPECT_EQ(gen.uvw().evalUVW(sc, uvw), 0);
        expectXYZW(uvw, 0.0f, 0.0f, 0.0f, 0.0f);
        Vector4f out[3] = {garbage, garbage, garbage};
        EXPECT_EQ(gen.uvw().evalUVWDerivs(sc, out), 0);
        for (const Vector4f& v : out) {
            expectXYZW(v, 0.0f, 0.0f, 0.0f, 0.0f);
        }
        UVWTransform tm{garbage, garbage, garbage, garbage};
        EXPECT_EQ(gen.uvw().evalUVWTransform(sc, tm), 0);
        EXPECT_TRUE(sameTransform(tm, UVWTransform{{}, {}, {}, {}}));
        Vector4f coords = garbage;
        gen.uvwCoords().getTexVector(coords, sc);
        expectXYZW(coords, 0.0f, 0.0f, 0.0f, 0.0f);
        gen.begin(session);
    }
    EXPECT_EQ(fixedGen(gen).calls, 0);

    // Once prepared the same instance answers.
    gen.lifecycle().prepareRender(&session.renderer);
    Vector4f uvw;
    EXPECT_EQ(gen.uvw().evalUVW(sc, uvw), 1);
    expectXYZ(uvw, 1.0f, 2.0f, 3.0f);
    gen.stop(session);
}

} // namespace
