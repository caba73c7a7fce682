#include "ostrel/UVWGenOstrel.h"

#include "frame/FiniteResult.h"
#include "frame/GpuText.h"
#include "kivo/VectorMath.h"

namespace KUtils {

namespace {

inline constexpr InterfaceID UVWGEN_OSTREL_ID = 2011100300;

// Degrees to radians as the renderer converts user angles: in double, by this factor.
float toRadians(float degrees) {
    return static_cast<float>(static_cast<double>(degrees) * 0.0174532925);
}

Vector4f toRadians(const Vector4f& degrees) {
    return {toRadians(degrees.x), toRadians(degrees.y), toRadians(degrees.z), 0.0f};
}

} // namespace

UVWGenOstrel::UVWGenOstrel(KivoPluginDesc* desc) : GpuUVWGen(desc) {
    KivoParameterList* params = getParamList();
    if (!params) {
        return;
    }
    params->setParamCache("offset_x", &paramBase.offset.x);
    params->setParamCache("offset_y", &paramBase.offset.y);
    params->setParamCache("offset_z", &paramBase.offset.z);
    params->setParamCache("size_x", &paramBase.sizes.x);
    params->setParamCache("size_y", &paramBase.sizes.y);
    params->setParamCache("size_z", &paramBase.sizes.z);
    params->setParamCache("angle_x", &paramBase.angles.x);
    params->setParamCache("angle_y", &paramBase.angles.y);
    params->setParamCache("angle_z", &paramBase.angles.z);
    params->setParamCache("tile_x", &mapping.tile[0]);
    params->setParamCache("tile_y", &mapping.tile[1]);
    params->setParamCache("tile_z", &mapping.tile[2]);
    params->setParamCache("offset_x2", &paramAmplitude.offset.x);
    params->setParamCache("offset_y2", &paramAmplitude.offset.y);
    params->setParamCache("offset_z2", &paramAmplitude.offset.z);
    params->setParamCache("size_x2", &paramAmplitude.sizes.x);
    params->setParamCache("size_y2", &paramAmplitude.sizes.y);
    params->setParamCache("size_z2", &paramAmplitude.sizes.z);
    params->setParamCache("angle_x2", &paramAmplitude.angles.x);
    params->setParamCache("angle_y2", &paramAmplitude.angles.y);
    params->setParamCache("angle_z2", &paramAmplitude.angles.z);
    params->setParamCache("xyz_lock", &xyzLock);
    params->setParamCache("seed", &seed);
    params->setParamCache("rand_mat", &randMat);
    params->setParamCache("rand_obj", &randObj);
    params->setParamCache("rand_par", &randPar);
    params->setParamCache("map", &mapping.map);
    params->setParamCache("channel", &mapping.channel);
    params->setParamCache("filtering", &mapping.filtering);
}

PluginInterface* UVWGenOstrel::getInterface(InterfaceID id) {
    if (id == EXT_UVWGEN_OSTREL) {
        return static_cast<UVWGenOstrelInterface*>(this);
    }
    // The base answers EXT_RTTEX, EXT_UVWGEN and EXT_KIVO_PLUGIN, then the interface list.
    return GpuUVWGen::getInterface(id);
}

void UVWGenOstrel::frameBegin(KivoRenderer* renderer) {
    KivoPluginInterface::frameBegin(renderer);
    // The cached angles stay in degrees, so a frame whose parameters were not refreshed
    // converts them only once.
    base = paramBase;
    base.angles = toRadians(paramBase.angles);
    amplitude = paramAmplitude;
    amplitude.angles = toRadians(paramAmplitude.angles);

    placementTm = fixedPlacement(base);
    unitAxes[0] = unitOrZero(placementTm.c0);
    unitAxes[1] = unitOrZero(placementTm.c1);
    unitAxes[2] = unitOrZero(placementTm.c2);
    randomized = hasVariation(amplitude);

    const KivoFrameData* frame = renderer ? renderer->frameData : nullptr;
    screen = frame ? OstrelScreen{frame->imageWidth, frame->imageHeight} : OstrelScreen{};
}

template <typename Step>
int UVWGenOstrel::withPlacement(const ShadingContext& sc, const Step& step) const {
    if (!randomized) {
        return step(placementTm);
    }
    return withRandomPlacement(sc, step);
}

template <typename Step>
int UVWGenOstrel::withRandomPlacement(const ShadingContext& sc, const Step& step) const {
    return step(
        randomPlacement(base, amplitude, xyzLock != 0, variationSeed(sc, randMat, randObj, seed)));
}

int UVWGenOstrel::evalUVW(const ShadingContext& sc, Vector4f& uvw) {
    uvw = Vector4f{};
    return withPlacement(
        sc, [&](const UVWTransform& t) { return coordinateStep(sc, t, mapping, screen, uvw); });
}

int UVWGenOstrel::evalUVWDerivs(const ShadingContext& sc, Vector4f out[3]) {
    return withPlacement(sc, [&, out](const UVWTransform& t) {
        return derivativeStep(sc, t, mapping, screen, out);
    });
}

int UVWGenOstrel::evalUVWTransform(const ShadingContext& sc, UVWTransform& tm) {
    Vector4f local[3];
    const int valid = withPlacement(
        sc, [&](const UVWTransform& t) { return derivativeStep(sc, t, mapping, screen, local); });
    // The step tested its outputs; the normal can overflow where its factors do not.
    const Vector4f normal = cross3(local[1], local[2]);
    if (nonFiniteMark(normal) != 0) {
        tm = UVWTransform{Vector4f{}, Vector4f{}, Vector4f{}, Vector4f{}};
        return 0;
    }
    tm = {local[1], local[2], normal, local[0]};
    return valid;
}

int UVWGenOstrel::evalUVWBasis(const ShadingContext& sc, Vector4f& uvw, Vector4f basis[3]) {
    uvw = Vector4f{};
    return withPlacement(sc, [&](const UVWTransform& t) {
        if (!coordinateStep(sc, t, mapping, screen, uvw)) {
            return 0;
        }
        if (randomized) {
            basis[0] = unitOrZero(t.c0);
            basis[1] = unitOrZero(t.c1);
            basis[2] = unitOrZero(t.c2);
        } else {
            basis[0] = unitAxes[0];
            basis[1] = unitAxes[1];
            basis[2] = unitAxes[2];
        }
        return 1;
    });
}

int UVWGenOstrel::emitRTSource(const char*, const char*, const char* kind, ShaderSource& source,
                               GPUDataRecord& gpuData) {
    if (!isMaterialDescriptor(kind) || !getParamList()) {
        return 0;
    }
    switch (mapping.map) {
    case OSTREL_OBJECT:
        source.printf("map_channel %i\n", GPU_MAP_CHANNEL_OBJECT);
        gpuData.objectSpaceFlag = 1;
        break;
    case OSTREL_WORLD:
        source.printf("map_channel %i\n", GPU_MAP_CHANNEL_WORLD);
        break;
    default: {
        // The GPU code offers no channel or screen source here: the user is told, and the
        // placement is still written.
        const KivoSequenceData* sequence =
            gpuData.renderer ? gpuData.renderer->sequenceData : nullptr;
        if (sequence && sequence->messageLog) {
            const char* pluginName = getPluginName();
            sequence->messageLog->logMessage(
                "Using unsupported \"UVW Mapping Type\" for Ostrel noise (in %s) ",
                pluginName ? pluginName : "(null)");
        }
        break;
    }
    }
    // Random variation is a CPU feature; the GPU always gets the fixed placement.
    writeTransformLine(source, "uvw_transform ", placementTm);
    return 1;
}

UVWGenOstrelDesc::UVWGenOstrelDesc()
    : PluginDescOf<UVWGenOstrel>("UVWGenOstrel", UVWGEN_OSTREL_ID,
                                 "Ostrel textures UVW generator [gpuSupport=(none)]",
                                 UVWGEN_DESC_INTERFACES) {
    KivoParameterListDesc& p = paramDescs();
    p.addParamFloat("offset_x", 0.0f, -1, "the X offset", nullptr);
    p.addParamFloat("offset_y", 0.0f, -1, "the Y offset", nullptr);
    p.addParamFloat("offset_z", 0.0f, -1, "the Z offset", nullptr);
    p.addParamFloat("size_x", 1.0f, -1, "X size", nullptr);
    p.addParamFloat("size_y", 1.0f, -1, "Y size", nullptr);
    p.addParamFloat("size_z", 1.0f, -1, "Z size", nullptr);
    p.addParamFloat("angle_x", 0.0f, -1, "X angle", nullptr);
    p.addParamFloat("angle_y", 0.0f, -1, "Y angle", nullptr);
    p.addParamFloat("angle_z", 0.0f, -1, "Z angle", nullptr);
    p.addParamInt("tile_x", 1, -1, "X tiles", nullptr);
    p.addParamInt("tile_y", 1, -1, "Y tiles", nullptr);
    p.addParamInt("tile_z", 1, -1, "Z tiles", nullptr);
    p.addParamFloat("offset_x2", 0.0f, -1, "second X offset", nullptr);
    p.addParamFloat("offset_y2", 0.0f, -1, "second Y offset", nullptr);
    p.addParamFloat("offset_z2", 0.0f, -1, "second Z offset", nullptr);
    p.addParamFloat("size_x2", 0.0f, -1, "second X size", nullptr);
    p.addParamFloat("size_y2", 0.0f, -1, "second Y size", nullptr);
    p.addParamFloat("size_z2", 0.0f, -1, "second Z size", nullptr);
    p.addParamFloat("angle_x2", 0.0f, -1, "second X angle", nullptr);
    p.addParamFloat("angle_y2", 0.0f, -1, "second Y angle", nullptr);
    p.addParamFloat("angle_z2", 0.0f, -1, "second Z angle", nullptr);
    p.addParamInt("xyz_lock", 0, -1, "XYZ Lock", nullptr);
    p.addParamInt("seed", 1, -1, "Seed", nullptr);
    p.addParamInt("rand_mat", 0, -1, "Random by material", nullptr);
    p.addParamInt("rand_obj", 0, -1, "Random by object", nullptr);
    p.addParamInt("rand_par", 0, -1, "Random by particle", nullptr);
    p.addParamInt("map", 0, -1, "Mapping type", nullptr);
    p.addParamInt("channel", 0, -1, "Mapping channel", nullptr);
    p.addParamFloat("filtering", 1.0f, -1, "filtering", nullptr);
    publishParams();
}

} // namespace KUtils
