// UVWGenChannel through its interfaces: channel choice, the provider and ShadeData paths, a
// connected input generator, its own interface and its GPU text.
#include "channel/UVWGenChannel.h"

#include "channel/ChannelChain.h"
#include "channel/UVWGenPlanarWorld.h"
#include "scene/ShadeStandIns.h"
#include "tests/support/Plugin.h"

#include <climits>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace testsupport;

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

enum class Data { None, Bare, Mesh, Provider };

// The uvw at a shading point (1, 1, 0) off the surface point, for each way of asking for a
// channel: B^-1 (1, 1, 0) + uvw0 of the channel read.
TEST(UVWGenChannel, ChannelChoice) {
    kivohost::MeshShadeData mesh;
    mesh.channels[-1] = channelWith({9.0f, 0.0f, 0.0f, 0.0f});
    mesh.channels[0] = channelWith({8.0f, 0.0f, 0.0f, 0.0f});
    mesh.channels[1] = channelWith({0.125f, 0.0f, 0.0f, 0.0f});
    mesh.channels[2] = channelWith({0.5f, 0.25f, 0.0f, 0.0f}, {2, 0, 0, 0}, {0, 4, 0, 0});
    mesh.channels[3] = channelWith({0.75f, 0.0f, 0.0f, 0.0f});
    mesh.channels[INT_MAX] = channelWith({0.5f, 0.0f, 0.0f, 0.0f});
    // A degenerate basis gives zero columns and the channel's UVW as the offset.
    mesh.channels[4] =
        channelWith({0.25f, 0.5f, 0.75f, 0.0f}, {1, 0, 0, 0}, {0, 1, 0, 0}, {1, 1, 0, 0});
    BareShadeData bare;
    const struct {
        Data data;
        int channel;
        bool doubleSided;
        int backSide;
        float u, v, w;
    } cases[] = {
        // The ShadeData basis: -1 reads channel 1; the back side reads the next channel only
        // in double-sided mode.
        {Data::Mesh, 2, false, 0, 1.0f, 0.5f, 0.0f},
        {Data::Mesh, 2, false, 1, 1.0f, 0.5f, 0.0f},
        {Data::Mesh, 2, true, 1, 1.75f, 1.0f, 0.0f},
        {Data::Mesh, -1, true, 0, 1.125f, 1.0f, 0.0f},
        {Data::Mesh, -1, true, 1, 1.0f, 0.5f, 0.0f},
        {Data::Mesh, 4, false, 0, 0.25f, 0.5f, 0.75f},
        // A channel provider gets the channel as set, -1 included.
        {Data::Provider, -1, true, 0, 10.0f, 1.0f, 0.0f},
        {Data::Provider, -1, true, 1, 9.0f, 1.0f, 0.0f},
        {Data::Provider, 2, true, 0, 1.0f, 0.5f, 0.0f},
        {Data::Provider, 2, true, 1, 1.75f, 1.0f, 0.0f},
        // No channel follows the last index: its back side reads it too.
        {Data::Provider, INT_MAX, true, 1, 1.5f, 1.0f, 0.0f},
        // Without mesh data the raw transform is the identity.
        {Data::None, 2, true, 1, 1.0f, 1.0f, 0.0f},
        {Data::Bare, 2, true, 1, 1.0f, 1.0f, 0.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "data " << int(c.data) << " channel " << c.channel << " double-sided "
                     << c.doubleSided << " back " << c.backSide);
        kivohost::RenderSession session;
        Instance gen(descriptor<UVWGenChannelDesc>());
        gen.set("uvw_channel", c.channel);
        gen.set("use_double_sided_mode", c.doubleSided);
        gen.start(session);
        mesh.provider = c.data == Data::Provider;
        ShadingContext sc = contextAt(session, {0, 0, 0, 0});
        sc.shadingPoint = {1.0f, 1.0f, 0.0f, 0.0f};
        sc.shadeData = c.data == Data::None   ? nullptr
                       : c.data == Data::Bare ? static_cast<const KivoShadeData*>(&bare)
                                              : &mesh;
        sc.backSide = c.backSide;
        Vector4f uvw;
        EXPECT_EQ(gen.uvw().evalUVW(sc, uvw), 1);
        expectXYZ(uvw, c.u, c.v, c.w);
        gen.stop(session);
    }
}

TEST(UVWGenChannel, ConnectedGeneratorTakesPrecedence) {
    kivohost::RenderSession session;
    kivohost::MeshShadeData mesh;
    mesh.channels[1] = channelWith({9.0f, 9.0f, 9.0f, 0.0f});
    mesh.channels[2] = channelWith({8.0f, 8.0f, 8.0f, 0.0f});
    Instance input(descriptor<UVWGenPlanarWorldDesc>());
    input.set("uvw_transform", translation(0, 10, 0));
    Instance gen(descriptor<UVWGenChannelDesc>());
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
    expectXYZ(uvw, 4.0f, 14.0f, 5.0f);

    // An input that reports its point invalid makes this one invalid, with the input's
    // transform as it came.
    input.set("crop_u", 1);
    input.begin(session);
    gen.begin(session);
    EXPECT_EQ(gen.uvw().evalUVW(sc, uvw), 0);
    expectXYZ(uvw, 3.0f, 14.0f, 5.0f);
    gen.stop(session);
    input.stop(session);
}

// Its own interface and its GPU text: its lines, then the input's.
TEST(UVWGenChannel, ChannelInterfaceAndGpuText) {
    kivohost::RenderSession session;
    Instance input(descriptor<UVWGenPlanarWorldDesc>());
    input.set("uvw_transform", translation(7, 8, 9));
    input.set("wrap_u", 1);
    input.set("wrap_v", 1);
    input.set("wrap_w", 1);
    Instance gen(descriptor<UVWGenChannelDesc>());
    gen.set("uvwgen", input.get());
    gen.set("uvw_transform",
            Transform{{{0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 2, 0}}, {0.5, 0.25, 0}});
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

    auto& channel = *gen.as<UVWGenChannelInterface>(EXT_UVWGENCHANNEL);
    EXPECT_EQ(channel.getMapChannel(), -1);
    std::uint8_t flags[4] = {0xff, 0xff, 0xff, 0xff};
    EXPECT_EQ(channel.getWrapCropFlags(flags), flags);
    EXPECT_EQ(std::vector<int>(flags, flags + 4), (std::vector<int>{0x91, 0x01, 0x00, 0x00}));
    // tex_transform after uvw_transform: (0.5, 0.25, 0) moved by (1, 0, 0).
    UVWTransform tm;
    EXPECT_EQ(channel.getStaticTransform(tm), &tm);
    expectXYZW(tm.c0, 0.0f, 1.0f, 0.0f, 0.0f);
    expectXYZW(tm.o, 1.5f, 0.25f, 0.0f, 0.0f);

    GPUDataRecord record;
    record.objectSpaceFlag = 1;
    EXPECT_EQ(gpuText(gen.rt(), "", record),
              "uvw_transform "
              "0.000000,1.000000,0.000000,-1.000000,0.000000,0.000000,0.000000,0.000000,2.000000,"
              "1.500000,0.250000,0.000000\n"
              "wrap 2,1,0\n"
              "crop 1,0,1\n"
              "map_channel -1\n"
              "duvw_scale 2.500000\n"
              "uvw_transform "
              "1.000000,0.000000,0.000000,0.000000,1.000000,0.000000,0.000000,0.000000,1.000000,"
              "7.000000,8.000000,9.000000\n"
              "wrap 1,1,1\n"
              "crop 0,0,0\n"
              "map_channel -5\n");
    EXPECT_EQ(record.objectSpaceFlag, 0);

    // evalChannelTransform asks a provider for uvw_channel as set, whatever the side.
    kivohost::MeshShadeData mesh;
    mesh.channels[-1] = channelWith({0.5f, 0.25f, 0.0f, 0.0f}, {2, 0, 0, 0}, {0, 4, 0, 0});
    ShadingContext sc = contextAt(session, {0, 0, 0, 0});
    sc.backSide = 1;
    EXPECT_EQ(gen.uvw().evalChannelTransform(sc, nullptr, tm, 0), 0);
    EXPECT_EQ(gen.uvw().evalChannelTransform(sc, &mesh, tm, 5), 1);
    expectXYZW(tm.c0, 0.5f, 0.0f, 0.0f, 0.0f);
    expectXYZ(tm.o, 0.5f, 0.25f, 0.0f);
    gen.stop(session);
    input.stop(session);

    // Motion blur: the static transform is the frame's first sample.
    session.sequence.motionBlur = 1;
    session.frame.frameTime = 0.5;
    ASSERT_TRUE(setParamKeys(gen.params(), "uvw_transform",
                             {{0.0, translation(0, 0, 0)}, {0.5, translation(4, 0, 0)}}));
    gen.set("tex_transform", Transform{});
    gen.set("nsamples", 2);
    gen.start(session);
    channel.getStaticTransform(tm);
    expectXYZ(tm.o, 0.0f, 0.0f, 0.0f);
    gen.stop(session);

    // An instance without a parameter list has nothing to describe.
    UVWGenChannel bare(nullptr);
    EXPECT_EQ(gpuText(bare, "", record, "MaterialDescriptor", 0), "");
}

} // namespace

TEST(UVWGenChannel, ChainsThatLeadBackOrNeverEndEvaluateAsUnconnected) {
    // 1 -> 2 -> 1, and 260 -> 259 -> ... -> 3, one link longer than the library follows. Each
    // generator adds 1 to u, so u counts the generators evaluated. Those whose chain does not
    // end evaluate as unconnected, with one message a frame, and describe only themselves.
    kivohost::RenderSession session;
    std::vector<std::unique_ptr<Instance>> all;
    auto add = [&](PluginBase* input) {
        all.push_back(std::make_unique<Instance>(descriptor<UVWGenChannelDesc>()));
        Instance& i = *all.back();
        i.set("uvwgen", input);
        i.set("uvw_transform", translation(1, 0, 0));
        static_cast<Plugin*>(i.get())->setPluginName(std::to_string(all.size()).c_str());
        return i.get();
    };
    PluginBase* first = add(nullptr);
    all[0]->set("uvwgen", add(first));
    PluginBase* head = add(nullptr);
    for (int i = 0; i <= MAX_CHANNEL_CHAIN; ++i) {
        head = add(head);
    }
    for (const auto& i : all) {
        i->start(session);
    }
    const std::vector<std::string> lines = session.log.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "[UVWGenChannel] \"1\": the chain of uvwgen inputs leads back to this "
                        "generator; evaluated as unconnected\n");
    EXPECT_EQ(lines[2], "[UVWGenChannel] \"260\": the chain of uvwgen inputs does not end "
                        "within 256 generators; evaluated as unconnected\n");
    const ShadingContext sc = contextAt(session, {3.0f, 4.0f, 5.0f, 0.0f});
    const std::pair<std::size_t, float> expected[] = {
        {0, 1.0f}, {1, 1.0f}, {258, 257.0f}, {259, 1.0f}};
    for (const auto& [index, u] : expected) {
        SCOPED_TRACE(index);
        Vector4f uvw;
        EXPECT_EQ(all[index]->uvw().evalUVW(sc, uvw), 1);
        expectXYZ(uvw, u, 0.0f, 0.0f);
        GPUDataRecord record;
        const std::string text = gpuText(all[index]->rt(), "", record);
        EXPECT_EQ(text.find("uvw_transform", 1) == std::string::npos, u == 1.0f);
    }
    for (const auto& i : all) {
        i->stop(session);
    }
}
