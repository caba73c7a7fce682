// The host's camera plugins and camera motion. Camera plugins answer EXT_CAMERA_SETTINGS and
// write their camera into the sequence and frame data they are handed (a perspective
// projection hands them its own copies):
//   SettingsCamera  the camera type (parameter "type"), and optionally a camera sampler the
//                   host already built, handed on as the sequence's camera;
//   RenderView      a pinhole placement: "transform" (camera-to-world, absolute, looking down
//                   -z of its matrix, +y up), "fov" (horizontal, radians) and "zoom".
#pragma once

#include "kivo/PluginDescriptor.h"
#include "kivo/ShadingContext.h"

namespace kivohost {

// Type ids of the host's camera plugins.
inline constexpr KUtils::InterfaceID SETTINGS_CAMERA_ID = 0x7F4C0001;
inline constexpr KUtils::InterfaceID RENDER_VIEW_ID = 0x7F4C0002;

class SettingsCamera final : public KUtils::KivoPlugin, public KUtils::CameraSettingsInterface {
public:
    explicit SettingsCamera(KUtils::KivoPluginDesc* desc);

    KUtils::PluginInterface* getInterface(KUtils::InterfaceID id) override;
    KUtils::PluginBase* getPlugin() override { return this; }

    // cameraType = "type" (read now, at time 0); camera = the host's sampler when one is set.
    void writeSequenceData(KUtils::KivoSequenceData& sequenceData) override;
    // The frame data is left as it is.
    void writeFrameData(KUtils::KivoFrameData& frameData) override;

    // A sampler the host owns, handed on as the sequence's camera (null: none).
    KUtils::KivoCamera* camera = nullptr;
};

class RenderView final : public KUtils::KivoPlugin, public KUtils::CameraSettingsInterface {
public:
    explicit RenderView(KUtils::KivoPluginDesc* desc);

    KUtils::PluginInterface* getInterface(KUtils::InterfaceID id) override;
    KUtils::PluginBase* getPlugin() override { return this; }

    // The sequence data is left as it is: the placement travels in the frame data.
    void writeSequenceData(KUtils::KivoSequenceData& sequenceData) override;
    // At the frame's time: cameraTransform and cameraOrigin relative to the frame's scene
    // origin, and fov = 2 atan(tan(fov / 2) / zoom) (zoom 0 or less leaves fov unzoomed).
    void writeFrameData(KUtils::KivoFrameData& frameData) override;
};

class SettingsCameraDesc final : public KUtils::PluginDescOf<SettingsCamera> {
public:
    SettingsCameraDesc();
};

class RenderViewDesc final : public KUtils::PluginDescOf<RenderView> {
public:
    RenderViewDesc();
};

// A camera that moves by velocity over the blur interval (time 0..1): a point seen at a time
// is placed where it appears to the camera at time 0, point - velocity * time.
class LinearCameraMotion final : public KUtils::KivoCameraMotion {
public:
    explicit LinearCameraMotion(const KUtils::Vector4f& velocity) : velocity(velocity) {}
    void applyCameraMotion(KUtils::Vector4f& result, const KUtils::Vector4f& point,
                           float time) const override;

    KUtils::Vector4f velocity;
};

} // namespace kivohost
