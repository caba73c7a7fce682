#include "memory/Utf8ToUtf16.h"

#include <gtest/gtest.h>
#include <string>
#include <string_view>
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

// The escapes of malformed bytes: 0xDBC0, 0xDC00 + byte each.
std::u16string esc(std::string_view bytes) {
    std::u16string out;
    for (unsigned char byte : bytes) {
        out += {char16_t(0xDBC0), char16_t(0xDC00 + byte)};
    }
    return out;
}

} // namespace

TEST(Utf8ToUtf16, DecodesValidTextAndEscapesMalformedBytes) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"", u""},
        {"\x41", u"\x41"},
        {"\xC3\xA9", u"\xE9"},
        {"\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
        {"\xFF", esc("\xFF")},
        // Overlong: both bytes were consumed, both are escaped.
        {"\xC0\x80", esc("\xC0\x80")},
        // The sequence breaks at 0x41, which is decoded again on its own.
        {"\xE2\x82\x41", esc("\xE2\x82") + u"A"},
        // A continuation byte in lead position.
        {"\x80x", esc("\x80") + u"x"},
        // Boundaries of the 2- and 3-byte forms; an overlong 3-byte form.
        {"\xDF\xBF", u"\x07FF"},
        {"\xEF\xBF\xBF", u"\xFFFF"},
        {"\xE0\x9F\xBF", esc("\xE0\x9F\xBF")},
        // Sequences cut by the end of the text.
        {"a\xE2\x82", u"a" + esc("\xE2\x82")},
        {"\xF0\x9F\x98", esc("\xF0\x9F\x98")},
        {"\xC3", esc("\xC3")},
        // The end of the text range (0x10FFFF), and past it.
        {"\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},
        {"\xF4\x90\x80\x80", esc("\xF4\x90\x80\x80")},
        // 0x100000 and 0x1000FF would look like escapes; 0x100100 is text again.
        {"\xF4\x80\x80\x80", esc("\xF4\x80\x80\x80")},
        {"\xF4\x80\x83\xBF", esc("\xF4\x80\x83\xBF")},
        {"\xF4\x80\x84\x80", u"\xDBC0\xDD00"},
        // Five- and seven-byte forms.
        {"\xF8\x88\x80\x80\x80", esc("\xF8\x88\x80\x80\x80")},
        {"\xFE\x80\x80\x80\x80\x80\x80", esc("\xFE\x80\x80\x80\x80\x80\x80")},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(convert(text), expected) << testing::PrintToString(text);
    }
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
        // A pair with one unit left becomes the terminator; with none left, nothing.
        {"a\xF0\x9F\x98\x80", 1, u"a"},
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
