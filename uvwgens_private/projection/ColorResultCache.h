// Per-thread caches of blended colours, so that the several lookups of one texture within one
// shading evaluation share one blend. Each render thread owns one cache (a PerThread table): a
// growable array indexed by the context's evalSlot, whose entries are valid while their stamp
// equals the context's evalStamp. A stamp of 0 marks an empty entry, so a context with evalStamp 0
// is never served from or written to a cache.
#pragma once

#include "frame/PerThread.h"
#include "kivo/ShadingContext.h"
#include "kivo/Types.h"

#include <cstddef>
#include <cstdint>

namespace KUtils {

struct ColorCacheEntry {
    std::uint32_t stamp;
    AColor color;
};
static_assert(sizeof(ColorCacheEntry) == 20);

// Slots at or above this evaluate uncached: a context with an absurd evalSlot must not make a
// render thread allocate gigabytes.
inline constexpr std::size_t kMaxCachedSlots = 4096;

// One thread's entries. Caches sit on cache lines of their own so that threads storing into
// their own caches never share a line.
class alignas(128) ColorResultCache {
public:
    ColorResultCache() = default;
    ~ColorResultCache() { release(); }
    ColorResultCache(const ColorResultCache&) = delete;
    ColorResultCache& operator=(const ColorResultCache&) = delete;

    // The colour stored at slot with this stamp, or null.
    const AColor* find(int slot, std::uint32_t stamp) const {
        const auto index = static_cast<std::size_t>(slot);
        return index < length && entries[index].stamp == stamp ? &entries[index].color : nullptr;
    }
    // Stores the colour at slot, first growing the cache to at least slot + 1 entries (new
    // entries empty). False, and nothing stored, for a slot at or above kMaxCachedSlots or
    // when the memory for growing is not to be had.
    bool store(int slot, std::uint32_t stamp, const AColor& color) noexcept;
    // Empties every entry.
    void clear();
    void release();
    std::size_t size() const { return length; }

private:
    ColorCacheEntry* entries = nullptr;
    std::size_t length = 0;
};

// The calling thread's cache among caches, or null when this context is not cached: bit
// SC_FLAG_BYPASS_TEXTURE_CACHE set, evalStamp 0, a negative evalSlot, no caches or threadIndex
// out of range.
inline ColorResultCache* colorCacheFor(const PerThread<ColorResultCache>& caches,
                                       const ShadingContext& sc) {
    if ((sc.flags & SC_FLAG_BYPASS_TEXTURE_CACHE) != 0 || sc.evalStamp == 0 || sc.evalSlot < 0) {
        return nullptr;
    }
    return caches.at(sc.threadData.threadIndex);
}

} // namespace KUtils
