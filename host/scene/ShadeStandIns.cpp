#include "scene/ShadeStandIns.h"

namespace kivohost {

using namespace KUtils;

namespace {

// Inverse of the 3x3 matrix with columns b0, b1, b2 in double precision; zero when singular.
UVWTransform inverseColumns(const Vector4f b[3]) {
    const double a[3][3] = {
        {b[0].x, b[1].x, b[2].x}, {b[0].y, b[1].y, b[2].y}, {b[0].z, b[1].z, b[2].z}};
    const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                       a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                       a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    UVWTransform tm;
    if (det == 0.0) {
        tm.c0 = tm.c1 = tm.c2 = Vector4f{};
        return tm;
    }
    double inv[3][3];
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
            inv[r][c] = (a[r1][c1] * a[r2][c2] - a[r1][c2] * a[r2][c1]) / det;
        }
    }
    auto column = [&](int c) {
        return padded(float(inv[0][c]), float(inv[1][c]), float(inv[2][c]));
    };
    tm.c0 = column(0);
    tm.c1 = column(1);
    tm.c2 = column(2);
    return tm;
}

} // namespace

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
    const auto it = channels.find(index);
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
    tm = inverseColumns(ch.basis);
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
