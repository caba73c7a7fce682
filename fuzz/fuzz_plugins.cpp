// Whole plugins on arbitrary input: a plugin type's working scene, then parameters, frame data
// and shading-context fields overwritten with arbitrary values (bit patterns of every kind,
// integers of every size, unknown strings, bad inputs connected, the plugin connected to
// itself, to chains of UVWGenChannels up to 765 long and to chains that lead back to it),
// then the frame's lifecycle
// and every evaluation operation at several contexts, and the GPU description. Besides what
// the sanitizers report, every operation must return a valid flag of 0 or 1 and write all its
// outputs. A request the allocator cannot satisfy may end a frame set-up with the library's
// ExceptionMsg, which is what the host receives.
#include "FuzzInput.h"
#include "Require.h"
#include "memory/ExceptionMsg.h"
#include "scene/TextureStandIns.h"
#include "scene/TransformTextures.h"
#include "tests/support/PluginScenes.h"

#include <cstdlib>
#include <string>

using namespace KUtils;
using fuzzing::FuzzInput;
using reliability::Evaluator;
using reliability::Scene;

namespace {

Vector4f vector(FuzzInput& in) {
    return {in.real(), in.real(), in.real(), in.real()};
}

int integer(FuzzInput& in) {
    // Small values reach the enumerations and indices, raw ones their extremes.
    return in.choice(2) ? in.choice(16) - 2 : in.int32();
}

std::string text(FuzzInput& in) {
    static const char* const known[] = {
        "angular",       "cubic",          "spherical",       "mirror_ball",     "screen",
        "max_spherical", "spherical_kivo", "max_cylindrical", "max_shrink_wrap", ""};
    if (in.choice(2)) {
        return known[in.choice(10)];
    }
    std::string s;
    for (int n = in.choice(32); n > 0; --n) {
        s.push_back(char(in.byte()));
    }
    return s;
}

// What a plugin input is connected to: nothing, the plugin itself, or the head of a chain
// of UVWGenChannels (mostly short, at times longer than the library follows) whose last link
// is unconnected or the plugin (a cycle).
PluginBase* connection(Scene& scene, FuzzInput& in) {
    switch (in.choice(3)) {
    case 0:
        return nullptr;
    case 1:
        return scene.subject();
    default:
        break;
    }
    static KivoPluginDesc* const channelType = [] {
        for (KivoPluginDesc* d : reliability::libraryPluginTypes()) {
            if (std::string(d->getName()) == "UVWGenChannel") {
                return d;
            }
        }
        std::abort();
    }();
    PluginBase* next = in.choice(2) ? scene.subject() : nullptr;
    for (int links = in.choice(4) ? 1 + in.choice(8) : 3 * in.byte(); links > 0; --links) {
        PluginBase* link = scene.create(*channelType);
        Scene::set(link, "uvwgen", next);
        next = link;
    }
    return next;
}

void setParameter(Scene& scene, FuzzInput& in) {
    const KivoParameterListDesc& defs =
        *static_cast<KivoPluginInterface*>(scene.subject()->getInterface(EXT_KIVO_PLUGIN))
             ->getKivoPluginDesc()
             ->getParamListDesc();
    const int index = in.choice(defs.getNumParamDefs());
    const char* name = defs.getParamDefName(index);
    KivoParameterList& list = scene.params();
    if (defs.getParamDefCount(index) >= 0) {
        std::vector<ParamValue> elements;
        for (int n = in.choice(4); n > 0; --n) {
            const float v = in.real();
            switch (in.choice(3)) {
            case 0:
                elements.push_back(ParamValue{nullptr});
                break;
            case 1:
                elements.push_back(ParamValue{scene.subject()});
                break;
            default:
                elements.push_back(
                    ParamValue{scene.adopt(std::make_unique<kivohost::FloatTexture>(v))});
                break;
            }
        }
        setParamList(list, name, elements);
        return;
    }
    switch (defs.getParamDefType(index)) {
    case ParamType::Int:
    case ParamType::Bool:
        setParamValue(list, name, integer(in));
        break;
    case ParamType::Float:
        setParamValue(list, name, in.real());
        break;
    case ParamType::Vector:
        setParamValue(list, name, vector(in));
        break;
    case ParamType::Color:
        setParamValue(list, name, AColor{in.real(), in.real(), in.real(), in.real()});
        break;
    case ParamType::Matrix:
        setParamValue(list, name, Matrix3x3f{vector(in), vector(in), vector(in)});
        break;
    case ParamType::Transform:
        setParamValue(list, name,
                      Transform{{vector(in), vector(in), vector(in)},
                                {in.real64(), in.real64(), in.real64()}});
        break;
    case ParamType::String:
        setParamValue(list, name, text(in));
        break;
    case ParamType::Texture: {
        const float v = in.real();
        setParamValue(list, name,
                      scene.adopt(std::make_unique<kivohost::ColorTexture>(AColor{v, v, v, v})));
        break;
    }
    case ParamType::TextureFloat:
        setParamValue(list, name, scene.adopt(std::make_unique<kivohost::FloatTexture>(in.real())));
        break;
    case ParamType::TextureTransform:
        setParamValue(list, name,
                      scene.adopt(std::make_unique<kivohost::TransformTexture>(
                          UVWTransform{vector(in), vector(in), vector(in), vector(in)})));
        break;
    case ParamType::Plugin:
        setParamValue(list, name, connection(scene, in));
        break;
    case ParamType::OutputTextureVector:
        break;
    }
}

void setFrameField(Scene& scene, FuzzInput& in) {
    KivoFrameData& f = scene.session.frame;
    switch (in.choice(10)) {
    case 0:
        f.frameTime = in.real64();
        break;
    case 1:
        f.motionBlurStart = in.real64();
        f.motionBlurEnd = in.real64();
        break;
    case 2:
        f.imageWidth = integer(in);
        f.imageHeight = integer(in);
        break;
    case 3:
        f.sceneOrigin = {in.real64(), in.real64(), in.real64()};
        break;
    case 4:
        f.overscanLeft = in.real();
        f.overscanTop = in.real();
        f.overscanWidth = in.real();
        f.overscanHeight = in.real();
        break;
    case 5:
        f.pixelAspect = in.real();
        f.fov = in.real();
        break;
    case 6:
        f.cameraOrigin = vector(in);
        f.cameraTransform = {{vector(in), vector(in), vector(in)}, {}};
        break;
    case 7:
        scene.session.sequence.up = UpDirectionRecord{{in.real(), in.real(), in.real()}};
        break;
    case 8:
        scene.session.sequence.motionBlur = in.choice(2);
        scene.session.sequence.geomSamples = in.choice(8) - 2;
        break;
    default:
        scene.session.sequence.cameraType = integer(in);
        break;
    }
}

void setContextField(kivohost::TracingShadingContext& sc, FuzzInput& in) {
    Vector4f* vectors[] = {
        &sc.rayDir, &sc.rayOrigin, &sc.screenFrameAxis, &sc.dDdx, &sc.dDdy, &sc.shadingPoint,
        &sc.normal, &sc.auxNormal, &sc.surfacePoint,    &sc.dPdx, &sc.dPdy};
    const int field = in.choice(18);
    if (field < 11) {
        *vectors[field] = vector(in);
        return;
    }
    switch (field) {
    case 11:
        sc.time = in.real();
        break;
    case 12:
        sc.imageX = in.real();
        sc.imageY = in.real();
        break;
    case 13:
        sc.flags = integer(in);
        break;
    case 14:
        sc.backSide = integer(in);
        break;
    case 15:
        sc.threadData.threadIndex = integer(in);
        break;
    case 16:
        sc.evalStamp = in.uint32();
        break;
    default:
        sc.evalSlot = in.choice(2) ? in.choice(8) - 1 : in.int32();
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const auto& types = reliability::libraryPluginTypes();
    Scene scene(*types[std::size_t(in.choice(int(types.size())))]);
    for (int n = in.choice(6); n > 0; --n) {
        setParameter(scene, in);
    }
    for (int n = in.choice(3); n > 0; --n) {
        setFrameField(scene, in);
    }
    const Evaluator eval(scene.subject());
    try {
        scene.prepareRender();
        scene.beginFrame();
    } catch (const ExceptionMsg&) {
        // The host's answer to an allocation that cannot be had; the scene ends the render.
        return 0;
    }
    for (int c = 1 + in.choice(4); c > 0; --c) {
        kivohost::TracingShadingContext sc = scene.context(in.choice(Scene::kContextCount));
        for (int n = in.choice(4); n > 0; --n) {
            setContextField(sc, in);
        }
        std::vector<std::string> unwritten;
        eval.evaluate(sc, &unwritten);
        FUZZ_REQUIRE(unwritten.empty());
    }
    const int described = eval.describe(&scene.session.renderer, &scene.gpuBlocks).first;
    FUZZ_REQUIRE(described == 0 || described == 1);
    return 0;
}
