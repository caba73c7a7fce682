// The weighting of projected colours and the per-thread colour caches, without a host.
#include "host/sdk/HostRuntime.h"
#include "projection/ColorResultCache.h"
#include "projection/MultiProjectionBlend.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

using namespace KUtils;

TEST(MultiProjectionBlend, ViewFromCentreGivesDistanceAndFacing) {
    struct Case {
        Vector4f point, normal;
        int backSide;
        Vector4f centre;
        float distance, facing;
    };
    const Vector4f up{0, 0, 1, 0};
    const Vector4f down{0, 0, -1, 0};
    const Case cases[] = {
        {{0, 0, 0, 0}, up, 0, {0, 0, 10, 0}, 10.0f, 1.0f}, // straight above
        {{0, 0, 0, 0}, up, 0, {0, 6, 8, 0}, 10.0f, 0.8f},  // 8/10 of the way up
        {{0, 0, 0, 0}, up, 0, {0, 0, -4, 0}, 4.0f, -1.0f}, // behind the surface
        {{0, 0, 0, 0}, up, 1, {0, 0, -4, 0}, 4.0f, 1.0f},  // back side: flipped
        {{0, 0, 0, 0}, up, 1, {0, 6, 8, 0}, 10.0f, -0.8f}, // back side, front centre
        {{1, 2, 2, 0}, down, 0, {0, 0, 0, 0}, 3.0f, 2.0f / 3.0f},
        {{5, 5, 5, 0}, up, 0, {5, 5, 5, 0}, 0.0f, 0.0f}, // at the centre
        {{5, 5, 5, 0}, up, 1, {5, 5, 5, 0}, 0.0f, 0.0f},
    };
    for (const Case& c : cases) {
        const CentreView v = viewFromCentre(c.point, c.normal, c.backSide, c.centre);
        EXPECT_FLOAT_EQ(v.distance, c.distance);
        EXPECT_FLOAT_EQ(v.facing, c.facing);
        EXPECT_EQ(facesCentre(v), !(c.facing < 0.0f));
    }
}

TEST(MultiProjectionBlend, FacingWeightIsFacingOverDistanceWithAFloor) {
    EXPECT_FLOAT_EQ(facingWeight({10.0f, 1.0f}), 0.1f);
    EXPECT_FLOAT_EQ(facingWeight({10.0f, 0.8f}), 0.08f);
    EXPECT_FLOAT_EQ(facingWeight({1e-8f, 0.5f}), 500000.0f);
    // A point at a centre weighs nothing instead of 0/0.
    EXPECT_EQ(facingWeight(viewFromCentre({1, 1, 1, 0}, {0, 0, 1, 0}, 0, {1, 1, 1, 0})), 0.0f);
}

TEST(MultiProjectionBlend, RecordedDepthIsTheMeanOfRedGreenBlue) {
    EXPECT_EQ(recordedDepth({3, 3, 3, 0}), 3.0f);
    EXPECT_EQ(recordedDepth({1, 2, 6, 100}), 3.0f);
    // Scaled by 0.33333334, not divided by 3: 0.3 / 3 would round to 0.1.
    EXPECT_EQ(recordedDepth({0.3f, 0, 0, 0}), 0.100000009f);
}

TEST(MultiProjectionBlend, DepthWeightFavoursAgreeingDepth) {
    const CentreView straight{10.0f, 1.0f};
    // Agreement (e = 0): f / (offset + 0.01).
    EXPECT_FLOAT_EQ(depthWeight(straight, 10.0f, 0.01f), 50.0f);
    EXPECT_FLOAT_EQ(depthWeight(straight, 10.0f, 0.49f), 2.0f);
    EXPECT_FLOAT_EQ(depthWeight(straight, 10.0f, 0.0f), 100.0f);
    // Offsets of -0.01 and below leave only the 1e-6 floor.
    EXPECT_FLOAT_EQ(depthWeight(straight, 10.0f, -0.01f), 1e6f);
    EXPECT_FLOAT_EQ(depthWeight(straight, 10.0f, -0.5f), 1e6f);
    // Disagreement by 2 either way: 0.02 + 10 * 4.
    EXPECT_FLOAT_EQ(depthWeight(straight, 12.0f, 0.01f), 1.0f / 40.02f);
    EXPECT_FLOAT_EQ(depthWeight(straight, 8.0f, 0.01f), 1.0f / 40.02f);
    EXPECT_FLOAT_EQ(depthWeight({4.0f, 0.5f}, 5.0f, 0.01f), 0.5f / 4.02f);
    // A point at a centre weighs nothing, whatever the recorded depth.
    EXPECT_EQ(depthWeight({0.0f, 0.0f}, 5.0f, 0.01f), 0.0f);
    EXPECT_EQ(depthWeight({0.0f, 0.0f}, 0.0f, -1.0f), 0.0f);
}

TEST(MultiProjectionBlend, ColorBlendIsTheWeightedMean) {
    ColorBlend none;
    EXPECT_EQ(none.result().r, 0.0f);
    EXPECT_EQ(none.result().a, 0.0f);

    ColorBlend unweighted;
    unweighted.add(0.0f, {1, 1, 1, 1});
    const AColor zero = unweighted.result();
    EXPECT_EQ(zero.r, 0.0f);
    EXPECT_EQ(zero.g, 0.0f);
    EXPECT_EQ(zero.b, 0.0f);
    EXPECT_EQ(zero.a, 0.0f);

    ColorBlend two;
    two.add(0.1f, {1, 0, 0, 1});
    two.add(0.08f, {0, 1, 0.5f, 1});
    two.add(0.0f, {7, 7, 7, 7});
    const AColor c = two.result();
    EXPECT_FLOAT_EQ(c.r, 5.0f / 9.0f);
    EXPECT_FLOAT_EQ(c.g, 4.0f / 9.0f);
    EXPECT_FLOAT_EQ(c.b, 2.0f / 9.0f);
    EXPECT_FLOAT_EQ(c.a, 1.0f);
}

TEST(ColorResultCache, EntriesAreKeyedBySlotAndStamp) {
    ColorResultCache cache;
    EXPECT_EQ(cache.find(0, 1), nullptr);
    EXPECT_EQ(cache.size(), 0u);

    ASSERT_TRUE(cache.store(3, 7, {1, 2, 3, 4}));
    EXPECT_EQ(cache.size(), 4u);
    const AColor* hit = cache.find(3, 7);
    ASSERT_NE(hit, nullptr);
    EXPECT_EQ(hit->g, 2.0f);
    EXPECT_EQ(cache.find(3, 8), nullptr);
    // The slots grown on the way hold nothing.
    EXPECT_EQ(cache.find(0, 7), nullptr);
    EXPECT_EQ(cache.find(2, 7), nullptr);
    EXPECT_EQ(cache.find(4, 7), nullptr);

    // Growth doubles at least, keeping what is stored.
    ASSERT_TRUE(cache.store(4, 9, {5, 6, 7, 8}));
    EXPECT_EQ(cache.size(), 8u);
    ASSERT_TRUE(cache.store(20, 9, {0, 0, 0, 1}));
    EXPECT_EQ(cache.size(), 21u);
    ASSERT_NE(cache.find(3, 7), nullptr);
    EXPECT_EQ(cache.find(3, 7)->a, 4.0f);
    ASSERT_NE(cache.find(4, 9), nullptr);
    EXPECT_EQ(cache.find(4, 9)->b, 7.0f);

    cache.clear();
    EXPECT_EQ(cache.size(), 21u);
    EXPECT_EQ(cache.find(3, 7), nullptr);
    EXPECT_EQ(cache.find(20, 9), nullptr);
}

TEST(ColorResultCache, AbsurdSlotsStayUncachedWithoutAllocating) {
    ColorResultCache cache;
    const std::size_t before = kivohost::allocationCount();
    EXPECT_FALSE(cache.store(int(kMaxCachedSlots), 5, {1, 1, 1, 1}));
    EXPECT_FALSE(cache.store(700000000, 5, {1, 1, 1, 1}));
    EXPECT_EQ(kivohost::allocationCount(), before);
    EXPECT_EQ(cache.size(), 0u);
    EXPECT_TRUE(cache.store(int(kMaxCachedSlots) - 1, 5, {1, 1, 1, 1}));
}

TEST(ColorResultCache, GrowthWithoutMemoryStoresNothing) {
    ColorResultCache cache;
    ASSERT_TRUE(cache.store(1, 5, {1, 1, 1, 1}));
    {
        kivohost::ScopedAllocFailure failing;
        EXPECT_FALSE(cache.store(40, 5, {2, 2, 2, 2}));
        // A slot within the cache needs no memory.
        EXPECT_TRUE(cache.store(0, 5, {3, 3, 3, 3}));
    }
    EXPECT_EQ(cache.size(), 2u);
    EXPECT_EQ(cache.find(40, 5), nullptr);
    ASSERT_NE(cache.find(1, 5), nullptr);
    EXPECT_EQ(cache.find(1, 5)->r, 1.0f);
    ASSERT_NE(cache.find(0, 5), nullptr);
    EXPECT_EQ(cache.find(0, 5)->r, 3.0f);
}

TEST(ThreadColorCaches, OnlyCachedContextsGetACache) {
    ThreadColorCaches caches;
    ShadingContext sc;
    EXPECT_EQ(caches.cacheFor(sc), nullptr);

    caches.allocate(0);
    EXPECT_FALSE(caches.exists());

    caches.allocate(4);
    ASSERT_TRUE(caches.exists());
    EXPECT_EQ(caches.size(), 4);
    sc.threadData.threadIndex = 3;
    ColorResultCache* mine = caches.cacheFor(sc);
    ASSERT_NE(mine, nullptr);
    sc.threadData.threadIndex = 2;
    EXPECT_NE(caches.cacheFor(sc), mine);
    // The UVW generators' bypass bit does not concern textures.
    sc.flags = SC_FLAG_BYPASS_UVW_CACHE;
    EXPECT_NE(caches.cacheFor(sc), nullptr);

    ShadingContext bypass = sc;
    bypass.flags = SC_FLAG_BYPASS_TEXTURE_CACHE;
    EXPECT_EQ(caches.cacheFor(bypass), nullptr);
    ShadingContext outside = sc;
    outside.threadData.threadIndex = 4;
    EXPECT_EQ(caches.cacheFor(outside), nullptr);
    outside.threadData.threadIndex = -1;
    EXPECT_EQ(caches.cacheFor(outside), nullptr);
    ShadingContext unstamped = sc;
    unstamped.evalStamp = 0;
    EXPECT_EQ(caches.cacheFor(unstamped), nullptr);
    ShadingContext negativeSlot = sc;
    negativeSlot.evalSlot = -1;
    EXPECT_EQ(caches.cacheFor(negativeSlot), nullptr);

    ASSERT_TRUE(mine->store(2, 1, {1, 1, 1, 1}));
    caches.clear();
    EXPECT_EQ(mine->find(2, 1), nullptr);

    {
        kivohost::ScopedAllocFailure failing;
        caches.allocate(2);
    }
    EXPECT_FALSE(caches.exists());
    EXPECT_EQ(caches.cacheFor(sc), nullptr);
}

} // namespace
