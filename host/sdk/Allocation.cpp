// The host allocator: plain malloc/free underneath, a process-wide count of successful
// requests, and a per-thread failure switch for tests. Nothing here may call operator new:
// the library routes operator new to vmalloc, so that would recurse.
#include "kivo/HostSdk.h"
#include "sdk/HostRuntime.h"

#include <atomic>
#include <cstdlib>

namespace {

std::atomic<std::size_t> successfulAllocations{0};

// One armed switch of the calling thread. Switches nest: the newest one decides, and the one
// below it takes over again when it ends. Records live in malloc memory (never vmalloc or
// operator new, which would consult the switch being built).
struct FailureSwitch {
    const kivohost::ScopedAllocFailure* owner;
    int skip;
    int count; // < 0: every request fails once skip is used up
    int failures;
    FailureSwitch* below;
};

thread_local FailureSwitch* armed = nullptr;

// True when the calling thread's newest switch makes this request fail.
bool consumeFailure() {
    FailureSwitch* s = armed;
    if (!s) {
        return false;
    }
    if (s->skip > 0) {
        --s->skip;
        return false;
    }
    if (s->count == 0) {
        return false;
    }
    if (s->count > 0) {
        --s->count;
    }
    ++s->failures;
    return true;
}

} // namespace

namespace KUtils {

void* vmalloc(std::size_t size) {
    if (consumeFailure()) {
        return nullptr;
    }
    // A successful request never yields null, not even for 0 bytes.
    void* p = std::malloc(size ? size : 1);
    if (p) {
        successfulAllocations.fetch_add(1, std::memory_order_relaxed);
    }
    return p;
}

void vfree(void* p) {
    std::free(p);
}

} // namespace KUtils

namespace kivohost {

ScopedAllocFailure::ScopedAllocFailure(int skip, int count) {
    auto* s = static_cast<FailureSwitch*>(std::malloc(sizeof(FailureSwitch)));
    if (!s) {
        std::abort(); // a test control that cannot arm would silently test nothing
    }
    *s = FailureSwitch{this, skip > 0 ? skip : 0, count, 0, armed};
    armed = s;
}

ScopedAllocFailure::~ScopedAllocFailure() {
    for (FailureSwitch** link = &armed; *link; link = &(*link)->below) {
        FailureSwitch* s = *link;
        if (s->owner == this) {
            *link = s->below;
            std::free(s);
            return;
        }
    }
}

int ScopedAllocFailure::failures() const {
    for (const FailureSwitch* s = armed; s; s = s->below) {
        if (s->owner == this) {
            return s->failures;
        }
    }
    return 0;
}

std::size_t allocationCount() {
    return successfulAllocations.load(std::memory_order_relaxed);
}

} // namespace kivohost
