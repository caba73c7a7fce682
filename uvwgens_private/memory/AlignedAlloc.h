// Aligned blocks on the host allocator. The underlying block is the request plus twice the
// alignment; the aligned block starts at least 8 bytes into it, and the word just before the
// aligned block holds the address vmalloc returned, which is what gets freed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace KUtils {

// Alignment of allocAligned: per-thread caches start on their own cache lines.
inline constexpr std::size_t kCacheAlignment = 128;

// Offset from the underlying block at `raw` to the aligned block, for a power-of-two
// alignment of at least 16. Leaves room for the raw address in the word before the block.
constexpr std::size_t alignedBlockOffset(std::uintptr_t raw, std::size_t alignment) {
    const std::size_t misalignment = raw % alignment;
    std::size_t offset = alignment - misalignment;
    if (misalignment > alignment - sizeof(void*)) {
        offset += alignment;
    }
    return offset;
}

// A block of at least size bytes aligned to `alignment` (a power of two of at least 16), or
// null when vmalloc fails or the request cannot be represented. Nothing is reported.
void* allocAlignedBlock(std::size_t size, std::size_t alignment);

// A kCacheAlignment-aligned block of at least size bytes, or null (no report, no exception).
void* allocAligned(std::size_t size);

// Releases a block of allocAligned or allocAlignedBlock; null is ignored.
void freeAligned(void* block);

} // namespace KUtils
