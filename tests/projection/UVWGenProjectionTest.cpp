#include "ProjectionFixture.h"
#include "ProjectionTestSupport.h"
#include "scene/Bitmap.h"
#include "scene/Cameras.h"
#include "scene/GpuParamBlocks.h"
#include "scene/ShadeStandIns.h"
#include "scene/TransformTextures.h"

#include <bit>
#include <cstring>
#include <random>
#include <string>

using namespace KUtils;
using projtest::expectVec;
using projtest::makeTransform;
using projtest::Projection;

namespace {

// Scale 0.5 with offset (0, 0, -1).
Transform halfScale() {
    return makeTransform({0.5f, 0, 0, 0}, {0, 0.5f, 0, 0}, {0, 0, 0.5f, 0}, {0, 0, -1});
}

// Scale 2 with offset (1, 2, 3).
Transform doubleScale() {
    return makeTransform({2, 0, 0, 0}, {0, 2, 0, 0}, {0, 0, 2, 0}, {1, 2, 3});
}

// A rotation about (1, 1, 1) by 40 degrees, scaled by s, with an offset.
Transform rotation(float s, const Vector3d& offs) {
    const float a = 0.6981317f, c = std::cos(a), d = std::sin(a), k = 1.0f / std::sqrt(3.0f);
    const float x = k, y = k, z = k, t = 1 - c;
    return makeTransform({s * (t * x * x + c), s * (t * x * y + d * z), s * (t * x * z - d * y), 0},
                         {s * (t * x * y - d * z), s * (t * y * y + c), s * (t * y * z + d * x), 0},
                         {s * (t * x * z + d * y), s * (t * y * z - d * x), s * (t * z * z + c), 0},
                         offs);
}

std::string paramDefRow(KivoParameterListDesc& d, int i) {
    return std::string(d.getParamDefName(i)) + "|" + std::to_string(int(d.getParamDefType(i))) +
           "|" + std::to_string(d.getParamDefCount(i)) + "|" + d.getParamDefHints(i);
}

std::uint32_t wordAt(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    return std::uint32_t(bytes[offset]) | std::uint32_t(bytes[offset + 1]) << 8 |
           std::uint32_t(bytes[offset + 2]) << 16 | std::uint32_t(bytes[offset + 3]) << 24;
}

// The expected block, written word by word.
std::vector<std::uint8_t> expectedBlock(const std::vector<std::uint32_t>& words) {
    std::vector<std::uint8_t> bytes;
    for (std::uint32_t w : words) {
        for (int i = 0; i < 4; ++i) {
            bytes.push_back(std::uint8_t(w >> (8 * i)));
        }
    }
    return bytes;
}

std::uint32_t f(float v) {
    return std::bit_cast<std::uint32_t>(v);
}

} // namespace

TEST(UVWGenProjection, DescriptorAndParameters) {
    UVWGenProjectionDesc& desc = projtest::projectionDesc();
    EXPECT_STREQ(desc.getName(), "UVWGenProjection");
    EXPECT_EQ(desc.getPluginID(), 2007020102u);
    EXPECT_STREQ(desc.getDescription(),
                 "UVW generator that applies the chosen projection type to the world or object "
                 "space coordinates of the shaded point [gpuSupport=(partial)]");
    EXPECT_TRUE(desc.supportsInterface(EXT_KIVO_PLUGIN));
    EXPECT_TRUE(desc.supportsInterface(EXT_UVWGEN));
    EXPECT_FALSE(desc.supportsInterface(EXT_RTTEX));

    KivoParameterListDesc& d = *desc.getParamListDesc();
    ASSERT_EQ(d.getNumParamDefs(), 18);
    const char* rows[] = {
        "uvw_transform|7|-1|gpuSupport=(full)",
        "uvw_transform_tex|8|-1|gpuSupport=(full)",
        "tex_transform|7|-1|gpuSupport=(full)",
        "type|0|-1|enum=(0:Node;1:Planar;2:Spherical;3:Cylindrical;4:Ball;5:Cubic;6:Triplanar;8:"
        "Perspective; 9:Quor cubic; 10:Quor box), gpuSupport=(partial)",
        "u_angle|1|-1|units=(radians), gpuSupport=(none)",
        "v_angle|1|-1|units=(radians), gpuSupport=(none)",
        "camera_settings|11|-1|gpuSupport=(none)",
        "camera_view|11|-1|gpuSupport=(full)",
        "fitfill|0|-1|enum=(0:Fit fill;1:Horizontal;2:Vertical), gpuSupport=(none)",
        "fittype|0|-1|enum=(0:None;1:Match camera file gate;2:Match camera resolution), "
        "gpuSupport=(full)",
        "bitmap|11|-1|gpuSupport=(none)",
        "film_gate_w|1|-1|gpuSupport=(full)",
        "film_gate_h|1|-1|gpuSupport=(full)",
        "hide_backface|2|-1|gpuSupport=(none)",
        "hide_occluded|2|-1|gpuSupport=(none)",
        "object_space|2|-1|gpuSupport=(full)",
        "include_overscan|2|-1|gpuSupport=(none)",
        "nsamples|0|-1|gpuSupport=(none)",
    };
    for (int i = 0; i < 18; ++i) {
        EXPECT_EQ(paramDefRow(d, i), rows[i]);
    }
    EXPECT_STREQ(d.getParamDefDescription(3),
                 "Mapping type (0 - none; 1 - planar; 2 - spherical; 3 - cylindrical; 4 - ball; "
                 "5 - cubic; 6 - triplanar; 8 - perspective; 9 - Quor cubic; 10 - Quor box");
    EXPECT_STREQ(d.getParamDefDescription(10),
                 "If we are projecting a bitmap, this is the bitmap's buffer, we need it to "
                 "implement vertical/horizontal fit");
    EXPECT_STREQ(d.getParamDefDescription(16),
                 "True to include camera overscan in perspective mode.");
    EXPECT_EQ(d.getParamDefWorldSpace(0), 0);

    Projection proj;
    PluginBase* p = proj.plugin;
    for (InterfaceID id : {EXT_RTTEX, EXT_RENDER_SETTINGS, EXT_UVWGEN, EXT_KIVO_PLUGIN}) {
        PluginInterface* iface = p->getInterface(id);
        ASSERT_NE(iface, nullptr);
        EXPECT_EQ(iface->getInterfaceID(), id);
        EXPECT_EQ(iface->getPlugin(), p);
    }
    EXPECT_EQ(p->getInterface(EXT_RENDER_SETTINGS)->getInterfaceName(), nullptr);
    EXPECT_EQ(p->getInterface(EXT_TEXTURE), nullptr);
}

TEST(UVWGenProjection, TransformChainSceneOriginAndReferencePoint) {
    kivohost::RenderSession session;
    session.frame.sceneOrigin = {10, 0, 0};
    Projection proj;
    proj.set("uvw_transform", halfScale());
    proj.set("tex_transform", doubleScale());
    proj.startRender(session);
    proj.startFrame(session);

    ShadingContext sc;
    sc.renderer = &session.renderer;
    sc.shadingPoint = {-9, 1, 2, 0};
    sc.dPdx = {1, 0, 0, 0};
    sc.dPdy = {0, 0, 2, 0};
    // World (1, 1, 2) -> p = (0.5, 0.5, 0) -> planar (0.75, 0.75, 0.5) -> tex (2.5, 3.5, 4).
    UVWTransform tm = proj.transformAt(sc);
    expectVec(tm.o, 2.5f, 3.5f, 4.0f);
    expectVec(tm.c0, 0.5f, 0, 0);
    expectVec(tm.c1, 0, 0.5f, 0);
    expectVec(tm.c2, 0, 0, 0.5f);
    Vector4f out[3];
    EXPECT_EQ(proj.uvwgen().evalUVWDerivs(sc, out), 1);
    expectVec(out[0], 2.5f, 3.5f, 4.0f);
    expectVec(out[1], 0.5f, 0, 0);
    expectVec(out[2], 0, 0, 1.0f);

    // The reference point (absolute) replaces the shading point.
    kivohost::ShadedInstance instance;
    instance.referencePoint = Vector4f{1, 1, 2, 0};
    sc.shadeInstance = &instance;
    sc.shadingPoint = {50, 50, 50, 0};
    expectVec(proj.uvwAt(sc), 2.5f, 3.5f, 4.0f);

    // In object space: the instance's object transform, no scene origin, no reference point.
    proj.set("object_space", true);
    proj.startFrame(session);
    instance.objectSpace =
        toUVWTransform(makeTransform({1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {-49, -49, -48}));
    expectVec(proj.uvwAt(sc), 2.5f, 3.5f, 4.0f);
    // Object space without the interface falls back to the world position.
    instance.objectSpace.reset();
    sc.shadingPoint = {-9, 1, 2, 0};
    expectVec(proj.uvwAt(sc), 2.5f, 3.5f, 4.0f);

    // Unnamed types: the tex_transform offset and a zero Jacobian.
    for (int type : {0, 7, 42}) {
        proj.set("type", type);
        proj.startFrame(session);
        int valid = 0;
        tm = proj.transformAt(sc, &valid);
        EXPECT_EQ(valid, 1);
        expectVec(tm.o, 1, 2, 3, 0);
        expectVec(tm.c0, 0, 0, 0, 0);
        expectVec(tm.c1, 0, 0, 0, 0);
        expectVec(tm.c2, 0, 0, 0, 0);
    }
}

TEST(UVWGenProjection, HandValuesOfEachTypeThroughThePlugin) {
    kivohost::RenderSession session;
    Projection proj;
    proj.set("tex_transform", doubleScale());
    proj.startRender(session);
    ShadingContext sc;
    sc.renderer = &session.renderer;
    sc.normal = {0.1f, 0.2f, -0.9f, 0};
    struct Case {
        int type;
        Vector4f p;
        Vector4f uvw;
    } cases[] = {
        {1, {0.2f, -0.4f, 1, 0}, {0.6f, 0.3f, 1, 0}},
        {2, {1, 0, 0, 0}, {0.75f, 0.5f, 1, 0}},
        {3, {1, 0.5f, 0, 0}, {1, 0.75f, std::sqrt(1.25f), 0}},
        {4, {1, 0, 1, 0}, {0.625f, 0.5f, 0, 0}},
        {5, {2, 0.5f, -1, 0}, {0.25f, 0.625f, std::sqrt(5.25f), 0}},
        {6, {0.2f, 0.4f, 0.6f, 0}, {0.6f, 0.7f, 0.3f, 0}},
        {9, {0.2f, 0.4f, 0.6f, 0}, {0.3f, 0.9f, 0.6f, 0}},
        {10, {0.2f, 0.4f, 0.6f, 0}, {0.7f, 0.1f, 0.6f, 0}},
    };
    for (const Case& c : cases) {
        proj.set("type", c.type);
        proj.startFrame(session);
        sc.shadingPoint = c.p;
        const Vector4f uvw = proj.uvwAt(sc);
        expectVec(uvw, 2 * c.uvw.x + 1, 2 * c.uvw.y + 2, 2 * c.uvw.z + 3);
    }
}

TEST(UVWGenProjection, JacobianMatchesDifferencesThroughTransformsAndObjectSpace) {
    kivohost::RenderSession session;
    session.frame.sceneOrigin = {3, -2, 1};
    const Transform m = rotation(0.8f, {0.1, -0.2, 0.3});
    const Transform tex = rotation(1.5f, {5, 6, 7});
    kivohost::ShadedInstance instance;
    instance.objectSpace = toUVWTransform(rotation(1.2f, {-0.5, 0.25, 0.4}));
    // The projected point p = M * (object space * P), computed here to stay off seams.
    const UVWTransform mObject = compose(toUVWTransform(m), *instance.objectSpace);

    std::mt19937 rng(11);
    std::uniform_real_distribution<float> coord(-1.5f, 1.5f);
    for (int type : {1, 2, 3, 4, 5, 6, 9, 10}) {
        Projection proj;
        proj.set("type", type);
        proj.set("uvw_transform", m);
        proj.set("tex_transform", tex);
        proj.set("object_space", true);
        proj.set("u_angle", 2.5f);
        proj.set("v_angle", 1.1f);
        proj.startRender(session);
        proj.startFrame(session);

        ShadingContext sc;
        sc.renderer = &session.renderer;
        sc.shadeInstance = &instance;
        sc.normal = {0.9f, 0.3f, -0.2f, 0};
        int checked = 0;
        for (int i = 0; i < 200 && checked < 40; ++i) {
            const Vector4f P{coord(rng), coord(rng), coord(rng), 0};
            if (!projtest::awayFromSingularities(type, applyPoint(mObject, P))) {
                continue;
            }
            ++checked;
            sc.shadingPoint = P;
            const UVWTransform tm = proj.transformAt(sc);
            // evalUVW agrees with the transform's offset.
            const Vector4f uvw = proj.uvwAt(sc);
            EXPECT_EQ(uvw.x, tm.o.x);
            const float h = 1e-3f;
            const Vector4f* cols[3] = {&tm.c0, &tm.c1, &tm.c2};
            for (int k = 0; k < 3; ++k) {
                Vector4f step{};
                (k == 0 ? step.x : k == 1 ? step.y : step.z) = h;
                sc.shadingPoint = P + step;
                const Vector4f plus = proj.uvwAt(sc);
                sc.shadingPoint = P - step;
                const Vector4f minus = proj.uvwAt(sc);
                const Vector4f fd = (plus - minus) * (0.5f / h);
                const float tol = 3e-3f * (1.0f + std::fabs(cols[k]->x) + std::fabs(cols[k]->y) +
                                           std::fabs(cols[k]->z));
                EXPECT_NEAR(cols[k]->x, fd.x, tol) << "type " << type << " axis " << k;
                EXPECT_NEAR(cols[k]->y, fd.y, tol) << "type " << type << " axis " << k;
                EXPECT_NEAR(cols[k]->z, fd.z, tol) << "type " << type << " axis " << k;
            }
        }
        EXPECT_GE(checked, 40) << "type " << type;
    }
}

TEST(UVWGenProjection, MotionSamplesCountTimesAndInterpolation) {
    kivohost::RenderSession session;
    session.sequence.motionBlur = 1;
    session.frame.motionBlurStart = 0.0;
    session.frame.motionBlurEnd = 1.0;
    Projection proj;
    // Offset x rises to 2 at t = 0.5 and falls back to 0 at t = 1.
    auto offsetX = [](double x) {
        return ParamValue{makeTransform({1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {x, 0, 0})};
    };
    ASSERT_TRUE(setParamKeys(*paramListOf(proj.plugin), "uvw_transform",
                             {{0.0, offsetX(0)}, {0.5, offsetX(2)}, {1.0, offsetX(0)}}));
    proj.startRender(session);

    ShadingContext sc;
    sc.renderer = &session.renderer;
    auto uAt = [&](float time) {
        sc.time = time;
        return proj.uvwAt(sc).x; // planar: u = 0.5 * offset + 0.5 at the origin
    };

    // The sequence's default of two samples: the ends only, so the peak is missed.
    proj.startFrame(session);
    EXPECT_FLOAT_EQ(uAt(0.5f), 0.5f);
    proj.kivo().finishFrame(&session.renderer);

    // Three samples at 0, 0.5 and 1, linear between them.
    proj.set("nsamples", 3);
    proj.startFrame(session);
    EXPECT_FLOAT_EQ(uAt(0.0f), 0.5f);
    EXPECT_FLOAT_EQ(uAt(0.25f), 1.0f);
    EXPECT_FLOAT_EQ(uAt(0.5f), 1.5f);
    EXPECT_FLOAT_EQ(uAt(0.625f), 1.25f);
    EXPECT_FLOAT_EQ(uAt(1.0f), 0.5f);
    proj.kivo().finishFrame(&session.renderer);

    // Samples spread over the blur interval: 0.25, 0.5, 0.75.
    session.frame.motionBlurStart = 0.25;
    session.frame.motionBlurEnd = 0.75;
    proj.startFrame(session);
    EXPECT_FLOAT_EQ(uAt(0.0f), 1.0f);
    EXPECT_FLOAT_EQ(uAt(0.5f), 1.5f);
    EXPECT_FLOAT_EQ(uAt(1.0f), 1.0f);
    // A second frame begin without finishFrame starts over (no samples leak).
    proj.startFrame(session);
    EXPECT_FLOAT_EQ(uAt(0.5f), 1.5f);
    proj.kivo().finishFrame(&session.renderer);

    // Motion blur off: one transform at the frame time.
    session.sequence.motionBlur = 0;
    session.frame.frameTime = 0.25;
    proj.startFrame(session);
    EXPECT_FLOAT_EQ(uAt(0.0f), 1.0f);
    EXPECT_FLOAT_EQ(uAt(1.0f), 1.0f);
    proj.kivo().finishFrame(&session.renderer);
}

TEST(UVWGenProjection, TransformTextureOverridesAndStopsSampling) {
    kivohost::RenderSession session;
    session.sequence.motionBlur = 1;
    kivohost::TransformTexture texture([](const ShadingContext& sc) {
        UVWTransform t;
        t.o = {sc.time * 4, 0, 0, 0};
        return t;
    });
    kivohost::GpuParamBlocks registry;
    Projection proj;
    proj.set("uvw_transform", doubleScale());
    proj.set("uvw_transform_tex", static_cast<PluginBase*>(&texture));
    proj.set("nsamples", 3);
    proj.startRender(session);
    proj.startFrame(session);

    ShadingContext sc;
    sc.renderer = &session.renderer;
    sc.shadingPoint = {0.2f, 0.4f, 0.6f, 0};
    sc.time = 0.5f;
    // Identity matrix with offset (2, 0, 0) from the texture: uvw_transform is not used.
    expectVec(proj.uvwAt(sc), 1.6f, 0.7f, 0.8f);
    EXPECT_EQ(texture.evaluations(), 1u);

    // The GPU block shows that uvw_transform was not sampled at this frame begin: the
    // transform the block carries is still the identity the instance started with.
    ShaderSource source;
    GPUDataRecord gpu;
    gpu.paramBlockRegistry = &registry;
    proj.rttex().emitRTSource("", "n", "MaterialDescriptor", source, gpu);
    const std::vector<std::uint8_t>& bytes = registry.find(proj.plugin)->bytes;
    EXPECT_EQ(wordAt(bytes, 64), f(1.0f));
    EXPECT_EQ(wordAt(bytes, 96), f(0.0f));
    proj.kivo().finishFrame(&session.renderer);
}

TEST(UVWGenProjection, GpuTextAndParameterBlock) {
    kivohost::RenderSession session;
    // The registry outlives every registration in it.
    kivohost::GpuParamBlocks registry;
    Projection proj;
    proj.set("type", 5);
    proj.set("fittype", 1);
    proj.set("film_gate_w", 36.0f);
    proj.set("film_gate_h", 24.0f);
    proj.set("object_space", true);
    proj.set("uvw_transform",
             makeTransform({1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 0}, {10.5, -11.25, 12}));
    proj.startRender(session);
    proj.startFrame(session);

    // Without a registry: the two lines, id -1, object-space flag cleared, result 0.
    ShaderSource plain;
    GPUDataRecord noRegistry;
    noRegistry.objectSpaceFlag = 1;
    EXPECT_EQ(proj.rttex().emitRTSource("", "name", "AnyKind", plain, noRegistry), 0);
    EXPECT_STREQ(plain.text(), "projection\nprojParamsPtr_id -1\n");
    EXPECT_EQ(noRegistry.objectSpaceFlag, 0);

    // With a registry: registered once, under the id the registry gave.
    int otherOwner = 0;
    registry.addParamBlock(reinterpret_cast<PluginBase*>(&otherOwner), nullptr, 0, 0);
    GPUDataRecord gpu;
    gpu.paramBlockRegistry = &registry;
    ShaderSource source;
    EXPECT_EQ(proj.rttex().emitRTSource("", "name", "MaterialDescriptor", source, gpu), 0);
    EXPECT_EQ(proj.rttex().emitRTSource("", "name", "MaterialDescriptor", source, gpu), 0);
    EXPECT_STREQ(source.text(), "projection\nprojParamsPtr_id 1\nprojection\nprojParamsPtr_id 1\n");
    EXPECT_EQ(registry.additions, 2);
    const kivohost::GpuParamBlocks::Block* block = registry.find(proj.plugin);
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(block->committed);
    EXPECT_EQ(block->flags, 0);
    EXPECT_EQ(block->bytes,
              expectedBlock({5,    1,    f(36), f(24), 0,        1,          0,     0,    0,    0,
                             0,    0,    f(4),  f(5),  f(6),     0,          f(1),  f(2), f(3), 0,
                             f(7), f(8), f(9),  0,     f(10.5f), f(-11.25f), f(12), 0,    f(1)}));

    // finishFrame releases the registration; the next emission registers afresh.
    proj.kivo().finishFrame(&session.renderer);
    EXPECT_EQ(registry.removals, 1);
    EXPECT_EQ(registry.find(proj.plugin), nullptr);
    ShaderSource again;
    proj.rttex().emitRTSource("", "name", "MaterialDescriptor", again, gpu);
    EXPECT_STREQ(again.text(), "projection\nprojParamsPtr_id 2\n");

    // Destruction releases a block that is still registered.
    {
        Projection other;
        other.startRender(session);
        other.startFrame(session);
        other.rttex().emitRTSource("", "n", "", again, gpu);
        EXPECT_NE(registry.find(other.plugin), nullptr);
    }
    EXPECT_EQ(registry.removals, 2);
    EXPECT_EQ(registry.size(), 2u);
}

TEST(UVWGenProjection, ParameterBlockWithCameraViewAndMotionSamples) {
    static kivohost::RenderViewDesc viewDesc;
    PluginBase* view = viewDesc.newPlugin(nullptr);
    KivoParameterList& viewParams = *paramListOf(view);
    ASSERT_TRUE(
        setParamValue(viewParams, "transform",
                      makeTransform({0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 1, 0}, {1.5, -2.25, 3})));
    ASSERT_TRUE(setParamValue(viewParams, "fov", 1.25f));
    ASSERT_TRUE(setParamValue(viewParams, "zoom", 2.5f));

    kivohost::RenderSession session;
    kivohost::GpuParamBlocks registry;
    GPUDataRecord gpu;
    gpu.paramBlockRegistry = &registry;
    {
        Projection proj;
        proj.set("type", 8);
        proj.set("camera_view", view);
        proj.startRender(session);
        proj.startFrame(session);
        ShaderSource source;
        proj.rttex().emitRTSource("", "n", "", source, gpu);
        EXPECT_EQ(registry.find(proj.plugin)->bytes,
                  expectedBlock({8,       0,         f(1),     f(1), 1,        0,        0,     0,
                                 0,       0,         f(1.25f), 0,    f(-1),    f(0),     f(0),  0,
                                 f(0),    f(1),      f(0),     0,    f(-0.0f), f(-0.0f), f(-1), 0,
                                 f(1.5f), f(-2.25f), f(3),     0,    f(2.5f)}));
        proj.kivo().finishFrame(&session.renderer);
    }
    {
        // Under motion blur the block carries the frame's first sample.
        session.sequence.motionBlur = 1;
        Projection proj;
        auto offsetX = [](double x) {
            return ParamValue{makeTransform({1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {x, 0, 0})};
        };
        ASSERT_TRUE(setParamKeys(*paramListOf(proj.plugin), "uvw_transform",
                                 {{0.0, offsetX(4)}, {1.0, offsetX(8)}}));
        proj.startRender(session);
        proj.startFrame(session);
        ShaderSource source;
        proj.rttex().emitRTSource("", "n", "", source, gpu);
        const std::vector<std::uint8_t>& bytes = registry.find(proj.plugin)->bytes;
        EXPECT_EQ(wordAt(bytes, 16), 0u);
        EXPECT_EQ(wordAt(bytes, 96), f(4.0f));
        EXPECT_EQ(wordAt(bytes, 112), f(1.0f));
        proj.kivo().finishFrame(&session.renderer);
    }
    viewDesc.deletePlugin(view);
}

TEST(UVWGenProjection, RenderSettingsReachTheCameraPlugins) {
    static kivohost::SettingsCameraDesc settingsDesc;
    static kivohost::RenderViewDesc viewDesc;
    PluginBase* settingsCamera = settingsDesc.newPlugin(nullptr);
    PluginBase* view = viewDesc.newPlugin(nullptr);
    ASSERT_TRUE(setParamValue(*paramListOf(settingsCamera), "type", 3));
    ASSERT_TRUE(
        setParamValue(*paramListOf(view), "transform",
                      makeTransform({1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {100, 0, 10})));
    ASSERT_TRUE(setParamValue(*paramListOf(view), "fov", 1.5707964f));

    kivohost::RenderSession session;
    session.frame.sceneOrigin = {100, 0, 0};
    Projection proj;
    proj.set("camera_settings", settingsCamera);
    proj.set("camera_view", view);
    proj.set("type", 8);
    proj.startRender(session);

    // The view sits 10 units up z from the scene origin looking down -z; the point 4 units
    // in front of it, 1 right and 0.5 up, lands at pixel (400, 200) of the 640 x 480 image
    // (fov 90 degrees).
    ShadingContext sc;
    sc.renderer = &session.renderer;
    sc.shadingPoint = {1, 0.5f, 6, 0};
    UVWTransform tm;
    proj.startFrame(session);
    EXPECT_EQ(proj.uvwgen().evalUVWTransform(sc, tm), 1);
    expectVec(tm.o, 0.625f, 1.0f - 200.0f / 480.0f, 0.0f);
    proj.kivo().finishFrame(&session.renderer);

    // A view frame record whose scene origin differs from the renderer's: points are moved
    // by the difference of the origins.
    KivoFrameData shifted = session.frame;
    shifted.sceneOrigin = {90, 0, 0};
    proj.settings().updateFrameData(shifted);
    proj.kivo().frameBegin(&session.renderer);
    EXPECT_EQ(proj.uvwgen().evalUVWTransform(sc, tm), 1);
    expectVec(tm.o, 0.625f, 1.0f - 200.0f / 480.0f, 0.0f);
    proj.kivo().finishFrame(&session.renderer);

    // Zoom 2 halves the tangent of the half angle: pixel (480, 160).
    ASSERT_TRUE(setParamValue(*paramListOf(view), "zoom", 2.0f));
    proj.startFrame(session);
    EXPECT_EQ(proj.uvwgen().evalUVWTransform(sc, tm), 1);
    expectVec(tm.o, 0.75f, 1.0f - 160.0f / 480.0f, 0.0f);
    proj.kivo().finishFrame(&session.renderer);

    // Camera type 0 with a sampler of the host's: that sampler is prepared for the
    // renderer's frame (camera at the scene origin), where the point lies behind it.
    KivoCamera* hostCamera = newDefaultCameraSampler(0, 0, nullptr);
    static_cast<kivohost::SettingsCamera*>(settingsCamera)->camera = hostCamera;
    ASSERT_TRUE(setParamValue(*paramListOf(settingsCamera), "type", 0));
    proj.startRender(session);
    proj.startFrame(session);
    EXPECT_EQ(proj.uvwgen().evalUVWTransform(sc, tm), 0);
    sc.shadingPoint = {1, 0.5f, -4, 0};
    EXPECT_EQ(proj.uvwgen().evalUVWTransform(sc, tm), 1);
    proj.kivo().finishFrame(&session.renderer);
    deleteDefaultCameraSampler(hostCamera);

    // Not a perspective projection: the camera plugins are not asked.
    static_cast<kivohost::SettingsCamera*>(settingsCamera)->camera = nullptr;
    proj.set("type", 1);
    proj.startRender(session);
    proj.startFrame(session);
    EXPECT_EQ(proj.uvwgen().evalUVWTransform(sc, tm), 1);
    proj.kivo().finishFrame(&session.renderer);

    viewDesc.deletePlugin(view);
    settingsDesc.deletePlugin(settingsCamera);
}

TEST(UVWGenProjection, BitmapInterfacesAndZeroHeight) {
    kivohost::RenderSession session;
    kivohost::Bitmap bitmap(1280, 480);
    Projection proj;
    proj.set("type", 8);
    proj.set("bitmap", static_cast<PluginBase*>(&bitmap));
    proj.set("fitfill", 1);
    proj.startRender(session);
    proj.startFrame(session);
    EXPECT_EQ(bitmap.sizeRequests(), 1);

    // Without a camera the image position stands in: pixel (320, 200), v = 200 / 480, then
    // fitted horizontally with bitmap aspect 8/3 over camera aspect 4/3 = 2.
    ShadingContext sc;
    sc.renderer = &session.renderer;
    sc.imageX = 320;
    sc.imageY = 200;
    const float v = 200.0f / 480.0f;
    EXPECT_NEAR(proj.uvwAt(sc).y, 1.0f - ((v - 0.5f) * 2.0f + 0.5f), 1e-6f);
    proj.kivo().finishFrame(&session.renderer);

    // A frame-size interface takes precedence at frame begin.
    bitmap.frameSizes = true;
    bitmap.frames[3] = {960, 480};
    session.frame.frameIndex = 3;
    proj.startRender(session);
    proj.startFrame(session);
    EXPECT_EQ(bitmap.frameSizeRequests(), 1);
    EXPECT_NEAR(proj.uvwAt(sc).y, 1.0f - ((v - 0.5f) * 1.5f + 0.5f), 1e-6f);
    proj.kivo().finishFrame(&session.renderer);

    // Zero height: both ratios 0, at frame begin ...
    bitmap.frames[3] = {960, 0};
    proj.startFrame(session);
    EXPECT_EQ(proj.uvwAt(sc).y, 0.5f);
    proj.set("fitfill", 2);
    proj.startFrame(session);
    EXPECT_EQ(proj.uvwAt(sc).x, 0.5f);
    proj.kivo().finishFrame(&session.renderer);

    // ... and in the refresh at the first evaluation, which reads the plain size.
    bitmap.frames[3] = {960, 480};
    bitmap.height = 0;
    proj.set("fitfill", 1);
    proj.startFrame(session);
    session.frame.imageWidth = 800; // the frame changed after frame begin
    const Vector4f uvw = proj.uvwAt(sc);
    EXPECT_EQ(uvw.y, 0.5f);
    EXPECT_FLOAT_EQ(uvw.x, 320.0f / 800.0f);
    proj.kivo().finishFrame(&session.renderer);

    // No bitmap interfaces unless the projection is perspective.
    proj.set("type", 1);
    proj.startRender(session);
    proj.set("type", 8);
    session.frame.imageWidth = 640;
    proj.startFrame(session);
    EXPECT_FLOAT_EQ(proj.uvwAt(sc).y, 1.0f - v);
    proj.kivo().finishFrame(&session.renderer);
}
