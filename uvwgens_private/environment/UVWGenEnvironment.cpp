#include "environment/UVWGenEnvironment.h"

#include "frame/FiniteResult.h"
#include "frame/GpuText.h"
#include "frame/MotionSamples.h"
#include "frame/ScreenSpace.h"
#include "kivo/ShadingContext.h"
#include "kivo/VectorMath.h"

#include <cstring>

namespace KUtils {

namespace {

constexpr const char* kWrapDescription = "0 - no wrapping, 1 - wrap, 2 - mirror tile";
constexpr const char* kWrapHints = "enum=(0:No wrapping; 1:Wrap; 2:Mirror tile), gpuSupport=(full)";
constexpr const char* kCropHints = "enum=(0:No; 1:Yes), gpuSupport=(full)";
constexpr const char* kFullGpu = "gpuSupport=(full)";

constexpr Matrix3x3f kZeroMatrix{{}, {}, {}};

} // namespace

UVWGenEnvironment::UVWGenEnvironment(KivoPluginDesc* desc) : GpuUVWGen(desc) {
    KivoParameterList* params = getParamList();
    if (!params) {
        return;
    }
    params->setParamCache("uvw_matrix", &uvwMatrix);
    params->setParamCache("mapping_type", &mappingName);
    params->setParamCache("uvw_transform", &tail.transform);
    params->setParamCache("wrap_u", &wrapMode[0]);
    params->setParamCache("wrap_v", &wrapMode[1]);
    params->setParamCache("wrap_w", &wrapMode[2]);
    params->setParamCache("crop_u", &cropFlag[0]);
    params->setParamCache("crop_v", &cropFlag[1]);
    params->setParamCache("crop_w", &cropFlag[2]);
    params->setParamCache("duvw_scale", &duvwScale);
    params->setParamCache("ground_on", &groundOn);
    params->setParamCache("ground_position", &groundPosition);
    params->setParamCache("ground_radius", &groundRadius);
}

void UVWGenEnvironment::frameBegin(KivoRenderer* renderer) {
    GpuUVWGen::frameBegin(renderer);
    KivoSequenceData* sequence = renderer ? renderer->sequenceData : nullptr;
    const KivoFrameData* frame = renderer ? renderer->frameData : nullptr;

    const int n = sequence && frame ? motionSampleCount(*sequence, 0) : 1;
    if (n > 1) {
        sampleMatrices(n, *frame);
    }
    numMatrixSamples = n;

    mappingIndex = findEnvMappingType(mappingName.ptr());
    if (mappingIndex == ENV_MAPPING_UNKNOWN && sequence && sequence->messageLog) {
        const char* name = mappingName.ptr();
        sequence->messageLog->logMessage("[UVWGenEnvironment] Unknown mapping type \"%s\"\n",
                                         name ? name : "");
    }

    upAxis = upAxisFrom(
        sequence ? static_cast<const UpDirectionRecord*>(sequence->getInterface(EXT_UP_DIRECTION))
                 : nullptr);

    groundCentre = groundPosition;
    imageWidth = imageHeight = 0;
    if (frame) {
        groundCentre.x -= float(frame->sceneOrigin.x);
        groundCentre.y -= float(frame->sceneOrigin.y);
        groundCentre.z -= float(frame->sceneOrigin.z);
        imageWidth = frame->imageWidth;
        imageHeight = frame->imageHeight;
    }
    screenStepX = {1.0f / float(imageWidth), 0.0f, 0.0f, 0.0f};
    screenStepY = {0.0f, 1.0f / float(imageHeight), 0.0f, 0.0f};
}

void UVWGenEnvironment::sampleMatrices(int n, const KivoFrameData& frame) {
    matrixSamples.resize(n);
    KivoParameterList* params = getParamList();
    const KivoParameter* p = params ? params->getParam("uvw_matrix") : nullptr;
    for (int i = 0; i < n; ++i) {
        matrixSamples[i] = p ? p->getMatrix(0, motionSampleTime(frame, i, n)) : kZeroMatrix;
    }
}

GroundPlane UVWGenEnvironment::groundPlane() const {
    return {groundCentre, upAxis, groundRadius};
}

DirectionPipeline UVWGenEnvironment::pipelineFor(const ShadingContext& sc,
                                                 const GroundPlane& ground) const {
    const bool projectGround = groundOn != 0 && (sc.flags & SC_FLAG_NO_GROUND_PROJECTION) == 0;
    const Matrix3x3f rotation = numMatrixSamples < 2
                                    ? uvwMatrix
                                    : sampleMotion(matrixSamples.data(), numMatrixSamples, sc.time,
                                                   MotionEdges::ExtendBothEnds);
    return {rotation, projectGround ? &ground : nullptr, sc.rayOrigin, mappingIndex};
}

Vector4f UVWGenEnvironment::screenUVWOf(const ShadingContext& sc) const {
    return screenUVW(sc.imageX, sc.imageY, imageWidth, imageHeight);
}

int UVWGenEnvironment::evalUVW(const ShadingContext& sc, Vector4f& uvw) {
    if (mappingIndex == ENV_MAPPING_SCREEN) {
        uvw = screenUVWOf(sc);
    } else {
        const GroundPlane ground = groundPlane();
        uvw = mapThroughPipeline(pipelineFor(sc, ground), sc.rayDir);
    }
    return finiteResult(finishUVW(tail, uvw), uvw);
}

int UVWGenEnvironment::evalUVWDerivs(const ShadingContext& sc, Vector4f out[3]) {
    Vector4f centre, dx, dy;
    if (mappingIndex == ENV_MAPPING_SCREEN) {
        centre = screenUVWOf(sc);
        dx = screenStepX;
        dy = screenStepY;
    } else {
        const GroundPlane ground = groundPlane();
        const DirectionPipeline pipeline = pipelineFor(sc, ground);
        Vector4f mapped[5];
        mapDifferentials(pipeline, sc.rayDir, sc.dDdx, sc.dDdy, mapped);
        centre = mapped[0];
        const Vector4f& mx = mapped[1];
        Vector4f& px = mapped[2];
        const Vector4f& my = mapped[3];
        Vector4f& py = mapped[4];
        if (hasUSeam(mappingIndex)) {
            px.x = seamCorrected(mx.x, px.x);
            py.x = seamCorrected(my.x, py.x);
        }
        // The full difference over both sides, not halved.
        dx = px - mx;
        dy = py - my;
    }
    const int valid = finishUVW(tail, centre);
    return storeIfFinite(valid, centre, applyLinear(tail.transform, dx) * duvwScale,
                         applyLinear(tail.transform, dy) * duvwScale, out);
}

int UVWGenEnvironment::evalUVWTransform(const ShadingContext& sc, UVWTransform& tm) {
    if (mappingIndex != ENV_MAPPING_SCREEN) {
        tm = UVWTransform{};
        return 1;
    }
    const ScreenFrame screen{sc.dPdx, sc.dPdy, sc.screenFrameAxis, imageWidth, imageHeight};
    tm = screenTransform(tail.transform, screen, screenUVWOf(sc), duvwScale);
    return finiteResult(1, tm);
}

int UVWGenEnvironment::emitRTSource(const char* outputName, const char*, const char* kind,
                                    ShaderSource& source, GPUDataRecord& gpuData) {
    if (!isMaterialDescriptor(kind)) {
        return 0;
    }
    if (!outputName || std::strcmp(outputName, "parameters") != 0) {
        gpuData.objectSpaceFlag = 0;
        source.printf("wrap %d,%d,%d\n", wrapMode[0], wrapMode[1], wrapMode[2]);
        source.printf("crop %d,%d,%d\n", cropFlag[0], cropFlag[1], cropFlag[2]);
        return 1;
    }
    source.printf("env_mapping %i\n", mappingIndex);
    const Matrix3x3f& m = uvwMatrix;
    source.printf("env_tex_transform %f,%f,%f,%f,%f,%f,%f,%f,%f\n", gpuValue(m.c0.x),
                  gpuValue(m.c0.y), gpuValue(m.c0.z), gpuValue(m.c1.x), gpuValue(m.c1.y),
                  gpuValue(m.c1.z), gpuValue(m.c2.x), gpuValue(m.c2.y), gpuValue(m.c2.z));
    writeTransformLine(source, "env_tex_uvw_transform ", tail.transform);
    // Zero and NaN count as flipped.
    const double hFlip = tail.transform.c0.x > 0.0f ? 1.0 : -1.0;
    const double vFlip = tail.transform.c1.y > 0.0f ? 1.0 : -1.0;
    source.printf("env_hvflips %f,%f\n", hFlip, vFlip);
    source.printf("ground_on %d\n", groundOn);
    if (groundOn) {
        // The centre as evaluations use it, relative to the scene origin.
        source.printf("ground_position %f %f %f\n", gpuValue(groundCentre.x),
                      gpuValue(groundCentre.y), gpuValue(groundCentre.z));
        source.printf("ground_radius %f\n", gpuValue(groundRadius));
    }
    return 1;
}

UVWGenEnvironmentDesc::UVWGenEnvironmentDesc()
    : PluginDescOf("UVWGenEnvironment", 2004121202,
                   "UVW generator to be used for environment maps of cubic, spherical and other "
                   "types [gpuSupport=(partial)]",
                   UVWGEN_DESC_INTERFACES) {
    KivoParameterListDesc& p = paramDescs();
    p.addParamMatrix("uvw_matrix", Matrix3x3f{}, -1,
                     "Transformation of the input directions. This effectively rotates the "
                     "environment.",
                     kFullGpu);
    p.addParamTransform("uvw_transform", 0, Transform{}, -1,
                        "Transformation of the resulting UVW coordinates", kFullGpu);
    p.addParamString("mapping_type", "spherical", -1,
                     "One of \"angular\", \"cubic\", \"spherical\", \"mirror_ball\", \"screen\", "
                     "\"max_spherical\", \"spherical_kivo\", \"max_cylindrical\" or "
                     "\"max_shrink_wrap\"",
                     "string_enum=(angular;cubic;spherical;mirror_ball;screen;max_spherical;"
                     "spherical_kivo;max_cylindrical;max_shrink_wrap), gpuSupport=(partial)");
    p.addParamInt("wrap_u", 0, -1, kWrapDescription, kWrapHints);
    p.addParamInt("wrap_v", 0, -1, kWrapDescription, kWrapHints);
    p.addParamInt("wrap_w", 0, -1, kWrapDescription, kWrapHints);
    p.addParamInt("crop_u", 0, -1, "1 to crop in the u-direction", kCropHints);
    p.addParamInt("crop_v", 0, -1, "1 to crop in the v-direction", kCropHints);
    p.addParamInt("crop_w", 0, -1, "1 to crop in the w-direction", kCropHints);
    p.addParamFloat("duvw_scale", 1.0f, -1, "Additional scale factor for the texture derivatives",
                    "gpuSupport=(none)");
    p.addParamInt("ground_on", 0, -1,
                  "When on, project the environment from the \"bottom\" hemisphere to the ground "
                  "plane",
                  kFullGpu);
    p.addParamVector("ground_position", Vector4f{}, -1,
                     "Ground projection center position when ground_on=1", kFullGpu);
    p.addParamFloat("ground_radius", 1000.0f, -1,
                    "Radius of the projection plane around ground_position for which to project",
                    kFullGpu);
    publishParams();
}

} // namespace KUtils
