#include "projection/ColorResultCache.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace KUtils {

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

} // namespace KUtils
