// The uvwhost command line. Exit statuses: 0 success; 1 some input lines could not be
// evaluated or an output could not be written; 2 bad usage or bad input (missing library,
// unknown plugin type or parameter, wrongly shaped value, unreadable scene), nothing run;
// 3 gpu found no GPU description.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace uvwhost {

inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_PARTIAL = 1;
inline constexpr int EXIT_BAD_INPUT = 2;
// gpu: the instance has no GPU description, or wrote none for the kind asked.
inline constexpr int EXIT_NO_GPU_TEXT = 3;

struct Streams {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    // Progress bars only go to a terminal.
    bool errIsTerminal = false;
};

// Runs one command line (without the program name).
int runCommandLine(const std::vector<std::string>& args, Streams streams);

} // namespace uvwhost
