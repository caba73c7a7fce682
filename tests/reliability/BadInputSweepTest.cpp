// Every plugin type against bad input, one input at a time, from a working scene: each
// parameter its descriptor registers (found through the descriptor's read-back, so that none
// is forgotten), each field of the shading context and of what it reaches, and the frame and
// sequence data. Whatever the value, the frame's lifecycle completes, and every evaluation
// operation returns a valid flag of 0 or 1 and writes each of its outputs. NaN in may give NaN
// out; crashes, undefined behaviour and unwritten outputs are what this looks for (the
// sanitizer builds report the first two).
#include "memory/ExceptionMsg.h"
#include "scene/Bitmap.h"
#include "scene/Cameras.h"
#include "scene/TextureStandIns.h"
#include "scene/TransformTextures.h"
#include "tests/support/PluginScenes.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

using namespace KUtils;
using namespace reliability;

namespace {

// Values that break arithmetic and indexing, as a scene file written by another program or a
// damaged one may hand them to a plugin. Single-precision inputs take the reals converted.
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kBadReals[] = {kNaN, kInf, -kInf, 1e30, -1e30, 0.0, -0.0};
constexpr int kBadInts[] = {INT_MIN, INT_MAX, -1, 0};

std::string spell(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.9g", value);
    return buffer;
}

// Bad values of each arithmetic type.
template <class T>
std::vector<T> badValues() {
    if constexpr (std::is_same_v<T, int>) {
        return std::vector<T>(std::begin(kBadInts), std::end(kBadInts));
    } else {
        return std::vector<T>(std::begin(kBadReals), std::end(kBadReals));
    }
}

// Lanes of the value types: single-precision ones, then double ones (a transform's offset).
template <class T>
constexpr int kDoubleLanes = std::is_same_v<T, Transform> || std::is_same_v<T, Vector3d> ? 3 : 0;
template <class T>
constexpr int kFloatLanes = int(sizeof(T) / 4) - 2 * kDoubleLanes<T>;
template <class T>
constexpr int kLanes = kFloatLanes<T> + kDoubleLanes<T>;
static_assert(offsetof(Transform, offs) == sizeof(Matrix3x3f));

// The value with lane `lane` set to v, or every lane when lane is kLanes<T>.
template <class T>
T withLane(T value, int lane, double v) {
    auto* bytes = reinterpret_cast<unsigned char*>(&value);
    const float f = float(v);
    for (int k = 0; k < kLanes<T>; ++k) {
        if (lane != kLanes<T> && lane != k) {
            continue;
        }
        if (k < kFloatLanes<T>) {
            std::memcpy(bytes + 4 * k, &f, 4);
        } else {
            std::memcpy(bytes + 4 * kFloatLanes<T> + 8 * (k - kFloatLanes<T>), &v, 8);
        }
    }
    return value;
}

// add(description, change) for every bad value in each lane of a T, then in all of them.
template <class T, class Add>
void eachLane(const std::string& what, Add add) {
    for (double v : kBadReals) {
        for (int k = 0; k <= kLanes<T>; ++k) {
            add(what + (k == kLanes<T> ? " all" : " lane " + std::to_string(k)) + " = " + spell(v),
                [k, v](const T& base) { return withLane(base, k, v); });
        }
    }
}

// One past the largest value an "enum=(0:...; 1:...)" hint lists, or 0 when it lists none.
int pastLargestEnumValue(const char* hints) {
    int past = 0;
    const char* p = hints ? std::strstr(hints, "enum=(") : nullptr;
    // p at the '(' or ';' before each entry "value:label".
    for (p = p ? p + 5 : nullptr; p && *p != ')'; p = std::strpbrk(p + 1, ";)")) {
        char* end = nullptr;
        const long value = std::strtol(p + 1, &end, 10);
        if (end != p + 1 && *end == ':' && value < INT_MAX) {
            past = std::max(past, int(value) + 1);
        }
    }
    return past;
}

// A UVW generator that gives the same vector for everything it is asked: an input generator
// that has gone bad.
class ConstantUVWGen final : public KivoUVWGen {
public:
    explicit ConstantUVWGen(float value) : KivoUVWGen(nullptr), v{value, value, value, value} {}
    int evalUVW(const ShadingContext&, Vector4f& uvw) override {
        uvw = v;
        return 1;
    }
    int evalUVWDerivs(const ShadingContext&, Vector4f out[3]) override {
        out[0] = out[1] = out[2] = v;
        return 1;
    }
    int evalUVWTransform(const ShadingContext&, UVWTransform& tm) override {
        tm = UVWTransform{v, v, v, v};
        return 1;
    }

private:
    Vector4f v;
};

// A bad input; each part may be empty.
struct Mutation {
    std::string what;
    // Once, after the scene is built.
    std::function<void(Scene&)> apply;
    // After each frame's data is set.
    std::function<void(Scene&)> perFrame = {};
    // To each context before it is evaluated.
    std::function<void(ShadingContext&)> perContext = {};
};
using Mutations = std::vector<Mutation>;

std::unique_ptr<PluginBase> colorTexture(float v) {
    return std::make_unique<kivohost::ColorTexture>(AColor{v, v, v, v});
}

// Each lane of the parameter's value in the working scene (read by `get`) made bad in turn.
template <class T>
void laneMutations(const std::string& name, T (KivoParameter::*get)(int, double) const,
                   Mutations& out) {
    eachLane<T>(name, [&](const std::string& what, auto change) {
        out.push_back({what, [name, get, change](Scene& s) {
                           const T value = (s.params().getParam(name.c_str())->*get)(0, 1.0);
                           Scene::set(s.subject(), name.c_str(), change(value));
                       }});
    });
}

// Connections a plugin parameter may be given besides its proper plugin: nothing, a plugin
// of the wrong kind, and for the plugins the library reads data from, that data gone bad.
void pluginMutations(const std::string& name, Mutations& out) {
    static kivohost::RenderViewDesc viewDesc;
    static kivohost::SettingsCameraDesc settingsDesc;
    auto connect = [&](const std::string& what, auto make) {
        out.push_back({name + " = " + what,
                       [name, make](Scene& s) { Scene::set(s.subject(), name.c_str(), make(s)); }});
    };
    connect("none", [](Scene&) { return nullptr; });
    connect("a bitmap (wrong kind)",
            [](Scene& s) { return s.adopt(std::make_unique<kivohost::Bitmap>(4, 4)); });
    for (double v : kBadReals) {
        if (name == "uvwgen") {
            connect("generator giving " + spell(v),
                    [v](Scene& s) { return s.adopt(std::make_unique<ConstantUVWGen>(float(v))); });
        }
        if (name == "camera_view") {
            for (const char* field : {"fov", "zoom"}) {
                connect(std::string(field) + " " + spell(v), [field, v](Scene& s) {
                    PluginBase* view = s.create(viewDesc);
                    Scene::set(view, field, float(v));
                    return view;
                });
            }
        }
    }
    if (name == "camera_view") {
        eachLane<Transform>("transform", [&](const std::string& what, auto change) {
            connect(what, [change](Scene& s) {
                PluginBase* view = s.create(viewDesc);
                Scene::set(view, "transform", change(Transform{}));
                return view;
            });
        });
    }
    if (name == "bitmap") {
        for (auto [w, h] : {std::pair{0, 0}, {-1, -1}, {INT_MAX, 1}, {1, INT_MAX}, {INT_MIN, 5}}) {
            connect("bitmap " + std::to_string(w) + "x" + std::to_string(h),
                    [w, h](Scene& s) { return s.adopt(std::make_unique<kivohost::Bitmap>(w, h)); });
        }
    }
    if (name == "camera_settings") {
        for (int type : {INT_MIN, -1, 99, INT_MAX}) {
            connect("camera type " + std::to_string(type), [type](Scene& s) {
                PluginBase* camera = s.create(settingsDesc);
                Scene::set(camera, "type", type);
                return camera;
            });
        }
    }
}

void listMutations(const std::string& name, Mutations& out) {
    auto list = [&](const std::string& what, auto make) {
        out.push_back({name + " = " + what, [name, make](Scene& s) {
                           if (!setParamList(s.params(), name.c_str(), make(s))) {
                               throw std::logic_error("cannot set the list " + name);
                           }
                       }});
    };
    using Values = std::vector<ParamValue>;
    list("[]", [](Scene&) { return Values{}; });
    list("[none, none]", [](Scene&) { return Values{nullptr, nullptr}; });
    list("[a bitmap (wrong kind)]",
         [](Scene& s) { return Values{s.adopt(std::make_unique<kivohost::Bitmap>(4, 4))}; });
    list("300 textures", [](Scene& s) { return Values(300, s.adopt(colorTexture(0.5f))); });
    for (double v : kBadReals) {
        list("[texture giving " + spell(v) + "]",
             [v](Scene& s) { return Values{s.adopt(colorTexture(float(v)))}; });
    }
}

// Every bad value of every parameter the type registers.
Mutations parameterMutations(const KivoPluginDesc& type) {
    Mutations out;
    const KivoParameterListDesc& defs = *type.getParamListDesc();
    for (int index = 0; index < defs.getNumParamDefs(); ++index) {
        const std::string name = defs.getParamDefName(index);
        auto constant = [&](const std::string& what, const ParamValue& value) {
            out.push_back({name + " = " + what, [name, value](Scene& s) {
                               Scene::set(s.subject(), name.c_str(), value);
                           }});
        };
        auto plugin = [&](const std::string& what, auto make) {
            out.push_back({name + " = " + what, [name, make](Scene& s) {
                               Scene::set(s.subject(), name.c_str(), s.adopt(make()));
                           }});
        };
        if (defs.getParamDefCount(index) >= 0) {
            listMutations(name, out);
            continue;
        }
        const ParamType paramType = defs.getParamDefType(index);
        switch (paramType) {
        case ParamType::Int:
        case ParamType::Bool:
            for (int v : badValues<int>()) {
                constant(std::to_string(v), v);
            }
            constant("1", 1);
            if (const int past = pastLargestEnumValue(defs.getParamDefHints(index))) {
                constant(std::to_string(past), past);
            }
            break;
        case ParamType::Float:
            for (float v : badValues<float>()) {
                constant(spell(v), v);
            }
            break;
        case ParamType::Vector:
            laneMutations(name, &KivoParameter::getVector, out);
            break;
        case ParamType::Color:
            laneMutations(name, &KivoParameter::getColor, out);
            break;
        case ParamType::Matrix:
            laneMutations(name, &KivoParameter::getMatrix, out);
            break;
        case ParamType::Transform:
            laneMutations(name, &KivoParameter::getTransform, out);
            break;
        case ParamType::String:
            for (std::string v : {"", "no such value"}) {
                constant("\"" + v + "\"", v);
            }
            constant("5000 x", std::string(5000, 'x'));
            break;
        case ParamType::Texture:
        case ParamType::TextureFloat:
        case ParamType::TextureTransform:
            for (float v : badValues<float>()) {
                if (paramType == ParamType::Texture) {
                    constant("constant " + spell(v), AColor{v, v, v, v});
                    plugin("texture giving " + spell(v), [v] { return colorTexture(v); });
                } else if (paramType == ParamType::TextureFloat) {
                    constant("constant " + spell(v), v);
                    plugin("texture giving " + spell(v),
                           [v] { return std::make_unique<kivohost::FloatTexture>(v); });
                } else {
                    plugin("texture giving " + spell(v), [v] {
                        const Vector4f all{v, v, v, v};
                        return std::make_unique<kivohost::TransformTexture>(
                            UVWTransform{all, all, all, all});
                    });
                }
            }
            pluginMutations(name, out);
            break;
        case ParamType::Plugin:
            pluginMutations(name, out);
            break;
        case ParamType::OutputTextureVector:
            break;
        }
    }
    return out;
}

// Bad frame and sequence data, as a misconfigured render hands it to every plugin.
Mutations frameMutations() {
    Mutations out;
    auto frame = [&](const std::string& what, std::function<void(KivoFrameData&)> change) {
        out.push_back({what, {}, [change](Scene& s) { change(s.session.frame); }});
    };
    auto sequence = [&](const std::string& what, std::function<void(Scene&)> change) {
        out.push_back({what, change});
    };
    auto field = [&](const char* what, auto KivoFrameData::*member) {
        using T = std::remove_reference_t<decltype(KivoFrameData{}.*member)>;
        for (T v : badValues<T>()) {
            frame(std::string(what) + " = " + spell(v),
                  [member, v](KivoFrameData& f) { f.*member = v; });
        }
    };
    field("frameTime", &KivoFrameData::frameTime);
    field("motionBlurStart", &KivoFrameData::motionBlurStart);
    field("motionBlurEnd", &KivoFrameData::motionBlurEnd);
    field("imageWidth", &KivoFrameData::imageWidth);
    field("imageHeight", &KivoFrameData::imageHeight);
    field("frameIndex", &KivoFrameData::frameIndex);
    field("samplerMode", &KivoFrameData::samplerMode);
    field("overscanLeft", &KivoFrameData::overscanLeft);
    field("overscanTop", &KivoFrameData::overscanTop);
    field("overscanWidth", &KivoFrameData::overscanWidth);
    field("overscanHeight", &KivoFrameData::overscanHeight);
    field("pixelAspect", &KivoFrameData::pixelAspect);
    field("fov", &KivoFrameData::fov);
    eachLane<Vector3d>("sceneOrigin", [&](const std::string& what, auto change) {
        frame(what, [change](KivoFrameData& f) { f.sceneOrigin = change(f.sceneOrigin); });
    });
    eachLane<Transform>("cameraTransform", [&](const std::string& what, auto change) {
        frame(what, [change](KivoFrameData& f) { f.cameraTransform = change(Transform{}); });
    });
    for (float v : badValues<float>()) {
        frame("cameraOrigin = " + spell(v), [v](KivoFrameData& f) {
            f.cameraOrigin = {v, v, v, v};
        });
        sequence("up direction = " + spell(v), [v](Scene& s) {
            s.session.sequence.up = UpDirectionRecord{{v, v, v}};
        });
        sequence("camera motion velocity = " + spell(v), [v](Scene& s) {
            s.cameraMotion.velocity = {v, v, v, 0.0f};
            s.session.sequence.cameraMotionBlur = 1;
            s.session.sequence.cameraMotion = &s.cameraMotion;
        });
    }
    sequence("up direction unanswered", [](Scene& s) { s.session.sequence.up.reset(); });
    for (int v : {INT_MIN, -1, 0}) {
        sequence("numThreads = " + std::to_string(v),
                 [v](Scene& s) { s.session.sequence.numThreads = v; });
        sequence("geomSamples = " + std::to_string(v),
                 [v](Scene& s) { s.session.sequence.geomSamples = v; });
    }
    sequence("motion blur off", [](Scene& s) { s.session.sequence.motionBlur = 0; });
    for (int v : {INT_MIN, -1, 1, 99, INT_MAX}) {
        sequence("cameraType = " + std::to_string(v),
                 [v](Scene& s) { s.session.sequence.cameraType = v; });
    }
    return out;
}

// Two frames of the scene with the mutation, every operation at every context of each frame;
// what went wrong is appended to failures.
void runScenario(KivoPluginDesc& type, const Mutation& m, std::vector<std::string>& failures) {
    try {
        Scene scene(type);
        if (m.apply) {
            m.apply(scene);
        }
        const Evaluator eval(scene.subject());
        scene.prepareRender();
        for (int frame = 1; frame <= 2; ++frame) {
            const std::string what = m.what + ", frame " + std::to_string(frame) + ": ";
            scene.setFrame(frame);
            if (m.perFrame) {
                m.perFrame(scene);
            }
            scene.beginFrame();
            std::vector<std::string> unwritten;
            for (int i = 0; i < Scene::kContextCount; ++i) {
                kivohost::TracingShadingContext sc = scene.context(i);
                sc.threadData.threadIndex = i % 4;
                if (m.perContext) {
                    m.perContext(sc);
                }
                eval.evaluate(sc, &unwritten);
            }
            const int described = eval.describe(&scene.session.renderer, &scene.gpuBlocks).first;
            if (described != 0 && described != 1) {
                unwritten.push_back("emitRTSource gave " + std::to_string(described));
            }
            if (eval.texture) {
                AColor range[2];
                std::memset(static_cast<void*>(range), 0xA5, sizeof range);
                eval.texture->getColorRange(range[0], range[1]);
                std::uint32_t bits[8];
                std::memcpy(bits, range, sizeof bits);
                if (std::count(bits, bits + 8, 0xA5A5A5A5u) > 0) {
                    unwritten.push_back("getColorRange left a lane unwritten");
                }
            }
            for (const std::string& u : unwritten) {
                failures.push_back(what + u);
            }
            scene.endFrame();
        }
    } catch (const ExceptionMsg& e) {
        failures.push_back(m.what + ": threw ExceptionMsg \"" + e.getMessage() + "\"");
    } catch (const std::exception& e) {
        failures.push_back(m.what + ": threw " + e.what());
    }
}

// Bad fields of the shading context, and of the shade data and shaded instances it reaches.
Mutations contextMutations() {
    Mutations out;
    auto context = [&](const std::string& what, std::function<void(ShadingContext&)> change) {
        out.push_back({what, {}, {}, change});
    };
    auto meshes = [&](const std::string& what,
                      std::function<void(kivohost::MeshShadeData&)> change) {
        out.push_back({what, [change](Scene& s) {
                           change(s.meshWithProvider);
                           change(s.meshWithoutProvider);
                       }});
    };
    auto instances = [&](const std::string& what,
                         std::function<void(kivohost::ShadedInstance&)> change) {
        out.push_back({what, [change](Scene& s) {
                           change(s.objectOnly);
                           change(s.fullInstance);
                       }});
    };
    const std::pair<const char*, Vector4f ShadingContext::*> vectors[] = {
        {"rayDir", &ShadingContext::rayDir},
        {"rayOrigin", &ShadingContext::rayOrigin},
        {"screenFrameAxis", &ShadingContext::screenFrameAxis},
        {"dDdx", &ShadingContext::dDdx},
        {"dDdy", &ShadingContext::dDdy},
        {"shadingPoint", &ShadingContext::shadingPoint},
        {"normal", &ShadingContext::normal},
        {"auxNormal", &ShadingContext::auxNormal},
        {"surfacePoint", &ShadingContext::surfacePoint},
        {"dPdx", &ShadingContext::dPdx},
        {"dPdy", &ShadingContext::dPdy},
    };
    for (const auto& [name, field] : vectors) {
        eachLane<Vector4f>(name, [&](const std::string& what, auto change) {
            context(what, [field, change](ShadingContext& sc) { sc.*field = change(sc.*field); });
        });
    }
    for (float v : badValues<float>()) {
        const std::string value = " = " + spell(v);
        const Vector4f all{v, v, v, v};
        context("time" + value, [v](ShadingContext& sc) { sc.time = v; });
        context("imageX" + value, [v](ShadingContext& sc) { sc.imageX = v; });
        context("imageY" + value, [v](ShadingContext& sc) { sc.imageY = v; });
        meshes("channel uvw" + value, [all](kivohost::MeshShadeData& mesh) {
            for (auto& [index, channel] : mesh.channels) {
                channel.uvw = all;
            }
        });
        meshes("channel basis" + value, [all](kivohost::MeshShadeData& mesh) {
            for (auto& [index, channel] : mesh.channels) {
                channel.basis[0] = channel.basis[1] = channel.basis[2] = all;
            }
        });
        instances("object space" + value, [all](kivohost::ShadedInstance& instance) {
            instance.objectSpace = UVWTransform{all, all, all, all};
        });
        instances("reference point" + value,
                  [all](kivohost::ShadedInstance& instance) { instance.referencePoint = all; });
        instances("scene point" + value, [all](kivohost::ShadedInstance& instance) {
            instance.referencePoint.reset();
            instance.scenePoint = all;
        });
    }
    for (int v : {INT_MIN, INT_MAX, -1, 0, 2}) {
        const std::string value = " = " + std::to_string(v);
        context("flags" + value, [v](ShadingContext& sc) { sc.flags = v; });
        context("backSide" + value, [v](ShadingContext& sc) { sc.backSide = v; });
        context("evalSlot" + value, [v](ShadingContext& sc) { sc.evalSlot = v; });
        context("threadIndex" + value, [v](ShadingContext& sc) { sc.threadData.threadIndex = v; });
        meshes("only channel index" + value, [v](kivohost::MeshShadeData& mesh) {
            mesh.channels = {{v, mesh.channel(1)}};
        });
    }
    for (std::uint32_t v : {0u, 1u, 0xFFFFFFFFu}) {
        context("evalStamp = " + std::to_string(v), [v](ShadingContext& sc) { sc.evalStamp = v; });
        meshes("shade ids = " + std::to_string(v), [v](kivohost::MeshShadeData& mesh) {
            mesh.ids = kivohost::ShadeIds{v, v, 1};
        });
    }
    meshes("shade ids unavailable", [](kivohost::MeshShadeData& mesh) {
        mesh.ids = kivohost::ShadeIds{7, 7, 0};
    });
    return out;
}

class BadInputSweep : public ::testing::TestWithParam<KivoPluginDesc*> {
protected:
    void sweep(const std::string& what, const Mutations& mutations) const {
        std::vector<std::string> failures;
        for (const Mutation& m : mutations) {
            runScenario(*GetParam(), m, failures);
        }
        std::printf("[bad inputs] %s %s: %zu tried\n", GetParam()->getName(), what.c_str(),
                    mutations.size());
        for (std::size_t i = 0; i < failures.size() && i < 25; ++i) {
            ADD_FAILURE() << failures[i];
        }
        EXPECT_TRUE(failures.empty()) << failures.size() << " failures";
    }
};

TEST_P(BadInputSweep, EveryParameter) {
    sweep("parameters", parameterMutations(*GetParam()));
}

TEST_P(BadInputSweep, EveryFrameAndSequenceField) {
    sweep("frame and sequence fields", frameMutations());
}

TEST_P(BadInputSweep, EveryContextField) {
    sweep("context fields", contextMutations());
}

std::string typeName(const ::testing::TestParamInfo<KivoPluginDesc*>& info) {
    return info.param->getName();
}

INSTANTIATE_TEST_SUITE_P(AllTypes, BadInputSweep, ::testing::ValuesIn(libraryPluginTypes()),
                         typeName);

} // namespace
