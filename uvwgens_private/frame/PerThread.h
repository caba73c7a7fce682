// One T per render thread, indexed by the context's threadIndex, on the host allocator. The
// table starts on a kCacheAlignment boundary; a T aligned to a cache line keeps threads that
// write their own entries off each other's lines.
#pragma once

#include "memory/AlignedAlloc.h"

#include <cstddef>
#include <memory>

namespace KUtils {

template <class T>
class PerThread {
    static_assert(alignof(T) <= kCacheAlignment);

public:
    PerThread() = default;
    ~PerThread() { release(); }
    PerThread(const PerThread&) = delete;
    PerThread& operator=(const PerThread&) = delete;

    // Replaces the table by count default-constructed entries. Without memory (or for
    // count < 1) the table stays absent, and callers run uncached.
    void allocate(int count) {
        release();
        if (count < 1) {
            return;
        }
        void* block = allocAligned(static_cast<std::size_t>(count) * sizeof(T));
        if (!block) {
            return;
        }
        entries = static_cast<T*>(block);
        std::uninitialized_default_construct_n(entries, count);
        length = count;
    }
    void release() {
        if (entries) {
            std::destroy_n(entries, length);
            freeAligned(entries);
        }
        entries = nullptr;
        length = 0;
    }
    bool exists() const { return entries != nullptr; }
    int size() const { return length; }

    // The entry of thread index, or null when there is no table or index is out of range.
    T* at(int index) const {
        return entries && index >= 0 && index < length ? &entries[index] : nullptr;
    }
    template <class Visit>
    void forEach(Visit&& visit) {
        for (int i = 0; i < length; ++i) {
            visit(entries[i]);
        }
    }

private:
    T* entries = nullptr;
    int length = 0;
};

} // namespace KUtils
