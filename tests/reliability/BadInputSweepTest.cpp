// Every plugin type against bad input, one input at a time, from a working scene: each
// parameter its descriptor registers (found through the descriptor's read-back, so that none
// is forgotten), each field of the shading context and of what it reaches, and the frame and
// sequence data. Whatever the value, the frame's lifecycle completes, and every evaluation
// operation returns a valid flag of 0 or 1 and writes each of its outputs. NaN in may give NaN
// out; crashes, undefined behaviour and unwritten outputs are what this looks for (the
// sanitizer builds report the first two).
#include "BadInputs.h"
#include "PluginScenes.h"
#include "frame/HostSdk.h"
#include "memory/ExceptionMsg.h"
#include "scene/Bitmap.h"
#include "scene/Cameras.h"
#include "scene/TextureStandIns.h"
#include "scene/TransformTextures.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace KUtils;
using namespace reliability;

namespace {

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

struct Mutation {
    std::string what;
    // Once, after the scene is built.
    std::function<void(Scene&)> apply;
    // After each frame's data is set; may be empty.
    std::function<void(Scene&)> perFrame = {};
};

void setOrThrow(Scene& scene, const std::string& name, const ParamValue& value) {
    Scene::set(scene.subject(), name.c_str(), value);
}

void setListOrThrow(Scene& scene, const std::string& name, const std::vector<ParamValue>& list) {
    if (!setParamList(scene.params(), name.c_str(), list)) {
        throw std::logic_error("cannot set the list " + name);
    }
}

// Variants of a matrix: each of its nine entries, then all of them, set to v.
std::vector<std::pair<std::string, Matrix3x3f>> matrixVariants(const Matrix3x3f& base, float v) {
    std::vector<std::pair<std::string, Matrix3x3f>> variants;
    for (int column = 0; column < 3; ++column) {
        for (int lane = 0; lane < 3; ++lane) {
            Matrix3x3f changed = base;
            (&(&changed.c0)[column].x)[lane] = v;
            variants.emplace_back("m" + std::to_string(column) + std::to_string(lane), changed);
        }
    }
    const Vector4f all{v, v, v, v};
    variants.emplace_back("matrix", Matrix3x3f{all, all, all});
    return variants;
}

std::vector<std::pair<std::string, Transform>> transformVariants(const Transform& base, double v) {
    std::vector<std::pair<std::string, Transform>> variants;
    for (auto& [what, m] : matrixVariants(base.m, float(v))) {
        variants.emplace_back(what, Transform{m, base.offs});
    }
    for (int lane = 0; lane < 3; ++lane) {
        Transform changed = base;
        (&changed.offs.x)[lane] = v;
        variants.emplace_back(std::string("offset ") + "xyz"[lane], changed);
    }
    const Vector4f all{float(v), float(v), float(v), float(v)};
    variants.emplace_back("all", Transform{{all, all, all}, {v, v, v}});
    return variants;
}

// The parameter's value in the working scene at the first frame's time.
KivoParameter& currentParam(Scene& scene, const std::string& name) {
    KivoParameter* p = scene.params().getParam(name.c_str());
    if (!p) {
        throw std::logic_error("no parameter " + name);
    }
    return *p;
}

std::unique_ptr<PluginBase> badColorTexture(float v) {
    return std::make_unique<kivohost::ColorTexture>(
        [v](const ShadingContext&) {
            return AColor{v, v, v, v};
        },
        AColor{v, v, v, v}, AColor{v, v, v, v}, "bad\n");
}

std::unique_ptr<PluginBase> badTransformTexture(float v) {
    const Vector4f all{v, v, v, v};
    return std::make_unique<kivohost::TransformTexture>(UVWTransform{all, all, all, all});
}

// Connections a plugin parameter may be given besides its proper plugin: nothing, a plugin
// of the wrong kind, and for the plugins the library reads data from, that data gone bad.
void pluginMutations(const std::string& name, std::vector<Mutation>& out) {
    out.push_back({name + " = none", [name](Scene& s) { setOrThrow(s, name, nullptr); }, {}});
    out.push_back({name + " = a bitmap (wrong kind)",
                   [name](Scene& s) {
                       setOrThrow(s, name, s.adopt(std::make_unique<kivohost::Bitmap>(4, 4)));
                   },
                   {}});
    if (name == "uvwgen") {
        for (float v : badFloats()) {
            out.push_back({name + " = generator giving " + spell(v), [name, v](Scene& s) {
                               setOrThrow(s, name, s.adopt(std::make_unique<ConstantUVWGen>(v)));
                           }});
        }
    }
    if (name == "bitmap") {
        for (auto [w, h] : {std::pair{0, 0}, {-1, -1}, {INT_MAX, 1}, {1, INT_MAX}, {INT_MIN, 5}}) {
            out.push_back({name + " = bitmap " + std::to_string(w) + "x" + std::to_string(h),
                           [name, w, h](Scene& s) {
                               setOrThrow(s, name,
                                          s.adopt(std::make_unique<kivohost::Bitmap>(w, h)));
                           }});
        }
    }
    if (name == "camera_view") {
        static kivohost::RenderViewDesc viewDesc;
        for (const char* field : {"fov", "zoom"}) {
            for (float v : badFloats()) {
                out.push_back({name + " " + field + " = " + spell(v), [name, field, v](Scene& s) {
                                   PluginBase* view = s.create(viewDesc);
                                   Scene::set(view, field, v);
                                   setOrThrow(s, name, view);
                               }});
            }
        }
        for (double v : badDoubles()) {
            for (auto& [what, t] : transformVariants(Transform{}, v)) {
                out.push_back({name + " transform " + what + " = " + spell(v), [name, t](Scene& s) {
                                   PluginBase* view = s.create(viewDesc);
                                   Scene::set(view, "transform", t);
                                   setOrThrow(s, name, view);
                               }});
            }
        }
    }
    if (name == "camera_settings") {
        static kivohost::SettingsCameraDesc settingsDesc;
        for (int v : {INT_MIN, -1, 99, INT_MAX}) {
            out.push_back({name + " type = " + std::to_string(v), [name, v](Scene& s) {
                               PluginBase* camera = s.create(settingsDesc);
                               Scene::set(camera, "type", v);
                               setOrThrow(s, name, camera);
                           }});
        }
    }
}

void listMutations(const std::string& name, std::vector<Mutation>& out) {
    out.push_back({name + " = []", [name](Scene& s) { setListOrThrow(s, name, {}); }});
    out.push_back({name + " = [none, none]", [name](Scene& s) {
                       setListOrThrow(s, name, {nullptr, nullptr});
                   }});
    out.push_back({name + " = [a bitmap (wrong kind)]", [name](Scene& s) {
                       setListOrThrow(s, name, {s.adopt(std::make_unique<kivohost::Bitmap>(4, 4))});
                   }});
    out.push_back({name + " = 300 textures", [name](Scene& s) {
                       PluginBase* t = s.adopt(badColorTexture(0.5f));
                       setListOrThrow(s, name, std::vector<ParamValue>(300, t));
                   }});
    for (float v : badFloats()) {
        out.push_back({name + " = [texture giving " + spell(v) + "]", [name, v](Scene& s) {
                           setListOrThrow(s, name, {s.adopt(badColorTexture(v))});
                       }});
    }
}

// Every bad value of every parameter the type registers.
std::vector<Mutation> parameterMutations(const KivoPluginDesc& type) {
    std::vector<Mutation> out;
    const KivoParameterListDesc& defs = *type.getParamListDesc();
    for (int index = 0; index < defs.getNumParamDefs(); ++index) {
        const std::string name = defs.getParamDefName(index);
        if (defs.getParamDefCount(index) >= 0) {
            listMutations(name, out);
            continue;
        }
        switch (defs.getParamDefType(index)) {
        case ParamType::Int:
        case ParamType::Bool: {
            std::vector<int> values = badInts();
            values.push_back(1);
            int largest = 0;
            if (largestEnumValue(defs.getParamDefHints(index), largest) && largest < INT_MAX) {
                values.push_back(largest + 1);
            }
            for (int v : values) {
                out.push_back({name + " = " + std::to_string(v),
                               [name, v](Scene& s) { setOrThrow(s, name, v); }});
            }
            break;
        }
        case ParamType::Float:
            for (float v : badFloats()) {
                out.push_back(
                    {name + " = " + spell(v), [name, v](Scene& s) { setOrThrow(s, name, v); }});
            }
            break;
        case ParamType::Vector:
        case ParamType::Color:
            for (float v : badFloats()) {
                for (int lane = 0; lane < 4; ++lane) {
                    out.push_back({name + " lane " + std::to_string(lane) + " = " + spell(v),
                                   [name, v, lane](Scene& s) {
                                       KivoParameter& p = currentParam(s, name);
                                       if (p.getType() == ParamType::Color) {
                                           AColor c = p.getColor(0, 1.0);
                                           (&c.r)[lane] = v;
                                           setOrThrow(s, name, c);
                                       } else {
                                           Vector4f x = p.getVector(0, 1.0);
                                           (&x.x)[lane] = v;
                                           setOrThrow(s, name, x);
                                       }
                                   }});
                }
            }
            break;
        case ParamType::Matrix:
            for (float v : badFloats()) {
                for (std::size_t k = 0; k < matrixVariants({}, v).size(); ++k) {
                    out.push_back({name + " " + matrixVariants({}, v)[k].first + " = " + spell(v),
                                   [name, v, k](Scene& s) {
                                       const Matrix3x3f m = currentParam(s, name).getMatrix(0, 1.0);
                                       setOrThrow(s, name, matrixVariants(m, v)[k].second);
                                   }});
                }
            }
            break;
        case ParamType::Transform:
            for (double v : badDoubles()) {
                for (std::size_t k = 0; k < transformVariants({}, v).size(); ++k) {
                    out.push_back(
                        {name + " " + transformVariants({}, v)[k].first + " = " + spell(v),
                         [name, v, k](Scene& s) {
                             const Transform t = currentParam(s, name).getTransform(0, 1.0);
                             setOrThrow(s, name, transformVariants(t, v)[k].second);
                         }});
                }
            }
            break;
        case ParamType::String:
            for (const std::string& v : badStrings()) {
                out.push_back({name + " = \"" + v.substr(0, 20) + "\"",
                               [name, v](Scene& s) { setOrThrow(s, name, v); }});
            }
            break;
        case ParamType::Texture:
            for (float v : badFloats()) {
                out.push_back({name + " = constant " + spell(v), [name, v](Scene& s) {
                                   setOrThrow(s, name, AColor{v, v, v, v});
                               }});
                out.push_back({name + " = texture giving " + spell(v), [name, v](Scene& s) {
                                   setOrThrow(s, name, s.adopt(badColorTexture(v)));
                               }});
            }
            pluginMutations(name, out);
            break;
        case ParamType::TextureFloat:
            for (float v : badFloats()) {
                out.push_back({name + " = constant " + spell(v),
                               [name, v](Scene& s) { setOrThrow(s, name, v); }});
                out.push_back({name + " = texture giving " + spell(v), [name, v](Scene& s) {
                                   setOrThrow(s, name,
                                              s.adopt(std::make_unique<kivohost::FloatTexture>(v)));
                               }});
            }
            pluginMutations(name, out);
            break;
        case ParamType::TextureTransform:
            for (float v : badFloats()) {
                out.push_back({name + " = texture giving " + spell(v), [name, v](Scene& s) {
                                   setOrThrow(s, name, s.adopt(badTransformTexture(v)));
                               }});
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
std::vector<Mutation> frameMutations() {
    std::vector<Mutation> out;
    auto frameDouble = [&out](const char* what, double KivoFrameData::*field) {
        for (double v : badDoubles()) {
            out.push_back({std::string(what) + " = " + spell(v), {}, [field, v](Scene& s) {
                               s.session.frame.*field = v;
                           }});
        }
    };
    auto frameFloat = [&out](const char* what, float KivoFrameData::*field) {
        for (float v : badFloats()) {
            out.push_back({std::string(what) + " = " + spell(v), {}, [field, v](Scene& s) {
                               s.session.frame.*field = v;
                           }});
        }
    };
    auto frameInt = [&out](const char* what, int KivoFrameData::*field) {
        for (int v : badInts()) {
            out.push_back({std::string(what) + " = " + std::to_string(v), {}, [field, v](Scene& s) {
                               s.session.frame.*field = v;
                           }});
        }
    };
    frameDouble("frameTime", &KivoFrameData::frameTime);
    frameDouble("motionBlurStart", &KivoFrameData::motionBlurStart);
    frameDouble("motionBlurEnd", &KivoFrameData::motionBlurEnd);
    frameInt("imageWidth", &KivoFrameData::imageWidth);
    frameInt("imageHeight", &KivoFrameData::imageHeight);
    frameInt("frameIndex", &KivoFrameData::frameIndex);
    frameInt("samplerMode", &KivoFrameData::samplerMode);
    frameFloat("overscanLeft", &KivoFrameData::overscanLeft);
    frameFloat("overscanTop", &KivoFrameData::overscanTop);
    frameFloat("overscanWidth", &KivoFrameData::overscanWidth);
    frameFloat("overscanHeight", &KivoFrameData::overscanHeight);
    frameFloat("pixelAspect", &KivoFrameData::pixelAspect);
    frameFloat("fov", &KivoFrameData::fov);
    for (double v : badDoubles()) {
        out.push_back({"sceneOrigin.x = " + spell(v), {}, [v](Scene& s) {
                           s.session.frame.sceneOrigin.x = v;
                       }});
        out.push_back({"sceneOrigin = " + spell(v), {}, [v](Scene& s) {
                           s.session.frame.sceneOrigin = {v, v, v};
                       }});
        for (auto& [what, t] : transformVariants(Transform{}, v)) {
            out.push_back({"cameraTransform " + what + " = " + spell(v), {}, [t](Scene& s) {
                               s.session.frame.cameraTransform = t;
                           }});
        }
    }
    for (float v : badFloats()) {
        out.push_back({"cameraOrigin = " + spell(v), {}, [v](Scene& s) {
                           s.session.frame.cameraOrigin = {v, v, v, v};
                       }});
        out.push_back({"up direction = " + spell(v), [v](Scene& s) {
                           s.session.sequence.up = UpDirectionRecord{{v, v, v}};
                       }});
        out.push_back({"camera motion velocity = " + spell(v), [v](Scene& s) {
                           s.cameraMotion.velocity = {v, v, v, 0.0f};
                           s.session.sequence.cameraMotionBlur = 1;
                           s.session.sequence.cameraMotion = &s.cameraMotion;
                       }});
    }
    out.push_back({"up direction unanswered", [](Scene& s) { s.session.sequence.up.reset(); }});
    for (int v : {INT_MIN, -1, 0}) {
        out.push_back({"numThreads = " + std::to_string(v),
                       [v](Scene& s) { s.session.sequence.numThreads = v; }});
        out.push_back({"geomSamples = " + std::to_string(v),
                       [v](Scene& s) { s.session.sequence.geomSamples = v; }});
    }
    out.push_back({"motion blur off", [](Scene& s) { s.session.sequence.motionBlur = 0; }});
    for (int v : {INT_MIN, -1, 1, 99, INT_MAX}) {
        out.push_back({"cameraType = " + std::to_string(v),
                       [v](Scene& s) { s.session.sequence.cameraType = v; }});
    }
    return out;
}

void checkOutputs(const Evaluator& eval, const ShadingContext& sc, const std::string& what,
                  std::vector<std::string>& failures) {
    std::vector<std::string> unwritten;
    eval.evaluate(sc, &unwritten);
    for (const std::string& u : unwritten) {
        failures.push_back(what + ": " + u);
    }
}

// Two frames of the scene with the mutation, every operation at every context of each frame.
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
            for (int i = 0; i < Scene::kContextCount; ++i) {
                kivohost::TracingShadingContext sc = scene.context(i);
                sc.threadData.threadIndex = i % 4;
                checkOutputs(eval, sc, m.what + ", frame " + std::to_string(frame), failures);
            }
            const int described = eval.describe(&scene.session.renderer, &scene.gpuBlocks).first;
            if (described != 0 && described != 1) {
                failures.push_back(m.what + ": emitRTSource gave " + std::to_string(described));
            }
            if (eval.texture) {
                AColor low, high;
                std::memset(static_cast<void*>(&low), 0xA5, sizeof low);
                std::memset(static_cast<void*>(&high), 0xA5, sizeof high);
                eval.texture->getColorRange(low, high);
                std::uint32_t bits[8];
                std::memcpy(bits, &low, 16);
                std::memcpy(bits + 4, &high, 16);
                for (std::uint32_t b : bits) {
                    if (b == 0xA5A5A5A5u) {
                        failures.push_back(m.what + ": getColorRange left a lane unwritten");
                        break;
                    }
                }
            }
            scene.endFrame();
        }
        scene.finishRender();
    } catch (const ExceptionMsg& e) {
        failures.push_back(m.what + ": threw ExceptionMsg \"" + e.getMessage() + "\"");
    } catch (const std::exception& e) {
        failures.push_back(m.what + ": threw " + e.what());
    }
}

// A field of the shading context, or of the shade data or shaded instance it reaches.
struct ContextMutation {
    std::string what;
    std::function<void(kivohost::TracingShadingContext&, kivohost::MeshShadeData&,
                       kivohost::ShadedInstance&)>
        apply;
};

std::vector<ContextMutation> contextMutations() {
    using SC = kivohost::TracingShadingContext;
    using Mesh = kivohost::MeshShadeData;
    using Instance = kivohost::ShadedInstance;
    std::vector<ContextMutation> out;
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
    for (float v : badFloats()) {
        for (const auto& [name, field] : vectors) {
            for (int lane = 0; lane < 4; ++lane) {
                const std::string laneName = lane < 3 ? std::string(".") + "xyz"[lane] : "";
                out.push_back({std::string(name) + laneName + " = " + spell(v),
                               [field, lane, v](SC& sc, Mesh&, Instance&) {
                                   Vector4f& f = sc.*field;
                                   if (lane < 3) {
                                       (&f.x)[lane] = v;
                                   } else {
                                       f = {v, v, v, v};
                                   }
                               }});
            }
        }
        for (const auto& [name, field] : {std::pair{"time", &ShadingContext::time},
                                          std::pair{"imageX", &ShadingContext::imageX},
                                          std::pair{"imageY", &ShadingContext::imageY}}) {
            out.push_back({std::string(name) + " = " + spell(v),
                           [field, v](SC& sc, Mesh&, Instance&) { sc.*field = v; }});
        }
        out.push_back({"channel uvw = " + spell(v), [v](SC& sc, Mesh& mesh, Instance&) {
                           for (auto& [index, channel] : mesh.channels) {
                               channel.uvw = {v, v, v, v};
                           }
                           sc.shadeData = &mesh;
                       }});
        out.push_back(
            {"channel basis = " + spell(v), [v](SC& sc, Mesh& mesh, Instance&) {
                 for (auto& [index, channel] : mesh.channels) {
                     channel.basis[0] = channel.basis[1] = channel.basis[2] = {v, v, v, v};
                 }
                 sc.shadeData = &mesh;
             }});
        out.push_back({"object space = " + spell(v), [v](SC& sc, Mesh&, Instance& instance) {
                           const Vector4f all{v, v, v, v};
                           instance.objectSpace = UVWTransform{all, all, all, all};
                           sc.shadeInstance = &instance;
                       }});
        out.push_back({"reference point = " + spell(v), [v](SC& sc, Mesh&, Instance& instance) {
                           instance.referencePoint = Vector4f{v, v, v, v};
                           sc.shadeInstance = &instance;
                       }});
        out.push_back({"scene point = " + spell(v), [v](SC& sc, Mesh&, Instance& instance) {
                           instance.referencePoint.reset();
                           instance.scenePoint = Vector4f{v, v, v, v};
                           sc.shadeInstance = &instance;
                       }});
    }
    const std::pair<const char*, int ShadingContext::*> ints[] = {
        {"flags", &ShadingContext::flags},
        {"backSide", &ShadingContext::backSide},
        {"evalSlot", &ShadingContext::evalSlot},
    };
    for (int v : {INT_MIN, INT_MAX, -1, 0, 2}) {
        for (const auto& [name, field] : ints) {
            out.push_back({std::string(name) + " = " + std::to_string(v),
                           [field, v](SC& sc, Mesh&, Instance&) { sc.*field = v; }});
        }
        out.push_back({"threadIndex = " + std::to_string(v),
                       [v](SC& sc, Mesh&, Instance&) { sc.threadData.threadIndex = v; }});
        out.push_back(
            {"channel index " + std::to_string(v) + " only", [v](SC& sc, Mesh& mesh, Instance&) {
                 mesh.channels = {{v, mesh.channel(1)}};
                 sc.shadeData = &mesh;
             }});
    }
    for (std::uint32_t v : {0u, 1u, 0xFFFFFFFFu}) {
        out.push_back({"evalStamp = " + std::to_string(v),
                       [v](SC& sc, Mesh&, Instance&) { sc.evalStamp = v; }});
        out.push_back({"shade ids = " + std::to_string(v), [v](SC& sc, Mesh& mesh, Instance&) {
                           mesh.ids = kivohost::ShadeIds{v, v, 1};
                           sc.shadeData = &mesh;
                       }});
    }
    out.push_back({"shade ids unavailable", [](SC& sc, Mesh& mesh, Instance&) {
                       mesh.ids = kivohost::ShadeIds{7, 7, 0};
                       sc.shadeData = &mesh;
                   }});
    return out;
}

class BadInputSweep : public ::testing::TestWithParam<KivoPluginDesc*> {
protected:
    static void report(const std::string& what, std::size_t tried,
                       const std::vector<std::string>& failures) {
        std::printf("[bad inputs] %s %s: %zu tried\n", GetParam()->getName(), what.c_str(), tried);
        for (std::size_t i = 0; i < failures.size() && i < 25; ++i) {
            ADD_FAILURE() << failures[i];
        }
        EXPECT_TRUE(failures.empty()) << failures.size() << " failures";
    }
};

TEST_P(BadInputSweep, EveryParameter) {
    const std::vector<Mutation> mutations = parameterMutations(*GetParam());
    ASSERT_GT(mutations.size(), 0u);
    std::vector<std::string> failures;
    for (const Mutation& m : mutations) {
        runScenario(*GetParam(), m, failures);
    }
    report("parameters", mutations.size(), failures);
}

TEST_P(BadInputSweep, EveryFrameAndSequenceField) {
    const std::vector<Mutation> mutations = frameMutations();
    std::vector<std::string> failures;
    for (const Mutation& m : mutations) {
        runScenario(*GetParam(), m, failures);
    }
    report("frame and sequence fields", mutations.size(), failures);
}

TEST_P(BadInputSweep, EveryContextField) {
    const std::vector<ContextMutation> mutations = contextMutations();
    std::vector<std::string> failures;
    std::size_t tried = 0;
    Scene scene(*GetParam());
    const Evaluator eval(scene.subject());
    scene.prepareRender();
    scene.beginFrame();
    // Contexts with every mix of shade data and shaded instance.
    for (int base : {0, 5, 10, 14}) {
        for (const ContextMutation& m : mutations) {
            kivohost::TracingShadingContext sc = scene.context(base);
            sc.threadData.threadIndex = base % 4;
            kivohost::MeshShadeData mesh = scene.meshWithProvider;
            kivohost::ShadedInstance instance = scene.fullInstance;
            m.apply(sc, mesh, instance);
            checkOutputs(eval, sc, m.what + " at context " + std::to_string(base), failures);
            ++tried;
        }
    }
    scene.endFrame();
    scene.finishRender();
    report("context fields", tried, failures);
}

std::string typeName(const ::testing::TestParamInfo<KivoPluginDesc*>& info) {
    return info.param->getName();
}

INSTANTIATE_TEST_SUITE_P(AllTypes, BadInputSweep, ::testing::ValuesIn(libraryPluginTypes()),
                         typeName);

} // namespace
