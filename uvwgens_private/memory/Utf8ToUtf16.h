// UTF-8 to UTF-16 for the debugger output. Malformed input is kept, not dropped: every
// consumed byte of an invalid sequence becomes the surrogate pair of the private code point
// 0x100000 + byte (0xDBC0, 0xDC00 + byte), and real text never decodes to that range.
#pragma once

#include <cstddef>

namespace KUtils {

// Converts text up to its first zero byte.
// out == nullptr: counting pass; returns the number of UTF-16 units, terminator excluded.
// Otherwise: writes at most `limit` units into out, a terminating 0 included when it fits;
// a surrogate pair that no longer fits is replaced by a terminating 0. Returns the number of
// units written, terminator included.
std::size_t utf8ToUtf16(const char* text, char16_t* out, std::size_t limit);

} // namespace KUtils
