// The shared chain of UVWGenBase through the interfaces, as a renderer calls them: a test
// generator supplies a known raw transform, the parameters drive the chain.
#include "ChannelTestSupport.h"
#include "scene/TransformTextures.h"

#include <gtest/gtest.h>

namespace {

using namespace channeltest;

UVWTransform rawWithOffset(float u, float v, float w) {
    UVWTransform t;
    t.c0 = {2.0f, 0.0f, 0.0f, 0.0f};
    t.c1 = {0.0f, 3.0f, 0.0f, 0.0f};
    t.c2 = {0.0f, 0.0f, 4.0f, 4.0f};
    t.o = {u, v, w, w};
    return t;
}

TEST(UVWGenBase, IdentityChainReturnsTheRawTransform) {
    kivohost::RenderSession session;
    Instance gen(fixedGenDesc());
    fixedGen(gen).raw = rawWithOffset(1.75f, -0.5f, 2.25f);
    gen.start(session);

    ShadingContext sc = contextAt(session, {1, 1, 1, 0});
    UVWTransform tm;
    EXPECT_EQ(gen.uvw().evalUVWTransform(sc, tm), 1);
    EXPECT_TRUE(sameTransform(tm, fixedGen(gen).raw));
    gen.stop(session);
}

TEST(UVWGenBase, UVWAndDerivativesComeFromTheTransform) {
    kivohost::RenderSession session;
    Instance gen(fixedGenDesc());
    fixedGen(gen).raw = rawWithOffset(0.25f, 0.5f, 0.125f);
    gen.set("uvw_transform", transformOf({0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 1, 0}, {1, 2, 3}));
    gen.set("duvw_scale", 2.0f);
    gen.start(session);

    ShadingContext sc = contextAt(session, {0, 0, 0, 0});
    sc.shadingPoint = {5.0f, 6.0f, 7.0f, 0.0f};
    sc.surfacePoint = {4.5f, 6.25f, 7.0f, 0.0f};
    sc.dPdx = {1.0f, 0.0f, 0.5f, 0.0f};
    sc.dPdy = {0.0f, -2.0f, 0.0f, 0.0f};

    UVWTransform tm;
    ASSERT_EQ(gen.uvw().evalUVWTransform(sc, tm), 1);
    // uvw_transform swaps u into v (v into -u) and moves by (1, 2, 3); duvw_scale doubles the
    // columns only.
    EXPECT_VEC4(tm.c0, 0.0f, 4.0f, 0.0f, 0.0f);
    EXPECT_VEC4(tm.c1, -6.0f, 0.0f, 0.0f, 0.0f);
    EXPECT_VEC4(tm.c2, 0.0f, 0.0f, 8.0f, 8.0f);
    EXPECT_VEC4(tm.o, 0.5f, 2.25f, 3.125f, 3.125f);

    Vector4f uvw;
    EXPECT_EQ(gen.uvw().evalUVW(sc, uvw), 1);
    // o + c0 * 0.5 + c1 * -0.25
    EXPECT_XYZ(uvw, 2.0f, 4.25f, 3.125f);

    Vector4f out[3];
    EXPECT_EQ(gen.uvw().evalUVWDerivs(sc, out), 1);
    EXPECT_XYZ(out[0], 2.0f, 4.25f, 3.125f);
    EXPECT_XYZ(out[1], 0.0f, 4.0f, 4.0f);
    EXPECT_XYZ(out[2], 12.0f, 0.0f, 0.0f);

    // The output texture gives the uvw of evalUVW.
    Vector4f coords;
    EXPECT_EQ(gen.uvwCoords().getTexVector(coords, sc), &coords);
    EXPECT_XYZ(coords, 2.0f, 4.25f, 3.125f);
    gen.stop(session);
}

TEST(UVWGenBase, DuvwScaleScalesDerivativesOnly) {
    kivohost::RenderSession session;
    Instance gen(fixedGenDesc());
    fixedGen(gen).raw = rawWithOffset(0.25f, 0.5f, 0.0f);
    gen.start(session);
    ShadingContext sc = contextAt(session, {1, 2, 3, 0});
    sc.dPdx = {1.0f, 1.0f, 0.0f, 0.0f};
    sc.dPdy = {0.0f, 0.0f, 1.0f, 0.0f};
    Vector4f plain[3];
    gen.uvw().evalUVWDerivs(sc, plain);

    gen.set("duvw_scale", 2.0f);
    gen.lifecycle().frameBegin(&session.renderer);
    Vector4f scaled[3];
    gen.uvw().evalUVWDerivs(sc, scaled);
    EXPECT_XYZ(scaled[0], 0.25f, 0.5f, 0.0f);
    EXPECT_XYZ(plain[1], 2.0f, 3.0f, 0.0f);
    EXPECT_XYZ(scaled[1], 4.0f, 6.0f, 0.0f);
    EXPECT_XYZ(scaled[2], 0.0f, 0.0f, 8.0f);
    gen.stop(session);
}

struct ChainCase {
    int wrapMode;
    int wrap;
    int crop;
    float coverage;
    float u;
    float expected;
    int valid;
};

// The wrap, crop and coverage settings of one axis act on that axis of the offset only.
TEST(UVWGenBase, WrapCropAndCoverageOnEachAxisAndBoundary) {
    const ChainCase cases[] = {
        {1, 1, 0, 1.0f, 1.25f, 0.25f, 1},   {1, 1, 0, 1.0f, -0.25f, 0.75f, 1},
        {1, 2, 0, 1.0f, 0.75f, 0.5f, 1},    {1, 2, 0, 1.0f, 0.25f, 0.5f, 1},
        {1, 0, 0, 1.0f, 1.25f, 1.25f, 1},   {1, 1, 1, 1.0f, 1.5f, 0.5f, 0},
        {1, 0, 1, 1.0f, 0.5f, 0.5f, 1},     {1, 0, 0, 0.5f, 0.25f, 0.5f, 1},
        {1, 0, 0, 0.5f, 0.75f, 1.5f, 0},    {0, 1, 0, 1.0f, 0.75f, -0.25f, 1},
        {0, 0, 0, 1.0f, 0.75f, 0.75f, 1},   {0, 2, 0, 1.0f, 0.75f, 0.25f, 1},
        {0, 2, 0, 1.0f, 1.25f, 0.25f, 1},   {0, 1, 1, 1.0f, 0.75f, -0.25f, 0},
        {0, 0, 1, 1.0f, -0.25f, -0.25f, 1}, {0, 0, 0, 0.5f, -0.1f, 0.3f, 1},
        {0, 0, 0, 0.5f, 0.1f, 0.7f, 0},
    };
    const char* wrapNames[] = {"wrap_u", "wrap_v", "wrap_w"};
    const char* cropNames[] = {"crop_u", "crop_v", "crop_w"};
    for (int axis = 0; axis < 3; ++axis) {
        for (const ChainCase& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << "axis " << axis << " wrap_mode " << c.wrapMode << " wrap " << c.wrap
                         << " crop " << c.crop << " coverage " << c.coverage << " x " << c.u);
            kivohost::RenderSession session;
            Instance gen(fixedGenDesc());
            float offset[3] = {0.0f, 0.0f, 0.0f};
            offset[axis] = c.u;
            fixedGen(gen).raw = uvwTranslation(offset[0], offset[1], offset[2]);
            Vector4f coverage{1.0f, 1.0f, 1.0f, 0.0f};
            (axis == 0 ? coverage.x : axis == 1 ? coverage.y : coverage.z) = c.coverage;
            gen.set("wrap_mode", c.wrapMode);
            gen.set(wrapNames[axis], c.wrap);
            gen.set(cropNames[axis], c.crop);
            gen.set("coverage", coverage);
            gen.start(session);

            const ShadingContext sc = contextAt(session, {0, 0, 0, 0});
            Vector4f uvw;
            EXPECT_EQ(gen.uvw().evalUVW(sc, uvw), c.valid);
            const float got[3] = {uvw.x, uvw.y, uvw.z};
            for (int k = 0; k < 3; ++k) {
                EXPECT_NEAR(got[k], k == axis ? c.expected : 0.0f, 1e-6f) << "lane " << k;
            }
            gen.stop(session);
        }
    }
}

// A tent-shaped offset in time: 0 at 0, 10 at 0.5, 0 at 1. Only the samples taken at frame
// begin are interpolated, so the tent's peak shows how many there were.
void setTentKeys(const Instance& gen) {
    ASSERT_TRUE(setParamKeys(
        gen.params(), "uvw_transform",
        {{0.0, translation(0, 0, 0)}, {0.5, translation(10, 0, 0)}, {1.0, translation(0, 0, 0)}}));
}

// The u offset at a shading time, evaluated afresh (the cache bypassed).
float offsetAtTime(const Instance& gen, kivohost::RenderSession& session, float time) {
    ShadingContext sc = contextAt(session, {0, 0, 0, 0});
    sc.time = time;
    sc.flags = SC_FLAG_BYPASS_UVW_CACHE;
    UVWTransform tm;
    EXPECT_EQ(gen.uvw().evalUVWTransform(sc, tm), 1);
    return tm.o.x;
}

TEST(UVWGenBase, MotionBlurSamplesInterpolatedByTime) {
    kivohost::RenderSession session;
    session.sequence.motionBlur = 1;
    {
        Instance gen(fixedGenDesc());
        setTentKeys(gen);
        gen.set("nsamples", 3);
        gen.start(session);
        EXPECT_FLOAT_EQ(offsetAtTime(gen, session, 0.0f), 0.0f);
        EXPECT_FLOAT_EQ(offsetAtTime(gen, session, 0.25f), 5.0f);
        EXPECT_FLOAT_EQ(offsetAtTime(gen, session, 0.5f), 10.0f);
        EXPECT_FLOAT_EQ(offsetAtTime(gen, session, 0.75f), 5.0f);
        EXPECT_FLOAT_EQ(offsetAtTime(gen, session, 1.0f), 0.0f);
        gen.stop(session);
    }
    {
        // Two samples at the ends of the interval miss the peak entirely.
        Instance gen(fixedGenDesc());
        setTentKeys(gen);
        gen.set("nsamples", 2);
        gen.start(session);
        EXPECT_FLOAT_EQ(offsetAtTime(gen, session, 0.5f), 0.0f);
        gen.stop(session);
    }
    {
        // Two samples of a ramp: time 0.25 mixes 0.75 of the first with 0.25 of the second.
        Instance gen(fixedGenDesc());
        ASSERT_TRUE(setParamKeys(gen.params(), "uvw_transform",
                                 {{0.0, translation(2, 0, 0)}, {1.0, translation(6, 0, 0)}}));
        gen.set("nsamples", 2);
        gen.start(session);
        EXPECT_FLOAT_EQ(offsetAtTime(gen, session, 0.0f), 2.0f);
        EXPECT_FLOAT_EQ(offsetAtTime(gen, session, 0.25f), 3.0f);
        EXPECT_FLOAT_EQ(offsetAtTime(gen, session, 1.0f), 6.0f);
        gen.stop(session);
    }
    {
        // Samples span the frame's blur interval, here [-0.5, 0.5]: the sequence's default
        // geometry sample count (3) is taken when nsamples is 0.
        session.sequence.geomSamples = 3;
        session.frame.motionBlurStart = -0.5;
        session.frame.motionBlurEnd = 0.5;
        Instance gen(fixedGenDesc());
        ASSERT_TRUE(setParamKeys(gen.params(), "uvw_transform",
                                 {{-0.5, translation(-4, 0, 0)}, {0.5, translation(4, 0, 0)}}));
        gen.start(session);
        EXPECT_FLOAT_EQ(offsetAtTime(gen, session, 0.0f), -4.0f);
        EXPECT_FLOAT_EQ(offsetAtTime(gen, session, 0.5f), 0.0f);
        EXPECT_FLOAT_EQ(offsetAtTime(gen, session, 1.0f), 4.0f);
        gen.stop(session);
    }
}

TEST(UVWGenBase, WithoutMotionBlurTheFrameTimeValueIsUsed) {
    kivohost::RenderSession session;
    session.frame.frameTime = 0.5;
    Instance gen(fixedGenDesc());
    setTentKeys(gen);
    gen.set("nsamples", 3);
    gen.start(session);
    EXPECT_FLOAT_EQ(offsetAtTime(gen, session, 0.0f), 10.0f);
    EXPECT_FLOAT_EQ(offsetAtTime(gen, session, 1.0f), 10.0f);
    gen.stop(session);
}

TEST(UVWGenBase, WorldSpaceTransformIsMadeRelativeToTheSceneOrigin) {
    static FixedGenDesc worldDesc(1);
    kivohost::RenderSession session;
    session.frame.sceneOrigin = {1000.0, 0.0, -20.0};
    Instance gen(worldDesc);
    gen.set("uvw_transform", translation(1000.5, 3.0, 0.0));
    gen.start(session);
    EXPECT_FLOAT_EQ(offsetAtTime(gen, session, 0.0f), 0.5f);
    UVWTransform tm;
    gen.uvw().evalUVWTransform(contextAt(session, {0, 0, 0, 0}, 2), tm);
    EXPECT_VEC4(tm.o, 0.5f, 3.0f, 20.0f, 20.0f);
    gen.stop(session);
}

TEST(UVWGenBase, TransformTextureOverridesTheSamples) {
    kivohost::RenderSession session;
    session.sequence.motionBlur = 1;
    kivohost::TransformTexture placement(
        [](const ShadingContext& sc) { return uvwTranslation(100.0f * sc.time, 0.0f, 0.0f); });
    Instance gen(fixedGenDesc());
    setTentKeys(gen);
    gen.set("nsamples", 3);
    gen.set("uvw_transform_tex", static_cast<PluginBase*>(&placement));
    gen.set("wrap_mode", 1);
    gen.set("wrap_v", 1);
    fixedGen(gen).raw = uvwTranslation(0.0f, 2.5f, 0.0f);
    gen.start(session);

    ShadingContext sc = contextAt(session, {0, 0, 0, 0}, 3);
    sc.time = 0.5f;
    Vector4f uvw;
    EXPECT_EQ(gen.uvw().evalUVW(sc, uvw), 1);
    EXPECT_XYZ(uvw, 50.0f, 0.5f, 0.0f);
    EXPECT_EQ(placement.evaluations(), 1u);
    // Once cached for this stamp the texture is not asked again.
    Vector4f out[3];
    gen.uvw().evalUVWDerivs(sc, out);
    EXPECT_XYZ(out[0], 50.0f, 0.5f, 0.0f);
    EXPECT_EQ(placement.evaluations(), 1u);
    gen.stop(session);
}

TEST(UVWGenBase, CacheKeyedByStampPerThread) {
    kivohost::RenderSession session;
    session.sequence.numThreads = 2;
    Instance gen(fixedGenDesc());
    FixedGen& raw = fixedGen(gen);
    raw.raw = uvwTranslation(1.0f, 0.0f, 0.0f);
    gen.start(session);

    ShadingContext sc = contextAt(session, {0, 0, 0, 0}, 7);
    sc.threadData.threadIndex = 1;
    UVWTransform first;
    gen.uvw().evalUVWTransform(sc, first);
    EXPECT_EQ(raw.calls, 1);

    // Same stamp on the same thread: the first result, even though the generator changed.
    raw.raw = uvwTranslation(2.0f, 0.0f, 0.0f);
    UVWTransform again;
    gen.uvw().evalUVWTransform(sc, again);
    EXPECT_FLOAT_EQ(again.o.x, 1.0f);
    EXPECT_EQ(raw.calls, 1);
    // The uvw of the cached transform still uses this context's points.
    sc.shadingPoint = {0.5f, 0.0f, 0.0f, 0.0f};
    Vector4f uvw;
    gen.uvw().evalUVW(sc, uvw);
    EXPECT_FLOAT_EQ(uvw.x, 1.5f);
    sc.shadingPoint = {};

    // Bit 0x80 bypasses the cache and leaves the entry alone.
    sc.flags = SC_FLAG_BYPASS_UVW_CACHE;
    gen.uvw().evalUVWTransform(sc, again);
    EXPECT_FLOAT_EQ(again.o.x, 2.0f);
    sc.flags = 0;
    gen.uvw().evalUVWTransform(sc, again);
    EXPECT_FLOAT_EQ(again.o.x, 1.0f);

    // Another thread and another stamp evaluate afresh.
    sc.threadData.threadIndex = 0;
    gen.uvw().evalUVWTransform(sc, again);
    EXPECT_FLOAT_EQ(again.o.x, 2.0f);
    sc.threadData.threadIndex = 1;
    sc.evalStamp = 8;
    gen.uvw().evalUVWTransform(sc, again);
    EXPECT_FLOAT_EQ(again.o.x, 2.0f);

    // Thread indices outside the cache evaluate uncached, every time.
    for (int index : {2, -1}) {
        sc.threadData.threadIndex = index;
        raw.raw = uvwTranslation(float(10 + index), 0.0f, 0.0f);
        gen.uvw().evalUVWTransform(sc, again);
        EXPECT_FLOAT_EQ(again.o.x, float(10 + index));
        raw.raw = uvwTranslation(float(20 + index), 0.0f, 0.0f);
        gen.uvw().evalUVWTransform(sc, again);
        EXPECT_FLOAT_EQ(again.o.x, float(20 + index));
    }

    // A new frame empties the cache: stamp 8 on thread 1 is evaluated again.
    sc.threadData.threadIndex = 1;
    raw.raw = uvwTranslation(3.0f, 0.0f, 0.0f);
    gen.lifecycle().finishFrame(&session.renderer);
    gen.lifecycle().frameBegin(&session.renderer);
    gen.uvw().evalUVWTransform(sc, again);
    EXPECT_FLOAT_EQ(again.o.x, 3.0f);
    gen.stop(session);
}

TEST(UVWGenBase, InvalidResultsAreCachedToo) {
    kivohost::RenderSession session;
    Instance gen(fixedGenDesc());
    FixedGen& raw = fixedGen(gen);
    raw.raw = uvwTranslation(0.75f, 0.0f, 0.0f);
    gen.set("crop_u", 1);
    gen.start(session);
    ShadingContext sc = contextAt(session, {0, 0, 0, 0}, 4);
    Vector4f uvw;
    EXPECT_EQ(gen.uvw().evalUVW(sc, uvw), 0);
    raw.raw = uvwTranslation(0.25f, 0.0f, 0.0f);
    EXPECT_EQ(gen.uvw().evalUVW(sc, uvw), 0);
    EXPECT_FLOAT_EQ(uvw.x, 0.75f);

    // A failing generator is invalid; what it left unwritten reads as the identity and no
    // uvw_transform is applied.
    gen.set("uvw_transform", translation(5, 5, 5));
    gen.lifecycle().frameBegin(&session.renderer);
    raw.succeeds = 0;
    UVWTransform tm;
    EXPECT_EQ(gen.uvw().evalUVWTransform(sc, tm), 0);
    EXPECT_TRUE(sameTransform(tm, UVWTransform{}));
    raw.succeeds = 1;
    EXPECT_EQ(gen.uvw().evalUVWTransform(sc, tm), 0);
    EXPECT_EQ(raw.calls, 2);
    gen.stop(session);
}

TEST(UVWGenBase, StampZeroIsNeverServedFromAnEmptyEntry) {
    kivohost::RenderSession session;
    Instance gen(fixedGenDesc());
    FixedGen& raw = fixedGen(gen);
    raw.raw = uvwTranslation(0.25f, 0.0f, 0.0f);
    gen.start(session);
    // An emptied entry has stamp 0: a context with stamp 0 must not read it as a hit.
    ShadingContext sc = contextAt(session, {0, 0, 0, 0}, 0);
    Vector4f uvw;
    EXPECT_EQ(gen.uvw().evalUVW(sc, uvw), 1);
    EXPECT_FLOAT_EQ(uvw.x, 0.25f);
    raw.raw = uvwTranslation(0.5f, 0.0f, 0.0f);
    EXPECT_EQ(gen.uvw().evalUVW(sc, uvw), 1);
    EXPECT_FLOAT_EQ(uvw.x, 0.5f);
    EXPECT_EQ(raw.calls, 2);
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
        EXPECT_VEC4(uvw, 0.0f, 0.0f, 0.0f, 0.0f);
        Vector4f out[3] = {garbage, garbage, garbage};
        EXPECT_EQ(gen.uvw().evalUVWDerivs(sc, out), 0);
        for (const Vector4f& v : out) {
            EXPECT_VEC4(v, 0.0f, 0.0f, 0.0f, 0.0f);
        }
        UVWTransform tm{garbage, garbage, garbage, garbage};
        EXPECT_EQ(gen.uvw().evalUVWTransform(sc, tm), 0);
        EXPECT_TRUE(sameTransform(tm, UVWTransform{{}, {}, {}, {}}));
        Vector4f coords = garbage;
        gen.uvwCoords().getTexVector(coords, sc);
        EXPECT_VEC4(coords, 0.0f, 0.0f, 0.0f, 0.0f);
        gen.lifecycle().frameBegin(&session.renderer);
    }
    EXPECT_EQ(fixedGen(gen).calls, 0);

    // Once prepared the same instance answers.
    gen.lifecycle().prepareRender(&session.renderer);
    Vector4f uvw;
    EXPECT_EQ(gen.uvw().evalUVW(sc, uvw), 1);
    EXPECT_XYZ(uvw, 1.0f, 2.0f, 3.0f);
    gen.stop(session);
}

TEST(UVWGenBase, OutputTextureInterface) {
    Instance gen(fixedGenDesc());
    TextureVectorInterface& coords = gen.uvwCoords();
    EXPECT_EQ(coords.getInterfaceID(), 2005072102u);
    EXPECT_STREQ(coords.getInterfaceName(), "EXT_TEXTURE_VECTOR");
    EXPECT_EQ(coords.getPlugin(), nullptr);
    Vector4f minimum, maximum;
    coords.getTexVectorBounds(minimum, maximum);
    EXPECT_VEC4(minimum, -1e18f, -1e18f, -1e18f, -1e18f);
    EXPECT_VEC4(maximum, 1e18f, 1e18f, 1e18f, 1e18f);
    Vector4f derivative{1, 1, 1, 1};
    coords.getTexVectorDerivative(derivative);
    EXPECT_VEC4(derivative, 0.0f, 0.0f, 0.0f, 0.0f);
}

TEST(UVWGenBase, LifecycleAcrossFramesAndRenders) {
    kivohost::RenderSession session;
    session.sequence.motionBlur = 1;
    session.sequence.numThreads = 4;
    Instance gen(fixedGenDesc());
    FixedGen& raw = fixedGen(gen);
    setTentKeys(gen);
    gen.set("nsamples", 3);
    gen.start(session);
    // Frames that begin without the previous one finished replace their samples (ASan would
    // report the lost arrays).
    gen.lifecycle().frameBegin(&session.renderer);
    gen.set("nsamples", 5);
    gen.lifecycle().frameBegin(&session.renderer);
    EXPECT_FLOAT_EQ(offsetAtTime(gen, session, 0.5f), 10.0f);
    EXPECT_FLOAT_EQ(offsetAtTime(gen, session, 0.25f), 5.0f);

    // After finishRender there is no cache: evaluations still work, uncached.
    gen.lifecycle().finishFrame(&session.renderer);
    gen.lifecycle().finishRender(&session.renderer);
    const ShadingContext sc = contextAt(session, {0, 0, 0, 0}, 9);
    raw.raw = uvwTranslation(0.0f, 1.0f, 0.0f);
    UVWTransform tm;
    gen.uvw().evalUVWTransform(sc, tm);
    raw.raw = uvwTranslation(0.0f, 2.0f, 0.0f);
    gen.uvw().evalUVWTransform(sc, tm);
    EXPECT_FLOAT_EQ(tm.o.y, 2.0f);

    // The next frame makes the cache again.
    gen.lifecycle().frameBegin(&session.renderer);
    gen.uvw().evalUVWTransform(sc, tm);
    raw.raw = uvwTranslation(0.0f, 3.0f, 0.0f);
    gen.uvw().evalUVWTransform(sc, tm);
    EXPECT_FLOAT_EQ(tm.o.y, 2.0f);
    gen.lifecycle().frameBegin(&session.renderer);
    // Destruction with a frame still open releases its samples and the cache.
}

TEST(UVWGenBase, WithoutCacheMemoryEvaluationsRunUncached) {
    kivohost::RenderSession session;
    Instance gen(fixedGenDesc());
    FixedGen& raw = fixedGen(gen);
    {
        kivohost::ScopedAllocFailure failing(0, -1);
        gen.lifecycle().prepareRender(&session.renderer);
    }
    raw.raw = uvwTranslation(1.0f, 0.0f, 0.0f);
    const ShadingContext sc = contextAt(session, {0, 0, 0, 0}, 3);
    UVWTransform tm;
    EXPECT_EQ(gen.uvw().evalUVWTransform(sc, tm), 1);
    raw.raw = uvwTranslation(2.0f, 0.0f, 0.0f);
    EXPECT_EQ(gen.uvw().evalUVWTransform(sc, tm), 1);
    EXPECT_FLOAT_EQ(tm.o.x, 2.0f);
    gen.stop(session);
}

TEST(UVWGenBase, EvaluationsDoNotAllocate) {
    kivohost::RenderSession session;
    session.sequence.motionBlur = 1;
    session.sequence.numThreads = 2;
    kivohost::TransformTexture placement(uvwTranslation(0.5f, 0.0f, 0.0f));
    Instance gen(fixedGenDesc());
    Instance textured(fixedGenDesc());
    setTentKeys(gen);
    gen.set("nsamples", 3);
    gen.set("wrap_u", 2);
    gen.set("coverage", Vector4f{0.5f, 1.0f, 1.0f, 0.0f});
    textured.set("uvw_transform_tex", static_cast<PluginBase*>(&placement));
    gen.start(session);
    textured.start(session);

    ShadingContext sc = contextAt(session, {1, 2, 3, 0});
    const std::size_t before = kivohost::allocationCount();
    for (int i = 0; i < 200; ++i) {
        sc.evalStamp = std::uint32_t(1 + i / 2);
        sc.threadData.threadIndex = i % 3;
        sc.time = float(i % 11) / 10.0f;
        sc.flags = (i % 5 == 0) ? SC_FLAG_BYPASS_UVW_CACHE : 0;
        for (const Instance* g : {&gen, &textured}) {
            Vector4f uvw, out[3];
            UVWTransform tm;
            g->uvw().evalUVW(sc, uvw);
            g->uvw().evalUVWDerivs(sc, out);
            g->uvw().evalUVWTransform(sc, tm);
            g->uvwCoords().getTexVector(uvw, sc);
        }
    }
    EXPECT_EQ(kivohost::allocationCount(), before);
    gen.stop(session);
    textured.stop(session);
}

} // namespace
