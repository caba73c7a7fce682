// The developer-visible diagnostic channel. The default sink is the debugger output on
// Windows and UTF-8 on stderr elsewhere; it allocates nothing, since it serves the
// allocation-failure path.
#include "kivo/HostSdk.h"

#include <atomic>
#include <cstdio>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace KUtils {

namespace {

#if !defined(_WIN32)
// Collects UTF-8 bytes in a fixed buffer and writes them to stderr in chunks.
class StderrWriter {
public:
    ~StderrWriter() { flush(); }
    void put(unsigned char byte) {
        if (used == sizeof buffer) {
            flush();
        }
        buffer[used++] = byte;
    }
    void codePoint(char32_t c) {
        if (c < 0x80) {
            put(static_cast<unsigned char>(c));
        } else if (c < 0x800) {
            put(static_cast<unsigned char>(0xC0 | (c >> 6)));
            put(static_cast<unsigned char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            put(static_cast<unsigned char>(0xE0 | (c >> 12)));
            put(static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F)));
            put(static_cast<unsigned char>(0x80 | (c & 0x3F)));
        } else {
            put(static_cast<unsigned char>(0xF0 | (c >> 18)));
            put(static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F)));
            put(static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F)));
            put(static_cast<unsigned char>(0x80 | (c & 0x3F)));
        }
    }

private:
    void flush() {
        std::fwrite(buffer, 1, used, stderr);
        used = 0;
    }
    unsigned char buffer[256];
    std::size_t used = 0;
};

// Code points 0x100000 + b (b a byte) stand for raw bytes that were not valid UTF-8; they
// go out as those bytes. Lone surrogates become U+FFFD.
void writeToStderr(const char16_t* text) {
    StderrWriter out;
    for (const char16_t* p = text; *p; ++p) {
        const char16_t unit = *p;
        if (unit >= 0xD800 && unit < 0xDC00 && p[1] >= 0xDC00 && p[1] < 0xE000) {
            const char32_t c = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (p[1] - 0xDC00);
            ++p;
            if (c >= 0x100000 && c <= 0x1000FF) {
                out.put(static_cast<unsigned char>(c - 0x100000));
            } else {
                out.codePoint(c);
            }
        } else if (unit >= 0xD800 && unit < 0xE000) {
            out.codePoint(0xFFFD);
        } else {
            out.codePoint(unit);
        }
    }
}

#endif

#if defined(_WIN32)
// wchar_t is a UTF-16 unit on Windows.
void writeToDebugger(const char16_t* text) {
    OutputDebugStringW(reinterpret_cast<const wchar_t*>(text));
}
const DebugOutputSink defaultSink = writeToDebugger;
#else
const DebugOutputSink defaultSink = writeToStderr;
#endif

std::atomic<DebugOutputSink> currentSink{defaultSink};

} // namespace

void writeDebugOutput(const char16_t* text) {
    if (text) {
        currentSink.load(std::memory_order_acquire)(text);
    }
}

DebugOutputSink setDebugOutputSink(DebugOutputSink sink) {
    // Null restores the default channel.
    return currentSink.exchange(sink ? sink : defaultSink, std::memory_order_acq_rel);
}

} // namespace KUtils
