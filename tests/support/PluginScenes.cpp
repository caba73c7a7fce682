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
#include "scene/ScenePlugins.h"
#include "scene/TextureStandIns.h"
#include "spatial/UVWGenExplicit.h"
#include "spatial/UVWGenObject.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace reliability {

using namespace KUtils;

namespace {

// Far from the origin, so that every world-space offset is exercised.
constexpr Vector3d kSceneOrigin{100.0, -50.0, 25.0};

// A rotation about z by `angle` radians, scaled by s, offset by o.
Transform rotatedZ(float angle, float s, const Vector3d& o) {
    const float c = std::cos(angle) * s;
    const float n = std::sin(angle) * s;
    return Transform{Matrix3x3f{{c, n, 0.0f, 0.0f}, {-n, c, 0.0f, 0.0f}, {0.0f, 0.0f, s, s}}, o};
}

Transform placedAt(const Vector3d& relative) {
    return Transform{
        Matrix3x3f{},
        {kSceneOrigin.x + relative.x, kSceneOrigin.y + relative.y, kSceneOrigin.z + relative.z}};
}

void animate(PluginBase* plugin, const char* name, const ParamValue& first,
             const ParamValue& last) {
    if (!setParamKeys(*paramListOf(plugin), name, {{-1.0, first}, {4.0, last}})) {
        throw std::logic_error(std::string("cannot animate ") + name);
    }
}

// Animated uvw_transform over the frames the tests render (times 0 .. 3).
void animateTransform(PluginBase* plugin) {
    animate(plugin, "uvw_transform", rotatedZ(0.1f, 1.5f, {0.1, 0.2, 0.0}),
            rotatedZ(0.9f, 0.75f, {0.6, -0.3, 0.2}));
}

// Pairs of parameter name and value.
void setAll(PluginBase*) {}
template <class... Rest>
void setAll(PluginBase* p, const char* name, const ParamValue& value, const Rest&... rest) {
    Scene::set(p, name, value);
    setAll(p, rest...);
}

void setBaseChain(PluginBase* p) {
    animateTransform(p);
    setAll(p, "tex_transform", rotatedZ(0.0f, 2.0f, {0.5, 0.0, 0.0}), "nsamples", 3, "wrap_u", 1,
           "wrap_v", 2, "crop_w", 1, "coverage", Vector4f{0.9f, 1.0f, 1.0f, 0.0f}, "duvw_scale",
           1.5f);
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

Scene::Scene(KivoPluginDesc& type, int numThreads)
    : type(type), subjectPlugin(type.newPlugin(nullptr)) {
    if (!subjectPlugin) {
        throw std::runtime_error(std::string("no instance of ") + type.getName());
    }
    session.sequence.numThreads = numThreads;
    session.sequence.motionBlur = 1;
    session.sequence.geomSamples = 2;
    session.sequence.up = UpDirectionRecord{{0.0f, 0.0f, 1.0f}};
    session.frame.sceneOrigin = kSceneOrigin;
    session.frame.imageWidth = 640;
    session.frame.imageHeight = 480;
    session.frame.overscanLeft = -10.0f;
    session.frame.overscanTop = -5.0f;
    session.frame.overscanWidth = 660.0f;
    session.frame.overscanHeight = 490.0f;
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

    configure();
}

Scene::~Scene() {
    if (inFrame) {
        endFrame();
    }
    if (prepared) {
        finishRender();
    }
    type.deletePlugin(subjectPlugin);
    for (auto it = inputs.rbegin(); it != inputs.rend(); ++it) {
        if (it->desc) {
            it->desc->deletePlugin(it->plugin);
        } else {
            delete it->plugin;
        }
    }
}

void Scene::setFrame(int index) {
    session.frame.frameIndex = index;
    session.frame.frameTime = index;
    session.frame.motionBlurStart = index - 0.25;
    session.frame.motionBlurEnd = index + 0.25;
}

PluginBase* Scene::create(PluginDesc& desc) {
    PluginBase* plugin = desc.newPlugin(nullptr);
    if (!plugin) {
        throw std::runtime_error(std::string("no instance of ") + desc.getName());
    }
    inputs.push_back({&desc, plugin});
    return plugin;
}

PluginBase* Scene::adopt(std::unique_ptr<PluginBase> plugin) {
    inputs.push_back({nullptr, plugin.get()});
    return plugin.release();
}

void Scene::set(PluginBase* plugin, const char* name, const ParamValue& value) {
    if (!setParamValue(*paramListOf(plugin), name, value)) {
        throw std::logic_error(std::string("cannot set ") + name);
    }
}

void Scene::configure() {
    const std::string name = type.getName();
    PluginBase* p = subjectPlugin;
    if (name == "UVWGenChannel") {
        setBaseChain(p);
        setAll(p, "uvw_channel", 1, "use_double_sided_mode", true);
    } else if (name == "UVWGenPlanarWorld") {
        setBaseChain(p);
    } else if (name == "UVWGenObject") {
        animateTransform(p);
        set(p, "duvw_scale", 2.0f);
    } else if (name == "UVWGenExplicit") {
        set(p, "useSeparateParams", 1);
        set(p, "u",
            adopt(std::make_unique<kivohost::FloatTexture>(
                [](const ShadingContext& sc) { return sc.shadingPoint.x * 2.0f; }, "u\n")));
        set(p, "v", adopt(std::make_unique<kivohost::FloatTexture>(0.25f)));
        set(p, "uvw",
            adopt(std::make_unique<kivohost::ColorTexture>(
                [](const ShadingContext& sc) {
                    return AColor{sc.shadingPoint.y, sc.shadingPoint.z, 0.5f, 1.0f};
                },
                AColor{-2.0f, -2.0f, 0.5f, 1.0f}, AColor{2.0f, 2.0f, 0.5f, 1.0f}, "uvw\n")));
    } else if (name == "UVWGenEnvironment") {
        animate(p, "uvw_matrix", rotatedZ(0.2f, 1.0f, {}).m, rotatedZ(1.4f, 1.0f, {}).m);
        setAll(p, "uvw_transform", rotatedZ(0.0f, 1.0f, {0.05, 0.1, 0.0}), "mapping_type",
               std::string("spherical"), "wrap_u", 1, "crop_v", 1, "duvw_scale", 1.25f, "ground_on",
               1, "ground_position", Vector4f{100.0f, -50.0f, 24.0f, 0.0f}, "ground_radius", 20.0f);
    } else if (name == "UVWGenProjection") {
        static kivohost::RenderViewDesc viewDesc;
        static kivohost::SettingsCameraDesc settingsDesc;
        set(p, "type", 8);
        animateTransform(p);
        PluginBase* view = create(viewDesc);
        setAll(view, "transform", placedAt({0.0, 0.0, 10.0}), "fov", 0.9f);
        PluginBase* settings = create(settingsDesc);
        PluginBase* bitmap = adopt(std::make_unique<kivohost::Bitmap>(800, 600));
        setAll(p, "tex_transform", rotatedZ(0.3f, 1.0f, {0.0, 0.1, 0.0}), "camera_view", view,
               "camera_settings", settings, "bitmap", bitmap, "fitfill", 1, "fittype", 1,
               "film_gate_w", 1.5f, "hide_backface", true, "hide_occluded", true,
               "include_overscan", true, "nsamples", 3);
    } else if (name == "UVWGenOstrel") {
        setAll(p, "map", 0, "channel", 1, "offset_x", 0.1f, "size_x", 2.0f, "angle_z", 30.0f,
               "offset_x2", 0.3f, "size_x2", 0.5f, "angle_z2", 45.0f, "rand_mat", 1, "rand_obj", 1,
               "seed", 5, "tile_x", 2, "tile_y", 3, "filtering", 0.5f);
    } else if (name == "TexMultiProjection") {
        static UVWGenProjectionDesc projectionDesc;
        std::vector<PluginBase*> checkers;
        for (const Vector3d& centre : {Vector3d{0.0, 0.0, 5.0}, Vector3d{5.0, 0.0, 0.0}}) {
            PluginBase* projection = create(projectionDesc);
            setAll(projection, "type", 2, "uvw_transform", placedAt(centre));
            PluginBase* checker = create(named(kivohost::scenePluginDescs(), "TexChecker"));
            set(checker, "uvwgen", projection);
            checkers.push_back(checker);
        }
        const std::vector<ParamValue> colors(checkers.begin(), checkers.end());
        PluginBase* depth = create(named(kivohost::scenePluginDescs(), "TexConstant"));
        set(depth, "color", AColor{5.0f, 5.0f, 5.0f, 1.0f});
        if (!setParamList(params(), "color_textures", colors) ||
            !setParamList(params(), "zdepth_textures", {depth})) {
            throw std::logic_error("cannot set the texture lists");
        }
        set(p, "zdepth_offset", 0.05f);
    } else {
        throw std::logic_error("no scene for " + name);
    }
}

void Scene::lifecycle(PluginBase* plugin, LifecycleCall call) {
    auto* settings =
        static_cast<RenderSettingsInterface*>(plugin->getInterface(EXT_RENDER_SETTINGS));
    if (settings && call == &KivoPluginInterface::frameBegin) {
        settings->updateFrameData(session.frame);
    }
    if (auto* kivo = static_cast<KivoPluginInterface*>(plugin->getInterface(EXT_KIVO_PLUGIN))) {
        (kivo->*call)(&session.renderer);
    }
    if (settings && call == &KivoPluginInterface::prepareRender) {
        settings->updateSequenceData(session.sequence);
    }
}

void Scene::inputsLifecycle(LifecycleCall call) {
    for (const Owned& input : inputs) {
        lifecycle(input.plugin, call);
    }
}

void Scene::prepareSubject() {
    prepared = true;
    lifecycle(subjectPlugin, &KivoPluginInterface::prepareRender);
}

void Scene::beginSubject() {
    inFrame = true;
    lifecycle(subjectPlugin, &KivoPluginInterface::frameBegin);
}

void Scene::endFrame() {
    inputsLifecycle(&KivoPluginInterface::finishFrame);
    lifecycle(subjectPlugin, &KivoPluginInterface::finishFrame);
    inFrame = false;
}

void Scene::finishRender() {
    inputsLifecycle(&KivoPluginInterface::finishRender);
    lifecycle(subjectPlugin, &KivoPluginInterface::finishRender);
    prepared = false;
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
