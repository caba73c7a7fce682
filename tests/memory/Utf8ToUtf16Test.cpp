#include "memory/Utf8ToUtf16.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using KUtils::utf8ToUtf16;

namespace {

// Converts with a buffer sized by the counting pass; checks that both passes agree.
std::u16string convert(const std::string& text) {
    const std::size_t units = utf8ToUtf16(text.c_str(), nullptr, 0);
    std::vector<char16_t> out(units + 1, u'\xAAAA');
    EXPECT_EQ(utf8ToUtf16(text.c_str(), out.data(), out.size()), units + 1) << text;
    EXPECT_EQ(out[units], 0) << text;
    return std::u16string(out.data(), units);
}

// The escape of one malformed byte.
std::u16string esc(unsigned char byte) {
    return {char16_t(0xDBC0), char16_t(0xDC00 + byte)};
}

void appendUtf8(std::string& s, std::uint32_t cp) {
    if (cp < 0x80) {
        s += char(cp);
    } else if (cp < 0x800) {
        s += char(0xC0 | (cp >> 6));
        s += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        s += char(0xE0 | (cp >> 12));
        s += char(0x80 | ((cp >> 6) & 0x3F));
        s += char(0x80 | (cp & 0x3F));
    } else {
        s += char(0xF0 | (cp >> 18));
        s += char(0x80 | ((cp >> 12) & 0x3F));
        s += char(0x80 | ((cp >> 6) & 0x3F));
        s += char(0x80 | (cp & 0x3F));
    }
}

} // namespace

TEST(Utf8ToUtf16, DecodesValidTextAndEscapesMalformedBytes) {
    EXPECT_EQ(convert("\x41"), u"\x41");
    EXPECT_EQ(convert("\xC3\xA9"), u"\xE9");
    EXPECT_EQ(convert("\xF0\x9F\x98\x80"), (std::u16string{0xD83D, 0xDE00}));
    EXPECT_EQ(convert("\xFF"), esc(0xFF));
    // Overlong: both bytes were consumed, both are escaped.
    EXPECT_EQ(convert("\xC0\x80"), esc(0xC0) + esc(0x80));
    // The sequence breaks at 0x41, which is decoded again on its own.
    EXPECT_EQ(convert("\xE2\x82\x41"), esc(0xE2) + esc(0x82) + u"A");
    // A continuation byte in lead position.
    EXPECT_EQ(convert("\x80x"), esc(0x80) + u"x");
    // Boundaries of the 2- and 3-byte forms; an overlong 3-byte form.
    EXPECT_EQ(convert("\xDF\xBF"), u"\x07FF");
    EXPECT_EQ(convert("\xEF\xBF\xBF"), u"\xFFFF");
    EXPECT_EQ(convert("\xE0\x9F\xBF"), esc(0xE0) + esc(0x9F) + esc(0xBF));
    EXPECT_EQ(convert(""), u"");
}

TEST(Utf8ToUtf16, SequencesCutByTheEndOfTheText) {
    EXPECT_EQ(convert("a\xE2\x82"), u"a" + esc(0xE2) + esc(0x82));
    EXPECT_EQ(convert("\xF0\x9F\x98"), esc(0xF0) + esc(0x9F) + esc(0x98));
    EXPECT_EQ(convert("\xC3"), esc(0xC3));
}

TEST(Utf8ToUtf16, FourByteValuesOutsideTheTextRange) {
    EXPECT_EQ(convert("\xF4\x8F\xBF\xBF"), (std::u16string{0xDBFF, 0xDFFF})); // 0x10FFFF
    EXPECT_EQ(convert("\xF4\x90\x80\x80"), esc(0xF4) + esc(0x90) + esc(0x80) + esc(0x80));
    // 0x100000 and 0x1000FF would look like escapes; 0x100100 is text again.
    EXPECT_EQ(convert("\xF4\x80\x80\x80"), esc(0xF4) + esc(0x80) + esc(0x80) + esc(0x80));
    EXPECT_EQ(convert("\xF4\x80\x83\xBF"), esc(0xF4) + esc(0x80) + esc(0x83) + esc(0xBF));
    EXPECT_EQ(convert("\xF4\x80\x84\x80"), (std::u16string{0xDBC0, 0xDD00}));
    // Five- and seven-byte forms.
    EXPECT_EQ(convert("\xF8\x88\x80\x80\x80"),
              esc(0xF8) + esc(0x88) + esc(0x80) + esc(0x80) + esc(0x80));
    EXPECT_EQ(convert("\xFE\x80\x80\x80\x80\x80\x80"),
              esc(0xFE) + esc(0x80) + esc(0x80) + esc(0x80) + esc(0x80) + esc(0x80) + esc(0x80));
}

TEST(Utf8ToUtf16, ConvertingPassStaysWithinItsLimit) {
    struct Case {
        const char* text;
        std::size_t limit;
        std::u16string expected; // the written units, terminator included
    };
    const Case cases[] = {
        {"a\xC3\xA9z", 0, u""},
        {"a\xC3\xA9z", 1, u"a"},
        {"a\xC3\xA9z", 3, u"a\xE9z"},
        {"a\xC3\xA9z", 4, std::u16string(u"a\xE9z\0", 4)},
        {"a\xC3\xA9z", 9, std::u16string(u"a\xE9z\0", 4)},
        // A pair with one unit left becomes the terminator.
        {"a\xF0\x9F\x98\x80", 2, std::u16string(u"a\0", 2)},
        {"a\xF0\x9F\x98\x80", 3, u"a\xD83D\xDE00"},
        {"\xFF\xFF", 3, std::u16string(u"\xDBC0\xDCFF\0", 3)},
    };
    for (const Case& c : cases) {
        std::vector<char16_t> out(c.limit + 4, u'\xAAAA');
        const std::size_t written = utf8ToUtf16(c.text, out.data(), c.limit);
        EXPECT_EQ(std::u16string(out.data(), written), c.expected) << c.text << " " << c.limit;
        for (std::size_t i = c.limit; i < out.size(); ++i) {
            EXPECT_EQ(out[i], u'\xAAAA') << c.text << " " << c.limit << " wrote past the limit";
        }
    }
}

TEST(Utf8ToUtf16, PassesAgreeOnArbitraryBytesAndValidTextRoundTrips) {
    std::uint32_t state = 12345;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    for (int round = 0; round < 500; ++round) {
        std::string bytes;
        const int length = int(next() % 24);
        for (int i = 0; i < length; ++i) {
            const unsigned b = next() % 255 + 1; // no zero inside
            bytes += char(b);
        }
        const std::size_t units = utf8ToUtf16(bytes.c_str(), nullptr, 0);
        for (std::size_t limit = 0; limit <= units + 1; ++limit) {
            std::vector<char16_t> out(limit + 1, u'\xAAAA');
            const std::size_t written = utf8ToUtf16(bytes.c_str(), out.data(), limit);
            ASSERT_LE(written, limit);
            ASSERT_EQ(out[limit], u'\xAAAA');
        }
        convert(bytes);
    }
    // Valid text of every length class decodes to the standard UTF-16.
    for (int round = 0; round < 500; ++round) {
        std::string text;
        std::u16string expected;
        for (int i = 0; i < 8; ++i) {
            // One of each UTF-8 length class, equally often.
            const std::uint32_t low[4] = {0x01, 0x80, 0x800, 0x10000};
            const std::uint32_t high[4] = {0x7F, 0x7FF, 0xFFFF, 0x10FFFF};
            const std::uint32_t cls = next() % 4;
            std::uint32_t cp = low[cls] + next() % (high[cls] - low[cls] + 1);
            if ((cp >= 0xD800 && cp <= 0xDFFF) || (cp >= 0x100000 && cp <= 0x1000FF)) {
                cp = 0x20AC;
            }
            appendUtf8(text, cp);
            if (cp > 0xFFFF) {
                expected += char16_t(0xD800 + ((cp - 0x10000) >> 10));
                expected += char16_t(0xDC00 + (cp & 0x3FF));
            } else {
                expected += char16_t(cp);
            }
        }
        ASSERT_EQ(convert(text), expected);
    }
}
