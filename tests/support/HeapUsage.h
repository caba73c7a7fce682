// Bytes currently allocated on the process heap, as a sanitizer's allocator counts them: a
// block counts from its allocation to its release, so equal figures before and after a piece
// of work mean the work left nothing allocated behind. Without a sanitizer there is no exact
// figure (the C library counts blocks parked in its per-thread caches as in use) and this is
// always 0: the comparison then holds trivially, and LeakSanitizer covers the same ground in
// the sanitizer builds at exit.
#pragma once

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define RELIABILITY_SANITIZER_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define RELIABILITY_SANITIZER_HEAP 1
#endif
#endif

#if defined(RELIABILITY_SANITIZER_HEAP)
// From the sanitizer runtime (GCC ships the runtime without its interface headers).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace reliability {

inline std::size_t liveHeapBytes() {
#if defined(RELIABILITY_SANITIZER_HEAP)
    return __sanitizer_get_current_allocated_bytes();
#else
    return 0;
#endif
}

} // namespace reliability
