// The placement math and the UVWGenOstrel generator: placement, random draws, tiling, the five
// coordinate sources with their derivatives, and the GPU text (the generator's cases are rows
// in UVWGenOstrel.jsonl).
#include "kivo/VectorMath.h"
#include "ostrel/OstrelMath.h"
#include "ostrel/UVWGenOstrel.h"
#include "scene/ShadeStandIns.h"
#include "tests/rows/PluginRows.h"
#include "tests/support/Plugin.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

// The first draws of the C runtime sequence after seeding with 804952 = noiseHash(1), worked
// out with 64-bit integers: state = 804952 * 214013 + 2531011 = 172272723387, modulo 2^32
// 474031547 = 0x1C4125BB, and 0x1C41 & 0x7FFF = 7233; and so on.
constexpr int DRAWS_SEED_1[] = {7233, 27289, 10969, 27563, 23089, 6814,
                                6282, 30622, 19594, 16698, 27395, 28560};

// A draw as a signed unit value in [-1, 1].
float unit(int r) {
    return float(r) / 32767.0f * 2.0f - 1.0f;
}

// Right-handed rotation of v about coordinate axis k by a radians (the textbook definition:
// the two other coordinates, in cyclic order, turn like the plane's x and y).
void rotate(int k, double a, double v[3]) {
    const int i = (k + 1) % 3, j = (k + 2) % 3;
    const double vi = v[i], vj = v[j];
    v[i] = std::cos(a) * vi - std::sin(a) * vj;
    v[j] = std::sin(a) * vi + std::cos(a) * vj;
}

// One instance on shade data with channel 0 and a shaded instance, at thread 0: what the
// rows beside this test cannot say.
class Ostrel : public ::testing::Test {
protected:
    Ostrel() {
        sc = contextAt(session, {});
        sc.shadeData = &shade;
        sc.shadeInstance = &instance;
    }

    void set(const char* name, const ParamValue& value) { h.set(name, value); }
    void begin() { h.lifecycle().frameBegin(&session.renderer); }
    UVWGenInterface& gen() { return h.uvw(); }

    kivohost::RenderSession session;
    kivohost::MeshShadeData shade;
    kivohost::ShadedInstance instance;
    Instance h{descriptor<UVWGenOstrelDesc>()};
    ShadingContext sc;
};

} // namespace

TEST(OstrelMath, BuildPlacementRotatesZThenYThenXAfterSizeAndOffset) {
    std::mt19937 gen(20111003);
    std::uniform_real_distribution<float> angle(-7.0f, 7.0f), coord(-10.0f, 10.0f),
        size(0.2f, 5.0f);
    for (int i = 0; i < 200; ++i) {
        const Vector4f o{coord(gen), coord(gen), coord(gen), 0.0f};
        const Vector4f th{angle(gen), angle(gen), angle(gen), 0.0f};
        Vector4f d{size(gen), size(gen), size(gen), 0.0f};
        if (i % 2) {
            d.y = -d.y; // mirrored axis
        }
        const Vector4f p{coord(gen), coord(gen), coord(gen), 0.0f};

        double v[3] = {double(p.x) / d.x + o.x, double(p.y) / d.y + o.y, double(p.z) / d.z + o.z};
        const double tol = 2e-5 * (std::fabs(v[0]) + std::fabs(v[1]) + std::fabs(v[2]) + 1.0);
        rotate(2, th.z, v);
        rotate(1, th.y, v);
        rotate(0, th.x, v);
        const Vector4f got = applyPoint(buildPlacement(o, th, d), p);
        EXPECT_NEAR(got.x, v[0], tol) << i;
        EXPECT_NEAR(got.y, v[1], tol) << i;
        EXPECT_NEAR(got.z, v[2], tol) << i;
    }
}

TEST(OstrelMath, NoiseHashAndRandSequenceReproduceTheRuntime) {
    EXPECT_EQ(noiseHash(0), 0u);
    EXPECT_EQ(noiseHash(1), 804952u);
    EXPECT_EQ(noiseHash(6), 8133222u); // 6 * (15731*36 + 789221)
    // 65536^2 wraps to 0: 65536 * (0 + 789221) mod 2^32 = (789221 mod 65536) * 65536.
    EXPECT_EQ(noiseHash(65536), (789221u % 65536u) * 65536u);

    // The runtime's well-known first values after srand(1), then seeds 804952 and 0.
    const std::pair<std::uint32_t, std::vector<int>> rows[] = {
        {1, {41, 18467, 6334}},
        {804952, {std::begin(DRAWS_SEED_1), std::end(DRAWS_SEED_1)}},
        {0, {38, 7719}},
    };
    for (const auto& [seed, draws] : rows) {
        RandSequence rng(seed);
        for (int expected : draws) {
            EXPECT_EQ(rng.next(), expected) << seed;
        }
    }
    EXPECT_EQ(signedUnit(0), -1.0f);
    EXPECT_EQ(signedUnit(32767), 1.0f);
    EXPECT_NEAR(signedUnit(7233), -0.558519, 1e-6);
}

TEST(OstrelMath, DrawPlacementUsesNineDrawsOrSevenWithXyzLock) {
    const Placement base{{10.0f, 20.0f, 30.0f, 0.0f}, {0.1f, 0.2f, 0.3f, 0.0f}, {1, 2, 3, 0}};
    const Placement amp{{1, 2, 3, 0}, {0.5f, 0.25f, 0.125f, 0.0f}, {0.5f, 0.75f, 0.25f, 0.0f}};
    const int* r = DRAWS_SEED_1;

    // Offsets, angles and sizes in that order, x to z: base + draw * amplitude.
    RandSequence free(804952);
    const Placement p = drawPlacement(base, amp, false, free);
    EXPECT_EQ(free.next(), r[9]);
    const auto lane = [](const Placement& q, int k) {
        const Vector4f& v = k < 3 ? q.offset : k < 6 ? q.angles : q.sizes;
        return k % 3 == 0 ? v.x : k % 3 == 1 ? v.y : v.z;
    };
    for (int k = 0; k < 9; ++k) {
        EXPECT_EQ(lane(p, k), lane(base, k) + unit(r[k]) * lane(amp, k)) << k;
    }
    EXPECT_NEAR(p.offset.x, 9.441481, 1e-5);

    RandSequence locked(804952);
    const Placement q = drawPlacement(base, amp, true, locked);
    EXPECT_EQ(locked.next(), r[7]);
    const float d = unit(r[6]) * 0.5f; // one draw scaled by the x amplitude for all axes
    EXPECT_EQ(q.sizes.x, 1.0f + d);
    EXPECT_EQ(q.sizes.y, 2.0f + d);
    EXPECT_EQ(q.sizes.z, 3.0f + d);
    EXPECT_EQ(q.angles.z, p.angles.z);
}

// Fixed sizes keep their sign and a minimum magnitude (the plugin shows 0, a tiny negative and
// a negative size); random sizes are bounded without mirroring.
TEST(OstrelMath, SizesAreBounded) {
    EXPECT_EQ(boundFixedSize(-0.0f), 0.0001f);
    EXPECT_EQ(boundFixedSize(0.00005f), 0.0001f);
    EXPECT_EQ(boundFixedSize(3.5f), 3.5f);

    Placement base; // sizes 0
    Placement amp;
    amp.sizes = {5.0f, 5.0f, 5.0f, 0.0f};
    // noiseHash(1) seeds 804952: the size draws 6282, 30622, 19594 give -3.08, 4.35, 0.98.
    const UVWTransform t = randomPlacement(base, amp, false, 1);
    EXPECT_EQ(t.c0.x, 1.0f / 0.0001f);
    EXPECT_FLOAT_EQ(t.c1.y, 1.0f / (unit(30622) * 5.0f));
    EXPECT_FLOAT_EQ(t.c2.z, 1.0f / (unit(19594) * 5.0f));
    EXPECT_EQ(t.o.x, 0.0f);

    // Seed 0 hashes to 0: a valid, fixed sequence too.
    const UVWTransform z = randomPlacement(base, amp, true, 0);
    EXPECT_FLOAT_EQ(z.c0.x, 1.0f / std::max(0.0001f, unit(RandSequence(0).next()) * 5.0f));
    EXPECT_TRUE(std::isfinite(z.c0.x) && std::isfinite(z.c1.y) && std::isfinite(z.c2.z));
}

TEST(OstrelMath, TilingModes) {
    for (const std::vector<float>& row : rows::readTable(ROWS_DIR, "tiling")) {
        SCOPED_TRACE(testing::PrintToString(row));
        float x = row[1];
        EXPECT_EQ(tileCoordinate(x, int(row[0])), row[3] != 0.0f);
        EXPECT_TRUE(x == row[2] || (std::isnan(x) && std::isnan(row[2]))) << x;
    }
    // A rejection on one axis tiles none, not even the axes before it.
    const int modes[3] = {TILE_REPEAT, TILE_CROP, TILE_CLAMP};
    Vector4f rejected{1.25f, 1.5f, 2.0f, 0.0f};
    EXPECT_FALSE(tileCoordinates(rejected, modes));
    EXPECT_EQ(rejected.x, 1.25f);
}

// The plugin shows a footprint with one negative step; with both negative the box still
// reaches back to 0.
TEST(OstrelMath, FootprintExtentIncludesTheOrigin) {
    const Vector4f e = footprintExtent({-1.0f, -1.0f, 0.5f, 9.0f}, {-2.0f, -0.5f, 0.25f, 9.0f});
    EXPECT_EQ(e.x, 2.0f);
    EXPECT_EQ(e.y, 1.0f);
    EXPECT_EQ(e.z, 0.5f);
    EXPECT_EQ(e.w, 0.0f);
}

TEST(OstrelRows, EvaluationsAndGpuText) {
    rows::runRows(ROWS_DIR, "UVWGenOstrel", {&descriptor<UVWGenOstrelDesc>()});
}

TEST_F(Ostrel, RandomizedSwitchesOnAboveTheThresholdOnly) {
    const struct {
        const char* name;
        float value;
        bool randomized;
    } cases[] = {
        // Angles are compared in radians: 0.005 degrees is below 0.0001, 0.006 above.
        {"offset_y2", 0.0001f, false}, {"offset_x2", 0.00011f, true}, {"size_z2", 0.5f, true},
        {"angle_x2", 0.005f, false},   {"angle_x2", 0.006f, true},    {"angle_z2", 0.006f, true},
    };
    for (const auto& c : cases) {
        set(c.name, c.value);
        begin();
        EXPECT_EQ(static_cast<UVWGenOstrel*>(h.get())->isRandomized(), c.randomized)
            << c.name << " " << c.value;
        set(c.name, 0.0f);
    }
}

// What an evaluation leaves alone or writes beyond the three lanes a row shows.
TEST_F(Ostrel, UnwrittenAndFourthLanes) {
    // A crop rejection leaves the basis unwritten.
    set("tile_x", 4);
    shade.channels[0].uvw = {1.2f, -0.2f, 0.5f, 0.0f};
    begin();
    Vector4f basis[3] = {{7, 7, 7, 7}, {7, 7, 7, 7}, {7, 7, 7, 7}};
    Vector4f coords;
    auto& ostrel = *h.as<UVWGenOstrelInterface>(EXT_UVWGEN_OSTREL);
    EXPECT_EQ(ostrel.evalUVWBasis(sc, coords, basis), 0);
    EXPECT_EQ(basis[0].x, 7.0f);

    // An unknown source writes zeros everywhere, the transform's fourth lanes included.
    set("map", 7);
    begin();
    UVWTransform tm{{5, 5, 5, 5}, {5, 5, 5, 5}, {5, 5, 5, 5}, {5, 5, 5, 5}};
    EXPECT_EQ(gen().evalUVWTransform(sc, tm), 1);
    for (const Vector4f& v : {tm.c0, tm.c1, tm.c2, tm.o}) {
        expectXYZW(v, 0, 0, 0, 0);
    }

    // A frame without an image to place on: the placement's offset and no steps.
    set("map", 4);
    session.frame.imageWidth = 0;
    begin();
    sc.imageX = 160.0f;
    expectXYZ(h.uvwAt(sc), 0.0f, 0.0f, 0.0f);
    Vector4f d[3];
    EXPECT_EQ(gen().evalUVWDerivs(sc, d), 1);
    expectXYZ(d[1], 0.0f, 0.0f, 0.0f);
}

// The GPU warning names an unnamed instance "(null)" and needs a way to the log; an instance
// without a parameter list describes nothing.
TEST_F(Ostrel, GpuTextWithoutNameLogOrParameters) {
    const std::string line = "uvw_transform 1.000000,0.000000,0.000000,0.000000,1.000000,"
                             "0.000000,0.000000,0.000000,1.000000,0.000000,0.000000,0.000000\n";
    set("map", 0);
    begin();
    for (KivoRenderer* renderer : {&session.renderer, static_cast<KivoRenderer*>(nullptr)}) {
        GPUDataRecord gpu;
        gpu.renderer = renderer;
        EXPECT_EQ(testsupport::gpuText(h.rt(), "", gpu), line);
        session.sequence.messageLog = nullptr;
    }
    EXPECT_EQ(session.log.lines(),
              std::vector<std::string>{
                  "Using unsupported \"UVW Mapping Type\" for Ostrel noise (in (null)) "});
    GPUDataRecord gpu;
    gpu.renderer = &session.renderer;
    EXPECT_EQ(testsupport::gpuText(h.rt(), "", gpu), line);
    EXPECT_EQ(session.log.lines().size(), 1u);

    UVWGenOstrel bare(nullptr);
    ShaderSource source;
    EXPECT_EQ(bare.emitRTSource("", "", "MaterialDescriptor", source, gpu), 0);
    EXPECT_EQ(source.size(), 0u);
}
