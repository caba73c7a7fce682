#include "ostrel/UVWGenOstrel.h"

#include "frame/HostSdk.h"
#include "scene/ShadeStandIns.h"
#include "sdk/HostRuntime.h"
#include "sdk/ParamValues.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

using namespace KUtils;

namespace {

UVWGenOstrelDesc& ostrelDesc() {
    static UVWGenOstrelDesc desc;
    return desc;
}

// First draws after seeding with noiseHash(n) for the n used below (64-bit arithmetic by hand:
// state = state * 214013 + 2531011 modulo 2^32, draw = bits 16..30).
constexpr int DRAWS_SEED_1[] = {7233, 27289, 10969, 27563, 23089, 6814, 6282, 30622, 19594};
constexpr int FIRST_DRAW_MAT_5 = 17639;              // n = 5 + 1 = 6
constexpr int FIRST_DRAW_OBJ_3 = 4943;               // n = 1 + noiseHash(3) = 2792401
constexpr int FIRST_DRAW_MAT_5_OBJ_3 = 20628;        // n = 6 + 2792400
constexpr int FIRST_DRAW_MAT_5_OBJ_3_SEED_3 = 22053; // n = 3 * 2792406
constexpr int FIRST_DRAW_SEED_0 = 38;                // n = 0

float unit(int r) {
    return float(r) / 32767.0f * 2.0f - 1.0f;
}

void expectVec(const Vector4f& v, float x, float y, float z, float tol = 1e-6f) {
    EXPECT_NEAR(v.x, x, tol);
    EXPECT_NEAR(v.y, y, tol);
    EXPECT_NEAR(v.z, z, tol);
}

class Ostrel : public ::testing::Test {
protected:
    void SetUp() override {
        plugin = ostrelDesc().newPlugin(nullptr);
        ASSERT_NE(plugin, nullptr);
        params = paramListOf(plugin);
        ASSERT_NE(params, nullptr);
        uvwgen = static_cast<UVWGenInterface*>(plugin->getInterface(EXT_UVWGEN));
        basisIface = static_cast<UVWGenOstrelInterface*>(plugin->getInterface(EXT_UVWGEN_OSTREL));
        kivo = static_cast<KivoPluginInterface*>(plugin->getInterface(EXT_KIVO_PLUGIN));
        rttex = static_cast<RTTexInterface*>(plugin->getInterface(EXT_RTTEX));
        ASSERT_TRUE(uvwgen && basisIface && kivo && rttex);
        sc.renderer = &session.renderer;
        sc.threadData.threadIndex = 0;
        sc.evalStamp = 1;
        sc.shadeData = &shade;
        sc.shadeInstance = &instance;
    }
    void TearDown() override { ostrelDesc().deletePlugin(plugin); }

    void set(const char* name, ParamValue value) {
        ASSERT_TRUE(setParamValue(*params, name, value)) << name;
    }
    void begin() { kivo->frameBegin(&session.renderer); }
    UVWGenOstrel& ostrel() { return *static_cast<UVWGenOstrel*>(plugin); }
    void setChannelUVW(float u, float v, float w) { shade.channels[0].uvw = {u, v, w, 0.0f}; }

    Vector4f uvw(int* valid = nullptr) {
        Vector4f out{9.0f, 9.0f, 9.0f, 9.0f};
        const int r = uvwgen->evalUVW(sc, out);
        if (valid) {
            *valid = r;
        }
        return out;
    }

    std::string gpuText(int map, GPUDataRecord& gpu, const char* kind = "MaterialDescriptor") {
        set("map", map);
        begin();
        ShaderSource source;
        lastEmit = rttex->emitRTSource("", "ignored", kind, source, gpu);
        return source.text() ? source.text() : "";
    }

    kivohost::RenderSession session;
    kivohost::MeshShadeData shade;
    kivohost::ShadedInstance instance;
    ShadingContext sc;
    PluginBase* plugin = nullptr;
    KivoParameterList* params = nullptr;
    UVWGenInterface* uvwgen = nullptr;
    UVWGenOstrelInterface* basisIface = nullptr;
    KivoPluginInterface* kivo = nullptr;
    RTTexInterface* rttex = nullptr;
    int lastEmit = -1;
};

} // namespace

TEST(OstrelDesc, IdentityAndParameterTable) {
    UVWGenOstrelDesc& desc = ostrelDesc();
    EXPECT_STREQ(desc.getName(), "UVWGenOstrel");
    EXPECT_STREQ(desc.getDescription(), "Ostrel textures UVW generator [gpuSupport=(none)]");
    EXPECT_EQ(desc.getPluginID(), 2011100300u);
    EXPECT_TRUE(desc.supportsInterface(0x7776FFFF));
    EXPECT_TRUE(desc.supportsInterface(2014021801));
    EXPECT_FALSE(desc.supportsInterface(EXT_UVWGEN_OSTREL));
    EXPECT_FALSE(desc.supportsInterface(0));

    struct Row {
        const char* name;
        ParamType type;
        const char* description;
    };
    const ParamType F = ParamType::Float, I = ParamType::Int;
    const Row rows[] = {
        {"offset_x", F, "the X offset"},
        {"offset_y", F, "the Y offset"},
        {"offset_z", F, "the Z offset"},
        {"size_x", F, "X size"},
        {"size_y", F, "Y size"},
        {"size_z", F, "Z size"},
        {"angle_x", F, "X angle"},
        {"angle_y", F, "Y angle"},
        {"angle_z", F, "Z angle"},
        {"tile_x", I, "X tiles"},
        {"tile_y", I, "Y tiles"},
        {"tile_z", I, "Z tiles"},
        {"offset_x2", F, "second X offset"},
        {"offset_y2", F, "second Y offset"},
        {"offset_z2", F, "second Z offset"},
        {"size_x2", F, "second X size"},
        {"size_y2", F, "second Y size"},
        {"size_z2", F, "second Z size"},
        {"angle_x2", F, "second X angle"},
        {"angle_y2", F, "second Y angle"},
        {"angle_z2", F, "second Z angle"},
        {"xyz_lock", I, "XYZ Lock"},
        {"seed", I, "Seed"},
        {"rand_mat", I, "Random by material"},
        {"rand_obj", I, "Random by object"},
        {"rand_par", I, "Random by particle"},
        {"map", I, "Mapping type"},
        {"channel", I, "Mapping channel"},
        {"filtering", F, "filtering"},
    };
    const KivoParameterListDesc* defs = desc.getParamListDesc();
    ASSERT_NE(defs, nullptr);
    ASSERT_EQ(defs->getNumParamDefs(), 29);
    for (int i = 0; i < 29; ++i) {
        EXPECT_STREQ(defs->getParamDefName(i), rows[i].name) << i;
        EXPECT_EQ(defs->getParamDefType(i), rows[i].type) << rows[i].name;
        EXPECT_STREQ(defs->getParamDefDescription(i), rows[i].description) << rows[i].name;
        EXPECT_EQ(defs->getParamDefCount(i), -1) << rows[i].name;
        const char* hints = defs->getParamDefHints(i);
        EXPECT_TRUE(hints == nullptr || *hints == '\0') << rows[i].name;
    }
}

TEST_F(Ostrel, DefaultsAndInterfaces) {
    EXPECT_EQ(plugin->getInterface(EXT_RTTEX), static_cast<RTTexInterface*>(&ostrel()));
    EXPECT_STREQ(basisIface->getInterfaceName(), "EXT_UVWGEN_OSTREL");
    EXPECT_EQ(basisIface->getInterfaceID(), 2017111358u);
    EXPECT_EQ(basisIface->getPlugin(), plugin);
    EXPECT_EQ(rttex->getPlugin(), plugin);
    EXPECT_EQ(uvwgen->getPlugin(), plugin);
    EXPECT_EQ(kivo->getPlugin(), plugin);
    EXPECT_EQ(plugin->getInterface(EXT_TEXTURE), nullptr);

    for (const char* name : {"offset_x", "offset_y", "offset_z", "angle_x", "angle_y", "angle_z",
                             "offset_x2", "offset_y2", "offset_z2", "size_x2", "size_y2", "size_z2",
                             "angle_x2", "angle_y2", "angle_z2"}) {
        EXPECT_EQ(params->getParam(name)->getFloat(0, 0.0), 0.0f) << name;
    }
    for (const char* name : {"size_x", "size_y", "size_z", "filtering"}) {
        EXPECT_EQ(params->getParam(name)->getFloat(0, 0.0), 1.0f) << name;
    }
    for (const char* name : {"tile_x", "tile_y", "tile_z", "seed"}) {
        EXPECT_EQ(params->getParam(name)->getInt(0, 0.0), 1) << name;
    }
    for (const char* name : {"xyz_lock", "rand_mat", "rand_obj", "rand_par", "map", "channel"}) {
        EXPECT_EQ(params->getParam(name)->getInt(0, 0.0), 0) << name;
    }

    begin();
    const UVWTransform& t = ostrel().getPlacementTm();
    expectVec(t.c0, 1, 0, 0, 0);
    expectVec(t.c1, 0, 1, 0, 0);
    expectVec(t.c2, 0, 0, 1, 0);
    expectVec(t.o, 0, 0, 0, 0);
    expectVec(ostrel().getUnitAxes()[0], 1, 0, 0, 0);
    expectVec(ostrel().getUnitAxes()[2], 0, 0, 1, 0);
    EXPECT_FALSE(ostrel().isRandomized());
}

TEST_F(Ostrel, FrameBeginPlacesRotatesAndScales) {
    set("map", 3);
    set("angle_z", 90.0f);
    begin();
    sc.shadingPoint = {1.0f, 0.0f, 0.0f, 0.0f};
    expectVec(uvw(), 0.0f, 1.0f, 0.0f);
    set("offset_x", 1.0f); // the offset is added before the rotation
    begin();
    expectVec(uvw(), 0.0f, 2.0f, 0.0f);
    // Parameters refreshed every frame: angles are converted from degrees once per frame.
    begin();
    expectVec(uvw(), 0.0f, 2.0f, 0.0f);

    set("angle_z", 0.0f);
    set("offset_x", 0.0f);
    set("size_x", 2.0f);
    begin();
    sc.shadingPoint = {2.0f, 0.0f, 0.0f, 0.0f};
    expectVec(uvw(), 1.0f, 0.0f, 0.0f);
    expectVec(ostrel().getUnitAxes()[0], 1.0f, 0.0f, 0.0f);

    // Degrees to radians by 0.0174532925 in double: 90 degrees is 1.570796325 rad.
    set("size_x", 1.0f);
    set("angle_x", 90.0f);
    begin();
    const float rad = float(90.0 * 0.0174532925);
    EXPECT_EQ(ostrel().getPlacementTm().c1.z, std::sin(rad));
}

TEST_F(Ostrel, SizesNearZeroStayFiniteAndNegativeSizesMirror) {
    set("map", 3);
    set("size_x", 0.0f);
    set("size_y", -0.00002f);
    set("size_z", -2.0f);
    begin();
    const UVWTransform& t = ostrel().getPlacementTm();
    EXPECT_FLOAT_EQ(t.c0.x, 10000.0f);
    EXPECT_FLOAT_EQ(t.c1.y, -10000.0f);
    EXPECT_FLOAT_EQ(t.c2.z, -0.5f);
    expectVec(ostrel().getUnitAxes()[0], 1, 0, 0);
    expectVec(ostrel().getUnitAxes()[1], 0, -1, 0);
    expectVec(ostrel().getUnitAxes()[2], 0, 0, -1);
    sc.shadingPoint = {0.001f, 0.001f, 1.0f, 0.0f};
    expectVec(uvw(), 10.0f, -10.0f, -0.5f, 1e-4f);

    GPUDataRecord gpu;
    const std::string text = gpuText(3, gpu);
    // Mirrored columns carry negative zeros: the whole column is multiplied by 1 / size.
    EXPECT_EQ(text, "map_channel -5\nuvw_transform 10000.000000,0.000000,0.000000,-0.000000,"
                    "-10000.000000,-0.000000,-0.000000,-0.000000,-0.500000,0.000000,0.000000,"
                    "0.000000\n");
}

TEST_F(Ostrel, RandomizedSwitchesOnAboveTheThresholdOnly) {
    struct Row {
        const char* name;
        float value;
        bool randomized;
    };
    const Row rows[] = {
        {"offset_x2", 0.0001f, false}, {"offset_x2", 0.00011f, true}, {"offset_x2", -5.0f, false},
        {"size_z2", 0.5f, true},       {"angle_x2", 0.005f, false},   {"angle_x2", 0.006f, true},
        {"angle_z2", 0.006f, true},
    };
    for (const Row& row : rows) {
        set(row.name, row.value);
        begin();
        EXPECT_EQ(ostrel().isRandomized(), row.randomized) << row.name << " " << row.value;
        set(row.name, 0.0f);
    }
}

// Every source against every tiling mode of u. The source u is 1.25 everywhere: channel UVW,
// world and object position, and the screen (x = 800 of 640 pixels).
TEST_F(Ostrel, SourcesAgainstTilingModes) {
    setChannelUVW(1.25f, 0.5f, 0.5f);
    sc.shadingPoint = {1.25f, 0.5f, 0.5f, 0.0f};
    sc.imageX = 800.0f;
    sc.imageY = 240.0f;
    instance.objectSpace = UVWTransform{}; // identity object space

    const float tiled[] = {1.25f, 1.0f, 0.25f, 0.75f, 1.25f, 1.25f};
    const int modes[] = {0, 1, 2, 3, 4, 9};
    for (int map : {0, 1, 2, 3, 4}) {
        for (int m = 0; m < 6; ++m) {
            set("map", map);
            set("tile_x", modes[m]);
            set("tile_y", 4); // 0.5 passes the crop everywhere
            begin();
            const bool channel = map <= 1;
            const bool crop = modes[m] == TILE_CROP;
            const float expectU = channel ? tiled[m] : 1.25f;

            int valid = -1;
            const Vector4f a = uvw(&valid);
            const bool uvwTiled = map == 0;
            EXPECT_EQ(valid, (uvwTiled && crop) ? 0 : 1) << map << " " << modes[m];
            EXPECT_FLOAT_EQ(a.x, uvwTiled ? expectU : 1.25f) << map << " " << modes[m];
            EXPECT_FLOAT_EQ(a.y, 0.5f);

            Vector4f d[3];
            const int dvalid = uvwgen->evalUVWDerivs(sc, d);
            EXPECT_EQ(dvalid, (channel && crop) ? 0 : 1) << map << " " << modes[m];
            EXPECT_FLOAT_EQ(d[0].x, expectU) << map << " " << modes[m];
        }
    }
}

TEST_F(Ostrel, ChannelSourceExamples) {
    setChannelUVW(1.3f, -0.2f, 0.5f);
    begin();
    int valid = -1;
    expectVec(uvw(&valid), 1.0f, 0.0f, 0.5f);
    EXPECT_EQ(valid, 1);
    set("tile_x", 2);
    set("tile_y", 2);
    begin();
    expectVec(uvw(), 0.3f, 0.8f, 0.5f, 1e-6f);

    // A crop rejection leaves every coordinate untiled.
    set("tile_x", 4);
    set("tile_y", 1);
    setChannelUVW(1.2f, -0.2f, 0.5f);
    begin();
    expectVec(uvw(&valid), 1.2f, -0.2f, 0.5f);
    EXPECT_EQ(valid, 0);
    Vector4f basis[3] = {{7, 7, 7, 7}, {7, 7, 7, 7}, {7, 7, 7, 7}};
    Vector4f coords;
    EXPECT_EQ(basisIface->evalUVWBasis(sc, coords, basis), 0);
    EXPECT_EQ(basis[0].x, 7.0f); // not written
    expectVec(coords, 1.2f, -0.2f, 0.5f);

    // Plain channel: evalUVW does not tile, the derivative operations do.
    set("map", 1);
    begin();
    expectVec(uvw(&valid), 1.2f, -0.2f, 0.5f);
    EXPECT_EQ(valid, 1);
    Vector4f d[3];
    EXPECT_EQ(uvwgen->evalUVWDerivs(sc, d), 0);
    UVWTransform tm;
    EXPECT_EQ(uvwgen->evalUVWTransform(sc, tm), 0);
    expectVec(tm.o, 1.2f, -0.2f, 0.5f);

    // Centred placement acts about (0.5, 0.5, 0): size 2 halves the distance to the centre.
    set("map", 0);
    set("tile_x", 0);
    set("size_x", 2.0f);
    set("size_y", 2.0f);
    setChannelUVW(1.5f, 0.0f, 0.5f);
    begin();
    expectVec(uvw(), 1.0f, 0.25f, 0.5f);
    set("map", 1);
    begin();
    expectVec(uvw(), 0.75f, 0.0f, 0.5f);

    // Without a channel provider the channel UVW is 0.
    shade.provider = false;
    expectVec(uvw(), 0.0f, 0.0f, 0.0f);
    set("map", 0);
    begin();
    expectVec(uvw(), 0.25f, 0.25f, 0.0f);
}

TEST_F(Ostrel, ChannelDerivativesAreTheFootprintThroughThePlacement) {
    // Basis diag(2, 4, 1): the channel's UVW changes by (0.5, 0.25, 1) per unit world x, y, z.
    kivohost::MapChannel ch;
    ch.uvw = {0.25f, 0.5f, 0.0f, 0.0f};
    ch.basis[0] = {2, 0, 0, 0};
    ch.basis[1] = {0, 4, 0, 0};
    shade.channels[0] = ch;
    sc.dPdx = {1.0f, 0.5f, 0.0f, 0.0f};  // UVW step (0.5, 0.125, 0)
    sc.dPdy = {-0.5f, 2.0f, 0.0f, 0.0f}; // UVW step (-0.25, 0.5, 0)
    // Footprint box extent: (0.5 + 0.25, 0.5 - 0, 0) = (0.75, 0.5, 0).
    set("tile_x", 0);
    set("tile_y", 0);
    for (int map : {0, 1}) {
        set("map", map);
        set("angle_z", 0.0f);
        set("filtering", 1.0f);
        begin();
        Vector4f d[3];
        ASSERT_EQ(uvwgen->evalUVWDerivs(sc, d), 1);
        expectVec(d[0], 0.25f, 0.5f, 0.0f);
        expectVec(d[1], 0.75f, 0.0f, 0.0f);
        expectVec(d[2], 0.0f, 0.5f, 0.0f);

        // Rotated a quarter turn: columns (0,1,0) and (-1,0,0); t = (-0.5, 0.75, 0).
        set("angle_z", 90.0f);
        set("filtering", 2.0f);
        begin();
        ASSERT_EQ(uvwgen->evalUVWDerivs(sc, d), 1);
        expectVec(d[1], -1.0f, 0.0f, 0.0f);
        expectVec(d[2], 0.0f, 1.5f, 0.0f);

        UVWTransform tm;
        ASSERT_EQ(uvwgen->evalUVWTransform(sc, tm), 1);
        expectVec(tm.c0, -1.0f, 0.0f, 0.0f);
        expectVec(tm.c1, 0.0f, 1.5f, 0.0f);
        expectVec(tm.c2, 0.0f, 0.0f, -1.5f);
        expectVec(tm.o, d[0].x, d[0].y, d[0].z);
    }

    // The crop rejection returns the derivatives without the filtering.
    set("map", 1);
    set("angle_z", 0.0f);
    set("tile_x", 4);
    set("filtering", 3.0f);
    shade.channels[0].uvw.x = -0.5f;
    begin();
    Vector4f d[3];
    EXPECT_EQ(uvwgen->evalUVWDerivs(sc, d), 0);
    expectVec(d[0], -0.5f, 0.5f, 0.0f);
    expectVec(d[1], 0.75f, 0.0f, 0.0f);

    // Without a channel provider the world differentials are taken as UVW differentials.
    shade.provider = false;
    set("tile_x", 0);
    set("filtering", 1.0f);
    begin();
    EXPECT_EQ(uvwgen->evalUVWDerivs(sc, d), 1);
    expectVec(d[1], 1.5f, 0.0f, 0.0f);
    expectVec(d[2], 0.0f, 2.0f, 0.0f);
}

TEST_F(Ostrel, PositionAndScreenSources) {
    sc.shadingPoint = {1.0f, 2.0f, 3.0f, 0.0f};
    sc.dPdx = {0.1f, 0.0f, 0.0f, 0.0f};
    sc.dPdy = {0.0f, 0.2f, 0.3f, 0.0f};
    set("size_x", 2.0f); // placement does not change position differentials
    set("filtering", 0.5f);

    set("map", 3);
    begin();
    expectVec(uvw(), 0.5f, 2.0f, 3.0f);
    Vector4f d[3];
    EXPECT_EQ(uvwgen->evalUVWDerivs(sc, d), 1);
    expectVec(d[0], 0.5f, 2.0f, 3.0f);
    expectVec(d[1], 0.05f, 0.0f, 0.0f);
    expectVec(d[2], 0.0f, 0.1f, 0.15f);

    // Object source without an object-space service: the world result.
    set("map", 2);
    begin();
    expectVec(uvw(), 0.5f, 2.0f, 3.0f);
    EXPECT_EQ(uvwgen->evalUVWDerivs(sc, d), 1);
    expectVec(d[1], 0.05f, 0.0f, 0.0f);
    sc.shadeInstance = nullptr;
    expectVec(uvw(), 0.5f, 2.0f, 3.0f);
    sc.shadeInstance = &instance;

    // Object space twice the world, moved by (10, 0, 0).
    UVWTransform os;
    os.c0 = {2, 0, 0, 0};
    os.c1 = {0, 2, 0, 0};
    os.c2 = {0, 0, 2, 0};
    os.o = {10, 0, 0, 0};
    instance.objectSpace = os;
    expectVec(uvw(), 6.0f, 4.0f, 6.0f);
    EXPECT_EQ(uvwgen->evalUVWDerivs(sc, d), 1);
    expectVec(d[0], 6.0f, 4.0f, 6.0f);
    expectVec(d[1], 0.1f, 0.0f, 0.0f);
    expectVec(d[2], 0.0f, 0.2f, 0.3f);

    // Screen: pixel (0, 0) of 640 x 480 is (0, 1, 0); steps are one pixel.
    set("map", 4);
    set("size_x", 1.0f);
    set("filtering", 2.0f);
    begin();
    sc.imageX = 0.0f;
    sc.imageY = 0.0f;
    expectVec(uvw(), 0.0f, 1.0f, 0.0f);
    EXPECT_EQ(uvwgen->evalUVWDerivs(sc, d), 1);
    expectVec(d[0], 0.0f, 1.0f, 0.0f);
    EXPECT_EQ(d[1].x, 1.0f / 640.0f * 2.0f);
    EXPECT_EQ(d[2].y, 1.0f / 480.0f * 2.0f);
    EXPECT_EQ(d[1].y, 0.0f);
    EXPECT_EQ(d[2].x, 0.0f);
    sc.imageX = 160.0f;
    sc.imageY = 360.0f;
    expectVec(uvw(), 0.25f, 0.25f, 0.0f);
    UVWTransform tm;
    EXPECT_EQ(uvwgen->evalUVWTransform(sc, tm), 1);
    expectVec(tm.c0, 2.0f / 640.0f, 0.0f, 0.0f);
    expectVec(tm.c2, 0.0f, 0.0f, 4.0f / (640.0f * 480.0f), 1e-9f);
    expectVec(tm.o, 0.25f, 0.25f, 0.0f);

    // No image to place on: the screen source gives the placement's offset and no steps.
    session.frame.imageWidth = 0;
    expectVec(uvw(), 0.0f, 0.0f, 0.0f);
    EXPECT_EQ(uvwgen->evalUVWDerivs(sc, d), 1);
    expectVec(d[1], 0.0f, 0.0f, 0.0f);
}

TEST_F(Ostrel, UnknownSourceWritesZeros) {
    set("map", 7);
    set("filtering", 2.0f);
    begin();
    int valid = -1;
    expectVec(uvw(&valid), 0.0f, 0.0f, 0.0f, 0.0f);
    EXPECT_EQ(valid, 1);
    Vector4f d[3] = {{5, 5, 5, 5}, {5, 5, 5, 5}, {5, 5, 5, 5}};
    EXPECT_EQ(uvwgen->evalUVWDerivs(sc, d), 1);
    for (const Vector4f& v : d) {
        expectVec(v, 0.0f, 0.0f, 0.0f, 0.0f);
        EXPECT_EQ(v.w, 0.0f);
    }
    UVWTransform tm;
    tm.o = {5, 5, 5, 5};
    EXPECT_EQ(uvwgen->evalUVWTransform(sc, tm), 1);
    for (const Vector4f& v : {tm.c0, tm.c1, tm.c2, tm.o}) {
        expectVec(v, 0.0f, 0.0f, 0.0f, 0.0f);
    }
    Vector4f coords{5, 5, 5, 5}, basis[3];
    EXPECT_EQ(basisIface->evalUVWBasis(sc, coords, basis), 1);
    expectVec(coords, 0.0f, 0.0f, 0.0f, 0.0f);
    expectVec(basis[1], 0.0f, 1.0f, 0.0f, 0.0f);
}

TEST_F(Ostrel, BasisIsTheUnitPlacementAxes) {
    set("map", 3);
    set("size_x", 3.0f);
    set("angle_z", 90.0f);
    begin();
    Vector4f coords, basis[3];
    ASSERT_EQ(basisIface->evalUVWBasis(sc, coords, basis), 1);
    expectVec(basis[0], 0.0f, 1.0f, 0.0f);
    expectVec(basis[1], -1.0f, 0.0f, 0.0f);
    expectVec(basis[2], 0.0f, 0.0f, 1.0f);

    // Randomized: the axes of the call's own placement. Only z turns, by the sixth draw.
    set("angle_z", 0.0f);
    set("angle_z2", 90.0f);
    begin();
    ASSERT_TRUE(ostrel().isRandomized());
    ASSERT_EQ(basisIface->evalUVWBasis(sc, coords, basis), 1);
    const double turn = unit(DRAWS_SEED_1[5]) * float(90.0 * 0.0174532925);
    expectVec(basis[0], float(std::cos(turn)), float(std::sin(turn)), 0.0f, 1e-5f);
    expectVec(basis[1], float(-std::sin(turn)), float(std::cos(turn)), 0.0f, 1e-5f);
    expectVec(basis[2], 0.0f, 0.0f, 1.0f, 1e-5f);
}

TEST_F(Ostrel, RandomPlacementFollowsTheSeededDraws) {
    set("map", 3);
    set("offset_x2", 1.0f);
    set("offset_y2", 2.0f);
    set("offset_z2", 3.0f);
    begin();
    ASSERT_TRUE(ostrel().isRandomized());
    // seed 1, no material or object: noiseHash(1) = 804952 seeds every call.
    expectVec(uvw(), unit(DRAWS_SEED_1[0]) * 1.0f, unit(DRAWS_SEED_1[1]) * 2.0f,
              unit(DRAWS_SEED_1[2]) * 3.0f);
    expectVec(uvw(), unit(DRAWS_SEED_1[0]) * 1.0f, unit(DRAWS_SEED_1[1]) * 2.0f,
              unit(DRAWS_SEED_1[2]) * 3.0f);
    EXPECT_NEAR(uvw().x, -0.558519f, 1e-6f);

    // Sizes: three draws (7th to 9th) without the lock, one shared draw with it.
    set("offset_x2", 0.0f);
    set("offset_y2", 0.0f);
    set("offset_z2", 0.0f);
    set("size_x2", 0.5f);
    set("size_y2", 0.5f);
    set("size_z2", 0.5f);
    begin();
    sc.shadingPoint = {1.0f, 1.0f, 1.0f, 0.0f};
    expectVec(uvw(), 1.0f / (unit(DRAWS_SEED_1[6]) * 0.5f + 1.0f),
              1.0f / (unit(DRAWS_SEED_1[7]) * 0.5f + 1.0f),
              1.0f / (unit(DRAWS_SEED_1[8]) * 0.5f + 1.0f));
    set("xyz_lock", 1);
    set("size_y2", 0.0f);
    set("size_z", 2.0f);
    begin();
    const float d = unit(DRAWS_SEED_1[6]) * 0.5f;
    expectVec(uvw(), 1.0f / (1.0f + d), 1.0f / (1.0f + d), 1.0f / (2.0f + d));
}

TEST_F(Ostrel, RandomSeedFromMaterialAndObjectWhenAvailable) {
    set("map", 3);
    set("offset_x2", 1.0f);
    begin();
    auto firstDraw = [&] { return uvw().x; };

    set("rand_mat", 1);
    set("rand_obj", 1);
    begin();
    // No shade-id service: as without material and object.
    EXPECT_FLOAT_EQ(firstDraw(), unit(DRAWS_SEED_1[0]));
    shade.ids = kivohost::ShadeIds{5, 3, 0};
    EXPECT_FLOAT_EQ(firstDraw(), unit(DRAWS_SEED_1[0])); // reported unavailable
    sc.shadeData = nullptr;
    EXPECT_FLOAT_EQ(firstDraw(), unit(DRAWS_SEED_1[0]));
    sc.shadeData = &shade;

    shade.ids->available = 1;
    EXPECT_FLOAT_EQ(firstDraw(), unit(FIRST_DRAW_MAT_5_OBJ_3));
    set("seed", 3);
    begin();
    EXPECT_FLOAT_EQ(firstDraw(), unit(FIRST_DRAW_MAT_5_OBJ_3_SEED_3));
    set("seed", 0);
    begin();
    EXPECT_FLOAT_EQ(firstDraw(), unit(FIRST_DRAW_SEED_0));
    set("seed", 1);
    set("rand_obj", 0);
    begin();
    EXPECT_FLOAT_EQ(firstDraw(), unit(FIRST_DRAW_MAT_5));
    set("rand_mat", 0);
    set("rand_obj", 1);
    begin();
    EXPECT_FLOAT_EQ(firstDraw(), unit(FIRST_DRAW_OBJ_3));
    // rand_par changes nothing.
    set("rand_par", 1);
    begin();
    EXPECT_FLOAT_EQ(firstDraw(), unit(FIRST_DRAW_OBJ_3));
}

TEST_F(Ostrel, GpuTextPerSource) {
    set("offset_x", 1.0f);
    set("offset_y", -2.0f);
    set("offset_z", 0.5f);
    set("size_x", 2.0f);
    set("size_y", 4.0f);
    set("size_z", 0.5f);
    set("offset_x2", 3.0f); // random variation never reaches the GPU
    ostrel().setPluginName("noise1");
    const std::string line = "uvw_transform 0.500000,0.000000,0.000000,0.000000,0.250000,"
                             "0.000000,0.000000,0.000000,2.000000,1.000000,-2.000000,0.500000\n";
    const std::string warning = "Using unsupported \"UVW Mapping Type\" for Ostrel noise (in "
                                "noise1) ";
    for (int map : {0, 1, 2, 3, 4}) {
        session.log.clear();
        GPUDataRecord gpu;
        gpu.renderer = &session.renderer;
        const std::string text = gpuText(map, gpu);
        EXPECT_EQ(lastEmit, 1);
        const std::string mapLine =
            map == 2 ? "map_channel -3\n" : (map == 3 ? "map_channel -5\n" : "");
        EXPECT_EQ(text, mapLine + line) << map;
        EXPECT_EQ(gpu.objectSpaceFlag, map == 2 ? 1 : 0);
        const std::vector<std::string> logged = session.log.lines();
        if (map == 2 || map == 3) {
            EXPECT_TRUE(logged.empty()) << map;
        } else {
            ASSERT_EQ(logged.size(), 1u) << map;
            EXPECT_EQ(logged[0], warning);
        }
    }

    // No way to the log: no warning, the line still written.
    session.log.clear();
    for (KivoRenderer* renderer : {static_cast<KivoRenderer*>(nullptr), &session.renderer}) {
        GPUDataRecord gpu;
        gpu.renderer = renderer;
        session.sequence.messageLog = renderer ? nullptr : &session.log;
        EXPECT_EQ(gpuText(4, gpu), line);
    }
    session.sequence.messageLog = &session.log;
    EXPECT_TRUE(session.log.lines().empty());

    // Other kinds write nothing and leave the record alone.
    for (const char* kind : {"materialDescriptor", "MaterialDescriptor ", "", "Texture"}) {
        GPUDataRecord gpu;
        gpu.objectSpaceFlag = 7;
        EXPECT_EQ(gpuText(2, gpu, kind), "");
        EXPECT_EQ(lastEmit, 0);
        EXPECT_EQ(gpu.objectSpaceFlag, 7);
    }
}

TEST_F(Ostrel, GpuTextDefaultsAndNoParameterList) {
    GPUDataRecord gpu;
    gpu.renderer = &session.renderer;
    EXPECT_EQ(gpuText(0, gpu), "uvw_transform 1.000000,0.000000,0.000000,0.000000,1.000000,"
                               "0.000000,0.000000,0.000000,1.000000,0.000000,0.000000,"
                               "0.000000\n");
    ASSERT_EQ(session.log.lines().size(), 1u);
    EXPECT_EQ(session.log.lines()[0],
              "Using unsupported \"UVW Mapping Type\" for Ostrel noise (in (null)) ");

    UVWGenOstrel bare(nullptr); // no descriptor, no parameter list
    ShaderSource source;
    EXPECT_EQ(bare.emitRTSource("", "", "MaterialDescriptor", source, gpu), 0);
    EXPECT_EQ(source.size(), 0u);
}

// Many render threads evaluating one randomized instance with per-surface seeds get exactly
// the single-threaded results.
TEST_F(Ostrel, ConcurrentRandomizedEvaluationMatchesSingleThread) {
    set("map", 0);
    set("tile_x", 2);
    set("offset_x2", 0.3f);
    set("size_x2", 0.4f);
    set("angle_z2", 30.0f);
    set("rand_mat", 1);
    set("rand_obj", 1);
    set("seed", 17);
    begin();

    constexpr int surfaces = 64;
    std::vector<kivohost::MeshShadeData> shades(surfaces);
    for (int i = 0; i < surfaces; ++i) {
        shades[i].ids = kivohost::ShadeIds{std::uint32_t(i % 7), std::uint32_t(i), 1};
        shades[i].channels[0].uvw = {0.01f * i, 0.3f, 0.0f, 0.0f};
    }
    struct Result {
        Vector4f uvw, d[3], basis[3], coords;
        UVWTransform tm;
    };
    auto evaluate = [&](int i, int thread) {
        ShadingContext c;
        c.renderer = &session.renderer;
        c.threadData.threadIndex = thread;
        c.evalStamp = std::uint32_t(i + 1);
        c.shadeData = &shades[i];
        c.dPdx = {0.1f, 0.0f, 0.0f, 0.0f};
        c.dPdy = {0.0f, 0.1f, 0.0f, 0.0f};
        Result r;
        uvwgen->evalUVW(c, r.uvw);
        uvwgen->evalUVWDerivs(c, r.d);
        uvwgen->evalUVWTransform(c, r.tm);
        basisIface->evalUVWBasis(c, r.coords, r.basis);
        return r;
    };
    std::vector<Result> expected;
    for (int i = 0; i < surfaces; ++i) {
        expected.push_back(evaluate(i, 0));
    }
    EXPECT_NE(std::memcmp(&expected[1].tm, &expected[2].tm, sizeof(UVWTransform)), 0);

    constexpr int threads = 8;
    std::vector<int> mismatches(threads, 0);
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round) {
                for (int k = 0; k < surfaces; ++k) {
                    const int i = (k + t * 7 + round) % surfaces;
                    const Result r = evaluate(i, t);
                    if (std::memcmp(&r, &expected[i], sizeof r) != 0) {
                        ++mismatches[t];
                    }
                }
            }
        });
    }
    for (std::thread& th : pool) {
        th.join();
    }
    for (int t = 0; t < threads; ++t) {
        EXPECT_EQ(mismatches[t], 0) << t;
    }
}
