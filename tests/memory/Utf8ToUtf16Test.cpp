#include "memory/Utf8ToUtf16.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

using KUtils::utf8ToUtf16;

// The rows of utf8.txt (its header says what the columns are).
TEST(Utf8ToUtf16, DecodesEscapesMalformedBytesAndStaysWithinTheLimit) {
    std::ifstream in(MEMORY_TESTS_DIR "/utf8.txt");
    int rows = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        SCOPED_TRACE(line);
        ++rows;
        std::istringstream fields(line);
        std::string part[3];
        for (std::string& p : part) {
            std::getline(fields, p, '|');
        }
        std::istringstream bytes(part[0]), units(part[2]);
        std::string text;
        std::u16string expected;
        for (unsigned v; bytes >> std::hex >> v;) {
            text += char(v);
        }
        for (unsigned v; units >> std::hex >> v;) {
            expected += char16_t(v);
        }
        const bool counted = part[1].find('-') != std::string::npos;
        const std::size_t units16 = utf8ToUtf16(text.c_str(), nullptr, 0);
        const std::size_t limit = counted ? units16 + 1 : std::stoul(part[1]);
        std::vector<char16_t> out(limit + 4, u'\xAAAA');
        const std::size_t written = utf8ToUtf16(text.c_str(), out.data(), limit);
        if (counted) {
            // Both passes agree, and the text is terminated.
            EXPECT_EQ(written, units16 + 1);
            EXPECT_EQ(out[units16], 0);
            EXPECT_EQ(std::u16string(out.data(), units16), expected);
        } else {
            EXPECT_EQ(std::u16string(out.data(), written), expected);
        }
        for (std::size_t i = limit; i < out.size(); ++i) {
            EXPECT_EQ(out[i], u'\xAAAA') << "wrote past the limit";
        }
    }
    EXPECT_EQ(rows, 30);
}
