// The host stand-in's runtime services: allocator and its failure switch, shared strings,
// the GPU text buffer, debugger output, sequence data and the message log.
#include "frame/PluginDescriptor.h"
#include "host/sdk/HostRuntime.h"

#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <thread>

using namespace KUtils;

namespace {

// vmalloc results of a few requests in a row, made while no test assertion allocates.
struct Attempts {
    bool ok[4] = {};
};

Attempts attemptFour() {
    Attempts a;
    for (bool& ok : a.ok) {
        void* p = vmalloc(16);
        ok = p != nullptr;
        vfree(p);
    }
    return a;
}

} // namespace

TEST(Allocation, FailureSwitchSkipsCountsAndNests) {
    const std::size_t before = kivohost::allocationCount();
    Attempts a;
    int failures = 0;
    {
        kivohost::ScopedAllocFailure fail(1, 2);
        a = attemptFour();
        failures = fail.failures();
    }
    EXPECT_TRUE(a.ok[0]);
    EXPECT_FALSE(a.ok[1]);
    EXPECT_FALSE(a.ok[2]);
    EXPECT_TRUE(a.ok[3]);
    EXPECT_EQ(failures, 2);
    EXPECT_GE(kivohost::allocationCount(), before + 2);

    // The newest switch decides; the outer one takes over again when it ends.
    Attempts inner, outerAfter;
    int innerFailures = 0, outerFailures = 0;
    {
        kivohost::ScopedAllocFailure outer(0, -1);
        {
            kivohost::ScopedAllocFailure nested(1, 1);
            inner = attemptFour();
            innerFailures = nested.failures();
        }
        outerAfter = attemptFour();
        outerFailures = outer.failures();
    }
    EXPECT_TRUE(inner.ok[0]);
    EXPECT_FALSE(inner.ok[1]);
    EXPECT_TRUE(inner.ok[2]);
    EXPECT_TRUE(inner.ok[3]);
    EXPECT_EQ(innerFailures, 1);
    for (bool ok : outerAfter.ok) {
        EXPECT_FALSE(ok);
    }
    EXPECT_EQ(outerFailures, 4);

    // Sequential switches start afresh; count 0 fails nothing.
    Attempts second, none;
    {
        kivohost::ScopedAllocFailure again(0, 1);
        second = attemptFour();
    }
    {
        kivohost::ScopedAllocFailure never(0, 0);
        none = attemptFour();
    }
    EXPECT_FALSE(second.ok[0]);
    EXPECT_TRUE(second.ok[1]);
    for (bool ok : none.ok) {
        EXPECT_TRUE(ok);
    }

    // Only successful requests count.
    std::size_t counts[3];
    counts[0] = kivohost::allocationCount();
    void* p = vmalloc(0); // a zero-byte request still succeeds
    counts[1] = kivohost::allocationCount();
    {
        kivohost::ScopedAllocFailure fail;
        vfree(vmalloc(8));
    }
    counts[2] = kivohost::allocationCount();
    EXPECT_NE(p, nullptr);
    vfree(p);
    EXPECT_EQ(counts[1], counts[0] + 1);
    EXPECT_EQ(counts[2], counts[1]);
}

TEST(Allocation, FailureSwitchIsScopedToItsThread) {
    std::atomic<int> stage{0};
    bool workerGot = true;
    std::thread worker([&] {
        kivohost::ScopedAllocFailure failAll(0, -1);
        stage.store(1);
        while (stage.load() != 2) {
            std::this_thread::yield();
        }
        void* p = vmalloc(8);
        workerGot = p != nullptr;
        vfree(p);
    });
    while (stage.load() != 1) {
        std::this_thread::yield();
    }
    void* mine = vmalloc(8); // the worker's switch is armed now
    stage.store(2);
    worker.join();
    EXPECT_NE(mine, nullptr);
    EXPECT_FALSE(workerGot);
    vfree(mine);
}

TEST(CharStringTest, CopiesShareTheText) {
    CharString empty;
    EXPECT_EQ(empty.ptr(), nullptr);
    EXPECT_EQ(CharString(nullptr).ptr(), nullptr);

    const std::size_t before = kivohost::allocationCount();
    CharString a("shared");
    const char* text = a.ptr();
    const std::size_t afterCreate = kivohost::allocationCount();
    CharString b(a);
    CharString c;
    c = b;
    CharString& alias = c;
    c = alias;                                           // self-assignment keeps the text
    EXPECT_EQ(kivohost::allocationCount(), afterCreate); // copies allocate nothing
    EXPECT_EQ(b.ptr(), text);
    EXPECT_EQ(c.ptr(), text);
    {
        CharString d("other");
        d = a;
        EXPECT_EQ(d.ptr(), text);
    }
    a = CharString("replaced");
    EXPECT_STREQ(a.ptr(), "replaced");
    EXPECT_STREQ(b.ptr(), "shared"); // the copies keep the text alive
    EXPECT_STREQ(c.ptr(), "shared");
    b = empty;
    EXPECT_EQ(b.ptr(), nullptr);
    EXPECT_GE(kivohost::allocationCount(), before + 3);

    const char* failed = nullptr;
    {
        kivohost::ScopedAllocFailure fail;
        failed = CharString("lost").ptr();
    }
    EXPECT_EQ(failed, nullptr);
}

TEST(ShaderSourceTest, PrintfGrowsForLongText) {
    ShaderSource source;
    EXPECT_STREQ(source.text(), "");
    source.append("uvw_transform ");
    source.printf("%f,%d,%i\n", 1.5, -3, 7);
    EXPECT_STREQ(source.text(), "uvw_transform 1.500000,-3,7\n");

    const std::string longText(5000, 'x');
    source.printf("[%s]%d", longText.c_str(), 42);
    const std::string expected = "uvw_transform 1.500000,-3,7\n[" + longText + "]42";
    EXPECT_EQ(std::string(source.text()), expected);
    EXPECT_EQ(source.size(), expected.size());
    source.append(nullptr);
    source.printf("%s", "");
    EXPECT_EQ(source.size(), expected.size());
}

namespace {

std::u16string captured;
void capture(const char16_t* text) {
    captured += text;
}

} // namespace

TEST(DebugOutput, SinkIsReplaceableAndDefaultWritesUtf8) {
    const DebugOutputSink original = setDebugOutputSink(capture);
    writeDebugOutput(u"first ");
    writeDebugOutput(u"second");
    writeDebugOutput(nullptr);
    EXPECT_EQ(setDebugOutputSink(nullptr), &capture);
    EXPECT_EQ(captured, u"first second");

    // Escaped raw bytes (0xDBC0, 0xDC00 + b) come out as the byte b itself.
    const char16_t text[] = {u'A', 0xE9, 0xDBC0, 0xDCFF, 0xD83D, 0xDE00, 0xDC00, u'\n', 0};
    testing::internal::CaptureStderr();
    writeDebugOutput(text);
    const std::string out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "A\xC3\xA9\xFF\xF0\x9F\x98\x80\xEF\xBF\xBD\n");
    setDebugOutputSink(original);
}

TEST(RenderData, MotionBlurSamples) {
    KivoSequenceData seq;
    EXPECT_EQ(determineMotionBlurSamples(seq, 5), 1); // motion blur off
    seq.motionBlur = 1;
    EXPECT_EQ(determineMotionBlurSamples(seq, 5), 5);
    EXPECT_EQ(determineMotionBlurSamples(seq, 0), 2);
    EXPECT_EQ(determineMotionBlurSamples(seq, -3), 2);
    seq.geomSamples = 6;
    EXPECT_EQ(determineMotionBlurSamples(seq, 0), 6);
    seq.geomSamples = 0;
    EXPECT_EQ(determineMotionBlurSamples(seq, 0), 1);
    seq.motionBlur = -1;
    EXPECT_EQ(determineMotionBlurSamples(seq, 3), 3);
}

TEST(RenderData, SessionWiringUpQueryAndLog) {
    kivohost::RenderSession session;
    EXPECT_EQ(session.renderer.sequenceData, &session.sequence);
    EXPECT_EQ(session.renderer.frameData, &session.frame);
    ASSERT_EQ(session.sequence.messageLog, &session.log);

    EXPECT_EQ(session.sequence.getInterface(EXT_UP_DIRECTION), nullptr);
    session.sequence.up = UpDirectionRecord{{0.0f, 0.0f, 1.0f}};
    const auto* up =
        static_cast<const UpDirectionRecord*>(session.sequence.getInterface(EXT_UP_DIRECTION));
    ASSERT_NE(up, nullptr);
    EXPECT_EQ(up->upDirection[2], 1.0f);
    EXPECT_EQ(session.sequence.getInterface(EXT_UP_DIRECTION + 1), nullptr);

    session.sequence.messageLog->logMessage("[X] Unknown mapping type \"%s\"\n", "cubic");
    session.sequence.messageLog->logMessage("%s", "");
    ASSERT_EQ(session.log.lines().size(), 2u);
    EXPECT_EQ(session.log.lines()[0], "[X] Unknown mapping type \"cubic\"\n");
    EXPECT_EQ(session.log.lines()[1], "");
    session.log.clear();
    EXPECT_TRUE(session.log.lines().empty());

    session.sequence.numThreads = 8;
    session.sequence.motionBlur = 1;
    session.sequence.geomSamples = 9;
    session.sequence.setDefaults();
    EXPECT_EQ(session.sequence.numThreads, 1);
    EXPECT_EQ(session.sequence.motionBlur, 0);
    EXPECT_EQ(session.sequence.geomSamples, 2);
    EXPECT_EQ(session.sequence.messageLog, nullptr);
    EXPECT_TRUE(session.sequence.up.has_value()); // the host's own data stays
}

namespace {

class Plain : public KivoPlugin {
public:
    using KivoPlugin::KivoPlugin;
};

constexpr InterfaceID plainIds[] = {EXT_KIVO_PLUGIN, 0};

class PlainDesc : public PluginDescOf<Plain> {
public:
    PlainDesc() : PluginDescOf("Plain", 0x7E570010, "plain", plainIds) {
        paramDescs().addParamInt("n", 0, -1, "", "");
        publishParams();
    }
};

} // namespace

TEST(RenderData, RegistryRecordsDescriptors) {
    PlainDesc first, second;
    kivohost::PluginRegistry registry;
    first.registerPlugin(&registry);
    second.registerPlugin(&registry);
    ASSERT_EQ(registry.registered.size(), 2u);
    EXPECT_EQ(registry.registered[0], &first);
    first.unregisterPlugin(&registry);
    ASSERT_EQ(registry.registered.size(), 1u);
    EXPECT_EQ(registry.registered[0], &second);
    first.unregisterPlugin(&registry);
    EXPECT_EQ(registry.registered.size(), 1u);
}
