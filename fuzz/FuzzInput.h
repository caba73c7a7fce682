// Reads typed values from a fuzzer's input, front to back; past the end every value reads as
// zero, so any input is a complete test case. Floats are either raw bit patterns or, one time
// in two, picked from the values that break arithmetic most often (NaN, infinities, signed
// zeros, denormals, the ends of the range), which random bits alone rarely produce.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace fuzzing {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}

    std::uint8_t byte() { return pos < size ? data[pos++] : 0; }

    template <class T>
    T raw() {
        std::uint8_t bytes[sizeof(T)] = {};
        for (std::uint8_t& b : bytes) {
            b = byte();
        }
        T value;
        std::memcpy(&value, bytes, sizeof(T));
        return value;
    }

    std::int32_t int32() { return raw<std::int32_t>(); }
    std::uint32_t uint32() { return raw<std::uint32_t>(); }
    // A small selector in [0, n).
    int choice(int n) { return byte() % n; }

    float real() {
        const std::uint8_t selector = byte();
        if (selector & 1) {
            return std::bit_cast<float>(uint32());
        }
        constexpr float specials[] = {
            std::numeric_limits<float>::quiet_NaN(),
            -std::numeric_limits<float>::quiet_NaN(),
            std::numeric_limits<float>::infinity(),
            -std::numeric_limits<float>::infinity(),
            0.0f,
            -0.0f,
            std::numeric_limits<float>::denorm_min(),
            -std::numeric_limits<float>::denorm_min(),
            std::numeric_limits<float>::min(),
            std::numeric_limits<float>::max(),
            -std::numeric_limits<float>::max(),
            1e30f,
            -1e30f,
            2147483648.0f,
            -2147483904.0f,
            1.0f,
            -1.0f,
            0.5f,
            -0.5f,
            1e-7f,
            0.99999994f,
            1.00000012f,
            3.14159274f,
            6.28318548f,
        };
        constexpr int count = sizeof(specials) / sizeof(specials[0]);
        return (selector >> 1) < count ? specials[selector >> 1]
                                       : static_cast<float>(static_cast<std::int8_t>(byte())) /
                                             static_cast<float>(1 + byte() % 16);
    }

    double real64() {
        return (byte() & 1) ? std::bit_cast<double>(raw<std::uint64_t>()) : double(real());
    }

    bool exhausted() const { return pos >= size; }

private:
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;
};

} // namespace fuzzing
