#include "frame/Platform.h"

#include "memory/HeapDiagnostics.h"
#include "tests/support/DebugCapture.h"

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

TEST(Platform, HeapFiguresAreConsistent) {
    const KUtils::HeapFigures heap = KUtils::readHeapFigures();
    EXPECT_TRUE(heap.intact);
    EXPECT_LE(heap.freeBytes, heap.totalBytes);
    DebugCapture capture; // getFreeHeapMemory reports its walk
    const std::size_t total = KUtils::getHeapTotal();
    EXPECT_LE(KUtils::getFreeHeapMemory(), total);
}
