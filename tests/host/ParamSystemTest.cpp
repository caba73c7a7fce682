// The parameter system of the host stand-in: definitions, values in time, lists, binding and
// caching into plugin members, and the host-side setters.
#include "frame/PluginDescriptor.h"
#include "frame/ShadingContext.h"
#include "host/sdk/HostRuntime.h"
#include "host/sdk/ParamValues.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>

using namespace KUtils;

namespace {

Transform makeTransform(float diag, double ox, double oy, double oz) {
    Transform t;
    t.m.c0 = {diag, 1.0f, 2.0f, 0.0f};
    t.m.c1 = {3.0f, diag, 4.0f, 0.0f};
    t.m.c2 = {5.0f, 6.0f, diag, 0.0f};
    t.offs = {ox, oy, oz};
    return t;
}

// A colour texture that answers only EXT_TEXTURE (and EXT_KIVO_PLUGIN).
class ColorTex : public KivoTexture {
public:
    explicit ColorTex(KivoPluginDesc* desc) : KivoTexture(desc) {}
    void evalColor(AColor& result, const ShadingContext&) override { result = {1, 1, 1, 1}; }
    void getColorRange(AColor& lo, AColor& hi) override { lo = hi = {1, 1, 1, 1}; }
};

// A plugin answering the float and transform texture interfaces and EXT_RTTEX.
class FloatAndTransformTex : public KivoPlugin,
                             public TextureFloatInterface,
                             public TextureTransformInterface,
                             public RTTexInterface {
public:
    explicit FloatAndTransformTex(KivoPluginDesc* desc) : KivoPlugin(desc) {}
    PluginInterface* getInterface(InterfaceID id) override {
        if (id == EXT_TEXTURE_FLOAT) {
            return static_cast<TextureFloatInterface*>(this);
        }
        if (id == EXT_TEXTURE_TRANSFORM) {
            return static_cast<TextureTransformInterface*>(this);
        }
        if (id == EXT_RTTEX) {
            return static_cast<RTTexInterface*>(this);
        }
        return KivoPlugin::getInterface(id);
    }
    PluginBase* getPlugin() override { return this; }
    float evalFloat(const ShadingContext&) override { return 0.5f; }
    void evalTransform(UVWTransform& result, const ShadingContext&) override { result = {}; }
    int emitRTSource(const char* outputName, const char* name, const char* kind,
                     ShaderSource& source, GPUDataRecord& gpuData) override {
        source.printf("sub %s|%s|%s\n", outputName, name, kind);
        gpuData.objectSpaceFlag = 1;
        return 1;
    }
};

// Members of every kind the parameter list can fill.
class Bound : public KivoPlugin {
public:
    explicit Bound(KivoPluginDesc* desc) : KivoPlugin(desc) {
        KivoParameterList& list = *getParamList();
        bindResults[0] = list.setParamCache("count", &count);
        bindResults[1] = list.setParamCache("flag", &flag);
        bindResults[2] = list.setParamCache("scale", &scale);
        bindResults[3] = list.setParamCache("offset", &offset);
        bindResults[4] = list.setParamCache("matrix", &matrix);
        bindResults[5] = list.setParamCache("placement", &placement);
        bindResults[6] = list.setParamCache("tex_transform", &texTransform);
        bindResults[7] = list.setParamCache("label", &label);
        bindResults[8] = list.setParamCache("input", &input);
        bindResults[9] = list.setParamCache("color_tex", &colorTex);
        bindResults[10] = list.setParamCache("float_tex", &floatTex);
        bindResults[11] = list.setParamCache("tex_transform", &texTransformTex);
        bindResults[12] = list.setParamCache("float_tex", &floatTexConstant);
        bindResults[13] = list.setParamCache("ints", &firstInt);
    }

    int bindResults[14] = {};
    int count = -99;
    int flag = -99;
    float scale = -99.0f;
    Vector4f offset{-9, -9, -9, -9};
    Matrix3x3f matrix{};
    Transform3x4f placement{};
    Transform3x4f texTransform{};
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

class ColorTexDesc : public PluginDescOf<ColorTex> {
public:
    ColorTexDesc() : PluginDescOf("ColorTex", 0x7E570002, "colour", TEXTURE_DESC_INTERFACES) {}
};

class FloatTexDesc : public PluginDescOf<FloatAndTransformTex> {
public:
    FloatTexDesc() : PluginDescOf("FloatTex", 0x7E570003, "float", testDescIds) {}
};

// An instance created and destroyed through its descriptor.
template <class T, class Desc>
struct Instance {
    explicit Instance(Desc& desc) : desc(desc), plugin(static_cast<T*>(desc.newPlugin(nullptr))) {}
    ~Instance() { desc.deletePlugin(plugin); }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;
    T* operator->() const { return plugin; }
    KivoParameterList& params() const { return *plugin->getParamList(); }
    Desc& desc;
    T* plugin;
};

BoundDesc boundDesc;
ColorTexDesc colorTexDesc;
FloatTexDesc floatTexDesc;

void expectVector(const Vector4f& v, float x, float y, float z, float w) {
    EXPECT_FLOAT_EQ(v.x, x);
    EXPECT_FLOAT_EQ(v.y, y);
    EXPECT_FLOAT_EQ(v.z, z);
    EXPECT_FLOAT_EQ(v.w, w);
}

} // namespace

TEST(ParamDescs, DefinitionsReadBackAndLookUp) {
    const KivoParameterListDesc& d = *boundDesc.getParamListDesc();
    EXPECT_EQ(d.getNumParamDefs(), 13);
    EXPECT_EQ(d.findParamDefIndex("count"), 0);
    EXPECT_EQ(d.findParamDefIndex("placement"), 5);
    EXPECT_EQ(d.findParamDefIndex("uvw_coords"), 12);
    EXPECT_LT(d.findParamDefIndex("Count"), 0);
    EXPECT_LT(d.findParamDefIndex(nullptr), 0);

    EXPECT_EQ(d.getParamDefWorldSpace(5), 1);
    EXPECT_EQ(d.getParamDefWorldSpace(6), 0);
    EXPECT_EQ(d.getParamDefType(5), ParamType::Transform);
    EXPECT_EQ(d.getParamDefType(6), ParamType::TextureTransform);
    EXPECT_EQ(d.getParamDefType(12), ParamType::OutputTextureVector);
    EXPECT_STREQ(d.getParamDefName(1), "flag");
    EXPECT_STREQ(d.getParamDefDescription(0), "how many");
    EXPECT_STREQ(d.getParamDefHints(5), "gpuSupport=(full)");
    EXPECT_EQ(d.getParamDefCount(0), -1);
    EXPECT_EQ(d.getParamDefCount(11), 0);
    EXPECT_EQ(d.getParamDefName(13), nullptr);

    KivoParameterListDesc fresh;
    EXPECT_EQ(fresh.addParamInt("a", 0, -1, "", ""), 1);
    EXPECT_EQ(fresh.addParamFloat("a", 0.0f, -1, "", ""), 0); // a name is taken once
    EXPECT_EQ(fresh.addParamFloat(nullptr, 0.0f, -1, "", ""), 0);
    EXPECT_EQ(fresh.getNumParamDefs(), 1);
    EXPECT_EQ(fresh.registerParameters(nullptr, nullptr), 1);
}

TEST(ParamList, DefaultsFillEveryBoundMemberKind) {
    Instance<Bound, BoundDesc> b(boundDesc);
    for (int r : b->bindResults) {
        EXPECT_EQ(r, 1);
    }
    b.params().cacheParams(0.0, Vector4f{});

    EXPECT_EQ(b->count, 7);
    EXPECT_EQ(b->flag, 1); // an int member takes a bool parameter
    EXPECT_FLOAT_EQ(b->scale, 1.5f);
    expectVector(b->offset, 1, 2, 3, 0);
    expectVector(b->matrix.c2, 0, 0, 1, 1);
    // Transforms: single precision, fourth lane repeats the third.
    expectVector(b->placement.c0, 2, 1, 2, 2);
    expectVector(b->placement.c1, 3, 2, 4, 4);
    expectVector(b->placement.c2, 5, 6, 2, 2);
    expectVector(b->placement.o, 1.5f, 2.5f, 3.5f, 3.5f);
    expectVector(b->texTransform.c2, 5, 6, 4, 4);
    expectVector(b->texTransform.o, -1, -2, -3, -3);
    EXPECT_STREQ(b->label.ptr(), "default label");
    // Nothing connected: plugin and texture members cache null.
    EXPECT_EQ(b->input, nullptr);
    EXPECT_EQ(b->colorTex, nullptr);
    EXPECT_EQ(b->floatTex, nullptr);
    EXPECT_EQ(b->texTransformTex, nullptr);
    EXPECT_FLOAT_EQ(b->floatTexConstant, 0.125f);
    EXPECT_EQ(b->firstInt, 42); // an empty list caches the default

    KivoParameterList& list = b.params();
    int i = 0;
    float f = 0.0f;
    EXPECT_EQ(list.setParamCache("scale", &i), 0); // int member, float parameter
    EXPECT_EQ(list.setParamCache("count", &f), 0);
    EXPECT_EQ(list.setParamCache("missing", &i), 0);
    EXPECT_EQ(list.setParamCache("count", static_cast<int*>(nullptr)), 0);
}

TEST(ParamList, ConnectedPluginsGiveTheirInterfaces) {
    Instance<Bound, BoundDesc> b(boundDesc);
    Instance<ColorTex, ColorTexDesc> color(colorTexDesc);
    Instance<FloatAndTransformTex, FloatTexDesc> other(floatTexDesc);
    KivoParameterList& list = b.params();

    ASSERT_TRUE(setParamValue(list, "input", color.plugin));
    ASSERT_TRUE(setParamValue(list, "color_tex", color.plugin));
    ASSERT_TRUE(setParamValue(list, "float_tex", other.plugin));
    ASSERT_TRUE(setParamValue(list, "tex_transform", other.plugin));
    list.cacheParams(0.0, Vector4f{});
    EXPECT_EQ(b->input, color.plugin);
    EXPECT_EQ(b->colorTex, static_cast<TextureInterface*>(color.plugin));
    EXPECT_EQ(b->floatTex, static_cast<TextureFloatInterface*>(other.plugin));
    EXPECT_EQ(b->texTransformTex, static_cast<TextureTransformInterface*>(other.plugin));
    // The constant parts fall back to the defaults while a plugin is connected.
    EXPECT_FLOAT_EQ(b->floatTexConstant, 0.125f);
    expectVector(b->texTransform.o, -1, -2, -3, -3);

    // A plugin that lacks the interface caches null; disconnecting caches null again.
    ASSERT_TRUE(setParamValue(list, "color_tex", other.plugin));
    ASSERT_TRUE(setParamValue(list, "input", static_cast<PluginBase*>(nullptr)));
    list.cacheParams(0.0, Vector4f{});
    EXPECT_EQ(b->colorTex, nullptr);
    EXPECT_EQ(b->input, nullptr);
    EXPECT_EQ(list.getParam("color_tex")->getPlugin(0, 0.0), other.plugin);

    EXPECT_EQ(paramListOf(b.plugin), &list);
    EXPECT_EQ(paramListOf(nullptr), nullptr);
}

TEST(ParamList, KeysInterpolateAndClampInTime) {
    Instance<Bound, BoundDesc> b(boundDesc);
    KivoParameterList& list = b.params();
    ASSERT_TRUE(setParamKeys(list, "scale", {{1.0, 2.0f}, {3.0, 6.0f}, {4.0, 0.0f}}));
    const KivoParameter& scale = *list.getParam("scale");
    EXPECT_FLOAT_EQ(scale.getFloat(0, -5.0), 2.0f);
    EXPECT_FLOAT_EQ(scale.getFloat(0, 1.0), 2.0f);
    EXPECT_FLOAT_EQ(scale.getFloat(0, 1.5), 3.0f);
    EXPECT_FLOAT_EQ(scale.getFloat(0, 3.0), 6.0f);
    EXPECT_FLOAT_EQ(scale.getFloat(0, 3.25), 4.5f);
    EXPECT_FLOAT_EQ(scale.getFloat(0, 9.0), 0.0f);
    EXPECT_FLOAT_EQ(scale.getFloat(0, std::nan("")), 2.0f);
    EXPECT_EQ(scale.getCount(0.0), -1);

    // Offsets interpolate in double: a half unit far from the origin survives.
    Transform t0 = makeTransform(2.0f, 1.0e9, 0.0, -4.0);
    Transform t1 = makeTransform(4.0f, 1.0e9 + 1.0, 10.0, -8.0);
    ASSERT_TRUE(setParamKeys(list, "placement", {{0.0, t0}, {1.0, t1}}));
    const Transform mid = list.getParam("placement")->getTransform(0, 0.5);
    EXPECT_EQ(mid.offs.x, 1.0e9 + 0.5);
    EXPECT_DOUBLE_EQ(mid.offs.y, 5.0);
    EXPECT_DOUBLE_EQ(mid.offs.z, -6.0);
    EXPECT_FLOAT_EQ(mid.m.c0.x, 3.0f);
    EXPECT_FLOAT_EQ(mid.m.c1.y, 3.0f);
    EXPECT_FLOAT_EQ(mid.m.c2.x, 5.0f);
    EXPECT_EQ(list.getParam("placement")->getTransform(0, 2.0).offs.x, 1.0e9 + 1.0);

    Matrix3x3f m0, m1;
    m1.c0 = {3.0f, 4.0f, 0.0f, 0.0f};
    ASSERT_TRUE(setParamKeys(list, "matrix", {{10.0, m0}, {20.0, m1}}));
    const Matrix3x3f mm = list.getParam("matrix")->getMatrix(0, 12.5);
    expectVector(mm.c0, 1.5f, 1.0f, 0.0f, 0.0f);
    expectVector(mm.c1, 0.0f, 1.0f, 0.0f, 0.0f);

    // Numbers are linear (ints rounded); bools, strings and plugins step at a key.
    ASSERT_TRUE(setParamKeys(list, "count", {{0.0, 0}, {1.0, 10}}));
    EXPECT_EQ(list.getParam("count")->getInt(0, 0.34), 3);
    EXPECT_EQ(list.getParam("count")->getInt(0, 0.36), 4);
    ASSERT_TRUE(setParamKeys(list, "flag", {{0.0, false}, {1.0, true}}));
    EXPECT_FALSE(list.getParam("flag")->getBool(0, 0.99));
    EXPECT_TRUE(list.getParam("flag")->getBool(0, 1.0));
    ASSERT_TRUE(setParamKeys(list, "label", {{0.0, std::string("a")}, {1.0, std::string("b")}}));
    EXPECT_STREQ(list.getParam("label")->getString(0, 0.5), "a");
    EXPECT_STREQ(list.getParam("label")->getString(0, 1.5), "b");

    // frameBegin caches at the frame time.
    kivohost::RenderSession session;
    session.frame.frameTime = 2.0;
    b->frameBegin(&session.renderer);
    EXPECT_FLOAT_EQ(b->scale, 4.0f);
    EXPECT_EQ(b->count, 10);
    EXPECT_EQ(b->flag, 1);
    EXPECT_STREQ(b->label.ptr(), "b");
    EXPECT_FLOAT_EQ(b->placement.o.x, 1.0e9f);
    EXPECT_FLOAT_EQ(b->placement.o.w, -8.0f);
    expectVector(b->matrix.c0, 1, 0, 0, 0); // clamped before its first key
}

TEST(ParamList, ListsCountAndIndex) {
    Instance<Bound, BoundDesc> b(boundDesc);
    KivoParameterList& list = b.params();
    const KivoParameter& ints = *list.getParam("ints");
    EXPECT_EQ(ints.getCount(0.0), 0);
    EXPECT_EQ(ints.getInt(0, 0.0), 42);

    ASSERT_TRUE(setParamList(list, "ints", {5, 6.9f, true}));
    EXPECT_EQ(ints.getCount(0.0), 3);
    EXPECT_EQ(ints.getInt(0, 0.0), 5);
    EXPECT_EQ(ints.getInt(1, 0.0), 6);
    EXPECT_EQ(ints.getInt(2, 0.0), 1);
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
    ASSERT_TRUE(setParamValue(list, "offset", Vector4f{4, 4, 4, 4}));
    EXPECT_EQ(list.getParam("offset")->getCount(0.0), -1);
    expectVector(list.getParam("offset")->getVector(5, 0.0), 4, 4, 4, 4);
    ASSERT_TRUE(setParamList(list, "ints", {}));
    EXPECT_EQ(ints.getCount(0.0), 0);
}

TEST(ParamList, SettersCheckNamesAndKinds) {
    Instance<Bound, BoundDesc> b(boundDesc);
    Instance<ColorTex, ColorTexDesc> color(colorTexDesc);
    KivoParameterList& list = b.params();
    const KivoParameter& count = *list.getParam("count");

    EXPECT_FALSE(setParamValue(list, "nope", 1));
    EXPECT_FALSE(setParamValue(list, "count", std::string("3")));
    EXPECT_FALSE(setParamValue(list, "count", std::numeric_limits<float>::quiet_NaN()));
    EXPECT_FALSE(setParamValue(list, "offset", AColor{1, 1, 1, 1}));
    EXPECT_FALSE(setParamValue(list, "scale", Vector4f{}));
    EXPECT_FALSE(setParamValue(list, "placement", Matrix3x3f{}));
    EXPECT_FALSE(setParamValue(list, "placement", color.plugin));
    EXPECT_FALSE(setParamValue(list, "input", 1));
    EXPECT_FALSE(setParamValue(list, "uvw_coords", color.plugin));
    EXPECT_FALSE(setParamKeys(list, "count", {}));
    EXPECT_FALSE(setParamKeys(list, "count", {{1.0, 1}, {1.0, 2}}));
    EXPECT_FALSE(setParamKeys(list, "count", {{2.0, 1}, {1.0, 2}}));
    EXPECT_FALSE(setParamKeys(list, "count", {{0.0, 1}, {1.0, std::string("x")}}));
    EXPECT_FALSE(setParamList(list, "ints", {1, std::string("x")}));
    EXPECT_EQ(count.getInt(0, 0.0), 7); // nothing changed by the refused calls
    EXPECT_EQ(list.getParam("ints")->getCount(0.0), 0);

    // Numbers convert among int, float and bool.
    EXPECT_TRUE(setParamValue(list, "count", 2.7f));
    EXPECT_EQ(count.getInt(0, 0.0), 2);
    EXPECT_TRUE(setParamValue(list, "count", -2.7f));
    EXPECT_EQ(count.getInt(0, 0.0), -2);
    EXPECT_TRUE(setParamValue(list, "count", 1.0e20f));
    EXPECT_EQ(count.getInt(0, 0.0), INT_MAX);
    EXPECT_TRUE(setParamValue(list, "count", true));
    EXPECT_EQ(count.getInt(0, 0.0), 1);
    EXPECT_TRUE(setParamValue(list, "scale", 3));
    EXPECT_FLOAT_EQ(list.getParam("scale")->getFloat(0, 0.0), 3.0f);
    EXPECT_TRUE(setParamValue(list, "flag", 0.0f));
    EXPECT_FALSE(list.getParam("flag")->getBool(0, 0.0));
    EXPECT_TRUE(setParamValue(list, "float_tex", 2));
    EXPECT_FLOAT_EQ(list.getParam("float_tex")->getFloat(0, 0.0), 2.0f);
    EXPECT_TRUE(setParamValue(list, "color_tex", AColor{0.5f, 0.5f, 0.5f, 1.0f}));
    EXPECT_FLOAT_EQ(list.getParam("color_tex")->getColor(0, 0.0).r, 0.5f);
    EXPECT_TRUE(setParamValue(list, "color_tex", color.plugin));
    EXPECT_FLOAT_EQ(list.getParam("color_tex")->getColor(0, 0.0).r, 0.25f); // the default
}

TEST(ParamList, ParametersByIndexNameAndCopy) {
    Instance<Bound, BoundDesc> a(boundDesc);
    Instance<Bound, BoundDesc> b(boundDesc);
    KivoParameterList& la = a.params();
    KivoParameterList& lb = b.params();
    EXPECT_EQ(la.getNumParams(), 13);
    EXPECT_EQ(la.getParam(0), la.getParam("count"));
    EXPECT_STREQ(la.getParam(12)->getName(), "uvw_coords");
    EXPECT_EQ(la.getParam(13), nullptr);
    EXPECT_EQ(la.getParam(-1), nullptr);
    EXPECT_EQ(la.getParam("absent"), nullptr);
    EXPECT_EQ(la.getParam("placement")->getType(), ParamType::Transform);

    // Instances keep their own values; setParameter copies another one's value by name.
    ASSERT_TRUE(setParamKeys(lb, "scale", {{0.0, 10.0f}, {1.0, 20.0f}}));
    EXPECT_FLOAT_EQ(la.getParam("scale")->getFloat(0, 0.5), 1.5f);
    EXPECT_EQ(a->setParameter(lb.getParam("scale")), 1);
    EXPECT_FLOAT_EQ(la.getParam("scale")->getFloat(0, 0.5), 15.0f);
    EXPECT_EQ(a->getParameter("scale"), la.getParam("scale"));
    ASSERT_TRUE(setParamList(lb, "ints", {1, 2}));
    EXPECT_EQ(la.setParameter(lb.getParam("ints")), 1);
    EXPECT_EQ(la.getParam("ints")->getCount(0.0), 2);
    EXPECT_EQ(la.setParameter(la.getParam("ints")), 1);
    EXPECT_EQ(la.getParam("ints")->getCount(0.0), 2);
    EXPECT_EQ(la.setParameter(nullptr), 0);

    KivoParameterListDesc otherDesc;
    otherDesc.addParamFloat("count", 1.0f, -1, "", ""); // same name, another type
    otherDesc.addParamFloat("unknown", 1.0f, -1, "", "");
    KivoParameterList* other = otherDesc.newParameterList();
    EXPECT_EQ(la.setParameter(other->getParam("count")), 0);
    EXPECT_EQ(la.setParameter(other->getParam("unknown")), 0);
    otherDesc.deleteParameterList(other);
}

TEST(ParamList, OutputParameterPublishesItsInterface) {
    Instance<Bound, BoundDesc> b(boundDesc);
    Instance<ColorTex, ColorTexDesc> color(colorTexDesc);
    KivoParameterList& list = b.params();
    PluginInterface* iface = color->getInterface(EXT_TEXTURE);
    EXPECT_EQ(outputParamOf(list, "uvw_coords"), nullptr);
    EXPECT_EQ(list.setOutputParamCache("uvw_coords", iface), 1);
    EXPECT_EQ(outputParamOf(list, "uvw_coords"), iface);
    EXPECT_EQ(list.setOutputParamCache("count", iface), 0);
    EXPECT_EQ(list.setOutputParamCache("absent", iface), 0);
    EXPECT_EQ(outputParamOf(list, "count"), nullptr);
}

TEST(GpuSource, GetRTTexSourceAsksTheConnectedPlugin) {
    Instance<FloatAndTransformTex, FloatTexDesc> withRt(floatTexDesc);
    Instance<ColorTex, ColorTexDesc> withoutRt(colorTexDesc);
    ShaderSource source;
    GPUDataRecord gpu;
    source.append("head\n");
    EXPECT_EQ(RTTexInterface::getRTTexSource(withRt->getInterface(EXT_TEXTURE_FLOAT), "color", "n",
                                             "MaterialDescriptor", source, gpu),
              1);
    EXPECT_STREQ(source.text(), "head\nsub color|n|MaterialDescriptor\n");
    EXPECT_EQ(gpu.objectSpaceFlag, 1);

    GPUDataRecord untouched;
    EXPECT_EQ(RTTexInterface::getRTTexSource(withoutRt->getInterface(EXT_TEXTURE), "", "n",
                                             "MaterialDescriptor", source, untouched),
              0);
    EXPECT_EQ(
        RTTexInterface::getRTTexSource(nullptr, "", "n", "MaterialDescriptor", source, untouched),
        0);
    EXPECT_EQ(untouched.objectSpaceFlag, 0);
    EXPECT_EQ(source.size(), std::strlen("head\nsub color|n|MaterialDescriptor\n"));
}
