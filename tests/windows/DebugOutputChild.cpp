// Runs under a debugger started by the Windows platform tests: writes one line of non-ASCII
// text to the debugger output, then makes one allocation fail, so that the library reports
// the failure there. Exit status 0 when the failure was thrown as the library's exception.
#include "memory/DebugPrintf.h"
#include "memory/ExceptionMsg.h"
#include "sdk/HostRuntime.h"

#include <new>

int main() {
    KUtils::debugPrintf("text: %s\n", "Gr\xC3\xBC\xC3\x9F"
                                      "e \xE2\x9C\x93 \xF0\x9F\x98\x80");
    try {
        kivohost::ScopedAllocFailure fail;
        ::operator delete(::operator new(100));
    } catch (const KUtils::ExceptionMsg&) {
        return 0;
    }
    return 1;
}
