// The --frame JSON (and a scene file's "frame" object): sequence and frame data of a render.
// Every field is optional; an absent "up" leaves the up-direction query unanswered.
#pragma once

#include "sdk/HostRuntime.h"
#include "uvwhost/JsonValues.h"
#include "uvwhost/Parsed.h"

#include <optional>
#include <string_view>

namespace uvwhost {

struct FrameSettings {
    double frameTime = 0.0;
    bool motionBlur = false;
    double motionBlurStart = 0.0;
    double motionBlurEnd = 1.0;
    int geomSamples = 2;
    int imageWidth = 640;
    int imageHeight = 480;
    KUtils::Vector3d sceneOrigin;
    std::optional<KUtils::Vector4f> up;
    int threads = 1;
    float pixelAspect = 1.0f;
    float overscanLeft = 0.0f;
    float overscanTop = 0.0f;
    // Unset: the image size.
    std::optional<float> overscanWidth;
    std::optional<float> overscanHeight;
    int frameIndex = 0;
};

// Reads the fields present in `value` over `base`; unknown fields and wrong shapes are errors
// naming `what` and the field.
Parsed<FrameSettings> readFrameSettings(const Json& value, const std::string& what,
                                        FrameSettings base = {});
// The --frame argument text.
Parsed<FrameSettings> parseFrameSettings(std::string_view text);

// Writes the settings into a render session's sequence and frame data.
void applyFrameSettings(const FrameSettings& settings, kivohost::RenderSession& session);

} // namespace uvwhost
