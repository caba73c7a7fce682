// The growable sample array: exact growth on resize, entries kept across reallocation.
#include "frame/GrowableArray.h"

#include <gtest/gtest.h>

namespace {

using KUtils::GrowableArray;

TEST(GrowableArray, ResizeGrowsExactly) {
    GrowableArray<int> a;
    EXPECT_EQ(a.capacity(), 0);
    a.resize(3);
    EXPECT_EQ(a.capacity(), 3);
    for (int i = 0; i < 3; ++i) {
        a[i] = 10 + i;
    }
    a.resize(5);
    EXPECT_EQ(a.capacity(), 5);
    EXPECT_EQ(a[2], 12);
    // Shrinking keeps the storage.
    const int* storage = a.data();
    a.resize(2);
    a.resize(4);
    EXPECT_EQ(a.count(), 4);
    EXPECT_EQ(a.data(), storage);
    EXPECT_EQ(a[1], 11);
}

} // namespace
