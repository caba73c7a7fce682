#include "memory/DebugPrintf.h"

#include "frame/Platform.h"
#include "memory/Utf8ToUtf16.h"

#include <cstdarg>
#include <cstdio>

namespace KUtils {

void debugPrintf(const char* format, ...) {
    char line[kDebugLineSize] = {};
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(line, kDebugLineSize, format, args);
    va_end(args);
    line[kDebugLineSize - 1] = 0;

    const std::size_t units = utf8ToUtf16(line, nullptr, 0) + 1;
    auto* wide = static_cast<char16_t*>(vmalloc(units * sizeof(char16_t)));
    if (!wide) {
        return;
    }
    utf8ToUtf16(line, wide, units);
    debugOutput(wide);
    vfree(wide);
}

} // namespace KUtils
