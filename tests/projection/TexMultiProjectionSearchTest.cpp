// Finding the projection behind a texture through the plugin graph.
#include "TexMultiProjectionScene.h"
#include "projection/ProjectionSearch.h"
#include "scene/TextureStandIns.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

using namespace multitest;
using kivohost::LinkedTexture;
using KUtils::Matrix3x3f;
using KUtils::ProjectionSearch;
using KUtils::Transform;
using KUtils::UVWTransform;

PluginBase* base(PluginBase* p) {
    return p;
}

// The offset the search found, or NaN when it found nothing.
Vector4f foundCentre(PluginBase* root, const Vector3d& sceneOrigin = {}) {
    ProjectionSearch search(0.0, sceneOrigin);
    UVWTransform found;
    if (!search.find(root, found)) {
        const float nan = std::numeric_limits<float>::quiet_NaN();
        return {nan, nan, nan, nan};
    }
    return found.o;
}

void expectCentre(const Vector4f& c, float x, float y, float z) {
    EXPECT_EQ(c.x, x);
    EXPECT_EQ(c.y, y);
    EXPECT_EQ(c.z, z);
}

void expectNotFound(const Vector4f& c) {
    EXPECT_TRUE(std::isnan(c.x)) << c.x << " " << c.y << " " << c.z;
}

TEST(ProjectionSearch, AProjectionGivesItsTransformRelativeToTheSceneOrigin) {
    Scene scene;
    PluginBase* projection = scene.create(projectionDesc());
    const Matrix3x3f m{{0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 2, 0}};
    // Far from the origin a float cannot hold the half; the difference in double can.
    scene.set(projection, "uvw_transform", Transform{m, {16777216.5, -3.0, 7.25}});
    ProjectionSearch search(0.0, {16777216.0, 1.0, 0.0});
    UVWTransform found;
    ASSERT_TRUE(search.find(projection, found));
    EXPECT_EQ(found.c0.x, 0.0f);
    EXPECT_EQ(found.c0.y, 1.0f);
    EXPECT_EQ(found.c1.x, -1.0f);
    EXPECT_EQ(found.c2.z, 2.0f);
    // The fourth lane repeats the third, as in every transform read from a parameter.
    EXPECT_EQ(found.c2.w, 2.0f);
    expectCentre(found.o, 0.5f, -4.0f, 7.25f);
    EXPECT_EQ(found.o.w, 7.25f);

    // Every type but 8 reads uvw_transform.
    for (int type : {0, 1, 2, 3, 4, 5, 6, 7, 9, 10}) {
        scene.set(projection, "type", type);
        expectCentre(foundCentre(projection, {16777216.0, 1.0, 0.0}), 0.5f, -4.0f, 7.25f);
    }
}

TEST(ProjectionSearch, APerspectiveProjectionGivesItsCameraViewsTransform) {
    Scene scene;
    PluginBase* view = scene.create(renderViewDesc());
    scene.set(view, "transform", placedAt({11, 12, 13}));
    PluginBase* perspective = scene.projection({50, 50, 50}, 8);
    scene.set(perspective, "camera_view", view);
    expectCentre(foundCentre(perspective, {10, 10, 10}), 1, 2, 3);

    // Without a camera view, or with one that has no "transform", the projection gives
    // nothing, and the search goes on to the next input.
    PluginBase* blind = scene.projection({1, 2, 3}, 8);
    expectNotFound(foundCentre(blind));
    PluginBase* odd = scene.projection({1, 2, 3}, 8);
    scene.set(odd, "camera_view", base(scene.linked({})));
    expectNotFound(foundCentre(odd));
    kivohost::ColorTexture bare{AColor{}};
    PluginBase* bareView = scene.projection({1, 2, 3}, 8);
    scene.set(bareView, "camera_view", base(&bare));
    expectNotFound(foundCentre(bareView));

    LinkedTexture* texture = scene.linked({});
    scene.setList(texture, "inputs", {blind, odd, scene.projection({4, 5, 6})});
    expectCentre(foundCentre(texture), 4, 5, 6);
}

TEST(ProjectionSearch, FindsAProjectionBehindPluginsAndLists) {
    Scene scene;
    PluginBase* projection = scene.projection({1, 2, 3});
    LinkedTexture* one = scene.linked({}, projection);
    expectCentre(foundCentre(one), 1, 2, 3);

    LinkedTexture* two = scene.linked({});
    scene.set(two, "input", base(one));
    expectCentre(foundCentre(two), 1, 2, 3);

    LinkedTexture* listed = scene.linked({});
    scene.setList(listed, "inputs", {base(nullptr), base(scene.linked({})), base(two)});
    expectCentre(foundCentre(listed), 1, 2, 3);

    // A list of one is searched through its element.
    LinkedTexture* single = scene.linked({});
    scene.setList(single, "inputs", {base(one)});
    expectCentre(foundCentre(single), 1, 2, 3);

    expectNotFound(foundCentre(scene.linked({})));
    expectNotFound(foundCentre(nullptr));
    kivohost::ColorTexture unparametrised{AColor{}};
    expectNotFound(foundCentre(&unparametrised));
}

TEST(ProjectionSearch, TheFirstProjectionDepthFirstWins) {
    Scene scene;
    PluginBase* a = scene.projection({1, 0, 0});
    PluginBase* b = scene.projection({2, 0, 0});
    PluginBase* c = scene.projection({3, 0, 0});

    // Parameters in index order: uvwgen (1) before input (2) before inputs (3).
    LinkedTexture* byIndex = scene.linked({}, a);
    scene.set(byIndex, "input", base(scene.linked({}, b)));
    expectCentre(foundCentre(byIndex), 1, 0, 0);

    // Depth first: the first list element's deep projection before the second element.
    LinkedTexture* deep = scene.linked({});
    scene.set(deep, "input", base(scene.linked({}, b)));
    LinkedTexture* listed = scene.linked({});
    scene.setList(listed, "inputs", {base(deep), c});
    expectCentre(foundCentre(listed), 2, 0, 0);

    // An input met on two paths without a projection behind it does not end the search.
    LinkedTexture* deadEnd = scene.linked({});
    LinkedTexture* path = scene.linked({});
    scene.set(path, "input", base(deadEnd));
    LinkedTexture* diamond = scene.linked({});
    scene.setList(diamond, "inputs", {base(path), base(deadEnd), c});
    expectCentre(foundCentre(diamond), 3, 0, 0);
}

TEST(ProjectionSearch, ACycleEndsTheSearch) {
    Scene scene;
    LinkedTexture* self = scene.linked({});
    scene.set(self, "input", base(self));
    expectNotFound(foundCentre(self));

    LinkedTexture* a = scene.linked({});
    LinkedTexture* b = scene.linked({});
    scene.set(a, "input", base(b));
    scene.setList(b, "inputs", {base(a), base(b)});
    expectNotFound(foundCentre(a));

    // A projection beyond the cycle is still found.
    LinkedTexture* c = scene.linked({});
    scene.set(c, "input", base(a));
    scene.set(b, "input", base(c));
    scene.set(c, "uvwgen", scene.projection({7, 8, 9}));
    expectCentre(foundCentre(a), 7, 8, 9);

    // One search object serves several searches, each from scratch.
    ProjectionSearch search(0.0, {});
    UVWTransform found;
    EXPECT_TRUE(search.find(a, found));
    EXPECT_TRUE(search.find(b, found));
    EXPECT_FALSE(search.find(self, found));
    EXPECT_TRUE(search.find(c, found));
    expectCentre(found.o, 7, 8, 9);
}

TEST(TexMultiProjection, ACycleInTheGraphStillLetsTheFrameBegin) {
    Scene scene;
    // The colour texture leads back to the multi-projection texture itself.
    LinkedTexture* loop = scene.linked({1, 0, 0, 1});
    scene.set(loop, "input", scene.multi);
    scene.setList(scene.multi, "color_textures", {base(loop)});
    scene.beginFrame();
    // No projection: centred at the origin, which lies 5 above the point.
    expectColor(scene.eval(scene.context({0, 0, -5, 0}, {0, 0, 1, 0})), 1, 0, 0, 1);
}

} // namespace
