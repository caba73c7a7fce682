// The few platform facilities the library needs: a lock, the debugger output and heap
// figures. Everything else in the library is portable C++.
#pragma once

#include <cstddef>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX // keep std::min/std::max usable wherever this header is included
#endif
#include <windows.h>
#else
#include <mutex>
#endif

namespace KUtils {

// Mutual exclusion between threads. On Windows a critical section that spins spinCount
// times before it sleeps; elsewhere a std::mutex (the spin count has no meaning there).
class Lock {
public:
#if defined(_WIN32)
    explicit Lock(unsigned spinCount = 0) {
        InitializeCriticalSectionAndSpinCount(&section, spinCount);
    }
    ~Lock() {
        DeleteCriticalSection(&section);
    }
    void lock() {
        EnterCriticalSection(&section);
    }
    void unlock() {
        LeaveCriticalSection(&section);
    }
#else
    explicit Lock(unsigned /*spinCount*/ = 0) {}
    void lock() {
        mutex.lock();
    }
    void unlock() {
        mutex.unlock();
    }
#endif
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
#if defined(_WIN32)
    CRITICAL_SECTION section;
#else
    std::mutex mutex;
#endif
};

// Holds a Lock for the lifetime of the guard.
class LockGuard {
public:
    explicit LockGuard(Lock& lock) : held(lock) { held.lock(); }
    ~LockGuard() { held.unlock(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    Lock& held;
};

// Hands zero-terminated UTF-16 text to the developer-visible diagnostic channel.
void debugOutput(const char16_t* text);

// Status codes of the runtime's heap walk and heap check.
inline constexpr int kHeapStatusOk = -2;
inline constexpr int kHeapStatusEnd = -5;

// A snapshot of the process heap, in bytes.
struct HeapFigures {
    // Every heap entry, in use or free.
    std::size_t totalBytes = 0;
    std::size_t freeBytes = 0;
    // Entries the platform enumerates: every walked entry on Windows; the free chunks on
    // glibc, which keeps no cheap count of the chunks in use.
    std::size_t entryCount = 0;
    // Status that ended the walk; kHeapStatusEnd after a complete walk.
    int walkStatus = kHeapStatusEnd;
    // Verdict of the heap check; glibc has no cheap check and always reports intact.
    bool intact = true;
};

// Measures the heap without allocating.
HeapFigures readHeapFigures();

} // namespace KUtils
