#include "memory/Utf8ToUtf16.h"

#include <bit>
#include <cstdint>

namespace KUtils {
namespace {

// Values up to this bound are overlong for a sequence of the indexed length (2..8); the
// bounds for 7 and 8 reject every such sequence.
constexpr std::uint32_t kOverlongBound[9] = {
    0, 0, 0x7F, 0x7FF, 0xFFFF, 0x1FFFFF, 0x3FFFFFF, 0x7FFFFFFF, 0xFFFFFFFF,
};

constexpr std::uint32_t kMaxCodePoint = 0x10FFFF;
// Code points of the escapes of malformed bytes.
constexpr std::uint32_t kEscapeFirst = 0x100000;
constexpr std::uint32_t kEscapeLast = 0x1000FF;

// Counts units (no buffer) or writes them into a buffer of `limit` units.
class UnitOutput {
public:
    UnitOutput(char16_t* out, std::size_t limit) : out(out), limit(limit) {}

    // False when the buffer is full.
    bool append(char16_t unit) {
        if (out) {
            if (count == limit) {
                return false;
            }
            out[count] = unit;
        }
        ++count;
        return true;
    }

    // False when the pair does not fit; half a pair is no text, so a terminating 0 takes
    // its place when one unit is left.
    bool appendPair(std::uint32_t codePoint) {
        if (out && limit - count < 2) {
            if (count < limit) {
                out[count++] = 0;
            }
            return false;
        }
        append(static_cast<char16_t>((codePoint >> 10) + 0xD7C0));
        append(static_cast<char16_t>((codePoint & 0x3FF) + 0xDC00));
        return true;
    }

    std::size_t terminate() {
        if (out && count < limit) {
            out[count++] = 0;
        }
        return count;
    }

    std::size_t written() const { return count; }

private:
    char16_t* out;
    std::size_t limit;
    std::size_t count = 0;
};

bool isValidCodePoint(std::uint32_t value, int length) {
    return value > kOverlongBound[length] && value <= kMaxCodePoint &&
           (value < kEscapeFirst || value > kEscapeLast);
}

} // namespace

std::size_t utf8ToUtf16(const char* text, char16_t* out, std::size_t limit) {
    UnitOutput output(out, limit);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    while (*bytes != 0) {
        const unsigned char lead = *bytes;
        if (lead < 0x80) {
            if (!output.append(lead)) {
                return output.written();
            }
            ++bytes;
            continue;
        }
        // The number of leading one bits gives the sequence length; 1 is a continuation
        // byte in lead position.
        const int length = std::countl_one(lead);
        int consumed = 1;
        bool valid = length >= 2;
        std::uint32_t value = length <= 6 ? lead & ((1u << (7 - length)) - 1) : 0;
        // The terminating zero is no continuation byte, so reading stops at the text's end.
        for (; valid && consumed < length; ++consumed) {
            const unsigned char next = bytes[consumed];
            if ((next & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            value = (value << 6) | (next & 0x3Fu);
        }
        bool fits;
        if (valid && isValidCodePoint(value, length)) {
            fits = value <= 0xFFFF ? output.append(static_cast<char16_t>(value))
                                   : output.appendPair(value);
        } else {
            fits = true;
            for (int i = 0; fits && i < consumed; ++i) {
                fits = output.appendPair(kEscapeFirst + bytes[i]);
            }
        }
        if (!fits) {
            return output.written();
        }
        bytes += consumed;
    }
    return output.terminate();
}

} // namespace KUtils
