#include "spatial/UVWGenObject.h"

#include "PluginHarness.h"
#include "scene/ShadeStandIns.h"

#include <gtest/gtest.h>
#include <string>

namespace {

using namespace KUtils;
using spatialtest::expectXYZ;
using spatialtest::PluginHarness;

UVWGenObjectDesc objectDesc;

// uvw_transform: columns (2,0,0), (0,3,0), (1,0,4), offset (10,20,30).
Transform userTransform() {
    Transform t;
    t.m.c0 = {2, 0, 0, 0};
    t.m.c1 = {0, 3, 0, 0};
    t.m.c2 = {1, 0, 4, 4};
    t.offs = {10, 20, 30};
    return t;
}

// Object space: a quarter turn about z, z doubled, then moved by (1,2,3).
kivohost::ShadedInstance rotatedInstance() {
    kivohost::ShadedInstance instance;
    instance.objectSpace = UVWTransform{{0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 2, 2}, {1, 2, 3, 3}};
    return instance;
}

void fillPoint(ShadingContext& sc) {
    sc.shadingPoint = {1, 2, 3, 0};
    sc.dPdx = {0.5f, 0, 0, 0};
    sc.dPdy = {0, 0.25f, 1, 0};
}

TEST(UVWGenObject, DescriptorAndParameters) {
    EXPECT_STREQ(objectDesc.getName(), "UVWGenObject");
    EXPECT_EQ(objectDesc.getPluginID(), 2006012002u);
    EXPECT_STREQ(objectDesc.getDescription(),
                 "UVW generator that uses the object space coordinates of the shaded point as UVW "
                 "values [gpuSupport=(partial)]");
    EXPECT_TRUE(objectDesc.supportsInterface(0x7776FFFF));
    EXPECT_TRUE(objectDesc.supportsInterface(2014021801));
    EXPECT_FALSE(objectDesc.supportsInterface(EXT_RTTEX));
    EXPECT_FALSE(objectDesc.supportsInterface(0));

    const KivoParameterListDesc& params = *objectDesc.getParamListDesc();
    ASSERT_EQ(params.getNumParamDefs(), 2);
    EXPECT_STREQ(params.getParamDefName(0), "uvw_transform");
    EXPECT_EQ(params.getParamDefType(0), ParamType::Transform);
    EXPECT_EQ(params.getParamDefWorldSpace(0), 0);
    EXPECT_EQ(params.getParamDefCount(0), -1);
    EXPECT_STREQ(params.getParamDefDescription(0),
                 "Transformation applied to the original UVW values from the geometry");
    EXPECT_STREQ(params.getParamDefHints(0), "gpuSupport=(full)");
    EXPECT_STREQ(params.getParamDefName(1), "duvw_scale");
    EXPECT_EQ(params.getParamDefType(1), ParamType::Float);
    EXPECT_EQ(params.getParamDefCount(1), -1);
    EXPECT_STREQ(params.getParamDefDescription(1),
                 "Additional scale factor for the texture derivatives");
    EXPECT_STREQ(params.getParamDefHints(1), "gpuSupport=(none)");

    PluginHarness h(objectDesc);
    EXPECT_EQ(paramListOf(h.plugin)->getParam("duvw_scale")->getFloat(0, 0.0), 1.0f);
    const Transform def = paramListOf(h.plugin)->getParam("uvw_transform")->getTransform(0, 0.0);
    expectXYZ(def.m.c0, 1, 0, 0);
    expectXYZ(def.m.c1, 0, 1, 0);
    expectXYZ(def.m.c2, 0, 0, 1);
    EXPECT_EQ(def.offs.x, 0.0);
    EXPECT_EQ(def.offs.y, 0.0);
    EXPECT_EQ(def.offs.z, 0.0);
}

TEST(UVWGenObject, DefaultsPassTheShadingPointThrough) {
    PluginHarness h(objectDesc);
    h.beginFrame();
    ShadingContext sc = h.context();
    fillPoint(sc);

    Vector4f uvw;
    EXPECT_EQ(h.uvwGen().evalUVW(sc, uvw), 1);
    expectXYZ(uvw, 1, 2, 3);
    UVWTransform tm;
    EXPECT_EQ(h.uvwGen().evalUVWTransform(sc, tm), 1);
    expectXYZ(tm.c0, 1, 0, 0);
    expectXYZ(tm.c1, 0, 1, 0);
    expectXYZ(tm.c2, 0, 0, 1);
    expectXYZ(tm.o, 1, 2, 3);
    // Not a channel generator.
    EXPECT_EQ(h.uvwGen().evalChannelTransform(sc, nullptr, tm, 0), 0);
}

TEST(UVWGenObject, WithoutObjectSpaceUsesTheShadingPoint) {
    PluginHarness h(objectDesc);
    h.set("uvw_transform", userTransform());
    h.set("duvw_scale", 0.5f);
    h.beginFrame();

    // No shaded instance, and an instance that has no object-space mapping: the same answers.
    const kivohost::ShadedInstance unmapped;
    for (const KivoShadeInstance* instance : {static_cast<const KivoShadeInstance*>(nullptr),
                                              static_cast<const KivoShadeInstance*>(&unmapped)}) {
        ShadingContext sc = h.context();
        sc.shadeInstance = instance;
        fillPoint(sc);

        Vector4f uvw;
        EXPECT_EQ(h.uvwGen().evalUVW(sc, uvw), 1);
        expectXYZ(uvw, 15, 26, 42); // M*(1,2,3) = (5,6,12), plus (10,20,30)

        Vector4f d[3];
        EXPECT_EQ(h.uvwGen().evalUVWDerivs(sc, d), 1);
        expectXYZ(d[0], 15, 26, 42);
        expectXYZ(d[1], 0.5f, 0, 0);      // M*(0.5,0,0) = (1,0,0), times 0.5
        expectXYZ(d[2], 0.5f, 0.375f, 2); // M*(0,0.25,1) = (1,0.75,4), times 0.5

        // The transform keeps the bare columns (no duvw_scale) and leaves out the offset.
        UVWTransform tm;
        EXPECT_EQ(h.uvwGen().evalUVWTransform(sc, tm), 1);
        expectXYZ(tm.c0, 2, 0, 0);
        expectXYZ(tm.c1, 0, 3, 0);
        expectXYZ(tm.c2, 1, 0, 4);
        expectXYZ(tm.o, 5, 6, 12);
    }
}

TEST(UVWGenObject, WithObjectSpaceUsesTheObjectsOwnCoordinates) {
    PluginHarness h(objectDesc);
    h.set("uvw_transform", userTransform());
    h.set("duvw_scale", 0.5f);
    h.beginFrame();
    const kivohost::ShadedInstance instance = rotatedInstance();
    ShadingContext sc = h.context();
    sc.shadeInstance = &instance;
    fillPoint(sc);

    // Object point (-1,3,9); M*(-1,3,9) = (17-10, 29-20, 66-30).
    Vector4f uvw;
    EXPECT_EQ(h.uvwGen().evalUVW(sc, uvw), 1);
    expectXYZ(uvw, 17, 29, 66);

    // Object dPdx (0,0.5,0) -> M gives (0,1.5,0); object dPdy (-0.25,0,2) -> (1.5,0,8).
    Vector4f d[3];
    EXPECT_EQ(h.uvwGen().evalUVWDerivs(sc, d), 1);
    expectXYZ(d[0], 17, 29, 66);
    expectXYZ(d[1], 0, 0.75f, 0);
    expectXYZ(d[2], 0.75f, 0, 4);

    // Columns: M applied to the object-space images of (0.5,0,0), (0,0.5,0), (0,0,0.5), i.e.
    // of (0,0.5,0), (-0.5,0,0), (0,0,1); the offset is the evalUVW result.
    UVWTransform tm;
    EXPECT_EQ(h.uvwGen().evalUVWTransform(sc, tm), 1);
    expectXYZ(tm.c0, 0, 1.5f, 0);
    expectXYZ(tm.c1, -1, 0, 0);
    expectXYZ(tm.c2, 1, 0, 4);
    expectXYZ(tm.o, 17, 29, 66);
}

TEST(UVWGenObject, ZeroDerivativeScale) {
    PluginHarness h(objectDesc);
    h.set("uvw_transform", userTransform());
    h.set("duvw_scale", 0.0f);
    h.beginFrame();
    const kivohost::ShadedInstance instance = rotatedInstance();

    ShadingContext sc = h.context();
    fillPoint(sc);
    Vector4f d[3];
    UVWTransform tm;
    h.uvwGen().evalUVWDerivs(sc, d);
    expectXYZ(d[0], 15, 26, 42);
    expectXYZ(d[1], 0, 0, 0);
    expectXYZ(d[2], 0, 0, 0);
    h.uvwGen().evalUVWTransform(sc, tm);
    expectXYZ(tm.c0, 2, 0, 0); // the bare columns never carry the scale

    sc.shadeInstance = &instance;
    h.uvwGen().evalUVWDerivs(sc, d);
    expectXYZ(d[0], 17, 29, 66);
    expectXYZ(d[1], 0, 0, 0);
    expectXYZ(d[2], 0, 0, 0);
    h.uvwGen().evalUVWTransform(sc, tm);
    expectXYZ(tm.c0, 0, 0, 0);
    expectXYZ(tm.c1, 0, 0, 0);
    expectXYZ(tm.c2, 0, 0, 0);
    expectXYZ(tm.o, 17, 29, 66);
}

TEST(UVWGenObject, GpuText) {
    PluginHarness h(objectDesc);
    h.set("uvw_transform", userTransform());
    h.set("duvw_scale", 0.5f);
    h.beginFrame();

    ShaderSource source;
    GPUDataRecord gpu;
    gpu.objectSpaceFlag = 0;
    EXPECT_EQ(h.rtTex().emitRTSource("", "tex", "MaterialDescriptor", source, gpu), 1);
    EXPECT_EQ(std::string(source.text()),
              "map_channel -3\n"
              "uvw_transform 2.000000,0.000000,0.000000,0.000000,3.000000,0.000000,1.000000,"
              "0.000000,4.000000,10.000000,20.000000,30.000000\n");
    EXPECT_EQ(gpu.objectSpaceFlag, 1);

    for (const char* kind : {"materialDescriptor", "MaterialDescriptor ", "Material", "",
                             static_cast<const char*>(nullptr)}) {
        ShaderSource other;
        GPUDataRecord untouched;
        untouched.objectSpaceFlag = 7;
        EXPECT_EQ(h.rtTex().emitRTSource("", "tex", kind, other, untouched), 0);
        EXPECT_EQ(other.size(), 0u);
        EXPECT_EQ(untouched.objectSpaceFlag, 7);
    }

    // An instance made without a parameter list has nothing to describe.
    UVWGenObject bare(nullptr);
    ShaderSource empty;
    GPUDataRecord untouched;
    untouched.objectSpaceFlag = 7;
    EXPECT_EQ(bare.emitRTSource("", "tex", "MaterialDescriptor", empty, untouched), 0);
    EXPECT_EQ(empty.size(), 0u);
    EXPECT_EQ(untouched.objectSpaceFlag, 7);
}

} // namespace
