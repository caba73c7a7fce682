#include "memory/AllocationFailure.h"

#include "DebugCapture.h"
#include "host/sdk/HostRuntime.h"
#include "memory/DebugPrintf.h"
#include "memory/ExceptionMsg.h"

#include <cstring>
#include <gtest/gtest.h>
#include <new>
#include <optional>
#include <string>

using KUtils::ExceptionMsg;

namespace {

std::string narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        out += c < 0x80 ? char(c) : '?';
    }
    return out;
}

// Runs operator new(size) with the calling thread's requests failing; returns the message.
template <typename Allocate>
std::optional<ExceptionMsg> failingNew(Allocate allocate, int failingRequests) {
    try {
        kivohost::ScopedAllocFailure fail(0, failingRequests);
        allocate();
    } catch (const ExceptionMsg& e) {
        return e;
    }
    return std::nullopt;
}

// Each run of digits becomes '#'.
std::string collapseDigits(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (!digit) {
            out += text[i];
        } else if (i == 0 || text[i - 1] < '0' || text[i - 1] > '9') {
            out += '#';
        }
    }
    return out;
}

// The failure line for a 100-byte request, whatever the heap figures.
bool isFailureTextFor100Bytes(const char* text) {
    return std::string(text).starts_with("Memory allocation failure; 100 bytes requested; ") &&
           collapseDigits(text) == "Memory allocation failure; # bytes requested; # bytes "
                                   "already in heap; # bytes free heap space.";
}

} // namespace

TEST(AllocationFailure, FailedRequestIsReportedAndThrown) {
    DebugCapture capture;
    const auto msg = failingNew([] { return ::operator new(100); }, 1);
    ASSERT_TRUE(msg.has_value());
    EXPECT_TRUE(isFailureTextFor100Bytes(msg->getMessage())) << msg->getMessage();

    const auto& lines = DebugCapture::lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], u"[operator new] failed (size is 100)\n");
    EXPECT_EQ(lines[1], u"[getFreeHeapMemory] Getting free heap memory.\n");
    EXPECT_EQ(lines[2], u"[getFreeHeapMemory] heapstatus=-5\n");
    EXPECT_EQ(collapseDigits(narrow(lines[3])),
              "[getFreeHeapMemory] Number of blocks visited: #\n");

    // The array form behaves the same.
    const auto arrayMsg = failingNew([] { return ::operator new[](100); }, 1);
    ASSERT_TRUE(arrayMsg.has_value());
    EXPECT_TRUE(isFailureTextFor100Bytes(arrayMsg->getMessage()));
    const auto alignedMsg =
        failingNew([] { return ::operator new (100, std::align_val_t{64}); }, 1);
    ASSERT_TRUE(alignedMsg.has_value());
    EXPECT_TRUE(isFailureTextFor100Bytes(alignedMsg->getMessage()));
}

TEST(AllocationFailure, RequestsAbove4GiBKeepTheirSize) {
    DebugCapture capture;
    const std::size_t size = std::size_t{5} << 30;
    const auto msg = failingNew([size] { return ::operator new(size); }, 1);
    ASSERT_TRUE(msg.has_value());
    EXPECT_NE(std::strstr(msg->getMessage(), "; 5368709120 bytes requested;"), nullptr)
        << msg->getMessage();
    ASSERT_FALSE(DebugCapture::lines().empty());
    EXPECT_EQ(DebugCapture::lines()[0], u"[operator new] failed (size is 5368709120)\n");

    const ExceptionMsg full = KUtils::allocationFailureMessage(size, 4294967303u, 1, true);
    EXPECT_STREQ(full.getMessage(), "Memory allocation failure; 5368709120 bytes requested; "
                                    "4294967303 bytes already in heap; 1 bytes free heap space.");
}

TEST(AllocationFailure, DamagedHeapKeepsTheRequestLineInTheDebugOutput) {
    DebugCapture capture;
    const ExceptionMsg msg = KUtils::allocationFailureMessage(100, 2048, 512, false);
    EXPECT_STREQ(msg.getMessage(), " Heap is reported damaged.\n");
    ASSERT_EQ(DebugCapture::lines().size(), 1u);
    EXPECT_EQ(DebugCapture::lines()[0], u"Memory allocation failure; 100 bytes requested; 2048 "
                                        u"bytes already in heap; 512 bytes free heap space.\n");
}

TEST(AllocationFailure, NoMemoryAtAllStillThrowsWithoutDiagnostics) {
    DebugCapture capture;
    // Every request fails, the debug lines' own buffers included: they are dropped, and the
    // failure path does not recurse.
    const auto msg = failingNew([] { return ::operator new(100); }, -1);
    ASSERT_TRUE(msg.has_value());
    EXPECT_TRUE(isFailureTextFor100Bytes(msg->getMessage()));
    EXPECT_TRUE(DebugCapture::lines().empty());
}

TEST(AllocationFailure, NothrowFormsReturnNull) {
    DebugCapture capture;
    void* results[4];
    int failures;
    {
        kivohost::ScopedAllocFailure fail(0, -1);
        results[0] = ::operator new(100, std::nothrow);
        results[1] = ::operator new[](100, std::nothrow);
        results[2] = ::operator new (100, std::align_val_t{64}, std::nothrow);
        results[3] = ::operator new[](100, std::align_val_t{64}, std::nothrow);
        failures = fail.failures();
    }
    for (void* p : results) {
        EXPECT_EQ(p, nullptr);
    }
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

TEST(DebugPrintf, LineIsDroppedWithoutMemory) {
    DebugCapture capture;
    {
        kivohost::ScopedAllocFailure fail;
        KUtils::debugPrintf("lost %d\n", 1);
        EXPECT_EQ(fail.failures(), 1);
    }
    KUtils::debugPrintf("kept %d\n", 2);
    ASSERT_EQ(DebugCapture::lines().size(), 1u);
    EXPECT_EQ(DebugCapture::lines()[0], u"kept 2\n");
}

TEST(ExceptionMsg, FormatsCutsAndCopiesItsText) {
    const ExceptionMsg msg("%d bytes at %s", 42, "start");
    EXPECT_STREQ(msg.getMessage(), "42 bytes at start");

    const std::string longText(2000, 'x');
    const ExceptionMsg cut("%s", longText.c_str());
    EXPECT_EQ(std::strlen(cut.getMessage()), ExceptionMsg::kTextSize - 1);

    const ExceptionMsg copy(msg);
    EXPECT_STREQ(copy.getMessage(), "42 bytes at start");
    EXPECT_NE(copy.getMessage(), msg.getMessage());
    ExceptionMsg assigned("other");
    assigned = cut;
    EXPECT_EQ(std::string(assigned.getMessage()), longText.substr(0, 1023));
    EXPECT_TRUE(std::has_virtual_destructor_v<ExceptionMsg>);
}
