#include "projection/ColorResultCache.h"

#include "memory/AlignedAlloc.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

namespace KUtils {

static_assert(alignof(ColorResultCache) <= kCacheAlignment);

bool ColorResultCache::store(int slot, std::uint32_t stamp, const AColor& color) noexcept {
    const auto index = static_cast<std::size_t>(slot);
    if (index >= kMaxCachedSlots) {
        return false;
    }
    if (index >= length) {
        // Doubling keeps the reallocations of a thread that walks through many slots few.
        const std::size_t grown = std::max(index + 1, 2 * length);
        if (grown > std::numeric_limits<std::size_t>::max() / sizeof(ColorCacheEntry)) {
            return false;
        }
        auto* fresh = static_cast<ColorCacheEntry*>(
            ::operator new(grown * sizeof(ColorCacheEntry), std::nothrow));
        if (!fresh) {
            return false;
        }
        if (length > 0) {
            std::memcpy(fresh, entries, length * sizeof(ColorCacheEntry));
        }
        for (std::size_t i = length; i < grown; ++i) {
            fresh[i].stamp = 0;
        }
        ::operator delete(entries);
        entries = fresh;
        length = grown;
    }
    entries[index] = ColorCacheEntry{stamp, color};
    return true;
}

void ColorResultCache::clear() {
    for (std::size_t i = 0; i < length; ++i) {
        entries[i].stamp = 0;
    }
}

void ColorResultCache::release() {
    ::operator delete(entries);
    entries = nullptr;
    length = 0;
}

void ThreadColorCaches::allocate(int n) {
    release();
    if (n < 1) {
        return;
    }
    void* block = allocAligned(static_cast<std::size_t>(n) * sizeof(ColorResultCache));
    if (!block) {
        return;
    }
    caches = static_cast<ColorResultCache*>(block);
    std::uninitialized_default_construct_n(caches, n);
    count = n;
}

void ThreadColorCaches::release() {
    if (caches) {
        std::destroy_n(caches, count);
        freeAligned(caches);
    }
    caches = nullptr;
    count = 0;
}

void ThreadColorCaches::clear() {
    for (int i = 0; i < count; ++i) {
        caches[i].clear();
    }
}

ColorResultCache* ThreadColorCaches::cacheFor(const ShadingContext& sc) const {
    const int index = sc.threadData.threadIndex;
    if ((sc.flags & SC_FLAG_BYPASS_TEXTURE_CACHE) != 0 || !caches || index < 0 || index >= count ||
        sc.evalStamp == 0 || sc.evalSlot < 0) {
        return nullptr;
    }
    return &caches[index];
}

} // namespace KUtils
