// One cached transform per render thread, so that the several evaluation calls of one shading
// evaluation (uvw, derivatives, transform, the output texture) share one computation. An
// entry is valid while the context's evalStamp is unchanged; a stamp of 0 marks an empty
// entry, so a context with evalStamp 0 is never served from or written to the cache.
#pragma once

#include "kivo/ShadingContext.h"
#include "kivo/Types.h"

#include <cstddef>
#include <cstdint>

namespace KUtils {

// Entries sit 256 bytes apart on 128-byte boundaries, so that no two threads write the same
// cache line.
struct alignas(128) ThreadCacheEntry {
    std::uint32_t stamp = 0;
    UVWTransform tm;
    std::uint8_t valid = 0;
    std::uint8_t reserved[256 - sizeof(std::uint32_t) - sizeof(UVWTransform) - 1];
};
static_assert(sizeof(ThreadCacheEntry) == 256);

class ThreadCache {
public:
    ThreadCache() = default;
    ~ThreadCache() { release(); }
    ThreadCache(const ThreadCache&) = delete;
    ThreadCache& operator=(const ThreadCache&) = delete;

    // Replaces the cache by count empty entries. Without memory (or for count < 1) the cache
    // stays absent and evaluations run uncached.
    void allocate(int count);
    void release();
    bool exists() const { return entries != nullptr; }
    int size() const { return count; }
    // Empties every entry.
    void clear();

    // The calling thread's entry, or null when this context is not cached: bit
    // SC_FLAG_BYPASS_UVW_CACHE set, no cache, threadIndex out of range, or evalStamp 0.
    // Inline: a cache hit costs a few nanoseconds, and a call would be a good part of it.
    ThreadCacheEntry* entryFor(const ShadingContext& sc) const {
        const int index = sc.threadData.threadIndex;
        if ((sc.flags & SC_FLAG_BYPASS_UVW_CACHE) != 0 || !entries || index < 0 || index >= count ||
            sc.evalStamp == 0) {
            return nullptr;
        }
        return &entries[index];
    }

private:
    int count = 0;
    ThreadCacheEntry* entries = nullptr;
};

} // namespace KUtils
