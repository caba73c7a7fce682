// Every allocation that a plugin type makes while a frame is set up (prepareRender, the render
// settings it takes, frameBegin) failed in turn, one at a time: the host allocator returns null
// for exactly that request. Whatever fails, either the frame goes on and every evaluation gives
// what it gives with memory (an absent per-thread cache only costs time), or the failure
// reaches the host as the library's ExceptionMsg stating the request; nothing that was
// allocated stays behind, and the next frame, with memory, gives the right results again.
#include "memory/ExceptionMsg.h"
#include "tests/support/HeapUsage.h"
#include "tests/support/PluginScenes.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace KUtils;
using namespace reliability;

namespace {

void expectSame(const std::vector<Evaluation>& actual, const std::vector<Evaluation>& expected,
                const std::string& what) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        EXPECT_TRUE(sameEvaluation(actual[i], expected[i]))
            << what << ", context " << i << "\n  got      " << describeEvaluation(actual[i])
            << "\n  expected " << describeEvaluation(expected[i]);
    }
}

// The failure path writes its diagnostics to the debugger output; counted, not printed.
std::atomic<int> debugLines{0};
void countDebugLine(const char16_t*) {
    debugLines.fetch_add(1, std::memory_order_relaxed);
}

class AllocationFaults : public ::testing::TestWithParam<KivoPluginDesc*> {
protected:
    void SetUp() override { previousSink = setDebugOutputSink(countDebugLine); }
    void TearDown() override { setDebugOutputSink(previousSink); }

    struct Outcome {
        bool failed = false; // a request failed: the point exists
        bool threw = false;
        // The plugin went on but warned in the host's log: it was handed degraded data (the
        // host's own refresh of a string parameter lost its text).
        bool warned = false;
    };

    // Runs the subject's part of frame `armedFrame`'s setup (with prepareRender when it is the
    // first frame) with request `skip` failing; then, when a request did fail, checks that frame
    // (if it went on) and the next one against the reference.
    Outcome failPoint(int armedFrame, int skip) {
        Outcome outcome;
        Scene scene(*GetParam());
        const Evaluator eval(scene.subject());
        scene.prepareInputs();
        if (armedFrame > 1) {
            scene.prepareSubject();
        }
        for (int frame = 1; frame < armedFrame; ++frame) {
            scene.setFrame(frame);
            scene.beginFrame();
            scene.endFrame();
        }
        scene.setFrame(armedFrame);
        scene.beginInputs();
        const std::size_t logLines = scene.session.log.lines().size();
        {
            kivohost::ScopedAllocFailure failure(skip, 1);
            try {
                if (armedFrame == 1) {
                    scene.prepareSubject();
                }
                scene.beginSubject();
            } catch (const ExceptionMsg& e) {
                outcome.threw = true;
                EXPECT_EQ(std::strncmp(e.getMessage(), "Memory allocation failure; ", 27), 0)
                    << e.getMessage();
            }
            outcome.failed = failure.failures() > 0;
        }
        const std::string where = std::string(scene.typeName()) + ", frame " +
                                  std::to_string(armedFrame) + ", request " + std::to_string(skip) +
                                  " failed";
        if (!outcome.failed) {
            EXPECT_FALSE(outcome.threw) << where;
            return outcome;
        }
        outcome.warned = scene.session.log.lines().size() > logLines;
        if (!outcome.threw && !outcome.warned) {
            expectSame(scene.evaluateAll(eval), reference[armedFrame - 1], where);
        }
        scene.endFrame();
        scene.setFrame(armedFrame + 1);
        scene.beginFrame();
        expectSame(scene.evaluateAll(eval), reference[armedFrame],
                   where + (outcome.threw ? " (threw)" : "") + "; the next frame");
        return outcome;
    }

    std::vector<std::vector<Evaluation>> reference;
    DebugOutputSink previousSink = nullptr;
};

// Frame 1: prepareRender and the first frameBegin (per-thread caches, sample arrays, camera
// samplers, projection lists, and whatever the host's parameter refresh allocates on the way).
// Frame 2: a later frameBegin, with the caches of the first frame in place. Every request is
// failed in turn until a run makes fewer requests than the one to fail.
TEST_P(AllocationFaults, EveryRequestOfTheFirstAndALaterFrameSetUp) {
    reference = referenceFrames(*GetParam(), 3);
    for (int armedFrame : {1, 2}) {
        int points = 0, thrown = 0, warned = 0;
        for (int skip = 0; !HasFailure(); ++skip) {
            const std::size_t before = liveHeapBytes();
            const Outcome outcome = failPoint(armedFrame, skip);
            EXPECT_EQ(liveHeapBytes(), before)
                << GetParam()->getName() << ": bytes left allocated after request " << skip
                << " of frame " << armedFrame << " failed";
            if (!outcome.failed) {
                break;
            }
            ++points;
            thrown += outcome.threw;
            warned += outcome.warned;
        }
        std::printf("[allocation faults] %s frame %d: %d failure points, %d reached the host as "
                    "ExceptionMsg, %d went on with a warning\n",
                    GetParam()->getName(), armedFrame, points, thrown, warned);
    }
}

std::string typeName(const ::testing::TestParamInfo<KivoPluginDesc*>& info) {
    return info.param->getName();
}

INSTANTIATE_TEST_SUITE_P(AllTypes, AllocationFaults, ::testing::ValuesIn(libraryPluginTypes()),
                         typeName);

} // namespace
