// UVW generator that projects the shaded point onto a plane, sphere, cylinder, ball, cube,
// three planes, two box layouts or a camera's image, and returns the UVW with its local
// derivative. The host hands it camera data through RenderSettingsInterface.
#pragma once

#include "frame/GpuUVWGen.h"
#include "kivo/FloatMath.h"
#include "kivo/HostSdk.h"
#include "kivo/PluginDescriptor.h"
#include "kivo/ShadingContext.h"
#include "projection/ImageProjection.h"
#include "projection/ProjectionMapping.h"
#include "projection/ProjectionParamBlock.h"

#include <atomic>
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
    // no 64-byte transform is copied out per call.
    template <typename Finish>
    int evaluate(const ShadingContext& sc, Finish&& finish);
    // The working transform at the context: the frame's uvw_transform itself (no copy per
    // call), or scratch filled from the connected transform texture or the motion samples.
    const UVWTransform& workingTransform(const ShadingContext& sc, UVWTransform& scratch) const;
    // The perspective mapping before the working and texture transforms; 0 when hidden.
    int mapPerspective(const ShadingContext& sc, UVWTransform& local);
    // Screen position and differences through the camera; 0 when the point is hidden.
    int cameraScreen(const ShadingContext& sc, const KivoSequenceData& source, Vector2f& s,
                     Vector2f& dx, Vector2f& dy) const;
    // Once per frame, under the library-wide lock: image data from the renderer's frame.
    void refreshImage(const KivoFrameData& frame);
    ImagePlacement placement() const;

    void setUpCamera(KivoRenderer* renderer, const KivoFrameData& frame);
    void readBitmapAspect(const KivoFrameData& frame);
    void sampleUVWTransform(KivoRenderer* renderer);
    void releaseCamera();
    ProjectionBlockValues blockValues() const;

    // GPU parameter block registration, held until finishFrame.
    ParamBlockRegistry* gpuRegistry = nullptr;
    int gpuBlockId = -1;
    int gpuRegistered = 0;

    Transform3x4f uvwTransform;
    Transform3x4f texTransform;
    TextureTransformInterface* uvwTransformTex = nullptr;
    int type = PROJ_PLANAR;
    float uAngle = kPi;
    float vAngle = kHalfPi;
    int nsamples = 0;
    // nsamples transforms over the blur interval; null with one sample.
    std::unique_ptr<Transform3x4f[]> transformSamples;

    PluginBase* cameraSettings = nullptr;
    PluginBase* cameraView = nullptr;
    // The camera sampler created at frame begin, released at finishFrame.
    KivoCamera* ownedCamera = nullptr;
    int fitFill = 0;
    int fitType = 0;
    float filmGateW = 1.0f;
    float filmGateH = 1.0f;
    float invWidth = 0.0f;
    float invHeight = 0.0f;
    PluginBase* bitmap = nullptr;
    BitmapSizeInterface* bitmapSize = nullptr;
    BitmapFrameSizeInterface* bitmapFrameSize = nullptr;
    float bitmapOverCamera = 0.0f;
    float cameraOverBitmap = 0.0f;
    // Camera data the camera plugins write: this projection's own view of the scene.
    KivoSequenceData viewSequence;
    KivoFrameData viewFrame;
    ProjectionImage image;
    int hideBackface = 0;
    int hideOccluded = 0;
    int objectSpace = 0;
    int includeOverscan = 0;
    // Set at frame begin for perspective; the first evaluation of the frame refreshes the
    // image data and clears it (tested before and after taking the lock).
    std::atomic<bool> perspectiveDirty{false};
};

class UVWGenProjectionDesc : public PluginDescOf<UVWGenProjection> {
public:
    UVWGenProjectionDesc();
};

} // namespace KUtils
