// Keeps a function out of its callers: for a path that calls services or draws a placement,
// whose saved registers and stack would otherwise be paid on every call of the cheap path
// beside it.
#pragma once

#if defined(_MSC_VER) && !defined(__clang__)
#define UVWGENS_NOINLINE __declspec(noinline)
#else
#define UVWGENS_NOINLINE __attribute__((noinline))
#endif
