#include "memory/AlignedAlloc.h"

#include "sdk/HostRuntime.h"
#include "tests/support/DebugCapture.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <new>
#include <tuple>

using KUtils::alignedBlockOffset;

namespace {

std::uintptr_t address(const void* p) {
    return reinterpret_cast<std::uintptr_t>(p);
}

} // namespace

TEST(AlignedAlloc, PlacementInsideTheUnderlyingBlock) {
    const std::uintptr_t page = 0x7f00'0000'1000;
    // (raw mod alignment, alignment, offset of the block from raw). raw mod 128 = 8: the block
    // starts at raw + 120, the raw word at raw + 112; raw mod 128 = 124: no room for the word
    // below raw + 4, so the next line is taken.
    const std::tuple<std::uintptr_t, std::size_t, std::size_t> cases[] = {
        {8, 128, 120},   {124, 128, 132}, {0, 128, 128}, {120, 128, 8},
        {121, 128, 135}, {8, 16, 8},      {9, 16, 23}};
    for (const auto& [m, alignment, offset] : cases) {
        EXPECT_EQ(alignedBlockOffset(page + m, alignment), offset) << m << " " << alignment;
    }
}

TEST(AlignedAlloc, RealBlocksAreAlignedFreeableAndFailAsNullWithoutReport) {
    for (std::size_t size : {0u, 1u, 100u, 4096u}) {
        auto* block = static_cast<unsigned char*>(KUtils::allocAligned(size));
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(address(block) % 128, 0u);
        void* raw;
        std::memcpy(&raw, block - sizeof(void*), sizeof(void*));
        EXPECT_GE(address(block), address(raw) + 8);
        EXPECT_LE(address(block), address(raw) + 135);
        std::memset(block, 0x5A, size); // the sanitizer checks the bounds
        KUtils::freeAligned(block);
    }
    KUtils::freeAligned(nullptr);

    DebugCapture capture;
    {
        kivohost::ScopedAllocFailure fail;
        EXPECT_EQ(KUtils::allocAligned(64), nullptr);
        EXPECT_EQ(fail.failures(), 1);
    }
    // A size that cannot take the extra 256 bytes is refused, not wrapped around.
    EXPECT_EQ(KUtils::allocAligned(std::numeric_limits<std::size_t>::max() - 100), nullptr);
    EXPECT_TRUE(DebugCapture::lines().empty());
}

TEST(AlignedAlloc, OverAlignedNewAndDelete) {
    struct alignas(512) Wide {
        unsigned char bytes[600];
    };
    auto* wide = new Wide[3];
    EXPECT_EQ(address(wide) % 512, 0u);
    std::memset(wide, 1, sizeof(Wide) * 3);
    delete[] wide;
    void* p = ::operator new (100, std::align_val_t{256});
    EXPECT_EQ(address(p) % 256, 0u);
    ::operator delete (p, 100, std::align_val_t{256});
    // Alignments below a word still get a valid block.
    void* small = ::operator new (10, std::align_val_t{4});
    EXPECT_EQ(address(small) % 4, 0u);
    ::operator delete (small, std::align_val_t{4});
}
