// uvwhost: the reference host of the UVW generator library.
#include "uvwhost/Commands.h"

#include <iostream>
#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

bool stderrIsTerminal() {
#if defined(_WIN32)
    return _isatty(2) != 0;
#else
    return isatty(2) != 0;
#endif
}

} // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return uvwhost::runCommandLine(args, {std::cin, std::cout, std::cerr, stderrIsTerminal()});
}
