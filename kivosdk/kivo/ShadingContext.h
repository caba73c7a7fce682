// The host's per-shading-point record and the objects reached from it: shade data, the
// shaded instance, textures, camera samplers and ray contexts. A plugin asks shade data and
// shaded instances for an interface by numeric id; the id fixes the type of the answer.
#pragma once

#include "kivo/HostSdk.h"
#include "kivo/Types.h"

namespace KUtils {

class ShadingContext;

// Base of everything shade data and shaded instances answer to an id query.
class ShadeQueryInterface {
protected:
    ~ShadeQueryInterface() = default;
};

// EXT_CHANNEL_PROVIDER on shade data: mapping channels of the shaded mesh.
class ChannelProviderInterface : public ShadeQueryInterface {
public:
    // The channel's UVW at the shading point.
    virtual void getChannelUVW(const ShadingContext& sc, int channel, Vector4f& uvw) const = 0;
    // The channel's local transform: columns = UVW change per unit world x, y, z; offset = UVW.
    // providerArgument is the provider's own; plugins pass 0 or what their caller handed them.
    virtual void getChannelTransform(const ShadingContext& sc, int channel, UVWTransform& tm,
                                     int providerArgument) const = 0;

protected:
    ~ChannelProviderInterface() = default;
};

// EXT_OBJECT_SPACE on the shaded instance.
class ObjectSpaceInterface : public ShadeQueryInterface {
public:
    virtual void toObjectVector(Vector4f& result, const ShadingContext& sc,
                                const Vector4f& v) const = 0;
    virtual void toObjectPoint(Vector4f& result, const ShadingContext& sc,
                               const Vector4f& p) const = 0;

protected:
    ~ObjectSpaceInterface() = default;
};

// EXT_REFERENCE_POINT on the shaded instance: an absolute world point (scene origin included).
class ReferencePointInterface : public ShadeQueryInterface {
public:
    virtual void getReferencePoint(Vector4f& result, const ShadingContext& sc) const = 0;

protected:
    ~ReferencePointInterface() = default;
};

// EXT_SCENE_POINT on the shaded instance: a point relative to the scene origin.
class ScenePointInterface : public ShadeQueryInterface {
public:
    // The kind of point asked for: the library asks only for the shaded point's own position.
    static constexpr int SHADED_POSITION = 1;
    virtual void getScenePoint(Vector4f& result, const ShadingContext& sc, int kind) const = 0;

protected:
    ~ScenePointInterface() = default;
};

// EXT_SHADE_ID on shade data: per-surface values for random variation.
class ShadeIdInterface : public ShadeQueryInterface {
public:
    virtual int isAvailable(const ShadingContext& sc) const = 0;
    virtual std::uint32_t getMaterialValue(const ShadingContext& sc) const = 0;
    virtual std::uint32_t getObjectValue(const ShadingContext& sc) const = 0;

protected:
    ~ShadeIdInterface() = default;
};

class KivoShadeData {
public:
    virtual ~KivoShadeData() = default;
    virtual const ShadeQueryInterface* getInterface(InterfaceID id) const = 0;
};

// The host's mesh shade data: mapping-channel bases and UVWs.
class ShadeData : public KivoShadeData {
public:
    // b[0], b[1], b[2]: how the surface point moves per unit of u, v and w.
    virtual void getMapChannelBasis(const ShadingContext& sc, int channel, Vector4f b[3]) const = 0;
    // The channel's UVW at the context's surface point.
    virtual void getMapChannelUVW(Vector4f& uvw, const ShadingContext& sc, int channel) const = 0;
};

class KivoShadeInstance {
public:
    virtual ~KivoShadeInstance() = default;
    virtual const ShadeQueryInterface* getInterface(InterfaceID id) const = 0;
};

// ---- Textures the library reads -------------------------------------------------------------

class TextureFloatInterface : public PluginInterface {
public:
    InterfaceID getInterfaceID() override { return EXT_TEXTURE_FLOAT; }
    const char* getInterfaceName() override { return "EXT_TEXTURE_FLOAT"; }
    virtual float evalFloat(const ShadingContext& sc) = 0;
};

class TextureTransformInterface : public PluginInterface {
public:
    InterfaceID getInterfaceID() override { return EXT_TEXTURE_TRANSFORM; }
    const char* getInterfaceName() override { return "EXT_TEXTURE_TRANSFORM"; }
    virtual void evalTransform(UVWTransform& result, const ShadingContext& sc) = 0;
};

// ---- Cameras --------------------------------------------------------------------------------

// A camera sampler: maps points to the image.
class KivoCamera {
public:
    virtual ~KivoCamera() = default;
    // Screen position of point (relative to the scene origin) in pixels; nonzero when the
    // point maps (zero behind the camera).
    virtual int mapToScreen(const ShadingContext& sc, const Vector4f& point,
                            Vector2f& screen) const = 0;
    virtual void prepareCameraFrame(KivoRenderer* renderer) = 0;
    virtual void initCamera(KivoRenderer* renderer, KivoSequenceData& sequenceData,
                            KivoFrameData& frameData) = 0;
};

KIVO_SDK_API KivoCamera* newDefaultCameraSampler(int cameraType, int samplerMode, KivoCamera* base);
KIVO_SDK_API void deleteDefaultCameraSampler(KivoCamera* camera);

// EXT_CAMERA_SETTINGS on camera plugins: they write their settings into sequence/frame data.
class CameraSettingsInterface : public PluginInterface {
public:
    InterfaceID getInterfaceID() override { return EXT_CAMERA_SETTINGS; }
    virtual void writeSequenceData(KivoSequenceData& sequenceData) = 0;
    virtual void writeFrameData(KivoFrameData& frameData) = 0;
};

// EXT_BITMAP_SIZE and EXT_BITMAP_FRAME_SIZE on bitmap plugins.
class BitmapSizeInterface : public PluginInterface {
public:
    InterfaceID getInterfaceID() override { return EXT_BITMAP_SIZE; }
    virtual void getSize(int& width, int& height) = 0;
};

class BitmapFrameSizeInterface : public PluginInterface {
public:
    InterfaceID getInterfaceID() override { return EXT_BITMAP_FRAME_SIZE; }
    virtual void getFrameSize(int& width, int& height, int frameIndex) = 0;
};

// ---- Rays -----------------------------------------------------------------------------------

// 64-byte hit record; the last word is -1 for "no hit yet".
struct KivoHitRecord {
    // The last word reads kNoHit until the host stores a hit.
    static constexpr int kLastWord = 15;
    static constexpr std::int32_t kNoHit = -1;
    std::int32_t words[16];
};

class KivoRayContext;

class KivoRayOwner {
public:
    // Nonzero when the ray hits something between tStart and tEnd along segment.
    virtual int traceRay(KivoRayContext& ray, KivoHitRecord& hit, int flags) = 0;

protected:
    ~KivoRayOwner() = default;
};

class KivoRayContext {
public:
    Vector4f origin;
    Vector4f segment;
    Vector4f direction;
    float tStart = 0.0f;
    float tEnd = 1.0f;
    KivoRayOwner* owner = nullptr;
    virtual void releaseRay() = 0;

protected:
    ~KivoRayContext() = default;
};

// ---- The shading context --------------------------------------------------------------------

struct KivoThreadData {
    int threadIndex = 0;
};

// Flags of ShadingContext::flags.
inline constexpr int SC_FLAG_NO_GROUND_PROJECTION = 0x08;
inline constexpr int SC_FLAG_BYPASS_UVW_CACHE = 0x80;
inline constexpr int SC_FLAG_BYPASS_TEXTURE_CACHE = 0x400000;

// Points are relative to the frame's sceneOrigin.
class ShadingContext {
public:
    virtual ~ShadingContext() = default;
    // A ray context for a visibility test; null when the host cannot trace.
    virtual KivoRayContext* newRayContext(int kind, const AColor& weight, int depth,
                                          const Vector4f* direction) const {
        (void)kind, (void)weight, (void)depth, (void)direction;
        return nullptr;
    }

    KivoThreadData threadData;
    KivoRenderer* renderer = nullptr;
    Vector4f rayDir{0.0f, 0.0f, 1.0f, 0.0f};
    Vector4f rayOrigin;
    Vector4f screenFrameAxis{0.0f, 0.0f, 1.0f, 0.0f};
    // 0..1 over the motion-blur interval.
    float time = 0.0f;
    int flags = 0;
    float imageX = 0.0f;
    float imageY = 0.0f;
    Vector4f dDdx;
    Vector4f dDdy;
    const KivoShadeInstance* shadeInstance = nullptr;
    const KivoShadeData* shadeData = nullptr;
    Vector4f shadingPoint;
    Vector4f normal{0.0f, 0.0f, 1.0f, 0.0f};
    Vector4f auxNormal{0.0f, 0.0f, 1.0f, 0.0f};
    int backSide = 0;
    Vector4f surfacePoint;
    Vector4f dPdx;
    Vector4f dPdy;
    // Never 0 for a real evaluation: caches use 0 for "empty".
    std::uint32_t evalStamp = 1;
    int evalSlot = 0;
};

} // namespace KUtils
