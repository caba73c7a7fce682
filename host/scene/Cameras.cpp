#include "scene/Cameras.h"

#include "kivo/VectorMath.h"

#include <cmath>

namespace kivohost {

using namespace KUtils;

namespace {

inline constexpr InterfaceID CAMERA_PLUGIN_INTERFACES[] = {EXT_KIVO_PLUGIN, EXT_CAMERA_SETTINGS, 0};

} // namespace

// ---- SettingsCamera -------------------------------------------------------------------------

SettingsCamera::SettingsCamera(KivoPluginDesc* desc) : KivoPlugin(desc) {}

PluginInterface* SettingsCamera::getInterface(InterfaceID id) {
    if (id == EXT_CAMERA_SETTINGS) {
        return static_cast<CameraSettingsInterface*>(this);
    }
    return KivoPlugin::getInterface(id);
}

void SettingsCamera::writeSequenceData(KivoSequenceData& sequenceData) {
    if (KivoParameter* type = getParameter("type")) {
        sequenceData.cameraType = type->getInt(0, 0.0);
    }
    if (camera) {
        sequenceData.camera = camera;
    }
}

void SettingsCamera::writeFrameData(KivoFrameData&) {}

SettingsCameraDesc::SettingsCameraDesc()
    : PluginDescOf("SettingsCamera", SETTINGS_CAMERA_ID, "Camera type of the render",
                   CAMERA_PLUGIN_INTERFACES) {
    paramDescs().addParamInt("type", 0, -1, "Camera type (0 - pinhole)", "");
    publishParams();
}

// ---- RenderView -----------------------------------------------------------------------------

RenderView::RenderView(KivoPluginDesc* desc) : KivoPlugin(desc) {}

PluginInterface* RenderView::getInterface(InterfaceID id) {
    if (id == EXT_CAMERA_SETTINGS) {
        return static_cast<CameraSettingsInterface*>(this);
    }
    return KivoPlugin::getInterface(id);
}

void RenderView::writeSequenceData(KivoSequenceData&) {}

void RenderView::writeFrameData(KivoFrameData& frameData) {
    const double t = frameData.frameTime;
    if (KivoParameter* transform = getParameter("transform")) {
        Transform placed = transform->getTransform(0, t);
        const Vector3d& origin = frameData.sceneOrigin;
        placed.offs = {placed.offs.x - origin.x, placed.offs.y - origin.y,
                       placed.offs.z - origin.z};
        frameData.cameraTransform = placed;
        frameData.cameraOrigin = {float(placed.offs.x), float(placed.offs.y), float(placed.offs.z),
                                  0.0f};
    }
    KivoParameter* fov = getParameter("fov");
    KivoParameter* zoom = getParameter("zoom");
    if (fov) {
        const double angle = fov->getFloat(0, t);
        const double z = zoom ? zoom->getFloat(0, t) : 1.0;
        frameData.fov = z > 0.0 ? float(2.0 * std::atan(std::tan(angle / 2.0) / z)) : float(angle);
    }
}

RenderViewDesc::RenderViewDesc()
    : PluginDescOf("RenderView", RENDER_VIEW_ID, "Pinhole camera placement of a view",
                   CAMERA_PLUGIN_INTERFACES) {
    KivoParameterListDesc& d = paramDescs();
    d.addParamTransform("transform", 0, Transform{}, -1,
                        "Camera-to-world transform; the camera looks down -z", "");
    d.addParamFloat("fov", 0.785398163f, -1, "Horizontal field of view in radians", "");
    d.addParamFloat("zoom", 1.0f, -1, "Zoom factor that narrows the field of view", "");
    publishParams();
}

// ---- Camera motion --------------------------------------------------------------------------

void LinearCameraMotion::applyCameraMotion(Vector4f& result, const Vector4f& point,
                                           float time) const {
    result = point - velocity * time;
}

} // namespace kivohost
