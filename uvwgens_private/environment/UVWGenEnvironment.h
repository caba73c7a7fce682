// UVW generator for environment maps: turns the direction of a ray leaving the scene (or the
// screen position) into the UVW at which an environment texture is looked up, optionally
// projecting the lower hemisphere onto a ground disc.
#pragma once

#include "environment/EnvMapping.h"
#include "frame/GpuUVWGen.h"
#include "frame/GrowableArray.h"
#include "kivo/HostSdk.h"
#include "kivo/PluginDescriptor.h"

namespace KUtils {

class UVWGenEnvironment : public GpuUVWGen {
public:
    explicit UVWGenEnvironment(KivoPluginDesc* desc);

    // Samples uvw_matrix over the blur interval, resolves the mapping type, finds the up axis,
    // moves the ground centre to scene-origin-relative coordinates and keeps the image size.
    void frameBegin(KivoRenderer* renderer) override;

    int evalUVW(const ShadingContext& sc, Vector4f& uvw) override;
    int evalUVWDerivs(const ShadingContext& sc, Vector4f out[3]) override;
    int evalUVWTransform(const ShadingContext& sc, UVWTransform& tm) override;

    int emitRTSource(const char* outputName, const char* name, const char* kind,
                     ShaderSource& source, GPUDataRecord& gpuData) override;

private:
    DirectionPipeline pipelineFor(const ShadingContext& sc, const GroundPlane& ground) const;
    GroundPlane groundPlane() const;
    Vector4f screenUVWOf(const ShadingContext& sc) const;
    void sampleMatrices(int n, const KivoFrameData& frame);

    Matrix3x3f uvwMatrix;
    CharString mappingName;
    int mappingIndex = ENV_MAPPING_UNKNOWN;
    int wrapMode[3] = {0, 0, 0};
    int cropFlag[3] = {0, 0, 0};
    // uvw_transform is cached straight into the tail, which evaluations then use in place:
    // assembling a tail per call copies 64 bytes, as much as the screen mapping costs.
    UVWTail tail{{}, wrapMode, cropFlag};
    float duvwScale = 1.0f;
    int groundOn = 0;
    // Absolute, as the user placed it.
    Vector4f groundPosition;
    float groundRadius = 1000.0f;

    // Frame state, derived from the above and the frame data at frameBegin.
    int numMatrixSamples = 0;
    GrowableArray<Matrix3x3f> matrixSamples;
    Vector4f upAxis{0.0f, 0.0f, 1.0f, 0.0f};
    // groundPosition relative to the scene origin, as evaluations see points.
    Vector4f groundCentre;
    // The image size in pixels (0 without frame data).
    int imageWidth = 0;
    int imageHeight = 0;
    // The screen mapping's change of u and v per pixel, 1 / size (infinite for an empty image,
    // which the evaluation then refuses as not finite).
    Vector4f screenStepX, screenStepY;
};

class UVWGenEnvironmentDesc : public PluginDescOf<UVWGenEnvironment> {
public:
    UVWGenEnvironmentDesc();
};

} // namespace KUtils
