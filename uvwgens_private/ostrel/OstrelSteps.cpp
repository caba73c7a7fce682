#include "ostrel/OstrelSteps.h"

#include "frame/FiniteResult.h"
#include "frame/NoInline.h"
#include "frame/ScreenSpace.h"
#include "kivo/VectorMath.h"
#include "ostrel/OstrelMath.h"

namespace KUtils {

namespace {

const ChannelProviderInterface* channelProvider(const ShadingContext& sc) {
    if (!sc.shadeData) {
        return nullptr;
    }
    return static_cast<const ChannelProviderInterface*>(
        sc.shadeData->getInterface(EXT_CHANNEL_PROVIDER));
}

// The object-space service when the source asks for object space and the instance has it.
const ObjectSpaceInterface* objectSpace(const ShadingContext& sc, int map) {
    if (map != OSTREL_OBJECT || !sc.shadeInstance) {
        return nullptr;
    }
    return static_cast<const ObjectSpaceInterface*>(
        sc.shadeInstance->getInterface(EXT_OBJECT_SPACE));
}

const ShadeIdInterface* shadeIds(const ShadingContext& sc) {
    if (!sc.shadeData) {
        return nullptr;
    }
    return static_cast<const ShadeIdInterface*>(sc.shadeData->getInterface(EXT_SHADE_ID));
}

// The channel's UVW, zero without a channel provider.
Vector4f channelUVW(const ShadingContext& sc, int channel) {
    Vector4f c;
    if (const ChannelProviderInterface* provider = channelProvider(sc)) {
        provider->getChannelUVW(sc, channel, c);
    }
    return c;
}

// The object-space position, or the world position without an object-space service.
Vector4f positionSource(const ShadingContext& sc, const ObjectSpaceInterface* os) {
    if (!os) {
        return sc.shadingPoint;
    }
    Vector4f p;
    os->toObjectPoint(p, sc, sc.shadingPoint);
    return p;
}

// The pixel's screen position and the change of each coordinate per pixel. Without frame data
// or with an empty image there is no screen to place on: point and steps are zero.
struct ScreenSource {
    Vector4f point;
    float stepX = 0.0f;
    float stepY = 0.0f;
};

ScreenSource screenSource(const ShadingContext& sc, const OstrelScreen& screen) {
    if (screen.width <= 0 || screen.height <= 0) {
        return {};
    }
    return {screenUVW(sc.imageX, sc.imageY, screen.width, screen.height),
            1.0f / static_cast<float>(screen.width), 1.0f / static_cast<float>(screen.height)};
}

Vector4f placeChannel(const UVWTransform& t, int map, const Vector4f& c) {
    return map == OSTREL_CHANNEL_CENTRED ? centredPlacement(t, c) : applyPoint(t, c);
}

// The sources read through the shade data's services: out of line, so that the position and
// screen sources, which call nothing, need no stack frame.
UVWGENS_NOINLINE int serviceCoordinateStep(const ShadingContext& sc, const UVWTransform& t,
                                           const OstrelMapping& m, Vector4f& uvw) {
    switch (m.map) {
    case OSTREL_CHANNEL_CENTRED: {
        Vector4f q = placeChannel(t, m.map, channelUVW(sc, m.channel));
        const int valid = tileCoordinates(q, m.tile) ? 1 : 0;
        return storeIfFinite(valid, q, uvw);
    }
    case OSTREL_CHANNEL:
        return storeIfFinite(1, placeChannel(t, m.map, channelUVW(sc, m.channel)), uvw);
    case OSTREL_OBJECT:
        return storeIfFinite(1, applyPoint(t, positionSource(sc, objectSpace(sc, m.map))), uvw);
    default:
        return 1;
    }
}

// out[0] the coordinates, out[1] and out[2] the derivatives times the filtering.
inline int filteredDerivatives(const Vector4f& q, const Vector4f& gx, const Vector4f& gy,
                               const OstrelMapping& m, Vector4f out[3]) {
    return storeIfFinite(1, q, gx * m.filtering, gy * m.filtering, out);
}

// The derivatives of the sources read through services, out of line for the same reason.
UVWGENS_NOINLINE int serviceDerivativeStep(const ShadingContext& sc, const UVWTransform& t,
                                           const OstrelMapping& m, Vector4f out[3]) {
    Vector4f q, gx, gy;
    switch (m.map) {
    case OSTREL_CHANNEL_CENTRED:
    case OSTREL_CHANNEL: {
        Vector4f c;
        UVWTransform jacobian; // UVW change per unit world x, y, z in its columns
        if (const ChannelProviderInterface* provider = channelProvider(sc)) {
            provider->getChannelUVW(sc, m.channel, c);
            provider->getChannelTransform(sc, m.channel, jacobian, 0);
        }
        q = placeChannel(t, m.map, c);
        // The placed size of the bounding box of the pixel's footprint in UVW.
        const Vector4f extent =
            footprintExtent(applyLinear(jacobian, sc.dPdx), applyLinear(jacobian, sc.dPdy));
        const Vector4f placed = applyLinear(t, extent);
        gx = {placed.x, 0.0f, 0.0f, 0.0f};
        gy = {0.0f, placed.y, 0.0f, 0.0f};
        if (!tileCoordinates(q, m.tile)) {
            return storeIfFinite(0, q, gx, gy, out); // untiled, without the filtering
        }
        break;
    }
    case OSTREL_OBJECT: {
        // The instance is asked for its object space once, for the point and both differentials.
        const ObjectSpaceInterface* os = objectSpace(sc, m.map);
        q = applyPoint(t, positionSource(sc, os));
        if (os) {
            os->toObjectVector(gx, sc, sc.dPdx);
            os->toObjectVector(gy, sc, sc.dPdy);
        } else {
            gx = sc.dPdx;
            gy = sc.dPdy;
        }
        break;
    }
    default:
        break;
    }
    return filteredDerivatives(q, gx, gy, m, out);
}

} // namespace

int coordinateStep(const ShadingContext& sc, const UVWTransform& t, const OstrelMapping& m,
                   const OstrelScreen& screen, Vector4f& uvw) {
    switch (m.map) {
    case OSTREL_WORLD:
        return storeIfFinite(1, applyPoint(t, sc.shadingPoint), uvw);
    case OSTREL_SCREEN:
        return storeIfFinite(1, applyPoint(t, screenSource(sc, screen).point), uvw);
    default:
        return serviceCoordinateStep(sc, t, m, uvw);
    }
}

int derivativeStep(const ShadingContext& sc, const UVWTransform& t, const OstrelMapping& m,
                   const OstrelScreen& screen, Vector4f out[3]) {
    Vector4f q, gx, gy;
    switch (m.map) {
    case OSTREL_WORLD:
        // Position differentials are not placed: size and angles leave them unchanged.
        q = applyPoint(t, sc.shadingPoint);
        gx = sc.dPdx;
        gy = sc.dPdy;
        break;
    case OSTREL_SCREEN: {
        const ScreenSource source = screenSource(sc, screen);
        q = applyPoint(t, source.point);
        gx = {source.stepX, 0.0f, 0.0f, 0.0f};
        gy = {0.0f, source.stepY, 0.0f, 0.0f};
        break;
    }
    default:
        return serviceDerivativeStep(sc, t, m, out);
    }
    return filteredDerivatives(q, gx, gy, m, out);
}

std::uint32_t variationSeed(const ShadingContext& sc, int randMat, int randObj, int seed) {
    std::uint32_t n = 1;
    const ShadeIdInterface* ids = (randMat || randObj) ? shadeIds(sc) : nullptr;
    if (randMat && ids && ids->isAvailable(sc)) {
        n = ids->getMaterialValue(sc) + 1u;
    }
    if (randObj && ids && ids->isAvailable(sc)) {
        n = n + noiseHash(ids->getObjectValue(sc));
    }
    return n * static_cast<std::uint32_t>(seed);
}

} // namespace KUtils
