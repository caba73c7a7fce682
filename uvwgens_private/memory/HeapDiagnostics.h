// Heap figures for the allocation-failure report.
#pragma once

#include <cstddef>

namespace KUtils {

// Bytes in every heap entry, in use or free.
std::size_t getHeapTotal();

// Bytes in the free heap entries. Writes three lines to the debugger output: a start line,
// the status that ended the heap walk and the number of entries visited.
std::size_t getFreeHeapMemory();

} // namespace KUtils
