// The growable sample array: exact growth on resize, growth by the step on append, entries
// kept across reallocation.
#include "frame/GrowableArray.h"

#include <gtest/gtest.h>

namespace {

using KUtils::GrowableArray;

TEST(GrowableArray, ResizeGrowsToExactlyTheRequestedCount) {
    GrowableArray<int> a(100);
    EXPECT_EQ(a.count(), 0);
    EXPECT_EQ(a.capacity(), 0);
    EXPECT_EQ(a.growthStep(), 100);
    a.resize(3);
    EXPECT_EQ(a.count(), 3);
    EXPECT_EQ(a.capacity(), 3);
    for (int i = 0; i < 3; ++i) {
        a[i] = 10 + i;
    }
    a.resize(5);
    EXPECT_EQ(a.capacity(), 5);
    EXPECT_EQ(a[0], 10);
    EXPECT_EQ(a[2], 12);
    // Shrinking keeps the storage.
    const int* storage = a.data();
    a.resize(2);
    EXPECT_EQ(a.count(), 2);
    EXPECT_EQ(a.capacity(), 5);
    EXPECT_EQ(a.data(), storage);
    a.resize(4);
    EXPECT_EQ(a.data(), storage);
    EXPECT_EQ(a[1], 11);
}

TEST(GrowableArray, AppendGrowsByTheStep) {
    GrowableArray<int> a(4);
    for (int i = 0; i < 5; ++i) {
        a.append(i * i);
        EXPECT_EQ(a.capacity(), i < 4 ? 4 : 8);
    }
    EXPECT_EQ(a.count(), 5);
    EXPECT_EQ(a[4], 16);
    EXPECT_EQ(a[3], 9);
}

} // namespace
