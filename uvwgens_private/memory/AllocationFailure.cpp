#include "memory/AllocationFailure.h"

#include "frame/Platform.h"
#include "memory/DebugPrintf.h"
#include "memory/HeapDiagnostics.h"

namespace KUtils {

ExceptionMsg allocationFailureMessage(std::size_t size, std::size_t inHeap, std::size_t freeBytes,
                                      bool heapIntact) {
    // Byte counts are printed in full: a request above 4 GiB must not read as a small one.
    ExceptionMsg msg("Memory allocation failure; %zu bytes requested; %zu bytes already in heap; "
                     "%zu bytes free heap space.",
                     size, inHeap, freeBytes);
    if (!heapIntact) {
        debugPrintf("%s\n", msg.getMessage());
        msg = ExceptionMsg(" Heap is reported damaged.\n");
    }
    return msg;
}

void throwAllocationFailure(std::size_t size) {
    debugPrintf("[operator new] failed (size is %zu)\n", size);
    const std::size_t inHeap = getHeapTotal();
    const std::size_t freeBytes = getFreeHeapMemory();
    const ExceptionMsg msg =
        allocationFailureMessage(size, inHeap, freeBytes, readHeapFigures().intact);
    throw msg;
}

} // namespace KUtils
