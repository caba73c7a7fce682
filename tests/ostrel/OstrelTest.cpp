// The placement math and the UVWGenOstrel generator: placement, random draws, tiling, the five
// coordinate sources with their derivatives, and the GPU text.
#include "kivo/VectorMath.h"
#include "ostrel/OstrelMath.h"
#include "ostrel/UVWGenOstrel.h"
#include "scene/ShadeStandIns.h"
#include "tests/support/Plugin.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
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

// One instance on shade data with channel 0 and a shaded instance, at thread 0.
class Ostrel : public ::testing::Test {
protected:
    Ostrel() {
        sc = contextAt(session, {});
        sc.shadeData = &shade;
        sc.shadeInstance = &instance;
    }

    void set(const char* name, const ParamValue& value) { h.set(name, value); }
    void begin() { h.lifecycle().frameBegin(&session.renderer); }
    UVWGenOstrel& ostrel() { return *static_cast<UVWGenOstrel*>(h.get()); }
    UVWGenInterface& gen() { return h.uvw(); }
    UVWGenOstrelInterface& basisOf() { return *h.as<UVWGenOstrelInterface>(EXT_UVWGEN_OSTREL); }
    Vector4f uvw(int* valid = nullptr) { return h.uvwAt(sc, valid); }

    std::string gpuText(int map, GPUDataRecord& gpu) {
        set("map", map);
        begin();
        return testsupport::gpuText(h.rt(), "", gpu);
    }

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
    const struct {
        int mode;
        float in, out;
    } rows[] = {
        {TILE_NONE, -3.5f, -3.5f},    {TILE_CLAMP, -0.5f, 0.0f},   {TILE_CLAMP, 1.7f, 1.0f},
        {TILE_REPEAT, -0.25f, 0.75f}, {TILE_REPEAT, -3.0f, 0.0f},  {TILE_REPEAT, 2.5f, 0.5f},
        {TILE_REPEAT, 1e20f, 0.0f},   {TILE_REPEAT, -1e20f, 0.0f}, {TILE_MIRROR, 1.25f, 0.75f},
        {TILE_MIRROR, -1.25f, 0.75f}, {TILE_MIRROR, 3e9f, 0.0f},   {TILE_MIRROR, 1e30f, 0.0f},
        {TILE_CROP, 0.0f, 0.0f},      {TILE_CROP, 1.0f, 1.0f},     {7, 12.5f, 12.5f},
        {-1, -12.5f, -12.5f},
    };
    for (const auto& row : rows) {
        float x = row.in;
        EXPECT_TRUE(tileCoordinate(x, row.mode)) << row.mode << " " << row.in;
        EXPECT_EQ(x, row.out) << row.mode << " " << row.in;
    }
    for (float rejected : {-0.01f, 1.01f}) {
        float x = rejected;
        EXPECT_FALSE(tileCoordinate(x, TILE_CROP));
        EXPECT_EQ(x, rejected);
    }
    for (int mode : {TILE_REPEAT, TILE_MIRROR}) {
        float x = std::numeric_limits<float>::quiet_NaN(); // no undefined conversion
        EXPECT_TRUE(tileCoordinate(x, mode));
        EXPECT_TRUE(std::isnan(x));
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

TEST_F(Ostrel, SizesNearZeroStayFiniteAndNegativeSizesMirror) {
    set("size_x", 0.0f);
    set("size_y", -0.00002f);
    set("size_z", -2.0f);
    begin();
    expectXYZ(ostrel().getUnitAxes()[1], 0, -1, 0);
    expectXYZ(ostrel().getUnitAxes()[2], 0, 0, -1);

    GPUDataRecord gpu;
    sc.shadingPoint = {0.001f, 0.001f, 1.0f, 0.0f};
    // Mirrored columns carry negative zeros: the whole column is multiplied by 1 / size.
    EXPECT_EQ(gpuText(3, gpu), "map_channel -5\nuvw_transform 10000.000000,0.000000,0.000000,"
                               "-0.000000,-10000.000000,-0.000000,-0.000000,-0.000000,-0.500000,"
                               "0.000000,0.000000,0.000000\n");
    expectXYZ(uvw(), 10.0f, -10.0f, -0.5f, 1e-4f);
}

TEST_F(Ostrel, RandomizedSwitchesOnAboveTheThresholdOnly) {
    const struct {
        const char* name;
        float value;
        bool randomized;
    } rows[] = {
        // Angles are compared in radians: 0.005 degrees is below 0.0001, 0.006 above.
        {"offset_y2", 0.0001f, false}, {"offset_x2", 0.00011f, true}, {"size_z2", 0.5f, true},
        {"angle_x2", 0.005f, false},   {"angle_x2", 0.006f, true},    {"angle_z2", 0.006f, true},
    };
    for (const auto& row : rows) {
        set(row.name, row.value);
        begin();
        EXPECT_EQ(ostrel().isRandomized(), row.randomized) << row.name << " " << row.value;
        set(row.name, 0.0f);
    }
}

// Every source against every tiling mode of u. The source u is 1.25 everywhere: channel UVW,
// world and object position, and the screen (x = 800 of 640 pixels). Only the centred channel
// source tiles in evalUVW; both channel sources tile in the derivative operations.
TEST_F(Ostrel, SourcesAgainstTilingModes) {
    shade.channels[0].uvw = {1.25f, 0.5f, 0.5f, 0.0f};
    sc.shadingPoint = {1.25f, 0.5f, 0.5f, 0.0f};
    sc.imageX = 800.0f;
    sc.imageY = 240.0f;
    instance.objectSpace = UVWTransform{}; // identity object space

    const float tiled[] = {1.25f, 1.0f, 0.25f, 0.75f, 1.25f, 1.25f};
    const int modes[] = {0, 1, 2, 3, 4, 9};
    for (int map : {0, 1, 2, 3, 4}) {
        for (int m = 0; m < 6; ++m) {
            SCOPED_TRACE(testing::Message() << "map " << map << " tile " << modes[m]);
            set("map", map);
            set("tile_x", modes[m]);
            set("tile_y", 4); // 0.5 passes the crop everywhere
            begin();
            const bool channel = map <= 1;
            const bool crop = modes[m] == TILE_CROP;
            const float expectU = channel ? tiled[m] : 1.25f;

            int valid = -1;
            const Vector4f a = uvw(&valid);
            EXPECT_EQ(valid, (map == 0 && crop) ? 0 : 1);
            EXPECT_FLOAT_EQ(a.x, map == 0 ? expectU : 1.25f);
            EXPECT_FLOAT_EQ(a.y, 0.5f);

            Vector4f d[3];
            EXPECT_EQ(gen().evalUVWDerivs(sc, d), (channel && crop) ? 0 : 1);
            EXPECT_FLOAT_EQ(d[0].x, expectU);
        }
    }
}

// One fresh instance per row, begun twice (the angles are converted from degrees once per
// frame), where the channel UVW and the shading point are both `at` and the image position is
// pixel (160, 360) of 640 x 480, that is (0.25, 0.25, 0).
TEST_F(Ostrel, PlacementPerSource) {
    enum Context { Plain, ObjectSpace, NoInstance, NoProvider };
    const float d = unit(DRAWS_SEED_1[6]) * 0.5f; // xyz_lock: the seventh draw for every axis
    const Vector4f p{1, 2, 3, 0}, c{1.5f, 0, 0.5f, 0};
    const struct {
        const char* what;
        std::vector<std::pair<const char*, ParamValue>> params;
        Vector4f at, uvw;
        Context context = Plain;
    } rows[] = {
        // clang-format off
        {"the offset before a quarter turn about z", {{"map", 3}, {"angle_z", 90.0f},
         {"offset_x", 1.0f}, {"size_y", 3.0f}}, {1, 0, 0, 0}, {0, 2, 0, 0}},
        {"xyz_lock", {{"map", 3}, {"size_x2", 0.5f}, {"xyz_lock", 1}, {"size_z", 2.0f}},
         {1, 1, 1, 0}, {1 / (1 + d), 1 / (1 + d), 1 / (2 + d), 0}},
        {"world", {{"map", 3}, {"size_x", 2.0f}}, p, {0.5f, 2, 3, 0}},
        {"object without object space", {{"map", 2}, {"size_x", 2.0f}}, p, {0.5f, 2, 3, 0}},
        {"object without instance", {{"map", 2}, {"size_x", 2.0f}}, p, {0.5f, 2, 3, 0}, NoInstance},
        // Object space twice the world, moved by (10, 0, 0).
        {"object", {{"map", 2}, {"size_x", 2.0f}}, p, {6, 4, 6, 0}, ObjectSpace},
        {"screen", {{"map", 4}, {"filtering", 2.0f}}, p, {0.25f, 0.25f, 0, 0}},
        // The centred channel source places about (0.5, 0.5, 0): size 2 halves the distance.
        {"centred channel", {{"map", 0}, {"tile_x", 0}, {"size_x", 2.0f}, {"size_y", 2.0f}}, c,
         {1, 0.25f, 0.5f, 0}},
        {"channel", {{"map", 1}, {"size_x", 2.0f}, {"size_y", 2.0f}}, c, {0.75f, 0, 0.5f, 0}},
        // Without a channel provider the channel UVW is 0.
        {"channel without provider", {{"map", 1}}, c, {0, 0, 0, 0}, NoProvider},
        {"centred channel without provider", {{"map", 0}, {"size_x", 2.0f}, {"size_y", 2.0f}},
         c, {0.25f, 0.25f, 0, 0}, NoProvider},
        {"unknown source", {{"map", 7}, {"filtering", 2.0f}}, p, {0, 0, 0, 0}},
        // clang-format on
    };
    sc.imageX = 160.0f;
    sc.imageY = 360.0f;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        Instance g{descriptor<UVWGenOstrelDesc>()};
        for (const auto& [name, value] : r.params) {
            g.set(name, value);
        }
        g.prepare(session);
        shade.channels[0].uvw = sc.shadingPoint = r.at;
        shade.provider = r.context != NoProvider;
        sc.shadeInstance = r.context == NoInstance ? nullptr : &instance;
        if (r.context == ObjectSpace) {
            instance.objectSpace =
                UVWTransform{{2, 0, 0, 0}, {0, 2, 0, 0}, {0, 0, 2, 0}, {10, 0, 0, 0}};
        } else {
            instance.objectSpace.reset();
        }
        for (int frame = 0; frame < 2; ++frame) {
            g.begin(session);
            int valid = -1;
            expectXYZ(g.uvwAt(sc, &valid), r.uvw.x, r.uvw.y, r.uvw.z);
            EXPECT_EQ(valid, 1);
        }
    }
    // An unknown source writes zeros everywhere, the transform's fourth lanes included.
    set("map", 7);
    begin();
    UVWTransform tm{{5, 5, 5, 5}, {5, 5, 5, 5}, {5, 5, 5, 5}, {5, 5, 5, 5}};
    EXPECT_EQ(gen().evalUVWTransform(sc, tm), 1);
    for (const Vector4f& v : {tm.c0, tm.c1, tm.c2, tm.o}) {
        expectXYZW(v, 0, 0, 0, 0);
    }
}

TEST_F(Ostrel, ChannelCropAndDerivativesThroughThePlacement) {
    // A crop rejection leaves every coordinate untiled and the basis unwritten.
    set("tile_x", 4);
    shade.channels[0].uvw = {1.2f, -0.2f, 0.5f, 0.0f};
    begin();
    Vector4f basis[3] = {{7, 7, 7, 7}, {7, 7, 7, 7}, {7, 7, 7, 7}};
    Vector4f coords;
    EXPECT_EQ(basisOf().evalUVWBasis(sc, coords, basis), 0);
    EXPECT_EQ(basis[0].x, 7.0f);
    expectXYZ(coords, 1.2f, -0.2f, 0.5f);
    set("map", 1);
    begin();
    UVWTransform tm;
    EXPECT_EQ(gen().evalUVWTransform(sc, tm), 0);
    expectXYZ(tm.o, 1.2f, -0.2f, 0.5f);

    // Basis diag(2, 4, 1): the channel's UVW changes by (0.5, 0.25, 1) per unit world x, y, z.
    kivohost::MapChannel& ch = shade.channels[0];
    ch.uvw = {0.25f, 0.5f, 0.0f, 0.0f};
    ch.basis[0] = {2, 0, 0, 0};
    ch.basis[1] = {0, 4, 0, 0};
    sc.dPdx = {1.0f, 0.5f, 0.0f, 0.0f};  // UVW step (0.5, 0.125, 0)
    sc.dPdy = {-0.5f, 2.0f, 0.0f, 0.0f}; // UVW step (-0.25, 0.5, 0)
    // Footprint box extent: (0.5 + 0.25, 0.5 - 0, 0) = (0.75, 0.5, 0).
    set("tile_x", 0);
    set("tile_y", 0);
    Vector4f d[3];
    for (int map : {0, 1}) {
        SCOPED_TRACE(map);
        set("map", map);
        set("angle_z", 0.0f);
        set("filtering", 1.0f);
        begin();
        ASSERT_EQ(gen().evalUVWDerivs(sc, d), 1);
        expectXYZ(d[0], 0.25f, 0.5f, 0.0f);
        expectXYZ(d[1], 0.75f, 0.0f, 0.0f);
        expectXYZ(d[2], 0.0f, 0.5f, 0.0f);

        // Rotated a quarter turn: columns (0,1,0) and (-1,0,0); t = (-0.5, 0.75, 0). The
        // transform's third column is the cross product of the other two.
        set("angle_z", 90.0f);
        set("filtering", 2.0f);
        begin();
        ASSERT_EQ(gen().evalUVWTransform(sc, tm), 1);
        expectXYZ(tm.c0, -1.0f, 0.0f, 0.0f);
        expectXYZ(tm.c1, 0.0f, 1.5f, 0.0f);
        expectXYZ(tm.c2, 0.0f, 0.0f, -1.5f);
    }

    // The crop rejection returns the derivatives without the filtering.
    set("angle_z", 0.0f);
    set("tile_x", 4);
    set("filtering", 3.0f);
    ch.uvw.x = -0.5f;
    begin();
    EXPECT_EQ(gen().evalUVWDerivs(sc, d), 0);
    expectXYZ(d[0], -0.5f, 0.5f, 0.0f);
    expectXYZ(d[1], 0.75f, 0.0f, 0.0f);

    // Without a channel provider the world differentials are taken as UVW differentials.
    shade.provider = false;
    set("tile_x", 0);
    set("filtering", 1.0f);
    begin();
    EXPECT_EQ(gen().evalUVWDerivs(sc, d), 1);
    expectXYZ(d[1], 1.5f, 0.0f, 0.0f);
    expectXYZ(d[2], 0.0f, 2.0f, 0.0f);
}

TEST_F(Ostrel, BasisDegreesAndScreenSteps) {
    // The basis is the unit placement axes.
    set("map", 3);
    set("angle_z", 90.0f);
    set("size_y", 3.0f);
    begin();
    EXPECT_FALSE(ostrel().isRandomized());
    Vector4f coords, basis[3];
    ASSERT_EQ(basisOf().evalUVWBasis(sc, coords, basis), 1);
    expectXYZ(basis[0], 0.0f, 1.0f, 0.0f);
    expectXYZ(basis[1], -1.0f, 0.0f, 0.0f);
    expectXYZ(basis[2], 0.0f, 0.0f, 1.0f);

    // Degrees to radians by 0.0174532925 in double: 90 degrees is 1.570796325 rad.
    set("angle_z", 0.0f);
    set("angle_x", 90.0f);
    set("size_y", 1.0f);
    begin();
    EXPECT_EQ(ostrel().getPlacementTm().c1.z, std::sin(float(90.0 * 0.0174532925)));

    // Randomized: the axes of the call's own placement. Only z turns, by the sixth draw.
    set("angle_x", 0.0f);
    set("angle_z2", 90.0f);
    begin();
    ASSERT_TRUE(ostrel().isRandomized());
    ASSERT_EQ(basisOf().evalUVWBasis(sc, coords, basis), 1);
    const double turn = unit(DRAWS_SEED_1[5]) * float(90.0 * 0.0174532925);
    expectXYZ(basis[0], float(std::cos(turn)), float(std::sin(turn)), 0.0f, 1e-5f);
    expectXYZ(basis[1], float(-std::sin(turn)), float(std::cos(turn)), 0.0f, 1e-5f);
    expectXYZ(basis[2], 0.0f, 0.0f, 1.0f, 1e-5f);

    // Screen: the transform's third column is the cross product of the one-pixel steps times
    // filtering squared.
    set("angle_z2", 0.0f);
    set("map", 4);
    set("filtering", 2.0f);
    begin();
    UVWTransform tm;
    EXPECT_EQ(gen().evalUVWTransform(sc, tm), 1);
    expectXYZ(tm.c2, 0.0f, 0.0f, 4.0f / (640.0f * 480.0f), 1e-9f);
    // A frame without an image to place on: the placement's offset and no steps.
    session.frame.imageWidth = 0;
    begin();
    sc.imageX = 160.0f;
    expectXYZ(uvw(), 0.0f, 0.0f, 0.0f);
    Vector4f d[3];
    EXPECT_EQ(gen().evalUVWDerivs(sc, d), 1);
    expectXYZ(d[1], 0.0f, 0.0f, 0.0f);
}

TEST_F(Ostrel, RandomSeedFromMaterialAndObjectWhenAvailable) {
    set("map", 3);
    set("offset_x2", 1.0f);
    set("rand_mat", 1);
    set("rand_obj", 1);
    begin();
    auto firstDraw = [&] { return uvw().x; };

    // No shade-id service, one reported unavailable, no shade data: as without material and
    // object.
    EXPECT_FLOAT_EQ(firstDraw(), unit(DRAWS_SEED_1[0]));
    shade.ids = kivohost::ShadeIds{5, 3, 0};
    EXPECT_FLOAT_EQ(firstDraw(), unit(DRAWS_SEED_1[0]));
    sc.shadeData = nullptr;
    EXPECT_FLOAT_EQ(firstDraw(), unit(DRAWS_SEED_1[0]));
    sc.shadeData = &shade;

    // First draws after seeding with noiseHash(n) (64-bit arithmetic by hand: state = state *
    // 214013 + 2531011 modulo 2^32, draw = bits 16..30), material 5 and object 3.
    shade.ids->available = 1;
    const struct {
        int seed, mat, obj, par, draw;
    } rows[] = {
        {1, 1, 1, 0, 20628}, // n = 6 + 2792400
        {3, 1, 1, 0, 22053}, // n = 3 * 2792406
        {0, 1, 1, 0, 38},    // n = 0
        {1, 1, 0, 0, 17639}, // n = 5 + 1 = 6
        {1, 0, 1, 0, 4943},  // n = 1 + noiseHash(3) = 2792401
        {1, 0, 1, 1, 4943},  // rand_par changes nothing
    };
    for (const auto& row : rows) {
        set("seed", row.seed);
        set("rand_mat", row.mat);
        set("rand_obj", row.obj);
        set("rand_par", row.par);
        begin();
        EXPECT_FLOAT_EQ(firstDraw(), unit(row.draw)) << row.seed << row.mat << row.obj;
    }
}

TEST_F(Ostrel, GpuTextPerSource) {
    set("offset_x", 1.0f);
    set("offset_y", -2.0f);
    set("offset_z", 0.5f);
    set("size_x", 2.0f);
    set("size_y", 4.0f);
    set("size_z", 0.5f);
    set("offset_x2", 3.0f); // random variation never reaches the GPU
    GPUDataRecord unnamed;
    unnamed.renderer = &session.renderer;
    gpuText(0, unnamed);
    EXPECT_EQ(session.log.lines(),
              std::vector<std::string>{
                  "Using unsupported \"UVW Mapping Type\" for Ostrel noise (in (null)) "});
    ostrel().setPluginName("noise1");
    // Scale and offset only: the off-diagonal lanes print as positive zeros.
    const std::string line = "uvw_transform 0.500000,0.000000,0.000000,0.000000,0.250000,"
                             "0.000000,0.000000,0.000000,2.000000,1.000000,-2.000000,0.500000\n";
    for (int map : {0, 1, 2, 3, 4}) {
        SCOPED_TRACE(map);
        session.log.clear();
        GPUDataRecord gpu;
        gpu.renderer = &session.renderer;
        const std::string mapLine =
            map == 2 ? "map_channel -3\n" : (map == 3 ? "map_channel -5\n" : "");
        EXPECT_EQ(gpuText(map, gpu), mapLine + line);
        EXPECT_EQ(gpu.objectSpaceFlag, map == 2 ? 1 : 0);
        const std::vector<std::string> expectedLog =
            map == 2 || map == 3 ? std::vector<std::string>{}
                                 : std::vector<std::string>{"Using unsupported \"UVW Mapping "
                                                            "Type\" for Ostrel noise (in noise1) "};
        EXPECT_EQ(session.log.lines(), expectedLog);
    }

    // No way to the log: no warning, the line still written.
    session.log.clear();
    for (KivoRenderer* renderer : {static_cast<KivoRenderer*>(nullptr), &session.renderer}) {
        GPUDataRecord gpu;
        gpu.renderer = renderer;
        session.sequence.messageLog = renderer ? nullptr : &session.log;
        EXPECT_EQ(gpuText(4, gpu), line);
    }
    EXPECT_TRUE(session.log.lines().empty());

    UVWGenOstrel bare(nullptr); // no descriptor, no parameter list
    ShaderSource source;
    GPUDataRecord gpu;
    EXPECT_EQ(bare.emitRTSource("", "", "MaterialDescriptor", source, gpu), 0);
    EXPECT_EQ(source.size(), 0u);
}
