#include "tests/support/PluginScenes.h"

#include "channel/UVWGenChannel.h"
#include "channel/UVWGenPlanarWorld.h"
#include "environment/UVWGenEnvironment.h"
#include "kivo/UVWGenOstrelInterface.h"
#include "kivo/VectorMath.h"
#include "ostrel/UVWGenOstrel.h"
#include "projection/TexMultiProjection.h"
#include "projection/UVWGenProjection.h"
#include "scene/Bitmap.h"
#include "scene/TextureStandIns.h"
#include "spatial/UVWGenExplicit.h"
#include "spatial/UVWGenObject.h"
#include "uvwhost/Catalog.h"
#include "uvwhost/SceneFile.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <stdexcept>

namespace reliability {

using namespace KUtils;

namespace {

// A type's scene file read against the library's types (the instance "subject" of the type).
struct FileScene {
    uvwhost::SceneDocument doc;
    std::vector<uvwhost::ScenePlugin> plugins;
};

// Read at the type's first use (a test program often builds one type's scenes only): every
// Scene of the type instantiates the same.
const FileScene& fileScene(const std::string& typeName) {
    static std::mutex mutex;
    static std::map<std::string, FileScene> scenes;
    const std::lock_guard lock(mutex);
    if (const auto found = scenes.find(typeName); found != scenes.end()) {
        return found->second;
    }
    auto doc =
        uvwhost::loadSceneDocument(std::string(PLUGIN_SCENES_DIR) + "/" + typeName + ".json");
    if (!doc) {
        throw std::runtime_error(doc.error());
    }
    auto plugins = uvwhost::readScenePlugins(*doc, uvwhost::Catalog(libraryPluginTypes()));
    if (!plugins) {
        throw std::runtime_error(plugins.error());
    }
    return scenes[typeName] = {std::move(*doc), std::move(*plugins)};
}

} // namespace

const std::vector<KivoPluginDesc*>& libraryPluginTypes() {
    static UVWGenOstrelDesc ostrel;
    static UVWGenChannelDesc channel;
    static UVWGenEnvironmentDesc environment;
    static UVWGenExplicitDesc explicitGen;
    static UVWGenObjectDesc object;
    static UVWGenPlanarWorldDesc planarWorld;
    static TexMultiProjectionDesc multiProjection;
    static UVWGenProjectionDesc projection;
    static const std::vector<KivoPluginDesc*> types = {&ostrel,          &channel,   &environment,
                                                       &explicitGen,     &object,    &planarWorld,
                                                       &multiProjection, &projection};
    return types;
}

KivoPluginDesc& named(const std::vector<KivoPluginDesc*>& types, const std::string& name) {
    for (KivoPluginDesc* type : types) {
        if (type->getName() == name) {
            return *type;
        }
    }
    throw std::logic_error("no plugin type " + name);
}

Scene::Scene(KivoPluginDesc& type, int numThreads) : type(type) {
    const FileScene& file = fileScene(type.getName());
    // The subject of the descriptor given (perhaps a loaded module's), its inputs the library's
    // or the host's.
    std::vector<uvwhost::ScenePlugin> plugins = file.plugins;
    for (uvwhost::ScenePlugin& plugin : plugins) {
        if (plugin.name == "subject") {
            plugin.desc = &type;
        }
    }
    if (std::string error = uvwhost::instantiateScenePlugins(file.doc, plugins, host);
        !error.empty()) {
        throw std::runtime_error(error);
    }
    subjectOnly = {host.find("subject")};
    if (!subjectOnly[0]) {
        throw std::logic_error(file.doc.source + ": no instance \"subject\"");
    }
    uvwhost::FrameSettings frame = file.doc.frame;
    frame.threads = numThreads;
    host.applyFrame(frame);
    setFrame(1);

    geometry.spheres.push_back({{1.5f, 0.0f, 5.0f, 0.0f}, 0.6f});

    kivohost::MapChannel ch0{{0.25f, 0.5f, 0.0f, 0.0f}};
    kivohost::MapChannel ch1{
        {0.7f, -0.2f, 0.3f, 0.0f},
        {{2.0f, 0.1f, 0.0f, 0.0f}, {0.0f, 0.5f, 0.2f, 0.0f}, {0.1f, 0.0f, 1.0f, 0.0f}}};
    kivohost::MapChannel ch2{
        {1.75f, 2.5f, -0.5f, 0.0f},
        {{0.0f, 1.0f, 0.0f, 0.0f}, {-1.0f, 0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 3.0f, 0.0f}}};
    for (kivohost::MeshShadeData* mesh : {&meshWithProvider, &meshWithoutProvider}) {
        mesh->channels = {{0, ch0}, {1, ch1}, {2, ch2}};
        mesh->ids = kivohost::ShadeIds{3, 11, 1};
    }
    meshWithoutProvider.provider = false;

    const UVWTransform objectSpace{{0.5f, 0.0f, 0.1f, 0.0f},
                                   {0.0f, 0.5f, 0.0f, 0.0f},
                                   {0.0f, -0.1f, 0.5f, 0.0f},
                                   {1.0f, -2.0f, 0.5f, 0.0f}};
    objectOnly.objectSpace = objectSpace;
    fullInstance.objectSpace = objectSpace;
    fullInstance.referencePoint = Vector4f{101.0f, -48.0f, 28.0f, 0.0f};
    fullInstance.scenePoint = Vector4f{0.5f, 0.25f, -1.0f, 0.0f};

    // Inputs a file cannot describe: values computed from the shading context, and a bitmap
    // that is a size without pixels.
    PluginBase* subject = this->subject();
    const std::string name = type.getName();
    if (name == "UVWGenExplicit") {
        set(subject, "u",
            adopt(std::make_unique<kivohost::FloatTexture>(
                [](const ShadingContext& sc) { return sc.shadingPoint.x * 2.0f; }, "u\n")));
        set(subject, "v", adopt(std::make_unique<kivohost::FloatTexture>(0.25f)));
        set(subject, "uvw",
            adopt(std::make_unique<kivohost::ColorTexture>(
                [](const ShadingContext& sc) {
                    return AColor{sc.shadingPoint.y, sc.shadingPoint.z, 0.5f, 1.0f};
                },
                AColor{-2.0f, -2.0f, 0.5f, 1.0f}, AColor{2.0f, 2.0f, 0.5f, 1.0f}, "uvw\n")));
    } else if (name == "UVWGenProjection") {
        set(subject, "bitmap", adopt(std::make_unique<kivohost::Bitmap>(800, 600)));
    }
}

void Scene::setFrame(int index) {
    session.frame.frameIndex = index;
    session.frame.frameTime = index;
    session.frame.motionBlurStart = index - 0.25;
    session.frame.motionBlurEnd = index + 0.25;
}

std::vector<uvwhost::PluginInstance*> Scene::inputs() const {
    std::vector<uvwhost::PluginInstance*> list;
    for (const auto& instance : host.instances()) {
        if (instance.get() != subjectOnly[0]) {
            list.push_back(instance.get());
        }
    }
    return list;
}

PluginBase* Scene::create(KivoPluginDesc& desc) {
    auto instance = host.create(&desc, "input" + std::to_string(host.instances().size()));
    if (!instance) {
        throw std::runtime_error(instance.error());
    }
    return (*instance)->plugin;
}

PluginBase* Scene::adopt(std::unique_ptr<PluginBase> plugin) {
    adopted.push_back(std::move(plugin));
    return adopted.back().get();
}

void Scene::set(PluginBase* plugin, const char* name, const ParamValue& value) {
    if (!setParamValue(*paramListOf(plugin), name, value)) {
        throw std::logic_error(std::string("cannot set ") + name);
    }
}

kivohost::TracingShadingContext Scene::context(int index) const {
    kivohost::TracingShadingContext sc(&geometry);
    const float a = 0.7f * float(index);
    sc.renderer = const_cast<KivoRenderer*>(&session.renderer);
    sc.threadData.threadIndex = 0;
    sc.evalStamp = std::uint32_t(index) + 1;
    sc.evalSlot = index % 3;
    sc.shadingPoint = {1.5f * std::sin(a), 1.2f * std::cos(1.3f * a),
                       0.5f * std::sin(0.4f * a) + 0.3f * float(index % 3), 0.0f};
    sc.surfacePoint = sc.shadingPoint - Vector4f{0.01f * float(index % 4), 0.0f, 0.02f, 0.0f};
    sc.normal = *unitDirection(sc.shadingPoint + Vector4f{0.0f, 0.0f, 1.0f, 0.0f});
    sc.auxNormal = *unitDirection(sc.normal + Vector4f{0.1f, 0.0f, 0.0f, 0.0f});
    // Directions over the whole sphere, the lower hemisphere included.
    const float theta = 3.14159265f * (float(index) + 0.5f) / float(kContextCount);
    const float phi = 2.4f * float(index);
    sc.rayDir = {std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi), std::cos(theta),
                 0.0f};
    sc.rayOrigin = {0.0f, 0.0f, 10.0f, 0.0f};
    sc.dPdx = {0.01f, 0.002f * float(index % 3), 0.0f, 0.0f};
    sc.dPdy = {0.001f, 0.012f, 0.003f, 0.0f};
    sc.dDdx = {0.002f, 0.0f, 0.001f, 0.0f};
    sc.dDdy = {0.0f, 0.002f, -0.001f, 0.0f};
    sc.time = 0.25f * float(index % 5);
    sc.imageX = 20.0f * float(index) + 5.0f;
    sc.imageY = 15.0f * float(index) + 3.0f;
    sc.backSide = index % 7 == 3;
    sc.flags = index % 11 == 5   ? SC_FLAG_BYPASS_UVW_CACHE | SC_FLAG_BYPASS_TEXTURE_CACHE
               : index % 13 == 6 ? SC_FLAG_NO_GROUND_PROJECTION
                                 : 0;
    const KivoShadeData* meshes[] = {&meshWithProvider, &meshWithProvider, &meshWithoutProvider,
                                     nullptr};
    sc.shadeData = meshes[index % 4];
    const KivoShadeInstance* instances[] = {nullptr, &objectOnly, &fullInstance};
    sc.shadeInstance = instances[index % 3];
    return sc;
}

std::vector<Evaluation> Scene::evaluateAll(const Evaluator& eval) const {
    std::vector<Evaluation> results;
    for (int i = 0; i < kContextCount; ++i) {
        kivohost::TracingShadingContext sc = context(i);
        sc.threadData.threadIndex = i % 4;
        results.push_back(eval.evaluate(sc, nullptr));
    }
    return results;
}

std::vector<std::vector<Evaluation>> referenceFrames(KivoPluginDesc& type, int frames,
                                                     int numThreads) {
    std::vector<std::vector<Evaluation>> results;
    Scene scene(type, numThreads);
    const Evaluator eval(scene.subject());
    scene.prepareRender();
    for (int frame = 1; frame <= frames; ++frame) {
        scene.setFrame(frame);
        scene.beginFrame();
        results.push_back(scene.evaluateAll(eval));
        scene.endFrame();
    }
    return results;
}

// ---- Evaluation -----------------------------------------------------------------------------

namespace {

// Outputs start filled with a sentinel byte; a word that still holds the sentinel afterwards
// was not written, unless the result happens to be that value: a word is named only when a
// repeat of the call with a second sentinel leaves that one in place too.
constexpr unsigned char kSentinels[2] = {0xA5, 0x5A};

template <class T>
bool holdsSentinel(const T& value, std::size_t word, unsigned char sentinel) {
    std::uint32_t bits;
    std::memcpy(&bits, reinterpret_cast<const unsigned char*>(&value) + 4 * word, 4);
    return bits == 0x01010101u * sentinel;
}

// Calls op(out) with out filled with the first sentinel and returns its result. When
// unwritten is given, names in it each of the first `checked` words (all by default) that the
// call left unwritten, and a valid flag other than 0 or 1.
template <class T, class Op>
int runChecked(T& out, const char* what, std::vector<std::string>* unwritten, Op op,
               std::size_t (*checkedWords)(int result) = nullptr) {
    static_assert(sizeof(T) % 4 == 0);
    std::memset(static_cast<void*>(&out), kSentinels[0], sizeof(T));
    const int result = op(out);
    if (!unwritten) {
        return result;
    }
    if (result != 0 && result != 1) {
        unwritten->push_back(std::string(what) + " valid flag " + std::to_string(result));
    }
    const std::size_t checked = checkedWords ? checkedWords(result) : sizeof(T) / 4;
    T again;
    bool repeated = false;
    for (std::size_t word = 0; word < checked; ++word) {
        if (!holdsSentinel(out, word, kSentinels[0])) {
            continue;
        }
        if (!repeated) {
            std::memset(static_cast<void*>(&again), kSentinels[1], sizeof(T));
            op(again);
            repeated = true;
        }
        if (holdsSentinel(again, word, kSentinels[1])) {
            unwritten->push_back(std::string(what) + " word " + std::to_string(word));
        }
    }
    return result;
}

} // namespace

Evaluator::Evaluator(PluginBase* plugin)
    : uvwgen(static_cast<UVWGenInterface*>(plugin->getInterface(EXT_UVWGEN))),
      texture(uvwgen ? nullptr : static_cast<TextureInterface*>(plugin->getInterface(EXT_TEXTURE))),
      ostrel(plugin->getInterface(EXT_UVWGEN_OSTREL)), uvwCoords(nullptr),
      rtTex(static_cast<RTTexInterface*>(plugin->getInterface(EXT_RTTEX))) {
    if (KivoParameterList* list = paramListOf(plugin)) {
        uvwCoords = static_cast<TextureVectorInterface*>(outputParamOf(*list, "uvw_coords"));
    }
}

Evaluation Evaluator::evaluate(const ShadingContext& sc,
                               std::vector<std::string>* unwritten) const {
    Evaluation e;
    if (uvwgen) {
        e.uvwValid = runChecked(e.uvw, "evalUVW", unwritten,
                                [&](Vector4f& out) { return uvwgen->evalUVW(sc, out); });
        e.derivsValid = runChecked(e.derivs, "evalUVWDerivs", unwritten, [&](Vector4f(&out)[3]) {
            return uvwgen->evalUVWDerivs(sc, out);
        });
        e.transformValid =
            runChecked(e.transform, "evalUVWTransform", unwritten,
                       [&](UVWTransform& out) { return uvwgen->evalUVWTransform(sc, out); });
    }
    if (ostrel) {
        // The basis is written only when the call gives 1.
        struct BasisOut {
            Vector4f uvw;
            Vector4f basis[3];
        } out;
        auto* gen = static_cast<UVWGenOstrelInterface*>(ostrel);
        e.basisValid = runChecked(
            out, "evalUVWBasis", unwritten,
            [&](BasisOut& o) { return gen->evalUVWBasis(sc, o.uvw, o.basis); },
            [](int valid) { return valid == 1 ? sizeof(BasisOut) / 4 : sizeof(Vector4f) / 4; });
        e.basisUVW = out.uvw;
        if (e.basisValid == 1) {
            std::copy(out.basis, out.basis + 3, e.basis);
        }
    }
    if (uvwCoords) {
        runChecked(e.texVector, "uvw_coords getTexVector", unwritten, [&](Vector4f& out) {
            uvwCoords->getTexVector(out, sc);
            return 1;
        });
    }
    if (texture) {
        runChecked(e.color, "evalColor", unwritten, [&](AColor& out) {
            texture->evalColor(out, sc);
            return 1;
        });
    }
    return e;
}

std::pair<int, std::string> Evaluator::describe(KivoRenderer* renderer,
                                                ParamBlockRegistry* registry) const {
    if (!rtTex) {
        return {0, {}};
    }
    ShaderSource source;
    GPUDataRecord gpuData;
    gpuData.renderer = renderer;
    gpuData.paramBlockRegistry = registry;
    const int result = rtTex->emitRTSource("uvw", "gen", "MaterialDescriptor", source, gpuData);
    return {result, source.text() ? source.text() : ""};
}

bool sameEvaluation(const Evaluation& a, const Evaluation& b) {
    return std::memcmp(&a, &b, sizeof(Evaluation)) == 0;
}

bool finiteEvaluation(const Evaluation& e) {
    for (const Vector4f& v : {e.uvw, e.derivs[0], e.derivs[1], e.derivs[2], e.transform.c0,
                              e.transform.c1, e.transform.c2, e.transform.o, e.texVector,
                              Vector4f{e.color.r, e.color.g, e.color.b, e.color.a}}) {
        if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z)) {
            return false;
        }
    }
    return true;
}

std::string describeEvaluation(const Evaluation& e) {
    char buffer[160];
    std::string text = "valid " + std::to_string(e.uvwValid) + "/" + std::to_string(e.derivsValid) +
                       "/" + std::to_string(e.transformValid) + "/" + std::to_string(e.basisValid);
    const std::pair<const char*, Vector4f> vectors[] = {
        {"uvw", e.uvw},
        {"dx", e.derivs[1]},
        {"dy", e.derivs[2]},
        {"c0", e.transform.c0},
        {"o", e.transform.o},
        {"basis uvw", e.basisUVW},
        {"tex vector", e.texVector},
        {"color", Vector4f{e.color.r, e.color.g, e.color.b, e.color.a}}};
    for (const auto& [name, v] : vectors) {
        std::snprintf(buffer, sizeof buffer, " %s (%.9g, %.9g, %.9g, %.9g)", name, double(v.x),
                      double(v.y), double(v.z), double(v.w));
        text += buffer;
    }
    return text;
}

} // namespace reliability
