// The UTF-8 to UTF-16 conversion of the debugger output, on arbitrary bytes:
// - the counting pass gives the number of units the converting pass writes;
// - a converting pass never writes past its limit (guard units after it stay untouched), and
//   what it writes is the longest prefix of the full text that fits without splitting a
//   surrogate pair, then a terminating 0 when room is left;
// - the units are those of a model of the conversion rules written independently here:
//   invalid bytes become escape pairs 0xDBC0, 0xDC00 + byte;
// - text that the C library's own decoder (iconv) accepts as UTF-8 converts to exactly the
//   units iconv gives, unless it contains code points of the escape range.
#include "Require.h"
#include "memory/Utf8ToUtf16.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iconv.h>
#include <string>
#include <vector>

namespace {

// A unit of output or a surrogate pair: what the converting pass writes whole or not at all.
struct Atom {
    char16_t units[2];
    int length;
};

void escape(std::vector<Atom>& atoms, unsigned char byte) {
    atoms.push_back({{char16_t(0xDBC0), char16_t(0xDC00 + byte)}, 2});
}

void codePoint(std::vector<Atom>& atoms, std::uint32_t cp) {
    if (cp < 0x10000) {
        atoms.push_back({{char16_t(cp), 0}, 1});
    } else {
        const std::uint32_t v = cp - 0x10000;
        atoms.push_back({{char16_t(0xD800 + (v >> 10)), char16_t(0xDC00 + (v & 0x3FF))}, 2});
    }
}

// The conversion rules, decoded one lead byte at a time with explicit per-length tables.
std::vector<Atom> model(const std::string& text) {
    std::vector<Atom> atoms;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            atoms.push_back({{char16_t(lead), 0}, 1});
            ++i;
            continue;
        }
        int n = 0;
        while (n < 8 && (lead & (0x80u >> n))) {
            ++n;
        }
        if (n == 1) {
            escape(atoms, lead);
            ++i;
            continue;
        }
        // Payload bits of the lead: 7 - n of them, none from length 7 on.
        std::uint64_t value = n < 7 ? (lead & ((1u << (7 - n)) - 1)) : 0;
        std::size_t consumed = 1;
        bool complete = true;
        while (consumed < std::size_t(n)) {
            if (i + consumed >= text.size() ||
                (static_cast<unsigned char>(text[i + consumed]) & 0xC0) != 0x80) {
                complete = false;
                break;
            }
            value = (value << 6) | (static_cast<unsigned char>(text[i + consumed]) & 0x3F);
            ++consumed;
        }
        // The decoded value lives in 32 bits.
        value &= 0xFFFFFFFFu;
        static const std::uint64_t minimum[9] = {
            0, 0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000, 0x80000000, 0x100000000};
        const bool valid = complete && value >= minimum[n] && value <= 0x10FFFF &&
                           !(value >= 0x100000 && value <= 0x1000FF);
        if (valid) {
            codePoint(atoms, std::uint32_t(value));
        } else {
            for (std::size_t k = 0; k < consumed; ++k) {
                escape(atoms, static_cast<unsigned char>(text[i + k]));
            }
        }
        i += consumed;
    }
    return atoms;
}

// What a converting pass with this limit writes.
std::vector<char16_t> expectedOutput(const std::vector<Atom>& atoms, std::size_t limit) {
    std::vector<char16_t> out;
    for (const Atom& a : atoms) {
        if (out.size() + std::size_t(a.length) > limit) {
            if (a.length == 2 && out.size() < limit) {
                out.push_back(0);
            }
            return out;
        }
        out.insert(out.end(), a.units, a.units + a.length);
    }
    if (out.size() < limit) {
        out.push_back(0);
    }
    return out;
}

// The text as the C library decodes it, or false when it rejects it.
bool iconvDecode(const std::string& text, std::vector<char16_t>& units) {
    static iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
    if (cd == iconv_t(-1)) {
        return false;
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string in = text;
    std::vector<char> out(text.size() * 4 + 8);
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == std::size_t(-1) || inLeft != 0) {
        return false;
    }
    const std::size_t bytes = out.size() - outLeft;
    units.resize(bytes / 2);
    for (std::size_t k = 0; k < units.size(); ++k) {
        units[k] = char16_t(static_cast<unsigned char>(out[2 * k]) |
                            static_cast<unsigned char>(out[2 * k + 1]) << 8);
    }
    return true;
}

bool hasEscapeRangeCodePoint(const std::vector<char16_t>& units) {
    // U+100000..U+1000FF encode as 0xDBC0 followed by 0xDC00..0xDCFF.
    for (std::size_t k = 0; k + 1 < units.size(); ++k) {
        if (units[k] == 0xDBC0 && units[k + 1] <= 0xDCFF) {
            return true;
        }
    }
    return false;
}

constexpr char16_t kGuard = 0xA5A5;
constexpr std::size_t kGuardUnits = 8;

// Converts into a buffer of limit units followed by guard units; returns what was written.
std::vector<char16_t> convert(const std::string& text, std::size_t limit) {
    std::vector<char16_t> buffer(limit + kGuardUnits, kGuard);
    const std::size_t written = KUtils::utf8ToUtf16(text.c_str(), buffer.data(), limit);
    FUZZ_REQUIRE(written <= limit);
    for (std::size_t k = limit; k < buffer.size(); ++k) {
        FUZZ_REQUIRE(buffer[k] == kGuard);
    }
    return {buffer.begin(), buffer.begin() + std::ptrdiff_t(written)};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The conversion reads up to the first zero byte; the model sees the same text.
    std::string text(reinterpret_cast<const char*>(data), size);
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));

    const std::vector<Atom> atoms = model(text);
    std::size_t units = 0;
    for (const Atom& a : atoms) {
        units += std::size_t(a.length);
    }
    FUZZ_REQUIRE(KUtils::utf8ToUtf16(text.c_str(), nullptr, 0) == units);

    // Room for everything: every unit and the terminator.
    const std::vector<char16_t> full = convert(text, units + 1);
    FUZZ_REQUIRE(full == expectedOutput(atoms, units + 1));

    // Tight limits, including every limit around the end and a few inside.
    const std::size_t limits[] = {0, 1, 2, 3, units / 2, units - (units > 0), units, units + 2};
    for (std::size_t limit : limits) {
        FUZZ_REQUIRE(convert(text, limit) == expectedOutput(atoms, limit));
    }

    std::vector<char16_t> reference;
    if (iconvDecode(text, reference) && !hasEscapeRangeCodePoint(reference)) {
        reference.push_back(0);
        FUZZ_REQUIRE(full == reference);
    }
    return 0;
}
