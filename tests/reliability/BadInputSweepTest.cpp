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
#include <cmath>
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
constexpr double kBadReals[] = {kNaN, kInf, -kInf, 1e30, -1e30, 3e38, 0.0, -0.0};
constexpr int kBadInts[] = {INT_MIN, INT_MAX, -1, 0, 2};

std::string spell(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.9g", value);
    return buffer;
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

// add(description, change, finite) for every bad value of a T: a number replaced by it; each lane
// of a vector type set to it in turn, then all of them.
template <class T, class Add>
void variants(const std::string& what, Add add) {
    if constexpr (std::is_integral_v<T>) {
        for (int v : kBadInts) {
            add(
                what + " = " + std::to_string(T(v)), [v](T) { return T(v); }, true);
        }
    } else {
        for (double v : kBadReals) {
            if constexpr (std::is_arithmetic_v<T>) {
                add(
                    what + " = " + spell(v), [v](T) { return T(v); }, std::isfinite(v));
            } else {
                for (int k = 0; k <= kLanes<T>; ++k) {
                    add(
                        what + (k == kLanes<T> ? " all" : " lane " + std::to_string(k)) + " = " +
                            spell(v),
                        [k, v](const T& base) { return withLane(base, k, v); }, std::isfinite(v));
                }
            }
        }
    }
}

// f(name, member) for each pair of the list.
template <class F>
void eachPair(F) {}
template <class F, class M, class... Rest>
void eachPair(F f, const char* name, M member, Rest... rest) {
    f(name, member);
    eachPair(f, rest...);
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
struct ConstantUVWGen final : public KivoUVWGen {
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
    Vector4f v;
};

// A bad input; each part may be empty.
struct Mutation {
    std::string what;
    // Once, after the scene is built.
    std::function<void(Scene&)> apply = {};
    // After each frame's data is set.
    std::function<void(Scene&)> perFrame = {};
    // To each context before it is evaluated.
    std::function<void(ShadingContext&)> perContext = {};
    // Every value in range: the outputs and the GPU text are finite too.
    bool finite = false;
};
using Mutations = std::vector<Mutation>;

std::unique_ptr<PluginBase> colorTexture(float v) {
    return std::make_unique<kivohost::ColorTexture>(AColor{v, v, v, v});
}

// Each bad value of the parameter, made from its value in the working scene (read by `get`).
template <class T>
void valueMutations(const std::string& name, T (KivoParameter::*get)(int, double) const,
                    Mutations& out) {
    variants<T>(name, [&](const std::string& what, auto change, bool finite) {
        out.push_back({.what = what,
                       .apply =
                           [name, get, change](Scene& s) {
                               const T value = (s.params().getParam(name.c_str())->*get)(0, 1.0);
                               Scene::set(s.subject(), name.c_str(), change(value));
                           },
                       .finite = finite});
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
    // A plugin of `desc` with its parameter `field` made bad.
    auto connectBad = [&]<class T>(KivoPluginDesc& desc, const char* field, T base) {
        variants<T>(field, [&](const std::string& what, auto change, bool) {
            connect(what, [&desc, field, base, change](Scene& s) {
                PluginBase* plugin = s.create(desc);
                Scene::set(plugin, field, change(base));
                return plugin;
            });
        });
    };
    connect("none", [](Scene&) { return nullptr; });
    connect("a bitmap (wrong kind)",
            [](Scene& s) { return s.adopt(std::make_unique<kivohost::Bitmap>(4, 4)); });
    if (name == "uvwgen") {
        for (double v : kBadReals) {
            connect("generator giving " + spell(v),
                    [v](Scene& s) { return s.adopt(std::make_unique<ConstantUVWGen>(float(v))); });
        }
    } else if (name == "camera_view") {
        connectBad(viewDesc, "fov", 0.9f);
        connectBad(viewDesc, "zoom", 1.0f);
        connectBad(viewDesc, "transform", Transform{});
    } else if (name == "camera_settings") {
        connectBad(settingsDesc, "type", 0);
    } else if (name == "bitmap") {
        for (auto [w, h] : {std::pair{0, 0}, {-1, -1}, {INT_MAX, 1}, {1, INT_MAX}, {INT_MIN, 5}}) {
            connect("bitmap " + std::to_string(w) + "x" + std::to_string(h),
                    [w, h](Scene& s) { return s.adopt(std::make_unique<kivohost::Bitmap>(w, h)); });
        }
    }
}

void listMutations(const std::string& name, Mutations& out) {
    using Values = std::vector<ParamValue>;
    auto list = [&](const std::string& what, std::function<Values(Scene&)> make) {
        out.push_back({name + " = " + what, [name, make](Scene& s) {
                           if (!setParamList(s.params(), name.c_str(), make(s))) {
                               throw std::logic_error("cannot set the list " + name);
                           }
                       }});
    };
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
        auto plugin = [&](const std::string& what,
                          std::function<std::unique_ptr<PluginBase>()> make) {
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
            valueMutations(name, &KivoParameter::getInt, out);
            constant("1", 1);
            if (const int past = pastLargestEnumValue(defs.getParamDefHints(index))) {
                constant(std::to_string(past), past);
            }
            break;
        case ParamType::Float:
            valueMutations(name, &KivoParameter::getFloat, out);
            break;
        case ParamType::Vector:
            valueMutations(name, &KivoParameter::getVector, out);
            break;
        case ParamType::Color:
            valueMutations(name, &KivoParameter::getColor, out);
            break;
        case ParamType::Matrix:
            valueMutations(name, &KivoParameter::getMatrix, out);
            break;
        case ParamType::Transform:
            valueMutations(name, &KivoParameter::getTransform, out);
            break;
        case ParamType::String:
            for (const std::string& v :
                 {std::string(), std::string("no such value"), std::string(5000, 'x')}) {
                constant("\"" + v.substr(0, 20) + "\"", v);
            }
            break;
        case ParamType::Texture:
        case ParamType::TextureFloat:
        case ParamType::TextureTransform:
            for (double d : kBadReals) {
                const float v = float(d);
                const Vector4f all{v, v, v, v};
                if (paramType == ParamType::Texture) {
                    constant("constant " + spell(v), AColor{v, v, v, v});
                    plugin("texture giving " + spell(v), [v] { return colorTexture(v); });
                } else if (paramType == ParamType::TextureFloat) {
                    constant("constant " + spell(v), v);
                    plugin("texture giving " + spell(v),
                           [v] { return std::make_unique<kivohost::FloatTexture>(v); });
                } else {
                    plugin("texture giving " + spell(v), [all] {
                        return std::make_unique<kivohost::TransformTexture>(
                            UVWTransform{all, all, all, all});
                    });
                }
            }
            [[fallthrough]];
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
    using F = KivoFrameData;
    eachPair(
        [&](const char* name, auto member) {
            using T = std::remove_reference_t<decltype(F{}.*member)>;
            variants<T>(name, [&](const std::string& what, auto change, bool finite) {
                out.push_back({.what = what,
                               .perFrame =
                                   [member, change](Scene& s) {
                                       s.session.frame.*member = change(s.session.frame.*member);
                                   },
                               .finite = finite});
            });
        },
        "frameTime", &F::frameTime, "motionBlurStart", &F::motionBlurStart, "motionBlurEnd",
        &F::motionBlurEnd, "imageWidth", &F::imageWidth, "imageHeight", &F::imageHeight,
        "frameIndex", &F::frameIndex, "samplerMode", &F::samplerMode, "overscanLeft",
        &F::overscanLeft, "overscanTop", &F::overscanTop, "overscanWidth", &F::overscanWidth,
        "overscanHeight", &F::overscanHeight, "pixelAspect", &F::pixelAspect, "fov", &F::fov,
        "sceneOrigin", &F::sceneOrigin, "cameraTransform", &F::cameraTransform, "cameraOrigin",
        &F::cameraOrigin);
    auto sequence = [&](const std::string& what, std::function<void(Scene&)> change) {
        out.push_back({what, change});
    };
    for (double d : kBadReals) {
        const float v = float(d);
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
    sequence("motion blur off", [](Scene& s) { s.session.sequence.motionBlur = 0; });
    for (int v : kBadInts) {
        sequence("numThreads = " + std::to_string(v),
                 [v](Scene& s) { s.session.sequence.numThreads = v; });
        sequence("geomSamples = " + std::to_string(v),
                 [v](Scene& s) { s.session.sequence.geomSamples = v; });
        sequence("cameraType = " + std::to_string(v),
                 [v](Scene& s) { s.session.sequence.cameraType = v; });
    }
    return out;
}

// Bad fields of the shading context, and of the shade data and shaded instances it reaches.
Mutations contextMutations() {
    Mutations out;
    using C = ShadingContext;
    eachPair(
        [&](const char* name, auto member) {
            using T = std::remove_reference_t<decltype(std::declval<C&>().*member)>;
            variants<T>(name, [&](const std::string& what, auto change, bool finite) {
                out.push_back(
                    {.what = what,
                     .perContext =
                         [member, change](ShadingContext& sc) { sc.*member = change(sc.*member); },
                     .finite = finite});
            });
        },
        "rayDir", &C::rayDir, "rayOrigin", &C::rayOrigin, "screenFrameAxis", &C::screenFrameAxis,
        "dDdx", &C::dDdx, "dDdy", &C::dDdy, "shadingPoint", &C::shadingPoint, "normal", &C::normal,
        "auxNormal", &C::auxNormal, "surfacePoint", &C::surfacePoint, "dPdx", &C::dPdx, "dPdy",
        &C::dPdy, "time", &C::time, "imageX", &C::imageX, "imageY", &C::imageY, "flags", &C::flags,
        "backSide", &C::backSide, "evalSlot", &C::evalSlot, "evalStamp", &C::evalStamp);
    auto meshes = [&](const std::string& what, std::function<void(kivohost::MeshShadeData&)> f) {
        out.push_back({what, [f](Scene& s) {
                           f(s.meshWithProvider);
                           f(s.meshWithoutProvider);
                       }});
    };
    auto instances = [&](const std::string& what,
                         std::function<void(kivohost::ShadedInstance&)> f) {
        out.push_back({what, [f](Scene& s) {
                           f(s.objectOnly);
                           f(s.fullInstance);
                       }});
    };
    for (double d : kBadReals) {
        const std::string value = " = " + spell(d);
        const float v = float(d);
        const Vector4f all{v, v, v, v};
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
    // No renderer, or one without frame or sequence data.
    for (int missing = 0; missing < 3; ++missing) {
        out.push_back({.what = "renderer missing part " + std::to_string(missing),
                       .perContext =
                           [missing](ShadingContext& sc) {
                               static KivoRenderer partial;
                               partial = *sc.renderer;
                               partial.frameData = missing == 1 ? nullptr : partial.frameData;
                               partial.sequenceData = missing == 2 ? nullptr : partial.sequenceData;
                               sc.renderer = missing ? &partial : nullptr;
                           },
                       .finite = true});
    }
    for (int v : kBadInts) {
        const std::string value = " = " + std::to_string(v);
        out.push_back({.what = "threadIndex" + value,
                       .perContext = [v](ShadingContext& sc) { sc.threadData.threadIndex = v; }});
        meshes("only channel index" + value, [v](kivohost::MeshShadeData& mesh) {
            mesh.channels = {{v, mesh.channel(1)}};
        });
        const auto id = std::uint32_t(v);
        meshes("shade ids = " + std::to_string(id), [id](kivohost::MeshShadeData& mesh) {
            mesh.ids = kivohost::ShadeIds{id, id, 1};
        });
    }
    meshes("shade ids unavailable", [](kivohost::MeshShadeData& mesh) {
        mesh.ids = kivohost::ShadeIds{7, 7, 0};
    });
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
                const Evaluation e = eval.evaluate(sc, &unwritten);
                if (m.finite && !finiteEvaluation(e)) {
                    unwritten.push_back("context " + std::to_string(i) + ": " +
                                        describeEvaluation(e));
                }
            }
            const auto [described, text] = eval.describe(&scene.session.renderer, &scene.gpuBlocks);
            if (described != 0 && described != 1) {
                unwritten.push_back("emitRTSource gave " + std::to_string(described));
            }
            if (m.finite && (text.find("nan") != text.npos || text.find("inf") != text.npos)) {
                unwritten.push_back("GPU text " + text);
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
                failures.push_back(m.what + ", frame " + std::to_string(frame) + ": " + u);
            }
            scene.endFrame();
        }
    } catch (const ExceptionMsg& e) {
        failures.push_back(m.what + ": threw ExceptionMsg \"" + e.getMessage() + "\"");
    } catch (const std::exception& e) {
        failures.push_back(m.what + ": threw " + e.what());
    }
}

class BadInputSweep : public ::testing::TestWithParam<KivoPluginDesc*> {};

TEST_P(BadInputSweep, EveryParameterFrameSequenceAndContextField) {
    for (const Mutations& mutations :
         {parameterMutations(*GetParam()), frameMutations(), contextMutations()}) {
        std::vector<std::string> failures;
        for (const Mutation& m : mutations) {
            runScenario(*GetParam(), m, failures);
        }
        for (std::size_t i = 0; i < failures.size() && i < 25; ++i) {
            ADD_FAILURE() << failures[i];
        }
        EXPECT_TRUE(failures.empty()) << failures.size() << " failures";
    }
}

INSTANTIATE_TEST_SUITE_P(AllTypes, BadInputSweep, ::testing::ValuesIn(libraryPluginTypes()),
                         [](const auto& info) { return std::string(info.param->getName()); });

} // namespace
