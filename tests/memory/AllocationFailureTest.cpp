#include "memory/AllocationFailure.h"

#include "memory/DebugPrintf.h"
#include "memory/ExceptionMsg.h"
#include "sdk/HostRuntime.h"
#include "tests/support/DebugCapture.h"

#include <array>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <new>
#include <optional>
#include <string>
#include <string_view>

using KUtils::ExceptionMsg;

namespace {

// Runs allocate() with the calling thread's next `failingRequests` requests failing (-1: all);
// returns what it threw.
std::optional<ExceptionMsg> failingNew(const std::function<void()>& allocate,
                                       int failingRequests = 1) {
    try {
        kivohost::ScopedAllocFailure fail(0, failingRequests);
        allocate();
    } catch (const ExceptionMsg& e) {
        return e;
    }
    return std::nullopt;
}

// The failure line for a 100-byte request, whatever the heap figures (each run of digits
// compared as one '#').
bool isFailureTextFor100Bytes(const std::optional<ExceptionMsg>& msg) {
    std::string shape;
    for (const char* c = msg ? msg->getMessage() : ""; *c; ++c) {
        const bool digit = *c >= '0' && *c <= '9';
        if (!digit || shape.empty() || shape.back() != '#') {
            shape += digit ? '#' : *c;
        }
    }
    return msg &&
           std::string_view(msg->getMessage()).starts_with("Memory allocation failure; 100 ") &&
           shape == "Memory allocation failure; # bytes requested; # bytes already in heap; # "
                    "bytes free heap space.";
}

} // namespace

TEST(AllocationFailure, FailedRequestIsReportedAndThrownByEveryThrowingForm) {
    const std::function<void()> forms[] = {
        [] { ::operator delete(::operator new(100)); },
        [] { ::operator delete[](::operator new[](100)); },
        [] {
            ::operator delete (::operator new (100, std::align_val_t{64}), std::align_val_t{64});
        },
    };
    for (const auto& allocate : forms) {
        DebugCapture capture;
        EXPECT_TRUE(isFailureTextFor100Bytes(failingNew(allocate)));
        const auto& lines = DebugCapture::lines();
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_EQ(lines[0], u"[operator new] failed (size is 100)\n");
        EXPECT_EQ(lines[1], u"[getFreeHeapMemory] Getting free heap memory.\n");
        EXPECT_EQ(lines[2], u"[getFreeHeapMemory] heapstatus=-5\n");
        EXPECT_EQ(lines[3].rfind(u"[getFreeHeapMemory] Number of blocks visited: ", 0), 0u);
    }
}

TEST(AllocationFailure, RequestsAbove4GiBKeepTheirSizeAndADamagedHeapIsSaidSo) {
    DebugCapture capture;
    const std::size_t size = std::size_t{5} << 30;
    const auto msg = failingNew([size] { ::operator delete(::operator new(size)); });
    ASSERT_TRUE(msg.has_value());
    EXPECT_NE(std::strstr(msg->getMessage(), "; 5368709120 bytes requested;"), nullptr)
        << msg->getMessage();
    ASSERT_FALSE(DebugCapture::lines().empty());
    EXPECT_EQ(DebugCapture::lines()[0], u"[operator new] failed (size is 5368709120)\n");

    EXPECT_STREQ(KUtils::allocationFailureMessage(size, 4294967303u, 1, true).getMessage(),
                 "Memory allocation failure; 5368709120 bytes requested; 4294967303 bytes "
                 "already in heap; 1 bytes free heap space.");

    // A damaged heap: the request line goes to the debug output only.
    DebugCapture::lines().clear();
    EXPECT_STREQ(KUtils::allocationFailureMessage(100, 2048, 512, false).getMessage(),
                 " Heap is reported damaged.\n");
    ASSERT_EQ(DebugCapture::lines().size(), 1u);
    EXPECT_EQ(DebugCapture::lines()[0], u"Memory allocation failure; 100 bytes requested; 2048 "
                                        u"bytes already in heap; 512 bytes free heap space.\n");
}

TEST(AllocationFailure, WithoutAnyMemoryTheDiagnosticsAreDroppedAndNothingRecurses) {
    DebugCapture capture;
    // Every request fails, the debug lines' own buffers included.
    EXPECT_TRUE(
        isFailureTextFor100Bytes(failingNew([] { ::operator delete(::operator new(100)); }, -1)));
    EXPECT_TRUE(DebugCapture::lines().empty());
    // The next line, with memory, is written.
    KUtils::debugPrintf("kept %d\n", 2);
    ASSERT_EQ(DebugCapture::lines().size(), 1u);
    EXPECT_EQ(DebugCapture::lines()[0], u"kept 2\n");
}

TEST(AllocationFailure, NothrowFormsReturnNull) {
    DebugCapture capture;
    std::array<void*, 4> results;
    int failures;
    {
        // Checked after the switch ends: the test's own assertions allocate.
        kivohost::ScopedAllocFailure fail(0, -1);
        results = {::operator new(100, std::nothrow), ::operator new[](100, std::nothrow),
                   ::operator new (100, std::align_val_t{64}, std::nothrow),
                   ::operator new[](100, std::align_val_t{64}, std::nothrow)};
        failures = fail.failures();
    }
    EXPECT_EQ(results, (std::array<void*, 4>{}));
    EXPECT_EQ(failures, 4);
    EXPECT_TRUE(DebugCapture::lines().empty());
}

TEST(DebugPrintf, LinesAreCutAt4096Bytes) {
    DebugCapture capture;
    KUtils::debugPrintf("%s=%d\n", "width", 640);
    KUtils::debugPrintf("%s", std::string(5000, 'a').c_str());
    // The cut falls inside a two-byte sequence: its lead byte is escaped.
    KUtils::debugPrintf("%s\xC3\xA9", std::string(4094, 'b').c_str());
    const auto& lines = DebugCapture::lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], u"width=640\n");
    EXPECT_EQ(lines[1], std::u16string(4095, u'a'));
    EXPECT_EQ(lines[2], std::u16string(4094, u'b') + u"\xDBC0\xDCC3");
}

TEST(ExceptionMsg, FormatsCutsAndCopiesItsText) {
    const ExceptionMsg msg("%d bytes at %s", 42, "start");
    EXPECT_STREQ(msg.getMessage(), "42 bytes at start");
    const std::string longText(2000, 'x');
    const ExceptionMsg cut("%s", longText.c_str());
    ExceptionMsg assigned(msg);
    EXPECT_STREQ(assigned.getMessage(), "42 bytes at start");
    assigned = cut;
    EXPECT_EQ(std::string(assigned.getMessage()), longText.substr(0, 1023));
}
