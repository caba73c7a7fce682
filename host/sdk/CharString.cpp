// Shared immutable text: one vmalloc block holding the reference count followed by the
// zero-terminated characters.
#include "kivo/HostSdk.h"

#include <atomic>
#include <cstring>
#include <new>
#include <utility>

namespace KUtils {

struct CharString::Header {
    std::atomic<int> references{1};

    char* text() { return reinterpret_cast<char*>(this + 1); }
};

CharString::CharString(const char* text) {
    if (!text) {
        return;
    }
    const std::size_t size = std::strlen(text) + 1;
    void* block = vmalloc(sizeof(Header) + size);
    if (!block) {
        return; // out of memory: the string stays empty
    }
    header = new (block) Header;
    std::memcpy(header->text(), text, size);
}

CharString::CharString(const CharString& other) : header(other.header) {
    if (header) {
        header->references.fetch_add(1, std::memory_order_relaxed);
    }
}

CharString& CharString::operator=(const CharString& other) {
    // The copy takes a reference first, so self-assignment is safe; it releases the old text.
    CharString copy(other);
    std::swap(header, copy.header);
    return *this;
}

CharString::~CharString() {
    if (header && header->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        header->~Header();
        vfree(header);
    }
}

const char* CharString::ptr() const {
    return header ? header->text() : nullptr;
}

} // namespace KUtils
