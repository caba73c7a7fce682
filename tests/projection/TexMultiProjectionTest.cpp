// TexMultiProjection as a renderer drives it: blend weights, projection centres found through
// the plugin graph, colour range and the per-thread colour caches.
#include "projection/TexMultiProjection.h"

#include "projection/ColorResultCache.h"
#include "projection/MultiProjectionBlend.h"
#include "projection/ProjectionSearch.h"
#include "scene/TextureStandIns.h"
#include "tests/projection/ProjectionScene.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <optional>

namespace {

using namespace testsupport;

void expectColor(const AColor& c, float r, float g, float b, float a) {
    EXPECT_FLOAT_EQ(c.r, r);
    EXPECT_FLOAT_EQ(c.g, g);
    EXPECT_FLOAT_EQ(c.b, b);
    EXPECT_FLOAT_EQ(c.a, a);
}

// The shared scene around one TexMultiProjection.
class MultiScene : public ProjectionScene {
public:
    MultiScene() : multi(create(descriptor<TexMultiProjectionDesc>())) {}

    // frameBegin of the host textures, prepareRender (first frame only) and frameBegin of the
    // TexMultiProjection.
    void beginFrame() {
        for (auto& [desc, plugin] : plugins) {
            if (desc == &descriptor<kivohost::LinkedTextureDesc>()) {
                kivo(plugin).frameBegin(&session.renderer);
            }
        }
        if (!prepared) {
            kivo(multi).prepareRender(&session.renderer);
            prepared = true;
        }
        kivo(multi).frameBegin(&session.renderer);
    }
    KUtils::TextureInterface& texture() {
        return *static_cast<KUtils::TextureInterface*>(multi->getInterface(KUtils::EXT_TEXTURE));
    }
    static KUtils::KivoPluginInterface& kivo(PluginBase* plugin) {
        return *static_cast<KUtils::KivoPluginInterface*>(
            plugin->getInterface(KUtils::EXT_KIVO_PLUGIN));
    }
    AColor eval(const KUtils::ShadingContext& sc) {
        AColor c;
        texture().evalColor(c, sc);
        return c;
    }

    PluginBase* multi;
    bool prepared = false;
};

using kivohost::ColorTexture;
using kivohost::LinkedTexture;
using KUtils::ParamValue;
using KUtils::ShadingContext;

PluginBase* base(PluginBase* p) {
    return p;
}

const AColor RED{1, 0, 0, 1};
const AColor GREEN{0, 1, 0, 1};
const Vector4f UP{0, 0, 1, 0};
const Vector4f DOWN{0, 0, -1, 0};
const Vector4f ORIGIN{0, 0, 0, 0};

// Red is projected from (0, 0, 10) and green from (0, 6, 8), relative to a scene origin at
// (100, 0, 0); seen from the origin with the normal up, red is 10 away straight above
// (f = 1, weight 0.1) and green 10 away at f = 0.8 (weight 0.08).
class MultiProjectionTwoCentres : public ::testing::Test {
protected:
    MultiProjectionTwoCentres() {
        scene.session.frame.sceneOrigin = {100, 0, 0};
        red = scene.linked(RED, scene.projection({100, 0, 10}));
        green = scene.linked(GREEN, scene.projection({100, 6, 8}));
        scene.setList(scene.multi, "color_textures", {base(red), base(green)});
    }

    ColorTexture depth10{AColor{10, 10, 10, 1}};
    ColorTexture depth12{AColor{12, 12, 12, 1}};
    MultiScene scene;
    LinkedTexture* red;
    LinkedTexture* green;
};

TEST_F(MultiProjectionTwoCentres, WeighsEachCentreByFacingDistanceAndDepth) {
    const float g5 = (3.0f / std::sqrt(45.0f)) / std::sqrt(45.0f);
    const float r12 = 1.0f / 40.02f;
    const AColor mean{5.0f / 9, 4.0f / 9, 0, 1}, none{0, 0, 0, 0};
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<ParamValue> no, d10{base(&depth10)}, d12{base(&depth12)};
    const struct {
        const char* what;
        std::vector<ParamValue> depths;
        float offset; // NaN: the default
        Vector4f point, normal;
        int backSide;
        AColor expected;
        std::uint64_t depthEvaluations;
    } rows[] = {
        // clang-format off
        {"no depth: (0.1 red + 0.08 green) / 0.18", no, nan, ORIGIN, UP, 0, mean, 0},
        // From (0, 0, 5): red 5 above (0.2), green sqrt(45) away at f = 3 / sqrt(45).
        {"nearer to red", no, nan, {0, 0, 5, 0}, UP, 0,
         {0.2f / (0.2f + g5), g5 / (0.2f + g5), 0, 1}, 0},
        {"both centres behind", no, nan, ORIGIN, DOWN, 0, none, 0},
        {"back side flips the facing", no, nan, ORIGIN, DOWN, 1, mean, 0},
        {"back side facing up", no, nan, ORIGIN, UP, 1, none, 0},
        // Red's depth is the true distance; green has none (the list is shorter): red weighs
        // 1 / (0.01 + 0.01) by the default offset.
        {"matching depth", d10, nan, ORIGIN, UP, 0, {50 / 50.08f, 0.08f / 50.08f, 0, 1}, 1},
        // Recorded 12 at a true distance of 10: 1 / (0.02 + 10 * 2^2).
        {"disagreeing depth", d12, nan, ORIGIN, UP, 0,
         {r12 / (r12 + 0.08f), 0.08f / (r12 + 0.08f), 0, 1}, 1},
        {"no depth evaluated behind a centre faced away", d12, nan, ORIGIN, DOWN, 0, none, 0},
        // At red's centre, facing down, only green (above) is weighted.
        {"at a centre", d12, nan, {0, 0, 10, 0}, DOWN, 0, {0, 1, 0, 1}, 1},
        {"empty and non-texture depth entries", {base(nullptr), scene.projection({0, 0, 0})},
         nan, ORIGIN, UP, 0, mean, 0},
        {"offset 0.49: 1 / 0.5", d10, 0.49f, ORIGIN, UP, 0, {2 / 2.08f, 0.08f / 2.08f, 0, 1}, 1},
        // Below -0.01 the offset term is 0 and the 1e-6 floor is left.
        {"offset -0.5", d10, -0.5f, ORIGIN, UP, 0,
         {1e6f / (1e6f + 0.08f), 0.08f / (1e6f + 0.08f), 0, 1}, 1},
        {"offset -0.5 with disagreeing depth", d12, -0.5f, ORIGIN, UP, 0,
         {0.025f / (0.025f + 0.08f), 0.08f / (0.025f + 0.08f), 0, 1}, 1},
        // clang-format on
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        scene.setList(scene.multi, "zdepth_textures", r.depths);
        if (!std::isnan(r.offset)) {
            setParam(scene.multi, "zdepth_offset", r.offset);
        }
        scene.beginFrame();
        for (kivohost::TextureRecord* depth : {&depth10, &depth12}) {
            depth->resetEvaluations();
        }
        red->resetEvaluations();
        green->resetEvaluations();
        ShadingContext sc = scene.context(r.point, r.normal);
        sc.backSide = r.backSide;
        const AColor c = scene.eval(sc);
        expectColor(c, r.expected.r, r.expected.g, r.expected.b, r.expected.a);
        // Every colour texture is evaluated, even at weight 0.
        EXPECT_EQ(red->evaluations(), 1u);
        EXPECT_EQ(green->evaluations(), 1u);
        EXPECT_EQ(depth10.evaluations() + depth12.evaluations(), r.depthEvaluations);
    }

    // With red alone nothing is weighted at its centre: zero, not NaN.
    scene.setList(scene.multi, "color_textures", {base(red)});
    scene.setList(scene.multi, "zdepth_textures", {base(&depth12)});
    scene.beginFrame();
    expectColor(scene.eval(scene.context({0, 0, 10, 0}, DOWN)), 0, 0, 0, 0);
    scene.setList(scene.multi, "zdepth_textures", {});
    scene.beginFrame();
    expectColor(scene.eval(scene.context({0, 0, 10, 0})), 0, 0, 0, 0);
}

TEST(TexMultiProjection, AnUnfoundProjectionCentresAtTheSceneOrigin) {
    MultiScene scene;
    scene.session.frame.sceneOrigin = {100, 0, 0};
    // Red has no projection behind it: its centre is the scene origin. Green is projected
    // from (-5, 0, 10) relative to it.
    LinkedTexture* red = scene.linked(RED);
    LinkedTexture* green = scene.linked(GREEN, scene.projection({95, 0, 10}));
    // Empty entries, plugins that are not textures and the texture itself (which would
    // evaluate itself without end; the log says so) are skipped.
    scene.setList(
        scene.multi, "color_textures",
        {base(nullptr), base(red), scene.projection({0, 0, 0}), base(green), scene.multi});
    scene.setList(scene.multi, "zdepth_textures",
                  {base(nullptr), base(nullptr), base(nullptr), base(nullptr), scene.multi});
    scene.beginFrame();
    ASSERT_EQ(scene.session.log.lines().size(), 2u);
    EXPECT_NE(scene.session.log.lines()[0].find("lists itself in color_textures"),
              std::string::npos);
    // At (3, 0, 4) facing -x: the origin is 5 away at f = 0.6 (weight 0.12), green's centre
    // 10 away at f = 0.8 (weight 0.08).
    expectColor(scene.eval(scene.context({3, 0, 4, 0}, {-1, 0, 0, 0})), 0.6f, 0.4f, 0, 1);
}

TEST(TexMultiProjection, TheColourRangeSpansEveryColourTexture) {
    MultiScene scene;
    AColor low{5, 5, 5, 5};
    AColor high{5, 5, 5, 5};
    // Without colour textures, or with empty entries only, colour and range are zero.
    for (const std::vector<ParamValue>& empty :
         {std::vector<ParamValue>{}, std::vector<ParamValue>{base(nullptr), base(nullptr)}}) {
        scene.setList(scene.multi, "color_textures", empty);
        scene.beginFrame();
        expectColor(scene.eval(scene.context(ORIGIN)), 0, 0, 0, 0);
        scene.texture().getColorRange(low, high);
        expectColor(low, 0, 0, 0, 0);
        expectColor(high, 0, 0, 0, 0);
    }

    ColorTexture wide([](const ShadingContext&) { return AColor{}; }, AColor{-1, 0.2f, 0, 0},
                      AColor{0.5f, 2, 0.9f, 1}, "");
    // The first texture found sets both ends, the later ones widen them, each lane apart.
    LinkedTexture* first = scene.linked({0.25f, 0.5f, 0.75f, 0.5f});
    scene.setList(scene.multi, "color_textures", {base(nullptr), base(first)});
    scene.beginFrame();
    scene.texture().getColorRange(low, high);
    expectColor(low, 0.25f, 0.5f, 0.75f, 0.5f);
    expectColor(high, 0.25f, 0.5f, 0.75f, 0.5f);
    scene.setList(scene.multi, "color_textures",
                  {base(nullptr), base(first), base(&wide), base(scene.linked(RED))});
    scene.beginFrame();
    scene.texture().getColorRange(low, high);
    expectColor(low, -1, 0, 0, 0);
    expectColor(high, 1, 2, 0.9f, 1);
}

// A repeated request (same slot and stamp, on a thread with a cache) is served from the
// thread's cache; a cache that cannot grow leaves the colour uncached; every frame starts with
// empty caches and rereads its inputs.
TEST_F(MultiProjectionTwoCentres, ColourCachesPerThreadSlotAndFrame) {
    scene.setList(scene.multi, "zdepth_textures", {base(&depth10)});
    scene.beginFrame();
    const ShadingContext sc = scene.context(ORIGIN);
    const AColor first = scene.eval(sc);
    // Same slot and stamp: the cached colour, no texture evaluated, even at another point and
    // with the UVW generators' bypass bit, which does not concern textures.
    ShadingContext elsewhere = sc;
    elsewhere.shadingPoint = {0, 0, 5, 0};
    elsewhere.flags = KUtils::SC_FLAG_BYPASS_UVW_CACHE;
    const AColor again = scene.eval(elsewhere);
    EXPECT_EQ(std::memcmp(&first, &again, sizeof first), 0);
    EXPECT_EQ(red->evaluations(), 1u);
    EXPECT_EQ(depth10.evaluations(), 1u);

    // Another slot, another stamp: evaluated; slot 3 keeps its own entry.
    ShadingContext slot = sc;
    slot.evalSlot = 3;
    ShadingContext stamp = sc;
    stamp.evalStamp = 2;
    for (const ShadingContext& c : {slot, stamp, slot}) {
        scene.eval(c);
    }
    EXPECT_EQ(red->evaluations(), 3u);
    EXPECT_EQ(depth10.evaluations(), 3u);

    // Never cached: the texture bypass bit, a thread without a cache, a negative thread index
    // or slot, no stamp.
    std::vector<ShadingContext> uncached(5, stamp);
    uncached[0].flags = KUtils::SC_FLAG_BYPASS_TEXTURE_CACHE;
    uncached[1].threadData.threadIndex = 1;
    uncached[2].threadData.threadIndex = -1;
    uncached[3].evalSlot = -1;
    uncached[4].evalStamp = 0;
    for (const ShadingContext& c : uncached) {
        scene.eval(c);
        scene.eval(c);
    }
    EXPECT_EQ(red->evaluations(), 13u);

    // Growing a cache without memory leaves the colour uncached and keeps what is stored.
    ShadingContext far = stamp;
    far.evalSlot = 64;
    {
        kivohost::ScopedAllocFailure failing(0, -1);
        for (int i = 0; i < 2; ++i) {
            expectColor(scene.eval(far), first.r, first.g, first.b, first.a);
        }
        EXPECT_GE(failing.failures(), 2);
    }
    scene.eval(stamp);
    scene.eval(far);
    scene.eval(far);
    EXPECT_EQ(red->evaluations(), 16u);

    // Green's projection moves to (0, 0, 10) as well: equal weights, computed afresh.
    scene.setList(scene.multi, "zdepth_textures", {});
    setParam(green, "uvwgen", scene.projection({100, 0, 10}));
    scene.beginFrame();
    expectColor(scene.eval(sc), 0.5f, 0.5f, 0, 1);
    scene.eval(sc);
    EXPECT_EQ(red->evaluations(), 17u);
    // After the render the caches are gone and evaluations run uncached; the next frame
    // creates them again.
    MultiScene::kivo(scene.multi).finishRender(&scene.session.renderer);
    scene.eval(sc);
    scene.eval(sc);
    scene.setList(scene.multi, "color_textures", {base(green)});
    scene.beginFrame();
    expectColor(scene.eval(sc), 0, 1, 0, 1);
    scene.eval(sc);
    EXPECT_EQ(red->evaluations(), 19u);
    EXPECT_EQ(green->evaluations(), 20u);
}

TEST(MultiProjectionBlend, WeightRoundingAndAbsurdCacheSlots) {
    // The depth is scaled by 0.33333334, not divided by 3: 0.3 / 3 would round to 0.1.
    EXPECT_EQ(KUtils::recordedDepth({0.3f, 0, 0, 0}), 0.100000009f);
    // A distance below the floor divides by the floor.
    EXPECT_FLOAT_EQ(KUtils::facingWeight({1e-8f, 0.5f}), 500000.0f);

    // Absurd slots stay uncached without allocating.
    KUtils::ColorResultCache cache;
    const std::size_t before = kivohost::allocationCount();
    EXPECT_FALSE(cache.store(int(KUtils::kMaxCachedSlots), 5, {1, 1, 1, 1}));
    EXPECT_FALSE(cache.store(700000000, 5, {1, 1, 1, 1}));
    EXPECT_EQ(kivohost::allocationCount(), before);
    EXPECT_EQ(cache.size(), 0u);
    EXPECT_TRUE(cache.store(int(KUtils::kMaxCachedSlots) - 1, 5, {1, 1, 1, 1}));
}

// ---- Finding the projection behind a texture through the plugin graph -------------------

// The offset the search finds behind root (relative to the scene origin), or none.
void expectFound(PluginBase* root, std::optional<Vector4f> centre, const Vector3d& origin = {}) {
    KUtils::ProjectionSearch search(0.0, origin);
    KUtils::UVWTransform found;
    ASSERT_EQ(search.find(root, found), centre.has_value());
    if (centre) {
        EXPECT_TRUE(found.o.x == centre->x && found.o.y == centre->y && found.o.z == centre->z)
            << found.o.x << " " << found.o.y << " " << found.o.z;
    }
}

TEST(ProjectionSearch, AProjectionGivesItsCentreRelativeToTheSceneOrigin) {
    MultiScene scene;
    PluginBase* projection = scene.projection({}, 1);
    // uvw_transform maps world to projection space, p -> M p + o with M p = (-p.y, p.x, 2 p.z):
    // the centre, the point mapped to the origin, is -M^-1 o = (3, 16777216.5, -3.625). Far
    // from the origin a float cannot hold the half; the difference in double can.
    setParam(projection, "uvw_transform",
             Transform{{{0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 2, 0}}, {16777216.5, -3.0, 7.25}});
    KUtils::ProjectionSearch search(0.0, {3.0, 16777216.0, 0.0});
    KUtils::UVWTransform found;
    ASSERT_TRUE(search.find(projection, found));
    EXPECT_TRUE(found.c0.x == 0 && found.c0.y == 1 && found.c1.x == -1 && found.c2.z == 2);
    // Every type but 8 reads uvw_transform.
    for (int type : {0, 1, 2, 3, 4, 5, 6, 7, 9, 10}) {
        setParam(projection, "type", type);
        expectFound(projection, Vector4f{0.0f, 0.5f, -3.625f, 0}, {3.0, 16777216.0, 0.0});
    }
    // A singular M has no centre to solve for: its offset stands in.
    setParam(projection, "uvw_transform",
             Transform{{{1, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 1, 0}}, {1.0, 2.0, 3.0}});
    expectFound(projection, Vector4f{1, 2, 3, 0});

    // A perspective projection gives its camera view's transform.
    PluginBase* perspective = scene.projection({50, 50, 50}, 8);
    setParam(perspective, "camera_view", scene.view(Transform{{}, {11, 12, 13}}));
    expectFound(perspective, Vector4f{1, 2, 3, 0}, {10, 10, 10});
    // Without a camera view, or with one that has no "transform" or no parameters, the
    // projection gives nothing, and the search goes on to the next input.
    PluginBase* blind = scene.projection({1, 2, 3}, 8);
    PluginBase* odd = scene.projection({1, 2, 3}, 8);
    setParam(odd, "camera_view", base(scene.linked({})));
    ColorTexture bare{AColor{}};
    PluginBase* bareView = scene.projection({1, 2, 3}, 8);
    setParam(bareView, "camera_view", base(&bare));
    for (PluginBase* p : {blind, odd, bareView}) {
        expectFound(p, {});
    }
    LinkedTexture* texture = scene.linked({});
    scene.setList(texture, "inputs", {blind, odd, scene.projection({4, 5, 6})});
    expectFound(texture, Vector4f{4, 5, 6, 0});
}

TEST(ProjectionSearch, FindsTheFirstProjectionDepthFirstBehindPluginsAndLists) {
    MultiScene scene;
    const Vector4f first{1, 0, 0, 0};
    PluginBase* a = scene.projection({1, 0, 0});
    PluginBase* b = scene.projection({2, 0, 0});
    PluginBase* c = scene.projection({3, 0, 0});
    LinkedTexture* one = scene.linked({}, a);
    LinkedTexture* two = scene.linked({});
    setParam(two, "input", base(one));
    expectFound(two, first);
    // Lists, skipping empty elements and dead ends; a list of one through its element.
    LinkedTexture* listed = scene.linked({});
    scene.setList(listed, "inputs", {base(nullptr), base(scene.linked({})), base(two)});
    expectFound(listed, first);
    LinkedTexture* single = scene.linked({});
    scene.setList(single, "inputs", {base(one)});
    expectFound(single, first);
    expectFound(scene.linked({}), {});
    expectFound(nullptr, {});
    ColorTexture unparametrised{AColor{}};
    expectFound(&unparametrised, {});

    // Parameters in index order, the first (color) included: uvwgen (1) before input (2)
    // before inputs (3).
    LinkedTexture* viaColor = scene.linked({});
    setParam(viaColor, "color", base(one));
    expectFound(viaColor, first);
    LinkedTexture* byIndex = scene.linked({}, a);
    setParam(byIndex, "input", base(scene.linked({}, b)));
    expectFound(byIndex, first);
    // Depth first: the first list element's deep projection before the second element.
    LinkedTexture* deep = scene.linked({});
    setParam(deep, "input", base(scene.linked({}, b)));
    LinkedTexture* ordered = scene.linked({});
    scene.setList(ordered, "inputs", {base(deep), c});
    expectFound(ordered, Vector4f{2, 0, 0, 0});
    // An input met on two paths without a projection behind it does not end the search.
    LinkedTexture* deadEnd = scene.linked({});
    LinkedTexture* path = scene.linked({});
    setParam(path, "input", base(deadEnd));
    LinkedTexture* diamond = scene.linked({});
    scene.setList(diamond, "inputs", {base(path), base(deadEnd), c});
    expectFound(diamond, Vector4f{3, 0, 0, 0});
}

TEST(ProjectionSearch, ACycleEndsTheSearch) {
    MultiScene scene;
    LinkedTexture* self = scene.linked({});
    setParam(self, "input", base(self));
    expectFound(self, {});

    LinkedTexture* a = scene.linked({});
    LinkedTexture* b = scene.linked({});
    setParam(a, "input", base(b));
    scene.setList(b, "inputs", {base(a), base(b)});
    expectFound(a, {});

    // A projection beyond the cycle is still found.
    LinkedTexture* c = scene.linked({});
    setParam(c, "input", base(a));
    setParam(b, "input", base(c));
    setParam(c, "uvwgen", scene.projection({7, 8, 9}));
    expectFound(a, Vector4f{7, 8, 9, 0});

    // One search object serves several searches, each from scratch.
    KUtils::ProjectionSearch search(0.0, {});
    KUtils::UVWTransform found;
    EXPECT_TRUE(search.find(a, found));
    EXPECT_TRUE(search.find(b, found));
    EXPECT_FALSE(search.find(self, found));
    EXPECT_TRUE(search.find(c, found));
    EXPECT_EQ(found.o.z, 9.0f);

    // A colour texture leading back to the multi-projection texture itself still lets the
    // frame begin: no projection, so centred at the origin, 5 above the point.
    LinkedTexture* loop = scene.linked({1, 0, 0, 1});
    setParam(loop, "input", scene.multi);
    scene.setList(scene.multi, "color_textures", {base(loop)});
    scene.beginFrame();
    expectColor(scene.eval(scene.context({0, 0, -5, 0})), 1, 0, 0, 1);
}

} // namespace
