// The pure readers behind --set, --frame, scene "params" and context lines: every shape the
// command line accepts, and the messages for what it rejects.
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

std::string error(ParamType type, const char* text, int count = -1) {
    auto s = readParamSetting({"p", type, count}, Json::parse(text));
    EXPECT_FALSE(s) << text;
    return s ? std::string() : s.error();
}

template <class T>
const T& constant(const ParamSetting& s) {
    EXPECT_EQ(s.kind, ParamSetting::Kind::Constant);
    return std::get<T>(s.values.at(0).value);
}

} // namespace

TEST(ParamSettings, ReadsEveryValueShape) {
    EXPECT_EQ(constant<int>(read(ParamType::Int, "-7")), -7);
    EXPECT_EQ(constant<int>(read(ParamType::Int, "3.0")), 3);
    EXPECT_EQ(constant<float>(read(ParamType::Float, "0.25")), 0.25f);
    EXPECT_EQ(constant<bool>(read(ParamType::Bool, "true")), true);
    EXPECT_EQ(constant<bool>(read(ParamType::Bool, "0")), false);
    EXPECT_EQ(constant<std::string>(read(ParamType::String, "\"cubic\"")), "cubic");

    const Vector4f v = constant<Vector4f>(read(ParamType::Vector, "[1, 2.5, -3]"));
    EXPECT_EQ(v.x, 1.0f);
    EXPECT_EQ(v.y, 2.5f);
    EXPECT_EQ(v.z, -3.0f);

    const AColor rgb = constant<AColor>(read(ParamType::Color, "[0.1, 0.2, 0.3]"));
    EXPECT_EQ(rgb.b, 0.3f);
    EXPECT_EQ(rgb.a, 1.0f);
    EXPECT_EQ(constant<AColor>(read(ParamType::Color, "[0, 0, 0, 0.5]")).a, 0.5f);

    // Matrices are columns.
    const Matrix3x3f m = constant<Matrix3x3f>(read(ParamType::Matrix, "[[1,2,3],[4,5,6],[7,8,9]]"));
    EXPECT_EQ(m.c0.y, 2.0f);
    EXPECT_EQ(m.c1.x, 4.0f);
    EXPECT_EQ(m.c2.z, 9.0f);

    const Transform t = constant<Transform>(read(
        ParamType::Transform, R"({"matrix": [[2,0,0],[0,3,0],[0,0,4]], "offset": [1e10, 2, 3]})"));
    EXPECT_EQ(t.m.c1.y, 3.0f);
    EXPECT_EQ(t.offs.x, 1e10); // offsets stay double
    // Either part may be left out: identity or zero.
    const Transform offsetOnly =
        constant<Transform>(read(ParamType::Transform, R"({"offset": [1,2,3]})"));
    EXPECT_EQ(offsetOnly.m.c0.x, 1.0f);
    EXPECT_EQ(offsetOnly.m.c0.y, 0.0f);
    EXPECT_EQ(offsetOnly.offs.z, 3.0);
}

TEST(ParamSettings, ReadsReferencesKeysAndLists) {
    const ParamSetting ref = read(ParamType::Plugin, "\"@gen\"");
    EXPECT_EQ(ref.values.at(0).ref, "gen");
    const ParamSetting none = read(ParamType::Plugin, "null");
    EXPECT_EQ(none.values.at(0).ref, "");
    EXPECT_EQ(std::get<PluginBase*>(none.values.at(0).value), nullptr);
    // Texture parameters take a constant of their value type as well.
    EXPECT_EQ(constant<AColor>(read(ParamType::Texture, "[1, 0, 0]")).r, 1.0f);
    EXPECT_EQ(constant<float>(read(ParamType::TextureFloat, "0.5")), 0.5f);
    EXPECT_EQ(read(ParamType::TextureFloat, "\"@u\"").values.at(0).ref, "u");

    const ParamSetting keys = read(ParamType::Float, R"({"keys": [[0, 1], [0.5, 3], [1, 2]]})");
    EXPECT_EQ(keys.kind, ParamSetting::Kind::Animated);
    EXPECT_EQ(keys.times, (std::vector<double>{0.0, 0.5, 1.0}));
    EXPECT_EQ(std::get<float>(keys.values.at(1).value), 3.0f);

    const ParamSetting list = read(ParamType::Texture, R"(["@a", null, "@b"])", 0);
    EXPECT_EQ(list.kind, ParamSetting::Kind::List);
    ASSERT_EQ(list.values.size(), 3u);
    EXPECT_EQ(list.values[0].ref, "a");
    EXPECT_EQ(list.values[1].ref, "");
    EXPECT_EQ(list.values[2].ref, "b");
}

TEST(ParamSettings, RejectsWrongShapesNamingTheParameterAndTheShape) {
    EXPECT_EQ(error(ParamType::Int, "2.5"),
              "parameter 'p' (int): expected a 32-bit integer, got 2.5");
    EXPECT_EQ(error(ParamType::Int, "4294967296"),
              "parameter 'p' (int): expected a 32-bit integer, got 4294967296");
    EXPECT_EQ(error(ParamType::Bool, "2"),
              "parameter 'p' (bool): expected true, false, 0 or 1, got 2");
    EXPECT_EQ(error(ParamType::Float, "1e39"),
              "parameter 'p' (float): expected a single-precision number, got 1e+39");
    EXPECT_EQ(error(ParamType::Vector, "[1, 2]"),
              "parameter 'p' (vector): expected a vector [x, y, z], got [1,2]");
    EXPECT_EQ(error(ParamType::Vector, "[1, \"a\", 2]"),
              "parameter 'p' (vector)[1]: expected a number, got \"a\"");
    EXPECT_EQ(error(ParamType::Color, "[1, 2, 3, 4, 5]"),
              "parameter 'p' (color): expected a colour [r, g, b] or [r, g, b, a], got "
              "[1,2,3,4,5]");
    EXPECT_EQ(error(ParamType::Matrix, "[[1,0,0],[0,1,0]]"),
              "parameter 'p' (matrix): expected a matrix [[c0], [c1], [c2]] of three columns, "
              "got [[1,0,0],[0,1,0]]");
    EXPECT_EQ(
        error(ParamType::Transform, R"({"matrix": [[1,0,0],[0,1,0],[0,0,1]], "ofset": [0,0,0]})"),
        "parameter 'p' (transform): unexpected key \"ofset\" in a transform {\"matrix\": "
        "[[c0], [c1], [c2]], \"offset\": [x, y, z]}");
    EXPECT_EQ(error(ParamType::Plugin, "\"gen\""),
              "parameter 'p' (plugin): expected a reference \"@name\" or null, got \"gen\"");
    EXPECT_EQ(error(ParamType::Plugin, "\"@\""),
              "parameter 'p' (plugin): expected a reference \"@name\" or null, got \"@\"");
    EXPECT_EQ(error(ParamType::OutputTextureVector, "null"),
              "parameter 'p' (output_texture_vector): is an output and takes no value");
    EXPECT_EQ(error(ParamType::Texture, "\"@a\"", 0),
              "parameter 'p' (texture): is a list and expects an array of a reference \"@name\", "
              "null or a colour, got \"@a\"");
    EXPECT_EQ(error(ParamType::Float, R"({"keys": [[0, 1], [0, 2]]})"),
              "parameter 'p' (float) key 1: key times must increase, got 0 after 0");
    EXPECT_EQ(error(ParamType::Float, R"({"keys": []})"),
              "parameter 'p' (float): expected \"keys\" to be a non-empty array of [time, value] "
              "pairs, got []");
    EXPECT_EQ(error(ParamType::Float, R"({"keys": [[0, 1]], "extra": 1})"),
              "parameter 'p' (float): an animated value has only \"keys\", got "
              "{\"keys\":[[0,1]],\"extra\":1}");

    auto unknown =
        readNamedSetting({{"wrap_u", ParamType::Int, -1}}, "UVWGenChannel", "wrap_x", Json(1));
    ASSERT_FALSE(unknown);
    EXPECT_EQ(unknown.error(), "unknown parameter 'wrap_x' of UVWGenChannel");
}

TEST(ParamSettings, SplitsSetArguments) {
    auto a = readSetArgument("uvw_transform={\"offset\": [1, 2, 3]}");
    ASSERT_TRUE(a) << a.error();
    EXPECT_EQ(a->name, "uvw_transform");
    EXPECT_EQ(a->value["offset"][2], 3);
    // The first '=' splits; the value may contain more.
    auto s = readSetArgument("mapping_type=\"a=b\"");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->value, "a=b");

    EXPECT_EQ(readSetArgument("wrap_u").error(), "--set wrap_u: expected NAME=JSON");
    EXPECT_EQ(readSetArgument("=1").error(), "--set =1: expected NAME=JSON");
    EXPECT_EQ(readSetArgument("mapping_type=cubic").error(),
              "--set mapping_type: the value cubic is not valid JSON at byte 0");
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
    EXPECT_EQ(session.frame.motionBlurStart, -0.5);
    EXPECT_EQ(session.sequence.geomSamples, 5);
    EXPECT_EQ(session.frame.sceneOrigin.x, 1e9);
    EXPECT_EQ(session.sequence.numThreads, 4);
    EXPECT_EQ(session.frame.pixelAspect, 2.0f);
    EXPECT_EQ(session.frame.overscanLeft, 8.0f);
    EXPECT_EQ(session.frame.overscanWidth, 320.0f); // follows the image width
    EXPECT_EQ(session.frame.overscanHeight, 208.0f);
    EXPECT_EQ(session.frame.frameIndex, 12);
    auto* up =
        static_cast<const UpDirectionRecord*>(session.sequence.getInterface(EXT_UP_DIRECTION));
    ASSERT_NE(up, nullptr);
    EXPECT_EQ(up->upDirection[1], 1.0f);

    EXPECT_EQ(parseFrameSettings("{\"threads\": 0}").error(),
              "--frame field \"threads\": expected an integer from 1 to 1024, got 0");
    EXPECT_EQ(parseFrameSettings("{\"frametime\": 1}").error(),
              "--frame: unknown field \"frametime\"");
    EXPECT_EQ(parseFrameSettings("[1]").error(), "--frame: expected a JSON object, got [1]");
    EXPECT_EQ(parseFrameSettings("{").error(), "--frame: { is not valid JSON at byte 1");
}

TEST(ContextLineTest, DefaultsFollowTheContract) {
    auto spec = parseContextLine(R"({"shadingPoint": [1, 2, 3], "normal": [0, 1, 0]})");
    ASSERT_TRUE(spec) << spec.error();
    ShadingContext sc;
    fillContext(*spec, 4, sc);
    EXPECT_EQ(sc.surfacePoint.y, 2.0f); // the shading point
    EXPECT_EQ(sc.auxNormal.y, 1.0f);    // the normal
    EXPECT_EQ(sc.rayDir.z, 1.0f);
    EXPECT_EQ(sc.screenFrameAxis.z, 1.0f);
    EXPECT_EQ(sc.evalStamp, 5u); // 1 + the line's index
    EXPECT_EQ(sc.threadData.threadIndex, 0);
    EXPECT_EQ(sc.shadeData, nullptr);
    EXPECT_EQ(sc.shadeInstance, nullptr);

    // A stamp that would wrap to 0 (the caches' "empty") is skipped.
    fillContext(*spec, std::numeric_limits<std::uint32_t>::max(), sc);
    EXPECT_EQ(sc.evalStamp, 1u);
}

TEST(ContextLineTest, ReadsShadeDataAndShadedInstance) {
    auto spec = parseContextLine(R"({
        "surfacePoint": [0, 0, 0], "shadingPoint": [0.5, 0, 0], "backSide": true,
        "threadIndex": 3, "evalStamp": 77, "evalSlot": 2, "flags": 128, "time": 0.25,
        "shadeData": {"channels": {"2": {"uvw": [0.1, 0.2, 0.3],
                                         "basis": [[2, 0, 0], [0, 4, 0], [0, 0, 1]]}},
                      "ids": {"material": 5, "object": 9}},
        "shadeInstance": {"objectSpace": {"matrix": [[2,0,0],[0,2,0],[0,0,2]], "offset": [1,1,1]},
                          "referencePoint": [5, 5, 5]}})");
    ASSERT_TRUE(spec) << spec.error();
    ShadingContext sc;
    fillContext(*spec, 0, sc);
    EXPECT_EQ(sc.backSide, 1);
    EXPECT_EQ(sc.threadData.threadIndex, 3);
    EXPECT_EQ(sc.evalStamp, 77u);
    EXPECT_EQ(sc.evalSlot, 2);
    EXPECT_EQ(sc.flags, 128);
    EXPECT_EQ(sc.time, 0.25f);

    ASSERT_NE(sc.shadeData, nullptr);
    auto* provider = static_cast<const ChannelProviderInterface*>(
        sc.shadeData->getInterface(EXT_CHANNEL_PROVIDER));
    ASSERT_NE(provider, nullptr);
    UVWTransform tm;
    provider->getChannelTransform(sc, 2, tm, 0);
    EXPECT_EQ(tm.c0.x, 0.5f); // the inverse of the basis
    EXPECT_EQ(tm.c1.y, 0.25f);
    EXPECT_EQ(tm.o.z, 0.3f);
    Vector4f unlisted;
    provider->getChannelUVW(sc, 7, unlisted);
    EXPECT_EQ(unlisted.x, 0.0f);
    auto* ids = static_cast<const ShadeIdInterface*>(sc.shadeData->getInterface(EXT_SHADE_ID));
    ASSERT_NE(ids, nullptr);
    EXPECT_EQ(ids->getObjectValue(sc), 9u);
    EXPECT_EQ(ids->isAvailable(sc), 1);

    ASSERT_NE(sc.shadeInstance, nullptr);
    auto* space =
        static_cast<const ObjectSpaceInterface*>(sc.shadeInstance->getInterface(EXT_OBJECT_SPACE));
    ASSERT_NE(space, nullptr);
    Vector4f p;
    space->toObjectPoint(p, sc, Vector4f{1, 2, 3, 0});
    EXPECT_EQ(p.x, 3.0f);
    EXPECT_EQ(p.z, 7.0f);
    EXPECT_NE(sc.shadeInstance->getInterface(EXT_REFERENCE_POINT), nullptr);
    EXPECT_EQ(sc.shadeInstance->getInterface(EXT_SCENE_POINT), nullptr); // not given

    // Without a provider the shade data still is the host's ShadeData.
    auto noProvider = parseContextLine(R"({"shadeData": {"provider": false}})");
    ASSERT_TRUE(noProvider);
    fillContext(*noProvider, 0, sc);
    EXPECT_EQ(sc.shadeData->getInterface(EXT_CHANNEL_PROVIDER), nullptr);
    EXPECT_NE(dynamic_cast<const ShadeData*>(sc.shadeData), nullptr);
}

TEST(ContextLineTest, RejectsMalformedLinesNamingTheField) {
    EXPECT_EQ(parseContextLine("").error(), "not valid JSON at byte 0 (expected one JSON object)");
    EXPECT_EQ(parseContextLine("[1, 2, 3]").error(),
              "context: expected a JSON object, got [1,2,3]");
    EXPECT_EQ(parseContextLine("{\"shadingpoint\": [1, 2, 3]}").error(),
              "context: unknown field \"shadingpoint\"");
    EXPECT_EQ(parseContextLine("{\"evalStamp\": -1}").error(),
              "field \"evalStamp\": expected an unsigned 32-bit integer, got -1");
    EXPECT_EQ(parseContextLine("{\"threadIndex\": 1.5}").error(),
              "field \"threadIndex\": expected a 32-bit integer, got 1.5");
    EXPECT_EQ(parseContextLine("{\"shadeData\": {\"channels\": {\"x\": {}}}}").error(),
              "field \"shadeData\" \"channels\": channel keys are integers, got \"x\"");
    EXPECT_EQ(
        parseContextLine("{\"shadeData\": {\"channels\": {\"1\": {\"uvw\": [1, 2]}}}}").error(),
        "field \"shadeData\" \"channels\" channel \"1\" \"uvw\": expected a vector [x, y, z], got "
        "[1,2]");
    EXPECT_EQ(parseContextLine("{\"shadeInstance\": {\"objectSpace\": [1]}}").error(),
              "field \"shadeInstance\" \"objectSpace\": expected a transform {\"matrix\": [[c0], "
              "[c1], [c2]], \"offset\": [x, y, z]}, got [1]");
    EXPECT_EQ(parseContextLine("{\"rayDir\": [1, 0, null]}").error(),
              "field \"rayDir\"[2]: expected a number, got null");
}
