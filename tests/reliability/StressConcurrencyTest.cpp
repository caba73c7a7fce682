// Many render threads at once over every plugin type, as a renderer runs them: each frame is
// set up while no evaluation is in flight, then every thread evaluates random (type, context)
// pairs with its own thread index and a fresh stamp per shading evaluation, for several frames.
// Every result must be bit for bit what one thread alone gets. The number of calls scales with
// UVWGENS_STRESS_CALLS (total evaluation-operation calls); the default keeps the sanitizer
// builds to a few seconds.
#include "PluginScenes.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

#if defined(__SANITIZE_THREAD__)
constexpr long long kDefaultCalls = 2'000'000;
#elif defined(__SANITIZE_ADDRESS__)
constexpr long long kDefaultCalls = 2'000'000;
#else
constexpr long long kDefaultCalls = 4'000'000;
#endif

long long callBudget() {
    const char* text = std::getenv("UVWGENS_STRESS_CALLS");
    const long long requested = text ? std::atoll(text) : 0;
    return requested > 0 ? requested : kDefaultCalls;
}

// One plugin type under stress: its scene, and per frame what one thread gets at each context.
struct Subject {
    explicit Subject(KivoPluginDesc& type)
        : scene(std::make_unique<Scene>(type, kThreads)), eval(scene->subject()) {}

    int callsPerEvaluation() const {
        return (eval.uvwgen ? 3 : 0) + (eval.ostrel ? 1 : 0) + (eval.uvwCoords ? 1 : 0) +
               (eval.texture ? 1 : 0);
    }

    std::unique_ptr<Scene> scene;
    Evaluator eval;
    std::vector<std::vector<Evaluation>> reference;
};

// What one thread gets, frame by frame, in a scene of its own.
std::vector<std::vector<Evaluation>> oneThread(KivoPluginDesc& type) {
    std::vector<std::vector<Evaluation>> frames;
    Scene scene(type, kThreads);
    const Evaluator eval(scene.subject());
    scene.prepareRender();
    for (int frame = 1; frame <= kFrames; ++frame) {
        scene.setFrame(frame);
        scene.beginFrame();
        std::vector<Evaluation> results;
        for (int i = 0; i < Scene::kContextCount; ++i) {
            results.push_back(eval.evaluate(scene.context(i), nullptr));
        }
        frames.push_back(std::move(results));
        scene.endFrame();
    }
    scene.finishRender();
    return frames;
}

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
        subjects.back()->reference = oneThread(*type);
        callsPerRound += subjects.back()->callsPerEvaluation();
    }
    // Rounds of one evaluation of every type, per thread and frame.
    const long long rounds =
        std::max(1LL, callBudget() / (static_cast<long long>(callsPerRound) * kThreads * kFrames));

    std::atomic<long long> calls{0};
    std::atomic<long long> mismatches{0};
    std::mutex firstMismatchMutex;
    std::string firstMismatch;

    for (auto& s : subjects) {
        s->scene->prepareRender();
    }
    for (int frame = 1; frame <= kFrames; ++frame) {
        for (auto& s : subjects) {
            s->scene->setFrame(frame);
            s->scene->beginFrame();
        }
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t, frame] {
                // The thread's own contexts: their visibility rays are per context.
                std::vector<std::vector<kivohost::TracingShadingContext>> contexts;
                for (auto& s : subjects) {
                    std::vector<kivohost::TracingShadingContext> own;
                    for (int i = 0; i < Scene::kContextCount; ++i) {
                        own.push_back(s->scene->context(i));
                        own.back().threadData.threadIndex = t;
                    }
                    contexts.push_back(std::move(own));
                }
                std::uint32_t random = 0x9E3779B9u * std::uint32_t(t + 1) + std::uint32_t(frame);
                std::uint32_t stamp = 0;
                long long made = 0;
                const long long evaluations = rounds * static_cast<long long>(subjects.size());
                for (long long n = 0; n < evaluations; ++n) {
                    const std::size_t k = nextRandom(random) % subjects.size();
                    const int i = int(nextRandom(random) % Scene::kContextCount);
                    kivohost::TracingShadingContext& sc = contexts[k][std::size_t(i)];
                    // A new shading evaluation: never 0, never repeated within the frame.
                    sc.evalStamp = ++stamp;
                    const Subject& s = *subjects[k];
                    const Evaluation e = s.eval.evaluate(sc, nullptr);
                    made += s.callsPerEvaluation();
                    if (!sameEvaluation(e, s.reference[std::size_t(frame - 1)][std::size_t(i)])) {
                        if (mismatches.fetch_add(1) == 0) {
                            const std::lock_guard lock(firstMismatchMutex);
                            firstMismatch =
                                std::string(s.scene->typeName()) + ", frame " +
                                std::to_string(frame) + ", thread " + std::to_string(t) +
                                ", context " + std::to_string(i) + "\n  got      " +
                                describeEvaluation(e) + "\n  expected " +
                                describeEvaluation(
                                    s.reference[std::size_t(frame - 1)][std::size_t(i)]);
                        }
                    }
                }
                calls.fetch_add(made);
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        for (auto& s : subjects) {
            s->scene->endFrame();
        }
    }
    for (auto& s : subjects) {
        s->scene->finishRender();
    }

    std::printf("[stress] %lld evaluation calls on %d threads over %d frames, %zu plugin types\n",
                calls.load(), kThreads, kFrames, subjects.size());
    EXPECT_EQ(mismatches.load(), 0) << firstMismatch;
}

} // namespace
