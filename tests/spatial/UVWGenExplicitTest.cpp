#include "spatial/UVWGenExplicit.h"

#include "PluginHarness.h"
#include "scene/TextureStandIns.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace KUtils;
using kivohost::ColorTexture;
using kivohost::FloatTexture;
using spatialtest::expectXYZ;
using spatialtest::PluginHarness;

UVWGenExplicitDesc explicitDesc;

TEST(UVWGenExplicit, DescriptorAndParameters) {
    EXPECT_STREQ(explicitDesc.getName(), "UVWGenExplicit");
    EXPECT_EQ(explicitDesc.getPluginID(), 2005122900u);
    EXPECT_STREQ(explicitDesc.getDescription(),
                 "UVW generator that uses UVW values from a color texture or separate grayscale "
                 "textures [gpuSupport=(partial)]");
    EXPECT_TRUE(explicitDesc.supportsInterface(EXT_UVWGEN));
    EXPECT_FALSE(explicitDesc.supportsInterface(EXT_TEXTURE));

    const KivoParameterListDesc& params = *explicitDesc.getParamListDesc();
    ASSERT_EQ(params.getNumParamDefs(), 5);
    const char* const names[] = {"u", "v", "w", "uvw", "useSeparateParams"};
    const ParamType types[] = {ParamType::TextureFloat, ParamType::TextureFloat,
                               ParamType::TextureFloat, ParamType::Texture, ParamType::Int};
    for (int i = 0; i < 5; ++i) {
        EXPECT_STREQ(params.getParamDefName(i), names[i]);
        EXPECT_EQ(params.getParamDefType(i), types[i]) << names[i];
        EXPECT_EQ(params.getParamDefCount(i), -1) << names[i];
    }
    EXPECT_STREQ(params.getParamDefHints(0), "gpuSupport=(full)");
    EXPECT_STREQ(params.getParamDefHints(2), "gpuSupport=(full)");
    EXPECT_STREQ(params.getParamDefHints(3), "gpuSupport=(none)");
    EXPECT_STREQ(params.getParamDefHints(4),
                 "enum=(0:Automatic (use the one that's set);1:Use the single uvw parameter;2:Use "
                 "separate u,v,w parameters)gpuSupport=(none)");

    PluginHarness h(explicitDesc);
    KivoParameterList& list = *paramListOf(h.plugin);
    EXPECT_EQ(list.getParam("u")->getFloat(0, 0.0), 0.0f);
    const AColor uvw = list.getParam("uvw")->getColor(0, 0.0);
    EXPECT_TRUE(uvw.r == 0.0f && uvw.g == 0.0f && uvw.b == 0.0f && uvw.a == 1.0f);
    EXPECT_EQ(list.getParam("useSeparateParams")->getInt(0, 0.0), 0);
}

// Which textures supply the coordinates, as the mode's description states it.
enum class Source { Color, Separate, Zeros };
Source describedSource(int mode, bool colorConnected) {
    switch (mode) {
    case 0: // automatic: the one that is set
        return colorConnected ? Source::Color : Source::Separate;
    case 2: // always the separate u, v, w
        return Source::Separate;
    default: // the single uvw parameter (1, and anything outside the enum)
        return colorConnected ? Source::Color : Source::Zeros;
    }
}

TEST(UVWGenExplicit, EveryModeWithEveryCombinationOfInputs) {
    for (int mode : {0, 1, 2, 5, -1}) {
        for (int inputs = 0; inputs < 16; ++inputs) {
            const bool hasU = inputs & 1, hasV = inputs & 2, hasW = inputs & 4,
                       hasColor = inputs & 8;
            SCOPED_TRACE("mode " + std::to_string(mode) + " inputs " + std::to_string(inputs));
            ColorTexture color(AColor{0.25f, 0.5f, 0.75f, 1.0f});
            FloatTexture u(0.125f), v(0.375f), w(0.625f);

            PluginHarness h(explicitDesc);
            h.set("useSeparateParams", mode);
            PluginBase* textures[] = {&u, &v, &w, &color};
            const char* names[] = {"u", "v", "w", "uvw"};
            for (int k = 0; k < 4; ++k) {
                if (inputs & (1 << k)) {
                    h.set(names[k], textures[k]);
                }
            }
            h.beginFrame();

            ShadingContext sc = h.context();
            sc.dPdx = {1, 2, 3, 4};
            sc.dPdy = {5, 6, 7, 8};
            sc.normal = {0, 0.6f, 0.8f, 0.5f};
            Vector4f uvw{9, 9, 9, 9};
            Vector4f d[3] = {{9, 9, 9, 9}, {9, 9, 9, 9}, {9, 9, 9, 9}};
            UVWTransform tm;
            EXPECT_EQ(h.uvwGen().evalUVW(sc, uvw), 1);
            EXPECT_EQ(h.uvwGen().evalUVWDerivs(sc, d), 1);
            EXPECT_EQ(h.uvwGen().evalUVWTransform(sc, tm), 1);

            const Source source = describedSource(mode, hasColor);
            Vector4f expected;
            if (source == Source::Color) {
                expected = {0.25f, 0.5f, 0.75f, 0.75f}; // the fourth lane repeats blue
            } else if (source == Source::Separate) {
                expected = {hasU ? 0.125f : 0.0f, hasV ? 0.375f : 0.0f, hasW ? 0.625f : 0.0f, 0};
            }
            for (const Vector4f& got : {uvw, d[0], tm.o}) {
                expectXYZ(got, expected.x, expected.y, expected.z);
                EXPECT_EQ(got.w, expected.w);
            }
            for (const Vector4f& deriv : {d[1], d[2]}) {
                expectXYZ(deriv, 0, 0, 0);
                EXPECT_EQ(deriv.w, 0.0f);
            }
            expectXYZ(tm.c0, 1, 2, 3);
            expectXYZ(tm.c1, 5, 6, 7);
            expectXYZ(tm.c2, 0, 0.6f, 0.8f);
            EXPECT_EQ(tm.c0.w, 4.0f);
            EXPECT_EQ(tm.c2.w, 0.5f);

            // Three operations, each evaluating exactly the textures that supply the result.
            const std::uint64_t perUse = 3;
            EXPECT_EQ(color.evaluations(), source == Source::Color ? perUse : 0);
            const bool separate = source == Source::Separate;
            EXPECT_EQ(u.evaluations(), separate && hasU ? perUse : 0);
            EXPECT_EQ(v.evaluations(), separate && hasV ? perUse : 0);
            EXPECT_EQ(w.evaluations(), separate && hasW ? perUse : 0);
        }
    }
}

const std::string zeroColor = "color 0.000000 0.000000 0.000000 0.000000\n";

TEST(UVWGenExplicit, GpuTextDescribesTheSeparateInputs) {
    FloatTexture u(0.125f), v(0.5f), w(0.625f);
    ColorTexture color(AColor{0.25f, 0.5f, 0.75f, 1.0f});
    // An input whose own code reads object space; the generator's flag is written after it.
    v.objectSpaceFlag = 1;

    struct Case {
        std::vector<std::pair<const char*, PluginBase*>> connections;
        std::string text;
    };
    const Case cases[] = {
        {{},
         zeroColor + "subtex\n" + zeroColor + "subtex\n" + zeroColor + "subtex\n" +
             "map_channel -2\n"},
        {{{"v", &v}},
         zeroColor + "subtex\n" + "color 0.500000 0.500000 0.500000 1.000000\n" + "subtex\n" +
             zeroColor + "subtex\n" + "map_channel -2\n"},
        {{{"u", &u}, {"v", &v}, {"w", &w}, {"uvw", &color}},
         "color 0.125000 0.125000 0.125000 1.000000\nsubtex\n"
         "color 0.500000 0.500000 0.500000 1.000000\nsubtex\n"
         "color 0.625000 0.625000 0.625000 1.000000\nsubtex\n"
         "map_channel -2\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        PluginHarness h(explicitDesc);
        h.set("useSeparateParams", 1); // the text ignores the mode and the colour texture
        for (const auto& [name, texture] : c.connections) {
            h.set(name, texture);
        }
        h.beginFrame();

        GPUDataRecord gpu;
        gpu.objectSpaceFlag = 5;
        EXPECT_EQ(spatialtest::gpuText(h.rtTex(), "MaterialDescriptor", gpu, 1), c.text);
        EXPECT_EQ(gpu.objectSpaceFlag, 0);
    }
    // Every connected float texture was asked once for its colour output in each case it
    // took part in; the colour texture was never asked, nor any texture evaluated.
    EXPECT_EQ(u.rtRequests(), std::vector<std::string>{"color"});
    EXPECT_EQ(v.rtRequests(), (std::vector<std::string>{"color", "color"}));
    EXPECT_EQ(w.rtRequests(), std::vector<std::string>{"color"});
    EXPECT_TRUE(color.rtRequests().empty());
    EXPECT_EQ(u.evaluations() + v.evaluations() + w.evaluations() + color.evaluations(), 0u);
}

TEST(UVWGenExplicit, GpuTextOnlyForMaterialDescriptors) {
    FloatTexture u(0.125f);
    u.objectSpaceFlag = 1;
    PluginHarness h(explicitDesc);
    h.set("u", &u);
    h.beginFrame();
    GPUDataRecord gpu;
    for (const char* kind : {"materialdescriptor", "MaterialDescriptor2", "Material", "",
                             static_cast<const char*>(nullptr)}) {
        gpu.objectSpaceFlag = 7;
        EXPECT_EQ(spatialtest::gpuText(h.rtTex(), kind, gpu, 0), "");
        EXPECT_EQ(gpu.objectSpaceFlag, 7);
    }
    EXPECT_TRUE(u.rtRequests().empty());

    // Unlike the object generator it describes itself even without a parameter list.
    UVWGenExplicit bare(nullptr);
    EXPECT_EQ(spatialtest::gpuText(bare, "MaterialDescriptor", gpu, 1),
              zeroColor + "subtex\n" + zeroColor + "subtex\n" + zeroColor + "subtex\n" +
                  "map_channel -2\n");
}

} // namespace
