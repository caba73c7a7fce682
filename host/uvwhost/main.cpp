// uvwhost: the reference host of the UVW generator library.
#include "uvwhost/Commands.h"

#include <exception>
#include <iostream>
#include <new>
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
    // Every input is bounded before it is used; should the system still refuse memory or
    // another resource, the run ends with a message instead of an abort.
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        return uvwhost::runCommandLine(args, {std::cin, std::cout, std::cerr, stderrIsTerminal()});
    } catch (const std::bad_alloc&) {
        std::cerr << "uvwhost: out of memory\n";
    } catch (const std::exception& e) {
        std::cerr << "uvwhost: " << e.what() << "\n";
    }
    return uvwhost::EXIT_PARTIAL;
}
