// UVW generator that projects the shaded point onto a plane, sphere, cylinder, ball, cube,
// three planes, two box layouts or a camera's image, and returns the UVW with its local
// derivative. The host hands it camera data through RenderSettingsInterface.
#pragma once

#include "frame/GpuUVWGen.h"
#include "kivo/FloatMath.h"
#include "kivo/HostSdk.h"
#include "kivo/PluginDescriptor.h"
#include "kivo/ShadingContext.h"
#include "projection/ProjectionCamera.h"
#include "projection/ProjectionMapping.h"
#include "projection/ProjectionParamBlock.h"

#include <memory>

namespace KUtils {

class UVWGenProjection : public GpuUVWGen, public RenderSettingsInterface {
public:
    explicit UVWGenProjection(KivoPluginDesc* desc);
    ~UVWGenProjection() override;

    PluginInterface* getInterface(InterfaceID id) override;
    PluginBase* getPlugin() override { return this; }

    // KivoPluginInterface
    void prepareRender(KivoRenderer* renderer) override;
    void frameBegin(KivoRenderer* renderer) override;
    void finishFrame(KivoRenderer* renderer) override;

    // UVWGenInterface; each returns 1, or 0 for a perspective point that is hidden (behind
    // the camera, a back face or occluded), whose outputs are then all zero.
    int evalUVW(const ShadingContext& sc, Vector4f& uvw) override;
    int evalUVWDerivs(const ShadingContext& sc, Vector4f out[3]) override;
    int evalUVWTransform(const ShadingContext& sc, UVWTransform& tm) override;

    // RenderSettingsInterface: the host's sequence and frame data, before frameBegin.
    void updateSequenceData(KivoSequenceData& sequenceData) override;
    void updateFrameData(KivoFrameData& frameData) override;

    // RTTexInterface: "projection" and the id of the parameter block; always returns 0.
    int emitRTSource(const char* outputName, const char* name, const char* kind,
                     ShaderSource& source, GPUDataRecord& gpuData) override;

private:
    // Maps the point and calls finish(local, m) with the local mapping and the working
    // transform m it was taken through, unless the point is hidden; returns the valid flag.
    // Each operation finishes only what it returns (evalUVW the point alone), and inline, so
    // no 64-byte transform is copied out per call. Without Jacobian, the local mapping holds
    // the uvw alone (the columns are zero).
    template <bool Jacobian, typename Finish>
    int evaluate(const ShadingContext& sc, Finish&& finish);
    // The rest of evaluate with the working transform m: forms the projected point (object
    // space, the instance's reference point or the shading point) and maps it.
    template <bool Jacobian, typename Finish>
    int evaluateThrough(const ShadingContext& sc, const UVWTransform& m, Finish& finish);
    // Maps the projected point p (the camera maps the context instead) and finishes.
    template <bool Jacobian, typename Finish>
    int mapPoint(const ShadingContext& sc, const UVWTransform& m, const Vector4f& p,
                 Finish& finish);
    void sampleUVWTransform(KivoRenderer* renderer);

    // Bound parameters.
    UVWTransform texTransform;
    TextureTransformInterface* uvwTransformTex = nullptr;
    int type = PROJ_PLANAR;
    float uAngle = kPi;
    float vAngle = kHalfPi;
    int nsamples = 0;
    PluginBase* cameraSettings = nullptr;
    PluginBase* cameraView = nullptr;
    int fitFill = 0;
    int fitType = 0;
    float filmGateW = 1.0f;
    float filmGateH = 1.0f;
    PluginBase* bitmap = nullptr;
    int hideBackface = 0;
    int hideOccluded = 0;
    int objectSpace = 0;
    int includeOverscan = 0;

    // Frame state.
    UVWTransform uvwTransform;
    // The samples taken this frame over the blur interval; none with one sample.
    int numSamples = 0;
    std::unique_ptr<UVWTransform[]> transformSamples;
    // The frame's scene origin in floats, added to world points relative to it.
    Vector4f sceneOrigin;
    ProjectionCamera camera;
    ProjectionBlockRegistration gpuBlock;
};

class UVWGenProjectionDesc : public PluginDescOf<UVWGenProjection> {
public:
    UVWGenProjectionDesc();
};

} // namespace KUtils
