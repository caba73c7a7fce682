#include "channel/UVWGenPlanarWorld.h"

#include "frame/GpuText.h"

#include <cstring>

namespace KUtils {

PluginInterface* UVWGenPlanarWorld::getInterface(InterfaceID id) {
    if (id == EXT_RTTEX) {
        return static_cast<RTTexInterface*>(this);
    }
    return UVWGenBase::getInterface(id);
}

int UVWGenPlanarWorld::evalLocalTransform(const ShadingContext& sc, UVWTransform& tm) {
    tm = UVWTransform{};
    const KivoShadeInstance* instance = sc.shadeInstance;
    if (instance) {
        // The reference point already is an absolute world point.
        if (const ShadeQueryInterface* q = instance->getInterface(EXT_REFERENCE_POINT)) {
            static_cast<const ReferencePointInterface*>(q)->getReferencePoint(tm.o, sc);
            return 1;
        }
    }
    const ShadeQueryInterface* scene = instance ? instance->getInterface(EXT_SCENE_POINT) : nullptr;
    if (scene) {
        static_cast<const ScenePointInterface*>(scene)->getScenePoint(
            tm.o, sc, ScenePointInterface::SHADED_POSITION);
    } else {
        tm.o = sc.shadingPoint;
    }
    // Scene points are relative to the scene origin.
    if (sceneOrigin) {
        tm.o.x += sceneOrigin->x;
        tm.o.y += sceneOrigin->y;
        tm.o.z += sceneOrigin->z;
    }
    return 1;
}

void UVWGenPlanarWorld::frameBegin(KivoRenderer* renderer) {
    UVWGenBase::frameBegin(renderer);
    sceneOrigin.reset();
    if (renderer && renderer->frameData) {
        const Vector3d& origin = renderer->frameData->sceneOrigin;
        sceneOrigin = Vector4f{static_cast<float>(origin.x), static_cast<float>(origin.y),
                               static_cast<float>(origin.z), 0.0f};
    }
}

int UVWGenPlanarWorld::emitRTSource(const char* outputName, const char*, const char* kind,
                                    ShaderSource& source, GPUDataRecord& gpuData) {
    if (!isMaterialDescriptor(kind)) {
        return 0;
    }
    writeTransformLine(source, "uvw_transform ", uvwTransform());
    gpuData.objectSpaceFlag = 0;
    writeWrapCropLines(source);
    if (!outputName || std::strcmp(outputName, "uvw_baked") != 0) {
        source.printf("map_channel %i\n", GPU_MAP_CHANNEL_WORLD);
    }
    return 1;
}

UVWGenPlanarWorldDesc::UVWGenPlanarWorldDesc()
    : PluginDescOf("UVWGenPlanarWorld", 2004110501,
                   "UVW generator that uses the world space coordinates of the shaded point as UVW "
                   "values [gpuSupport=(partial)]",
                   UVWGEN_DESC_INTERFACES) {
    registerUVWGenBaseParams(paramDescs(), 0);
    publishParams();
}

} // namespace KUtils
