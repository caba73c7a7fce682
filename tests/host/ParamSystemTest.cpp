// The parameter system of the host stand-in: definitions, values in time, lists, binding and
// caching into plugin members, and the host-side setters.
#include "kivo/PluginDescriptor.h"
#include "kivo/ShadingContext.h"
#include "scene/TextureStandIns.h"
#include "scene/TransformTextures.h"
#include "sdk/HostRuntime.h"
#include "sdk/ParamValues.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>

using namespace KUtils;

namespace {

Transform makeTransform(float diag, double ox, double oy, double oz) {
    return Transform{{{diag, 1.0f, 2.0f, 0.0f}, {3.0f, diag, 4.0f, 0.0f}, {5.0f, 6.0f, diag, 0.0f}},
                     {ox, oy, oz}};
}

// Members of every kind the parameter list can fill, bound at construction.
class Bound : public KivoPlugin {
public:
    explicit Bound(KivoPluginDesc* desc) : KivoPlugin(desc) {
        KivoParameterList& list = *getParamList();
        bound = list.setParamCache("count", &count) + list.setParamCache("flag", &flag) +
                list.setParamCache("scale", &scale) + list.setParamCache("offset", &offset) +
                list.setParamCache("matrix", &matrix) +
                list.setParamCache("placement", &placement) +
                list.setParamCache("tex_transform", &texTransform) +
                list.setParamCache("label", &label) + list.setParamCache("input", &input) +
                list.setParamCache("color_tex", &colorTex) +
                list.setParamCache("float_tex", &floatTex) +
                list.setParamCache("tex_transform", &texTransformTex) +
                list.setParamCache("float_tex", &floatTexConstant) +
                list.setParamCache("ints", &firstInt);
    }

    int bound = 0; // members bound successfully
    int count = -99;
    int flag = -99;
    float scale = -99.0f;
    Vector4f offset{-9, -9, -9, -9};
    Matrix3x3f matrix{};
    UVWTransform placement{};
    UVWTransform texTransform{};
    CharString label{"unset"};
    PluginBase* input = reinterpret_cast<PluginBase*>(&count); // anything non-null
    TextureInterface* colorTex = reinterpret_cast<TextureInterface*>(&count);
    TextureFloatInterface* floatTex = reinterpret_cast<TextureFloatInterface*>(&count);
    TextureTransformInterface* texTransformTex =
        reinterpret_cast<TextureTransformInterface*>(&count);
    float floatTexConstant = -99.0f;
    int firstInt = -99;
};

constexpr InterfaceID testDescIds[] = {EXT_KIVO_PLUGIN, 0};

class BoundDesc : public PluginDescOf<Bound> {
public:
    BoundDesc() : PluginDescOf("Bound", 0x7E570001, "members of every kind", testDescIds) {
        KivoParameterListDesc& d = paramDescs();
        d.addParamInt("count", 7, -1, "how many", "min=(0)");
        d.addParamBool("flag", true, -1, "on or off", "");
        d.addParamFloat("scale", 1.5f, -1, "size", "");
        d.addParamVector("offset", Vector4f{1, 2, 3, 0}, -1, "offset", "");
        d.addParamMatrix("matrix", Matrix3x3f{}, -1, "matrix", "");
        d.addParamTransform("placement", 1, makeTransform(2.0f, 1.5, 2.5, 3.5), -1, "where",
                            "gpuSupport=(full)");
        d.addParamTextureTransform("tex_transform", makeTransform(4.0f, -1.0, -2.0, -3.0), -1,
                                   "texture transform", "");
        d.addParamString("label", "default label", -1, "a name", "");
        d.addParamPlugin("input", EXT_TEXTURE, -1, "any plugin", "");
        d.addParamTexture("color_tex", AColor{0.25f, 0.5f, 0.75f, 1.0f}, -1, "colour", "");
        d.addParamTextureFloat("float_tex", 0.125f, -1, "amount", "");
        d.addParamInt("ints", 42, 0, "a list", "");
        d.addOutputParamTextureVector("uvw_coords", "the output", "");
        publishParams();
    }
};

BoundDesc boundDesc;

void expectVector(const Vector4f& v, float x, float y, float z, float w) {
    EXPECT_FLOAT_EQ(v.x, x);
    EXPECT_FLOAT_EQ(v.y, y);
    EXPECT_FLOAT_EQ(v.z, z);
    EXPECT_FLOAT_EQ(v.w, w);
}

// A Bound instance created and destroyed through its descriptor, and host plugins to connect:
// a colour texture (EXT_TEXTURE, EXT_RTTEX), a float texture (EXT_TEXTURE_FLOAT, EXT_RTTEX)
// and a transform texture (EXT_TEXTURE_TRANSFORM alone).
class ParamList : public testing::Test {
protected:
    ~ParamList() override { boundDesc.deletePlugin(b); }

    Bound* b = static_cast<Bound*>(boundDesc.newPlugin(nullptr));
    KivoParameterList& list = *b->getParamList();
    kivohost::ColorTexture color{AColor{1.0f, 1.0f, 1.0f, 1.0f}};
    kivohost::FloatTexture amount{0.5f};
    kivohost::TransformTexture transformTex{UVWTransform{}};
};

} // namespace

TEST_F(ParamList, DefaultsFillEveryBoundMemberKind) {
    const KivoParameterListDesc& d = *boundDesc.getParamListDesc();
    EXPECT_EQ(d.findParamDefIndex("uvw_coords"), 12);
    EXPECT_LT(d.findParamDefIndex("Count"), 0);
    EXPECT_LT(d.findParamDefIndex(nullptr), 0);
    EXPECT_EQ(d.getParamDefWorldSpace(5), 1);
    EXPECT_EQ(d.getParamDefWorldSpace(6), 0);
    EXPECT_EQ(d.getParamDefName(13), nullptr);
    EXPECT_EQ(b->bound, 14);
    list.cacheParams(0.0, Vector4f{});
    EXPECT_EQ(b->count, 7);
    EXPECT_EQ(b->flag, 1); // an int member takes a bool parameter
    EXPECT_FLOAT_EQ(b->scale, 1.5f);
    expectVector(b->offset, 1, 2, 3, 0);
    expectVector(b->matrix.c2, 0, 0, 1, 1);
    // Transforms: single precision, fourth lane repeats the third.
    expectVector(b->placement.c0, 2, 1, 2, 2);
    expectVector(b->placement.c2, 5, 6, 2, 2);
    expectVector(b->placement.o, 1.5f, 2.5f, 3.5f, 3.5f);
    EXPECT_STREQ(b->label.ptr(), "default label");
    // Nothing connected: plugin and texture members cache null, constants the default.
    EXPECT_EQ(b->input, nullptr);
    EXPECT_EQ(b->colorTex, nullptr);
    EXPECT_EQ(b->texTransformTex, nullptr);
    EXPECT_FLOAT_EQ(b->floatTexConstant, 0.125f);
    EXPECT_EQ(b->firstInt, 42); // an empty list caches the default

    // Members of the wrong kind, unknown names and null members are refused.
    int i = 0;
    float f = 0.0f;
    EXPECT_EQ(list.setParamCache("scale", &i), 0);
    EXPECT_EQ(list.setParamCache("count", &f), 0);
    EXPECT_EQ(list.setParamCache("missing", &i), 0);
    EXPECT_EQ(list.setParamCache("count", static_cast<int*>(nullptr)), 0);
    EXPECT_EQ(list.getParam(0), list.getParam("count"));
    EXPECT_EQ(list.getParam(13), nullptr);
    EXPECT_EQ(list.getParam(-1), nullptr);
}

TEST_F(ParamList, ConnectedPluginsGiveTheirInterfaces) {
    ASSERT_TRUE(setParamValue(list, "input", &color));
    ASSERT_TRUE(setParamValue(list, "color_tex", &color));
    ASSERT_TRUE(setParamValue(list, "float_tex", &amount));
    ASSERT_TRUE(setParamValue(list, "tex_transform", &transformTex));
    list.cacheParams(0.0, Vector4f{});
    EXPECT_EQ(b->input, &color);
    EXPECT_EQ(b->colorTex, color.getInterface(EXT_TEXTURE));
    EXPECT_EQ(b->floatTex, amount.getInterface(EXT_TEXTURE_FLOAT));
    EXPECT_EQ(b->texTransformTex, transformTex.getInterface(EXT_TEXTURE_TRANSFORM));
    // The constant parts fall back to the defaults while a plugin is connected.
    EXPECT_FLOAT_EQ(b->floatTexConstant, 0.125f);
    expectVector(b->texTransform.o, -1, -2, -3, -3);

    // A plugin that lacks the interface caches null; disconnecting caches null again.
    ASSERT_TRUE(setParamValue(list, "color_tex", &transformTex));
    ASSERT_TRUE(setParamValue(list, "input", static_cast<PluginBase*>(nullptr)));
    list.cacheParams(0.0, Vector4f{});
    EXPECT_EQ(b->colorTex, nullptr);
    EXPECT_EQ(b->input, nullptr);
    EXPECT_EQ(list.getParam("color_tex")->getPlugin(0, 0.0), &transformTex);
    // Without a describable texture nothing is written (what one writes: the generators' GPU
    // texts).
    ShaderSource source;
    GPUDataRecord gpu;
    for (PluginInterface* none : {transformTex.getInterface(EXT_TEXTURE_TRANSFORM),
                                  static_cast<PluginInterface*>(nullptr)}) {
        EXPECT_EQ(
            RTTexInterface::getRTTexSource(none, "color", "n", "MaterialDescriptor", source, gpu),
            0);
    }
    EXPECT_STREQ(source.text(), "");
    EXPECT_EQ(gpu.objectSpaceFlag, 0);
}

TEST_F(ParamList, KeysInterpolateAndClampInTime) {
    ASSERT_TRUE(setParamKeys(list, "scale", {{1.0, 2.0f}, {3.0, 6.0f}, {4.0, 0.0f}}));
    const KivoParameter& scale = *list.getParam("scale");
    const std::pair<double, float> scales[] = {{-5.0, 2.0f}, {1.5, 3.0f}, {3.0, 6.0f},
                                               {3.25, 4.5f}, {9.0, 0.0f}, {std::nan(""), 2.0f}};
    for (auto [time, expected] : scales) {
        EXPECT_FLOAT_EQ(scale.getFloat(0, time), expected) << time;
    }

    // Offsets interpolate in double: a half unit far from the origin survives.
    ASSERT_TRUE(setParamKeys(list, "placement",
                             {{0.0, makeTransform(2.0f, 1.0e9, 0.0, -4.0)},
                              {1.0, makeTransform(4.0f, 1.0e9 + 1.0, 10.0, -8.0)}}));
    const Transform mid = list.getParam("placement")->getTransform(0, 0.5);
    EXPECT_EQ(mid.offs.x, 1.0e9 + 0.5);
    EXPECT_FLOAT_EQ(mid.m.c1.y, 3.0f);

    // Numbers are linear (ints rounded); bools, strings and plugins step at a key.
    ASSERT_TRUE(setParamKeys(list, "count", {{0.0, 0}, {1.0, 10}}));
    EXPECT_EQ(list.getParam("count")->getInt(0, 0.34), 3);
    EXPECT_EQ(list.getParam("count")->getInt(0, 0.36), 4);
    ASSERT_TRUE(setParamKeys(list, "flag", {{0.0, false}, {1.0, true}}));
    EXPECT_FALSE(list.getParam("flag")->getBool(0, 0.99));
    EXPECT_TRUE(list.getParam("flag")->getBool(0, 1.0));
    ASSERT_TRUE(setParamKeys(list, "label", {{0.0, std::string("a")}, {1.0, std::string("b")}}));
    EXPECT_STREQ(list.getParam("label")->getString(0, 0.5), "a");

    // frameBegin caches at the frame time.
    kivohost::RenderSession session;
    session.frame.frameTime = 2.0;
    b->frameBegin(&session.renderer);
    EXPECT_FLOAT_EQ(b->scale, 4.0f);
    EXPECT_EQ(b->count, 10);
    EXPECT_STREQ(b->label.ptr(), "b");
    EXPECT_FLOAT_EQ(b->placement.o.w, -8.0f);
    // Key times whose difference overflows a double still interpolate.
    ASSERT_TRUE(setParamKeys(list, "scale", {{-1e308, 0.0f}, {1e308, 2.0f}}));
    EXPECT_FLOAT_EQ(scale.getFloat(0, 0.5), 1.0f);
}

TEST_F(ParamList, ListsCountAndIndex) {
    const KivoParameter& ints = *list.getParam("ints");
    EXPECT_EQ(ints.getCount(0.0), 0);
    EXPECT_EQ(list.getParam("scale")->getCount(0.0), -1);
    ASSERT_TRUE(setParamList(list, "ints", {5, 6.9f, true}));
    EXPECT_EQ(ints.getCount(0.0), 3);
    EXPECT_EQ(ints.getInt(1, 0.0), 6);
    EXPECT_EQ(ints.getInt(3, 0.0), 42); // past the end: the default
    EXPECT_EQ(ints.getInt(-1, 0.0), 42);
    list.cacheParams(0.0, Vector4f{});
    EXPECT_EQ(b->firstInt, 5);
    // A constant on a list parameter is a list of one; a list on a single parameter counts.
    ASSERT_TRUE(setParamValue(list, "ints", 9));
    EXPECT_EQ(ints.getCount(0.0), 1);
    ASSERT_TRUE(setParamList(list, "offset", {Vector4f{1, 0, 0, 0}, Vector4f{0, 1, 0, 0}}));
    EXPECT_EQ(list.getParam("offset")->getCount(0.0), 2);
    expectVector(list.getParam("offset")->getVector(1, 0.0), 0, 1, 0, 0);
}

TEST_F(ParamList, SettersCheckNamesAndKinds) {
    const KivoParameter& count = *list.getParam("count");
    EXPECT_FALSE(setParamValue(list, "nope", 1));
    EXPECT_FALSE(setParamValue(list, "count", std::string("3")));
    EXPECT_FALSE(setParamValue(list, "count", std::numeric_limits<float>::quiet_NaN()));
    EXPECT_FALSE(setParamValue(list, "offset", AColor{1, 1, 1, 1}));
    EXPECT_FALSE(setParamValue(list, "placement", &color));
    EXPECT_FALSE(setParamValue(list, "input", 1));
    EXPECT_FALSE(setParamValue(list, "uvw_coords", &color));
    EXPECT_FALSE(setParamKeys(list, "count", {}));
    EXPECT_FALSE(setParamKeys(list, "count", {{1.0, 1}, {1.0, 2}}));
    EXPECT_FALSE(setParamKeys(list, "count", {{0.0, 1}, {1.0, std::string("x")}}));
    EXPECT_FALSE(setParamList(list, "ints", {1, std::string("x")}));
    EXPECT_EQ(count.getInt(0, 0.0), 7); // nothing changed by the refused calls
    EXPECT_EQ(list.getParam("ints")->getCount(0.0), 0);

    // Numbers convert among int, float and bool; floats to int truncate and saturate.
    const std::pair<ParamValue, int> counts[] = {
        {2.7f, 2}, {-2.7f, -2}, {1.0e20f, INT_MAX}, {-1.0e20f, INT_MIN}, {true, 1}};
    for (const auto& [value, expected] : counts) {
        EXPECT_TRUE(setParamValue(list, "count", value));
        EXPECT_EQ(count.getInt(0, 0.0), expected);
    }
    EXPECT_TRUE(setParamValue(list, "flag", 0.0f));
    EXPECT_FALSE(list.getParam("flag")->getBool(0, 0.0));
    EXPECT_TRUE(setParamValue(list, "float_tex", 2));
    EXPECT_FLOAT_EQ(list.getParam("float_tex")->getFloat(0, 0.0), 2.0f);
    EXPECT_TRUE(setParamValue(list, "color_tex", &color));
    EXPECT_FLOAT_EQ(list.getParam("color_tex")->getColor(0, 0.0).r, 0.25f); // the default
}
