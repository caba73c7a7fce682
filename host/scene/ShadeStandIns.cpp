#include "scene/ShadeStandIns.h"

namespace kivohost {

using namespace KUtils;

const ShadeQueryInterface* MeshShadeData::getInterface(InterfaceID id) const {
    if (id == EXT_CHANNEL_PROVIDER && provider) {
        return static_cast<const ChannelProviderInterface*>(this);
    }
    if (id == EXT_SHADE_ID && ids) {
        return static_cast<const ShadeIdInterface*>(this);
    }
    return nullptr;
}

const MapChannel& MeshShadeData::channel(int index) const {
    static const MapChannel unlisted;
    // A negative index asks for the first channel there is.
    const auto it = index < 0 ? channels.begin() : channels.find(index);
    return it == channels.end() ? unlisted : it->second;
}

void MeshShadeData::getMapChannelBasis(const ShadingContext&, int index, Vector4f b[3]) const {
    const MapChannel& ch = channel(index);
    b[0] = ch.basis[0];
    b[1] = ch.basis[1];
    b[2] = ch.basis[2];
}

void MeshShadeData::getMapChannelUVW(Vector4f& uvw, const ShadingContext&, int index) const {
    uvw = channel(index).uvw;
}

void MeshShadeData::getChannelUVW(const ShadingContext&, int index, Vector4f& uvw) const {
    uvw = channel(index).uvw;
}

void MeshShadeData::getChannelTransform(const ShadingContext&, int index, UVWTransform& tm,
                                        int) const {
    const MapChannel& ch = channel(index);
    tm = inverseColumns(ch.basis, DetExpansion::FirstRow);
    tm.o = ch.uvw;
}

int MeshShadeData::isAvailable(const ShadingContext&) const {
    return ids ? ids->available : 0;
}
std::uint32_t MeshShadeData::getMaterialValue(const ShadingContext&) const {
    return ids ? ids->material : 0;
}
std::uint32_t MeshShadeData::getObjectValue(const ShadingContext&) const {
    return ids ? ids->object : 0;
}

const ShadeQueryInterface* ShadedInstance::getInterface(InterfaceID id) const {
    if (id == EXT_OBJECT_SPACE && objectSpace) {
        return static_cast<const ObjectSpaceInterface*>(this);
    }
    if (id == EXT_REFERENCE_POINT && referencePoint) {
        return static_cast<const ReferencePointInterface*>(this);
    }
    if (id == EXT_SCENE_POINT && scenePoint) {
        return static_cast<const ScenePointInterface*>(this);
    }
    return nullptr;
}

void ShadedInstance::toObjectVector(Vector4f& result, const ShadingContext&,
                                    const Vector4f& v) const {
    result = applyLinear(*objectSpace, v);
}

void ShadedInstance::toObjectPoint(Vector4f& result, const ShadingContext&,
                                   const Vector4f& p) const {
    result = applyPoint(*objectSpace, p);
}

void ShadedInstance::getReferencePoint(Vector4f& result, const ShadingContext&) const {
    result = *referencePoint;
}

void ShadedInstance::getScenePoint(Vector4f& result, const ShadingContext&, int) const {
    result = *scenePoint;
}

} // namespace kivohost
