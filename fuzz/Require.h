// A property a fuzz target checks: when it does not hold, the condition and its line go to
// stderr and the process aborts, which libFuzzer reports as a finding with the input.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_REQUIRE(condition)                                                                    \
    ((condition) ? static_cast<void>(0)                                                            \
                 : (std::fprintf(stderr, "%s:%d: property does not hold: %s\n", __FILE__,          \
                                 __LINE__, #condition),                                            \
                    std::abort()))
