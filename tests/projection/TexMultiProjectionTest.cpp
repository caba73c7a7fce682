// TexMultiProjection as a renderer drives it: blend weights, projection centres found through
// the plugin graph, colour range and the per-thread colour caches.
#include "projection/ColorResultCache.h"
#include "projection/MultiProjectionBlend.h"
#include "projection/ProjectionSearch.h"
#include "scene/TextureStandIns.h"
#include "tests/projection/ProjectionScene.h"

#include <gtest/gtest.h>
#include <optional>

namespace {

using namespace testsupport;
using kivohost::ColorTexture;
using kivohost::LinkedTexture;

void expectColor(const AColor& c, float r, float g, float b, float a) {
    EXPECT_FLOAT_EQ(c.r, r);
    EXPECT_FLOAT_EQ(c.g, g);
    EXPECT_FLOAT_EQ(c.b, b);
    EXPECT_FLOAT_EQ(c.a, a);
}

// MultiProjection.json: red is projected from (0, 0, 10) and green from (0, 6, 8), relative to
// a scene origin at (100, 0, 0); seen from the origin with the normal up, red is 10 away
// straight above (f = 1, weight 0.1) and green 10 away at f = 0.8 (weight 0.08).
class MultiProjection : public ::testing::Test {
protected:
    MultiProjection() {
        scene.session.frame.sceneOrigin = {100, 0, 0};
        scene.host.prepareRender();
    }

    // Frame data and frameBegin of every instance, the TexMultiProjections last.
    void beginFrame() { scene.host.beginFrame(); }
    KUtils::TextureInterface& texture() {
        return *static_cast<KUtils::TextureInterface*>(multi->getInterface(KUtils::EXT_TEXTURE));
    }
    AColor eval(const KUtils::ShadingContext& sc) {
        AColor c;
        texture().evalColor(c, sc);
        return c;
    }
    void setList(const char* name, const std::vector<ParamValue>& elements) {
        ProjectionScene::setList(multi, name, elements);
    }

    ProjectionScene scene{"MultiProjection.json"};
    PluginBase* multi = scene["multi"];
    LinkedTexture* red = scene.linked("red");
    LinkedTexture* green = scene.linked("green");
    LinkedTexture* depth10 = scene.linked("depth10");
};

PluginBase* base(PluginBase* p) {
    return p;
}

// Blend weights by facing, distance, recorded depth and depth offset; which requests the
// per-thread colour caches serve; the colour range.
TEST(MultiProjectionCases, WeighEachCentreByFacingDistanceAndDepth) {
    expectCases("MultiProjection.json", "MultiProjectionCases.json", 21);
}

TEST_F(MultiProjection, AnUnfoundProjectionCentresAtTheSceneOrigin) {
    // A frame with the file's two colour textures first, so that the lists below grow the
    // arrays a frame has filled.
    beginFrame();
    // Red has no projection behind it: its centre is the scene origin. Green is projected
    // from (-5, 0, 10) relative to it.
    // Empty entries, plugins that are not textures and the texture itself (which would
    // evaluate itself without end; the log says so) are skipped, in either list.
    setList("color_textures", {base(nullptr), scene["unprojected_red"], scene["above"],
                               scene["farther_green"], multi});
    setList("zdepth_textures",
            {base(nullptr), scene["above"], base(nullptr), base(nullptr), multi});
    beginFrame();
    ASSERT_EQ(scene.session.log.lines().size(), 2u);
    EXPECT_NE(scene.session.log.lines()[0].find("lists itself in color_textures"),
              std::string::npos);
    // At (3, 0, 4) facing -x: the origin is 5 away at f = 0.6 (weight 0.12), green's centre
    // 10 away at f = 0.8 (weight 0.08).
    expectColor(eval(scene.context({3, 0, 4, 0}, {-1, 0, 0, 0})), 0.6f, 0.4f, 0, 1);

    // A colour texture leading back to the texture itself still lets the frame begin: no
    // projection, so centred at the origin, 5 above the point.
    setParam(scene["unprojected_red"], "input", multi);
    setList("color_textures", {scene["unprojected_red"]});
    beginFrame();
    expectColor(eval(scene.context({0, 0, -5, 0})), 1, 0, 0, 1);
}

// A cache that cannot grow leaves the colour uncached and keeps what is stored; every frame
// starts with empty caches and rereads its inputs. (Which requests a cache serves: the cases.)
TEST_F(MultiProjection, ColourCachesFailToGrowAndEndWithTheFrame) {
    setList("zdepth_textures", {base(depth10)});
    beginFrame();
    const ShadingContext sc = scene.context({0, 0, 0, 0});
    const AColor first = eval(sc);
    ShadingContext far = sc;
    far.evalSlot = 64;
    far.evalStamp = 2;
    {
        kivohost::ScopedAllocFailure failing(0, -1);
        for (int i = 0; i < 2; ++i) {
            expectColor(eval(far), first.r, first.g, first.b, first.a);
        }
        EXPECT_GE(failing.failures(), 2);
    }
    eval(sc);
    eval(far);
    eval(far);
    EXPECT_EQ(red->evaluations(), 4u);

    // Green's projection moves to (0, 0, 10) as well: equal weights, computed afresh.
    setList("zdepth_textures", {});
    setParam(green, "uvwgen", scene["above"]);
    beginFrame();
    expectColor(eval(sc), 0.5f, 0.5f, 0, 1);
    eval(sc);
    EXPECT_EQ(red->evaluations(), 5u);
    // After the render the caches are gone and evaluations run uncached; the next frame
    // creates them again.
    static_cast<KivoPluginInterface*>(multi->getInterface(EXT_KIVO_PLUGIN))
        ->finishRender(&scene.session.renderer);
    eval(sc);
    eval(sc);
    setList("color_textures", {base(green)});
    beginFrame();
    expectColor(eval(sc), 0, 1, 0, 1);
    eval(sc);
    EXPECT_EQ(red->evaluations(), 7u);
    EXPECT_EQ(green->evaluations(), 8u);
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

// The graphs of ProjectionSearch.json.
TEST(ProjectionSearch, FindsTheFirstProjectionDepthFirstThroughTheGraph) {
    ProjectionScene scene("ProjectionSearch.json");
    // "turned" maps world to projection space by p -> M p + o with M p = (-p.y, p.x, 2 p.z):
    // the centre, the point mapped to the origin, is -M^-1 o = (3, 16777216.5, -3.625). Far
    // from the origin a float cannot hold the half; the difference in double can.
    const Vector3d farOrigin{3.0, 16777216.0, 0.0};
    KUtils::ProjectionSearch search(0.0, farOrigin);
    KUtils::UVWTransform found;
    ASSERT_TRUE(search.find(scene["turned"], found));
    EXPECT_TRUE(found.c0.x == 0 && found.c0.y == 1 && found.c1.x == -1 && found.c2.z == 2);
    // Every type but 8 reads uvw_transform.
    for (int type : {0, 1, 2, 3, 4, 5, 6, 7, 9, 10}) {
        setParam(scene["turned"], "type", type);
        expectFound(scene["turned"], Vector4f{0.0f, 0.5f, -3.625f, 0}, farOrigin);
    }
    // A perspective projection gives its camera view's transform.
    expectFound(scene["perspective"], Vector4f{1, 2, 3, 0}, {10, 10, 10});
    // Camera views that are not cameras (a renderer does not check): one without "transform",
    // one without parameters. A plugin without parameters leads nowhere either.
    ColorTexture bare{AColor{}};
    setParam(scene["odd"], "camera_view", scene["empty"]);
    setParam(scene["bare_view"], "camera_view", base(&bare));
    ProjectionScene::setList(scene["after_blind"], "inputs",
                             {scene["blind"], scene["odd"], scene["p456"]});
    expectFound(&bare, {});
    expectFound(nullptr, {});

    const Vector4f first{1, 0, 0, 0};
    const struct {
        const char* root;
        std::optional<Vector4f> centre;
    } rows[] = {
        // A singular M has no centre to solve for: its offset stands in.
        {"singular", Vector4f{1, 2, 3, 0}},
        // Without a camera view, or with one that has no "transform" or no parameters, a
        // perspective projection gives nothing, and the search goes on to the next input.
        {"blind", {}},
        {"odd", {}},
        {"bare_view", {}},
        {"after_blind", Vector4f{4, 5, 6, 0}},
        // Lists, skipping empty elements and dead ends; a list of one through its element.
        {"two", first},
        {"listed", first},
        {"single", first},
        {"empty", {}},
        // Parameters in index order, the first (color) included: uvwgen (1) before input (2)
        // before inputs (3).
        {"via_color", first},
        {"by_index", first},
        // Depth first: the first list element's deep projection before the second element.
        {"ordered", Vector4f{2, 0, 0, 0}},
        // An input met on two paths without a projection behind it does not end the search.
        {"diamond", Vector4f{3, 0, 0, 0}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.root);
        expectFound(scene[r.root], r.centre);
    }

    // A cycle ends the search; a projection beyond it is still found.
    PluginBase* self = scene["self"];
    PluginBase* a = scene["ring_a"];
    PluginBase* b = scene["ring_b"];
    setParam(self, "input", self);
    expectFound(self, {});
    setParam(a, "input", b);
    ProjectionScene::setList(b, "inputs", {a, b});
    expectFound(a, {});
    setParam(b, "input", scene["ring_c"]);
    expectFound(a, Vector4f{7, 8, 9, 0});

    // One search object serves several searches, each from scratch.
    KUtils::ProjectionSearch again(0.0, {});
    EXPECT_TRUE(again.find(a, found));
    EXPECT_TRUE(again.find(b, found));
    EXPECT_FALSE(again.find(self, found));
    EXPECT_TRUE(again.find(scene["ring_c"], found));
    EXPECT_EQ(found.o.z, 9.0f);
}

} // namespace
