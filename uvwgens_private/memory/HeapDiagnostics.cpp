#include "memory/HeapDiagnostics.h"

#include "frame/Platform.h"
#include "memory/DebugPrintf.h"

namespace KUtils {

std::size_t getHeapTotal() {
    return readHeapFigures().totalBytes;
}

std::size_t getFreeHeapMemory() {
    debugPrintf("[getFreeHeapMemory] Getting free heap memory.\n");
    const HeapFigures heap = readHeapFigures();
    debugPrintf("[getFreeHeapMemory] heapstatus=%i\n", heap.walkStatus);
    debugPrintf("[getFreeHeapMemory] Number of blocks visited: %zu\n", heap.entryCount);
    return heap.freeBytes;
}

} // namespace KUtils
