// The host stand-in's runtime services: allocator and its failure switch, shared strings,
// the GPU text buffer, debugger output, sequence data and the message log.
#include "kivo/PluginDescriptor.h"
#include "sdk/HostRuntime.h"
#include "tests/support/DebugCapture.h"

#include <array>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace KUtils;

namespace {

// Four vmalloc requests in a row, '+' for each granted and '-' for each refused; made into a
// fixed buffer, since anything else allocating meanwhile would take part in the count.
std::array<char, 5> attemptFour() {
    std::array<char, 5> result{};
    for (int i = 0; i < 4; ++i) {
        void* p = vmalloc(16);
        result[std::size_t(i)] = p ? '+' : '-';
        vfree(p);
    }
    return result;
}

// attemptFour under a switch failing `count` requests after `skip`, then the switch's count of
// failures.
std::string underSwitch(int skip, int count) {
    std::array<char, 5> result;
    int failures;
    {
        kivohost::ScopedAllocFailure fail(skip, count);
        result = attemptFour();
        failures = fail.failures();
    }
    return result.data() + (" " + std::to_string(failures));
}

} // namespace

TEST(Allocation, FailureSwitchSkipsCountsAndNests) {
    EXPECT_EQ(underSwitch(1, 2), "+--+ 2");
    EXPECT_EQ(underSwitch(0, 1), "-+++ 1"); // each switch starts afresh
    EXPECT_EQ(underSwitch(0, 0), "++++ 0");
    EXPECT_EQ(underSwitch(0, -1), "---- 4");
    // The newest switch decides; the outer one takes over again when it ends.
    std::array<char, 5> inner, outerAfter;
    {
        kivohost::ScopedAllocFailure outer(0, -1);
        {
            kivohost::ScopedAllocFailure nested(1, 1);
            inner = attemptFour();
        }
        outerAfter = attemptFour();
    }
    EXPECT_STREQ(inner.data(), "+-++");
    EXPECT_STREQ(outerAfter.data(), "----");
    // Only successful requests count; a zero-byte request succeeds.
    const std::size_t before = kivohost::allocationCount();
    void* p = vmalloc(0);
    const std::size_t after = kivohost::allocationCount();
    EXPECT_NE(p, nullptr);
    vfree(p);
    EXPECT_EQ(after, before + 1);
}

TEST(CharStringTest, CopiesShareTheText) {
    EXPECT_EQ(CharString(nullptr).ptr(), nullptr);
    CharString a("shared");
    const char* text = a.ptr();
    const std::size_t afterCreate = kivohost::allocationCount();
    CharString b(a);
    CharString& alias = b;
    b = alias;                                           // self-assignment keeps the text
    EXPECT_EQ(kivohost::allocationCount(), afterCreate); // copies allocate nothing
    EXPECT_EQ(b.ptr(), text);
    a = CharString("replaced");
    EXPECT_STREQ(a.ptr(), "replaced");
    EXPECT_STREQ(b.ptr(), "shared"); // the copy keeps the text alive
    kivohost::ScopedAllocFailure fail;
    EXPECT_EQ(CharString("lost").ptr(), nullptr);
}

TEST(ShaderSourceTest, PrintfGrowsForLongText) {
    ShaderSource source;
    EXPECT_STREQ(source.text(), "");
    source.append("uvw_transform ");
    source.printf("%f,%d,%i\n", 1.5, -3, 7);
    const std::string longText(5000, 'x');
    source.printf("[%s]%d", longText.c_str(), 42);
    source.append(nullptr);
    source.printf("%s", "");
    const std::string expected = "uvw_transform 1.500000,-3,7\n[" + longText + "]42";
    EXPECT_EQ(std::string(source.text()), expected);
    EXPECT_EQ(source.size(), expected.size());
}

TEST(DebugOutput, SinkIsReplaceableAndDefaultWritesUtf8) {
    {
        DebugCapture capture;
        writeDebugOutput(u"first");
        writeDebugOutput(nullptr);
        EXPECT_EQ(DebugCapture::lines(), std::vector<std::u16string>{u"first"});
    }
#if !defined(_WIN32) // the default sink is the debugger there (the Windows platform tests)
    // Escaped raw bytes (0xDBC0, 0xDC00 + b) come out as the byte b itself.
    const char16_t text[] = {u'A', 0xE9, 0xDBC0, 0xDCFF, 0xD83D, 0xDE00, 0xDC00, u'\n', 0};
    testing::internal::CaptureStderr();
    writeDebugOutput(text);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "A\xC3\xA9\xFF\xF0\x9F\x98\x80\xEF\xBF\xBD\n");
#endif
}

TEST(RenderData, MotionBlurSamplesLogAndDefaults) {
    struct Case {
        int motionBlur, geomSamples, requested, samples;
    };
    // Off: one sample; on: the request, else the sequence's geometry samples, at least one.
    const Case cases[] = {{0, 2, 5, 1}, {1, 2, 5, 5}, {1, 2, 0, 2}, {1, 2, -3, 2},
                          {1, 6, 0, 6}, {1, 0, 0, 1}, {-1, 0, 3, 3}};
    for (const Case& c : cases) {
        KivoSequenceData seq;
        seq.motionBlur = c.motionBlur;
        seq.geomSamples = c.geomSamples;
        EXPECT_EQ(determineMotionBlurSamples(seq, c.requested), c.samples)
            << c.motionBlur << " " << c.geomSamples << " " << c.requested;
    }
    // The log, and the defaults (the up direction: the frame settings that give it, uvwhost's
    // parsing tests).
    kivohost::RenderSession session;
    ASSERT_EQ(session.sequence.messageLog, &session.log);
    session.sequence.messageLog->logMessage("[X] Unknown mapping type \"%s\"\n", "cubic");
    EXPECT_EQ(session.log.lines(),
              std::vector<std::string>{"[X] Unknown mapping type \"cubic\"\n"});

    session.sequence.numThreads = 8;
    session.sequence.motionBlur = 1;
    session.sequence.setDefaults();
    EXPECT_EQ(session.sequence.numThreads, 1);
    EXPECT_EQ(session.sequence.motionBlur, 0);
    EXPECT_EQ(session.sequence.geomSamples, 2);
    EXPECT_EQ(session.sequence.messageLog, nullptr);
}
