// Host-side shade data and shaded instances with configurable answers, as a renderer's mesh
// and instance would give them. Used by the reference host and the tests.
#pragma once

#include "kivo/ShadingContext.h"
#include "kivo/VectorMath.h"

#include <map>
#include <optional>

namespace kivohost {

// One mapping channel: its UVW at the surface point and its basis (how the surface point
// moves per unit of u, v and w).
struct MapChannel {
    KUtils::Vector4f uvw;
    KUtils::Vector4f basis[3] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};
};

// Per-surface values for random variation.
struct ShadeIds {
    std::uint32_t material = 0;
    std::uint32_t object = 0;
    int available = 1;
};

// Mesh shade data. With a channel provider it answers EXT_CHANNEL_PROVIDER (transform columns
// = inverse of the basis, offset = uvw); it always behaves as the host ShadeData. An unlisted
// channel has uvw (0,0,0) and the identity basis; a negative channel is the lowest listed one. With
// ids set it answers EXT_SHADE_ID.
class MeshShadeData final : public KUtils::ShadeData,
                            public KUtils::ChannelProviderInterface,
                            public KUtils::ShadeIdInterface {
public:
    const KUtils::ShadeQueryInterface* getInterface(KUtils::InterfaceID id) const override;

    void getMapChannelBasis(const KUtils::ShadingContext& sc, int channel,
                            KUtils::Vector4f b[3]) const override;
    void getMapChannelUVW(KUtils::Vector4f& uvw, const KUtils::ShadingContext& sc,
                          int channel) const override;

    void getChannelUVW(const KUtils::ShadingContext& sc, int channel,
                       KUtils::Vector4f& uvw) const override;
    void getChannelTransform(const KUtils::ShadingContext& sc, int channel,
                             KUtils::UVWTransform& tm, int providerArgument) const override;

    int isAvailable(const KUtils::ShadingContext& sc) const override;
    std::uint32_t getMaterialValue(const KUtils::ShadingContext& sc) const override;
    std::uint32_t getObjectValue(const KUtils::ShadingContext& sc) const override;

    const MapChannel& channel(int index) const;

    bool provider = true;
    std::map<int, MapChannel> channels;
    std::optional<ShadeIds> ids;
};

// A shaded instance; each interface is answered only when its value is given.
class ShadedInstance final : public KUtils::KivoShadeInstance,
                             public KUtils::ObjectSpaceInterface,
                             public KUtils::ReferencePointInterface,
                             public KUtils::ScenePointInterface {
public:
    const KUtils::ShadeQueryInterface* getInterface(KUtils::InterfaceID id) const override;

    // toObjectPoint = M*p + o, toObjectVector = M*v.
    void toObjectVector(KUtils::Vector4f& result, const KUtils::ShadingContext& sc,
                        const KUtils::Vector4f& v) const override;
    void toObjectPoint(KUtils::Vector4f& result, const KUtils::ShadingContext& sc,
                       const KUtils::Vector4f& p) const override;
    void getReferencePoint(KUtils::Vector4f& result,
                           const KUtils::ShadingContext& sc) const override;
    void getScenePoint(KUtils::Vector4f& result, const KUtils::ShadingContext& sc,
                       int kind) const override;

    std::optional<KUtils::UVWTransform> objectSpace;
    std::optional<KUtils::Vector4f> referencePoint;
    std::optional<KUtils::Vector4f> scenePoint;
};

} // namespace kivohost
