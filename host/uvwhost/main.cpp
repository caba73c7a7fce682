// uvwhost: the reference host of the UVW generator library.
#include "uvwhost/Commands.h"

#include <iostream>
#include <unistd.h>

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return uvwhost::runCommandLine(args, {std::cin, std::cout, std::cerr, isatty(2) != 0});
}
