#include "sdk/Formatted.h"

#include <cstdio>

namespace kivohost {

void appendFormatted(std::string& out, const char* format, std::va_list args) {
    std::va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length > 0) {
        const std::size_t start = out.size();
        out.resize(start + std::size_t(length));
        // vsnprintf writes the terminating zero over the string's own terminator slot.
        std::va_list write;
        va_copy(write, args);
        std::vsnprintf(out.data() + start, std::size_t(length) + 1, format, write);
        va_end(write);
    }
}

} // namespace kivohost
