// What happens when the host allocator cannot satisfy operator new.
#pragma once

#include "memory/ExceptionMsg.h"

#include <cstddef>

namespace KUtils {

// The message thrown for a failed request of `size` bytes, given the heap figures. A damaged
// heap replaces the message with the damage notice; the request line then goes to the
// debugger output first so that it is not lost.
ExceptionMsg allocationFailureMessage(std::size_t size, std::size_t inHeap, std::size_t freeBytes,
                                      bool heapIntact);

// Reports the failed request and the heap state to the debugger output and throws the
// ExceptionMsg. Allocates nothing through operator new.
[[noreturn]] void throwAllocationFailure(std::size_t size);

} // namespace KUtils
