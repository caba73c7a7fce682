// The growable sample array: exact growth on resize, growth by the step on append, entries
// kept across reallocation.
#include "frame/GrowableArray.h"

#include <gtest/gtest.h>

namespace {

using KUtils::GrowableArray;

TEST(GrowableArray, ResizeGrowsExactlyAndAppendByTheStep) {
    GrowableArray<int> a(100);
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

    GrowableArray<int> b(4);
    for (int i = 0; i < 5; ++i) {
        b.append(i * i);
        EXPECT_EQ(b.capacity(), i < 4 ? 4 : 8);
    }
    EXPECT_EQ(b.count(), 5);
    EXPECT_EQ(b[3], 9);
    EXPECT_EQ(b[4], 16);
}

} // namespace
