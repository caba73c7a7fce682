#include "frame/Platform.h"

#include "DebugCapture.h"
#include "memory/HeapDiagnostics.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

TEST(Platform, LockSerialisesThreads) {
    KUtils::Lock lock(2000);
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                KUtils::LockGuard guard(lock);
                ++counter;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(counter, 80000);
}

TEST(Platform, DebugOutputReachesTheSink) {
    DebugCapture capture;
    KUtils::debugOutput(u"h\u00e9llo \U0001F600\n");
    ASSERT_EQ(DebugCapture::lines().size(), 1u);
    EXPECT_EQ(DebugCapture::lines()[0], u"h\u00e9llo \U0001F600\n");
}

TEST(Platform, HeapFiguresAreConsistent) {
    const KUtils::HeapFigures heap = KUtils::readHeapFigures();
    EXPECT_TRUE(heap.intact);
    EXPECT_EQ(heap.walkStatus, KUtils::kHeapStatusEnd);
    EXPECT_LE(heap.freeBytes, heap.totalBytes);

    DebugCapture capture;
    const std::size_t total = KUtils::getHeapTotal();
    const std::size_t freeBytes = KUtils::getFreeHeapMemory();
    EXPECT_LE(freeBytes, total);
    EXPECT_EQ(DebugCapture::lines().size(), 3u);
}
