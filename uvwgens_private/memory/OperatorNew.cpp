// The library's global allocation functions: every block comes from the host allocator.
// Throwing forms report a failure through throwAllocationFailure; nothrow forms return null.
// Over-aligned forms place the block inside a larger one and free it through the address
// stored before it.
#include "kivo/HostSdk.h"
#include "memory/AlignedAlloc.h"
#include "memory/AllocationFailure.h"

#include <algorithm>
#include <cstddef>
#include <new>

namespace {

// A zero-byte request still needs a unique address.
void* allocate(std::size_t size) noexcept {
    return KUtils::vmalloc(std::max<std::size_t>(size, 1));
}

void* allocateOrThrow(std::size_t size) {
    void* p = allocate(size);
    if (!p) {
        KUtils::throwAllocationFailure(size);
    }
    return p;
}

void* allocateAligned(std::size_t size, std::align_val_t alignment) noexcept {
    // The stored raw address needs a word below the block; 16 keeps the placement exact.
    const std::size_t effective = std::max<std::size_t>(static_cast<std::size_t>(alignment), 16);
    return KUtils::allocAlignedBlock(size, effective);
}

void* allocateAlignedOrThrow(std::size_t size, std::align_val_t alignment) {
    void* p = allocateAligned(size, alignment);
    if (!p) {
        KUtils::throwAllocationFailure(size);
    }
    return p;
}

void release(void* p) noexcept {
    if (p) {
        KUtils::vfree(p);
    }
}

} // namespace

void* operator new(std::size_t size) {
    return allocateOrThrow(size);
}
void* operator new[](std::size_t size) {
    return allocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    return allocateAlignedOrThrow(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return allocateAlignedOrThrow(size, alignment);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocateAligned(size, alignment);
}

void operator delete(void* p) noexcept {
    release(p);
}
void operator delete[](void* p) noexcept {
    release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    release(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    KUtils::freeAligned(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    KUtils::freeAligned(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    KUtils::freeAligned(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    KUtils::freeAligned(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    KUtils::freeAligned(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    KUtils::freeAligned(p);
}
