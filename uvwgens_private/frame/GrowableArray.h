// A growable array of plain values (count, capacity, storage) on the library's allocator: a request
// the host allocator cannot satisfy raises the library's allocation exception, and the array is
// left as it was.
#pragma once

#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>

namespace KUtils {

template <class T>
class GrowableArray {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                  "entries are moved with memcpy and never destroyed");

public:
    GrowableArray() = default;
    ~GrowableArray() { ::operator delete(storage); }
    GrowableArray(const GrowableArray&) = delete;
    GrowableArray& operator=(const GrowableArray&) = delete;

    // Sets the count to n (n >= 0). When n exceeds the capacity, storage of exactly n entries
    // replaces the old one, keeping the old entries; entries past the old count are
    // unspecified until written.
    void resize(int n) {
        if (n > cap) {
            reallocate(n);
        }
        num = n;
    }

    int count() const { return num; }
    int capacity() const { return cap; }
    T* data() { return storage; }
    const T* data() const { return storage; }
    T& operator[](int i) { return storage[i]; }
    const T& operator[](int i) const { return storage[i]; }

private:
    void reallocate(int newCapacity) {
        T* fresh =
            static_cast<T*>(::operator new(sizeof(T) * static_cast<std::size_t>(newCapacity)));
        if (num > 0) {
            std::memcpy(static_cast<void*>(fresh), storage,
                        sizeof(T) * static_cast<std::size_t>(num));
        }
        ::operator delete(storage);
        storage = fresh;
        cap = newCapacity;
    }

    int num = 0;
    int cap = 0;
    T* storage = nullptr;
};

} // namespace KUtils
