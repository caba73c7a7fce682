// Every plugin type of the library in a working scene, driven as a renderer drives it: the
// instance created by its descriptor with parameters that reach its allocations and most of its
// code paths, the host plugins and stand-ins it reads connected, motion blur on and several
// render threads; shading contexts over a spread of points; and one record of what every
// evaluation operation returns at a context. Shared by the reliability tests and fuzz targets.
// The instances, their parameters and the render settings are scene files that uvwhost reads
// too (scenes/<type>.json in the folder PLUGIN_SCENES_DIR, the instance "subject" of the
// type); this code adds what a file cannot say: textures computed from the shading context, a
// bitmap known by its size alone, and the shade data and instances of the contexts.
#pragma once

#include "kivo/PluginModel.h"
#include "kivo/ShadingContext.h"
#include "scene/Cameras.h"
#include "scene/GpuParamBlocks.h"
#include "scene/ShadeStandIns.h"
#include "scene/VisibilityRays.h"
#include "sdk/HostRuntime.h"
#include "sdk/ParamValues.h"
#include "uvwhost/PluginSession.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace reliability {

// The descriptors of every plugin type of the library, in the library's registration order.
const std::vector<KUtils::KivoPluginDesc*>& libraryPluginTypes();
// The type of that name among `types` (the library's by default).
KUtils::KivoPluginDesc& named(const std::vector<KUtils::KivoPluginDesc*>& types,
                              const std::string& name);
inline KUtils::KivoPluginDesc& named(const std::string& name) {
    return named(libraryPluginTypes(), name);
}

// What every evaluation operation of a plugin gives at one context, in a fixed order:
// UVW generators evalUVW, evalUVWDerivs, evalUVWTransform (and evalUVWBasis when answered, and
// the uvw_coords output texture when published); textures evalColor.
struct Evaluation {
    int uvwValid = 0;
    KUtils::Vector4f uvw;
    int derivsValid = 0;
    KUtils::Vector4f derivs[3];
    int transformValid = 0;
    KUtils::UVWTransform transform;
    int basisValid = 0;
    KUtils::Vector4f basisUVW;
    KUtils::Vector4f basis[3];
    KUtils::Vector4f texVector;
    KUtils::AColor color;
};

// The interfaces a renderer evaluates a plugin through.
struct Evaluator {
    explicit Evaluator(KUtils::PluginBase* plugin);

    // Outputs start as a sentinel bit pattern; the names of the outputs still holding it
    // afterwards (an operation that left an output unwritten) are appended to unwritten.
    Evaluation evaluate(const KUtils::ShadingContext& sc,
                        std::vector<std::string>* unwritten) const;
    // The GPU description: emitRTSource's result and the text. The registry must outlive the
    // frame (plugins remove their parameter blocks at finishFrame).
    std::pair<int, std::string> describe(KUtils::KivoRenderer* renderer,
                                         KUtils::ParamBlockRegistry* registry) const;

    KUtils::UVWGenInterface* uvwgen;
    KUtils::TextureInterface* texture;
    KUtils::PluginInterface* ostrel;
    KUtils::TextureVectorInterface* uvwCoords;
    KUtils::RTTexInterface* rtTex;
};

// A plugin instance and the host plugins around it.
class Scene {
public:
    // The working scene of the type (a descriptor of libraryPluginTypes(), or of the same type
    // from a loaded module) for numThreads render threads.
    explicit Scene(KUtils::KivoPluginDesc& type, int numThreads = 4);
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    KUtils::PluginBase* subject() const { return subjectOnly[0]->plugin; }
    KUtils::KivoParameterList& params() const { return *subjectOnly[0]->params(); }
    const char* typeName() const { return type.getName(); }

    // Frame data of frame `index`: frame time index, blur interval index - 0.25 .. index + 0.25.
    void setFrame(int index);

    // The renderer's calls, the inputs' and the subject's separately (a test may arm an
    // allocation failure around the subject's alone). The subject's part includes the render
    // settings it takes (sequence data at prepare, frame data at frame begin).
    void prepareInputs() { host.prepareRender(inputs()); }
    void prepareSubject() { host.prepareRender(subjectOnly); }
    void beginInputs() { host.beginFrame(inputs()); }
    void beginSubject() { host.beginFrame(subjectOnly); }
    void prepareRender() {
        prepareInputs();
        prepareSubject();
    }
    void beginFrame() {
        beginInputs();
        beginSubject();
    }
    void endFrame() { host.endFrame(); }
    void finishRender() { host.finishRender(); }

    // Contexts of the scene: point, normal, ray, differentials, time, image position, side and
    // stamp vary with the index; shade data and the shaded instance rotate among the scene's
    // stand-ins. Thread 0, evalStamp index + 1.
    kivohost::TracingShadingContext context(int index) const;
    static constexpr int kContextCount = 24;
    // Every operation at every context, context i on thread i % 4.
    std::vector<Evaluation> evaluateAll(const Evaluator& eval) const;

    // A plugin of the scene: created by a descriptor (an input the render's calls reach), or
    // a host stand-in handed over (deleted after every created plugin).
    KUtils::PluginBase* create(KUtils::KivoPluginDesc& desc);
    KUtils::PluginBase* adopt(std::unique_ptr<KUtils::PluginBase> plugin);
    static void set(KUtils::PluginBase* plugin, const char* name, const KUtils::ParamValue& value);

    kivohost::SceneGeometry geometry;
    kivohost::GpuParamBlocks gpuBlocks;
    // Unused until a test points the sequence data at it.
    kivohost::LinearCameraMotion cameraMotion{{}};
    // Shade data with a channel provider, without one, and shaded instances with an object
    // space only and with every answer.
    kivohost::MeshShadeData meshWithProvider;
    kivohost::MeshShadeData meshWithoutProvider;
    kivohost::ShadedInstance objectOnly;
    kivohost::ShadedInstance fullInstance;

private:
    // The stand-ins outlive the session, and the session what the plugins reach above: at the
    // end it ends what is still open, then deletes every instance, newest first.
    std::vector<std::unique_ptr<KUtils::PluginBase>> adopted;
    uvwhost::PluginSession host;

public:
    kivohost::RenderSession& session = host.render();

private:
    // Every instance but the subject, in creation order.
    std::vector<uvwhost::PluginInstance*> inputs() const;

    KUtils::KivoPluginDesc& type;
    // Built once: the subject's calls allocate nothing (a test fails allocations around them).
    std::vector<uvwhost::PluginInstance*> subjectOnly;
};

// Frames 1 .. frames of the type's scene with memory throughout: evaluateAll of each frame.
std::vector<std::vector<Evaluation>> referenceFrames(KUtils::KivoPluginDesc& type, int frames,
                                                     int numThreads = 4);

// Bit for bit (NaN equals the same NaN); the basis counts only when evalUVWBasis gave 1.
bool sameEvaluation(const Evaluation& a, const Evaluation& b);
// x, y and z of every output of the operations a renderer calls are finite.
bool finiteEvaluation(const Evaluation& e);
std::string describeEvaluation(const Evaluation& e);

} // namespace reliability
