#include "ostrel/OstrelSteps.h"

#include "frame/FiniteResult.h"
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
Vector4f positionSource(const ShadingContext& sc, int map) {
    const ObjectSpaceInterface* os = objectSpace(sc, map);
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

} // namespace

int coordinateStep(const ShadingContext& sc, const UVWTransform& t, const OstrelMapping& m,
                   const OstrelScreen& screen, Vector4f& uvw) {
    Vector4f q;
    int valid = 1;
    switch (m.map) {
    case OSTREL_CHANNEL_CENTRED:
        q = placeChannel(t, m.map, channelUVW(sc, m.channel));
        valid = tileCoordinates(q, m.tile) ? 1 : 0;
        break;
    case OSTREL_CHANNEL:
        q = placeChannel(t, m.map, channelUVW(sc, m.channel));
        break;
    case OSTREL_OBJECT:
    case OSTREL_WORLD:
        q = applyPoint(t, positionSource(sc, m.map));
        break;
    case OSTREL_SCREEN:
        q = applyPoint(t, screenSource(sc, screen).point);
        break;
    default:
        return 1;
    }
    // Tested here, while the coordinates are in registers, and not by the caller after they
    // were stored: the step is the last call of an evaluation and stays a tail call.
    if (nonFiniteMark(q) != 0) {
        uvw = Vector4f{};
        return 0;
    }
    uvw = q;
    return valid;
}

int derivativeStep(const ShadingContext& sc, const UVWTransform& t, const OstrelMapping& m,
                   const OstrelScreen& screen, Vector4f out[3]) {
    Vector4f& q = out[0];
    Vector4f& gx = out[1];
    Vector4f& gy = out[2];
    q = gx = gy = Vector4f{};
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
            return finiteResult(0, out);
        }
        break;
    }
    case OSTREL_OBJECT:
    case OSTREL_WORLD:
        // Position differentials are not placed: size and angles leave them unchanged.
        q = applyPoint(t, positionSource(sc, m.map));
        if (const ObjectSpaceInterface* os = objectSpace(sc, m.map)) {
            os->toObjectVector(gx, sc, sc.dPdx);
            os->toObjectVector(gy, sc, sc.dPdy);
        } else {
            gx = sc.dPdx;
            gy = sc.dPdy;
        }
        break;
    case OSTREL_SCREEN: {
        const ScreenSource source = screenSource(sc, screen);
        q = applyPoint(t, source.point);
        gx = {source.stepX, 0.0f, 0.0f, 0.0f};
        gy = {0.0f, source.stepY, 0.0f, 0.0f};
        break;
    }
    default:
        break;
    }
    gx = gx * m.filtering;
    gy = gy * m.filtering;
    return finiteResult(1, out);
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
