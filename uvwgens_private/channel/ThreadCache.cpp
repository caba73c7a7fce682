#include "channel/ThreadCache.h"

#include "memory/AlignedAlloc.h"

#include <memory>

namespace KUtils {

static_assert(alignof(ThreadCacheEntry) <= kCacheAlignment);

void ThreadCache::allocate(int n) {
    release();
    if (n < 1) {
        return;
    }
    void* block = allocAligned(static_cast<std::size_t>(n) * sizeof(ThreadCacheEntry));
    if (!block) {
        return;
    }
    entries = static_cast<ThreadCacheEntry*>(block);
    std::uninitialized_default_construct_n(entries, n);
    count = n;
}

void ThreadCache::release() {
    if (entries) {
        std::destroy_n(entries, count);
        freeAligned(entries);
    }
    entries = nullptr;
    count = 0;
}

void ThreadCache::clear() {
    for (int i = 0; i < count; ++i) {
        entries[i].stamp = 0;
    }
}

} // namespace KUtils
