// Formatted diagnostics to the debugger output.
#pragma once

#include "kivo/HostSdk.h"

#include <cstddef>

namespace KUtils {

// Longest line in bytes, terminator included; longer text is cut.
inline constexpr std::size_t kDebugLineSize = 4096;

// Formats a UTF-8 line and hands it to the debugger output as UTF-16. The UTF-16 copy comes
// straight from vmalloc, never from operator new, so the allocation-failure report can use
// this: when that memory cannot be had, the line is dropped.
void debugPrintf(const char* format, ...) KIVO_PRINTF_FORMAT(1, 2);

} // namespace KUtils
