// TexMultiProjection as a renderer drives it: descriptor, blend weights, projection centres,
// colour range and the per-thread colour cache.
#include "TexMultiProjectionScene.h"
#include "scene/TextureStandIns.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

namespace {

using namespace multitest;
using kivohost::ColorTexture;
using kivohost::LinkedTexture;
using KUtils::ParamType;
using KUtils::ShadingContext;

PluginBase* base(PluginBase* p) {
    return p;
}

const AColor RED{1, 0, 0, 1};
const AColor GREEN{0, 1, 0, 1};
const Vector4f UP{0, 0, 1, 0};
const Vector4f DOWN{0, 0, -1, 0};
const Vector4f ORIGIN{0, 0, 0, 0};

TEST(TexMultiProjectionDesc, DescribesTheTextureAndItsParameters) {
    KUtils::TexMultiProjectionDesc& desc = multiDesc();
    EXPECT_STREQ(desc.getName(), "TexMultiProjection");
    EXPECT_EQ(desc.getPluginID(), 2012061879u);
    EXPECT_STREQ(desc.getDescription(),
                 "Allows you to blend multiple projection textures together into a spherical "
                 "projection. Pairs of RGB and ZDepth spherical textures are required for this "
                 "feature to work correctly. The pairs are added as camera projections and need "
                 "to be linked to the cameras that were used to originally render the textures. "
                 "[gpuSupport=(none)]");
    EXPECT_TRUE(desc.supportsInterface(KUtils::EXT_KIVO_PLUGIN));
    EXPECT_TRUE(desc.supportsInterface(KUtils::EXT_TEXTURE));
    EXPECT_FALSE(desc.supportsInterface(KUtils::EXT_UVWGEN));
    EXPECT_FALSE(desc.supportsInterface(0));

    const KUtils::KivoParameterListDesc* p = desc.getParamListDesc();
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->getNumParamDefs(), 3);
    struct Def {
        const char* name;
        ParamType type;
        int count;
        const char* description;
    };
    const Def defs[] = {
        {"color_textures", ParamType::Texture, 0,
         "The spherical projection textures; must be using a UVWGenProjection"},
        {"zdepth_offset", ParamType::Float, -1,
         "An offset for the zdepth value to avoid numeric errors"},
        {"zdepth_textures", ParamType::Texture, 0, "The z-depth projection textures"},
    };
    for (int i = 0; i < 3; ++i) {
        EXPECT_STREQ(p->getParamDefName(i), defs[i].name);
        EXPECT_EQ(p->getParamDefType(i), defs[i].type) << defs[i].name;
        EXPECT_EQ(p->getParamDefCount(i), defs[i].count) << defs[i].name;
        EXPECT_STREQ(p->getParamDefDescription(i), defs[i].description);
        EXPECT_STREQ(p->getParamDefHints(i), "") << defs[i].name;
    }

    Scene scene;
    EXPECT_FLOAT_EQ(Scene::kivo(scene.multi).getParameter("zdepth_offset")->getFloat(0, 0.0),
                    0.01f);
    KUtils::PluginInterface* texture = scene.multi->getInterface(KUtils::EXT_TEXTURE);
    ASSERT_NE(texture, nullptr);
    EXPECT_STREQ(texture->getInterfaceName(), "EXT_TEXTURE");
    EXPECT_EQ(texture->getPlugin(), scene.multi);
    EXPECT_EQ(Scene::kivo(scene.multi).getPlugin(), scene.multi);
    EXPECT_EQ(scene.multi->getInterface(KUtils::EXT_UVWGEN), nullptr);
    EXPECT_EQ(scene.multi->getInterface(KUtils::EXT_RTTEX), nullptr);
}

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
    void resetCounts() {
        red->resetEvaluations();
        green->resetEvaluations();
    }

    ColorTexture depth10{AColor{10, 10, 10, 1}};
    ColorTexture depth12{AColor{12, 12, 12, 1}};
    Scene scene;
    LinkedTexture* red;
    LinkedTexture* green;
};

TEST_F(MultiProjectionTwoCentres, WithoutDepthTexturesEachCentreWeighsFacingOverDistance) {
    scene.beginFrame();
    // (0.1 red + 0.08 green) / 0.18.
    expectColor(scene.eval(scene.context(ORIGIN, UP)), 5.0f / 9.0f, 4.0f / 9.0f, 0, 1);
    EXPECT_EQ(red->evaluations(), 1u);
    EXPECT_EQ(green->evaluations(), 1u);

    // From (0, 0, 5): red 5 away straight above (0.2), green sqrt(45) away at f = 3/sqrt(45)
    // (weight 3/45).
    ShadingContext sc = scene.context({0, 0, 5, 0}, UP);
    sc.evalStamp = 2;
    const float g = (3.0f / std::sqrt(45.0f)) / std::sqrt(45.0f);
    expectColor(scene.eval(sc), 0.2f / (0.2f + g), g / (0.2f + g), 0, 1);
}

TEST_F(MultiProjectionTwoCentres, TheBackSideFlipsTheFacing) {
    scene.beginFrame();
    // With the normal down both centres lie behind the surface: nothing is weighted, though
    // every colour texture is still evaluated.
    expectColor(scene.eval(scene.context(ORIGIN, DOWN)), 0, 0, 0, 0);
    EXPECT_EQ(red->evaluations(), 1u);
    EXPECT_EQ(green->evaluations(), 1u);

    ShadingContext back = scene.context(ORIGIN, DOWN);
    back.backSide = 1;
    back.evalStamp = 2;
    expectColor(scene.eval(back), 5.0f / 9.0f, 4.0f / 9.0f, 0, 1);

    ShadingContext backUp = scene.context(ORIGIN, UP);
    backUp.backSide = 1;
    backUp.evalStamp = 3;
    expectColor(scene.eval(backUp), 0, 0, 0, 0);
}

TEST_F(MultiProjectionTwoCentres, AMatchingDepthWeighsFacingOverTheOffset) {
    // Red's depth texture records the true distance 10; green has none (the depth list is
    // shorter) and keeps f / L = 0.08.
    scene.setList(scene.multi, "zdepth_textures", {base(&depth10)});
    scene.beginFrame();
    // Default offset 0.01: red weighs 1 / 0.02 = 50.
    expectColor(scene.eval(scene.context(ORIGIN, UP)), 50.0f / 50.08f, 0.08f / 50.08f, 0, 1);
    EXPECT_EQ(depth10.evaluations(), 1u);

    scene.set(scene.multi, "zdepth_offset", 0.49f);
    scene.beginFrame();
    // 1 / 0.5 = 2.
    expectColor(scene.eval(scene.context(ORIGIN, UP)), 2.0f / 2.08f, 0.08f / 2.08f, 0, 1);

    // Below -0.01 the offset term is 0 and the 1e-6 floor is left: 1 / 1e-6.
    scene.set(scene.multi, "zdepth_offset", -0.5f);
    scene.beginFrame();
    const AColor floored = scene.eval(scene.context(ORIGIN, UP));
    EXPECT_FLOAT_EQ(floored.r, 1e6f / (1e6f + 0.08f));
    EXPECT_FLOAT_EQ(floored.g, 0.08f / (1e6f + 0.08f));
}

TEST_F(MultiProjectionTwoCentres, ADisagreeingDepthWeighsLess) {
    // Recorded 12 at a true distance of 10: 1 / (0.02 + 10 * 2^2).
    scene.setList(scene.multi, "zdepth_textures", {base(&depth12)});
    scene.beginFrame();
    const float r = 1.0f / 40.02f;
    expectColor(scene.eval(scene.context(ORIGIN, UP)), r / (r + 0.08f), 0.08f / (r + 0.08f), 0, 1);

    // A depth texture behind a centre the surface faces away from is not evaluated.
    depth12.resetEvaluations();
    ShadingContext away = scene.context(ORIGIN, DOWN);
    away.evalStamp = 2;
    expectColor(scene.eval(away), 0, 0, 0, 0);
    EXPECT_EQ(depth12.evaluations(), 0u);
}

TEST_F(MultiProjectionTwoCentres, EmptyAndNonTextureDepthEntriesMeanNoDepth) {
    // Green's entry is a projection, not a texture; red's is empty.
    scene.setList(scene.multi, "zdepth_textures", {base(nullptr), scene.projection({0, 0, 0})});
    scene.beginFrame();
    expectColor(scene.eval(scene.context(ORIGIN, UP)), 5.0f / 9.0f, 4.0f / 9.0f, 0, 1);
}

TEST_F(MultiProjectionTwoCentres, APointAtACentreGivesNoWeightToIt) {
    scene.setList(scene.multi, "zdepth_textures", {base(&depth12)});
    scene.beginFrame();
    // At red's centre with the normal down, green lies above the surface.
    const AColor c = scene.eval(scene.context({0, 0, 10, 0}, DOWN));
    expectColor(c, 0, 1, 0, 1);
    EXPECT_EQ(depth12.evaluations(), 1u);

    // With red alone nothing is weighted: zero, not NaN.
    scene.setList(scene.multi, "color_textures", {base(red)});
    scene.beginFrame();
    const AColor alone = scene.eval(scene.context({0, 0, 10, 0}, DOWN));
    expectColor(alone, 0, 0, 0, 0);
    scene.setList(scene.multi, "zdepth_textures", {});
    scene.beginFrame();
    expectColor(scene.eval(scene.context({0, 0, 10, 0}, UP)), 0, 0, 0, 0);
}

TEST(TexMultiProjection, AnUnfoundProjectionCentresAtTheSceneOrigin) {
    Scene scene;
    scene.session.frame.sceneOrigin = {100, 0, 0};
    // Red has no projection behind it: its centre is the scene origin. Green is projected
    // from (-5, 0, 10) relative to it.
    LinkedTexture* red = scene.linked(RED);
    LinkedTexture* green = scene.linked(GREEN, scene.projection({95, 0, 10}));
    // Empty entries and plugins that are not textures are skipped.
    scene.setList(scene.multi, "color_textures",
                  {base(nullptr), base(red), scene.projection({0, 0, 0}), base(green)});
    scene.beginFrame();
    // At (3, 0, 4) facing -x: the origin is 5 away at f = 0.6 (weight 0.12), green's centre
    // 10 away at f = 0.8 (weight 0.08).
    expectColor(scene.eval(scene.context({3, 0, 4, 0}, {-1, 0, 0, 0})), 0.6f, 0.4f, 0, 1);
}

TEST(TexMultiProjection, ACentreBehindTwoPluginsAndAListIsFound) {
    Scene scene;
    // Red is linked to a texture whose list holds a texture driven by the projection.
    LinkedTexture* inner = scene.linked(GREEN, scene.projection({0, 0, 10}));
    LinkedTexture* middle = scene.linked(GREEN);
    scene.setList(middle, "inputs", {base(scene.linked(GREEN)), base(inner)});
    LinkedTexture* red = scene.linked(RED);
    scene.set(red, "input", base(middle));
    LinkedTexture* green = scene.linked(GREEN);
    scene.setList(scene.multi, "color_textures", {base(red), base(green)});
    scene.beginFrame();
    // From (0, 0, 5) facing up, red's centre is 5 above (weight 0.2); green has none, and the
    // scene origin lies behind the surface.
    expectColor(scene.eval(scene.context({0, 0, 5, 0}, UP)), 1, 0, 0, 1);
    // From (0, 0, -5) facing up: red 15 above (1/15), the origin 5 above (0.2).
    ShadingContext below = scene.context({0, 0, -5, 0}, UP);
    below.evalStamp = 2;
    const float r = 1.0f / 15.0f;
    expectColor(scene.eval(below), r / (r + 0.2f), 0.2f / (r + 0.2f), 0, 1);
}

TEST(TexMultiProjection, WithoutColourTexturesTheColourAndRangeAreZero) {
    Scene scene;
    scene.beginFrame();
    expectColor(scene.eval(scene.context(ORIGIN, UP)), 0, 0, 0, 0);
    AColor low{5, 5, 5, 5};
    AColor high{5, 5, 5, 5};
    scene.texture().getColorRange(low, high);
    expectColor(low, 0, 0, 0, 0);
    expectColor(high, 0, 0, 0, 0);

    // Only empty entries: the same.
    scene.setList(scene.multi, "color_textures", {base(nullptr), base(nullptr)});
    scene.beginFrame();
    expectColor(scene.eval(scene.context(ORIGIN, UP)), 0, 0, 0, 0);
    scene.texture().getColorRange(low, high);
    expectColor(low, 0, 0, 0, 0);
    expectColor(high, 0, 0, 0, 0);
}

TEST(TexMultiProjection, TheColourRangeSpansEveryColourTexture) {
    Scene scene;
    ColorTexture wide([](const ShadingContext&) { return AColor{}; }, AColor{-1, 0.2f, 0, 0},
                      AColor{0.5f, 2, 0, 1}, "");
    LinkedTexture* first = scene.linked({0.25f, 0.5f, 0.75f, 0.5f});
    scene.setList(scene.multi, "color_textures", {base(first)});
    scene.beginFrame();
    AColor low;
    AColor high;
    scene.texture().getColorRange(low, high);
    expectColor(low, 0.25f, 0.5f, 0.75f, 0.5f);
    expectColor(high, 0.25f, 0.5f, 0.75f, 0.5f);

    scene.setList(scene.multi, "color_textures",
                  {base(nullptr), base(first), base(&wide), base(scene.linked(RED))});
    scene.beginFrame();
    scene.texture().getColorRange(low, high);
    expectColor(low, -1, 0, 0, 0);
    expectColor(high, 1, 2, 0.75f, 1);
}

TEST_F(MultiProjectionTwoCentres, ARepeatedRequestIsServedFromTheThreadsCache) {
    scene.setList(scene.multi, "zdepth_textures", {base(&depth10)});
    scene.beginFrame();
    const ShadingContext sc = scene.context(ORIGIN, UP);
    const AColor first = scene.eval(sc);
    EXPECT_EQ(red->evaluations(), 1u);
    EXPECT_EQ(depth10.evaluations(), 1u);

    // Same slot and stamp: the cached colour, no texture evaluated, even at another point.
    ShadingContext elsewhere = sc;
    elsewhere.shadingPoint = {0, 0, 5, 0};
    const AColor again = scene.eval(elsewhere);
    EXPECT_EQ(std::memcmp(&first, &again, sizeof first), 0);
    EXPECT_EQ(red->evaluations(), 1u);
    EXPECT_EQ(green->evaluations(), 1u);
    EXPECT_EQ(depth10.evaluations(), 1u);

    // Another slot, another stamp: evaluated.
    ShadingContext slot = sc;
    slot.evalSlot = 3;
    scene.eval(slot);
    EXPECT_EQ(red->evaluations(), 2u);
    ShadingContext stamp = sc;
    stamp.evalStamp = 2;
    scene.eval(stamp);
    EXPECT_EQ(red->evaluations(), 3u);
    EXPECT_EQ(depth10.evaluations(), 3u);
    // Slot 3 kept its own entry.
    scene.eval(slot);
    EXPECT_EQ(red->evaluations(), 3u);

    // The bypass flag evaluates every time.
    ShadingContext bypass = stamp;
    bypass.flags = KUtils::SC_FLAG_BYPASS_TEXTURE_CACHE;
    scene.eval(bypass);
    scene.eval(bypass);
    EXPECT_EQ(red->evaluations(), 5u);
    // A thread without a cache, or a context without a stamp, is never cached.
    ShadingContext otherThread = stamp;
    otherThread.threadData.threadIndex = 1;
    scene.eval(otherThread);
    scene.eval(otherThread);
    ShadingContext unstamped = stamp;
    unstamped.evalStamp = 0;
    scene.eval(unstamped);
    scene.eval(unstamped);
    EXPECT_EQ(red->evaluations(), 9u);
    EXPECT_EQ(green->evaluations(), 9u);
}

TEST_F(MultiProjectionTwoCentres, EveryFrameStartsWithEmptyCaches) {
    scene.beginFrame();
    const ShadingContext sc = scene.context(ORIGIN, UP);
    scene.eval(sc);
    scene.eval(sc);
    EXPECT_EQ(red->evaluations(), 1u);

    scene.beginFrame();
    expectColor(scene.eval(sc), 5.0f / 9.0f, 4.0f / 9.0f, 0, 1);
    EXPECT_EQ(red->evaluations(), 2u);

    // After the render the caches are gone and evaluations run uncached; the next frame
    // creates them again.
    Scene::kivo(scene.multi).finishRender(&scene.session.renderer);
    scene.eval(sc);
    scene.eval(sc);
    EXPECT_EQ(red->evaluations(), 4u);
    scene.beginFrame();
    scene.eval(sc);
    scene.eval(sc);
    EXPECT_EQ(red->evaluations(), 5u);
}

TEST_F(MultiProjectionTwoCentres, ACacheThatCannotGrowLeavesTheColourUncached) {
    scene.beginFrame();
    ShadingContext sc = scene.context(ORIGIN, UP);
    sc.evalSlot = 64;
    {
        kivohost::ScopedAllocFailure failing(0, -1);
        expectColor(scene.eval(sc), 5.0f / 9.0f, 4.0f / 9.0f, 0, 1);
        expectColor(scene.eval(sc), 5.0f / 9.0f, 4.0f / 9.0f, 0, 1);
        EXPECT_GE(failing.failures(), 2);
    }
    EXPECT_EQ(red->evaluations(), 2u);
    scene.eval(sc);
    scene.eval(sc);
    EXPECT_EQ(red->evaluations(), 3u);
}

TEST_F(MultiProjectionTwoCentres, EachFrameRereadsTheTexturesAndCentres) {
    scene.beginFrame();
    expectColor(scene.eval(scene.context(ORIGIN, UP)), 5.0f / 9.0f, 4.0f / 9.0f, 0, 1);
    // Green's projection moves to (0, 0, 10) as well: equal weights.
    PluginBase* moved = scene.projection({100, 0, 10});
    scene.set(green, "uvwgen", moved);
    scene.beginFrame();
    expectColor(scene.eval(scene.context(ORIGIN, UP)), 0.5f, 0.5f, 0, 1);
    scene.setList(scene.multi, "color_textures", {base(green)});
    scene.beginFrame();
    expectColor(scene.eval(scene.context(ORIGIN, UP)), 0, 1, 0, 1);
}

} // namespace
