#include "memory/AlignedAlloc.h"

#include "kivo/HostSdk.h"

#include <cstring>
#include <limits>

namespace KUtils {

void* allocAlignedBlock(std::size_t size, std::size_t alignment) {
    constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
    if (alignment > kMax / 4 || size > kMax - 2 * alignment) {
        return nullptr;
    }
    void* raw = vmalloc(size + 2 * alignment);
    if (!raw) {
        return nullptr;
    }
    char* block = static_cast<char*>(raw) +
                  alignedBlockOffset(reinterpret_cast<std::uintptr_t>(raw), alignment);
    std::memcpy(block - sizeof(void*), &raw, sizeof(void*));
    return block;
}

void* allocAligned(std::size_t size) {
    return allocAlignedBlock(size, kCacheAlignment);
}

void freeAligned(void* block) {
    if (!block) {
        return;
    }
    void* raw;
    std::memcpy(&raw, static_cast<char*>(block) - sizeof(void*), sizeof(void*));
    vfree(raw);
}

} // namespace KUtils
