#include "BadInputs.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace reliability {

std::string spell(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.9g", value);
    return buffer;
}

bool largestEnumValue(const char* hints, int& largest) {
    const char* list = hints ? std::strstr(hints, "enum=(") : nullptr;
    if (!list) {
        return false;
    }
    bool found = false;
    // Entries are "value:label" separated by ';' up to the closing parenthesis.
    for (const char* p = list + 6; *p && *p != ')';) {
        char* end = nullptr;
        const long value = std::strtol(p, &end, 10);
        if (end != p && *end == ':') {
            largest = found ? std::max(largest, int(value)) : int(value);
            found = true;
        }
        const char* next = std::strpbrk(p, ";)");
        if (!next || *next == ')') {
            break;
        }
        p = next + 1;
    }
    return found;
}

} // namespace reliability
