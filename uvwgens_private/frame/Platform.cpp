#include "frame/Platform.h"

#include "kivo/HostSdk.h"

#if defined(_WIN32) || defined(__GLIBC__)
#include <malloc.h>
#endif

namespace KUtils {

// The host's debugger-output channel: OutputDebugStringW on Windows unless a host replaced it.
void debugOutput(const char16_t* text) {
    writeDebugOutput(text);
}

HeapFigures readHeapFigures() {
    HeapFigures figures;
#if defined(_WIN32)
    _HEAPINFO entry{}; // a null entry address starts the walk
    int status;
    while ((status = _heapwalk(&entry)) == _HEAPOK) {
        ++figures.entryCount;
        figures.totalBytes += entry._size;
        if (entry._useflag != _USEDENTRY) {
            figures.freeBytes += entry._size;
        }
    }
    figures.walkStatus = status;
    figures.intact = _heapchk() == _HEAPOK;
#elif defined(__GLIBC__)
    const struct mallinfo2 info = mallinfo2();
    // arena: bytes taken from the system for the main heaps; hblkhd: bytes in mmapped blocks.
    figures.totalBytes = info.arena + info.hblkhd;
    // fordblks already includes the fastbin chunks (fsmblks).
    figures.freeBytes = info.fordblks;
    figures.entryCount = info.ordblks + info.smblks;
#endif
    return figures;
}

} // namespace KUtils
