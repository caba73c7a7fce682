// Many render threads at once over every plugin type, as a renderer runs them: each frame is
// set up while no evaluation is in flight, then every thread evaluates random (type, context)
// pairs with its own thread index and a fresh stamp per shading evaluation, for several frames.
// Every result must be bit for bit what one thread alone gets. The number of calls keeps the
// sanitizer builds to a few seconds.
#include "tests/support/PluginScenes.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace KUtils;
using namespace reliability;

namespace {

constexpr int kThreads = 8;
constexpr int kFrames = 3;

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr long long kCalls = 2'000'000;
#else
constexpr long long kCalls = 4'000'000;
#endif

// One plugin type under stress: its scene, and per frame what one thread gets at each context.
struct Subject {
    explicit Subject(KivoPluginDesc& type)
        : scene(type, kThreads), eval(scene.subject()),
          reference(referenceFrames(type, kFrames, kThreads)),
          calls((eval.uvwgen ? 3 : 0) + (eval.ostrel ? 1 : 0) + (eval.uvwCoords ? 1 : 0) +
                (eval.texture ? 1 : 0)) {}

    Scene scene;
    Evaluator eval;
    std::vector<std::vector<Evaluation>> reference;
    int calls; // operation calls per evaluation
};

// xorshift32: cheap, lock-free, reproducible per thread.
std::uint32_t nextRandom(std::uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

TEST(StressConcurrency, EveryTypeOnManyThreadsGivesWhatOneThreadGets) {
    std::vector<std::unique_ptr<Subject>> subjects;
    int callsPerRound = 0;
    for (KivoPluginDesc* type : libraryPluginTypes()) {
        subjects.push_back(std::make_unique<Subject>(*type));
        callsPerRound += subjects.back()->calls;
        subjects.back()->scene.prepareRender();
    }
    // Evaluations of each thread per frame: rounds of one evaluation of every type.
    const long long evaluations =
        std::max(1LL, kCalls / (static_cast<long long>(callsPerRound) * kThreads * kFrames)) *
        static_cast<long long>(subjects.size());

    std::atomic<long long> calls{0};
    std::atomic<long long> mismatches{0};
    std::mutex firstMismatchMutex;
    std::string firstMismatch;
    for (int frame = 1; frame <= kFrames; ++frame) {
        for (auto& s : subjects) {
            s->scene.setFrame(frame);
            s->scene.beginFrame();
        }
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t, frame] {
                // The thread's own contexts: their visibility rays are per context.
                std::vector<std::vector<kivohost::TracingShadingContext>> contexts;
                for (auto& s : subjects) {
                    contexts.emplace_back();
                    for (int i = 0; i < Scene::kContextCount; ++i) {
                        contexts.back().push_back(s->scene.context(i));
                        contexts.back().back().threadData.threadIndex = t;
                    }
                }
                std::uint32_t random = 0x9E3779B9u * std::uint32_t(t + 1) + std::uint32_t(frame);
                std::uint32_t stamp = 0;
                long long made = 0;
                for (long long n = 0; n < evaluations; ++n) {
                    const std::size_t k = nextRandom(random) % subjects.size();
                    const std::size_t i = nextRandom(random) % Scene::kContextCount;
                    kivohost::TracingShadingContext& sc = contexts[k][i];
                    // A new shading evaluation: never 0, never repeated within the frame.
                    sc.evalStamp = ++stamp;
                    const Subject& s = *subjects[k];
                    const Evaluation e = s.eval.evaluate(sc, nullptr);
                    const Evaluation& expected = s.reference[std::size_t(frame - 1)][i];
                    made += s.calls;
                    if (!sameEvaluation(e, expected) && mismatches.fetch_add(1) == 0) {
                        const std::lock_guard lock(firstMismatchMutex);
                        firstMismatch = std::string(s.scene.typeName()) + ", frame " +
                                        std::to_string(frame) + ", thread " + std::to_string(t) +
                                        ", context " + std::to_string(i) + "\n  got      " +
                                        describeEvaluation(e) + "\n  expected " +
                                        describeEvaluation(expected);
                    }
                }
                calls.fetch_add(made);
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        for (auto& s : subjects) {
            s->scene.endFrame();
        }
    }
    std::printf("[stress] %lld evaluation calls on %d threads over %d frames, %zu plugin types\n",
                calls.load(), kThreads, kFrames, subjects.size());
    EXPECT_EQ(mismatches.load(), 0) << firstMismatch;
}

} // namespace
