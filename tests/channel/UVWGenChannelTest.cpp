// UVWGenChannel through its interfaces: channel choice, the provider and ShadeData paths, a
// connected input generator, its own interface and its GPU text.
#include "ChannelTestSupport.h"
#include "scene/ShadeStandIns.h"

#include <gtest/gtest.h>
#include <string>

namespace {

using namespace channeltest;

// Shade data that is neither a channel provider nor the host's mesh ShadeData.
class BareShadeData final : public KivoShadeData {
public:
    const ShadeQueryInterface* getInterface(InterfaceID) const override { return nullptr; }
};

kivohost::MapChannel channelWith(const Vector4f& uvw, const Vector4f& b0 = {1, 0, 0, 0},
                                 const Vector4f& b1 = {0, 1, 0, 0},
                                 const Vector4f& b2 = {0, 0, 1, 0}) {
    kivohost::MapChannel ch;
    ch.uvw = uvw;
    ch.basis[0] = b0;
    ch.basis[1] = b1;
    ch.basis[2] = b2;
    return ch;
}

// uvw at a context whose shading point lies (1, 1, 0) off the surface point.
Vector4f uvwAt(const Instance& gen, kivohost::RenderSession& session, const KivoShadeData* data,
               int backSide, int* valid = nullptr) {
    ShadingContext sc = contextAt(session, {0, 0, 0, 0});
    sc.flags = SC_FLAG_BYPASS_UVW_CACHE;
    sc.shadingPoint = {1.0f, 1.0f, 0.0f, 0.0f};
    sc.shadeData = data;
    sc.backSide = backSide;
    Vector4f uvw;
    const int v = gen.uvw().evalUVW(sc, uvw);
    if (valid) {
        *valid = v;
    }
    return uvw;
}

TEST(UVWGenChannel, DescriptorAndParameters) {
    UVWGenChannelDesc& desc = channelDesc();
    EXPECT_STREQ(desc.getName(), "UVWGenChannel");
    EXPECT_EQ(desc.getPluginID(), 2004120801u);
    EXPECT_STREQ(desc.getDescription(),
                 "The most common UVW generator plugin. Uses one of the map channels from a mesh "
                 "plugin and optionally transforms the UVs. [gpuSupport=(partial)]");
    EXPECT_TRUE(desc.supportsInterface(EXT_KIVO_PLUGIN));
    EXPECT_TRUE(desc.supportsInterface(EXT_UVWGEN));
    EXPECT_FALSE(desc.supportsInterface(EXT_RTTEX));

    const KivoParameterListDesc& defs = *desc.getParamListDesc();
    const char* names[] = {"uvw_transform",
                           "uvw_transform_tex",
                           "tex_transform",
                           "nsamples",
                           "wrap_u",
                           "wrap_v",
                           "wrap_w",
                           "crop_u",
                           "crop_v",
                           "crop_w",
                           "coverage",
                           "uvw_coords",
                           "wrap_mode",
                           "duvw_scale",
                           "uvw_channel",
                           "uvwgen",
                           "use_double_sided_mode"};
    ASSERT_EQ(defs.getNumParamDefs(), 17);
    for (int i = 0; i < 17; ++i) {
        EXPECT_STREQ(defs.getParamDefName(i), names[i]);
        if (i != 11) {
            EXPECT_EQ(defs.getParamDefCount(i), -1) << names[i];
        }
    }
    EXPECT_EQ(defs.getParamDefType(0), ParamType::Transform);
    EXPECT_EQ(defs.getParamDefWorldSpace(0), 0);
    EXPECT_EQ(defs.getParamDefType(1), ParamType::TextureTransform);
    EXPECT_EQ(defs.getParamDefType(10), ParamType::Vector);
    EXPECT_EQ(defs.getParamDefType(11), ParamType::OutputTextureVector);
    EXPECT_EQ(defs.getParamDefType(13), ParamType::Float);
    EXPECT_EQ(defs.getParamDefType(15), ParamType::Plugin);
    EXPECT_EQ(defs.getParamDefType(16), ParamType::Bool);
    EXPECT_STREQ(defs.getParamDefDescription(4), "0 - no wrapping, 1 - wrap, 2 - mirror tile");
    EXPECT_STREQ(defs.getParamDefDescription(12),
                 "Wrap mode (0 - wrap on 0.5 boundary; 1 - wrap on integer boundary");
    EXPECT_STREQ(defs.getParamDefHints(12),
                 "enum=(0:On 0.5 boundary; 1:On integer boundary), gpuSupport=(full)");
    EXPECT_STREQ(defs.getParamDefHints(3), "gpuSupport=(none)");
    EXPECT_STREQ(defs.getParamDefHints(16), "gpuSupport=(none)");
    EXPECT_STREQ(defs.getParamDefDescription(11),
                 "The uvw coordinates for the specified channel at the current shading point");
    EXPECT_STREQ(defs.getParamDefDescription(16),
                 "If this is true then we will use uvw_channel for front-side and uvw_channel + "
                 "1 for back-side contexts. This is primarily for Kivo for Draftly.");
}

TEST(UVWGenChannel, InterfacesInOrder) {
    Instance gen(channelDesc());
    PluginBase* plugin = gen.get();
    struct {
        InterfaceID id;
        const char* name;
    } parts[] = {{EXT_RTTEX, "EXT_RTTEX"},
                 {EXT_UVWGENCHANNEL, "EXT_UVWGENCHANNEL"},
                 {EXT_UVWGEN, "EXT_UVWGEN"},
                 {EXT_KIVO_PLUGIN, "EXT_KIVO_PLUGIN"}};
    for (const auto& part : parts) {
        PluginInterface* iface = plugin->getInterface(part.id);
        ASSERT_NE(iface, nullptr) << part.name;
        EXPECT_EQ(iface->getInterfaceID(), part.id);
        EXPECT_STREQ(iface->getInterfaceName(), part.name);
        EXPECT_EQ(iface->getPlugin(), plugin);
    }
    EXPECT_EQ(plugin->getInterface(EXT_TEXTURE), nullptr);
    // Other ids fall back to the interface list.
    PluginInterface* coords = &gen.uvwCoords();
    plugin->addInterface(coords, 0);
    EXPECT_EQ(plugin->getInterface(EXT_TEXTURE_VECTOR), coords);
    plugin->removeInterface(coords);
}

TEST(UVWGenChannel, MeshChannelThroughShadeData) {
    kivohost::RenderSession session;
    kivohost::MeshShadeData mesh;
    mesh.provider = false;
    mesh.channels[1] = channelWith({0.125f, 0.0f, 0.0f, 0.0f});
    mesh.channels[2] = channelWith({0.5f, 0.25f, 0.0f, 0.0f}, {2, 0, 0, 0}, {0, 4, 0, 0});
    mesh.channels[3] = channelWith({0.75f, 0.0f, 0.0f, 0.0f});
    Instance gen(channelDesc());
    gen.set("uvw_channel", 2);
    gen.start(session);

    // uvw = B^-1 (shadingPoint - surfacePoint) + uvw0 of channel 2.
    EXPECT_XYZ(uvwAt(gen, session, &mesh, 0), 1.0f, 0.5f, 0.0f);
    ShadingContext sc = contextAt(session, {0, 0, 0, 0});
    sc.shadeData = &mesh;
    UVWTransform tm;
    EXPECT_EQ(gen.uvw().evalUVWTransform(sc, tm), 1);
    EXPECT_VEC4(tm.c0, 0.5f, 0.0f, 0.0f, 0.0f);
    EXPECT_VEC4(tm.c1, 0.0f, 0.25f, 0.0f, 0.0f);
    EXPECT_VEC4(tm.c2, 0.0f, 0.0f, 1.0f, 1.0f);
    EXPECT_XYZ(tm.o, 0.5f, 0.25f, 0.0f);
    // Without double-sided mode the back side reads the same channel.
    EXPECT_XYZ(uvwAt(gen, session, &mesh, 1), 1.0f, 0.5f, 0.0f);

    gen.set("use_double_sided_mode", true);
    gen.lifecycle().frameBegin(&session.renderer);
    EXPECT_XYZ(uvwAt(gen, session, &mesh, 0), 1.0f, 0.5f, 0.0f);
    EXPECT_XYZ(uvwAt(gen, session, &mesh, 1), 1.75f, 1.0f, 0.0f);

    // -1 reads channel 1 (channel 2 on the back side) when asking ShadeData.
    gen.set("uvw_channel", -1);
    gen.lifecycle().frameBegin(&session.renderer);
    EXPECT_XYZ(uvwAt(gen, session, &mesh, 0), 1.125f, 1.0f, 0.0f);
    EXPECT_XYZ(uvwAt(gen, session, &mesh, 1), 1.0f, 0.5f, 0.0f);
    gen.stop(session);
}

TEST(UVWGenChannel, ChannelProviderGetsTheChannelAsSet) {
    kivohost::RenderSession session;
    kivohost::MeshShadeData mesh;
    mesh.channels[-1] = channelWith({9.0f, 0.0f, 0.0f, 0.0f});
    mesh.channels[0] = channelWith({8.0f, 0.0f, 0.0f, 0.0f});
    mesh.channels[1] = channelWith({7.0f, 0.0f, 0.0f, 0.0f});
    mesh.channels[2] = channelWith({0.5f, 0.25f, 0.0f, 0.0f}, {2, 0, 0, 0}, {0, 4, 0, 0});
    mesh.channels[3] = channelWith({6.0f, 0.0f, 0.0f, 0.0f});
    Instance gen(channelDesc());
    gen.set("uvw_channel", -1);
    gen.set("use_double_sided_mode", true);
    gen.start(session);
    EXPECT_XYZ(uvwAt(gen, session, &mesh, 0), 10.0f, 1.0f, 0.0f);
    EXPECT_XYZ(uvwAt(gen, session, &mesh, 1), 9.0f, 1.0f, 0.0f);

    gen.set("uvw_channel", 2);
    gen.lifecycle().frameBegin(&session.renderer);
    EXPECT_XYZ(uvwAt(gen, session, &mesh, 0), 1.0f, 0.5f, 0.0f);
    EXPECT_XYZ(uvwAt(gen, session, &mesh, 1), 7.0f, 1.0f, 0.0f);

    // evalChannelTransform passes uvw_channel unadjusted, whatever the side.
    ShadingContext sc = contextAt(session, {0, 0, 0, 0});
    sc.backSide = 1;
    UVWTransform tm;
    EXPECT_EQ(gen.uvw().evalChannelTransform(sc, nullptr, tm, 0), 0);
    EXPECT_EQ(gen.uvw().evalChannelTransform(sc, &mesh, tm, 5), 1);
    EXPECT_VEC4(tm.c0, 0.5f, 0.0f, 0.0f, 0.0f);
    EXPECT_XYZ(tm.o, 0.5f, 0.25f, 0.0f);
    gen.stop(session);
}

TEST(UVWGenChannel, IdentityWithoutMeshData) {
    kivohost::RenderSession session;
    BareShadeData bare;
    Instance gen(channelDesc());
    gen.set("uvw_transform", translation(0.5, 0, 0));
    gen.start(session);
    int valid = 0;
    EXPECT_XYZ(uvwAt(gen, session, nullptr, 0, &valid), 1.5f, 1.0f, 0.0f);
    EXPECT_EQ(valid, 1);
    EXPECT_XYZ(uvwAt(gen, session, &bare, 1, &valid), 1.5f, 1.0f, 0.0f);
    EXPECT_EQ(valid, 1);
    gen.stop(session);
}

TEST(UVWGenChannel, DegenerateBasisKeepsTheChannelUVW) {
    kivohost::RenderSession session;
    kivohost::MeshShadeData mesh;
    mesh.provider = false;
    mesh.channels[1] =
        channelWith({0.25f, 0.5f, 0.75f, 0.0f}, {1, 0, 0, 0}, {0, 1, 0, 0}, {1, 1, 0, 0});
    Instance gen(channelDesc());
    gen.start(session);
    ShadingContext sc = contextAt(session, {0, 0, 0, 0});
    sc.shadeData = &mesh;
    sc.shadingPoint = {3.0f, -2.0f, 1.0f, 0.0f};
    sc.dPdx = {1.0f, 1.0f, 1.0f, 0.0f};
    sc.dPdy = {0.0f, 2.0f, 0.0f, 0.0f};
    Vector4f out[3];
    EXPECT_EQ(gen.uvw().evalUVWDerivs(sc, out), 1);
    EXPECT_XYZ(out[0], 0.25f, 0.5f, 0.75f);
    EXPECT_XYZ(out[1], 0.0f, 0.0f, 0.0f);
    EXPECT_XYZ(out[2], 0.0f, 0.0f, 0.0f);
    gen.stop(session);
}

TEST(UVWGenChannel, ConnectedGeneratorTakesPrecedence) {
    kivohost::RenderSession session;
    kivohost::MeshShadeData mesh;
    mesh.channels[1] = channelWith({9.0f, 9.0f, 9.0f, 0.0f});
    mesh.channels[2] = channelWith({8.0f, 8.0f, 8.0f, 0.0f});
    Instance input(planarWorldDesc());
    input.set("uvw_transform", translation(0, 10, 0));
    Instance gen(channelDesc());
    gen.set("uvwgen", input.get());
    gen.set("use_double_sided_mode", true);
    gen.set("uvw_transform", translation(1, 0, 0));
    input.start(session);
    gen.start(session);

    ShadingContext sc = contextAt(session, {3.0f, 4.0f, 5.0f, 0.0f});
    sc.shadeData = &mesh;
    sc.backSide = 1;
    Vector4f uvw;
    EXPECT_EQ(gen.uvw().evalUVW(sc, uvw), 1);
    EXPECT_XYZ(uvw, 4.0f, 14.0f, 5.0f);

    // An input that reports its point invalid makes this one invalid, with the input's
    // transform as it came.
    input.set("crop_u", 1);
    input.lifecycle().frameBegin(&session.renderer);
    gen.lifecycle().frameBegin(&session.renderer);
    EXPECT_EQ(gen.uvw().evalUVW(sc, uvw), 0);
    EXPECT_XYZ(uvw, 3.0f, 14.0f, 5.0f);
    gen.stop(session);
    input.stop(session);
}

TEST(UVWGenChannel, ChannelInterface) {
    kivohost::RenderSession session;
    Instance gen(channelDesc());
    gen.set("uvw_channel", -1);
    gen.set("wrap_u", 2);
    gen.set("wrap_v", 1);
    gen.set("crop_u", 1);
    gen.set("crop_w", 1);
    gen.set("uvw_transform", translation(1, 2, 3));
    gen.set("tex_transform", transformOf({2, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {10, 0, 0}));
    gen.start(session);
    auto& channel =
        *static_cast<UVWGenChannelInterface*>(gen.get()->getInterface(EXT_UVWGENCHANNEL));

    EXPECT_EQ(channel.getMapChannel(), -1);
    std::uint8_t flags[4] = {0xff, 0xff, 0xff, 0xff};
    EXPECT_EQ(channel.getWrapCropFlags(flags), flags);
    EXPECT_EQ(flags[0], 0x91);
    EXPECT_EQ(flags[1], 0x01);
    EXPECT_EQ(flags[2], 0x00);
    EXPECT_EQ(flags[3], 0x00);

    // tex_transform after uvw_transform: (1, 2, 3) -> (2 * 1 + 10, 2, 3).
    UVWTransform tm;
    EXPECT_EQ(channel.getStaticTransform(tm), &tm);
    EXPECT_VEC4(tm.c0, 2.0f, 0.0f, 0.0f, 0.0f);
    EXPECT_VEC4(tm.o, 12.0f, 2.0f, 3.0f, 3.0f);
    gen.stop(session);

    // Motion blur: the static transform is the frame's first sample.
    session.sequence.motionBlur = 1;
    session.frame.frameTime = 0.5;
    ASSERT_TRUE(setParamKeys(gen.params(), "uvw_transform",
                             {{0.0, translation(0, 0, 0)}, {0.5, translation(4, 0, 0)}}));
    gen.set("tex_transform", Transform{});
    gen.set("nsamples", 2);
    gen.start(session);
    channel.getStaticTransform(tm);
    EXPECT_XYZ(tm.o, 0.0f, 0.0f, 0.0f);
    gen.stop(session);
}

const char* const defaultChannelText =
    "uvw_transform "
    "1.000000,0.000000,0.000000,0.000000,1.000000,0.000000,0.000000,0.000000,1.000000,0.000000,0."
    "000000,0.000000\n"
    "wrap 0,0,0\n"
    "crop 0,0,0\n"
    "map_channel 1\n"
    "duvw_scale 1.000000\n";

TEST(UVWGenChannel, GpuTextDefaults) {
    kivohost::RenderSession session;
    Instance gen(channelDesc());
    gen.start(session);
    auto& rt = *static_cast<RTTexInterface*>(gen.get()->getInterface(EXT_RTTEX));
    ShaderSource source;
    GPUDataRecord record;
    record.objectSpaceFlag = 1;
    EXPECT_EQ(rt.emitRTSource("", "uvw", "MaterialDescriptor", source, record), 1);
    EXPECT_STREQ(source.text(), defaultChannelText);
    EXPECT_EQ(record.objectSpaceFlag, 0);

    // Any other kind writes nothing.
    ShaderSource other;
    GPUDataRecord untouched;
    untouched.objectSpaceFlag = 1;
    EXPECT_EQ(rt.emitRTSource("", "uvw", "materialDescriptor", other, untouched), 0);
    EXPECT_EQ(rt.emitRTSource("", "uvw", nullptr, other, untouched), 0);
    EXPECT_EQ(other.size(), 0u);
    EXPECT_EQ(untouched.objectSpaceFlag, 1);
    gen.stop(session);

    // An instance without a parameter list has nothing to describe.
    UVWGenChannel bare(nullptr);
    EXPECT_EQ(bare.emitRTSource("", "uvw", "MaterialDescriptor", other, untouched), 0);
    EXPECT_EQ(other.size(), 0u);
}

TEST(UVWGenChannel, GpuTextWithInputAfterOwnLines) {
    kivohost::RenderSession session;
    Instance input(planarWorldDesc());
    input.set("uvw_transform", translation(7, 8, 9));
    input.set("wrap_u", 1);
    input.set("wrap_v", 1);
    input.set("wrap_w", 1);
    Instance gen(channelDesc());
    gen.set("uvwgen", input.get());
    gen.set("uvw_transform",
            transformOf({0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 2, 0}, {0.5, 0.25, 0}));
    gen.set("tex_transform", translation(1, 0, 0));
    gen.set("wrap_u", 2);
    gen.set("wrap_v", 1);
    gen.set("crop_u", 1);
    gen.set("crop_w", 1);
    gen.set("uvw_channel", -1);
    gen.set("duvw_scale", 2.5f);
    // Not part of the text.
    gen.set("coverage", Vector4f{0.5f, 0.5f, 0.5f, 0.0f});
    gen.set("wrap_mode", 1);
    gen.set("use_double_sided_mode", true);
    input.start(session);
    gen.start(session);

    auto& rt = *static_cast<RTTexInterface*>(gen.get()->getInterface(EXT_RTTEX));
    ShaderSource source;
    GPUDataRecord record;
    EXPECT_EQ(rt.emitRTSource("", "uvw", "MaterialDescriptor", source, record), 1);
    const std::string expected =
        "uvw_transform "
        "0.000000,1.000000,0.000000,-1.000000,0.000000,0.000000,0.000000,0.000000,2.000000,1."
        "500000,0.250000,0.000000\n"
        "wrap 2,1,0\n"
        "crop 1,0,1\n"
        "map_channel -1\n"
        "duvw_scale 2.500000\n"
        "uvw_transform "
        "1.000000,0.000000,0.000000,0.000000,1.000000,0.000000,0.000000,0.000000,1.000000,7."
        "000000,8.000000,9.000000\n"
        "wrap 1,1,1\n"
        "crop 0,0,0\n"
        "map_channel -5\n";
    EXPECT_EQ(std::string(source.text()), expected);
    gen.stop(session);
    input.stop(session);
}

} // namespace
