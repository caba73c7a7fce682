// UVWGenChannel through its interfaces: channel choice, the provider and ShadeData paths, a
// connected input generator and its GPU text are rows in UVWGenChannel.jsonl; here its own
// interface and the chains of inputs.
#include "channel/UVWGenChannel.h"

#include "channel/ChannelChain.h"
#include "channel/UVWGenPlanarWorld.h"
#include "scene/ShadeStandIns.h"
#include "tests/rows/PluginRows.h"
#include "tests/support/Plugin.h"

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

TEST(UVWGenChannel, Rows) {
    rows::runRows(ROWS_DIR, "UVWGenChannel",
                  {&descriptor<UVWGenChannelDesc>(), &descriptor<UVWGenPlanarWorldDesc>()});
}

// Its own interface; shade data that is neither a channel provider nor the host's mesh
// ShadeData; an instance without a parameter list.
TEST(UVWGenChannel, ChannelInterfaceBareShadeDataAndNoParameters) {
    kivohost::RenderSession session;
    Instance gen(descriptor<UVWGenChannelDesc>());
    gen.set("uvw_transform",
            Transform{{{0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 2, 0}}, {0.5, 0.25, 0}});
    gen.set("tex_transform", translation(1, 0, 0));
    gen.set("wrap_u", 2);
    gen.set("wrap_v", 1);
    gen.set("crop_u", 1);
    gen.set("crop_w", 1);
    gen.set("uvw_channel", -1);
    gen.set("duvw_scale", 2.5f);
    gen.set("coverage", Vector4f{0.5f, 0.5f, 0.5f, 0.0f});
    gen.set("wrap_mode", 1);
    gen.set("use_double_sided_mode", true);
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

    // Without the host's interfaces the raw transform is the identity.
    Instance plain(descriptor<UVWGenChannelDesc>());
    plain.start(session);
    const BareShadeData bareData;
    sc.shadeData = &bareData;
    sc.shadingPoint = {1.0f, 1.0f, 0.0f, 0.0f};
    expectXYZ(plain.uvwAt(sc), 1.0f, 1.0f, 0.0f);
    plain.stop(session);

    // An instance without a parameter list has nothing to describe.
    UVWGenChannel bare(nullptr);
    GPUDataRecord record;
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
