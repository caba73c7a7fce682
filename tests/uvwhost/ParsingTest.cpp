// The pure readers behind --set, --frame, scene "params" and context lines: every shape the
// command line accepts (the messages for what it rejects: the case files).
#include "uvwhost/ContextLine.h"
#include "uvwhost/FrameSettings.h"
#include "uvwhost/ParamSettings.h"

#include <gtest/gtest.h>
#include <limits>

using namespace KUtils;
using namespace uvwhost;

namespace {

ParamSetting read(ParamType type, const char* text, int count = -1) {
    auto s = readParamSetting({"p", type, count}, Json::parse(text));
    EXPECT_TRUE(s) << text << ": " << s.error();
    return s ? *s : ParamSetting{};
}

template <class T>
T constant(ParamType type, const char* text) {
    const ParamSetting s = read(type, text);
    EXPECT_EQ(s.kind, ParamSetting::Kind::Constant);
    return s.values.empty() ? T{} : std::get<T>(s.values[0].value);
}

} // namespace

TEST(ParamSettings, ReadsEveryValueShape) {
    EXPECT_EQ(constant<int>(ParamType::Int, "3.0"), 3);
    EXPECT_EQ(constant<float>(ParamType::Float, "0.25"), 0.25f);
    EXPECT_EQ(constant<bool>(ParamType::Bool, "0"), false);
    EXPECT_EQ(constant<Vector4f>(ParamType::Vector, "[1, 2.5, -3]").z, -3.0f);
    EXPECT_EQ(constant<AColor>(ParamType::Color, "[0.1, 0.2, 0.3]").a, 1.0f);
    // Matrices are columns.
    const Matrix3x3f m = constant<Matrix3x3f>(ParamType::Matrix, "[[1,2,3],[4,5,6],[7,8,9]]");
    EXPECT_EQ(m.c0.y, 2.0f);
    EXPECT_EQ(m.c1.x, 4.0f);
    const Transform t = constant<Transform>(
        ParamType::Transform, R"({"matrix": [[2,0,0],[0,3,0],[0,0,4]], "offset": [1e10, 2, 3]})");
    EXPECT_EQ(t.offs.x, 1e10); // offsets stay double
    // (A transform without its matrix: the GPU text case with a parameter set.)

    EXPECT_EQ(read(ParamType::Plugin, "\"@gen\"").values.at(0).ref, "gen");
    EXPECT_EQ(read(ParamType::Plugin, "null").values.at(0).ref, "");
    // Texture parameters take a constant of their value type as well.
    EXPECT_EQ(constant<AColor>(ParamType::Texture, "[1, 0, 0]").r, 1.0f);
    EXPECT_EQ(read(ParamType::TextureFloat, "\"@u\"").values.at(0).ref, "u");

    const ParamSetting keys = read(ParamType::Float, R"({"keys": [[0, 1], [0.5, 3], [1, 2]]})");
    EXPECT_EQ(keys.kind, ParamSetting::Kind::Animated);
    EXPECT_EQ(keys.times, (std::vector<double>{0.0, 0.5, 1.0}));
    EXPECT_EQ(std::get<float>(keys.values.at(1).value), 3.0f);
    const ParamSetting list = read(ParamType::Texture, R"(["@a", null, "@b"])", 0);
    EXPECT_EQ(list.kind, ParamSetting::Kind::List);
    ASSERT_EQ(list.values.size(), 3u);
    EXPECT_EQ(list.values[1].ref, "");
    EXPECT_EQ(list.values[2].ref, "b");
    // No plugin has a plain colour parameter (the rejected shapes of the rest: the case files).
    EXPECT_EQ(
        readParamSetting({"p", ParamType::Color, -1}, Json::parse("[1, 2, 3, 4, 5]")).error(),
        "parameter 'p' (color): expected a colour [r, g, b] or [r, g, b, a], got [1,2,3,4,5]");
}

TEST(FrameSettingsTest, DefaultsAndEveryField) {
    auto defaults = parseFrameSettings("{}");
    ASSERT_TRUE(defaults);
    kivohost::RenderSession session;
    applyFrameSettings(*defaults, session);
    // The overscan follows the image (640 x 480); no up direction unless one is given.
    EXPECT_EQ(session.frame.overscanWidth, 640.0f);
    EXPECT_EQ(session.frame.overscanHeight, 480.0f);
    EXPECT_EQ(session.sequence.getInterface(EXT_UP_DIRECTION), nullptr);

    auto all = parseFrameSettings(
        R"({"frameTime": 2.5, "motionBlur": true, "motionBlurStart": -0.5, "motionBlurEnd": 0.5,
            "geomSamples": 5, "imageWidth": 320, "imageHeight": 200, "sceneOrigin": [1e9, 2, 3],
            "up": [0, 1, 0], "threads": 4, "pixelAspect": 2, "overscanLeft": 8,
            "overscanTop": 4, "overscanHeight": 208, "frameIndex": 12})");
    ASSERT_TRUE(all) << all.error();
    applyFrameSettings(*all, session);
    EXPECT_EQ(session.frame.frameTime, 2.5);
    EXPECT_EQ(session.sequence.motionBlur, 1);
    EXPECT_EQ(session.sequence.geomSamples, 5);
    EXPECT_EQ(session.frame.sceneOrigin.x, 1e9);    // double
    EXPECT_EQ(session.frame.overscanWidth, 320.0f); // follows the image width
    EXPECT_EQ(session.frame.overscanHeight, 208.0f);
    auto* up =
        static_cast<const UpDirectionRecord*>(session.sequence.getInterface(EXT_UP_DIRECTION));
    ASSERT_NE(up, nullptr);
    EXPECT_EQ(up->upDirection[1], 1.0f);
}

TEST(ContextLineTest, DefaultsShadeDataAndShadedInstance) {
    auto request = parseContextLine(R"({"shadingPoint": [1, 2, 3], "normal": [0, 1, 0]})");
    ASSERT_TRUE(request) << request.error();
    ShadingContext sc;
    fillContext(*request, 4, sc);
    EXPECT_EQ(sc.surfacePoint.y, 2.0f); // the shading point
    EXPECT_EQ(sc.auxNormal.y, 1.0f);    // the normal
    EXPECT_EQ(sc.evalStamp, 5u);        // 1 + the line's index
    EXPECT_EQ(sc.shadeData, nullptr);
    EXPECT_EQ(sc.shadeInstance, nullptr);
    // A stamp that would wrap to 0 (the caches' "empty") is skipped.
    fillContext(*request, std::numeric_limits<std::uint32_t>::max(), sc);
    EXPECT_EQ(sc.evalStamp, 1u);

    // The channel transform and the object space reach the generators (the eval tests).
    request = parseContextLine(R"({"backSide": true, "threadIndex": 3, "evalStamp": 77,
        "evalSlot": 2, "flags": 128, "time": 0.25,
        "shadeData": {"channels": {"2": {"uvw": [0.1, 0.2, 0.3]}},
                      "ids": {"material": 5, "object": 9}},
        "shadeInstance": {"referencePoint": [5, 5, 5]}})");
    ASSERT_TRUE(request) << request.error();
    fillContext(*request, 0, sc);
    EXPECT_EQ(sc.backSide, 1);
    EXPECT_EQ(sc.threadData.threadIndex, 3);
    EXPECT_EQ(sc.evalStamp, 77u);
    EXPECT_EQ(sc.time, 0.25f);
    auto* provider = static_cast<const ChannelProviderInterface*>(
        sc.shadeData->getInterface(EXT_CHANNEL_PROVIDER));
    ASSERT_NE(provider, nullptr);
    Vector4f unlisted;
    provider->getChannelUVW(sc, 7, unlisted);
    EXPECT_EQ(unlisted.x, 0.0f);
    auto* ids = static_cast<const ShadeIdInterface*>(sc.shadeData->getInterface(EXT_SHADE_ID));
    ASSERT_NE(ids, nullptr);
    EXPECT_EQ(ids->getObjectValue(sc), 9u);
    EXPECT_EQ(ids->isAvailable(sc), 1);
    EXPECT_NE(sc.shadeInstance->getInterface(EXT_REFERENCE_POINT), nullptr);
    EXPECT_EQ(sc.shadeInstance->getInterface(EXT_OBJECT_SPACE), nullptr); // not given

    // Without a provider the shade data still is the host's ShadeData.
    request = parseContextLine(R"({"shadeData": {"provider": false}})");
    ASSERT_TRUE(request);
    fillContext(*request, 0, sc);
    EXPECT_EQ(sc.shadeData->getInterface(EXT_CHANNEL_PROVIDER), nullptr);
    EXPECT_NE(dynamic_cast<const ShadeData*>(sc.shadeData), nullptr);
}
