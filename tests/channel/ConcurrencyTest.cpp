// Many render threads evaluating one instance at once, each with its own threadIndex and
// stamps, get exactly the results of a single-threaded run.
#include "ChannelTestSupport.h"
#include "scene/ShadeStandIns.h"

#include <cstring>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

using namespace channeltest;

constexpr int kThreads = 8;
constexpr int kPoints = 1500;

// Context k of the run: thread k / kPoints, point k % kPoints of that thread.
ShadingContext contextFor(kivohost::RenderSession& session, const kivohost::MeshShadeData& mesh,
                          int k) {
    const int thread = k / kPoints, i = k % kPoints;
    ShadingContext sc = contextAt(session, {0, 0, 0, 0}, std::uint32_t(i + 1));
    sc.threadData.threadIndex = thread;
    sc.shadeData = &mesh;
    sc.backSide = (i + thread) % 2;
    sc.time = float((i * 7 + thread) % 13) / 12.0f;
    sc.surfacePoint = {0.01f * float(i), -0.03f * float(thread), 0.5f, 0.0f};
    sc.shadingPoint = sc.surfacePoint + Vector4f{0.25f, 0.125f * float(i % 5), 0.0f, 0.0f};
    sc.dPdx = {1.0f, 0.5f * float(thread), 0.0f, 0.0f};
    sc.dPdy = {0.0f, 1.0f, 0.25f, 0.0f};
    return sc;
}

// Derivatives first, then the uvw and the output texture: both served by the thread's entry.
struct Result {
    Vector4f v[5];
    UVWTransform tm;
    int valid[3];

    bool operator==(const Result& other) const {
        return std::memcmp(this, &other, sizeof *this) == 0;
    }
};

Result evaluate(const Instance& gen, const ShadingContext& sc) {
    Result r;
    r.valid[0] = gen.uvw().evalUVWDerivs(sc, r.v);
    r.valid[1] = gen.uvw().evalUVW(sc, r.v[3]);
    r.valid[2] = gen.uvw().evalUVWTransform(sc, r.tm);
    gen.uvwCoords().getTexVector(r.v[4], sc);
    return r;
}

TEST(ChannelConcurrency, ThreadsMatchASingleThreadedRun) {
    kivohost::RenderSession session;
    session.sequence.numThreads = kThreads;
    session.sequence.motionBlur = 1;
    kivohost::MeshShadeData mesh;
    mesh.provider = false;
    mesh.channels[1].uvw = {0.25f, 0.5f, 0.0f, 0.0f};
    mesh.channels[1].basis[0] = {2.0f, 0.5f, 0.0f, 0.0f};
    mesh.channels[2].uvw = {0.75f, 0.125f, 0.0f, 0.0f};

    Instance gen(channelDesc());
    gen.set("use_double_sided_mode", true);
    ASSERT_TRUE(setParamKeys(gen.params(), "uvw_transform",
                             {{0.0, translation(0, 0, 0)}, {1.0, translation(1.5, -0.75, 0)}}));
    gen.set("nsamples", 3);
    gen.set("wrap_u", 2);
    gen.set("crop_v", 1);
    gen.set("coverage", Vector4f{1.0f, 1.0f, 0.5f, 0.0f});
    gen.set("duvw_scale", 0.5f);
    gen.start(session);

    // The reference run is uncached; the mesh channel path allocates nothing either.
    std::vector<Result> expected(kThreads * kPoints), got(expected.size());
    const std::size_t allocations = kivohost::allocationCount();
    for (int k = 0; k < kThreads * kPoints; ++k) {
        ShadingContext sc = contextFor(session, mesh, k);
        sc.flags = SC_FLAG_BYPASS_UVW_CACHE;
        expected[std::size_t(k)] = evaluate(gen, sc);
    }
    EXPECT_EQ(kivohost::allocationCount(), allocations);

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int k = t * kPoints; k < (t + 1) * kPoints; ++k) {
                got[std::size_t(k)] = evaluate(gen, contextFor(session, mesh, k));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    int mismatches = 0, valid = 0;
    for (std::size_t k = 0; k < expected.size(); ++k) {
        mismatches += expected[k] == got[k] ? 0 : 1;
        valid += expected[k].valid[0];
    }
    EXPECT_EQ(mismatches, 0);
    // The run covers both valid and cropped points.
    EXPECT_GT(valid, 0);
    EXPECT_LT(valid, kThreads * kPoints);
    gen.stop(session);
}

} // namespace
